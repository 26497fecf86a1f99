#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_alarm.h"

using namespace std::chrono_literals;

namespace {

// Collects the ids in the order the worker fires them.
class Fired {
public:
    static void Record(yar::CAlarmClock *, int32_t id, void *self) {
        auto *fired = static_cast<Fired *>(self);
        std::lock_guard<std::mutex> lock(fired->m_lock);
        fired->m_ids.push_back(id);
        fired->m_changed.notify_all();
    }
    // Waits (generously) until `count` alarms fired and returns the ids.
    std::vector<int32_t> WaitFor(size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, limit, [&] { return m_ids.size() >= count; });
        return m_ids;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int32_t> m_ids;
};

}  // namespace

TEST(AlarmClock, FiresInDueOrderAndTiesInTheOrderAdded) {
    struct Alarm { int32_t id; int64_t delayMs; };
    const Alarm alarms[] = {{1, 150}, {2, 50}, {3, 50}, {4, -5}, {5, 100}, {6, 0}};
    yar::CAlarmClock clock;
    Fired fired;
    // Added before the start: they fire once the worker runs.
    for (const Alarm &a : alarms)
        ASSERT_TRUE(clock.AddAlarm(a.id, &Fired::Record, &fired, a.delayMs));
    ASSERT_TRUE(clock.Start());
    EXPECT_EQ(fired.WaitFor(6), (std::vector<int32_t>{4, 6, 2, 3, 5, 1}));
}

TEST(AlarmClock, AnEarlierAlarmWakesTheWaitingWorker) {
    yar::CAlarmClock clock;
    Fired fired;
    ASSERT_TRUE(clock.Start());
    ASSERT_TRUE(clock.AddAlarm(1, &Fired::Record, &fired, 60000));
    std::this_thread::sleep_for(20ms);  // the worker now waits for alarm 1
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(clock.AddAlarm(2, &Fired::Record, &fired, 10));
    EXPECT_EQ(fired.WaitFor(1), std::vector<int32_t>{2});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(AlarmClock, DuplicateIdsAndRemoval) {
    yar::CAlarmClock clock;
    Fired fired;
    ASSERT_TRUE(clock.Start());
    EXPECT_TRUE(clock.AddAlarm(7, &Fired::Record, &fired, 60000));
    EXPECT_FALSE(clock.AddAlarm(7, &Fired::Record, &fired, 0));  // refused, the old one stays
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(fired.WaitFor(1, 0ms).empty());
    EXPECT_TRUE(clock.RemoveAlarm(7));
    EXPECT_FALSE(clock.RemoveAlarm(7));
    EXPECT_FALSE(clock.RemoveAlarm(99));

    EXPECT_TRUE(clock.AddAlarm(8, &Fired::Record, &fired, 0));
    EXPECT_EQ(fired.WaitFor(1), std::vector<int32_t>{8});
    EXPECT_FALSE(clock.RemoveAlarm(8));  // already fired and forgotten
    EXPECT_TRUE(clock.AddAlarm(8, &Fired::Record, &fired, 0));  // so the id is free again
    EXPECT_EQ(fired.WaitFor(2), (std::vector<int32_t>{8, 8}));
}

TEST(AlarmClock, ACallbackMayReArmItself) {
    struct Rearm {
        std::atomic<int> runs{0};
        Fired fired;
        static void Run(yar::CAlarmClock *clock, int32_t id, void *self) {
            auto *r = static_cast<Rearm *>(self);
            if (++r->runs < 3)
                clock->AddAlarm(id, &Rearm::Run, r, 1);
            else
                Fired::Record(clock, id, &r->fired);
        }
    } rearm;
    yar::CAlarmClock clock;
    ASSERT_TRUE(clock.AddAlarm(5, &Rearm::Run, &rearm, 0));
    ASSERT_TRUE(clock.Start());
    EXPECT_EQ(rearm.fired.WaitFor(1), std::vector<int32_t>{5});
    EXPECT_EQ(rearm.runs.load(), 3);
}

TEST(AlarmClock, AStoppedClockNeverFiresAgain) {
    yar::CAlarmClock clock;
    Fired fired;
    ASSERT_TRUE(clock.Start());
    ASSERT_TRUE(clock.AddAlarm(1, &Fired::Record, &fired, 60000));
    clock.Stop();  // drops alarm 1
    EXPECT_FALSE(clock.RemoveAlarm(1));
    EXPECT_TRUE(clock.Start());  // a worker that ends at once
    EXPECT_TRUE(clock.AddAlarm(2, &Fired::Record, &fired, 0));
    EXPECT_TRUE(fired.WaitFor(1, 100ms).empty());
    clock.Stop();
    clock.Stop();  // a second stop is harmless
}
