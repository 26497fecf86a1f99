#include "transport/port/PortMultiplexList.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"

namespace Vorezi {

namespace {
constexpr int kErrListFull = 187;
}

CPortMultiplexList::~CPortMultiplexList() {
    FreeAll();
}

CPortMultiplexList::Node *CPortMultiplexList::NewNode(const char *pAllocFail, int iAllocError,
                                                     const char *pMutexFail) {
    Node *pNode = new (std::nothrow) Node;
    if (!pNode) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", pAllocFail);
        SetError(iAllocError);
        return nullptr;
    }
    pNode->wPort = 0;
    std::memset(pNode->byKeys, 0, sizeof(pNode->byKeys));
    pNode->dwCount.store(0);
    pNode->pNext = nullptr;
    if (YAR_MutexCreate(&pNode->Mutex, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", pMutexFail);
        delete pNode;
        return nullptr;
    }
    return pNode;
}

void CPortMultiplexList::FreeNode(Node *pNode) {
    YAR_MutexDestroy(&pNode->Mutex);
    delete pNode;
}

void CPortMultiplexList::FreeAll() {
    while (m_pHead) {
        Node *pNext = m_pHead->pNext;
        FreeNode(m_pHead);
        m_pHead = pNext;
    }
}

int CPortMultiplexList::CreateLock() {
    if (m_pLock)
        return 1;
    m_pLock.reset(new (std::nothrow) CRWLock);
    if (!m_pLock || !m_pLock->CheckInit()) {
        m_pLock.reset();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    return 1;
}

int CPortMultiplexList::DestroyLock() {
    m_pLock.reset();
    return 1;
}

int CPortMultiplexList::CreatList() {
    if (!m_pLock)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 0);
    if (!guard.IsLocked())
        return 0;
    if (m_pHead)
        return 1;
    m_pHead = NewNode("CPortMultiplexList::CreatList, Morva_NewArray Failed", MORVA_ERR_PORT_NODE,
                      "CPortMultiplexList::CreatList, YAR_MutexCreate Failed");
    if (!m_pHead)
        return 0;
    return 1;
}

int CPortMultiplexList::DestroyList() {
    if (!m_pLock)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 0);
    if (!guard.IsLocked())
        return 0;
    FreeAll();
    return 1;
}

int CPortMultiplexList::InsertNode(WORD wPort, const BYTE *pKey) {
    if (!m_pLock || !pKey)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 0);
    if (!guard.IsLocked() || !m_pHead)
        return 0;
    if (m_pHead->wPort >= PORT_MULTI_MAX_NODES) {
        LogModule_Write(LOG_LEVEL_ERR, "CPortMultiplexList::InsertNode, Invalid wPort[%d]", m_pHead->wPort);
        SetError(kErrListFull);
        return 0;
    }
    Node *pNew = NewNode("CPortMultiplexList::InsertNode, New pNewNode Failed", MORVA_ERR_ALLOC,
                         "CPortMultiplexList::InsertNode, YAR_MutexCreate Failed");
    if (!pNew)
        return 0;
    pNew->wPort = wPort;
    std::memcpy(pNew->byKeys[0], pKey, PORT_MULTI_KEY_LEN);
    pNew->dwCount.store(1);
    Node *pLast = m_pHead;
    while (pLast->pNext)
        pLast = pLast->pNext;
    pLast->pNext = pNew;
    m_pHead->wPort++;
    return 1;
}

// Keeps the keys sorted; a full node or one that already holds the key cannot take it.
bool CPortMultiplexList::TryAddKey(Node *pNode, const BYTE *pKey) {
    DWORD n = pNode->dwCount.load();
    if (n >= PORT_MULTI_MAX_KEYS)
        return false;
    DWORD i = 0;
    for (; i < n; i++) {
        int iCmp = std::memcmp(pNode->byKeys[i], pKey, PORT_MULTI_KEY_LEN);
        if (iCmp == 0)
            return false;
        if (iCmp > 0)
            break;
    }
    std::memmove(pNode->byKeys[i + 1], pNode->byKeys[i], (n - i) * PORT_MULTI_KEY_LEN);
    std::memcpy(pNode->byKeys[i], pKey, PORT_MULTI_KEY_LEN);
    pNode->dwCount.fetch_add(1);
    return true;
}

int CPortMultiplexList::FindPort(const BYTE *pKey, WORD *pPort) {
    if (!m_pLock || !pKey || !pPort)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 1);
    if (!guard.IsLocked() || !m_pHead || !m_pHead->pNext)
        return 0;
    for (;;) {
        bool bLockedAny = false;
        for (Node *pNode = m_pHead->pNext; pNode; pNode = pNode->pNext) {
            // A busy node is passed over: another finder works on it.
            if (YAR_MutexTryLock(&pNode->Mutex) != 0)
                continue;
            bLockedAny = true;
            bool bAdded = TryAddKey(pNode, pKey);
            WORD wPort = pNode->wPort;
            YAR_MutexUnlock(&pNode->Mutex);
            if (bAdded) {
                *pPort = wPort;
                return 1;
            }
        }
        if (bLockedAny)
            return 0;
    }
}

int CPortMultiplexList::DeleteNode(const BYTE *pKey, WORD wPort, int *pNodeRemoved) {
    if (pNodeRemoved)
        *pNodeRemoved = 0;
    if (!m_pLock || !pKey)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 0);
    if (!guard.IsLocked() || !m_pHead)
        return 0;
    Node *pPrev = m_pHead;
    Node *pNode = m_pHead->pNext;
    while (pNode && pNode->wPort != wPort) {
        pPrev = pNode;
        pNode = pNode->pNext;
    }
    if (!pNode)
        return 0;
    int iResult = 0;
    bool bEmpty;
    {
        // Released before an emptied node is freed with its mutex.
        yar::yar_guard lock(&pNode->Mutex);
        DWORD n = pNode->dwCount.load();
        for (DWORD i = 0; i < n; i++) {
            if (std::memcmp(pNode->byKeys[i], pKey, PORT_MULTI_KEY_LEN) != 0)
                continue;
            std::memmove(pNode->byKeys[i], pNode->byKeys[i + 1], (n - i - 1) * PORT_MULTI_KEY_LEN);
            std::memset(pNode->byKeys[n - 1], 0, PORT_MULTI_KEY_LEN);
            pNode->dwCount.fetch_sub(1);
            iResult = 1;
            break;
        }
        bEmpty = pNode->dwCount.load() == 0;
    }
    if (bEmpty) {
        pPrev->pNext = pNode->pNext;
        FreeNode(pNode);
        m_pHead->wPort--;
        if (pNodeRemoved)
            *pNodeRemoved = 1;
    }
    return iResult;
}

int CPortMultiplexList::GetNodeCount() {
    if (!m_pLock)
        return 0;
    CRWLockGuard guard(m_pLock.get(), 1);
    return guard.IsLocked() && m_pHead ? m_pHead->wPort : 0;
}

void CPortMultiplexList::PrintList() {
    if (!m_pLock)
        return;
    CRWLockGuard guard(m_pLock.get(), 1);
    if (!guard.IsLocked())
        return;
    for (Node *pNode = m_pHead ? m_pHead->pNext : nullptr; pNode; pNode = pNode->pNext) {
        DWORD n = pNode->dwCount.load();
        LogModule_Write(LOG_LEVEL_INF, "CPortMultiplexList::PrintList, wPort[%d], nNum[%d]", pNode->wPort, (int)n);
        for (DWORD i = 0; i < n; i++) {
            const BYTE *k = pNode->byKeys[i];
            LogModule_Write(LOG_LEVEL_INF, "CPortMultiplexList::PrintList, %u.%u.%u.%u, port[%d]", k[0], k[1], k[2],
                            k[3], (k[24] << 8) | k[25]);
        }
    }
}

}  // namespace Vorezi
