#include "transport/link/SocketEnd.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr uint32_t kDrainStepMs = 5;

int TcpState(int iSocket) {
    tcp_info info{};
    socklen_t uLen = sizeof(info);
    return getsockopt(iSocket, IPPROTO_TCP, TCP_INFO, &info, &uLen) == 0 ? info.tcpi_state : -1;
}

// Bytes sent and not yet acknowledged (our FIN counts as one), or -1.
int SendQueueBytes(int iSocket) {
    int iBytes = 0;
    return ioctl(iSocket, SIOCOUTQ, &iBytes) == 0 ? iBytes : -1;
}

}  // namespace

bool SocketStreamEnded(int iSocket) {
    const int iState = TcpState(iSocket);
    if (iState < 0 || iState == TCP_ESTABLISHED || iState == TCP_LISTEN || iState == TCP_CLOSE)
        return false;
    int iUnread = 0;
    return ioctl(iSocket, FIONREAD, &iUnread) == 0 && iUnread == 0;
}

void SocketDrainSendQueue(int iSocket, uint32_t dwStallMs, const std::atomic<int> *pbAbort) {
    YAR_ShutDown(iSocket, 1);
    int iLeft = SendQueueBytes(iSocket);
    uint64_t ullProgress = YAR_GetTimeTick();
    // A reset or the peer's final ACK ends the connection (TCP_CLOSE): nothing more will leave.
    while (iLeft > 0 && TcpState(iSocket) != TCP_CLOSE && !(pbAbort && pbAbort->load())) {
        if (YAR_GetTimeTick() - ullProgress >= dwStallMs)
            return;
        YAR_Sleep(kDrainStepMs);
        const int iNow = SendQueueBytes(iSocket);
        if (iNow < iLeft)
            ullProgress = YAR_GetTimeTick();
        iLeft = iNow;
    }
}

SOCKET_OPTIONS SocketSaveOptions(int iSocket) {
    SOCKET_OPTIONS options;
    options.iFileFlags = fcntl(iSocket, F_GETFL);
    linger l{};
    socklen_t uLen = sizeof(l);
    if (getsockopt(iSocket, SOL_SOCKET, SO_LINGER, &l, &uLen) == 0) {
        options.iLingerOn = l.l_onoff;
        options.iLingerSeconds = l.l_linger;
    }
    uLen = sizeof(options.iNoDelay);
    getsockopt(iSocket, IPPROTO_TCP, TCP_NODELAY, &options.iNoDelay, &uLen);
    return options;
}

void SocketRestoreOptions(int iSocket, const SOCKET_OPTIONS &options) {
    if (options.iFileFlags != -1)
        fcntl(iSocket, F_SETFL, options.iFileFlags);
    const linger l{options.iLingerOn, options.iLingerSeconds};
    setsockopt(iSocket, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    setsockopt(iSocket, IPPROTO_TCP, TCP_NODELAY, &options.iNoDelay, sizeof(options.iNoDelay));
}

}  // namespace Vorezi
