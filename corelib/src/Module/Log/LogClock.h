// Local wall-clock time of log lines and file names. Tests install a fixed clock.
#pragma once

namespace Vorezi {

struct LogTime {
    int iYear;
    int iMonth;  // 1 to 12
    int iDay;
    int iHour;
    int iMinute;
    int iSecond;
    int iMilli;
};

// Fills the local time of now; false when it cannot be computed.
typedef bool (*LOG_CLOCK)(LogTime *pTime);

bool LogClock_Now(LogTime *pTime);
// Null restores the system clock.
void LogClock_Set(LOG_CLOCK fnClock);

}  // namespace Vorezi
