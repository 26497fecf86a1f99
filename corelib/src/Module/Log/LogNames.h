// Times in log-file names, and the newest one named per name stem (directory and prefix) across
// every log service of the process: name order stays opening order when a service follows another
// on the same directory, or follows an earlier run whose names ran ahead of the clock.
#pragma once

#include <mutex>
#include <string>

#include "Module/Log/LogClock.h"

namespace Vorezi {

// The same moment one millisecond later, carried into the seconds and the calendar.
void LogTime_AddMilli(LogTime *pTime);
bool LogTime_IsLater(const LogTime &a, const LogTime &b);

// The floor of one stem, held for one naming: no other service of the process names a file under
// the stem meanwhile. On the stem's first use in the process it is taken from the names in the
// directory.
class CLogNameFloor {
public:
    CLogNameFloor(const char *pDir, const char *pPrefix);
    CLogNameFloor(const CLogNameFloor &) = delete;
    CLogNameFloor &operator=(const CLogNameFloor &) = delete;

    // now, or one millisecond past the newest time named under the stem.
    LogTime After(const LogTime &now) const;
    void Taken(const LogTime &t);

private:
    std::unique_lock<std::mutex> m_Lock;
    std::string m_Key;
    bool m_bKnown = false;  // a name under the stem was seen
    LogTime m_Newest{};
};

}  // namespace Vorezi
