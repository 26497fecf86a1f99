// The link factory, the Link_* functions and their Morva_* forwarders, and the port-pool
// forwarders, against loopback listeners of the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "transport/link/LinkSocks5.h"
#include "transport/link/LinkSocks5Server.h"
#include "transport/link/LinkTCPSSL.h"
#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaLink.h"
#include "morva/MorvaNetwork.h"
#include "service_test_util.h"

using namespace Vorezi;
using linktest::Listener;

namespace {

int LastError() { return GetCoreGlobalCtrl()->GetLastError(); }

class LinkFactory : public servicetest::InitedTest {};

TEST_F(LinkFactory, BuiltTypesFromThePoolAndTheHeap) {
    Listener listener;
    for (int bPool : {1, 0}) {
        for (int iType : {LINK_TYPE_TCP, LINK_TYPE_UDP}) {
            LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", listener.Port(), iType);
            CLinkBase *pLink = Link_CreateLinkEx(&p, bPool, nullptr);
            ASSERT_NE(nullptr, pLink) << iType << " pool " << bPool;
            EXPECT_GE(Link_GetSockByLink(pLink), 0);
            Link_DestroyLink(pLink);
        }
    }
}

TEST_F(LinkFactory, TypesWithoutAClassAreRefused) {
    for (int iType : {5, 33, 11, 12, 15}) {
        servicetest::LogCapture log;
        LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", 9, iType);
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(nullptr, Link_CreateLinkEx(&p, 0, nullptr)) << iType;
        EXPECT_EQ(41, LastError()) << iType;
        EXPECT_EQ(1u, log.Matching("Link_CreateLinkEx, Invalid enumLinkType[" + std::to_string(iType) + "], bUseMemPool[0]")
                          .size());
        EXPECT_EQ(1u, log.Matching("Link_CreateLinkEx, new CLink Failed!, enumLinkType[" + std::to_string(iType) + "]")
                          .size());
    }
}

TEST_F(LinkFactory, InterimKindToType) {
    Listener listener;
    LINK_COND cond;
    std::memset(&cond, 0, sizeof(cond));
    const struct {
        int iKind;
        int iType;  // -1: created as TCP
    } cases[] = {{3, -1}, {0, -1}, {11, 11}, {12, 12}, {14, 14}, {15, 15}, {19, 19}};
    for (const auto &c : cases) {
        cond.iKind = c.iKind;
        servicetest::LogCapture log;
        CLinkBase *pLink = Interim_CreateLinkByIPEx("127.0.0.1", listener.Port(), &cond, 7);
        if (c.iType < 0) {
            ASSERT_NE(nullptr, pLink) << c.iKind;
            Link_DestroyLink(pLink);
        } else {
            EXPECT_EQ(nullptr, pLink) << c.iKind;
            EXPECT_EQ(1u, log.Matching("Interim_CreateLinkByIPEx, Link_CreateLinkEx Failed, enumLinkType[" +
                                       std::to_string(c.iType) + "]")
                              .size())
                << c.iKind;
        }
    }
    servicetest::LogCapture log;
    EXPECT_EQ(nullptr, Interim_CreateLinkByIPEx("127.0.0.1", listener.Port(), nullptr, 0));
    EXPECT_EQ(17, LastError());
    EXPECT_EQ(1u, log.Matching("Interim_CreateLinkByIPEx pLinkCond is NULL").size());
}

TEST_F(LinkFactory, MaxLinkSizeIsTheLargestClass) {
    const DWORD dwMax = Link_GetMaxLinkSize();
    EXPECT_GE(dwMax, sizeof(CLinkTCP));
    EXPECT_GE(dwMax, sizeof(CLinkUDP));
    EXPECT_GE(dwMax, sizeof(CLinkMcast));
    EXPECT_EQ(dwMax, std::max({sizeof(CLinkTCP), sizeof(CLinkUDP), sizeof(CLinkMcast), sizeof(CLinkTCPSocks5),
                               sizeof(CLinkTCPSocks5Server), sizeof(CLinkTCPSSL), sizeof(CLinkTCPTLS)}));
}

// Link_CreateLink reads nothing beyond the short record: an idle probe asked for in the
// extension block of the short record is not taken.
TEST_F(LinkFactory, ShortRecordLeavesTheExtensionBlockOut) {
    Listener listener;
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", listener.Port());
    p.ext.byLinkMode = 2;
    p.ext.dwProbeRecvTimeout = 300;
    for (bool bShort : {false, true}) {
        CLinkBase *pLink = bShort ? Link_CreateLink(&p, 0, nullptr) : Link_CreateLinkEx(&p, 0, nullptr);
        ASSERT_NE(nullptr, pLink);
        int peer = listener.Accept();
        const auto start = std::chrono::steady_clock::now();
        Link_DestroyLink(pLink);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (bShort)
            EXPECT_LT(ms.count(), 250) << "no probe from the short record";
        else
            EXPECT_GE(ms.count(), 250) << "the idle probe waits before the close";
        close(peer);
    }
}

TEST_F(LinkFactory, FunctionsOnNullAndOnATcpLink) {
    servicetest::LogCapture log;
    char buf[4];
    DWORD dwLen = 0;
    EXPECT_EQ(-1, Link_GetSockByLink(nullptr));
    EXPECT_EQ(0, Link_RecvData(nullptr, buf, 4, &dwLen, 10, 0));
    EXPECT_EQ(-1, Link_SendDataByLink(nullptr, buf, 4, 10));
    EXPECT_EQ(0, Link_ResetLink(nullptr));
    EXPECT_EQ(0, Link_AdjustRecvTimeOut(nullptr, 10));
    EXPECT_EQ(0, Link_ChangeConnectTypeByLink(nullptr));
    EXPECT_EQ(0, Link_GetLinkParam(nullptr, LINK_PARAM_LOCAL_PORT, nullptr, 0, buf, &dwLen));
    EXPECT_EQ(0, Link_CloseLinkSocket(nullptr));
    Link_DestroyLink(nullptr);
    for (const char *pLine :
         {"Link_GetSockByLink, pLink == NULL", "Link_RecvData Failed, pLink[0x0], dwTimeout[10]",
          "Link_ResetLink Failed, pLink[0x0]", "Link_ChangeConnectTypeByLink, pLink == NULL",
          "Link_CloseLinkSocket, pLink == NULL", "Link_DestroyLink, pLink == NULL"})
        EXPECT_EQ(1u, log.Matching(pLine).size()) << pLine;

    Listener listener;
    CLinkBase *pLink = linktest::Connect("127.0.0.1", listener.Port());
    ASSERT_NE(nullptr, pLink);
    EXPECT_EQ(0, Link_ChangeConnectTypeByLink(pLink));
    EXPECT_EQ(17, LastError());
    EXPECT_EQ(1u, log.Matching("Link_ChangeConnectTypeByLink, Invalid Param, pLink[0x").size());
    EXPECT_EQ(1, Link_ResetLink(pLink)) << "closed and connected again";
    EXPECT_GE(listener.Accept(), 0);
    EXPECT_GE(listener.Accept(), 0);
    Link_DestroyLink(pLink);
    EXPECT_EQ(1u, log.Matching("Link_DestroyLink, SUCC, pLink[0x").size());
}

// ---- Morva_* ----

TEST(MorvaLinkNotInit, FailureValuesAndError3) {
    ASSERT_EQ(0, GetCoreGlobalCtrl()->IsInited());
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", 9);
    char buf[4];
    DWORD dwLen = 0, dwOption[MORVA_RECV_OPTION_WORDS] = {};
    WORD wMin = 0, wMax = 0;
    const struct {
        const char *pName;
        long lResult, lExpected;
    } cases[] = {
        {"Morva_CreateLink", (long)(intptr_t)Morva_CreateLink(&p, 0, nullptr), 0},
        {"Morva_CreateLinkEx", (long)(intptr_t)Morva_CreateLinkEx(&p, 0, nullptr), 0},
        {"Morva_ChangeConnectTypeByLink", Morva_ChangeConnectTypeByLink(nullptr), 0},
        {"Morva_GetLinkParam", Morva_GetLinkParam(nullptr, 0, nullptr, 0, nullptr, nullptr), 0},
        {"Morva_GetSockByLink", Morva_GetSockByLink(nullptr), -1},
        {"Morva_SendDataByLink", Morva_SendDataByLink(nullptr, buf, 4, 0), -1},
        {"Morva_RecvData", Morva_RecvData(nullptr, buf, 4, &dwLen, dwOption), 0},
        {"Morva_RecvByLink", Morva_RecvByLink(nullptr, buf, 4, &dwLen, 1), 0},
        {"Morva_ResetLink", Morva_ResetLink(nullptr), 0},
        {"Morva_CreateTcpPortPoolEx", Morva_CreateTcpPortPoolEx("127.0.0.1", 30000, 30010, 0), -1},
        {"Morva_GetTcpPortEx", Morva_GetTcpPortEx(0), 0},
        {"Morva_DestroyTcpPortPoolEx", Morva_DestroyTcpPortPoolEx(0), 0},
        {"Morva_CreateTcpPortPool", Morva_CreateTcpPortPool(), -1},
        {"Morva_CreateUdpPortPool", Morva_CreateUdpPortPool(), -1},
        {"Morva_ClearTcpPortPool", Morva_ClearTcpPortPool(), 0},
        {"Morva_ClearUdpPortPool", Morva_ClearUdpPortPool(), 0},
        {"Morva_GetTcpPort", Morva_GetTcpPort(2), 0xFFFF},
        {"Morva_GetUdpPort", Morva_GetUdpPort(2), 0xFFFF},
        {"Morva_ReleaseTcpPort", Morva_ReleaseTcpPort(30000), 0},
        {"Morva_ReleaseUdpPort", Morva_ReleaseUdpPort(30000), 0},
        {"Morva_IsTcpPortPool", (long)Morva_IsTcpPortPool(), 0},
        {"Morva_IsUdpPortPool", (long)Morva_IsUdpPortPool(), 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.lExpected, c.lResult) << c.pName;
    Morva_DestroyLink(nullptr);
    Morva_CloseLinkSocket(nullptr);
    Morva_ResuseTcpPortEx(0, 30000);
    Morva_GetTcpPortRange(&wMin, &wMax);
    EXPECT_EQ(3, GetCoreGlobalCtrl()->GetLastError());
}

class MorvaLink : public servicetest::InitedTest {};

TEST_F(MorvaLink, ForwardersReachTheLink) {
    Listener listener;
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", listener.Port());
    MORVA_LINK hLink = Morva_CreateLinkEx(&p, 1, nullptr);
    ASSERT_NE(nullptr, hLink);
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_EQ(3, Morva_SendDataByLink(hLink, "abc", 3, 0));
    EXPECT_EQ("abc", linktest::ReadExactly(peer, 3));
    ASSERT_EQ(6, send(peer, "abcdef", 6, 0));
    char buf[64];
    DWORD dwLen = 0;
    DWORD dwOption[MORVA_RECV_OPTION_WORDS] = {1, 0, 2000};
    ASSERT_EQ(1, Morva_RecvData(hLink, buf, sizeof(buf), &dwLen, dwOption));
    EXPECT_EQ("abcdef", std::string(buf, dwLen)) << "word 0 returns on the first data";
    EXPECT_EQ(0, Morva_RecvData(hLink, buf, sizeof(buf), &dwLen, nullptr));
    EXPECT_EQ(17, LastError());
    ASSERT_EQ(2, send(peer, "xy", 2, 0));
    ASSERT_EQ(1, Morva_RecvByLink(hLink, buf, sizeof(buf), &dwLen, 1));
    EXPECT_EQ("xy", std::string(buf, dwLen));
    EXPECT_EQ(Link_GetSockByLink(reinterpret_cast<CLinkBase *>(hLink)), Morva_GetSockByLink(hLink));
    Morva_CloseLinkSocket(hLink);
    EXPECT_EQ(-1, Morva_GetSockByLink(hLink));
    Morva_DestroyLink(hLink);
    close(peer);
}

TEST_F(MorvaLink, NumberedPortPools) {
    // Above the kernel's ephemeral ports and the link-port tests' ranges.
    const WORD wBase = (WORD)(65000 + (getpid() % 25) * 20);
    std::vector<int> pools;
    for (int i = 0; i < 8; i++) {
        const int n = Morva_CreateTcpPortPoolEx("127.0.0.1", (WORD)(wBase + 2 * i), (WORD)(wBase + 2 * i + 2), 0);
        EXPECT_EQ(i, n);
        pools.push_back(n);
    }
    EXPECT_EQ(-1, Morva_CreateTcpPortPoolEx("127.0.0.1", wBase, (WORD)(wBase + 2), 0)) << "eight pools at most";
    servicetest::LogCapture log;
    EXPECT_EQ(0, Morva_GetTcpPortEx(8));
    EXPECT_EQ(1u, log.Matching("CPortPoolMgr::GetPort, Invalid nPortPool[8]").size());
    const WORD wPort = Morva_GetTcpPortEx(3);
    EXPECT_TRUE(wPort == wBase + 6 || wPort == wBase + 7) << wPort;
    Morva_ResuseTcpPortEx(3, wPort);
    EXPECT_EQ(1, Morva_DestroyTcpPortPoolEx(3));
    EXPECT_EQ(0, Morva_DestroyTcpPortPoolEx(3));
    EXPECT_EQ(0, Morva_DestroyTcpPortPoolEx(8));
    EXPECT_EQ(3, Morva_CreateTcpPortPoolEx("127.0.0.1", wBase, (WORD)(wBase + 2), 0)) << "the freed number";

    // The global pools.
    EXPECT_EQ(0u, Morva_IsTcpPortPool());
    EXPECT_EQ(-1, Morva_CreateTcpPortPool()) << "no range configured";
    Morva_SetTcpPortRange(wBase, (WORD)(wBase + 3));
    WORD wMin = 0, wMax = 0;
    Morva_GetTcpPortRange(&wMin, &wMax);
    EXPECT_EQ(wBase, wMin);
    EXPECT_EQ(wBase + 3, wMax);
    EXPECT_EQ(0, Morva_CreateTcpPortPool());
    const WORD wTaken = Morva_GetTcpPort(2);
    EXPECT_GE(wTaken, wBase);
    EXPECT_LE(wTaken, wBase + 3);
    EXPECT_EQ(1, Morva_ReleaseTcpPort(wTaken));
    EXPECT_EQ(1, Morva_ClearTcpPortPool());
    EXPECT_EQ(0, Morva_GetTcpPort(2)) << "an empty pool";
}

}  // namespace
