// The control link: a father against plain UDP sockets that play clients (control rows, hostile
// datagrams, the child table, keep-alive on the clock seam), a client against a socket that
// plays the father, and a client link streaming to a father through the handle interface.
#include <sys/resource.h>

#include <thread>

#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/link/VRUDPLink.h"
#include "vrudp_link_util.h"

using namespace vrudptest;

namespace {

constexpr uint32_t kCode = 0x0A0B0C0D;

int AcceptCount(int iFather) {
    CRWGuard guard(iFather);
    auto *pLink = dynamic_cast<CVRUDPLink *>(guard.Member());
    return pLink ? pLink->GetAcceptCount() : -1;
}

class FatherTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        iFather = MakeLink(ENUM_VRUDP_MODE_SERVER, std::strchr(pLocal, ':') ? 23 : 2);
        ASSERT_GE(iFather, 0);
        VRUDP_SOCK_ADDR a = Addr(pLocal, 0);
        ASSERT_EQ(COM_VRUDP_Bind(iFather, &a), 1);
        wPort = PortOf(iFather);
        ASSERT_EQ(COM_VRUDP_Listen(iFather, &col, Collector::Callback), 1);
    }
    void TearDown() override {
        EXPECT_EQ(COM_VRUDP_Close(iFather), 1);
        servicetest::InitedTest::TearDown();
    }
    // A child for the peer: the handle from its INIT-ACK.
    int NewChild(RawPeer &peer, uint16_t wClient = 0x11, uint32_t dwCode = kCode, uint32_t dwWnd = 25) {
        peer.Send(wPort, NewLinkPkt(wClient, dwCode, dwWnd));
        auto p = peer.RecvWithin(30000);
        if (p.size() != 20 || p[2] != 6)
            return -1;
        return Be16(p, 4);
    }
    const char *pLocal = "127.0.0.1";
    int iFather = -1;
    uint16_t wPort = 0;
    Collector col;
};

class FatherSixTest : public FatherTest {
public:
    FatherSixTest() { pLocal = "::1"; }
};

// Children answer from the father's socket: those of an IPv6 father are IPv6 too.
TEST_F(FatherSixTest, ChildrenTakeTheFathersFamily) {
    RawPeer peer("::1");
    const int iChild = NewChild(peer);
    ASSERT_GE(iChild, 0);
    peer.Send(wPort, DataPacket(0, 100, uint16_t(iChild)));
    ASSERT_TRUE(col.WaitCount(1, 10000));
    EXPECT_EQ(col.Events()[0].iHandle, iChild);
    EXPECT_EQ(col.Events()[0].sAddr, "::1");
    std::vector<uint8_t> up(100, 0x42);
    EXPECT_EQ(COM_VRUDP_SendTo(iChild, up.data(), 100, nullptr, 0), 100);
    std::vector<uint8_t> upper = peer.RecvWithin(30000);
    while (!upper.empty() && upper[2] != 9)  // acknowledgements of the data come first
        upper = peer.RecvWithin(30000);
    EXPECT_EQ(upper.size(), 110u) << "upper data reaches the IPv6 peer";
}

TEST_F(FatherTest, ControlRows) {
    RawPeer peer;
    peer.Send(wPort, NewLinkPkt(0x11, kCode, 25));
    auto ack = peer.Recv();
    ASSERT_EQ(ack.size(), 20u) << "INIT-ACK sends 20 bytes";
    EXPECT_EQ(Be16(ack, 0), 16) << "while its header counts 16";
    EXPECT_EQ(ack[2], 6);
    EXPECT_EQ(Be16(ack, 6), 0x11);
    EXPECT_EQ(Be32(ack, 16), kCode);
    int iChild = Be16(ack, 4);
    EXPECT_EQ(AcceptCount(iFather), 1);

    peer.Send(wPort, NewLinkPkt(0x11, kCode, 25));
    auto again = peer.Recv();
    ASSERT_EQ(again.size(), 20u) << "a repeat gets INIT-ACK again";
    EXPECT_EQ(Be16(again, 4), iChild) << "from the same child";
    EXPECT_EQ(AcceptCount(iFather), 1);

    peer.Send(wPort, PlainPkt(0, uint16_t(iChild), kCode));
    auto heart = peer.Recv();
    ASSERT_EQ(heart.size(), 12u);
    EXPECT_EQ(heart[2], 1);
    EXPECT_EQ(Be32(heart, 8), kCode);

    peer.Send(wPort, DataPacket(0, 100, uint16_t(iChild)));
    peer.Send(wPort, DataPacket(1, 100, uint16_t(iChild)));
    ASSERT_TRUE(col.WaitCount(2, 2000));
    auto ev = col.Events();
    EXPECT_EQ(ev[0].iKind, VRUDP_MSG_FIRST);
    EXPECT_EQ(ev[1].iKind, VRUDP_MSG_DATA);
    EXPECT_EQ(ev[0].iReliable, 1);
    EXPECT_EQ(ev[0].iHandle, iChild);
    EXPECT_EQ(ev[0].data, std::vector<uint8_t>(100, 0));
    EXPECT_EQ(AckEntries(peer.Recv()), std::vector<uint32_t>({1, 2})) << "every second in-order packet";

    // Upper data down to the client: 1500 bytes go, 1501 are refused.
    std::vector<uint8_t> up(1501, 0x42);
    EXPECT_EQ(COM_VRUDP_SendTo(iChild, up.data(), 1500, nullptr, 0), 1500);
    auto upper = peer.Recv();
    ASSERT_EQ(upper.size(), 1510u);
    EXPECT_EQ(Be16(upper, 0), 10);
    EXPECT_EQ(upper[2], 9);
    EXPECT_EQ(Be16(upper, 4), 0x11);
    EXPECT_EQ(Be32(upper, 6), kCode);
    EXPECT_EQ(COM_VRUDP_SendTo(iChild, up.data(), 1501, nullptr, 0), -1);

    peer.Send(wPort, PlainPkt(7, uint16_t(iChild), kCode));
    auto finRet = peer.Recv();
    ASSERT_EQ(finRet.size(), 16u);
    EXPECT_EQ(finRet[2], 8);
    EXPECT_EQ(Be32(finRet, 12), kCode);
    ASSERT_TRUE(col.WaitCount(3, 2000));
    auto closed = col.Events()[2];
    EXPECT_EQ(closed.iKind, VRUDP_MSG_CLOSE);
    EXPECT_EQ(closed.iReliable, 1);
    EXPECT_EQ(closed.iHandle, iChild);
    EXPECT_EQ(closed.data, std::vector<uint8_t>(16, 0));

    // The same address with a new code replaces the child.
    peer.Send(wPort, NewLinkPkt(0x12, kCode + 1, 25));
    auto fresh = peer.Recv();
    ASSERT_EQ(fresh.size(), 20u);
    EXPECT_EQ(Be32(fresh, 16), kCode + 1);
    EXPECT_EQ(AcceptCount(iFather), 1);

    std::vector<uint8_t> plain = {0x80, 1, 2, 3, 4};
    peer.Send(wPort, plain);
    ASSERT_TRUE(col.WaitCount(4, 2000));
    auto raw = col.Events()[3];
    EXPECT_EQ(raw.iKind, 0);
    EXPECT_EQ(raw.iReliable, 0);
    EXPECT_EQ(raw.data, plain);
}

TEST_F(FatherTest, HostileDatagramsAreDropped) {
    RawPeer peer, stranger;
    int iChild = NewChild(peer);
    ASSERT_GE(iChild, 0);
    uint16_t c = uint16_t(iChild);
    timeval tv{0, 100000};  // a reply comes within microseconds on loopback; none is expected
    for (int fd : {peer.Fd(), stranger.Fd()})
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int iOther = MakeLink(ENUM_VRUDP_MODE_SERVER);  // a link that is no child of this father
    struct Row {
        const char *pName;
        std::vector<uint8_t> pkt;
        bool bStranger;
    } rows[] = {
        {"3 bytes", {0, 3, 0}, false},
        {"HEART whose header says 16", [&] { auto p = PlainPkt(0, c, kCode); p[1] = 16; return p; }(), false},
        {"HEART cut to 11 bytes", [&] { auto p = PlainPkt(0, c, kCode); p.resize(11); return p; }(), false},
        {"HEART with a wrong code", PlainPkt(0, c, kCode + 5), false},
        {"HEART to the father itself", PlainPkt(0, uint16_t(iFather), kCode), false},
        {"HEART to a link of no father", PlainPkt(0, uint16_t(iOther), kCode), false},
        {"HEART to a free handle", PlainPkt(0, 0x4FFF, kCode), false},
        {"HEART from another address", PlainPkt(0, c, kCode), true},
        {"stream data from another address", DataPacket(0, 10, c), true},
        {"stream data for a non-child", DataPacket(0, 10, uint16_t(iOther)), false},
        {"FIN with a wrong code", PlainPkt(7, c, kCode - 1), false},
        {"FIN from another address", PlainPkt(7, c, kCode), true},
        {"INIT-ACK to a father", InitAckPkt(c, 0x11, kCode), false},
        {"upper data to a father", UpperPkt(c, kCode, 10), false},
        {"ACK to a father", AckPkt(kCode, {1, 2}), false},
        {"new link of 19 bytes", NewLinkPkt(0x11, kCode, 25, 19), true},
        {"unknown type 2", [&] { auto p = PlainPkt(0, c, kCode); p[2] = 2; return p; }(), false},
        {"type 200", [&] { auto p = PlainPkt(0, c, kCode); p[2] = 200; return p; }(), false},
    };
    for (auto &r : rows) {
        (r.bStranger ? stranger : peer).Send(wPort, r.pkt);
        EXPECT_TRUE((r.bStranger ? stranger : peer).Recv().empty()) << r.pName;
    }
    EXPECT_EQ(col.Events().size(), 0u);
    EXPECT_EQ(AcceptCount(iFather), 1);
    // The child still works after all that.
    peer.Send(wPort, DataPacket(0, 10, c));
    EXPECT_TRUE(col.WaitCount(1, 2000));
    COM_VRUDP_Close(iOther);
}

// A window from the network sizes a child's pool; a huge one is clamped, not obeyed.
TEST_F(FatherTest, NewLinkWindowsAreClamped) {
    rusage before = {}, after = {};
    getrusage(RUSAGE_SELF, &before);
    uint32_t windows[] = {0, 299, 300, 0xFFFFFFFF, 0x7FFFFFFF};
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (uint32_t w : windows) {
        peers.emplace_back(new RawPeer);
        EXPECT_GE(NewChild(*peers.back(), 0x11, kCode, w), 0) << w;
    }
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "peak grew by more than 32 MiB";
    EXPECT_EQ(AcceptCount(iFather), 5);
    RawPeer shortPeer;  // no window at all: the default pool
    shortPeer.Send(wPort, NewLinkPkt(0x11, kCode, 0, 20));
    EXPECT_EQ(shortPeer.RecvWithin(30000).size(), 20u);
}

TEST_F(FatherTest, TheHundredAndTwentyNinthChildIsRefused) {
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 128; i++) {
        peers.emplace_back(new RawPeer);
        ASSERT_GE(NewChild(*peers.back()), 0) << i;
    }
    RawPeer last;
    last.Send(wPort, NewLinkPkt(0x11, kCode, 25));
    EXPECT_TRUE(last.Recv().empty());
    EXPECT_EQ(AcceptCount(iFather), 128);
}

TEST_F(FatherTest, SweepDestroysClosedAndExpiredChildren) {
    RawPeer a, b;
    int iA = NewChild(a), iB = NewChild(b);
    ASSERT_GE(iA, 0);
    ASSERT_GE(iB, 0);
    // Closing a child only sends FIN; the father's next sweep removes it, counted once.
    EXPECT_EQ(COM_VRUDP_Close(iA), 1);
    auto fin = a.RecvWithin(15000);
    ASSERT_EQ(fin.size(), 16u);
    EXPECT_EQ(fin[2], 7);
    // The bounds only end a failing run: a loaded machine may hold the sweep back for seconds.
    // The sweep frees the place before it destroys the child, so wait for both.
    EXPECT_TRUE(servicetest::WaitFor([&] { return AcceptCount(iFather) == 1 && COM_VRUDP_GetSocket(iA) == -1; },
                                     15000))
        << "count " << AcceptCount(iFather) << ", socket " << COM_VRUDP_GetSocket(iA);
    // 90 s of silence expire the other.
    VRUDP_AdvanceTickForTest(91000);
    EXPECT_TRUE(servicetest::WaitFor([&] { return AcceptCount(iFather) == 0; }, 15000));
    ASSERT_TRUE(col.WaitCount(1, 15000));
    EXPECT_EQ(col.Events()[0].iKind, VRUDP_MSG_CLOSE);
    EXPECT_EQ(col.Events()[0].iHandle, iB);
    // New children fill the freed places.
    RawPeer c;
    EXPECT_GE(NewChild(c), 0);
    EXPECT_EQ(AcceptCount(iFather), 1);
}

TEST_F(FatherTest, ClientLinkStreamsUpAndGetsUpperDataDown) {
    int iClient = MakeLink(ENUM_VRUDP_MODE_CLIENT);
    ASSERT_GE(iClient, 0);
    VRUDP_SOCK_ADDR a = Addr("127.0.0.1", wPort);
    ASSERT_EQ(COM_VRUDP_SetStreamBitrate(iClient, 20000), 1);
    ASSERT_EQ(COM_VRUDP_Connect(iClient, &a, 3000), 1);
    const int kPackets = 300;
    for (int i = 0; i < kPackets; i++) {
        auto data = Pattern(1316, uint8_t(i));
        ASSERT_EQ(COM_VRUDP_SendTo(iClient, data.data(), int(data.size()), nullptr, 0), 1316);
    }
    // Generous: under ThreadSanitizer on a loaded machine the resends take their time.
    ASSERT_TRUE(col.WaitCount(kPackets, 30000));
    auto ev = col.Events();
    int iChild = ev[0].iHandle;
    for (int i = 0; i < kPackets; i++)
        ASSERT_EQ(ev[size_t(i)].data, Pattern(1316, uint8_t(i))) << i;
    EXPECT_EQ(COM_VRUDP_SendTo(iChild, "hello", 5, nullptr, 0), 5);
    char buf[1500];
    VRUDP_SOCK_ADDR from = {};
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, &from, 3000), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_STREQ(from.szAddr, "127.0.0.1");
    EXPECT_EQ(from.wPort, wPort);
    EXPECT_EQ(COM_VRUDP_RecvFrom(iChild, buf, sizeof buf, nullptr, 0), -1) << "a child has no RecvFrom";
    // The client closes: the child hears FIN and reports the close.
    EXPECT_EQ(COM_VRUDP_Close(iClient), 1);
    ASSERT_TRUE(col.WaitCount(kPackets + 1, 3000));
    EXPECT_EQ(col.Events().back().iKind, VRUDP_MSG_CLOSE);
}

// ---- a client link against a socket playing the father ----

class ClientTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        iClient = MakeLink(ENUM_VRUDP_MODE_CLIENT);
        ASSERT_GE(iClient, 0);
        int iConnected = 0;
        std::thread connect([&] {
            VRUDP_SOCK_ADDR a = Addr("127.0.0.1", PortOfFd(father.Fd()));
            iConnected = COM_VRUDP_Connect(iClient, &a, 3000);
        });
        conn = RecvFrom();
        if (conn.size() == 24)
            Send(InitAckPkt(kChild, Be16(conn, 4), Be32(conn, 16)));
        connect.join();
        ASSERT_EQ(iConnected, 1);
        dwCode = Be32(conn, 16);
    }
    void TearDown() override {
        COM_VRUDP_Close(iClient);
        servicetest::InitedTest::TearDown();
    }
    // The next datagram, remembering where the client sends from.
    std::vector<uint8_t> RecvFrom() {
        std::vector<uint8_t> buf(9000);
        sockaddr_in a = {};
        socklen_t len = sizeof a;
        ssize_t n = recvfrom(father.Fd(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&a), &len);
        buf.resize(n > 0 ? size_t(n) : 0);
        if (n > 0)
            wClientPort = ntohs(a.sin_port);
        return buf;
    }
    void Send(const std::vector<uint8_t> &p) { father.Send(wClientPort, p); }
    std::vector<uint8_t> RecvType(uint8_t byType) {
        for (auto p = RecvFrom(); !p.empty(); p = RecvFrom())
            if (p[2] == byType)
                return p;
        return {};
    }
    static constexpr uint16_t kChild = 0x33;
    RawPeer father;
    int iClient = -1;
    uint32_t dwCode = 0;
    uint16_t wClientPort = 0;
    std::vector<uint8_t> conn;
};

TEST_F(ClientTest, ConnectPacketAndStreamData) {
    ASSERT_EQ(conn.size(), 24u);
    EXPECT_EQ(Be16(conn, 0), 16);
    EXPECT_EQ(conn[2], 5);
    EXPECT_EQ(Be16(conn, 4), iClient);
    EXPECT_EQ(Be32(conn, 12), 1048576u);
    EXPECT_EQ(Be32(conn, 20), 25u);
    std::vector<uint8_t> data(1485, 3);
    EXPECT_EQ(COM_VRUDP_SendTo(iClient, data.data(), 1484, nullptr, 0), 1484);
    auto p = RecvType(3);
    ASSERT_EQ(p.size(), 1500u);
    EXPECT_EQ(Be16(p, 4), kChild);
    EXPECT_EQ(COM_VRUDP_SendTo(iClient, data.data(), 1485, nullptr, 0), 0) << "above one 1500-byte datagram";
}

// The father never acknowledges: the client's stream buffer fills, and the send that finds it
// full is told so (0, error 8) instead of being counted as sent.
TEST_F(ClientTest, AFullStreamBufferMakesTheSendReturnZeroWithError8) {
    std::vector<uint8_t> data(1484, 5);
    int iTaken = 0, iResult = 0;
    for (int i = 0; i < 4000; i++) {
        GetCoreGlobalCtrl()->SetLastError(0);
        iResult = COM_VRUDP_SendTo(iClient, data.data(), 1484, nullptr, 0);
        if (iResult != 1484)
            break;
        iTaken++;
    }
    EXPECT_EQ(iResult, 0);
    EXPECT_EQ(LastError(), 8);
    EXPECT_GT(iTaken, 1000) << "the buffer holds about 2 MiB";
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(COM_VRUDP_SendTo(iClient, data.data(), 1484, nullptr, 0), 0) << "still full";
    EXPECT_EQ(LastError(), 8);
}

TEST_F(ClientTest, UpperDataRows) {
    char buf[2000];
    // Upper data wakes a waiting reader at once.
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Send(UpperPkt(kChild, dwCode, 1500));
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, nullptr, 10000), 1500);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    later.join();
    struct Row {
        const char *pName;
        std::vector<uint8_t> pkt;
    } dropped[] = {
        {"1501 bytes", UpperPkt(kChild, dwCode, 1501)},
        {"empty", UpperPkt(kChild, dwCode, 0)},
        {"wrong code", UpperPkt(kChild, dwCode ^ 1, 10)},
        {"header says 12", [&] { auto p = UpperPkt(kChild, dwCode, 10); p[1] = 12; return p; }()},
        {"INIT-ACK with a wrong code", InitAckPkt(kChild, uint16_t(iClient), dwCode ^ 1)},
    };
    // A FIN is answered after everything sent before it was handled: a barrier.
    auto barrier = [&] {
        Send(PlainPkt(7, kChild, dwCode));
        ASSERT_EQ(RecvType(8).size(), 16u);
    };
    for (auto &r : dropped) {
        Send(r.pkt);
        barrier();
        EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, nullptr, 0), 0) << r.pName;
    }
    // A second upper data while the first is unread is dropped.
    Send(UpperPkt(kChild, dwCode, 10));
    Send(UpperPkt(kChild, dwCode, 20));
    barrier();
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, nullptr, 0), 10);
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, nullptr, 0), 0);
    // A buffer too small discards the data.
    Send(UpperPkt(kChild, dwCode, 30));
    barrier();
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, 29, nullptr, 0), 0);
    EXPECT_EQ(COM_VRUDP_RecvFrom(iClient, buf, sizeof buf, nullptr, 0), 0);
}

TEST_F(ClientTest, SilenceBringsHeartbeatsThenTheEnd) {
    VRUDP_AdvanceTickForTest(21000);
    auto heart = RecvType(0);
    ASSERT_EQ(heart.size(), 12u);
    EXPECT_EQ(Be16(heart, 4), kChild);
    EXPECT_EQ(Be32(heart, 8), dwCode);
    int iThreads = Threads();
    VRUDP_AdvanceTickForTest(20000);
    EXPECT_TRUE(servicetest::WaitFor([&] { return Threads() == iThreads - 1; }, 3000)) << "the receive thread ends";
}

TEST_F(ClientTest, FinBothWays) {
    Send(PlainPkt(7, kChild, dwCode));
    auto finRet = RecvType(8);
    ASSERT_EQ(finRet.size(), 16u);
    EXPECT_EQ(Be16(finRet, 4), kChild);
    std::thread close([&] { EXPECT_EQ(COM_VRUDP_Close(iClient), 1); });
    auto fin = RecvType(7);
    Send(PlainPkt(8, kChild, dwCode));
    close.join();
    iClient = -1;
    ASSERT_EQ(fin.size(), 16u);
    EXPECT_EQ(Be32(fin, 12), dwCode);
}

}  // namespace
