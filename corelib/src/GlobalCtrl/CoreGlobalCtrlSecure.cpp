// The controller's secure-link managers.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/SecureLinkMgr.h"

namespace Vorezi {

using secure::CSecureLinkListenMgr;
using secure::CSecureServerLinkMgr;

namespace {

// Made without the control lock: a byProType-9 server link asks for the managers while it holds
// its own member lock, which a fini takes under the control lock. Of two racing makers the
// second deletes its manager and takes the first's.
template <class T>
T *MakeOnce(CCoreGlobalCtrlBase *pCtrl, std::atomic<T *> &pManager, const char *pFailText) {
    if (T *p = pManager.load(std::memory_order_acquire))
        return p;
    if (!pCtrl->IsInited())
        return nullptr;
    auto *p = new (std::nothrow) T;
    if (!p || !p->CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
        delete p;
        return nullptr;
    }
    T *pExpected = nullptr;
    if (!pManager.compare_exchange_strong(pExpected, p, std::memory_order_acq_rel)) {
        delete p;
        return pExpected;
    }
    return p;
}

}  // namespace

secure::CSecureLinkListenMgr *CCoreGlobalCtrlBase::GetSecureLinkServerMgr() {
    return MakeOnce(this, m_pSecureLinkListenMgr,
                    "CCoreGlobalCtrlBase::GetSecureLinkServerMgr, New CSecureLinkListenMgr Failed");
}

secure::CSecureServerLinkMgr *CCoreGlobalCtrlBase::GetSecureLinkMgr() {
    return MakeOnce(this, m_pSecureServerLinkMgr, "CCoreGlobalCtrlBase::GetSecureLinkMgr, New CSecureServerLinkMgr Failed");
}

// The listen sessions go first and destroy their server sessions through the server manager,
// which stays reachable until they are gone. The library is no longer initialised here, so
// nothing makes them anew.
void CCoreGlobalCtrlBase::ReleaseSecureLinkMgrs() {
    delete m_pSecureLinkListenMgr.load(std::memory_order_acquire);
    m_pSecureLinkListenMgr.store(nullptr, std::memory_order_release);
    delete m_pSecureServerLinkMgr.load(std::memory_order_acquire);
    m_pSecureServerLinkMgr.store(nullptr, std::memory_order_release);
}

}  // namespace Vorezi
