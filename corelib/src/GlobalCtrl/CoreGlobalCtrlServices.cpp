// The controller's services: the external character converter, the custom-timing flag, the
// message-callback dispatcher, the performance monitors and the timer-proxy managers.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/MsgCallBack/MsgCallBackBase.h"
#include "Module/Perf/PerformanceBase.h"
#include "Module/TimeConsuming/TimeConsumingMgr.h"
#include "Module/TimerProxy/TimerProxyMgr.h"

namespace Vorezi {

CHAR_CONVERT_CALLBACK CCoreGlobalCtrlBase::GetCharConvertCallBack() {
    return m_fnCharConvert.load();
}

void CCoreGlobalCtrlBase::SetCharConvertCallBack(CHAR_CONVERT_CALLBACK fnConvert) {
    m_fnCharConvert.store(fnConvert);
}

DWORD CCoreGlobalCtrlBase::IsCustomTiming() {
    return m_bCustomTiming.load();
}

void CCoreGlobalCtrlBase::SetCustomTiming(DWORD bCustom) {
    m_bCustomTiming.store(bCustom);
}

CMsgCallBackBase *CCoreGlobalCtrlBase::GetMsgCallBackBase() {
    if (CMsgCallBackBase *p = m_pMsgCallBack.load(std::memory_order_acquire))
        return p;
    // The control lock keeps two first users from creating two dispatchers.
    if (!Lock())
        return m_pMsgCallBack.load();
    CMsgCallBackBase *p = m_pMsgCallBack.load();
    if (!p) {
        p = new (std::nothrow) CMsgCallBackBase;
        if (!p) {
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetMsgCallBackBase, New CMsgCallBackBase Failed");
            SetLastError(MORVA_ERR_ALLOC);
        } else if (!p->IsInited()) {
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetMsgCallBackBase, CMsgCallBackBase Failed");
            delete p;
            p = nullptr;
            SetLastError(MORVA_ERR_NOT_READY);
        }
        m_pMsgCallBack.store(p, std::memory_order_release);
    }
    Unlock();
    return p;
}

int CCoreGlobalCtrlBase::RegisterPerformance(CPerformanceBase *pPerf) {
    if (!pPerf || !LockLib(MUTEX_PERF_REGISTRY))
        return -1;
    int iSlot = -1;
    for (int i = 0; i < MORVA_MAX_PERFORMANCE && iSlot < 0; i++) {
        if (!m_pPerfRegistry[i]) {
            m_pPerfRegistry[i] = pPerf;
            iSlot = i;
        }
    }
    UnlockLib(MUTEX_PERF_REGISTRY);
    return iSlot;
}

void CCoreGlobalCtrlBase::UnRegisterPerformance(CPerformanceBase *pPerf) {
    if (!LockLib(MUTEX_PERF_REGISTRY))
        return;
    for (auto &slot : m_pPerfRegistry) {
        if (slot == pPerf)
            slot = nullptr;
    }
    UnlockLib(MUTEX_PERF_REGISTRY);
}

CPerformanceBase *CCoreGlobalCtrlBase::GetPerformance() {
    return m_pPerformance.load(std::memory_order_acquire);
}

int CCoreGlobalCtrlBase::CreatePerformance() {
    CPerformanceBase *pPerf = Performance_Create();
    if (!pPerf)
        return 0;
    m_pPerformance.store(pPerf, std::memory_order_release);
    return 1;
}

void CCoreGlobalCtrlBase::ReleasePerformance() {
    if (CPerformanceBase *pPerf = m_pPerformance.exchange(nullptr))
        Performance_Destroy(pPerf);
}

void CCoreGlobalCtrlBase::ReleaseMsgCallBackBase() {
    ReleaseManager(m_pMsgCallBack);
}

CTimerProxyMgr *CCoreGlobalCtrlBase::GetTimerProxyMgr() {
    return GetManager(m_pTimerProxyMgr, []() -> CTimerProxyMgr * {
        auto *p = new (std::nothrow) CTimerProxyMgr(TIMER_PROXY_MGR_MEMBERS);
        if (p && !p->CheckResource()) {
            delete p;
            p = nullptr;
        }
        return p;
    });
}

void CCoreGlobalCtrlBase::ReleaseTimerProxyMgr() {
    ReleaseManager(m_pTimerProxyMgr);
}

CTimeConsumingMgr *CCoreGlobalCtrlBase::GetTimeConsumingMgr() {
    return GetManager(m_pTimeConsumingMgr, []() -> CTimeConsumingMgr * {
        auto *p = new (std::nothrow) CTimeConsumingMgr(TIME_CONSUMING_MGR_MEMBERS);
        if (!p) {
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetTimeConsumingMgr, New CTimeConsumingMgr Failed");
        } else if (!p->IsInited()) {
            delete p;
            p = nullptr;
        }
        return p;
    });
}

// Its tests stop through GetTimeConsumingMgr while it is deleted, so the pointer stays set until
// the deletion is over (a cleared one would make a new manager).
void CCoreGlobalCtrlBase::ReleaseTimeConsumingMgr() {
    if (!Lock())
        return;
    delete m_pTimeConsumingMgr.load(std::memory_order_acquire);
    m_pTimeConsumingMgr.store(nullptr, std::memory_order_release);
    Unlock();
}

}  // namespace Vorezi
