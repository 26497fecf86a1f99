#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_debug.h"
#include "yar/yar_timer.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<int64_t> firstUs{-1};
    Clock::time_point start = Clock::now();
    uint32_t id = 0;
    bool killSelf = false;
    std::atomic<int> killResult{99};
};

void Count(uint32_t id, void *user) {
    Counter *c = static_cast<Counter *>(user);
    if (c->calls.fetch_add(1) == 0)
        c->firstUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - c->start).count();
    if (c->killSelf && c->calls.load() == 3)
        c->killResult = YAR_KillTimer(id);
}

class Timer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(YAR_Timer_Init(), 0); }
    void TearDown() override { YAR_Timer_Fini(); }
};

TEST_F(Timer, PeriodicCallsKeepTheirPeriodAndStopAtKill) {
    Counter c;
    ASSERT_EQ(YAR_SetTimer(Count, &c, 50, &c.id, 0), 0);
    std::this_thread::sleep_for(milliseconds(1000));
    ASSERT_EQ(YAR_KillTimer(c.id), 0);
    const auto elapsedMs = std::chrono::duration_cast<milliseconds>(Clock::now() - c.start).count();
    int calls = c.calls.load();
    // Never more than one call per period (plus the first), however long this thread slept; missed
    // periods on a loaded machine are coalesced, so the lower bound is wide.
    EXPECT_GE(calls, 5);
    EXPECT_LE(calls, elapsedMs / 50 + 2) << elapsedMs << " ms";
    EXPECT_GE(c.firstUs.load(), 0);
    EXPECT_LT(c.firstUs.load(), 200000);
    std::this_thread::sleep_for(milliseconds(120));
    EXPECT_EQ(c.calls.load(), calls) << "a callback ran after the kill returned";
}

TEST_F(Timer, PeriodZeroCallsOnce) {
    Counter c;
    ASSERT_EQ(YAR_SetTimer(Count, &c, 0, &c.id, 1), 0);
    for (int i = 0; i < 1000 && c.calls.load() == 0; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    std::this_thread::sleep_for(milliseconds(200));  // time for a second call that must not come
    EXPECT_EQ(c.calls.load(), 1);
    EXPECT_EQ(YAR_KillTimer(c.id), 0);
}

TEST_F(Timer, KillActsOnlyOnASlotInUse) {
    Counter c;
    ASSERT_EQ(YAR_SetTimer(Count, &c, 10, &c.id, 0), 0);
    EXPECT_EQ(YAR_KillTimer(c.id), 0);
    EXPECT_EQ(YAR_KillTimer(c.id), -1);
    EXPECT_EQ(YAR_KillTimer(999), -1);
    EXPECT_EQ(YAR_KillTimer(YAR_TIMER_MAX), -1);
    EXPECT_EQ(YAR_SetTimer(Count, &c, 10, nullptr, 0), -1);
}

TEST_F(Timer, FreedSlotsAreReusedInIndexOrder) {
    Counter a, b, c;
    ASSERT_EQ(YAR_SetTimer(Count, &a, 1000, &a.id, 0), 0);
    ASSERT_EQ(YAR_SetTimer(Count, &b, 1000, &b.id, 0), 0);
    EXPECT_EQ(a.id, 0u);
    EXPECT_EQ(b.id, 1u);
    ASSERT_EQ(YAR_KillTimer(a.id), 0);
    ASSERT_EQ(YAR_SetTimer(Count, &c, 1000, &c.id, 0), 0);
    EXPECT_EQ(c.id, 0u);
    // Stopped before the counters go away.
    EXPECT_EQ(YAR_KillTimer(b.id), 0);
    EXPECT_EQ(YAR_KillTimer(c.id), 0);
}

TEST_F(Timer, KillFromInsideTheCallbackEndsTheTimer) {
    Counter c;
    c.killSelf = true;
    ASSERT_EQ(YAR_SetTimer(Count, &c, 10, &c.id, 0), 0);
    for (int i = 0; i < 300 && c.killResult.load() == 99; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(c.killResult.load(), 0);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(c.calls.load(), 3);
    EXPECT_EQ(YAR_KillTimer(c.id), -1);
    // The slot is free again at once.
    Counter d;
    ASSERT_EQ(YAR_SetTimer(Count, &d, 1000, &d.id, 0), 0);
    EXPECT_EQ(d.id, c.id);
    EXPECT_EQ(YAR_KillTimer(d.id), 0);
}

void Capture(const char *text, void *user) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    static_cast<std::vector<std::string> *>(user)->push_back(text);
}

TEST_F(Timer, TableFullReportsAndRefuses) {
    std::vector<std::string> texts;
    YAR_DEBUG_SINK previous = YAR_SetDebugSink(Capture, &texts);
    Counter c;
    uint32_t id = 0;
    int started = 0;
    while (started <= YAR_TIMER_MAX && YAR_SetTimer(nullptr, &c, 60000, &id, 0) == 0)
        ++started;
    EXPECT_EQ(started, YAR_TIMER_MAX);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "YAR_SetTimer MAX_EVENT error\n");
    ASSERT_EQ(YAR_KillTimer(500), 0);
    ASSERT_EQ(YAR_SetTimer(nullptr, &c, 60000, &id, 0), 0);
    EXPECT_EQ(id, 500u);
    YAR_Timer_Fini();  // stops all thousand
    YAR_SetDebugSink(previous, nullptr);
    EXPECT_EQ(YAR_KillTimer(0), -1);
}

}  // namespace
