// Configuration of the global controller: init configuration before Init only, the local
// configuration records with their checks, the single values with their clamps, and every value
// back at its default after the last Fini.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/ComInterfaceMorva.h"
#include "yar/yar_addr.h"

using namespace Vorezi;

namespace {

class CtrlConfig : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Morva_Init(), 1); }
    void TearDown() override { Morva_Fini(); }
};

TEST_F(CtrlConfig, InitConfigOnlyBeforeInit) {
    DWORD dwMqtt = 5;
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_ABILITY, &dwMqtt), 0);
    EXPECT_EQ(Ctrl()->GetAbilityCfg().dwMaxMqttConnection, 20480u);
    ASSERT_EQ(Morva_Fini(), 1);

    dwMqtt = 0;
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_ABILITY, &dwMqtt), 1);
    EXPECT_EQ(Ctrl()->GetAbilityCfg().dwMaxMqttConnection, 20480u);
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_ABILITY, nullptr), 0);
    EXPECT_EQ(Morva_SetInitConfig(9, &dwMqtt), 0);
    DWORD dwCounts[5] = {0, 3, 0, 0, 7};
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_THREADPOOL, dwCounts), 1);
    EXPECT_EQ(Ctrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_DEFAULT).dwMaxCount, 128u);
    EXPECT_EQ(Ctrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_MSGCB).dwMaxCount, 3u);
    EXPECT_EQ(Ctrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_ASYNCIO).dwMaxCount, 7u);
    // Pool parameters only grow, and only before the pools exist.
    EXPECT_EQ(Ctrl()->SetMemPoolParam(0, 16, 128, 10), 1);
    MORVA_MEMPOOL_RECORD rec = Ctrl()->GetDefaultMemPoolRecord(0);
    EXPECT_EQ(rec.dwMaxMemberSize, 32u);
    EXPECT_EQ(rec.dwOnceAllocCount, 128u);
    EXPECT_EQ(rec.dwMaxAllocCount, 0x14000u);
    EXPECT_EQ(Ctrl()->SetMemPoolParam(27, 16, 16, 16), 0);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(Ctrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_ASYNCIO).dwMaxCount, 7u);
    EXPECT_EQ(Ctrl()->SetMemPoolParam(0, 64, 16, 16), 0);
}

TEST_F(CtrlConfig, SingleValuesAndTheirClamps) {
    DWORD dwMs = 0;
    int iSecond = 0;
    Ctrl()->GetConnectTimeOut(&dwMs, &iSecond);
    EXPECT_EQ(dwMs, 3500u);
    EXPECT_EQ(iSecond, 3);
    struct {
        DWORD dwIn, dwStored;
    } cases[] = {{100, 300}, {300, 300}, {4000, 4000}, {75000, 75000}, {100000, 75000}};
    for (auto c : cases) {
        EXPECT_EQ(Ctrl()->SetConnectTimeOut(c.dwIn, 9), 1);
        Ctrl()->GetConnectTimeOut(&dwMs, nullptr);
        EXPECT_EQ(dwMs, c.dwStored);
    }
    DWORD dwCustom = 1;
    ASSERT_EQ(Morva_SetSDKLocalCfg(22, &dwCustom), 1);
    EXPECT_EQ(Ctrl()->SetConnectTimeOut(1000, 0), 0);
    EXPECT_EQ(Morva_GetLastError(), 186);

    EXPECT_EQ(Ctrl()->GetDefaultRecvTimeOut(), 5000u);
    Ctrl()->SetDefaultRecvTimeOut(10);
    EXPECT_EQ(Ctrl()->GetDefaultRecvTimeOut(), 1000u);
    EXPECT_EQ(Ctrl()->GetNagleMode(), 6);
    Ctrl()->SetNagleFlag(1);
    EXPECT_EQ(Ctrl()->GetNagleMode(), 18);
    EXPECT_EQ(Ctrl()->GetNagleFlag(nullptr), 0);
    EXPECT_EQ(Ctrl()->IsAsyncIO(), 1u);
    BYTE proxy[MORVA_PROXY_RECORD_LEN];
    EXPECT_EQ(Ctrl()->GetProxyByID(32, proxy), 0);
    EXPECT_EQ(Ctrl()->GetProxyByID(-1, proxy), 0);

    ASSERT_EQ(Morva_Fini(), 1);
    ASSERT_EQ(Morva_Init(), 1);
    Ctrl()->GetConnectTimeOut(&dwMs, &iSecond);
    EXPECT_EQ(dwMs, 3500u);
    EXPECT_EQ(iSecond, 3);
    EXPECT_EQ(Ctrl()->GetDefaultRecvTimeOut(), 5000u);
    EXPECT_EQ(Ctrl()->GetNagleMode(), 6);
    EXPECT_EQ(Ctrl()->IsCustomTiming(), 0u);
}

TEST_F(CtrlConfig, PortRangesAndTheirPools) {
    struct {
        WORD wMin, wMax;
        int iResult;
    } cases[] = {{0, 100, 0}, {200, 100, 0}, {0, 0, 1}, {40000, 40010, 1}};
    for (auto c : cases) {
        MORVA_PORT_RANGE_CFG range = {c.wMin, c.wMax};
        Morva_SetLastError(0);
        EXPECT_EQ(Morva_SetSDKLocalCfg(0, &range), c.iResult) << c.wMin << "-" << c.wMax;
        EXPECT_EQ(Morva_GetLastError(), c.iResult ? 0 : 17);
    }
    EXPECT_EQ(Ctrl()->IsTcpPortPool(), 1u);
    MORVA_PORT_RANGE_CFG got = {};
    ASSERT_EQ(Morva_GetSDKLocalCfg(0, &got), 1);
    EXPECT_EQ(got.wMinPort, 40000);
    EXPECT_EQ(got.wMaxPort, 40010);
    MORVA_PORT_RANGE_CFG off = {0, 0};
    EXPECT_EQ(Morva_SetSDKLocalCfg(0, &off), 1);
    EXPECT_EQ(Ctrl()->IsTcpPortPool(), 0u);
    EXPECT_EQ(Ctrl()->GetTcpPort(YAR_AF_INET), 0);  // the pool was emptied

    MORVA_PORT_RANGE_CFG udp = {41000, 41003};
    ASSERT_EQ(Morva_SetSDKLocalCfg(1, &udp), 1);
    DWORD dwOn = 1, dwOff = 0;
    ASSERT_EQ(Morva_SetSDKLocalCfg(21, &dwOn), 1);
    EXPECT_EQ(Ctrl()->IsPortMultiList(), 1u);
    BYTE key[PORT_MULTI_KEY_LEN] = {10, 0, 0, 1};
    EXPECT_EQ(Ctrl()->InsertPortList(1, 41000, key), 1);
    EXPECT_EQ(Ctrl()->GetPortMultiTotalNum(1), 1);
    EXPECT_EQ(Ctrl()->GetPortMultiTotalNum(0), 0);
    ASSERT_EQ(Morva_SetSDKLocalCfg(21, &dwOff), 1);
    EXPECT_EQ(Ctrl()->GetPortMultiTotalNum(1), 0);
    // Switching multiplexing off leaves the UDP pool alone.
    EXPECT_EQ(Ctrl()->IsUdpPortPool(), 1u);
    EXPECT_NE(Ctrl()->GetUdpPort(YAR_AF_INET), 0);

    ASSERT_EQ(Morva_Fini(), 1);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(Ctrl()->IsUdpPortPool(), 0u);
    ASSERT_EQ(Morva_GetSDKLocalCfg(1, &got), 1);
    EXPECT_EQ(got.wMinPort, 0);
}

TEST_F(CtrlConfig, RecordTypesAndNullBuffers) {
    DWORD dw = 0;
    Morva_SetLastError(0);
    EXPECT_EQ(Morva_GetSDKLocalCfg(8, &dw), 1);
    EXPECT_EQ(Morva_GetSDKLocalCfg(9, &dw), 0);
    EXPECT_EQ(Morva_GetLastError(), 17);
    Morva_SetLastError(0);
    EXPECT_EQ(Morva_SetSDKLocalCfg(0, nullptr), 0);
    EXPECT_EQ(Morva_GetLastError(), 17);
    EXPECT_EQ(Morva_GetSDKLocalCfg(0, nullptr), 0);
    EXPECT_EQ(Morva_SetSDKLocalCfg(23, &dw), 0);

    static BYTE table[MORVA_PROXY_TABLE_LEN];
    for (int i = 0; i < MORVA_PROXY_TABLE_LEN; i++)
        table[i] = (BYTE)i;
    ASSERT_EQ(Morva_SetSDKLocalCfg(14, table), 1);
    BYTE proxy[MORVA_PROXY_RECORD_LEN];
    ASSERT_EQ(Ctrl()->GetProxyByID(31, proxy), 1);
    EXPECT_EQ(std::memcmp(proxy, table + 31 * MORVA_PROXY_RECORD_LEN, sizeof(proxy)), 0);

    MORVA_LOG_CALLBACK_CFG logCfg = {};
    logCfg.wLogFileReserved = 12;
    logCfg.byCallBackLevel = 4;  // refused by the log service
    EXPECT_EQ(Morva_SetSDKLocalCfg(15, &logCfg), 0);
    logCfg.byCallBackLevel = 3;
    EXPECT_EQ(Morva_SetSDKLocalCfg(15, &logCfg), 1);
    EXPECT_EQ(Ctrl()->GetLogFileReserved(), 12);

    ASSERT_EQ(Morva_Fini(), 1);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(Ctrl()->GetLogFileReserved(), 0);
    ASSERT_EQ(Ctrl()->GetProxyByID(31, proxy), 1);
    EXPECT_EQ(proxy[5], 0);
}

// The CA directory gets a '/' appended only when it still fits its field with the terminator;
// it is kept even while the TLS library is not loaded, which the result reports.
TEST_F(CtrlConfig, CAPathStaysInsideItsField) {
    struct {
        size_t nLen;
        char cLast;
        bool bStored;
        const char *pSuffix;
    } cases[] = {{10, 'a', true, "a/"}, {10, '/', true, "a/"}, {254, 'a', true, "a/"}, {255, 'a', false, ""},
                 {255, '/', true, "a/"}};
    for (auto c : cases) {
        SCOPED_TRACE(c.nLen);
        MORVA_CA_PATH_CFG in = {};
        std::memset(in.szCAPath, 'a', c.nLen);
        in.szCAPath[c.nLen - 1] = c.cLast;
        in.pUser = &in;
        MORVA_CA_PATH_CFG before = {};
        ASSERT_EQ(Morva_GetSDKLocalCfg(20, &before), 1);
        Morva_SetLastError(0);
        EXPECT_EQ(Morva_SetSDKLocalCfg(20, &in), 0);
        MORVA_CA_PATH_CFG out = {};
        ASSERT_EQ(Morva_GetSDKLocalCfg(20, &out), 1);
        if (!c.bStored) {
            EXPECT_EQ(Morva_GetLastError(), 17);
            EXPECT_EQ(std::memcmp(&out, &before, sizeof(out)), 0);
            continue;
        }
        EXPECT_EQ(Morva_GetLastError(), 162);  // no TLS library loaded to reload into
        std::string path = out.szCAPath;
        EXPECT_EQ(path.size(), c.cLast == '/' ? c.nLen : c.nLen + 1);
        EXPECT_EQ(path.substr(path.size() - 2), c.pSuffix);
        EXPECT_EQ(out.pUser, &in);
    }
    MORVA_CA_PATH_CFG empty = {};
    EXPECT_EQ(Morva_SetSDKLocalCfg(20, &empty), 0);
    MORVA_CA_PATH_CFG out = {};
    ASSERT_EQ(Morva_GetSDKLocalCfg(20, &out), 1);
    EXPECT_EQ(out.szCAPath[0], '\0');
}

TEST(CtrlConfigOutside, LocalConfigurationNeedsInit) {
    DWORD dw = 0;
    EXPECT_EQ(Morva_SetSDKLocalCfg(22, &dw), 0);
    EXPECT_EQ(Morva_GetLastError(), 3);
    EXPECT_EQ(Morva_GetSDKLocalCfg(22, &dw), 0);
}

}  // namespace

namespace {

// The registries hold 16 objects each; the controller's own log is one of them.
TEST_F(CtrlConfig, RegistriesHoldSixteen) {
    static char fakes[32];
    auto *pOwn = Ctrl()->GetLogService();
    ASSERT_NE(pOwn, nullptr);
    EXPECT_EQ(Ctrl()->RegisterLogService(pOwn), -1);  // already there
    int nTaken = 0;
    for (int i = 0; i < 16; i++) {
        if (Ctrl()->RegisterLogService(reinterpret_cast<CLogService *>(&fakes[i])) >= 0)
            nTaken++;
    }
    EXPECT_EQ(nTaken, 15);
    Ctrl()->UnRegisterLogService(reinterpret_cast<CLogService *>(&fakes[3]));
    EXPECT_GE(Ctrl()->RegisterLogService(reinterpret_cast<CLogService *>(&fakes[20])), 0);
    for (int i = 0; i < 21; i++)
        Ctrl()->UnRegisterLogService(reinterpret_cast<CLogService *>(&fakes[i]));

    nTaken = 0;
    for (int i = 0; i < 17; i++) {
        if (Ctrl()->RegisterPerformance(reinterpret_cast<CPerformanceBase *>(&fakes[i])) >= 0)
            nTaken++;
    }
    EXPECT_EQ(nTaken, Ctrl()->GetPerformance() ? 15 : 16);
    for (int i = 0; i < 17; i++)
        Ctrl()->UnRegisterPerformance(reinterpret_cast<CPerformanceBase *>(&fakes[i]));
}

}  // namespace
