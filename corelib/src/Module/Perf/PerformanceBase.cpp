#include "Module/Perf/PerformanceBase.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "platform/perf_counter.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {

constexpr uint32_t kThreadStack = 0x20000;
const char *const kCounterNames[] = {"Thread Count", "Virtual Bytes", "Working Set"};

// A counter that cannot be read is logged once per process so that it does not flood the log.
std::atomic<int> s_bQueryFailLogged{0};

bool FirstQueryFailure() {
    return s_bQueryFailLogged.exchange(1) == 0;
}

}  // namespace

CPerformanceBase::CPerformanceBase() {
    s_bQueryFailLogged.store(0);
    if (!m_struSignal.Create()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CPerformanceBase::CPerformanceBase, Create m_struSignal Failed",
                        (int)getpid());
        SetError(MORVA_ERR_ALLOC);
    }
}

CPerformanceBase::~CPerformanceBase() {
    FreeCounterPaths();
    Stop();
    m_struSignal.Destroy();
}

void CPerformanceBase::FreeCounterPaths() {
    for (char *&pPath : m_pCounterPath) {
        delete[] pPath;
        pPath = nullptr;
    }
}

int CPerformanceBase::Init() {
    if (m_bInit.load())
        return 1;
    char szName[261];
    platform::PerfGetProcessName(szName, sizeof(szName));
    char szInstance[300];
    std::snprintf(szInstance, sizeof(szInstance), "%s_%d", szName, (int)getpid());

    for (int i = 0; i < COUNTER_COUNT; i++) {
        platform::PerfCounterPathElements elements = {"Process", szInstance, kCounterNames[i]};
        uint32_t dwLength = 0;
        const char *pFailure = nullptr;
        if (platform::PerfMakeCounterPath(&elements, nullptr, &dwLength) != platform::PERF_MORE_DATA) {
            pFailure = "DUVO_Performance_Monitor,CPerformanceBase::Start, PdhMakeCounterPath 1, Failed";
        } else if (!(m_pCounterPath[i] = new (std::nothrow) char[dwLength + 1]())) {
            pFailure = "DUVO_Performance_Monitor,CPerformanceBase::Start, PdhMakeCounterPath 2, Failed";
        } else {
            uint32_t dwSize = dwLength + 1;
            if (platform::PerfMakeCounterPath(&elements, m_pCounterPath[i], &dwSize) != platform::PERF_OK)
                pFailure = "DUVO_Performance_Monitor,CPerformanceBase::Start, PdhMakeCounterPath 3, Failed";
        }
        if (pFailure) {
            LogModule_Write(LOG_LEVEL_ERR, "%s", pFailure);
            Stop();
            FreeCounterPaths();
            return 0;
        }
    }
    m_bInit.store(1);
    return 1;
}

int CPerformanceBase::PerformanceMonitorConfig(int bUsePerfmMonitor, DWORD dwMonitorInterval) {
    if (!Init())
        return 0;
    dwMonitorInterval = std::min(std::max(dwMonitorInterval, PERF_MIN_INTERVAL), PERF_MAX_INTERVAL);
    if (!bUsePerfmMonitor)
        return Stop();
    if (dwMonitorInterval == m_dwInterval.load() && m_bRunning.load())
        return 1;
    m_dwInterval.store(dwMonitorInterval);
    return Start();
}

int CPerformanceBase::Start() {
    if (!m_bInit.load()) {
        LogModule_Write(LOG_LEVEL_ERR, "DUVO_Performance_Monitor,CPerformanceBase::Start, Not Init");
        return 0;
    }
    if (m_bRunning.load()) {
        // The thread measures at once and then waits with the new interval.
        m_struSignal.Post();
        return 1;
    }
    m_bRunning.store(1, std::memory_order_release);
    if (!m_hThread) {
        m_hThread = YAR_Thread_Create(QueryPerformanceStatic, this, kThreadStack, 0, 0, 0);
        if (!m_hThread) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "DUVO_Performance_Monitor,CPerformanceBase::Start, YAR_Thread_Create Failed, syserror[%d]",
                            YAR_GetSystemLastError());
            m_bRunning.store(0);
            return 0;
        }
    }
    m_bStopped.store(0);
    return 1;
}

int CPerformanceBase::Stop() {
    if (!m_bRunning.load())
        return 1;
    m_bRunning.store(0, std::memory_order_release);
    m_bStopped.store(1);
    m_struSignal.Post();
    if (m_hThread) {
        YAR_HANDLE hThread = m_hThread;
        m_hThread = YAR_INVALID_THREAD;
        if (YAR_Thread_Wait(hThread) != 0)
            return 0;
    }
    return 1;
}

uint32_t CPerformanceBase::QueryPerformanceStatic(void *pParam) {
    if (!pParam) {
        LogModule_Write(LOG_LEVEL_ERR, "DUVO_Performance_Monitor,CPerformanceBase::QueryPerformanceStatic, param is NULL");
        return 0;
    }
    static_cast<CPerformanceBase *>(pParam)->QueryPerformance();
    return 0;
}

void CPerformanceBase::QueryPerformance() {
    PERF_VALUES values = {0, 0, 0};
    while (m_bRunning.load(std::memory_order_acquire)) {
        QueryPerformanceWin(&values);
        // 64-bit values: a sanitizer build reserves terabytes of address space.
        LogModule_Write(LOG_LEVEL_INF,
                        "CPerformanceBase::QueryPerformance, ThreadCount[%d], VirtualBytes[%13llu]KByte, "
                        "WorkingSet[%13llu]KByte",
                        (int)values.qwThreadCount, (unsigned long long)values.qwVirtualKBytes,
                        (unsigned long long)values.qwWorkingSetKBytes);
        m_struSignal.TimedWait(m_dwInterval.load());
    }
}

int CPerformanceBase::QueryPerformanceWin(PERF_VALUES *pValues) {
    double dValues[COUNTER_COUNT];
    for (int i = 0; i < COUNTER_COUNT; i++) {
        dValues[i] = m_pCounterPath[i] ? PdhQuery(m_pCounterPath[i]) : -1;
        if (dValues[i] == -1) {
            LogModule_Write(LOG_LEVEL_ERR, "DUVO_Performance_Monitor,CPerformanceBase::QueryPerformanceWin, PdhQuery Failed!");
            return 0;
        }
    }
    pValues->qwThreadCount = (uint64_t)dValues[COUNTER_THREADS];
    pValues->qwVirtualKBytes = (uint64_t)dValues[COUNTER_VIRTUAL] >> 10;
    pValues->qwWorkingSetKBytes = (uint64_t)dValues[COUNTER_WORKING_SET] >> 10;
    return 1;
}

double CPerformanceBase::PdhQuery(const char *pCounterPath) {
    platform::PerfQuery *pQuery = nullptr;
    if (platform::PerfOpenQuery(&pQuery) != platform::PERF_OK) {
        if (FirstQueryFailure())
            LogModule_Write(LOG_LEVEL_ERR, "DUVO_Performance_Monitor,CPerformanceBase::PdhQuery, PdhOpenQuery Failed");
        return -1;
    }
    double dValue = -1;
    platform::PerfCounter *pCounter = nullptr;
    uint32_t dwStatus = 0;
    if (platform::PerfAddCounter(pQuery, pCounterPath, &pCounter) != platform::PERF_OK) {
        pCounter = nullptr;
        if (FirstQueryFailure())
            LogModule_Write(LOG_LEVEL_ERR,
                            "DUVO_Performance_Monitor,CPerformanceBase::PdhQuery, PdhAddCounter Failed,Counter Path: %s",
                            pCounterPath);
    } else if ((dwStatus = platform::PerfCollectQueryData(pQuery)) != platform::PERF_OK) {
        if (FirstQueryFailure())
            LogModule_Write(LOG_LEVEL_ERR,
                            "DUVO_Performance_Monitor,CPerformanceBase::PdhQuery, PdhCollectQueryData Failed, "
                            "ret[0x%X], Counter Path: %s",
                            dwStatus, pCounterPath);
    } else if (platform::PerfGetFormattedCounterValue(pCounter, &dValue) != platform::PERF_OK) {
        dValue = -1;
        if (FirstQueryFailure())
            LogModule_Write(LOG_LEVEL_ERR,
                            "DUVO_Performance_Monitor,CPerformanceBase::PdhQuery, PdhGetFormattedCounterValue "
                            "Failed,Counter Path: %s",
                            pCounterPath);
    }
    if (pCounter)
        platform::PerfRemoveCounter(pCounter);
    platform::PerfCloseQuery(pQuery);
    return dValue;
}

CPerformanceBase *Performance_Create() {
    CPerformanceBase *pPerf = new (std::nothrow) CPerformanceBase;
    if (!pPerf)
        return nullptr;
    if (GetCoreGlobalCtrl()->RegisterPerformance(pPerf) < 0) {
        delete pPerf;
        return nullptr;
    }
    return pPerf;
}

void Performance_Destroy(CPerformanceBase *pPerf) {
    if (!pPerf) {
        Utils_Assert();
        return;
    }
    GetCoreGlobalCtrl()->UnRegisterPerformance(pPerf);
    pPerf->Stop();
    delete pPerf;
}

}  // namespace Vorezi
