// A member's slot lock held for one scope, in the calling order of MemberBase.h: lock the slot,
// then look the member up under the lock.
#pragma once

#include "Module/Member/MemberBase.h"

namespace Vorezi {

class CMemberLockGuard {
public:
    // The read lock, or the write lock when bExclusive. A null manager counts as a failed lock.
    CMemberLockGuard(CMemberMgrBase *pMgr, int iIndex, bool bExclusive = false)
        : m_pMgr(pMgr), m_iIndex(iIndex), m_bExclusive(bExclusive) {
        if (m_pMgr)
            m_bLocked = (bExclusive ? m_pMgr->WriteLockMember(iIndex) : m_pMgr->ReadLockMember(iIndex)) != 0;
    }
    ~CMemberLockGuard() { Unlock(); }
    CMemberLockGuard(const CMemberLockGuard &) = delete;
    CMemberLockGuard &operator=(const CMemberLockGuard &) = delete;

    bool IsLocked() const { return m_bLocked; }
    // The slot's member when the lock is held and the member is a T, else null.
    template <class T>
    T *Get() const {
        return m_bLocked ? dynamic_cast<T *>(m_pMgr->GetMember(m_iIndex)) : nullptr;
    }
    // Leaves the lock now: the manager's unlock result, or 0 when nothing was held.
    int Unlock() {
        if (!m_bLocked)
            return 0;
        m_bLocked = false;
        return m_bExclusive ? m_pMgr->WriteUnlockMember(m_iIndex) : m_pMgr->ReadUnlockMember(m_iIndex);
    }

private:
    CMemberMgrBase *m_pMgr;
    int m_iIndex;
    bool m_bExclusive;
    bool m_bLocked = false;
};

}  // namespace Vorezi
