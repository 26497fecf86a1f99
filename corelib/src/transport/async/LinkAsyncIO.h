// The asynchronous I/O of one link: registers the link's socket in a slot of the asynchronous
// manager, binds it to the library's completion queue, posts receives, sends and connects, and
// turns their completions into calls of the owner's data callback.
//
// Two modes:
// - stream mode (Start): a receive buffer of the object; every completed receive is handed to the
//   callback with status 0 (data), 9 (the peer ended the stream, or a receive could not be posted
//   again) or 73 (the receive failed); the receive is posted again while the callback returns
//   non-zero, else the owner resumes with ResumeRecvThread.
// - command mode (StartCmd): no callback; RecvCmdDataSync receives into a buffer of the object,
//   waits for the completion up to its time-out and copies what arrived, so the caller's buffer
//   is never written after the call returns. A receive that timed out stays posted and serves
//   the next call.
//
// Rules for the owner:
// - Stop closes the socket; every waiting operation then completes at once with 995. Stop waits
//   for the outstanding operations (up to 5.5 s); operations still outstanding after that keep
//   the slot and the receive buffer, which their last completion releases. No callback runs
//   after Stop returns.
// - Stop may be called from inside the object's own data callback: it then neither waits for
//   the delivery it runs in nor frees the buffer under it (the completion releases both after
//   the callback returns), and the callback must not touch the object's buffer afterwards.
//   The callback may also destroy the link that owns the object right after such a Stop.
// - In command mode a send waits for an overlapped connect still under way (up to the send
//   time-out) and fails when that connect fails or does not complete in time.
// - All pieces of one SendData or SendCmdDataSync are posted under one hold of the object's
//   mutex, so sends of the owner and of the callback never interleave within a message.
// - SendSealed (TLS links) writes to the socket at once while none of the object's sends waits,
//   and posts only what the socket did not take, in one piece: bytes never overtake bytes
//   posted before them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "morva/MorvaTypes.h"
#include "yar/yar_addr.h"
#include "yar/yar_asyncio.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CSSLTrans;
class CAsyncManager;

// The owner's data callback: (user data, data, length, status); status 0 data, 9 receive error,
// 73 socket closed. A result of 0 stops receiving until ResumeRecvThread.
typedef int (*LINK_RECV_CALLBACK)(void *pUser, char *pData, int iLen, int iStatus);

// What a stopped registration leaves to its outstanding completions.
struct AsyncDrain {
    int32_t nUnCompCount;
    char *pRecvBuf;
};

class CLinkAsyncIO {
public:
    static constexpr DWORD kDefaultRecvBufSize = 262144;
    static constexpr DWORD kSendPiece = 16384;

    CLinkAsyncIO();
    virtual ~CLinkAsyncIO();
    CLinkAsyncIO(const CLinkAsyncIO &) = delete;
    CLinkAsyncIO &operator=(const CLinkAsyncIO &) = delete;

    int Start(int iSocket, LINK_RECV_CALLBACK fnRecv, void *pUser, DWORD dwBufSize);
    int StartCmd(int iSocket, int bCmdAsync);
    int Stop();
    virtual int ResumeRecvThread();

    // The length posted, or 0.
    int SendData(const char *pSendBuf, DWORD uiSendLen);
    int SendCmdDataSync(const char *pSendBuf, DWORD uiSendLen, DWORD dwTimeOut);
    // The records of one TLS write; the length, or 0.
    int SendSealed(const char *pData, DWORD dwLen);
    // Receive result: 0 data (length in *pRecvLen), 9 error, 10 time-out, 73 closed.
    int RecvCmdDataSync(char *pRecvBuf, DWORD dwBufSize, DWORD dwTimeOut, DWORD *pRecvLen);
    int ConnLinkAsync(const YAR_ADDR_T *pAddr, int iUserID);

    // TLS links: received bytes are decrypted through the TLS object before delivery, under the
    // link's lock that also guards its writes (one TLS object must not run two calls at once).
    void SetSSLTrans(CSSLTrans *pSSLTrans, std::mutex *pSSLLock = nullptr) {
        m_pSSLTrans = pSSLTrans;
        m_pSSLLock = pSSLLock;
    }
    void SetShutdown(int bShutdown) { m_bShutdown = bShutdown; }
    void SetUserID(int iUserID) { m_nUserID = iUserID; }
    // Forgets the socket without closing it.
    void RestSocket();
    int GetSocket() const { return m_socketAsyncIO.load(); }
    int IsBindAsync() const { return m_bBindAsync.load(); }

    // The completion key of an operation of this registration, and the check a completion's
    // key must pass to reach the object.
    uintptr_t MakeKey(uint32_t uType) const;
    bool CheckAsyncCallbackUserData(uintptr_t uKey) const;
    int GetAsyncHandle() const { return m_iAsyncHandle; }

    // Test seams: the steps of 10 ms Stop waits (550), and a routine every completion runs
    // before it takes its slot.
    static void SetStopWaitStepsForTest(int iSteps);
    static void SetCompletionHookForTest(void (*fnHook)());

private:
    static int32_t AsyncIOCallBack(int32_t iError, int32_t iBytes, void *pUserData);
    static int32_t AsynIOCmdCallBack(int32_t iError, int32_t iBytes, void *pUserData);
    template <class Deliver>
    static void Complete(const char *pCaller, uintptr_t uKey, Deliver fnDeliver);

    int AsyncIOPostRecv(char *pBuf, DWORD dwSize, YAR_ASYNCIO_ROUTINE fnRoutine);
    int AsyncIOPostSend(const char *pData, DWORD dwLen, YAR_ASYNCIO_ROUTINE fnRoutine);
    int AsyncIOPostConnect(const YAR_ADDR_T *pAddr, YAR_ASYNCIO_ROUTINE fnRoutine, uintptr_t uKey, int iUserID);
    // Pieces of at most 16384 bytes, all under one hold of the mutex; the bytes posted.
    DWORD PostSendPieces(const char *pData, DWORD dwLen, YAR_ASYNCIO_ROUTINE fnRoutine);
    void RecvStreamData(int iError, int iBytes);
    // TLS links: decrypts the received bytes and delivers the plain text; bMore 1 reads only what
    // the TLS object already holds.
    void RecvStreamDataSync(int iBytes, int bMore);
    int HoldsSSLData();
    int PostHeld();
    int ReadSSL(int iInLen, int *pbMore);
    void OnCmdCompletion(uint32_t uType, int iError, int iBytes);
    int CallBack(char *pData, int iLen, int iStatus);
    void ReleaseRegistration(bool bWait);
    void Forget();

    std::atomic<int> m_socketAsyncIO{-1};
    char *m_pRecvBuf = nullptr;
    DWORD m_dwRecvBufSize = kDefaultRecvBufSize;
    YAR_IOQUEUE m_hAsyncIOQueue = nullptr;
    LINK_RECV_CALLBACK m_fnRecv = nullptr;
    void *m_pUser = nullptr;
    std::atomic<DWORD> m_bRecving{0};
    std::atomic<int32_t> m_nUnCompCount{0};
    std::atomic<int32_t> m_nSendsPending{0};  // posted sends whose completion has not come yet
    std::atomic<DWORD> m_bBindAsync{0};
    YAR_MUTEX_T m_Mutex;
    DWORD m_bInit = 0;
    DWORD m_bCompleted = 0;
    int m_iAsyncHandle = -1;
    uint32_t m_uGeneration = 0;
    CSSLTrans *m_pSSLTrans = nullptr;
    std::mutex *m_pSSLLock = nullptr;
    int m_bShutdown = 0;
    int m_nUserID = -1;
    int m_bCmdAsync = 0;
    CAsyncManager *m_pManager = nullptr;

    // Command mode: the state of the one receive and the one connect that may be under way.
    struct CmdState {
        bool bRecvPosted = false;
        bool bRecvDone = false;
        int iRecvError = 0;
        DWORD dwRecvBytes = 0;
        DWORD dwReadPos = 0;
        bool bConnPosted = false;
        bool bConnDone = false;
        int iConnError = 0;
    };
    std::mutex m_CmdLock;
    std::condition_variable m_CmdCond;
    CmdState m_Cmd;
};

}  // namespace Vorezi
