// The send queue of one connection: messages are cut into blocks that carry the DATA head and
// stay in a ring until acknowledged. Ring order: head (oldest unacknowledged), resend cursor,
// current (next first send), tail (receives the next data), then the free blocks back to the head.
#pragma once

#include <cstdint>

#include "transport/vrudp/VRUDPQueueCommon.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

struct VRUDP_SEND_BLOCK {
    uint32_t dwSeq;
    uint8_t bySendCount;
    uint8_t bySampled;      // the block gave its RTT sample
    uint32_t dwLastSend;    // ms
    uint32_t dwFirstSend;   // ms
    uint32_t dwLen;         // head plus payload
    uint8_t *pBuf;
    VRUDP_SEND_BLOCK *pNext;
};

class CSndQueue {
public:
    CSndQueue();
    virtual ~CSndQueue();
    CSndQueue(const CSndQueue &) = delete;
    CSndQueue &operator=(const CSndQueue &) = delete;

    void SetHandle(int iVRUDPHandle) { m_iVRUDPHandle = iVRUDPHandle; }
    int InitQueue();
    // 0, 10005 (bad argument), 10009 (not enough blocks; nothing written), 10004 or -1.
    int InsertDataToSendList(const uint8_t *pData, int iDataLength, uint16_t wRemoteSession, uint16_t wOwnSession,
                             uint8_t byVersion, uint32_t dwRecognizeCode);
    VRUDP_SEND_BLOCK *getSendBlock();
    void NextCur();
    VRUDP_SEND_BLOCK *getResendBlock();
    void ResetResendCursor();
    // Releases every sent block up to the acknowledged sequence: from an ACK packet (bytes 16-19)
    // or from the sequence itself. 0 or -1.
    int UpdateWindow(const uint8_t *pAck, int iLen);
    int UpdateWindow(uint32_t dwAckSeq);
    VRUDP_SEND_BLOCK *getBlockBySeq(uint32_t dwSeq);
    void UpdateNeedSeq(uint32_t dwNeedSeq);
    // Blocks that could take data now, counting groups the limit still allows.
    int FreeBlockCount();
    // Sequence the next block will get: one past the last block queued.
    void ReleaseQueue();
    int GetOneDataSize() const { return m_iOneDataSize; }
    int GetTotalMallocSize() const { return m_iTotalMallocSize; }

private:
    int ContructSendList(VRUDP_SEND_BLOCK **ppFirst, VRUDP_SEND_BLOCK **ppLast);
    int IncreaseSendList();
    int ReleaseUpTo(uint32_t dwAckSeq);

    int m_iVRUDPHandle = -1;
    VRUDP_SEND_BLOCK *m_pstCurBlock = nullptr;
    VRUDP_SEND_BLOCK *m_pstTailBlock = nullptr;
    VRUDP_SEND_BLOCK *m_pstHeadBlock = nullptr;
    VRUDP_SEND_BLOCK *m_pstResendBlock = nullptr;
    uint8_t *m_pGroups[vrudp::kMaxGroups] = {};
    int m_iTotalMallocSize = 0;
    int m_iSendBufSize = vrudp::kDefaultQueueBytes;
    uint32_t m_dwNextSeq = 0;
    int m_iMsgCount = 0;
    int m_iOneDataSize = vrudp::kDefaultOneDataSize;
    YAR_MUTEX_T m_csLock;
    int m_bCreatedLock = 0;
    uint32_t m_dwNeedSeq = 0;
};

}  // namespace Vorezi
