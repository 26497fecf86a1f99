#include "transport/secure/SecureLinkMgr.h"

#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "Utils/Utils.h"
#include "transport/secure/SecureLinkListenSession.h"
#include "transport/secure/SecureServerLinkSession.h"

namespace Vorezi {
namespace secure {
namespace {

constexpr uint32_t kLogCategory = 7;

} // namespace

// ---- listen sessions ----

CSecureLinkListenMgr::CSecureLinkListenMgr() : CMemberMgrBase(SECURE_MAX_SESSIONS) {}

CSecureLinkListenMgr::~CSecureLinkListenMgr() {
    for (int i = 0; i < int(GetTotalNum()); i++) {
        if (GetMember(i))
            Destroy(i);
    }
}

CMemberBase *CSecureLinkListenMgr::NewMemoryObject(void *) {
    try {
        return new (-1) CSecureLinkListenSession;
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureLinkListenMgr::NewMemoryObject, new CSecureLinkListenSession exception!!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CSecureLinkListenMgr::Create(const SECURE_LISTEN_PARAM *pParam) {
    if (pParam == nullptr) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    // The reliable-UDP manager is made under the control lock, which a fini holds while it
    // takes the member locks: made here, it is never made under this manager's member lock.
    if (GetCoreGlobalCtrl()->GetVRUDPLinkMgr() == nullptr)
        return -1;
    void *p = const_cast<SECURE_LISTEN_PARAM *>(pParam);
    return AllocIndex2(p, p);
}

// The endpoint is closed under the read lock first: a callback on its threads may itself take
// that read lock, and the write lock of the free would hold it off while the close joins them.
int CSecureLinkListenMgr::Destroy(int iSecureListenHandle) {
    {
        CMemberLockGuard lock(this, iSecureListenHandle);
        if (auto *p = lock.Get<CSecureLinkListenSession>())
            p->CloseEndpoint();
    }
    const int bRet = FreeIndex(iSecureListenHandle, 1);
    LogModule_Write(LOG_LEVEL_INF, "CSecureLinkListenMgr::Destroy Finish, iSecureListenHandle[%d], bRet[%d]",
                    iSecureListenHandle, bRet);
    return bRet;
}

// ---- server sessions ----

CSecureServerLinkMgr::CSecureServerLinkMgr() : CMemberMgrBase(SECURE_MAX_SESSIONS) {
    if (!CreateMemoryPool(DWORD(sizeof(CSecureServerLinkSession)), 16, 0, 0, 0)) {
        SetError(MORVA_ERR_ALLOC);
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::CSecureServerLinkMgr, CreateMemoryPool Failed, dwTotalNum[%d]",
                        SECURE_MAX_SESSIONS);
        return;
    }
    LogModule_Write(LOG_LEVEL_DBG, "CSecureServerLinkMgr::CSecureServerLinkMgr, CreateMemoryPool SUCC, MemPoolIndex[%d]",
                    GetMemPoolIndex());
    m_bInitSucc = 1;
}

CSecureServerLinkMgr::~CSecureServerLinkMgr() {
    for (int i = 0; i < int(GetTotalNum()); i++) {
        if (GetMember(i))
            FreeIndex(i, 1);
    }
}

int CSecureServerLinkMgr::CheckResource() {
    if (!m_bInitSucc) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::CheckResource, Failed, m_bInitSucc[%d]", m_bInitSucc);
        return 0;
    }
    return CMemberMgrBase::CheckResource();
}

CMemberBase *CSecureServerLinkMgr::NewMemoryObject(void *) {
    try {
        return new (GetMemPoolIndex()) CSecureServerLinkSession;
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::NewMemoryObject, new CSecureServerLinkSession Failed!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CSecureServerLinkMgr::Create(const SECURE_SERVER_CREATE *pLinkParam) {
    if (pLinkParam == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::Create, NULL == pLinkParam");
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    void *p = const_cast<SECURE_SERVER_CREATE *>(pLinkParam);
    return AllocIndex2(p, p);
}

int CSecureServerLinkMgr::Destroy(int iSecureHandle, bool bLinkGone) {
    if (bLinkGone) {
        CMemberLockGuard lock(this, iSecureHandle);
        if (auto *p = lock.Get<CSecureServerLinkSession>())
            p->MarkLinkGone();
    }
    const int bRet = FreeIndex(iSecureHandle, 1);
    LogModule_WriteDebug(kLogCategory, "[%d]CSecureServerLinkMgr::Destroy, iSecureHandle[%d], bRet[%d]", iSecureHandle,
                         iSecureHandle, bRet);
    return bRet;
}

int CSecureServerLinkMgr::InputData(int iSecureHandle, const SECURE_RECV_DATA *pRecvData, int) {
    if (pRecvData == nullptr || pRecvData->pData == nullptr) {
        LogModule_WriteDebug(kLogCategory, "CSecureServerLinkMgr::InputData, Invalid Param, pRecvData[0x%X], iSecureHandle[%d]",
                             unsigned(uintptr_t(pRecvData)), iSecureHandle);
        return ENUM_PROCDATA_PARAM_ERROR;
    }
    CMemberLockGuard lock(this, iSecureHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CSecureServerLinkMgr::InputData, ReadLockMember Failed, iSecureHandle[%d], dwSequence[0x%X], "
                        "Addr[%s:%d]",
                        iSecureHandle, pRecvData->dwSequence, pRecvData->szAddr, pRecvData->wPort);
        return ENUM_PROCDATA_SUCC;
    }
    int iRet = ENUM_PROCDATA_PARAM_ERROR;
    if (auto *p = lock.Get<CSecureServerLinkSession>())
        iRet = p->InputData(pRecvData);
    else
        LogModule_Write(LOG_LEVEL_ERR,
                        "CSecureServerLinkMgr::InputData, GetMember Failed, iSecureHandle[%d], dwSequence[0x%X], "
                        "Addr[%s:%d]",
                        iSecureHandle, pRecvData->dwSequence, pRecvData->szAddr, pRecvData->wPort);
    return iRet;
}

int CSecureServerLinkMgr::SetDataCB(int iSecureHandle, SECURE_DATA_CALLBACK fnDataCB, void *pUserData) {
    CMemberLockGuard lock(this, iSecureHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::SetDataCB, ReadLockMember Failed, iSecureHandle[%d]",
                        iSecureHandle);
        return 0;
    }
    int iRet = 0;
    if (auto *p = lock.Get<CSecureServerLinkSession>()) {
        p->SetDataCB(fnDataCB, pUserData);
        iRet = 1;
    } else {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::SetDataCB, GetMember Failed, iSecureHandle[%d]", iSecureHandle);
    }
    return iRet;
}

int CSecureServerLinkMgr::RequestClose(int iSecureHandle) {
    CMemberLockGuard lock(this, iSecureHandle);
    if (!lock.IsLocked())
        return 0;
    int iRet = 0;
    if (auto *p = lock.Get<CSecureServerLinkSession>()) {
        p->RequestClose();
        iRet = 1;
    }
    return iRet;
}

int CSecureServerLinkMgr::ForceStopByLinkHandle(int iSecureListenHandle) {
    if (!CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureServerLinkMgr::ForceStopByLinkHandle, CheckResource Failed, iSecureListenHandle[%d]",
                        iSecureListenHandle);
        return 0;
    }
    for (int i = 0; i < int(GetTotalNum()); i++) {
        if (!GetMember(i))
            continue;
        CMemberLockGuard lock(this, i, true);
        if (!lock.IsLocked())
            continue;
        CMemberBase *pMember = GetMember(i);
        auto *p = dynamic_cast<CSecureServerLinkSession *>(pMember);
        if (p == nullptr && pMember != nullptr) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CSecureServerLinkMgr::ForceStopByLinkHandle, Assert, pMember[0x%X], iSecureHandle[%d], "
                            "iSecureListenHandle[%d]",
                            unsigned(uintptr_t(pMember)), i, iSecureListenHandle);
            Utils_Assert();
        } else if (p != nullptr && p->ListenHandle() == iSecureListenHandle) {
            LogModule_Write(LOG_LEVEL_DBG, "CSecureServerLinkMgr::ForceStopByLinkHandle, Stop, iSecureHandle[%d], iSecureListenHandle[%d]",
                            i, iSecureListenHandle);
            p->Stop();
        }
    }
    return 1;
}

} // namespace secure
} // namespace Vorezi
