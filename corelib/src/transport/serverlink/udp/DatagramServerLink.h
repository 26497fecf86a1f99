// The part both datagram server links share: a bound datagram socket and a receive thread that
// drains it and hands every datagram with its sender to the data callback. Each link gives its
// socket kind, record kind and texts; its log lines stay its own through LogRecv.
#pragma once

#include <atomic>

#include "transport/serverlink/ServerLinkBase.h"
#include "yar/yar_thread.h"

namespace Vorezi {

struct DATAGRAM_LINK_TRAITS {
    int iProtocol;              // socket protocol; 0 lets the system choose
    bool bIPv4Only;             // true: always an IPv4 socket, else the family of the local address
    DWORD dwRecordKind;         // kind of the records handed to the data callback
    int iBufLen;                // longest datagram delivered
    const char *pCreateFailed;  // Index, local IP, local port, syserror
    const char *pAlreadyStarted;
    const char *pThreadFailed;
};

class CDatagramServerLink : public CServerLinkBase {
public:
    ~CDatagramServerLink() override;

    int Stop() override;
    int StartSever() override;
    int CreateSocket() override;
    // The receive loop; a link with its own way of reading replaces it.
    virtual void RecvData();

protected:
    explicit CDatagramServerLink(const DATAGRAM_LINK_TRAITS &struTraits) : m_struTraits(struTraits) {}

    enum class RecvEvent { InvalidSocket, WaitFailed, WaitTimeout, RecvFailed, RecvZero, TooLong, Exit };
    // Logs one event of the receive thread; iValue is the wait or receive result where it has one.
    virtual void LogRecv(RecvEvent eEvent, int sockRecv, int iValue) = 0;

    // Sets the stop flag, wakes the thread by shutting the socket down and joins it. The socket
    // stays open: a closed number is handed to the next socket at once, which the thread would read.
    void StopRecvThread();
    bool Stopping() const { return m_bStop.load() != 0; }

private:
    static uint32_t RecvThread(void *pParam);
    // False when nothing more waits (or the socket was shut down).
    bool ReceiveOne(int sockRecv, char *pBuf);

    const DATAGRAM_LINK_TRAITS m_struTraits;
    YAR_HANDLE m_hRecvThread = YAR_INVALID_THREAD;
    std::atomic<int> m_bStop{0};
};

}  // namespace Vorezi
