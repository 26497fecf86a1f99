#include "Module/Log/LogNames.h"

#include <limits.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "Module/Log/LogPlatform.h"

namespace Vorezi {

namespace {

// "20240305_140709042" and one of the endings the service gives its files.
constexpr size_t kTimeLen = 18;
constexpr const char *kEndings[] = {"_w.log", ".log", ".zip"};

std::mutex &FloorsMutex() {
    static std::mutex mutex;
    return mutex;
}

// Never freed: a log service may name a file while the process exits.
std::map<std::string, LogTime> &Floors() {
    static auto *pFloors = new std::map<std::string, LogTime>;
    return *pFloors;
}

// One directory written two ways is one stem.
std::string StemKey(const char *pDir, const char *pPrefix) {
    char szReal[PATH_MAX];
    std::string dir = realpath(pDir, szReal) ? std::string(szReal) + "/" : std::string(pDir);
    return dir + pPrefix;
}

bool ParseOwnName(const std::string &name, size_t prefixLen, LogTime *pTime) {
    if (name.size() <= prefixLen + kTimeLen)
        return false;
    std::string tail = name.substr(prefixLen + kTimeLen);
    bool bOwnEnding = false;
    for (const char *pEnding : kEndings)
        bOwnEnding |= tail == pEnding;
    if (!bOwnEnding)
        return false;
    const char *p = name.c_str() + prefixLen;
    for (size_t i = 0; i < kTimeLen; i++)
        if (i == 8 ? p[i] != '_' : (p[i] < '0' || p[i] > '9'))
            return false;
    LogTime t{};
    std::sscanf(p, "%4d%2d%2d_%2d%2d%2d%3d", &t.iYear, &t.iMonth, &t.iDay, &t.iHour, &t.iMinute, &t.iSecond,
                &t.iMilli);
    *pTime = t;
    return true;
}

// The newest time in the names of the service's files already in the directory.
bool NewestInDirectory(const char *pDir, const char *pPrefix, LogTime *pNewest) {
    std::vector<std::string> names;
    if (!logplat::ListRegularFiles(pDir, &names))
        return false;
    size_t prefixLen = std::strlen(pPrefix);
    bool bFound = false;
    for (const std::string &name : names) {
        LogTime t;
        if (name.compare(0, prefixLen, pPrefix) != 0 || !ParseOwnName(name, prefixLen, &t))
            continue;
        if (!bFound || LogTime_IsLater(t, *pNewest))
            *pNewest = t;
        bFound = true;
    }
    return bFound;
}

}  // namespace

void LogTime_AddMilli(LogTime *pTime) {
    if (++pTime->iMilli < 1000)
        return;
    pTime->iMilli = 0;
    struct tm tmLocal {};
    tmLocal.tm_year = pTime->iYear - 1900;
    tmLocal.tm_mon = pTime->iMonth - 1;
    tmLocal.tm_mday = pTime->iDay;
    tmLocal.tm_hour = pTime->iHour;
    tmLocal.tm_min = pTime->iMinute;
    tmLocal.tm_sec = pTime->iSecond + 1;
    tmLocal.tm_isdst = -1;
    mktime(&tmLocal);
    pTime->iYear = tmLocal.tm_year + 1900;
    pTime->iMonth = tmLocal.tm_mon + 1;
    pTime->iDay = tmLocal.tm_mday;
    pTime->iHour = tmLocal.tm_hour;
    pTime->iMinute = tmLocal.tm_min;
    pTime->iSecond = tmLocal.tm_sec;
}

bool LogTime_IsLater(const LogTime &a, const LogTime &b) {
    return std::tie(a.iYear, a.iMonth, a.iDay, a.iHour, a.iMinute, a.iSecond, a.iMilli) >
           std::tie(b.iYear, b.iMonth, b.iDay, b.iHour, b.iMinute, b.iSecond, b.iMilli);
}

CLogNameFloor::CLogNameFloor(const char *pDir, const char *pPrefix)
    : m_Lock(FloorsMutex()), m_Key(StemKey(pDir, pPrefix)) {
    auto it = Floors().find(m_Key);
    if (it != Floors().end()) {
        m_bKnown = true;
        m_Newest = it->second;
    } else if (NewestInDirectory(pDir, pPrefix, &m_Newest)) {
        m_bKnown = true;
        Floors().emplace(m_Key, m_Newest);
    }
}

LogTime CLogNameFloor::After(const LogTime &now) const {
    if (!m_bKnown || LogTime_IsLater(now, m_Newest))
        return now;
    LogTime t = m_Newest;
    LogTime_AddMilli(&t);
    return t;
}

void CLogNameFloor::Taken(const LogTime &t) {
    Floors()[m_Key] = t;
    m_bKnown = true;
    m_Newest = t;
}

}  // namespace Vorezi
