/* Alarm clock: timed callbacks on one worker thread of the clock's own. Alarms fire once, in
 * due-time order (equal due times in the order added), on the runtime's millisecond tick. */
#ifndef YAR_ALARM_H
#define YAR_ALARM_H

#include "yar_base.h"
#include "yar_cond.h"
#include "yar_mutex.h"
#include "yar_thread.h"

#ifdef __cplusplus
#include <atomic>
#include <list>
#include <map>

namespace yar {

class CAlarmClock {
public:
    /* Runs on the worker without the clock's lock: it may add or remove alarms, also its own id. */
    typedef void (*Callback)(CAlarmClock *clock, int32_t id, void *user);

    CAlarmClock();
    virtual ~CAlarmClock();
    CAlarmClock(const CAlarmClock &) = delete;
    CAlarmClock &operator=(const CAlarmClock &) = delete;

    /* Starts the worker when none runs; true when one runs afterwards. A stopped clock's new
     * worker ends at once. */
    bool Start();
    /* Ends the worker, waits for it and drops every alarm; the clock never fires again. Must not
     * be called from a callback. */
    void Stop();
    /* false when the id is already present (the old alarm stays) or memory is short. A negative
     * delay counts as 0. */
    bool AddAlarm(int32_t id, Callback callback, void *user, int64_t delayMs);
    /* true when the alarm was found and removed before it fired. */
    bool RemoveAlarm(int32_t id);

private:
    struct Entry {
        int32_t id;
        Callback callback;
        void *user;
        uint64_t due;
    };
    typedef std::list<Entry> EntryList;

    static uint32_t Run(void *self);
    void RunLoop();
    void Wake();

    YAR_MUTEX_T m_threadLock;
    YAR_MUTEX_T m_listLock;
    YAR_HANDLE m_thread = YAR_INVALID_THREAD;
    YAR_COND_T m_wake = nullptr; /* null when it could not be made: waits then return at once */
    std::atomic<bool> m_stop{false};
    bool m_waiting = false;
    EntryList m_entries;
    std::map<int32_t, EntryList::iterator> m_index;
};

}  // namespace yar
#endif

#endif
