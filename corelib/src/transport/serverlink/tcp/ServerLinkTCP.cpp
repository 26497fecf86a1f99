// The TCP server link: socket, listen thread, slots, send and stop. The per-connection worker
// is in ServerLinkTCPWorker.cpp.
#include "transport/serverlink/tcp/ServerLinkTCP.h"

#include <chrono>
#include <cstring>

#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "internal/MorvaInternal.h"
#include "transport/serverlink/ServerLinkMgr.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int kListenBacklog = 0x7ffffff;  // capped by net.core.somaxconn
constexpr int kDefaultTaskBound = 128;
constexpr uint64_t kAcceptRateReportMs = 5000;

bool ValidSlot(int iIndex) { return iIndex >= 0 && iIndex < SERVER_LINK_TCP_SLOTS; }

}  // namespace

CServerLinkTCP::CServerLinkTCP() {
    for (int i = 0; i < SERVER_LINK_TCP_SLOTS; i++) {
        m_bSlotInUse[i].store(0, std::memory_order_relaxed);
        m_iStreamHandle[i].store(-1, std::memory_order_relaxed);
        m_bSlotFinished[i].store(1, std::memory_order_relaxed);
        m_iSlotSocket[i] = -1;
    }
}

CServerLinkTCP::~CServerLinkTCP() {
    StopSever();
    if (m_bSlotMutex) {
        YAR_MutexDestroy(&m_SlotMutex);
        m_bSlotMutex = 0;
    }
}

int CServerLinkTCP::Start(void *pParam) {
    const auto *pCond = static_cast<const SERVER_LINK_COND *>(pParam);
    if (YAR_MutexCreate(&m_SlotMutex, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::Start, YAR_MutexCreate Failed, syserror[%d]", Index(),
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_bSlotMutex = 1;
    m_iStartIndex = 0;
    if (pCond)
        m_bCheckHead = pCond->bCheckHead;
    return CServerLinkBase::Start(pParam);
}

int CServerLinkTCP::Stop() {
    StopAllLinks();
    return CServerLinkBase::Stop();
}

int CServerLinkTCP::CreateSocket() {
    m_socket = YAR_CreateSocket(m_iAf, 1, 6);
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkTCP::CreateSocket, YAR_CreateSocket Failed, Addr[%s:%d], m_iAf[%d], syserror[%d]",
                        Index(), m_szLocalIP, m_wLocalPort, m_iAf, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SOCKET);
        return 0;
    }
    return 1;
}

int CServerLinkTCP::OpenLink() {
    if (!CreateSocket()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::OpenLink, CreateSocket Failed", Index());
        return 0;
    }
    YAR_ADDR_T struAddr;
    if (!GetLocalAddress(&struAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::OpenLink, GetLocalAddress Failed", Index());
        CloseLink();
        return 0;
    }
    YAR_SetReuseAddr(m_socket, 1);
    if (YAR_Bind(m_socket, &struAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::OpenLink, YAR_Bind Failed, syserror[%d]", Index(),
                        YAR_GetSystemLastError());
        CloseLink();
        SetError(MORVA_ERR_BIND);
        return 0;
    }
    if (YAR_Listen(m_socket, kListenBacklog) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::OpenLink, YAR_Listen Failed, syserror[%d]", Index(),
                        YAR_GetSystemLastError());
        CloseLink();
        SetError(MORVA_ERR_LISTEN);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkTCP::OpenLink, SUCC, m_socket[%d], Addr[%s:%d]", Index(), m_socket,
                    m_szLocalIP, m_wLocalPort);
    return 1;
}

int CServerLinkTCP::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    m_dwSendMult = dwSendMult;
    m_dwRecvMult = dwRecvMult;
    return 1;
}

int CServerLinkTCP::StartSever() {
    m_bStop.store(0);
    return StartOwnThread(&m_hListenThread, ListenThread, "[%d]CServerLinkTCP::StartSever, Already Start, m_hListenThread[%d]",
                          "[%d]CServerLinkTCP::StartSever, YAR_Thread_Create Failed, syserror[%d]");
}

int CServerLinkTCP::SetInfo(int, DWORD dwCommand, void *pBuf, int iBufLen) {
    if (dwCommand == SERVER_LINK_CMD_ACCEPT_WAIT && pBuf && iBufLen == (int)sizeof(int32_t)) {
        int32_t iWait;
        std::memcpy(&iWait, pBuf, sizeof(iWait));
        m_iListenSleep.store(iWait);
    }
    return 0;
}

int CServerLinkTCP::CloseServerLink() {
    StopSever();
    return 1;
}

int CServerLinkTCP::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    const int acceptSock = pParam ? pParam->iSocket : -1;
    if (m_socket == -1 || acceptSock == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::SendData, Invalid Socket, m_socket[%d], acceptSock[%d]",
                        Index(), m_socket, acceptSock);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    const int iSent = YAR_Sendn(acceptSock, pParam->pData, (int)pParam->dwDataLen, 5000);
    if (iSent < 0 || (DWORD)iSent != pParam->dwDataLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkTCP::SendData, YAR_Sendn Failed, acceptSock[%d], dwSendLen[%d], syserror[%d]",
                        Index(), acceptSock, (int)pParam->dwDataLen, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
    }
    return iSent;
}

// ---- listen thread ----

uint32_t CServerLinkTCP::ListenThread(void *pParam) {
    static_cast<CServerLinkTCP *>(pParam)->ListenProcess();
    return 0;
}

void CServerLinkTCP::ListenProcess() {
    CServerLinkMgr *pMgr = GetServerLinkMgr();
    if (!pMgr || !pMgr->GetThreadPoolHandle()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, GetThreadPoolHandle Failed", Index());
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    YAR_THREADPOOLFLEX_T *hPool = pMgr->GetThreadPoolHandle();
    const int iBound = pMgr->GetMaxThreadCount() ? pMgr->GetMaxThreadCount() : kDefaultTaskBound;
    // The listening socket outlives this thread: StopSever shuts it down, joins, then closes.
    const int sockListen = m_socket;
    uint64_t ullLastReport = YAR_GetTimeTick();
    DWORD dwAcceptCount = 0;
    try {
        while (!m_bStop.load()) {
            const int iSleep = m_iListenSleep.load();
            if (iSleep > 0) {
                YAR_Sleep((uint32_t)iSleep);
                m_iListenSleep.store(0);
                LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, Sleep[%d]", Index(), iSleep);
            }
            WaitForTaskRoom(iBound);
            const int sockAccept = YAR_Accept(sockListen, nullptr, 0xFFFFFFFFu);
            if (sockAccept == -1) {
                YAR_Sleep(5);
                continue;
            }
            if (m_bStop.load()) {
                YAR_CloseSocket(sockAccept, 1);
                break;
            }
            dwAcceptCount++;
            const uint64_t ullElapsed = YAR_GetTimeTick() - ullLastReport;
            if (ullElapsed >= kAcceptRateReportMs) {
                LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, Accept Rate[%d]/s, dwAcceptCount[%d]",
                                Index(), (int)(dwAcceptCount * 1000ull / ullElapsed), (int)dwAcceptCount);
                dwAcceptCount = 0;
                ullLastReport = YAR_GetTimeTick();
            }
            PostAccepted(sockAccept, hPool, iBound);
        }
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, YAR_Accept Failed, syserror[%d]", Index(),
                        YAR_GetSystemLastError());
    }
}

// At most iBound accepted connections wait for a pool thread. The wait ends as soon as a pool
// thread takes one, not at the end of a fixed 5 ms pause: a burst of connects would otherwise
// stall the accepts 5 ms at a time. The steps only bound how late a stop is seen.
void CServerLinkTCP::WaitForTaskRoom(int iBound) {
    std::unique_lock<std::mutex> lock(m_TaskLock);
    while (m_nTaskWait.load() > iBound && !m_bStop.load())
        m_TaskTaken.wait_for(lock, std::chrono::milliseconds(5));
}

// The lock orders the signal after the listener's check, so a wait never misses it.
void CServerLinkTCP::TaskTaken() {
    m_nTaskWait.fetch_sub(1);
    { std::lock_guard<std::mutex> lock(m_TaskLock); }
    m_TaskTaken.notify_one();
}

void CServerLinkTCP::PostAccepted(int sockAccept, YAR_THREADPOOLFLEX_T *hPool, int iBound) {
    if (!SetBuffSize(sockAccept, m_dwSendMult, m_dwRecvMult)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkTCP::ListenProcess, SetBuffSize Failed, sockAccept[%d], dwSendMult[%d], "
                        "dwRecvMult[%d], YAR_CloseSocket[%d]",
                        Index(), sockAccept, (int)m_dwSendMult, (int)m_dwRecvMult, sockAccept);
        YAR_CloseSocket(sockAccept, 1);
        return;
    }
    if (YAR_LingerOn(sockAccept, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]]CServerLinkTCP::ListenProcess, YAR_LingerOn Failed, sockAccept[%d], syserror[%d]",
                        Index(), sockAccept, YAR_GetSystemLastError());
        YAR_CloseSocket(sockAccept, 1);
        return;
    }
    auto *pMsg = static_cast<INTER_LINK_MSG *>(NewArray(sizeof(INTER_LINK_MSG)));
    if (!pMsg) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, New INTER_LINK_MSG Failed, YAR_CloseSocket[%d]",
                        Index(), sockAccept);
        YAR_CloseSocket(sockAccept, 1);
        return;
    }
    std::memset(pMsg, 0, sizeof(*pMsg));
    pMsg->pServerLink = this;
    pMsg->iSocket = sockAccept;
    const int iIndex = AllocAcceptIndex();
    pMsg->iLinkIndex = iIndex;
    if (m_nTaskWait.load() > iBound)
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, YAR_Accept, socket[%d], iLinkIndex[%d], m_nTaskWait[%d]",
                        Index(), sockAccept, iIndex, m_nTaskWait.load());
    const bool bSlots = m_byManagerMode != 1;
    bool bPosted = false;
    if (iIndex != -1) {
        if (bSlots) {
            m_bSlotFinished[iIndex].store(0);
            if (yar::yar_guard slot(SlotMutex()); slot.IsLocked())
                m_iSlotSocket[iIndex] = sockAccept;
        }
        m_nTaskWait.fetch_add(1);
        m_nInFlight.fetch_add(1);
        bPosted = YAR_ThreadPoolFlex_Work(hPool, pMsg) == 0;
        if (!bPosted) {
            m_nTaskWait.fetch_sub(1);
            m_nInFlight.fetch_sub(1);
        }
    }
    if (bPosted)
        return;
    if (iIndex != -1 && bSlots)
        FinishSlot(iIndex, -1);
    DelArray(pMsg);
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::ListenProcess, YAR_ThreadPoolFlex_Work failed, syserror[%d], YAR_CloseSocket[%d]",
                    Index(), YAR_GetSystemLastError(), sockAccept);
    YAR_CloseSocket(sockAccept, 1);
}

// ---- slots ----

YAR_MUTEX_T *CServerLinkTCP::SlotMutex() {
    return m_bSlotMutex ? &m_SlotMutex : nullptr;
}

// Circular from the rotating start, so a busy upper range never hides free lower slots.
int CServerLinkTCP::AllocAcceptIndex() {
    if (m_byManagerMode == 1)
        return 0;
    yar::yar_guard slot(SlotMutex());
    if (!slot.IsLocked())
        return -1;
    int iFound = -1;
    for (int k = 0; k < SERVER_LINK_TCP_SLOTS && iFound < 0; k++) {
        const int i = (m_iStartIndex + k) % SERVER_LINK_TCP_SLOTS;
        if (!m_bSlotInUse[i].load() && m_bSlotFinished[i].load()) {
            m_bSlotInUse[i].store(1);
            m_iStartIndex = (i + 1) % SERVER_LINK_TCP_SLOTS;
            iFound = i;
        }
    }
    return iFound;
}

int CServerLinkTCP::DelAcceptIndex(int iIndex) {
    if (!ValidSlot(iIndex)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkTCP::DelAcceptIndex, Invalid index[%d]", Index(), iIndex);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (m_byManagerMode == 1)
        return 1;
    if (yar::yar_guard slot(SlotMutex()); slot.IsLocked()) {
        m_bSlotInUse[iIndex].store(0);
        // Wakes the worker at once instead of at its next receive time-out.
        if (m_iSlotSocket[iIndex] != -1)
            YAR_ShutDown(m_iSlotSocket[iIndex], 2);
    }
    return 1;
}

void CServerLinkTCP::FinishSlot(int iIndex, int sockAccept) {
    if (yar::yar_guard slot(m_byManagerMode != 1 ? SlotMutex() : nullptr); slot.IsLocked()) {
        m_iSlotSocket[iIndex] = -1;
        m_bSlotInUse[iIndex].store(0);
    }
    // Closed only once it is out of the slot: DelAcceptIndex never shuts down a reused number.
    if (sockAccept != -1)
        YAR_CloseSocket(sockAccept, 1);
    m_bSlotFinished[iIndex].store(1);
}

void CServerLinkTCP::SetAcceptSlot(int iIndex, int iStreamHandle) {
    if (ValidSlot(iIndex))
        m_iStreamHandle[iIndex].store(iStreamHandle);
}

int CServerLinkTCP::IsAcceptSlotFinished(int iIndex) {
    return !ValidSlot(iIndex) || m_bSlotFinished[iIndex].load() ? 1 : 0;
}

void CServerLinkTCP::StopSever() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkTCP::StopSever, m_hListenThread[%d]", Index(),
                    MORVA_PTR_ARG(m_hListenThread));
    if (m_hListenThread == YAR_INVALID_THREAD)
        return;
    m_bStop.store(1);
    // Shutdown ends the blocked accept; the number is closed only after the join, so the
    // thread never calls accept on a reused descriptor.
    YAR_ShutDown(m_socket, 2);
    YAR_Thread_Wait(m_hListenThread);
    m_hListenThread = YAR_INVALID_THREAD;
    DestroySocket();
}

void CServerLinkTCP::ShutSlotSockets() {
    yar::yar_guard slot(SlotMutex());
    if (!slot.IsLocked())
        return;
    for (int i = 0; i < SERVER_LINK_TCP_SLOTS; i++) {
        m_bSlotInUse[i].store(0);
        m_iStreamHandle[i].store(-1);
        if (m_iSlotSocket[i] != -1)
            YAR_ShutDown(m_iSlotSocket[i], 2);
    }
}

void CServerLinkTCP::BeginStop() {
    m_bStop.store(1);
    if (m_hListenThread != YAR_INVALID_THREAD)
        YAR_ShutDown(m_socket, 2);
    ShutSlotSockets();
}

void CServerLinkTCP::StopAllLinks() {
    StopSever();
    BeginStop();
    for (int i = 0; i < SERVER_LINK_TCP_SLOTS; i++) {
        while (!m_bSlotFinished[i].load())
            YAR_Sleep(10);
    }
    while (m_nInFlight.load() > 0)
        YAR_Sleep(10);
    if (m_bSlotMutex) {
        YAR_MutexDestroy(&m_SlotMutex);
        m_bSlotMutex = 0;
    }
}

}  // namespace Vorezi
