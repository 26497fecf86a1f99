// Address translation at the socket boundary.
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "internal/sockaddr.h"
#include "internal/syserr.h"

namespace yar::internal {

bool ToSockAddr(const YAR_ADDR_T &addr, SockAddr *out) {
    *out = SockAddr{};
    if (addr.family == YAR_AF_INET) {
        auto *sin = reinterpret_cast<sockaddr_in *>(&out->storage);
        sin->sin_family = AF_INET;
        sin->sin_port = addr.port;
        sin->sin_addr.s_addr = addr.addr4;
        out->len = sizeof *sin;
        return true;
    }
    if (addr.family == YAR_AF_INET6) {
        auto *sin6 = reinterpret_cast<sockaddr_in6 *>(&out->storage);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = addr.port;
        sin6->sin6_flowinfo = addr.addr4;
        std::memcpy(&sin6->sin6_addr, addr.addr6, sizeof addr.addr6);
        sin6->sin6_scope_id = addr.scopeId;
        out->len = sizeof *sin6;
        return true;
    }
    return false;
}

bool FromSockAddr(const sockaddr *sa, socklen_t len, YAR_ADDR_T *out) {
    std::memset(out, 0, sizeof *out);
    if (sa->sa_family == AF_INET && len >= socklen_t(sizeof(sockaddr_in))) {
        const auto *sin = reinterpret_cast<const sockaddr_in *>(sa);
        out->family = YAR_AF_INET;
        out->port = sin->sin_port;
        out->addr4 = sin->sin_addr.s_addr;
        return true;
    }
    if (sa->sa_family == AF_INET6 && len >= socklen_t(sizeof(sockaddr_in6))) {
        const auto *sin6 = reinterpret_cast<const sockaddr_in6 *>(sa);
        out->family = YAR_AF_INET6;
        out->port = sin6->sin6_port;
        out->addr4 = sin6->sin6_flowinfo;
        std::memcpy(out->addr6, &sin6->sin6_addr, sizeof out->addr6);
        out->scopeId = sin6->sin6_scope_id;
        return true;
    }
    return false;
}

int SystemFamily(int family) {
    switch (YAR_ResolveFamily(family)) {
    case YAR_AF_INET: return AF_INET;
    case YAR_AF_INET6:
    case YAR_AF_DUAL: return AF_INET6;
    default: return AF_UNSPEC;
    }
}

}  // namespace yar::internal

namespace {

int FillFromSocket(int sock, YAR_ADDR_T *out, int (*query)(int, sockaddr *, socklen_t *)) {
    yar::internal::SockAddr sa;
    sa.len = sizeof sa.storage;
    if (query(sock, sa.get(), &sa.len) != 0) {
        yar::internal::SetSystemErrorFromErrno(errno, yar::internal::ErrnoContext::Socket);
        return -1;
    }
    yar::internal::FromSockAddr(sa.get(), sa.len, out);
    return 0;
}

}  // namespace

extern "C" int YAR_GetAddrBySockFd(int sock, YAR_ADDR_T *local, YAR_ADDR_T *peer) {
    if (!local && !peer)
        return -1;
    if (peer && FillFromSocket(sock, peer, getpeername) != 0)
        return -1;
    if (local && FillFromSocket(sock, local, getsockname) != 0)
        return -1;
    return 0;
}
