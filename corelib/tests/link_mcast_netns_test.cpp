// The multicast link between two network namespaces of the test joined by a veth pair: sending
// to a group a Python receiver joined, receiving what a Python sender sends to the group, and a
// join that fails.
#include <gtest/gtest.h>

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

}  // namespace
