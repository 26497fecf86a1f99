// The media stream's two ends one at a time, each against a plain UDP socket that plays the
// other end: the receiver's ordering, pool and acknowledgements, and the sender's resends, RTT,
// bit-rate levels and rate control.
#include <fcntl.h>
#include <sys/socket.h>

#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/link/HRClientStream.h"
#include "transport/vrudp/link/VRUDPStream.h"
#include "vrudp_link_util.h"

using namespace vrudptest;

namespace {

// ---- receiver ----

class ReceiverTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        stream.SetSocket(local.Fd());
        VRUDP_SOCK_ADDR a = Addr("127.0.0.1", PortOfFd(sender.Fd()));
        stream.SetRemoteIP(&a);
        stream.SetLinkId(0x0102);
        stream.SetRecognizeCode(0xA1B2C3D4);
        stream.SetRecvDataCallback(
            [](const uint8_t *p, uint32_t n, int, void *u) {
                static_cast<ReceiverTest *>(u)->seqs.push_back(n ? p[0] : 0xFFFF);
                return 1;
            },
            this);
    }
    void Push(uint32_t dwSeq, size_t uPayload = 100) {
        auto p = DataPacket(dwSeq, uPayload);
        stream.PushDateToGetStreamCB(p.data(), 0, uint32_t(p.size()), 0);
    }
    // The next acknowledgement, skipping none.
    std::vector<uint32_t> NextAck() { return AckEntries(sender.Recv()); }

    RawPeer local, sender;
    CVRUDPStream stream;
    std::vector<uint32_t> seqs;
};

TEST_F(ReceiverTest, OutOfOrderDeliversInOneFlushAndAcksAtOnce) {
    stream.SetRemoteWndSize(25);
    Push(0);
    EXPECT_EQ(seqs, std::vector<uint32_t>({0}));
    Push(2);
    auto ack = sender.Recv();
    ASSERT_EQ(ack.size(), 20u);
    EXPECT_EQ(Be16(ack, 0), 20);
    EXPECT_EQ(Be16(ack, 4), 0x0102);
    EXPECT_EQ(Be32(ack, 6), 0xA1B2C3D4u);
    EXPECT_EQ(AckEntries(ack), std::vector<uint32_t>({2, 1}));
    Push(1);
    EXPECT_EQ(seqs, std::vector<uint32_t>({0, 1, 2}));
    // A duplicate is acknowledged and not delivered again.
    while (!sender.Recv().empty()) {
    }
    Push(1);
    EXPECT_EQ(AckEntries(sender.Recv()), std::vector<uint32_t>({2, 3}));
    EXPECT_EQ(seqs.size(), 3u);
}

// In order, every second packet is acknowledged; a resent one at once, since its sender waits
// for that answer before it moves on.
TEST_F(ReceiverTest, InOrderAcksEverySecondPacketAndAResentOneAtOnce) {
    stream.SetRemoteWndSize(25);
    struct Row {
        uint32_t dwSeq;
        bool bResent;
        std::vector<uint32_t> ack;  // empty: none
    } rows[] = {
        {0, false, {}}, {1, false, {1, 2}}, {2, true, {2, 3}}, {3, false, {}}, {4, true, {4, 5}}, {5, false, {}},
    };
    for (const Row &row : rows) {
        auto p = DataPacket(row.dwSeq, 100);
        p[3] = row.bResent ? 1 : 0;
        stream.PushDateToGetStreamCB(p.data(), 0, uint32_t(p.size()), 0);
        // The answer is sent before the push returns.
        std::vector<uint8_t> buf(100);
        ssize_t n = recv(sender.Fd(), buf.data(), buf.size(), MSG_DONTWAIT);
        buf.resize(n > 0 ? size_t(n) : 0);
        EXPECT_EQ(AckEntries(buf), row.ack) << "seq " << row.dwSeq;
    }
    EXPECT_EQ(seqs.size(), 6u);
}

TEST_F(ReceiverTest, FullPoolEvictsNewestOrDropsNewer) {
    stream.SetRemoteWndSize(0);  // 50 nodes
    ASSERT_EQ(stream.GetNodeCount(), 50u);
    for (uint32_t s = 2; s < 52; s++)
        Push(s);
    Push(60);  // newer than every listed node: dropped
    Push(1);   // older: the newest listed (51) gives way
    Push(0);
    ASSERT_EQ(seqs.size(), 51u);
    EXPECT_EQ(seqs.back(), 50u);
    EXPECT_EQ(stream.GetNeedSeq(), 51u);
}

TEST_F(ReceiverTest, GapTableNeverExceedsTenEntries) {
    stream.SetRemoteWndSize(100);
    for (uint32_t s = 2; s < 60; s += 2)
        Push(s);
    uint32_t table[16];
    int n = stream.GenerateSeqTableByNode(table, 16);
    ASSERT_EQ(n, 10);
    EXPECT_EQ(table[0], 58u);
    EXPECT_EQ(table[1], 0u);
    for (int i = 2; i < 10; i++)
        EXPECT_EQ(table[i], uint32_t(2 * i - 3));
    for (auto ack = NextAck(); !ack.empty(); ack = NextAck())
        EXPECT_LE(ack.size(), 10u);
}

TEST_F(ReceiverTest, HostilePacketsAreDropped) {
    stream.SetRemoteWndSize(25);
    struct Row {
        const char *pName;
        std::vector<uint8_t> pkt;
    } rows[] = {
        {"short", {0, 16, 3, 0, 0, 7}},
        {"type 4", [] { auto p = DataPacket(0, 10); p[2] = 4; return p; }()},
        {"payload length lies", [] { auto p = DataPacket(0, 10); p[7] = 11; return p; }()},
        {"head longer than packet", [] { auto p = DataPacket(0, 10); p[1] = 40; return p; }()},
        {"head shorter than its fields", [] { auto p = DataPacket(0, 10); p[1] = 4; p[7] = 22; return p; }()},
        {"out of order 1500 bytes", DataPacket(5, 1500)},
    };
    for (auto &r : rows)
        stream.PushDateToGetStreamCB(r.pkt.data(), 0, uint32_t(r.pkt.size()), 0);
    // kind 1 and a set flag are ignored
    auto p = DataPacket(0, 10);
    stream.PushDateToGetStreamCB(p.data(), 1, uint32_t(p.size()), 0);
    stream.PushDateToGetStreamCB(p.data(), 0, uint32_t(p.size()), 1);
    EXPECT_TRUE(seqs.empty());
    uint32_t table[10];
    EXPECT_EQ(stream.GenerateSeqTableByNode(table, 10), 2) << "nothing was stored";
    Push(0);
    EXPECT_EQ(seqs, std::vector<uint32_t>({0}));
    stream.StopStream();
    Push(1);
    EXPECT_EQ(seqs.size(), 1u);
}

TEST_F(ReceiverTest, RemoteWindowIsClampedBeforeSizingThePool) {
    struct {
        uint32_t dwWnd, dwNodes;
    } rows[] = {{0, 50}, {299, 349}, {300, 400}, {1024, 1124}, {1025, 1124}, {0xFFFFFFFF, 1124}};
    for (auto r : rows) {
        stream.SetRemoteWndSize(r.dwWnd);
        EXPECT_EQ(stream.GetNodeCount(), r.dwNodes) << r.dwWnd;
        EXPECT_TRUE(stream.IsInited());
    }
}

TEST_F(ReceiverTest, ControlRecordsParseWithoutReadingPastThem) {
    struct Row {
        const char *pName;
        std::vector<uint8_t> bytes;
        int16_t wHeart;
    } rows[] = {
        {"heartbeat", {0xEE, 0xFF, 0, 5, 0, 42, 1}, 42},
        {"not a heartbeat", {0xEE, 0xFF, 0, 5, 0, 43, 0}, 0},
        {"length below 5", {0xEE, 0xFF, 0, 2, 1, 1, 0xEE, 0xFF, 0, 5, 0, 44, 1}, 44},
        {"length above 2000", {0xEE, 0xFF, 0x08, 0, 0, 45, 1}, 0},
        {"split record", {0xEE, 0xFF, 0}, 0},
    };
    for (auto &r : rows) {
        CVRUDPStream s;
        s.RecvTCPDataCB(r.bytes.data(), uint32_t(r.bytes.size()), 0);
        EXPECT_EQ(s.GetLastHeartSeq(), r.wHeart) << r.pName;
    }
    CVRUDPStream s;
    uint8_t a[] = {1, 2, 0xEE, 0xFF, 0}, b[] = {5, 0, 46, 1};
    s.RecvTCPDataCB(a, sizeof a, 0);
    s.RecvTCPDataCB(b, sizeof b, 0);
    EXPECT_EQ(s.GetLastHeartSeq(), 46) << "a record split over two pieces";
    std::vector<uint8_t> junk(5000, 0xEE);
    s.RecvTCPDataCB(junk.data(), uint32_t(junk.size()), 0);  // never a whole record: no stall, no overrun
}

// ---- sender ----

class SenderTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        stream.SetSocket(local.Fd());
        YAR_ADDR_T a;
        YAR_MakeAddrByString(YAR_AF_INET, "127.0.0.1", PortOfFd(receiver.Fd()), &a);
        stream.SetRemoteAddr(a);
        ASSERT_EQ(stream.Start(false), 0);
        // Short reads keep each test well inside the first RTO, so only the resends under test happen.
        timeval tv{0, 20000};
        setsockopt(receiver.Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        uint8_t initAck[20] = {0, 16, 6, 0, 0, 9, 0, 1};
        ASSERT_EQ(stream.ParseSynRet(initAck, sizeof initAck), 0);
        // ParseAck compares the code, which ConnectRemote sets; a zero time-out sets it only.
        stream.ConnectRemote(1, kCode, 0);
    }
    void TearDown() override {
        stream.Stop();
        servicetest::InitedTest::TearDown();
    }
    void Ack(std::vector<uint32_t> entries) {
        auto p = AckPkt(kCode, entries);
        stream.ParseAck(p.data(), uint32_t(p.size()));
    }
    // Sequences that reached the receiver; resends are those with byte 3 set.
    std::vector<std::pair<uint32_t, int>> Drain() {
        std::vector<std::pair<uint32_t, int>> v;
        for (auto p = receiver.Recv(); !p.empty(); p = receiver.Recv())
            v.push_back({Be32(p, 8), p[3]});
        return v;
    }
    void SendN(uint32_t n) {
        std::vector<uint8_t> data(100, 1);
        for (uint32_t i = 0; i < n; i++)
            ASSERT_EQ(stream.SendVideoData(data.data(), uint32_t(data.size())), 116u);
    }
    static constexpr uint32_t kCode = 0x01020304;
    RawPeer local, receiver;
    CHRClientStream stream;
};

TEST_F(SenderTest, DataHeadAndPayloadLimit) {
    std::vector<uint8_t> data(1485, 7);
    EXPECT_EQ(stream.SendVideoData(data.data(), 1484), 1500u);
    EXPECT_EQ(stream.SendVideoData(data.data(), 1485), 0u);
    EXPECT_EQ(stream.SendVideoData(nullptr, 10), 0u);
    auto p = receiver.Recv();
    ASSERT_EQ(p.size(), 1500u);
    EXPECT_EQ(Be16(p, 0), 16);
    EXPECT_EQ(p[2], 3);
    EXPECT_EQ(Be16(p, 4), 9) << "the receiver's session from the connect reply";
    EXPECT_EQ(Be16(p, 6), 1484);
    EXPECT_EQ(Be32(p, 8), 0u);
    EXPECT_EQ(Be32(p, 12), 0u);
}

TEST_F(SenderTest, FullBufferDropsAndCounts) {
    std::vector<uint8_t> data(1484, 7);
    uint32_t dwTaken = 0, dwDropped = 0;
    for (int i = 0; i < 1500; i++) {
        uint32_t r = stream.SendVideoData(data.data(), 1484);
        (r == 1500 ? dwTaken : dwDropped) += 1;
        ASSERT_TRUE(r == 1500 || r == 1484) << r;
    }
    EXPECT_EQ(dwTaken, 2097152u / (1500 + 28));
    EXPECT_EQ(stream.GetDropBytes(), dwDropped * 1484);
    HR_CLIENT_STREAM_STAT st;
    stream.GetStatistics(&st);
    EXPECT_EQ(st.dwRBufDataLen, dwTaken * 1528);
    // Acknowledged packets leave the buffer and make room again.
    Ack({dwTaken - 1, dwTaken});
    stream.RemoveAfterRecvSeq();
    stream.GetStatistics(&st);
    EXPECT_EQ(st.dwRBufDataLen, 0u);
    EXPECT_EQ(st.dwAckedBytes, dwTaken * 1528);
    EXPECT_EQ(stream.SendVideoData(data.data(), 1484), 1500u);
}

TEST_F(SenderTest, FastResendAfterThreeReportsAndForcedFlag) {
    SendN(5);
    EXPECT_EQ(Drain().size(), 5u);
    Ack({4, 1});
    Ack({4, 1});
    stream.RemoveAfterRecvSeq();
    stream.CheckAndResendData();
    EXPECT_TRUE(Drain().empty()) << "score 10 is not enough";
    Ack({4, 1});
    HR_STORED_HEAD h;
    ASSERT_TRUE(stream.PeekStored(1, &h));
    EXPECT_EQ(h.dwNeedResendTime, 15u);
    stream.CheckAndResendData();
    EXPECT_EQ(Drain(), (std::vector<std::pair<uint32_t, int>>{{1, 1}}));
    stream.CheckAndResendData();
    EXPECT_TRUE(Drain().empty()) << "resent once";
    // Reported again while late: the resent packet is forced and no longer sampled for RTT.
    Ack({4, 1});
    ASSERT_TRUE(stream.PeekStored(1, &h));
    EXPECT_EQ(h.bySendCount, 2);
    EXPECT_EQ(h.byForced, 1);
}

TEST_F(SenderTest, GapTableWalkScoresOnlyListedPackets) {
    SendN(8);
    Drain();
    Ack({7, 1, 3, 6});
    for (uint32_t s = 0; s < 8; s++) {
        HR_STORED_HEAD h;
        ASSERT_TRUE(stream.PeekStored(s, &h));
        bool bListed = s == 1 || s == 3 || s == 6;
        EXPECT_EQ(h.dwNeedResendTime, bListed ? 5u : 0u) << s;
    }
}

TEST_F(SenderTest, RtoResendOfTheNeededSequence) {
    SendN(3);
    Drain();
    Ack({2, 0});
    stream.CheckAndResendData();
    EXPECT_TRUE(Drain().empty());
    VRUDP_AdvanceTickForTest(stream.GetRTO());
    stream.CheckAndResendData();
    EXPECT_EQ(Drain(), (std::vector<std::pair<uint32_t, int>>{{0, 1}})) << "only the needed one";
    VRUDP_AdvanceTickForTest(stream.GetRTO());
    stream.CheckAndResendData();
    EXPECT_EQ(Drain(), (std::vector<std::pair<uint32_t, int>>{{0, 1}})) << "again after the next RTO";
}

TEST_F(SenderTest, FirstRttSampleGivesRto) {
    SendN(1);
    VRUDP_AdvanceTickForTest(50);
    Ack({0, 1});
    // 50 ms on the clock plus the little real time the test itself took.
    float fSample = stream.AverageRTT();
    EXPECT_GE(fSample, 50.0f);
    EXPECT_LT(fSample, 60.0f);
    EXPECT_EQ(stream.GetRTO(), uint32_t(fSample) + 200) << "the deviation's floor of 200";
}

TEST_F(SenderTest, HostileAcksAreRefusedWhole) {
    SendN(3);
    struct Row {
        const char *pName;
        std::vector<uint8_t> pkt;
    } rows[] = {
        {"count 0", AckPkt(kCode, {})},
        {"count 11", AckPkt(kCode, {2, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
        {"count 65535", [] { auto p = AckPkt(kCode, {2, 3}); p[10] = p[11] = 0xFF; return p; }()},
        {"shorter than its count", [] { auto p = AckPkt(kCode, {2, 3, 1}); p.resize(20); return p; }()},
        {"11 bytes", [] { auto p = AckPkt(kCode, {2, 3}); p.resize(11); return p; }()},
        {"wrong code", AckPkt(kCode + 1, {2, 3})},
        {"not an ACK", [] { auto p = AckPkt(kCode, {2, 3}); p[2] = 3; return p; }()},
    };
    for (auto &r : rows)
        EXPECT_EQ(stream.ParseAck(r.pkt.data(), uint32_t(r.pkt.size())), -1) << r.pName;
    stream.RemoveAfterRecvSeq();
    HR_CLIENT_STREAM_STAT st;
    stream.GetStatistics(&st);
    EXPECT_EQ(st.dwRBufDataLen, 3u * (116 + 28)) << "no refused table removed anything";
}

// The socket belongs to the link: a fatal send error stops the stream and tells the link once,
// and neither that nor Stop closes the descriptor.
TEST(StreamSender, FatalSendErrorReportsOnceAndLeavesTheSocket) {
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    int iFd = socket(AF_INET, SOCK_DGRAM, 0);
    int iClosed = 0;
    {
        CHRClientStream s;
        s.SetSocket(iFd);
        YAR_ADDR_T a;
        YAR_MakeAddrByString(YAR_AF_INET6, "::1", 9, &a);  // no IPv6 destination on an IPv4 socket
        s.SetRemoteAddr(a);
        s.SetCloseCallback([](void *u) { ++*static_cast<int *>(u); }, &iClosed);
        ASSERT_EQ(s.Start(), 0);
        uint8_t data[10] = {};
        for (int i = 0; i < 3; i++)
            s.SendVideoData(data, sizeof data);
        EXPECT_EQ(iClosed, 1);
        EXPECT_EQ(LastError(), 8);
        s.Stop();
    }
    EXPECT_EQ(iClosed, 1);
    EXPECT_NE(fcntl(iFd, F_GETFD), -1) << "the stream closed a socket it does not own";
    close(iFd);
    GetCoreGlobalCtrl()->Fini();
}

TEST(StreamSender, BitrateLevelsAndBands) {
    struct Step {
        uint32_t dwRate, dwWnd, dwNear, dwResend, dwBuf, dwSmoothed;
    };
    struct Row {
        const char *pName;
        std::vector<Step> steps;
    } rows[] = {
        {"5000 then 5100 changes nothing",
         {{5000, 800, 160, 48, 6291456, 5000}, {5100, 800, 160, 48, 6291456, 5012}}},
        {"above 20000 ignored", {{20001, 25, 5, 3, 2097152, 0}}},
        {"300 is the lowest level", {{300, 25, 5, 3, 2097152, 300}}},
        {"301", {{301, 50, 10, 5, 2097152, 301}}},
        {"512", {{512, 50, 10, 5, 2097152, 512}}},
        {"513", {{513, 100, 20, 10, 2097152, 513}}},
        {"1024", {{1024, 100, 20, 10, 2097152, 1024}}},
        {"1025", {{1025, 200, 40, 12, 2097152, 1025}}},
        {"2049", {{2049, 400, 80, 24, 4194304, 2049}}},
        {"4096", {{4096, 400, 80, 24, 4194304, 4096}}},
        {"4097", {{4097, 800, 160, 48, 6291456, 4097}}},
        {"a change of 100 below 500 is ignored", {{200, 25, 5, 3, 2097152, 200}, {1000, 25, 5, 3, 2097152, 300}}},
        {"a change of 101 below 500 applies", {{200, 25, 5, 3, 2097152, 200}, {1008, 50, 10, 5, 2097152, 301}}},
        {"a change of 400 below 2000 is ignored", {{1000, 100, 20, 10, 2097152, 1000}, {4200, 100, 20, 10, 2097152, 1400}}},
        {"a change of 401 below 2000 applies", {{1000, 100, 20, 10, 2097152, 1000}, {4208, 200, 40, 12, 2097152, 1401}}},
        {"a change of 200 below 1000 is ignored", {{513, 100, 20, 10, 2097152, 513}, {2113, 100, 20, 10, 2097152, 713}}},
    };
    for (auto &r : rows) {
        CHRClientStream s;
        for (auto &st : r.steps) {
            s.SetBitrate(st.dwRate);
            EXPECT_EQ(s.GetSmoothedBitrate(), st.dwSmoothed) << r.pName << " " << st.dwRate;
            EXPECT_EQ(s.GetSendWndMax(), st.dwWnd) << r.pName << " " << st.dwRate;
            EXPECT_EQ(s.GetNearDistance(), st.dwNear) << r.pName;
            EXPECT_EQ(s.GetResendCountMax(), st.dwResend) << r.pName;
            EXPECT_EQ(s.GetRBufSize(), st.dwBuf) << r.pName;
        }
    }
}

TEST(StreamSender, BlockWindowAndRateProbe) {
    struct {
        uint32_t dwRemoved;
        int bLost;
        uint32_t dwWaiting, dwWnd;
    } rows[] = {{5, 0, 0, 10}, {20, 0, 0, 25}, {5, 1, 5, 6}, {5, 1, 6, 5}, {0, 1, 0, 1}};
    for (auto r : rows) {
        CHRClientStream s;
        s.AdjustBlockWnd(r.dwRemoved, r.bLost, r.dwWaiting);
        EXPECT_EQ(s.GetSendWndBlockCtrl(), r.dwWnd) << r.dwRemoved << " " << r.bLost << " " << r.dwWaiting;
    }
    CHRClientStream s;
    EXPECT_EQ(s.SampleRate(500), 0) << "less than a second since the last sample";
    EXPECT_EQ(s.SampleRate(1000), 1);
    EXPECT_EQ(s.AverageRate(), 0u);
    s.SetExpectRate(0);
    EXPECT_EQ(s.ComputeIncSendRate(1), 1) << "average 0 is not above 0";
    s.SetExpectRate(100000);
    EXPECT_EQ(s.ComputeIncSendRate(1), 1);
    EXPECT_EQ(s.GetDetectDataSendRate(), 0u);
    EXPECT_EQ(s.ComputeIncSendRate(0), 1);
    EXPECT_EQ(s.GetDetectDataSendRate(), 0u) << "three times nothing";
}

}  // namespace
