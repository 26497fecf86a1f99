/* Condition objects (used with a caller's YAR_MUTEX_T) and counting semaphores.
 * Time-outs are milliseconds; a negative time-out waits forever. */
#ifndef YAR_COND_H
#define YAR_COND_H

#include "yar_base.h"
#include "yar_mutex.h"

typedef struct YAR_COND_S *YAR_COND_T;
typedef struct YAR_SEM_S *YAR_SEM_T;

/* Highest count of a YAR_SEM_T. */
#define YAR_SEM_MAX_COUNT 0xFFFF

YAR_BEGIN_DECLS

int YAR_CondCreate(YAR_COND_T *cond);
/* Frees the record; the caller's variable is left as it was. */
int YAR_CondDestroy(YAR_COND_T *cond);
int YAR_CondWait(YAR_COND_T *cond, YAR_MUTEX_T *section);
/* Entered and left with the section held once. 0 when woken by a signal or broadcast, -1 on
 * time-out. The time-out is one deadline: wake-ups meant for other waiters do not restart it. */
int YAR_CondTimedWait(YAR_COND_T *cond, YAR_MUTEX_T *section, int32_t timeoutMs);
/* Wakes exactly one current waiter; with none it has no effect. Call with the section held. */
int YAR_CondSignal(YAR_COND_T *cond);
/* Wakes every current waiter; threads that start waiting afterwards are not woken. */
int YAR_CondBroadcast(YAR_COND_T *cond);

/* Creates a semaphore with maximum YAR_SEM_MAX_COUNT; the variable is not written on failure. */
int YAR_SemCreate(YAR_SEM_T *sem, int32_t initialCount);
int YAR_SemDestroy(YAR_SEM_T *sem);
int YAR_SemWait(YAR_SEM_T *sem);
/* 0 when a unit was taken, -1 on time-out or failure; 0 ms only polls. */
int YAR_SemTimedWait(YAR_SEM_T *sem, int32_t timeoutMs);
/* Releases one unit; -1 at the maximum count. */
int YAR_SemPost(YAR_SEM_T *sem);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

class yar_cond {
public:
    yar_cond();
    ~yar_cond();
    yar_cond(const yar_cond &) = delete;
    yar_cond &operator=(const yar_cond &) = delete;

    int Wait(YAR_MUTEX_T *section);
    int TimedWait(YAR_MUTEX_T *section, int32_t timeoutMs);
    int Signal();
    int Broadcast();

private:
    YAR_COND_T m_cond;
};

/* A semaphore with maximum 0x7FFFFFFF. */
class yar_sem {
public:
    yar_sem();
    explicit yar_sem(int32_t initialCount);
    virtual ~yar_sem();
    yar_sem(const yar_sem &) = delete;
    yar_sem &operator=(const yar_sem &) = delete;

    /* Creates a new semaphore; call only after Destroy (it closes nothing). */
    int Create(int32_t initialCount);
    int Destroy();
    int Post();
    int Post(int32_t ignored); /* one unit, like Post() */
    int TimedWait(int32_t timeoutMs);

private:
    YAR_SEM_T m_sem;
};

class yar_semaphore {
public:
    yar_semaphore(int32_t initialCount, int32_t maxCount);
    ~yar_semaphore();
    yar_semaphore(const yar_semaphore &) = delete;
    yar_semaphore &operator=(const yar_semaphore &) = delete;

    int Wait();
    int TimedWait(int32_t timeoutMs);
    int Post();

private:
    YAR_SEM_T m_sem;
};

}  // namespace yar
#endif

#endif
