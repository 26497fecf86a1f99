// The controller's SSL library lock held for one scope.
#pragma once

#include "GlobalCtrl/CoreGlobalCtrl.h"

namespace Vorezi {

// Holds the controller's SSL library lock for one scope (the lock is recursive).
class SSLLibGuard {
public:
    SSLLibGuard() : m_bLocked(GetCoreGlobalCtrl()->SSLLibLock() != 0) {}
    ~SSLLibGuard() {
        if (m_bLocked)
            Unlock();
    }
    bool Locked() const { return m_bLocked; }
    // 1 when the lock was given back.
    int Unlock() {
        m_bLocked = false;
        return GetCoreGlobalCtrl()->SSLLibUnlock();
    }

private:
    bool m_bLocked;
};

}  // namespace Vorezi
