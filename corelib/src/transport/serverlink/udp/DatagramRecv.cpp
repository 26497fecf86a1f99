#include "transport/serverlink/udp/DatagramRecv.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {

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
        YAR_SetSystemLastError(errno == EAGAIN || errno == EWOULDBLOCK ? YAR_SYSERR_WSAEWOULDBLOCK : errno);
        return -1;
    }
    FromSockAddr(ss, pFrom);
    return (int)n;
}

int SendDatagramTo(int iSocket, const SERVER_LINK_SEND_PARAM &param) {
    YAR_ADDR_T struTo;
    const int iAf = std::strchr(param.pPeerIP, ':') ? YAR_AF_INET6 : YAR_AF_INET;
    if (YAR_MakeAddrByString(iAf, param.pPeerIP, param.wPeerPort, &struTo) != 0)
        return -1;
    return YAR_SendTo(iSocket, param.pData, (int)param.dwDataLen, &struTo);
}

void SetDatagramRecord(SERVER_LINK_DATA *pData, char *pBuf, int iLen, const YAR_ADDR_T &from) {
    pData->pData = pBuf;
    pData->dwDataLen = (DWORD)iLen;
    YAR_GetAddrStringEx(&from, pData->szPeerIP, sizeof(pData->szPeerIP));
    pData->wPeerPort = YAR_GetAddrPort(&from);
}

}  // namespace Vorezi
