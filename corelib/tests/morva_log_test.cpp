// The log functions of the flat interface through to the files on disk: the SDK's call of
// Morva_SetLogFile, the positional writer's limit, the banner, the debug categories, the callback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "log_test_util.h"
#include "morva/ComInterfaceMorva.h"

using namespace Vorezi;
using logtest::ScratchDir;

namespace {

class MorvaLog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Morva_Init(), 1); }
    void TearDown() override { Morva_Fini(); }

    // Everything the global log wrote into the directory, files in name order.
    std::string AllText() {
        GetCoreGlobalCtrl()->GetLogService()->WaitDrained();
        std::string all;
        for (const std::string &name : m_Dir.List())
            all += logtest::ReadFile(m_Dir / name);
        return all;
    }
    ScratchDir m_Dir;
};

TEST_F(MorvaLog, SetLogFileWritesLinesToFiles) {
    EXPECT_EQ(Morva_SetLogFile(4, m_Dir.Path().c_str(), 1), 0);
    EXPECT_EQ(Morva_GetLastError(), 17);
    ASSERT_EQ(Morva_SetLogFile(3, m_Dir.Path().c_str(), 1), 1);
    EXPECT_EQ(Morva_LogPrintPos(3, "sdk.cpp", 42, "device %s found, %d ports", "cam-1", 2), 1);
    EXPECT_EQ(Morva_LogPrint(1, "plain %d", 7), 1);
    Morva_DebugPrint(6, "hidden %d", 1);
    ASSERT_EQ(Morva_EnableDebugCategory(6), 1);
    Morva_DebugPrint(6, "shown %d", 2);
    EXPECT_EQ(Morva_LogPrintText(2, "x.cpp", 1, "raw text line"), 1);

    const std::string big(1100, 'z');
    EXPECT_EQ(Morva_LogPrintPos(3, "sdk.cpp", 43, "%s", big.c_str()), -1);

    std::string text = AllText();
    ASSERT_FALSE(m_Dir.List().empty());
    EXPECT_NE(text.find("][INF] device cam-1 found, 2 ports\r\n"), std::string::npos);
    EXPECT_EQ(text.find("sdk.cpp"), std::string::npos);  // position is not written
    EXPECT_NE(text.find("][ERR] plain 7\r\n"), std::string::npos);
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_NE(text.find("][DBG] shown 2\r\n"), std::string::npos);
    EXPECT_NE(text.find("][DBG] raw text line"), std::string::npos);
    EXPECT_EQ(text.find("zzzz"), std::string::npos);
    EXPECT_NE(text.find("Morva: MemInfo, UseMemPool[1]"), std::string::npos);  // file-opened banner
}

TEST_F(MorvaLog, LevelZeroSwitchesTheFileOff) {
    ASSERT_EQ(Morva_SetLogFile(3, m_Dir.Path().c_str(), 0), 1);
    Morva_LogPrint(3, "before");
    ASSERT_EQ(Morva_SetLogFile(0, m_Dir.Path().c_str(), 0), 1);
    Morva_LogPrint(1, "after");
    std::string text = AllText();
    EXPECT_NE(text.find("before"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos);
}

TEST_F(MorvaLog, LogLevelBannerAndCallback) {
    EXPECT_EQ(Morva_SetLogLevel(3, m_Dir.Path().c_str(), 5), 0);
    EXPECT_EQ(Morva_GetLastError(), 17);
    ASSERT_EQ(Morva_SetLogLevel(3, m_Dir.Path().c_str(), 1), 1);
    EXPECT_NE(AllText().find("KWMorva version is 1.1.0.12, 2023_08_11. Async:1."), std::string::npos);

    static std::vector<std::string> s_Lines;
    s_Lines.clear();
    ASSERT_EQ(Morva_SetLogCallBack(
                  3, [](MORVA_LOG_RECORD *p, void *) { s_Lines.emplace_back(p->pText, p->dwLength); }, nullptr),
              1);
    Morva_LogPrint(2, "to the callback");
    GetCoreGlobalCtrl()->GetLogService()->WaitDrained();
    bool bSeen = false;
    for (const std::string &s : s_Lines)
        bSeen = bSeen || s.find("to the callback") != std::string::npos;
    EXPECT_TRUE(bSeen);
    EXPECT_EQ(Morva_SetLogCallBack(0, nullptr, nullptr), 1);
}

TEST(MorvaLogOutside, ConfigurationNeedsInit) {
    EXPECT_EQ(Morva_SetLogFile(3, "/tmp", 1), 0);
    EXPECT_EQ(Morva_GetLastError(), 3);
    EXPECT_EQ(Morva_GetLogLevel(), -1);
    EXPECT_EQ(Morva_CreateLog(), nullptr);
    char sz[32] = {0};
    EXPECT_EQ(Morva_GetDefaultLogDir(sz, sizeof(sz)), 1);
    EXPECT_STREQ(sz, "./sdklog/");
    EXPECT_EQ(Morva_LogPrint(3, "dropped"), 0);
}

}  // namespace
