#include "transport/vrudp/VRUDPLinkMgr.h"

#include <algorithm>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"
#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/link/VRUDPLink.h"

namespace Vorezi {

namespace {
constexpr unsigned kPoolStep = 16;
// The largest class the member pool serves.
constexpr unsigned kMemberObjectSize = unsigned(std::max(sizeof(CHRUdp), sizeof(CVRUDPLink)));
}  // namespace

CVRUDPLinkMgr::CVRUDPLinkMgr(unsigned uiTotalNum) : CMemberMgrBase(uiTotalNum) {
    if (!GetCoreGlobalCtrl()->IsUseMemPool()) {
        m_bCreatedPool = 1;
        return;
    }
    CMemoryMgr *pMemMgr = GetMemoryMgr();
    m_nClassHRUdpCommandMemPoolIndex =
        pMemMgr ? pMemMgr->CreateMemoryPool(unsigned(sizeof(CHRUdpCommand)), kPoolStep, 0, 0, 0) : -1;
    if (m_nClassHRUdpCommandMemPoolIndex < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::CVRUDPLinkMgr, CreateMemoryPool Failed");
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    LogModule_Write(LOG_LEVEL_INF, "CVRUDPLinkMgr::CVRUDPLinkMgr, CreateMemoryPool SUCC, m_nClassHRUdpCommandMemPoolIndex[%d]",
                    m_nClassHRUdpCommandMemPoolIndex);
    if (!CreateMemoryPool(kMemberObjectSize, kPoolStep, 0, 0, 0)) {
        LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::CVRUDPLinkMgr, CreateMemoryPool Failed");
        pMemMgr->ReleaseMemoryPool(m_nClassHRUdpCommandMemPoolIndex);
        m_nClassHRUdpCommandMemPoolIndex = -1;
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    LogModule_Write(LOG_LEVEL_INF, "CVRUDPLinkMgr::CVRUDPLinkMgr, CreateMemoryPool SUCC, MemPoolIndex[%d]",
                    GetMemPoolIndex());
    m_bCreatedPool = 1;
}

// Members go while the manager is whole: endpoints first (each takes its connections along),
// then whatever is left, and the endpoint pool only after its last object.
CVRUDPLinkMgr::~CVRUDPLinkMgr() {
    unsigned uiTotal = GetTotalNum();
    for (int bEndpoints = 1; bEndpoints >= 0; bEndpoints--) {
        for (unsigned i = 0; i < uiTotal && GetCurrNum() > 0; i++) {
            bool bIsEndpoint = false;
            {
                CRWGuard guard{int(i)};
                if (!guard.IsLocked())
                    continue;
                bIsEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member()) != nullptr;
            }
            if (bIsEndpoint == (bEndpoints == 1))
                Destroy(int(i));
        }
    }
    if (m_nClassHRUdpCommandMemPoolIndex >= 0) {
        if (CMemoryMgr *pMemMgr = GetMemoryMgr())
            pMemMgr->ReleaseMemoryPool(m_nClassHRUdpCommandMemPoolIndex);
    }
}

int CVRUDPLinkMgr::CheckResource() {
    return CMemberMgrBase::CheckResource() && m_bCreatedPool;
}

CMemberBase *CVRUDPLinkMgr::NewMemoryObject(void *pParam) {
    auto *pNew = static_cast<VRUDP_LINK_NEW *>(pParam);
    if (!pNew) {
        LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::NewMemoryObject, pstLinkNew is NULL");
        return nullptr;
    }
    try {
        if (pNew->stCond.enumType == ENUM_VRUDP_TYPE_LINK)
            return new (GetMemPoolIndex()) CVRUDPLink;
        if (pNew->stCond.enumType != ENUM_VRUDP_TYPE_ENDPOINT) {
            LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::NewMemoryObject, Invalid enumType[%d]", pNew->stCond.enumType);
            return nullptr;
        }
        if (pNew->iKind == 0)
            return new (GetMemPoolIndex()) CHRUdp;
        if (GetCoreGlobalCtrl()->IsUseMemPool() && m_nClassHRUdpCommandMemPoolIndex < 0) {
            LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::NewMemoryObject, m_nClassHRUdpCommandMemPoolIndex[%d] < 0",
                            m_nClassHRUdpCommandMemPoolIndex);
            Utils_Assert();
            return nullptr;
        }
        return new (m_nClassHRUdpCommandMemPoolIndex) CHRUdpCommand;
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CVRUDPLinkMgr::NewMemoryObject, Exception!!!!");
        return nullptr;
    }
}

int CVRUDPLinkMgr::Create(VRUDP_LINK_NEW *pstLinkNew) {
    int iHandle = AllocIndex2(pstLinkNew, pstLinkNew);
    LogModule_Write(LOG_LEVEL_INF, "CVRUDPLinkMgr::Create, iVRUDPHandle[%d]", iHandle);
    return iHandle;
}

int CVRUDPLinkMgr::Destroy(int iVRUDPHandle) {
    LogModule_Write(LOG_LEVEL_INF, "CVRUDPLinkMgr::Destroy, iVRUDPHandle[%d]", iVRUDPHandle);
    {
        CRWGuard guard(iVRUDPHandle);
        if (auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member()))
            pEndpoint->StopThreads();
        else if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
            pConn->RequestStop();
        else if (auto *pLink = dynamic_cast<CVRUDPLink *>(guard.Member()))
            pLink->StopRecvThread();
        if (guard.Member())
            guard.Member()->MarkClosing();
    }
    return FreeIndex(iVRUDPHandle, 1);
}

CHRUdpBase *CVRUDPLinkMgr::GetObject(int iVRUDPHandle) {
    return static_cast<CHRUdpBase *>(GetMember(iVRUDPHandle));
}

CVRUDPLinkMgr *GetVRUDPLinkMgr() {
    return GetCoreGlobalCtrl()->GetVRUDPLinkMgr();
}

}  // namespace Vorezi
