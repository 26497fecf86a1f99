// Helpers of the server-link tests: the library initialised with a server-link pool of a given
// size, a data callback that records what it gets, the Python clients of
// peers/server_link_peer.py, and loopback sockets of the test's own.
#pragma once

// Before the system headers: <fcntl.h> defines LOCK_READ, a name of the member framework.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaServerLink.h"
#include "service_test_util.h"
#include "transport/serverlink/InterimServerLink.h"
#include "transport/serverlink/ServerLinkMgr.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <mutex>
#include <string>
#include <vector>


extern char **environ;

namespace srvtest {

// Init with the given SERVERLINK pool size (0 keeps the default of 10).
inline int InitWithPool(DWORD dwServerLinkThreads) {
    DWORD counts[5] = {0, 0, dwServerLinkThreads, 0, 0};
    Morva_SetInitConfig(Vorezi::ENUM_MORVA_INIT_CFG_THREADPOOL, counts);
    return Vorezi::GetCoreGlobalCtrl()->Init();
}

template <DWORD kThreads>
class PoolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, InitWithPool(kThreads)); }
    void TearDown() override { Vorezi::GetCoreGlobalCtrl()->Fini(); }
};

using Vorezi::LastError;

struct Record {
    DWORD dwMsgType;
    DWORD dwKind;
    int iLink;
    int iStream;
    int iAccept;
    int iStatus;
    int iSocket;
    std::string data;
    std::string areaB;
    std::string peer;
    int iPeerPort;
};

// Records every callback; OnRecord, when set, runs first and gives the callback's result.
class Recorder {
public:
    Recorder() = default;
    // The links that call into this recorder go first, also when a test ends early.
    ~Recorder() {
        for (int h : m_Links)
            Morva_DestroyServerLink(h);
    }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Creates a link that reports here; its handle or -1.
    int Create(SERVER_LINK_COND *pCond) {
        pCond->fnDataCallBack = Callback;
        pCond->pUserData = this;
        int h = Morva_CreateServerLink(pCond);
        if (h >= 0)
            m_Links.push_back(h);
        return h;
    }

    static int Callback(void *pUser, SERVER_LINK_DATA *pData) { return static_cast<Recorder *>(pUser)->On(pData); }

    std::function<int(SERVER_LINK_DATA *)> OnRecord;

    std::vector<Record> Records() {
        std::lock_guard<std::mutex> g(m_Lock);
        return m_Records;
    }
    size_t Count(DWORD dwMsgType) {
        size_t n = 0;
        for (const Record &r : Records())
            n += r.dwMsgType == dwMsgType;
        return n;
    }
    bool WaitCount(DWORD dwMsgType, size_t n, int iTimeoutMs = 10000) {
        return servicetest::WaitFor([&] { return Count(dwMsgType) >= n; }, iTimeoutMs);
    }
    // The bytes of the status-0 data records of one connection, in order.
    std::string DataOf(int iAccept) {
        std::string out;
        for (const Record &r : Records())
            if (r.dwMsgType == SERVER_LINK_MSG_DATA && r.iStatus == 0 && r.iAccept == iAccept)
                out += r.data;
        return out;
    }

private:
    int On(SERVER_LINK_DATA *p) {
        int iResult = OnRecord ? OnRecord(p) : 1;
        Record r{p->dwMsgType, p->dwDataKind, p->iLinkHandle, p->iStreamHandle, p->iAcceptHandle, p->iStatus,
                 p->iSocket,   p->pData ? std::string(p->pData, p->dwDataLen) : std::string(),
                 std::string(reinterpret_cast<char *>(p->byAreaB), 16), p->szPeerIP, p->wPeerPort};
        std::lock_guard<std::mutex> g(m_Lock);
        m_Records.push_back(r);
        return iResult;
    }

    std::mutex m_Lock;
    std::vector<Record> m_Records;
    std::vector<int> m_Links;
};

inline SERVER_LINK_COND MakeCond(BYTE byProType, const char *pIP, WORD wPort, SERVER_LINK_DATA_CALLBACK fnCallBack,
                                 void *pUser) {
    SERVER_LINK_COND c;
    std::memset(&c, 0, sizeof(c));
    c.pLocalIP = pIP;
    c.wLocalPort = wPort;
    c.byProType = byProType;
    c.fnDataCallBack = fnCallBack;
    c.pUserData = pUser;
    return c;
}

inline SERVER_LINK_COND MakeCond(BYTE byProType, const char *pIP, WORD wPort, Recorder *pRec) {
    return MakeCond(byProType, pIP, wPort, Recorder::Callback, pRec);
}

// A free loopback port of the given kind (bound and released again).
inline int FreePort(int iType = SOCK_STREAM, int iFamily = AF_INET) {
    int fd = socket(iFamily, iType, 0);
    sockaddr_storage ss{};
    socklen_t n;
    if (iFamily == AF_INET6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        n = sizeof(*a);
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&ss);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        n = sizeof(*a);
    }
    bind(fd, reinterpret_cast<sockaddr *>(&ss), n);
    getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &n);
    int port = ntohs(iFamily == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port
                                         : reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
    close(fd);
    return port;
}

// Whether another socket holds the loopback port, so that one with reuse-address cannot bind it.
inline bool PortTaken(int iPort, int iType = SOCK_STREAM) {
    int fd = socket(AF_INET, iType, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(iPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bTaken = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0;
    close(fd);
    return bTaken;
}

// A blocking loopback TCP client, or -1.
inline int ConnectTo(int iPort, bool bIPv6 = false) {
    int fd = socket(bIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int rc;
    if (bIPv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons((uint16_t)iPort);
        rc = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons((uint16_t)iPort);
        rc = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    }
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// 1 when the peer closed (EOF or reset) within the time-out, 0 otherwise; data is skipped.
inline int WaitClosed(int fd, int iTimeoutMs = 5000) {
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, iTimeoutMs) <= 0)
            return 0;
        ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            return 1;
    }
}

inline size_t CountDir(const char *pPath) {
    size_t n = 0;
    if (DIR *d = opendir(pPath)) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}
inline size_t OpenFds() { return CountDir("/proc/self/fd"); }
inline size_t Threads() { return CountDir("/proc/self/task"); }

// A client of peers/server_link_peer.py, or of the script at pScript; killed when the object goes.
class PyClient {
public:
    explicit PyClient(const std::vector<std::string> &args, const char *pScript = nullptr) {
        std::string file = __FILE__;
        std::vector<std::string> all = {"/usr/bin/python3",
                                        pScript ? pScript : file.substr(0, file.rfind('/')) + "/peers/server_link_peer.py"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        m_out = fds[0];
    }
    ~PyClient() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    PyClient(const PyClient &) = delete;
    PyClient &operator=(const PyClient &) = delete;

    // The first line the client prints, or "" after the time-out.
    std::string Line(int iTimeoutMs = 10000) {
        std::string line;
        char c;
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, iTimeoutMs) <= 0 || read(m_out, &c, 1) != 1)
                return line;
            if (c == '\n')
                return line;
            line += c;
        }
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

inline std::string Hex(const std::string &bytes) {
    static const char *kDigits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// A 52-byte command head: "QDBD", the length byte at 12, bytes 32 to 47 counting from 'a'.
inline std::string MakeHead(unsigned char byLen = 60) {
    std::string head(52, '\0');
    std::memcpy(&head[0], "QDBD", 4);
    head[12] = (char)byLen;
    for (int i = 32; i < 48; i++)
        head[i] = (char)('a' + i - 32);
    return head;
}

// The system call a thread of this process is blocked in; -1 while it runs.
inline long BlockedSyscall(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    in >> number;  // "running" reads as no number
    return number;
}

// A thread blocked in a sleep of the runtime (its waits in steps).
inline bool IsSleeping(long syscallNumber) {
    return syscallNumber == SYS_nanosleep || syscallNumber == SYS_clock_nanosleep;
}

// The descriptor of this process bound to the given local port of the given socket type, or -1;
// of a stream type only a listening one.
inline int SocketOnPort(int iPort, int iType) {
    for (int fd = 0; fd < 4096; fd++) {
        int iSockType = 0, iListening = 0;
        socklen_t n = sizeof(iSockType);
        sockaddr_storage ss{};
        socklen_t len = sizeof(ss);
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &iSockType, &n) != 0 || iSockType != iType ||
            getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0)
            continue;
        n = sizeof(iListening);
        if (iType == SOCK_STREAM && (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &iListening, &n) != 0 || !iListening))
            continue;
        const int iBound = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port
                                                          : reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
        if (iBound == iPort)
            return fd;
    }
    return -1;
}

inline ino_t InodeOf(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Runs fn on a thread of its own; when it has not returned within iLimitMs the whole program
// ends at once, failed: a hang is reported in seconds, not at CTest's time-out.
inline void WithinOrAbort(int iLimitMs, const char *pWhat, const std::function<void()> &fn) {
    std::atomic<bool> bDone{false};
    std::thread worker([&] {
        fn();
        bDone = true;
    });
    if (!servicetest::WaitFor([&] { return bDone.load(); }, iLimitMs)) {
        std::fprintf(stderr, "%s did not end within %d ms: the program stops here\n", pWhat, iLimitMs);
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
}

// Sends one datagram from a socket of its own to 127.0.0.1:iPort.
inline void SendDatagram(int iPort, const std::string &data) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)iPort);
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    close(fd);
}

// Stops a datagram link (made by fnCreate on the port) while its receive thread is held inside
// the data callback. Until that thread is joined the link's socket number must stay its own,
// shut down but open: a number closed earlier goes to the next socket made, here a socket that
// then receives "new", which must never reach the stopped link.
inline void StopWhileTheCallbackHoldsTheThread(const std::function<int(Recorder *, int)> &fnCreate) {
    Recorder rec;
    std::atomic<bool> bHeld{false}, bRelease{false};
    rec.OnRecord = [&](SERVER_LINK_DATA *p) {
        if (std::string(p->pData, p->dwDataLen) == "hold") {
            bHeld = true;
            servicetest::WaitFor([&] { return bRelease.load(); }, 30000);
        }
        return 1;
    };
    const int iPort = FreePort(SOCK_DGRAM);
    const int h = fnCreate(&rec, iPort);
    ASSERT_GE(h, 0);
    const int fdLink = SocketOnPort(iPort, SOCK_DGRAM);
    ASSERT_GE(fdLink, 0);
    const ino_t inode = InodeOf(fdLink);
    SendDatagram(iPort, "hold");
    ASSERT_TRUE(servicetest::WaitFor([&] { return bHeld.load(); }, 10000));
    std::atomic<pid_t> tidStopper{0};
    std::thread stopper([&] {
        tidStopper = (pid_t)syscall(SYS_gettid);
        EXPECT_EQ(1, Morva_DestroyServerLink(h));
    });
    // The stop is past its wake-up (the socket shut down, or no longer this socket) and waits.
    const bool bWaiting = servicetest::WaitFor(
        [&] {
            pollfd p{fdLink, POLLRDHUP, 0};
            const bool bWoken = InodeOf(fdLink) != inode || (poll(&p, 1, 0) == 1 && (p.revents & POLLRDHUP));
            return bWoken && tidStopper.load() && BlockedSyscall(tidStopper.load()) == SYS_futex;
        },
        10000);
    EXPECT_TRUE(bWaiting);
    EXPECT_EQ(inode, InodeOf(fdLink)) << "the link's socket number was closed before its thread ended";
    const int other = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(other, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(other, reinterpret_cast<sockaddr *>(&a), &len);
    for (int i = 0; i < 10; i++)
        SendDatagram(ntohs(a.sin_port), "new");
    bRelease = true;
    stopper.join();
    for (const Record &r : rec.Records())
        EXPECT_NE("new", r.data);
    close(other);
}

inline Vorezi::CServerLinkTCP *TcpLink(int iHandle) {
    return dynamic_cast<Vorezi::CServerLinkTCP *>(Vorezi::GetServerLinkMgr()->GetMember(iHandle));
}

}  // namespace srvtest
