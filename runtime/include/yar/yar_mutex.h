/* Mutexes, scoped guards and 32-bit interlocked operations.
 * A YAR_MUTEX_T is recursive for its owner: every lock needs its own unlock. */
#ifndef YAR_MUTEX_H
#define YAR_MUTEX_H

#include <pthread.h>

#include "yar_base.h"

typedef pthread_mutex_t YAR_MUTEX_T;

/* Static initialiser for a YAR_MUTEX_T that needs no YAR_MutexCreate (and no destroy). */
#define YAR_MUTEX_INITIALIZER PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP

YAR_BEGIN_DECLS

/* 0 on success, -1 on failure or for a null mutex. The flags are ignored. */
int YAR_MutexCreate(YAR_MUTEX_T *mutex, uint32_t flags);
int YAR_MutexDestroy(YAR_MUTEX_T *mutex);
int YAR_MutexLock(YAR_MUTEX_T *mutex);
/* 0 when taken (also when the caller already holds it), -1 when another thread holds it. */
int YAR_MutexTryLock(YAR_MUTEX_T *mutex);
int YAR_MutexUnlock(YAR_MUTEX_T *mutex);

/* Sequentially consistent operations on a 32-bit signed counter. */
int32_t YAR_AtomicInc(int32_t *counter);                 /* the new value */
int32_t YAR_AtomicDec(int32_t *counter);                 /* the new value */
int32_t YAR_AtomicAdd(int32_t *counter, int32_t addend); /* the previous value */
int32_t YAR_AtomicSet(int32_t *counter, int32_t value);  /* the previous value */
/* Stores newValue when the counter equals comparand; returns the previous value, so the exchange
 * took place exactly when the result equals comparand. */
int32_t YAR_AtomicCas(int32_t *counter, int32_t newValue, int32_t comparand);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

class yar_mutex {
public:
    yar_mutex();
    explicit yar_mutex(uint32_t flags);
    ~yar_mutex();
    yar_mutex(const yar_mutex &) = delete;
    yar_mutex &operator=(const yar_mutex &) = delete;

    int Lock();
    int Unlock();
    int TryLock(); /* 0 when taken, -1 when busy */
    YAR_MUTEX_T *Native() { return &m_section; }

private:
    YAR_MUTEX_T m_section;
};

/* The same mutex with a virtual destructor, for owners that are deleted through a base pointer. */
class yar_recursive_mutex : public yar_mutex {
public:
    yar_recursive_mutex() = default;
    virtual ~yar_recursive_mutex();
};

/* Holds a mutex from construction until Release or destruction. A null mutex, or one whose lock
 * failed, is held by nobody. Inline, so that a guard costs what the two calls it makes cost. */
class yar_guard {
public:
    explicit yar_guard(YAR_MUTEX_T *section)
        : m_section(section && YAR_MutexLock(section) == 0 ? section : nullptr) {}
    ~yar_guard() { Release(); }
    yar_guard(const yar_guard &) = delete;
    yar_guard &operator=(const yar_guard &) = delete;

    /* Whether the mutex is held: false for a null mutex, a failed lock or after Release. */
    bool IsLocked() const { return m_section != nullptr; }
    /* Unlocks now; returns the mutex that was held (null when none). */
    YAR_MUTEX_T *Release() {
        YAR_MUTEX_T *held = m_section;
        if (held) {
            YAR_MutexUnlock(held);
            m_section = nullptr;
        }
        return held;
    }

private:
    YAR_MUTEX_T *m_section;
};

}  // namespace yar
#endif

#endif
