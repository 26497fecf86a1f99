#include "transport/port/LocalPortPool.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

// ---- ring queue ----

CPortRingQueue::CPortRingQueue() {
    m_bMutex = YAR_MutexCreate(&m_Mutex, 0) == 0;
}

CPortRingQueue::~CPortRingQueue() {
    if (m_bMutex)
        YAR_MutexDestroy(&m_Mutex);
}

// Without its mutex the ring stays empty: nothing is pushed, so nothing is handed out.
bool CPortRingQueue::Push(int iPort) {
    if (!m_bMutex)
        return false;
    YAR_MutexLock(&m_Mutex);
    uint32_t dwNext = (m_dwTail + 1) % kSlots;
    bool bDone = dwNext != m_dwHead;
    if (bDone) {
        m_dwTail = dwNext;
        m_iPorts[m_dwTail] = iPort;
    }
    YAR_MutexUnlock(&m_Mutex);
    return bDone;
}

int CPortRingQueue::Front() {
    if (!m_bMutex)
        return 0;
    YAR_MutexLock(&m_Mutex);
    int iPort = m_dwHead == m_dwTail ? 0 : m_iPorts[(m_dwHead + 1) % kSlots];
    YAR_MutexUnlock(&m_Mutex);
    return iPort;
}

void CPortRingQueue::Pop() {
    if (!m_bMutex)
        return;
    YAR_MutexLock(&m_Mutex);
    if (m_dwHead != m_dwTail)
        m_dwHead = (m_dwHead + 1) % kSlots;
    YAR_MutexUnlock(&m_Mutex);
}

int CPortRingQueue::Count() {
    if (!m_bMutex)
        return 0;
    YAR_MutexLock(&m_Mutex);
    int n = (int)((m_dwTail + kSlots - m_dwHead) % kSlots);
    YAR_MutexUnlock(&m_Mutex);
    return n;
}

void CPortRingQueue::Clear() {
    if (!m_bMutex)
        return;
    YAR_MutexLock(&m_Mutex);
    m_dwHead = m_dwTail;
    YAR_MutexUnlock(&m_Mutex);
}

// ---- TCP and UDP pools ----

CLocalPortPool::CLocalPortPool(const Kind &kind, const char *pMutexFailText) : m_Kind(kind) {
    m_bMutex = YAR_MutexCreate(&m_Mutex, 0) == 0;
    if (!m_bMutex)
        LogModule_Write(LOG_LEVEL_ERR, pMutexFailText, YAR_GetSystemLastError());
}

CLocalPortPool::~CLocalPortPool() {
    if (m_bMutex)
        YAR_MutexDestroy(&m_Mutex);
}

int CLocalPortPool::Lock() {
    return m_bMutex && YAR_MutexLock(&m_Mutex) == 0;
}

void CLocalPortPool::Unlock() {
    YAR_MutexUnlock(&m_Mutex);
}

int CLocalPortPool::SetPortRange(WORD wStart, WORD wEnd) {
    if (!Lock())
        return -1;
    m_Queue.Clear();
    if (wEnd < wStart) {
        Unlock();
        return -1;
    }
    // Ports beyond the ring's 599 are dropped: a long range keeps its first ones.
    for (uint32_t dwPort = wStart; dwPort <= wEnd && m_Queue.Push((int)dwPort); dwPort++) {
    }
    m_wMinPort = wStart;
    m_wMaxPort = wEnd;
    Unlock();
    return 0;
}

void CLocalPortPool::Reset() {
    if (!Lock())
        return;
    m_Queue.Clear();
    Unlock();
}

// Binds to the library's selected local address, so a port counts as free where links will use it.
int CLocalPortPool::BindTest(int iSock, int iFamily, WORD wPort) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    YAR_ADDR_T addr;
    if (iFamily == YAR_AF_INET6) {
        BYTE byAddr6[16] = {0};
        pCtrl->GetLocalIPv6Addr(byAddr6);
        if (YAR_MakeAddr6(byAddr6, wPort, &addr) != 0)
            return -1;
    } else {
        char szIPv4[16] = {0};
        pCtrl->GetLocalIPv4Str(szIPv4);
        if (Utils_MakeAddr(YAR_AF_INET, szIPv4[0] ? szIPv4 : nullptr, wPort, &addr) != 0)
            return -1;
    }
    return YAR_Bind(iSock, &addr);
}

WORD CLocalPortPool::GetPort(int iFamily) {
    if (!Lock())
        return 0;
    int nQueued = m_Queue.Count();
    if (nQueued == 0) {
        Unlock();
        return 0;
    }
    int iSock = YAR_CreateSocket(iFamily, m_Kind.iSockType, m_Kind.iProtocol);
    if (iSock < 0) {
        Unlock();
        return 0;
    }
    WORD wFound = 0;
    for (int i = 0; i < nQueued && !wFound; i++) {
        int iPort = m_Queue.Front();
        m_Queue.Pop();
        if (BindTest(iSock, iFamily, (WORD)iPort) == 0) {
            LogModule_Write(LOG_LEVEL_DBG, m_Kind.pGotText, iPort);
            wFound = (WORD)iPort;
        } else {
            // Busy here: try it again after every other queued port.
            m_Queue.Push(iPort);
        }
    }
    YAR_CloseSocket(iSock, 0);
    Unlock();
    return wFound;
}

void CLocalPortPool::ReleasePort(WORD wPort) {
    if (!Lock())
        return;
    if (wPort >= m_wMinPort && wPort <= m_wMaxPort)
        m_Queue.Push(wPort);
    Unlock();
}

CTcpPortPool::CTcpPortPool()
    : CLocalPortPool({1 /* stream */, 6 /* TCP */, "Get tcp port %d"},
                     "CUdpPortPool::CTcpPortPool YAR_MutexCreate Failed, syserror[%d]") {}

CUdpPortPool::CUdpPortPool()
    : CLocalPortPool({2 /* datagram */, 17 /* UDP */, "Get udp port %d"},
                     "CUdpPortPool::CUdpPortPool YAR_MutexCreate Failed, syserror[%d]") {}

}  // namespace Vorezi
