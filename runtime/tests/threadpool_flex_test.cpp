#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pool_test_support.h"
#include "yar/yar_threadpool.h"

using namespace pooltest;

namespace {

size_t OwnStackSize() {
    pthread_attr_t attr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    return size;
}

// Destroys the pool at the end of a test unless the test did.
struct FlexPool {
    FlexPool(int32_t maxThreads, int32_t idleMs, YAR_THREADPOOL_ROUTINE routine = RunJob, int32_t stack = 0)
        : pool(YAR_ThreadPoolFlex_Create(maxThreads, idleMs, routine, stack)) {}
    ~FlexPool() { YAR_ThreadPoolFlex_DestroyEx(pool, -1); }
    FlexPool(const FlexPool &) = delete;
    FlexPool &operator=(const FlexPool &) = delete;
    YAR_THREADPOOLFLEX_T *Release() { return std::exchange(pool, nullptr); }
    YAR_THREADPOOLFLEX_T *pool;
};

}  // namespace

TEST(FlexPool, CreateRefusesBadArguments) {
    struct Case { int32_t maxThreads; YAR_THREADPOOL_ROUTINE routine; int32_t stack; bool created; };
    const Case cases[] = {
        {1, RunJob, 0, true},     {4, RunJob, 4096, true}, {1, RunJob, -1, false},
        {0, RunJob, 0, false},    {-3, RunJob, 0, false},  {1, nullptr, 0, false},
    };
    for (const Case &c : cases) {
        YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(c.maxThreads, 1000, c.routine, c.stack);
        EXPECT_EQ(pool != nullptr, c.created) << c.maxThreads << " " << c.stack;
        EXPECT_EQ(YAR_ThreadPoolFlex_Destroy(pool), 0);
    }
    EXPECT_EQ(YAR_ThreadPoolFlex_Work(nullptr, nullptr), -1);
    EXPECT_EQ(YAR_ThreadPoolFlex_GetWorkCount(nullptr), -1);
}

TEST(FlexPool, WorkersGetTheConfiguredStack) {
    // Only a lower bound: the C library may hand out a larger cached stack.
    struct Case { int32_t stack; size_t atLeast; };
    const Case cases[] = {{0, 0x100000}, {4096, 0x10000}, {0x40000, 0x40000}};
    for (const Case &c : cases) {
        std::atomic<size_t> seen{0};
        Job job = [&] { seen = OwnStackSize(); };
        FlexPool flex(1, 1000, RunJob, c.stack);
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &job), 0);
        ASSERT_TRUE(WaitFor([&] { return seen.load() != 0; }));
        EXPECT_GE(seen.load(), c.atLeast) << c.stack;
    }
}

TEST(FlexPool, OneWorkerRunsItemsInOrder) {
    std::mutex lock;
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::atomic<int> running{0}, overlap{0};
    std::vector<Job> jobs;
    for (int i = 0; i < 10; ++i)
        jobs.emplace_back([&, i] {
            if (running.fetch_add(1) != 0)
                overlap.fetch_add(1);
            std::this_thread::sleep_for(1ms);
            {
                std::lock_guard<std::mutex> guard(lock);
                order.push_back(i);
                threads.insert(std::this_thread::get_id());
            }
            running.fetch_sub(1);
        });
    FlexPool flex(1, 1000);
    for (Job &job : jobs)
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &job), 0);
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(flex.Release(), -1), 0);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(overlap.load(), 0);
}

TEST(FlexPool, GrowsToTheMaximumOnlyWhileItemsWait) {
    const int base = SettledThreadCount();
    Gate gate;
    Job held = [&] { gate.Pass(); };
    FlexPool flex(4, 60000);
    // One item at a time, each posted once the worker waits again: the single worker stays enough.
    // (A post while the worker is still on its way back from an item rightly starts another.)
    std::atomic<int> done{0};
    std::atomic<long> worker{0};
    Job quick = [&] {
        worker = syscall(SYS_gettid);
        done.fetch_add(1);
    };
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &quick), 0);
        ASSERT_TRUE(WaitFor([&] { return done.load() == i + 1 && ThreadSleeps(worker.load()); }));
        ASSERT_EQ(ThreadCount(), base + 1);
    }
    // Items that block: one worker each, up to four; the fifth waits in the queue.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &held), 0);
    ASSERT_TRUE(gate.WaitArrivals(4));
    EXPECT_EQ(YAR_ThreadPoolFlex_GetWorkCount(flex.pool), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(gate.Arrived(), 4);
    EXPECT_EQ(ThreadCount(), base + 4);
    gate.Open();
    ASSERT_TRUE(gate.WaitArrivals(5));
}

TEST(FlexPool, IdleWorkersRetireAfterTheTimeOut) {
    const int base = SettledThreadCount();
    std::atomic<int> done{0};
    {
        FlexPool flex(2, 50, CountItem);
        for (int round = 1; round <= 2; ++round) {
            ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &done), 0);
            ASSERT_TRUE(WaitFor([&] { return done.load() == round; }));
            // The worker leaves after one empty time-out; the next post starts a new one.
            EXPECT_TRUE(WaitFor([&] { return ThreadCount() == base; })) << "round " << round;
        }
    }
    {
        FlexPool permanent(1, -1, CountItem);
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(permanent.pool, &done), 0);
        ASSERT_TRUE(WaitFor([&] { return done.load() == 3; }));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(ThreadCount(), base + 1);
    }
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == base; }));
}

TEST(FlexPool, QueueHoldsAtMost65535Items) {
    Gate gate;
    Job held = [&] { gate.Pass(); };
    std::atomic<int> done{0};
    FlexPool flex(1, 60000);
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &held), 0);
    ASSERT_TRUE(gate.WaitArrivals(1));
    Job count = [&] { done.fetch_add(1); };
    int accepted = 0;
    while (accepted < YAR_THREADPOOLFLEX_MAX_QUEUED && YAR_ThreadPoolFlex_Work(flex.pool, &count) == 0)
        ++accepted;
    EXPECT_EQ(accepted, YAR_THREADPOOLFLEX_MAX_QUEUED);
    EXPECT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &count), -1);
    EXPECT_EQ(YAR_ThreadPoolFlex_GetWorkCount(flex.pool), YAR_THREADPOOLFLEX_MAX_QUEUED);
    gate.Open();
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(flex.Release(), -1), 0);
    EXPECT_EQ(done.load(), YAR_THREADPOOLFLEX_MAX_QUEUED);
}

TEST(FlexPool, DestroyWithoutDrainDropsQueuedItemsAndSaysSo) {
    DebugCapture debug;
    Gate gate;
    Job held = [&] { gate.Pass(); };
    std::atomic<int> done{0};
    Job count = [&] { done.fetch_add(1); };
    YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(1, 60000, RunJob, 0);
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &held), 0);
    ASSERT_TRUE(gate.WaitArrivals(1));
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &count), 0);
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &count), 0);
    std::atomic<bool> returned{false};
    std::thread destroyer([&] {
        EXPECT_EQ(YAR_ThreadPoolFlex_Destroy(pool), 0);
        returned = true;
    });
    // The running item finishes first: destroy waits for it.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned.load());
    gate.Open();
    destroyer.join();
    EXPECT_EQ(done.load(), 0);
    EXPECT_TRUE(debug.Contains("YAR_ThreadPoolFlex_Destroy dropped 2 queued items\n"));
}

TEST(FlexPool, DestroyWithDrainRunsTheQueueFirst) {
    Gate gate;
    Job held = [&] { gate.Pass(); };
    std::atomic<int> done{0};
    Job count = [&] { done.fetch_add(1); };
    YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(2, 60000, RunJob, 0);
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &held), 0);
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &held), 0);
    ASSERT_TRUE(gate.WaitArrivals(2));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &count), 0);
    std::thread destroyer([&] { EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(pool, -1), 0); });
    // While it drains the pool takes no items and reports no count.
    ASSERT_TRUE(WaitFor([&] { return YAR_ThreadPoolFlex_GetWorkCount(pool) == -1; }));
    EXPECT_EQ(YAR_ThreadPoolFlex_Work(pool, &count), -1);
    gate.Open();
    destroyer.join();
    EXPECT_EQ(done.load(), 20);
}

TEST(FlexPool, DrainIsBoundedByTheWait) {
    std::atomic<int> started{0}, done{0};
    Job slow = [&] {
        started.fetch_add(1);
        std::this_thread::sleep_for(40ms);
        done.fetch_add(1);
    };
    YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(1, 60000, RunJob, 0);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &slow), 0);
    // The item that runs when the stop comes finishes; a worker not yet started would run none.
    ASSERT_TRUE(WaitFor([&] { return started.load() > 0; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(pool, 100), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_GE(done.load(), 1);
    EXPECT_LT(done.load(), 50);
}

TEST(FlexPool, DestroyFromItsOwnWorkerIsRefused) {
    DebugCapture debug;
    FlexPool flex(2, 60000);
    std::atomic<int> fromWorker{99};
    std::atomic<bool> done{false};
    Job selfDestroy = [&] {
        fromWorker = YAR_ThreadPoolFlex_DestroyEx(flex.pool, -1);
        done = true;
    };
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &selfDestroy), 0);
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    EXPECT_EQ(fromWorker.load(), -1);
    EXPECT_TRUE(debug.Contains(
        "YAR_ThreadPoolFlex_Destroy called from a worker of the same pool, refused, return -1\n"));
    // The pool keeps working and is destroyed normally from outside.
    std::atomic<int> count{0};
    Job after = [&] { count.fetch_add(1); };
    ASSERT_EQ(YAR_ThreadPoolFlex_Work(flex.pool, &after), 0);
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(flex.Release(), -1), 0);
    EXPECT_EQ(count.load(), 1);
}

TEST(FlexPool, ItemsRunInThePostersTraceContext) {
    std::mutex lock;
    std::vector<std::string> seen;
    Job record = [&] {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(CurrentTrace1());
    };
    YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(1, 60000, RunJob, 0);
    auto postFrom = [&](const char *text) {
        std::thread poster([&] {
            YAR_TRACE_INFO_T trace = Trace(text, "session", 7);
            if (*text) {
                ASSERT_EQ(YAR_SetThreadTraceInfo(&trace), 0);
            }
            ASSERT_EQ(YAR_ThreadPoolFlex_Work(pool, &record), 0);
            YAR_ClearThreadTraceInfo();
        });
        poster.join();
    };
    postFrom("first-poster");   // starts the worker, which inherits this context
    postFrom("second-poster");  // the same worker takes on each item's context
    postFrom("");               // a poster without context leaves the worker's as it was
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(pool, -1), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"first-poster", "second-poster", "second-poster"}));
}

// Posters from several threads against workers that start and retire all the time.
TEST(FlexPool, StressEveryAcceptedItemRunsOnce) {
    constexpr int kPosters = 4, kPerPoster = 5000;
    std::atomic<int> done{0};
    YAR_THREADPOOLFLEX_T *pool = YAR_ThreadPoolFlex_Create(8, 1, CountItem, 0x10000);
    std::atomic<int> accepted{0};
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([&] {
            for (int i = 0; i < kPerPoster; ++i) {
                if (YAR_ThreadPoolFlex_Work(pool, &done) == 0)
                    accepted.fetch_add(1);
                if (i % 512 == 0)
                    std::this_thread::sleep_for(2ms);  // let workers time out and retire
            }
        });
    for (std::thread &t : posters)
        t.join();
    EXPECT_EQ(YAR_ThreadPoolFlex_DestroyEx(pool, -1), 0);
    EXPECT_EQ(accepted.load(), kPosters * kPerPoster);
    EXPECT_EQ(done.load(), accepted.load());
}
