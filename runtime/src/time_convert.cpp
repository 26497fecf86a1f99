// Conversions between times, file times, seconds, milliseconds and timevals.
#include "yar/yar_time.h"

namespace {

constexpr int64_t kUsPerSecond = 1000000;
// Microseconds from 1601-01-01 (the file-time epoch) to 1970-01-01.
constexpr uint64_t kFileTimeEpochUs = 11644473600000000ULL;

bool UnsetTimeval(const YAR_TIMEVAL_T *tv) {
    return !tv || tv->tv_sec == -1 || tv->tv_usec == -1;
}

}  // namespace

extern "C" {

int64_t YAR_FileTimeToTime(uint32_t low, uint32_t high, int64_t *out) {
    uint64_t fileTime = (uint64_t(high) << 32) | low;
    int64_t time = int64_t(fileTime / 10) - int64_t(kFileTimeEpochUs);
    if (out)
        *out = time;
    return time;
}

void YAR_TimeToFileTime(int64_t time, YAR_FILETIME_T *out) {
    if (!out)
        return;
    uint64_t fileTime = (uint64_t(time) + kFileTimeEpochUs) * 10u;
    out->dwLowDateTime = uint32_t(fileTime);
    out->dwHighDateTime = uint32_t(fileTime >> 32);
}

int64_t YAR_TimeFromSeconds(int64_t seconds) {
    return seconds * kUsPerSecond;
}

int64_t YAR_TimeToSeconds(int64_t time) {
    return time / kUsPerSecond;
}

int64_t YAR_TimevalToMs(const YAR_TIMEVAL_T *tv) {
    if (UnsetTimeval(tv))
        return -1;
    return tv->tv_sec * 1000 + (tv->tv_usec + 500) / 1000;
}

YAR_TIMEVAL_T *YAR_MsToTimeval(YAR_TIMEVAL_T *tv, int64_t ms) {
    if (!tv || ms < 0)
        return nullptr;
    tv->tv_sec = ms / 1000;
    tv->tv_usec = ms % 1000 * 1000;
    return tv;
}

int64_t YAR_TimevalToTime(const YAR_TIMEVAL_T *tv) {
    if (UnsetTimeval(tv))
        return -1;
    return tv->tv_sec * kUsPerSecond + tv->tv_usec;
}

void YAR_TimeToTimeval(YAR_TIMEVAL_T *tv, int64_t time) {
    if (!tv)
        return;
    tv->tv_sec = time / kUsPerSecond;
    tv->tv_usec = time % kUsPerSecond;
}

int64_t YAR_TimeToMs(int64_t time) {
    return (time + 500) / 1000;
}

int64_t YAR_TimeToMsEx(int64_t time) {
    return YAR_TimeToMs(time);
}

int64_t YAR_TimeToSecondsRound(int64_t time) {
    return (time + kUsPerSecond / 2) / kUsPerSecond;
}

int64_t YAR_MakeInt64(uint32_t low, uint32_t high) {
    return int64_t((uint64_t(high) << 32) | low);
}

}  // extern "C"
