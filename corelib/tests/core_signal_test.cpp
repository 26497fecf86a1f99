// The counting signal and the pause/resume handshake with a real worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "GlobalCtrl/CoreSignal.h"

using namespace Vorezi;

namespace {

TEST(CoreSignal, PostWaitAndLifecycle) {
    CCoreSignal sig;
    EXPECT_EQ(sig.Post(), 0);  // not created
    EXPECT_EQ(sig.Wait(), 0);
    EXPECT_EQ(sig.Destroy(), 1);
    ASSERT_EQ(sig.Create(), 1);
    EXPECT_EQ(sig.TimedWait(0), 0);
    EXPECT_EQ(sig.TimedWait(20), 0);

    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sig.Post();
    });
    EXPECT_EQ(sig.Wait(), 1);
    poster.join();
    EXPECT_EQ(sig.Post(), 1);
    EXPECT_EQ(sig.Post(), 1);
    EXPECT_EQ(sig.TimedWait(0), 1);  // counting: two posts, two takes
    EXPECT_EQ(sig.TimedWait(0xFFFFFFFF), 1);
    EXPECT_EQ(sig.TimedWait(0), 0);
    EXPECT_EQ(sig.Destroy(), 1);
    EXPECT_EQ(sig.Post(), 0);
}

TEST(MultiThreadControl, HandshakeWithAWorker) {
    CMultiThreadControl ctl;
    ASSERT_TRUE(ctl.CheckResource());
    std::atomic<int> iRounds{0};
    std::atomic<bool> bQuit{false};
    ctl.Start();
    std::thread worker([&] {
        while (!bQuit) {
            ctl.CheckPause();
            iRounds++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(iRounds.load(), 0);  // parked at its first pause point

    ctl.Resume();
    while (iRounds.load() < 5)
        std::this_thread::yield();
    ctl.Pause();  // returns once the worker is parked
    int iParkedAt = iRounds.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_LE(iRounds.load(), iParkedAt + 1);
    ctl.Pause();  // already paused: returns without a second request

    ctl.Resume();
    while (iRounds.load() < iParkedAt + 5)
        std::this_thread::yield();
    ctl.Stop();
    bQuit = true;
    worker.join();
    ctl.Pause();  // a stopped worker: returns at once
}

}  // namespace
