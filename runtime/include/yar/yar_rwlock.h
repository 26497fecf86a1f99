/* Reader/writer lock that prefers writers: once a writer waits, new readers wait too, and a
 * leaving writer hands over to the next writer before any reader. Not recursive: asking again
 * for the write lock while holding it, or for the write lock while reading, waits forever. */
#ifndef YAR_RWLOCK_H
#define YAR_RWLOCK_H

#include "yar_base.h"
#include "yar_cond.h"
#include "yar_mutex.h"

typedef struct YAR_RWLOCK_S *YAR_RWLOCK_T;

YAR_BEGIN_DECLS

/* Each 0, or -1 for a null pointer or an empty variable. */
int YAR_RWLock_Create(YAR_RWLOCK_T *lock); /* -1 also when the variable already holds a lock */
int YAR_RWLock_Destroy(YAR_RWLOCK_T *lock); /* sets the variable to null */
int YAR_RWLock_ReadLock(YAR_RWLOCK_T *lock);
int YAR_RWLock_TryReadLock(YAR_RWLOCK_T *lock); /* -1 also when busy */
int YAR_RWLock_ReadUnlock(YAR_RWLOCK_T *lock); /* -1 also when no reader is inside */
int YAR_RWLock_WriteLock(YAR_RWLOCK_T *lock);
int YAR_RWLock_TryWriteLock(YAR_RWLOCK_T *lock); /* -1 also when busy */
int YAR_RWLock_WriteUnlock(YAR_RWLOCK_T *lock); /* -1 also when no writer is inside */

YAR_END_DECLS

#ifdef __cplusplus
/* The lock record. A condition that could not be created stays null; waits on it return at once. */
struct YAR_RWLOCK_S {
public:
    YAR_RWLOCK_S();
    ~YAR_RWLOCK_S();
    YAR_RWLOCK_S(const YAR_RWLOCK_S &) = delete;
    YAR_RWLOCK_S &operator=(const YAR_RWLOCK_S &) = delete;

    int ReadLock();
    int TryReadLock();
    int ReadUnlock();
    int WriteLock();
    int TryWriteLock();
    int WriteUnlock();

private:
    int32_t m_readers = 0;
    bool m_writer = false;
    int32_t m_waitingWriters = 0;
    YAR_MUTEX_T m_section;
    YAR_COND_T m_readerCond = nullptr;
    YAR_COND_T m_writerCond = nullptr;
};
#endif

#endif
