// TLS links against real peers on loopback: client links (types 19 and 20) against
// `openssl s_server` and Python's ssl module, server links on accepted sockets against
// `openssl s_client`.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "link_test_util.h"
#include "tls_test_util.h"
#include "transport/link/LinkBase.h"

using namespace Vorezi;
using namespace cryptotest;
using linktest::Listener;
using linktest::MakeParam;
using linktest::Peer;
using linktest::Process;

namespace {

const char kAlpnH2Http11[] = "\x02h2\x08http/1.1";
constexpr DWORD kAlpnH2Http11Len = sizeof(kAlpnH2Http11) - 1;

struct LinkDeleter {
    void operator()(CLinkBase *p) const { Link_DestroyLink(p); }
};
using LinkPtr = std::unique_ptr<CLinkBase, LinkDeleter>;

DWORD H2Flag(CLinkBase *pLink) {
    DWORD dwH2 = 7, dwLen = sizeof(dwH2);
    EXPECT_EQ(Link_GetLinkParam(pLink, 1, nullptr, 0, &dwH2, &dwLen), 1);
    return dwH2;
}

// Sends a line and reads the peer's answer of the same length.
std::string RoundTrip(CLinkBase *pLink, const std::string &line) {
    if (Link_SendDataByLink(pLink, line.data(), (DWORD)line.size(), 0) != (int)line.size())
        return "send failed";
    std::string out(line.size(), '\0');
    DWORD dwGot = 0;
    if (!Link_RecvData(pLink, &out[0], (DWORD)out.size(), &dwGot, 5000, 0))
        return "recv failed";
    out.resize(dwGot);
    return out;
}

class TlsLink : public TlsTest {
protected:
    static LINK_CREATE_PARAM ClientParam(int iPort, int enumLinkType = LINK_TYPE_SSL) {
        LINK_CREATE_PARAM p = MakeParam("127.0.0.1", iPort, enumLinkType);
        p.dwConnectTimeout = 5000;
        return p;
    }
    // A client link to s_server -rev that has sent a line longer than one read takes; the
    // reversed line comes back in one record.
    LinkPtr SendLongLine(int iPort) {
        LINK_CREATE_PARAM p = ClientParam(iPort);
        LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
        if (!link || Link_SendDataByLink(link.get(), kLongLine.data(), (DWORD)kLongLine.size(), 0) != (int)kLongLine.size())
            return nullptr;
        return link;
    }
    const std::string kLongLine = std::string(3000, 'a') + "b\n";
    const std::string kLongReply = "b" + std::string(3000, 'a') + "\n";
};

TEST_F(TlsLink, ClientReportsWhatTheServerChoseByAlpn) {
    const struct {
        const char *pServerAlpn;
        DWORD dwH2;
    } cases[] = {{"-alpn h2", 1}, {"-alpn http/1.1", 0}, {"", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pServerAlpn);
        ReverseServer server(Pki(), c.pServerAlpn);
        LINK_CREATE_PARAM p = ClientParam(server.Port());
        p.ext.pAlpnList = kAlpnH2Http11;
        p.ext.dwAlpnLen = kAlpnH2Http11Len;
        LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
        ASSERT_TRUE(link);
        EXPECT_EQ(H2Flag(link.get()), c.dwH2);
        EXPECT_EQ(RoundTrip(link.get(), "abcdef\n"), "fedcba\n");
    }
}

TEST_F(TlsLink, GetLinkParamWantsAFourByteBuffer) {
    ReverseServer server(Pki());
    LINK_CREATE_PARAM p = ClientParam(server.Port());
    LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
    ASSERT_TRUE(link);
    WORD wShort = 0;
    DWORD dwLen = sizeof(wShort);
    EXPECT_EQ(Link_GetLinkParam(link.get(), 1, nullptr, 0, &wShort, &dwLen), 0);
    dwLen = 4;
    EXPECT_EQ(Link_GetLinkParam(link.get(), 1, nullptr, 0, nullptr, &dwLen), 0);
}

TEST_F(TlsLink, ClientSendsTheServerName) {
    Peer peer({"sni", Pki().File("srv.pem"), Pki().File("srv.key")}, "", "tls_peer.py");
    ASSERT_GT(peer.Port(), 0);
    LINK_CREATE_PARAM p = ClientParam(peer.Port());
    snprintf(p.ext.szSNI, sizeof(p.ext.szSNI), "%s", "devices.example.test");
    LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
    ASSERT_TRUE(link);
    EXPECT_EQ(peer.ReadLine(5000), "SNI devices.example.test");
    EXPECT_EQ(RoundTrip(link.get(), "ping\n"), "ping\n");
}

TEST_F(TlsLink, VerifyingClientTrustsOnlyItsCA) {
    {
        SetCADir("cadir");
        ReverseServer server(Pki());
        LINK_CREATE_PARAM p = ClientParam(server.Port());
        p.ext.byVerifyMode = 2;
        LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
        ASSERT_TRUE(link);
        EXPECT_EQ(RoundTrip(link.get(), "ab\n"), "ba\n");
    }
    SetCADir("otherdir");
    ReverseServer server(Pki());
    LINK_CREATE_PARAM p = ClientParam(server.Port());
    p.ext.byVerifyMode = 2;
    EXPECT_EQ(Link_CreateLinkEx(&p, 0, nullptr), nullptr);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 159);
}

// The name sent is the name the certificate must carry ("localhost" here).
TEST_F(TlsLink, VerifyingClientChecksTheServerName) {
    SetCADir("cadir");
    const struct {
        const char *pName;
        bool bOk;
    } cases[] = {{"localhost", true}, {"devices.example.test", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        ReverseServer server(Pki());
        LINK_CREATE_PARAM p = ClientParam(server.Port());
        p.ext.byVerifyMode = 2;
        snprintf(p.ext.szSNI, sizeof(p.ext.szSNI), "%s", c.pName);
        LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
        EXPECT_EQ(link != nullptr, c.bOk);
        if (!c.bOk) {
            EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 159);
        }
    }
}

TEST_F(TlsLink, ClientCertificateSatisfiesAVerifyingServer) {
    ReverseServer server(Pki(), "-Verify 1 -CAfile " + Pki().File("ca.pem"));
    const std::string cert = Pki().File("cli.pem"), key = Pki().File("cli.key"), ca = Pki().File("ca.pem");
    LINK_CREATE_PARAM p = ClientParam(server.Port());
    p.ext.byVerifyMode = 1;
    p.ext.pUserCertificateFile = cert.c_str();
    p.ext.pUserPrivateKeyFile = key.c_str();
    p.ext.pCACertificateFile = ca.c_str();
    LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
    ASSERT_TRUE(link);
    EXPECT_EQ(RoundTrip(link.get(), "xyz\n"), "zyx\n");
}

TEST_F(TlsLink, UnknownVerifyModeFailsBeforeAnyConnect) {
    Listener listener;
    LINK_CREATE_PARAM p = ClientParam(listener.Port());
    p.ext.byVerifyMode = 3;
    EXPECT_EQ(Link_CreateLinkEx(&p, 0, nullptr), nullptr);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 17);
    EXPECT_EQ(listener.Accept(200), -1);
}

TEST_F(TlsLink, LongReplyArrivesInPartsThroughHeldRecords) {
    ReverseServer server(Pki());
    LinkPtr link = SendLongLine(server.Port());
    ASSERT_TRUE(link);
    // Small reads: the rest of a decrypted record must come without waiting on the socket.
    std::string got;
    char buf[100];
    while (got.size() < kLongReply.size()) {
        DWORD dwGot = 0;
        ASSERT_EQ(Link_RecvData(link.get(), buf, sizeof(buf), &dwGot, 2000, 1), 1);
        ASSERT_GT(dwGot, 0u);
        got.append(buf, dwGot);
    }
    EXPECT_EQ(got, kLongReply);
}

TEST_F(TlsLink, SwitchableLinkSpeaksClearTextUntilItChanges) {
    Peer peer({"switch", Pki().File("srv.pem"), Pki().File("srv.key")}, "", "tls_peer.py");
    ASSERT_GT(peer.Port(), 0);
    LINK_CREATE_PARAM p = ClientParam(peer.Port(), LINK_TYPE_TLS);
    LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
    ASSERT_TRUE(link);
    EXPECT_EQ(RoundTrip(link.get(), "hello in clear\n"), "hello in clear\n");
    EXPECT_EQ(peer.ReadLine(5000), "CLEAR hello in clear");
    // Through the library's C interface, as a host switches.
    ASSERT_EQ(Morva_ChangeConnectTypeByLink(reinterpret_cast<MORVA_LINK>(link.get())), 1);
    EXPECT_EQ(RoundTrip(link.get(), "now sealed\n"), "now sealed\n");
    EXPECT_EQ(peer.ReadLine(5000), "TLS now sealed");
}

TEST_F(TlsLink, OnlyTheSwitchableLinkChangesConnectType) {
    ReverseServer server(Pki());
    LINK_CREATE_PARAM p = ClientParam(server.Port());
    LinkPtr link(Link_CreateLinkEx(&p, 0, nullptr));
    ASSERT_TRUE(link);
    EXPECT_EQ(Link_ChangeConnectTypeByLink(link.get()), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 17);
}

// ---- asynchronous receiving ----

// What the data callback of a TLS link received; may send on the link as it goes.
struct TlsReceiver {
    std::mutex lock;
    std::condition_variable cond;
    std::string text;
    std::vector<int> statuses;
    CLinkBase *pLink = nullptr;
    std::atomic<int> iSendsLeft{0};
    int iBurst = 1;  // "cb" lines sent per delivery while iSendsLeft lasts
    std::atomic<int> iSent{0};
    std::atomic<bool> bPauseOnce{false};  // the first delivery answers 0: receiving pauses

    static int CallBack(void *pUser, char *pData, int iLen, int iStatus) {
        auto *self = static_cast<TlsReceiver *>(pUser);
        for (int i = 0; iStatus == 0 && i < self->iBurst && self->iSendsLeft.fetch_sub(1) > 0; i++)
            if (Link_SendDataByLink(self->pLink, "cb\n", 3, 0) == 3)
                self->iSent++;
        std::lock_guard<std::mutex> guard(self->lock);
        if (iStatus == 0)
            self->text.append(pData, (size_t)iLen);
        self->statuses.push_back(iStatus);
        self->cond.notify_all();
        return self->bPauseOnce.exchange(false) ? 0 : 1;
    }
    bool WaitFor(const std::function<bool()> &done, int iTimeoutMs = 10000) {
        std::unique_lock<std::mutex> guard(lock);
        return cond.wait_for(guard, std::chrono::milliseconds(iTimeoutMs), done);
    }
};

// Moves a link's receiving to the completion queue, delivering to the receiver.
bool StartAsync(CLinkBase *pLink, TlsReceiver &rec) {
    rec.pLink = pLink;
    return pLink && pLink->StartRecv(TlsReceiver::CallBack, &rec, 0) == 1 && pLink->ResumeRecvThread() == 1;
}

class TlsAsyncLink : public TlsLink {
protected:
    static LinkPtr Open(int iPort, DWORD dwBIOMode) {
        LINK_CREATE_PARAM p = ClientParam(iPort);
        p.ext.dwBIOMode = dwBIOMode;
        return LinkPtr(Link_CreateLinkEx(&p, 0, nullptr));
    }
    LinkPtr Start(int iPort, TlsReceiver &rec, DWORD dwBIOMode = 0) {
        LinkPtr link = Open(iPort, dwBIOMode);
        return StartAsync(link.get(), rec) ? std::move(link) : nullptr;
    }
};

// BIO mode 1 moves the session to memory BIOs right after the handshake; records then go
// through the completion queue both ways.
TEST_F(TlsAsyncLink, BioModeOneCarriesRecordsThroughTheQueue) {
    ReverseServer server(Pki());
    TlsReceiver rec;
    LinkPtr link = Start(server.Port(), rec, 1);
    ASSERT_TRUE(link);
    std::string expect;
    for (int i = 0; i < 100; i++) {
        char line[16];
        snprintf(line, sizeof(line), "%04d\n", i);
        ASSERT_EQ(Link_SendDataByLink(link.get(), line, 5, 0), 5);
        ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= expect.size() + 5; })) << i;
        std::reverse(line, line + 4);
        expect += line;
    }
    std::lock_guard<std::mutex> guard(rec.lock);
    EXPECT_EQ(rec.text, expect);
}

// BIO mode 1 puts the session on memory BIOs at the handshake: blocking sends and receives
// before the queue takes over must still carry records over the socket, also a reply read in
// parts, and receiving on the queue afterwards gives the same bytes.
TEST_F(TlsAsyncLink, BioModeOneCarriesRecordsBlockingBeforeTheQueue) {
    ReverseServer server(Pki());
    LinkPtr link = Open(server.Port(), 1);
    ASSERT_TRUE(link);
    EXPECT_EQ(RoundTrip(link.get(), "abcd\n"), "dcba\n");
    ASSERT_EQ(Link_SendDataByLink(link.get(), kLongLine.data(), (DWORD)kLongLine.size(), 0), (int)kLongLine.size());
    std::string got;
    char buf[100];
    while (got.size() < kLongReply.size()) {
        DWORD dwGot = 0;
        ASSERT_EQ(Link_RecvData(link.get(), buf, sizeof(buf), &dwGot, 5000, 1), 1);
        ASSERT_GT(dwGot, 0u) << got.size();
        got.append(buf, dwGot);
    }
    EXPECT_EQ(got, kLongReply);
    TlsReceiver rec;
    ASSERT_TRUE(StartAsync(link.get(), rec));
    ASSERT_EQ(Link_SendDataByLink(link.get(), "wxyz\n", 5, 0), 5);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= 5; }));
    std::lock_guard<std::mutex> guard(rec.lock);
    EXPECT_EQ(rec.text, "zyxw\n");
}

TEST_F(TlsAsyncLink, BioModeOneBlockingReceiveFailsWhenThePeerLeaves) {
    ReverseServer server(Pki());
    LinkPtr link = Open(server.Port(), 1);
    ASSERT_TRUE(link);
    ASSERT_EQ(RoundTrip(link.get(), "abcd\n"), "dcba\n");
    server.Stop();
    char buf[16];
    DWORD dwGot = 0;
    EXPECT_EQ(Link_RecvData(link.get(), buf, sizeof(buf), &dwGot, 5000, 1), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 9);
    EXPECT_EQ(dwGot, 0u);
}

// The owner and the callback send at once: every record still reaches s_server intact, so all
// bytes come back.
TEST_F(TlsAsyncLink, ThousandMessagesBothWaysWhileTheCallbackAlsoSends) {
    ReverseServer server(Pki());
    TlsReceiver rec;
    rec.iSendsLeft = 200;
    LinkPtr link = Start(server.Port(), rec);
    ASSERT_TRUE(link);
    std::string expect;
    for (int i = 0; i < 1000; i++) {
        char line[16];
        snprintf(line, sizeof(line), "m%04d\n", i);
        ASSERT_EQ(Link_SendDataByLink(link.get(), line, 6, 0), 6);
        expect += line;
    }
    ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= expect.size() + 3 * 200; })) << rec.text.size();
    std::lock_guard<std::mutex> guard(rec.lock);
    // s_server reverses whatever one read brought, lines run together: compare the bytes as sets.
    expect += std::string(200, 'c') + std::string(200, 'b') + std::string(200, '\n');
    std::string got = rec.text;
    std::sort(got.begin(), got.end());
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(got, expect);
    EXPECT_EQ(std::count(rec.statuses.begin(), rec.statuses.end(), 0), (long)rec.statuses.size());
}

// The peer reads slower than the link writes into its small send buffer: the socket fills, the
// rest of a write waits on the queue, and the writes after it must go behind it, never to the
// socket ahead of it.
TEST_F(TlsAsyncLink, WritesThatFillTheSocketReachASlowReaderInOrder) {
    constexpr uint32_t kBlocks = 512;
    Peer peer({"sink", Pki().File("srv.pem"), Pki().File("srv.key"), std::to_string(kBlocks)}, "", "tls_peer.py");
    ASSERT_GT(peer.Port(), 0);
    TlsReceiver rec;
    LinkPtr link = Start(peer.Port(), rec);
    ASSERT_TRUE(link);
    const int iSmall = 4096;
    ASSERT_EQ(setsockopt(link->GetSocket(), SOL_SOCKET, SO_SNDBUF, &iSmall, sizeof(iSmall)), 0);
    std::string block(16384, '\0');
    for (uint32_t i = 0; i < kBlocks; i++) {
        for (size_t j = 0; j < block.size(); j += 4) {
            const char be[4] = {char(i >> 24), char(i >> 16), char(i >> 8), char(i)};
            block.replace(j, 4, be, 4);
        }
        ASSERT_EQ(Link_SendDataByLink(link.get(), block.data(), (DWORD)block.size(), 0), (int)block.size()) << i;
    }
    EXPECT_EQ(peer.ReadLine(60000), "SINK OK");
}

TEST_F(TlsAsyncLink, ARecordThatDoesNotDecryptEndsTheLinkWithSeventyThree) {
    Peer peer({"flip", Pki().File("srv.pem"), Pki().File("srv.key")}, "", "tls_peer.py");
    ASSERT_GT(peer.Port(), 0);
    TlsReceiver rec;
    LinkPtr link = Start(peer.Port(), rec);
    ASSERT_TRUE(link);
    ASSERT_EQ(Link_SendDataByLink(link.get(), "hello\n", 6, 0), 6);
    EXPECT_EQ(peer.ReadLine(5000), "FLIPPED");
    ASSERT_TRUE(rec.WaitFor([&] { return !rec.statuses.empty(); }));
    std::lock_guard<std::mutex> guard(rec.lock);
    EXPECT_EQ(rec.statuses.back(), 73);
    EXPECT_EQ(rec.text, "");
}

// A blocking read takes part of a record; the rest, already decrypted, must reach the callback
// once receiving moves to the completion queue, without waiting for more bytes from the peer,
// and before what the peer sends next.
TEST_F(TlsAsyncLink, BytesHeldByBlockingReadsComeFirstAfterTheSwitch) {
    ReverseServer server(Pki());
    LinkPtr link = SendLongLine(server.Port());
    ASSERT_TRUE(link);
    char buf[100];
    DWORD dwGot = 0;
    ASSERT_EQ(Link_RecvData(link.get(), buf, sizeof(buf), &dwGot, 5000, 1), 1);
    ASSERT_GT(dwGot, 0u);
    const std::string rest = kLongReply.substr(dwGot);
    TlsReceiver rec;
    ASSERT_TRUE(StartAsync(link.get(), rec));
    ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= rest.size(); })) << rec.text.size();
    ASSERT_EQ(Link_SendDataByLink(link.get(), "xyz\n", 4, 0), 4);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= rest.size() + 4; })) << rec.text.size();
    std::lock_guard<std::mutex> guard(rec.lock);
    EXPECT_EQ(rec.text, rest + "zyx\n");
}

// Three records arrive in one read; the callback pauses receiving after the first, and the peer
// sends nothing more: resuming hands out the two the TLS object still holds.
TEST_F(TlsAsyncLink, ResumingAPausedDeliveryHandsOutWhatIsHeld) {
    Peer peer({"burst", Pki().File("srv.pem"), Pki().File("srv.key")}, "", "tls_peer.py");
    ASSERT_GT(peer.Port(), 0);
    TlsReceiver rec;
    rec.bPauseOnce = true;
    LinkPtr link = Start(peer.Port(), rec);
    ASSERT_TRUE(link);
    ASSERT_EQ(Link_SendDataByLink(link.get(), "abc\n", 4, 0), 4);
    EXPECT_EQ(peer.ReadLine(5000), "BURST");
    ASSERT_TRUE(rec.WaitFor([&] { return !rec.text.empty(); }));
    ASSERT_EQ(link->ResumeRecvThread(), 1);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.text.size() >= 12; }, 30000)) << rec.text;
    std::lock_guard<std::mutex> guard(rec.lock);
    EXPECT_EQ(rec.text, "abc\nabc\nabc\n");
}

// ---- server links on accepted sockets ----

class TlsServerLink : public TlsLink {
protected:
    // A type-19 (or 32) server link over the next connection of the listener.
    LinkPtr Accept(Listener &listener, const char *pAlpn, DWORD dwAlpnLen, int enumLinkType = LINK_TYPE_SSL) {
        int fd = listener.Accept();
        if (fd < 0)
            return nullptr;
        LINK_CREATE_PARAM p = MakeParam("127.0.0.1", 0, enumLinkType);
        p.dwServerMode = 1;
        p.iSocket = fd;
        p.ext.pUserCertificateFile = m_Cert.c_str();
        p.ext.pUserPrivateKeyFile = m_Key.c_str();
        p.ext.pAlpnList = pAlpn;
        p.ext.dwAlpnLen = dwAlpnLen;
        return LinkPtr(Link_CreateLinkEx(&p, 0, nullptr));
    }
    static std::vector<std::string> Client(int iPort) {
        return {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(iPort), "-alpn", "h2,http/1.1",
                "-ign_eof"};
    }
    static std::string LineStarting(Process &client, const std::string &prefix) {
        for (std::string line = client.ReadLine(5000); true; line = client.ReadLine(5000)) {
            if (line.empty() || line.rfind(prefix, 0) == 0)
                return line;
        }
    }
    std::string m_Cert = Pki().File("srv.pem"), m_Key = Pki().File("srv.key");
};

TEST_F(TlsServerLink, ChoosesH2WhenItsListHoldsItElseHttp11) {
    const struct {
        const char *pList;
        DWORD dwLen;
        const char *pExpect;
        DWORD dwH2;
    } cases[] = {{kAlpnH2Http11, kAlpnH2Http11Len, "ALPN protocol: h2", 1},
                 {"\x08http/1.1", 9, "ALPN protocol: http/1.1", 0},
                 {nullptr, 0, "ALPN protocol: http/1.1", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pExpect);
        Listener listener;
        Process client(Client(listener.Port()));
        LinkPtr link = Accept(listener, c.pList, c.dwLen);
        ASSERT_TRUE(link);
        EXPECT_EQ(LineStarting(client, "ALPN protocol"), c.pExpect);
        EXPECT_EQ(H2Flag(link.get()), c.dwH2);
        const std::string text = "from the server link\n";
        ASSERT_EQ(Link_SendDataByLink(link.get(), text.data(), (DWORD)text.size(), 0), (int)text.size());
        EXPECT_EQ(LineStarting(client, "from the"), "from the server link");
    }
}

// curl as the HTTP/2 client: the ALPN choice decides what it speaks, and its first bytes arrive
// through the server link.
TEST_F(TlsServerLink, CurlSpeaksTheProtocolAlpnChose) {
    const struct {
        const char *pList;
        DWORD dwLen;
        const char *pAccepted;
        std::string first;
    } cases[] = {{kAlpnH2Http11, kAlpnH2Http11Len, "* ALPN: server accepted h2", "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"},
                 {"\x08http/1.1", 9, "* ALPN: server accepted http/1.1", "GET / HTTP/1.1\r\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pAccepted);
        Listener listener;
        Process curl({"sh", "-c",
                      "curl -k -s -v --http2 --max-time 30 https://127.0.0.1:" + std::to_string(listener.Port()) +
                          "/ 2>&1"});
        LinkPtr link = Accept(listener, c.pList, c.dwLen);
        ASSERT_TRUE(link);
        std::string got(c.first.size(), '\0');
        DWORD dwGot = 0;
        ASSERT_EQ(Link_RecvData(link.get(), &got[0], (DWORD)got.size(), &dwGot, 10000, 0), 1);
        got.resize(dwGot);
        EXPECT_EQ(got, c.first);
        EXPECT_EQ(LineStarting(curl, "* ALPN: server accepted"), c.pAccepted);
    }
}

// A server link receiving through the completion queue while the owner and the data callback
// both send: records leave in the order they were sealed, so s_client reads every line intact.
TEST_F(TlsServerLink, OwnerAndCallbackSendingAtOnceLeaveAReadableStream) {
    Listener listener;
    Process client({"sh", "-c",
                    "for i in $(seq 1 50); do echo in$i; sleep 0.005; done | openssl s_client -quiet -connect 127.0.0.1:" +
                        std::to_string(listener.Port()) + " 2>/dev/null"});
    LinkPtr link = Accept(listener, nullptr, 0);
    ASSERT_TRUE(link);
    TlsReceiver rec;
    rec.iSendsLeft = 1000;
    rec.iBurst = 20;
    ASSERT_TRUE(StartAsync(link.get(), rec));
    const auto allIn = [&] { return rec.text.find("in50\n") != std::string::npos; };
    int nOwn = 0;
    for (bool bDone = false; !bDone && nOwn < 3000; nOwn++) {
        char line[16];
        snprintf(line, sizeof(line), "own%04d\n", nOwn);
        ASSERT_EQ(Link_SendDataByLink(link.get(), line, 8, 0), 8);
        std::lock_guard<std::mutex> guard(rec.lock);
        bDone = allIn();
    }
    ASSERT_TRUE(rec.WaitFor(allIn, 30000));
    int nCb = 0, nNextOwn = 0;
    while (nNextOwn < nOwn || nCb < rec.iSent) {
        const std::string line = client.ReadLine(10000);
        ASSERT_FALSE(line.empty()) << "own " << nNextOwn << "/" << nOwn << ", cb " << nCb << "/" << rec.iSent;
        if (line == "cb") {
            nCb++;
            continue;
        }
        char want[16];
        snprintf(want, sizeof(want), "own%04d", nNextOwn++);
        ASSERT_EQ(line, want);
    }
    EXPECT_GT(rec.iSent.load(), 0);
}

// OpenSSL 3.0 has no TLCP suites: the GM server is refused at its set-up, before any handshake.
TEST_F(TlsServerLink, GmServerWithoutGmSuitesFailsCleanly) {
    Listener listener;
    Process client(Client(listener.Port()));
    EXPECT_FALSE(Accept(listener, nullptr, 0, LINK_TYPE_SSL_GM));
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 17);
}

TEST_F(TlsServerLink, ClientThatNeverSpeaksFailsWithSeven) {
    Listener listener;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)listener.Port());
    ASSERT_EQ(connect(fd, (sockaddr *)&a, sizeof(a)), 0);
    EXPECT_FALSE(Accept(listener, nullptr, 0));
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 7);
    close(fd);
}

// Runs in a process of its own under ctest: the shared server context keeps the first good
// certificate.
TEST_F(TlsServerLink, MissingCertificateFilesFailTheSetUp) {
    const struct {
        const char *pCert;
        int iError;
    } cases[] = {{"/nonexistent/srv.pem", 147}, {nullptr, 17}};
    for (const auto &c : cases) {
        Listener listener;
        auto pair = linktest::AcceptedPair(listener);
        ASSERT_GE(pair.second, 0);
        LINK_CREATE_PARAM p = MakeParam("127.0.0.1", 0, LINK_TYPE_SSL);
        p.dwServerMode = 1;
        p.iSocket = pair.second;
        p.ext.pUserCertificateFile = c.pCert;
        p.ext.pUserPrivateKeyFile = m_Key.c_str();
        EXPECT_EQ(Link_CreateLinkEx(&p, 0, nullptr), nullptr);
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), c.iError);
        close(pair.first);
    }
}

}  // namespace
