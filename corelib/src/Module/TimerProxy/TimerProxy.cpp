#include "Module/TimerProxy/TimerProxy.h"

#include <chrono>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

// The proxy whose cycle thread or pool worker this thread is. Such a thread must never wait for
// a cycle thread: the cycle thread's pool waits for its workers when it ends.
thread_local CTimerProxy *t_pProxyThread = nullptr;

class ProxyThreadScope {
public:
    explicit ProxyThreadScope(CTimerProxy *pProxy) : m_pPrevious(t_pProxyThread) { t_pProxyThread = pProxy; }
    ~ProxyThreadScope() { t_pProxyThread = m_pPrevious; }

private:
    CTimerProxy *m_pPrevious;
};

DWORD LoadIndex(const TIMER_PROXY_REGISTER_PARAM &info) {
    return __atomic_load_n(&info.dwSessionIndex, __ATOMIC_ACQUIRE);
}

void StoreIndex(TIMER_PROXY_REGISTER_PARAM &info, DWORD dwIndex) {
    __atomic_store_n(&info.dwSessionIndex, dwIndex, __ATOMIC_RELEASE);
}

}  // namespace

CTimerProxy *CTimerProxy::CurrentProxyThread() {
    return t_pProxyThread;
}

struct CTimerProxy::CycleStart {
    CTimerProxy *pProxy;
    uint32_t dwCycle;
};

CTimerProxy::CTimerProxy(DWORD dwTotalNum) : m_dwTotalNum(dwTotalNum) {
    if (!AllocResource())
        return;
    m_bInitResource = 1;
    for (DWORD i = 0; i < m_dwTotalNum; i++) {
        m_pMemberInfo[i] = TIMER_PROXY_REGISTER_PARAM{(DWORD)SDK_INVALID_ID, 0, nullptr, nullptr};
        WorkRecord &work = m_pMemberProccess[i];
        work.dwSlot = i;
        work.dwCleared = 0;
        work.pProxy = this;
        work.dwRunningCycle.store(0);
        work.byRemoveOnZero = 0;
    }
}

CTimerProxy::~CTimerProxy() {
    m_bExiting.store(1);
    if (!m_bInitResource)
        return;
    std::vector<YAR_HANDLE> threads;
    {
        yar::yar_guard lock(&m_ProxyLock);
        YAR_CondBroadcast(&m_condExit);
        if (m_hCycleThread)
            threads.push_back(m_hCycleThread);
        m_hCycleThread = YAR_INVALID_THREAD;
        threads.insert(threads.end(), m_EndedThreads.begin(), m_EndedThreads.end());
        m_EndedThreads.clear();
    }
    JoinEnded(threads);
    FreeResource();
}

int CTimerProxy::AllocResource() {
    const int iIndex = GetMemberIndex();
    const char *pFailure = nullptr;
    m_pMemberInfo.reset(new (std::nothrow) TIMER_PROXY_REGISTER_PARAM[m_dwTotalNum]);
    if (m_pMemberInfo)
        m_pMemberProccess.reset(new (std::nothrow) WorkRecord[m_dwTotalNum]);
    if (m_pMemberProccess)
        m_pMemberLock.reset(new (std::nothrow) YAR_MUTEX_T[m_dwTotalNum]);
    if (!m_pMemberInfo)
        pFailure = "New m_pMemberInfo Failed";
    else if (!m_pMemberProccess)
        pFailure = "New m_pMemberProccess Failed";
    else if (!m_pMemberLock)
        pFailure = "New m_pMemberLock Failed";
    if (pFailure) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::AllocResource, %s, m_dwTotalNum[%d]", iIndex, pFailure,
                        (int)m_dwTotalNum);
        FreeResource();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (YAR_MutexCreate(&m_ProxyLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::AllocResource, Create m_ProxyLock failed! syserror[%d]", iIndex,
                        YAR_GetSystemLastError());
        FreeResource();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    for (DWORD i = 0; i < m_dwTotalNum; i++) {
        if (YAR_MutexCreate(&m_pMemberLock[i], 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::AllocResource, YAR_MutexCreate Failed, syserror[%d]",
                            iIndex, YAR_GetSystemLastError());
            while (i > 0)
                YAR_MutexDestroy(&m_pMemberLock[--i]);
            YAR_MutexDestroy(&m_ProxyLock);
            FreeResource();
            SetError(MORVA_ERR_ALLOC);
            return 0;
        }
    }
    if (YAR_CondCreate(&m_condExit) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::AllocResource, Create m_semExit Failed, syserror[%d]", iIndex,
                        YAR_GetSystemLastError());
        for (DWORD i = 0; i < m_dwTotalNum; i++)
            YAR_MutexDestroy(&m_pMemberLock[i]);
        YAR_MutexDestroy(&m_ProxyLock);
        FreeResource();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    return 1;
}

// Frees the arrays, and when they were all made, the locks in them.
void CTimerProxy::FreeResource() {
    if (m_bInitResource) {
        for (DWORD i = 0; i < m_dwTotalNum; i++)
            YAR_MutexDestroy(&m_pMemberLock[i]);
        YAR_MutexDestroy(&m_ProxyLock);
        YAR_CondDestroy(&m_condExit);
        m_bInitResource = 0;
    }
    m_pMemberInfo.reset();
    m_pMemberProccess.reset();
    m_pMemberLock.reset();
}

int CTimerProxy::Start(void *pParam) {
    const auto *pCreate = static_cast<const TIMER_PROXY_CREATE_PARAM *>(pParam);
    if (!pCreate)
        return 0;
    DWORD dwInterval = pCreate->dwInterval;
    if (dwInterval < TIMER_PROXY_MIN_INTERVAL && !GetCoreGlobalCtrl()->IsCustomTiming())
        dwInterval = TIMER_PROXY_MIN_INTERVAL;
    // Even custom timing needs a wait: an interval of 0 would spin the cycle thread.
    m_dwInterval.store(dwInterval ? dwInterval : 1);
    m_fnIntervalCallBack.store(pCreate->fnIntervalCallBack);
    m_dwThreadCount.store(pCreate->byThreadCount);
    m_bKeepThread.store(pCreate->byKeepThread);
    return 1;
}

int CTimerProxy::Stop() {
    while (m_dwInUse.load() != 0)
        YAR_Sleep(5);
    return 1;
}

void CTimerProxy::JoinEnded(std::vector<YAR_HANDLE> &ended) {
    for (YAR_HANDLE hThread : ended)
        YAR_Thread_Wait(hThread);
    ended.clear();
}

int CTimerProxy::AddProxyCycle() {
    std::vector<YAR_HANDLE> ended;
    yar::yar_guard lock(&m_ProxyLock);
    if (m_dwRegisterCount == 0 && !m_hCycleThread) {
        CycleStart *pStart = new (std::nothrow) CycleStart{this, m_dwCycle + 1};
        YAR_HANDLE hThread = pStart ? YAR_Thread_Create(ExchangeThread, pStart, 0, 0, 0, 0) : YAR_INVALID_THREAD;
        if (!hThread) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::AddProxyCycle, YAR_Thread_Create Failed, syserror[%d]",
                            GetMemberIndex(), YAR_GetSystemLastError());
            delete pStart;
            lock.Release();
            SetError(MORVA_ERR_ALLOC);
            return 0;
        }
        m_dwCycle++;
        m_hCycleThread = hThread;
    }
    m_dwRegisterCount++;
    if (!t_pProxyThread)
        ended.swap(m_EndedThreads);
    lock.Release();
    JoinEnded(ended);
    return 1;
}

int CTimerProxy::RemoveProxyCycle() {
    std::vector<YAR_HANDLE> ended;
    yar::yar_guard lock(&m_ProxyLock);
    if (m_dwRegisterCount > 0 && --m_dwRegisterCount == 0 && !m_bKeepThread.load() && m_hCycleThread) {
        m_dwStoppedCycle = m_dwCycle;
        YAR_CondBroadcast(&m_condExit);
        // From a proxy thread the cycle thread is left to end on its own: waiting for it there
        // would wait for this very thread.
        m_EndedThreads.push_back(m_hCycleThread);
        m_hCycleThread = YAR_INVALID_THREAD;
    }
    if (!t_pProxyThread)
        ended.swap(m_EndedThreads);
    lock.Release();
    JoinEnded(ended);
    return 1;
}

uint32_t CTimerProxy::ExchangeThread(void *pParam) {
    CycleStart start = *static_cast<CycleStart *>(pParam);
    delete static_cast<CycleStart *>(pParam);
    ProxyThreadScope scope(start.pProxy);
    start.pProxy->RunCycle(start.dwCycle);
    return 0;
}

void CTimerProxy::RunCycle(uint32_t dwCycle) {
    YAR_THREADPOOLFLEX_T *hPool = Utils_CreateThreadPool(ThreadPoolCB, m_dwThreadCount.load());
    if (!hPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimerProxy::ExchangeThread, Utils_CreateThreadPool Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return;
    }
    while (WaitInterval(dwCycle)) {
        if (TIMER_PROXY_INTERVAL_CALLBACK fnInterval = m_fnIntervalCallBack.load()) {
            DWORD dwNext = fnInterval(this);
            m_dwInterval.store(dwNext ? dwNext : 1);
        }
        PostRound(hPool, dwCycle);
    }
    Utils_DestroyThreadPool(hPool);
    // Work this thread posted that the pool dropped unrun must not keep its slot busy.
    for (DWORD i = 0; i < m_dwTotalNum; i++) {
        uint32_t dwMine = dwCycle;
        m_pMemberProccess[i].dwRunningCycle.compare_exchange_strong(dwMine, 0);
    }
}

// Waits out one interval; false when this cycle thread is to end.
bool CTimerProxy::WaitInterval(uint32_t dwCycle) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_dwInterval.load());
    yar::yar_guard lock(&m_ProxyLock);
    for (;;) {
        if (m_bExiting.load() || m_dwStoppedCycle >= dwCycle)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        YAR_CondTimedWait(&m_condExit, &m_ProxyLock, (int32_t)left.count());
    }
    return true;
}

void CTimerProxy::PostRound(YAR_THREADPOOLFLEX_T *hPool, uint32_t dwCycle) {
    for (DWORD i = 0; i < m_dwTotalNum; i++) {
        if (LoadIndex(m_pMemberInfo[i]) == (DWORD)SDK_INVALID_ID)
            continue;
        WorkRecord &work = m_pMemberProccess[i];
        uint32_t dwIdle = 0;
        if (!work.dwRunningCycle.compare_exchange_strong(dwIdle, dwCycle)) {
            LogModule_Write(LOG_LEVEL_ERR, "CTimerProxy::ExchangeThread, TimerProxy work is processing, iProxy[%d]",
                            (int)i);
            continue;
        }
        if (!Utils_PostWorkToThreadPool(hPool, nullptr, &work)) {
            work.dwRunningCycle.store(0);
            LogModule_Write(LOG_LEVEL_ERR,
                            "CTimerProxy::ExchangeThread, YAR_ThreadPoolFlex_Work Failed! iProxy[%d], syserror[%d]",
                            (int)i, YAR_GetSystemLastError());
        }
    }
}

int32_t CTimerProxy::ThreadPoolCB(void *pArg) {
    WorkRecord *pWork = static_cast<WorkRecord *>(pArg);
    CTimerProxy *pProxy = pWork->pProxy;
    if (!pProxy) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimerProxy::ThreadPoolCB, pTimerProxy == NULL, dwProxyIndex[%d]",
                        (int)pWork->dwSlot);
        return 0;
    }
    ProxyThreadScope scope(pProxy);
    const DWORD dwSlot = pWork->dwSlot;
    yar::yar_guard lock(&pProxy->m_pMemberLock[dwSlot]);
    if (!lock.IsLocked())
        return 0;
    bool bRemoved = false;
    TIMER_PROXY_REGISTER_PARAM &info = pProxy->m_pMemberInfo[dwSlot];
    if (LoadIndex(info) == (DWORD)SDK_INVALID_ID) {
        LogModule_Write(LOG_LEVEL_ERR, "CTimerProxy::ThreadPoolCB, dwSessionIndex == SDK_INVALID_ID, dwProxyIndex[%d]",
                        (int)dwSlot);
    } else {
        int iRet = info.fnDataCallBack(info.pUserData);
        pWork->dwRunningCycle.store(0);
        // The callback may have removed its own registration already.
        if (iRet == 0 && pWork->byRemoveOnZero && LoadIndex(info) != (DWORD)SDK_INVALID_ID) {
            pProxy->CleanupMember(dwSlot);
            bRemoved = true;
        }
    }
    lock.Release();
    if (bRemoved)
        pProxy->RemoveProxyCycle();
    return 0;
}

void CTimerProxy::CleanupMember(DWORD dwMemberIndex) {
    WorkRecord &work = m_pMemberProccess[dwMemberIndex];
    if (work.dwRunningCycle.load() != 0)
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::CleanupMember, Member is Running, dwMemeberIndex[%d]",
                        GetMemberIndex(), (int)dwMemberIndex);
    TIMER_PROXY_REGISTER_PARAM &info = m_pMemberInfo[dwMemberIndex];
    StoreIndex(info, (DWORD)SDK_INVALID_ID);
    info.fnDataCallBack = nullptr;
    info.pUserData = nullptr;
    work.dwRunningCycle.store(0);
    work.byRemoveOnZero = 0;
}

int CTimerProxy::RigisterCommandIndex(const TIMER_PROXY_REGISTER_PARAM *pPreviewParam) {
    const int iIndex = GetMemberIndex();
    if (!pPreviewParam || pPreviewParam->dwSessionIndex >= m_dwTotalNum || !m_bInitResource) {
        if (!pPreviewParam)
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CTimerProxy::RigisterCommandIndex, Invalid Param, m_bInitResource[%d], "
                            "pPreviewParam[0x%X], m_dwTotalNum[%d]",
                            iIndex, m_bInitResource, MORVA_PTR_ARG(pPreviewParam), (int)m_dwTotalNum);
        else
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CTimerProxy::RigisterCommandIndex, Invalid Param, m_bInitResource[%d], "
                            "pPreviewParam[0x%X], dwSessionIndex[%d], m_dwTotalNum[%d]",
                            iIndex, m_bInitResource, MORVA_PTR_ARG(pPreviewParam), (int)pPreviewParam->dwSessionIndex,
                            (int)m_dwTotalNum);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pPreviewParam->fnDataCallBack) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::RigisterCommandIndex, fnDataCallBack == NULL", iIndex);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!AddProxyCycle()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::RigisterCommandIndex, AddProxyCycle Failed", iIndex);
        return 0;
    }
    const DWORD dwSlot = pPreviewParam->dwSessionIndex;
    yar::yar_guard lock(&m_pMemberLock[dwSlot]);
    TIMER_PROXY_REGISTER_PARAM &info = m_pMemberInfo[dwSlot];
    DWORD dwHeld = LoadIndex(info);
    if (dwHeld != (DWORD)SDK_INVALID_ID) {
        lock.Release();
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::RigisterCommandIndex, dwSessionIndex1[%d] is Used, dwSessionIndex2[%d]",
                        iIndex, (int)dwSlot, (int)dwHeld);
        // The count raised above belongs to no registration.
        RemoveProxyCycle();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    info.byRemoveOnZero = pPreviewParam->byRemoveOnZero;
    info.pUserData = pPreviewParam->pUserData;
    info.fnDataCallBack = pPreviewParam->fnDataCallBack;
    WorkRecord &work = m_pMemberProccess[dwSlot];
    work.dwCleared = 0;
    work.byRemoveOnZero = pPreviewParam->byRemoveOnZero;
    StoreIndex(info, dwSlot);
    return 1;
}

int CTimerProxy::UnRigisterCommandIndex(int nSessionIndex) {
    const int iIndex = GetMemberIndex();
    if (nSessionIndex < 0 || (DWORD)nSessionIndex >= m_dwTotalNum || !m_bInitResource) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CTimerProxy::UnRigisterCommandIndex, Invalid Param, nSessionIndex[%d], m_dwTotalNum[%d], "
                        "m_bInitResource[%d]",
                        iIndex, nSessionIndex, (int)m_dwTotalNum, m_bInitResource);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    yar::yar_guard lock(&m_pMemberLock[nSessionIndex]);
    if (LoadIndex(m_pMemberInfo[nSessionIndex]) == (DWORD)SDK_INVALID_ID) {
        lock.Release();
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CTimerProxy::UnRigisterCommandIndex, Invalid dwSessionIndex[%d]", iIndex,
                        nSessionIndex);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    CleanupMember((DWORD)nSessionIndex);
    lock.Release();
    RemoveProxyCycle();
    return 1;
}

}  // namespace Vorezi
