// Managers of the transports that the global controller makes on first use.
#include <new>

#include "CoreGlobalCtrl.h"
#include "transport/PortPoolMgr.h"

namespace Vorezi {

CPortPoolMgr *CCoreGlobalCtrlBase::GetPortPoolMgr() {
    return GetManager(m_pPortPoolMgr, []() -> CPortPoolMgr * {
        auto *p = new (std::nothrow) CPortPoolMgr;
        if (p && !p->Init()) {
            delete p;
            p = nullptr;
        }
        return p;
    });
}

void CCoreGlobalCtrlBase::ReleasePortPoolMgr() {
    ReleaseManager(m_pPortPoolMgr);
}

// The CA certificates are reloaded by the TLS binding; until it has loaded the TLS library
// there is nothing to reload into.
int CCoreGlobalCtrlBase::RefreshCA() {
    SetLastError(MORVA_ERR_CA_BEFORE_INIT);
    return 0;
}

}  // namespace Vorezi
