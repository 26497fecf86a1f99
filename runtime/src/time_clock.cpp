// Wall clock and monotonic ticks over clock_gettime.
#include <atomic>
#include <cerrno>

#include "internal/time_clock.h"
#include "yar/yar_time.h"

namespace {

std::atomic<bool> g_monotonicUsable{true};

bool MonotonicUs(uint64_t *us) {
    timespec ts;
    if (!g_monotonicUsable.load(std::memory_order_relaxed) || clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return false;
    *us = uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
    return true;
}

timespec WallClock() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

}  // namespace

namespace yar::internal {

void SetMonotonicClockUsable(bool usable) {
    g_monotonicUsable.store(usable);
}

}  // namespace yar::internal

extern "C" {

int64_t YAR_TimeNow(void) {
    timespec ts = WallClock();
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

uint64_t YAR_GetTimeTick(void) {
    uint64_t us;
    if (MonotonicUs(&us))
        return (us + 500) / 1000;
    timespec ts = WallClock();
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

uint64_t YAR_GetTimeTickUs(void) {
    uint64_t us;
    return MonotonicUs(&us) ? us : UINT64_MAX;
}

int64_t YAR_TimeSeconds(void) {
    return int64_t(time(nullptr));
}

int YAR_GetTimeOfDay(YAR_TIMEVAL_T *tv) {
    if (!tv)
        return -1;
    timespec ts = WallClock();
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000000 * 1000;
    return 0;
}

int YAR_LocalTimeSeconds(struct tm *out, int64_t seconds) {
    if (!out)
        return EINVAL;
    time_t t = time_t(seconds);
    return localtime_r(&t, out) ? 0 : EINVAL;
}

struct tm *YAR_LocalTimeSecondsEx(struct tm *out, int64_t seconds) {
    if (!out || seconds < 0)
        return nullptr;
    return YAR_LocalTimeSeconds(out, seconds) == 0 ? out : nullptr;
}

}  // extern "C"
