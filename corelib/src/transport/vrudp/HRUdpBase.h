// The abstract base of every reliable-UDP object (endpoint, connection, control link): the
// virtual slots that the handle interface calls, with their defaults.
#pragma once

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
};

}  // namespace Vorezi
