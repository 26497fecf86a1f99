// The receive queue of one connection: arriving DATA packets wait in a 128-slot ring, indexed by
// sequence modulo 128, until a whole message can be read out. Packet memory comes in groups of
// 16 nodes up to a byte limit and is only returned by ReleaseQueue.
#pragma once

#include <cstdint>

#include "transport/vrudp/VRUDPQueueCommon.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

struct VRUDP_RECV_NODE {
    uint8_t byType;
    uint8_t byUnitPos;
    uint8_t bInUse;
    uint32_t dwSeq;
    uint32_t dwLen;  // capacity when handed out, packet length once filled
    uint8_t *pBuf;
    VRUDP_RECV_NODE *pNext;
};

class CRecvQueue {
public:
    CRecvQueue();
    virtual ~CRecvQueue();
    CRecvQueue(const CRecvQueue &) = delete;
    CRecvQueue &operator=(const CRecvQueue &) = delete;

    void SetHandle(int iVRUDPHandle) { m_iVRUDPHandle = iVRUDPHandle; }
    int InitQueue();
    // Resets limit and sizes to their defaults first.
    int InitQueue(int iVRUDPHandle);
    // A free node with its length set to its capacity, or null. The node stays free until inserted.
    VRUDP_RECV_NODE *GetEmptyBuffer();
    // Places a filled node; an occupied slot drops it (0, node stays free). With bInOrder the
    // caller's needed sequence advances over every held successor.
    int InsertArray(VRUDP_RECV_NODE *pNode, uint32_t *pdwNeedSeq, int bInOrder);
    // One whole message without its heads, or 0 (nothing whole, too small a buffer, a dropped
    // message without begin unit).
    int ReadPacket(uint8_t *pBuf, int iBufCount);
    int GetLostSeq(uint32_t *pArray, int iArrayBytes, uint32_t dwStartSeq);
    // True when every slot holds a unit and none of them ends a message: nothing can ever be read.
    bool IsStalled();
    void ReleaseQueue();
    int GetOneDataSize() const { return m_iOneDataSize; }
    int GetUnitCount() const { return m_iUnitCount; }

private:
    int ContructRecvList(VRUDP_RECV_NODE **ppFirst, VRUDP_RECV_NODE **ppLast);
    int IncreaseRecvList();
    void UpdateRecvList();
    void RebuildFreeRing();
    // Units from the read position up to the end of the first message: their count, or 0.
    int FindWholeMessage();
    void ResetDefaults();

    int m_iVRUDPHandle = -1;
    VRUDP_RECV_NODE *m_pstCurBlock = nullptr;
    VRUDP_RECV_NODE *m_pstTailBlock = nullptr;
    VRUDP_RECV_NODE *m_pstFirstBlock = nullptr;
    uint8_t *m_pGroups[vrudp::kMaxGroups] = {};
    int m_iTotalMallocSize = 0;
    int m_iRecvBufSize = vrudp::kDefaultQueueBytes;
    VRUDP_RECV_NODE *m_pRing[vrudp::kRingSlots] = {};
    uint32_t m_dwReadPos = 0;
    uint32_t m_dwReadSeq = 0;  // sequence the unit at m_dwReadPos must carry
    uint32_t m_dwHighSlot = 0;
    int m_bStop = 0;
    int m_iOneDataSize = vrudp::kDefaultOneDataSize;
    YAR_MUTEX_T m_csLock;
    int m_bCreatedLock = 0;
    int m_iUnitCount = 0;
};

}  // namespace Vorezi
