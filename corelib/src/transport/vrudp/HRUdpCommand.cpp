// The endpoint's life cycle, its threads and the calls of its users. Packet processing is in
// HRUdpCommandRecv.cpp.
#include "transport/vrudp/HRUdpCommand.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/HRUdp.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr uint32_t kListenStack = 0x40000;
constexpr uint32_t kWorkerStack = 102400;
constexpr uint32_t kSendPassMs = 80;
constexpr int32_t kDataWaitMs = 100;
constexpr uint32_t kConnectWaitMs = 300;

thread_local const CHRUdpCommand *t_pOwnEndpoint = nullptr;

bool MakeAddr(const VRUDP_SOCK_ADDR &stAddr, YAR_ADDR_T *pOut) {
    int iAf = YAR_Strchr(stAddr.szAddr, ':') ? YAR_AF_INET6 : YAR_AF_INET;
    return YAR_MakeAddrByString(iAf, stAddr.szAddr, stAddr.wPort, pOut) == 0;
}
}  // namespace

CHRUdpCommand::CHRUdpCommand() {
    for (auto &h : m_aiVRUDPHandle)
        h.store(-1, std::memory_order_relaxed);
}

CHRUdpCommand::~CHRUdpCommand() {
    Stop();
}

int CHRUdpCommand::Start(void *pParam) {
    m_iHandle = GetMemberIndex();
    if (YAR_MutexCreate(&m_csLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, YAR_MutexCreate m_csLock Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedLock = 1;
    if (YAR_MutexCreate(&m_csLinkLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, YAR_MutexCreate m_csLinkLock Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedLinkLock = 1;
    if (YAR_SemCreate(&m_Sem, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, YAR_SemCreate m_csLinkLock Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedSem = 1;
    if (YAR_SemCreate(&m_SendWake, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, YAR_SemCreate m_SendWake Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedSendWake = 1;
    auto *pNew = static_cast<VRUDP_LINK_NEW *>(pParam);
    if (!pNew) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, pstHRUdpLinkNew == NULL", m_iHandle);
        Stop();
        return 0;
    }
    m_iAf = pNew->stCond.iAf;
    if (m_oSocket.CreateSocket(m_iAf) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, CreateSocket Failed", m_iHandle);
        Stop();
        return 0;
    }
    m_oSocket.SetNoBlock(1);
    m_iMode = pNew->stCond.enumMode;
    m_iTableSize = m_iMode == ENUM_VRUDP_MODE_CLIENT ? 1 : kMaxLinks;
    m_iDeliverBufLen = CHRUdp::kMaxMsgBlocks * kDefaultOneDataSize;
    m_pDeliverBuf.reset(new (std::nothrow) uint8_t[m_iDeliverBufLen]);
    m_pPending.reset(new (std::nothrow) int32_t[kMaxLinks]);
    m_pPendingMark.reset(new (std::nothrow) uint8_t[kMaxLinks]());
    if (!m_pDeliverBuf || !m_pPending || !m_pPendingMark) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Start, New Buffers Failed", m_iHandle);
        SetError(MORVA_ERR_ALLOC);
        Stop();
        return 0;
    }
    return 1;
}

void CHRUdpCommand::JoinThread(std::atomic<YAR_HANDLE> &hThread) {
    if (YAR_HANDLE h = hThread.exchange(nullptr))
        YAR_Thread_Wait(h);
}

void CHRUdpCommand::StopThreads() {
    m_bStop = 1;
    m_bRecvStop = 1;
    m_bSendStop = 1;
    m_bDataStop = 1;
    // Wake the waiting threads instead of waiting out their time-outs: a shut socket ends the
    // receive thread's poll, a post the data-transfer thread's wait.
    if (m_hThread.load() && m_oSocket.GetSocket() >= 0)
        m_oSocket.ShutDown(2);
    if (m_bCreatedSem && m_hDataTransThread.load())
        YAR_SemPost(&m_Sem);
    for (auto &h : m_hSendThread) {
        if (m_bCreatedSendWake && h.load())
            YAR_SemPost(&m_SendWake);
    }
    JoinThread(m_hThread);
    JoinThread(m_hDataTransThread);
    for (auto &h : m_hSendThread)
        JoinThread(h);
}

bool CHRUdpCommand::IsOwnThread() const {
    return t_pOwnEndpoint == this;
}

int CHRUdpCommand::Stop() {
    if (!m_bCreatedLock)
        return 1;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::Stop, in", m_iHandle);
    StopThreads();
    if (CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr()) {
        for (auto &entry : m_aiVRUDPHandle) {
            int h = entry.exchange(-1);
            if (h >= 0)
                pMgr->Destroy(h);
        }
    }
    m_iLinkCount = 0;
    m_oSocket.CloseSocket();
    m_pUser = nullptr;
    if (m_bCreatedSem) {
        YAR_SemDestroy(&m_Sem);
        m_bCreatedSem = 0;
    }
    if (m_bCreatedSendWake) {
        YAR_SemDestroy(&m_SendWake);
        m_bCreatedSendWake = 0;
    }
    YAR_MutexDestroy(&m_csLock);
    m_bCreatedLock = 0;
    if (m_bCreatedLinkLock) {
        YAR_MutexDestroy(&m_csLinkLock);
        m_bCreatedLinkLock = 0;
    }
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::Stop, out", m_iHandle);
    return 1;
}

// ---- socket calls ----

int CHRUdpCommand::ShutDown(int iHow) {
    return m_oSocket.ShutDown(iHow);
}

int CHRUdpCommand::SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize) {
    return m_oSocket.SetBuffSize(iSndBuffSize, iRcvBuffSize);
}

int CHRUdpCommand::SetNoBlock(int bNoBlock) {
    return m_oSocket.SetNoBlock(bNoBlock);
}

int CHRUdpCommand::SetReuseAddr(int bReuse) {
    return m_oSocket.SetSockOpt(bReuse);
}

int CHRUdpCommand::GetSockBuffSize(int *piSnd, int *piRcv) {
    return m_oSocket.GetBuffSize(piSnd, piRcv);
}

int CHRUdpCommand::Bind(const VRUDP_SOCK_ADDR *pstSockAddr) {
    YAR_ADDR_T stAddr;
    if (!pstSockAddr || !MakeAddr(*pstSockAddr, &stAddr) || m_oSocket.Bind(stAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Bind, Bind Failed", m_iHandle);
        if (pstSockAddr)
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Bind, Bind Failed, Addr[%s:%d]", m_iHandle,
                            pstSockAddr->szAddr, pstSockAddr->wPort);
        return 0;
    }
    return 1;
}

// ---- threads ----

int CHRUdpCommand::StartRecvThread(uint32_t dwStackSize) {
    m_bRecvStop = 0;
    YAR_HANDLE h = YAR_Thread_Create(RecvDataProc, this, dwStackSize, 0, 0, 0);
    m_hThread = h;
    return h ? 0 : -1;
}

uint32_t CHRUdpCommand::RecvDataProc(void *pParam) {
    auto *pThis = static_cast<CHRUdpCommand *>(pParam);
    t_pOwnEndpoint = pThis;
    uint8_t abyBuf[kRecvBufLen];
    while (!pThis->m_bRecvStop)
        pThis->RecvStep(abyBuf);
    return 0;
}

void CHRUdpCommand::RecvStep(uint8_t *pBuf) {
    uint32_t dwNow = VRUDP_GetTickMs();
    if (dwNow - m_dwLastSweep > 1000) {
        CheckDoKeepLive();
        m_dwLastSweep = dwNow;
    }
    YAR_ADDR_T stFrom = {};
    int iLen = m_oSocket.RecvData(pBuf, kRecvBufLen, &stFrom, 200);
    if (iLen < 0) {
        YAR_Sleep(10);
        return;
    }
    if (iLen == 0)
        return;
    if (!m_bFirstRecvLogged.exchange(1))
        LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::RecvStep, First Datagram, iLen[%d]", m_iHandle, iLen);
    if (CheckDataHRUdp(pBuf, size_t(iLen))) {
        ProccessRUDPData(pBuf, iLen, stFrom);
        return;
    }
    VRUDP_RECV_DATA stData = {};
    stData.iVRUDPHandle = -1;
    YAR_GetAddrStringEx(&stFrom, stData.szRemoteAddr, sizeof stData.szRemoteAddr);
    stData.wRemotePort = YAR_GetAddrPort(&stFrom);
    stData.pData = pBuf;
    stData.iDataLen = iLen;
    CallBack(&stData);
}

void CHRUdpCommand::CallBack(VRUDP_RECV_DATA *pData) {
    if (VRUDP_RECV_CALLBACK fn = m_fnRecvCB.load())
        fn(m_pUser.load(), pData);
}

int CHRUdpCommand::CreateSendThread(int iIndex) {
    int iGroup = iIndex % kSendThreads;
    if (m_hSendThread[iGroup].load() || m_bSendStop)
        return m_bSendStop ? -1 : 0;
    m_stSendParam[iGroup] = {this, iGroup};
    YAR_HANDLE h = YAR_Thread_Create(SendThreadProc, &m_stSendParam[iGroup], kWorkerStack, 0, 0, 0);
    if (!h) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::CreateSendThread, VRUDP_Thread_Create Failed, syserror[%d], dwIndex[%d]",
                        m_iHandle, YAR_GetSystemLastError(), iIndex);
        return -1;
    }
    m_hSendThread[iGroup] = h;
    return 0;
}

uint32_t CHRUdpCommand::SendThreadProc(void *pParam) {
    auto *pParamRec = static_cast<VRUDP_SEND_THREAD_PARAM *>(pParam);
    t_pOwnEndpoint = pParamRec->pEndpoint;
    pParamRec->pEndpoint->SendLoop(pParamRec->iGroup);
    return 0;
}

void CHRUdpCommand::SendLoop(int iGroup) {
    while (!m_bSendStop) {
        for (int i = iGroup; i < m_iTableSize && !m_bSendStop; i += kSendThreads) {
            int h = m_aiVRUDPHandle[i].load();
            if (h < 0)
                continue;
            CRWGuard guard(h);
            if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
                pConn->TransferStep();
        }
        YAR_SemTimedWait(&m_SendWake, int32_t(kSendPassMs));
    }
}

int CHRUdpCommand::CreateDataTransThread() {
    if (m_hDataTransThread.load())
        return 0;
    m_bDataStop = 0;
    YAR_HANDLE h = YAR_Thread_Create(DataTransThreadProc, this, kWorkerStack, 0, 0, 0);
    if (!h) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateDataTransThread, YAR_Thread_Create Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        return -1;
    }
    m_hDataTransThread = h;
    return 0;
}

uint32_t CHRUdpCommand::DataTransThreadProc(void *pParam) {
    auto *pThis = static_cast<CHRUdpCommand *>(pParam);
    t_pOwnEndpoint = pThis;
    pThis->DataTransLoop();
    return 0;
}

void CHRUdpCommand::DataTransLoop() {
    while (!m_bDataStop) {
        int h = GetRecvDataSessionId();
        if (h < 0) {
            if (YAR_SemTimedWait(&m_Sem, kDataWaitMs) != 0)
                continue;
            h = GetRecvDataSessionId();
            if (h < 0)
                continue;
        }
        CRWGuard guard(h);
        if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
            pConn->DeliverData(m_fnRecvCB.load(), m_pUser.load(), m_pDeliverBuf.get(), m_iDeliverBufLen);
    }
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::DataTransThread, Exit", m_iHandle);
}

int CHRUdpCommand::StoreRecvData(int iVRUDPHandle, int) {
    if (iVRUDPHandle < 0 || iVRUDPHandle >= kMaxLinks)
        return -1;
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return -1;
    // One mark per connection: it stays queued once, however many messages wait behind it.
    if (m_pPendingMark[iVRUDPHandle])
        return 0;
    m_pPendingMark[iVRUDPHandle] = 1;
    m_pPending[(m_iPendingHead + m_iRecvDataCount) % kMaxLinks] = iVRUDPHandle;
    m_iRecvDataCount++;
    YAR_SemPost(&m_Sem);
    return 0;
}

int CHRUdpCommand::GetRecvDataSessionId() {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || m_iRecvDataCount == 0)
        return -1;
    int h = m_pPending[m_iPendingHead];
    m_iPendingHead = (m_iPendingHead + 1) % kMaxLinks;
    m_iRecvDataCount--;
    m_pPendingMark[h] = 0;
    return h;
}

int CHRUdpCommand::Listen(void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) {
    if (m_hThread.load() || !fnRecvCB || m_hDataTransThread.load()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CHRUdpCommand::Listen, Invalid Param, m_hThread[%d], fnRecvCB[0x%X], "
                        "m_hDataTransThread[%d]",
                        m_iHandle, m_hThread.load() ? 1 : 0, MORVA_PTR_ARG(fnRecvCB),
                        m_hDataTransThread.load() ? 1 : 0);
        return 0;
    }
    m_fnRecvCB = fnRecvCB;
    m_pUser = pUser;
    if (StartRecvThread(kListenStack) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Listen, YAR_Thread_Create VRUDP_Recv_Data_Proc Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
    } else {
        m_bDataStop = 0;
        YAR_HANDLE h = YAR_Thread_Create(DataTransThreadProc, this, kListenStack, 0, 0, 0);
        if (h) {
            m_hDataTransThread = h;
            LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::Listen, SUCC, m_wPort[%d]", m_iHandle,
                            m_oSocket.GetLocalPort());
            return 1;
        }
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::Listen, YAR_Thread_Create DataTransThread Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        m_bRecvStop = 1;
        JoinThread(m_hThread);
    }
    m_fnRecvCB = nullptr;
    m_pUser = nullptr;
    return 0;
}

int CHRUdpCommand::SetRecvFun(VRUDP_RECV_CALLBACK fnRecvCB, void *pUser) {
    m_fnRecvCB = fnRecvCB;
    m_pUser = pUser;
    return CreateDataTransThread() == 0 ? 1 : 0;
}

// ---- the handle table ----

int CHRUdpCommand::FindHRUdpId(const VRUDP_SOCK_ADDR &stAddr) {
    for (int i = 0; i < m_iTableSize; i++) {
        int h = m_aiVRUDPHandle[i].load();
        if (h < 0)
            continue;
        CRWGuard guard(h);
        auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
        if (pConn && pConn->CheckAddr(stAddr.szAddr, stAddr.wPort))
            return h;
    }
    return -1;
}

bool CHRUdpCommand::CheckSameRemote(int iVRUDPHandle) {
    CRWGuard guard(iVRUDPHandle);
    auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
    return pConn && pConn->CheckSameRemote(m_dwRecognizeCode);
}

int CHRUdpCommand::DeleteHandle(int iVRUDPHandle) {
    CGuard guard(&m_csLinkLock);
    if (!guard.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::DeleteHandle, Lock m_csLinkLock Failed", m_iHandle);
        return 0;
    }
    int bDel = 0;
    for (int i = 0; i < m_iTableSize && !bDel; i++) {
        int iExpected = iVRUDPHandle;
        if (m_aiVRUDPHandle[i].compare_exchange_strong(iExpected, -1)) {
            m_iLinkCount--;
            bDel = 1;
        }
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CHRUdpCommand::DeleteHandle, iVRUDPHandle[%d], bDelSucc[%d]", m_iHandle,
                    iVRUDPHandle, bDel);
    return bDel;
}

int CHRUdpCommand::CloseHRObj(int iVRUDPHandle, int bCloseThread) {
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::CloseHRObj, iVRUDPHandle[%d], bCloseThread[%d]", m_iHandle,
                    iVRUDPHandle, bCloseThread);
    if (iVRUDPHandle < 0)
        return 0;
    DeleteHandle(iVRUDPHandle);
    if (bCloseThread) {
        m_bRecvStop = 1;
        JoinThread(m_hThread);
    }
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    return pMgr ? pMgr->Destroy(iVRUDPHandle) : 0;
}

int CHRUdpCommand::CreateHRObj(const VRUDP_SOCK_ADDR &stAddr) {
    int h = FindHRUdpId(stAddr);
    if (h >= 0) {
        if (CheckSameRemote(h)) {
            LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::CreateHRObj, CheckSameRemote SUCC, iVRUDPHandle[%d], Addr[%s:%d]",
                            m_iHandle, h, stAddr.szAddr, stAddr.wPort);
            return h;
        }
        {
            CRWGuard guard(h);
            if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
                pConn->CallBackLinkClose(m_fnRecvCB.load(), m_pUser.load());
        }
        CloseHRObj(h, 0);
    }
    // A client endpoint serves entry 0 only; a second connection would be served by no thread.
    if (m_iMode == ENUM_VRUDP_MODE_CLIENT && m_aiVRUDPHandle[0].load() >= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateHRObj, Client Already Connected, iVRUDPHandle[%d]",
                        m_iHandle, m_aiVRUDPHandle[0].load());
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    // An API caller (a client connecting) starts the receive thread; the receive thread itself,
    // or one racing a stop, never starts another.
    if (!m_hThread.load() && !IsOwnThread() && !m_bStop && StartRecvThread(kWorkerStack) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateHRObj, YAR_Thread_Create Failed, syserror[%d]",
                        m_iHandle, YAR_GetSystemLastError());
        return -1;
    }
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    VRUDP_LINK_NEW stNew = {};
    stNew.stCond.iAf = m_iAf;
    stNew.stCond.enumType = ENUM_VRUDP_TYPE_ENDPOINT;
    stNew.stCond.enumMode = m_iMode;
    stNew.iKind = 0;
    h = pMgr ? pMgr->Create(&stNew) : -1;
    if (h < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateHRObj, Create Failed", m_iHandle);
        return -1;
    }
    int iEntry = -1;
    {
        CGuard guard(&m_csLinkLock);
        if (!guard.IsLocked()) {
            pMgr->Destroy(h);
            return -1;
        }
        for (int i = 0; i < m_iTableSize; i++) {
            if (m_aiVRUDPHandle[i].load() < 0) {
                m_aiVRUDPHandle[i] = h;
                m_iLinkCount++;
                iEntry = i;
                break;
            }
        }
    }
    if (iEntry < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateHRObj, m_aiVRUDPHandle is Full, iIndex[%d], Destroy iVRUDPHandle[%d]",
                        m_iHandle, m_iTableSize, h);
        pMgr->Destroy(h);
        return -1;
    }
    {
        CRWGuard guard(h);
        if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member())) {
            pConn->SetVersion(m_byRemoteVersion);
            pConn->SetRemoteSessionId(m_iMode == ENUM_VRUDP_MODE_CLIENT ? kNoSession : m_wRemoteSessionId);
            pConn->SetRecognizeCode(m_dwRecognizeCode);
            pConn->SetFatherLink(m_iHandle);
            pConn->SetSocketHandle(m_oSocket.GetSocket());
            pConn->SetRemoteAddr(stAddr.szAddr, stAddr.wPort);
            pConn->SetMode(m_iMode);
        }
    }
    LogModule_Write(LOG_LEVEL_INF,
                    "[%d]CHRUdpCommand::CreateHRObj, iVRUDPHandle[%d], m_wRemoteSessionId[%d], m_dwRecognizeCode[%u], "
                    "Addr[%s:%d]",
                    m_iHandle, h, m_wRemoteSessionId, m_dwRecognizeCode.load(), stAddr.szAddr, stAddr.wPort);
    if (CreateSendThread(iEntry) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::CreateHRObj, CreateSendThread Failed, syserror[%d], Destroy, iVRUDPHandle[%d]",
                        m_iHandle, YAR_GetSystemLastError(), h);
        pMgr->Destroy(h);
        return -1;
    }
    return h;
}

void CHRUdpCommand::CheckDoKeepLive() {
    uint32_t dwNow = VRUDP_GetTickMs();
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    for (int i = 0; i < m_iTableSize; i++) {
        int h = m_aiVRUDPHandle[i].load();
        if (h < 0)
            continue;
        bool bExpired = false;
        {
            CRWGuard guard(h);
            auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
            if (!pConn)
                continue;
            pConn->CheckDoKeepLive(dwNow);
            if (pConn->IsKeepLiveExpired()) {
                pConn->CallBackLinkClose(m_fnRecvCB.load(), m_pUser.load());
                bExpired = true;
            }
        }
        // A client keeps its connection until the user closes it; a server removes it, once its
        // read lock is released.
        if (bExpired && m_iMode == ENUM_VRUDP_MODE_SERVER && pMgr) {
            LogModule_Write(LOG_LEVEL_INF,
                            "[%d]CHRUdpCommand::CheckDoKeepLive, Timeout, Destroy iVRUDPHandle[%d], dwLinkCount[%d], iIndex[%d]",
                            m_iHandle, h, m_iLinkCount.load(), i);
            pMgr->Destroy(h);
        }
    }
}

// ---- connecting, sending and reading ----

int CHRUdpCommand::ConnectRemote(const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) {
    if (m_iMode != ENUM_VRUDP_MODE_CLIENT) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ConnectRemote, Server Endpoint Does Not Connect", m_iHandle);
        return 0;
    }
    if (!pstSockAddr || CreateHRObj(*pstSockAddr) < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ConnectRemote, CreateHRObj Failed", m_iHandle);
        return 0;
    }
    if (ConnectRemote(nTimeOut))
        return 1;
    CloseHRObj(m_aiVRUDPHandle[0].load(), 1);
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ConnectRemote, ConnectRemote Failed, nTimeOut[%d]", m_iHandle,
                    (int)nTimeOut);
    return 0;
}

int CHRUdpCommand::ConnectRemote(uint32_t nTimeOut) {
    uint32_t dwCode = uint32_t(YAR_TimeNow() / 1000);
    m_dwRecognizeCode = dwCode;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::ConnectRemote, m_dwRecognizeCode[%u], nTimeOut[%d]", m_iHandle,
                    dwCode, (int)nTimeOut);
    int h = m_aiVRUDPHandle[0].load();
    CRWGuard guard(h);
    auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
    if (!pConn) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::ConnectRemote, GetMember Failed, m_aiVRUDPHandle[0][%d]",
                        m_iHandle, h);
        return 0;
    }
    pConn->SetRecognizeCode(dwCode);
    uint32_t dwStart = VRUDP_GetTickMs();
    while (!m_bStop) {
        pConn->SendInitData();
        uint32_t dwNow = VRUDP_GetTickMs();
        if (dwNow - dwStart >= nTimeOut) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CHRUdpCommand::ConnectRemote, Timeout, iTimeCount[%d], iTimeCountBase[%d], nTimeOut[%d]",
                            m_iHandle, (int)dwNow, (int)dwStart, (int)nTimeOut);
            return 0;
        }
        pConn->CondTimeWait(kConnectWaitMs);
        if (pConn->IsConnected()) {
            LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::ConnectRemote, HaveRecvInitAck SUCC", m_iHandle);
            return 1;
        }
    }
    return 0;
}

int CHRUdpCommand::DirectSendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr) {
    YAR_ADDR_T stAddr;
    if (!pstSockAddr || !MakeAddr(*pstSockAddr, &stAddr))
        return 0;
    if (!m_bFirstDirectSendLogged.exchange(1))
        LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::DirectSendTo, First Send, iBufLen[%d], Addr[%s:%d]", m_iHandle,
                        iBufLen, pstSockAddr->szAddr, pstSockAddr->wPort);
    return m_oSocket.SendData(static_cast<const uint8_t *>(pData), iBufLen, stAddr);
}

int CHRUdpCommand::SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) {
    int h = m_aiVRUDPHandle[0].load();
    if (m_iMode == ENUM_VRUDP_MODE_CLIENT && h >= 0) {
        CRWGuard guard(h);
        auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
        return pConn ? pConn->SendTo(pData, iBufLen, pstSockAddr, nTimeOut) : -1;
    }
    int iRet = DirectSendTo(pData, iBufLen, pstSockAddr);
    if (iRet <= 0)
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CHRUdpCommand::SendTo, DirectSendTo Failed, iRet[%d]", m_iHandle, iRet);
    return iRet;
}

int CHRUdpCommand::RecvFrom(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) {
    if (m_aiVRUDPHandle[0].load() < 0)
        return RecvFromNoHR(pBuf, iBufCount, pAddr, nTimeOut);
    return RecvFromHR(pBuf, iBufCount, pAddr, nTimeOut);
}

int CHRUdpCommand::RecvFromHR(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) {
    int h = m_aiVRUDPHandle[0].load();
    if (h < 0 || h > kMaxHandle || !pAddr)
        return -1;
    CRWGuard guard(h);
    auto *pConn = dynamic_cast<CHRUdp *>(guard.Member());
    return pConn ? pConn->RecvFromWithTimeOut(static_cast<uint8_t *>(pBuf), iBufCount, pAddr, nTimeOut) : -1;
}

int CHRUdpCommand::RecvFromNoHR(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) {
    if (!pAddr)
        return 0;
    uint8_t abyBuf[kRecvBufLen];
    YAR_ADDR_T stFrom = {};
    int iLen = m_oSocket.RecvData(abyBuf, kRecvBufLen, &stFrom, int(nTimeOut));
    if (iLen <= 0)
        return iLen;
    YAR_GetAddrStringEx(&stFrom, pAddr->szAddr, sizeof pAddr->szAddr);
    pAddr->wPort = YAR_GetAddrPort(&stFrom);
    if (CheckDataHRUdp(abyBuf, size_t(iLen))) {
        ProccessRUDPData(abyBuf, iLen, stFrom);
        return 0;
    }
    int iCopy = iLen < iBufCount ? iLen : iBufCount;
    std::memcpy(pBuf, abyBuf, size_t(iCopy > 0 ? iCopy : 0));
    return iCopy;
}

int CHRUdpCommand::SendFin() {
    for (int i = 0; i < m_iTableSize; i++) {
        int h = m_aiVRUDPHandle[i].load();
        if (h < 0)
            continue;
        if (m_iMode == ENUM_VRUDP_MODE_CLIENT)
            LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::SendFin, Client, SendFin, SessionHandle[0]=[%d]", m_iHandle, h);
        else
            LogModule_Write(LOG_LEVEL_INF, "[%d]CHRUdpCommand::SendFin, Server, SendFin, SessionHandle[%d], iIndex[%d]",
                            m_iHandle, h, i);
        CRWGuard guard(h);
        if (auto *pConn = dynamic_cast<CHRUdp *>(guard.Member()))
            pConn->SendFin();
    }
    return 1;
}
}  // namespace Vorezi
