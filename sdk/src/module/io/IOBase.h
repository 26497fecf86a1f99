// The one interface through which a service reaches the network: a socket or capture bound to
// one adapter of the adapter table. Objects live as members of their service and are never
// deleted through this base.
#pragma once

#include <atomic>
#include <cstdint>

#include "yar/yar_addr.h"

namespace ZEVA {

class CIOBase {
public:
    virtual int Init(uint16_t wAdapterIndex, uint16_t wPort) = 0;
    virtual int Fini() = 0;
    virtual int SendData(const void *pData, uint32_t dwDataLen, const YAR_ADDR_T *pAddr) = 0;
    // Waits for one datagram or frame; 1 with its length, 0 when none arrived or on failure.
    virtual int RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) = 0;

protected:
    CIOBase() = default;
    ~CIOBase() = default;

    std::atomic<uint32_t> m_bInit{0};
    uint16_t m_wAdapterIndex = 0xFFFF;
};

}  // namespace ZEVA
