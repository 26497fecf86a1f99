// One received MQTT frame with what the parse functions found in it, and the FIFO of complete
// frames a parser hands to its session.
#pragma once

#include <memory>

#include "morva/MorvaTypes.h"
#include "transport/mqtt/MqttBuffer.h"

namespace Vorezi {

// Offsets count from the first byte of the frame. The record owns its buffer; code that hands it
// on passes sizeof(MqttFrame) with it (44 bytes on the 32-bit build, more here).
struct MqttFrame {
    std::unique_ptr<CBuffer> pData;  // the whole frame, fixed header included
    DWORD dwFirstOffset = 0;         // CONNECT client id, PUBLISH topic, SUBSCRIBE filter
    DWORD dwFirstLen = 0;
    DWORD dwSecondOffset = 0;  // CONNECT will message, PUBLISH payload
    DWORD dwSecondLen = 0;
    DWORD dwUserNameOffset = 0;
    DWORD dwUserNameLen = 0;
    DWORD dwFixedHeaderLen = 0;  // 2 to 5
    WORD wKeepAlive = 0;
    WORD wMessageID = 0;
};

struct MqttFrameNode {
    MqttFrame frame;
    MqttFrameNode *pNext = nullptr;
};

class CMqttFrameQueue {
public:
    CMqttFrameQueue() = default;
    ~CMqttFrameQueue() { Clear(); }
    CMqttFrameQueue(const CMqttFrameQueue &) = delete;
    CMqttFrameQueue &operator=(const CMqttFrameQueue &) = delete;

    // Takes the record (and its buffer) into a new node at the tail: 1, or 0 with error 41.
    int Enqueue(MqttFrame &&frame);
    // Moves the head record out and frees its node: 1, or 0 when empty.
    int Dequeue(MqttFrame *pOut);
    // Frees every node and its buffer.
    void Clear();
    DWORD GetCount() const { return m_dwCount; }

private:
    MqttFrameNode m_Sentinel;  // m_Sentinel.pNext is the head
    MqttFrameNode *m_pTail = &m_Sentinel;
    DWORD m_dwCount = 0;
};

}  // namespace Vorezi
