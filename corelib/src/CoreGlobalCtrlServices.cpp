// The controller's services: the external character converter, the custom-timing flag, the
// message-callback dispatcher, the performance monitors and the timer-proxy managers.
#include <new>

#include "CoreGlobalCtrl.h"
#include "Module/MsgCallBack/MsgCallBackBase.h"
#include "Module/Perf/PerformanceBase.h"

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

}  // namespace Vorezi
