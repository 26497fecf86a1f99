// Links between two network namespaces of the test joined by a veth pair: the multicast link
// sending to a group a Python receiver joined, receiving what a Python sender sends to the
// group, and a join that fails; a TCP connect whose SYNs an nftables rule drops.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "morva/ComInterfaceMorva.h"
#include "netns/netns_lab.h"

using namespace Vorezi;
using linktest::Peer;

namespace {

constexpr WORD kGroupPort = 47777;

CLinkBase *McastLink(const char *pGroup, int bPool) {
    LINK_CREATE_PARAM p = linktest::MakeParam("10.71.0.2", 0, LINK_TYPE_MCAST);
    p.pSecondIP = pGroup;
    p.wSecondPort = kGroupPort;
    return Link_CreateLinkEx(&p, bPool, nullptr);
}

TEST(LinkMcast, SendsToAndReceivesFromTheGroupAcrossNamespaces) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h0", "10.71.0.1/24", peer, "p0", "10.71.0.2/24");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ASSERT_EQ(1, Morva_Init());

    for (int bPool : {1, 0}) {
        // The link sends; a receiver joined in the other namespace gets it.
        Peer receiver({"mcast-recv", "239.7.7.7", std::to_string(kGroupPort), "10.71.0.2"}, peer);
        ASSERT_EQ(kGroupPort, receiver.Port());
        CLinkBase *pLink = McastLink("239.7.7.7", bPool);
        ASSERT_NE(nullptr, pLink) << "pool " << bPool;
        ASSERT_EQ(11, Link_SendDataByLink(pLink, "hello-group", 11, 0));
        EXPECT_EQ("DATA hello-group", receiver.ReadLine(5000));

        // A sender in the other namespace; the link receives from the group.
        Peer sender({"mcast-send", "239.7.7.7", std::to_string(kGroupPort), "10.71.0.2", "from-peer"}, peer);
        char buf[64];
        DWORD dwLen = 0;
        // The group loops the link's own datagram back to it first.
        ASSERT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 5000, 1));
        EXPECT_EQ("hello-group", std::string(buf, dwLen));
        ASSERT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 5000, 1));
        EXPECT_EQ("from-peer", std::string(buf, dwLen));
        Link_DestroyLink(pLink);
    }

    // Not a group address: the join fails and the link is closed.
    Vorezi::GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(nullptr, McastLink("10.71.0.9", 0));
    EXPECT_EQ(70, Vorezi::GetCoreGlobalCtrl()->GetLastError());
    Morva_Fini();
}

TEST(LinkConnect, DroppedSynsTimeOutAfterTheConnectTimeOut) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h0", "10.72.0.1/24", peer, "p0", "10.72.0.2/24");
    ASSERT_EQ(0, lab.Exec(peer, "nft add table inet zt && nft add chain inet zt in '{ type filter hook input priority 0; }' "
                                "&& nft add rule inet zt in tcp dport 4711 drop")
                     .status);
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ASSERT_EQ(1, Morva_Init());
    LINK_CREATE_PARAM p = linktest::MakeParam("10.72.0.2", 4711);
    p.dwConnectTimeout = 400;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(7, Vorezi::GetCoreGlobalCtrl()->GetLastError());
    EXPECT_GE(ms.count(), 380);
    EXPECT_LT(ms.count(), 3000);
    // Without the rule the port is closed: refused at once.
    p.wServerPort = 4712;
    const auto start2 = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start2, std::chrono::milliseconds(300));
    Morva_Fini();
}

}  // namespace
