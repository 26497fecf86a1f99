// The RQS server link (kind 22) against a Python sender and sockets of the test's own, on loopback.
#include <gtest/gtest.h>

#include "server_link_test_util.h"

using namespace Vorezi;
using namespace srvtest;

namespace {

using ServerLinkRQS = PoolTest<0>;

int CreateRqs(Recorder *pRec, int iPort) {
    SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_RQS, "127.0.0.1", (WORD)iPort, pRec);
    return pRec->Create(&c);
}

TEST_F(ServerLinkRQS, DatagramsArriveAsKind22WithTheirSender) {
    Recorder rec;
    const int iPort = FreePort(SOCK_DGRAM);
    const int h = CreateRqs(&rec, iPort);
    ASSERT_GE(h, 0);
    servicetest::LogCapture log;
    PyClient client({"udp-send", "127.0.0.1", std::to_string(iPort), "5", "40000", "1400", "32768"});
    EXPECT_EQ("SENT", client.Line());
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 3, 30000));
    ASSERT_TRUE(servicetest::WaitFor([&] { return !log.Matching("Datagram Too Long").empty(); }, 30000));
    std::vector<Record> records = rec.Records();
    ASSERT_EQ(3u, records.size());
    const size_t sizes[] = {5, 1400, 32768};
    for (size_t i = 0; i < 3; i++) {
        const Record &r = records[i];
        EXPECT_EQ(22u, r.dwKind);
        EXPECT_EQ(h, r.iLink);
        EXPECT_EQ("127.0.0.1", r.peer);
        EXPECT_NE(0, r.iPeerPort);
        ASSERT_EQ(sizes[i], r.data.size());
        for (size_t k = 0; k < r.data.size(); k++)
            ASSERT_EQ((char)(k % 251), r.data[k]) << k;
    }
    EXPECT_EQ(1u, log.Matching("CServerLinkRQS::RecvData, Datagram Too Long, iRecvLen[40000]").size());
}

TEST_F(ServerLinkRQS, SendDataByTextAddress) {
    Recorder rec;
    const int h = CreateRqs(&rec, 0);
    ASSERT_GE(h, 0);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof(a);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&a), n));
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    SERVER_LINK_SEND_PARAM s{};
    s.pPeerIP = "127.0.0.1";
    s.wPeerPort = ntohs(a.sin_port);
    s.pData = "reply";
    s.dwDataLen = 5;
    EXPECT_EQ(5, Morva_ServerLinkSendData(h, &s));
    char buf[16] = {0};
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 30000));
    EXPECT_EQ(5, recv(fd, buf, sizeof(buf), 0));
    EXPECT_STREQ("reply", buf);
    close(fd);
    // The socket is IPv4 only: an IPv6 text fails with the send error.
    servicetest::LogCapture log;
    s.pPeerIP = "::1";
    EXPECT_LT(Morva_ServerLinkSendData(h, &s), 0);
    EXPECT_EQ(8, LastError());
    EXPECT_EQ(1u, log.Matching("CServerLinkRQS::SendData, YAR_SendTo Failed, iRet[-1]").size());
}

TEST_F(ServerLinkRQS, BusyPortFailsWithBindError) {
    Recorder rec;
    const int iPort = FreePort(SOCK_DGRAM);
    ASSERT_GE(CreateRqs(&rec, iPort), 0);
    servicetest::LogCapture log;
    EXPECT_EQ(-1, CreateRqs(&rec, iPort));
    EXPECT_EQ(72, LastError());
    EXPECT_EQ(1u, log.Matching("CServerLinkRQS::OpenLink, YAR_Bind Failed, syserror[").size());
}

TEST_F(ServerLinkRQS, StoppedLinkKeepsItsSocketNumberUntilItsThreadEnds) {
    StopWhileTheCallbackHoldsTheThread(CreateRqs);
}

TEST_F(ServerLinkRQS, StopWhileFlooded) {
    for (int round = 0; round < 5; round++) {
        Recorder rec;
        const int iPort = FreePort(SOCK_DGRAM);
        const int h = CreateRqs(&rec, iPort);
        ASSERT_GE(h, 0);
        PyClient flood({"udp-flood", "127.0.0.1", std::to_string(iPort)});
        ASSERT_EQ("FLOOD", flood.Line());
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 100, 30000));
        servicetest::LogCapture log;
        ASSERT_EQ(1, Morva_DestroyServerLink(h));
        EXPECT_EQ(0u, log.Matching("YAR_RecvFrom Failed").size());
        EXPECT_EQ(0u, log.Matching("YAR_Select Failed").size());
        EXPECT_EQ(1u, log.Matching("CServerLinkRQS::RecvData, Exit").size());
    }
}

}  // namespace
