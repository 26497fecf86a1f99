// The performance monitor against /proc of the test process: its counter layer, the values and
// the log line it writes, the interval rules and the early wake-up.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "Module/Perf/PerformanceBase.h"
#include "platform/perf_counter.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

// A field of /proc/self/status ("Threads:", "VmSize:", "VmRSS:").
long long StatusField(const std::string &field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, field.size(), field) == 0)
            return std::stoll(line.substr(field.size()));
    return -1;
}

void ExpectNear(long long llSeen, long long llProc, const char *pWhat) {
    EXPECT_GT(llSeen, 0) << pWhat;
    EXPECT_LE(std::llabs(llSeen - llProc), llProc / 10 + 64) << pWhat << " seen " << llSeen << " /proc " << llProc;
}

class PerfMonitor : public servicetest::InitedTest {
protected:
    CPerformanceBase *Monitor() { return GetCoreGlobalCtrl()->GetPerformance(); }
};

TEST(PerfCounterLayer, PathProtocolAndQueries) {
    platform::PerfCounterPathElements elements = {"Process", "name_with_parts_42", "Working Set"};
    uint32_t dwLength = 0;
    ASSERT_EQ(platform::PerfMakeCounterPath(&elements, nullptr, &dwLength), platform::PERF_MORE_DATA);
    const std::string expected = "\\Process(name_with_parts_42)\\Working Set";
    ASSERT_EQ(dwLength, expected.size());
    std::string path(dwLength + 1, 'x');
    uint32_t dwSize = dwLength;  // one short: the terminator does not fit
    EXPECT_EQ(platform::PerfMakeCounterPath(&elements, &path[0], &dwSize), platform::PERF_MORE_DATA);
    dwSize = dwLength + 1;
    ASSERT_EQ(platform::PerfMakeCounterPath(&elements, &path[0], &dwSize), platform::PERF_OK);
    EXPECT_STREQ(path.c_str(), expected.c_str());

    platform::PerfQuery *pQuery = nullptr;
    ASSERT_EQ(platform::PerfOpenQuery(&pQuery), platform::PERF_OK);
    platform::PerfCounter *pCounter = nullptr;
    const std::string self = "\\Process(x_" + std::to_string(getpid()) + ")\\";
    EXPECT_EQ(platform::PerfAddCounter(pQuery, (self + "Handle Count").c_str(), &pCounter), platform::PERF_NO_COUNTER);
    EXPECT_EQ(platform::PerfAddCounter(pQuery, "\\Process(x_999999999)\\Thread Count", &pCounter),
              platform::PERF_NO_OBJECT);
    EXPECT_EQ(platform::PerfAddCounter(pQuery, "\\Memory\\Thread Count", &pCounter), platform::PERF_NO_COUNTER);
    ASSERT_EQ(platform::PerfAddCounter(pQuery, (self + "Thread Count").c_str(), &pCounter), platform::PERF_OK);
    double dValue = 0;
    EXPECT_EQ(platform::PerfGetFormattedCounterValue(pCounter, &dValue), platform::PERF_NO_DATA);  // not collected
    ASSERT_EQ(platform::PerfCollectQueryData(pQuery), platform::PERF_OK);
    ASSERT_EQ(platform::PerfGetFormattedCounterValue(pCounter, &dValue), platform::PERF_OK);
    EXPECT_EQ((long long)dValue, StatusField("Threads:"));
    EXPECT_EQ(platform::PerfCloseQuery(pQuery), platform::PERF_OK);

    char szName[64];
    platform::PerfGetProcessName(szName, sizeof(szName));
    EXPECT_STREQ(szName, "corelib_perf_monitor_test");
}

TEST_F(PerfMonitor, ValuesMatchProc) {
    ASSERT_NE(Monitor(), nullptr);
    ASSERT_EQ(Monitor()->Init(), 1);
    PERF_VALUES values = {};
    ASSERT_EQ(Monitor()->QueryPerformanceWin(&values), 1);
    EXPECT_EQ((long long)values.qwThreadCount, StatusField("Threads:"));
    ExpectNear((long long)values.qwVirtualKBytes, StatusField("VmSize:"), "virtual");
    ExpectNear((long long)values.qwWorkingSetKBytes, StatusField("VmRSS:"), "resident");
}

TEST_F(PerfMonitor, LogLineCarriesTheProcessValues) {
    servicetest::LogCapture log;
    const char *kLine = "CPerformanceBase::QueryPerformance, ThreadCount[";
    // The log writer starts with the first line; let it exist before the measurement.
    LogModule_Write(LOG_LEVEL_ERR, "before the monitor");
    log.Lines();
    ASSERT_EQ(Monitor()->PerformanceMonitorConfig(1, 5000), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return !log.Matching(kLine).empty(); }, 3000));
    const long long llThreads = StatusField("Threads:");
    const long long llVm = StatusField("VmSize:");
    const long long llRss = StatusField("VmRSS:");
    std::string line = log.Matching(kLine)[0];
    EXPECT_NE(line.find("][INF] CPerformanceBase::QueryPerformance, ThreadCount["), std::string::npos) << line;
    long long t = 0, v = 0, w = 0;
    char szVirt[16], szWork[16];
    ASSERT_EQ(std::sscanf(line.c_str() + line.find("ThreadCount["),
                          "ThreadCount[%lld], VirtualBytes[%15[ 0-9]]KByte, WorkingSet[%15[ 0-9]]KByte", &t, szVirt,
                          szWork),
              3)
        << line;
    EXPECT_EQ(std::strlen(szVirt), 13u);  // "%13d" field width
    v = std::atoll(szVirt);
    w = std::atoll(szWork);
    EXPECT_EQ(t, llThreads);  // the monitor thread is counted in both
    ExpectNear(v, llVm, "virtual");
    ExpectNear(w, llRss, "resident");
    EXPECT_EQ(Monitor()->PerformanceMonitorConfig(0, 5000), 1);
    EXPECT_EQ(Monitor()->IsStarted(), 0);
}

TEST_F(PerfMonitor, IntervalRulesAndEarlyWakeUp) {
    // Switching off a monitor that never started succeeds.
    EXPECT_EQ(Monitor()->PerformanceMonitorConfig(0, 0), 1);
    servicetest::LogCapture log;
    const char *kLine = "CPerformanceBase::QueryPerformance, ThreadCount[";
    ASSERT_EQ(Monitor()->PerformanceMonitorConfig(1, 1000), 1);
    EXPECT_EQ(Monitor()->GetInterval(), PERF_MIN_INTERVAL);
    ASSERT_TRUE(servicetest::WaitFor([&] { return log.Matching(kLine).size() == 1; }, 3000));
    // The same interval again changes nothing: no extra measurement.
    ASSERT_EQ(Monitor()->PerformanceMonitorConfig(1, 4000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(log.Matching(kLine).size(), 1u);
    // A new interval wakes the waiting thread at once.
    ASSERT_EQ(Monitor()->PerformanceMonitorConfig(1, 200000), 1);
    EXPECT_EQ(Monitor()->GetInterval(), PERF_MAX_INTERVAL);
    EXPECT_TRUE(servicetest::WaitFor([&] { return log.Matching(kLine).size() == 2; }, 3000));
    EXPECT_EQ(Monitor()->Stop(), 1);
    EXPECT_EQ(Monitor()->IsStarted(), 0);
    // Restart after a stop makes a new thread.
    ASSERT_EQ(Monitor()->PerformanceMonitorConfig(1, 7000), 1);
    EXPECT_TRUE(servicetest::WaitFor([&] { return log.Matching(kLine).size() == 3; }, 3000));
}

}  // namespace
