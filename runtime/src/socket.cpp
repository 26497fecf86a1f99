// Socket life: creation by family code, bind, listen, accept and connect with time-outs.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "internal/asyncio.h"
#include "internal/retry_eintr.h"
#include "internal/sockaddr.h"
#include "internal/socket_startup.h"
#include "internal/socket_util.h"
#include "internal/syserr.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace yar::internal {

namespace {
std::atomic<bool> g_socketsStarted{false};
}

bool SocketsStarted() {
    return g_socketsStarted.load();
}

void SetSocketsStarted(bool started) {
    g_socketsStarted.store(started);
}

void SetSocketError(int sock, int err) {
    ErrnoContext ctx = ErrnoContext::Socket;
    if (err == ECONNREFUSED) {
        int type = 0;
        socklen_t len = sizeof type;
        if (getsockopt(sock, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM)
            ctx = ErrnoContext::UdpSocket;
    }
    SetSystemErrorFromErrno(err, ctx);
}

int FailSocket(int sock) {
    SetSocketError(sock, errno);
    return -1;
}

int64_t MonotonicUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

Deadline::Deadline(uint32_t timeoutMs)
    : infinite_(timeoutMs == YAR_INFINITE_TIMEOUT), endUs_(MonotonicUs() + int64_t(timeoutMs) * 1000) {}

int64_t Deadline::RemainingUs() const {
    if (infinite_)
        return INT64_MAX;
    int64_t left = endUs_ - MonotonicUs();
    return left > 0 ? left : 0;
}

bool Deadline::Expired() const {
    return RemainingUs() == 0;
}

int Deadline::PollTimeout() const {
    if (infinite_)
        return -1;
    int64_t ms = (RemainingUs() + 999) / 1000;
    return ms > INT32_MAX ? INT32_MAX : int(ms);
}

int WaitSocket(int sock, short events, const Deadline &deadline) {
    // A socket shut down for reading only reports POLLRDHUP, not POLLHUP.
    if (events & POLLIN)
        events |= POLLRDHUP;
    for (;;) {
        pollfd pfd{sock, events, 0};
        int n = poll(&pfd, 1, deadline.PollTimeout());
        if (n > 0) {
            if (pfd.revents & POLLNVAL) {
                SetSystemErrorFromErrno(EBADF, ErrnoContext::Socket);
                return -1;
            }
            return (pfd.revents & (POLLHUP | POLLRDHUP)) ? kSocketHungUp : 1;
        }
        if (n == 0) {
            if (deadline.Expired())
                return 0;
            continue;  // poll rounds to whole milliseconds; the deadline decides
        }
        if (errno != EINTR)
            return FailSocket(sock);
    }
}

}  // namespace yar::internal

using yar::internal::Deadline;
using yar::internal::FailSocket;
using yar::internal::SockAddr;
using yar::internal::ToSockAddr;
using yar::internal::WaitSocket;

namespace {

int SetFlag(int sock, int level, int option, int value) {
    if (setsockopt(sock, level, option, &value, sizeof value) != 0)
        return FailSocket(sock);
    return 0;
}

bool ToSystemAddr(int sock, const YAR_ADDR_T *addr, SockAddr *sa) {
    if (ToSockAddr(*addr, sa))
        return true;
    yar::internal::SetSocketError(sock, EAFNOSUPPORT);
    return false;
}

int SetBlocking(int sock, int flags) {
    return fcntl(sock, F_SETFL, flags) == 0 ? 0 : -1;
}

// The error that ends a non-blocking connect: 0 when connected, else an errno value.
int AwaitConnect(int sock, uint32_t timeoutMs) {
    int ready = WaitSocket(sock, POLLOUT, Deadline(timeoutMs));
    if (ready < 0)
        return errno ? errno : EIO;
    if (ready == 0)
        return ETIMEDOUT;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

}  // namespace

extern "C" {

int YAR_WSAStartup(void) {
    yar::internal::SetSocketsStarted(true);
    return 0;
}

int YAR_WSACleanup(void) {
    yar::internal::SetSocketsStarted(false);
    return 0;
}

int YAR_CreateSocket(int family, int type, int protocol) {
    int resolved = YAR_ResolveFamily(family);
    int sysFamily = yar::internal::SystemFamily(resolved);
    int sock = socket(sysFamily, type | SOCK_CLOEXEC, protocol);
    if (sock < 0)
        return FailSocket(-1);
    if (resolved == YAR_AF_DUAL) {
        int v6only = 0;
        socklen_t len = sizeof v6only;
        if (getsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &len) == 0 && v6only) {
            int off = 0;
            int ret = setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            std::printf("set IPV6_V6ONLY ret[%d]\n", ret);
        }
    }
    return sock;
}

int YAR_CloseSocket(int sock, int) {
    // Operations waiting on this socket complete with 995 before the descriptor can be reused,
    // and before the shutdown could end them as a closed stream.
    yar::internal::CancelSocketIo(sock);
    // A thread blocked in a receive on this socket is woken only by a shutdown, not by close.
    // Unconnected sockets answer ENOTCONN, which does not matter here.
    shutdown(sock, SHUT_RDWR);
    if (close(sock) != 0)
        return FailSocket(sock);
    return 0;
}

int YAR_ShutDown(int sock, int how) {
    return shutdown(sock, how) == 0 ? 0 : FailSocket(sock);
}

int YAR_Bind(int sock, const YAR_ADDR_T *addr) {
    if (!addr)
        return -1;
    SockAddr sa;
    if (!ToSystemAddr(sock, addr, &sa))
        return -1;
    return bind(sock, sa.get(), sa.len) == 0 ? 0 : FailSocket(sock);
}

int YAR_Listen(int sock, int backlog) {
    return listen(sock, backlog) == 0 ? 0 : FailSocket(sock);
}

int YAR_Accept(int sock, YAR_ADDR_T *addr, uint32_t timeoutMs) {
    if (timeoutMs != YAR_INFINITE_TIMEOUT) {
        int ready = WaitSocket(sock, POLLIN, Deadline(timeoutMs));
        if (ready == 0)
            yar::internal::SetSocketError(sock, ETIMEDOUT);
        if (ready <= 0)
            return -1;
    }
    SockAddr sa;
    sa.len = sizeof sa.storage;
    int conn = yar::internal::RetryOnEintr([&] { return accept4(sock, sa.get(), &sa.len, SOCK_CLOEXEC); });
    if (conn < 0)
        return FailSocket(sock);
    if (addr)
        yar::internal::FromSockAddr(sa.get(), sa.len, addr);
    return conn;
}

int YAR_ConnectWithTimeOut(int sock, const YAR_ADDR_T *addr, uint32_t timeoutMs) {
    if (!addr)
        return -1;
    SockAddr sa;
    if (!ToSystemAddr(sock, addr, &sa))
        return -1;
    int err;
    if (timeoutMs == YAR_INFINITE_TIMEOUT) {
        err = connect(sock, sa.get(), sa.len) == 0 ? 0 : errno;
        // A signal ends the call but not the connection, which goes on in the background.
        if (err == EINTR)
            err = AwaitConnect(sock, timeoutMs);
    } else {
        int flags = fcntl(sock, F_GETFL);
        if (flags < 0 || SetBlocking(sock, flags | O_NONBLOCK) != 0)
            return FailSocket(sock);
        err = connect(sock, sa.get(), sa.len) == 0 ? 0 : errno;
        if (err == EINPROGRESS)
            err = AwaitConnect(sock, timeoutMs);
        SetBlocking(sock, flags);
    }
    if (err == 0)
        return 0;
    yar::internal::SetSocketError(sock, err);
    return -1;
}

int YAR_SetNonBlock(int sock, int on) {
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0)
        return FailSocket(sock);
    flags = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return SetBlocking(sock, flags) == 0 ? 0 : FailSocket(sock);
}

int YAR_IoCtl(int sock, unsigned long cmd, void *arg) {
    return ioctl(sock, cmd, arg) == 0 ? 0 : FailSocket(sock);
}

int YAR_SetReuseAddr(int sock, int on) {
    return SetFlag(sock, SOL_SOCKET, SO_REUSEADDR, on);
}

int YAR_SetBroadcast(int sock) {
    return SetFlag(sock, SOL_SOCKET, SO_BROADCAST, 1);
}

int YAR_SetKeepAlive(int sock, int on) {
    SetFlag(sock, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
    return 0;
}

int YAR_SetNoDelay(int sock, int on) {
    return SetFlag(sock, IPPROTO_TCP, TCP_NODELAY, on);
}

int YAR_LingerOn(int sock, int seconds) {
    linger l{1, seconds};
    return setsockopt(sock, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : FailSocket(sock);
}

int YAR_LingerOff(int sock) {
    linger l{0, 0};
    return setsockopt(sock, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : FailSocket(sock);
}

}  // extern "C"

namespace {

int SetTimeOption(int sock, int option, uint32_t ms) {
    timeval tv{time_t(ms / 1000), suseconds_t(ms % 1000) * 1000};
    return setsockopt(sock, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : FailSocket(sock);
}

int GetIntOption(int sock, int level, int option, int *value) {
    if (!value)
        return -1;
    socklen_t len = sizeof *value;
    return getsockopt(sock, level, option, value, &len) == 0 ? 0 : FailSocket(sock);
}

}  // namespace

extern "C" {

int YAR_SetTimeOut(int sock, uint32_t sendMs, uint32_t recvMs) {
    int failed = 0;
    if (recvMs)
        failed |= SetTimeOption(sock, SO_RCVTIMEO, recvMs);
    if (sendMs)
        failed |= SetTimeOption(sock, SO_SNDTIMEO, sendMs);
    return failed ? -1 : 0;
}

int YAR_SetBuffSize(int sock, int sendSize, int recvSize) {
    int failed = 0;
    if (recvSize)
        failed |= SetFlag(sock, SOL_SOCKET, SO_RCVBUF, recvSize);
    if (sendSize)
        failed |= SetFlag(sock, SOL_SOCKET, SO_SNDBUF, sendSize);
    return failed ? -1 : 0;
}

int YAR_GetBuffSize(int sock, int *sendSize, int *recvSize) {
    int failed = 0;
    if (recvSize)
        failed |= GetIntOption(sock, SOL_SOCKET, SO_RCVBUF, recvSize);
    if (sendSize)
        failed |= GetIntOption(sock, SOL_SOCKET, SO_SNDBUF, sendSize);
    return failed ? -1 : 0;
}

int YAR_SetTTL(int sock, int ttl) { return SetFlag(sock, IPPROTO_IP, IP_TTL, ttl); }
int YAR_GetTTL(int sock, int *ttl) { return GetIntOption(sock, IPPROTO_IP, IP_TTL, ttl); }
int YAR_SetTTL6(int sock, int hops) { return SetFlag(sock, IPPROTO_IPV6, IPV6_UNICAST_HOPS, hops); }
int YAR_GetTTL6(int sock, int *hops) { return GetIntOption(sock, IPPROTO_IPV6, IPV6_UNICAST_HOPS, hops); }
int YAR_SetTOS(int sock, int tos) { return SetFlag(sock, IPPROTO_IP, IP_TOS, tos); }
int YAR_GetTOS(int sock, int *tos) { return GetIntOption(sock, IPPROTO_IP, IP_TOS, tos); }
int YAR_SetMultiCastTTL(int sock, int ttl) { return SetFlag(sock, IPPROTO_IP, IP_MULTICAST_TTL, ttl); }
int YAR_SetMultiCastTTL6(int sock, int hops) { return SetFlag(sock, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, hops); }
int YAR_SetMultiCastHops6(int sock, int hops) { return YAR_SetMultiCastTTL6(sock, hops); }
int YAR_SetMultiCastLoop6(int sock, int on) { return SetFlag(sock, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, on); }

}  // extern "C"
