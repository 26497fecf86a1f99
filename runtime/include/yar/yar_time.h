/* Clocks, ticks and calendar. A time is signed 64-bit microseconds since 1970-01-01 00:00:00 UTC;
 * a tick is a monotonic count in milliseconds or microseconds, meaningful only as a difference. */
#ifndef YAR_TIME_H
#define YAR_TIME_H

#include <time.h>

#include "yar_base.h"

/* Seconds and microseconds. The seconds are 64-bit so that wall-clock values stay right after
 * 2038; the layout equals the system's struct timeval. */
typedef struct YAR_TIMEVAL_T {
    int64_t tv_sec;
    int64_t tv_usec;
} YAR_TIMEVAL_T;

/* A Windows file time: 100-ns units since 1601-01-01 UTC, in two halves. */
typedef struct YAR_FILETIME_T {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} YAR_FILETIME_T;

/* Exploded time. */
typedef struct YAR_TIME_EXP_T {
    int32_t tm_usec;   /* 0-999999 */
    int32_t tm_sec;    /* 0-59 (60 for a leap second from the local calendar) */
    int32_t tm_min;    /* 0-59 */
    int32_t tm_hour;   /* 0-23 */
    int32_t tm_mday;   /* 1-31 */
    int32_t tm_mon;    /* 0-11 */
    int32_t tm_year;   /* year - 1900 */
    int32_t tm_wday;   /* 0 = Sunday */
    int32_t tm_yday;   /* 0-365 */
    int32_t tm_isdst;  /* 0 or 1 */
    int32_t tm_gmtoff; /* seconds east of UTC */
} YAR_TIME_EXP_T;

#ifdef __cplusplus
static_assert(sizeof(YAR_TIME_EXP_T) == 44, "exploded time layout");
static_assert(sizeof(YAR_FILETIME_T) == 8, "file time layout");
#endif

/* Length of a YAR_CTime text, without its terminator. */
#define YAR_CTIME_LEN 24

YAR_BEGIN_DECLS

int64_t YAR_TimeNow(void);
/* Monotonic milliseconds; follows the wall clock when the monotonic clock is unusable. */
uint64_t YAR_GetTimeTick(void);
/* Monotonic microseconds; (uint64_t)-1 when the monotonic clock is unusable. */
uint64_t YAR_GetTimeTickUs(void);
int64_t YAR_TimeSeconds(void);
/* Wall-clock seconds and microseconds (to the millisecond); 0, or -1 for null. */
int YAR_GetTimeOfDay(YAR_TIMEVAL_T *tv);
/* Local calendar of the seconds: 0, or EINVAL for a null record or a time the calendar cannot hold. */
int YAR_LocalTimeSeconds(struct tm *out, int64_t seconds);
/* The same; null for a null record or negative seconds, else the record. */
struct tm *YAR_LocalTimeSecondsEx(struct tm *out, int64_t seconds);

int64_t YAR_FileTimeToTime(uint32_t low, uint32_t high, int64_t *out);
void YAR_TimeToFileTime(int64_t time, YAR_FILETIME_T *out);
int64_t YAR_TimeFromSeconds(int64_t seconds);
int64_t YAR_TimeToSeconds(int64_t time); /* truncating */
/* Seconds * 1000 + microseconds to the nearest millisecond; -1 for null or a field of -1. */
int64_t YAR_TimevalToMs(const YAR_TIMEVAL_T *tv);
/* Null for a null record or negative milliseconds, else the record. */
YAR_TIMEVAL_T *YAR_MsToTimeval(YAR_TIMEVAL_T *tv, int64_t ms);
/* -1 for null or a field of -1. */
int64_t YAR_TimevalToTime(const YAR_TIMEVAL_T *tv);
void YAR_TimeToTimeval(YAR_TIMEVAL_T *tv, int64_t time);
int64_t YAR_TimeToMs(int64_t time); /* to the nearest */
int64_t YAR_TimeToMsEx(int64_t time);
int64_t YAR_TimeToSecondsRound(int64_t time);
int64_t YAR_MakeInt64(uint32_t low, uint32_t high);

/* Explodes time + offset seconds; stores the offset, daylight flag 0. -1 for a null record or a
 * time outside the years 1601-30827. */
int YAR_ExpTimeFromTime(int64_t time, int32_t offset, YAR_TIME_EXP_T *out);
int YAR_ExpTimeGMT(int64_t time, YAR_TIME_EXP_T *out);
/* Explodes in the local time zone with the daylight flag and UTC offset in force at that time. */
int YAR_ExpTimeFromTimeLocal(int64_t time, YAR_TIME_EXP_T *out);
/* Implodes the calendar fields as UTC (the offset is not applied); -1 before 1970 or for fields
 * out of range. */
int YAR_TimeFromExpTime(const YAR_TIME_EXP_T *exp, int64_t *out);
/* Implodes and subtracts the record's offset; -1 (out untouched) when the implode fails. */
int YAR_TimeFromExpTimeGMT(const YAR_TIME_EXP_T *exp, int64_t *out);
/* Local time as "Www Mmm dd hh:mm:ss yyyy" into a buffer of YAR_CTIME_LEN + 1 characters. */
int YAR_CTime(char *out, int64_t time);
/* strftime that also expands %C %D %R %T %e %r itself; the characters written, 0 when they do not
 * fit (the output is then empty). */
size_t YAR_StrFmtTime(char *out, size_t size, const char *format, const struct tm *record);
/* YAR_StrFmtTime of an exploded time; its result goes to *result. 0, or -1 for a null record. */
int YAR_StrFmtTimeExp(char *out, size_t *result, size_t size, const char *format,
                      const YAR_TIME_EXP_T *exp);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

/* A microsecond tick value. */
class yar_time_tick {
public:
    yar_time_tick();
    explicit yar_time_tick(int64_t tick);
    yar_time_tick(const yar_time_tick &other) = default;
    virtual ~yar_time_tick();
    yar_time_tick &operator=(const yar_time_tick &other) = default;

    int64_t Value() const { return m_tick; }
    int64_t Refresh();
    bool operator==(const yar_time_tick &o) const { return m_tick == o.m_tick; }
    bool operator!=(const yar_time_tick &o) const { return m_tick != o.m_tick; }
    bool operator<(const yar_time_tick &o) const { return m_tick < o.m_tick; }
    bool operator>(const yar_time_tick &o) const { return m_tick > o.m_tick; }
    yar_time_tick &operator+=(const yar_time_tick &o);
    yar_time_tick &operator-=(const yar_time_tick &o);

private:
    int64_t m_tick;
};

/* Seconds since 1970 with their local calendar. */
class yar_time {
public:
    yar_time();
    explicit yar_time(int64_t seconds);
    yar_time(const yar_time &other) = default;
    virtual ~yar_time();
    yar_time &operator=(const yar_time &other);
    yar_time &operator+=(const yar_time &other);
    yar_time &operator-=(const yar_time &other); /* a negative result becomes 0 */

    int64_t Refresh();
    int64_t Update();
    int64_t GetSeconds() const { return m_seconds; }
    int GetYear() const { return m_tm.tm_year + 1900; }
    int GetMonth() const { return m_tm.tm_mon; }
    int GetDay() const { return m_tm.tm_mday; }
    int GetHour() const { return m_tm.tm_hour; }
    int GetMinute() const { return m_tm.tm_min; }
    int GetSecond() const { return m_tm.tm_sec; }
    int GetWeekDay() const { return m_tm.tm_wday; }
    int GetYearDay() const { return m_tm.tm_yday; }

private:
    void SetSeconds(int64_t seconds);
    int64_t m_seconds;
    struct tm m_tm;
};

}  // namespace yar
#endif

#endif
