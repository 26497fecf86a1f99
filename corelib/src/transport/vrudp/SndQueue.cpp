#include "transport/vrudp/SndQueue.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "yar/yar_error.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr int kBlockSize = int(sizeof(VRUDP_SEND_BLOCK));
constexpr int kErrParam = 10005;
constexpr int kErrAlloc = 10004;
}

CSndQueue::CSndQueue() {
    if (YAR_MutexCreate(&m_csLock, 0) == 0)
        m_bCreatedLock = 1;
    else
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSndQueue::CSndQueue, YAR_MutexCreate Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
}

CSndQueue::~CSndQueue() {
    ReleaseQueue();
    if (m_bCreatedLock)
        YAR_MutexDestroy(&m_csLock);
}

int CSndQueue::ContructSendList(VRUDP_SEND_BLOCK **ppFirst, VRUDP_SEND_BLOCK **ppLast) {
    bool bAllocFailed = false;
    if (!AddNodeGroup(m_pGroups, m_iOneDataSize, ppFirst, ppLast, &bAllocFailed)) {
        if (!bAllocFailed)
            return -1;
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSndQueue::ContructSendList, New Failed, dwOneNewUnitBytes[%d], "
                        "dwOneNewRecvBytes[%d], m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), kBlockSize, NodeBufBytes(m_iOneDataSize), m_iVRUDPHandle);
        return kErrAlloc;
    }
    m_iTotalMallocSize += GroupBytes(kBlockSize, m_iOneDataSize);
    return 0;
}

int CSndQueue::InitQueue() {
    if (!m_bCreatedLock)
        return 0;
    CGuard guard(&m_csLock);
    VRUDP_SEND_BLOCK *pFirst = nullptr, *pLast = nullptr;
    if (ContructSendList(&pFirst, &pLast) != 0)
        return -1;
    m_pstCurBlock = m_pstTailBlock = m_pstHeadBlock = m_pstResendBlock = pFirst;
    return 1;
}

// Links a new group between the tail and the head.
int CSndQueue::IncreaseSendList() {
    if (m_iTotalMallocSize >= m_iSendBufSize) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSndQueue::IncreaseSendList, m_iTotalMallocSize[%d] >= m_iSendBufSize[%d], "
                        "m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), m_iTotalMallocSize, m_iSendBufSize, m_iVRUDPHandle);
        return -1;
    }
    VRUDP_SEND_BLOCK *pFirst = nullptr, *pLast = nullptr;
    int iRet = ContructSendList(&pFirst, &pLast);
    if (iRet != 0)
        return iRet;
    pLast->pNext = m_pstTailBlock->pNext;
    m_pstTailBlock->pNext = pFirst;
    return 0;
}

int CSndQueue::FreeBlockCount() {
    int iFree = 0;
    for (VRUDP_SEND_BLOCK *p = m_pstTailBlock->pNext; p != m_pstHeadBlock; p = p->pNext)
        iFree++;
    if (m_iTotalMallocSize < m_iSendBufSize) {
        int iGroup = GroupBytes(kBlockSize, m_iOneDataSize);
        iFree += kGroupNodes * ((m_iSendBufSize - m_iTotalMallocSize + iGroup - 1) / iGroup);
    }
    return iFree;
}

int CSndQueue::InsertDataToSendList(const uint8_t *pData, int iDataLength, uint16_t wRemoteSession,
                                    uint16_t wOwnSession, uint8_t byVersion, uint32_t dwRecognizeCode) {
    if (!pData || iDataLength <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSndQueue::InsertDataToSendList, Invalid Param, pbyData[0x%X], iDataLength[%d], "
                        "m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pData), iDataLength, m_iVRUDPHandle);
        return kErrParam;
    }
    if (m_iOneDataSize <= 0)
        return -1;
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || !m_pstTailBlock)
        return -1;
    int iBlocks = (iDataLength + m_iOneDataSize - 1) / m_iOneDataSize;
    if (FreeBlockCount() < iBlocks) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSndQueue::InsertDataToSendList, Buffer is Full, iCount[%d], m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), iBlocks, m_iVRUDPHandle);
        return kNoEnoughBuf;
    }
    DataHead head{byVersion, 0, wRemoteSession, 0, m_dwNeedSeq - 1, wOwnSession, dwRecognizeCode};
    for (int i = 0; i < iBlocks; i++) {
        if (m_pstTailBlock->pNext == m_pstHeadBlock) {
            int iRet = IncreaseSendList();
            if (iRet != 0)
                return iRet;
        }
        VRUDP_SEND_BLOCK *pBlock = m_pstTailBlock;
        int iPayload = i == iBlocks - 1 ? iDataLength - i * m_iOneDataSize : m_iOneDataSize;
        if (iBlocks == 1)
            head.byUnitPos = UNIT_SINGLE;
        else if (i == 0)
            head.byUnitPos = UNIT_BEGIN;
        else if (i == iBlocks - 1)
            head.byUnitPos = UNIT_END;
        else
            head.byUnitPos = UNIT_MIDDLE;
        head.dwSeq = m_dwNextSeq;
        pBlock->dwSeq = m_dwNextSeq;
        pBlock->bySendCount = 0;
        pBlock->bySampled = 0;
        pBlock->dwLastSend = 0;
        pBlock->dwFirstSend = 0;
        int iHead = BuildDataHead(pBlock->pBuf, head);
        std::memcpy(pBlock->pBuf + iHead, pData + size_t(i) * m_iOneDataSize, size_t(iPayload));
        pBlock->dwLen = uint32_t(iHead + iPayload);
        m_dwNextSeq++;
        m_pstTailBlock = pBlock->pNext;
    }
    m_iMsgCount++;
    return 0;
}

VRUDP_SEND_BLOCK *CSndQueue::getSendBlock() {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || !m_pstCurBlock || m_pstCurBlock == m_pstTailBlock)
        return nullptr;
    return m_pstCurBlock;
}

void CSndQueue::NextCur() {
    CGuard guard(&m_csLock);
    if (guard.IsLocked() && m_pstCurBlock && m_pstCurBlock != m_pstTailBlock)
        m_pstCurBlock = m_pstCurBlock->pNext;
}

VRUDP_SEND_BLOCK *CSndQueue::getResendBlock() {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || !m_pstResendBlock || m_pstResendBlock == m_pstCurBlock)
        return nullptr;
    VRUDP_SEND_BLOCK *p = m_pstResendBlock;
    m_pstResendBlock = p->pNext;
    return p;
}

void CSndQueue::ResetResendCursor() {
    CGuard guard(&m_csLock);
    if (guard.IsLocked())
        m_pstResendBlock = m_pstHeadBlock;
}

int CSndQueue::ReleaseUpTo(uint32_t dwAckSeq) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSndQueue::UpdateWindow, Lock m_csLock Failed, m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), m_iVRUDPHandle);
        return -1;
    }
    if (!m_pstHeadBlock) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSndQueue::UpdateWindow, NULL == m_pstHeadBlock, m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), m_iVRUDPHandle);
        return -1;
    }
    while (m_pstHeadBlock != m_pstCurBlock && SeqDiff(m_pstHeadBlock->dwSeq, dwAckSeq) <= 0)
        m_pstHeadBlock = m_pstHeadBlock->pNext;
    m_pstResendBlock = m_pstHeadBlock;
    return 0;
}

int CSndQueue::UpdateWindow(const uint8_t *pAck, int iLen) {
    if (!pAck || iLen < kAckLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSndQueue::UpdateWindow, Invalid Param, pbyData[0x%X], iDataLen[%d], "
                        "m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pAck), iLen, m_iVRUDPHandle);
        return -1;
    }
    uint8_t byType = pAck[5] & 0x3F;
    if (byType != PKT_ACK) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSndQueue::UpdateWindow, Invalid byPacketType[%d], m_iVRUDPHandle[%d]",
                        MORVA_PTR_ARG(this), byType, m_iVRUDPHandle);
        return -1;
    }
    return ReleaseUpTo(GetBE32(pAck + 16));
}

int CSndQueue::UpdateWindow(uint32_t dwAckSeq) {
    return ReleaseUpTo(dwAckSeq);
}

VRUDP_SEND_BLOCK *CSndQueue::getBlockBySeq(uint32_t dwSeq) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || !m_pstHeadBlock)
        return nullptr;
    for (VRUDP_SEND_BLOCK *p = m_pstHeadBlock; p != m_pstCurBlock; p = p->pNext) {
        if (p->dwSeq == dwSeq)
            return p;
    }
    return nullptr;
}

void CSndQueue::UpdateNeedSeq(uint32_t dwNeedSeq) {
    CGuard guard(&m_csLock);
    m_dwNeedSeq = dwNeedSeq;
}

void CSndQueue::ReleaseQueue() {
    if (!m_bCreatedLock)
        return;
    {
        CGuard guard(&m_csLock);
        for (auto &pGroup : m_pGroups) {
            delete[] pGroup;
            pGroup = nullptr;
        }
        m_pstCurBlock = m_pstTailBlock = m_pstHeadBlock = m_pstResendBlock = nullptr;
        m_iTotalMallocSize = 0;
        m_dwNextSeq = 0;
        m_iMsgCount = 0;
        m_dwNeedSeq = 0;
    }
    m_iSendBufSize = kDefaultQueueBytes;
    m_iOneDataSize = kDefaultOneDataSize;
    m_iVRUDPHandle = -1;
}

}  // namespace Vorezi
