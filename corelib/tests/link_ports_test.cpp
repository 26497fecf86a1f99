// Local ports of the links: the global TCP pool and port multiplexing, seen from outside with
// ss, on loopback.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaNetwork.h"
#include "service_test_util.h"
#include "transport/port/PortMultiplexList.h"

using namespace Vorezi;
using linktest::Listener;

namespace {

constexpr DWORD kCfgTcpPortRange = 0;
constexpr DWORD kCfgPortMulti = 21;

int LastError() { return GetCoreGlobalCtrl()->GetLastError(); }

std::string Run(const std::string &cmd) {
    std::string out;
    if (FILE *f = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof(buf), f))
            out += buf;
        pclose(f);
    }
    return out;
}

// The local ports of the established TCP connections towards the given port, as ss reports
// them, each with the peer address it talks to.
std::vector<std::pair<int, std::string>> LocalPortsTowards(int iPeerPort) {
    std::vector<std::pair<int, std::string>> found;
    const std::string out = Run("ss -Htan state established '( dport = :" + std::to_string(iPeerPort) + " )'");
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos)
            end = out.size();
        char local[128] = {0}, peer[128] = {0};
        int recvq = 0, sendq = 0;
        if (sscanf(out.substr(pos, end - pos).c_str(), "%d %d %127s %127s", &recvq, &sendq, local, peer) == 4) {
            std::string l = local;
            std::string p = peer;
            found.emplace_back(std::stoi(l.substr(l.rfind(':') + 1)), p.substr(0, p.rfind(':')));
        }
        pos = end + 1;
    }
    return found;
}

// Drains the global TCP pool and gives every port back; the ports it held.
std::vector<WORD> PoolContents() {
    std::vector<WORD> ports;
    for (WORD w; (w = Morva_GetTcpPort(2)) != 0;)
        ports.push_back(w);
    for (WORD w : ports)
        Morva_ReleaseTcpPort(w);
    return ports;
}

class LinkPorts : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        // A range per process, above the kernel's ephemeral ports: other test processes run at
        // the same time, some with thousands of loopback connections.
        m_wBase = (WORD)(61000 + (getpid() % 400) * 10);
    }
    void SetTcpRange(WORD wMin, WORD wMax) {
        MORVA_PORT_RANGE_CFG range{wMin, wMax};
        ASSERT_EQ(1, Morva_SetSDKLocalCfg(kCfgTcpPortRange, &range));
    }
    void SetMultiplexing(DWORD bOn) { ASSERT_EQ(1, Morva_SetSDKLocalCfg(kCfgPortMulti, &bOn)); }
    WORD m_wBase = 0;
};

TEST_F(LinkPorts, TcpPoolRange) {
    // A port that is busy is skipped.
    int busy = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;  // earlier runs may have left connections of this port in TIME_WAIT
    setsockopt(busy, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_wBase);
    ASSERT_EQ(0, bind(busy, (sockaddr *)&a, sizeof(a)));
    ASSERT_EQ(0, listen(busy, 1));
    SetTcpRange(m_wBase, (WORD)(m_wBase + 9));

    Listener listener;
    std::vector<CLinkBase *> links;
    std::set<int> used;
    for (CLinkBase *p; (p = linktest::Connect("127.0.0.1", listener.Port())) != nullptr;)
        links.push_back(p);
    EXPECT_EQ(104, LastError()) << "an empty pool";
    EXPECT_EQ(9u, links.size()) << "ten ports, one of them busy";
    for (const auto &lp : LocalPortsTowards(listener.Port())) {
        EXPECT_GE(lp.first, m_wBase + 1);
        EXPECT_LE(lp.first, m_wBase + 9);
        used.insert(lp.first);
    }
    EXPECT_EQ(9u, used.size());

    // A closed link returns its port.
    Link_DestroyLink(links.back());
    links.pop_back();
    CLinkBase *pAgain = linktest::Connect("127.0.0.1", listener.Port());
    ASSERT_NE(nullptr, pAgain);
    links.push_back(pAgain);
    for (CLinkBase *p : links)
        Link_DestroyLink(p);
    close(busy);
}

TEST_F(LinkPorts, MultiplexingSharesAPortAcrossDestinationsOnly) {
    SetMultiplexing(1);
    // One listener on every loopback address.
    int lsock = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lsock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(0, bind(lsock, (sockaddr *)&a, sizeof(a)));
    ASSERT_EQ(0, listen(lsock, 16));
    socklen_t n = sizeof(a);
    getsockname(lsock, (sockaddr *)&a, &n);
    const int iPort = ntohs(a.sin_port);

    CLinkBase *p1 = linktest::Connect("127.0.0.1", iPort);
    CLinkBase *p2 = linktest::Connect("127.0.0.1", iPort);
    CLinkBase *p3 = linktest::Connect("127.0.0.2", iPort);
    ASSERT_TRUE(p1 && p2 && p3);
    const auto conns = LocalPortsTowards(iPort);
    ASSERT_EQ(3u, conns.size());
    std::map<int, std::set<std::string>> peersByPort;
    for (const auto &c : conns)
        EXPECT_TRUE(peersByPort[c.first].insert(c.second).second) << "two links to " << c.second << " share port " << c.first;
    EXPECT_EQ(2u, peersByPort.size()) << "the link to 127.0.0.2 shares a local port";
    for (CLinkBase *p : {p1, p2, p3})
        Link_DestroyLink(p);
    EXPECT_EQ(0, GetCoreGlobalCtrl()->GetPortMultiTotalNum(0)) << "the last close removes the nodes";
    close(lsock);
}

TEST_F(LinkPorts, FullMultiplexListGives187) {
    SetMultiplexing(1);
    Listener listener;
    // 400 nodes that all hold the destination already: no node can take it.
    YAR_ADDR_T dest;
    YAR_MakeAddrByString(YAR_AF_INET, "127.0.0.1", (uint16_t)listener.Port(), &dest);
    BYTE key[PORT_MULTI_KEY_LEN];
    MakePortMultiKey(dest, key);
    for (int i = 0; i < PORT_MULTI_MAX_NODES; i++)
        ASSERT_EQ(1, GetCoreGlobalCtrl()->InsertPortList(0, (WORD)(1 + i), key));
    EXPECT_EQ(nullptr, linktest::Connect("127.0.0.1", listener.Port()));
    EXPECT_EQ(187, LastError());
    int bRemoved = 0;
    for (int i = 0; i < PORT_MULTI_MAX_NODES; i++)
        GetCoreGlobalCtrl()->DeletePortList(0, key, (WORD)(1 + i), &bRemoved);
    CLinkBase *pLink = linktest::Connect("127.0.0.1", listener.Port());
    EXPECT_NE(nullptr, pLink) << "room again";
    if (pLink)
        Link_DestroyLink(pLink);
}

// A shared port goes back to the pool with the close that empties its node; a port the link
// did not take from the pool (an accepted socket's) never goes there.
TEST_F(LinkPorts, PortsGoBackOnlyFromTheirTaker) {
    SetTcpRange(m_wBase, (WORD)(m_wBase + 3));
    SetMultiplexing(1);
    int lsock = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lsock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(0, bind(lsock, (sockaddr *)&a, sizeof(a)));
    ASSERT_EQ(0, listen(lsock, 16));
    socklen_t n = sizeof(a);
    getsockname(lsock, (sockaddr *)&a, &n);
    const int iPort = ntohs(a.sin_port);

    CLinkBase *pA = linktest::Connect("127.0.0.1", iPort);
    CLinkBase *pB = linktest::Connect("127.0.0.2", iPort);
    ASSERT_TRUE(pA && pB);
    const auto conns = LocalPortsTowards(iPort);
    ASSERT_EQ(2u, conns.size());
    ASSERT_EQ(conns[0].first, conns[1].first);
    const WORD wShared = (WORD)conns[0].first;
    EXPECT_EQ(3u, PoolContents().size());
    Link_DestroyLink(pA);
    auto inPool = PoolContents();
    EXPECT_EQ(inPool.end(), std::find(inPool.begin(), inPool.end(), wShared)) << "still used by the other link";
    Link_DestroyLink(pB);
    inPool = PoolContents();
    EXPECT_EQ(1, std::count(inPool.begin(), inPool.end(), wShared)) << "the emptied node's port is back";

    // An adopted accepted socket whose local port lies in the range.
    SetMultiplexing(0);
    int srv = socket(AF_INET, SOCK_STREAM, 0);
    setsockopt(srv, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    a.sin_port = htons(inPool.front());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(srv, (sockaddr *)&a, sizeof(a)));
    ASSERT_EQ(0, listen(srv, 1));
    int cli = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(0, connect(cli, (sockaddr *)&a, sizeof(a)));
    int acc = accept(srv, nullptr, nullptr);
    LINK_CREATE_PARAM p = linktest::MakeParam(nullptr, 0);
    p.dwServerMode = 1;
    p.iSocket = acc;
    CLinkBase *pAdopted = Link_CreateLinkEx(&p, 0, nullptr);
    ASSERT_NE(nullptr, pAdopted);
    close(cli);  // the client closes first: no TIME_WAIT on the pool's port for later runs
    Link_DestroyLink(pAdopted);
    inPool = PoolContents();
    std::sort(inPool.begin(), inPool.end());
    EXPECT_EQ(inPool.end(), std::adjacent_find(inPool.begin(), inPool.end())) << "no port twice in the pool";
    EXPECT_EQ(4u, inPool.size());
    close(srv);
    close(lsock);
}

}  // namespace
