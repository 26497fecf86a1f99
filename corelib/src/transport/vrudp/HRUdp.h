// One reliable-UDP connection. It owns no socket: its endpoint (CHRUdpCommand) receives every
// datagram, routes RUDP packets here by session id and runs the threads that drive it; the
// connection sends on the endpoint's socket to its own remote address.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/vrudp/HRSocket.h"
#include "transport/vrudp/HRUdpBase.h"
#include "transport/vrudp/RecvQueue.h"
#include "transport/vrudp/SndQueue.h"
#include "transport/vrudp/VRUDPRtt.h"
#include "yar/yar_cond.h"

namespace Vorezi {

class CHRUdp : public CHRUdpBase {
public:
    // At most this many blocks make one message: the receive ring holds 128 units.
    static constexpr int kMaxMsgBlocks = vrudp::kRingSlots;
    static constexpr int kSendWindow = 20;      // blocks beyond the window base
    static constexpr int kMaxSendCount = 128;   // sends of one block before the connection gives up
    static constexpr uint32_t kClientHeartMs = 60000;
    static constexpr uint32_t kClientExpireMs = 80000;
    static constexpr uint32_t kServerExpireMs = 90000;

    CHRUdp();
    ~CHRUdp() override;

    int Start(void *pParam) override;
    int Stop() override;
    int ShutDown(int iHow) override;
    int SendFin() override;
    int SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) override;
    int GetFatherLink() override { return m_iFatherLink; }
    int GetSocket() override { return m_oHRSocket.GetSocket(); }

    // Set by the endpoint when it creates the connection.
    void SetFatherLink(int iFather) { m_iFatherLink = iFather; }
    void SetVersion(uint8_t byVersion) { m_byVersion = byVersion; }
    void SetRemoteSessionId(uint16_t wSession) { m_wRemoteSessionId = wSession; }
    void SetRecognizeCode(uint32_t dwCode) { m_dwRecognizeCode = dwCode; }
    void SetSocketHandle(int iSocket) { m_oHRSocket.SetSocket(iSocket); }
    void SetMode(int iMode) { m_iMode = iMode; }
    void SetRemoteAddr(const char *pAddr, uint16_t wPort);

    // Feeds one received packet: 0, or -1 when DATA could not be placed. For in-order DATA,
    // *pbHasData is 1 and *piDataNum the advance of the needed sequence.
    int ManageRecvData(const uint8_t *pData, int iDataLength, int *pbHasData, int *piDataNum);
    int RecvFromWithTimeOut(uint8_t *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t dwTimeOut);
    int RecvOnePacket(uint8_t *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr);
    // Hands every whole message to the callback through the caller's buffer.
    void DeliverData(VRUDP_RECV_CALLBACK fnCB, void *pUser, uint8_t *pBuf, int iBufCount);
    void CheckDoKeepLive(uint32_t dwNow);
    void CallBackLinkClose(VRUDP_RECV_CALLBACK fnCB, void *pUser);
    bool CheckAddr(const char *pAddr, uint16_t wPort) const;
    bool CheckSameRemote(uint32_t dwCode) const { return dwCode == m_dwRecognizeCode; }
    // The transfer step of the send threads.
    void TransferStep();
    int SendInitData();
    int SendInitAckData();
    int CondTimeWait(uint32_t dwMs);
    void Signal();

    // Ends the sending and reading loops at once; a destroy that follows need not wait for them.
    void RequestStop();
    bool IsFin() const { return m_bFin.load() != 0; }
    bool IsConnected() const { return m_bConnected.load() != 0; }
    bool IsKeepLiveExpired() const { return m_bKeepLiveExpired.load() != 0; }
    uint16_t GetRemoteSessionId() const { return m_wRemoteSessionId.load(); }

private:
    int DoData(const uint8_t *pData, int iLen, int *pbHasData, int *piDataNum);
    void DoAck(const uint8_t *pData, int iLen);
    void DoInitAck(const uint8_t *pData, int iLen);
    void DoFin(const uint8_t *pData, int iLen);
    void DoReset();
    // Accepts an acknowledgement inside base-1 .. last sent and releases what it covers.
    void ApplyAck(uint32_t dwAck, uint32_t dwRttSeq);
    int UpdateRTT(uint32_t dwSequence);
    int ResendData();
    int SendDataToSocket();
    int SendAck();
    int SendControl(uint8_t byType, uint16_t wSession);
    // Ends the connection as a keep-alive expiry does: the endpoint reports and removes it.
    void Expire(const char *pWhy);
    int QueueMessage(const uint8_t *pData, int iLen);

    std::atomic<int> m_bStop{0};
    int m_iMode = 0;
    std::atomic<int> m_bFin{0};
    YAR_MUTEX_T m_csLock;
    int m_bCreatedLock = 0;
    YAR_SEM_T m_Sem = nullptr;
    int m_bCreatedSem = 0;
    CHRSocket m_oHRSocket;
    uint32_t m_dwNeedSeq = 0;
    uint32_t m_dwSendBase = 0;
    uint32_t m_dwSentEnd = 0;  // one past the highest sequence sent so far
    uint32_t m_dwHighestRecv = 0;
    CSndQueue m_oSndQueue;
    CRecvQueue m_oRecvQueue;
    std::atomic<uint8_t> m_byVersion{0};
    uint8_t m_byLocalVersion = vrudp::kLocalVersion;
    std::atomic<uint16_t> m_wRemoteSessionId{vrudp::kNoSession};
    std::atomic<int> m_bFirstSend{0};
    int m_bFirstDelivery = 0;
    std::atomic<int> m_bClosedByPeer{0};
    std::atomic<int> m_bFinRetRecv{0};
    std::atomic<uint32_t> m_dwKeepLiveTick{0};
    char m_szRemoteAddr[128] = {0};
    uint16_t m_wRemotePort = 0;
    int m_iFatherLink = -1;
    int m_iVRUDPHandle = -1;
    int m_bFirstRecvLogged = 0;
    std::atomic<uint32_t> m_dwRecognizeCode{0};
    std::atomic<int> m_bConnected{0};
    std::atomic<int> m_bKeepLiveExpired{0};
    CVRUDPRtt m_Rtt;
};

}  // namespace Vorezi
