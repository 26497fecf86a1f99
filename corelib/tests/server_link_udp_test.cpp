// The UDP server link against a Python sender and sockets of the test's own, on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "server_link_test_util.h"

using namespace Vorezi;
using namespace srvtest;

namespace {

using ServerLinkUDP = PoolTest<0>;

int CreateUdp(Recorder *pRec, const char *pIP, int iPort, DWORD dwRecvTimeOut = 0) {
    SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_UDP, pIP, (WORD)iPort, pRec);
    c.dwRecvTimeOut = dwRecvTimeOut;
    return pRec->Create(&c);
}

TEST_F(ServerLinkUDP, DatagramsArriveWithTheirSender) {
    Recorder rec;
    const int iPort = FreePort(SOCK_DGRAM);
    const int h = CreateUdp(&rec, "127.0.0.1", iPort);
    ASSERT_GE(h, 0);
    servicetest::LogCapture log;
    PyClient client({"udp-send", "127.0.0.1", std::to_string(iPort), "5", "0", "40000", "1400", "32768"});
    EXPECT_EQ("SENT", client.Line());
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 3));
    ASSERT_TRUE(servicetest::WaitFor([&] { return !log.Matching("RecData, YAR_RecvFrom return 0").empty(); }, 5000));
    std::vector<Record> records = rec.Records();
    ASSERT_EQ(3u, records.size());
    const size_t sizes[] = {5, 1400, 32768};
    for (size_t i = 0; i < 3; i++) {
        const Record &r = records[i];
        EXPECT_EQ(1u, r.dwKind);
        EXPECT_EQ(h, r.iLink);
        EXPECT_EQ(-1, r.iAccept);
        EXPECT_EQ("127.0.0.1", r.peer);
        EXPECT_NE(0, r.iPeerPort);
        EXPECT_EQ(records[0].iPeerPort, r.iPeerPort);
        ASSERT_EQ(sizes[i], r.data.size());
        for (size_t k = 0; k < r.data.size(); k++)
            ASSERT_EQ((char)(k % 251), r.data[k]) << k;
    }
    EXPECT_EQ(1u, log.Matching("CServerLinkUDP::RecData, YAR_RecvFrom return 0, m_socket[").size());
    EXPECT_EQ(1u, log.Matching("CServerLinkUDP::RecData, Datagram Too Long, iRecvLen[40000]").size());
}

// The thread of this process blocked in poll(2) with the given time-out, or 0.
pid_t ThreadPollingFor(int iTimeoutMs) {
    DIR *d = opendir("/proc/self/task");
    pid_t found = 0;
    while (dirent *e = d ? readdir(d) : nullptr) {
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/syscall");
        long number = -1;
        std::string fds, nfds, timeout;
        if (e->d_name[0] != '.' && (in >> number >> fds >> nfds >> timeout) && number == SYS_poll &&
            std::stol(timeout, nullptr, 16) == iTimeoutMs)
            found = (pid_t)std::atoi(e->d_name);
    }
    if (d)
        closedir(d);
    return found;
}

TEST_F(ServerLinkUDP, ReceiveTimeOutSetsTheWaitCadence) {
    Recorder rec;
    servicetest::LogCapture log;
    ASSERT_EQ(0, ThreadPollingFor(1500));
    const int h = CreateUdp(&rec, "127.0.0.1", FreePort(SOCK_DGRAM), 1500);
    ASSERT_GE(h, 0);
    // The receive thread waits 1.5 s at a time.
    EXPECT_TRUE(servicetest::WaitFor([] { return ThreadPollingFor(1500) != 0; }, 5000));
    const auto start = std::chrono::steady_clock::now();
    const std::string line = "CServerLinkUDP::RecData, YAR_Select Timeout, m_dwRecTimeOut[1500]";
    ASSERT_TRUE(servicetest::WaitFor([&] { return log.Matching(line).size() >= 1; }, 5000));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(servicetest::WaitFor([&] { return log.Matching(line).size() >= 2; }, 5000));
    const auto second = std::chrono::steady_clock::now();
    EXPECT_GE(first - start, std::chrono::milliseconds(1400));
    EXPECT_GE(second - first, std::chrono::milliseconds(1400));
}

// A socket of the test's own that the link sends to; what it received.
std::string SendAndReceive(int h, const char *pIP, int iFamily) {
    int fd = socket(iFamily, SOCK_DGRAM, 0);
    sockaddr_storage ss{};
    socklen_t n = iFamily == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    ss.ss_family = (sa_family_t)iFamily;
    inet_pton(iFamily, pIP,
              iFamily == AF_INET6 ? (void *)&reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_addr
                                  : (void *)&reinterpret_cast<sockaddr_in *>(&ss)->sin_addr);
    bind(fd, reinterpret_cast<sockaddr *>(&ss), n);
    getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &n);
    const int iPort = ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);  // same offset in both
    SERVER_LINK_SEND_PARAM s{};
    s.pPeerIP = pIP;
    s.wPeerPort = (WORD)iPort;
    s.pData = "reply";
    s.dwDataLen = 5;
    EXPECT_EQ(5, Morva_ServerLinkSendData(h, &s));
    char buf[16] = {0};
    pollfd p{fd, POLLIN, 0};
    std::string got;
    if (poll(&p, 1, 3000) == 1)
        got.assign(buf, (size_t)std::max<ssize_t>(0, recv(fd, buf, sizeof(buf), 0)));
    close(fd);
    return got;
}

TEST_F(ServerLinkUDP, SendsToIPv4AndIPv6Texts) {
    Recorder rec;
    const int h4 = CreateUdp(&rec, "127.0.0.1", 0);
    const int h6 = CreateUdp(&rec, "::1", 0);
    ASSERT_GE(h4, 0);
    ASSERT_GE(h6, 0);
    EXPECT_EQ("reply", SendAndReceive(h4, "127.0.0.1", AF_INET));
    EXPECT_EQ("reply", SendAndReceive(h6, "::1", AF_INET6));
    SERVER_LINK_SEND_PARAM s{};
    s.pPeerIP = "::1";
    s.wPeerPort = 9;
    s.pData = "x";
    s.dwDataLen = 1;
    EXPECT_LT(Morva_ServerLinkSendData(h4, &s), 0);  // an IPv6 destination on an IPv4 socket
    EXPECT_EQ(8, LastError());
}

TEST_F(ServerLinkUDP, BusyPortAndAddresses) {
    Recorder rec;
    const int iPort = FreePort(SOCK_DGRAM);
    ASSERT_GE(CreateUdp(&rec, "", iPort), 0);  // the wildcard: a loopback sender reaches it
    PyClient client({"udp-send", "127.0.0.1", std::to_string(iPort), "3"});
    EXPECT_EQ("SENT", client.Line());
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
    servicetest::LogCapture log;
    EXPECT_EQ(-1, CreateUdp(&rec, "127.0.0.1", iPort));
    EXPECT_EQ(72, LastError());
    EXPECT_EQ(1u, log.Matching("CServerLinkUDP::OpenLink, YAR_Bind socket[").size());
}

TEST_F(ServerLinkUDP, StopWhileFlooded) {
    for (int round = 0; round < 5; round++) {
        Recorder rec;
        const int iPort = FreePort(SOCK_DGRAM);
        SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_UDP, "127.0.0.1", (WORD)iPort, &rec);
        const int h = rec.Create(&c);
        ASSERT_GE(h, 0);
        PyClient flood({"udp-flood", "127.0.0.1", std::to_string(iPort)});
        ASSERT_EQ("FLOOD", flood.Line());
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 100));
        servicetest::LogCapture log;
        ASSERT_EQ(1, Morva_DestroyServerLink(h));
        EXPECT_EQ(0u, log.Matching("YAR_RecvFrom Failed").size());
        EXPECT_EQ(0u, log.Matching("YAR_Select Failed").size());
        EXPECT_EQ(1u, log.Matching("CServerLinkUDP::RecData, Exit").size());
    }
}

TEST_F(ServerLinkUDP, StoppedLinkKeepsItsSocketNumberUntilItsThreadEnds) {
    StopWhileTheCallbackHoldsTheThread([](Recorder *pRec, int iPort) { return CreateUdp(pRec, "127.0.0.1", iPort); });
}

}  // namespace
