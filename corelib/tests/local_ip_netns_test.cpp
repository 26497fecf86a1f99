// Local address tables read from the adapters of a network namespace made for the test: more
// addresses than a table holds, addresses removed between two readings, a quick re-Init, and
// the pinned address with its MAC.
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/ComInterfaceMorva.h"
#include "netns/netns_lab.h"
#include "yar/yar_time.h"

using namespace Vorezi;

namespace {

DWORD HostOrder(const char *pText) {
    in_addr a{};
    inet_pton(AF_INET, pText, &a);
    return ntohl(a.s_addr);
}

int IPv4Count() {
    char buf[256];
    int n = -1, bind = -1;
    EXPECT_EQ(Ctrl()->GetLocalIPv4List(buf, &n, &bind), 0);
    return n;
}

int Reread() {
    EXPECT_EQ(Ctrl()->LocalIPLock(), 1);
    int iResult = Ctrl()->UpdateLocalIP();
    Ctrl()->LocalIPUnlock();
    return iResult;
}

TEST(LocalIPTables, MoreAddressesThanTheTablesHoldAndRemovedOnes) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h0", "10.61.0.1/16", peer, "p0", "10.61.255.1/16");
    // 140 further addresses of each family: the tables hold 128.
    lab.Exec(host, "for i in $(seq 2 141); do ip addr add 10.61.0.$i/16 dev h0; "
                   "ip addr add fd61::$(printf %x $i)/64 dev h0 nodad; done");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();

    // The library reads the adapters between these two instants.
    const int64_t llBeforeRead = YAR_TimeNow();
    ASSERT_EQ(Morva_Init(), 1);
    const int64_t llAfterRead = YAR_TimeNow();
    char buf[256];
    int n = 0, bind = -1;
    ASSERT_EQ(Ctrl()->GetLocalIPv4List(buf, &n, &bind), 0);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(bind, 0);
    EXPECT_STREQ(buf, "10.61.0.1");
    EXPECT_STREQ(buf + 15 * 16, "10.61.0.16");
    // Entries 0..127 are the first 128 addresses; the rest found no room.
    EXPECT_EQ(Ctrl()->SelectLocalIP(nullptr, HostOrder("10.61.0.128"), 0), 1);
    EXPECT_EQ(Ctrl()->SelectLocalIP(nullptr, HostOrder("10.61.0.129"), 0), 0);
    EXPECT_EQ(Ctrl()->SelectLocalIP(nullptr, 0x7F000001, 0), 1);  // loopback selects entry 0
    ASSERT_EQ(Ctrl()->GetLocalIPv6List(reinterpret_cast<BYTE *>(buf), &n, &bind), 0);
    EXPECT_EQ(n, 16);

    // Pinning: only the first 16 entries, and only valid ones.
    EXPECT_EQ(Morva_SetLastError(0), 1);
    EXPECT_EQ(Ctrl()->SetDefaultIPv4Index(16, 1), -1);
    EXPECT_EQ(Morva_GetLastError(), 17);
    ASSERT_EQ(Ctrl()->SetDefaultIPv4Index(3, 1), 0);
    char szIP[16];
    ASSERT_EQ(Ctrl()->GetLocalIPv4Str(szIP), 0);
    EXPECT_STREQ(szIP, "10.61.0.4");
    EXPECT_EQ(Ctrl()->IsBindLocalIP(), 1u);
    BYTE mac[6] = {0};
    EXPECT_EQ(Ctrl()->GetMacAddr(mac, nullptr, HostOrder("10.61.0.9"), 0), 1);
    ASSERT_EQ(Ctrl()->GetLocalIPv4Str(szIP), 0);
    EXPECT_STREQ(szIP, "10.61.0.4");  // pinned: the lookup does not move the selection
    char szMac[32];
    std::snprintf(szMac, sizeof(szMac), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    EXPECT_EQ(lab.Exec(host, "cat /sys/class/net/h0/address").out, std::string(szMac) + "\n");

    // Addresses removed between two readings: within 4 s nothing is read again, a rebuild then
    // forgets every vanished address, also those behind the last entry it writes.
    lab.Exec(host, "for i in $(seq 2 141); do echo addr del 10.61.0.$i/16 dev h0; done | ip -batch -");
    const int64_t llCheckStart = YAR_TimeNow();
    EXPECT_EQ(Ctrl()->CheckUpdateLocalIP(), 0);
    const int64_t llCheckEnd = YAR_TimeNow();
    // On a loaded machine the 4 s may be over already; then the check has read the tables again.
    const int64_t kWindowUs = 4000000;
    if (llCheckEnd - llBeforeRead < kWindowUs) {
        EXPECT_EQ(IPv4Count(), 16);
    } else if (llCheckStart - llAfterRead >= kWindowUs) {
        EXPECT_EQ(IPv4Count(), 1);
    }
    ASSERT_EQ(Reread(), 0);
    EXPECT_EQ(IPv4Count(), 1);
    EXPECT_EQ(Ctrl()->SelectLocalIP(nullptr, HostOrder("10.61.0.100"), 0), 0);
    EXPECT_EQ(Ctrl()->SelectLocalIP(nullptr, HostOrder("10.61.0.1"), 0), 1);

    // A new Init right after the last Fini reads the adapters at once.
    ASSERT_EQ(Morva_Fini(), 1);
    EXPECT_EQ(Ctrl()->IsBindLocalIP(), 0u);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(IPv4Count(), 1);
    ASSERT_EQ(Morva_Fini(), 1);
}

TEST(LocalIPTables, OnlyLoopbackGivesNoUsableAddress) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("lonely");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ASSERT_EQ(Morva_Init(), 1);  // no address is not a failure of the library
    EXPECT_EQ(IPv4Count(), 0);
    Morva_SetLastError(0);
    EXPECT_EQ(Reread(), -1);
    EXPECT_EQ(Morva_GetLastError(), 53);
    ASSERT_EQ(Morva_Fini(), 1);
}

}  // namespace
