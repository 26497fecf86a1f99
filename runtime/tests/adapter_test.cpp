// The adapter list against the kernel's own view (ip -j, read with jq) on interfaces made by the
// test inside network namespaces; name resolution on local names only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "internal/adapter_backend.h"
#include "internal/default_family.h"
#include "netns/netns_lab.h"
#include "yar/yar_adapter.h"
#include "yar/yar_debug.h"
#include "yar/yar_error.h"

namespace {

// One adapter as "ip -j addr" shows it.
struct IpView {
    unsigned index;
    std::string name, mac, linkType;
    std::vector<std::string> ipv4;  // "address/prefix"
    std::vector<std::string> ipv6;
};

std::vector<std::string> Split(const std::string &s, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, sep))
        parts.push_back(part);
    if (!s.empty() && s.back() == sep)
        parts.push_back("");
    return parts;
}

// The interfaces that are up, loopback excluded, as the kernel lists them.
std::vector<IpView> KernelView(const std::string &ns) {
    const char *query = R"jq(.[] | select(.ifname != "lo" and (.flags | index("UP")))
        | "\(.ifindex)|\(.ifname)|\(.address // "")|\(.link_type)|"
          + ([.addr_info[] | select(.family == "inet") | "\(.local)/\(.prefixlen)"] | join(","))
          + "|" + ([.addr_info[] | select(.family == "inet6") | .local] | join(",")))jq";
    zeva::test::CmdResult r = zeva::test::Sh("ip -n " + ns + " -j addr show | jq -r '" + query + "'");
    EXPECT_EQ(0, r.status) << r.out;
    std::vector<IpView> view;
    for (const std::string &line : Split(r.out, '\n')) {
        std::vector<std::string> f = Split(line, '|');
        if (f.size() != 6)
            continue;
        IpView v{unsigned(std::stoul(f[0])), f[1], f[2], f[3], {}, {}};
        for (const auto &a : Split(f[4], ','))
            if (!a.empty())
                v.ipv4.push_back(a);
        for (const auto &a : Split(f[5], ','))
            if (!a.empty())
                v.ipv6.push_back(a);
        view.push_back(v);
    }
    return view;
}

std::string MacText(const YAR_ADAPTER_INFO_T *a) {
    std::string text;
    char byte[4];
    for (uint32_t i = 0; i < a->macLen; ++i) {
        std::snprintf(byte, sizeof byte, i ? ":%02x" : "%02x", a->mac[i]);
        text += byte;
    }
    return text;
}

int PrefixLength(const char *mask) {
    in_addr m{};
    inet_pton(AF_INET, mask, &m);
    return __builtin_popcount(m.s_addr);
}

uint32_t ExpectedType(const std::string &linkType) {
    if (linkType == "ether")
        return YAR_IF_TYPE_ETHERNET;
    if (linkType == "none")
        return YAR_IF_TYPE_TUNNEL;
    return YAR_IF_TYPE_OTHER;
}

struct AdapterList {
    YAR_ADAPTER_INFO_T *head = nullptr;
    ~AdapterList() { YAR_FreeAdapterInfo(head); }
};

void ExpectMatchesKernel(const std::string &ns) {
    std::vector<IpView> kernel = KernelView(ns);
    AdapterList list;
    ASSERT_EQ(0, YAR_GetAdapterInfo(&list.head));
    size_t i = 0;
    for (const YAR_ADAPTER_INFO_T *a = list.head; a; a = a->next, ++i) {
        ASSERT_LT(i, kernel.size()) << "extra adapter " << a->name;
        const IpView &k = kernel[i];
        SCOPED_TRACE(k.name);
        EXPECT_EQ(k.index, a->index);
        EXPECT_EQ(k.name, a->name);
        EXPECT_EQ(k.name, a->description);
        EXPECT_EQ(k.mac, MacText(a));
        EXPECT_EQ(ExpectedType(k.linkType), a->type);
        EXPECT_EQ(0u, a->dhcpEnabled);

        std::vector<std::string> v4;
        for (const YAR_ADDR_NODE_T *n = a->ipv4; n; n = n->next)
            v4.push_back(std::string(n->u.text.address) + "/" + std::to_string(PrefixLength(n->u.text.mask)));
        EXPECT_EQ(k.ipv4.empty() ? std::vector<std::string>{"0.0.0.0/0"} : k.ipv4, v4);

        std::vector<std::string> v6;
        for (const YAR_ADDR_NODE_T *n = a->ipv6; n; n = n->next) {
            char text[64];
            v6.push_back(inet_ntop(AF_INET6, n->u.ip6, text, sizeof text));
            for (int b = 16; b < 32; ++b)
                EXPECT_EQ(0, n->u.ip6[b]);
        }
        EXPECT_EQ(k.ipv6, v6);
        EXPECT_EQ(k.ipv6.empty(), a->ipv6 == nullptr);
        ASSERT_NE(nullptr, a->dhcpServers);
        EXPECT_STREQ("0.0.0.0", a->dhcpServers->u.text.address);
    }
    EXPECT_EQ(kernel.size(), i);
}

const YAR_ADAPTER_INFO_T *Find(const YAR_ADAPTER_INFO_T *head, const char *name) {
    for (; head; head = head->next)
        if (std::strcmp(head->name, name) == 0)
            return head;
    return nullptr;
}

// Linux without the dummy driver: an empty bridge is the same kind of address holder.
void AddDummy(zeva::test::NetnsLab &lab, const std::string &ns, const std::string &name) {
    if (zeva::test::Sh("ip -n " + ns + " link add " + name + " type dummy").status != 0)
        lab.Ip(ns, "link add " + name + " type bridge");
}

TEST(Adapters, MatchTheKernelsView) {
    ZEVA_NETNS_LAB(lab);
    std::string ns = lab.Add("adp"), peer = lab.Add("adpeer");
    // Two IPv4 addresses, one under an alias label, IPv6, a default gateway.
    lab.Veth(ns, "ta0", "10.71.0.1/24", peer, "pa0", "10.71.0.9/24");
    lab.AddAddr(ns, "ta0", "10.71.0.2/24");
    lab.Ip(ns, "addr add 10.71.0.3/24 dev ta0 label ta0:1");
    lab.AddAddr(ns, "ta0", "fd71::1/64");
    lab.Ip(ns, "route add default via 10.71.0.254 dev ta0");
    // No IPv4 address at all.
    AddDummy(lab, ns, "tb0");
    lab.Up(ns, "tb0", "fd72::1/64");
    // No MAC: a tunnel device.
    lab.Ip(ns, "tuntap add tt0 mode tun");
    lab.Up(ns, "tt0", "10.74.0.1/24");
    // One that goes down.
    AddDummy(lab, ns, "tc0");
    lab.Up(ns, "tc0", "10.73.0.1/24");

    zeva::test::EnterNetns in(ns);
    ZEVA_REQUIRE_NETNS();
    ExpectMatchesKernel(ns);
    {
        AdapterList list;
        ASSERT_EQ(0, YAR_GetAdapterInfo(&list.head));
        const YAR_ADAPTER_INFO_T *ta0 = Find(list.head, "ta0");
        ASSERT_NE(nullptr, ta0);
        EXPECT_STREQ("10.71.0.1", ta0->ipv4->u.text.address);
        EXPECT_STREQ("255.255.255.0", ta0->ipv4->u.text.mask);
        EXPECT_STREQ("10.71.0.254", ta0->gateways->u.text.address);
        EXPECT_EQ(nullptr, ta0->gateways->next);
        const YAR_ADAPTER_INFO_T *tb0 = Find(list.head, "tb0");
        ASSERT_NE(nullptr, tb0);
        EXPECT_STREQ("0.0.0.0", tb0->ipv4->u.text.address);
        EXPECT_EQ(nullptr, tb0->ipv4->next);
        EXPECT_STREQ("0.0.0.0", tb0->gateways->u.text.address);
        const YAR_ADAPTER_INFO_T *tt0 = Find(list.head, "tt0");
        ASSERT_NE(nullptr, tt0);
        EXPECT_EQ(0u, tt0->macLen);
        EXPECT_NE(nullptr, Find(list.head, "tc0"));
    }

    lab.Ip(ns, "link set tc0 down");
    ExpectMatchesKernel(ns);
    AdapterList after;
    ASSERT_EQ(0, YAR_GetAdapterInfo(&after.head));
    EXPECT_EQ(nullptr, Find(after.head, "tc0"));
}

// Interfaces that share a MAC (bridges, VLANs, teams) each keep their own IPv6 addresses.
TEST(Adapters, IPv6AddressesJoinTheirAdapterByIndex) {
    ZEVA_NETNS_LAB(lab);
    std::string ns = lab.Add("adp6"), peer = lab.Add("adp6peer");
    lab.Veth(ns, "ua0", "10.81.0.1/24", peer, "pu0", "");
    lab.Veth(ns, "ub0", "10.82.0.1/24", peer, "pu1", "");
    lab.Ip(ns, "link set ua0 address 02:11:22:33:44:55");
    lab.Ip(ns, "link set ub0 address 02:11:22:33:44:55");
    lab.AddAddr(ns, "ua0", "fd81::1/64");
    lab.AddAddr(ns, "ub0", "fd82::1/64");

    zeva::test::EnterNetns in(ns);
    ZEVA_REQUIRE_NETNS();
    AdapterList list;
    ASSERT_EQ(0, YAR_GetAdapterInfo(&list.head));
    for (const char *name : {"ua0", "ub0"}) {
        const YAR_ADAPTER_INFO_T *a = Find(list.head, name);
        ASSERT_NE(nullptr, a);
        uint8_t prefix = name[1] == 'a' ? 0x81 : 0x82;
        for (const YAR_ADDR_NODE_T *n = a->ipv6; n; n = n->next) {
            bool own = n->u.ip6[0] == 0xfe || (n->u.ip6[0] == 0xfd && n->u.ip6[1] == prefix);
            EXPECT_TRUE(own) << name << " got another adapter's address";
        }
    }
    ExpectMatchesKernel(ns);
}

std::string g_debugText;
void CaptureDebug(const char *text, void *) {
    g_debugText += text;
}

TEST(Adapters, MacAddrNeverWritesPastTheCallersLength) {
    ZEVA_NETNS_LAB(lab);
    std::string ns = lab.Add("mac"), peer = lab.Add("macpeer");
    lab.Veth(ns, "tm0", "10.91.0.1/24", peer, "pm0", "");
    lab.AddAddr(ns, "tm0", "10.91.0.2/24");
    lab.Ip(ns, "link set tm0 address 02:aa:bb:cc:dd:ee");
    zeva::test::EnterNetns in(ns);
    ZEVA_REQUIRE_NETNS();

    uint8_t mac[8];
    std::memset(mac, 0x77, sizeof mac);
    uint32_t len = sizeof mac;
    ASSERT_EQ(0, YAR_GetMacAddr("10.91.0.1", mac, &len));
    EXPECT_EQ(6u, len);
    EXPECT_EQ(0, std::memcmp(mac, "\x02\xaa\xbb\xcc\xdd\xee\x77\x77", 8));

    len = sizeof mac;
    EXPECT_EQ(-1, YAR_GetMacAddr("10.91.0.2", mac, &len));  // not the adapter's first address
    EXPECT_EQ(-1, YAR_GetMacAddr("10.91.0.", mac, &len));

    std::memset(mac, 0x77, sizeof mac);
    len = 4;
    EXPECT_EQ(-1, YAR_GetMacAddr("10.91.0.1", mac, &len));
    EXPECT_EQ(6u, len);  // the length it needs
    for (uint8_t b : mac)
        EXPECT_EQ(0x77, b);

    g_debugText.clear();
    YAR_DEBUG_SINK previous = YAR_SetDebugSink(CaptureDebug, nullptr);
    len = 0;
    EXPECT_EQ(-1, YAR_GetMacAddr("10.91.0.1", mac, &len));
    EXPECT_EQ(-1, YAR_GetMacAddr(nullptr, mac, &len));
    YAR_SetDebugSink(previous, nullptr);
    EXPECT_EQ("YAR_GetMacAddr parameter error, return YAR_ERROR\n"
              "YAR_GetMacAddr parameter error, return YAR_ERROR\n",
              g_debugText);
}

// The default family follows the adapters: both families 101, IPv6 only 23, IPv4 only 2, and
// a machine without adapters leaves it as it was.
TEST(Adapters, DefaultFamilyFollowsTheAdapters) {
    ZEVA_NETNS_LAB(lab);
    std::string both = lab.Add("fboth"), v6 = lab.Add("fv6"), v4 = lab.Add("fv4"), none = lab.Add("fnone");
    std::string peer = lab.Add("fpeer");
    lab.Veth(both, "e0", "10.95.0.1/24", peer, "q0", "");
    lab.Veth(v6, "e0", "fd95::1/64", peer, "q1", "");
    lab.Exec(v4, "sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
    lab.Ip(v4, "link add e0 type veth peer name q2 netns " + peer);
    lab.Up(v4, "e0", "10.96.0.1/24");
    lab.Up(peer, "q2");

    int saved = yar::internal::DefaultFamily();
    struct Case { std::string ns; int start; int expected; };
    const Case cases[] = {
        {both, YAR_AF_INET, YAR_AF_DUAL},
        {v6, YAR_AF_INET, YAR_AF_INET6},
        {v4, YAR_AF_DUAL, YAR_AF_INET},
        {none, YAR_AF_INET6, YAR_AF_INET6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ns);
        zeva::test::EnterNetns in(c.ns);
        yar::internal::SetDefaultFamily(c.start);
        AdapterList list;
        EXPECT_EQ(0, UpdateDefaultFamily_Inter(&list.head));
        EXPECT_EQ(c.expected, yar::internal::DefaultFamily());
        EXPECT_EQ(c.expected, YAR_ResolveFamily(YAR_AF_DEFAULT));
    }

    // Without the adapter source the build fails, the holder and the family stay as they were.
    yar::internal::SetAdapterBackendAvailable(false);
    YAR_ADAPTER_INFO_T *untouched = reinterpret_cast<YAR_ADAPTER_INFO_T *>(&saved);
    EXPECT_EQ(-1, UpdateDefaultFamily_Inter(&untouched));
    EXPECT_EQ(reinterpret_cast<YAR_ADAPTER_INFO_T *>(&saved), untouched);
    EXPECT_EQ(YAR_AF_INET6, yar::internal::DefaultFamily());
    uint8_t mac[8];
    uint32_t len = sizeof mac;
    EXPECT_EQ(-1, YAR_GetMacAddr("10.95.0.1", mac, &len));
    yar::internal::SetAdapterBackendAvailable(true);
    yar::internal::SetDefaultFamily(saved);

    EXPECT_EQ(0, YAR_FreeAdapterInfo(nullptr));
    EXPECT_EQ(0, YAR_FreeNodeList(nullptr));
    EXPECT_EQ(-1, YAR_GetAdapterInfo(nullptr));
}

TEST(AdapterTypes, WindowsNumbering) {
    using yar::internal::AdapterTypeOf;
    EXPECT_EQ(6u, AdapterTypeOf(1, false));    // ARPHRD_ETHER
    EXPECT_EQ(71u, AdapterTypeOf(1, true));    // Ethernet framing of a wireless device
    EXPECT_EQ(24u, AdapterTypeOf(772, false)); // loopback
    EXPECT_EQ(23u, AdapterTypeOf(512, false)); // PPP
    EXPECT_EQ(131u, AdapterTypeOf(65534, false));
    EXPECT_EQ(1u, AdapterTypeOf(0xFFF0, false));
}

struct AddrInfoList {
    YAR_ADDRINFO_T *head = nullptr;
    ~AddrInfoList() { YAR_FreeAddressInfo(head); }
};

TEST(Resolve, LocalNamesIntoRuntimeRecords) {
    YAR_ADDRINFO_T hints{};
    hints.flags = AI_NUMERICHOST;
    hints.family = YAR_AF_INET6;
    hints.sockType = SOCK_STREAM;
    {
        AddrInfoList r;
        ASSERT_EQ(0, YAR_GetAddressInfo("fe80::1", "443", &hints, &r.head));
        ASSERT_NE(nullptr, r.head);
        EXPECT_EQ(YAR_AF_INET6, r.head->family);
        EXPECT_EQ(YAR_AF_INET6, r.head->addr.family);
        EXPECT_EQ(443, YAR_GetAddrPort(&r.head->addr));
        EXPECT_STREQ("fe80::1", YAR_GetAddrString(&r.head->addr));
        EXPECT_EQ(SOCK_STREAM, r.head->sockType);
        EXPECT_EQ(nullptr, r.head->next);
    }
    {
        // A name with nothing of the family asked for: no results, no failure.
        AddrInfoList r;
        r.head = reinterpret_cast<YAR_ADDRINFO_T *>(&hints);
        EXPECT_EQ(0, YAR_GetAddressInfo("127.0.0.1", nullptr, &hints, &r.head));
        EXPECT_EQ(nullptr, r.head);
    }
    {
        AddrInfoList r;
        EXPECT_EQ(-1, YAR_GetAddressInfo("not..numeric", nullptr, &hints, &r.head));
        EXPECT_EQ(11001, YAR_GetSystemLastError());
    }
    {
        YAR_ADDRINFO_T local{};
        local.flags = AI_CANONNAME;
        local.family = YAR_AF_INET;
        local.sockType = SOCK_DGRAM;
        AddrInfoList r;
        ASSERT_EQ(0, YAR_GetAddressInfo("localhost", "53", &local, &r.head));
        ASSERT_NE(nullptr, r.head);
        EXPECT_EQ(YAR_AF_INET, r.head->family);
        EXPECT_STREQ("127.0.0.1", YAR_GetAddrString(&r.head->addr));
        ASSERT_NE(nullptr, r.head->canonName);
        EXPECT_STREQ("localhost", r.head->canonName);
    }
    {
        AddrInfoList r;
        ASSERT_EQ(0, YAR_GetAddressInfo("127.0.0.1", "7", nullptr, &r.head));
        int count = 0;
        for (YAR_ADDRINFO_T *n = r.head; n; n = n->next, ++count)
            EXPECT_EQ(7, YAR_GetAddrPort(&n->addr));
        EXPECT_GE(count, 1);
    }
    EXPECT_EQ(0, YAR_FreeAddressInfo(nullptr));
    EXPECT_EQ(-1, YAR_GetAddressInfo("127.0.0.1", nullptr, nullptr, nullptr));
}

TEST(Resolve, HostNameAndByteOrder) {
    char ours[256], theirs[256];
    ASSERT_EQ(0, YAR_GetHostName(ours, sizeof ours));
    ASSERT_EQ(0, gethostname(theirs, sizeof theirs));
    EXPECT_STREQ(theirs, ours);
    EXPECT_EQ(-1, YAR_GetHostName(nullptr, 10));
    hostent *h = YAR_GetHostByName("localhost");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(AF_INET, h->h_addrtype);
    EXPECT_EQ(nullptr, YAR_GetHostByName(nullptr));
    EXPECT_EQ(0x3412, YAR_Htons(0x1234));
    EXPECT_EQ(0x1234, YAR_Ntohs(0x3412));
    EXPECT_EQ(0x78563412u, YAR_Htonl(0x12345678));
    EXPECT_EQ(0x12345678u, YAR_Ntohl(0x78563412));
}

}  // namespace
