// Performance monitor: a thread that logs, at a set interval, the process's thread count,
// virtual size and resident set.
#pragma once

#include <atomic>
#include <cstdint>

#include "GlobalCtrl/CoreSignal.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_thread.h"

namespace Vorezi {

constexpr DWORD PERF_MIN_INTERVAL = 5000;
constexpr DWORD PERF_MAX_INTERVAL = 120000;

// One measurement; sizes in KiB.
struct PERF_VALUES {
    uint64_t qwThreadCount;
    uint64_t qwVirtualKBytes;
    uint64_t qwWorkingSetKBytes;
};

class CPerformanceBase {
public:
    CPerformanceBase();
    ~CPerformanceBase();
    CPerformanceBase(const CPerformanceBase &) = delete;
    CPerformanceBase &operator=(const CPerformanceBase &) = delete;

    int Init();
    int PerformanceMonitorConfig(int bUsePerfmMonitor, DWORD dwMonitorInterval);
    int Start();
    int Stop();

    int IsStarted() const { return m_bRunning.load(std::memory_order_acquire); }
    DWORD GetInterval() const { return m_dwInterval.load(); }
    // Reads the three counters; on failure the values are left as they were and 0 is returned.
    int QueryPerformanceWin(PERF_VALUES *pValues);

private:
    static uint32_t QueryPerformanceStatic(void *pParam);
    void QueryPerformance();
    double PdhQuery(const char *pCounterPath);
    void FreeCounterPaths();

    enum { COUNTER_THREADS, COUNTER_VIRTUAL, COUNTER_WORKING_SET, COUNTER_COUNT };

    std::atomic<int> m_bInit{0};
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_bStopped{1};
    YAR_HANDLE m_hThread = YAR_INVALID_THREAD;
    std::atomic<DWORD> m_dwInterval{0};
    CCoreSignal m_struSignal;  // wakes the thread early
    char *m_pCounterPath[COUNTER_COUNT] = {};
};

// The controller's monitor: created and registered, or null.
CPerformanceBase *Performance_Create();
// Unregisters, stops and deletes; a null monitor is a programming error that is logged.
void Performance_Destroy(CPerformanceBase *pPerf);

}  // namespace Vorezi
