// The UDP server link: a datagram socket bound to the local address and a receive thread that
// delivers every datagram with its sender to the data callback.
#pragma once

#include <atomic>

#include "transport/serverlink/ServerLinkBase.h"
#include "yar/yar_thread.h"

namespace Vorezi {

constexpr int SERVER_LINK_UDP_BUF_LEN = 32768;

class CServerLinkUDP : public CServerLinkBase {
public:
    CServerLinkUDP() = default;
    ~CServerLinkUDP() override;

    int Stop() override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override;
    int OpenLink() override;
    int CreateSocket() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

    void StopRecvThread();

private:
    static uint32_t RecvThread(void *pParam);
    void RecData();
    // False when nothing more waits (or the socket was shut down).
    bool ReceiveOne(int sockRecv, char *pBuf);

    YAR_HANDLE m_hndRecvThread = YAR_INVALID_THREAD;
    std::atomic<int> m_bStop{0};
};

}  // namespace Vorezi
