#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_asyncio.h"
#include "yar/yar_debug.h"
#include "yar/yar_error.h"
#include "yar/yar_init.h"
#include "yar/yar_socket.h"

using std::chrono::milliseconds;

namespace {

struct Completion {
    int32_t error;
    int32_t bytes;
    void *user;
    std::thread::id thread;
};

// Every completion of the test lands here.
class Collector {
public:
    static Collector *current;

    static int32_t Routine(int32_t error, int32_t bytes, void *user) {
        Collector *c = current;
        std::lock_guard<std::mutex> lock(c->lock_);
        c->seen_.push_back({error, bytes, user, std::this_thread::get_id()});
        c->changed_.notify_all();
        return 0;
    }

    bool WaitFor(size_t count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, milliseconds(timeoutMs), [&] { return seen_.size() >= count; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(lock_);
        return seen_.size();
    }
    std::vector<Completion> Seen() {
        std::lock_guard<std::mutex> lock(lock_);
        return seen_;
    }
    // The one completion of the tag; fails the test when there is not exactly one.
    Completion Of(void *user) {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<Completion> found;
        for (const Completion &c : seen_)
            if (c.user == user)
                found.push_back(c);
        EXPECT_EQ(found.size(), 1u) << "completions of tag " << user;
        return found.empty() ? Completion{-99, -99, nullptr, {}} : found[0];
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Completion> seen_;
};
Collector *Collector::current = nullptr;

void *Tag(intptr_t n) {
    return reinterpret_cast<void *>(n);
}

int Listener(uint16_t *port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(s, 1024) != 0)
        return -1;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

int ConnectTo(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return connect(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0 ? s : -1;
}

// The address an accept wrote into half 0 (local) or 1 (peer) of its output buffer.
YAR_ADDR_T AcceptAddr(const char *out, int half) {
    YAR_ADDR_T addr{};
    std::memcpy(&addr, out + half * (YAR_ASYNCIO_ACCEPT_OUTPUT / 2), sizeof(addr));
    return addr;
}

uint16_t LocalPort(int s) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

bool ReadAll(int s, char *buf, size_t len) {
    while (len > 0) {
        ssize_t n = recv(s, buf, len, 0);
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

class AsyncIo : public ::testing::Test {
protected:
    void SetUp() override {
        Collector::current = &collector_;
        ASSERT_EQ(YAR_AsyncIO_Init(), 0);
        queue_ = YAR_AsyncIO_CreateQueueEx_New(4);
        ASSERT_NE(queue_, nullptr);
    }
    void TearDown() override {
        YAR_AsyncIO_Fini();  // destroys the queue too
        for (int s : open_)
            close(s);
    }

    int Keep(int s) {
        open_.push_back(s);
        return s;
    }
    void Drop(int s) {
        open_.erase(std::find(open_.begin(), open_.end(), s));
        close(s);
    }
    int CloseKept(int s) {
        open_.erase(std::find(open_.begin(), open_.end(), s));
        return YAR_CloseSocket(s, 0);
    }
    // A connected pair; the server side is bound to the queue (the test's by default).
    void Pair(int *client, int *server, YAR_IOQUEUE queue = nullptr) {
        uint16_t port = 0;
        int l = Keep(Listener(&port));
        *client = Keep(ConnectTo(port));
        *server = Keep(accept4(l, nullptr, nullptr, SOCK_CLOEXEC));
        ASSERT_GE(*server, 0);
        ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(*server, queue ? queue : queue_), 0);
    }

    Collector collector_;
    YAR_IOQUEUE queue_ = nullptr;
    std::vector<int> open_;
};

TEST_F(AsyncIo, ImmediateAndDeferredReceivesCompleteOnAWorker) {
    int client, server;
    Pair(&client, &server);
    ASSERT_EQ(send(client, "ping", 4, 0), 4);
    std::this_thread::sleep_for(milliseconds(20));
    char now[8] = {}, later[8] = {};
    ASSERT_EQ(YAR_AsyncIO_RecvEx(server, now, sizeof(now), Tag(1), Collector::Routine), 0);
    ASSERT_TRUE(collector_.WaitFor(1));
    ASSERT_EQ(YAR_AsyncIO_RecvEx(server, later, sizeof(later), Tag(2), Collector::Routine), 0);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(collector_.Count(), 1u) << "a receive completed without data";
    ASSERT_EQ(send(client, "pong!", 5, 0), 5);
    ASSERT_TRUE(collector_.WaitFor(2));
    Completion first = collector_.Of(Tag(1)), second = collector_.Of(Tag(2));
    EXPECT_EQ(first.error, 0);
    EXPECT_EQ(first.bytes, 4);
    EXPECT_EQ(std::string(now), "ping");
    EXPECT_EQ(second.error, 0);
    EXPECT_EQ(second.bytes, 5);
    EXPECT_EQ(std::string(later), "pong!");
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_NE(second.thread, std::this_thread::get_id());
}

TEST_F(AsyncIo, ReceivesFillInPostingOrder) {
    int client, server;
    Pair(&client, &server);
    char bufs[3][4];
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(YAR_AsyncIO_RecvEx(server, bufs[i], 4, Tag(i + 1), Collector::Routine), 0);
    ASSERT_EQ(send(client, "AAAABBBBCCCC", 12, 0), 12);
    ASSERT_TRUE(collector_.WaitFor(3));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(collector_.Of(Tag(i + 1)).bytes, 4);
        EXPECT_EQ(std::string(bufs[i], 4), std::string(4, char('A' + i)));
    }
}

TEST_F(AsyncIo, SendsGoOutInPostingOrderAndOwnTheirData) {
    int client, server;
    Pair(&client, &server);
    constexpr int kSends = 64;
    constexpr int kSize = 16384;
    std::vector<char> buf(kSize);
    // Far more than the socket buffers hold: most sends wait, and the caller overwrites its
    // buffer right after each post.
    for (int i = 0; i < kSends; ++i) {
        std::memset(buf.data(), 'a' + i % 26, kSize);
        ASSERT_EQ(YAR_AsyncIO_SendEx(server, buf.data(), kSize, Tag(i + 1), Collector::Routine), 0);
    }
    std::memset(buf.data(), '#', kSize);
    std::vector<char> in(kSize);
    for (int i = 0; i < kSends; ++i) {
        ASSERT_TRUE(ReadAll(client, in.data(), kSize));
        ASSERT_EQ(in, std::vector<char>(kSize, char('a' + i % 26))) << "send " << i;
    }
    ASSERT_TRUE(collector_.WaitFor(kSends));
    for (int i = 0; i < kSends; ++i) {
        Completion c = collector_.Of(Tag(i + 1));
        EXPECT_EQ(c.error, 0);
        EXPECT_EQ(c.bytes, kSize);
    }
}

TEST_F(AsyncIo, PeerEndsAreReportedToAWaitingOrANewReceive) {
    struct Case {
        const char *name;
        bool reset;        // a reset instead of an orderly close
        bool beforePost;   // the peer acts before the receive is posted
        int32_t error;
    } cases[] = {
        {"end of stream, waiting", false, false, 0},
        {"end of stream, posted after", false, true, 0},
        {"reset, waiting", true, false, YAR_SYSERR_WSAECONNRESET},
        {"reset, posted after", true, true, YAR_SYSERR_WSAECONNRESET},
    };
    intptr_t tag = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int client, server;
        Pair(&client, &server);
        auto peerAct = [&] {
            if (c.reset) {
                linger lg{1, 0};  // close sends a reset
                setsockopt(client, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
                Drop(client);
            } else {
                shutdown(client, SHUT_WR);
            }
        };
        char buf[16];
        size_t before = collector_.Count();
        if (c.beforePost) {
            peerAct();
            std::this_thread::sleep_for(milliseconds(20));
        }
        int posted = YAR_AsyncIO_RecvEx(server, buf, sizeof(buf), Tag(++tag), Collector::Routine);
        if (!c.beforePost)
            peerAct();
        if (posted != 0) {
            // A reset that is already known refuses the receive at once.
            EXPECT_TRUE(c.reset && c.beforePost);
            EXPECT_EQ(YAR_GetSystemLastError(), c.error);
            continue;
        }
        ASSERT_TRUE(collector_.WaitFor(before + 1));
        Completion done = collector_.Of(Tag(tag));
        EXPECT_EQ(done.error, c.error);
        EXPECT_EQ(done.bytes, 0);
    }
}

TEST_F(AsyncIo, CloseCompletesWaitingOperationsWith995) {
    int client, server;
    Pair(&client, &server);
    char a[8], b[8];
    ASSERT_EQ(YAR_AsyncIO_RecvEx(server, a, sizeof(a), Tag(1), Collector::Routine), 0);
    ASSERT_EQ(YAR_AsyncIO_RecvEx(server, b, sizeof(b), Tag(2), Collector::Routine), 0);
    ASSERT_EQ(CloseKept(server), 0);
    ASSERT_TRUE(collector_.WaitFor(2));
    for (intptr_t t : {1, 2}) {
        Completion c = collector_.Of(Tag(t));
        EXPECT_EQ(c.error, YAR_SYSERR_OPERATION_ABORTED);
        EXPECT_EQ(c.bytes, 0);
    }
    EXPECT_EQ(YAR_AsyncIO_RecvEx(server, a, sizeof(a), Tag(3), Collector::Routine), -1);

    // A waiting accept ends the same way, and its accept socket is closed.
    uint16_t port = 0;
    int listener = Listener(&port);
    ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(listener, queue_), 0);
    int acceptSock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    char out[YAR_ASYNCIO_ACCEPT_OUTPUT];
    ASSERT_EQ(YAR_AsyncIO_Accept(listener, out, acceptSock, Tag(4), Collector::Routine), 0);
    ASSERT_EQ(YAR_CloseSocket(listener, 0), 0);
    ASSERT_TRUE(collector_.WaitFor(3));
    EXPECT_EQ(collector_.Of(Tag(4)).error, YAR_SYSERR_OPERATION_ABORTED);
    EXPECT_EQ(fcntl(acceptSock, F_GETFD), -1);
}

TEST_F(AsyncIo, AcceptTakesTheConnectionOntoThePreCreatedSocket) {
    uint16_t port = 0;
    int listener = Keep(Listener(&port));
    ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(listener, queue_), 0);
    int acceptSock = Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    char out[YAR_ASYNCIO_ACCEPT_OUTPUT];
    ASSERT_EQ(YAR_AsyncIO_Accept(listener, out, acceptSock, Tag(1), Collector::Routine), 0);
    int client = Keep(ConnectTo(port));
    ASSERT_TRUE(collector_.WaitFor(1));
    Completion c = collector_.Of(Tag(1));
    EXPECT_EQ(c.error, 0);
    EXPECT_EQ(c.bytes, acceptSock);
    YAR_ADDR_T local = AcceptAddr(out, 0), peer = AcceptAddr(out, 1);
    EXPECT_EQ(YAR_GetAddrPort(&local), port);
    EXPECT_EQ(YAR_GetAddrPort(&peer), LocalPort(client));

    // The accept socket now is the connection.
    ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(acceptSock, queue_), 0);
    char buf[8] = {};
    ASSERT_EQ(YAR_AsyncIO_RecvEx(acceptSock, buf, sizeof(buf), Tag(2), Collector::Routine), 0);
    ASSERT_EQ(send(client, "hi", 2, 0), 2);
    ASSERT_TRUE(collector_.WaitFor(2));
    EXPECT_EQ(collector_.Of(Tag(2)).bytes, 2);
    EXPECT_EQ(std::string(buf), "hi");

    // AcceptEx makes the accept socket itself; a connection already queued completes at once.
    int second = Keep(ConnectTo(port));
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_EQ(YAR_AsyncIO_AcceptEx(listener, out, Tag(3), Collector::Routine), 0);
    ASSERT_TRUE(collector_.WaitFor(3));
    c = collector_.Of(Tag(3));
    EXPECT_EQ(c.error, 0);
    ASSERT_GT(c.bytes, 0);
    Keep(c.bytes);
    peer = AcceptAddr(out, 1);
    EXPECT_EQ(YAR_GetAddrPort(&peer), LocalPort(second));
}

TEST_F(AsyncIo, ConnectReportsTheOutcome) {
    uint16_t open = 0, closed = 0;
    Keep(Listener(&open));
    close(Listener(&closed));  // a port nobody listens on any more
    struct Case {
        uint16_t port;
        int32_t error;
    } cases[] = {{open, 0}, {closed, YAR_SYSERR_WSAECONNREFUSED}};
    intptr_t tag = 0;
    for (const Case &c : cases) {
        int s = Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(s, queue_), 0);
        YAR_ADDR_T to;
        YAR_MakeAddrByString(2, "127.0.0.1", c.port, &to);
        int posted = YAR_AsyncIO_ConnectEx(s, &to, nullptr, 0, Tag(++tag), Collector::Routine, 0);
        if (posted != 0) {
            EXPECT_EQ(YAR_GetSystemLastError(), c.error);  // refused at once
            continue;
        }
        ASSERT_TRUE(collector_.WaitFor(tag));
        EXPECT_EQ(collector_.Of(Tag(tag)).error, c.error) << "port " << c.port;
    }
}

TEST_F(AsyncIo, DatagramsCarryTheirAddresses) {
    int a = Keep(YAR_CreateSocket(2, 2, 17));
    int b = Keep(YAR_CreateSocket(2, 2, 17));
    YAR_ADDR_T any;
    YAR_MakeAddrByString(2, "127.0.0.1", 0, &any);
    ASSERT_EQ(YAR_Bind(a, &any), 0);
    ASSERT_EQ(YAR_Bind(b, &any), 0);
    YAR_ADDR_T addrA{}, addrB{}, from{};
    YAR_GetAddrBySockFd(a, &addrA, nullptr);
    YAR_GetAddrBySockFd(b, &addrB, nullptr);
    ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(a, queue_), 0);

    char in[32] = {};
    from.family = 2;
    ASSERT_EQ(YAR_AsyncIO_RecvFromEx(a, in, sizeof(in), Tag(1), &from, Collector::Routine), 0);
    ASSERT_EQ(YAR_SendTo(b, "dgram", 5, &addrA), 5);
    ASSERT_TRUE(collector_.WaitFor(1));
    EXPECT_EQ(collector_.Of(Tag(1)).bytes, 5);
    EXPECT_EQ(std::string(in), "dgram");
    EXPECT_EQ(YAR_GetAddrPort(&from), YAR_GetAddrPort(&addrB));

    ASSERT_EQ(YAR_AsyncIO_SendToEx(a, "back", 4, Tag(2), &addrB, Collector::Routine), 0);
    ASSERT_TRUE(collector_.WaitFor(2));
    EXPECT_EQ(collector_.Of(Tag(2)).bytes, 4);
    char back[8] = {};
    EXPECT_EQ(recv(b, back, sizeof(back), 0), 4);
    EXPECT_EQ(std::string(back), "back");
}

void CaptureText(const char *text, void *user) {
    *static_cast<std::string *>(user) = text;
}

TEST_F(AsyncIo, UserPostsAndRefusedArguments) {
    int key = 0;
    ASSERT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(queue_, &key, 7, 42, Tag(1), Collector::Routine), 0);
    ASSERT_TRUE(collector_.WaitFor(1));
    Completion c = collector_.Of(Tag(1));
    EXPECT_EQ(c.error, 7);
    EXPECT_EQ(c.bytes, 42);

    std::string text;
    YAR_DEBUG_SINK previous = YAR_SetDebugSink(CaptureText, &text);
    char buf[4];
    EXPECT_EQ(YAR_AsyncIO_SendEx(5, buf, 4, nullptr, nullptr), -1);
    EXPECT_EQ(text, "YAR_AsyncIO_SendEx Invalid param");
    YAR_SetDebugSink(previous, nullptr);

    int unbound = Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int client, server;
    Pair(&client, &server);
    EXPECT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(queue_, nullptr, 7, 42, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(nullptr, &key, 7, 42, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_RecvEx(0, buf, 4, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_RecvEx(unbound, buf, 4, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_RecvEx(server, buf, -1, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_SendToEx(server, buf, 4, Tag(2), nullptr, Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_ConnectEx(server, nullptr, nullptr, 0, Tag(2), Collector::Routine, 0), -1);
    EXPECT_EQ(YAR_AsyncIO_Accept(server, nullptr, unbound, Tag(2), Collector::Routine), -1);
    EXPECT_EQ(YAR_AsyncIO_UnBindIOHandleEx(server, queue_), 0);
    EXPECT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(server, queue_), 0);  // again: no change
    YAR_IOQUEUE other = YAR_AsyncIO_CreateQueueEx2(1);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(server, other), -1);
    EXPECT_EQ(YAR_AsyncIO_DestroyQueueEx(other), 1);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(collector_.Count(), 1u);
}

TEST_F(AsyncIo, PreAllocatedStoreRunsOutAndRefills) {
    struct Case {
        int32_t count;
        int32_t ring;
        size_t records;
        bool message;
    } cases[] = {{5000, 0, 100000, true}, {200000, 1, 100000, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        YAR_AsyncIO_Fini();
        ASSERT_EQ(YAR_AsyncIO_Init(), 0);
        queue_ = YAR_AsyncIO_CreateQueueEx_New(4);
        std::string text;
        YAR_DEBUG_SINK previous = YAR_SetDebugSink(CaptureText, &text);
        ASSERT_EQ(YAR_AsyncIO_SetPreMem(c.count, c.ring), 0);
        YAR_SetDebugSink(previous, nullptr);
        EXPECT_EQ(!text.empty(), c.message) << text;
        EXPECT_EQ(YAR_AsyncIO_SetPreMem(c.count, !c.ring), 0);  // a second switch changes nothing

        int client, server;
        Pair(&client, &server);
        static char sink[4];
        size_t posted = 0;
        while (posted <= c.records && YAR_AsyncIO_RecvEx(server, sink, 0, Tag(1), Collector::Routine) == 0)
            ++posted;
        EXPECT_EQ(posted, c.records);
        size_t before = collector_.Count();
        ASSERT_EQ(CloseKept(server), 0);
        ASSERT_TRUE(collector_.WaitFor(before + posted, 20000));
        // A worker returns its record only after the routine has returned, so the last few come
        // back a little later: once they are all back, as many can wait again, and not one more.
        Pair(&client, &server);
        posted = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (posted < c.records && std::chrono::steady_clock::now() < end) {
            if (YAR_AsyncIO_RecvEx(server, sink, 0, Tag(1), Collector::Routine) == 0)
                ++posted;
            else
                std::this_thread::sleep_for(milliseconds(1));
        }
        EXPECT_EQ(posted, c.records);
        EXPECT_EQ(YAR_AsyncIO_RecvEx(server, sink, 0, Tag(1), Collector::Routine), -1);
    }
}

TEST_F(AsyncIo, DestroyRunsOrEndsEverythingBeforeItReturns) {
    std::vector<std::vector<char>> bufs(8, std::vector<char>(64));
    for (int i = 0; i < 8; ++i) {
        int client, server;
        Pair(&client, &server);
        ASSERT_EQ(YAR_AsyncIO_RecvEx(server, bufs[i].data(), 64, Tag(i + 1), Collector::Routine), 0);
    }
    int key = 0;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(queue_, &key, 0, 0, Tag(100), Collector::Routine), 0);
    ASSERT_EQ(YAR_AsyncIO_DestroyQueueEx(queue_), 1);
    size_t atReturn = collector_.Count();
    EXPECT_EQ(atReturn, 1008u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(collector_.Of(Tag(i + 1)).error, YAR_SYSERR_OPERATION_ABORTED);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(collector_.Count(), atReturn);
    EXPECT_EQ(YAR_AsyncIO_DestroyQueueEx(queue_), -1);
    EXPECT_EQ(YAR_AsyncIO_DestroyQueueEx(nullptr), -1);
}

std::atomic<int> g_destroyResult{0};
YAR_IOQUEUE g_destroyTarget = nullptr;

int32_t DestroyOwnQueue(int32_t, int32_t, void *) {
    g_destroyResult = YAR_AsyncIO_DestroyQueueEx(g_destroyTarget);
    return 0;
}

TEST_F(AsyncIo, AWorkerCannotDestroyItsOwnQueue) {
    g_destroyTarget = queue_;
    int key = 0;
    ASSERT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(queue_, &key, 0, 0, nullptr, DestroyOwnQueue), 0);
    for (int i = 0; i < 5000 && g_destroyResult == 0; ++i)
        std::this_thread::sleep_for(milliseconds(2));
    EXPECT_EQ(g_destroyResult.load(), -1);
}

// ---- How the workers share a queue ----

// A routine that starts another operation of its own queue and blocks until that one completes.
struct Waiter {
    enum Kind { kPost, kReadyReceive, kLaterReceive } kind = kPost;
    YAR_IOQUEUE queue = nullptr;
    int sock = -1;
    char buf[8] = {};
    std::mutex lock;
    std::condition_variable changed;
    bool started = false, inner = false, outer = false;

    void Set(bool Waiter::*flag) {
        std::lock_guard<std::mutex> guard(lock);
        this->*flag = true;
        changed.notify_all();
    }
    bool WaitFor(bool Waiter::*flag, int timeoutMs) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, milliseconds(timeoutMs), [&] { return this->*flag; });
    }
    static int32_t Inner(int32_t, int32_t, void *user) {
        static_cast<Waiter *>(user)->Set(&Waiter::inner);
        return 0;
    }
    static int32_t Outer(int32_t, int32_t, void *user) {
        auto *w = static_cast<Waiter *>(user);
        int key = 0;
        int posted = w->kind == kPost ? YAR_AsyncIO_PostQueuedCompleteStatusEx(w->queue, &key, 0, 0, w, Inner)
                                      : YAR_AsyncIO_RecvEx(w->sock, w->buf, sizeof(w->buf), w, Inner);
        w->Set(&Waiter::started);
        if (posted == 0 && w->WaitFor(&Waiter::inner, 5000))
            w->Set(&Waiter::outer);
        return 0;
    }
};

TEST_F(AsyncIo, ARoutineThatWaitsForAnotherCompletionOfItsQueueFinishes) {
    const char *kKinds[] = {"user post", "receive with data there", "receive with data later"};
    for (int workers : {1, 4}) {
        YAR_IOQUEUE queue = YAR_AsyncIO_CreateQueueEx_New(workers);
        ASSERT_NE(queue, nullptr);
        for (Waiter::Kind kind : {Waiter::kPost, Waiter::kReadyReceive, Waiter::kLaterReceive}) {
            SCOPED_TRACE(std::to_string(workers) + " workers, " + kKinds[kind]);
            int client, server;
            Pair(&client, &server, queue);
            if (kind == Waiter::kReadyReceive) {
                ASSERT_EQ(send(client, "now", 3, 0), 3);
            }
            Waiter w;
            w.kind = kind;
            w.queue = queue;
            w.sock = server;
            int key = 0;
            ASSERT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(queue, &key, 0, 0, &w, Waiter::Outer), 0);
            ASSERT_TRUE(w.WaitFor(&Waiter::started, 5000));
            if (kind == Waiter::kLaterReceive) {
                ASSERT_EQ(send(client, "later", 5, 0), 5);
            }
            EXPECT_TRUE(w.WaitFor(&Waiter::outer, 5000));
            CloseKept(server);  // before `w` goes: nothing of it may still wait on the socket
        }
        EXPECT_EQ(YAR_AsyncIO_DestroyQueueEx(queue), 1);
    }
}

int32_t Nothing(int32_t, int32_t, void *) {
    return 0;
}

// User posts from another thread for as long as it lives.
class Flood {
public:
    explicit Flood(YAR_IOQUEUE queue)
        : thread_([this, queue] {
              int key = 0;
              while (on_)
                  YAR_AsyncIO_PostQueuedCompleteStatusEx(queue, &key, 0, 0, nullptr, Nothing);
          }) {}
    ~Flood() {
        on_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> on_{true};
    std::thread thread_;
};

// Many receives and sends wait on one socket while user posts keep four workers busy: the bytes
// fill the receives, and leave with the sends, in posting order.
TEST_F(AsyncIo, OrderPerSocketHoldsUnderFourWorkersAndManyPosts) {
    int client, server;
    Pair(&client, &server);
    constexpr int kOps = 2000;
    std::vector<uint32_t> in(kOps), out(kOps);
    Flood flood(queue_);
    for (int i = 0; i < kOps; ++i) {
        ASSERT_EQ(YAR_AsyncIO_RecvEx(server, &in[i], 4, Tag(i + 1), Collector::Routine), 0);
        out[i] = static_cast<uint32_t>(i);
        ASSERT_EQ(YAR_AsyncIO_SendEx(server, &out[i], 4, Tag(kOps + i + 1), Collector::Routine), 0);
    }
    // The peer writes in pieces that split the numbers, and reads back what the sends carried.
    const char *stream = reinterpret_cast<const char *>(out.data());
    for (size_t at = 0; at < out.size() * 4; at += 7)
        ASSERT_GT(send(client, stream + at, std::min<size_t>(7, out.size() * 4 - at), 0), 0);
    std::vector<uint32_t> echoed(kOps);
    ASSERT_TRUE(ReadAll(client, reinterpret_cast<char *>(echoed.data()), echoed.size() * 4));
    EXPECT_EQ(echoed, out);
    // Each receive takes at least one byte, so all complete; in posting order they hold the stream.
    ASSERT_TRUE(collector_.WaitFor(2 * kOps));
    std::string received;
    for (int i = 0; i < kOps; ++i) {
        Completion c = collector_.Of(Tag(i + 1));
        ASSERT_EQ(c.error, 0);
        received.append(reinterpret_cast<const char *>(&in[i]), c.bytes);
    }
    EXPECT_EQ(received, std::string(stream, received.size()));
}

// Routines that post more while the queue is destroyed: every post taken runs once before the
// destroy returns, and none after; the rest are refused.
struct Chain {
    YAR_IOQUEUE queue;
    std::atomic<int> ran{0}, accepted{0};
    std::atomic<bool> returned{false};
    std::atomic<int> late{0};
    static int32_t Step(int32_t, int32_t, void *user) {
        auto *c = static_cast<Chain *>(user);
        if (c->returned)
            ++c->late;
        ++c->ran;
        int key = 0;
        if (YAR_AsyncIO_PostQueuedCompleteStatusEx(c->queue, &key, 0, 0, c, Step) == 0)
            ++c->accepted;
        return 0;
    }
};

TEST_F(AsyncIo, DestroyWhileRoutinesPostMore) {
    for (int workers : {1, 4}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        Chain chain;
        chain.queue = YAR_AsyncIO_CreateQueueEx_New(workers);
        ASSERT_NE(chain.queue, nullptr);
        int key = 0;
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(YAR_AsyncIO_PostQueuedCompleteStatusEx(chain.queue, &key, 0, 0, &chain, Chain::Step), 0);
            ++chain.accepted;
        }
        while (chain.ran < 10000)
            std::this_thread::yield();
        ASSERT_EQ(YAR_AsyncIO_DestroyQueueEx(chain.queue), 1);
        chain.returned = true;
        EXPECT_EQ(chain.ran.load(), chain.accepted.load());
        std::this_thread::sleep_for(milliseconds(20));
        EXPECT_EQ(chain.late.load(), 0);
    }
}

// Echo over the queue: each server connection receives, sends the bytes back, and receives again.
struct EchoConn {
    int sock;
    std::vector<char> buf;
    std::atomic<int> failures{0};
    std::atomic<int> lastError{0};
    std::atomic<bool> ended{false};  // the last completion has run
};

int32_t EchoSent(int32_t error, int32_t, void *user);

int32_t EchoReceived(int32_t error, int32_t bytes, void *user) {
    auto *conn = static_cast<EchoConn *>(user);
    if (error != 0 || bytes == 0) {
        conn->ended = true;  // closed
        return 0;
    }
    if (YAR_AsyncIO_SendEx(conn->sock, conn->buf.data(), bytes, conn, EchoSent) != 0) {
        conn->lastError = YAR_GetSystemLastError();
        ++conn->failures;  // counts only before the close, which may come between the two steps
        conn->ended = true;
    }
    return 0;
}

int32_t EchoSent(int32_t error, int32_t, void *user) {
    auto *conn = static_cast<EchoConn *>(user);
    if (error == 0 &&
        YAR_AsyncIO_RecvEx(conn->sock, conn->buf.data(), static_cast<int32_t>(conn->buf.size()), conn, EchoReceived) != 0) {
        conn->lastError = YAR_GetSystemLastError();
        ++conn->failures;  // counts only before the close, which may come between the two steps
        conn->ended = true;
    }
    return 0;
}

TEST_F(AsyncIo, EchoTable) {
    struct Case {
        int connections;
        size_t message;
        int rounds;
    } cases[] = {{1, 64, 300}, {16, 1, 100}, {8, 16384, 30}, {4, 200000, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.connections) + " x " + std::to_string(c.message));
        std::vector<std::unique_ptr<EchoConn>> conns;
        std::vector<int> clients;
        for (int i = 0; i < c.connections; ++i) {
            int client, server;
            Pair(&client, &server);
            auto conn = std::make_unique<EchoConn>();
            conn->sock = server;
            conn->buf.resize(16384);
            ASSERT_EQ(YAR_AsyncIO_RecvEx(server, conn->buf.data(), 16384, conn.get(), EchoReceived), 0);
            conns.push_back(std::move(conn));
            clients.push_back(client);
        }
        std::vector<std::thread> threads;
        std::atomic<int> bad{0};
        for (int client : clients)
            threads.emplace_back([&, client] {
                std::vector<char> out(c.message), in(c.message);
                for (int r = 0; r < c.rounds; ++r) {
                    for (size_t k = 0; k < out.size(); ++k)
                        out[k] = static_cast<char>(k * 7 + r);
                    if (send(client, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()) ||
                        !ReadAll(client, in.data(), in.size()) || in != out) {
                        ++bad;
                        return;
                    }
                }
            });
        for (std::thread &t : threads)
            t.join();
        EXPECT_EQ(bad.load(), 0);
        for (auto &conn : conns)
            EXPECT_EQ(conn->failures.load(), 0) << "system error " << conn->lastError.load();
        for (auto &conn : conns) {
            CloseKept(conn->sock);  // ends the waiting receive with 995
            for (int i = 0; i < 5000 && !conn->ended; ++i)
                std::this_thread::sleep_for(milliseconds(2));
            EXPECT_TRUE(conn->ended.load());
        }
    }
}

}  // namespace

namespace {

TEST(AsyncIoRuntime, LastStopEndsTheQueuesBeforeItReturns) {
    Collector collector;
    Collector::current = &collector;
    ASSERT_EQ(YAR_Init(), 0);
    YAR_IOQUEUE queue = YAR_AsyncIO_CreateQueueEx();
    ASSERT_NE(queue, nullptr);
    ASSERT_EQ(YAR_AsyncIO_SetPreMem(100000, 1), 0);
    uint16_t port = 0;
    int listener = Listener(&port);
    int client = ConnectTo(port);
    int server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_EQ(YAR_AsyncIO_BindIOHandleToQueueEx(server, queue), 0);
    char buf[16];
    ASSERT_EQ(YAR_AsyncIO_RecvEx(server, buf, sizeof(buf), Tag(1), Collector::Routine), 0);
    YAR_Fini();
    EXPECT_EQ(collector.Count(), 1u);
    EXPECT_EQ(collector.Of(Tag(1)).error, YAR_SYSERR_OPERATION_ABORTED);
    EXPECT_EQ(YAR_AsyncIO_DestroyQueueEx(queue), -1);
    EXPECT_EQ(YAR_AsyncIO_RecvEx(server, buf, sizeof(buf), Tag(2), Collector::Routine), -1);
    for (int s : {listener, client, server})
        close(s);
}

}  // namespace
