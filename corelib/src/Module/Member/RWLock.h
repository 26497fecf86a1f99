// A reader/writer lock over one recursive mutex: readers hold the mutex only while they count
// themselves in, the writer holds it for its whole hold. The writing thread may therefore also
// take the read lock (stop paths of the transports rely on it); any other thread's reader
// waits for WriteUnlock. Writers get no priority and poll every millisecond while readers are
// counted. A thread that holds the read lock must not ask for the write lock.
#pragma once

#include <cstdint>

#include "yar/yar_mutex.h"

namespace Vorezi {

class CRWLock {
public:
    CRWLock();
    virtual ~CRWLock();
    CRWLock(const CRWLock &) = delete;
    CRWLock &operator=(const CRWLock &) = delete;

    int CheckInit() const { return m_bInit; }
    // 1 when taken or released, 0 when the mutex fails.
    int ReadLock();
    int ReadUnlock();
    int WriteLock();
    int TryWriteLock();
    int WriteUnlock();
    // Mode 0 does nothing, 1 is the read lock, any other the write lock.
    int Lock(int iMode);
    int Unlock(int iMode);

private:
    YAR_MUTEX_T m_Mutex;
    int m_bInit = 0;
    int32_t m_iReaderCount = 0;
    int32_t m_iWriterCount = 0;
};

// Takes the read (bRead nonzero) or write lock for its lifetime; callers return at once when
// IsLocked is 0.
class CRWLockGuard {
public:
    CRWLockGuard(CRWLock *pLock, int bRead);
    virtual ~CRWLockGuard();
    CRWLockGuard(const CRWLockGuard &) = delete;
    CRWLockGuard &operator=(const CRWLockGuard &) = delete;

    int IsLocked() const { return m_bLocked; }

private:
    int m_bLocked = 0;
    int m_bRead = 0;
    CRWLock *m_pLock = nullptr;
};

}  // namespace Vorezi
