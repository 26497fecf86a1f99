// Log lines byte for byte: prefix, CR LF, the length rule of every entry point, level routing
// to the file and the user callback, raw lines and the parameter banner.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "log_test_util.h"
#include "morva/ComInterfaceMorva.h"
#include "yar/yar_debug.h"

using namespace Vorezi;
using logtest::ReadFile;

namespace {

constexpr char kFirstFile[] = "SdkLog_20240305_140709042_w.log";

struct Captured {
    std::string text;
    DWORD dwLength;
    DWORD dwLevel;
    bool bReservedZero;
    bool bTerminated;
};
std::vector<Captured> g_Records;

void Capture(LOG_CALLBACK_RECORD *pRec, void *pUser) {
    *static_cast<int *>(pUser) += 1;
    bool bZero = true;
    for (BYTE b : pRec->byRes)
        bZero = bZero && b == 0;
    g_Records.push_back({pRec->pText, pRec->dwLength, pRec->dwLevel, bZero, pRec->pText[pRec->dwLength] == '\0'});
}

class LogFormat : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
        logtest::UseFixedClock();
        g_Records.clear();
        m_pLog = LogModule_Create();
        ASSERT_NE(m_pLog, nullptr);
    }
    void TearDown() override {
        LogModule_Destroy(m_pLog);
        GetCoreGlobalCtrl()->Fini();
        LogClock_Set(nullptr);
    }
    // File output of the instance at a level, in NoCover mode, with an index above the default.
    void OpenFile(CLogService *pLog, int iLevel) {
        ASSERT_EQ(LogModule_SetLogFile(pLog, iLevel, m_Dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    }
    std::string FileText(CLogService *pLog) {
        pLog->WaitDrained();
        return ReadFile(m_Dir / kFirstFile);
    }

    logtest::ScratchDir m_Dir;
    CLogService *m_pLog = nullptr;
};

TEST_F(LogFormat, PrefixLevelNamesAndEnding) {
    OpenFile(m_pLog, LOG_LEVEL_INF);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "first"), 1);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_DBG, "second"), 1);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "third"), 1);
    EXPECT_EQ(FileText(m_pLog),
              "[2024-03-05 14:07:09.042][ERR] first\r\n"
              "[2024-03-05 14:07:09.042][DBG] second\r\n"
              "[2024-03-05 14:07:09.042][INF] third\r\n");

    char szPrefix[64];
    EXPECT_EQ(LogModule_FormatPrefix(szPrefix, sizeof(szPrefix), LOG_LEVEL_INF), 31);
    EXPECT_STREQ(szPrefix, "[2024-03-05 14:07:09.042][INF] ");

    LogClock_Set(logtest::BrokenClock);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "x"), 1);
    std::string text = FileText(m_pLog);
    EXPECT_TRUE(logtest::EndsWith(text, "[LocalTime out of range][ERR] x\r\n")) << text;
}

TEST_F(LogFormat, FileLevelFilters) {
    OpenFile(m_pLog, LOG_LEVEL_ERR);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "dropped"), 0);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_DBG, "dropped"), 0);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "kept"), 1);
    EXPECT_EQ(FileText(m_pLog), "[2024-03-05 14:07:09.042][ERR] kept\r\n");
    EXPECT_EQ(LogModule_GetLogLevel(m_pLog), LOG_LEVEL_ERR);
    EXPECT_EQ(LogModule_GetLogLevel(nullptr), -6);
}

TEST_F(LogFormat, LineOf1022BytesIsTheLongest) {
    OpenFile(m_pLog, LOG_LEVEL_INF);
    const std::string fits(1022 - 31, 'a');
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, fits.c_str()), 1);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, (fits + "b").c_str()), 0);
    std::string text = FileText(m_pLog);
    ASSERT_EQ(text.size(), 1024u);
    EXPECT_EQ(text.substr(1022), "\r\n");
    EXPECT_EQ(text.substr(31, fits.size()), fits);
}

TEST_F(LogFormat, EntryPointLengthRules) {
    CLogService *pGlobal = GetCoreGlobalCtrl()->GetLogService();
    ASSERT_NE(pGlobal, nullptr);
    // The callback stays registered until Fini, which still logs: the count must outlive the test.
    static int iCalls;
    iCalls = 0;
    ASSERT_EQ(LogModule_SetLogCallBack(pGlobal, LOG_LEVEL_INF, Capture, &iCalls), 1);

    const std::string m991(991, 'w'), m992(992, 'w'), m1021(1021, 'w'), m1022(1022, 'w');
    // Positional writer: more than 1021 formatted bytes is refused with -7.
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_INF, "f.cpp", 1, "%s", m1022.c_str()), -7);
    // At most 1021 bytes pass to the engine, which writes only lines of at most 1022 bytes.
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_INF, "f.cpp", 1, "%s", m1021.c_str()), 0);
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_INF, "f.cpp", 1, "%s", m992.c_str()), 0);
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_INF, "f.cpp", 1, "%s", m991.c_str()), 1);
    // The level writer follows the same rule.
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_INF, "%s", m1022.c_str()), -7);
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_INF, "%s", m992.c_str()), 0);
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_INF, "%s-%d", "short", 7), 1);
    pGlobal->WaitDrained();

    ASSERT_EQ(g_Records.size(), 2u);
    EXPECT_EQ(g_Records[0].dwLength, 1023u);  // the callback copy is cut to 1023 bytes
    EXPECT_EQ(g_Records[0].text, "[2024-03-05 14:07:09.042][INF] " + m991 + "\r");
    EXPECT_EQ(g_Records[1].text, "[2024-03-05 14:07:09.042][INF] short-7\r\n");
    EXPECT_EQ(g_Records[1].dwLength, g_Records[1].text.size());
    for (const Captured &c : g_Records) {
        EXPECT_EQ(c.dwLevel, (DWORD)LOG_LEVEL_INF);
        EXPECT_TRUE(c.bReservedZero);
        EXPECT_TRUE(c.bTerminated);
    }
    EXPECT_EQ(iCalls, 2);
}

TEST_F(LogFormat, CallbackAndFileThresholdsApart) {
    OpenFile(m_pLog, LOG_LEVEL_ERR);
    int iCalls = 0;
    ASSERT_EQ(LogModule_SetLogCallBack(m_pLog, 4, Capture, &iCalls), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    ASSERT_EQ(LogModule_SetLogCallBack(m_pLog, LOG_LEVEL_INF, Capture, &iCalls), 1);

    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "only the callback"), 1);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "both"), 1);
    EXPECT_EQ(FileText(m_pLog), "[2024-03-05 14:07:09.042][ERR] both\r\n");
    ASSERT_EQ(g_Records.size(), 2u);
    EXPECT_EQ(g_Records[0].text, "[2024-03-05 14:07:09.042][INF] only the callback\r\n");
    EXPECT_EQ(g_Records[0].dwLevel, (DWORD)LOG_LEVEL_INF);
    EXPECT_EQ(g_Records[1].dwLevel, (DWORD)LOG_LEVEL_ERR);
}

TEST_F(LogFormat, RawLinesAndBanner) {
    OpenFile(m_pLog, LOG_LEVEL_INF);
    LogModule_WriteText(m_pLog, "no prefix, no ending");
    m_pLog->PrintLogParam();
    std::string text = FileText(m_pLog);
    // minizip is installed: NoCover with zipping keeps 50 log files before it zips.
    EXPECT_EQ(text,
              "no prefix, no ending"
              "LogParam, UseCfgFile[0], LogMod=NoCover(AutoDel=FALSE), LogIndex[1], LogLevel[3], ZipFine[1], "
              "MaxLogFileReserved[50], LogCallBack[0x0], LogCallbackLevel[0]\r\n");

    // The global log's raw writer appends CR LF to texts of 2 to 1021 bytes and cuts at 1022.
    CLogService *pGlobal = GetCoreGlobalCtrl()->GetLogService();
    logtest::ScratchDir globalDir;
    ASSERT_EQ(LogModule_SetLogFile(pGlobal, LOG_LEVEL_INF, globalDir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    ASSERT_EQ(pGlobal->WriteLog(LOG_LEVEL_INF, "opens the file"), 1);
    pGlobal->WaitDrained();
    const std::string before = ReadFile(globalDir / kFirstFile);
    LogModule_WriteRaw("a");
    LogModule_WriteRaw("ab");
    LogModule_WriteRaw("%s", std::string(1021, 'c').c_str());
    LogModule_WriteRaw("%s", std::string(1022, 'd').c_str());
    LogModule_WriteRaw("%s", std::string(1500, 'e').c_str());
    const std::string after = ReadFile(globalDir / kFirstFile).substr(before.size());
    EXPECT_EQ(after, "a" + std::string("ab\r\n") + std::string(1021, 'c') + "\r\n" + std::string(1022, 'd') +
                         std::string(1022, 'e'));
    // Every file of the global log begins with the library information.
    EXPECT_EQ(before.rfind("LogParam, UseCfgFile[0], LogMod=NoCover(AutoDel=FALSE), LogIndex[1]", 0), 0u) << before;
    EXPECT_NE(before.find("Morva: ThreadInfo, ENUM_MORVA_THREADPOOL_DEFAULT, dwMaxCount[128]\r\n"),
              std::string::npos);
    EXPECT_NE(before.find("[2024-03-05 14:07:09.042][INF] opens the file\r\n"), std::string::npos);
}

// A line of a level no output takes is not formatted: even a text too long for any writer gives
// 0, not the length error, while the same call at a taken level still reports it.
TEST_F(LogFormat, LevelCheckedBeforeFormatting) {
    CLogService *pGlobal = GetCoreGlobalCtrl()->GetLogService();
    ASSERT_NE(pGlobal, nullptr);
    static int iCalls;
    iCalls = 0;
    ASSERT_EQ(LogModule_SetLogCallBack(pGlobal, LOG_LEVEL_ERR, Capture, &iCalls), 1);
    const std::string big(1500, 'z');
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_INF, "%s", big.c_str()), 0);
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_DBG, "f.cpp", 1, "%s", big.c_str()), 0);
    EXPECT_EQ(Morva_LogPrintPos(LOG_LEVEL_INF, "f.cpp", 1, "%s", big.c_str()), 0);
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_ERR, "%s", big.c_str()), -7);
    EXPECT_EQ(Morva_LogPrintPos(LOG_LEVEL_ERR, "f.cpp", 1, "%s", big.c_str()), -1);
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_ERR, "kept %d", 1), 1);
    EXPECT_EQ(Morva_LogPrint(LOG_LEVEL_INF, "dropped"), 0);
    pGlobal->WaitDrained();
    ASSERT_EQ(g_Records.size(), 1u);
    EXPECT_EQ(g_Records[0].text, "[2024-03-05 14:07:09.042][ERR] kept 1\r\n");
}

TEST_F(LogFormat, ExternalOutputCallbackBypassesTheQueue) {
    static std::vector<std::string> s_Seen;
    s_Seen.clear();
    GetCoreGlobalCtrl()->SetOutputLogCallBack([](int iLevel, const char *pFile, int iLine, const char *pText) {
        s_Seen.push_back(std::to_string(iLevel) + "|" + pFile + "|" + std::to_string(iLine) + "|" + pText);
    });
    EXPECT_EQ(LogModule_WriteWithPos(LOG_LEVEL_DBG, "a.cpp", 12, "v=%d", 5), 0);
    EXPECT_EQ(LogModule_Write(LOG_LEVEL_ERR, "plain"), 0);
    GetCoreGlobalCtrl()->SetOutputLogCallBack(nullptr);
    ASSERT_EQ(s_Seen.size(), 2u);
    EXPECT_EQ(s_Seen[0], "2|a.cpp|12|v=5");
    EXPECT_EQ(s_Seen[1], "1|..\\..\\src\\Module\\Log\\LogModule|2987|plain");
}

TEST_F(LogFormat, DebugLinesOnlyForEnabledCategories) {
    CLogService *pGlobal = GetCoreGlobalCtrl()->GetLogService();
    static int iCalls;
    iCalls = 0;
    LogModule_SetLogCallBack(pGlobal, LOG_LEVEL_INF, Capture, &iCalls);
    EXPECT_EQ(LogModule_WriteDebug(6, "off %d", 1), 0);
    GetCoreGlobalCtrl()->EnableDebugCategory(6);
    EXPECT_EQ(LogModule_WriteDebug(6, "on %d", 2), 1);
    pGlobal->WaitDrained();
    ASSERT_EQ(g_Records.size(), 1u);
    EXPECT_EQ(g_Records[0].text, "[2024-03-05 14:07:09.042][DBG] on 2\r\n");
}

TEST_F(LogFormat, ConsoleAndDebuggerOutputsWithTheHeadText) {
    static std::string s_Debug;
    s_Debug.clear();
    YAR_DEBUG_SINK prev = YAR_SetDebugSink([](const char *pText, void *) { s_Debug += pText; }, nullptr);
    // Standard output goes to a file for the duration of the test.
    fflush(stdout);
    int iSaved = dup(STDOUT_FILENO);
    const std::string captured = m_Dir / "stdout.txt";
    int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    dup2(fd, STDOUT_FILENO);
    close(fd);

    LogModule_SetHeadText(m_pLog, "HEAD\r\n");
    LogModule_SetLogLevel(m_pLog, LOG_LEVEL_DBG);
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_CONSOLE, nullptr, 0, 0), 1);
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_DEBUGGER, nullptr, 0, 0), 1);
    EXPECT_EQ(LogModule_EnableOutput(m_pLog, 3, nullptr, 0, 0), 0);
    m_pLog->WriteLog(LOG_LEVEL_ERR, "one");
    m_pLog->WriteLog(LOG_LEVEL_INF, "filtered");
    m_pLog->WriteLog(LOG_LEVEL_DBG, "two");
    m_pLog->WaitDrained();

    fflush(stdout);
    dup2(iSaved, STDOUT_FILENO);
    close(iSaved);
    YAR_SetDebugSink(prev, nullptr);
    EXPECT_EQ(ReadFile(captured),
              "HEAD\r\n[2024-03-05 14:07:09.042][ERR] one\r\n[2024-03-05 14:07:09.042][DBG] two\r\n");
    EXPECT_EQ(s_Debug, "HEAD\n[2024-03-05 14:07:09.042][ERR] one\n[2024-03-05 14:07:09.042][DBG] two\n");

    // With the last output gone the instance stops and accepts nothing.
    EXPECT_EQ(LogModule_DisableOutput(m_pLog, LOG_OUTPUT_CONSOLE), 1);
    EXPECT_EQ(LogModule_DisableOutput(m_pLog, LOG_OUTPUT_DEBUGGER), 1);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "nowhere"), 0);
    EXPECT_EQ(LogModule_GetLogLevel(m_pLog), 0);
}

TEST(LogDefaultDir, TerminatedAndBounded) {
    char szBuf[32];
    std::memset(szBuf, 'x', sizeof(szBuf));
    EXPECT_EQ(LogModule_GetDefaultDir(szBuf, sizeof(szBuf)), 1);
    EXPECT_STREQ(szBuf, "./sdklog/");
    EXPECT_EQ(LogModule_GetDefaultDir(szBuf, 9), 0);
    EXPECT_EQ(LogModule_GetDefaultDir(szBuf, 10), 1);
}

}  // namespace
