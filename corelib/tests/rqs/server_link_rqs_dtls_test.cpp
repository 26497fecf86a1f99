// The RQS-over-DTLS server link (kind 25) against openssl s_client -dtls1_2 and a silent peer
// that replays a ClientHello recorded from s_client, on loopback.
#include <gtest/gtest.h>

#include "dtls_test_util.h"

using namespace Vorezi;
using namespace srvtest;
using namespace dtlstest;

namespace {

class ServerLinkDTLS : public cryptotest::TlsTest {
protected:
    int Create(Recorder *pRec, int iPort, const LINK_EXT_PARAM &ext) {
        SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_RQS_DTLS, "127.0.0.1", (WORD)iPort, pRec);
        SetExt(&c, ext);
        return pRec->Create(&c);
    }
    // A link with the test's certificate on a free port (*pPort).
    int CreateOnFreePort(Recorder *pRec, int *pPort) {
        *pPort = FreePort(SOCK_DGRAM);
        return Create(pRec, *pPort, ServerExt(Pki()));
    }
    // A link on a free port (*pPort) that a silent peer has sent its ClientHello to.
    int CreateAndHello(Recorder *pRec, Udp *pPeer, int *pPort, DWORD dwTimeoutMs = 0, DWORD dwVersion = 0) {
        const int h = CreateOnFreePort(pRec, pPort);
        if (h < 0 || Hello().empty())
            return -1;
        if (dwTimeoutMs)
            DtlsLink(h)->SetHandshakeTimeout(dwTimeoutMs);
        if (dwVersion)
            DtlsLink(h)->SetOpenSSLVersion(dwVersion);
        pPeer->SendTo(*pPort, Hello());
        return h;
    }
    // A ClientHello recorded from s_client, once for the process.
    static const std::string &Hello() {
        static const std::string s_hello = RecordClientHello();
        return s_hello;
    }
    static int SendText(int h, const char *pIP, int iPort, const std::string &text) {
        SERVER_LINK_SEND_PARAM s{};
        s.pPeerIP = pIP;
        s.wPeerPort = (WORD)iPort;
        s.pData = text.data();
        s.dwDataLen = (DWORD)text.size();
        return Morva_ServerLinkSendData(h, &s);
    }
};

TEST_F(ServerLinkDTLS, HandshakeLineAndReplyThenThePeerIsEnded) {
    Recorder rec;
    servicetest::LogCapture log;
    int iPort = 0;
    const int h = CreateOnFreePort(&rec, &iPort);
    ASSERT_GE(h, 0);
    SClient client(iPort);
    ASSERT_TRUE(client.WaitConnected()) << client.Output();
    client.Write("hello link\n");
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1, 30000));
    const Record r = rec.Records()[0];
    EXPECT_EQ(22u, r.dwKind);
    EXPECT_EQ(h, r.iLink);
    EXPECT_EQ("hello link\n", r.data);
    EXPECT_EQ("127.0.0.1", r.peer);
    ASSERT_NE(0, r.iPeerPort);
    // Only a ClientHello that carries our cookie gets past the listen step.
    EXPECT_EQ(1u, log.Matching("CServerLinkRQSDTLS::DTLSThreadPoolProcess, Accept SUCC, {Addr[127.0.0.1:" +
                               std::to_string(r.iPeerPort) + "]").size());

    const std::string reply = "pong from the link\n";
    EXPECT_EQ((int)reply.size(), SendText(h, "127.0.0.1", r.iPeerPort, reply));
    EXPECT_TRUE(client.WaitOutput("pong from the link")) << client.Output();

    YAR_ADDR_T addr;
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_INET, "127.0.0.1", (WORD)r.iPeerPort, &addr));
    EXPECT_EQ(1, Interim_ExitRecvThreadEx(h, addr));
    EXPECT_EQ(0, DtlsLink(h)->CountSessions());
    EXPECT_EQ(-1, SendText(h, "127.0.0.1", r.iPeerPort, reply));
    EXPECT_EQ(8, LastError());
}

// A peer that sends one ClientHello and goes silent gives back its record and route at the
// deadline, and the same address is then served again.
TEST_F(ServerLinkDTLS, SilentPeerReleasedAtTheDeadlineAndServedAgain) {
    Recorder rec;
    servicetest::LogCapture log;
    Udp peer;
    int iPort = 0;
    const int h = CreateAndHello(&rec, &peer, &iPort, 1000);
    ASSERT_GE(h, 0);
    EXPECT_TRUE(IsHelloVerifyRequest(peer.Recv(30000)));
    // Still in its handshake: nothing to send to.
    EXPECT_EQ(-1, SendText(h, "127.0.0.1", peer.Port(), "early"));
    EXPECT_EQ(8, LastError());
    ASSERT_TRUE(servicetest::WaitFor([&] { return DtlsLink(h)->CountInUse() == 0; }, 30000));
    const std::string key = "127.0.0.1:" + std::to_string(peer.Port());
    EXPECT_EQ(1u, log.Matching("CServerRoute::DelSingleRoute, SUCC, Addr[" + key + "]").size());
    // The old route drains for a while; after that the peer's ClientHello starts a new handshake.
    const bool bServed = servicetest::WaitFor(
        [&] {
            peer.SendTo(iPort, Hello());
            return IsHelloVerifyRequest(peer.Recv(500));
        },
        30000);
    EXPECT_TRUE(bServed);
    EXPECT_EQ(2u, log.Matching("Accept & Listen In, Addr[" + key + "]").size());
}

// Stop during a handshake ends it and frees its session (LeakSanitizer checks the rest).
TEST_F(ServerLinkDTLS, StopDuringAHandshake) {
    Recorder rec;
    Udp peer;
    int iPort = 0;
    const int h = CreateAndHello(&rec, &peer, &iPort);
    ASSERT_GE(h, 0);
    ASSERT_TRUE(IsHelloVerifyRequest(peer.Recv(30000)));
    EXPECT_EQ(1, DtlsLink(h)->CountInUse());
    servicetest::LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, Morva_DestroyServerLink(h));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(1u, log.Matching("CServerLinkRQSDTLS::DTLSThreadPoolProcess, DTLS_CTRL_LISTEN, Coast[").size());
}

// The listen call follows the loaded version: 1.1.1a and later take DTLSv1_listen; older ones
// the listen control, which OpenSSL 3 does not know, so that handshake ends at its deadline.
TEST_F(ServerLinkDTLS, VersionPicksTheListenCall) {
    const struct {
        DWORD dwVersion;
        bool bAnswered;
    } cases[] = {{0x1010101F, true}, {0x1010100F, false}};
    for (const auto &c : cases) {
        Recorder rec;
        Udp peer;
        int iPort = 0;
        const int h = CreateAndHello(&rec, &peer, &iPort, 1000, c.dwVersion);
        ASSERT_GE(h, 0);
        EXPECT_EQ(c.bAnswered, IsHelloVerifyRequest(peer.Recv(c.bAnswered ? 30000 : 1500))) << std::hex << c.dwVersion;
        EXPECT_TRUE(servicetest::WaitFor([&] { return DtlsLink(h)->CountInUse() == 0; }, 30000));
    }
}

TEST_F(ServerLinkDTLS, ExtensionBlockReadByField) {
    Recorder rec;
    LINK_EXT_PARAM ext = ServerExt(Pki(), "missing.pem");
    EXPECT_EQ(-1, Create(&rec, FreePort(SOCK_DGRAM), ext));
    EXPECT_EQ(147, LastError());
    ext = ServerExt(Pki());
    ext.byVerifyMode = 1;  // verifying clients needs a CA file, which the block does not carry
    EXPECT_EQ(-1, Create(&rec, FreePort(SOCK_DGRAM), ext));
    EXPECT_EQ(17, LastError());
    ext = ServerExt(Pki());
    ext.iTLSKind = SSL_VERSION_TLS;  // not a DTLS version
    EXPECT_EQ(-1, Create(&rec, FreePort(SOCK_DGRAM), ext));
}

// 130 peers at once: 128 records, and every one of those peers completes its handshake (the
// route watches all its sockets, so every peer gets its replies) and is heard; the two others
// are refused without leaks.
TEST_F(ServerLinkDTLS, HundredThirtyPeers) {
    Recorder rec;
    servicetest::LogCapture log;
    int iPort = 0;
    const int h = CreateOnFreePort(&rec, &iPort);
    ASSERT_GE(h, 0);
    std::vector<std::unique_ptr<SClient>> clients;
    for (int i = 0; i < 130; i++)
        clients.emplace_back(new SClient(iPort));
    ASSERT_TRUE(servicetest::WaitFor([&] { return DtlsLink(h)->CountSessions() == DTLS_INFO_COUNT; }, 120000));
    size_t nConnected = 0;
    servicetest::WaitFor(
        [&] {
            nConnected = 0;
            for (auto &c : clients)
                nConnected += c->Connected();
            return nConnected >= (size_t)DTLS_INFO_COUNT;
        },
        60000);
    EXPECT_EQ((size_t)DTLS_INFO_COUNT, nConnected);
    EXPECT_TRUE(servicetest::WaitFor([&] { return log.Matching("pDtlsInfo == NULL").size() >= 2; }, 60000));
    // Each peer refused for want of a record loses its route too, so that it can start again.
    for (const std::string &line : log.Matching("pDtlsInfo == NULL, Addr[")) {
        const size_t at = line.find("Addr[");
        const std::string addr = line.substr(at, line.find(']', at) + 1 - at);
        EXPECT_EQ(1u, log.Matching("CServerRoute::DelSingleRoute, SUCC, " + addr).size()) << addr;
    }
    // Every session is heard. Datagrams may be lost on a loaded machine (a full socket buffer
    // drops them), so the clients say their line again until each session has been heard once.
    std::set<int> ports;
    auto allHeard = [&] {
        ports.clear();
        for (const Record &r : rec.Records())
            ports.insert(r.iPeerPort);
        return ports.size() >= (size_t)DTLS_INFO_COUNT;
    };
    bool bAllHeard = false;
    for (int round = 0; round < 10 && !bAllHeard; round++) {
        for (size_t i = 0; i < clients.size(); i++)
            clients[i]->Write("hi " + std::to_string(i) + "\n");
        bAllHeard = servicetest::WaitFor(allHeard, 10000);
    }
    EXPECT_EQ((size_t)DTLS_INFO_COUNT, ports.size());
    // Who was not heard, when someone was not.
    const std::vector<Record> records = rec.Records();
    for (size_t i = 0; i < clients.size() && !bAllHeard; i++) {
        const bool bHeard = std::any_of(records.begin(), records.end(),
                                        [&](const Record &r) { return r.data == "hi " + std::to_string(i) + "\n"; });
        if (clients[i]->Connected() && !bHeard)
            std::fprintf(stderr, "client %zu connected but not heard:\n%s\n", i, clients[i]->Output().c_str());
    }
}

}  // namespace
