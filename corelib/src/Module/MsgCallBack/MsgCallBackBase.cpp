#include "Module/MsgCallBack/MsgCallBackBase.h"

#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "platform/window_message.h"
#include "yar/yar_error.h"

namespace Vorezi {

struct CMsgCallBackBase::Job {
    DWORD dwValue1;
    DWORD dwValue2;
    DWORD dwValue3;
    CMsgCallBackBase *pOwner;
    int iError;
};

CMsgCallBackBase::CMsgCallBackBase() {
    m_bPoolLock = YAR_MutexCreate(&m_PoolLock, 0) == 0 ? 1 : 0;
    m_bInit = m_SettingsLock.CheckInit() && m_bPoolLock ? 1 : 0;
}

CMsgCallBackBase::~CMsgCallBackBase() {
    if (YAR_THREADPOOL_T *pPool = m_pPool.exchange(nullptr))
        YAR_ThreadPool_Destroy(pPool);
    if (m_bPoolLock)
        YAR_MutexDestroy(&m_PoolLock);
    m_fnCallBack.store(nullptr);
    m_hWnd.store(nullptr);
    m_pUser.store(nullptr);
    m_uMsg.store(0);
}

int CMsgCallBackBase::SetExceptionMessOrCallBack(UINT uMsg, void *hWnd, MSG_CALLBACK fnCallBack, void *pUser) {
    // Waits while a delivery runs, so no delivery sees half-changed settings.
    CRWLockGuard guard(&m_SettingsLock, 0);
    if (!guard.IsLocked())
        return -1;
    m_uMsg.store(uMsg);
    m_hWnd.store(hWnd);
    m_fnCallBack.store(fnCallBack);
    m_pUser.store(pUser);
    return 0;
}

int CMsgCallBackBase::PostMessageOrCallBack(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, int iError) {
    if (m_hWnd.load()) {
        SetError(iError);
        return Queue(WorkMessage, dwValue1, dwValue2, dwValue3, iError);
    }
    if (m_fnCallBack.load())
        return Queue(WorkCallback, dwValue1, dwValue2, dwValue3, iError);
    return 0;
}

YAR_THREADPOOL_T *CMsgCallBackBase::EnsurePool() {
    if (YAR_THREADPOOL_T *pPool = m_pPool.load(std::memory_order_acquire))
        return pPool;
    yar::yar_guard lock(m_bPoolLock ? &m_PoolLock : nullptr);
    if (!lock.IsLocked())
        return nullptr;
    YAR_THREADPOOL_T *pPool = m_pPool.load(std::memory_order_acquire);
    if (!pPool) {
        MORVA_THREADPOOL_CFG cfg = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_MSGCB);
        pPool = YAR_ThreadPool_CreateEx(1, cfg.dwMaxCount, cfg.dwStackSize);
        if (!pPool)
            LogModule_Write(LOG_LEVEL_ERR,
                            "CMsgCallBackBase::PostMessageOrCallBack, YAR_ThreadPool_CreateEx Failed, syserror[%d]",
                            YAR_GetSystemLastError());
        m_pPool.store(pPool, std::memory_order_release);
    }
    return pPool;
}

int CMsgCallBackBase::Queue(YAR_THREADPOOL_ROUTINE fnRoutine, DWORD dwValue1, DWORD dwValue2, DWORD dwValue3,
                            int iError) {
    Job *pJob = new (std::nothrow) Job{dwValue1, dwValue2, dwValue3, this, iError};
    if (!pJob) {
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    YAR_THREADPOOL_T *pPool = EnsurePool();
    if (!pPool) {
        delete pJob;
        return -1;
    }
    if (YAR_ThreadPool_WorkEx(pPool, fnRoutine, pJob, 1) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CMsgCallBackBase::PostMessageOrCallBack, YAR_ThreadPool_WorkEx Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        delete pJob;
        return -1;
    }
    return 0;
}

int32_t CMsgCallBackBase::WorkCallback(void *pArg) {
    Job *pJob = static_cast<Job *>(pArg);
    CMsgCallBackBase *pOwner = pJob->pOwner;
    if (pOwner->m_fnCallBack.load()) {
        CRWLockGuard guard(&pOwner->m_SettingsLock, 1);
        MSG_CALLBACK fnCallBack = guard.IsLocked() ? pOwner->m_fnCallBack.load() : nullptr;
        if (fnCallBack) {
            SetError(pJob->iError);
            fnCallBack(pJob->dwValue1, pJob->dwValue2, pJob->dwValue3, pOwner->m_pUser.load());
        }
    }
    delete pJob;
    return 0;
}

// The window path posts value 1 as wParam and value 3 as lParam; value 2 is not sent.
int32_t CMsgCallBackBase::WorkMessage(void *pArg) {
    Job *pJob = static_cast<Job *>(pArg);
    CMsgCallBackBase *pOwner = pJob->pOwner;
    {
        CRWLockGuard guard(&pOwner->m_SettingsLock, 1);
        void *hWnd = guard.IsLocked() ? pOwner->m_hWnd.load() : nullptr;
        if (hWnd) {
            SetError(pJob->iError);
            platform::WindowMessage_Deliver(hWnd, pOwner->m_uMsg.load(), (uintptr_t)pJob->dwValue1,
                                            (intptr_t)(int32_t)pJob->dwValue3);
        }
    }
    delete pJob;
    return 0;
}

}  // namespace Vorezi
