// Counting semaphores with an enforced maximum, over a mutex and a CLOCK_MONOTONIC condition.
// A post signals while it holds the mutex, so a waiter that wakes and destroys the semaphore at
// once cannot free it under the poster.
#include <cerrno>
#include <new>

#include "internal/monotonic_wait.h"
#include "internal/syserr.h"
#include "yar/yar_cond.h"
#include "yar/yar_error.h"

struct YAR_SEM_S {
    pthread_mutex_t lock;
    pthread_cond_t available;
    int32_t count;
    int32_t max;
};

namespace {

constexpr int32_t kClassSemMax = 0x7FFFFFFF;

int CreateSem(YAR_SEM_T *sem, int32_t initialCount, int32_t maxCount) {
    if (!sem || maxCount <= 0 || initialCount < 0 || initialCount > maxCount) {
        yar::internal::SetSystemErrorFromErrno(EINVAL);
        return -1;
    }
    YAR_SEM_S *rec = new (std::nothrow) YAR_SEM_S;
    if (!rec) {
        yar::internal::SetSystemErrorFromErrno(ENOMEM);
        return -1;
    }
    int err = pthread_mutex_init(&rec->lock, nullptr);
    if (err == 0) {
        err = yar::internal::InitMonotonicCond(&rec->available);
        if (err != 0)
            pthread_mutex_destroy(&rec->lock);
    }
    if (err != 0) {
        yar::internal::SetSystemErrorFromErrno(err);
        delete rec;
        return -1;
    }
    rec->count = initialCount;
    rec->max = maxCount;
    *sem = rec;
    return 0;
}

int DestroySem(YAR_SEM_S *rec) {
    pthread_cond_destroy(&rec->available);
    pthread_mutex_destroy(&rec->lock);
    delete rec;
    return 0;
}

// Negative time-outs wait forever.
int WaitSem(YAR_SEM_S *rec, int32_t timeoutMs) {
    timespec deadline;
    if (timeoutMs >= 0)
        deadline = yar::internal::MonotonicDeadline(timeoutMs);
    pthread_mutex_lock(&rec->lock);
    while (rec->count == 0) {
        if (yar::internal::WaitUntil(&rec->available, &rec->lock, timeoutMs >= 0 ? &deadline : nullptr) ==
                ETIMEDOUT &&
            rec->count == 0) {
            pthread_mutex_unlock(&rec->lock);
            return -1;
        }
    }
    --rec->count;
    pthread_mutex_unlock(&rec->lock);
    return 0;
}

int PostSem(YAR_SEM_S *rec) {
    pthread_mutex_lock(&rec->lock);
    if (rec->count >= rec->max) {
        pthread_mutex_unlock(&rec->lock);
        YAR_SetSystemLastError(YAR_SYSERR_TOO_MANY_POSTS);
        return -1;
    }
    ++rec->count;
    pthread_cond_signal(&rec->available);
    pthread_mutex_unlock(&rec->lock);
    return 0;
}

YAR_SEM_S *Record(YAR_SEM_T *sem) {
    return sem ? *sem : nullptr;
}

}  // namespace

extern "C" {

int YAR_SemCreate(YAR_SEM_T *sem, int32_t initialCount) {
    return CreateSem(sem, initialCount, YAR_SEM_MAX_COUNT);
}

int YAR_SemDestroy(YAR_SEM_T *sem) {
    YAR_SEM_S *rec = Record(sem);
    return rec ? DestroySem(rec) : -1;
}

int YAR_SemWait(YAR_SEM_T *sem) {
    YAR_SEM_S *rec = Record(sem);
    return rec ? WaitSem(rec, -1) : -1;
}

int YAR_SemTimedWait(YAR_SEM_T *sem, int32_t timeoutMs) {
    YAR_SEM_S *rec = Record(sem);
    return rec ? WaitSem(rec, timeoutMs) : -1;
}

int YAR_SemPost(YAR_SEM_T *sem) {
    YAR_SEM_S *rec = Record(sem);
    return rec ? PostSem(rec) : -1;
}

}  // extern "C"

namespace yar {

yar_sem::yar_sem() : yar_sem(0) {}

yar_sem::yar_sem(int32_t initialCount) : m_sem(nullptr) {
    CreateSem(&m_sem, initialCount, kClassSemMax);
}

yar_sem::~yar_sem() {
    Destroy();
}

int yar_sem::Create(int32_t initialCount) {
    return CreateSem(&m_sem, initialCount, kClassSemMax);
}

int yar_sem::Destroy() {
    if (m_sem) {
        DestroySem(m_sem);
        m_sem = nullptr;
    }
    return 0;
}

int yar_sem::Post() { return YAR_SemPost(&m_sem); }
int yar_sem::Post(int32_t) { return YAR_SemPost(&m_sem); }
int yar_sem::TimedWait(int32_t timeoutMs) { return YAR_SemTimedWait(&m_sem, timeoutMs); }

yar_semaphore::yar_semaphore(int32_t initialCount, int32_t maxCount) : m_sem(nullptr) {
    CreateSem(&m_sem, initialCount, maxCount);
}

yar_semaphore::~yar_semaphore() {
    YAR_SemDestroy(&m_sem);
}

int yar_semaphore::Wait() { return YAR_SemWait(&m_sem); }
int yar_semaphore::TimedWait(int32_t timeoutMs) { return YAR_SemTimedWait(&m_sem, timeoutMs); }
int yar_semaphore::Post() { return YAR_SemPost(&m_sem); }

}  // namespace yar
