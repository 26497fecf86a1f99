#include <cerrno>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "transport/vrudp/VRUDPSysSocket.h"
#include "yar/yar_error.h"

namespace Vorezi {
namespace vrudp {

int SysWaitReadable(int iSocket, int iTimeOutMs) {
    pollfd pfd{iSocket, POLLIN, 0};
    int iRet;
    do {
        iRet = poll(&pfd, 1, iTimeOutMs);
    } while (iRet < 0 && errno == EINTR);
    return iRet;
}

int SysNextDatagramLength(int iSocket) {
    ssize_t n;
    do {
        n = recv(iSocket, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        // The runtime's numbering: would-block 10035, a refused earlier send 10054.
        YAR_SetSystemLastError(errno == EAGAIN || errno == EWOULDBLOCK ? YAR_SYSERR_WSAEWOULDBLOCK
                               : errno == ECONNREFUSED                 ? YAR_SYSERR_WSAECONNRESET
                                                                       : errno);
        return -1;
    }
    return int(n);
}

void SysDiscardDatagram(int iSocket) {
    char c;
    while (recv(iSocket, &c, 0, MSG_DONTWAIT) < 0 && errno == EINTR) {
    }
}

int SysSetV6Only(int iSocket) {
    int iOn = 1;
    return setsockopt(iSocket, IPPROTO_IPV6, IPV6_V6ONLY, &iOn, sizeof iOn);
}

int SysShutDownDatagram(int iSocket, int iHow) {
    if (shutdown(iSocket, iHow) == 0 || errno == ENOTCONN)
        return 0;
    YAR_SetSystemLastError(errno);
    return -1;
}

}  // namespace vrudp
}  // namespace Vorezi
