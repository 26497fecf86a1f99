// Server links against plain loops in the same run, on loopback:
//  accept  4 client threads connect, send 64 B, read the echo, close. The TCP server link echoes
//          from its callback (pool of 64); the peer is a single-threaded edge-triggered epoll loop.
//  udp     one sender blasts datagrams of 64 B and 1400 B; delivered per second to the UDP server
//          link's callback against a blocking recvfrom loop.
//  rqs     the same for the RQS server link (kind 22).
// Usage: server_link_bench [connections per client thread] [datagrams]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
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

AcceptResult EpollPeer(int perThread) {
    int port;
    int lfd = BoundSocket(SOCK_STREAM | SOCK_NONBLOCK, &port);
    listen(lfd, 4096);
    int ep = epoll_create1(0);
    epoll_event ev{EPOLLIN | EPOLLET, {}};
    ev.data.fd = lfd;
    epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        epoll_event evs[256];
        char buf[4096];
        while (!stop) {
            int n = epoll_wait(ep, evs, 256, 50);
            for (int i = 0; i < n; i++) {
                int fd = evs[i].data.fd;
                if (fd == lfd) {
                    int c;
                    while ((c = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                        epoll_event ce{EPOLLIN | EPOLLET, {}};
                        ce.data.fd = c;
                        epoll_ctl(ep, EPOLL_CTL_ADD, c, &ce);
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
    });
    AcceptResult r = RunClients(port, perThread);
    stop = true;
    loop.join();
    close(ep);
    close(lfd);
    return r;
}

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

AcceptResult ServerLinkEcho(int perThread) {
    static int hLink = -1;
    SERVER_LINK_COND c;
    std::memset(&c, 0, sizeof(c));
    c.pLocalIP = "127.0.0.1";
    c.wLocalPort = (WORD)FreePort(SOCK_STREAM);
    c.byProType = SERVER_LINK_PRO_TCP;
    c.fnDataCallBack = EchoFromCallback;
    c.pUserData = &hLink;
    hLink = Morva_CreateServerLink(&c);
    if (hLink < 0) {
        std::fprintf(stderr, "server link failed\n");
        std::exit(1);
    }
    AcceptResult r = RunClients(c.wLocalPort, perThread);
    Morva_DestroyServerLink(hLink);
    return r;
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
        Morva_DestroyServerLink(h);
        std::printf("%s %4d B: server link %.0f/s (%.1f%% delivered), recvfrom loop %.0f/s (%.1f%%), ratio %.2fx\n",
                    pName, size, linkRate, linkShare * 100, plainRate, plainShare * 100, linkRate / plainRate);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const int perThread = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int datagrams = argc > 2 ? std::atoi(argv[2]) : 200000;
    DWORD counts[5] = {0, 0, 64, 0, 0};
    Morva_SetInitConfig(3, counts);
    if (Morva_Init() != 1)
        return 1;
    AcceptResult link = ServerLinkEcho(perThread);
    AcceptResult epoll = EpollPeer(perThread);
    std::printf("accept: server link %.0f conn/s p99 %.0f us, epoll loop %.0f conn/s p99 %.0f us, ratio %.2fx, p99 %.2fx\n",
                link.connPerSec, link.p99Us, epoll.connPerSec, epoll.p99Us, link.connPerSec / epoll.connPerSec,
                link.p99Us / epoll.p99Us);
    DatagramCompare(SERVER_LINK_PRO_UDP, "udp", datagrams);
    DatagramCompare(SERVER_LINK_PRO_RQS, "rqs", datagrams);
    Morva_Fini();
    return 0;
}
