// Scope guards of the reliable-UDP objects. Callers skip their work when IsLocked is 0.
#pragma once

#include "yar/yar_mutex.h"

namespace Vorezi {

class CHRUdpBase;

// Locks a YAR mutex; unlocks only what it locked.
class CGuard {
public:
    explicit CGuard(YAR_MUTEX_T *pMutex);
    ~CGuard();
    CGuard(const CGuard &) = delete;
    CGuard &operator=(const CGuard &) = delete;
    int IsLocked() const { return m_bLocked; }

private:
    YAR_MUTEX_T *m_pMutex;
    int m_bLocked = 0;
};

// The link manager's read lock on one handle. A handle of -1, a free index or a missing manager
// fails to lock; while locked, the member cannot be destroyed.
class CRWGuard {
public:
    explicit CRWGuard(int iVRUDPHandle);
    ~CRWGuard();
    CRWGuard(const CRWGuard &) = delete;
    CRWGuard &operator=(const CRWGuard &) = delete;
    int IsLocked() const { return m_bLocked; }
    // The locked member, or null.
    CHRUdpBase *Member() const { return m_pMember; }

private:
    int m_bLocked = 0;
    int m_iHandle;
    CHRUdpBase *m_pMember = nullptr;
};

}  // namespace Vorezi
