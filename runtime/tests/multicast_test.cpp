// Multicast membership across namespaces: a host joined to two peers by veth pairs.
#include <netinet/in.h>
#include <sys/socket.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "netns/netns_lab.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace {

constexpr uint16_t kPort = 37020;

struct Family {
    int code;
    const char *group;
    const char *host[2];  // the host's address towards peer 1 and peer 2
    const char *peer[2];
    const char *cidr;     // prefix length suffix
    // Linux filters IPv4 group traffic by the interface joined on; IPv6 group traffic only by
    // the group (a socket joined on one interface also hears the group on the others).
    bool perInterface;
};

const Family kFamilies[] = {
    {YAR_AF_INET, "239.255.255.250", {"10.61.1.1", "10.61.2.1"}, {"10.61.1.2", "10.61.2.2"}, "/24", true},
    {YAR_AF_INET6, "ff15::7", {"fd61:1::1", "fd61:2::1"}, {"fd61:1::2", "fd61:2::2"}, "/64", false},
};

YAR_ADDR_T Addr(int family, const char *text, uint16_t port) {
    YAR_ADDR_T a;
    EXPECT_EQ(0, YAR_MakeAddrByString(family, text, port, &a)) << text;
    return a;
}

// A receiver as a multicast socket is built on Linux: the wildcard address and the port, then
// the group joined on the interface of a local address.
int JoinedSocket(const Family &f, const char *local) {
    int s = YAR_CreateSocket(f.code, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_GE(s, 0);
    EXPECT_EQ(0, YAR_SetReuseAddr(s, 1));
    YAR_ADDR_T any = Addr(f.code, nullptr, kPort);
    EXPECT_EQ(0, YAR_Bind(s, &any));
    YAR_ADDR_T l = Addr(f.code, local, kPort), g = Addr(f.code, f.group, kPort);
    EXPECT_EQ(0, YAR_JoinMultiCastGroup(s, &l, &g)) << YAR_GetSystemLastError();
    // Our own sends would loop back to us; only the other side's datagrams count here.
    int off = 0;
    if (f.code == YAR_AF_INET)
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
    else
        YAR_SetMultiCastLoop6(s, off);
    return s;
}

void SendGroup(const Family &f, int s, const std::string &text) {
    YAR_ADDR_T g = Addr(f.code, f.group, kPort);
    EXPECT_EQ(int(text.size()), YAR_SendTo(s, text.data(), int(text.size()), &g))
        << text << ": " << YAR_GetSystemLastError();
}

std::string Receive(int s, uint32_t timeoutMs) {
    char buf[64];
    int n = YAR_RecvWithTimeOut(s, buf, sizeof buf, timeoutMs);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Everything that arrives until the socket stays quiet for 300 ms.
std::multiset<std::string> ReceiveAll(int s) {
    std::multiset<std::string> got;
    for (std::string m = Receive(s, 1000); !m.empty(); m = Receive(s, 300))
        got.insert(m);
    return got;
}

class Multicast : public ::testing::TestWithParam<Family> {};

TEST_P(Multicast, JoinsPerInterfaceAndSendsThroughIt) {
    const Family &f = GetParam();
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("mchost"), peer[2] = {lab.Add("mcpeer1"), lab.Add("mcpeer2")};
    for (int i = 0; i < 2; ++i)
        lab.Veth(host, "h" + std::to_string(i + 1), f.host[i] + std::string(f.cidr), peer[i], "p0",
                 f.peer[i] + std::string(f.cidr));

    int hostRx[2], peerSock[2];
    {
        zeva::test::EnterNetns in(host);
        ZEVA_REQUIRE_NETNS();
        for (int i = 0; i < 2; ++i)
            hostRx[i] = JoinedSocket(f, f.host[i]);
    }
    for (int i = 0; i < 2; ++i) {
        zeva::test::EnterNetns in(peer[i]);
        ZEVA_REQUIRE_NETNS();
        peerSock[i] = JoinedSocket(f, f.peer[i]);
    }

    // The kernel's own view of the memberships: one per interface.
    for (int i = 0; i < 2; ++i) {
        std::string maddr = lab.Ip(host, "maddr show dev h" + std::to_string(i + 1)).out;
        EXPECT_NE(std::string::npos, maddr.find(f.group)) << maddr;
    }

    // Each host socket hears only the peer behind its own interface.
    SendGroup(f, peerSock[0], "from peer 1");
    SendGroup(f, peerSock[1], "from peer 2");
    using Set = std::multiset<std::string>;
    Set both{"from peer 1", "from peer 2"};
    EXPECT_EQ(f.perInterface ? Set{"from peer 1"} : both, ReceiveAll(hostRx[0]));
    EXPECT_EQ(f.perInterface ? Set{"from peer 2"} : both, ReceiveAll(hostRx[1]));

    // Sends leave through the interface of the joined address.
    SendGroup(f, hostRx[1], "to peer 2");
    EXPECT_EQ("to peer 2", Receive(peerSock[1], 2000));
    EXPECT_EQ("", Receive(peerSock[0], 200));

    // After leaving, nothing of the group arrives there any more.
    {
        zeva::test::EnterNetns in(host);
        YAR_ADDR_T l = Addr(f.code, f.host[0], kPort), g = Addr(f.code, f.group, kPort);
        EXPECT_EQ(0, YAR_LeaveMultiCastGroup(hostRx[0], &l, &g));
        EXPECT_EQ(-1, YAR_LeaveMultiCastGroup(hostRx[0], &l, &g));
    }
    EXPECT_EQ(std::string::npos, lab.Ip(host, "maddr show dev h1").out.find(f.group));
    SendGroup(f, peerSock[0], "again");
    EXPECT_EQ("", Receive(hostRx[0], 300));

    for (int i = 0; i < 2; ++i) {
        YAR_CloseSocket(hostRx[i], 1);
        YAR_CloseSocket(peerSock[i], 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Multicast, ::testing::ValuesIn(kFamilies),
                         [](const auto &info) { return info.param.code == YAR_AF_INET ? "IPv4" : "IPv6"; });

TEST(MulticastArgs, RefusesNullAndOtherFamilies) {
    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    YAR_ADDR_T l = Addr(YAR_AF_INET, "127.0.0.1", 1), g = l;
    EXPECT_EQ(-1, YAR_JoinMultiCastGroup(s, nullptr, &g));
    EXPECT_EQ(-1, YAR_JoinMultiCastGroup(s, &l, nullptr));
    g.family = 7;
    EXPECT_EQ(-1, YAR_JoinMultiCastGroup(s, &l, &g));
    YAR_CloseSocket(s, 0);
}

}  // namespace
