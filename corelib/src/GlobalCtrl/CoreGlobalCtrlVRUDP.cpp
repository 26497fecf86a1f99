// The controller's reliable-UDP link manager.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/VRUDPLinkMgr.h"

namespace Vorezi {

namespace {
constexpr unsigned kVRUDPMembers = 20480;
}

CVRUDPLinkMgr *CCoreGlobalCtrlBase::GetVRUDPLinkMgr() {
    if (CVRUDPLinkMgr *p = m_pVRUDPLinkMgr.load(std::memory_order_acquire))
        return p;
    if (!IsInited())
        return nullptr;
    return GetManager(m_pVRUDPLinkMgr, []() -> CVRUDPLinkMgr * {
        auto *p = new (std::nothrow) CVRUDPLinkMgr(kVRUDPMembers);
        if (!p || !p->CheckResource()) {
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetVRUDPLinkMgr, New CVRUDPLinkMgr Failed");
            delete p;
            p = nullptr;
        }
        return p;
    });
}

// The manager stays reachable while it is deleted: its endpoints and connections find it on the
// way out.
void CCoreGlobalCtrlBase::ReleaseVRUDPLinkMgr() {
    if (!Lock())
        return;
    delete m_pVRUDPLinkMgr.load(std::memory_order_acquire);
    m_pVRUDPLinkMgr.store(nullptr, std::memory_order_release);
    Unlock();
}

}  // namespace Vorezi
