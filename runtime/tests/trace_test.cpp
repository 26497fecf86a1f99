#include <cstring>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "internal/trace_registry.h"
#include "yar/yar_trace.h"

namespace {

YAR_TRACE_INFO_T MakeInfo(const std::string &t1, const std::string &t2, const std::string &t3,
                          uint8_t f1 = 0, uint8_t f2 = 0) {
    YAR_TRACE_INFO_T info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.szTrace1, t1.c_str(), sizeof info.szTrace1 - 1);
    std::strncpy(info.szTrace2, t2.c_str(), sizeof info.szTrace2 - 1);
    std::strncpy(info.szTrace3, t3.c_str(), sizeof info.szTrace3 - 1);
    info.byTraceFlag1 = f1;
    info.byTraceFlag2 = f2;
    return info;
}

size_t Entries() {
    return yar::yar_tlsTraceInfoOper::GetInstance().Registry()->EntryCount();
}

bool AllZero(const YAR_TRACE_INFO_T &info) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

class Trace : public ::testing::Test {
protected:
    void TearDown() override { YAR_ClearThreadTraceInfo(); }
};

}  // namespace

TEST_F(Trace, SetThenGetRoundTrips) {
    const std::string longest(64, 'x');
    struct Case { const char *what; YAR_TRACE_INFO_T info; };
    const Case cases[] = {
        {"all three texts and flags", MakeInfo("req-1", "dev-2", "op-3", 7, 0xFF)},
        {"only the second text", MakeInfo("", "dev", "")},
        {"64-character texts", MakeInfo(longest, longest, longest, 1, 2)},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(YAR_SetThreadTraceInfo(&c.info), 0) << c.what;
        YAR_TRACE_INFO_T out;
        std::memset(&out, 0xAA, sizeof out);
        ASSERT_EQ(YAR_GetThreadTraceInfo(&out), 0) << c.what;
        EXPECT_EQ(std::memcmp(&out, &c.info, sizeof out), 0) << c.what;
    }
}

TEST_F(Trace, RefusesRecordsWithoutTheFirstTwoTexts) {
    const YAR_TRACE_INFO_T onlyThird = MakeInfo("", "", "op");
    EXPECT_EQ(YAR_SetThreadTraceInfo(&onlyThird), -1);
    EXPECT_EQ(YAR_SetThreadTraceInfo(nullptr), -1);
    YAR_TRACE_INFO_T out;
    EXPECT_EQ(YAR_GetThreadTraceInfo(&out), -1);
    EXPECT_TRUE(AllZero(out));
    // An installed context is left alone by a refused record.
    const YAR_TRACE_INFO_T first = MakeInfo("a", "b", "c");
    ASSERT_EQ(YAR_SetThreadTraceInfo(&first), 0);
    EXPECT_EQ(YAR_SetThreadTraceInfo(&onlyThird), -1);
    ASSERT_EQ(YAR_GetThreadTraceInfo(&out), 0);
    EXPECT_STREQ(out.szTrace1, "a");
}

TEST_F(Trace, UnterminatedTextsAreCutAt64) {
    YAR_TRACE_INFO_T info;
    std::memset(&info, 'q', sizeof info);  // no terminator anywhere, not even in the flags
    ASSERT_EQ(YAR_SetThreadTraceInfo(&info), 0);
    YAR_TRACE_INFO_T out;
    ASSERT_EQ(YAR_GetThreadTraceInfo(&out), 0);
    EXPECT_EQ(std::string(out.szTrace1), std::string(64, 'q'));
    EXPECT_EQ(std::string(out.szTrace3), std::string(64, 'q'));
    EXPECT_EQ(out.byTraceFlag2, 'q');
}

TEST_F(Trace, SecondSetUpdatesInPlaceAndClearRemovesTheEntry) {
    const size_t before = Entries();
    const YAR_TRACE_INFO_T first = MakeInfo("one", "two", "three", 1, 1);
    const YAR_TRACE_INFO_T second = MakeInfo("uno", "", "", 2, 3);
    ASSERT_EQ(YAR_SetThreadTraceInfo(&first), 0);
    ASSERT_EQ(YAR_SetThreadTraceInfo(&second), 0);
    EXPECT_EQ(Entries(), before + 1);
    YAR_TRACE_INFO_T out;
    ASSERT_EQ(YAR_GetThreadTraceInfo(&out), 0);
    EXPECT_EQ(std::memcmp(&out, &second, sizeof out), 0);
    EXPECT_EQ(YAR_ClearThreadTraceInfo(), 0);
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(YAR_GetThreadTraceInfo(&out), -1);
    EXPECT_EQ(YAR_ClearThreadTraceInfo(), 0);
}

TEST_F(Trace, ContextsArePerThread) {
    const YAR_TRACE_INFO_T mine = MakeInfo("main", "x", "");
    ASSERT_EQ(YAR_SetThreadTraceInfo(&mine), 0);
    int otherGet = 0;
    std::thread([&] {
        YAR_TRACE_INFO_T out;
        otherGet = YAR_GetThreadTraceInfo(&out);
    }).join();
    EXPECT_EQ(otherGet, -1);
}

TEST_F(Trace, ThreadEndingWithAContextLeavesNoEntry) {
    const size_t before = Entries();
    std::thread([] {
        const YAR_TRACE_INFO_T info = MakeInfo("left", "behind", "");
        YAR_SetThreadTraceInfo(&info);
    }).join();
    EXPECT_EQ(Entries(), before);
}

TEST_F(Trace, NullRecordIsReportedOnStderr) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(YAR_GetThreadTraceInfo(nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "traceInfo is null ptr\r\n");
}

TEST_F(Trace, WithoutASlotSetFailsAndInitRestoresIt) {
    ASSERT_EQ(YAR_TraceTls_Fini(), 0);
    EXPECT_EQ(YAR_TraceTls_Fini(), -1);
    const YAR_TRACE_INFO_T info = MakeInfo("a", "b", "");
    const size_t before = Entries();
    testing::internal::CaptureStderr();
    EXPECT_EQ(YAR_SetThreadTraceInfo(&info), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "YAR_ThreadTls_SetValue failed! g_yar_store_tls_handle{18446744073709551615}\r\n");
    EXPECT_EQ(Entries(), before);
    YAR_TRACE_INFO_T out;
    EXPECT_EQ(YAR_GetThreadTraceInfo(&out), -1);
    EXPECT_EQ(YAR_ClearThreadTraceInfo(), 0);

    testing::internal::CaptureStderr();
    ASSERT_EQ(YAR_TraceTls_Init(), 0);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::MatchesRegex("yar tls index\\{[0-9]+\\}\r\n"));
    EXPECT_EQ(YAR_SetThreadTraceInfo(&info), 0);
    EXPECT_EQ(YAR_GetThreadTraceInfo(&out), 0);
}
