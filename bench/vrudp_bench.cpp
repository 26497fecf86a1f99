// The two ends of the reliable-UDP benchmark and of its TCP peer, run by bench/vrudp_bench.sh
// in its sender and receiver namespaces (run by hand, never by the tests).
//   vrudp_bench rudp-recv ADDR PORT BYTES SECONDS   server endpoint; checks and times one transfer
//   vrudp_bench rudp-send ADDR PORT BYTES MSG       one connection, BYTES in MSG-byte messages
//   vrudp_bench tcp-recv ADDR PORT BYTES SECONDS    the same over one plain TCP connection
//   vrudp_bench tcp-send ADDR PORT BYTES MSG
//   vrudp_bench rudp-listen ADDR PORT SECONDS       accepts connections for the connect runs
//   vrudp_bench rudp-connects ADDR PORT COUNT       connects one after the other, 3 s limit each
//   vrudp_bench udp-echo ADDR PORT SECONDS / udp-rtt ADDR PORT COUNT   the path's round trip
// Byte i of a transfer is Pattern(i); the receiver checks every byte in order and answers one
// byte when it has them all, so the sender can close. Receivers print one "result" line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"

namespace {

using namespace Vorezi;
using Clock = std::chrono::steady_clock;

uint8_t Pattern(uint64_t i) { return static_cast<uint8_t>((i >> 10) ^ (i * 7)); }

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

sockaddr_in Inet(const char *addr, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, addr, &a.sin_addr);
    return a;
}

VRUDP_SOCK_ADDR RudpAddr(const char *addr, int port) {
    VRUDP_SOCK_ADDR a = {};
    std::snprintf(a.szAddr, sizeof(a.szAddr), "%s", addr);
    a.wPort = static_cast<uint16_t>(port);
    return a;
}

int Endpoint(int mode) {
    VRUDP_CREATE_COND c = {};
    c.iAf = 2;
    c.enumType = ENUM_VRUDP_TYPE_ENDPOINT;
    c.enumMode = mode;
    return COM_VRUDP_Create(&c);
}

// The receiving side of a transfer: checks bytes in order, times first to last.
class Check {
public:
    explicit Check(uint64_t total) : m_total(total) {}
    // True once every byte is in.
    bool Add(const uint8_t *p, size_t n) {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_got)
            m_first = Clock::now();
        for (size_t i = 0; i < n; i++)
            m_bad += p[i] != Pattern(m_got + i);
        m_got += n;
        if (m_got >= m_total) {
            m_secs = Since(m_first);
            m_done.notify_all();
        }
        return m_got >= m_total;
    }
    bool Wait(double seconds) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_done.wait_for(g, std::chrono::duration<double>(seconds), [&] { return m_got >= m_total; });
    }
    void Print(const char *proto, double cpu) {
        std::lock_guard<std::mutex> g(m_lock);
        const double mb = m_got / 1048576.0;
        const double secs = m_got >= m_total ? m_secs : Since(m_first);
        std::printf("result %s bytes %llu of %llu in_order %s seconds %.2f goodput_MBps %.3f cpu_ms_per_MB %.1f\n", proto,
                    (unsigned long long)m_got, (unsigned long long)m_total, m_bad || m_got != m_total ? "NO" : "yes",
                    secs, secs > 0 ? mb / secs : 0, mb > 0 ? cpu * 1000 / mb : 0);
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    uint64_t m_total, m_got = 0, m_bad = 0;
    Clock::time_point m_first;
    double m_secs = 0;
};

std::vector<uint8_t> Chunk(uint64_t offset, size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = Pattern(offset + i);
    return v;
}

// ---- reliable UDP ----

struct RudpReceiver {
    explicit RudpReceiver(uint64_t total) : check(total) {}
    static void OnData(void *pUser, VRUDP_RECV_DATA *p) {
        auto *self = static_cast<RudpReceiver *>(pUser);
        if (p->enumDataType != 1 || p->dwMsgType == VRUDP_MSG_CLOSE || !p->pData)
            return;
        if (self->check.Add(p->pData, static_cast<size_t>(p->iDataLen)))
            COM_VRUDP_SendTo(p->iVRUDPHandle, "k", 1, nullptr, 5000);
    }
    Check check;
};

int RudpRecv(const char *addr, int port, uint64_t total, double seconds) {
    RudpReceiver rec(total);
    const int h = Endpoint(ENUM_VRUDP_MODE_SERVER);
    const VRUDP_SOCK_ADDR a = RudpAddr(addr, port);
    if (h < 0 || COM_VRUDP_Bind(h, &a) != 1 || COM_VRUDP_Listen(h, &rec, RudpReceiver::OnData) != 1)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const double cpu0 = CpuSeconds();
    const bool ok = rec.check.Wait(seconds);
    rec.check.Print("rudp", CpuSeconds() - cpu0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // lets the answer leave
    COM_VRUDP_Close(h);
    return ok ? 0 : 1;
}

struct Flag {
    static void OnData(void *pUser, VRUDP_RECV_DATA *p) {
        auto *self = static_cast<Flag *>(pUser);
        if (p->enumDataType == 1 && p->dwMsgType != VRUDP_MSG_CLOSE) {
            std::lock_guard<std::mutex> g(self->lock);
            self->set = true;
            self->cond.notify_all();
        }
    }
    bool Wait(double seconds) {
        std::unique_lock<std::mutex> g(lock);
        return cond.wait_for(g, std::chrono::duration<double>(seconds), [&] { return set; });
    }
    std::mutex lock;
    std::condition_variable cond;
    bool set = false;
};

int RudpSend(const char *addr, int port, uint64_t total, size_t msg) {
    const int h = Endpoint(ENUM_VRUDP_MODE_CLIENT);
    const VRUDP_SOCK_ADDR a = RudpAddr(addr, port);
    if (h < 0 || COM_VRUDP_Connect(h, &a, 3000) != 1) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }
    Flag answered;
    COM_VRUDP_SetRecvFun(h, Flag::OnData, &answered);
    const double cpu0 = CpuSeconds();
    int failed = 0;
    for (uint64_t off = 0; off < total && !failed; off += msg) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(msg, total - off));
        const std::vector<uint8_t> v = Chunk(off, n);
        failed = COM_VRUDP_SendTo(h, v.data(), static_cast<int>(n), nullptr, 60000) != static_cast<int>(n);
    }
    const bool ok = !failed && answered.Wait(600);
    std::printf("sender rudp cpu_ms_per_MB %.1f %s\n", (CpuSeconds() - cpu0) * 1000 / (total / 1048576.0),
                ok ? "answered" : "NOT ANSWERED");
    COM_VRUDP_CloseConnect(h);
    COM_VRUDP_Close(h);
    return ok ? 0 : 1;
}

int RudpListen(const char *addr, int port, double seconds) {
    const int h = Endpoint(ENUM_VRUDP_MODE_SERVER);
    const VRUDP_SOCK_ADDR a = RudpAddr(addr, port);
    Flag ignored;
    if (h < 0 || COM_VRUDP_Bind(h, &a) != 1 || COM_VRUDP_Listen(h, &ignored, Flag::OnData) != 1)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    COM_VRUDP_Close(h);
    return 0;
}

// Closing a connection waits for its FIN exchange, so the connects run on 16 threads.
int RudpConnects(const char *addr, int port, int count) {
    std::mutex lock;
    std::vector<double> ms;
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 16; w++)
        workers.emplace_back([&] {
            while (next++ < count) {
                const int h = Endpoint(ENUM_VRUDP_MODE_CLIENT);
                const VRUDP_SOCK_ADDR a = RudpAddr(addr, port);
                const auto t0 = Clock::now();
                if (h >= 0 && COM_VRUDP_Connect(h, &a, 3000) == 1) {
                    const double t = Since(t0) * 1000;
                    {
                        std::lock_guard<std::mutex> g(lock);
                        ms.push_back(t);
                    }
                    COM_VRUDP_CloseConnect(h);
                }
                COM_VRUDP_Close(h);
            }
        });
    for (auto &t : workers)
        t.join();
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    size_t within3s = 0;
    for (double v : ms) {
        sum += v;
        within3s += v <= 3000;
    }
    std::printf("result connects %d ok %zu within_3s %.1f%% mean_ms %.1f p99_ms %.1f\n", count, ms.size(),
                100.0 * within3s / count, ms.empty() ? 0 : sum / ms.size(),
                ms.empty() ? 0 : ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]);
    std::fflush(stdout);
    return 0;
}

// ---- TCP ----

int TcpRecv(const char *addr, int port, uint64_t total, double seconds) {
    const int lfd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const sockaddr_in a = Inet(addr, port);
    if (bind(lfd, reinterpret_cast<const sockaddr *>(&a), sizeof(a)) != 0 || listen(lfd, 1) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const int fd = accept(lfd, nullptr, nullptr);
    Check check(total);
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::vector<uint8_t> buf(65536);
    bool done = false;
    while (!done && Since(start) < seconds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            continue;
        const ssize_t r = recv(fd, buf.data(), buf.size(), 0);
        if (r <= 0)
            break;
        done = check.Add(buf.data(), static_cast<size_t>(r));
    }
    check.Print("tcp", CpuSeconds() - cpu0);
    if (done)
        send(fd, "k", 1, MSG_NOSIGNAL);
    close(fd);
    close(lfd);
    return done ? 0 : 1;
}

int TcpSend(const char *addr, int port, uint64_t total, size_t msg) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = Inet(addr, port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof(a)) != 0)
        return 1;
    const double cpu0 = CpuSeconds();
    bool ok = true;
    for (uint64_t off = 0; off < total && ok; off += msg) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(msg, total - off));
        const std::vector<uint8_t> v = Chunk(off, n);
        for (size_t sent = 0; ok && sent < n;) {
            const ssize_t r = send(fd, v.data() + sent, n - sent, MSG_NOSIGNAL);
            ok = r > 0;
            sent += ok ? static_cast<size_t>(r) : 0;
        }
    }
    char k;
    ok = ok && recv(fd, &k, 1, 0) == 1;
    std::printf("sender tcp cpu_ms_per_MB %.1f %s\n", (CpuSeconds() - cpu0) * 1000 / (total / 1048576.0),
                ok ? "answered" : "NOT ANSWERED");
    close(fd);
    return ok ? 0 : 1;
}

// ---- the path's round trip ----

int UdpEcho(const char *addr, int port, double seconds) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = Inet(addr, port);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof(a)) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const auto start = Clock::now();
    char buf[64];
    while (Since(start) < seconds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        const ssize_t r = recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (r > 0)
            sendto(fd, buf, static_cast<size_t>(r), 0, reinterpret_cast<sockaddr *>(&from), len);
    }
    close(fd);
    return 0;
}

// Median round trip of COUNT probes; a lost probe counts as lost after 1 s.
int UdpRtt(const char *addr, int port, int count) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = Inet(addr, port);
    std::vector<double> ms;
    for (int i = 0; i < count; i++) {
        const auto t0 = Clock::now();
        sendto(fd, &i, sizeof(i), 0, reinterpret_cast<const sockaddr *>(&a), sizeof(a));
        pollfd p{fd, POLLIN, 0};
        int got = -1;
        while (poll(&p, 1, 1000) > 0 && recv(fd, &got, sizeof(got), 0) == sizeof(got) && got != i) {
        }
        if (got == i)
            ms.push_back(Since(t0) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("result rtt probes %d answered %zu median_ms %.3f\n", count, ms.size(),
                ms.empty() ? 0 : ms[ms.size() / 2]);
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: see the head of vrudp_bench.cpp\n");
        return 2;
    }
    const std::string mode = argv[1];
    const char *addr = argv[2];
    const int port = std::atoi(argv[3]);
    const uint64_t bytes = std::strtoull(argv[4], nullptr, 10);
    const double last = argc > 5 ? std::atof(argv[5]) : 0;
    if (mode == "udp-echo")
        return UdpEcho(addr, port, static_cast<double>(bytes));
    if (mode == "udp-rtt")
        return UdpRtt(addr, port, static_cast<int>(bytes));
    if (mode == "tcp-recv")
        return TcpRecv(addr, port, bytes, last);
    if (mode == "tcp-send")
        return TcpSend(addr, port, bytes, static_cast<size_t>(last));
    if (GetCoreGlobalCtrl()->Init() != 1)
        return 2;
    int ret = 2;
    if (mode == "rudp-recv")
        ret = RudpRecv(addr, port, bytes, last);
    else if (mode == "rudp-send")
        ret = RudpSend(addr, port, bytes, static_cast<size_t>(last));
    else if (mode == "rudp-listen")
        ret = RudpListen(addr, port, static_cast<double>(bytes));
    else if (mode == "rudp-connects")
        ret = RudpConnects(addr, port, static_cast<int>(bytes));
    GetCoreGlobalCtrl()->Fini();
    return ret;
}
