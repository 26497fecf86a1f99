// The address-check restart: after an adapter's address changes, the services start again and
// their inquiries leave from the new address; a stop while the check waits or while the restart
// runs neither hangs nor leaves threads behind. Slow: the restart waits 10 s for the addresses to
// settle.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;
using zeva::test::Sh;

namespace {

// A new-device callback that, while closed, keeps the export that reported the device (and with
// it the interface lock) waiting.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool closed = false, inside = false;

    static void OnDevice(ZEVA_DEVICE_INFO *, void *user) {
        Gate *self = static_cast<Gate *>(user);
        std::unique_lock<std::mutex> guard(self->lock);
        self->inside = true;
        self->changed.notify_all();
        self->changed.wait(guard, [self] { return !self->closed; });
    }
    void Close() {
        std::lock_guard<std::mutex> guard(lock);
        closed = true;
    }
    bool WaitInside() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), [this] { return inside; });
    }
    void Open() {
        std::lock_guard<std::mutex> guard(lock);
        closed = false;
        changed.notify_all();
    }
};

class Restart : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        AddHostAndPeer(lab, host, peer);
        StartPeer(lab, peer, "sources " + out.Path() + " " + kPeerAddr);
        ASSERT_TRUE(WaitFor([&] { return FileExists(out / "ready"); }));
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
        threads = ThreadBaseline();
        // Inquiries every second, so the peer hears which address they leave from.
        zeva.ZEVA_SetAutoRequestInterval(1);
        ASSERT_EQ(1, zeva.ZEVA_SetLogToFile(3, logs.Path().c_str(), 0));
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, Gate::OnDevice, nullptr, &gate));
        ASSERT_TRUE(WaitFor([&] { return HeardFrom(kHostAddr); }));
    }

    bool HeardFrom(const std::string &addr) { return ReadFile(out / "sources").find(addr + "\n") != std::string::npos; }

    void MoveHostAddress(const std::string &cidr) {
        lab.Ip(host, "addr flush dev h1");
        lab.AddAddr(host, "h1", cidr);
    }

    bool Logged(const std::string &line) { return Sh("grep -rqF '" + line + "' " + logs.Path()).status == 0; }

    zeva::test::NetnsLab lab;
    std::string host, peer;
    ScratchDir out, logs;
    Gate gate;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ZevaLib zeva;
    int threads = 0;
};

TEST_F(Restart, InquiriesLeaveFromTheNewAddress) {
    MoveHostAddress("10.77.1.5/24");
    EXPECT_TRUE(WaitFor([&] { return HeardFrom("10.77.1.5"); }, 40000)) << ReadFile(out / "sources");
    EXPECT_EQ(1, zeva.ZEVA_Stop());
    EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; }));
}

TEST_F(Restart, StopDuringTheCheckIsPrompt) {
    // The next inquiry fails to send and the check thread rescans and waits for the restart.
    MoveHostAddress("10.77.1.6/24");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, zeva.ZEVA_Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; }));
    // A new start works on the new address.
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(WaitFor([&] { return HeardFrom("10.77.1.6"); }));
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

// The stop comes while the restart after an address change runs: the restart waits for the
// interface lock that an export holds, and the stop is queued for that lock before it.
TEST_F(Restart, StopDuringTheRestartIsPrompt) {
    const std::string answer = "<Probe><Types>hello</Types><MAC>02-aa-00-00-00-01</MAC><DeviceSN>SN</DeviceSN></Probe>";
    gate.Close();
    std::thread holder([&] { zeva.ZEVA_ParseData(const_cast<char *>(answer.data()), uint32_t(answer.size())); });
    if (!gate.WaitInside()) {
        gate.Open();
        holder.join();
        FAIL() << "the device was not reported";
    }
    MoveHostAddress("10.77.1.7/24");
    // The restart begins only after the 10 s the addresses get to settle: the stop waits first.
    std::promise<int> stopped;
    std::future<int> result = stopped.get_future();
    std::thread stopper([&] { stopped.set_value(zeva.ZEVA_Stop()); });
    EXPECT_TRUE(WaitFor([&] { return Logged("[CGlobalCtrl::LocalCheckIPThread] IP address changed[1]"); }, 40000));
    gate.Open();
    holder.join();
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "ZEVA_Stop hangs against the restart";
        std::fflush(nullptr);
        _exit(1);  // the stuck threads cannot be joined
    }
    stopper.join();
    EXPECT_EQ(1, result.get());
    EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; })) << CountThreads() << " threads";
}

}  // namespace
