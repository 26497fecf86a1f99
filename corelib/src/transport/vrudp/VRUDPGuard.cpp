#include "transport/vrudp/VRUDPGuard.h"

#include "transport/vrudp/HRUdpBase.h"
#include "transport/vrudp/VRUDPLinkMgr.h"

namespace Vorezi {

CRWGuard::CRWGuard(int iVRUDPHandle) : CRWGuard(GetVRUDPLinkMgr(), iVRUDPHandle) {}

CRWGuard::CRWGuard(CVRUDPLinkMgr *pMgr, int iVRUDPHandle) : m_Lock(pMgr, iVRUDPHandle) {
    CHRUdpBase *pMember = m_Lock.IsLocked() ? pMgr->GetObject(iVRUDPHandle) : nullptr;
    // A free slot, or a member on its way out: nothing to hold.
    if (!pMember || pMember->IsClosing()) {
        m_Lock.Unlock();
        return;
    }
    m_pMember = pMember;
}

}  // namespace Vorezi
