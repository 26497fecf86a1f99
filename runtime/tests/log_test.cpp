#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal/log_service.h"
#include "yar/yar_debug.h"
#include "yar/yar_log.h"

namespace {

// "[date time.ms][INF][FILE:t.c][LINE:7] " is 49 characters.
constexpr int kHeader = 49;

// Each test runs in a fresh directory of its own, so "./yarlog/" is private to it, and leaves
// the log with no output on and open.
class RuntimeLog : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/yarlog_test_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir), 0);
        YAR_SetDebugSink(&Capture, this);
        yar::LogService::GetInstance().SetFileLimitsForTest(yar::LogService::kMaxFileSize);
    }
    void TearDown() override {
        for (int output = 0; output < 3; ++output)
            YAR_Log_DisableOutput(output);
        YAR_Log_Open();
        YAR_SetDebugSink(nullptr, nullptr);
        EXPECT_EQ(chdir(old_), 0);
        std::free(old_);
        EXPECT_EQ(std::system(("rm -rf " + dir_).c_str()), 0);
    }

    static void Capture(const char *text, void *self) {
        auto *test = static_cast<RuntimeLog *>(self);
        std::lock_guard<std::mutex> lock(test->m_);
        test->debug_.push_back(text);
    }
    std::vector<std::string> Debug() {
        std::lock_guard<std::mutex> lock(m_);
        return debug_;
    }
    // Queues a line, waiting while the ring is full.
    static void Print(const std::string &text) {
        int32_t result;
        while ((result = YAR_LogPrint(3, "t.c", 7, "%s", text.c_str())) == -4)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(result, 0);
    }
    static bool Exists(const std::string &name) {
        struct stat st;
        return stat(("yarlog/" + name).c_str(), &st) == 0;
    }
    static off_t Size(const std::string &name) {
        struct stat st;
        return stat(("yarlog/" + name).c_str(), &st) == 0 ? st.st_size : -1;
    }

    // A text of `length` characters that no other number gives.
    static std::string NumberedText(int number, size_t length) {
        std::string text = std::to_string(number) + " ";
        text.resize(length, static_cast<char>('a' + number % 26));
        return text;
    }
    // The texts of every line in the files, in file-number order; each line must carry the
    // header that Print gives it.
    static std::vector<std::string> FileTexts() {
        std::string all;
        for (int n = 1;; ++n) {
            const std::string base = "yarlog/yar_log_" + std::to_string(n);
            std::ifstream done(base + ".log", std::ios::binary), working(base + "_w.log", std::ios::binary);
            std::ifstream &in = done ? done : working;
            if (!in)
                break;
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        // "[date time.ms]" is 25 characters; the rest of the header is fixed.
        const std::string tail = "][INF][FILE:t.c][LINE:7] ";
        const size_t header_length = kHeader;
        std::vector<std::string> texts;
        for (size_t pos = 0; pos < all.size();) {
            size_t end = all.find("\r\n", pos);
            if (end == std::string::npos || end - pos < header_length || all[pos] != '[' ||
                all.compare(pos + 24, tail.size(), tail) != 0) {
                texts.push_back("malformed: " + all.substr(pos, 80));
                break;
            }
            texts.push_back(all.substr(pos + header_length, end - pos - header_length));
            pos = end + 2;
        }
        return texts;
    }

    // Names the first line that differs, rather than printing megabytes of text.
    static void ExpectTexts(const std::vector<std::string> &got, const std::vector<std::string> &want) {
        EXPECT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size() && i < want.size(); ++i)
            if (got[i] != want[i]) {
                ADD_FAILURE() << "line " << i << " is \"" << got[i].substr(0, 60) << "...\", wanted \""
                              << want[i].substr(0, 60) << "...\"";
                return;
            }
    }

    std::string dir_;
    char *old_ = nullptr;
    std::mutex m_;
    std::vector<std::string> debug_;
};

}  // namespace

TEST_F(RuntimeLog, ResultsWithoutAWriter) {
    EXPECT_EQ(YAR_LogPrint(3, "t.c", 1, "no output"), -5);
    EXPECT_FALSE(yar::LogService::GetInstance().IsStarted());
    EXPECT_EQ(YAR_Log_EnableOutput(3), -6);
    EXPECT_EQ(YAR_Log_DisableOutput(-1), -6);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    EXPECT_EQ(YAR_LogPrint(3, "t.c", 1, nullptr), -6);
    EXPECT_EQ(YAR_LogPrint(3, nullptr, 1, "x"), -6);
    EXPECT_EQ(YAR_LogPrint(4, "t.c", 1, "x"), -3);
    EXPECT_EQ(YAR_LogPrint(-1, "t.c", 1, "x"), -6);
    EXPECT_FALSE(yar::LogService::GetInstance().IsStarted());
    EXPECT_EQ(YAR_Log_Close(), 0);
    EXPECT_EQ(YAR_LogPrint(3, "t.c", 1, "closed"), -2);
    EXPECT_EQ(YAR_Log_Open(), 0);
    EXPECT_EQ(YAR_LogPrint(3, "t.c", 1, "open again"), 0);
}

TEST_F(RuntimeLog, LineFormatOnTheConsoleAndTheDebuggerOutput) {
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_CONSOLE), 0);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(YAR_LogPrint(3, "src/sub\\name.cpp", 42, "hello %d", 7), 0);
    EXPECT_EQ(YAR_LogPrint(1, "e.c", 1, "bad"), 0);
    EXPECT_EQ(YAR_LogPrint(2, "/abs/d.c", 2, "%s", ""), 0);
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_CONSOLE);  // after the lines queued so far
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_DEBUGGER);
    const std::string console = testing::internal::GetCapturedStdout();
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";
    const std::vector<std::string> expected = {
        stamp + R"(\[INF\]\[FILE:name\.cpp\]\[LINE:42\] hello 7\r\n)",
        stamp + R"(\[ERR\]\[FILE:e\.c\]\[LINE:1\] bad\r\n)",
        stamp + R"(\[DBG\]\[FILE:d\.c\]\[LINE:2\] \r\n)",
    };
    const std::vector<std::string> debug = Debug();
    ASSERT_EQ(debug.size(), expected.size());
    std::string all;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(std::regex_match(debug[i], std::regex(expected[i]))) << debug[i];
        all += expected[i];
    }
    EXPECT_TRUE(std::regex_match(console, std::regex(all))) << console;
}

TEST_F(RuntimeLog, LinesUpTo2047Bytes) {
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    struct Case { int textLength; int32_t result; };
    const Case cases[] = {
        {2045 - kHeader, 0},   // with CR LF and the zero: 2048 bytes
        {2046 - kHeader, -6},  // CR LF would reach 2048
        {2047 - kHeader, -7},  // the text itself does not fit
    };
    for (const Case &c : cases)
        EXPECT_EQ(YAR_LogPrint(3, "t.c", 7, "%s", std::string(c.textLength, 'x').c_str()), c.result)
            << c.textLength;
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_DEBUGGER);
    ASSERT_EQ(Debug().size(), 1u);
    EXPECT_EQ(Debug()[0].size(), 2047u);
}

TEST_F(RuntimeLog, FilesRotateAt2MiB) {
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_FILE), 0);
    const int line = kHeader + 1900 + 2;
    const int perFile = yar::LogService::kMaxFileSize / line;
    std::vector<std::string> texts;
    for (int i = 0; i < perFile + 10; ++i) {
        texts.push_back(NumberedText(i, 1900));
        Print(texts.back());
    }
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
    EXPECT_EQ(Size("yar_log_1.log"), off_t{perFile} * line);
    EXPECT_EQ(Size("yar_log_2_w.log"), off_t{10} * line);  // a stop does not rename
    EXPECT_FALSE(Exists("yar_log_1_w.log"));
    // File output on again: the working file left by the stop is continued.
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_FILE), 0);
    texts.push_back(NumberedText(perFile + 10, 1900));
    Print(texts.back());
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
    EXPECT_EQ(Size("yar_log_2_w.log"), off_t{11} * line);
    ExpectTexts(FileTexts(), texts);
}

// The writer is slowed at the debugger output while the producer keeps the ring full, so the
// space of the line being written is wanted at once: that line must still reach the file whole.
TEST_F(RuntimeLog, ALineBeingWrittenIsNeverOverwritten) {
    YAR_SetDebugSink([](const char *, void *) { std::this_thread::sleep_for(std::chrono::microseconds(200)); },
                     nullptr);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_FILE), 0);
    // About 1100 lines fill the ring; the rest each wait for the space of one written line.
    std::vector<std::string> texts;
    for (int i = 0; i < 1500; ++i) {
        texts.push_back(NumberedText(i, 1900));
        int32_t result;
        while ((result = YAR_LogPrint(3, "t.c", 7, "%s", texts.back().c_str())) == -4)
            std::this_thread::yield();
        ASSERT_EQ(result, 0);
    }
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_DEBUGGER);
    ExpectTexts(FileTexts(), texts);
}

TEST_F(RuntimeLog, FileNumbersWrapAfter100OnlyInWrapMode) {
    struct Case { bool wrap; std::vector<std::string> present, absent; };
    const Case cases[] = {
        {true, {"yar_log_1_w.log", "yar_log_2.log", "yar_log_100.log"},
         {"yar_log_1.log", "yar_log_101_w.log", "yar_log_101.log"}},
        {false, {"yar_log_1.log", "yar_log_100.log", "yar_log_101_w.log"},
         {"yar_log_1_w.log", "yar_log_101.log"}},
    };
    yar::LogService &log = yar::LogService::GetInstance();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wrap);
        ASSERT_EQ(std::system("rm -rf yarlog"), 0);
        log.SetFileLimitsForTest(2 * (kHeader + 40 + 2));  // two lines per file
        if (c.wrap)
            log.SetFileOutput(true, true);
        else
            ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_FILE), 0);
        for (int i = 0; i < 2 * 101; ++i)
            Print(std::string(40, 'n'));
        YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
        for (const std::string &name : c.present)
            EXPECT_TRUE(Exists(name)) << name;
        for (const std::string &name : c.absent)
            EXPECT_FALSE(Exists(name)) << name;
    }
}

TEST_F(RuntimeLog, AFileThatCannotBeOpenedIsReportedPerLine) {
    std::ofstream("yarlog") << "a file where the directory should be";
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_FILE), 0);
    ASSERT_EQ(YAR_Log_EnableOutput(YAR_LOG_OUTPUT_DEBUGGER), 0);
    Print("one");
    Print("two");
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_DEBUGGER);
    int failures = 0, lines = 0;
    for (const std::string &text : Debug()) {
        failures += text == "LogService OpenFile[./yarlog/yar_log_1_w.log] failed\n";
        lines += text.find("[LINE:7]") != std::string::npos;
    }

    EXPECT_EQ(failures, 2);
    EXPECT_EQ(lines, 2);  // still on the other output
}

TEST(RuntimeLogDir, NormalizeDir) {
    struct Case { const char *in; const char *out; };
    const Case cases[] = {
        {"a\\b\\c", "a/b/c/"}, {"a/b/", "a/b/"}, {"x", "x/"}, {"\\", "/"}, {"", ""},
    };
    for (const Case &c : cases) {
        char path[32];
        std::snprintf(path, sizeof path, "%s", c.in);
        YAR_Log_NormalizeDir(path);
        EXPECT_STREQ(path, c.out) << c.in;
    }
    YAR_Log_NormalizeDir(nullptr);
}
