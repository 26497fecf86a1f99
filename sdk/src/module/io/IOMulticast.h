// A UDP socket joined to a multicast group on one adapter (or on loopback for the local relay).
// Linux delivers group traffic only to sockets bound to the wildcard address, so the socket binds
// 0.0.0.0 on the port and joins on the adapter's interface; its sends leave by that interface.
#pragma once

#include "module/io/IOSocket.h"

namespace ZEVA {

class CIOMulticast : public CIOSocket {
public:
    CIOMulticast() : CIOSocket("CIOMulticast", "m_hMulticastServer") {}
    ~CIOMulticast() = default;

    // Joins 239.255.255.250 on the adapter of the index; the SDK never hears its own sends.
    int Init(uint16_t wAdapterIndex, uint16_t wPort) override;
    // Joins the group on loopback; sends loop back to every local member.
    int InitLocal(uint16_t wAdapterIndex, uint16_t wPort, const char *pGroup);
    // Waits at most 1 s, so a reader loop sees its stop flag.
    int RecvData(void *pBuf, uint32_t dwBufLen, uint32_t *pRecvLen) override;

private:
    int CreateServerSocket(const char *pIfName, bool bLoop);

    char m_szMulticastIP[16] = {};
};

}  // namespace ZEVA
