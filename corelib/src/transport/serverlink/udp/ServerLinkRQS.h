// The RQS server link: an IPv4 datagram socket with a receive thread that hands every datagram
// to the data callback as a kind-22 record; the owner may pass them on to an RQS transport.
#pragma once

#include <atomic>

#include "transport/serverlink/ServerLinkBase.h"
#include "yar/yar_thread.h"

namespace Vorezi {

constexpr DWORD SERVER_LINK_KIND_RQS = 22;
constexpr int SERVER_LINK_RQS_BUF_LEN = 32768;

class CServerLinkRQS : public CServerLinkBase {
public:
    CServerLinkRQS() = default;
    ~CServerLinkRQS() override;

    int Stop() override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override;
    int OpenLink() override;
    int CreateSocket() override;
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;
    virtual void RecvData();

protected:
    // Sets the stop flag, wakes the thread by shutting the socket down and joins it. The socket
    // stays open: a closed number is handed to the next socket at once, which the thread would read.
    void StopRecvThread();
    bool Stopping() const { return m_bStop.load() != 0; }
    // Waits up to the receive time-out for the socket to become readable: 1, 0 on time-out,
    // -1 on a failed wait (logged with the class name given).
    int WaitSocket(int sockRecv, const char *pFailText);

private:
    static uint32_t RecvThread(void *pParam);
    // False when nothing more waits.
    bool ReceiveOne(int sockRecv, char *pBuf);

    YAR_HANDLE m_hRecvThread = YAR_INVALID_THREAD;
    std::atomic<int> m_bStop{0};
};

}  // namespace Vorezi
