#include "transport/vrudp/VRUDPGuard.h"

#include "transport/vrudp/HRUdpBase.h"
#include "transport/vrudp/VRUDPLinkMgr.h"

namespace Vorezi {

CRWGuard::CRWGuard(int iVRUDPHandle) : m_iHandle(iVRUDPHandle) {
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    if (!pMgr || !pMgr->ReadLockMember(iVRUDPHandle))
        return;
    m_pMember = pMgr->GetObject(iVRUDPHandle);
    if (!m_pMember || m_pMember->IsClosing()) {
        // A free slot, or a member on its way out: nothing to hold.
        m_pMember = nullptr;
        pMgr->ReadUnlockMember(iVRUDPHandle);
        return;
    }
    m_bLocked = 1;
}

CRWGuard::~CRWGuard() {
    if (!m_bLocked)
        return;
    if (CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr())
        pMgr->ReadUnlockMember(m_iHandle);
}

}  // namespace Vorezi
