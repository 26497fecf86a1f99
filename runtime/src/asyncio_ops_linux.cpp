// One non-blocking try of each operation, on Linux socket calls.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "internal/asyncio_queue.h"
#include "internal/retry_eintr.h"
#include "internal/sockaddr.h"
#include "internal/socket_util.h"
#include "yar/yar_error.h"

namespace yar::internal {

namespace {

// Would block: wait for readiness. Otherwise the error becomes the result, in the Windows
// numbering callers compare.
Outcome FromErrno(IoRecord &rec, int err) {
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS)
        return Outcome::Again;
    SetSocketError(rec.sock, err);
    rec.error = YAR_GetSystemLastError();
    rec.bytes = 0;
    return Outcome::Failed;
}

Outcome Finish(IoRecord &rec, ssize_t bytes) {
    rec.error = 0;
    rec.bytes = static_cast<int32_t>(bytes);
    return Outcome::Done;
}

Outcome TrySend(IoRecord &rec) {
    while (rec.transferred < rec.length) {
        ssize_t n = RetryOnEintr([&] {
            return send(rec.sock, rec.data + rec.transferred, rec.length - rec.transferred, MSG_NOSIGNAL);
        });
        if (n < 0)
            return FromErrno(rec, errno);
        rec.transferred += static_cast<int32_t>(n);
    }
    return Finish(rec, rec.length);
}

Outcome TrySendTo(IoRecord &rec) {
    SockAddr to;
    if (!ToSockAddr(rec.addr, &to))
        return FromErrno(rec, EAFNOSUPPORT);
    ssize_t n = RetryOnEintr([&] { return sendto(rec.sock, rec.data, rec.length, MSG_NOSIGNAL, to.get(), to.len); });
    return n < 0 ? FromErrno(rec, errno) : Finish(rec, n);
}

Outcome TryRecv(IoRecord &rec) {
    ssize_t n = RetryOnEintr([&] { return recv(rec.sock, rec.buffer, rec.length, 0); });
    return n < 0 ? FromErrno(rec, errno) : Finish(rec, n);
}

Outcome TryRecvFrom(IoRecord &rec) {
    SockAddr from;
    from.len = sizeof(from.storage);
    ssize_t n = RetryOnEintr([&] { return recvfrom(rec.sock, rec.buffer, rec.length, 0, from.get(), &from.len); });
    if (n < 0)
        return FromErrno(rec, errno);
    if (rec.fromOut)
        FromSockAddr(from.get(), from.len, rec.fromOut);
    return Finish(rec, n);
}

Outcome TryConnect(IoRecord &rec) {
    if (!rec.started) {
        rec.started = true;
        SockAddr to;
        if (!ToSockAddr(rec.addr, &to))
            return FromErrno(rec, EAFNOSUPPORT);
        if (connect(rec.sock, to.get(), to.len) == 0)
            return Finish(rec, 0);
        // An interrupted connect goes on in the background, like one in progress.
        return FromErrno(rec, errno == EINTR ? EINPROGRESS : errno);
    }
    pollfd pfd{rec.sock, POLLOUT, 0};
    if (poll(&pfd, 1, 0) <= 0)
        return Outcome::Again;
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(rec.sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    return err ? FromErrno(rec, err) : Finish(rec, 0);
}

// The connection takes the caller's socket number; a bound accept socket is registered again,
// since its old registration went with the file that dup3 replaced.
void Rebind(IoModule &module, int sock) {
    FdState *state = module.fds.Find(sock);
    if (!state)
        return;
    std::lock_guard<std::mutex> guard(state->lock);
    if (!state->queue)
        return;
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    epoll_event event{};
    event.events = kSocketEvents;
    event.data.u64 = EventKey(state->generation, sock);
    epoll_ctl(state->queue->EpollFd(), EPOLL_CTL_ADD, sock, &event);
}

Outcome TryAccept(IoModule &module, IoRecord &rec) {
    SockAddr peer;
    int conn;
    do {
        peer.len = sizeof(peer.storage);
        conn = accept4(rec.sock, peer.get(), &peer.len, SOCK_CLOEXEC);
        // A connection reset before it was taken is skipped, as the system would.
    } while (conn < 0 && (errno == EINTR || errno == ECONNABORTED));
    if (conn < 0)
        return FromErrno(rec, errno);
    int moved = dup3(conn, rec.acceptSock, O_CLOEXEC);
    int err = errno;
    close(conn);
    if (moved < 0)
        return FromErrno(rec, err);
    SockAddr local;
    local.len = sizeof(local.storage);
    YAR_ADDR_T addrs[2] = {};
    if (getsockname(rec.acceptSock, local.get(), &local.len) == 0)
        FromSockAddr(local.get(), local.len, &addrs[0]);
    FromSockAddr(peer.get(), peer.len, &addrs[1]);
    char *out = static_cast<char *>(rec.acceptOutput);
    std::memcpy(out, &addrs[0], sizeof(YAR_ADDR_T));
    std::memcpy(out + YAR_ASYNCIO_ACCEPT_OUTPUT / 2, &addrs[1], sizeof(YAR_ADDR_T));
    Rebind(module, rec.acceptSock);
    return Finish(rec, rec.acceptSock);
}

}  // namespace

Outcome Attempt(IoModule &module, IoRecord &rec) {
    switch (rec.type) {
    case YAR_ASYNCIO_SEND: return TrySend(rec);
    case YAR_ASYNCIO_SENDTO: return TrySendTo(rec);
    case YAR_ASYNCIO_RECV: return TryRecv(rec);
    case YAR_ASYNCIO_RECVFROM: return TryRecvFrom(rec);
    case YAR_ASYNCIO_CONNECT: return TryConnect(rec);
    case YAR_ASYNCIO_ACCEPT: return TryAccept(module, rec);
    default: return Finish(rec, rec.bytes);
    }
}

}  // namespace yar::internal
