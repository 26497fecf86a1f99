// The UDP server link: a datagram socket bound to the local address and a receive thread that
// delivers every datagram with its sender to the data callback.
#pragma once

#include "transport/serverlink/udp/DatagramServerLink.h"

namespace Vorezi {

constexpr int SERVER_LINK_UDP_BUF_LEN = 32768;

class CServerLinkUDP : public CDatagramServerLink {
public:
    CServerLinkUDP();

    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int OpenLink() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

protected:
    void LogRecv(RecvEvent eEvent, int sockRecv, int iValue) override;
};

}  // namespace Vorezi
