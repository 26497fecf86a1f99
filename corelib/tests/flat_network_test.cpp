// Flat forwarders of the local addresses, time-outs and flags, the splitting sends over a real
// socket pair, and the data dumps.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/MorvaNetwork.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class FlatNetwork : public servicetest::InitedTest {};

TEST(FlatNetworkNotInit, ControllerValuesNeedInit) {
    ASSERT_EQ(0, GetCoreGlobalCtrl()->IsInited());
    char text[256];
    DWORD dwValue = 0;
    int iCount = 0, iBind = 0;
    struct Case {
        const char *pName;
        int iResult, iExpected;
    } cases[] = {
        {"Morva_SetValidIP", Morva_SetValidIP(0, 0), 0},
        {"Morva_GetLocalIPv4List", Morva_GetLocalIPv4List(text, &iCount, &iBind), 0},
        {"Morva_GetLocalIPv4Str", Morva_GetLocalIPv4Str(text), -1},
        {"Morva_SetConnectTimeOut", Morva_SetConnectTimeOut(1000, 0), 0},
        {"Morva_GetNagleFlag", Morva_GetNagleFlag(&dwValue), 0},
        {"Morva_GetNagleMode", Morva_GetNagleMode(), 6},
        {"Morva_IsAsyncIO", int(Morva_IsAsyncIO()), 0},
    };
    for (const Case &c : cases) EXPECT_EQ(c.iExpected, c.iResult) << c.pName;
    EXPECT_EQ(MORVA_ERR_NOT_INIT, GetCoreGlobalCtrl()->GetLastError());
}

TEST_F(FlatNetwork, TimeOutsFlagsAndAddresses) {
    ASSERT_EQ(1, Morva_SetConnectTimeOut(100, 2));
    DWORD dwTimeOut = 0;
    int iSecond = 0;
    ASSERT_EQ(1, Morva_GetConnectTimeOut(&dwTimeOut, &iSecond));
    EXPECT_EQ(300u, dwTimeOut) << "clamped to 300..75000";
    ASSERT_EQ(1, Morva_SetDefaultRecvTimeOut(10));
    EXPECT_EQ(1000u, Morva_GetDefaultRecvTimeOut());

    EXPECT_EQ(6, Morva_GetNagleMode());
    ASSERT_EQ(1, Morva_SetNagleFlag(1));
    EXPECT_EQ(18, Morva_GetNagleMode());
    DWORD dwFlag = 0;
    ASSERT_EQ(1, Morva_GetNagleFlag(&dwFlag));
    EXPECT_EQ(1u, dwFlag);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(0, Morva_SetNagleFlag(2));
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());

    char list[256];
    int iCount = -1, iBind = -1;
    ASSERT_EQ(1, Morva_GetLocalIPv4List(list, &iCount, &iBind));
    EXPECT_GE(iCount, 0);
    EXPECT_LE(iCount, 16);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(0, Morva_GetLocalIPv4List(nullptr, &iCount, &iBind));
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());
    BYTE list6[256];
    EXPECT_EQ(1, Morva_GetLocalIPv6List(list6, &iCount, nullptr));
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(0, Morva_SetValidIP(16, 1)) << "entries run from 0 to 15";
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(0, Morva_SetLocalIPv6(99, 1));
    EXPECT_EQ(0u, Morva_IsBindLocalIP());
}

TEST_F(FlatNetwork, SplittingSendsDeliverEverything) {
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    std::string data(3000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        while (received.size() < 2 * data.size()) {
            const ssize_t n = read(fds[1], buf, sizeof(buf));
            if (n <= 0) break;
            received.append(buf, size_t(n));
        }
    });
    EXPECT_EQ(3000, Morva_SplittingSendWithTimeout(fds[0], data.data(), 3000, 5000));
    EXPECT_EQ(3000, Morva_SplittingSend(fds[0], data.data(), 3000));
    reader.join();
    EXPECT_EQ(data + data, received);

    EXPECT_EQ(-1, Morva_SplittingSendWithTimeout(-1, data.data(), 10, 1000));
    EXPECT_EQ(-1, Morva_SplittingSendWithTimeout(fds[0], nullptr, 10, 1000));
    EXPECT_EQ(-1, Morva_SplittingSend(fds[0], data.data(), 0));
    close(fds[1]);
    close(fds[0]);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(-1, Morva_SplittingSendWithTimeout(fds[0], data.data(), 10, 1000)) << "a closed descriptor";
    EXPECT_EQ(MORVA_ERR_SEND, GetCoreGlobalCtrl()->GetLastError());
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(-1, Morva_SplittingSend(fds[0], data.data(), 10));
    EXPECT_EQ(MORVA_ERR_SEND, GetCoreGlobalCtrl()->GetLastError());
}

TEST_F(FlatNetwork, DumpsWriteDebugLines) {
    servicetest::LogCapture log;
    const BYTE bytes[] = {0x0A, 0xFF, 0x10};
    EXPECT_EQ(1, Morva_DumpDataByHex(bytes, 3));
    EXPECT_EQ(0, Morva_DumpDataByHex(nullptr, 3));
    std::vector<BYTE> many(300, 0xAB);
    EXPECT_EQ(1, Morva_DumpDataByHex(many.data(), 300));
    const auto hexLines = log.Matching("Morva_DumpDataByHex[");
    ASSERT_EQ(2u, hexLines.size());
    EXPECT_NE(std::string::npos, hexLines[0].find("[3][3][0A FF 10 ]"));
    EXPECT_NE(std::string::npos, hexLines[1].find("[300][128]["));

    const std::string text(1200, 't');
    EXPECT_EQ(0, Morva_DumpDataByString(9, text.data(), int(text.size())));
    EXPECT_TRUE(log.Matching("Morva_DumpDataByString[").empty()) << "category 9 is not enabled";
    ASSERT_EQ(1, GetCoreGlobalCtrl()->EnableDebugCategory(9));
    EXPECT_EQ(0, Morva_DumpDataByString(9, text.data(), int(text.size())));
    const auto textLines = log.Matching("Morva_DumpDataByString[");
    ASSERT_EQ(3u, textLines.size());
    EXPECT_NE(std::string::npos, textLines[2].find("[1200][200][" + std::string(200, 't') + "]"));
}

}  // namespace
