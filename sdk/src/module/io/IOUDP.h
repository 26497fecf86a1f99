// A plain UDP socket on one adapter; with port 0 it stays unbound until its first send, which
// binds an ephemeral port whose answers it then reads.
#pragma once

#include "module/io/IOSocket.h"

namespace ZEVA {

class CIOUDP : public CIOSocket {
public:
    CIOUDP() : CIOSocket("CIOUDP", "m_hUdpSocket") {}
    ~CIOUDP() = default;

    int Init(uint16_t wAdapterIndex, uint16_t wPort) override;
    // Blocks until a datagram arrives or the owner wakes the socket.
    int RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) override;
};

}  // namespace ZEVA
