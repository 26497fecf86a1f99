// The controller's secure-link managers.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/secure/SecureLinkMgr.h"

namespace Vorezi {

using secure::CSecureLinkListenMgr;
using secure::CSecureServerLinkMgr;

namespace {

// A manager made while initialised; one that cannot take its table is no manager.
template <class T>
T *NewManager(CCoreGlobalCtrlBase *pCtrl, const char *pFailText) {
    if (!pCtrl->IsInited())
        return nullptr;
    auto *p = new (std::nothrow) T;
    if (!p || !p->CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
        delete p;
        p = nullptr;
    }
    return p;
}

}  // namespace

secure::CSecureLinkListenMgr *CCoreGlobalCtrlBase::GetSecureLinkServerMgr() {
    if (CSecureLinkListenMgr *p = m_pSecureLinkListenMgr.load(std::memory_order_acquire))
        return p;
    return IsInited() ? GetManager(m_pSecureLinkListenMgr, [this] {
        return NewManager<CSecureLinkListenMgr>(this, "CCoreGlobalCtrlBase::GetSecureLinkServerMgr, New CSecureLinkListenMgr Failed");
    }) : nullptr;
}

secure::CSecureServerLinkMgr *CCoreGlobalCtrlBase::GetSecureLinkMgr() {
    if (CSecureServerLinkMgr *p = m_pSecureServerLinkMgr.load(std::memory_order_acquire))
        return p;
    return IsInited() ? GetManager(m_pSecureServerLinkMgr, [this] {
        return NewManager<CSecureServerLinkMgr>(this, "CCoreGlobalCtrlBase::GetSecureLinkMgr, New CSecureServerLinkMgr Failed");
    }) : nullptr;
}

// The listen sessions go first and destroy their server sessions through the server manager,
// which stays reachable until they are gone.
void CCoreGlobalCtrlBase::ReleaseSecureLinkMgrs() {
    if (!Lock())
        return;
    delete m_pSecureLinkListenMgr.load(std::memory_order_acquire);
    m_pSecureLinkListenMgr.store(nullptr, std::memory_order_release);
    delete m_pSecureServerLinkMgr.load(std::memory_order_acquire);
    m_pSecureServerLinkMgr.store(nullptr, std::memory_order_release);
    Unlock();
}

}  // namespace Vorezi
