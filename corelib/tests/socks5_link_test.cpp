// SOCKS5 links: the handshake bytes as tables, the client against a scripted proxy of the test
// (hostile replies) and against the Python proxy, the server link on accepted sockets (hostile
// requests), and curl and ncat through the server link with a small relay of the test.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "service_test_util.h"
#include "transport/link/LinkSocks5Server.h"
#include "transport/link/Socks5Wire.h"
#include "transport/longlink/LongLinkPrivate.h"

using namespace Vorezi;
using linktest::Listener;
using linktest::Peer;
using linktest::ReadExactly;
using servicetest::WaitFor;

namespace {

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s += (char)b;
    return s;
}
const std::string kZeros6(6, '\0');

int LastError() { return GetCoreGlobalCtrl()->GetLastError(); }

void SetProxy(int iID, const char *pIP, int iPort) {
    std::vector<BYTE> table(MORVA_PROXY_TABLE_LEN);
    GetCoreGlobalCtrl()->GetProxyTable(table.data());
    MORVA_PROXY_RECORD rec{};
    std::strcpy(rec.szProxyIP, pIP);
    rec.wProxyPort = (WORD)iPort;
    std::memcpy(table.data() + iID * sizeof(rec), &rec, sizeof(rec));
    GetCoreGlobalCtrl()->SetProxyTable(table.data());
}


TEST(Socks5Wire, ClientMessages) {
    BYTE buf[133];
    EXPECT_EQ(3u, socks5::BuildMethodRequest(buf));
    EXPECT_EQ(Bytes({5, 1, 0x80}), std::string((char *)buf, 3));

    struct {
        const char *pText;
        int bOk;
        std::string want;
    } rows[] = {
        {"192.168.1.20", 1, Bytes({5, 1, 0, 1, 192, 168, 1, 20, 0x1F, 0x90})},
        {"::1", 1, Bytes({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x1F, 0x90})},
        {"fe80::1:2", 1, Bytes({5, 1, 0, 4, 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0x1F, 0x90})},
        {"device.example", 0, ""},
        {"256.1.1.1", 0, ""},
        {"", 0, ""},
    };
    for (auto &r : rows) {
        DWORD n = 0;
        EXPECT_EQ(r.bOk, socks5::BuildConnectRequest(r.pText, 8080, buf, sizeof(buf), &n)) << r.pText;
        if (r.bOk) {
            EXPECT_EQ(r.want, std::string((char *)buf, n)) << r.pText;
        }
    }
    DWORD n = 0;
    EXPECT_EQ(0, socks5::BuildConnectRequest("1.2.3.4", 1, buf, 21, &n)) << "a buffer below 22 is refused";
}

TEST(Socks5Wire, ReplyChecks) {
    BYTE method = 0;
    EXPECT_EQ(1, socks5::CheckMethodReply((const BYTE *)"\x05\x80", &method));
    EXPECT_EQ(0x80, method);
    EXPECT_EQ(1, socks5::CheckMethodReply((const BYTE *)"\x05\x00", &method));
    EXPECT_EQ(0, socks5::CheckMethodReply((const BYTE *)"\x04\x80", &method));
    EXPECT_EQ(0, socks5::CheckMethodReply((const BYTE *)"\x05\xff", &method));
    EXPECT_EQ(0, socks5::CheckMethodReply((const BYTE *)"\x05\x02", &method));

    for (int rep = 0; rep <= 0xFF; rep++) {
        for (BYTE m : {socks5::kMethodNone, socks5::kMethodPrivate}) {
            const BYTE head[4] = {5, (BYTE)rep, 0, 1};
            DWORD more = 0;
            const int bWant = rep == 0 || (rep == 1 && m == 0x80);
            EXPECT_EQ(bWant, socks5::CheckConnectReplyHead(head, m, &more)) << rep << " " << (int)m;
        }
    }
    const struct {
        BYTE atyp;
        int bOk;
        DWORD more;
    } atyps[] = {{1, 1, 6}, {3, 1, 1}, {4, 1, 18}, {0, 0, 0}, {2, 0, 0}, {5, 0, 0}};
    for (auto &a : atyps) {
        const BYTE head[4] = {5, 0, 0, a.atyp};
        DWORD more = 0;
        EXPECT_EQ(a.bOk, socks5::CheckConnectReplyHead(head, 0, &more)) << (int)a.atyp;
        if (a.bOk) {
            EXPECT_EQ(a.more, more);
        }
    }
    const BYTE badVer[4] = {4, 0, 0, 1};
    DWORD more = 0;
    EXPECT_EQ(0, socks5::CheckConnectReplyHead(badVer, 0, &more));
    EXPECT_EQ(257u, socks5::DomainTailLen(255));
}

TEST(Socks5Wire, ServerChoices) {
    EXPECT_EQ(0x80, socks5::SelectMethod((const BYTE *)"\x00\x80", 2));
    EXPECT_EQ(0x80, socks5::SelectMethod((const BYTE *)"\x80\x00", 2));
    EXPECT_EQ(0x00, socks5::SelectMethod((const BYTE *)"\x02\x00", 2));
    EXPECT_EQ(-1, socks5::SelectMethod((const BYTE *)"\x02", 1));
    EXPECT_EQ(-1, socks5::SelectMethod(nullptr, 0));
    BYTE reply[10];
    socks5::BuildServerReply(socks5::GrantedReply(0x00), reply);
    EXPECT_EQ(Bytes({5, 0, 0, 1}) + kZeros6, std::string((char *)reply, 10));
    socks5::BuildServerReply(socks5::GrantedReply(0x80), reply);
    EXPECT_EQ(Bytes({5, 1, 0, 1}) + kZeros6, std::string((char *)reply, 10));
}

// A proxy of the test that answers one connection with scripted bytes and records what the
// client sent. With bClose it closes right after its bytes; else it holds the connection until
// the client closes.
class ScriptedProxy {
public:
    ScriptedProxy(std::string methodReply, std::string connectReply, bool bClose) {
        m_thread = std::thread([this, methodReply, connectReply, bClose] {
            int c = m_listener.Accept();
            if (c < 0)
                return;
            m_methodRequest = ReadExactly(c, 3, 2000);
            send(c, methodReply.data(), methodReply.size(), MSG_NOSIGNAL);
            if (!connectReply.empty() || !bClose) {
                m_connectRequest = ReadExactly(c, 4, 2000);
                if (m_connectRequest.size() == 4)
                    m_connectRequest += ReadExactly(c, m_connectRequest[3] == 4 ? 18 : 6, 2000);
                send(c, connectReply.data(), connectReply.size(), MSG_NOSIGNAL);
            }
            if (!bClose)
                ReadExactly(c, 1, 5000);  // until the client closes
            close(c);
        });
    }
    ~ScriptedProxy() { m_thread.join(); }
    int Port() const { return m_listener.Port(); }
    std::string MethodRequest() const { return m_methodRequest; }
    std::string ConnectRequest() const { return m_connectRequest; }

private:
    Listener m_listener;
    std::thread m_thread;
    std::string m_methodRequest, m_connectRequest;
};

class Socks5Client : public servicetest::InitedTest {
protected:
    CLinkBase *Connect(int iProxyPort, const char *pTarget = "127.0.0.1", const char *pDest = nullptr,
                       DWORD dwRecvTimeout = 300) {
        SetProxy(3, "127.0.0.1", iProxyPort);
        LINK_CREATE_PARAM p = linktest::MakeParam(pTarget, 8080, LINK_TYPE_SOCKS5);
        p.byProxyID = 3;
        p.dwRecvTimeout = dwRecvTimeout;
        return Link_CreateLinkEx(&p, 0, pDest);
    }
};

TEST_F(Socks5Client, RequestsNameTheTargetAndHostNamesAreRefused) {
    {
        ScriptedProxy proxy(Bytes({5, 0x80}), Bytes({5, 1, 0, 1}) + kZeros6, false);
        CLinkBase *pLink = Connect(proxy.Port());
        ASSERT_NE(nullptr, pLink);
        Link_DestroyLink(pLink);
        EXPECT_EQ(Bytes({5, 1, 0x80}), proxy.MethodRequest());
        EXPECT_EQ(Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}), proxy.ConnectRequest()) << "the server text and port";
    }
    {
        ScriptedProxy proxy(Bytes({5, 0}), Bytes({5, 0, 0, 1}) + kZeros6, false);
        CLinkBase *pLink = Connect(proxy.Port(), "::1", "10.1.2.3");
        ASSERT_NE(nullptr, pLink);
        Link_DestroyLink(pLink);
        EXPECT_EQ(Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0x1F, 0x90}), proxy.ConnectRequest()) << "a destination text wins";
    }
    {
        ScriptedProxy proxy(Bytes({5, 0}), Bytes({5, 0, 0, 1}) + kZeros6, false);
        CLinkBase *pLink = Connect(proxy.Port(), "::1");
        ASSERT_NE(nullptr, pLink) << "an IPv6 target through the IPv4 proxy";
        Link_DestroyLink(pLink);
        EXPECT_EQ(Bytes({5, 1, 0, 4}) + std::string(15, '\0') + Bytes({1, 0x1F, 0x90}), proxy.ConnectRequest());
    }
    Listener quiet;
    SetProxy(3, "127.0.0.1", quiet.Port());
    LINK_CREATE_PARAM p = linktest::MakeParam("host.example", 8080, LINK_TYPE_SOCKS5);
    p.byProxyID = 3;
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_EQ(MORVA_ERR_PARAM, LastError());
    EXPECT_EQ(-1, quiet.Accept(100)) << "refused before any connect";
}

TEST_F(Socks5Client, HostileAndRefusingReplies) {
    struct Row {
        std::string name, methodReply, connectReply;
        bool bClose, bOk;
    };
    std::vector<Row> rows = {
        {"method VER 4", Bytes({4, 0x80}), "", true, false},
        {"method 0xFF", Bytes({5, 0xFF}), "", true, false},
        {"method 0x02", Bytes({5, 2}), "", true, false},
        {"method reply cut", Bytes({5}), "", true, false},
        {"ATYP 5", Bytes({5, 0x80}), Bytes({5, 0, 0, 5}) + kZeros6, false, false},
        {"reply VER 4", Bytes({5, 0x80}), Bytes({4, 0, 0, 1}) + kZeros6, false, false},
    };
    for (int rep = 0; rep <= 8; rep++)
        for (int method : {0, 0x80})
            rows.push_back({"REP " + std::to_string(rep) + " after " + std::to_string(method), Bytes({5, method}),
                            Bytes({5, rep, 0, 1}) + kZeros6, false, rep == 0 || (rep == 1 && method == 0x80)});
    const std::string full = Bytes({5, 0, 0, 1}) + kZeros6;
    for (size_t cut = 0; cut < full.size(); cut++)
        rows.push_back({"reply cut at " + std::to_string(cut), Bytes({5, 0}), full.substr(0, cut), true, false});
    // Every row is decided by what the proxy sent or by its close, never by the receive
    // time-out: a row that waits for it takes 20 s.
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        ScriptedProxy proxy(r.methodReply, r.connectReply, r.bClose);
        const auto start = std::chrono::steady_clock::now();
        CLinkBase *pLink = Connect(proxy.Port(), "127.0.0.1", nullptr, 20000);
        EXPECT_EQ(r.bOk, pLink != nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        if (pLink) {
            Link_DestroyLink(pLink);
        } else if (r.name.rfind("REP", 0) == 0) {
            EXPECT_EQ(MORVA_ERR_CONNECT, LastError());
        }
    }
}

TEST_F(Socks5Client, DomainAndIPv6RepliesLeaveNothingInTheStream) {
    const std::string name(255, 'n');
    const std::string replies[] = {
        Bytes({5, 0, 0, 3, 255}) + name + Bytes({0, 80}),
        Bytes({5, 0, 0, 4}) + std::string(16, '\x01') + Bytes({0, 80}),
    };
    for (const std::string &reply : replies) {
        ScriptedProxy proxy(Bytes({5, 0}), reply + "HELLO", false);
        CLinkBase *pLink = Connect(proxy.Port());
        ASSERT_NE(nullptr, pLink);
        char buf[16] = {0};
        DWORD n = 0;
        ASSERT_EQ(1, Link_RecvData(pLink, buf, 5, &n, 2000, 0));
        EXPECT_EQ("HELLO", std::string(buf, n)) << "the application data comes first";
        Link_DestroyLink(pLink);
    }
}

TEST_F(Socks5Client, ThroughThePythonProxyToAnEchoPeer) {
    Peer echo({"tcp-echo"});
    Peer proxy({}, "", "socks5_proxy.py");
    ASSERT_GT(echo.Port(), 0);
    ASSERT_GT(proxy.Port(), 0);
    SetProxy(5, "127.0.0.1", proxy.Port());
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", echo.Port(), LINK_TYPE_SOCKS5);
    p.byProxyID = 5;
    CLinkBase *pLink = Link_CreateLinkEx(&p, 0, nullptr);
    ASSERT_NE(nullptr, pLink);
    EXPECT_EQ("REQUEST 050100017f000001" + [&] {
        char hex[5];
        std::snprintf(hex, sizeof(hex), "%04x", echo.Port());
        return std::string(hex);
    }(), proxy.ReadLine(5000));
    ASSERT_EQ(4, Link_SendDataByLink(pLink, "ping", 4, 0));
    char buf[8] = {0};
    DWORD n = 0;
    ASSERT_EQ(1, Link_RecvData(pLink, buf, 4, &n, 5000, 0));
    EXPECT_EQ("ping", std::string(buf, n));
    Link_DestroyLink(pLink);
}

// The server link on accepted sockets: the client's bytes are written before the link is made.
class Socks5Server : public servicetest::InitedTest {
protected:
    struct Result {
        CLinkBase *pLink;
        std::string reply;
    };
    // bHalfClose ends the client's sending after its bytes; else the client just stops.
    Result Handshake(const std::string &clientBytes, bool bHalfClose = true) {
        auto [client, accepted] = linktest::AcceptedPair(m_listener);
        send(client, clientBytes.data(), clientBytes.size(), MSG_NOSIGNAL);
        if (bHalfClose)
            shutdown(client, SHUT_WR);
        LINK_CREATE_PARAM p;
        std::memset(&p, 0, sizeof(p));
        p.enumLinkType = LINK_TYPE_SOCKS5_SERVER;
        p.dwServerMode = 1;
        p.iSocket = accepted;
        p.dwRecvTimeout = 200;
        Result r{Link_CreateLinkEx(&p, 0, nullptr), ""};
        r.reply = ReadExactly(client, 12, 300);
        close(client);
        return r;
    }
    Listener m_listener;
};

std::string Request(int cmd, int atyp, const std::string &addr, int port = 80) {
    return Bytes({5, cmd, 0, atyp}) + addr + Bytes({port >> 8, port & 0xFF});
}

TEST_F(Socks5Server, MethodChoiceRequestsAndReplies) {
    const std::string ipv4 = Request(1, 1, Bytes({1, 2, 3, 4}));
    const std::string granted80 = Bytes({5, 0x80, 5, 1, 0, 1}) + kZeros6;
    const std::string granted00 = Bytes({5, 0, 5, 0, 0, 1}) + kZeros6;
    struct Row {
        std::string name, client;
        bool bOk;
        std::string reply;
    };
    const std::string name20(20, 'd'), name128(128, 'e');
    std::vector<Row> rows = {
        {"0x80 preferred", Bytes({5, 2, 0, 0x80}) + ipv4, true, granted80},
        {"0x00 alone", Bytes({5, 1, 0}) + ipv4, true, granted00},
        {"255 methods", Bytes({5, 255}) + std::string(255, '\0') + ipv4, true, granted00},
        {"only 0x02", Bytes({5, 1, 2}), false, Bytes({5, 0xFF})},
        {"NMETHODS 0", Bytes({5, 0}), false, ""},
        {"VER 4", Bytes({4, 1, 0}) + ipv4, false, ""},
        {"request VER 4", Bytes({5, 1, 0, 4, 1, 0, 1, 1, 2, 3, 4, 0, 80}), false, Bytes({5, 0})},
        {"domain 20", Bytes({5, 1, 0}) + Request(1, 3, Bytes({20}) + name20), true, granted00},
        {"domain 128", Bytes({5, 1, 0}) + Request(1, 3, Bytes({128}) + name128), true, granted00},
        {"domain 0", Bytes({5, 1, 0}) + Request(1, 3, Bytes({0})), false, Bytes({5, 0})},
        {"domain 129", Bytes({5, 1, 0}) + Request(1, 3, Bytes({129}) + std::string(129, 'x')), false, Bytes({5, 0})},
        {"domain 200", Bytes({5, 1, 0}) + Request(1, 3, Bytes({200}) + std::string(200, 'x')), false, Bytes({5, 0})},
        {"domain 255", Bytes({5, 1, 0}) + Request(1, 3, Bytes({255}) + std::string(255, 'x')), false, Bytes({5, 0})},
        {"IPv6", Bytes({5, 1, 0}) + Request(1, 4, std::string(16, '\x07')), true, granted00},
    };
    for (int cmd : {2, 3})
        rows.push_back({"CMD " + std::to_string(cmd), Bytes({5, 1, 0}) + Request(cmd, 1, Bytes({1, 2, 3, 4})), false,
                        Bytes({5, 0, 5, 7, 0, 1}) + kZeros6});
    for (int atyp : {0, 2, 5})
        rows.push_back({"ATYP " + std::to_string(atyp), Bytes({5, 1, 0}) + Request(1, atyp, Bytes({1, 2, 3, 4})), false,
                        Bytes({5, 0, 5, 8, 0, 1}) + kZeros6});
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        Result res = Handshake(r.client);
        EXPECT_EQ(r.bOk, res.pLink != nullptr);
        EXPECT_EQ(r.reply, res.reply);
        if (!res.pLink)
            continue;
        char host[CLinkTCPSocks5Server::kHostLen];
        WORD port = 0;
        EXPECT_EQ(1, res.pLink->GetRequestHost(host, &port));
        EXPECT_EQ(80, ntohs(port));
        EXPECT_EQ(CLinkTCPSocks5Server::kServerCommand, res.pLink->GetCommand());
        if (r.name == "domain 20") {
            EXPECT_EQ(name20, std::string(host));
        } else if (r.name == "domain 128") {
            EXPECT_EQ(name128, std::string(host));
        } else if (r.name == "IPv6") {
            EXPECT_EQ(std::string(16, '\x07'), std::string(host, 16));
        } else {
            EXPECT_STREQ("1.2.3.4", host);
        }
        Link_DestroyLink(res.pLink);
    }
}

TEST_F(Socks5Server, CutMessagesAndSilentClientsFailWithinTheTimeOut) {
    const std::string full = Bytes({5, 1, 0}) + Request(1, 3, Bytes({4}) + "name");
    for (size_t cut = 0; cut < full.size(); cut++) {
        for (bool bHalfClose : {true, false}) {
            if (!bHalfClose && cut % 4)
                continue;  // a silent client at a few places is enough
            SCOPED_TRACE(std::to_string(cut) + (bHalfClose ? " closed" : " silent"));
            const auto start = std::chrono::steady_clock::now();
            Result res = Handshake(full.substr(0, cut), bHalfClose);
            EXPECT_EQ(nullptr, res.pLink);
            EXPECT_EQ(bHalfClose ? MORVA_ERR_PEER_CLOSED : MORVA_ERR_RECV_TIMEOUT, LastError());
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        }
    }
}

TEST_F(Socks5Server, OnlyAcceptedSocketsAndThePushLink) {
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", m_listener.Port(), LINK_TYPE_SOCKS5_SERVER);
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_EQ(MORVA_ERR_PARAM, LastError());

    auto [client, accepted] = linktest::AcceptedPair(m_listener);
    const std::string hello = Bytes({5, 1, 0}) + Request(1, 3, Bytes({9}) + "localhost", 8443);
    send(client, hello.data(), hello.size(), MSG_NOSIGNAL);
    CLongLinkPrivate longLink;
    ASSERT_EQ(1, longLink.CreateSocks5PushLink(accepted));
    char host[CLinkTCPSocks5Server::kHostLen];
    WORD port = 0;
    ASSERT_EQ(1, longLink.GetProxyLinkDstAddr(host, &port));
    EXPECT_STREQ("localhost", host);
    EXPECT_EQ(8443, ntohs(port));
    longLink.Stop();
    close(client);
}

// A link that cannot start on an adopted socket leaves it to the caller, open and as it was;
// the caller's close is then the only one.
TEST_F(Socks5Server, FailedAdoptionLeavesTheSocketWithTheCaller) {
    struct Row {
        const char *pName;
        int32_t enumLinkType;
        int32_t dwServerMode;
        std::string client;  // sent before the start
        bool bReset;         // the client leaves with a reset first
    } rows[] = {
        {"peer reset before the start", LINK_TYPE_SOCKS5_SERVER, 1, "", true},
        {"server mode 2", LINK_TYPE_SOCKS5_SERVER, 2, "", false},
        {"request VER 4", LINK_TYPE_SOCKS5_SERVER, 1, Bytes({5, 1, 0, 4, 1, 0, 1, 1, 2, 3, 4, 0, 80}), false},
        {"only method 0x02", LINK_TYPE_SOCKS5_SERVER, 1, Bytes({5, 1, 2}), false},
        {"silent client", LINK_TYPE_SOCKS5_SERVER, 1, "", false},
        {"TLS server without a certificate", LINK_TYPE_SSL, 1, "", false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.pName);
        auto [client, accepted] = linktest::AcceptedPair(m_listener);
        ASSERT_GE(accepted, 0);
        send(client, r.client.data(), r.client.size(), MSG_NOSIGNAL);
        if (r.bReset) {
            const linger l{1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
            close(client);
            client = -1;
            pollfd pfd{accepted, POLLIN, 0};
            ASSERT_EQ(1, poll(&pfd, 1, 5000));
            ASSERT_TRUE(pfd.revents & POLLERR);
        }
        const int iFlags = fcntl(accepted, F_GETFL);
        LINK_CREATE_PARAM p;
        std::memset(&p, 0, sizeof(p));
        p.enumLinkType = r.enumLinkType;
        p.dwServerMode = r.dwServerMode;
        p.iSocket = accepted;
        p.dwRecvTimeout = 200;
        EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
        EXPECT_EQ(iFlags, fcntl(accepted, F_GETFL));
        linger l{};
        socklen_t n = sizeof(l);
        EXPECT_EQ(0, getsockopt(accepted, SOL_SOCKET, SO_LINGER, &l, &n));
        EXPECT_EQ(0, l.l_onoff);
        EXPECT_EQ(0, close(accepted));
        if (client >= 0)
            close(client);
    }
}

// A relay of the test behind the server link: one connection, handshake, connect to the
// requested host, then bytes both ways until one side ends.
class Relay {
public:
    explicit Relay(Listener &listener) {
        m_thread = std::thread([&listener] {
            int accepted = listener.Accept(10000);
            LINK_CREATE_PARAM p;
            std::memset(&p, 0, sizeof(p));
            p.enumLinkType = LINK_TYPE_SOCKS5_SERVER;
            p.dwServerMode = 1;
            p.iSocket = accepted;
            CLinkBase *pLink = Link_CreateLinkEx(&p, 0, nullptr);
            if (!pLink)
                return;
            char host[CLinkTCPSocks5Server::kHostLen];
            WORD port = 0;
            pLink->GetRequestHost(host, &port);
            const std::string target = std::string(host) == "localhost" ? "127.0.0.1" : host;
            int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = port;
            inet_pton(AF_INET, target.c_str(), &a.sin_addr);
            if (connect(t, (sockaddr *)&a, sizeof(a)) == 0)
                Pump(pLink->GetSocket(), t);
            close(t);
            Link_DestroyLink(pLink);
        });
    }
    ~Relay() { m_thread.join(); }

private:
    // An end of stream on one side is passed on as a half close; done when both sides ended.
    static void Pump(int a, int b) {
        fcntl(a, F_SETFL, fcntl(a, F_GETFL) & ~O_NONBLOCK);  // the link left it non-blocking
        char buf[16384];
        bool open[2] = {true, true};
        while (open[0] || open[1]) {
            pollfd p[2] = {{open[0] ? a : -1, POLLIN, 0}, {open[1] ? b : -1, POLLIN, 0}};
            if (poll(p, 2, 10000) <= 0)
                return;
            for (int i = 0; i < 2; i++) {
                if (!p[i].revents)
                    continue;
                const int to = i ? a : b;
                ssize_t n = recv(p[i].fd, buf, sizeof(buf), 0);
                if (n < 0 || (n > 0 && send(to, buf, (size_t)n, MSG_NOSIGNAL) != n))
                    return;
                if (n == 0) {
                    open[i] = false;
                    shutdown(to, SHUT_WR);
                }
            }
        }
    }
    std::thread m_thread;
};

// A client that half-closes after the handshake and reads slowly gets all that the target sent
// through the relay, then the end of stream: the server link's close lets its queue drain.
TEST_F(Socks5Server, HalfClosingSlowReaderGetsEveryByteThroughTheRelay) {
    std::string body(256 * 1024, '\0');
    for (size_t i = 0; i < body.size(); i++)
        body[i] = (char)('a' + (i * 7 + i / 251) % 26);
    Listener target;
    std::thread server([&] {
        int fd = target.Accept(10000);
        send(fd, body.data(), body.size(), MSG_NOSIGNAL);
        close(fd);
    });
    Relay relay(m_listener);
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)m_listener.Port());
    ASSERT_EQ(0, connect(client, (sockaddr *)&a, sizeof(a)));
    const std::string hello = Bytes({5, 1, 0}) + Request(1, 1, Bytes({127, 0, 0, 1}), target.Port());
    ASSERT_EQ((ssize_t)hello.size(), send(client, hello.data(), hello.size(), MSG_NOSIGNAL));
    EXPECT_EQ(Bytes({5, 0, 5, 0, 0, 1}) + kZeros6, ReadExactly(client, 12, 5000));
    shutdown(client, SHUT_WR);
    std::string got;
    int iEnd = ETIMEDOUT;
    char buf[4096];
    for (pollfd p{client, POLLIN, 0}; poll(&p, 1, 10000) == 1;) {
        const ssize_t n = recv(client, buf, sizeof(buf), 0);
        if (n <= 0) {
            iEnd = n == 0 ? 0 : errno;
            break;
        }
        got.append(buf, (size_t)n);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(client);
    server.join();
    EXPECT_EQ(0, iEnd) << strerror(iEnd);
    EXPECT_EQ(body.size(), got.size());
    EXPECT_TRUE(got == body);
}

class Socks5RealPeers : public Socks5Server {
protected:
    void SetUp() override {
        Socks5Server::SetUp();
        char dir[] = "/tmp/socks5-httpXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        m_dir = dir;
        std::ofstream(m_dir + "/file.txt") << "body through the proxy\n";
        m_http = std::make_unique<linktest::Process>(std::vector<std::string>{
            linktest::Python(), "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", m_dir});
        const std::string line = m_http->ReadLine(10000);
        const size_t at = line.find(" port ");
        ASSERT_NE(std::string::npos, at) << line;
        m_httpPort = std::stoi(line.substr(at + 6));
    }
    void TearDown() override {
        m_http.reset();
        std::remove((m_dir + "/file.txt").c_str());
        rmdir(m_dir.c_str());
        Socks5Server::TearDown();
    }
    std::string Run(const std::string &command) {
        std::string out;
        FILE *f = popen((command + " 2>&1").c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            out.append(buf, n);
        pclose(f);
        return out;
    }
    std::string Url(const char *pHost) { return std::string("http://") + pHost + ":" + std::to_string(m_httpPort) + "/file.txt"; }

    std::string m_dir;
    std::unique_ptr<linktest::Process> m_http;
    int m_httpPort = 0;
};

TEST_F(Socks5RealPeers, CurlThroughTheServerLink) {
    for (const char *pMode : {"--socks5", "--socks5-hostname"}) {
        SCOPED_TRACE(pMode);
        Relay relay(m_listener);
        const std::string out = Run(std::string("curl -s -S --max-time 10 ") + pMode + " 127.0.0.1:" +
                                    std::to_string(m_listener.Port()) + " " + Url("localhost"));
        EXPECT_EQ("body through the proxy\n", out);
    }
    // The reply 0x01 a private-method peer gets is a failure to a standard client (curl 7.88
    // names only the code).
    Peer proxy({"--rep", "1"}, "", "socks5_proxy.py");
    const std::string out =
        Run("curl -s -S --max-time 10 --socks5 127.0.0.1:" + std::to_string(proxy.Port()) + " " + Url("127.0.0.1"));
    EXPECT_NE(std::string::npos, out.find("curl: (97) Can't complete SOCKS5 connection to 127.0.0.1. (1)")) << out;
}

TEST_F(Socks5RealPeers, NcatThroughTheServerLink) {
    if (system("command -v ncat >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ncat is not installed (scripts/packages.txt)";
    Relay relay(m_listener);
    const std::string out = Run("printf 'GET /file.txt HTTP/1.0\\r\\n\\r\\n' | ncat --proxy-type socks5 --proxy 127.0.0.1:" +
                                std::to_string(m_listener.Port()) + " 127.0.0.1 " + std::to_string(m_httpPort));
    EXPECT_NE(std::string::npos, out.find("body through the proxy")) << out;
}

TEST_F(Socks5RealPeers, DanteRefusesThePrivateMethod) {
    if (system("command -v danted >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "dante-server is not installed (scripts/packages.txt)";
    Listener probe;  // a free port for danted
    const int iPort = probe.Port();
    close(probe.Fd());
    const std::string conf = m_dir + "/danted.conf";
    std::ofstream(conf) << "logoutput: stderr\ninternal: 127.0.0.1 port = " << iPort
                        << "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\nuser.privileged: root\n"
                           "user.unprivileged: nobody\nclient pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                           "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
    linktest::Process dante({"danted", "-f", conf, "-N", "1"});
    ASSERT_TRUE(WaitFor(
        [&] {
            int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons((uint16_t)iPort);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool ok = connect(s, (sockaddr *)&a, sizeof(a)) == 0;
            close(s);
            return ok;
        },
        10000));
    SetProxy(6, "127.0.0.1", iPort);
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", m_httpPort, LINK_TYPE_SOCKS5);
    p.byProxyID = 6;
    servicetest::LogCapture log;
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_EQ(1u, log.Matching("method refused, VER[5], METHOD[255]").size());
    std::remove(conf.c_str());
}

}  // namespace
