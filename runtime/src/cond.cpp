// Condition objects over a CLOCK_MONOTONIC pthread condition.
//
// A signal hands out one wake token and starts a new generation; only waiters that entered before
// the newest generation may take a token. So a signal releases exactly one current waiter, a
// broadcast all current waiters, a thread that starts waiting afterwards is not released by them,
// and spurious wake-ups of the pthread condition are never reported as a signal.
#include <atomic>
#include <cerrno>
#include <new>

#include "internal/monotonic_wait.h"
#include "internal/syserr.h"
#include "yar/yar_cond.h"

// The counters change under the caller's section; they are atomic because signal and broadcast
// take no lock of their own and a careless caller may signal without the section.
struct YAR_COND_S {
    pthread_cond_t cv;
    std::atomic<int32_t> waiters{0};
    std::atomic<int32_t> wakeups{0};
    std::atomic<uint32_t> generation{0};
};

namespace {

YAR_COND_S *Record(YAR_COND_T *cond) {
    return cond ? *cond : nullptr;
}

// Takes a wake token meant for a waiter that entered in generation `entered`.
bool TakeWakeup(YAR_COND_S *rec, uint32_t entered) {
    if (rec->generation.load() == entered || rec->wakeups.load() <= 0)
        return false;
    rec->wakeups.fetch_sub(1);
    return true;
}

}  // namespace

extern "C" {

int YAR_CondCreate(YAR_COND_T *cond) {
    if (!cond)
        return -1;
    YAR_COND_S *rec = new (std::nothrow) YAR_COND_S;
    if (!rec)
        return -1;
    int err = yar::internal::InitMonotonicCond(&rec->cv);
    if (err != 0) {
        yar::internal::SetSystemErrorFromErrno(err);
        delete rec;
        return -1;
    }
    *cond = rec;
    return 0;
}

int YAR_CondDestroy(YAR_COND_T *cond) {
    YAR_COND_S *rec = Record(cond);
    if (!rec)
        return -1;
    int err = pthread_cond_destroy(&rec->cv);
    delete rec;
    return err == 0 ? 0 : -1;
}

int YAR_CondWait(YAR_COND_T *cond, YAR_MUTEX_T *section) {
    return YAR_CondTimedWait(cond, section, -1);
}

int YAR_CondTimedWait(YAR_COND_T *cond, YAR_MUTEX_T *section, int32_t timeoutMs) {
    YAR_COND_S *rec = Record(cond);
    if (!rec || !section)
        return -1;
    timespec deadline;
    if (timeoutMs >= 0)
        deadline = yar::internal::MonotonicDeadline(timeoutMs);
    const uint32_t entered = rec->generation.load();
    rec->waiters.fetch_add(1);
    int result = 0;
    for (;;) {
        int err = yar::internal::WaitUntil(&rec->cv, section, timeoutMs >= 0 ? &deadline : nullptr);
        if (TakeWakeup(rec, entered))
            break;
        if (err == ETIMEDOUT) {
            result = -1;
            break;
        }
    }
    rec->waiters.fetch_sub(1);
    return result;
}

int YAR_CondSignal(YAR_COND_T *cond) {
    YAR_COND_S *rec = Record(cond);
    if (!rec)
        return -1;
    if (rec->waiters.load() > rec->wakeups.load()) {
        rec->wakeups.fetch_add(1);
        rec->generation.fetch_add(1);
        // Every waiter must look: the one that pthread would pick may be too young for the token.
        pthread_cond_broadcast(&rec->cv);
    }
    return 0;
}

int YAR_CondBroadcast(YAR_COND_T *cond) {
    YAR_COND_S *rec = Record(cond);
    if (!rec)
        return -1;
    int32_t waiters = rec->waiters.load();
    if (waiters > rec->wakeups.load()) {
        rec->wakeups.store(waiters);
        rec->generation.fetch_add(1);
        pthread_cond_broadcast(&rec->cv);
    }
    return 0;
}

}  // extern "C"

namespace yar {

yar_cond::yar_cond() : m_cond(nullptr) {
    YAR_CondCreate(&m_cond);
}

yar_cond::~yar_cond() {
    YAR_CondDestroy(&m_cond);
}

int yar_cond::Wait(YAR_MUTEX_T *section) { return YAR_CondWait(&m_cond, section); }
int yar_cond::TimedWait(YAR_MUTEX_T *section, int32_t timeoutMs) {
    return YAR_CondTimedWait(&m_cond, section, timeoutMs);
}
int yar_cond::Signal() { return YAR_CondSignal(&m_cond); }
int yar_cond::Broadcast() { return YAR_CondBroadcast(&m_cond); }

}  // namespace yar
