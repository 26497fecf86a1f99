// The receiving side of a reliable-UDP media stream: puts stream data packets in sequence order
// in a node pool sized once from the sender's window, delivers in-order payloads to a callback
// and answers with acknowledgements listing the highest sequence seen, the next one needed and
// the gaps. The control link hands it packets on its receive thread.
//
// The return-sequence worker of older receivers is not started: nothing in this transport
// needs it, so it does not exist here.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transport/vrudp/ComVRUDP.h"
#include "yar/yar_addr.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// Payload, its length, 1 once an earlier call returned non-zero, the user data.
typedef int (*VRUDP_STREAM_DATA_CB)(const uint8_t *pData, uint32_t dwLen, int iFlag, void *pUser);

class CVRUDPStream {
public:
    static constexpr uint32_t kDefaultNodeCount = 500;
    static constexpr uint32_t kNodePayload = 1500;
    // A window from the network sizes the pool: anything above this is a lie or an attack.
    static constexpr uint32_t kMaxRemoteWnd = 1024;
    static constexpr int kParseBufLen = 2048;
    static constexpr uint16_t kMaxRecordLen = 2000;

    CVRUDPStream();
    virtual ~CVRUDPStream();
    CVRUDPStream(const CVRUDPStream &) = delete;
    CVRUDPStream &operator=(const CVRUDPStream &) = delete;

    // One stream data packet. Ignored when iFlag is non-zero, when stopped and for kind 1.
    virtual int PushDateToGetStreamCB(const uint8_t *pData, int iKind, uint32_t dwLen, int iFlag);

    void SetRecognizeCode(uint32_t dwCode) { m_dwRecognizeCode = dwCode; }
    void SetLinkId(uint16_t wLinkId) { m_wLinkId = wLinkId; }
    void SetSocket(int iSocket) { m_stSock = iSocket; }
    void SetRemoteIP(const VRUDP_SOCK_ADDR *pRemoteAddr);
    void SetRecvDataCallback(VRUDP_STREAM_DATA_CB fnRecvCB, void *pUser);
    // Sizes the node pool from the sender's window (clamped to kMaxRemoteWnd).
    void SetRemoteWndSize(uint32_t dwWnd);
    void StopStream() { m_bStopped = 1; }
    int IsInited() const { return m_bNodesAllocated && m_bMutexCreated; }

    int SendStartCommandToDev();
    // Bytes of the control stream; records are parsed as they complete. Always 1.
    int RecvTCPDataCB(const uint8_t *pData, uint32_t dwLen, int iFlag);
    // The acknowledgement table: max, needed, then missing sequences; at most iCapacity entries.
    int GenerateSeqTableByNode(uint32_t *pTable, int iCapacity);

    uint32_t GetNodeCount() const { return m_dwNodeCount; }
    uint32_t GetNeedSeq() const { return m_dwNeedSeq; }
    int16_t GetLastHeartSeq() const { return m_wLastHeartSeq; }

private:
    struct Node {
        uint32_t dwIndex;
        uint32_t bInUse;
        uint32_t dwSeq;
        uint32_t dwType;
        uint32_t dwLen;
        uint8_t abyData[kNodePayload];
        Node *pNext;
        Node *pPrev;
    };

    int AllocNodes();
    void FreeNodes();
    void InsertNode(const uint8_t *pData, uint32_t dwLen, uint32_t dwType, uint32_t dwSeq);
    void Unlink(Node *pNode);
    void Release(Node *pNode);
    void FlushNodes();
    void CallbackVideoData(const uint8_t *pData, uint32_t dwLen, uint32_t dwType, uint32_t dwSeq);
    void SendAck(uint32_t dwCredit);
    void ParseTCPData();

    uint32_t m_dwPacketCount = 0;
    uint32_t m_dwNeedSeq = 0;
    uint32_t m_dwRecvMaxSeq = 0;
    uint32_t m_dwCheckSeq = 0;
    int m_bDataSeen = 0;
    YAR_MUTEX_T m_csRUDPBuf;
    int m_bMutexCreated = 0;
    int m_bNodesAllocated = 0;
    Node *m_pHead = nullptr;
    Node *m_pTail = nullptr;
    std::unique_ptr<Node *[]> m_pFree;
    int m_iFreeCount = 0;
    std::unique_ptr<Node[]> m_pNodes;
    uint32_t m_dwNodeCount = kDefaultNodeCount;
    uint32_t m_dwStreamId = 0;
    uint16_t m_wLinkId = 0;
    uint8_t m_abyParseBuf[kParseBufLen] = {};
    uint32_t m_dwParseLen = 0;
    int16_t m_wLastHeartSeq = 0;
    VRUDP_STREAM_DATA_CB m_fnRecvCB = nullptr;
    void *m_pUser = nullptr;
    int m_stSock = -1;
    YAR_ADDR_T m_RemoteAddr = {};
    int m_bFirstDelivered = 0;
    uint32_t m_dwRecognizeCode = 0;
    std::atomic<int> m_bStopped{0};
    int m_bLoss = 0;
    uint32_t m_dwAckCredit = 0;
};

}  // namespace Vorezi
