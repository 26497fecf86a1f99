// Helpers of the reliable-UDP tests: endpoints made through the handle interface on loopback,
// a collecting receive callback, and counts of threads and descriptors.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "service_test_util.h"
#include "transport/vrudp/ComVRUDP.h"

namespace vrudptest {

using namespace Vorezi;

inline VRUDP_SOCK_ADDR Addr(const char *pText, uint16_t wPort) {
    VRUDP_SOCK_ADDR a = {};
    std::strncpy(a.szAddr, pText, sizeof a.szAddr - 1);
    a.wPort = wPort;
    return a;
}

inline int MakeEndpoint(int iMode, int iAf = 2) {
    VRUDP_CREATE_COND c = {};
    c.iAf = iAf;
    c.enumType = ENUM_VRUDP_TYPE_ENDPOINT;
    c.enumMode = iMode;
    return COM_VRUDP_Create(&c);
}

// The endpoint's bound port.
inline uint16_t PortOfFd(int iFd) {
    sockaddr_storage ss = {};
    socklen_t len = sizeof ss;
    if (getsockname(iFd, reinterpret_cast<sockaddr *>(&ss), &len) != 0)
        return 0;
    // The port stands at the same place in both families' records.
    return ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
}
inline uint16_t PortOf(int iHandle) {
    return PortOfFd(COM_VRUDP_GetSocket(iHandle));
}

inline int CountDir(const char *pPath) {
    int n = 0;
    if (DIR *d = opendir(pPath)) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}
inline int Threads() {
    return CountDir("/proc/self/task");
}
inline int Descriptors() {
    return CountDir("/proc/self/fd");
}

// What a receive callback saw.
struct Event {
    int iKind;
    int iReliable;
    int iHandle;
    std::string sAddr;
    uint16_t wPort;
    std::vector<uint8_t> data;
};

class Collector {
public:
    static void Callback(void *pUser, VRUDP_RECV_DATA *p) { static_cast<Collector *>(pUser)->Add(p); }
    void Add(VRUDP_RECV_DATA *p) {
        Event e{p->dwMsgType, p->enumDataType, p->iVRUDPHandle, p->szRemoteAddr, p->wRemotePort, {}};
        if (p->pData)
            e.data.assign(p->pData, p->pData + p->iDataLen);
        if (m_fnEcho && e.iKind != VRUDP_MSG_CLOSE && e.iReliable)
            m_fnEcho(e);
        std::lock_guard<std::mutex> g(m_Lock);
        m_Events.push_back(std::move(e));
        m_Cond.notify_all();
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> g(m_Lock);
        return m_Events;
    }
    size_t Count(int iKind) {
        std::lock_guard<std::mutex> g(m_Lock);
        size_t n = 0;
        for (const auto &e : m_Events)
            n += e.iKind == iKind;
        return n;
    }
    bool WaitCount(size_t n, int iMs) {
        std::unique_lock<std::mutex> g(m_Lock);
        return m_Cond.wait_for(g, std::chrono::milliseconds(iMs), [&] { return m_Events.size() >= n; });
    }
    std::function<void(const Event &)> m_fnEcho;

private:
    std::mutex m_Lock;
    std::condition_variable m_Cond;
    std::vector<Event> m_Events;
};

// A listening server endpoint on 127.0.0.1 (or the address given, IPv6 with a colon) with an
// ephemeral port.
struct Server {
    int iHandle = -1;
    uint16_t wPort = 0;
    Collector col;
    // With bEcho every message goes back on its connection.
    bool Start(bool bEcho = false, const char *pAddr = "127.0.0.1") {
        if (bEcho)
            col.m_fnEcho = [](const Event &e) {
                COM_VRUDP_SendTo(e.iHandle, e.data.data(), int(e.data.size()), nullptr, 5000);
            };
        iHandle = MakeEndpoint(ENUM_VRUDP_MODE_SERVER, std::strchr(pAddr, ':') ? 23 : 2);
        VRUDP_SOCK_ADDR a = Addr(pAddr, 0);
        if (iHandle < 0 || COM_VRUDP_Bind(iHandle, &a) != 1)
            return false;
        wPort = PortOf(iHandle);
        return COM_VRUDP_Listen(iHandle, &col, Collector::Callback) == 1;
    }
};

// A client endpoint connected to port wPort of 127.0.0.1 (or the address given).
inline int Connect(uint16_t wPort, uint32_t dwTimeOut = 3000, const char *pAddr = "127.0.0.1") {
    int h = MakeEndpoint(ENUM_VRUDP_MODE_CLIENT, std::strchr(pAddr, ':') ? 23 : 2);
    VRUDP_SOCK_ADDR a = Addr(pAddr, wPort);
    if (h < 0 || COM_VRUDP_Connect(h, &a, dwTimeOut) != 1) {
        COM_VRUDP_Close(h);
        return -1;
    }
    return h;
}

// An echoing server and a client connected to it; the echoes arrive in got.
struct EchoPair {
    Server srv;
    int iClient = -1;
    Collector got;
    bool Start(const char *pAddr = "127.0.0.1") {
        if (!srv.Start(true, pAddr))
            return false;
        iClient = Connect(srv.wPort, 3000, pAddr);
        return iClient >= 0 && COM_VRUDP_SetRecvFun(iClient, Collector::Callback, &got) == 1;
    }
};

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(i * 31 + seed);
    return v;
}

// A plain UDP socket on loopback that writes and reads RUDP packets by hand.
// An IPv6 local address sends to ::1.
class RawPeer {
public:
    explicit RawPeer(const char *pLocal = "127.0.0.1") : m_iAf(std::strchr(pLocal, ':') ? AF_INET6 : AF_INET) {
        m_Fd = socket(m_iAf, SOCK_DGRAM, 0);
        sockaddr_storage a;
        bind(m_Fd, reinterpret_cast<sockaddr *>(&a), MakeAddr(pLocal, 0, a));
        timeval tv{0, 300000};
        setsockopt(m_Fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawPeer() { close(m_Fd); }
    void Send(uint16_t wPort, const std::vector<uint8_t> &pkt) {
        sockaddr_storage a;
        socklen_t len = MakeAddr(m_iAf == AF_INET6 ? "::1" : "127.0.0.1", wPort, a);
        sendto(m_Fd, pkt.data(), pkt.size(), 0, reinterpret_cast<sockaddr *>(&a), len);
    }
    // The next datagram within the receive time-out, or empty.
    std::vector<uint8_t> Recv() {
        std::vector<uint8_t> buf(9000);
        ssize_t n = recv(m_Fd, buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? size_t(n) : 0);
        return buf;
    }
    // The next datagram within iWaitMs, for a reply that must come: a loaded machine may take
    // far longer than the receive time-out, which suits only replies that must not come.
    std::vector<uint8_t> RecvWithin(int iWaitMs) {
        pollfd p = {m_Fd, POLLIN, 0};
        if (poll(&p, 1, iWaitMs) != 1)
            return {};
        return Recv();
    }
    // Datagrams until one of the type arrives (empty when none did within the time-out).
    std::vector<uint8_t> RecvType(uint8_t byType) {
        for (;;) {
            auto p = Recv();
            if (p.empty() || (p.size() >= 6 && (p[5] & 0x3F) == byType))
                return p;
        }
    }
    int Fd() const { return m_Fd; }

private:
    socklen_t MakeAddr(const char *pText, uint16_t wPort, sockaddr_storage &ss) const {
        ss = {};
        if (m_iAf == AF_INET6) {
            auto &a = reinterpret_cast<sockaddr_in6 &>(ss);
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(wPort);
            inet_pton(AF_INET6, pText, &a.sin6_addr);
            return sizeof a;
        }
        auto &a = reinterpret_cast<sockaddr_in &>(ss);
        a.sin_family = AF_INET;
        a.sin_port = htons(wPort);
        inet_pton(AF_INET, pText, &a.sin_addr);
        return sizeof a;
    }

    int m_iAf;
    int m_Fd;
};

inline uint16_t Be16(const std::vector<uint8_t> &p, size_t off) {
    return uint16_t((p[off] << 8) | p[off + 1]);
}
inline uint32_t Be32(const std::vector<uint8_t> &p, size_t off) {
    return (uint32_t(p[off]) << 24) | (uint32_t(p[off + 1]) << 16) | (uint32_t(p[off + 2]) << 8) | p[off + 3];
}

}  // namespace vrudptest
