// Timer proxies: callbacks registered in command slots are called periodically on the proxy's
// flexible pool. A cycle thread wakes once per interval and posts every idle registered slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Module/Member/MemberBase.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

constexpr int SDK_INVALID_ID = -1;
constexpr DWORD TIMER_PROXY_MIN_INTERVAL = 1000;

class CTimerProxy;

// Returns the next interval in milliseconds.
typedef DWORD (*TIMER_PROXY_INTERVAL_CALLBACK)(CTimerProxy *pProxy);
typedef int (*TIMER_PROXY_DATA_CALLBACK)(void *pUserData);

// Creation record of a proxy.
struct TIMER_PROXY_CREATE_PARAM {
    DWORD m_dwTotalNum;  // command slots
    DWORD dwInterval;    // ms
    TIMER_PROXY_INTERVAL_CALLBACK fnIntervalCallBack;
    BYTE byThreadCount;  // pool size; 0 takes the default pool size
    BYTE byKeepThread;   // the cycle thread, once started, stays until the proxy goes
};

// Registration record (16 bytes on the 32-bit build; native pointers here).
struct TIMER_PROXY_REGISTER_PARAM {
    DWORD dwSessionIndex;  // command slot, below m_dwTotalNum
    BYTE byRemoveOnZero;   // a callback result of 0 removes the registration
    void *pUserData;
    TIMER_PROXY_DATA_CALLBACK fnDataCallBack;
};

class CTimerProxy : public CMemberBase {
public:
    explicit CTimerProxy(DWORD dwTotalNum);
    ~CTimerProxy() override;
    CTimerProxy(const CTimerProxy &) = delete;
    CTimerProxy &operator=(const CTimerProxy &) = delete;

    int Start(void *pParam) override;
    int Stop() override;

    int RigisterCommandIndex(const TIMER_PROXY_REGISTER_PARAM *pPreviewParam);
    int UnRigisterCommandIndex(int nSessionIndex);
    int AddProxyCycle();
    int RemoveProxyCycle();
    void CleanupMember(DWORD dwMemberIndex);

    // Users of the Interim_* entries hold the proxy through this count; Stop waits for it.
    void AddUse() { m_dwInUse.fetch_add(1); }
    void ReleaseUse() { m_dwInUse.fetch_sub(1); }
    int IsExiting() const { return m_bExiting.load() ? 1 : 0; }
    // The proxy whose cycle thread or pool worker the calling thread is, or null.
    static CTimerProxy *CurrentProxyThread();
    DWORD GetInterval() const { return m_dwInterval.load(); }

private:
    struct WorkRecord {
        DWORD dwSlot;
        DWORD dwCleared;
        CTimerProxy *pProxy;
        // 0 while idle, else the number of the cycle thread that posted the slot's work.
        std::atomic<uint32_t> dwRunningCycle;
        BYTE byRemoveOnZero;
    };
    struct CycleStart;

    int AllocResource();
    void FreeResource();
    static uint32_t ExchangeThread(void *pParam);
    void RunCycle(uint32_t dwCycle);
    bool WaitInterval(uint32_t dwCycle);
    void PostRound(YAR_THREADPOOLFLEX_T *hPool, uint32_t dwCycle);
    static int32_t ThreadPoolCB(void *pWork);
    void JoinEnded(std::vector<YAR_HANDLE> &ended);

    DWORD m_dwRegisterCount = 0;  // registrations that hold the cycle thread; under m_ProxyLock
    YAR_MUTEX_T m_ProxyLock;
    YAR_COND_T m_condExit = nullptr;  // wakes the cycle threads early
    YAR_HANDLE m_hCycleThread = YAR_INVALID_THREAD;
    uint32_t m_dwCycle = 0;         // number of the newest cycle thread
    uint32_t m_dwStoppedCycle = 0;  // cycle threads up to this number must end
    // Cycle threads told to end from a proxy thread, which cannot wait for them; joined later.
    std::vector<YAR_HANDLE> m_EndedThreads;
    std::unique_ptr<TIMER_PROXY_REGISTER_PARAM[]> m_pMemberInfo;
    std::unique_ptr<WorkRecord[]> m_pMemberProccess;
    std::unique_ptr<YAR_MUTEX_T[]> m_pMemberLock;
    int m_bInitResource = 0;
    DWORD m_dwTotalNum;
    std::atomic<DWORD> m_dwInterval{TIMER_PROXY_MIN_INTERVAL};
    std::atomic<TIMER_PROXY_INTERVAL_CALLBACK> m_fnIntervalCallBack{nullptr};
    std::atomic<DWORD> m_dwThreadCount{0};
    std::atomic<DWORD> m_dwInUse{0};
    std::atomic<DWORD> m_bExiting{0};
    std::atomic<DWORD> m_bKeepThread{0};
};

}  // namespace Vorezi
