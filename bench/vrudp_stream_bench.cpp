// One end of the media-stream benchmark, run by vrudp_stream_bench.sh inside the path's
// namespaces. A reliable-UDP client control link streams to a father, and TCP carries the same
// messages over the same path as the peer.
//   vrudp_stream_bench recv vrudp|tcp ADDR PORT SECONDS
//   vrudp_stream_bench send vrudp|tcp ADDR PORT SECONDS RATE_KBIT   (0: as fast as taken)
// tcp-NAME in place of tcp sends with that congestion control instead of the kernel's default.
// Each 1316-byte message holds its index (u32, big-endian), its send time (monotonic ns) and a
// pattern the receiver checks. The receiver counts what arrives complete and in order; the
// sender counts what the reliable-UDP buffer refused (dropped, never delivered).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"
#include "vrudp_client_buffered.h"

using namespace Vorezi;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPayload = 1316;
constexpr uint32_t kBitrate = 20000;
// A delivery gap this long while the constant-rate stream runs is a stall.
constexpr int64_t kStallNs = 100 * 1000 * 1000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
    rusage ru = {};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

uint8_t PatternByte(uint32_t dwIndex, int i) {
    return uint8_t(dwIndex * 31u + uint32_t(i));
}

void Fill(uint8_t *p, uint32_t dwIndex) {
    p[0] = uint8_t(dwIndex >> 24), p[1] = uint8_t(dwIndex >> 16), p[2] = uint8_t(dwIndex >> 8), p[3] = uint8_t(dwIndex);
    const int64_t t = NowNs();
    std::memcpy(p + 4, &t, sizeof t);
    for (int i = 12; i < kPayload; i++)
        p[i] = PatternByte(dwIndex, i);
}

// What the receiver saw.
class Tally {
public:
    void Take(const uint8_t *p, int iLen) {
        const int64_t now = NowNs();
        std::lock_guard<std::mutex> g(m_Lock);
        const uint32_t dwIndex = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        bool bGood = iLen == kPayload && (m_uDelivered == 0 || dwIndex > m_dwLast);
        for (int i = 12; bGood && i < kPayload; i++)
            bGood = p[i] == PatternByte(dwIndex, i);
        if (!bGood) {
            m_uBad++;
            return;
        }
        int64_t tSent;
        std::memcpy(&tSent, p + 4, sizeof tSent);
        m_Latency.push_back(now - tSent);
        if (m_uDelivered == 0)
            m_tFirst = now;
        else if (now - m_tLast >= kStallNs)
            m_uStalls++;
        m_tLast = now;
        m_dwLast = dwIndex;
        m_uDelivered++;
    }
    void Report(double dCpu) {
        std::lock_guard<std::mutex> g(m_Lock);
        std::sort(m_Latency.begin(), m_Latency.end());
        auto pct = [&](double q) {
            return m_Latency.empty() ? 0.0 : double(m_Latency[size_t(q * double(m_Latency.size() - 1))]) / 1e6;
        };
        const double dSpan = m_uDelivered > 1 ? double(m_tLast - m_tFirst) / 1e9 : 0.0;
        const double dBytes = double(m_uDelivered) * kPayload;
        std::printf("delivered %zu bytes %.0f span_s %.3f goodput_mbit %.3f p50_ms %.2f p99_ms %.2f stalls %zu bad %zu "
                    "last_index %u cpu_s %.3f\n",
                    m_uDelivered, dBytes, dSpan, dSpan > 0 ? dBytes * 8 / dSpan / 1e6 : 0.0, pct(0.5), pct(0.99),
                    m_uStalls, m_uBad, m_dwLast, dCpu);
    }

private:
    std::mutex m_Lock;
    size_t m_uDelivered = 0;
    size_t m_uBad = 0;
    size_t m_uStalls = 0;
    uint32_t m_dwLast = 0;
    int64_t m_tFirst = 0;
    int64_t m_tLast = 0;
    std::vector<int64_t> m_Latency;
};

struct VRUDPRecv {
    Tally tally;
    std::atomic<int> bClosed{0};
};

void OnVRUDPData(void *pUser, VRUDP_RECV_DATA *p) {
    auto *r = static_cast<VRUDPRecv *>(pUser);
    if (p->enumDataType != 1)
        return;
    if (p->dwMsgType == VRUDP_MSG_CLOSE)
        r->bClosed = 1;
    else
        r->tally.Take(p->pData, p->iDataLen);
}

bool WaitUntil(const std::function<bool()> &done, int iSeconds) {
    const auto end = Clock::now() + std::chrono::seconds(iSeconds);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

VRUDP_SOCK_ADDR SockAddr(const char *pAddr, uint16_t wPort) {
    VRUDP_SOCK_ADDR a = {};
    std::strncpy(a.szAddr, pAddr, sizeof a.szAddr - 1);
    a.wPort = wPort;
    return a;
}

int MakeLink(int iMode) {
    VRUDP_CREATE_COND c = {};
    c.iAf = 2;
    c.enumType = ENUM_VRUDP_TYPE_LINK;
    c.enumMode = iMode;
    return COM_VRUDP_Create(&c);
}

int RecvVRUDP(const char *pAddr, uint16_t wPort, int iSeconds) {
    VRUDPRecv r;
    const int h = MakeLink(ENUM_VRUDP_MODE_SERVER);
    VRUDP_SOCK_ADDR a = SockAddr(pAddr, wPort);
    if (h < 0 || COM_VRUDP_Bind(h, &a) != 1 || COM_VRUDP_SetSockBuffSize(h, 0x100000, 0x100000) != 1 ||
        COM_VRUDP_Listen(h, &r, OnVRUDPData) != 1)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    WaitUntil([&] { return r.bClosed.load() != 0; }, iSeconds + 60);
    COM_VRUDP_Close(h);
    r.tally.Report(CpuSeconds());
    return 0;
}

sockaddr_in TcpAddr(const char *pAddr, uint16_t wPort) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(wPort);
    inet_pton(AF_INET, pAddr, &a.sin_addr);
    return a;
}

int RecvTCP(const char *pAddr, uint16_t wPort, int iSeconds) {
    const int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = TcpAddr(pAddr, wPort);
    if (bind(ls, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(ls, 1) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const int fd = accept(ls, nullptr, nullptr);
    timeval tv = {iSeconds + 60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Tally tally;
    std::vector<uint8_t> msg(kPayload);
    size_t uHave = 0;
    for (;;) {
        const ssize_t n = recv(fd, msg.data() + uHave, msg.size() - uHave, 0);
        if (n <= 0)
            break;
        uHave += size_t(n);
        if (uHave == msg.size()) {
            tally.Take(msg.data(), kPayload);
            uHave = 0;
        }
    }
    close(fd);
    close(ls);
    tally.Report(CpuSeconds());
    return 0;
}

// Calls fnSend with each message for iSeconds, paced to iRateKbit (0: back to back); fnSend
// says whether the message was taken.
template <class F>
void Offer(int iSeconds, int iRateKbit, uint64_t *puOffered, uint64_t *puRefused, F fnSend) {
    std::vector<uint8_t> msg(kPayload);
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(iSeconds);
    const auto interval = std::chrono::nanoseconds(iRateKbit ? int64_t(kPayload) * 8 * 1000000 / iRateKbit : 0);
    for (uint32_t i = 0;; i++) {
        const auto due = start + interval * i;
        if (due >= end || Clock::now() >= end)
            break;
        if (iRateKbit)
            std::this_thread::sleep_until(due);
        Fill(msg.data(), i);
        (*puOffered)++;
        if (!fnSend(msg.data())) {
            (*puRefused)++;
            if (!iRateKbit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the buffer is full: let it drain
        }
    }
}

int SendVRUDP(const char *pAddr, uint16_t wPort, int iSeconds, int iRateKbit) {
    const int h = MakeLink(ENUM_VRUDP_MODE_CLIENT);
    VRUDP_SOCK_ADDR a = SockAddr(pAddr, wPort);
    if (h < 0 || COM_VRUDP_SetStreamBitrate(h, kBitrate) != 1 || COM_VRUDP_Connect(h, &a, 5000) != 1)
        return 1;
    uint64_t uOffered = 0, uRefused = 0;
    Offer(iSeconds, iRateKbit, &uOffered, &uRefused,
          [&](const uint8_t *p) { return COM_VRUDP_SendTo(h, p, kPayload, nullptr, 0) == kPayload; });
    const bool bAcked = WaitUntil([&] { return ClientBuffered(h) == 0; }, 60);
    std::printf("offered %llu refused %llu acked %d cpu_s %.3f\n", (unsigned long long)uOffered,
                (unsigned long long)uRefused, bAcked, CpuSeconds());
    COM_VRUDP_Close(h);
    return 0;
}

// pCongestion: a congestion control by name, or null for the kernel's default.
int SendTCP(const char *pAddr, uint16_t wPort, int iSeconds, int iRateKbit, const char *pCongestion) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (pCongestion && setsockopt(fd, IPPROTO_TCP, TCP_CONGESTION, pCongestion, socklen_t(std::strlen(pCongestion))) != 0)
        return 1;
    sockaddr_in a = TcpAddr(pAddr, wPort);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return 1;
    uint64_t uOffered = 0, uRefused = 0;
    Offer(iSeconds, iRateKbit, &uOffered, &uRefused, [&](const uint8_t *p) {
        return send(fd, p, kPayload, MSG_NOSIGNAL) == kPayload;  // blocking: all or an error
    });
    shutdown(fd, SHUT_WR);
    char c;
    while (recv(fd, &c, 1, 0) > 0) {
    }
    close(fd);
    std::printf("offered %llu refused %llu acked 1 cpu_s %.3f\n", (unsigned long long)uOffered,
                (unsigned long long)uRefused, CpuSeconds());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s recv|send vrudp|tcp ADDR PORT SECONDS [RATE_KBIT]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1], peer = argv[2];
    const uint16_t wPort = uint16_t(std::atoi(argv[4]));
    const int iSeconds = std::atoi(argv[5]);
    const int iRate = argc > 6 ? std::atoi(argv[6]) : 0;
    if (peer.compare(0, 3, "tcp") == 0) {  // tcp, or tcp-NAME for a congestion control by name
        const char *pCongestion = peer.size() > 4 ? peer.c_str() + 4 : nullptr;
        return mode == "recv" ? RecvTCP(argv[3], wPort, iSeconds) : SendTCP(argv[3], wPort, iSeconds, iRate, pCongestion);
    }
    if (GetCoreGlobalCtrl()->Init() != 1)
        return 1;
    const int iRet =
        mode == "recv" ? RecvVRUDP(argv[3], wPort, iSeconds) : SendVRUDP(argv[3], wPort, iSeconds, iRate);
    GetCoreGlobalCtrl()->Fini();
    return iRet;
}
