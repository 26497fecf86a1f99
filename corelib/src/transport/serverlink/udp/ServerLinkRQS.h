// The RQS server link: an IPv4 datagram socket with a receive thread that hands every datagram
// to the data callback as a kind-22 record; the owner may pass them on to an RQS transport.
#pragma once

#include "transport/serverlink/udp/DatagramServerLink.h"

namespace Vorezi {

constexpr DWORD SERVER_LINK_KIND_RQS = 22;
constexpr int SERVER_LINK_RQS_BUF_LEN = 32768;

class CServerLinkRQS : public CDatagramServerLink {
public:
    CServerLinkRQS();

    int Stop() override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int OpenLink() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

protected:
    void LogRecv(RecvEvent eEvent, int sockRecv, int iValue) override;
    // Waits up to the receive time-out for the socket to become readable: 1, 0 on time-out,
    // -1 on a failed wait (logged with the class name given).
    int WaitSocket(int sockRecv, const char *pFailText);
};

}  // namespace Vorezi
