// Server links against plain loops in the same run, on loopback:
//  accept  4 client threads connect, send 64 B, read the echo, close. The TCP server link echoes
//          from its callback (pool of 64); the peer is a single-threaded edge-triggered epoll loop.
//  long    1000 clients stay connected and ping-pong 64 B for some seconds (pool of 1100: one
//          worker a connection), against the same epoll loop; round trips per second, and the
//          process's RSS and threads per connection once every client has had its first echo.
//  udp     one sender blasts datagrams of 64 B and 1400 B; delivered per second to the UDP server
//          link's callback against a blocking recvfrom loop; then the sender paces at 80 % of
//          the loop's rate and the share the link delivered is counted.
//  rqs     the same for the RQS server link (kind 22).
// Usage: server_link_bench [connections per client thread] [datagrams] [long-lived seconds]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <dirent.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaServerLink.h"

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    return a;
}

int BoundSocket(int type, int *pPort) {
    int fd = socket(AF_INET, type, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a = Loopback(0);
    bind(fd, (sockaddr *)&a, sizeof(a));
    socklen_t n = sizeof(a);
    getsockname(fd, (sockaddr *)&a, &n);
    *pPort = ntohs(a.sin_port);
    return fd;
}

int FreePort(int type) {
    int port;
    close(BoundSocket(type, &port));
    return port;
}

struct AcceptResult {
    double connPerSec;
    double p99Us;
};

AcceptResult RunClients(int port, int perThread) {
    std::vector<std::vector<double>> lat(4);
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            char buf[64];
            std::memset(buf, 'e', sizeof(buf));
            for (int i = 0; i < perThread; i++) {
                auto t0 = Clock::now();
                int fd = socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a = Loopback(port);
                if (connect(fd, (sockaddr *)&a, sizeof(a)) != 0) {
                    close(fd);
                    continue;
                }
                send(fd, buf, sizeof(buf), MSG_NOSIGNAL);
                size_t got = 0;
                while (got < sizeof(buf)) {
                    ssize_t n = recv(fd, buf, sizeof(buf) - got, 0);
                    if (n <= 0)
                        break;
                    got += (size_t)n;
                }
                close(fd);
                lat[t].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    for (auto &th : threads)
        th.join();
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (auto &v : lat)
        all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    return {all.size() / secs, all.empty() ? 0 : all[all.size() * 99 / 100]};
}

// A single-threaded edge-triggered epoll accept-and-echo loop.
class EpollEcho {
public:
    EpollEcho() {
        m_lfd = BoundSocket(SOCK_STREAM | SOCK_NONBLOCK, &m_port);
        listen(m_lfd, 4096);
        m_ep = epoll_create1(0);
        epoll_event ev{EPOLLIN | EPOLLET, {}};
        ev.data.fd = m_lfd;
        epoll_ctl(m_ep, EPOLL_CTL_ADD, m_lfd, &ev);
        m_loop = std::thread([this] { Loop(); });
    }
    ~EpollEcho() {
        m_stop = true;
        m_loop.join();
        close(m_ep);
        close(m_lfd);
    }
    int Port() const { return m_port; }

private:
    void Loop() {
        epoll_event evs[256];
        char buf[4096];
        while (!m_stop) {
            int n = epoll_wait(m_ep, evs, 256, 50);
            for (int i = 0; i < n; i++) {
                int fd = evs[i].data.fd;
                if (fd == m_lfd) {
                    int c;
                    while ((c = accept4(m_lfd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                        epoll_event ce{EPOLLIN | EPOLLET, {}};
                        ce.data.fd = c;
                        epoll_ctl(m_ep, EPOLL_CTL_ADD, c, &ce);
                    }
                    continue;
                }
                for (;;) {
                    ssize_t r = recv(fd, buf, sizeof(buf), 0);
                    if (r > 0) {
                        send(fd, buf, (size_t)r, MSG_NOSIGNAL);
                        continue;
                    }
                    if (r == 0 || errno != EAGAIN)
                        close(fd);
                    break;
                }
            }
        }
    }
    int m_lfd = -1, m_ep = -1, m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_loop;
};

int EchoFromCallback(void *pUser, SERVER_LINK_DATA *p) {
    if (p->dwMsgType == SERVER_LINK_MSG_DATA && p->iStatus == 0 && p->dwDataLen) {
        SERVER_LINK_SEND_PARAM s;
        std::memset(&s, 0, sizeof(s));
        s.pData = p->pData;
        s.dwDataLen = p->dwDataLen;
        s.iSocket = p->iSocket;
        Morva_ServerLinkSendData(*static_cast<int *>(pUser), &s);
    }
    return 1;
}

// A TCP server link that echoes from its callback.
class LinkEcho {
public:
    LinkEcho() {
        SERVER_LINK_COND c;
        std::memset(&c, 0, sizeof(c));
        c.pLocalIP = "127.0.0.1";
        c.wLocalPort = (WORD)FreePort(SOCK_STREAM);
        c.byProType = SERVER_LINK_PRO_TCP;
        c.fnDataCallBack = EchoFromCallback;
        c.pUserData = &m_handle;
        m_handle = Morva_CreateServerLink(&c);
        if (m_handle < 0) {
            std::fprintf(stderr, "server link failed\n");
            std::exit(1);
        }
        m_port = c.wLocalPort;
    }
    ~LinkEcho() { Morva_DestroyServerLink(m_handle); }
    int Port() const { return m_port; }

private:
    int m_handle = -1;
    int m_port = 0;
};

// Runs the same clients against the server link's echo, then against the epoll loop.
template <class Run>
auto AgainstBoth(const Run &run) {
    decltype(run(0)) link, epoll;
    {
        LinkEcho echo;
        link = run(echo.Port());
    }
    {
        EpollEcho echo;
        epoll = run(echo.Port());
    }
    return std::make_pair(link, epoll);
}

// ---- long-lived clients ----

size_t CountEntries(const char *pDir) {
    size_t n = 0;
    if (DIR *d = opendir(pDir)) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

long RssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

struct LongLivedResult {
    double roundTripsPerSec;
    double rssKiBPerConn;
    double threadsPerConn;
};

// kClients connections that each had one echo, then ping-pong 64 B for the given seconds on 4
// epoll threads of the client side.
LongLivedResult PingPong(int port, int seconds) {
    constexpr int kClients = 1000, kThreads = 4;
    const long rssBefore = RssKiB();
    const size_t threadsBefore = CountEntries("/proc/self/task");
    std::vector<int> fds;
    char buf[64];
    std::memset(buf, 'p', sizeof(buf));
    for (int i = 0; i < kClients; i++) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(port);
        if (connect(fd, (sockaddr *)&a, sizeof(a)) != 0 || send(fd, buf, sizeof(buf), MSG_NOSIGNAL) != 64 ||
            recv(fd, buf, sizeof(buf), MSG_WAITALL) != 64) {
            std::fprintf(stderr, "long-lived client %d failed\n", i);
            std::exit(1);
        }
        fds.push_back(fd);
    }
    LongLivedResult r{};
    r.rssKiBPerConn = double(RssKiB() - rssBefore) / kClients;
    r.threadsPerConn = double(CountEntries("/proc/self/task") - threadsBefore) / kClients;
    std::atomic<uint64_t> trips{0};
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            int ep = epoll_create1(0);
            std::vector<size_t> got(fds.size(), 0);
            char in[64];
            for (size_t i = (size_t)t; i < fds.size(); i += kThreads) {
                epoll_event ev{EPOLLIN, {}};
                ev.data.u64 = i;
                epoll_ctl(ep, EPOLL_CTL_ADD, fds[i], &ev);
                send(fds[i], buf, sizeof(buf), MSG_NOSIGNAL);
            }
            uint64_t mine = 0;
            epoll_event evs[256];
            while (Clock::now() < end) {
                const int n = epoll_wait(ep, evs, 256, 20);
                for (int k = 0; k < n; k++) {
                    const size_t i = evs[k].data.u64;
                    const ssize_t len = recv(fds[i], in, sizeof(in) - got[i], MSG_DONTWAIT);
                    if (len <= 0)
                        continue;
                    got[i] += (size_t)len;
                    if (got[i] == sizeof(in)) {
                        got[i] = 0;
                        mine++;
                        send(fds[i], buf, sizeof(buf), MSG_NOSIGNAL);
                    }
                }
            }
            trips += mine;
            close(ep);
        });
    for (auto &th : threads)
        th.join();
    for (int fd : fds)
        close(fd);
    r.roundTripsPerSec = double(trips.load()) / seconds;
    return r;
}

// Thousands of descriptors: the soft limit goes up to the hard one.
void RaiseFileLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

int InitWithPool(DWORD dwThreads) {
    DWORD counts[5] = {0, 0, dwThreads, 0, 0};
    Morva_SetInitConfig(3, counts);
    return Morva_Init();
}

std::atomic<uint64_t> g_delivered{0};
int CountDatagram(void *, SERVER_LINK_DATA *) {
    g_delivered++;
    return 1;
}

// Sends n datagrams of the size as fast as possible; the receiver's count per second of the
// sender's time and the share received.
void Blast(int port, int size, int n, const std::atomic<uint64_t> &received, double *pPerSec, double *pShare) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    std::vector<char> buf((size_t)size, 'u');
    sockaddr_in a = Loopback(port);
    uint64_t before = received.load();
    auto t0 = Clock::now();
    for (int i = 0; i < n; i++)
        sendto(fd, buf.data(), buf.size(), 0, (sockaddr *)&a, sizeof(a));
    // Until everything arrived or nothing more arrives for 100 ms; timed to the last arrival.
    uint64_t last = received.load() - before;
    auto lastChange = Clock::now();
    while (last < (uint64_t)n && Clock::now() - lastChange < std::chrono::milliseconds(100)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        uint64_t now = received.load() - before;
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    double secs = std::chrono::duration<double>(lastChange - t0).count();
    *pPerSec = last / secs;
    *pShare = (double)last / n;
    close(fd);
}

// Sends n datagrams of the size at the given rate; the share the receiver got.
double Paced(int port, int size, int n, double perSec, const std::atomic<uint64_t> &received) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    std::vector<char> buf((size_t)size, 'v');
    sockaddr_in a = Loopback(port);
    const uint64_t before = received.load();
    const auto t0 = Clock::now();
    for (int i = 0; i < n; i++) {
        const auto due = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(i / perSec));
        while (Clock::now() < due) {
        }
        sendto(fd, buf.data(), buf.size(), 0, (sockaddr *)&a, sizeof(a));
    }
    uint64_t last = received.load() - before;
    auto lastChange = Clock::now();
    while (last < (uint64_t)n && Clock::now() - lastChange < std::chrono::milliseconds(200)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint64_t now = received.load() - before;
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    close(fd);
    return (double)last / n;
}

void DatagramCompare(BYTE byProType, const char *pName, int n) {
    for (int size : {64, 1400}) {
        std::atomic<uint64_t> plain{0};
        int port;
        int fd = BoundSocket(SOCK_DGRAM, &port);
        int big = 8 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
        std::atomic<bool> stop{false};
        std::thread rx([&] {
            char buf[32768];
            timeval tv{0, 100000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
            while (!stop)
                if (recvfrom(fd, buf, sizeof(buf), 0, nullptr, nullptr) > 0)
                    plain++;
        });
        double plainRate, plainShare;
        Blast(port, size, n, plain, &plainRate, &plainShare);
        stop = true;
        rx.join();
        close(fd);

        SERVER_LINK_COND c;
        std::memset(&c, 0, sizeof(c));
        c.pLocalIP = "127.0.0.1";
        c.wLocalPort = (WORD)FreePort(SOCK_DGRAM);
        c.byProType = byProType;
        c.dwRecvMult = 8 << 20;
        c.fnDataCallBack = CountDatagram;
        int h = Morva_CreateServerLink(&c);
        double linkRate, linkShare;
        Blast(c.wLocalPort, size, n, g_delivered, &linkRate, &linkShare);
        const double pacedShare = Paced(c.wLocalPort, size, n, plainRate * 0.8, g_delivered);
        Morva_DestroyServerLink(h);
        std::printf("%s %4d B: server link %.0f/s (%.1f%% delivered), recvfrom loop %.0f/s (%.1f%%), ratio %.2fx; "
                    "paced at %.0f/s: %.2f%% delivered\n",
                    pName, size, linkRate, linkShare * 100, plainRate, plainShare * 100, linkRate / plainRate,
                    plainRate * 0.8, pacedShare * 100);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const int perThread = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int datagrams = argc > 2 ? std::atoi(argv[2]) : 200000;
    const int longSeconds = argc > 3 ? std::atoi(argv[3]) : 5;
    RaiseFileLimit();
    if (InitWithPool(64) != 1)
        return 1;
    const auto [link, epoll] = AgainstBoth([&](int port) { return RunClients(port, perThread); });
    std::printf("accept: server link %.0f conn/s p99 %.0f us, epoll loop %.0f conn/s p99 %.0f us, ratio %.2fx, p99 %.2fx\n",
                link.connPerSec, link.p99Us, epoll.connPerSec, epoll.p99Us, link.connPerSec / epoll.connPerSec,
                link.p99Us / epoll.p99Us);
    DatagramCompare(SERVER_LINK_PRO_UDP, "udp", datagrams);
    DatagramCompare(SERVER_LINK_PRO_RQS, "rqs", datagrams);
    Morva_Fini();

    if (InitWithPool(1100) != 1)
        return 1;
    const auto [longLink, longEpoll] = AgainstBoth([&](int port) { return PingPong(port, longSeconds); });
    std::printf("long-lived 1000: server link %.0f round trips/s (%.1f KiB RSS, %.2f threads per connection), "
                "epoll loop %.0f/s (%.1f KiB, %.2f threads), ratio %.2fx\n",
                longLink.roundTripsPerSec, longLink.rssKiBPerConn, longLink.threadsPerConn, longEpoll.roundTripsPerSec,
                longEpoll.rssKiBPerConn, longEpoll.threadsPerConn, longLink.roundTripsPerSec / longEpoll.roundTripsPerSec);
    Morva_Fini();
    return 0;
}
