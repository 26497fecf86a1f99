#include "transport/mqtt/MqttFrameQueue.h"

#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"

namespace Vorezi {

int CMqttFrameQueue::Enqueue(MqttFrame &&frame) {
    MqttFrameNode *pNode = new (std::nothrow) MqttFrameNode;
    if (!pNode) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttFrameQueue::Enqueue, new MqttFrameNode Failed");
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    pNode->frame = std::move(frame);
    m_pTail->pNext = pNode;
    m_pTail = pNode;
    m_dwCount++;
    return 1;
}

int CMqttFrameQueue::Dequeue(MqttFrame *pOut) {
    MqttFrameNode *pHead = m_Sentinel.pNext;
    if (!pHead)
        return 0;
    m_Sentinel.pNext = pHead->pNext;
    if (m_pTail == pHead)
        m_pTail = &m_Sentinel;
    m_dwCount--;
    *pOut = std::move(pHead->frame);
    delete pHead;
    return 1;
}

void CMqttFrameQueue::Clear() {
    MqttFrame dropped;
    while (Dequeue(&dropped)) {
    }
}

}  // namespace Vorezi
