// Datagrams taken from a socket and sent on many at a time (Linux recvmmsg and sendmmsg, beside
// what the runtime offers). Under a burst one system call then serves a whole batch, where one
// call each would cost about as much as parsing the answer.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <memory>

#include "yar/yar_addr.h"

namespace ZEVA {

struct DATAGRAM {
    const char *pData;
    uint32_t dwLen;
};

// Sends the datagrams in order to one IPv4 address, in as few calls as it can; the number sent
// before the first one the system refused.
uint32_t SendDatagrams(int sock, const DATAGRAM *pDatagrams, uint32_t dwCount, const YAR_ADDR_T &to);

class CDatagramBatch {
public:
    static constexpr uint32_t MAX_DATAGRAMS = 16;

    // Slots of dwSlotLen bytes each; Valid() is false when the memory cannot be had.
    explicit CDatagramBatch(uint32_t dwSlotLen);
    bool Valid() const { return m_pSlots != nullptr; }

    uint32_t SlotLen() const { return m_dwSlotLen; }
    char *Data(uint32_t i) { return m_pSlots.get() + size_t(i) * m_dwSlotLen; }
    uint32_t Count() const { return m_dwCount; }
    DATAGRAM Datagram(uint32_t i) const { return {m_pSlots.get() + size_t(i) * m_dwSlotLen, m_msgs[i].msg_len}; }
    void Clear() { m_dwCount = 0; }
    bool Full() const { return m_dwCount == MAX_DATAGRAMS; }
    // The batch holds one datagram, received into slot 0 by the caller.
    void SetFirst(uint32_t dwLen);
    // Adds what is already queued on the socket, without waiting, up to the free slots.
    void TakeQueued(int sock);

private:
    uint32_t m_dwSlotLen;
    std::unique_ptr<char[]> m_pSlots;
    uint32_t m_dwCount = 0;
    iovec m_iov[MAX_DATAGRAMS] = {};
    mmsghdr m_msgs[MAX_DATAGRAMS] = {};
};

}  // namespace ZEVA
