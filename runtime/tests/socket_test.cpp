#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal/default_family.h"
#include "internal/socket_startup.h"
#include "netns/netns_lab.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// The system call a thread of this process is blocked in; -1 while it runs.
long BlockedSyscall(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    in >> number;  // "running" reads as no number
    return number;
}

long MsSince(Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

YAR_ADDR_T Addr(int family, const char *text, uint16_t port) {
    YAR_ADDR_T a;
    EXPECT_EQ(0, YAR_MakeAddrByString(family, text, port, &a)) << text;
    return a;
}

int Domain(int sock) {
    int domain = -1;
    socklen_t len = sizeof domain;
    getsockopt(sock, SOL_SOCKET, SO_DOMAIN, &domain, &len);
    return domain;
}

bool IsNonBlocking(int sock) {
    return (fcntl(sock, F_GETFL) & O_NONBLOCK) != 0;
}

// A listening TCP socket on an ephemeral port of the address.
struct Listener {
    int sock = -1;
    YAR_ADDR_T addr{};

    Listener(int family, const char *text) {
        sock = YAR_CreateSocket(family, SOCK_STREAM, IPPROTO_TCP);
        YAR_ADDR_T bindAddr = Addr(family, text, 0);
        EXPECT_EQ(0, YAR_Bind(sock, &bindAddr));
        EXPECT_EQ(0, YAR_Listen(sock, 8));
        EXPECT_EQ(0, YAR_GetAddrBySockFd(sock, &addr, nullptr));
    }
    ~Listener() { YAR_CloseSocket(sock, 1); }
};

// A connected TCP pair over loopback: client, server.
struct TcpPair {
    int client = -1, server = -1;

    explicit TcpPair(int bufSize = 0) {
        Listener l(YAR_AF_INET, "127.0.0.1");
        client = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (bufSize) {
            EXPECT_EQ(0, YAR_SetBuffSize(client, bufSize, bufSize));
        }
        EXPECT_EQ(0, YAR_ConnectWithTimeOut(client, &l.addr, 2000));
        server = YAR_Accept(l.sock, nullptr, 2000);
        EXPECT_GE(server, 0);
        if (bufSize) {
            EXPECT_EQ(0, YAR_SetBuffSize(server, bufSize, bufSize));
        }
    }
    ~TcpPair() {
        if (client >= 0)
            YAR_CloseSocket(client, 1);
        if (server >= 0)
            YAR_CloseSocket(server, 1);
    }
};

TEST(Socket, TcpLoopbackPerFamily) {
    struct Case { int listenFamily; const char *listenText; int clientFamily; const char *connectText; };
    const Case cases[] = {
        {YAR_AF_INET, "127.0.0.1", YAR_AF_INET, "127.0.0.1"},
        {YAR_AF_INET6, "::1", YAR_AF_INET6, "::1"},
        {YAR_AF_DUAL, "::", YAR_AF_INET, "127.0.0.1"},  // dual stack accepts IPv4 peers
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.connectText);
        Listener l(c.listenFamily, c.listenText);
        int client = YAR_CreateSocket(c.clientFamily, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_GE(client, 0);
        YAR_ADDR_T to = Addr(c.clientFamily, c.connectText, YAR_GetAddrPort(&l.addr));
        ASSERT_EQ(0, YAR_ConnectWithTimeOut(client, &to, 2000));
        EXPECT_FALSE(IsNonBlocking(client));
        YAR_ADDR_T peer;
        int server = YAR_Accept(l.sock, &peer, 2000);
        ASSERT_GE(server, 0);
        EXPECT_EQ(c.listenFamily == YAR_AF_INET ? 2 : 23, YAR_GetAddrType(&peer));

        const char msg[] = "hello, runtime";
        EXPECT_EQ(int(sizeof msg), YAR_Sendn(client, msg, sizeof msg, 1000));
        char buf[sizeof msg] = {};
        EXPECT_EQ(int(sizeof msg), YAR_Recvn(server, buf, sizeof buf, 1000));
        EXPECT_STREQ(msg, buf);
        EXPECT_EQ(3, YAR_Send(server, "abc", 3));
        EXPECT_EQ(3, YAR_RecvWithTimeOut(client, buf, sizeof buf, 1000));
        YAR_CloseSocket(server, 1);
        YAR_CloseSocket(client, 0);
    }
}

TEST(Socket, CreateByFamilyCode) {
    int saved = yar::internal::DefaultFamily();
    struct Case { int family; int defaultFamily; int domain; int v6only; };
    const Case cases[] = {
        {YAR_AF_INET, YAR_AF_INET, AF_INET, -1},
        {YAR_AF_INET6, YAR_AF_INET, AF_INET6, -1},
        {YAR_AF_DUAL, YAR_AF_INET, AF_INET6, 0},
        {YAR_AF_DEFAULT, YAR_AF_INET, AF_INET, -1},
        {YAR_AF_DEFAULT, YAR_AF_INET6, AF_INET6, -1},
        {YAR_AF_DEFAULT, YAR_AF_DUAL, AF_INET6, 0},
    };
    for (const auto &c : cases) {
        yar::internal::SetDefaultFamily(c.defaultFamily);
        int s = YAR_CreateSocket(c.family, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_GE(s, 0);
        EXPECT_EQ(c.domain, Domain(s));
        if (c.v6only >= 0) {
            int v = -1;
            socklen_t len = sizeof v;
            getsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &v, &len);
            EXPECT_EQ(c.v6only, v);
        }
        EXPECT_NE(0, fcntl(s, F_GETFD) & FD_CLOEXEC);
        YAR_CloseSocket(s, 0);
    }
    yar::internal::SetDefaultFamily(saved);
    EXPECT_EQ(-1, YAR_CreateSocket(55, SOCK_DGRAM, 0));
}

TEST(Socket, ConnectRefusedAndAcceptTimeOut) {
    int port;
    {
        Listener gone(YAR_AF_INET, "127.0.0.1");
        port = YAR_GetAddrPort(&gone.addr);
    }
    YAR_ADDR_T to = Addr(YAR_AF_INET, "127.0.0.1", uint16_t(port));
    for (uint32_t timeout : {1000u, YAR_INFINITE_TIMEOUT}) {
        int s = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(-1, YAR_ConnectWithTimeOut(s, &to, timeout));
        EXPECT_EQ(YAR_SYSERR_WSAECONNREFUSED, YAR_GetSystemLastError());
        EXPECT_FALSE(IsNonBlocking(s));
        YAR_CloseSocket(s, 0);
    }

    // A non-blocking socket stays non-blocking.
    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, YAR_SetNonBlock(s, 1));
    EXPECT_EQ(-1, YAR_ConnectWithTimeOut(s, &to, 1000));
    EXPECT_TRUE(IsNonBlocking(s));
    YAR_CloseSocket(s, 0);

    Listener l(YAR_AF_INET, "127.0.0.1");
    auto start = Clock::now();
    EXPECT_EQ(-1, YAR_Accept(l.sock, nullptr, 200));
    EXPECT_EQ(YAR_SYSERR_WSAETIMEDOUT, YAR_GetSystemLastError());
    EXPECT_GE(MsSince(start), 190);
    EXPECT_EQ(-1, YAR_Bind(l.sock, nullptr));
    EXPECT_EQ(-1, YAR_ConnectWithTimeOut(l.sock, nullptr, 10));
}

// SIGUSR1 with a handler that does nothing and no SA_RESTART, so it interrupts blocking calls;
// the previous handler comes back at the end of the scope.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        EXPECT_EQ(0, sigaction(SIGUSR1, &action, &m_previous));
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &m_previous, nullptr); }
    InterruptingSignal(const InterruptingSignal &) = delete;
    InterruptingSignal &operator=(const InterruptingSignal &) = delete;

private:
    struct sigaction m_previous {};
};

// A signal (handler without SA_RESTART) interrupts a blocking connect while the connection goes on
// in the background: the call waits for its outcome instead of failing with EINTR. The listener's
// accept queue is full, so the SYN is dropped until the queue is drained and its retry gets in.
TEST(Socket, SignalDuringBlockingConnectWaitsForTheOutcome) {
    InterruptingSignal interrupting;
    int listener = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    YAR_ADDR_T at = Addr(YAR_AF_INET, "127.0.0.1", 0), to;
    ASSERT_EQ(0, YAR_Bind(listener, &at));
    ASSERT_EQ(0, YAR_Listen(listener, 0));
    ASSERT_EQ(0, YAR_GetAddrBySockFd(listener, &to, nullptr));
    int filler = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, YAR_ConnectWithTimeOut(filler, &to, 2000));

    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    std::atomic<bool> done{false};
    std::atomic<int> result{1}, error{0};
    std::thread connector([&] {
        result = YAR_ConnectWithTimeOut(s, &to, YAR_INFINITE_TIMEOUT);
        error = YAR_GetSystemLastError();
        done = true;
    });
    auto start = Clock::now();
    int accepted = -1;
    while (!done && MsSince(start) < 20000) {
        pthread_kill(connector.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (accepted < 0 && MsSince(start) > 300)
            accepted = YAR_Accept(listener, nullptr, 1000);  // room for the retried SYN
    }
    connector.join();
    EXPECT_EQ(0, result.load()) << "system error " << error.load();
    EXPECT_FALSE(IsNonBlocking(s));
    for (int sock : {s, filler, accepted, listener})
        if (sock >= 0)
            YAR_CloseSocket(sock, 1);
}

// Signals (handler without SA_RESTART) at a thread blocked in a receive: the receive goes on and
// returns the datagram that comes later, instead of failing with EINTR.
TEST(Socket, SignalDuringBlockingReceiveKeepsWaiting) {
    InterruptingSignal interrupting;
    int rx = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int tx = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    YAR_ADDR_T at = Addr(YAR_AF_INET, "127.0.0.1", 0), to;
    ASSERT_EQ(0, YAR_Bind(rx, &at));
    ASSERT_EQ(0, YAR_GetAddrBySockFd(rx, &to, nullptr));
    std::atomic<bool> done{false};
    std::atomic<int> results[2] = {{1}, {1}};
    std::thread receiver([&] {
        char buf[16];
        YAR_ADDR_T from;
        results[0] = YAR_RecvFrom(rx, buf, sizeof buf, &from);
        results[1] = YAR_Recv(rx, buf, sizeof buf);
        done = true;
    });
    auto start = Clock::now();
    for (int sent = 0; !done && MsSince(start) < 20000; ++sent) {
        for (int i = 0; i < 10; ++i) {
            pthread_kill(receiver.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (sent < 2) {
            EXPECT_EQ(5, YAR_SendTo(tx, "later", 5, &to));
        }
    }
    receiver.join();
    EXPECT_EQ(5, results[0].load());
    EXPECT_EQ(5, results[1].load());
    YAR_CloseSocket(rx, 0);
    YAR_CloseSocket(tx, 0);
}

// A peer whose neighbour entry points at a MAC that nobody answers for: the SYN goes nowhere.
TEST(Socket, ConnectTimeOutToSilentHost) {
    ZEVA_NETNS_LAB(lab);
    std::string a = lab.Add("conn"), b = lab.Add("void");
    lab.Veth(a, "v0", "10.55.0.1/24", b, "v1", "");
    lab.Ip(a, "neigh add 10.55.0.2 lladdr 02:00:00:00:00:99 dev v0 nud permanent");
    zeva::test::EnterNetns in(a);
    ZEVA_REQUIRE_NETNS();

    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    YAR_ADDR_T to = Addr(YAR_AF_INET, "10.55.0.2", 80);
    auto start = Clock::now();
    EXPECT_EQ(-1, YAR_ConnectWithTimeOut(s, &to, 300));
    long elapsed = MsSince(start);
    EXPECT_EQ(YAR_SYSERR_WSAETIMEDOUT, YAR_GetSystemLastError());
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 3000);
    EXPECT_FALSE(IsNonBlocking(s));
    YAR_CloseSocket(s, 1);
}

// The peer sends one byte every 150 ms: a 1000 ms receive of 100 bytes ends after about 1 s with
// what arrived, instead of restarting its wait at every byte.
TEST(Socket, RecvnBoundHoldsAgainstTricklingPeer) {
    TcpPair pair;
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        while (!stop) {
            YAR_Send(pair.server, "x", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    char buf[100];
    auto start = Clock::now();
    int got = YAR_Recvn(pair.client, buf, sizeof buf, 1000);
    long elapsed = MsSince(start);
    stop = true;
    trickler.join();
    EXPECT_GE(got, 2);
    EXPECT_LT(got, 100);
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
}

// The peer reads one small piece every 100 ms from full buffers: a 1000 ms send of 4 MiB ends
// after about 1 s with the count that went out.
TEST(Socket, SendnBoundHoldsAgainstSlowReader) {
    TcpPair pair(4096);
    std::atomic<bool> stop{false};
    std::atomic<long> drained{0};
    std::thread reader([&] {
        char buf[512];
        while (!stop) {
            int n = YAR_RecvWithTimeOut(pair.server, buf, sizeof buf, 100);
            if (n > 0)
                drained += n;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::vector<char> data(4 << 20, 'y');
    auto start = Clock::now();
    int sent = YAR_Sendn(pair.client, data.data(), int(data.size()), 1000);
    long elapsed = MsSince(start);
    stop = true;
    reader.join();
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, int(data.size()));
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
}

TEST(Socket, SendnAndRecvnEdges) {
    TcpPair pair;
    // Time-out 0: one pass, what fits at once.
    EXPECT_EQ(5, YAR_Sendn(pair.client, "12345", 5, 0));
    char buf[16];
    EXPECT_EQ(5, YAR_Recvn(pair.server, buf, 5, 1000));
    // Nothing arrives: the partial count (0) after the time-out; RecvWithTimeOut gives 0.
    auto start = Clock::now();
    EXPECT_EQ(0, YAR_Recvn(pair.server, buf, 4, 200));
    EXPECT_GE(MsSince(start), 190);
    EXPECT_EQ(0, YAR_RecvWithTimeOut(pair.server, buf, 4, 100));
    // The peer closes after half the data: -1, also though bytes arrived.
    EXPECT_EQ(4, YAR_Send(pair.client, "half", 4));
    YAR_CloseSocket(pair.client, 1);
    pair.client = -1;
    EXPECT_EQ(-1, YAR_Recvn(pair.server, buf, 8, 1000));
    EXPECT_EQ(-1, YAR_Sendn(pair.server, nullptr, 4, 100));
}

// A peer that resets the connection: sends fail with an error and the process lives on.
TEST(Socket, ResetPeerDoesNotRaiseSigpipe) {
    signal(SIGPIPE, SIG_DFL);
    TcpPair pair;
    ASSERT_EQ(0, YAR_LingerOn(pair.server, 0));
    YAR_CloseSocket(pair.server, 0);  // abortive close: RST
    pair.server = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const char data[1000] = {};
    int results = 0;
    for (int i = 0; i < 5; ++i) {
        results += YAR_Send(pair.client, data, sizeof data) < 0;
        results += YAR_Sendn(pair.client, data, sizeof data, 200) <= 0;
    }
    EXPECT_EQ(10, results);
    int err = YAR_GetSystemLastError();
    EXPECT_TRUE(err == YAR_SYSERR_WSAECONNRESET || err == YAR_SYSERR_WSAECONNABORTED) << err;
    YAR_ADDR_T to = Addr(YAR_AF_INET, "127.0.0.1", 9);
    EXPECT_EQ(-1, YAR_SendTo(pair.client, data, 10, &to));
}

// The shared-socket shutdown: a thread blocked in a receive wakes when the socket is closed.
TEST(Socket, CloseWakesBlockedReceiver) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer counts closing a descriptor that another thread reads as a race";
#endif
    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    YAR_ADDR_T any = Addr(YAR_AF_INET, "127.0.0.1", 0);
    ASSERT_EQ(0, YAR_Bind(s, &any));
    std::atomic<int> result{1};
    std::atomic<pid_t> tid{0};
    std::thread t([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        char buf[16];
        YAR_ADDR_T from;
        result = YAR_RecvFrom(s, buf, sizeof buf, &from);
    });
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while ((tid == 0 || BlockedSyscall(tid) != SYS_recvfrom) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(BlockedSyscall(tid), SYS_recvfrom) << "the receiver never blocked";
    auto start = Clock::now();
    YAR_CloseSocket(s, 1);
    t.join();
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(result, 0);  // the shutdown ends the receive as an orderly end, not an error
}

// A shut-down socket is readable for ever with nothing to read: a reader blocked in a bounded
// receive wakes at the shutdown and ends with an error instead of spinning until its time-out.
TEST(Socket, ShutdownEndsABlockedBoundedReceiveAtOnce) {
    struct Case {
        const char *name;
        int how;
        bool recvn;
    };
    for (const Case &c : {Case{"read side, RecvWithTimeOut", SHUT_RD, false},
                          Case{"read side, Recvn", SHUT_RD, true},
                          Case{"both sides, RecvWithTimeOut", SHUT_RDWR, false},
                          Case{"both sides, Recvn", SHUT_RDWR, true}}) {
        SCOPED_TRACE(c.name);
        int s = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        YAR_ADDR_T any = Addr(YAR_AF_INET, "127.0.0.1", 0);
        ASSERT_EQ(0, YAR_Bind(s, &any));
        std::atomic<pid_t> tid{0};
        std::promise<void> done;
        int result = 1, err = 0;
        int64_t cpuUs = 0;
        std::thread reader([&] {
            tid = static_cast<pid_t>(syscall(SYS_gettid));
            char buf[8];
            timespec t0, t1;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
            result = c.recvn ? YAR_Recvn(s, buf, sizeof buf, 3000) : YAR_RecvWithTimeOut(s, buf, sizeof buf, 3000);
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
            err = YAR_GetSystemLastError();
            cpuUs = (t1.tv_sec - t0.tv_sec) * 1000000 + (t1.tv_nsec - t0.tv_nsec) / 1000;
            done.set_value();
        });
        auto deadline = Clock::now() + std::chrono::seconds(2);
        while ((tid == 0 || BlockedSyscall(tid) != SYS_poll) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(BlockedSyscall(tid), SYS_poll) << "the reader never blocked";
        auto start = Clock::now();
        shutdown(s, c.how);  // unconnected UDP answers ENOTCONN but is shut down all the same
        bool ended = done.get_future().wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
        EXPECT_TRUE(ended) << "still receiving " << MsSince(start) << " ms after the shutdown";
        if (!ended)
            close(s);  // a closed descriptor ends the wait, so a spinning reader can be joined
        reader.join();
        EXPECT_EQ(-1, result);
        EXPECT_EQ(YAR_SYSERR_WSAESHUTDOWN, err);
        EXPECT_LT(cpuUs, 50000) << "the reader spun";
        if (ended)
            YAR_CloseSocket(s, 1);
    }
}

TEST(Socket, UdpLoopback) {
    for (const char *text : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(text);
        int family = std::strchr(text, ':') ? YAR_AF_INET6 : YAR_AF_INET;
        int rx = YAR_CreateSocket(family, SOCK_DGRAM, IPPROTO_UDP);
        int tx = YAR_CreateSocket(family, SOCK_DGRAM, IPPROTO_UDP);
        YAR_ADDR_T at = Addr(family, text, 0), rxAddr, txAddr;
        ASSERT_EQ(0, YAR_Bind(rx, &at));
        ASSERT_EQ(0, YAR_Bind(tx, &at));
        YAR_GetAddrBySockFd(rx, &rxAddr, nullptr);
        YAR_GetAddrBySockFd(tx, &txAddr, nullptr);
        EXPECT_EQ(4, YAR_SendTo(tx, "ping", 4, &rxAddr));
        char buf[16];
        YAR_ADDR_T from;
        ASSERT_EQ(4, YAR_RecvFrom(rx, buf, sizeof buf, &from));
        EXPECT_EQ(0, std::memcmp(&from, &txAddr, sizeof from));

        // Non-blocking with nothing waiting: would block.
        ASSERT_EQ(0, YAR_SetNonBlock(rx, 1));
        EXPECT_EQ(-1, YAR_RecvFrom(rx, buf, sizeof buf, nullptr));
        EXPECT_EQ(YAR_SYSERR_WSAEWOULDBLOCK, YAR_GetSystemLastError());
        YAR_CloseSocket(rx, 1);
        YAR_CloseSocket(tx, 1);
    }
}

TEST(Socket, ConnectedUdpToClosedPortIsReset) {
    int rx = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    YAR_ADDR_T at = Addr(YAR_AF_INET, "127.0.0.1", 0), closed;
    ASSERT_EQ(0, YAR_Bind(rx, &at));
    YAR_GetAddrBySockFd(rx, &closed, nullptr);
    YAR_CloseSocket(rx, 1);
    int tx = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_EQ(0, YAR_ConnectWithTimeOut(tx, &closed, YAR_INFINITE_TIMEOUT));
    EXPECT_EQ(4, YAR_Send(tx, "ping", 4));
    char buf[8];
    EXPECT_EQ(-1, YAR_RecvWithTimeOut(tx, buf, sizeof buf, 1000));
    EXPECT_EQ(YAR_SYSERR_WSAECONNRESET, YAR_GetSystemLastError());
    YAR_CloseSocket(tx, 1);
}

TEST(Socket, SelectKeepsTheCallersTimeAndRefusesLargeSets) {
    TcpPair pair;
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(pair.server, &rd);
    timeval tv{0, 100000};
    EXPECT_EQ(0, YAR_Select(0, &rd, nullptr, nullptr, &tv));  // count as on Windows: ignored
    EXPECT_EQ(0, tv.tv_sec);
    EXPECT_EQ(100000, tv.tv_usec);
    YAR_Send(pair.client, "z", 1);
    FD_SET(pair.server, &rd);
    EXPECT_EQ(1, YAR_Select(pair.server + 1, &rd, nullptr, nullptr, &tv));
    EXPECT_EQ(1, YAR_FdIsSet(pair.server, &rd));
    EXPECT_EQ(-1, YAR_Select(FD_SETSIZE + 1, &rd, nullptr, nullptr, &tv));
    EXPECT_EQ(YAR_SYSERR_WSAEINVAL, YAR_GetSystemLastError());
    EXPECT_EQ(0, YAR_FdIsSet(FD_SETSIZE, &rd));
    EXPECT_EQ(0, YAR_FdIsSet(-1, &rd));
}

// Signals at a thread waiting in select: the wait goes on until the data comes.
TEST(Socket, SignalDuringSelectKeepsWaiting) {
    InterruptingSignal interrupting;
    TcpPair pair;
    std::atomic<bool> done{false};
    std::atomic<int> result{-2};
    std::thread waiter([&] {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(pair.server, &rd);
        timeval tv{20, 0};
        result = YAR_Select(pair.server + 1, &rd, nullptr, nullptr, &tv);
        done = true;
    });
    for (int i = 0; i < 10 && !done; ++i) {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(1, YAR_Send(pair.client, "s", 1));
    waiter.join();
    EXPECT_EQ(1, result.load());
}

// The remaining time is one number: 1 s 0 us with about 300 ms spent leaves about 0.7 s.
TEST(Socket, SelectExSubtractsTheElapsedTime) {
    TcpPair pair;
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        YAR_Send(pair.client, "z", 1);
    });
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(pair.server, &rd);
    timeval tv{1, 0};
    EXPECT_EQ(1, YAR_SelectEx(pair.server + 1, &rd, nullptr, nullptr, &tv));
    later.join();
    EXPECT_EQ(0, tv.tv_sec);
    EXPECT_GT(tv.tv_usec, 200000);
    EXPECT_LE(tv.tv_usec, 710000);

    FD_ZERO(&rd);
    FD_SET(pair.server, &rd);
    char c;
    YAR_Recv(pair.server, &c, 1);
    tv = {0, 150000};
    EXPECT_EQ(0, YAR_SelectEx(pair.server + 1, &rd, nullptr, nullptr, &tv));
    EXPECT_EQ(0, tv.tv_sec);
    EXPECT_EQ(0, tv.tv_usec);
}

TEST(Socket, Options) {
    int s = YAR_CreateSocket(YAR_AF_INET, SOCK_STREAM, IPPROTO_TCP);
    auto get = [&s](int level, int opt) {
        int v = -1;
        socklen_t len = sizeof v;
        getsockopt(s, level, opt, &v, &len);
        return v;
    };
    EXPECT_EQ(0, YAR_SetReuseAddr(s, 1));
    EXPECT_EQ(1, get(SOL_SOCKET, SO_REUSEADDR));
    EXPECT_EQ(0, YAR_SetBroadcast(s));
    EXPECT_EQ(1, get(SOL_SOCKET, SO_BROADCAST));
    EXPECT_EQ(0, YAR_SetKeepAlive(s, 1));
    EXPECT_EQ(1, get(SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(0, YAR_SetNoDelay(s, 1));
    EXPECT_EQ(1, get(IPPROTO_TCP, TCP_NODELAY));

    EXPECT_EQ(0, YAR_LingerOn(s, 7));
    linger l{};
    socklen_t len = sizeof l;
    getsockopt(s, SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(1, l.l_onoff);
    EXPECT_EQ(7, l.l_linger);
    EXPECT_EQ(0, YAR_LingerOff(s));
    getsockopt(s, SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(0, l.l_onoff);

    EXPECT_EQ(0, YAR_SetTimeOut(s, 1500, 250));
    timeval tv{};
    len = sizeof tv;
    getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    EXPECT_EQ(0, tv.tv_sec);
    EXPECT_NEAR(250000, tv.tv_usec, 10000);  // the kernel keeps it in clock ticks
    getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, &len);
    EXPECT_EQ(1, tv.tv_sec);
    EXPECT_NEAR(500000, tv.tv_usec, 10000);

    int sndBefore = 0, rcv = 0, snd = 0;
    ASSERT_EQ(0, YAR_GetBuffSize(s, &sndBefore, nullptr));
    EXPECT_EQ(0, YAR_SetBuffSize(s, 0, 8192));  // zero leaves that buffer alone
    EXPECT_EQ(0, YAR_GetBuffSize(s, &snd, &rcv));
    EXPECT_EQ(sndBefore, snd);
    EXPECT_EQ(2 * 8192, rcv);  // the kernel doubles the request

    int v = 0;
    EXPECT_EQ(0, YAR_SetTTL(s, 17));
    EXPECT_EQ(0, YAR_GetTTL(s, &v));
    EXPECT_EQ(17, v);
    EXPECT_EQ(0, YAR_SetTOS(s, 0x10));
    EXPECT_EQ(0, YAR_GetTOS(s, &v));
    EXPECT_EQ(0x10, v);
    EXPECT_EQ(-1, YAR_GetTTL(s, nullptr));
    YAR_CloseSocket(s, 0);

    s = YAR_CreateSocket(YAR_AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_EQ(0, YAR_SetMultiCastTTL(s, 3));
    EXPECT_EQ(3, get(IPPROTO_IP, IP_MULTICAST_TTL));
    YAR_CloseSocket(s, 0);

    int s6 = YAR_CreateSocket(YAR_AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_EQ(0, YAR_SetTTL6(s6, 9));
    EXPECT_EQ(0, YAR_GetTTL6(s6, &v));
    EXPECT_EQ(9, v);
    EXPECT_EQ(0, YAR_SetMultiCastHops6(s6, 4));
    s = s6;
    EXPECT_EQ(4, get(IPPROTO_IPV6, IPV6_MULTICAST_HOPS));
    EXPECT_EQ(0, YAR_SetMultiCastTTL6(s6, 5));
    EXPECT_EQ(5, get(IPPROTO_IPV6, IPV6_MULTICAST_HOPS));
    EXPECT_EQ(0, YAR_SetMultiCastLoop6(s6, 0));
    EXPECT_EQ(0, get(IPPROTO_IPV6, IPV6_MULTICAST_LOOP));
    int avail = -1;
    EXPECT_EQ(0, YAR_IoCtl(s6, FIONREAD, &avail));
    EXPECT_EQ(0, avail);
    YAR_CloseSocket(s6, 0);

    EXPECT_EQ(-1, YAR_SetReuseAddr(-1, 1));
    EXPECT_EQ(YAR_SYSERR_WSAEBADF, YAR_GetSystemLastError());
}

TEST(Socket, StartupFlag) {
    EXPECT_EQ(0, YAR_WSAStartup());
    EXPECT_TRUE(yar::internal::SocketsStarted());
    EXPECT_EQ(0, YAR_WSAStartup());
    EXPECT_EQ(0, YAR_WSACleanup());
    EXPECT_FALSE(yar::internal::SocketsStarted());
    EXPECT_EQ(0, YAR_WSACleanup());
}

}  // namespace
