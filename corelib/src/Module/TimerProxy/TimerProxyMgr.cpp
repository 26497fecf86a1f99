#include "Module/TimerProxy/TimerProxyMgr.h"

#include <algorithm>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "yar/yar_string.h"

namespace Vorezi {

constexpr DWORD kDebugCategoryTimerProxy = 1;

CTimerProxyMgr::CTimerProxyMgr(DWORD dwTotalNum) : CMemberMgrBase(dwTotalNum) {}

CTimerProxyMgr::~CTimerProxyMgr() = default;

CMemberBase *CTimerProxyMgr::NewMemoryObject(void *pParam) {
    const auto *pCreate = static_cast<const TIMER_PROXY_CREATE_PARAM *>(pParam);
    try {
        return new (MEM_INDEX_HEAP) CTimerProxy(pCreate->m_dwTotalNum);
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimerProxyMgr::NewMemoryObject, new CTimerProxy exception!!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CTimerProxyMgr::CreateProxy(const TIMER_PROXY_CREATE_PARAM *pParam) {
    if (!pParam) {
        SetError(MORVA_ERR_PARAM);
        return SDK_INVALID_ID;
    }
    TIMER_PROXY_CREATE_PARAM param = *pParam;
    DWORD dwMax = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_TIMERPROXY).dwMaxCount;
    param.byThreadCount = (BYTE)std::min<DWORD>(param.byThreadCount, std::min<DWORD>(dwMax, 255));
    int iProxyID = AllocIndex2(&param, &param);
    LogModule_WriteDebug(kDebugCategoryTimerProxy, "CTimerProxyMgr::CreateProxy, iProxyID[%d]", iProxyID);
    return iProxyID;
}

int CTimerProxyMgr::DestroyProxy(int iProxyID) {
    LogModule_WriteDebug(kDebugCategoryTimerProxy, "CTimerProxyMgr::DestroyProxy, iProxyID[%d]", iProxyID);
    return FreeIndex(iProxyID, 1);
}

CTimerProxyMgr *GetTimerProxyMgr() {
    return GetCoreGlobalCtrl()->GetTimerProxyMgr();
}

namespace {

// Takes the proxy of a handle with its use count raised, or null. A proxy thread never blocks
// on the slot lock: the thread that destroys the proxy holds that lock while waiting for the
// proxy's threads, so a proxy thread gives up once its own proxy is ending.
CTimerProxy *TakeProxy(CTimerProxyMgr *pMgr, int iProxyID) {
    CTimerProxy *pOwn = CTimerProxy::CurrentProxyThread();
    bool bLocked = false;
    if (!pOwn) {
        bLocked = pMgr->WriteLockMember(iProxyID) != 0;
    } else {
        while (!(bLocked = pMgr->TryWriteLockMember(iProxyID) != 0) && !pOwn->IsExiting() &&
               pMgr->GetMember(iProxyID))
            YAR_Sleep(1);
    }
    if (!bLocked)
        return nullptr;
    CTimerProxy *pProxy = dynamic_cast<CTimerProxy *>(pMgr->GetMember(iProxyID));
    if (pProxy)
        pProxy->AddUse();
    pMgr->WriteUnlockMember(iProxyID);
    return pProxy;
}

}  // namespace

int Interim_RigisterTimerProxy(int iProxyID, const TIMER_PROXY_REGISTER_PARAM *pPreviewParam) {
    if (iProxyID == SDK_INVALID_ID) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_RigisterTimerProxy, iProxyID == SDK_INVALID_ID");
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CTimerProxyMgr *pMgr = GetTimerProxyMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_RigisterTimerProxy, GetTimerProxyMgr Failed", iProxyID);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    CTimerProxy *pProxy = TakeProxy(pMgr, iProxyID);
    if (!pProxy) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_RigisterTimerProxy, pProxy == NULL", iProxyID);
        return 0;
    }
    int iRet = pProxy->RigisterCommandIndex(pPreviewParam);
    pProxy->ReleaseUse();
    return iRet;
}

int Interim_UnRigisterTimerProxy(int iProxyID, int iRigisterID) {
    if (iProxyID == SDK_INVALID_ID) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_UnRigisterTimerProxy, iProxyID == SDK_INVALID_ID");
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CTimerProxyMgr *pMgr = GetTimerProxyMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_UnRigisterTimerProxy, GetTimerProxyMgr Failed", iProxyID);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    CTimerProxy *pProxy = TakeProxy(pMgr, iProxyID);
    if (!pProxy) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]Interim_UnRigisterTimerProxy, pProxy == NULL, iRigisterID[%d]", iProxyID,
                        iRigisterID);
        return 0;
    }
    int iRet = pProxy->UnRigisterCommandIndex(iRigisterID);
    pProxy->ReleaseUse();
    return iRet;
}

}  // namespace Vorezi
