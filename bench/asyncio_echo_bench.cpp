// An echo server on the runtime's completion queue against a plain edge-triggered epoll echo loop,
// in the same run, over loopback: messages per second and the p99 round trip. Each connection
// has one message in flight; one client thread (four from 100 connections on) drives them and
// times every round trip.
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
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "yar/yar_asyncio.h"
#include "yar/yar_socket.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBufSize = 16384;
constexpr auto kRunTime = std::chrono::milliseconds(1000);

void RaiseFdLimit() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
}

// Connected pairs over loopback: clients[i] talks to servers[i].
void MakePairs(int count, std::vector<int> &clients, std::vector<int> &servers) {
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    bind(l, reinterpret_cast<sockaddr *>(&a), len);
    listen(l, 4096);
    getsockname(l, reinterpret_cast<sockaddr *>(&a), &len);
    int one = 1;
    for (int i = 0; i < count; ++i) {
        int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(c, reinterpret_cast<sockaddr *>(&a), sizeof(a));
        int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        clients.push_back(c);
        servers.push_back(s);
    }
    close(l);
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

// ---- The completion queue: receive, send the bytes back, receive again ----

struct QueueConn {
    int sock;
    char buf[kBufSize];
};

int32_t Sent(int32_t error, int32_t, void *user);

int32_t Received(int32_t error, int32_t bytes, void *user) {
    auto *c = static_cast<QueueConn *>(user);
    if (error == 0 && bytes > 0)
        YAR_AsyncIO_SendEx(c->sock, c->buf, bytes, c, Sent);
    return 0;
}

int32_t Sent(int32_t error, int32_t, void *user) {
    auto *c = static_cast<QueueConn *>(user);
    if (error == 0)
        YAR_AsyncIO_RecvEx(c->sock, c->buf, kBufSize, c, Received);
    return 0;
}

class QueueEchoServer {
public:
    QueueEchoServer(const std::vector<int> &socks, int workers) {
        YAR_AsyncIO_Init();
        YAR_AsyncIO_SetPreMem(YAR_ASYNCIO_PREMEM_COUNT, 1);
        queue_ = YAR_AsyncIO_CreateQueueEx_New(workers);
        for (int s : socks) {
            auto c = std::make_unique<QueueConn>();
            c->sock = s;
            YAR_AsyncIO_BindIOHandleToQueueEx(s, queue_);
            YAR_AsyncIO_RecvEx(s, c->buf, kBufSize, c.get(), Received);
            conns_.push_back(std::move(c));
        }
    }
    ~QueueEchoServer() {
        YAR_AsyncIO_DestroyQueueEx(queue_);  // ends the waiting receives and joins the workers
    }

private:
    YAR_IOQUEUE queue_ = nullptr;
    std::vector<std::unique_ptr<QueueConn>> conns_;
};

// ---- Clients: one message in flight per connection, every round trip timed ----

struct ClientResult {
    int64_t messages = 0;
    std::vector<uint32_t> latencyNs;
};

void SendAll(int sock, const char *data, size_t len) {
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

void RunClients(const std::vector<int> &socks, size_t size, Clock::time_point end, ClientResult &out) {
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

enum Server { kPlain = 0, kQueue1 = 1, kQueue4 = 2 };

void BM_Echo(benchmark::State &state) {
    const Server kind = static_cast<Server>(state.range(0));
    const int connections = static_cast<int>(state.range(1));
    const size_t size = static_cast<size_t>(state.range(2));
    RaiseFdLimit();
    for (auto _ : state) {
        std::vector<int> clients, servers;
        MakePairs(connections, clients, servers);
        ClientResult total;
        {
            std::unique_ptr<PlainEchoServer> plain;
            std::unique_ptr<QueueEchoServer> queue;
            if (kind == kPlain)
                plain = std::make_unique<PlainEchoServer>(servers);
            else
                queue = std::make_unique<QueueEchoServer>(servers, kind == kQueue1 ? 1 : 4);
            const int threads = connections == 1 ? 1 : 4;
            std::vector<std::vector<int>> parts(threads);
            for (size_t i = 0; i < clients.size(); ++i)
                parts[i % threads].push_back(clients[i]);
            std::vector<ClientResult> results(threads);
            const Clock::time_point end = Clock::now() + kRunTime;
            std::vector<std::thread> drivers;
            for (int t = 0; t < threads; ++t)
                drivers.emplace_back(RunClients, std::cref(parts[t]), size, end, std::ref(results[t]));
            for (std::thread &d : drivers)
                d.join();
            for (ClientResult &r : results) {
                total.messages += r.messages;
                total.latencyNs.insert(total.latencyNs.end(), r.latencyNs.begin(), r.latencyNs.end());
            }
            for (int s : servers)
                YAR_CloseSocket(s, 0);
        }
        for (int c : clients)
            close(c);
        std::sort(total.latencyNs.begin(), total.latencyNs.end());
        const double seconds = std::chrono::duration<double>(kRunTime).count();
        state.counters["msgs_per_s"] = static_cast<double>(total.messages) / seconds;
        state.counters["p99_us"] =
            total.latencyNs.empty() ? 0 : total.latencyNs[total.latencyNs.size() * 99 / 100] / 1000.0;
    }
}

void EchoArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"server", "conns", "bytes"});
    for (int conns : {1, 100, 1000})
        for (int bytes : {64, 16384})
            for (int server : {kPlain, kQueue1, kQueue4})
                b->Args({server, conns, bytes});
}

BENCHMARK(BM_Echo)->Apply(EchoArgs)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
