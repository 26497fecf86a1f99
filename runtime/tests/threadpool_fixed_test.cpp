#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pool_test_support.h"
#include "yar/yar_threadpool.h"

using namespace pooltest;

namespace {

class FixedPool : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(YAR_ThreadPool_InitModule(), 0); }
    static void TearDownTestSuite() { YAR_ThreadPool_FiniModule(); }
};

}  // namespace

TEST_F(FixedPool, CreateChecksCountsAndTheTable) {
    DebugCapture debug;
    EXPECT_EQ(YAR_ThreadPool_Create(0, 513), nullptr);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Create nMaxCount > MAX_THREAD_PER_THREADPOOL error, return -1 1\n"));
    YAR_THREADPOOL_T *big = YAR_ThreadPool_Create(0, 512);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(YAR_ThreadPool_Destroy(big), 0);

    // More initial threads than the maximum fails the creation and frees the record.
    EXPECT_EQ(YAR_ThreadPool_Create(3, 2), nullptr);
    EXPECT_TRUE(debug.Contains("YAR_InitThread_Local YAR_CreateThread_Local error, return -1 2\n"));
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Create YAR_InitThread_Local error, return -1 3\n"));

    std::vector<YAR_THREADPOOL_T *> pools;
    for (int i = 0; i < MAX_THREADPOOL_COUNT; ++i) {
        pools.push_back(YAR_ThreadPool_Create(0, 1));
        ASSERT_NE(pools.back(), nullptr) << i;
    }
    EXPECT_EQ(YAR_ThreadPool_Create(0, 1), nullptr);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Create YAR_GetIdleThreadPool_Local error, return -1 2\n"));
    YAR_THREADPOOL_T *freed = pools[17];
    EXPECT_EQ(YAR_ThreadPool_Destroy(freed), 0);
    pools[17] = YAR_ThreadPool_Create(1, 1);
    EXPECT_EQ(pools[17], freed);
    for (YAR_THREADPOOL_T *pool : pools)
        EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
}

TEST_F(FixedPool, BadCallsAreRefused) {
    DebugCapture debug;
    EXPECT_EQ(YAR_ThreadPool_Destroy(nullptr), -1);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Destroy pThreadPool == NULL return\n"));
    EXPECT_EQ(YAR_ThreadPool_Work(nullptr, CountItem, nullptr), -1);
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 2);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(YAR_ThreadPool_Work(pool, nullptr, nullptr), -1);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Work param error, return -1 1\n"));
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    // A destroyed pool takes no work and cannot be destroyed twice.
    std::atomic<int> done{0};
    EXPECT_EQ(YAR_ThreadPool_Work(pool, CountItem, &done), -1);
    EXPECT_EQ(YAR_ThreadPool_WorkEx(pool, CountItem, &done, 1), -1);
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), -1);
    EXPECT_EQ(done.load(), 0);
}

TEST_F(FixedPool, ThreadsStartOnDemandUpToTheMaximum) {
    const int base = SettledThreadCount();
    Gate gate;
    Job held = [&] { gate.Pass(); };
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(0, 3);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(ThreadCount(), base);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(YAR_ThreadPool_Work(pool, RunJob, &held), 0) << i;
    ASSERT_TRUE(gate.WaitArrivals(3));
    EXPECT_EQ(ThreadCount(), base + 3);
    EXPECT_EQ(YAR_ThreadPool_Work(pool, RunJob, &held), -1);  // full, no wait
    gate.Open();
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    // Every thread was joined; a joined thread may still be listed for a moment while it leaves.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == base; }));
}

TEST_F(FixedPool, ClassHoldsOnePool) {
    std::atomic<int> done{0};
    yar::yar_threadpool pool;
    EXPECT_EQ(pool.Work(CountItem, &done), -1);  // nothing created yet
    ASSERT_EQ(pool.Create(1, 1), 0);
    ASSERT_TRUE(WaitFor([&] { return pool.Work(CountItem, &done) == 0; }));
    EXPECT_EQ(pool.Destroy(), 0);
    EXPECT_EQ(pool.Destroy(), -1);
    EXPECT_EQ(done.load(), 1);
}

TEST_F(FixedPool, WaitingPostSucceedsOnceTheThreadIsFree) {
    Gate gate;
    Job held = [&] { gate.Pass(); };
    std::atomic<int> done{0};
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 1);
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(YAR_ThreadPool_Work(pool, RunJob, &held), 0);
    ASSERT_TRUE(gate.WaitArrivals(1));
    EXPECT_EQ(YAR_ThreadPool_Work(pool, CountItem, &done), -1);
    std::thread opener([&] {
        std::this_thread::sleep_for(30ms);
        gate.Open();
    });
    EXPECT_EQ(YAR_ThreadPool_WorkEx(pool, CountItem, &done, 1), 0);
    opener.join();
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    EXPECT_EQ(done.load(), 1);
}

TEST_F(FixedPool, DestroyWaitsForTheRunningItem) {
    std::atomic<bool> finished{false};
    Job slow = [&] {
        std::this_thread::sleep_for(100ms);
        finished = true;
    };
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 1);
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(YAR_ThreadPool_Work(pool, RunJob, &slow), 0);
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    EXPECT_TRUE(finished.load());
}

// An item the pool accepted runs, also when destruction starts before its thread woke up.
TEST_F(FixedPool, AcceptedItemsRunDespiteAnImmediateDestroy) {
    std::atomic<int> done{0};
    int accepted = 0;
    for (int i = 0; i < 200; ++i) {
        YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(2, 2);
        ASSERT_NE(pool, nullptr);
        accepted += YAR_ThreadPool_Work(pool, CountItem, &done) == 0;
        accepted += YAR_ThreadPool_Work(pool, CountItem, &done) == 0;
        ASSERT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    }
    EXPECT_EQ(accepted, 400);
    EXPECT_EQ(done.load(), accepted);
}

TEST_F(FixedPool, DestroyFromItsOwnThreadIsRefused) {
    DebugCapture debug;
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 2);
    ASSERT_NE(pool, nullptr);
    std::atomic<int> fromThread{99};
    Job selfDestroy = [&] { fromThread = YAR_ThreadPool_Destroy(pool); };
    ASSERT_EQ(YAR_ThreadPool_Work(pool, RunJob, &selfDestroy), 0);
    ASSERT_TRUE(WaitFor([&] { return fromThread.load() != 99; }));
    EXPECT_EQ(fromThread.load(), -1);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPool_Destroy called from a thread of the same pool, refused, return -1\n"));
    std::atomic<int> done{0};
    ASSERT_TRUE(WaitFor([&] { return YAR_ThreadPool_Work(pool, CountItem, &done) == 0; }));
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    EXPECT_EQ(done.load(), 1);
}

TEST_F(FixedPool, ItemsRunInThePostersTraceContext) {
    std::mutex lock;
    std::vector<std::string> seen;
    Job record = [&] {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(CurrentTrace1());
    };
    YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 1);  // started without context
    ASSERT_NE(pool, nullptr);
    for (const char *text : {"alpha", "beta"}) {
        std::thread poster([&] {
            YAR_TRACE_INFO_T trace = Trace(text, "request", 1);
            ASSERT_EQ(YAR_SetThreadTraceInfo(&trace), 0);
            ASSERT_TRUE(WaitFor([&] { return YAR_ThreadPool_Work(pool, RunJob, &record) == 0; }));
            YAR_ClearThreadTraceInfo();
        });
        poster.join();
    }
    EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"alpha", "beta"}));
}

// Posters keep posting with the wait flag while the pool is destroyed under them: every accepted
// item runs, the posts after the start of destruction fail, and nothing touches a deleted lock.
TEST_F(FixedPool, StressPostersRacingDestroy) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> done{0}, accepted{0};
        YAR_THREADPOOL_T *pool = YAR_ThreadPool_Create(1, 4);
        ASSERT_NE(pool, nullptr);
        std::vector<std::thread> posters;
        for (int p = 0; p < 4; ++p)
            posters.emplace_back([&] {
                while (YAR_ThreadPool_WorkEx(pool, CountItem, &done, 1) == 0)
                    accepted.fetch_add(1);
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + round % 5));
        EXPECT_EQ(YAR_ThreadPool_Destroy(pool), 0);
        for (std::thread &t : posters)
            t.join();
        EXPECT_EQ(done.load(), accepted.load()) << "round " << round;
    }
}
