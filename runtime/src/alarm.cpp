// Alarm clock: a due-ordered list and an id index under one lock, served by one worker thread.
#include <climits>
#include <new>

#include "yar/yar_alarm.h"
#include "yar/yar_time.h"

namespace yar {

CAlarmClock::CAlarmClock() {
    YAR_MutexCreate(&m_threadLock, 0);
    YAR_MutexCreate(&m_listLock, 0);
    if (YAR_CondCreate(&m_wake) != 0)
        m_wake = nullptr;
}

CAlarmClock::~CAlarmClock() {
    Stop();
    m_entries.clear();
    m_index.clear();
    if (m_wake)
        YAR_CondDestroy(&m_wake);
    YAR_MutexDestroy(&m_listLock);
    YAR_MutexDestroy(&m_threadLock);
}

bool CAlarmClock::Start() {
    yar_guard lock(&m_threadLock);
    if (m_thread == YAR_INVALID_THREAD)
        m_thread = YAR_Thread_Create(&CAlarmClock::Run, this, 0, 0, 0, 0);
    return m_thread != YAR_INVALID_THREAD;
}

void CAlarmClock::Stop() {
    yar_guard lock(&m_threadLock);
    if (m_thread == YAR_INVALID_THREAD)
        return;
    {
        yar_guard list(&m_listLock);
        m_stop = true;
        if (m_wake)
            YAR_CondBroadcast(&m_wake);
    }
    YAR_Thread_Wait(m_thread);
    m_thread = YAR_INVALID_THREAD;
    yar_guard list(&m_listLock);
    m_entries.clear();
    m_index.clear();
}

// Called with the list lock held.
void CAlarmClock::Wake() {
    if (m_waiting && m_wake)
        YAR_CondBroadcast(&m_wake);
}

bool CAlarmClock::AddAlarm(int32_t id, Callback callback, void *user, int64_t delayMs) {
    const uint64_t due = YAR_GetTimeTick() + static_cast<uint64_t>(delayMs < 0 ? 0 : delayMs);
    try {
        yar_guard lock(&m_listLock);
        if (m_index.count(id))
            return false;
        auto place = m_entries.begin();
        while (place != m_entries.end() && place->due <= due)
            ++place;
        const bool first = place == m_entries.begin();
        auto it = m_entries.insert(place, Entry{id, callback, user, due});
        try {
            m_index.emplace(id, it);
        } catch (...) {
            m_entries.erase(it);
            throw;
        }
        if (first)
            Wake();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool CAlarmClock::RemoveAlarm(int32_t id) {
    yar_guard lock(&m_listLock);
    auto found = m_index.find(id);
    if (found == m_index.end())
        return false;
    m_entries.erase(found->second);
    m_index.erase(found);
    return true;
}

uint32_t CAlarmClock::Run(void *self) {
    static_cast<CAlarmClock *>(self)->RunLoop();
    return 0;
}

void CAlarmClock::RunLoop() {
    for (;;) {
        yar_guard lock(&m_listLock);
        if (m_stop)
            return;
        bool fire = false;
        Entry entry{};
        if (!m_entries.empty()) {
            const uint64_t now = YAR_GetTimeTick();
            if (now >= m_entries.front().due) {
                entry = m_entries.front();
                m_index.erase(entry.id);
                m_entries.pop_front();
                fire = true;
            } else {
                const uint64_t wait = m_entries.front().due - now;
                m_waiting = true;
                YAR_CondTimedWait(&m_wake, &m_listLock,
                                  wait > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wait));
                m_waiting = false;
            }
        } else {
            m_waiting = true;
            YAR_CondTimedWait(&m_wake, &m_listLock, -1);
            m_waiting = false;
        }
        lock.Release();
        if (fire)
            entry.callback(this, entry.id, entry.user);
    }
}

}  // namespace yar
