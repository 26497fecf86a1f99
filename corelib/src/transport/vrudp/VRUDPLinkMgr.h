// Owns every reliable-UDP object and hands out its handle (the member index, 0 .. 0x4FFF).
// Endpoints come from a pool of their own; connections (and later control links) from the
// member pool. Both pools take the sizes of the classes themselves.
#pragma once

#include "Module/Member/MemberBase.h"
#include "transport/vrudp/ComVRUDP.h"

namespace Vorezi {

class CHRUdpBase;

class CVRUDPLinkMgr : public CMemberMgrBase {
public:
    explicit CVRUDPLinkMgr(unsigned uiTotalNum);
    ~CVRUDPLinkMgr() override;

    int CheckResource() override;
    CMemberBase *NewMemoryObject(void *pParam) override;

    // The handle, or -1.
    int Create(VRUDP_LINK_NEW *pstLinkNew);
    // Stops and frees the member. An endpoint's threads are joined first, outside the member's
    // write lock, so a callback still running there can take read locks on its way out.
    int Destroy(int iVRUDPHandle);
    // The member while the caller holds its read lock.
    CHRUdpBase *GetObject(int iVRUDPHandle);

private:
    int m_bCreatedPool = 0;
    int m_nClassHRUdpCommandMemPoolIndex = -1;
};

// The controller's manager: null once the library is finishing (callers cope with null).
CVRUDPLinkMgr *GetVRUDPLinkMgr();

}  // namespace Vorezi
