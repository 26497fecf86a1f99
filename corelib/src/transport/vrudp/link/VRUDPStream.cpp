#include "transport/vrudp/link/VRUDPStream.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/HRSocket.h"
#include "transport/vrudp/VRUDPWire.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

using namespace vrudp;

namespace {
// Per-packet lines sit at level 6, below what any normal threshold shows.
constexpr int kLogTrace = 6;
constexpr int kMinDataLen = 12;  // head length, type, payload length and sequence
constexpr int kStartCommandLen = 14;
constexpr uint16_t kRecordMinLen = 5;  // sequence and heartbeat flag after the length
}  // namespace

CVRUDPStream::CVRUDPStream() {
    m_bMutexCreated = YAR_MutexCreate(&m_csRUDPBuf, 0) == 0 ? 1 : 0;
}

CVRUDPStream::~CVRUDPStream() {
    FreeNodes();
    if (m_bMutexCreated)
        YAR_MutexDestroy(&m_csRUDPBuf);
}

void CVRUDPStream::SetRemoteIP(const VRUDP_SOCK_ADDR *pRemoteAddr) {
    m_RemoteAddr = {};
    if (!pRemoteAddr) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CVRUDPStream::SetRemoteIP, NULL == pRemoteAddr", MORVA_PTR_ARG(this));
        return;
    }
    VRUDP_MakeSockAddr(*pRemoteAddr, &m_RemoteAddr);
}

void CVRUDPStream::SetRecvDataCallback(VRUDP_STREAM_DATA_CB fnRecvCB, void *pUser) {
    m_fnRecvCB = fnRecvCB;
    m_pUser = pUser;
}

void CVRUDPStream::SetRemoteWndSize(uint32_t dwWnd) {
    if (dwWnd > kMaxRemoteWnd) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CVRUDPStream::SetRemoteWndSize, dwWnd[%u] Clamped to [%u]",
                        MORVA_PTR_ARG(this), dwWnd, kMaxRemoteWnd);
        dwWnd = kMaxRemoteWnd;
    }
    m_dwNodeCount = dwWnd < 300 ? dwWnd + 50 : dwWnd + 100;
    AllocNodes();
}

int CVRUDPStream::AllocNodes() {
    FreeNodes();
    m_pNodes.reset(new (std::nothrow) Node[m_dwNodeCount]);
    m_pFree.reset(new (std::nothrow) Node *[m_dwNodeCount]);
    if (!m_pNodes || !m_pFree || !m_bMutexCreated) {
        FreeNodes();
        return 0;
    }
    std::memset(static_cast<void *>(m_pNodes.get()), 0, sizeof(Node) * m_dwNodeCount);
    // Pushed in reverse, so node 0 is taken first.
    for (uint32_t i = 0; i < m_dwNodeCount; i++) {
        Node *pNode = &m_pNodes[m_dwNodeCount - 1 - i];
        pNode->dwIndex = m_dwNodeCount - 1 - i;
        m_pFree[i] = pNode;
    }
    m_iFreeCount = int(m_dwNodeCount);
    m_bNodesAllocated = 1;
    return 1;
}

void CVRUDPStream::FreeNodes() {
    m_pNodes.reset();
    m_pFree.reset();
    m_pHead = m_pTail = nullptr;
    m_iFreeCount = 0;
    m_bNodesAllocated = 0;
}

int CVRUDPStream::PushDateToGetStreamCB(const uint8_t *pData, int iKind, uint32_t dwLen, int iFlag) {
    if (iFlag || m_bStopped || iKind == 1 || !pData)
        return 0;
    m_dwPacketCount++;
    m_bDataSeen = 1;
    if (dwLen < uint32_t(kMinDataLen) || pData[2] != LINK_STREAM_DATA)
        return 0;
    uint32_t dwHeadLen = GetBE16(pData);
    uint32_t dwPayloadLen = GetBE16(pData + 6);
    if (dwHeadLen < uint32_t(kMinDataLen) || dwHeadLen > dwLen || dwPayloadLen != dwLen - dwHeadLen)
        return 0;
    uint32_t dwSeq = GetBE32(pData + 8);
    const uint8_t *pPayload = pData + dwHeadLen;
    yar::yar_guard buf(&m_csRUDPBuf);
    if (!buf.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CVRUDPStream::PushDateToGetStreamCB, Lock m_csRUDPBuf Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
        return 0;
    }
    uint32_t dwOldNeed = m_dwNeedSeq;
    if (SeqDiff(dwSeq, m_dwRecvMaxSeq) > 0)
        m_dwRecvMaxSeq = dwSeq;
    int32_t iAhead = SeqDiff(dwSeq, m_dwNeedSeq);
    if (iAhead > 0) {
        InsertNode(pPayload, dwPayloadLen, LINK_STREAM_DATA, dwSeq);
        FlushNodes();
        SendAck(2);
    } else if (iAhead < 0) {
        SendAck(2);
    } else {
        CallbackVideoData(pPayload, dwPayloadLen, LINK_STREAM_DATA, dwSeq);
        m_dwNeedSeq = dwSeq + 1;
        FlushNodes();
    }
    if (m_dwNeedSeq != dwOldNeed)
        SendAck(m_bLoss || pData[3] == 1 ? 2 : 1);
    return 1;
}

void CVRUDPStream::InsertNode(const uint8_t *pData, uint32_t dwLen, uint32_t dwType, uint32_t dwSeq) {
    if (dwLen >= kNodePayload || !m_bNodesAllocated)
        return;
    for (Node *p = m_pHead; p; p = p->pNext)
        if (p->dwSeq == dwSeq)
            return;
    if (m_iFreeCount == 0) {
        // Full: the newest listed packet gives way to an older one; a newer one is dropped.
        if (SeqDiff(dwSeq, m_pTail->dwSeq) > 0)
            return;
        Node *pTail = m_pTail;
        Unlink(pTail);
        Release(pTail);
    }
    Node *pNode = m_pFree[--m_iFreeCount];
    pNode->bInUse = 1;
    pNode->dwSeq = dwSeq;
    pNode->dwType = dwType;
    pNode->dwLen = dwLen;
    std::memcpy(pNode->abyData, pData, dwLen);
    Node *pAfter = m_pHead;
    while (pAfter && SeqDiff(pAfter->dwSeq, dwSeq) < 0)
        pAfter = pAfter->pNext;
    pNode->pNext = pAfter;
    pNode->pPrev = pAfter ? pAfter->pPrev : m_pTail;
    (pNode->pPrev ? pNode->pPrev->pNext : m_pHead) = pNode;
    (pAfter ? pAfter->pPrev : m_pTail) = pNode;
}

void CVRUDPStream::Unlink(Node *pNode) {
    (pNode->pPrev ? pNode->pPrev->pNext : m_pHead) = pNode->pNext;
    (pNode->pNext ? pNode->pNext->pPrev : m_pTail) = pNode->pPrev;
    pNode->pNext = pNode->pPrev = nullptr;
}

void CVRUDPStream::Release(Node *pNode) {
    pNode->bInUse = 0;
    pNode->dwLen = 0;
    m_pFree[m_iFreeCount++] = pNode;
}

void CVRUDPStream::FlushNodes() {
    while (m_pHead && m_pHead->dwSeq == m_dwNeedSeq) {
        Node *pNode = m_pHead;
        Unlink(pNode);
        CallbackVideoData(pNode->abyData, pNode->dwLen, pNode->dwType, pNode->dwSeq);
        m_dwNeedSeq = pNode->dwSeq + 1;
        Release(pNode);
    }
}

void CVRUDPStream::CallbackVideoData(const uint8_t *pData, uint32_t dwLen, uint32_t dwType, uint32_t dwSeq) {
    if (dwSeq != m_dwCheckSeq) {
        LogModule_Write(LOG_LEVEL_DBG,
                        "[0x%X]CVRUDPStream::CallbackVideoData, m_dwCheckSeq[%d] != dwSeq[%d], dwDataLen[%d], dwType[%d], "
                        "m_dwSortBufSize[%d]",
                        MORVA_PTR_ARG(this), m_dwCheckSeq, dwSeq, dwLen, dwType, m_dwNodeCount);
        m_dwCheckSeq = dwSeq;
    }
    m_dwCheckSeq++;
    if (dwType != LINK_STREAM_DATA || !m_fnRecvCB)
        return;
    LogModule_Write(kLogTrace,
                    "[0x%X]CVRUDPStream::CallbackVideoData, m_fnRecvCB, dwSeq[%d], dwDataLen[%d], dwType[%d], "
                    "m_dwSortBufSize[%d]",
                    MORVA_PTR_ARG(this), dwSeq, dwLen, dwType, m_dwNodeCount);
    if (m_fnRecvCB(pData, dwLen, m_bFirstDelivered, m_pUser))
        m_bFirstDelivered = 1;
}

int CVRUDPStream::GenerateSeqTableByNode(uint32_t *pTable, int iCapacity) {
    yar::yar_guard buf(&m_csRUDPBuf);
    if (!buf.IsLocked())
        return 0;
    uint32_t adwTable[kStreamAckMaxEntries];
    int n = 0;
    adwTable[n++] = m_dwRecvMaxSeq;
    adwTable[n++] = m_dwNeedSeq;
    uint32_t dwRun = m_dwNeedSeq + 1;
    const Node *pNode = m_pHead;
    while (pNode && n < kStreamAckMaxEntries) {
        int32_t iDiff = SeqDiff(pNode->dwSeq, dwRun);
        if (iDiff == 0) {
            dwRun++;
            pNode = pNode->pNext;
        } else if (iDiff < 0) {
            pNode = pNode->pNext;
        } else {
            adwTable[n++] = dwRun++;
        }
    }
    LogModule_Write(kLogTrace, "[0x%X]CVRUDPStream::GenerateSeqTableByNode, m_dwRecvMaxSeq[%d], dwNeedSeq[%d]",
                    MORVA_PTR_ARG(this), m_dwRecvMaxSeq, m_dwNeedSeq);
    buf.Release();
    int iCount = n < iCapacity ? n : iCapacity;
    std::memcpy(pTable, adwTable, sizeof(uint32_t) * size_t(iCount));
    return iCount;
}

// Out-of-order, duplicate and resent packets bring credit 2 and are answered at once; in-order
// packets every second one while no gaps are known. A resent packet's sender waits for that
// answer: without it, it sends the same packet again an RTO later before moving on, and a burst
// lost at the tail costs two RTOs a packet.
void CVRUDPStream::SendAck(uint32_t dwCredit) {
    m_dwAckCredit += dwCredit;
    if (m_dwAckCredit < 2 || m_bStopped)
        return;
    m_dwAckCredit = 0;
    uint32_t adwTable[kStreamAckMaxEntries];
    int n = GenerateSeqTableByNode(adwTable, kStreamAckMaxEntries);
    if (n == 0)
        return;
    m_bLoss = n >= 3;
    uint8_t abyAck[kStreamAckHeadLen + 4 * kStreamAckMaxEntries];
    int iLen = BuildStreamAck(abyAck, m_wLinkId, m_dwRecognizeCode, adwTable, n);
    if (YAR_SendTo(m_stSock, abyAck, iLen, &m_RemoteAddr) != iLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CVRUDPStream::SendAck, YAR_SendTo Failed, m_stSock[%d], dwTotalLen[%d], dwAckNum[%d], "
                        "syserror[%d]",
                        MORVA_PTR_ARG(this), m_stSock, iLen, n, YAR_GetSystemLastError());
        return;
    }
    LogModule_Write(kLogTrace, "[0x%X]CVRUDPStream::SendAck, YAR_SendTo SUCC, m_stSock[%d], dwTotalLen[%d], dwAckNum[%d]",
                    MORVA_PTR_ARG(this), m_stSock, iLen, n);
}

int CVRUDPStream::SendStartCommandToDev() {
    uint8_t abyCmd[kStartCommandLen] = {};
    PutBE32(abyCmd, kStartCommandLen);
    abyCmd[4] = 2;
    PutBE32(abyCmd + 8, m_dwStreamId);
    PutBE16(abyCmd + 12, m_wLinkId);
    if (YAR_SendTo(m_stSock, abyCmd, kStartCommandLen, &m_RemoteAddr) != kStartCommandLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CVRUDPStream::SendStartCommandToDev, YAR_SendTo Failed, m_stSock[%d], dwTotalLen[%d], "
                        "syserror[%d]",
                        MORVA_PTR_ARG(this), m_stSock, kStartCommandLen, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    return 0;
}

int CVRUDPStream::RecvTCPDataCB(const uint8_t *pData, uint32_t dwLen, int iFlag) {
    if (!pData || dwLen == 0 || iFlag)
        return 1;
    while (dwLen > 0) {
        uint32_t dwPiece = kParseBufLen - m_dwParseLen;
        if (dwPiece > dwLen)
            dwPiece = dwLen;
        std::memcpy(m_abyParseBuf + m_dwParseLen, pData, dwPiece);
        m_dwParseLen += dwPiece;
        pData += dwPiece;
        dwLen -= dwPiece;
        ParseTCPData();
        // Nothing parseable in a full buffer: start over rather than stall.
        if (m_dwParseLen == uint32_t(kParseBufLen))
            m_dwParseLen = 0;
    }
    return 1;
}

void CVRUDPStream::ParseTCPData() {
    uint32_t dwPos = 0;
    while (m_dwParseLen - dwPos > 2) {
        const uint8_t *p = m_abyParseBuf + dwPos;
        if (p[0] != 0xEE || p[1] != 0xFF) {
            dwPos++;
            continue;
        }
        if (m_dwParseLen - dwPos < 4)
            break;
        uint16_t wLen = GetBE16(p + 2);
        if (wLen > kMaxRecordLen) {
            dwPos++;
            continue;
        }
        if (m_dwParseLen - dwPos < uint32_t(wLen) + 2)
            break;
        // A record too short for its sequence and flag is skipped whole, never read past.
        if (wLen >= kRecordMinLen && p[6] == 1) {
            m_wLastHeartSeq = int16_t(GetBE16(p + 4));
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CVRUDPStream::ParseTCPData, Recv Heart, wSeq[%d]", MORVA_PTR_ARG(this),
                            m_wLastHeartSeq);
        }
        dwPos += uint32_t(wLen) + 2;
    }
    if (dwPos >= m_dwParseLen) {
        m_dwParseLen = 0;
        return;
    }
    std::memmove(m_abyParseBuf, m_abyParseBuf + dwPos, m_dwParseLen - dwPos);
    std::memset(m_abyParseBuf + (m_dwParseLen - dwPos), 0, dwPos);
    m_dwParseLen -= dwPos;
}

}  // namespace Vorezi
