#include "transport/vrudp/RecvQueue.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "yar/yar_error.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr int kNodeSize = int(sizeof(VRUDP_RECV_NODE));
}

CRecvQueue::CRecvQueue() {
    if (YAR_MutexCreate(&m_csLock, 0) == 0)
        m_bCreatedLock = 1;
    else
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CRecvQueue::CRecvQueue, YAR_MutexCreate Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
}

CRecvQueue::~CRecvQueue() {
    ReleaseQueue();
    if (m_bCreatedLock)
        YAR_MutexDestroy(&m_csLock);
}

void CRecvQueue::ResetDefaults() {
    m_iRecvBufSize = kDefaultQueueBytes;
    m_iOneDataSize = kDefaultOneDataSize;
}

int CRecvQueue::InitQueue(int iVRUDPHandle) {
    ResetDefaults();
    m_iVRUDPHandle = iVRUDPHandle;
    return InitQueue();
}

int CRecvQueue::InitQueue() {
    if (!m_bCreatedLock) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CRecvQueue::InitQueue, m_bCreatedLock is False, m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), m_iVRUDPHandle);
        return 0;
    }
    m_bStop = 0;
    VRUDP_RECV_NODE *pFirst = nullptr, *pLast = nullptr;
    if (ContructRecvList(&pFirst, &pLast) != 0)
        return -1;
    CGuard guard(&m_csLock);
    m_pstFirstBlock = m_pstCurBlock = pFirst;
    m_pstTailBlock = pLast;
    return 1;
}

int CRecvQueue::ContructRecvList(VRUDP_RECV_NODE **ppFirst, VRUDP_RECV_NODE **ppLast) {
    CGuard guard(&m_csLock);
    bool bAllocFailed = false;
    if (!AddNodeGroup(m_pGroups, m_iOneDataSize, ppFirst, ppLast, &bAllocFailed)) {
        if (bAllocFailed)
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CRecvQueue::ContructRecvList, New Failed, dwOneNewUnitBytes[%d], "
                            "dwOneNewRecvBytes[%d], m_iVRUDPHandle[%d]",
                            MORVA_PTR_ARG(this), kNodeSize, NodeBufBytes(m_iOneDataSize), m_iVRUDPHandle);
        return -1;
    }
    m_iTotalMallocSize += GroupBytes(kNodeSize, m_iOneDataSize);
    return 0;
}

int CRecvQueue::IncreaseRecvList() {
    VRUDP_RECV_NODE *pFirst = nullptr, *pLast = nullptr;
    if (ContructRecvList(&pFirst, &pLast) != 0)
        return -1;
    if (!m_pstCurBlock || m_pstCurBlock->bInUse) {
        // No free node was left: the new group alone is the free ring.
        m_pstCurBlock = pFirst;
    } else {
        pLast->pNext = m_pstTailBlock->pNext;
        m_pstTailBlock->pNext = pFirst;
    }
    m_pstTailBlock = pLast;
    return 0;
}

void CRecvQueue::RebuildFreeRing() {
    VRUDP_RECV_NODE *pFirst = nullptr, *pLast = nullptr;
    for (uint8_t *pGroup : m_pGroups) {
        if (!pGroup)
            continue;
        auto *pNodes = reinterpret_cast<VRUDP_RECV_NODE *>(pGroup);
        for (int i = 0; i < kGroupNodes; i++) {
            if (pNodes[i].bInUse == 1)
                continue;
            if (pLast)
                pLast->pNext = &pNodes[i];
            else
                pFirst = &pNodes[i];
            pLast = &pNodes[i];
        }
    }
    if (pLast)
        pLast->pNext = pFirst;
    m_pstCurBlock = pFirst;
    m_pstTailBlock = pLast;
}

void CRecvQueue::UpdateRecvList() {
    if (!m_pstCurBlock)
        return;
    while (m_pstCurBlock->bInUse && m_pstCurBlock != m_pstTailBlock)
        m_pstCurBlock = m_pstCurBlock->pNext;
    if (m_pstCurBlock == m_pstTailBlock)
        RebuildFreeRing();
}

VRUDP_RECV_NODE *CRecvQueue::GetEmptyBuffer() {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || m_bStop || !m_pstFirstBlock)
        return nullptr;
    UpdateRecvList();
    if (!m_pstCurBlock || m_pstCurBlock == m_pstTailBlock) {
        if (m_iTotalMallocSize >= m_iRecvBufSize) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CRecvQueue::GetEmptyBuffer, m_iTotalMallocSize[%d] >= m_iRecvBufSize[%d], "
                            "m_iVRUDPHandle[%d]",
                            MORVA_PTR_ARG(this), m_iTotalMallocSize, m_iRecvBufSize, m_iVRUDPHandle);
            return nullptr;
        }
        if (IncreaseRecvList() != 0)
            return nullptr;
    }
    m_pstCurBlock->dwLen = uint32_t(NodeBufBytes(m_iOneDataSize));
    return m_pstCurBlock;
}

int CRecvQueue::InsertArray(VRUDP_RECV_NODE *pNode, uint32_t *pdwNeedSeq, int bInOrder) {
    if (!pNode || !pdwNeedSeq)
        return -1;
    {
        CGuard guard(&m_csLock);
        if (!guard.IsLocked()) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CRecvQueue::InsertArray, Lock m_csLock Failed, m_iVRUDPHandle[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), m_iVRUDPHandle, YAR_GetSystemLastError());
            return -1;
        }
        uint32_t dwSlot = pNode->dwSeq % kRingSlots;
        if (m_pRing[dwSlot]) {
            LogModule_Write(LOG_LEVEL_DBG,
                            "[0x%X]CRecvQueue::InsertArray, The Seq is Already Exist, Drop the Packet, "
                            "dwSequence[%d], dwSlotSeq[%d], m_iVRUDPHandle[%d]",
                            MORVA_PTR_ARG(this), (int)pNode->dwSeq, (int)m_pRing[dwSlot]->dwSeq, m_iVRUDPHandle);
            return 0;
        }
        m_pRing[dwSlot] = pNode;
        pNode->bInUse = 1;
        m_iUnitCount++;
        if (int32_t(dwSlot - m_dwHighSlot) >= 0)
            m_dwHighSlot = (dwSlot + 1) % kRingSlots;
        if (bInOrder) {
            // A slot only counts when it holds the very sequence wanted, never an alias 128 on.
            while (VRUDP_RECV_NODE *p = m_pRing[*pdwNeedSeq % kRingSlots]) {
                if (p->dwSeq != *pdwNeedSeq)
                    break;
                (*pdwNeedSeq)++;
            }
        }
    }
    return 0;
}

int CRecvQueue::FindWholeMessage() {
    for (uint32_t k = 0; k < kRingSlots && !m_bStop; k++) {
        VRUDP_RECV_NODE *p = m_pRing[(m_dwReadPos + k) % kRingSlots];
        if (!p || p->dwSeq != m_dwReadSeq + k)
            return 0;
        if (p->byUnitPos == UNIT_END || p->byUnitPos == UNIT_SINGLE)
            return int(k + 1);
    }
    return 0;
}

bool CRecvQueue::IsStalled() {
    CGuard guard(&m_csLock);
    return guard.IsLocked() && m_iUnitCount >= kRingSlots && FindWholeMessage() == 0;
}

int CRecvQueue::ReadPacket(uint8_t *pBuf, int iBufCount) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 0;
    if (!pBuf || iBufCount <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CRecvQueue::ReadPacket, Invalid Param, pbyBuffer[0x%X], iBufCount[%d], "
                        "m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pBuf), iBufCount, m_iVRUDPHandle);
        return 0;
    }
    int iUnits = FindWholeMessage();
    if (iUnits == 0)
        return 0;
    uint8_t byFirst = m_pRing[m_dwReadPos]->byUnitPos;
    bool bDiscard = byFirst != UNIT_SINGLE && byFirst != UNIT_BEGIN;
    if (bDiscard)
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CRecvQueue::ReadPacket, Packet with No Begin Unit, Drop It, iBufCount[%d], "
                        "m_dwReadPos[%d], m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), iBufCount, (int)m_dwReadPos, m_iVRUDPHandle);
    // Check the whole message first, so a buffer that is too small leaves every unit in place.
    int iTotal = 0;
    for (int k = 0; k < iUnits; k++) {
        VRUDP_RECV_NODE *p = m_pRing[(m_dwReadPos + k) % kRingSlots];
        uint32_t dwHead = p->dwLen >= 16 && p->pBuf ? p->pBuf[4] : 0;
        if (p->dwLen < 16 || !p->pBuf || dwHead > p->dwLen) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CRecvQueue::ReadPacket, Invalid Data, iDataLen[%d], pbyData[0x%X], "
                            "m_dwReadPos[%d], m_iVRUDPHandle[%d]",
                            MORVA_PTR_ARG(this), (int)p->dwLen, MORVA_PTR_ARG(p->pBuf), (int)m_dwReadPos,
                            m_iVRUDPHandle);
            return 0;
        }
        iTotal += int(p->dwLen - dwHead);
        if (!bDiscard && iTotal > iBufCount) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CRecvQueue::ReadPacket, Data Length[%d] > Buffer Length[%d], m_iVRUDPHandle[%d]",
                            MORVA_PTR_ARG(this), iTotal, iBufCount, m_iVRUDPHandle);
            return 0;
        }
    }
    int iCopied = 0;
    for (int k = 0; k < iUnits; k++) {
        VRUDP_RECV_NODE *p = m_pRing[m_dwReadPos];
        uint32_t dwPayload = p->dwLen - p->pBuf[4];
        if (!bDiscard) {
            std::memcpy(pBuf + iCopied, p->pBuf + p->pBuf[4], dwPayload);
            iCopied += int(dwPayload);
        }
        p->bInUse = 0;
        m_iUnitCount--;
        m_pRing[m_dwReadPos] = nullptr;
        m_dwReadPos = (m_dwReadPos + 1) % kRingSlots;
        m_dwReadSeq++;
    }
    if (bDiscard) {
        LogModule_Write(LOG_LEVEL_DBG,
                        "[0x%X]CRecvQueue::ReadPacket, Drop an Error Pack, iBufCount[%d], m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), iBufCount, m_iVRUDPHandle);
        return 0;
    }
    return iCopied;
}

int CRecvQueue::GetLostSeq(uint32_t *pArray, int iArrayBytes, uint32_t dwStartSeq) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || !pArray || iArrayBytes <= 0)
        return 0;
    int iMax = iArrayBytes / 4;
    int iCount = 0;
    uint32_t dwSlot = m_dwReadPos;
    uint32_t dwSeq = m_pRing[dwSlot] ? m_pRing[dwSlot]->dwSeq : dwStartSeq;
    for (int k = 0; k < kRingSlots && !m_bStop; k++) {
        if (!m_pRing[dwSlot]) {
            if (iCount >= iMax || int32_t(dwSlot - m_dwHighSlot) >= 0)
                break;
            pArray[iCount++] = dwSeq;
        }
        dwSeq++;
        dwSlot = (dwSlot + 1) % kRingSlots;
    }
    return iCount * 4;
}

void CRecvQueue::ReleaseQueue() {
    m_bStop = 1;
    if (!m_bCreatedLock)
        return;
    {
        CGuard guard(&m_csLock);
        for (auto &pGroup : m_pGroups) {
            delete[] pGroup;
            pGroup = nullptr;
        }
        std::memset(m_pRing, 0, sizeof m_pRing);
        m_pstCurBlock = m_pstTailBlock = m_pstFirstBlock = nullptr;
        m_iTotalMallocSize = 0;
        m_dwReadPos = m_dwReadSeq = m_dwHighSlot = 0;
        m_iUnitCount = 0;
    }
    ResetDefaults();
    m_iVRUDPHandle = -1;
}

}  // namespace Vorezi
