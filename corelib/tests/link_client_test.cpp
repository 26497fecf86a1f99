// Blocking client links over TCP and UDP against the Python peers of tests/peers on loopback:
// receive results, defaults, sends to slow and stalled peers, connect failures, server texts,
// IPv6, buffer sizes and the local-port parameter.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "morva/MorvaNetwork.h"
#include "service_test_util.h"

using namespace Vorezi;
using linktest::Peer;

namespace {

using Clock = std::chrono::steady_clock;

int LastError() { return GetCoreGlobalCtrl()->GetLastError(); }

long Ms(Clock::duration d) { return (long)std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

class ClientLink : public servicetest::InitedTest {
protected:
    void TearDown() override {
        for (CLinkBase *p : m_links)
            Link_DestroyLink(p);
        servicetest::InitedTest::TearDown();
    }
    CLinkBase *Keep(CLinkBase *p) {
        if (p)
            m_links.push_back(p);
        return p;
    }
    std::vector<CLinkBase *> m_links;
};

// A loopback listener whose accept queue is full, so that further SYNs are dropped.
struct FullListener {
    linktest::Listener listener{0};
    std::vector<int> fillers;
    FullListener() {
        for (int i = 0; i < 4; i++) {
            int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons((uint16_t)listener.Port());
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connect(s, (sockaddr *)&a, sizeof(a));
            fillers.push_back(s);
        }
    }
    ~FullListener() {
        for (int s : fillers)
            close(s);
    }
};

TEST_F(ClientLink, ReceiveResults) {
    Peer echo({"tcp-echo"});
    ASSERT_GT(echo.Port(), 0);
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", echo.Port()));
    ASSERT_NE(nullptr, pLink);
    char buf[64];
    DWORD dwLen = 0;
    const struct {
        const char *pWhat;
        std::string send;
        DWORD dwSize, dwTimeOut;
        int bFirstData;
        int iResult, iError;
        DWORD dwExpectLen;
    } cases[] = {
        {"buffer filled", "abc", 3, 2000, 0, 1, 0, 3},
        {"first data into a larger buffer", "abcdef", 64, 2000, 1, 1, 0, 6},
        {"first data against a full buffer", "0123456789", 4, 2000, 1, 1, 0, 4},
        {"the rest of it", "", 6, 2000, 0, 1, 0, 6},
        {"time-out", "", 16, 100, 0, 1, 10, 0},
    };
    for (const auto &c : cases) {
        if (!c.send.empty()) {
            ASSERT_EQ((int)c.send.size(), Link_SendDataByLink(pLink, c.send.data(), (DWORD)c.send.size(), 0));
        }
        EXPECT_EQ(c.iResult, Link_RecvData(pLink, buf, c.dwSize, &dwLen, c.dwTimeOut, c.bFirstData)) << c.pWhat;
        EXPECT_EQ(c.iError, LastError()) << c.pWhat;
        EXPECT_EQ(c.dwExpectLen, dwLen) << c.pWhat;
    }

    Peer closer({"tcp-close"});
    CLinkBase *pClosed = Keep(linktest::Connect("127.0.0.1", closer.Port()));
    ASSERT_NE(nullptr, pClosed);
    servicetest::LogCapture log;
    EXPECT_EQ(0, Link_RecvData(pClosed, buf, sizeof(buf), &dwLen, 2000, 0));
    EXPECT_EQ(73, LastError());
    EXPECT_FALSE(log.Matching("CLinkBase::RecvData, DoRealRecvEx Failed").empty());
    EXPECT_FALSE(log.Matching("Link_RecvData Failed, pLink[0x").empty());
}

TEST_F(ClientLink, ZeroTimeOutsTakeTheLibraryDefaults) {
    // Connect: the library's connect time-out, set here to show that it is read.
    ASSERT_EQ(1, Morva_SetConnectTimeOut(400, 0));
    FullListener full;
    auto start = Clock::now();
    EXPECT_EQ(nullptr, linktest::Connect("127.0.0.1", full.listener.Port()));
    const long lConnect = Ms(Clock::now() - start);
    EXPECT_EQ(7, LastError());
    EXPECT_GE(lConnect, 350);
    EXPECT_LT(lConnect, 2500);

    // Receive: the library's default receive time-out.
    ASSERT_EQ(1, Morva_SetDefaultRecvTimeOut(1000));
    Peer echo({"tcp-echo"});
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", echo.Port()));
    ASSERT_NE(nullptr, pLink);
    char buf[8];
    DWORD dwLen = 1;
    start = Clock::now();
    EXPECT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 0, 0));
    const long lRecv = Ms(Clock::now() - start);
    EXPECT_EQ(10, LastError());
    EXPECT_EQ(0u, dwLen);
    EXPECT_GE(lRecv, 950);
    EXPECT_LT(lRecv, 3000);
    // The link's own receive time-out comes before the library's.
    ASSERT_EQ(1, Link_AdjustRecvTimeOut(pLink, 200));
    start = Clock::now();
    EXPECT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 0, 0));
    EXPECT_LT(Ms(Clock::now() - start), 900);
}

TEST_F(ClientLink, BlockingSendsReachASlowReaderWhole) {
    Peer slow({"tcp-echo", "--slow"});
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", slow.Port()));
    ASSERT_NE(nullptr, pLink);
    std::string data(60000, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 7 + i / 251);
    ASSERT_EQ((int)data.size(), Link_SendDataByLink(pLink, data.data(), (DWORD)data.size(), 10000));
    std::string back(data.size(), '\0');
    size_t got = 0;
    DWORD dwLen = 0;
    while (got < data.size() && Link_RecvData(pLink, &back[got], (DWORD)(data.size() - got), &dwLen, 5000, 1) && dwLen)
        got += dwLen;
    EXPECT_EQ(data, back.substr(0, got));
}

TEST_F(ClientLink, AStalledPeerMakesTheSendShortWithError8) {
    Peer stall({"tcp-stall"});
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", stall.Port()));
    ASSERT_NE(nullptr, pLink);
    ASSERT_EQ(1, pLink->SetBuffSize(4096, 0));
    std::string data(8 << 20, 'x');
    GetCoreGlobalCtrl()->SetLastError(0);
    const auto start = Clock::now();
    const int iSent = Link_SendDataByLink(pLink, data.data(), (DWORD)data.size(), 300);
    EXPECT_LT(iSent, (int)data.size());
    EXPECT_EQ(8, LastError());
    // The peer never reads: without the time-out the send would never return.
    EXPECT_GE(Ms(Clock::now() - start), 280);
    EXPECT_LT(Ms(Clock::now() - start), 30000);
}

TEST_F(ClientLink, ConnectFailures) {
    // A closed port is refused at once.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof(a));
    socklen_t n = sizeof(a);
    getsockname(s, (sockaddr *)&a, &n);
    close(s);
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", ntohs(a.sin_port));
    p.dwConnectTimeout = 30000;
    auto start = Clock::now();
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_EQ(7, LastError());
    EXPECT_LT(Ms(Clock::now() - start), 15000) << "the refusal does not wait for the time-out";

    // No answer: the connect time-out of the link.
    FullListener full;
    p = linktest::MakeParam("127.0.0.1", full.listener.Port());
    p.dwConnectTimeout = 300;
    start = Clock::now();
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_EQ(7, LastError());
    EXPECT_GE(Ms(Clock::now() - start), 280);
}

TEST_F(ClientLink, ServerAddressTexts) {
    CLinkBase *pLink = Keep(new (-1) CLinkTCP);
    ASSERT_NE(nullptr, pLink);
    const std::string sLong47 = "fe80::1:" + std::string(39, '1');
    const std::string sLong48 = sLong47 + "1";
    const struct {
        const char *pWhat;
        const char *pIP;
        const char *pGroup;
        int iResult;
    } cases[] = {
        {"15 characters", "255.255.255.255", nullptr, 1},
        {"16 characters without a colon", "255.255.255.2555", nullptr, 0},
        {"IPv6 loopback", "::1", nullptr, 1},
        {"47 characters with a colon", sLong47.c_str(), nullptr, 1},
        {"48 characters with a colon", sLong48.c_str(), nullptr, 0},
        {"a group text of 48 characters", "239.1.1.1", sLong48.c_str(), 0},
        {"null", nullptr, nullptr, 0},
    };
    for (const auto &c : cases) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(c.iResult, pLink->SetServerIP(c.pIP, c.pGroup, 80, 0)) << c.pWhat;
        EXPECT_EQ(c.iResult ? 0 : 17, LastError()) << c.pWhat;
    }

    // The text a long link sets before it connects again.
    ASSERT_EQ(1, pLink->SetServerIPText(sLong47.c_str()));
    EXPECT_EQ(sLong47, pLink->GetServerIPText());
    for (const char *pText : {sLong48.c_str(), (const char *)nullptr}) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(0, pLink->SetServerIPText(pText)) << (pText ? "48 characters" : "null");
        EXPECT_EQ(17, LastError());
        EXPECT_EQ(sLong47, pLink->GetServerIPText()) << "a refused text leaves the old one";
    }

    // A destination text: 47 characters are taken, 48 refuse the link before it connects.
    linktest::Listener listener;
    for (const std::string &dest : {sLong47, sLong48}) {
        const bool bFits = dest.size() < 48;
        LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", listener.Port());
        GetCoreGlobalCtrl()->SetLastError(0);
        CLinkBase *pDest = Keep(Link_CreateLinkEx(&p, 0, dest.c_str()));
        EXPECT_EQ(bFits, pDest != nullptr) << dest.size();
        EXPECT_EQ(bFits ? 0 : 17, LastError()) << dest.size();
        const int iPeer = listener.Accept(bFits ? 5000 : 0);
        EXPECT_EQ(bFits, iPeer >= 0) << dest.size();
        if (iPeer >= 0)
            close(iPeer);
    }
}

TEST_F(ClientLink, UdpRoundTripAndUnreachablePeer) {
    Peer echo({"udp-echo"});
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", echo.Port(), LINK_TYPE_UDP));
    ASSERT_NE(nullptr, pLink);
    ASSERT_EQ(4, Link_SendDataByLink(pLink, "ping", 4, 0));
    char buf[64];
    DWORD dwLen = 0;
    ASSERT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 3000, 1));
    EXPECT_EQ("ping", std::string(buf, dwLen));

    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof(a));
    socklen_t n = sizeof(a);
    getsockname(s, (sockaddr *)&a, &n);
    close(s);
    CLinkBase *pDead = Keep(linktest::Connect("127.0.0.1", ntohs(a.sin_port), LINK_TYPE_UDP));
    ASSERT_NE(nullptr, pDead);
    ASSERT_EQ(4, Link_SendDataByLink(pDead, "ping", 4, 0));
    EXPECT_EQ(0, Link_RecvData(pDead, buf, sizeof(buf), &dwLen, 3000, 1));
    EXPECT_EQ(9, LastError()) << "the ICMP unreachable fails the receive";
}

TEST_F(ClientLink, IPv6Loopback) {
    for (const char *pMode : {"tcp-echo", "udp-echo"}) {
        Peer echo({pMode, "--ipv6"});
        ASSERT_GT(echo.Port(), 0) << pMode;
        const int iType = std::string(pMode) == "tcp-echo" ? LINK_TYPE_TCP : LINK_TYPE_UDP;
        CLinkBase *pLink = Keep(linktest::Connect("::1", echo.Port(), iType));
        ASSERT_NE(nullptr, pLink) << pMode;
        ASSERT_EQ(5, Link_SendDataByLink(pLink, "hello", 5, 0));
        char buf[16];
        DWORD dwLen = 0;
        ASSERT_EQ(1, Link_RecvData(pLink, buf, 5, &dwLen, 3000, 0)) << pMode;
        EXPECT_EQ("hello", std::string(buf, dwLen)) << pMode;
    }
}

// The receive loop waits with poll: descriptors above 1023, which an fd_set cannot hold, work
// like any other. It runs without a link too (the TCP server link calls it so).
TEST_F(ClientLink, ReceiveLoopOnAHighDescriptorWithoutALink) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    const int high = 1500;
    ASSERT_EQ(high, dup2(sv[0], high));
    close(sv[0]);
    char buf[8];
    DWORD dwLen = 0;
    ASSERT_EQ(3, send(sv[1], "abc", 3, 0));
    EXPECT_EQ(0, CLinkBase::DoRecvForRealRecv(high, buf, sizeof(buf), &dwLen, 2000, nullptr, nullptr, 1, 0));
    EXPECT_EQ("abc", std::string(buf, dwLen));
    EXPECT_EQ(10, CLinkBase::DoRecvForRealRecv(high, buf, sizeof(buf), &dwLen, 50, nullptr, nullptr, 1, 0));
    EXPECT_EQ(0u, dwLen);
    close(sv[1]);
    EXPECT_EQ(73, CLinkBase::DoRecvForRealRecv(high, buf, sizeof(buf), &dwLen, 2000, nullptr, nullptr, 1, 0));
    EXPECT_EQ(9, CLinkBase::DoRecvForRealRecv(-1, buf, sizeof(buf), &dwLen, 2000, nullptr, nullptr, 1, 0));
    close(high);
}

int ReadSysctl(const char *pPath) {
    std::ifstream f(pPath);
    int v = 0;
    f >> v;
    return v;
}

TEST_F(ClientLink, BufferSizesAndTheLocalPort) {
    Peer echo({"tcp-echo"});
    CLinkBase *pLink = Keep(linktest::Connect("127.0.0.1", echo.Port()));
    ASSERT_NE(nullptr, pLink);
    const int fd = Link_GetSockByLink(pLink);
    auto get = [&](int opt) {
        int v = 0;
        socklen_t n = sizeof(v);
        getsockopt(fd, SOL_SOCKET, opt, &v, &n);
        return v;
    };
    const int iWCap = 2 * ReadSysctl("/proc/sys/net/core/wmem_max");
    const int iRCap = 2 * ReadSysctl("/proc/sys/net/core/rmem_max");
    const struct {
        DWORD dwSnd, dwRcv;
    } cases[] = {{0, 0}, {8192, 16384}, {2, 65536}, {1, 1}};
    for (const auto &c : cases) {
        const int iSnd = get(SO_SNDBUF), iRcv = get(SO_RCVBUF);
        const int iWantSnd = c.dwSnd >= 1024 ? (int)c.dwSnd : (c.dwSnd ? iSnd * (int)c.dwSnd : iSnd);
        const int iWantRcv = c.dwRcv >= 1024 ? (int)c.dwRcv : (c.dwRcv ? iRcv * (int)c.dwRcv : iRcv);
        ASSERT_EQ(1, pLink->SetBuffSize(c.dwSnd, c.dwRcv));
        EXPECT_GE(get(SO_SNDBUF), std::min(iWantSnd, iWCap)) << c.dwSnd;
        EXPECT_LE(get(SO_SNDBUF), std::max(2 * iWantSnd, iWCap)) << c.dwSnd;
        EXPECT_GE(get(SO_RCVBUF), std::min(iWantRcv, iRCap)) << c.dwRcv;
        EXPECT_LE(get(SO_RCVBUF), std::max(2 * iWantRcv, iRCap)) << c.dwRcv;
    }

    sockaddr_in a{};
    socklen_t n = sizeof(a);
    getsockname(fd, (sockaddr *)&a, &n);
    WORD wPort = 0;
    DWORD dwOutLen = sizeof(wPort);
    EXPECT_EQ(0, Link_GetLinkParam(pLink, LINK_PARAM_LOCAL_PORT, nullptr, 0, &wPort, &dwOutLen));
    EXPECT_EQ(ntohs(a.sin_port), wPort);
    BYTE byOne = 0xAB;
    DWORD dwOne = 1;
    EXPECT_EQ(0, Link_GetLinkParam(pLink, LINK_PARAM_LOCAL_PORT, nullptr, 0, &byOne, &dwOne));
    EXPECT_EQ(0xAB, byOne) << "a 1-byte buffer is left alone";

    Link_CloseLinkSocket(pLink);
    EXPECT_EQ(0, pLink->SetBuffSize(2, 2));
    EXPECT_EQ(12, LastError());
}

}  // namespace
