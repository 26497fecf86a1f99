// Flat forwarders to the controller's services: message callbacks, performance monitor and
// flexible thread pools.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/MsgCallBack/MsgCallBackBase.h"
#include "Module/Perf/PerformanceBase.h"
#include "Module/TimeConsuming/TimeConsuming.h"
#include "Module/TimeConsuming/TimeConsumingMgr.h"
#include "Module/TimerProxy/TimerProxyMgr.h"
#include "Utils/Utils.h"
#include "morva/MorvaUtility.h"

namespace Vorezi {
namespace {
constexpr DWORD kMonitorDefaultMs = 5000;
constexpr DWORD kMonitorMinMs = 5000;
constexpr DWORD kMonitorMaxMs = 120000;
}  // namespace
}  // namespace Vorezi

using namespace Vorezi;

int Morva_MsgOrCallBack(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, int iError) {
    CMsgCallBackBase *pMsg = GetCoreGlobalCtrl()->GetMsgCallBackBase();
    if (pMsg == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_MsgOrCallBack, GetMsgCallBackBase Failed");
        return 0;
    }
    return pMsg->PostMessageOrCallBack(dwValue1, dwValue2, dwValue3, iError);
}

int Morva_SetExceptionCallBack_V30(UINT uMsg, void *hWnd, MORVA_MSG_CALLBACK fnCallBack, void *pUser) {
    CMsgCallBackBase *pMsg = GetCoreGlobalCtrl()->GetMsgCallBackBase();
    if (pMsg == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_SetExceptionCallBack_V30, GetMsgCallBack Failed");
        return 0;
    }
    if (pMsg->SetExceptionMessOrCallBack(uMsg, hWnd, fnCallBack, pUser) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_SetExceptionCallBack_V30, SetExceptionMessOrCallBack Failed");
        return 0;
    }
    return 1;
}

int Morva_PerformanceMonitor(int bUsePerfmMonitor, DWORD dwMonitorInterval) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->CheckInit()) return 0;
    CPerformanceBase *pPerf = pCtrl->GetPerformance();
    if (pPerf == nullptr) {
        SetError(MORVA_ERR_NOT_READY);
        LogModule_Write(LOG_LEVEL_ERR, "Morva_PerformanceMonitor, pHandle is NULL");
        return 0;
    }
    if (dwMonitorInterval == 0) dwMonitorInterval = kMonitorDefaultMs;
    if (dwMonitorInterval < kMonitorMinMs || dwMonitorInterval > kMonitorMaxMs) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_PerformanceMonitor, Invalid Param dwMonitorInterval[%d]",
                        int(dwMonitorInterval));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pPerf->PerformanceMonitorConfig(bUsePerfmMonitor, dwMonitorInterval)) {
        SetError(MORVA_ERR_PARAM);
        LogModule_Write(LOG_LEVEL_ERR,
                        "Morva_PerformanceMonitor, PerformanceMonitorConfig Failed, bUsePerfmMonitor[%d], "
                        "dwMonitorInterval[%d]",
                        bUsePerfmMonitor, int(dwMonitorInterval));
        return 0;
    }
    return 1;
}

int Morva_CreateTimerProxy(const void *pProxyParam) {
    if (!GetCoreGlobalCtrl()->CheckInit()) return -1;
    CTimerProxyMgr *pMgr = GetTimerProxyMgr();
    if (pMgr == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateTimerProxy, GetTimerProxyMgr Failed");
        return -1;
    }
    return pMgr->CreateProxy(static_cast<const TIMER_PROXY_CREATE_PARAM *>(pProxyParam));
}

void Morva_DestroryTimerProxy(int iProxyID) {
    if (!GetCoreGlobalCtrl()->CheckInit()) return;
    CTimerProxyMgr *pMgr = GetTimerProxyMgr();
    if (pMgr == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_DestroryTimerProxy, GetTimerProxyMgr Failed");
        return;
    }
    pMgr->DestroyProxy(iProxyID);
}

int Morva_RigisterTimerProxy(int iProxyID, const void *pRegisterParam) {
    if (!GetCoreGlobalCtrl()->CheckInit()) return 0;
    return Interim_RigisterTimerProxy(iProxyID, static_cast<const TIMER_PROXY_REGISTER_PARAM *>(pRegisterParam));
}

int Morva_UnRigisterTimerProxy(int iProxyID, int iRigisterID) {
    return GetCoreGlobalCtrl()->CheckInit() ? Interim_UnRigisterTimerProxy(iProxyID, iRigisterID) : 0;
}

// Both need an initialised library: a manager made before the first Init would never be released.
int Morva_CreateTimeConsumingTest(const char *pName, DWORD dwTagNum, DWORD dwValue) {
    if (!GetCoreGlobalCtrl()->CheckInit()) return -1;
    if (pName == nullptr || dwTagNum == 0 || dwValue == 0 || dwTagNum > TIME_CONSUMING_MAX_TAG) return -1;
    CTimeConsumingMgr *pMgr = GetTimeConsumingMgr();
    if (pMgr == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_CreateTimeConsumingTest, GetTimeConsumingMgr Failed");
        return -1;
    }
    TIME_CONSUMING_PARAM param = {dwTagNum, dwValue, pName};
    return pMgr->CreateTimeConsuming(&param);
}

int Morva_DestroyTimeConsumingTest(int iTestID) {
    if (!GetCoreGlobalCtrl()->CheckInit()) return 0;
    CTimeConsumingMgr *pMgr = GetTimeConsumingMgr();
    if (pMgr == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_DestroyTimeConsumingTest, GetTimeConsumingMgr Failed");
        return 0;
    }
    return pMgr->DestroyTimeConsuming(iTestID);
}

YAR_THREADPOOLFLEX_T *Morva_CreateThreadPool(YAR_THREADPOOL_ROUTINE fnWork) {
    return Morva_CreateThreadPoolEx(fnWork, 0);  // 0: the default thread-pool configuration
}

YAR_THREADPOOLFLEX_T *Morva_CreateThreadPoolEx(YAR_THREADPOOL_ROUTINE fnWork, DWORD dwThreadCount) {
    return GetCoreGlobalCtrl()->CheckInit() ? Utils_CreateThreadPool(fnWork, dwThreadCount) : nullptr;
}

int Morva_DestroyThreadPool(YAR_THREADPOOLFLEX_T *hPool) {
    return GetCoreGlobalCtrl()->CheckInit() ? Utils_DestroyThreadPool(hPool) : 0;
}

int Morva_PostWorkToThreadPool(YAR_THREADPOOLFLEX_T *hPool, void *pValue, void *pWork) {
    return GetCoreGlobalCtrl()->CheckInit() ? Utils_PostWorkToThreadPool(hPool, pValue, pWork) : 0;
}
