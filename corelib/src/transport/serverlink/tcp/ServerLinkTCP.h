// The TCP server link. A listen thread accepts connections and posts each one as a work item to
// the server-link manager's pool, where one worker per connection receives until it ends. Before
// the first delivery the worker can check and strip a 52-byte command head that starts "QDBD".
// Up to 4096 accepted connections are tracked per link, each in a slot:
//   free      (not in use, finished)
//   reserved  (in use, not finished)     while its item waits or its worker runs
//   ending    (not in use, not finished) after DelAcceptIndex, until the worker finishes.
//
// The listen backlog asked for is 0x7ffffff; Linux caps it at net.core.somaxconn (4096 on
// Debian 12).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "transport/serverlink/ServerLinkBase.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

class CServerLinkTCP;

constexpr int SERVER_LINK_TCP_SLOTS = 4096;
constexpr DWORD SERVER_LINK_HEAD_LEN = 52;
constexpr int SERVER_LINK_HEAD_AREA_B = 32;
constexpr int SERVER_LINK_HEAD_AREA_B_LEN = 16;

// One accepted connection on its way from the listen thread to a pool worker.
struct INTER_LINK_MSG {
    CServerLinkTCP *pServerLink;
    DWORD dwRes;
    int32_t iLinkIndex;
    int32_t iSocket;
    BYTE byRes[28];
};

// The head check of one connection across its receives. Each buffer passed in must have
// SERVER_LINK_HEAD_ROOM writable bytes in front of it: bytes held back while deciding go there
// when the stream turns out to carry no head.
constexpr DWORD SERVER_LINK_HEAD_ROOM = 4;

class CHeadCheck {
public:
    CHeadCheck(CServerLinkTCP *pLink, int bCheckHead) : m_pLink(pLink), m_bCheckHead(bCheckHead) {}
    enum { HEAD_BAD = -1, HEAD_WAIT = 0, HEAD_DELIVER = 1 };
    // HEAD_DELIVER: deliver *pdwOutLen bytes at *ppOut, with area B when *ppAreaB is set.
    int Take(char *pRecv, DWORD dwLen, char **ppOut, DWORD *pdwOutLen, const BYTE **ppAreaB);

private:
    CServerLinkTCP *m_pLink;
    int m_bCheckHead;
    BYTE m_byHead[SERVER_LINK_HEAD_LEN] = {0};
    DWORD m_dwHeadLen = 0;
};

class CServerLinkTCP : public CServerLinkBase {
public:
    CServerLinkTCP();
    ~CServerLinkTCP() override;

    int Start(void *pCond) override;
    int Stop() override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override;
    int SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) override;
    int CloseServerLink() override;
    int OpenLink() override;
    int CreateSocket() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

    // Work routine of the manager's pool: serves one accepted connection.
    static int32_t TCPLinkProc(void *pItem);
    // Collects the first 52 bytes of a connection across receives: 0 done (*pShiftLen bytes of
    // this buffer belong to the head; none when the stream carries no head), 1 error, 2 more
    // bytes needed.
    int CheckHeadData(const char *pBuffer, DWORD dwLen, BYTE *pHead, DWORD *pCurCmdLen, BYTE *pShiftLen);
    int AllocAcceptIndex();
    int DelAcceptIndex(int iIndex);
    int ExitRecvThread(int iIndex) { return DelAcceptIndex(iIndex); }
    void SetAcceptSlot(int iIndex, int iStreamHandle);
    // 1 once no worker runs on the slot; Interim_WaitRecvThread polls it.
    int IsAcceptSlotFinished(int iIndex);
    void StopSever();
    void StopAllLinks();
    // Without waiting: stops accepting and wakes every worker of the link.
    void BeginStop();

    // For tests of the slot search.
    void SetSlotStart(int iStart) { m_iStartIndex = iStart; }
    // Connections posted whose work has not ended yet.
    int InFlight() const { return m_nInFlight.load(); }

private:
    static uint32_t ListenThread(void *pParam);
    void ListenProcess();
    void PostAccepted(int sockAccept, YAR_THREADPOOLFLEX_T *hPool, int iBound);
    void WaitForTaskRoom(int iBound);
    void TaskTaken();
    void ServeConnection(int iIndex, int sockAccept);
    void ReceiveLoop(int iIndex, int sockAccept, int *pLastResult);
    void PushRecord(int iIndex, DWORD dwMsgType, char *pData, DWORD dwLen, int iStatus, const BYTE *pAreaB,
                    int sockAccept);
    // The worker's end of a slot: frees it (F18) and marks it finished.
    void FinishSlot(int iIndex, int sockAccept);
    void ShutSlotSockets();
    // Null when the slot mutex could not be created.
    YAR_MUTEX_T *SlotMutex();

    YAR_HANDLE m_hListenThread = YAR_INVALID_THREAD;
    std::atomic<int> m_bSlotInUse[SERVER_LINK_TCP_SLOTS];
    std::atomic<int> m_iStreamHandle[SERVER_LINK_TCP_SLOTS];
    int m_iStartIndex = 0;
    YAR_MUTEX_T m_SlotMutex;
    int m_bSlotMutex = 0;
    DWORD m_dwSendMult = 0;
    DWORD m_dwRecvMult = 0;
    std::atomic<int> m_bSlotFinished[SERVER_LINK_TCP_SLOTS];
    std::atomic<int> m_bStop{0};
    int m_bCheckHead = 1;
    std::atomic<int> m_iListenSleep{0};
    std::atomic<int> m_nTaskWait{0};
    // Signalled when a pool thread takes a posted connection: the listener waits on it while too
    // many wait.
    std::mutex m_TaskLock;
    std::condition_variable m_TaskTaken;
    // The accepted socket of each reserved slot, so that an owner's end wakes its worker at once.
    int m_iSlotSocket[SERVER_LINK_TCP_SLOTS];
    // Items posted and not yet finished: a stop waits for these too (queued items and manager
    // mode 1 workers, which share slot 0).
    std::atomic<int> m_nInFlight{0};
};

}  // namespace Vorezi
