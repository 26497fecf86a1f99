// The adapter table over interfaces made by the test: which adapters count, the accessors, at
// most ten entries, and how address changes are told apart from losses.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "module/adapter/AdapterInfo.h"
#include "sdk_netns_util.h"

using namespace ZEVA;
using zeva::test::Sh;

namespace {

std::string MacOf(const std::string &ifname) {
    std::string out = Sh("cat /sys/class/net/" + ifname + "/address 2>/dev/null || ip link show " + ifname).out;
    size_t at = out.find("link/ether ");
    std::string mac = at == std::string::npos ? out.substr(0, 17) : out.substr(at + 11, 17);
    for (char &c : mac)
        c = c == ':' ? '-' : c;
    return mac;
}

TEST(AdapterTable, OnlyUsableAdaptersCount) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h1", "10.77.1.1/24", peer, "p1", "10.77.1.2/24");
    lab.Veth(host, "h2", "", peer, "p2", "");                   // no IPv4 address
    lab.Ip(host, "tuntap add dev t0 mode tun");                 // no MAC at all
    lab.Up(host, "t0", "10.77.3.1/24");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();

    ADAPTER_TABLE table;
    ASSERT_EQ(1, CAdapterInfo::GetAdapterInfo(&table));
    ASSERT_EQ(1, table.wCount);
    const ADAPTER_ENTRY &e = table.struEntry[0];
    EXPECT_STREQ("10.77.1.1", e.szIPv4);
    EXPECT_STREQ("h1", e.szAdapterName);
    EXPECT_STREQ("h1", e.szDesc);
    std::string mac = MacOf("h1");
    EXPECT_EQ(mac, e.szMAC);
    EXPECT_EQ(0u, e.bNotLan);

    CAdapterInfo *info = CAdapterInfo::GetInstance();
    char text[128];
    ASSERT_EQ(0, info->GetCurAdapterMAC(0, text));
    std::string bare = mac;
    bare.erase(std::remove(bare.begin(), bare.end(), '-'), bare.end());
    EXPECT_EQ(bare, text);
    EXPECT_EQ(-1, info->GetCurAdapterMAC(10, text));
    EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    EXPECT_EQ(-1, info->GetCurAdapterIPv4(0, nullptr));
    CAdapterInfo::DestroyInstance();
}

TEST(AdapterTable, TenEntriesAtMost) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    for (int i = 0; i < 11; ++i) {
        std::string n = std::to_string(i);
        lab.Ip(host, "link add a" + n + " type veth peer name b" + n + " netns " + peer);
        lab.Up(host, "a" + n, "10.78." + n + ".1/24");
    }
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ADAPTER_TABLE table;
    ASSERT_EQ(1, CAdapterInfo::GetAdapterInfo(&table));
    ASSERT_EQ(10, table.wCount);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ("10.78." + std::to_string(i) + ".1", table.struEntry[i].szIPv4);
}

TEST(AdapterTable, ChangesAreSwapsAndNewAddressesNotLosses) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h1", "10.77.1.1/24", peer, "p1", "10.77.1.2/24");
    lab.Veth(host, "h2", "10.77.2.1/24", peer, "p2", "10.77.2.2/24");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    CAdapterInfo *info = CAdapterInfo::GetInstance();
    ASSERT_EQ(2, info->GetAdapterNum());
    EXPECT_EQ(0, info->IsAdapterChanged(1, 0));

    auto readIPv4 = [&](int i) {
        char ip[16] = {};
        info->GetCurAdapterIPv4(i, ip);
        return std::string(ip);
    };
    // The two adapters swap their addresses: the order of the addresses changed.
    lab.Ip(host, "addr flush dev h1");
    lab.Ip(host, "addr flush dev h2");
    lab.AddAddr(host, "h1", "10.77.2.1/24");
    lab.AddAddr(host, "h2", "10.77.1.1/24");
    EXPECT_EQ(1, info->IsAdapterChanged(1, 0));
    EXPECT_EQ("10.77.2.1", readIPv4(0));
    EXPECT_EQ("10.77.1.1", readIPv4(1));
    // One adapter loses its address: fewer entries, the rest unchanged, is no change.
    lab.Ip(host, "addr flush dev h2");
    EXPECT_EQ(0, info->IsAdapterChanged(1, 0));
    EXPECT_EQ(2, info->GetAdapterNum());
    // A new address is a change, and the table is replaced whole.
    lab.Ip(host, "addr flush dev h1");
    lab.AddAddr(host, "h1", "10.77.5.1/24");
    EXPECT_EQ(1, info->IsAdapterChanged(1, 0));
    EXPECT_EQ(1, info->GetAdapterNum());
    EXPECT_EQ("10.77.5.1", readIPv4(0));
    CAdapterInfo::DestroyInstance();
}

}  // namespace
