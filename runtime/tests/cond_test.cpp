#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_cond.h"
#include "yar/yar_error.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// How late a loaded machine (sanitizers, parallel builds) may wake a thread whose wait ended.
constexpr int64_t kLoadMarginMs = 500;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class Cond : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(YAR_MutexCreate(&section_, 0), 0);
        ASSERT_EQ(YAR_CondCreate(&cond_), 0);
    }
    void TearDown() override {
        EXPECT_EQ(YAR_CondDestroy(&cond_), 0);
        YAR_MutexDestroy(&section_);
    }

    // Starts `count` threads that each wait once with `timeoutMs`, and returns once all of them
    // are inside the wait. results[i] receives each wait's result.
    std::vector<std::thread> StartWaiters(int count, int32_t timeoutMs, std::vector<int> &results) {
        results.assign(count, 99);
        std::vector<std::thread> threads;
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, i, timeoutMs, &results] {
                YAR_MutexLock(&section_);
                ++inside_;  // counted and waiting in one hold of the section
                results[i] = YAR_CondTimedWait(&cond_, &section_, timeoutMs);
                YAR_MutexUnlock(&section_);
            });
        for (;;) {
            YAR_MutexLock(&section_);
            bool all = inside_ == count;
            YAR_MutexUnlock(&section_);
            if (all)
                return threads;
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    YAR_MUTEX_T section_;
    YAR_COND_T cond_ = nullptr;
    int inside_ = 0;
};

int Count(const std::vector<int> &results, int value) {
    int n = 0;
    for (int r : results)
        n += r == value;
    return n;
}

}  // namespace

TEST(CondNull, RefusesMissingRecordOrSection) {
    YAR_COND_T none = nullptr;
    YAR_MUTEX_T section;
    YAR_MutexCreate(&section, 0);
    EXPECT_EQ(YAR_CondCreate(nullptr), -1);
    EXPECT_EQ(YAR_CondDestroy(&none), -1);
    EXPECT_EQ(YAR_CondDestroy(nullptr), -1);
    EXPECT_EQ(YAR_CondSignal(&none), -1);
    EXPECT_EQ(YAR_CondBroadcast(nullptr), -1);
    EXPECT_EQ(YAR_CondWait(&none, &section), -1);
    YAR_COND_T cond;
    ASSERT_EQ(YAR_CondCreate(&cond), 0);
    EXPECT_EQ(YAR_CondWait(&cond, nullptr), -1);
    EXPECT_EQ(YAR_CondTimedWait(&cond, nullptr, 10), -1);
    YAR_CondDestroy(&cond);
    YAR_MutexDestroy(&section);
}

TEST_F(Cond, SignalsWithoutWaitersAreNotRemembered) {
    EXPECT_EQ(YAR_CondSignal(&cond_), 0);
    EXPECT_EQ(YAR_CondBroadcast(&cond_), 0);
    YAR_MutexLock(&section_);
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 50), -1);
    YAR_MutexUnlock(&section_);
}

TEST_F(Cond, TimeOutReturnsWithTheSectionHeld) {
    YAR_MutexLock(&section_);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 120), -1);
    EXPECT_GE(MsSince(start), 115);
    EXPECT_LT(MsSince(start), 120 + kLoadMarginMs);
    int elsewhere = 0;
    std::thread([&] { elsewhere = YAR_MutexTryLock(&section_); }).join();
    EXPECT_EQ(elsewhere, -1);
    YAR_MutexUnlock(&section_);
}

TEST_F(Cond, OneSignalReleasesExactlyOneWaiter) {
    std::vector<int> results;
    // A time-out long enough that a loaded machine cannot let both run out before the signal.
    auto threads = StartWaiters(2, 1500, results);
    Clock::time_point start = Clock::now();
    YAR_MutexLock(&section_);
    EXPECT_EQ(YAR_CondSignal(&cond_), 0);
    YAR_MutexUnlock(&section_);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(Count(results, 0), 1);
    EXPECT_EQ(Count(results, -1), 1);
    // The second waited for its time-out, counted from before the signal.
    EXPECT_GE(MsSince(start), 1000);
    EXPECT_LT(MsSince(start), 1500 + kLoadMarginMs);
    // Nothing is left over for a later waiter.
    YAR_MutexLock(&section_);
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 30), -1);
    YAR_MutexUnlock(&section_);
}

TEST_F(Cond, BroadcastReleasesAllCurrentWaitersOnly) {
    std::vector<int> results;
    auto threads = StartWaiters(3, 5000, results);
    YAR_MutexLock(&section_);
    EXPECT_EQ(YAR_CondBroadcast(&cond_), 0);
    // This thread starts waiting after the broadcast: it must not be released by it.
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 100), -1);
    YAR_MutexUnlock(&section_);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(Count(results, 0), 3);
}

TEST_F(Cond, LaterWaiterCannotStealASignal) {
    std::vector<int> results;
    auto threads = StartWaiters(1, 5000, results);
    YAR_MutexLock(&section_);
    YAR_CondSignal(&cond_);
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 100), -1);
    YAR_MutexUnlock(&section_);
    threads[0].join();
    EXPECT_EQ(results[0], 0);
}

// Wake-ups of the underlying pthread condition that bring no signal (as the kernel may give
// them) must not restart the time-out: the wait still ends 300 ms after it began.
TEST_F(Cond, WakeUpsWithoutASignalKeepTheDeadline) {
    // The record starts with its pthread condition.
    pthread_cond_t *raw = reinterpret_cast<pthread_cond_t *>(cond_);
    std::atomic<bool> waiting{true};
    std::thread waker([&] {
        // Bounded, so that a wait that never ends cannot hold the test.
        for (int i = 0; i < 100 && waiting; ++i) {
            std::this_thread::sleep_for(milliseconds(40));
            pthread_cond_broadcast(raw);
        }
    });
    YAR_MutexLock(&section_);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(YAR_CondTimedWait(&cond_, &section_, 300), -1);
    const int64_t waited = MsSince(start);
    YAR_MutexUnlock(&section_);
    waiting = false;
    waker.join();
    EXPECT_GE(waited, 295);
    EXPECT_LT(waited, 300 + kLoadMarginMs);
}

TEST_F(Cond, ProducersAndConsumersLoseNoWakeUp) {
    constexpr int kPerProducer = 2000, kProducers = 3, kConsumers = 3;
    int queued = 0, consumed = 0;
    bool timedOut = false;
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsumers; ++c)
        threads.emplace_back([&] {
            YAR_MutexLock(&section_);
            while (consumed < kPerProducer * kProducers) {
                if (queued == 0) {
                    if (YAR_CondTimedWait(&cond_, &section_, 5000) != 0 && queued == 0 &&
                        consumed < kPerProducer * kProducers)
                        timedOut = true;
                    if (timedOut)
                        break;
                    continue;
                }
                --queued;
                ++consumed;
                if (consumed == kPerProducer * kProducers)
                    YAR_CondBroadcast(&cond_);  // let the other consumers leave
            }
            YAR_MutexUnlock(&section_);
        });
    for (int p = 0; p < kProducers; ++p)
        threads.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i) {
                yar::yar_guard guard(&section_);
                ++queued;
                YAR_CondSignal(&cond_);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(consumed, kPerProducer * kProducers);
}

TEST(CondClass, WaitsAndSignals) {
    yar::yar_cond cond;
    yar::yar_mutex section;
    EXPECT_EQ(cond.Wait(nullptr), -1);
    section.Lock();
    EXPECT_EQ(cond.TimedWait(section.Native(), 20), -1);
    std::thread waker([&] {
        section.Lock();
        cond.Signal();
        section.Unlock();
    });
    EXPECT_EQ(cond.TimedWait(section.Native(), 5000), 0);
    section.Unlock();
    waker.join();
    EXPECT_EQ(cond.Broadcast(), 0);
}

TEST(Sem, CountsAndMaximum) {
    struct Case { int32_t initial; int32_t takes; int posts; int lastPost; };
    const Case cases[] = {
        {0, 0, 1, 0},
        {3, 3, 0, 0},
        {0xFFFE, 0xFFFE, 2, -1},  // the second post would pass 0xFFFF
        {0xFFFF, 0, 1, -1},
    };
    for (const Case &c : cases) {
        YAR_SEM_T sem;
        ASSERT_EQ(YAR_SemCreate(&sem, c.initial), 0);
        int lastPost = 0;
        for (int i = 0; i < c.posts; ++i)
            lastPost = YAR_SemPost(&sem);
        EXPECT_EQ(lastPost, c.lastPost) << "initial " << c.initial;
        if (c.lastPost == -1) {
            EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_TOO_MANY_POSTS);
        }
        int32_t available = c.initial + c.posts - (c.lastPost == -1 ? 1 : 0);
        for (int32_t i = 0; i < available; ++i)
            ASSERT_EQ(YAR_SemTimedWait(&sem, 0), 0) << "initial " << c.initial << " take " << i;
        EXPECT_EQ(YAR_SemTimedWait(&sem, 0), -1) << "initial " << c.initial;
        EXPECT_EQ(YAR_SemDestroy(&sem), 0);
    }
}

TEST(Sem, RefusesBadArguments) {
    YAR_SEM_T sem = reinterpret_cast<YAR_SEM_T>(0x1);
    EXPECT_EQ(YAR_SemCreate(&sem, 0x10000), -1);
    EXPECT_EQ(YAR_SemCreate(&sem, -1), -1);
    EXPECT_EQ(sem, reinterpret_cast<YAR_SEM_T>(0x1));  // not written on failure
    EXPECT_EQ(YAR_SemCreate(nullptr, 0), -1);
    EXPECT_EQ(YAR_SemDestroy(nullptr), -1);
    EXPECT_EQ(YAR_SemWait(nullptr), -1);
    EXPECT_EQ(YAR_SemTimedWait(nullptr, 0), -1);
    EXPECT_EQ(YAR_SemPost(nullptr), -1);
}

TEST(Sem, TimedWaitTimesOutAndPostWakesAWaiter) {
    YAR_SEM_T sem;
    ASSERT_EQ(YAR_SemCreate(&sem, 0), 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(YAR_SemTimedWait(&sem, 100), -1);
    EXPECT_GE(MsSince(start), 95);
    int waited = 99;
    std::thread waiter([&] { waited = YAR_SemWait(&sem); });
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(YAR_SemPost(&sem), 0);
    waiter.join();
    EXPECT_EQ(waited, 0);
    YAR_SemDestroy(&sem);
}

// The waiter destroys the semaphore as soon as the post wakes it.
TEST(Sem, DestroyRightAfterTheWakeIsSafe) {
    for (int i = 0; i < 300; ++i) {
        YAR_SEM_T sem;
        ASSERT_EQ(YAR_SemCreate(&sem, 0), 0);
        std::thread poster([sem]() mutable { YAR_SemPost(&sem); });
        ASSERT_EQ(YAR_SemWait(&sem), 0);
        YAR_SemDestroy(&sem);
        poster.join();
    }
}

TEST(SemClass, NegativeTimeOutWaitsForever) {
    yar::yar_sem sem;
    std::atomic<int> result{99};
    std::thread waiter([&] { result = sem.TimedWait(-5); });
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(result.load(), 99);
    EXPECT_EQ(sem.Post(7), 0);  // one unit, whatever the argument
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(sem.TimedWait(0), -1);
}

TEST(SemClass, LargeMaximumAndRecreate) {
    yar::yar_sem sem(0x10000);  // above the plain semaphores' maximum
    EXPECT_EQ(sem.Post(), 0);
    EXPECT_EQ(sem.Destroy(), 0);
    EXPECT_EQ(sem.Post(), -1);
    EXPECT_EQ(sem.Create(1), 0);
    EXPECT_EQ(sem.TimedWait(0), 0);
    EXPECT_EQ(sem.TimedWait(0), -1);
}

TEST(SemaphoreClass, OwnMaximum) {
    yar::yar_semaphore sem(1, 2);
    EXPECT_EQ(sem.Post(), 0);
    EXPECT_EQ(sem.Post(), -1);
    EXPECT_EQ(sem.Wait(), 0);
    EXPECT_EQ(sem.TimedWait(10), 0);
    EXPECT_EQ(sem.TimedWait(10), -1);
}
