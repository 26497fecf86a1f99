// Endpoints through the handle interface over loopback: echo of every size class in callback and
// in RecvFrom mode, the largest message and the next byte refused, many pending messages,
// closes and keep-alive expiry that leave no thread or descriptor behind.
#include <atomic>
#include <cstring>
#include <thread>

#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "vrudp_test_util.h"

using namespace vrudptest;

namespace {

const int kMaxMsg = CHRUdp::kMaxMsgBlocks * 1438;
const int kSizes[] = {1, 1438, 1439, 2876, 2877, 8192, 8193, 100000, kMaxMsg};

class EndpointTest : public servicetest::InitedTest {};

// Moves the transports' clock on in steps, giving the once-a-second sweeps time to look after
// each step, until the condition holds.
bool AdvanceUntil(uint32_t dwStepMs, int iSteps, const std::function<bool()> &done) {
    for (int i = 0; i < iSteps; i++) {
        VRUDP_AdvanceTickForTest(dwStepMs);
        if (servicetest::WaitFor(done, 400))
            return true;
    }
    return false;
}

TEST_F(EndpointTest, EchoEverySizeInCallbackMode) {
    EchoPair pair;
    ASSERT_TRUE(pair.Start());
    Server &srv = pair.srv;
    int c = pair.iClient;
    Collector &got = pair.got;
    uint8_t seed = 0;
    for (int n : kSizes) {
        auto msg = Pattern(size_t(n), seed++);
        ASSERT_EQ(COM_VRUDP_SendTo(c, msg.data(), n, nullptr, 5000), n) << n;
    }
    ASSERT_TRUE(got.WaitCount(std::size(kSizes), 20000));
    auto events = got.Events();
    seed = 0;
    for (size_t i = 0; i < std::size(kSizes); i++) {
        EXPECT_EQ(events[i].iKind, i == 0 ? VRUDP_MSG_FIRST : VRUDP_MSG_DATA);
        EXPECT_EQ(events[i].iReliable, 1);
        EXPECT_EQ(events[i].data, Pattern(size_t(kSizes[i]), seed++)) << "message " << i << " whole and in order";
    }
    // The next byte could never be reassembled, so it is refused at once.
    std::vector<uint8_t> big(size_t(kMaxMsg) + 1);
    EXPECT_EQ(COM_VRUDP_SendTo(c, big.data(), kMaxMsg + 1, nullptr, 100), -1);
    EXPECT_EQ(LastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(COM_VRUDP_CloseConnect(c), 1);
    EXPECT_EQ(COM_VRUDP_Close(c), 1);
    EXPECT_EQ(COM_VRUDP_Close(srv.iHandle), 1);
}

TEST_F(EndpointTest, EchoInRecvFromMode) {
    Server srv;
    ASSERT_TRUE(srv.Start(true));
    int c = Connect(srv.wPort);
    ASSERT_GE(c, 0);
    std::vector<uint8_t> buf(static_cast<size_t>(kMaxMsg));
    uint8_t seed = 9;
    for (int n : kSizes) {
        auto msg = Pattern(size_t(n), seed);
        ASSERT_EQ(COM_VRUDP_SendTo(c, msg.data(), n, nullptr, 5000), n);
        int got = 0;
        VRUDP_SOCK_ADDR from = {};
        bool bWithAddr = seed % 2;
        // Earlier posts may still count on the semaphore, so a wait can return early: read until
        // the deadline.
        servicetest::WaitFor([&] {
            got = COM_VRUDP_RecvFrom(c, buf.data(), int(buf.size()), bWithAddr ? &from : nullptr, 200);
            return got != 0;
        }, 10000);
        ASSERT_EQ(got, n) << "with a null address record the size still comes back";
        if (bWithAddr) {
            EXPECT_STREQ(from.szAddr, "127.0.0.1");
            EXPECT_EQ(from.wPort, srv.wPort);
        }
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + n), msg);
        seed++;
    }
    COM_VRUDP_CloseConnect(c);
    COM_VRUDP_Close(c);
    COM_VRUDP_Close(srv.iHandle);
}

// Family-23 endpoints take IPv6 only: a connection over ::1 sees the peer as "::1", an IPv4
// sender never reaches the IPv6 wildcard, and an IPv4 endpoint can take the same port.
TEST_F(EndpointTest, FamilyTwentyThreeEndpointsAreIPv6Only) {
    EchoPair pair;
    ASSERT_TRUE(pair.Start("::1"));
    ASSERT_EQ(COM_VRUDP_SendTo(pair.iClient, "six", 3, nullptr, 5000), 3);
    ASSERT_TRUE(pair.got.WaitCount(1, 10000));
    const auto seen = pair.srv.col.Events();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].sAddr, "::1");
    EXPECT_EQ(pair.got.Events()[0].sAddr, "::1");
    EXPECT_EQ(pair.got.Events()[0].data, std::vector<uint8_t>({'s', 'i', 'x'}));
    for (int h : {pair.srv.iHandle, pair.iClient}) {
        int iOn = 0;
        socklen_t len = sizeof iOn;
        ASSERT_EQ(getsockopt(COM_VRUDP_GetSocket(h), IPPROTO_IPV6, IPV6_V6ONLY, &iOn, &len), 0);
        EXPECT_EQ(iOn, 1) << h;
    }

    Server any6;
    ASSERT_TRUE(any6.Start(false, "::"));
    int v4 = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    VRUDP_SOCK_ADDR same = Addr("0.0.0.0", any6.wPort);
    EXPECT_EQ(COM_VRUDP_Bind(v4, &same), 1) << "the IPv4 port is free beside the IPv6 wildcard";
    EXPECT_EQ(COM_VRUDP_Close(v4), 1);
    RawPeer v4peer, v6peer("::1");
    v4peer.Send(any6.wPort, {0x80, 4});
    v6peer.Send(any6.wPort, {0x80, 6});
    ASSERT_TRUE(any6.col.WaitCount(1, 10000));
    // Datagrams from one loopback host arrive in order: had the IPv4 one come in, it came first.
    EXPECT_EQ(any6.col.Events()[0].data, std::vector<uint8_t>({0x80, 6}));
    EXPECT_EQ(any6.col.Events()[0].sAddr, "::1");
    EXPECT_EQ(COM_VRUDP_Close(any6.iHandle), 1);
}

TEST_F(EndpointTest, ThousandsOfPendingMessagesAllArrive) {
    Server srv;
    ASSERT_TRUE(srv.Start());
    int c = Connect(srv.wPort);
    ASSERT_GE(c, 0);
    const int kCount = 4000;
    for (int i = 0; i < kCount; i++) {
        uint8_t b[4] = {uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        ASSERT_EQ(COM_VRUDP_SendTo(c, b, 4, nullptr, 10000), 4) << i;
    }
    ASSERT_TRUE(srv.col.WaitCount(kCount, 60000));
    auto events = srv.col.Events();
    for (int i = 0; i < kCount; i++) {
        ASSERT_EQ(events[size_t(i)].data.size(), 4u);
        EXPECT_EQ((events[size_t(i)].data[2] << 8) | events[size_t(i)].data[3], i & 0xFFFF);
    }
    COM_VRUDP_CloseConnect(c);
    COM_VRUDP_Close(c);
    COM_VRUDP_Close(srv.iHandle);
}

// One server endpoint, a thousand client endpoints in this process: half read through the
// callback, half through RecvFrom; every echo comes back on its own connection.
TEST_F(EndpointTest, ThousandClientsEcho) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int kClients = 100;
#else
    const int kClients = 1000;
#endif
    Server srv;
    ASSERT_TRUE(srv.Start(true));
    std::vector<int> clients(kClients, -1);
    std::vector<Collector> cols(kClients);
    std::vector<std::thread> workers;
    std::atomic<int> iFailed{0};
    for (int w = 0; w < 8; w++)
        workers.emplace_back([&, w] {
            for (int i = w; i < kClients; i += 8) {
                // Connects beyond the INIT rate limit are repeated by the connecting loop.
                clients[size_t(i)] = Connect(srv.wPort, 30000);
                if (clients[size_t(i)] < 0) {
                    iFailed++;
                    continue;
                }
                if (i % 2 == 0)
                    COM_VRUDP_SetRecvFun(clients[size_t(i)], Collector::Callback, &cols[size_t(i)]);
                auto msg = Pattern(size_t(1 + i), uint8_t(i));
                if (COM_VRUDP_SendTo(clients[size_t(i)], msg.data(), int(msg.size()), nullptr, 5000) != int(msg.size()))
                    iFailed++;
            }
        });
    for (auto &t : workers)
        t.join();
    ASSERT_EQ(iFailed, 0);
    uint8_t buf[2048];
    for (int i = 0; i < kClients; i++) {
        auto msg = Pattern(size_t(1 + i), uint8_t(i));
        if (i % 2 == 0) {
            ASSERT_TRUE(cols[size_t(i)].WaitCount(1, 10000)) << i;
            EXPECT_EQ(cols[size_t(i)].Events()[0].data, msg);
        } else {
            int got = 0;
            servicetest::WaitFor([&] { return (got = COM_VRUDP_RecvFrom(clients[size_t(i)], buf, sizeof buf, nullptr, 200)) != 0; },
                                 10000);
            ASSERT_EQ(got, 1 + i);
            EXPECT_EQ(0, std::memcmp(buf, msg.data(), msg.size()));
        }
    }
    EXPECT_EQ(srv.col.Count(VRUDP_MSG_FIRST), size_t(kClients));
    COM_VRUDP_Close(srv.iHandle);
    workers.clear();
    for (int w = 0; w < 8; w++)
        workers.emplace_back([&, w] {
            for (int i = w; i < kClients; i += 8)
                COM_VRUDP_Close(clients[size_t(i)]);
        });
    for (auto &t : workers)
        t.join();
}

TEST_F(EndpointTest, ClosesLeaveNoThreadDescriptorOrMember) {
    // A first round makes the lazy managers and pools, which stay until fini.
    for (int round = 0; round < 2; round++) {
        int iThreads = Threads(), iFds = Descriptors();
        unsigned uMembers = GetVRUDPLinkMgr() ? GetVRUDPLinkMgr()->GetCurrNum() : 0;
        Server srv;
        ASSERT_TRUE(srv.Start(true));
        std::vector<int> clients;
        for (int i = 0; i < 5; i++) {
            clients.push_back(Connect(srv.wPort));
            ASSERT_GE(clients.back(), 0);
            uint8_t b = uint8_t(i);
            ASSERT_EQ(COM_VRUDP_SendTo(clients.back(), &b, 1, nullptr, 1000), 1);
        }
        ASSERT_TRUE(srv.col.WaitCount(5, 5000));
        EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers + 1 + 5 * 3);
        EXPECT_EQ(COM_VRUDP_CloseConnect(clients[0]), 1);
        EXPECT_EQ(COM_VRUDP_Close(clients[0]), 1);
        // The server is closed with four live connections; their clients go after.
        EXPECT_EQ(COM_VRUDP_Close(srv.iHandle), 1);
        for (size_t i = 1; i < clients.size(); i++)
            EXPECT_EQ(COM_VRUDP_Close(clients[i]), 1);
        if (round == 1) {
            EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers);
            EXPECT_TRUE(servicetest::WaitFor([&] { return Threads() == iThreads; }, 2000)) << Threads() << " vs " << iThreads;
            EXPECT_EQ(Descriptors(), iFds);
        }
    }
}

TEST_F(EndpointTest, KeepAliveThroughTheClock) {
    Server srv;
    ASSERT_TRUE(srv.Start());
    int c = Connect(srv.wPort);
    ASSERT_GE(c, 0);
    Collector clientCol;
    ASSERT_EQ(COM_VRUDP_SetRecvFun(c, Collector::Callback, &clientCol), 1);
    unsigned uMembers = GetVRUDPLinkMgr()->GetCurrNum();
    // 105 s without user data: the client's heartbeats (from 60 s) keep both sides alive.
    auto anyClose = [&] { return srv.col.Count(VRUDP_MSG_CLOSE) + clientCol.Count(VRUDP_MSG_CLOSE) > 0; };
    EXPECT_FALSE(AdvanceUntil(15000, 7, anyClose));
    EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers);
    // The server goes away: past 80 s of silence the client reports the loss at every sweep.
    COM_VRUDP_Close(srv.iHandle);
    EXPECT_TRUE(AdvanceUntil(15000, 8, [&] { return clientCol.Count(VRUDP_MSG_CLOSE) >= 1; }));
    EXPECT_TRUE(AdvanceUntil(1100, 3, [&] { return clientCol.Count(VRUDP_MSG_CLOSE) >= 2; }));
    EXPECT_EQ(COM_VRUDP_SendTo(c, "x", 1, nullptr, 100), -1) << "an expired connection sends nothing";
    COM_VRUDP_Close(c);
}

TEST_F(EndpointTest, ServerExpiresASilentPeer) {
    Server srv;
    ASSERT_TRUE(srv.Start());
    unsigned uMembers = GetVRUDPLinkMgr()->GetCurrNum();
    // A peer that connects and then says nothing more.
    RawPeer peer;
    std::vector<uint8_t> init = {'R', 'U', 'D', 'P', 12, 0x80 | 1, 0, 5, 0, 0, 0, 9};
    peer.Send(srv.wPort, init);
    ASSERT_EQ(peer.RecvType(2).size(), 14u);
    EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers + 1);
    EXPECT_TRUE(AdvanceUntil(15000, 9, [&] { return srv.col.Count(VRUDP_MSG_CLOSE) == 1; }));
    EXPECT_TRUE(servicetest::WaitFor([&] { return GetVRUDPLinkMgr()->GetCurrNum() == uMembers; }, 5000));
    COM_VRUDP_Close(srv.iHandle);
}

}  // namespace
