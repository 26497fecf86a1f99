// The peer and the clients of the echo benchmarks: a plain edge-triggered epoll echo loop, and
// epoll clients with one message in flight per connection that time every round trip.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "yar/yar_socket.h"

namespace echobench {

using Clock = std::chrono::steady_clock;
constexpr int kBufSize = 16384;

inline void RaiseFdLimit() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
}

inline void NoDelay(int sock) {
    int one = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

// A loopback listener; Connect makes a client socket towards it, Accept takes the next
// connection.
struct Listener {
    int fd;
    sockaddr_in addr{};
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        bind(fd, reinterpret_cast<sockaddr *>(&addr), len);
        listen(fd, 4096);
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    }
    ~Listener() { close(fd); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    int Port() const { return ntohs(addr.sin_port); }
    int Connect() const {
        int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(c, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr));
        NoDelay(c);
        return c;
    }
    int Accept() const {
        int s = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        NoDelay(s);
        return s;
    }
};

// Connected pairs over loopback: clients[i] talks to servers[i].
inline void MakePairs(int count, std::vector<int> &clients, std::vector<int> &servers) {
    Listener l;
    for (int i = 0; i < count; ++i) {
        clients.push_back(l.Connect());
        servers.push_back(l.Accept());
    }
}

// ---- The plain loop: one thread, edge-triggered, reads until EAGAIN, writes back at once ----

class PlainEchoServer {
public:
    explicit PlainEchoServer(const std::vector<int> &socks) : conns_(socks.size()) {
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        stop_ = eventfd(0, EFD_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = UINT32_MAX;
        epoll_ctl(ep_, EPOLL_CTL_ADD, stop_, &ev);
        for (size_t i = 0; i < socks.size(); ++i) {
            conns_[i].sock = socks[i];
            YAR_SetNonBlock(socks[i], 1);
            ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
            ev.data.u32 = static_cast<uint32_t>(i);
            epoll_ctl(ep_, EPOLL_CTL_ADD, socks[i], &ev);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~PlainEchoServer() {
        uint64_t one = 1;
        (void)!write(stop_, &one, sizeof(one));
        thread_.join();
        close(ep_);
        close(stop_);
    }

private:
    struct Conn {
        int sock = -1;
        std::string pending;  // bytes the socket would not take yet
    };

    void Flush(Conn &c) {
        while (!c.pending.empty()) {
            ssize_t n = send(c.sock, c.pending.data(), c.pending.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            c.pending.erase(0, static_cast<size_t>(n));
        }
    }

    void Run() {
        epoll_event events[256];
        char buf[kBufSize];
        for (;;) {
            int n = epoll_wait(ep_, events, 256, -1);
            for (int i = 0; i < n; ++i) {
                if (events[i].data.u32 == UINT32_MAX)
                    return;
                Conn &c = conns_[events[i].data.u32];
                if (events[i].events & EPOLLOUT)
                    Flush(c);
                if (!(events[i].events & EPOLLIN))
                    continue;
                for (;;) {
                    ssize_t got = recv(c.sock, buf, sizeof(buf), 0);
                    if (got <= 0)
                        break;
                    ssize_t sent = c.pending.empty() ? send(c.sock, buf, got, MSG_NOSIGNAL) : 0;
                    if (sent < 0)
                        sent = 0;
                    c.pending.append(buf + sent, static_cast<size_t>(got - sent));
                }
            }
        }
    }

    std::vector<Conn> conns_;
    int ep_ = -1;
    int stop_ = -1;
    std::thread thread_;
};

// ---- Clients: one message in flight per connection, every round trip timed ----

struct ClientResult {
    int64_t messages = 0;
    std::vector<uint32_t> latencyNs;
};

inline void SendAll(int sock, const char *data, size_t len) {
    while (len > 0) {
        ssize_t n = send(sock, data, len, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            len -= static_cast<size_t>(n);
        } else if (errno == EAGAIN) {
            pollfd p{sock, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

inline void RunClients(const std::vector<int> &socks, size_t size, Clock::time_point end, ClientResult &out) {
    int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<char> msg(size, 'x');
    std::vector<size_t> got(socks.size(), 0);
    std::vector<Clock::time_point> sentAt(socks.size());
    for (size_t i = 0; i < socks.size(); ++i) {
        YAR_SetNonBlock(socks[i], 1);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(ep, EPOLL_CTL_ADD, socks[i], &ev);
        sentAt[i] = Clock::now();
        SendAll(socks[i], msg.data(), size);
    }
    char buf[kBufSize];
    epoll_event events[256];
    while (Clock::now() < end) {
        int n = epoll_wait(ep, events, 256, 50);
        for (int k = 0; k < n; ++k) {
            uint32_t i = events[k].data.u32;
            ssize_t r;
            while ((r = recv(socks[i], buf, sizeof(buf), 0)) > 0)
                got[i] += static_cast<size_t>(r);
            if (got[i] < size)
                continue;
            Clock::time_point now = Clock::now();
            out.latencyNs.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - sentAt[i]).count()));
            ++out.messages;
            got[i] = 0;
            sentAt[i] = now;
            SendAll(socks[i], msg.data(), size);
        }
    }
    close(ep);
}

// Drives the clients (one thread, four from 100 connections on) for the run time; every round
// trip of every connection, sorted.
inline ClientResult DriveClients(const std::vector<int> &clients, size_t size, Clock::duration runTime) {
    const int threads = clients.size() < 100 ? 1 : 4;
    std::vector<std::vector<int>> parts(threads);
    for (size_t i = 0; i < clients.size(); ++i)
        parts[i % threads].push_back(clients[i]);
    std::vector<ClientResult> results(threads);
    const Clock::time_point end = Clock::now() + runTime;
    std::vector<std::thread> drivers;
    for (int t = 0; t < threads; ++t)
        drivers.emplace_back(RunClients, std::cref(parts[t]), size, end, std::ref(results[t]));
    for (std::thread &d : drivers)
        d.join();
    ClientResult total;
    for (ClientResult &r : results) {
        total.messages += r.messages;
        total.latencyNs.insert(total.latencyNs.end(), r.latencyNs.begin(), r.latencyNs.end());
    }
    std::sort(total.latencyNs.begin(), total.latencyNs.end());
    return total;
}

inline double PercentileUs(const std::vector<uint32_t> &sortedNs, int percent) {
    return sortedNs.empty() ? 0 : sortedNs[sortedNs.size() * percent / 100] / 1000.0;
}

}  // namespace echobench
