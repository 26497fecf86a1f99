// The endpoints against the independent Python peer (tests/peers/rudp_peer.py), both ways:
// version negotiation, every size class, the INIT rate limit, a repeated INIT after a lost
// INIT-ACK, a new attempt from the same address, FIN and HEART; and the client against the
// peer's server at every version.
#include <cstdio>
#include <string>

#include "transport/vrudp/VRUDPClock.h"
#include "vrudp_test_util.h"

using namespace vrudptest;

namespace {

std::string PeerCommand(const std::string &args) {
    return std::string("python3 ") + RUDP_PEER + " " + args;
}

// Runs the peer to its end: its exit status and what it printed.
int RunPeer(const std::string &args, std::string *pOut = nullptr) {
    FILE *f = popen(PeerCommand(args).c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    while (fgets(line, sizeof line, f))
        if (pOut)
            *pOut += line;
    int st = pclose(f);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class PeerClientTest : public servicetest::InitedTest, public testing::WithParamInterface<const char *> {};

TEST_P(PeerClientTest, AgainstServerEndpoint) {
    Server srv;
    ASSERT_TRUE(srv.Start(true));
    std::string out;
    // The rate window is 200 ms of the transports' clock: held still, the burst stays inside it
    // however slowly this build runs.
    bool bHold = std::string(GetParam()) == "rate";
    VRUDP_HoldTickForTest(bHold);
    EXPECT_EQ(RunPeer(std::string("client --port ") + std::to_string(srv.wPort) + " --case " + GetParam(), &out), 0);
    VRUDP_HoldTickForTest(false);
    if (std::string(GetParam()) == "new_code") {
        // The replaced connection was reported closed to the user.
        int iOld = std::stoi(out);
        ASSERT_TRUE(servicetest::WaitFor([&] { return srv.col.Count(VRUDP_MSG_CLOSE) == 1; }, 2000));
        for (const auto &e : srv.col.Events())
            if (e.iKind == VRUDP_MSG_CLOSE) {
                EXPECT_EQ(e.iHandle, iOld);
                EXPECT_EQ(e.iReliable, 1);
            }
    }
    COM_VRUDP_Close(srv.iHandle);
}

INSTANTIATE_TEST_SUITE_P(Cases, PeerClientTest,
                         testing::Values("versions", "sizes", "rate", "repeat_init", "new_code", "fin", "heart"));

class PeerServerTest : public servicetest::InitedTest, public testing::WithParamInterface<int> {};

TEST_P(PeerServerTest, ClientEndpointAgainstPeerServer) {
    FILE *f = popen(PeerCommand("server --version " + std::to_string(GetParam())).c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    int c = Connect(uint16_t(std::stoi(line)));
    ASSERT_GE(c, 0);
    Collector got;
    ASSERT_EQ(COM_VRUDP_SetRecvFun(c, Collector::Callback, &got), 1);
    const int sizes[] = {1, 1438, 1439, 2876, 2877, 128 * 1438};
    for (int n : sizes) {
        auto msg = Pattern(size_t(n), uint8_t(n));
        ASSERT_EQ(COM_VRUDP_SendTo(c, msg.data(), n, nullptr, 5000), n);
    }
    ASSERT_TRUE(got.WaitCount(std::size(sizes), 20000));
    auto ev = got.Events();
    for (size_t i = 0; i < std::size(sizes); i++)
        EXPECT_EQ(ev[i].data, Pattern(size_t(sizes[i]), uint8_t(sizes[i])));
    EXPECT_EQ(COM_VRUDP_CloseConnect(c), 1);
    int st = pclose(f);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the peer saw every head of its version and the FIN";
    COM_VRUDP_Close(c);
}

INSTANTIATE_TEST_SUITE_P(Versions, PeerServerTest, testing::Values(0, 1, 2));

}  // namespace
