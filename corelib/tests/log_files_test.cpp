// Log files: names, rotation at the size limit, the retention rule in Cover and NoCover mode,
// zip archives checked with unzip, the directory scan of earlier runs and the override.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "Module/Log/LogZip.h"
#include "log_test_util.h"

using namespace Vorezi;
using logtest::EndsWith;
using logtest::ReadFile;
using logtest::ScratchDir;

namespace {

// The texts of the lines without their time prefix (the stepping clock moves it).
std::string Bodies(const std::string &text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        size_t body = text.find("] ", pos);
        out += text.substr(body + 2 < end ? body + 2 : pos, end - (body + 2 < end ? body + 2 : pos));
        pos = end;
    }
    return out;
}

class LogFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
        logtest::UseFixedClock();
        m_pLog = LogModule_Create();
        ASSERT_NE(m_pLog, nullptr);
        LogModule_SetLogLevel(m_pLog, LOG_LEVEL_INF);
    }
    void TearDown() override {
        LogModule_Destroy(m_pLog);
        SetReserved(0);
        CLogZip::SetLibraryName(nullptr);
        GetCoreGlobalCtrl()->Fini();
        LogClock_Set(nullptr);
    }
    static void SetReserved(WORD wCount) {
        MORVA_LOG_CALLBACK_CFG cfg{};
        cfg.wLogFileReserved = wCount;
        GetCoreGlobalCtrl()->SetLogCallBackCfg(&cfg);
    }
    // Writes numbered lines, letting the writer catch up so that none is dropped.
    std::string WriteLines(int iCount, size_t textLen) {
        std::string all;
        for (int i = 0; i < iCount; i++) {
            std::string text = "line " + std::to_string(m_iNext++) + " ";
            text.resize(textLen, 'x');
            EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, text.c_str()), 1);
            all += "[2024-03-05 14:07:09.042][INF] " + text + "\r\n";
            if (i % 1000 == 999)
                m_pLog->WaitDrained();
        }
        m_pLog->WaitDrained();
        EXPECT_EQ(m_pLog->GetDroppedLines(), 0u);
        return all;
    }
    // Writes files of 4 KiB one by one; after each, the lines of all log files in name order
    // must run in the order written, up to the last one.
    void WriteFilesInNameOrder(int iFiles) {
        for (int iFile = 0; iFile < iFiles; iFile++) {
            WriteLines(32, 95);
            int iLast = INT_MIN;
            for (const std::string &name : Logs()) {
                std::string text = ReadFile(m_Dir / name);
                for (size_t pos = text.find("] line "); pos != std::string::npos; pos = text.find("] line ", pos + 1)) {
                    int iLine = std::atoi(text.c_str() + pos + 7);
                    ASSERT_GT(iLine, iLast) << name << " after " << iFile << " files";
                    iLast = iLine;
                }
            }
            ASSERT_EQ(iLast, m_iNext - 1);
        }
    }
    std::vector<std::string> Logs() const { return Matching(".log"); }
    std::vector<std::string> Zips() const { return Matching(".zip"); }
    std::vector<std::string> Matching(const char *pExt) const {
        std::vector<std::string> out;
        for (const std::string &n : m_Dir.List())
            if (EndsWith(n, pExt))
                out.push_back(n);
        return out;
    }
    std::string Concat(const std::vector<std::string> &names) const {
        std::string all;
        for (const std::string &n : names)
            all += ReadFile(m_Dir / n);
        return all;
    }

    ScratchDir m_Dir;
    CLogService *m_pLog = nullptr;
    int m_iNext = 0;
};

TEST_F(LogFiles, RotatesAtTwoMebibytesAtALineEnd) {
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, m_Dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    const std::string all = WriteLines(9000, 269);  // 300-byte lines, about 2.6 MiB
    std::vector<std::string> names = Logs();
    ASSERT_EQ(names.size(), 2u);
    // The finished file lost its "_w"; the next one opened one millisecond on.
    EXPECT_EQ(names[0], "SdkLog_20240305_140709042.log");
    EXPECT_EQ(names[1], "SdkLog_20240305_140709043_w.log");
    const std::string first = ReadFile(m_Dir / names[0]);
    EXPECT_LE(first.size(), 0x200000u);
    EXPECT_GT(first.size() + 300, 0x200000u);  // the next line would not have fitted
    EXPECT_EQ(first.back(), '\n');
    EXPECT_EQ(first + ReadFile(m_Dir / names[1]), all);
}

TEST_F(LogFiles, CoverWithoutZipKeepsTheNewestTen) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 4096, LOG_MODE_COVER), 1);
    logtest::g_iClockStepMs = 1;
    const std::string all = WriteLines(14 * 32, 95);  // 32 lines of 128 bytes per 4 KiB file
    std::vector<std::string> names = Logs();
    EXPECT_EQ(names.size(), 10u);
    EXPECT_TRUE(Zips().empty());
    // What is left is the tail of everything written, in order.
    const std::string kept = Bodies(Concat(names)), written = Bodies(all);
    ASSERT_LE(kept.size(), written.size());
    EXPECT_EQ(written.substr(written.size() - kept.size()), kept);

    // A configured count replaces the ten.
    SetReserved(3);
    WriteLines(64, 95);
    EXPECT_EQ(Logs().size(), 3u);
}

// Fast rotation runs the names ahead of a clock that stands still, and retention frees the
// oldest names again: a later file must still sort after every earlier one, and the name of an
// earlier run's archive is never taken.
TEST_F(LogFiles, NamesKeepOpeningOrderThroughFastRotationAndRetention) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    SetReserved(2);
    const std::string archive = "SdkLog_20240305_140709042.zip";
    logtest::WriteFile(m_Dir / archive, "zip");
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 4096, LOG_MODE_COVER), 1);
    WriteFilesInNameOrder(2000);
    EXPECT_EQ(ReadFile(m_Dir / archive), "zip");
    EXPECT_EQ(Logs().size(), 2u);
}

// The core library makes its log service again at every start: the next service on the same
// directory names its files after the last one's, although the clock still stands where it began.
TEST_F(LogFiles, NamesKeepOpeningOrderAcrossServicesOfTheProcess) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    SetReserved(2);
    for (int iService = 0; iService < 3; iService++) {
        SCOPED_TRACE(iService);
        if (iService > 0) {
            LogModule_Destroy(m_pLog);
            m_pLog = LogModule_Create();
            ASSERT_NE(m_pLog, nullptr);
            LogModule_SetLogLevel(m_pLog, LOG_LEVEL_INF);
        }
        ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 4096, LOG_MODE_COVER), 1);
        WriteFilesInNameOrder(50);
    }
}

// An earlier run whose names ran ahead of the clock left its newest files behind, the older ones
// gone to retention: the new files sort after them, so retention takes the earlier run's first.
TEST_F(LogFiles, NamesFollowAnEarlierRunThatRanAheadOfTheClock) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    SetReserved(2);
    logtest::WriteFile(m_Dir / "SdkLog_20240305_140709090.log", "[2024-03-05 14:07:09.042][INF] line -2\r\n");
    logtest::WriteFile(m_Dir / "SdkLog_20240305_140709091_w.log", "[2024-03-05 14:07:09.042][INF] line -1\r\n");
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 4096, LOG_MODE_COVER), 1);
    WriteFilesInNameOrder(10);
    EXPECT_EQ(Logs(), (std::vector<std::string>{"SdkLog_20240305_140709100.log", "SdkLog_20240305_140709101_w.log"}));
}

// A run of 1000 names already taken, there before the service starts or made while it writes (as
// another process would): no such file is opened again, and the new files sort after them.
TEST_F(LogFiles, TakenNamesAreNeverTruncated) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    const char *kTails[] = {"_w.log", ".log", ".zip"};
    for (bool bWhileWriting : {false, true}) {
        SCOPED_TRACE(bWhileWriting ? "made while the service writes" : "there before the service starts");
        ScratchDir dir;
        auto taken = [&](int i) {
            char szName[64];
            std::snprintf(szName, sizeof(szName), "SdkLog_20240305_1407%02d%03d%s", 9 + (43 + i) / 1000,
                          (43 + i) % 1000, kTails[i % 3]);
            return std::string(szName);
        };
        auto makeTaken = [&] {
            for (int i = 0; i < 1000; i++)
                logtest::WriteFile(dir / taken(i), "taken " + std::to_string(i));
        };
        if (!bWhileWriting)
            makeTaken();
        ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, dir.Path().c_str(), 4096, LOG_MODE_NOCOVER), 1);
        WriteLines(1, 95);  // the first file, named at the clock's time
        if (bWhileWriting)
            makeTaken();
        WriteLines(3 * 32, 95);  // three rotations
        for (int i = 0; i < 1000; i++)
            ASSERT_EQ(ReadFile(dir / taken(i)), "taken " + std::to_string(i)) << taken(i);
        // Four new files: the first one, named before the taken run when it was made later.
        std::vector<std::string> names = dir.List();
        ASSERT_EQ(names.size(), 1004u);
        std::vector<std::string> fresh(names.begin() + (bWhileWriting ? 1001 : 1000), names.end());
        EXPECT_EQ(fresh.front(), "SdkLog_20240305_140710043.log");
        EXPECT_EQ(fresh.back(), bWhileWriting ? "SdkLog_20240305_140710045_w.log" : "SdkLog_20240305_140710046_w.log");
        if (bWhileWriting) {
            EXPECT_EQ(names.front(), "SdkLog_20240305_140709042.log");
        }
        ASSERT_EQ(LogModule_DisableOutput(m_pLog, LOG_OUTPUT_FILE), 1);
    }
}

TEST_F(LogFiles, NoCoverWithoutZipDeletesNothing) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 4096, LOG_MODE_NOCOVER), 1);
    logtest::g_iClockStepMs = 1;
    const std::string all = WriteLines(14 * 32, 95);
    EXPECT_EQ(Logs().size(), 14u);
    EXPECT_EQ(Bodies(Concat(Logs())), Bodies(all));
}

TEST_F(LogFiles, CoverWithZipPacksFiftyFilesIntoOneArchive) {
    ASSERT_TRUE(CLogZip::IsAvailable());
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 1024, LOG_MODE_COVER), 1);
    logtest::g_iClockStepMs = 1;
    const std::string all = WriteLines(51 * 8, 95);  // eight lines per 1 KiB file: 51 files
    std::vector<std::string> logs = Logs(), zips = Zips();
    ASSERT_EQ(zips.size(), 1u);
    ASSERT_EQ(logs.size(), 1u);

    const std::string zip = m_Dir / zips[0];
    EXPECT_EQ(ScratchDir::Run("unzip -tq '" + zip + "' >/dev/null"), 0);
    // Fifty deflated entries without directories, holding the first fifty files in order.
    const std::string listing = m_Dir / "listing.txt";
    ASSERT_EQ(ScratchDir::Run("zipinfo -1 '" + zip + "' > '" + listing + "'"), 0);
    std::string entries = ReadFile(listing);
    EXPECT_EQ((int)std::count(entries.begin(), entries.end(), '\n'), 50);
    // Named after the oldest file in it.
    EXPECT_EQ(entries.substr(0, entries.find(".log\n")) + ".zip", zips[0]) << entries;
    EXPECT_EQ(entries.find('/'), std::string::npos);
    const std::string unpacked = m_Dir / "unpacked.txt";
    ASSERT_EQ(ScratchDir::Run("unzip -p '" + zip + "' > '" + unpacked + "'"), 0);
    std::remove(listing.c_str());
    EXPECT_EQ(Bodies(ReadFile(unpacked) + ReadFile(m_Dir / logs[0])), Bodies(all));
    std::remove(unpacked.c_str());
}

TEST_F(LogFiles, NoCoverWithZipArchivesButDeletesNothing) {
    ASSERT_TRUE(CLogZip::IsAvailable());
    std::string old;
    for (int i = 0; i < 3; i++) {
        const std::string line = "[2023-01-01 00:00:00.000][INF] old " + std::to_string(i) + "\r\n";
        logtest::WriteFile(m_Dir / ("SdkLog_20230101_00000" + std::to_string(i) + "000.log"), line);
        old += line;
    }
    ASSERT_EQ(LogModule_EnableOutput(m_pLog, LOG_OUTPUT_FILE, m_Dir.Path().c_str(), 1024, LOG_MODE_NOCOVER), 1);
    logtest::g_iClockStepMs = 1;
    const std::string all = WriteLines(48 * 8, 95);  // with the three old ones, 51 files
    std::vector<std::string> zips = Zips();
    ASSERT_EQ(zips.size(), 1u);
    EXPECT_EQ(zips[0], "SdkLog_20230101_000000000.zip");
    const std::string unpacked = m_Dir / "unpacked.txt";
    ASSERT_EQ(ScratchDir::Run("unzip -p '" + (m_Dir / zips[0]) + "' > '" + unpacked + "'"), 0);
    std::string kept = ReadFile(unpacked);
    std::remove(unpacked.c_str());
    kept += Concat(Logs());
    EXPECT_EQ(Bodies(kept), Bodies(old + all));
}

TEST_F(LogFiles, CoverKeepsTheConfiguredNumberOfZips) {
    ASSERT_TRUE(CLogZip::IsAvailable());
    SetReserved(2);
    for (int i = 0; i < 4; i++)
        logtest::WriteFile(m_Dir / ("SdkLog_20230101_00000" + std::to_string(i) + "000.zip"), "zip");
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, m_Dir.Path().c_str(), LOG_MODE_COVER, 2), 1);
    EXPECT_EQ(Zips(), (std::vector<std::string>{"SdkLog_20230101_000002000.zip", "SdkLog_20230101_000003000.zip"}));
}

TEST_F(LogFiles, ScanOfEarlierRunsAppliesRetention) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    for (int i = 0; i < 11; i++) {
        char szName[64];
        std::snprintf(szName, sizeof(szName), "SdkLog_20240101_0000%02d000.log", i);
        logtest::WriteFile(m_Dir / szName, "old\n");
    }
    logtest::WriteFile(m_Dir / "SdkLog_20240101_000099000_w.log", "left open\n");  // an unfinished file
    logtest::WriteFile(m_Dir / "other.log", "foreign\n");
    logtest::WriteFile(m_Dir / "SdkLog_notes.txt", "foreign\n");
    logtest::WriteFile(m_Dir / "SdkLog_a_name_that_is_far_too_long_to_count.log", "foreign\n");

    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, m_Dir.Path().c_str(), LOG_MODE_COVER, 2), 1);
    std::vector<std::string> names = m_Dir.List();
    // The twelve own files (the unfinished one included) went down to ten, oldest first.
    EXPECT_EQ(std::count(names.begin(), names.end(), "SdkLog_20240101_000000000.log"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "SdkLog_20240101_000001000.log"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "SdkLog_20240101_000002000.log"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "SdkLog_20240101_000099000_w.log"), 1);
    EXPECT_EQ(names.size(), 13u);
}

TEST_F(LogFiles, LongPrefixFilesAreStillRecognised) {
    CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
    LogModule_SetPrefix(m_pLog, "GatewayService_");  // 15 characters
    for (int i = 0; i < 12; i++) {
        char szName[96];
        std::snprintf(szName, sizeof(szName), "GatewayService_20240101_0000%02d000_w.log", i);
        logtest::WriteFile(m_Dir / szName, "old\n");
    }
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, m_Dir.Path().c_str(), LOG_MODE_COVER, 2), 1);
    EXPECT_EQ(m_Dir.List().size(), 10u);

    LogModule_SetPrefix(m_pLog, std::string(30, 'p').c_str());  // too long: ignored
    WriteLines(1, 10);
    std::vector<std::string> names = m_Dir.List();
    EXPECT_EQ(std::count(names.begin(), names.end(), "GatewayService_20240305_140709042_w.log"), 1);
}

TEST_F(LogFiles, DirectoryIsNormalisedAndCreated) {
    const std::string given = m_Dir.Path() + "a\\b";
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, given.c_str(), LOG_MODE_NOCOVER, 2), 1);
    EXPECT_EQ(std::string(LogModule_GetLogDir(m_pLog)), m_Dir.Path() + "a/b/");
    WriteLines(1, 10);
    EXPECT_EQ(ReadFile(m_Dir.Path() + "a/b/SdkLog_20240305_140709042_w.log").size(), 43u);

    EXPECT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, std::string(201, 'd').c_str(), LOG_MODE_NOCOVER, 2), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(LogModule_SetLogFile(m_pLog, 4, m_Dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
}

TEST_F(LogFiles, ConfigurationIndexAndOverride) {
    ScratchDir other;
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_ERR, m_Dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    // A lower index changes nothing.
    EXPECT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, other.Path().c_str(), LOG_MODE_NOCOVER, 1), 1);
    EXPECT_EQ(std::string(LogModule_GetLogDir(m_pLog)), m_Dir.Path());

    // The override holds the log until it is lifted; ordinary configuration is refused meanwhile.
    ASSERT_EQ(LogModule_SetLogParam(m_pLog, 1, LOG_LEVEL_INF, other.Path().c_str(), LOG_MODE_NOCOVER), 1);
    EXPECT_EQ(LogModule_IsUseCfgFile(m_pLog), 1);
    EXPECT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_ERR, m_Dir.Path().c_str(), LOG_MODE_NOCOVER, 3), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_LOG_CFG_FILE);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "to the override"), 1);
    m_pLog->WaitDrained();
    EXPECT_EQ(other.List().size(), 1u);

    ASSERT_EQ(LogModule_SetLogParam(m_pLog, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(LogModule_IsUseCfgFile(m_pLog), 0);
    EXPECT_EQ(std::string(LogModule_GetLogDir(m_pLog)), m_Dir.Path());
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "filtered again"), 0);
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_ERR, "back home"), 1);
    m_pLog->WaitDrained();
    std::vector<std::string> names = m_Dir.List();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(ReadFile(m_Dir / names[0]), "[2024-03-05 14:07:09.042][ERR] back home\r\n");
}

TEST(LogFilesNoZlib, FilesStayUnzippedWithoutZlib) {
    ScratchDir dir;
    // Neither the configured path nor its bare name can be loaded.
    GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "/nonexistent/libmorva-no-zlib.so.1");
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    logtest::UseFixedClock(1);
    CLogService *pLog = LogModule_Create();
    ASSERT_NE(pLog, nullptr);
    LogModule_SetLogLevel(pLog, LOG_LEVEL_INF);
    ASSERT_EQ(LogModule_EnableOutput(pLog, LOG_OUTPUT_FILE, dir.Path().c_str(), 1024, LOG_MODE_COVER), 1);
    const std::string text(95, 'n');
    for (int i = 0; i < 60 * 8; i++) {
        ASSERT_EQ(pLog->WriteLog(LOG_LEVEL_INF, text.c_str()), 1);
        if (i % 256 == 255)
            pLog->WaitDrained();
    }
    pLog->WaitDrained();
    std::vector<std::string> names = dir.List();
    EXPECT_EQ(names.size(), 10u);  // Cover without zipping: the newest ten, no archive
    for (const std::string &n : names)
        EXPECT_TRUE(EndsWith(n, ".log")) << n;
    LogModule_Destroy(pLog);
    GetCoreGlobalCtrl()->Fini();
    LogClock_Set(nullptr);
}

// A file-size limit makes writes fail with EFBIG, as a full disk gives ENOSPC: the data of a
// rotation that cannot go into the old file is dropped, that file closed, and the next write
// opens a new one.
TEST(LogFilesDiskFull, RotationDropsWhatCannotBeWritten) {
    ScratchDir dir;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {3500, 3500};
        setrlimit(RLIMIT_FSIZE, &lim);
        CLogZip::SetLibraryName("libmorva-no-such-minizip.so.1");
        int iFailed = 0;
        {
            CLogService log;
            log.EnableOutput(LOG_OUTPUT_FILE, dir.Path().c_str(), 4096, LOG_MODE_NOCOVER);
            const std::string line = std::string(98, 'd') + "\r\n";
            for (int i = 0; i < 30; i++)
                iFailed |= log.WriteRawText(line.c_str(), (int)line.size()) != 1;  // 3000 bytes
            std::string burst;
            for (int i = 0; i < 20; i++)
                burst += line;
            // 1000 bytes of it belong in the old file, which takes only 500 more.
            iFailed |= (log.WriteRawText(burst.c_str(), (int)burst.size()) != 0) << 1;
            iFailed |= (dir.List().size() != 1) << 2;
            iFailed |= (log.WriteRawText(line.c_str(), (int)line.size()) != 1) << 3;
            iFailed |= (dir.List().size() != 2) << 4;
        }
        _exit(iFailed);
    }
    int iStatus = 0;
    ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(iStatus));
    EXPECT_EQ(WEXITSTATUS(iStatus), 0);
    std::vector<std::string> names = dir.List();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(ReadFile(dir / names[1]).size(), 100u);
}

}  // namespace
