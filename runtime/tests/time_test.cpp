#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <time.h>

#include <gtest/gtest.h>

#include "internal/time_clock.h"
#include "yar/yar_time.h"

namespace {

constexpr int64_t kUs = 1000000;
constexpr int64_t k2101 = 4133980800;  // 2101-01-01 00:00:00 UTC

// A spread of seconds over 1970-2100 that hits every time of day, weekday and month.
template <typename F>
void ForEachSample(F check) {
    for (int64_t s = 0; s < k2101; s += 285073)  // 3 d 7 h 11 min 13 s
        check(s);
    check(k2101 - 1);
}

void SetZone(const char *zone) {
    setenv("TZ", zone, 1);
    tzset();
}

// Every calendar field of an exploded time against a struct tm from glibc.
::testing::AssertionResult SameCalendar(const YAR_TIME_EXP_T &e, const struct tm &t) {
    if (e.tm_sec == t.tm_sec && e.tm_min == t.tm_min && e.tm_hour == t.tm_hour && e.tm_mday == t.tm_mday &&
        e.tm_mon == t.tm_mon && e.tm_year == t.tm_year && e.tm_wday == t.tm_wday && e.tm_yday == t.tm_yday)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "exploded " << e.tm_year + 1900 << "-" << e.tm_mon + 1 << "-" << e.tm_mday << " " << e.tm_hour << ":"
           << e.tm_min << ":" << e.tm_sec << " wday " << e.tm_wday << " yday " << e.tm_yday << ", glibc "
           << t.tm_year + 1900 << "-" << t.tm_mon + 1 << "-" << t.tm_mday << " " << t.tm_hour << ":" << t.tm_min
           << ":" << t.tm_sec << " wday " << t.tm_wday << " yday " << t.tm_yday;
}

struct tm Gm(int64_t seconds) {
    time_t t = time_t(seconds);
    struct tm out;
    gmtime_r(&t, &out);
    return out;
}

int64_t Utc(int year, int month, int day, int hour = 0, int min = 0, int sec = 0) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return int64_t(timegm(&t));
}

}  // namespace

TEST(ExpTime, UtcMatchesGlibcAndImplodesBack) {
    ForEachSample([](int64_t s) {
        const int64_t time = s * kUs + s % kUs;
        YAR_TIME_EXP_T e;
        ASSERT_EQ(YAR_ExpTimeGMT(time, &e), 0);
        ASSERT_TRUE(SameCalendar(e, Gm(s))) << "seconds " << s;
        ASSERT_EQ(e.tm_usec, s % kUs);
        ASSERT_EQ(e.tm_isdst, 0);
        ASSERT_EQ(e.tm_gmtoff, 0);
        int64_t back = -7;
        ASSERT_EQ(YAR_TimeFromExpTime(&e, &back), 0);
        ASSERT_EQ(back, time);
    });
}

TEST(ExpTime, LeapDaysAndYearEnds) {
    struct Case { int y, m, d; int yday; };
    const Case cases[] = {
        {2024, 2, 29, 59}, {2024, 3, 1, 60}, {2023, 3, 1, 59}, {2024, 12, 31, 365}, {2023, 12, 31, 364},
        {2000, 2, 29, 59}, {2000, 3, 1, 60}, {2100, 2, 28, 58}, {2100, 3, 1, 59},  {1972, 2, 29, 59},
        {2096, 2, 29, 59}, {1970, 1, 1, 0},
    };
    for (const Case &c : cases) {
        const int64_t s = Utc(c.y, c.m, c.d, 12);
        YAR_TIME_EXP_T e;
        ASSERT_EQ(YAR_ExpTimeGMT(s * kUs, &e), 0);
        EXPECT_EQ(e.tm_yday, c.yday) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(e.tm_mon, c.m - 1) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(e.tm_mday, c.d) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_TRUE(SameCalendar(e, Gm(s))) << c.y << "-" << c.m << "-" << c.d;
    }
}

TEST(ExpTime, FixedOffsets) {
    for (int32_t offset : {0, 28800, -18000, 19800, 50400, -43200}) {
        ForEachSample([offset](int64_t s) {
            YAR_TIME_EXP_T e;
            ASSERT_EQ(YAR_ExpTimeFromTime(s * kUs + 250, offset, &e), 0);
            ASSERT_TRUE(SameCalendar(e, Gm(s + offset))) << "seconds " << s << " offset " << offset;
            ASSERT_EQ(e.tm_gmtoff, offset);
            ASSERT_EQ(e.tm_isdst, 0);
            int64_t back = 0;
            ASSERT_EQ(YAR_TimeFromExpTimeGMT(&e, &back), 0);
            ASSERT_EQ(back, s * kUs + 250);
        });
    }
    YAR_TIME_EXP_T e;
    ASSERT_EQ(YAR_ExpTimeFromTime(Utc(2024, 3, 5, 7, 8, 9) * kUs, 28800, &e), 0);
    EXPECT_EQ(e.tm_hour, 15);
}

TEST(ExpTime, LocalZonesWithDaylightSaving) {
    for (const char *zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata", "UTC"}) {
        SetZone(zone);
        ForEachSample([zone](int64_t s) {
            YAR_TIME_EXP_T e;
            ASSERT_EQ(YAR_ExpTimeFromTimeLocal(s * kUs + 999999, &e), 0);
            time_t t = time_t(s);
            struct tm local;
            localtime_r(&t, &local);
            ASSERT_TRUE(SameCalendar(e, local)) << zone << " seconds " << s;
            ASSERT_EQ(e.tm_isdst, local.tm_isdst > 0 ? 1 : 0) << zone << " seconds " << s;
            ASSERT_EQ(e.tm_gmtoff, local.tm_gmtoff) << zone << " seconds " << s;
            ASSERT_EQ(e.tm_usec, 999999);
            int64_t back = 0;
            ASSERT_EQ(YAR_TimeFromExpTimeGMT(&e, &back), 0);
            ASSERT_EQ(back, s * kUs + 999999) << zone;
        });
    }
    // The switch to summer time in Berlin, 2024-03-31 01:00 UTC.
    SetZone("Europe/Berlin");
    struct Case { int64_t s; int isdst; int gmtoff; int hour; };
    const Case cases[] = {
        {Utc(2024, 3, 31, 0, 59, 59), 0, 3600, 1},
        {Utc(2024, 3, 31, 1, 0, 0), 1, 7200, 3},
        {Utc(2024, 10, 27, 0, 59, 59), 1, 7200, 2},
        {Utc(2024, 10, 27, 1, 0, 0), 0, 3600, 2},
    };
    for (const Case &c : cases) {
        YAR_TIME_EXP_T e;
        ASSERT_EQ(YAR_ExpTimeFromTimeLocal(c.s * kUs, &e), 0);
        EXPECT_EQ(e.tm_isdst, c.isdst) << c.s;
        EXPECT_EQ(e.tm_gmtoff, c.gmtoff) << c.s;
        EXPECT_EQ(e.tm_hour, c.hour) << c.s;
    }
}

TEST(ExpTime, RefusesWhatItCannotHold) {
    YAR_TIME_EXP_T e;
    EXPECT_EQ(YAR_ExpTimeGMT(0, nullptr), -1);
    EXPECT_EQ(YAR_ExpTimeFromTimeLocal(0, nullptr), -1);
    EXPECT_EQ(YAR_ExpTimeGMT(INT64_MAX, &e), -1);
    EXPECT_EQ(YAR_ExpTimeGMT(INT64_MIN, &e), -1);
    // Before 1970 the microseconds still count forward from the whole second.
    ASSERT_EQ(YAR_ExpTimeGMT(-1, &e), 0);
    EXPECT_EQ(e.tm_usec, 999999);
    EXPECT_EQ(e.tm_sec, 59);
    EXPECT_EQ(e.tm_year, 69);

    int64_t out = 42;
    ASSERT_EQ(YAR_ExpTimeGMT(Utc(1969, 12, 31, 23, 59, 59) * kUs, &e), 0);
    EXPECT_EQ(YAR_TimeFromExpTime(&e, &out), -1);
    EXPECT_EQ(YAR_TimeFromExpTimeGMT(&e, &out), -1);
    EXPECT_EQ(out, 42);
    ASSERT_EQ(YAR_ExpTimeGMT(0, &e), 0);
    for (int32_t month : {-1, 12, 1000}) {
        e.tm_mon = month;
        EXPECT_EQ(YAR_TimeFromExpTime(&e, &out), -1) << month;
    }
    EXPECT_EQ(YAR_TimeFromExpTime(nullptr, &out), -1);
    ASSERT_EQ(YAR_ExpTimeGMT(0, &e), 0);
    e.tm_year = INT32_MAX;
    EXPECT_EQ(YAR_TimeFromExpTime(&e, &out), -1);
    EXPECT_EQ(out, 42);
}

TEST(TimeConversions, FileTimes) {
    EXPECT_EQ(YAR_FileTimeToTime(uint32_t(116444736000000000ULL), uint32_t(116444736000000000ULL >> 32), nullptr), 0);
    for (int64_t time : {int64_t(0), int64_t(1), int64_t(1234567890123456), (k2101 - 1) * kUs + 999999}) {
        YAR_FILETIME_T ft;
        YAR_TimeToFileTime(time, &ft);
        int64_t out = 0;
        EXPECT_EQ(YAR_FileTimeToTime(ft.dwLowDateTime, ft.dwHighDateTime, &out), time);
        EXPECT_EQ(out, time);
        EXPECT_EQ(uint64_t(YAR_MakeInt64(ft.dwLowDateTime, ft.dwHighDateTime)), (uint64_t(time) + 11644473600000000ULL) * 10);
    }
    EXPECT_EQ(YAR_MakeInt64(0x89ABCDEF, 0x01234567), 0x0123456789ABCDEF);
}

TEST(TimeConversions, SecondsMillisecondsAndTimevals) {
    struct Case { const char *what; int64_t got, expected; };
    YAR_TIMEVAL_T oneAndHalfMs{1, 1500}, halfMs{0, 499}, unsetSec{-1, 0}, unsetUsec{3, -1};
    YAR_TIMEVAL_T after2038{4102444800, 7};
    const Case cases[] = {
        {"timeval 1 s 1500 us to ms", YAR_TimevalToMs(&oneAndHalfMs), 1002},
        {"timeval 499 us to ms", YAR_TimevalToMs(&halfMs), 0},
        {"unset seconds to ms", YAR_TimevalToMs(&unsetSec), -1},
        {"unset microseconds to ms", YAR_TimevalToMs(&unsetUsec), -1},
        {"null timeval to ms", YAR_TimevalToMs(nullptr), -1},
        {"timeval to time", YAR_TimevalToTime(&oneAndHalfMs), 1001500},
        {"timeval after 2038 to time", YAR_TimevalToTime(&after2038), 4102444800 * kUs + 7},
        {"unset timeval to time", YAR_TimevalToTime(&unsetUsec), -1},
        {"seconds to time", YAR_TimeFromSeconds(4102444800), 4102444800 * kUs},
        {"time to seconds truncates", YAR_TimeToSeconds(2999999), 2},
        {"time to ms rounds down", YAR_TimeToMs(1499), 1},
        {"time to ms rounds up", YAR_TimeToMs(1500), 2},
        {"time to ms, second name", YAR_TimeToMsEx(2500), 3},
        {"seconds round down", YAR_TimeToSecondsRound(1499999), 1},
        {"seconds round up", YAR_TimeToSecondsRound(1500000), 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected) << c.what;

    YAR_TIMEVAL_T tv{9, 9};
    EXPECT_EQ(YAR_MsToTimeval(&tv, -1), nullptr);
    EXPECT_EQ(YAR_MsToTimeval(nullptr, 5), nullptr);
    ASSERT_EQ(YAR_MsToTimeval(&tv, 61234), &tv);
    EXPECT_EQ(tv.tv_sec, 61);
    EXPECT_EQ(tv.tv_usec, 234000);
    YAR_TimeToTimeval(&tv, 4102444800 * kUs + 123456);
    EXPECT_EQ(tv.tv_sec, 4102444800);
    EXPECT_EQ(tv.tv_usec, 123456);
}

TEST(Clock, WallClockAgreesWithTheSystem) {
    const int64_t before = int64_t(time(nullptr));
    const int64_t now = YAR_TimeNow();
    const int64_t seconds = YAR_TimeSeconds();
    YAR_TIMEVAL_T tv;
    ASSERT_EQ(YAR_GetTimeOfDay(&tv), 0);
    EXPECT_EQ(YAR_GetTimeOfDay(nullptr), -1);
    // time() reads the coarse clock, which can still show the last second after the fine one has
    // moved on: the upper bound comes from the fine clock.
    timespec fine;
    ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &fine), 0);
    const int64_t after = int64_t(fine.tv_sec);
    EXPECT_GE(now / kUs, before);
    EXPECT_LE(now / kUs, after);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_GE(tv.tv_sec, before);
    EXPECT_LE(tv.tv_sec, after);
    EXPECT_EQ(tv.tv_usec % 1000, 0);
    EXPECT_LT(tv.tv_usec, kUs);
}

TEST(Clock, TicksAreMonotonicAndAdvance) {
    uint64_t lastMs = YAR_GetTimeTick(), lastUs = YAR_GetTimeTickUs();
    for (int i = 0; i < 100000; ++i) {
        uint64_t ms = YAR_GetTimeTick(), us = YAR_GetTimeTickUs();
        ASSERT_GE(ms, lastMs);
        ASSERT_GE(us, lastUs);
        lastMs = ms;
        lastUs = us;
    }
    const uint64_t startMs = YAR_GetTimeTick(), startUs = YAR_GetTimeTickUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(YAR_GetTimeTick() - startMs, 49u);
    EXPECT_GE(YAR_GetTimeTickUs() - startUs, 49000u);
    // The two ticks count the same clock.
    const uint64_t ms = YAR_GetTimeTick(), us = YAR_GetTimeTickUs();
    EXPECT_LE(us / 1000 - ms + 1, 2u);
}

TEST(Clock, UnusableMonotonicClockFallsBackToTheWallClock) {
    yar::internal::SetMonotonicClockUsable(false);
    const uint64_t tick = YAR_GetTimeTick();
    const int64_t wallMs = YAR_TimeNow() / 1000;
    const uint64_t us = YAR_GetTimeTickUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint64_t later = YAR_GetTimeTick();
    yar::internal::SetMonotonicClockUsable(true);
    EXPECT_LE(std::llabs(int64_t(tick) - wallMs), 1000);
    EXPECT_GE(later - tick, 25u);
    EXPECT_EQ(us, UINT64_MAX);
}

TEST(CTime, FixedFormMatchesGlibc) {
    SetZone("UTC");
    char text[YAR_CTIME_LEN + 1];
    ASSERT_EQ(YAR_CTime(text, Utc(2024, 3, 5, 7, 8, 9) * kUs), 0);
    EXPECT_STREQ(text, "Tue Mar 05 07:08:09 2024");
    SetZone("America/New_York");
    ForEachSample([&text](int64_t s) {
        ASSERT_EQ(YAR_CTime(text, s * kUs), 0);
        time_t t = time_t(s);
        struct tm local;
        localtime_r(&t, &local);
        char expected[64];
        strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &local);
        ASSERT_STREQ(text, expected);
    });
    EXPECT_EQ(YAR_CTime(nullptr, 0), -1);
    EXPECT_EQ(YAR_CTime(text, INT64_MAX), -1);
}

TEST(StrFmtTime, ExpandsItsOwnConversionsLikeGlibc) {
    struct tm t = Gm(Utc(2024, 3, 5, 7, 8, 9));
    struct tm y2035 = Gm(Utc(2035, 11, 25, 19, 0, 1));
    struct Case { const char *format; const struct tm *record; const char *expected; };
    const Case cases[] = {
        {"%D %T", &t, "03/05/24 07:08:09"},
        {"%C", &y2035, "20"},
        {"%e|%R|%r", &t, " 5|07:08|07:08:09 AM"},
        {"%r", &y2035, "07:00:01 PM"},
        {"%Y-%m-%d %H:%M:%S %j %a %b", &t, "2024-03-05 07:08:09 065 Tue Mar"},
        {"100%% at %e", &y2035, "100% at 25"},
        {"plain", &t, "plain"},
    };
    for (const Case &c : cases) {
        char out[64];
        size_t n = YAR_StrFmtTime(out, sizeof out, c.format, c.record);
        EXPECT_STREQ(out, c.expected) << c.format;
        EXPECT_EQ(n, std::strlen(c.expected)) << c.format;
        char glibc[64];
        strftime(glibc, sizeof glibc, c.format, c.record);
        EXPECT_STREQ(out, glibc) << c.format;
    }
}

TEST(StrFmtTime, TooSmallOrMissingGivesNothing) {
    struct tm t = Gm(Utc(2024, 3, 5, 7, 8, 9));
    char out[32];
    std::memset(out, 'x', sizeof out);
    struct Case { const char *format; size_t size; };
    const Case cases[] = {
        {"%D %T", 17},         // 17 characters need 18 bytes
        {"%Y-%m-%d %T", 5},    // the format outgrows the output while it is expanded
        {"abcdefgh", 8},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(YAR_StrFmtTime(out, c.size, c.format, &t), 0u) << c.format;
        EXPECT_STREQ(out, "") << c.format;
    }
    EXPECT_EQ(YAR_StrFmtTime(out, sizeof out, "%D", nullptr), 0u);
    EXPECT_EQ(YAR_StrFmtTime(out, sizeof out, nullptr, &t), 0u);
    EXPECT_EQ(YAR_StrFmtTime(out, 0, "%D", &t), 0u);
    EXPECT_EQ(YAR_StrFmtTime(out, sizeof out, "%D %T", &t), 17u);
    EXPECT_EQ(YAR_StrFmtTime(out, 18, "%D %T", &t), 17u);
}

TEST(StrFmtTime, ExplodedTimes) {
    YAR_TIME_EXP_T e;
    ASSERT_EQ(YAR_ExpTimeFromTime(Utc(2024, 3, 5, 7, 8, 9) * kUs, 3600, &e), 0);
    char out[64];
    size_t n = 99;
    ASSERT_EQ(YAR_StrFmtTimeExp(out, &n, sizeof out, "%Y-%m-%d %T %z %j", &e), 0);
    EXPECT_STREQ(out, "2024-03-05 08:08:09 +0100 065");
    EXPECT_EQ(n, std::strlen(out));
    EXPECT_EQ(YAR_StrFmtTimeExp(out, &n, sizeof out, "%T", nullptr), -1);
    EXPECT_EQ(n, 0u);
}

TEST(LocalTime, SecondsToCalendar) {
    SetZone("Europe/Berlin");
    struct tm out;
    ASSERT_EQ(YAR_LocalTimeSeconds(&out, Utc(2024, 7, 1, 12)), 0);
    EXPECT_EQ(out.tm_hour, 14);
    EXPECT_EQ(YAR_LocalTimeSeconds(nullptr, 0), EINVAL);
    EXPECT_EQ(YAR_LocalTimeSecondsEx(&out, -1), nullptr);
    EXPECT_EQ(YAR_LocalTimeSecondsEx(nullptr, 0), nullptr);
    EXPECT_EQ(YAR_LocalTimeSecondsEx(&out, Utc(2100, 12, 31, 22, 59, 59)), &out);
    EXPECT_EQ(out.tm_year, 200);
    EXPECT_EQ(out.tm_yday, 364);
}

TEST(TimeClasses, CalendarFollowsTheSeconds) {
    SetZone("UTC");
    yar::yar_time t(Utc(2024, 2, 29, 23, 59, 58));
    struct Case { const char *what; int got, expected; };
    const Case cases[] = {
        {"year", t.GetYear(), 2024},   {"month", t.GetMonth(), 1},     {"day", t.GetDay(), 29},
        {"hour", t.GetHour(), 23},     {"minute", t.GetMinute(), 59},  {"second", t.GetSecond(), 58},
        {"weekday", t.GetWeekDay(), 4}, {"year day", t.GetYearDay(), 59},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected) << c.what;
    t += yar::yar_time(2);
    EXPECT_EQ(t.GetMonth(), 2);
    EXPECT_EQ(t.GetDay(), 1);
    yar::yar_time copy = t;
    copy -= yar::yar_time(t.GetSeconds() + 100);
    EXPECT_EQ(copy.GetSeconds(), 0);
    EXPECT_EQ(copy.GetYear(), 1970);
    yar::yar_time now;
    EXPECT_LE(std::llabs(now.Refresh() - int64_t(time(nullptr))), 1);
    EXPECT_EQ(now.Update(), now.GetSeconds());
}

TEST(TimeClasses, TicksCompareAndAdd) {
    yar::yar_time_tick a(100), b(250);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a != b);
    a += yar::yar_time_tick(150);
    EXPECT_TRUE(a == b);
    a -= yar::yar_time_tick(300);
    EXPECT_EQ(a.Value(), -50);
    yar::yar_time_tick now;
    const int64_t first = now.Value();
    EXPECT_GE(now.Refresh(), first);
}
