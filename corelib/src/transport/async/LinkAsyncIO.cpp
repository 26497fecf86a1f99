#include "transport/async/LinkAsyncIO.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "crypto/SSLTrans.h"
#include "transport/async/AsyncKey.h"
#include "transport/async/AsyncManager.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {
constexpr int kStatusData = 0;
constexpr int kStatusRecvError = 9;
constexpr int kStatusClosed = 73;
constexpr int kErrorAborted = 995;
// The byte count of a completion PostHeld makes: no socket input, only what the TLS object holds.
constexpr int kHeldBytes = -1;
constexpr int kStopWaitStepMs = 10;

std::atomic<int> g_iStopWaitSteps{550};
std::atomic<void (*)()> g_fnCompletionHook{nullptr};

// The object whose callback runs on this thread; a Stop from inside that callback clears it,
// which tells the delivery not to touch the object again.
thread_local CLinkAsyncIO *t_pDelivering = nullptr;

// The last completion of a stopped registration frees its buffer and its slot.
void DrainOne(CAsyncManager *pMgr, int iHandle, CAsyncManager::Slot *pSlot) {
    AsyncDrain *pDrain = pSlot->pDrain;
    if (--pDrain->nUnCompCount > 0)
        return;
    delete[] pDrain->pRecvBuf;
    delete pDrain;
    pMgr->ReleaseLockedSlot(iHandle);
}
}  // namespace

void CLinkAsyncIO::SetStopWaitStepsForTest(int iSteps) {
    g_iStopWaitSteps = iSteps;
}

void CLinkAsyncIO::SetCompletionHookForTest(void (*fnHook)()) {
    g_fnCompletionHook = fnHook;
}

CLinkAsyncIO::CLinkAsyncIO() {
    m_bInit = YAR_MutexCreate(&m_Mutex, 0) == 0 ? 1 : 0;
}

CLinkAsyncIO::~CLinkAsyncIO() {
    if (m_bBindAsync)
        Stop();
    if (m_bInit)
        YAR_MutexDestroy(&m_Mutex);
}

// ---- registration ----

int CLinkAsyncIO::StartCmd(int iSocket, int bCmdAsync) {
    m_bCmdAsync = bCmdAsync;
    return Start(iSocket, nullptr, nullptr, 0);
}

int CLinkAsyncIO::Start(int iSocket, LINK_RECV_CALLBACK fnRecv, void *pUser, DWORD dwBufSize) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, m_bInit is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (m_bBindAsync) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, m_bBindAsync is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!m_bCmdAsync) {
        if (!fnRecv || !pUser) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, Invalid Param, pRecvFun[0x%X], pInfo[0x%X]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(fnRecv), MORVA_PTR_ARG(pUser));
            return 0;
        }
        m_fnRecv = fnRecv;
        m_pUser = pUser;
    }
    if (dwBufSize)
        m_dwRecvBufSize = dwBufSize;
    CAsyncManager *pMgr = GetAsyncManager();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, GetAsyncManager Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    const int iHandle = pMgr->CreateHandle(this);
    if (iHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, CreateHandle Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    m_pManager = pMgr;
    m_iAsyncHandle = iHandle;
    pMgr->LockHandle(iHandle);
    m_uGeneration = pMgr->GetAsyncInfo(iHandle)->uGeneration;
    pMgr->UnlockHandle(iHandle);
    m_socketAsyncIO = iSocket;
    m_hAsyncIOQueue = pMgr->GetProtocolAsyncIO();

    bool bQueueMissing = false;
    if (!m_hAsyncIOQueue) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::Start, GetProtocolAsyncIO Failed, m_socketAsyncIO[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), iSocket, YAR_GetSystemLastError());
        bQueueMissing = true;
    } else if (YAR_AsyncIO_BindIOHandleToQueueEx(iSocket, m_hAsyncIOQueue) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::Start, YAR_AsyncIO_BindIOHandleToQueueEx Failed, m_socketAsyncIO[%d], "
                        "m_hAsyncIOQueue[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), iSocket, MORVA_PTR_ARG(m_hAsyncIOQueue), YAR_GetSystemLastError());
    } else if (!(m_pRecvBuf = new (std::nothrow) char[m_dwRecvBufSize])) {  // only read as far as received
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Start, New m_pRecvBuf Failed, m_dwRecvBufSize[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_dwRecvBufSize, YAR_GetSystemLastError());
    } else {
        m_Cmd = CmdState();
        m_bCompleted = 0;
        m_bBindAsync = 1;
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkAsyncIO::Start, SUCC, socketAsynIO[%d], m_bCmdAsync[%d]",
                        MORVA_PTR_ARG(this), iSocket, m_bCmdAsync);
        return 1;
    }
    if (!bQueueMissing)
        SetError(MORVA_ERR_ALLOC);
    m_socketAsyncIO = -1;
    m_hAsyncIOQueue = nullptr;
    pMgr->DestroyHandle(iHandle);
    m_iAsyncHandle = -1;
    return 0;
}

int CLinkAsyncIO::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkAsyncIO::Stop, m_socketAsyncIO[%d]", MORVA_PTR_ARG(this),
                    m_socketAsyncIO.load());
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Stop, m_bInit is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!m_bBindAsync) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::Stop, m_bBindAsync is False", MORVA_PTR_ARG(this));
        return 0;
    }
    {
        yar::yar_guard guard(&m_Mutex);
        const int iSocket = m_socketAsyncIO.exchange(-1);
        if (iSocket != -1) {
            if (m_bShutdown == 1)
                YAR_ShutDown(iSocket, 2);
            YAR_CloseSocket(iSocket, m_bShutdown);
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_CmdLock);
        m_CmdCond.notify_all();
    }
    const bool bInOwnCallback = t_pDelivering == this;
    if (bInOwnCallback)
        t_pDelivering = nullptr;
    ReleaseRegistration(!bInOwnCallback);
    return 1;
}

// Frees slot and buffer once nothing is outstanding; what is still outstanding after the wait
// (or at once, inside the object's own callback) drains into the slot, and its last completion
// frees them: a late completion never meets freed memory or a new occupant of the slot.
void CLinkAsyncIO::ReleaseRegistration(bool bWait) {
    if (bWait) {
        const int iSteps = g_iStopWaitSteps.load();
        for (int i = 0; i < iSteps && m_nUnCompCount.load() > 0; i++)
            YAR_Sleep(kStopWaitStepMs);
    }
    char *pFree = nullptr;
    m_pManager->LockHandle(m_iAsyncHandle);
    const int32_t nLeft = m_nUnCompCount.load();
    if (nLeft > 0) {
        if (bWait)
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::DebugStopStatus, m_nUnCompCount[%d], m_iAsyncHandle[%d]",
                            MORVA_PTR_ARG(this), nLeft, m_iAsyncHandle);
        CAsyncManager::Slot *pSlot = m_pManager->GetAsyncInfo(m_iAsyncHandle);
        pSlot->pDrain = new AsyncDrain{nLeft, m_pRecvBuf};
        pSlot->pObject = nullptr;
    } else {
        m_pManager->ReleaseLockedSlot(m_iAsyncHandle);
        pFree = m_pRecvBuf;
    }
    m_pManager->UnlockHandle(m_iAsyncHandle);
    delete[] pFree;
    Forget();
}

void CLinkAsyncIO::Forget() {
    m_pRecvBuf = nullptr;
    m_nUnCompCount = 0;
    m_nSendsPending = 0;
    m_iAsyncHandle = -1;
    m_hAsyncIOQueue = nullptr;
    m_bRecving = 0;
    m_bBindAsync = 0;
}

void CLinkAsyncIO::RestSocket() {
    yar::yar_guard guard(&m_Mutex);
    m_socketAsyncIO = -1;
}

// ---- completions ----

uintptr_t CLinkAsyncIO::MakeKey(uint32_t uType) const {
    return AsyncKey::Make(m_iAsyncHandle, uType, m_socketAsyncIO.load(), m_uGeneration);
}

bool CLinkAsyncIO::CheckAsyncCallbackUserData(uintptr_t uKey) const {
    const int iSocket = m_socketAsyncIO.load();
    const int iKeyHandle = AsyncKey::Handle(uKey);
    if (iSocket != -1) {
        const int wSocket = AsyncKey::SocketBits(uKey);
        const int wSocketTemp = iSocket & ((1 << AsyncKey::kSocketBits) - 1);
        if (wSocket != wSocketTemp) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLinkAsyncIO::CheckAsyncCallbackUserData, wSocket[%d] != wSocketTemp[%d], "
                            "m_socketAsyncIO[%d], nAsyncHandle[%d], pUserData[0x%X], m_nUserID[%d]",
                            MORVA_PTR_ARG(this), wSocket, wSocketTemp, iSocket, iKeyHandle, MORVA_PTR_ARG(uKey),
                            m_nUserID);
            return false;
        }
    }
    if (iKeyHandle != m_iAsyncHandle || AsyncKey::Generation(uKey) != (m_uGeneration & 0x7FFFFFFFu)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::CheckAsyncCallbackUserData, nAsyncHandle[%d] != m_iAsyncHandle[%d], "
                        "m_socketAsyncIO[%d], pUserData[0x%X], m_nUserID[%d]",
                        MORVA_PTR_ARG(this), iKeyHandle, m_iAsyncHandle, iSocket, MORVA_PTR_ARG(uKey), m_nUserID);
        return false;
    }
    return true;
}

// Runs the delivery of a completion on the object of its slot, under the slot's mutex, and
// lowers the outstanding count of whoever the completion belongs to.
template <class Deliver>
void CLinkAsyncIO::Complete(const char *pCaller, uintptr_t uKey, Deliver fnDeliver) {
    if (!uKey)
        return;
    if (auto fnHook = g_fnCompletionHook.load())
        fnHook();
    CAsyncManager *pMgr = GetAsyncManager();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CLinkAsyncIO::%s, GetAsyncManager Failed", pCaller);
        return;
    }
    const int iHandle = AsyncKey::Handle(uKey);
    if (!pMgr->LockHandle(iHandle)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::%s, LockMember Failed iAsyncHandle[%d], pUsrData[0x%X]",
                        MORVA_PTR_ARG(pMgr), pCaller, iHandle, MORVA_PTR_ARG(uKey));
        return;
    }
    CAsyncManager::Slot *pSlot = pMgr->GetAsyncInfo(iHandle);
    CLinkAsyncIO *pObject = pSlot->pObject;
    if (pObject && pObject->CheckAsyncCallbackUserData(uKey)) {
        fnDeliver(pObject);
        // A Stop inside the callback turned the slot over to its drain.
        if (pSlot->pObject == pObject)
            --pObject->m_nUnCompCount;
        else if (pSlot->pDrain)
            DrainOne(pMgr, iHandle, pSlot);
    } else if (!pObject && pSlot->pDrain && pSlot->uGeneration == AsyncKey::Generation(uKey)) {
        DrainOne(pMgr, iHandle, pSlot);
    } else if (!pObject) {
        LogModule_Write(LOG_LEVEL_ERR, "CLinkAsyncIO::%s, pInstance is NULL, iAsyncHandle[%d], pUsrData[0x%X], OpType[%d]",
                        pCaller, iHandle, MORVA_PTR_ARG(uKey), (int)AsyncKey::Type(uKey));
    }
    pMgr->UnlockHandle(iHandle);
}

int32_t CLinkAsyncIO::AsyncIOCallBack(int32_t iError, int32_t iBytes, void *pUserData) {
    const uintptr_t uKey = reinterpret_cast<uintptr_t>(pUserData);
    Complete("AsyncIOCallBack", uKey, [&](CLinkAsyncIO *pObject) {
        switch (AsyncKey::Type(uKey)) {
        case ASYNC_OP_RECV:
            if (pObject->m_pRecvBuf)
                pObject->RecvStreamData(iError, iBytes);
            break;
        case ASYNC_OP_SEND:
            --pObject->m_nSendsPending;
            break;
        case 2:
            break;
        default:
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::AsyncIOCallBack, Unknown OpType[%d]",
                            MORVA_PTR_ARG(pObject), (int)AsyncKey::Type(uKey));
        }
    });
    return 0;
}

int32_t CLinkAsyncIO::AsynIOCmdCallBack(int32_t iError, int32_t iBytes, void *pUserData) {
    const uintptr_t uKey = reinterpret_cast<uintptr_t>(pUserData);
    Complete("AsynIOCmdCallBack", uKey,
             [&](CLinkAsyncIO *pObject) { pObject->OnCmdCompletion(AsyncKey::Type(uKey), iError, iBytes); });
    return 0;
}

// The callback, unless the object was stopped; 0 when it was stopped inside the callback (the
// object may be gone then).
int CLinkAsyncIO::CallBack(char *pData, int iLen, int iStatus) {
    CLinkAsyncIO *pOuter = t_pDelivering;
    t_pDelivering = this;
    const int iResult = m_fnRecv(m_pUser, pData, iLen, iStatus);
    const bool bStopped = t_pDelivering != this;
    t_pDelivering = pOuter;
    return bStopped ? -1 : iResult;
}

void CLinkAsyncIO::RecvStreamData(int iError, int iBytes) {
    if (iError == kErrorAborted && !m_bCompleted && m_socketAsyncIO.load() != -1) {
        m_bCompleted = 1;
        if (ResumeRecvThread() != 1)
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::RecvStreamData, AsyncIOPostRecv Failed",
                            MORVA_PTR_ARG(this));
        return;
    }
    m_bCompleted = 1;
    // Nothing reaches the owner once Stop has taken the socket.
    if (m_socketAsyncIO.load() == -1) {
        m_bRecving = 0;
        return;
    }
    if (iError != 0) {
        m_bRecving = 0;
        CallBack(nullptr, 0, kStatusClosed);
        return;
    }
    if (iBytes == kHeldBytes) {
        RecvStreamDataSync(0, 1);
        return;
    }
    if (iBytes == 0) {
        m_bRecving = 0;
        CallBack(nullptr, 0, kStatusRecvError);
        return;
    }
    if (m_pSSLTrans) {
        RecvStreamDataSync(iBytes, 0);
        return;
    }
    const int iResult = CallBack(m_pRecvBuf, iBytes, kStatusData);
    if (iResult <= 0) {
        if (iResult == 0)
            m_bRecving = 0;
        return;
    }
    if (AsyncIOPostRecv(m_pRecvBuf, m_dwRecvBufSize, AsyncIOCallBack) != 1) {
        m_bRecving = 0;
        CallBack(nullptr, 0, kStatusRecvError);
    }
}

// One read of the TLS object; the received bytes go in on the first read (*pbMore 0) and the
// plain text comes out into the same buffer.
int CLinkAsyncIO::ReadSSL(int iInLen, int *pbMore) {
    std::unique_lock<std::mutex> lock;
    if (m_pSSLLock)
        lock = std::unique_lock<std::mutex>(*m_pSSLLock);
    const int iRead = m_pSSLTrans->SSLTrans_read_with_BIO(m_pRecvBuf, iInLen, m_pRecvBuf, (int)m_dwRecvBufSize, pbMore);
    if (iRead < 0 && !m_pSSLTrans->SSLTrans_read_wants_input(iRead))
        return 0;  // the session failed: never taken for "more input"
    return iRead;
}

void CLinkAsyncIO::RecvStreamDataSync(int iBytes, int bMore) {
    for (;;) {
        const int iLength = ReadSSL(iBytes, &bMore);
        if (iLength > 0) {
            const int iResult = CallBack(m_pRecvBuf, iLength, kStatusData);
            if (iResult <= 0) {
                if (iResult == 0)
                    m_bRecving = 0;
                return;
            }
            continue;
        }
        if (iLength < 0)
            break;
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::RecvStreamDataSync, nLength[%d], nStatus[%d]",
                        MORVA_PTR_ARG(this), iLength, kStatusClosed);
        m_bRecving = 0;
        CallBack(nullptr, 0, kStatusClosed);
        return;
    }
    if (AsyncIOPostRecv(m_pRecvBuf, m_dwRecvBufSize, AsyncIOCallBack) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::RecvStreamDataSync, AsyncIOPostRecv Failed", MORVA_PTR_ARG(this));
        m_bRecving = 0;
        CallBack(nullptr, 0, kStatusRecvError);
    }
}

void CLinkAsyncIO::OnCmdCompletion(uint32_t uType, int iError, int iBytes) {
    std::lock_guard<std::mutex> guard(m_CmdLock);
    if (uType == ASYNC_OP_RECV) {
        m_Cmd.bRecvDone = true;
        m_Cmd.iRecvError = iError;
        m_Cmd.dwRecvBytes = iError ? 0 : (DWORD)iBytes;
        m_Cmd.dwReadPos = 0;
    } else if (uType == ASYNC_OP_CONNECT) {
        m_Cmd.bConnDone = true;
        m_Cmd.iConnError = iError;
    } else if (uType == ASYNC_OP_SEND) {
        --m_nSendsPending;
    }
    m_CmdCond.notify_all();
}

// ---- posting ----

int CLinkAsyncIO::AsyncIOPostRecv(char *pBuf, DWORD dwSize, YAR_ASYNCIO_ROUTINE fnRoutine) {
    yar::yar_guard guard(&m_Mutex);
    const int iSocket = m_socketAsyncIO.load();
    if (iSocket == -1)
        return 1;
    ++m_nUnCompCount;
    if (YAR_AsyncIO_RecvEx(iSocket, pBuf, (int32_t)dwSize, reinterpret_cast<void *>(MakeKey(ASYNC_OP_RECV)),
                           fnRoutine) != 0) {
        --m_nUnCompCount;
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::AsyncIOPostRecv, YAR_AsyncIO_RecvEx Failed, m_socketAsyncIO[%d], "
                        "syserror[%d], m_nUserID[%d]",
                        MORVA_PTR_ARG(this), iSocket, YAR_GetSystemLastError(), m_nUserID);
        SetError(MORVA_ERR_RECV);
        return 0;
    }
    m_bRecving = 1;
    return 1;
}

int CLinkAsyncIO::AsyncIOPostSend(const char *pData, DWORD dwLen, YAR_ASYNCIO_ROUTINE fnRoutine) {
    yar::yar_guard guard(&m_Mutex);
    const int iSocket = m_socketAsyncIO.load();
    if (iSocket == -1)
        return 0;
    ++m_nUnCompCount;
    ++m_nSendsPending;
    if (YAR_AsyncIO_SendEx(iSocket, pData, (int32_t)dwLen, reinterpret_cast<void *>(MakeKey(ASYNC_OP_SEND)),
                           fnRoutine) != 0) {
        --m_nUnCompCount;
        --m_nSendsPending;
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::AsyncIOPostSend, YAR_AsyncIO_SendEx Failed, m_socketAsyncIO[%d], "
                        "syserror[%d], m_nUserID[%d]",
                        MORVA_PTR_ARG(this), iSocket, YAR_GetSystemLastError(), m_nUserID);
        return 0;
    }
    return 1;
}

int CLinkAsyncIO::AsyncIOPostConnect(const YAR_ADDR_T *pAddr, YAR_ASYNCIO_ROUTINE fnRoutine, uintptr_t uKey,
                                     int iUserID) {
    yar::yar_guard guard(&m_Mutex);
    const int iSocket = m_socketAsyncIO.load();
    if (iSocket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::AsyncIOPostConnect, Invalid m_socketAsyncIO",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    if (!fnRoutine || !uKey) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::AsyncIOPostConnect, Invalid Param, pCallBack[0x%X], pUserData[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(fnRoutine), MORVA_PTR_ARG(uKey));
        return 0;
    }
    m_nUserID = iUserID;
    ++m_nUnCompCount;
    if (YAR_AsyncIO_ConnectEx(iSocket, pAddr, nullptr, 0, reinterpret_cast<void *>(uKey), fnRoutine, 0) != 0) {
        --m_nUnCompCount;
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::AsyncIOPostConnect, YAR_AsyncIO_ConnectEx Failed, syserror[%d], m_nUserID[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError(), m_nUserID);
        return 0;
    }
    return 1;
}

DWORD CLinkAsyncIO::PostSendPieces(const char *pData, DWORD dwLen, YAR_ASYNCIO_ROUTINE fnRoutine) {
    yar::yar_guard guard(&m_Mutex);
    DWORD dwSent = 0;
    while (dwSent < dwLen) {
        const DWORD dwPiece = std::min(kSendPiece, dwLen - dwSent);
        if (AsyncIOPostSend(pData + dwSent, dwPiece, fnRoutine) != 1)
            break;
        dwSent += dwPiece;
    }
    return dwSent;
}

int CLinkAsyncIO::ResumeRecvThread() {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::ResumeRecvThread, m_bInit is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!m_bBindAsync) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::ResumeRecvThread, m_bBindAsync is False",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    if (!m_pRecvBuf) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::ResumeRecvThread, m_pRecvBuf == NULL", MORVA_PTR_ARG(this));
        return 0;
    }
    m_bRecving = 0;
    if (HoldsSSLData())
        return PostHeld();
    if (AsyncIOPostRecv(m_pRecvBuf, m_dwRecvBufSize, AsyncIOCallBack) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::ResumeRecvThread, AsyncIOPostRecv Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    return 1;
}

int CLinkAsyncIO::HoldsSSLData() {
    if (!m_pSSLTrans)
        return 0;
    std::unique_lock<std::mutex> lock;
    if (m_pSSLLock)
        lock = std::unique_lock<std::mutex>(*m_pSSLLock);
    return m_pSSLTrans->SSLTrans_holds_data();
}

// The TLS object already holds data, from blocking reads before the switch or from a delivery
// the owner paused: a worker delivers it now instead of after the next bytes from the socket,
// which may never come when the peer waits for an answer.
int CLinkAsyncIO::PostHeld() {
    yar::yar_guard guard(&m_Mutex);
    const int iSocket = m_socketAsyncIO.load();
    if (iSocket == -1)
        return 1;
    ++m_nUnCompCount;
    if (YAR_AsyncIO_PostQueuedCompleteStatusEx(m_hAsyncIOQueue, this, 0, kHeldBytes,
                                               reinterpret_cast<void *>(MakeKey(ASYNC_OP_RECV)), AsyncIOCallBack) != 0) {
        --m_nUnCompCount;
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::PostHeld, YAR_AsyncIO_PostQueuedCompleteStatusEx Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
        return 0;
    }
    m_bRecving = 1;
    return 1;
}

int CLinkAsyncIO::SendData(const char *pSendBuf, DWORD uiSendLen) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendData, m_bInit is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!pSendBuf || !uiSendLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendData, Invalid Param, pSendBuf[0x%X], uiSendLen[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pSendBuf), uiSendLen);
        return 0;
    }
    const DWORD dwSent = PostSendPieces(pSendBuf, uiSendLen, AsyncIOCallBack);
    if (dwSent != uiSendLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendData, Failed, NeedSendLen[%d], RealSendLen[%d]",
                        MORVA_PTR_ARG(this), uiSendLen, dwSent);
        return 0;
    }
    return (int)uiSendLen;
}

// A write that the socket takes whole needs no completion, so no worker wakes for it: at bulk
// rates the wake-ups, not the sends, cost the time.
int CLinkAsyncIO::SendSealed(const char *pData, DWORD dwLen) {
    if (!m_bInit)
        return 0;
    yar::yar_guard guard(&m_Mutex);
    const int iSocket = m_socketAsyncIO.load();
    if (iSocket == -1 || !pData || !dwLen)
        return 0;
    DWORD dwDone = 0;
    if (m_nSendsPending.load() == 0) {
        const int iSent = YAR_Send(iSocket, pData, (int)dwLen);
        if (iSent < 0 && YAR_GetSystemLastError() != YAR_SYSERR_WSAEWOULDBLOCK) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendSealed, YAR_Send Failed, m_socketAsyncIO[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), iSocket, YAR_GetSystemLastError());
            return 0;
        }
        dwDone = iSent > 0 ? (DWORD)iSent : 0;
    }
    if (dwDone < dwLen && AsyncIOPostSend(pData + dwDone, dwLen - dwDone, AsyncIOCallBack) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendSealed, Failed, NeedSendLen[%d], RealSendLen[%d]",
                        MORVA_PTR_ARG(this), dwLen, dwDone);
        return 0;
    }
    return (int)dwLen;
}

int CLinkAsyncIO::SendCmdDataSync(const char *pSendBuf, DWORD uiSendLen, DWORD dwTimeOut) {
    if (!m_bInit) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendCmdDataSync, m_bInit is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!pSendBuf || !uiSendLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkAsyncIO::SendCmdDataSync, Invalid Param, pSendBuf[0x%X], uiSendLen[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pSendBuf), uiSendLen);
        return 0;
    }
    {
        // A connect still under way is waited for: data posted before it would be refused.
        std::unique_lock<std::mutex> lock(m_CmdLock);
        m_CmdCond.wait_for(lock, std::chrono::milliseconds(dwTimeOut), [this] {
            return !m_Cmd.bConnPosted || m_Cmd.bConnDone || m_socketAsyncIO.load() == -1;
        });
        if (m_Cmd.bConnPosted && (!m_Cmd.bConnDone || m_Cmd.iConnError != 0)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLinkAsyncIO::SendCmdDataSync, AsyncIOPostSend, Failed, uiSendLen[%d], nRealSendLen[%d]",
                            MORVA_PTR_ARG(this), uiSendLen, 0);
            return 0;
        }
    }
    const DWORD dwSent = PostSendPieces(pSendBuf, uiSendLen, AsynIOCmdCallBack);
    if (dwSent != uiSendLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkAsyncIO::SendCmdDataSync, AsyncIOPostSend, Failed, uiSendLen[%d], nRealSendLen[%d]",
                        MORVA_PTR_ARG(this), uiSendLen, dwSent);
        return 0;
    }
    return (int)uiSendLen;
}

int CLinkAsyncIO::RecvCmdDataSync(char *pRecvBuf, DWORD dwBufSize, DWORD dwTimeOut, DWORD *pRecvLen) {
    *pRecvLen = 0;
    if (!m_bBindAsync || !m_pRecvBuf || !pRecvBuf || !dwBufSize)
        return kStatusRecvError;
    std::unique_lock<std::mutex> lock(m_CmdLock);
    const bool bLeft = m_Cmd.bRecvDone && m_Cmd.dwReadPos < m_Cmd.dwRecvBytes;
    if (!bLeft && !m_Cmd.bRecvPosted) {
        m_Cmd.bRecvPosted = true;
        m_Cmd.bRecvDone = false;
        lock.unlock();
        const int iSocket = m_socketAsyncIO.load();
        if (iSocket == -1 || AsyncIOPostRecv(m_pRecvBuf, m_dwRecvBufSize, AsynIOCmdCallBack) != 1 ||
            m_socketAsyncIO.load() == -1) {
            lock.lock();
            m_Cmd.bRecvPosted = false;
            return kStatusRecvError;
        }
        lock.lock();
    }
    if (!m_CmdCond.wait_for(lock, std::chrono::milliseconds(dwTimeOut),
                            [this] { return m_Cmd.bRecvDone || m_socketAsyncIO.load() == -1; }) ||
        !m_Cmd.bRecvDone)
        return m_socketAsyncIO.load() == -1 ? kStatusRecvError : 10;
    m_Cmd.bRecvPosted = false;
    if (m_Cmd.iRecvError != 0)
        return m_Cmd.iRecvError == kErrorAborted ? kStatusClosed : kStatusRecvError;
    if (m_Cmd.dwRecvBytes == 0)
        return kStatusClosed;
    const DWORD dwCopy = std::min(dwBufSize, m_Cmd.dwRecvBytes - m_Cmd.dwReadPos);
    std::memcpy(pRecvBuf, m_pRecvBuf + m_Cmd.dwReadPos, dwCopy);
    m_Cmd.dwReadPos += dwCopy;
    *pRecvLen = dwCopy;
    return kStatusData;
}

int CLinkAsyncIO::ConnLinkAsync(const YAR_ADDR_T *pAddr, int iUserID) {
    {
        std::lock_guard<std::mutex> guard(m_CmdLock);
        m_Cmd.bConnPosted = true;
        m_Cmd.bConnDone = false;
    }
    if (AsyncIOPostConnect(pAddr, AsynIOCmdCallBack, MakeKey(ASYNC_OP_CONNECT), iUserID) != 1) {
        std::lock_guard<std::mutex> guard(m_CmdLock);
        m_Cmd.bConnPosted = false;
        return 0;
    }
    return 1;
}

}  // namespace Vorezi
