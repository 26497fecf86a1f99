#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal/adapter_backend.h"
#include "internal/default_family.h"
#include "internal/runtime_start.h"
#include "internal/socket_startup.h"
#include "yar/yar_init.h"
#include "yar/yar_log.h"
#include "yar/yar_mempool.h"
#include "yar/yar_threadpool.h"

namespace {

// Records the stage events as "+name" and "-name".
class StageLog {
public:
    StageLog() { yar::internal::SetStageObserver(&Record, this); }
    ~StageLog() { yar::internal::SetStageObserver(nullptr, nullptr); }
    std::string Take() {
        std::string out = m_events;
        m_events.clear();
        return out;
    }

private:
    static void Record(const char *stage, bool up, void *self) {
        auto *log = static_cast<StageLog *>(self);
        log->m_events += (log->m_events.empty() ? "" : " ") + std::string(up ? "+" : "-") + stage;
    }
    std::string m_events;
};

const char *const kStart = "+sockets +msgq +threadpool +errslot";
const char *const kStop = "-timers -sockets -msgq -threadpool -errslot -mempool";

}  // namespace

TEST(RuntimeStart, CountsStartsAndRunsTheStagesInOrder) {
    enum Op { Init, Fini };
    struct Step { Op op; const char *events; bool running; };
    const Step steps[] = {
        {Fini, "", false},  // a stop without a start is ignored ...
        {Init, kStart, true},  // ... so the next start still runs the one-time start
        {Init, "", true},
        {Fini, "", true},  // the first of two stops leaves everything running
        {Fini, kStop, false},
        {Fini, "", false},
        {Init, kStart, true},  // a complete stop, then a new start
        {Fini, kStop, false},
        {Init, kStart, true},
        {Init, "", true},
        {Init, "", true},
        {Fini, "", true},
        {Fini, "", true},
        {Fini, kStop, false},
    };
    StageLog log;
    int i = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE("step " + std::to_string(i++));
        if (s.op == Init)
            EXPECT_EQ(YAR_Init(), 0);
        else
            YAR_Fini();
        EXPECT_EQ(log.Take(), s.events);
        EXPECT_EQ(yar::internal::SocketsStarted(), s.running);
    }
}

TEST(RuntimeStart, AFailedStageUndoesTheStagesBeforeIt) {
    struct Case { const char *failing; const char *events; };
    const Case cases[] = {
        {"sockets", "-timers -mempool"},
        {"msgq", "+sockets -timers -sockets -mempool"},
        {"threadpool", "+sockets +msgq -timers -sockets -msgq -mempool"},
        {"errslot", "+sockets +msgq +threadpool -timers -sockets -msgq -threadpool -mempool"},
    };
    StageLog log;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failing);
        yar::internal::FailStageOnce(c.failing);
        EXPECT_EQ(YAR_Init(), -1);
        EXPECT_EQ(log.Take(), c.events);
        EXPECT_EQ(YAR_SetLastError(1), -1);
        EXPECT_FALSE(yar::internal::SocketsStarted());
        YAR_Fini();  // the count stayed 0
        EXPECT_EQ(log.Take(), "");
        EXPECT_EQ(YAR_Init(), 0);
        EXPECT_EQ(log.Take(), kStart);
        YAR_Fini();
        EXPECT_EQ(log.Take(), kStop);
    }
}

TEST(RuntimeStart, ErrorSlotHoldsPerThreadValuesOnlyWhileStarted) {
    EXPECT_EQ(YAR_GetLastError(), 0);
    EXPECT_EQ(YAR_SetLastError(5), -1);
    ASSERT_EQ(YAR_Init(), 0);
    EXPECT_EQ(YAR_GetLastError(), 0);
    EXPECT_EQ(YAR_SetLastError(1234), 0);
    EXPECT_EQ(YAR_GetErrorValue(), 1234);
    EXPECT_EQ(YAR_SetErrorValue(-7), 0);
    EXPECT_EQ(YAR_GetLastError(), -7);
    intptr_t otherBefore = -1, otherAfter = -1;
    std::thread([&] {
        otherBefore = YAR_GetLastError();
        YAR_SetLastError(99);
        otherAfter = YAR_GetLastError();
    }).join();
    EXPECT_EQ(otherBefore, 0);
    EXPECT_EQ(otherAfter, 99);
    EXPECT_EQ(YAR_GetLastError(), -7);
    const int32_t index = YAR_ErrSlot_Alloc();  // already allocated: the same slot
    EXPECT_GE(index, 0);
    EXPECT_EQ(YAR_GetLastError(), -7);
    YAR_Fini();

    EXPECT_EQ(YAR_GetLastError(), 0);
    EXPECT_EQ(YAR_SetLastError(5), -1);
    ASSERT_EQ(YAR_Init(), 0);
    EXPECT_EQ(YAR_GetLastError(), 0);  // a new start does not bring back old values
    YAR_Fini();
}

TEST(RuntimeStart, ErrorSlotCallsOutsideTheStart) {
    EXPECT_EQ(YAR_ErrSlot_Free(), -1);
    EXPECT_EQ(YAR_ErrSlot_Fini(), 0);
    EXPECT_EQ(YAR_ErrSlot_SetRaw(1), -1);
    EXPECT_EQ(YAR_ErrSlot_GetRaw(), 0);
    ASSERT_EQ(YAR_ErrSlot_Init(), 0);
    EXPECT_EQ(YAR_ErrSlot_SetRaw(42), 0);
    EXPECT_EQ(YAR_GetLastError(), 42);
    EXPECT_EQ(YAR_ErrSlot_Free(), 0);
    EXPECT_EQ(YAR_GetLastError(), 0);
}

TEST(RuntimeStart, VersionWhetherStartedOrNot) {
    EXPECT_EQ(YAR_GetVersion(), 0x0101000Cu);
    ASSERT_EQ(YAR_Init(), 0);
    EXPECT_EQ(YAR_GetVersion(), 0x0101000Cu);
    YAR_Fini();
    EXPECT_EQ(YAR_LogFini(), 0);
}

TEST(RuntimeStart, ThreadPoolsWorkAfterEachStart) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(YAR_Init(), 0);
        YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 2);
        ASSERT_NE(pool, nullptr) << "round " << round;
        std::atomic<int> ran{0};
        ASSERT_EQ(YAR_ThreadPool_WorkEx(
                      pool, [](void *arg) -> int32_t { return ++*static_cast<std::atomic<int> *>(arg); },
                      &ran, 1),
                  0);
        for (int wait = 0; wait < 5000 && ran.load() == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ran.load(), 1);
        EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
        YAR_Fini();
    }
}

TEST(RuntimeStart, ConcurrentStartsAndStopsBalance) {
    StageLog log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                ASSERT_EQ(YAR_Init(), 0);
                YAR_SetLastError(i + 1);
                EXPECT_EQ(YAR_GetLastError(), i + 1);
                YAR_Fini();
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    // Each one-time start was matched by one stop, and the count is back at 0.
    const std::string events = log.Take();
    size_t starts = 0, stops = 0;
    for (size_t p = 0; (p = events.find("+errslot", p)) != std::string::npos; ++p)
        ++starts;
    for (size_t p = 0; (p = events.find("-errslot", p)) != std::string::npos; ++p)
        ++stops;
    EXPECT_GE(starts, 1u);
    EXPECT_EQ(starts, stops);
    EXPECT_EQ(events.substr(events.size() - std::string(kStop).size()), kStop);
    ASSERT_EQ(YAR_Init(), 0);
    EXPECT_EQ(log.Take(), kStart);
    YAR_Fini();
}

TEST(RuntimeStart, EveryStartRefreshesTheDefaultFamilyFromTheAdapters) {
    // Without an adapter backend the family keeps its value.
    yar::internal::SetAdapterBackendAvailable(false);
    yar::internal::SetDefaultFamily(23);
    ASSERT_EQ(YAR_Init(), 0);
    EXPECT_EQ(yar::internal::DefaultFamily(), 23);
    EXPECT_EQ(YAR_RefreshDefaultFamily(), -1);
    YAR_Fini();

    // With it, a start rebuilds the family from the adapter list, as a direct refresh does.
    yar::internal::SetAdapterBackendAvailable(true);
    ASSERT_EQ(YAR_Init(), 0);
    int afterStart = yar::internal::DefaultFamily();
    EXPECT_EQ(YAR_RefreshDefaultFamily(), 0);
    EXPECT_EQ(yar::internal::DefaultFamily(), afterStart);
    YAR_Fini();
    yar::internal::SetDefaultFamily(2);
}

TEST(RuntimeStart, TheLastStopReleasesTheSizeClassPools) {
    ASSERT_EQ(YAR_Init(), 0);
    ASSERT_EQ(YAR_Init(), 0);
    ASSERT_EQ(YAR_MemPool_Init(0x4000000), 1);
    YAR_Fini();
    EXPECT_GT(YAR_MemPool_GetTotalSize(), 0u);
    YAR_Fini();
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), 0u);
    EXPECT_EQ(YAR_MemPool_Alloc(1), nullptr);
}

TEST(RuntimeStart, TheLastStopClosesTheRuntimeLog) {
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_CONSOLE), 0);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    ASSERT_EQ(YAR_Init(), 0);
    YAR_Fini();
    // The console output stays on, but the log is closed until it is opened again.
    EXPECT_EQ(YAR_LogPrint(YAR_LOG_INF, "init_test.cpp", 1, "after the stop"), -2);
    EXPECT_EQ(YAR_Log_DisableOutput(YAR_LOG_OUTPUT_CONSOLE), 0);
    EXPECT_EQ(YAR_LogPrint(YAR_LOG_INF, "init_test.cpp", 1, "no output"), -5);  // 1 and 2 are off
    YAR_Log_Open();
}
