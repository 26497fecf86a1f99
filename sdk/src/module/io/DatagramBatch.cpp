#include "module/io/DatagramBatch.h"

#include <netinet/in.h>

#include <new>

namespace ZEVA {

uint32_t SendDatagrams(int sock, const DATAGRAM *pDatagrams, uint32_t dwCount, const YAR_ADDR_T &to) {
    constexpr uint32_t CHUNK = 64;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = to.port;
    addr.sin_addr.s_addr = to.addr4;
    iovec iov[CHUNK];
    mmsghdr msgs[CHUNK];
    uint32_t sent = 0;
    while (sent < dwCount) {
        uint32_t n = dwCount - sent < CHUNK ? dwCount - sent : CHUNK;
        for (uint32_t i = 0; i < n; ++i) {
            iov[i] = {const_cast<char *>(pDatagrams[sent + i].pData), pDatagrams[sent + i].dwLen};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_name = &addr;
            msgs[i].msg_hdr.msg_namelen = sizeof addr;
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        int done = sendmmsg(sock, msgs, n, 0);
        if (done <= 0)
            break;
        sent += uint32_t(done);
    }
    return sent;
}

CDatagramBatch::CDatagramBatch(uint32_t dwSlotLen)
    : m_dwSlotLen(dwSlotLen), m_pSlots(new (std::nothrow) char[size_t(dwSlotLen) * MAX_DATAGRAMS]) {}

void CDatagramBatch::SetFirst(uint32_t dwLen) {
    m_msgs[0].msg_len = dwLen;
    m_dwCount = 1;
}

void CDatagramBatch::TakeQueued(int sock) {
    if (m_dwCount >= MAX_DATAGRAMS)
        return;
    for (uint32_t i = m_dwCount; i < MAX_DATAGRAMS; ++i) {
        m_iov[i] = {Data(i), m_dwSlotLen};
        m_msgs[i] = {};
        m_msgs[i].msg_hdr.msg_iov = &m_iov[i];
        m_msgs[i].msg_hdr.msg_iovlen = 1;
    }
    // A failure here (nothing queued, or an error) leaves the batch as it is: the next blocking
    // receive meets and reports any error.
    int n = recvmmsg(sock, m_msgs + m_dwCount, MAX_DATAGRAMS - m_dwCount, MSG_DONTWAIT, nullptr);
    if (n > 0)
        m_dwCount += uint32_t(n);
}

}  // namespace ZEVA
