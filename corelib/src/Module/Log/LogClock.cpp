#include "Module/Log/LogClock.h"

#include <time.h>

#include <atomic>

namespace Vorezi {

namespace {

// localtime_r takes the C library's time-zone lock on every call; with many logging threads
// that serialises them. Each thread breaks a second down once and reuses it for the second.
struct SecondCache {
    time_t tSecond = -1;
    bool bValid = false;
    struct tm tmLocal {};
};
thread_local SecondCache t_Cache;

bool SystemClock(LogTime *pTime) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    SecondCache &cache = t_Cache;
    if (cache.tSecond != ts.tv_sec) {
        cache.tSecond = ts.tv_sec;
        cache.bValid = localtime_r(&ts.tv_sec, &cache.tmLocal) != nullptr;
    }
    if (!cache.bValid)
        return false;
    pTime->iYear = cache.tmLocal.tm_year + 1900;
    pTime->iMonth = cache.tmLocal.tm_mon + 1;
    pTime->iDay = cache.tmLocal.tm_mday;
    pTime->iHour = cache.tmLocal.tm_hour;
    pTime->iMinute = cache.tmLocal.tm_min;
    pTime->iSecond = cache.tmLocal.tm_sec;
    pTime->iMilli = (int)(ts.tv_nsec / 1000000);
    return true;
}

std::atomic<LOG_CLOCK> g_fnClock{SystemClock};

}  // namespace

bool LogClock_Now(LogTime *pTime) {
    return g_fnClock.load(std::memory_order_relaxed)(pTime);
}

void LogClock_Set(LOG_CLOCK fnClock) {
    g_fnClock.store(fnClock ? fnClock : SystemClock);
}

}  // namespace Vorezi
