// The reliable-UDP endpoint: one UDP socket and a table of connections (20480 in server mode, 1
// in client mode). A receive thread takes every datagram, 32 send threads drive the
// connections' transfer step every 80 ms, and a data-transfer thread hands whole messages to
// the user's callback.
//
// Lifetime rules: an endpoint's threads are joined before it is destroyed and outside its
// write lock (CVRUDPLinkMgr::Destroy), and a connection is destroyed only after its read lock has
// been released. Closing an endpoint from one of its own threads is refused (see ComVRUDP.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transport/vrudp/HRSocket.h"
#include "transport/vrudp/HRUdpBase.h"
#include "transport/vrudp/VRUDPWire.h"
#include "yar/yar_cond.h"
#include "yar/yar_thread.h"

namespace Vorezi {

class CHRUdp;
class CHRUdpCommand;

struct VRUDP_SEND_THREAD_PARAM {
    CHRUdpCommand *pEndpoint;
    int iGroup;
};

class CHRUdpCommand : public CHRUdpBase {
public:
    static constexpr int kMaxLinks = 20480;
    static constexpr int kSendThreads = 32;
    static constexpr int kInitHistory = 10000;
    static constexpr uint32_t kInitBurst = 20;
    static constexpr uint32_t kInitWindowMs = 200;

    CHRUdpCommand();
    ~CHRUdpCommand() override;

    int Start(void *pParam) override;
    int Stop() override;
    int ShutDown(int iHow) override;
    int Bind(const VRUDP_SOCK_ADDR *pstSockAddr) override;
    int ConnectRemote(const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) override;
    int Listen(void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) override;
    int SendFin() override;
    int SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) override;
    int SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize) override;
    int GetFatherLink() override { return -1; }
    int RecvFrom(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) override;
    int GetSocket() override { return m_oSocket.GetSocket(); }

    // The connecting loop of a client endpoint: 1 when INIT-ACK arrived in time.
    int ConnectRemote(uint32_t nTimeOut);
    int CreateHRObj(const VRUDP_SOCK_ADDR &stAddr);
    int CloseHRObj(int iVRUDPHandle, int bCloseThread);
    int DeleteHandle(int iVRUDPHandle);
    int FindHRUdpId(const VRUDP_SOCK_ADDR &stAddr);
    bool CheckSameRemote(int iVRUDPHandle);
    int CreateSendThread(int iIndex);
    int CreateDataTransThread();
    void CheckDoKeepLive();
    // One received RUDP packet from its source.
    void ProccessRUDPData(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);
    int StoreRecvData(int iVRUDPHandle, int iDataNum);
    int GetRecvDataSessionId();
    int SetRecvFun(VRUDP_RECV_CALLBACK fnRecvCB, void *pUser);
    int SetNoBlock(int bNoBlock);
    int SetReuseAddr(int bReuse);
    int GetSockBuffSize(int *piSnd, int *piRcv);
    int GetLinkCount() const { return m_iLinkCount.load(); }
    int GetEntry(int iIndex) const { return m_aiVRUDPHandle[iIndex].load(); }

    // Sets every stop flag and joins the threads; a second call finds nothing left to join.
    void StopThreads();
    // True on the endpoint's own receive, send and data-transfer threads.
    bool IsOwnThread() const;

private:
    static uint32_t RecvDataProc(void *pParam);
    static uint32_t SendThreadProc(void *pParam);
    static uint32_t DataTransThreadProc(void *pParam);
    void RecvStep(uint8_t *pBuf);
    void SendLoop(int iGroup);
    void DataTransLoop();
    int StartRecvThread(uint32_t dwStackSize);
    void JoinThread(std::atomic<YAR_HANDLE> &hThread);
    bool PassInitRate();
    bool SynFloodContrl(const uint8_t *pData, int iLen);
    // An INIT repeating a live connection's attempt gets that connection's INIT-ACK again.
    bool AnswerRepeatedInit(const VRUDP_SOCK_ADDR &stAddr, uint16_t wSession, uint32_t dwCode);
    void ManageInitPacket(const VRUDP_SOCK_ADDR &stAddr);
    void ProcessForConnection(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom, const VRUDP_SOCK_ADDR &stAddr);
    void SendReset(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom, const VRUDP_SOCK_ADDR &stAddr);
    int DirectSendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr);
    int RecvFromHR(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut);
    int RecvFromNoHR(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut);
    void CallBack(VRUDP_RECV_DATA *pData);

    std::atomic<int> m_bStop{0};
    std::atomic<int> m_bRecvStop{0};
    std::atomic<int> m_bDataStop{0};
    YAR_MUTEX_T m_csLock;
    int m_bCreatedLock = 0;
    YAR_SEM_T m_Sem = nullptr;
    int m_bCreatedSem = 0;
    CHRSocket m_oSocket;
    int m_iMode = ENUM_VRUDP_MODE_SERVER;
    int m_iTableSize = kMaxLinks;
    std::atomic<YAR_HANDLE> m_hThread{nullptr};
    std::atomic<VRUDP_RECV_CALLBACK> m_fnRecvCB{nullptr};
    std::atomic<void *> m_pUser{nullptr};
    std::atomic<YAR_HANDLE> m_hSendThread[kSendThreads] = {};
    VRUDP_SEND_THREAD_PARAM m_stSendParam[kSendThreads] = {};
    std::atomic<int> m_bSendStop{0};
    YAR_SEM_T m_SendWake = nullptr;  // posted once per send thread to cut its pause short on stop
    int m_bCreatedSendWake = 0;
    std::atomic<int32_t> m_aiVRUDPHandle[kMaxLinks];
    YAR_MUTEX_T m_csLinkLock;
    int m_bCreatedLinkLock = 0;
    std::atomic<int> m_iLinkCount{0};
    uint16_t m_wRemoteSessionId = vrudp::kNoSession;
    std::atomic<int> m_bFirstRecvLogged{0};
    std::atomic<int> m_bFirstDirectSendLogged{0};
    // Delivery buffer: large enough for the longest message a connection accepts.
    std::unique_ptr<uint8_t[]> m_pDeliverBuf;
    int m_iDeliverBufLen = 0;
    // Connections with whole messages waiting: a FIFO with one mark per connection.
    std::unique_ptr<int32_t[]> m_pPending;
    std::unique_ptr<uint8_t[]> m_pPendingMark;
    int m_iPendingHead = 0;
    int m_iRecvDataCount = 0;
    std::atomic<YAR_HANDLE> m_hDataTransThread{nullptr};
    std::atomic<uint32_t> m_dwRecognizeCode{0};
    uint8_t m_byRemoteVersion = 0;
    uint8_t m_abyInitHistory[kInitHistory][vrudp::kCommonHeadLen] = {};
    int m_iInitHistoryNext = 0;
    uint32_t m_dwInitCount = 0;
    uint32_t m_dwInitWindowStart = 0;
    uint32_t m_dwLastSweep = 0;
    int m_iAf = 2;
    int m_iHandle = -1;
};

}  // namespace Vorezi
