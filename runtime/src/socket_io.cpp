// Data transfer: single calls, the bounded send and receive loops, and select for callers.
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "internal/retry_eintr.h"
#include "internal/sockaddr.h"
#include "internal/socket_util.h"
#include "internal/syserr.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

using yar::internal::Deadline;
using yar::internal::FailSocket;
using yar::internal::RetryOnEintr;
using yar::internal::kSocketHungUp;
using yar::internal::WaitSocket;

namespace {

bool Retryable(ssize_t n) {
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

// A socket shut down for reading stays readable with nothing to read: waiting again would spin.
int ShutDown(int sock) {
    yar::internal::SetSocketError(sock, ESHUTDOWN);
    return -1;
}

int HighestDescriptor(const fd_set *r, const fd_set *w, const fd_set *e) {
    for (int fd = FD_SETSIZE - 1; fd >= 0; --fd)
        if ((r && FD_ISSET(fd, r)) || (w && FD_ISSET(fd, w)) || (e && FD_ISSET(fd, e)))
            return fd;
    return -1;
}

}  // namespace

extern "C" {

int YAR_Send(int sock, const void *data, int len) {
    ssize_t n = RetryOnEintr([&] { return send(sock, data, size_t(std::max(len, 0)), MSG_NOSIGNAL); });
    return n < 0 ? FailSocket(sock) : int(n);
}

int YAR_Recv(int sock, void *buf, int size) {
    ssize_t n = RetryOnEintr([&] { return recv(sock, buf, size_t(std::max(size, 0)), 0); });
    return n < 0 ? FailSocket(sock) : int(n);
}

int YAR_SendTo(int sock, const void *data, int len, const YAR_ADDR_T *addr) {
    yar::internal::SockAddr sa;
    if (addr && !yar::internal::ToSockAddr(*addr, &sa)) {
        yar::internal::SetSocketError(sock, EAFNOSUPPORT);
        return -1;
    }
    ssize_t n = RetryOnEintr([&] {
        return sendto(sock, data, size_t(std::max(len, 0)), MSG_NOSIGNAL, addr ? sa.get() : nullptr,
                      addr ? sa.len : 0);
    });
    return n < 0 ? FailSocket(sock) : int(n);
}

int YAR_RecvFrom(int sock, void *buf, int size, YAR_ADDR_T *from) {
    yar::internal::SockAddr sa;
    ssize_t n = RetryOnEintr([&] {
        sa.len = sizeof sa.storage;
        return recvfrom(sock, buf, size_t(std::max(size, 0)), 0, sa.get(), &sa.len);
    });
    if (n < 0)
        return FailSocket(sock);
    if (from)
        yar::internal::FromSockAddr(sa.get(), sa.len, from);
    return int(n);
}

// Each pass sends only what fits at once, so the time-out bounds the whole transfer.
int YAR_Sendn(int sock, const void *data, int len, uint32_t timeoutMs) {
    if (!data || len < 0)
        return -1;
    const char *p = static_cast<const char *>(data);
    Deadline deadline(timeoutMs);
    int sent = 0;
    bool waitFailed = false;
    while (sent < len) {
        int ready = WaitSocket(sock, POLLOUT, deadline);
        if (ready < 0) {
            waitFailed = true;
            break;
        }
        if (ready > 0) {
            ssize_t n = send(sock, p + sent, size_t(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += int(n);
            } else if (!Retryable(n)) {
                if (n < 0)
                    FailSocket(sock);
                break;
            }
        }
        if (deadline.Expired())
            break;
    }
    return sent == 0 && waitFailed ? -1 : sent;
}

int YAR_Recvn(int sock, void *buf, int len, uint32_t timeoutMs) {
    if (!buf || len < 0)
        return -1;
    char *p = static_cast<char *>(buf);
    Deadline deadline(timeoutMs);
    int got = 0;
    while (got < len) {
        int ready = WaitSocket(sock, POLLIN, deadline);
        if (ready < 0)
            return -1;
        if (ready > 0) {
            ssize_t n = recv(sock, p + got, size_t(len - got), MSG_DONTWAIT);
            if (n > 0) {
                got += int(n);
            } else if (!Retryable(n)) {
                if (n < 0)
                    FailSocket(sock);
                return -1;  // error or closed peer, also after partial data
            } else if (ready == kSocketHungUp) {
                return ShutDown(sock);
            }
        }
        if (deadline.Expired())
            break;
    }
    return got;
}

int YAR_RecvWithTimeOut(int sock, void *buf, int size, uint32_t timeoutMs) {
    Deadline deadline(timeoutMs);
    // The first try does not wait: under a burst a datagram is already queued, and waiting for
    // it first would cost one more system call for each.
    for (int ready = 0, tries = 0;; ++tries) {
        if (tries > 0 && (ready = WaitSocket(sock, POLLIN, deadline)) <= 0)
            return ready;
        ssize_t n = recv(sock, buf, size_t(std::max(size, 0)), MSG_DONTWAIT);
        if (n > 0)
            return int(n);
        if (!Retryable(n)) {
            if (n < 0)
                FailSocket(sock);
            return -1;
        }
        if (ready == kSocketHungUp)
            return ShutDown(sock);
    }
}

int YAR_Select(int count, fd_set *readSet, fd_set *writeSet, fd_set *errorSet, struct timeval *tv) {
    if (count < 0 || count > FD_SETSIZE) {
        YAR_SetSystemLastError(YAR_SYSERR_WSAEINVAL);
        return -1;
    }
    // Callers written for Windows may pass any count: the sets decide.
    int nfds = std::max(count, HighestDescriptor(readSet, writeSet, errorSet) + 1);
    // After a signal the sets are as they were and the kernel has left the time still to wait in
    // the copy, so the wait goes on with what is left.
    timeval copy{};
    if (tv)
        copy = *tv;
    int n = RetryOnEintr([&] { return select(nfds, readSet, writeSet, errorSet, tv ? &copy : nullptr); });
    if (n < 0)
        yar::internal::SetSystemErrorFromErrno(errno, yar::internal::ErrnoContext::Socket);
    return n;
}

// The time left is one number: many short waits cannot keep a whole second alive.
int YAR_SelectEx(int count, fd_set *readSet, fd_set *writeSet, fd_set *, struct timeval *tv) {
    if (!tv)
        return YAR_Select(count, readSet, writeSet, nullptr, nullptr);
    int64_t totalUs = int64_t(tv->tv_sec) * 1000000 + tv->tv_usec;
    int64_t start = yar::internal::MonotonicUs();
    int n = YAR_Select(count, readSet, writeSet, nullptr, tv);
    int64_t left = std::max<int64_t>(0, totalUs - (yar::internal::MonotonicUs() - start));
    tv->tv_sec = time_t(left / 1000000);
    tv->tv_usec = suseconds_t(left % 1000000);
    return n;
}

int YAR_FdIsSet(int sock, fd_set *set) {
    if (!set || sock < 0 || sock >= FD_SETSIZE)
        return 0;
    return FD_ISSET(sock, set) ? 1 : 0;
}

}  // extern "C"
