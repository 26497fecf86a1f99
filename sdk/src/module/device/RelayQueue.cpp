#include "module/device/RelayQueue.h"

#include <new>

namespace ZEVA {

void CRelayQueue::STORE::Reserve() {
    bytes.reserve(CAPACITY);
    lens.reserve(MAX_QUEUED);
    list.reserve(MAX_QUEUED);
}

void CRelayQueue::STORE::Clear() {
    bytes.clear();
    lens.clear();
    head = 0;
    headBytes = 0;
}

void CRelayQueue::STORE::Swap(STORE &other) {
    Clear();
    bytes.swap(other.bytes);
    lens.swap(other.lens);
    std::swap(head, other.head);
    std::swap(headBytes, other.headBytes);
}

const DATAGRAM *CRelayQueue::STORE::List() {
    list.clear();
    size_t at = headBytes;
    for (size_t i = head; i < lens.size(); ++i) {
        list.push_back({bytes.data() + at, lens[i]});
        at += lens[i];
    }
    return list.data();
}

void CRelayQueue::STORE::DropFirst() {
    headBytes += lens[head];
    if (++head == lens.size())
        Clear();
}

void CRelayQueue::Open() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Queued.Clear();
    try {
        m_Queued.Reserve();
        m_Taken.Reserve();
        m_bClosed = false;
    } catch (const std::bad_alloc &) {
        m_bClosed = true;
    }
}

bool CRelayQueue::Fits(const DATAGRAM *pDatagrams, uint32_t dwCount) const {
    if (m_Queued.lens.size() + dwCount > MAX_QUEUED)
        return false;
    size_t size = m_Queued.bytes.size();
    for (uint32_t i = 0; i < dwCount; ++i)
        size += pDatagrams[i].dwLen;
    return size <= CAPACITY;
}

bool CRelayQueue::HalfFull() const {
    return m_Queued.bytes.size() >= CAPACITY / 2 || m_Queued.lens.size() >= MAX_QUEUED / 2;
}

void CRelayQueue::Append(const DATAGRAM *pDatagrams, uint32_t dwCount) {
    for (uint32_t i = 0; i < dwCount; ++i) {
        m_Queued.bytes.insert(m_Queued.bytes.end(), pDatagrams[i].pData, pDatagrams[i].pData + pDatagrams[i].dwLen);
        m_Queued.lens.push_back(pDatagrams[i].dwLen);
    }
}

}  // namespace ZEVA
