// Exploded time: calendar arithmetic on 64-bit day counts, and the local zone from localtime_r.
#include <cstdio>
#include <cstring>

#include "yar/yar_time.h"

namespace {

constexpr int64_t kUsPerSecond = 1000000;
constexpr int64_t kSecondsPerDay = 86400;
// What a Windows file time can hold: 1601-01-01 00:00:00 to 30827-12-31 23:59:59 UTC.
constexpr int64_t kFirstSecond = -11644473600;
constexpr int64_t kLastSecond = 910692730085;

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
// Days from 1 March to the first of each month (the implode formula's year starts in March).
constexpr int kMarchBasedMonthStart[12] = {306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};

const char *const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t *year, int *month, int *day) {
    days += 719468;  // count from 0000-03-01
    const int64_t era = FloorDiv(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t marchMonth = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * marchMonth + 2) / 5 + 1);
    *month = int(marchMonth < 10 ? marchMonth + 3 : marchMonth - 9);
    *year = yearOfEra + era * 400 + (*month <= 2);
}

// Explodes UTC seconds; the caller sets microseconds, daylight flag and offset.
void ExplodeSeconds(int64_t seconds, YAR_TIME_EXP_T *out) {
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    int64_t year;
    int month, day;
    CivilFromDays(days, &year, &month, &day);
    out->tm_sec = int32_t(secondOfDay % 60);
    out->tm_min = int32_t(secondOfDay / 60 % 60);
    out->tm_hour = int32_t(secondOfDay / 3600);
    out->tm_mday = day;
    out->tm_mon = month - 1;
    out->tm_year = int32_t(year - 1900);
    const int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday
    out->tm_wday = int32_t(weekday < 0 ? weekday + 7 : weekday);
    // The leap day belongs to February: only March and later months move by one.
    out->tm_yday = kDaysBeforeMonth[month - 1] + day - 1 + (IsLeapYear(year) && month > 2 ? 1 : 0);
}

// Splits a time into whole seconds and the microseconds after them (0-999999, also before 1970).
int64_t WholeSeconds(int64_t time, int32_t *usec) {
    const int64_t rest = time % kUsPerSecond;
    *usec = int32_t(rest < 0 ? rest + kUsPerSecond : rest);
    return FloorDiv(time, kUsPerSecond);
}

// Seconds of the calendar fields read as UTC, by the day count of a year that starts in March.
// False for a month out of range or a time a file time cannot hold.
bool ImplodeSeconds(const YAR_TIME_EXP_T *exp, int64_t *seconds) {
    if (!exp || exp->tm_mon < 0 || exp->tm_mon > 11)
        return false;
    const int64_t y = int64_t(exp->tm_year) - (exp->tm_mon < 2 ? 1 : 0);
    const int64_t days = exp->tm_mday - 1 + kMarchBasedMonthStart[exp->tm_mon] + 365 * y + y / 4 - y / 100 +
                         (y / 100 + 3) / 4 - 25508;
    *seconds = ((days * 24 + exp->tm_hour) * 60 + exp->tm_min) * 60 + exp->tm_sec;
    return *seconds >= kFirstSecond && *seconds <= kLastSecond;
}

}  // namespace

extern "C" {

int YAR_ExpTimeFromTime(int64_t time, int32_t offset, YAR_TIME_EXP_T *out) {
    if (!out)
        return -1;
    int32_t usec;
    const int64_t seconds = WholeSeconds(time, &usec) + offset;
    if (seconds < kFirstSecond || seconds > kLastSecond)
        return -1;
    ExplodeSeconds(seconds, out);
    out->tm_usec = usec;
    out->tm_isdst = 0;
    out->tm_gmtoff = offset;
    return 0;
}

int YAR_ExpTimeGMT(int64_t time, YAR_TIME_EXP_T *out) {
    return YAR_ExpTimeFromTime(time, 0, out);
}

int YAR_ExpTimeFromTimeLocal(int64_t time, YAR_TIME_EXP_T *out) {
    if (!out)
        return -1;
    int32_t usec;
    const time_t seconds = time_t(WholeSeconds(time, &usec));
    struct tm local;
    if (seconds < kFirstSecond || seconds > kLastSecond || !localtime_r(&seconds, &local))
        return -1;
    out->tm_usec = usec;
    out->tm_sec = local.tm_sec;
    out->tm_min = local.tm_min;
    out->tm_hour = local.tm_hour;
    out->tm_mday = local.tm_mday;
    out->tm_mon = local.tm_mon;
    out->tm_year = local.tm_year;
    out->tm_wday = local.tm_wday;
    out->tm_yday = local.tm_yday;
    out->tm_isdst = local.tm_isdst > 0 ? 1 : 0;
    out->tm_gmtoff = int32_t(local.tm_gmtoff);
    return 0;
}

int YAR_TimeFromExpTime(const YAR_TIME_EXP_T *exp, int64_t *out) {
    int64_t seconds;
    if (!out || !ImplodeSeconds(exp, &seconds) || seconds < 0)
        return -1;
    *out = seconds * kUsPerSecond + exp->tm_usec;
    return 0;
}

// The offset is applied before the check for 1970, so that the local calendar of the first hours
// of 1970 west of Greenwich (still 1969 there) implodes too.
int YAR_TimeFromExpTimeGMT(const YAR_TIME_EXP_T *exp, int64_t *out) {
    int64_t seconds;
    if (!out || !ImplodeSeconds(exp, &seconds))
        return -1;
    seconds -= exp->tm_gmtoff;
    if (seconds < 0)
        return -1;
    *out = seconds * kUsPerSecond + exp->tm_usec;
    return 0;
}

int YAR_CTime(char *out, int64_t time) {
    if (!out)
        return -1;
    YAR_TIME_EXP_T exp;
    out[0] = '\0';
    if (YAR_ExpTimeFromTimeLocal(time, &exp) != 0)
        return -1;
    char text[64];
    int length = std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDayNames[exp.tm_wday],
                               kMonthNames[exp.tm_mon], exp.tm_mday, exp.tm_hour, exp.tm_min, exp.tm_sec,
                               exp.tm_year + 1900);
    if (length != YAR_CTIME_LEN)  // a five-digit year does not fit the fixed form
        return -1;
    std::memcpy(out, text, YAR_CTIME_LEN + 1);
    return 0;
}

}  // extern "C"
