// The two managers of the secure link: listen sessions (on the heap) and server sessions (in the
// manager's own pool), 20480 members each. A server session's index is also its entry in its
// listen session's peer table.
#pragma once

#include "Module/Member/MemberBase.h"
#include "transport/secure/SecureLinkRecords.h"

namespace Vorezi {
namespace secure {

class CSecureLinkListenMgr : public CMemberMgrBase {
public:
    CSecureLinkListenMgr();
    ~CSecureLinkListenMgr() override;

    CMemberBase *NewMemoryObject(void *pParam) override;

    // A listen handle, or -1.
    int Create(const SECURE_LISTEN_PARAM *pParam);
    int Destroy(int iSecureListenHandle);
};

class CSecureServerLinkMgr : public CMemberMgrBase {
public:
    CSecureServerLinkMgr();
    ~CSecureServerLinkMgr() override;

    int CheckResource() override;
    CMemberBase *NewMemoryObject(void *pParam) override;

    int Create(const SECURE_SERVER_CREATE *pLinkParam);
    // bLinkGone: the peer's connection is already closed and must not be closed again.
    int Destroy(int iSecureHandle, bool bLinkGone = false);
    int InputData(int iSecureHandle, const SECURE_RECV_DATA *pRecvData, int iFlag);
    int SetDataCB(int iSecureHandle, SECURE_DATA_CALLBACK fnDataCB, void *pUserData);
    // Marks the session so that it ends when its running callback returns.
    int RequestClose(int iSecureHandle);
    int ForceStopByLinkHandle(int iSecureListenHandle);

private:
    int m_bInitSucc = 0;
};

} // namespace secure
} // namespace Vorezi
