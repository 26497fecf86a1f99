#include "transport/serverlink/DatagramRecv.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "yar/yar_error.h"

namespace Vorezi {

namespace {

constexpr int kWouldBlock = 10035;

void FromSockAddr(const sockaddr_storage &ss, YAR_ADDR_T *pFrom) {
    if (ss.ss_family == AF_INET6) {
        const auto &sin6 = reinterpret_cast<const sockaddr_in6 &>(ss);
        YAR_MakeAddr6(sin6.sin6_addr.s6_addr, ntohs(sin6.sin6_port), pFrom);
        pFrom->scopeId = sin6.sin6_scope_id;
    } else {
        const auto &sin = reinterpret_cast<const sockaddr_in &>(ss);
        YAR_MakeAddr4(sin.sin_addr.s_addr, ntohs(sin.sin_port), pFrom);
    }
}

}  // namespace

int RecvDatagram(int iSocket, char *pBuf, int iSize, YAR_ADDR_T *pFrom) {
    sockaddr_storage ss;
    std::memset(&ss, 0, sizeof(ss));
    socklen_t len = sizeof(ss);
    ssize_t n;
    do {
        n = recvfrom(iSocket, pBuf, (size_t)iSize, MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&ss), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        YAR_SetSystemLastError(errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : errno);
        return -1;
    }
    FromSockAddr(ss, pFrom);
    return (int)n;
}

}  // namespace Vorezi
