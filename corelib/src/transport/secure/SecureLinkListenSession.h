// A listen session: one listening reliable-UDP endpoint and the server sessions of the peers that
// talk to it. Packets are sorted by peer (their connection, or address and port for plain
// "QDSC"/"QDBD" datagrams); a peer's first packet makes its server session, and close notices,
// the session's own verdict and five minutes of silence of a datagram peer end it.
#pragma once

#include <atomic>
#include <cstdint>

#include "Module/Member/MemberBase.h"
#include "transport/secure/SecureLinkRecords.h"
#include "transport/secure/SecurePeerTable.h"
#include "transport/vrudp/ComVRUDP.h"

namespace Vorezi {
namespace secure {

class CSecureLinkListenSession : public CMemberBase {
public:
    CSecureLinkListenSession() = default;
    ~CSecureLinkListenSession() override;

    int Start(void *pParam) override;
    int Stop() override;

    int SetDataCB(SECURE_DATA_CALLBACK fnDataCB, void *pUserData);
    int CloseRemoteLink(int iSecureHandle);
    // Closes the listening endpoint, which joins its threads; no callback runs afterwards.
    void CloseEndpoint();
    int VRUDPHandle() const { return m_iVRUDPListenHandle.load(); }

    // Forwards to the listening endpoint.
    int Bind(const VRUDP_SOCK_ADDR *pAddr);
    int GetSockBuffSize(int *piSend, int *piRecv);
    int SetSockBuffSize(int iSend, int iRecv);
    int SendData(const void *pData, int iLen, const VRUDP_SOCK_ADDR *pAddr, uint32_t dwTimeOut);
    int SetMTUSize(uint16_t wMTU);
    int SetNoBlock(int bYesNo);
    int SetReuseAddr(int bYesNo);
    int ShutDown(int iHow);

private:
    static void VRUDPRecvDataCallback(void *pUserData, VRUDP_RECV_DATA *pStruData);
    void OnRecv(const VRUDP_RECV_DATA &data);
    int ProcSecureData(const SECURE_RECV_DATA &recv);
    int CreateServerSession(const SECURE_RECV_DATA &recv);
    void DestroyServerSession(int iSecureHandle, bool bLinkGone);
    void ClearTimeOutLinkSession();
    void DataCallBack(const SECURE_RECV_DATA &recv);
    int CleanParam();
    int Handle() const { return m_iHandle; }

    int m_iHandle = -1;
    std::atomic<SECURE_DATA_CALLBACK> m_fnDataCB{nullptr};
    std::atomic<void *> m_pUserData{nullptr};
    std::atomic<int> m_iVRUDPListenHandle{-1};
    std::atomic<bool> m_bStopping{false};
    SECURE_LISTEN_PARAM m_stParam = {};
    CSecurePeerTable m_table;
};

} // namespace secure
} // namespace Vorezi
