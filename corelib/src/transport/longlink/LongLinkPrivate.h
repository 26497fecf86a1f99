// The long link: a connection kept as long as its owner wants it, whose received data goes to
// the owner's data callback, from a receive thread of its own or through asynchronous I/O.
//
// Order of use: create or adopt the link (CreateLinkEx, CreateGeneralLink or SetLink),
// EnableDataCallBack, StartRecvThread, ResumeRecvThread; Stop at the end.
//
// Callback statuses: 0 data; 10 nothing arrived within the link's receive time-out (thread
// only); otherwise the link's receive error. With the thread: 9 receive error, 73 peer closed.
// With asynchronous I/O: 9 the peer ended the stream (or a receive could not be posted again),
// 73 the receive failed or the socket was closed.
//
// Thread rules:
// - The thread goes on after status 10 whatever the callback returns; after any other status it
//   ends when the callback returns 0. After 73, and after 9 once the link has no socket, it ends
//   whatever the callback returns: another receive could only fail again at once.
// - Stop joins the threads, so no callback runs after it returns. Stop may be called from inside
//   the data callback (or from the send thread): it then ends and destroys the link but joins no
//   thread of its own; a later Stop or the destructor on another thread joins it (and waits for
//   an asynchronous delivery still returning). The long link itself must not be destroyed from
//   its own receive or send thread or from inside its callback.
// - PauseRecvThread waits until the thread parks; never call it from the callback.
#pragma once

#include <atomic>

#include "GlobalCtrl/CoreSignal.h"
#include "Module/Memory/ObjectBase.h"
#include "transport/longlink/BaseProtocol.h"
#include "yar/yar_thread.h"

namespace Vorezi {

class CLongLinkPrivateBase : public CObjectBasePrivate {
public:
    static constexpr uint32_t kThreadStackSize = 0x40000;

    CLongLinkPrivateBase();
    ~CLongLinkPrivateBase() override;
    CLongLinkPrivateBase(const CLongLinkPrivateBase &) = delete;
    CLongLinkPrivateBase &operator=(const CLongLinkPrivateBase &) = delete;

    virtual CBaseProtocol *GetProtocolObject() = 0;
    virtual int CreateLink(DWORD dwCommand, void *pIgnored, const LINK_ADDR_COND *pAddr);
    virtual int CreateLinkEx(DWORD dwCommand, void *pIgnored, const LINK_COND *pCond);
    virtual int CloseLink();
    virtual int DestroyLink();
    virtual CLinkBase *GetLink();
    virtual int SetLink(CLinkBase *pLink);
    virtual int GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen);
    virtual int CreateGeneralLink(const LINK_CREATE_PARAM *pParam, int bUseAsyn);
    virtual int SetLinkForceClose();
    virtual void GetRemoteAddr(char *pIP, WORD *pPort, DWORD dwLen);
    virtual void GetLocalAddr(char *pIP, WORD *pPort, DWORD dwLen);
    virtual int GetLocalIPInfo(LINK_LOCAL_IP_INFO *pInfo);
    virtual int StartRecvThreadUseAysn(LINK_RECV_CALLBACK fnData, void *pUser, DWORD dwBufSize);
    // The receive handler of asynchronous I/O: 1 (data dropped) while the callback is disabled
    // or missing, 0 once the link is gone or the exit flag is set, else the callback's result.
    virtual int RecvDataCallBack(char *pData, int iLen, int iStatus);
    virtual void RecvThreadCallback();

    int HasCreateLink();
    int EnableDataCallBack(int bEnable);
    int StartRecvThread(LINK_RECV_CALLBACK fnData, void *pUser, DWORD dwBufSize);
    int ResumeRecvThread();
    void PauseRecvThread();
    int StartSendThread(YAR_THREAD_ROUTINE fnRoutine, void *pParam);
    void StopRecvThread();
    int StopRecvThreadUseAysn();
    void SetExitFlag();
    void SetWorkFlag(DWORD dwFlag) { m_dwWorkFlag = dwFlag; }
    void SetUserValue(DWORD dwValue) { m_dwUserValue = dwValue; }

protected:
    // Joins both threads unless called from one of them; the derived class calls it before its
    // protocol object goes.
    void JoinThreads();
    void JoinSendThread();
    // 1 on this object's receive or send thread, or inside its asynchronous delivery.
    bool OnOwnThread() const;
    // Waits until no asynchronous delivery runs the callback (one that stopped the link may still
    // be returning); not from inside one.
    void WaitDeliveries();

private:
    static uint32_t RecvThreadEntry(void *pParam);
    static uint32_t SendThreadEntry(void *pParam);
    static int AsyncRecvEntry(void *pUser, char *pData, int iLen, int iStatus);
    void JoinRecvThread();
    bool LinkIsDead();

    YAR_HANDLE m_hSendDataThread = YAR_INVALID_THREAD;
    YAR_HANDLE m_hRecvThread = YAR_INVALID_THREAD;
    DWORD m_dwWorkFlag = 1;
    std::atomic<DWORD> m_bEnableDataCallBack{1};
    LINK_RECV_CALLBACK m_fnDataCallBack = nullptr;
    void *m_pUserData = nullptr;
    std::atomic<DWORD> m_bExit{0};
    std::atomic<int> m_nDelivering{0};
    CMultiThreadControl m_ThreadControl;
    DWORD m_dwUserValue = 0;
    YAR_THREAD_ROUTINE m_fnSendRoutine = nullptr;
    void *m_pSendParam = nullptr;
};

class CLongLinkPrivate : public CLongLinkPrivateBase {
public:
    CLongLinkPrivate() = default;
    ~CLongLinkPrivate() override;

    CBaseProtocol *GetProtocolObject() override { return &m_Protocol; }

    int Stop();
    int SendData(const PROTOCOL_SEND_DATA *pData, DWORD dwTimeOut);
    int EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult);
    int SetRecvTimeout(DWORD dwTime);
    int RestSocketByNoClose();
    int GetProxyLinkDstAddr(char *pHost, WORD *pPort);
    int CreateSocks5PushLink(int sockAccepted);
    int CreatePushLink(int sockAccepted);

private:
    CBaseProtocol m_Protocol;
};

}  // namespace Vorezi
