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
    yar::yar_guard lock(&m_Mutex);
    uint32_t dwNext = (m_dwTail + 1) % kSlots;
    bool bDone = dwNext != m_dwHead;
    if (bDone) {
        m_dwTail = dwNext;
        m_iPorts[m_dwTail] = iPort;
    }
    return bDone;
}

int CPortRingQueue::Front() {
    if (!m_bMutex)
        return 0;
    yar::yar_guard lock(&m_Mutex);
    return m_dwHead == m_dwTail ? 0 : m_iPorts[(m_dwHead + 1) % kSlots];
}

void CPortRingQueue::Pop() {
    if (!m_bMutex)
        return;
    yar::yar_guard lock(&m_Mutex);
    if (m_dwHead != m_dwTail)
        m_dwHead = (m_dwHead + 1) % kSlots;
}

int CPortRingQueue::Count() {
    if (!m_bMutex)
        return 0;
    yar::yar_guard lock(&m_Mutex);
    return (int)((m_dwTail + kSlots - m_dwHead) % kSlots);
}

void CPortRingQueue::Clear() {
    if (!m_bMutex)
        return;
    yar::yar_guard lock(&m_Mutex);
    m_dwHead = m_dwTail;
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

YAR_MUTEX_T *CLocalPortPool::Mutex() {
    return m_bMutex ? &m_Mutex : nullptr;
}

int CLocalPortPool::SetPortRange(WORD wStart, WORD wEnd) {
    yar::yar_guard lock(Mutex());
    if (!lock.IsLocked())
        return -1;
    m_Queue.Clear();
    if (wEnd < wStart)
        return -1;
    // Ports beyond the ring's 599 are dropped: a long range keeps its first ones.
    for (uint32_t dwPort = wStart; dwPort <= wEnd && m_Queue.Push((int)dwPort); dwPort++) {
    }
    m_wMinPort = wStart;
    m_wMaxPort = wEnd;
    return 0;
}

void CLocalPortPool::Reset() {
    yar::yar_guard lock(Mutex());
    if (!lock.IsLocked())
        return;
    m_Queue.Clear();
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
    yar::yar_guard lock(Mutex());
    if (!lock.IsLocked())
        return 0;
    int nQueued = m_Queue.Count();
    if (nQueued == 0)
        return 0;
    int iSock = YAR_CreateSocket(iFamily, m_Kind.iSockType, m_Kind.iProtocol);
    if (iSock < 0)
        return 0;
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
    return wFound;
}

void CLocalPortPool::ReleasePort(WORD wPort) {
    yar::yar_guard lock(Mutex());
    if (!lock.IsLocked())
        return;
    if (wPort >= m_wMinPort && wPort <= m_wMaxPort)
        m_Queue.Push(wPort);
}

CTcpPortPool::CTcpPortPool()
    : CLocalPortPool({1 /* stream */, 6 /* TCP */, "Get tcp port %d"},
                     "CUdpPortPool::CTcpPortPool YAR_MutexCreate Failed, syserror[%d]") {}

CUdpPortPool::CUdpPortPool()
    : CLocalPortPool({2 /* datagram */, 17 /* UDP */, "Get udp port %d"},
                     "CUdpPortPool::CUdpPortPool YAR_MutexCreate Failed, syserror[%d]") {}

}  // namespace Vorezi
