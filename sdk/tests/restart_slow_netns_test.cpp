// The address-check restart: after an adapter's address changes, the services start again and
// their inquiries leave from the new address; a stop while the check is under way neither hangs
// nor leaves threads behind. Slow: the restart waits 10 s for the addresses to settle.
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;

namespace {

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
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(WaitFor([&] { return HeardFrom(kHostAddr); }));
    }

    bool HeardFrom(const std::string &addr) { return ReadFile(out / "sources").find(addr + "\n") != std::string::npos; }

    void MoveHostAddress(const std::string &cidr) {
        lab.Ip(host, "addr flush dev h1");
        lab.AddAddr(host, "h1", cidr);
    }

    zeva::test::NetnsLab lab;
    std::string host, peer;
    ScratchDir out;
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

}  // namespace
