// Scope guards of the reliable-UDP objects. Callers skip their work when IsLocked is 0.
#pragma once

#include "Module/Member/MemberLockGuard.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CHRUdpBase;
class CVRUDPLinkMgr;

// Locks a YAR mutex; unlocks only what it locked. The runtime's guard under the name and the
// int answer these objects' callers test.
class CGuard : private yar::yar_guard {
public:
    explicit CGuard(YAR_MUTEX_T *pMutex) : yar_guard(pMutex) {}
    int IsLocked() const { return yar_guard::IsLocked() ? 1 : 0; }
};

// The link manager's read lock on one handle. A handle of -1, a free index or a missing manager
// fails to lock; while locked, the member cannot be destroyed.
class CRWGuard {
public:
    explicit CRWGuard(int iVRUDPHandle);
    int IsLocked() const { return m_pMember ? 1 : 0; }
    // The locked member, or null.
    CHRUdpBase *Member() const { return m_pMember; }

private:
    CRWGuard(CVRUDPLinkMgr *pMgr, int iVRUDPHandle);

    CMemberLockGuard m_Lock;
    CHRUdpBase *m_pMember = nullptr;
};

}  // namespace Vorezi
