// One server connection driven by packets the test writes on a plain UDP socket: the answers to
// in-order, out-of-order and duplicate data, acknowledgements the connection must ignore, FIN,
// RESET, the resend limit; then a table of hostile datagrams.
#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "transport/vrudp/VRUDPWire.h"
#include "vrudp_test_util.h"

using namespace vrudptest;
using namespace Vorezi::vrudp;

namespace {

constexpr uint16_t kPeerSession = 0x0105;
constexpr uint32_t kCode = 0x11223344;

std::vector<uint8_t> Init(uint8_t ver, uint16_t session, uint32_t code) {
    std::vector<uint8_t> p(12);
    BuildInit(p.data(), ver, session, code);
    return p;
}

std::vector<uint8_t> Data(uint8_t ver, uint16_t remote, uint32_t seq, uint32_t ack, const std::string &payload,
                          uint32_t code = kCode, uint8_t pos = UNIT_SINGLE) {
    std::vector<uint8_t> p(28 + payload.size());
    DataHead h{ver, pos, remote, seq, ack, kPeerSession, code};
    int hl = BuildDataHead(p.data(), h);
    std::memcpy(p.data() + hl, payload.data(), payload.size());
    p.resize(size_t(hl) + payload.size());
    return p;
}

std::vector<uint8_t> Plain(uint8_t type, uint16_t remote, uint32_t code = kCode) {
    std::vector<uint8_t> p(12);
    BuildPlain(p.data(), type, 2, remote, code);
    return p;
}

class PacketTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        ASSERT_TRUE(srv.Start());
        peer.Send(srv.wPort, Init(2, kPeerSession, kCode));
        auto ack = peer.RecvType(PKT_INIT_ACK);
        ASSERT_EQ(ack.size(), 14u);
        wConn = Be16(ack, 12);
    }
    void TearDown() override {
        COM_VRUDP_Close(srv.iHandle);
        servicetest::InitedTest::TearDown();
    }
    // Runs fn on the server's connection object.
    template <class F>
    void WithConn(F fn) {
        CRWGuard guard(wConn);
        auto *p = dynamic_cast<CHRUdp *>(guard.Member());
        ASSERT_NE(p, nullptr);
        fn(p);
    }
    Server srv;
    RawPeer peer;
    uint16_t wConn = 0;
};

TEST_F(PacketTest, InitAckFields) {
    peer.Send(srv.wPort, Init(2, kPeerSession, kCode));  // a repeat of the live attempt
    auto ack = peer.RecvType(PKT_INIT_ACK);
    ASSERT_EQ(ack.size(), 14u) << "a repeated INIT gets its INIT-ACK again";
    std::vector<uint8_t> head(ack.begin(), ack.begin() + 12);
    EXPECT_EQ(head, (std::vector<uint8_t>{'R', 'U', 'D', 'P', 12, 0x80 | 2, 0x01, 0x05, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Be16(ack, 12), wConn);
}

TEST_F(PacketTest, EveryDataIsAnsweredByOneAck) {
    struct Step {
        uint32_t seq;
        uint32_t cumAck;  // need - 1 after the packet
        uint32_t highest;
    };
    const Step steps[] = {{0, 0, 0}, {2, 0, 2}, {1, 2, 2}, {1, 2, 2}, {0, 2, 2}};
    for (const auto &s : steps) {
        peer.Send(srv.wPort, Data(2, wConn, s.seq, uint32_t(-1), std::string(1, char('a' + s.seq))));
        auto ack = peer.Recv();
        ASSERT_EQ(ack.size(), 20u) << "seq " << s.seq;
        EXPECT_EQ(ack[5] & 0x3F, PKT_ACK);
        EXPECT_EQ(Be16(ack, 6), kPeerSession);
        EXPECT_EQ(Be32(ack, 8), kCode);
        EXPECT_EQ(Be32(ack, 12), s.highest);
        EXPECT_EQ(Be32(ack, 16), s.cumAck);
        EXPECT_TRUE(peer.Recv().empty()) << "exactly one ACK";
    }
    ASSERT_TRUE(srv.col.WaitCount(3, 2000));
    auto ev = srv.col.Events();
    EXPECT_EQ(std::string(ev[0].data.begin(), ev[0].data.end()) + std::string(ev[1].data.begin(), ev[1].data.end()) +
                  std::string(ev[2].data.begin(), ev[2].data.end()),
              "abc");
    EXPECT_EQ(ev.size(), 3u) << "the duplicate is not delivered twice";
}

// The server sends one block; which acknowledgements stop its resends.
TEST_F(PacketTest, OnlyAcknowledgementsOfSentBlocksRelease) {
    ASSERT_EQ(COM_VRUDP_SendTo(wConn, "hello", 5, nullptr, 1000), 5);
    auto data = peer.RecvType(PKT_DATA);
    ASSERT_EQ(data.size(), 28u + 5);
    EXPECT_EQ(Be32(data, 8), 0u);
    // Ignored: a piggy-backed ack beyond what was sent, an ACK with a foreign code.
    peer.Send(srv.wPort, Data(2, wConn, 0, 1000, "x"));
    peer.RecvType(PKT_ACK);
    std::vector<uint8_t> ack(20);
    BuildAck(ack.data(), 2, wConn, kCode + 1, 0, 0);
    peer.Send(srv.wPort, ack);
    VRUDP_AdvanceTickForTest(600);
    EXPECT_EQ(Be32(peer.RecvType(PKT_DATA), 8), 0u) << "block 0 is still resent";
    // Taken: the piggy-backed ack of block 0.
    peer.Send(srv.wPort, Data(2, wConn, 1, 0, "y"));
    peer.RecvType(PKT_ACK);
    VRUDP_AdvanceTickForTest(600);
    EXPECT_TRUE(peer.RecvType(PKT_DATA).empty()) << "nothing left to resend";
}

TEST_F(PacketTest, FinGetsOneFinRetWithTheOldSession) {
    peer.Send(srv.wPort, Plain(PKT_FIN, wConn));
    auto ret = peer.Recv();
    ASSERT_EQ(ret.size(), 12u);
    EXPECT_EQ(ret[5] & 0x3F, PKT_FIN_RET);
    EXPECT_EQ(Be16(ret, 6), kPeerSession);
    EXPECT_EQ(Be32(ret, 8), kCode);
    EXPECT_TRUE(peer.Recv().empty());
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(COM_VRUDP_SendTo(wConn, "late", 4, nullptr, 100), -1);
    EXPECT_EQ(LastError(), 8) << "a send failure: the peer closed";
}

TEST_F(PacketTest, FinWithForeignCodeIsIgnored) {
    peer.Send(srv.wPort, Plain(PKT_FIN, wConn, kCode ^ 1));
    EXPECT_TRUE(peer.Recv().empty());
    EXPECT_EQ(COM_VRUDP_SendTo(wConn, "ok", 2, nullptr, 100), 2);
}

TEST_F(PacketTest, ResetMakesTheNextSendFail) {
    EXPECT_EQ(COM_VRUDP_SendTo(wConn, "ok", 2, nullptr, 100), 2);
    peer.Send(srv.wPort, Plain(PKT_RESET, wConn, 0));
    ASSERT_TRUE(servicetest::WaitFor([&] { return COM_VRUDP_SendTo(wConn, "no", 2, nullptr, 100) == -1; }, 2000));
    EXPECT_EQ(LastError(), 8) << "a send failure: the peer reset";
}

// A connection being destroyed is stopped before its handle goes: a send that still reaches it
// fails with 12 and sends nothing.
TEST_F(PacketTest, SendOnAStoppedConnectionFailsWithTwelve) {
    WithConn([](CHRUdp *p) { p->RequestStop(); });
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(COM_VRUDP_SendTo(wConn, "late", 4, nullptr, 100), -1);
    EXPECT_EQ(LastError(), 12);
    EXPECT_TRUE(peer.RecvWithin(0).empty());
}

TEST_F(PacketTest, SecondSendFinDoesNothing) {
    WithConn([](CHRUdp *p) {
        EXPECT_EQ(p->SendFin(), 1);
        EXPECT_EQ(p->SendFin(), 0);
    });
    EXPECT_EQ(peer.RecvType(PKT_FIN).size(), 12u);
    EXPECT_TRUE(peer.RecvType(PKT_FIN).empty()) << "a server sends FIN once";
}

TEST_F(PacketTest, HundredTwentyEighthSendClosesTheConnection) {
    ASSERT_EQ(COM_VRUDP_SendTo(wConn, "never acked", 11, nullptr, 1000), 11);
    int iSends = 0;
    while (iSends < 200 && srv.col.Count(VRUDP_MSG_CLOSE) == 0) {
        if (!peer.RecvType(PKT_DATA).empty())
            iSends++;
        VRUDP_AdvanceTickForTest(600);
    }
    EXPECT_EQ(iSends, 127) << "127 sends, the 128th closes";
    ASSERT_TRUE(servicetest::WaitFor([&] { return srv.col.Count(VRUDP_MSG_CLOSE) == 1; }, 3000));
    EXPECT_EQ(COM_VRUDP_SendTo(wConn, "x", 1, nullptr, 100), -1);
}

struct Hostile {
    const char *name;
    std::function<std::vector<uint8_t>(uint16_t wConn)> make;
    std::vector<uint8_t> reply;  // empty: no answer at all
    const char *log;             // a line that must be written, or null
};

TEST_F(PacketTest, HostileDatagrams) {
    servicetest::LogCapture logs;
    auto bytes = [](std::initializer_list<uint8_t> l) { return std::vector<uint8_t>(l); };
    auto typed = [](uint8_t t) {
        return [t](uint16_t) { return std::vector<uint8_t>{'R', 'U', 'D', 'P', 12, t, 0, 0, 0, 0, 0, 0}; };
    };
    auto freeData = [](uint8_t ver) {
        return [ver](uint16_t) {
            auto p = Data(ver, 0x4FF0, 0, 0, "zz", 0xCAFEBABE);
            p[18] = uint8_t(ver | 0x30);
            return p;
        };
    };
    std::vector<Hostile> rows = {
        {"11 bytes", [](uint16_t) { return std::vector<uint8_t>{'R', 'U', 'D', 'P', 12, 0, 0, 0, 0, 0, 0}; }, {}, nullptr},
        {"type 10", typed(10), {}, "Invalid byPacketType[10]"},
        {"type 63", typed(63), {}, "Invalid byPacketType[63]"},
        {"type 47 version bits", typed(0xC0 | 47), {}, "Invalid byPacketType[47]"},
        {"session 0x5000", [](uint16_t) { return Data(2, 0x5000, 0, 0, "a"); }, {}, "Invalid iVRUDPHandle[20480]"},
        {"session 0xFFFF", [](uint16_t) { return Plain(PKT_ACK, 0xFFFF); }, {}, "Invalid iVRUDPHandle[65535]"},
        {"free handle head 16", freeData(0), {}, "poHRUdp is NULL"},
        {"free handle head 20", freeData(1),
         bytes({'R', 'U', 'D', 'P', 12, 9 | (1 << 6), 0x01, 0x05, 0xFF, 0xFF, 0xFF, 0xFF}), nullptr},
        {"free handle head 28", freeData(2),
         bytes({'R', 'U', 'D', 'P', 12, 9 | (2 << 6), 0x01, 0x05, 0xCA, 0xFE, 0xBA, 0xBE}), nullptr},
        {"head 20 on a 16-byte packet",
         [](uint16_t c) {
             auto p = Data(0, c, 0, 0, "");
             p[4] = 20;
             return p;
         },
         {}, "Invalid byHeadLength[20]"},
        {"wrong code in a 28-byte head", [](uint16_t c) { return Data(2, c, 0, 0, "q", kCode + 5); },
         bytes({'R', 'U', 'D', 'P', 12, 9 | (2 << 6), 0x01, 0x05, 0x11, 0x22, 0x33, 0x49}), "CheckSameRemote Failed"},
        {"sequence 128 ahead", [](uint16_t c) { return Data(2, c, 128, uint32_t(-1), "f"); }, {}, "Too Far Ahead"},
        // By signed difference 2^31 ahead reads as old: dropped, and acknowledged unchanged.
        {"sequence 2^31 ahead", [](uint16_t c) { return Data(2, c, 0x80000000u, uint32_t(-1), "f"); },
         bytes({'R', 'U', 'D', 'P', 12, 4 | (2 << 6), 0x01, 0x05, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF,
                0xFF}),
         nullptr},
        {"ACK of a block never sent",
         [](uint16_t c) {
             std::vector<uint8_t> p(20);
             BuildAck(p.data(), 2, c, kCode, 50, 40);
             return p;
         },
         {}, "ApplyAck, Ignored"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        peer.Send(srv.wPort, row.make(wConn));
        auto got = peer.Recv();
        EXPECT_EQ(got, row.reply);
        if (row.log) {
            EXPECT_FALSE(logs.Matching(row.log).empty());
        }
    }
    // From another address and from another port of this one: dropped, the connection unharmed.
    RawPeer other("127.0.0.2"), otherPort;
    for (RawPeer *p : {&other, &otherPort}) {
        p->Send(srv.wPort, Data(2, wConn, 0, uint32_t(-1), "evil"));
        p->Send(srv.wPort, Plain(PKT_RESET, wConn, 0));
        EXPECT_TRUE(p->Recv().empty());
    }
    EXPECT_GE(logs.Matching("Foreign Sender").size(), 4u);
    // Datagrams of 0, 8193 and 65507 bytes reach nobody.
    for (size_t n : {size_t(0), size_t(8193), size_t(65507)}) {
        std::vector<uint8_t> big(n, 'R');
        peer.Send(srv.wPort, big);
    }
    peer.Send(srv.wPort, Data(2, wConn, 0, uint32_t(-1), "fine"));
    EXPECT_EQ(peer.RecvType(PKT_ACK).size(), 20u);
    ASSERT_TRUE(srv.col.WaitCount(2, 2000));
    auto ev = srv.col.Events();
    // The 11-byte datagram is no RUDP packet: it goes to the callback as a plain datagram.
    ASSERT_EQ(ev.size(), 2u) << "nothing hostile was delivered";
    EXPECT_EQ(ev[0].iReliable, 0);
    EXPECT_EQ(ev[0].iHandle, -1);
    EXPECT_EQ(ev[0].data.size(), 11u);
    EXPECT_EQ(ev[1].iReliable, 1);
    EXPECT_EQ(std::string(ev[1].data.begin(), ev[1].data.end()), "fine");
    EXPECT_EQ(logs.Matching("Datagram Too Long").size(), 2u);
}

// INITs within one window of the rate limit: the window's opener and 20 more are made, the rest
// dropped. The clock is held so that a slow run cannot open further windows; the barrier after
// each batch keeps the endpoint's socket from overflowing and shows all of it was taken.
TEST_F(PacketTest, InitFloods) {
    uint32_t dwSeq = 0;
    auto barrier = [&] {
        peer.Send(srv.wPort, Data(2, wConn, dwSeq, uint32_t(-1), "b"));
        for (auto p = peer.RecvWithin(30000); !p.empty(); p = peer.RecvWithin(30000))
            if (p.size() == 20 && (p[5] & 0x3F) == PKT_ACK && Be32(p, 16) == dwSeq) {
                dwSeq++;
                return true;
            }
        return false;
    };
    struct HoldClock {
        HoldClock() { VRUDP_HoldTickForTest(true); }
        ~HoldClock() { VRUDP_HoldTickForTest(false); }
    } hold;
    const unsigned uMembers = GetVRUDPLinkMgr()->GetCurrNum();
    RawPeer flood;
    for (int i = 0; i < 100; i++) {
        flood.Send(srv.wPort, Init(2, 7, 77));
        if (i % 20 == 19) {
            ASSERT_TRUE(barrier());
        }
    }
    EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers + 1) << "one sender's repeats make one connection";

    // A thousand source ports in a fresh window.
    VRUDP_AdvanceTickForTest(1000);
    VRUDP_HoldTickForTest(true);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 1000; i++) {
        peers.push_back(std::make_unique<RawPeer>());
        peers.back()->Send(srv.wPort, Init(2, uint16_t(i), uint32_t(i)));
        if (i % 20 == 19) {
            ASSERT_TRUE(barrier()) << i;
        }
    }
    EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers + 1 + 21);
    // The endpoint answered before it took the barrier: the answers wait in the sockets.
    size_t nAnswered = 0;
    for (auto &p : peers)
        nAnswered += p->RecvWithin(0).size() == 14;
    EXPECT_EQ(nAnswered, 21u) << "only the connections made are answered";

    // The next window lets INITs through again.
    VRUDP_AdvanceTickForTest(1000);
    VRUDP_HoldTickForTest(true);
    RawPeer late;
    late.Send(srv.wPort, Init(2, 9, 99));
    EXPECT_EQ(late.RecvType(PKT_INIT_ACK).size(), 14u);
}

}  // namespace
