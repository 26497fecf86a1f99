// The reliable-UDP control link. A client link streams media through a CHRClientStream; a server
// link that listens is a father: it accepts one child link per remote client in a table of 128,
// and each child receives through its own CVRUDPStream. Children borrow the father's socket and
// only the father's receive thread reads it.
//
// Children's table entries: -1 free, h a live child, -h-2 a child whose removal was requested.
// Whoever frees an entry (DeleteHandle from the child's Stop, or the father's sweep) takes the
// child off the count; the other then finds nothing to do.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transport/vrudp/HRSocket.h"
#include "transport/vrudp/HRUdpBase.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"

namespace Vorezi {

class CVRUDPStream;
class CHRClientStream;

class CVRUDPLink : public CHRUdpBase {
public:
    static constexpr int kMaxChildren = 128;
    static constexpr uint32_t kClientHeartMs = 20000;
    static constexpr uint32_t kClientExpireMs = 40000;
    static constexpr uint32_t kChildExpireMs = 90000;
    static constexpr uint32_t kKeepAliveCheckMs = 1000;

    CVRUDPLink();
    ~CVRUDPLink() override;

    int Start(void *pParam) override;
    int Stop() override;
    int Bind(const VRUDP_SOCK_ADDR *pstSockAddr) override;
    int ConnectRemote(const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) override;
    int Listen(void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) override;
    int SendFin() override;
    int SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) override;
    int SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize) override;
    void SetAcceptIndex(int iVRUDPHandle) override { m_iVRUDPHandle = iVRUDPHandle; }
    int GetFatherLink() override { return m_dwFatherLink; }
    int RecvFrom(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) override;
    int GetSocket() override { return m_Socket.GetSocket(); }
    int RemoveAcceptHandle(int iVRUDPHandle) override;

    int SetAjustParam(const VRUDP_STREAM_ADJUST_PARAM *pAdjustParam);
    int SetBitrate(uint32_t dwBitrate);
    // Ends and joins the receive thread; the link manager runs it outside the member's write
    // lock, since the thread takes read locks of children on its way.
    void StopRecvThread();

    // One received datagram from its sender: the receive thread's step, also driven directly
    // by the fuzz target.
    void Dispatch(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);

    // Read-outs for the server link and tests.
    int GetAcceptCount() const { return m_iAcceptCount; }
    int GetAcceptEntry(int i) const { return m_aLinkHandle[i]; }
    CHRClientStream *GetClientStream() { return m_poHRClientStream.get(); }

private:
    static uint32_t RecvThreadProc(void *pParam);
    static int StreamDataCB(const uint8_t *pData, uint32_t dwLen, int iFlag, void *pUser);
    static void StreamClosedCB(void *pUser);
    int FartherStart(int iAf);
    int NewHRStream();
    int StartRecvThread();
    void RecvLoop();
    void DispatchToChild(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);
    void HandleChildPacket(const uint8_t *pData, int iLen);
    void DispatchClient(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);
    void ParseNewLink(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);
    int AddChild(int iHandle);
    void SetupChild(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom, int iHandle);
    void DoFin(const uint8_t *pData, int iLen);
    void HandleFin(const uint8_t *pData, int iLen);
    void StoreUpperData(const uint8_t *pData, int iLen);
    void CallBackPlain(const uint8_t *pData, int iLen, const YAR_ADDR_T &stFrom);
    void CallBackClosed();
    void CallBack(VRUDP_RECV_DATA *pRecord);
    int SendUpperData(const void *pData, int iBufLen);
    int SendInitAck();
    int SendPlain(uint8_t byType);
    bool IsFromRemote(const YAR_ADDR_T &stFrom) const;
    bool IsChildOf(int iFather) const;
    void ResetStreams();
    void CheckDoKeepLive();
    void ClientDoKeepAlive(uint32_t dwNow);
    void ServerDoKeepAlive(uint32_t dwNow);
    void SweepChildren(uint32_t dwNow);
    void Expire(const char *pFunc, uint32_t dwNow);
    int DeleteHandle(int iVRUDPHandle);
    int RecvFromUpperData(void *pBuf, int iBufCount);

    std::atomic<int32_t> m_aLinkHandle[kMaxChildren];
    std::atomic<int> m_iAcceptCount{0};
    int m_iChildAf = 2;
    CHRSocket m_Socket;
    std::atomic<int> m_bStop{0};
    YAR_HANDLE m_hRecvThread = nullptr;
    std::atomic<VRUDP_RECV_CALLBACK> m_fnRecvCB{nullptr};
    std::atomic<void *> m_pUser{nullptr};
    std::unique_ptr<CVRUDPStream> m_poHRStream;
    std::unique_ptr<CHRClientStream> m_poHRClientStream;
    std::atomic<int> m_bFirstStreamData{0};
    char m_szRemoteAddr[128] = {};
    uint16_t m_wRemotePort = 0;
    YAR_ADDR_T m_RemoteAddr = {};
    int m_iVRUDPHandle = -1;
    int m_bBorrowedSocket = 0;
    std::atomic<int> m_dwFatherLink{-1};
    std::atomic<int> m_bKeepAliveExpired{0};
    std::atomic<int> m_bFinReceived{0};
    std::atomic<int> m_dwRemoteLink{-1};
    int m_enumMode = ENUM_VRUDP_MODE_SERVER;
    std::atomic<int> m_bFinRetReceived{0};
    std::atomic<uint32_t> m_dwKeepLiveTick{0};
    YAR_MUTEX_T m_csLock;
    int m_bCreatedLock = 0;
    std::atomic<uint32_t> m_dwRecognizeCode{0};
    std::atomic<int> m_bClosePending{0};
    uint8_t m_abyUpperData[1500] = {};
    uint32_t m_dwUpperDataLength = 0;
    YAR_SEM_T m_SemSignal = nullptr;
    int m_bCreatedSem = 0;
    uint32_t m_dwLastKeepAliveCheck = 0;
};

}  // namespace Vorezi
