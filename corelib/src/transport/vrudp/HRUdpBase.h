// The abstract base of every reliable-UDP object (endpoint, connection, control link): the
// virtual slots that the handle interface calls, with their defaults.
#pragma once

#include <atomic>

#include "Module/Member/MemberBase.h"
#include "transport/vrudp/ComVRUDP.h"

namespace Vorezi {

class CHRUdpBase : public CMemberBase {
public:
    ~CHRUdpBase() override = default;

    virtual int ShutDown(int iHow);
    virtual int Bind(const VRUDP_SOCK_ADDR *pstSockAddr);
    virtual int ConnectRemote(const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut);
    virtual int Listen(void *pUser, VRUDP_RECV_CALLBACK fnRecvCB);
    virtual int SendFin();
    virtual int SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut);
    virtual int SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize);
    virtual void SetAcceptIndex(int iVRUDPHandle);
    virtual int GetFatherLink();
    virtual int RecvFrom(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut);
    virtual int GetSocket() = 0;
    virtual int RemoveAcceptHandle(int iVRUDPHandle);

    // Set once the manager has begun to destroy the object. The member lock lets a waiting writer
    // in only when no reader is counted, so new users back off at once instead of keeping the
    // destroy waiting.
    void MarkClosing() { m_bClosing.store(1); }
    bool IsClosing() const { return m_bClosing.load() != 0; }

private:
    std::atomic<int> m_bClosing{0};
};

}  // namespace Vorezi
