#include <climits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/refuse_mutex_lock.h"
#include "yar/yar_mutex.h"

namespace {

// TryLock from a thread that is not the owner.
int TryLockElsewhere(YAR_MUTEX_T *m) {
    int result = 0;
    std::thread([&] {
        result = YAR_MutexTryLock(m);
        if (result == 0)
            YAR_MutexUnlock(m);
    }).join();
    return result;
}

class Mutex : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(YAR_MutexCreate(&m_, 0), 0); }
    void TearDown() override { EXPECT_EQ(YAR_MutexDestroy(&m_), 0); }
    YAR_MUTEX_T m_;
};

}  // namespace

TEST(MutexNull, EveryFunctionRefusesNull) {
    EXPECT_EQ(YAR_MutexCreate(nullptr, 0), -1);
    EXPECT_EQ(YAR_MutexLock(nullptr), -1);
    EXPECT_EQ(YAR_MutexTryLock(nullptr), -1);
    EXPECT_EQ(YAR_MutexUnlock(nullptr), -1);
    EXPECT_EQ(YAR_MutexDestroy(nullptr), -1);
}

TEST_F(Mutex, OwnerReentersAndEveryLockNeedsItsUnlock) {
    for (int depth : {1, 2, 5}) {
        for (int i = 0; i < depth; ++i)
            ASSERT_EQ(i % 2 ? YAR_MutexTryLock(&m_) : YAR_MutexLock(&m_), 0) << "depth " << depth;
        for (int i = 0; i < depth; ++i) {
            EXPECT_EQ(TryLockElsewhere(&m_), -1) << "depth " << depth << " after " << i << " unlocks";
            ASSERT_EQ(YAR_MutexUnlock(&m_), 0);
        }
        EXPECT_EQ(TryLockElsewhere(&m_), 0) << "depth " << depth;
    }
}

TEST_F(Mutex, GuardHoldsUntilReleaseAndLeavesOnce) {
    {
        yar::yar_guard guard(&m_);
        EXPECT_EQ(TryLockElsewhere(&m_), -1);
        EXPECT_EQ(guard.Release(), &m_);
        EXPECT_EQ(TryLockElsewhere(&m_), 0);
        EXPECT_EQ(guard.Release(), nullptr);
    }
    // Held once by hand, once by a guard that is released and destroyed: one lock must remain.
    ASSERT_EQ(YAR_MutexLock(&m_), 0);
    {
        yar::yar_guard guard(&m_);
        guard.Release();
    }
    EXPECT_EQ(TryLockElsewhere(&m_), -1);
    YAR_MutexUnlock(&m_);
    {
        yar::yar_guard guard(&m_);
    }
    EXPECT_EQ(TryLockElsewhere(&m_), 0);
}

TEST(MutexGuard, NullGuardDoesNothing) {
    yar::yar_guard guard(nullptr);
    EXPECT_FALSE(guard.IsLocked());
    EXPECT_EQ(guard.Release(), nullptr);
}

TEST_F(Mutex, GuardTellsWhetherItHoldsAndLeavesOnlyWhatItTook) {
    {
        yar::yar_guard guard(&m_);
        EXPECT_TRUE(guard.IsLocked());
        guard.Release();
        EXPECT_FALSE(guard.IsLocked());
    }
    // Held once by hand; a guard whose lock fails must neither count as held nor leave the
    // hand's lock on its way out.
    ASSERT_EQ(YAR_MutexLock(&m_), 0);
    {
        g_bRefuseNextMutexLock = true;
        yar::yar_guard guard(&m_);
        EXPECT_FALSE(g_bRefuseNextMutexLock);
        EXPECT_FALSE(guard.IsLocked());
        EXPECT_EQ(guard.Release(), nullptr);
    }
    EXPECT_EQ(TryLockElsewhere(&m_), -1);
    YAR_MutexUnlock(&m_);
    EXPECT_EQ(TryLockElsewhere(&m_), 0);
}

TEST_F(Mutex, GuardsExcludeOtherThreads) {
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                yar::yar_guard outer(&m_);
                yar::yar_guard inner(&m_);  // re-entry inside a held section
                ++counter;
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
}

template <typename T>
class MutexClass : public ::testing::Test {};
using MutexClasses = ::testing::Types<yar::yar_mutex, yar::yar_recursive_mutex>;
TYPED_TEST_SUITE(MutexClass, MutexClasses);

TYPED_TEST(MutexClass, IsRecursiveAndExcludesOthers) {
    TypeParam m;
    ASSERT_EQ(m.Lock(), 0);
    ASSERT_EQ(m.TryLock(), 0);
    EXPECT_EQ(TryLockElsewhere(m.Native()), -1);
    EXPECT_EQ(m.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(m.Native()), -1);
    EXPECT_EQ(m.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(m.Native()), 0);
}

TEST(Atomic, Results) {
    struct Case {
        const char *what;
        int32_t start;
        int32_t (*op)(int32_t *);
        int32_t result;
        int32_t after;
    };
    const Case cases[] = {
        {"inc returns the new value", 5, [](int32_t *c) { return YAR_AtomicInc(c); }, 6, 6},
        {"dec returns the new value", 1, [](int32_t *c) { return YAR_AtomicDec(c); }, 0, 0},
        {"inc wraps", INT32_MAX, [](int32_t *c) { return YAR_AtomicInc(c); }, INT32_MIN, INT32_MIN},
        {"add returns the previous value", 5, [](int32_t *c) { return YAR_AtomicAdd(c, -7); }, 5, -2},
        {"set returns the previous value", 5, [](int32_t *c) { return YAR_AtomicSet(c, 9); }, 5, 9},
        {"cas matching", 5, [](int32_t *c) { return YAR_AtomicCas(c, 7, 5); }, 5, 7},
        {"cas not matching", 5, [](int32_t *c) { return YAR_AtomicCas(c, 7, 4); }, 5, 5},
    };
    for (const Case &c : cases) {
        int32_t counter = c.start;
        EXPECT_EQ(c.op(&counter), c.result) << c.what;
        EXPECT_EQ(counter, c.after) << c.what;
    }
}

// A reference count: exactly one decrement must see 0, and no increment may be lost.
TEST(Atomic, ConcurrentCountSeesZeroOnce) {
    int32_t refs = 0;
    int32_t zeroSeen = 0;
    constexpr int kThreads = 8, kRounds = 10000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i)
                YAR_AtomicInc(&refs);
        });
    for (auto &t : threads)
        t.join();
    threads.clear();
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i)
                if (YAR_AtomicDec(&refs) == 0)
                    YAR_AtomicInc(&zeroSeen);
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(refs, 0);
    EXPECT_EQ(zeroSeen, 1);
}

TEST(Atomic, CasLoopCountsExactly) {
    int32_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                int32_t seen;
                do
                    seen = __atomic_load_n(&counter, __ATOMIC_SEQ_CST);
                while (YAR_AtomicCas(&counter, seen + 1, seen) != seen);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
}
