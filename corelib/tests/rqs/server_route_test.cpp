// The server route over real loopback sockets: the test is the per-peer consumer (it reads each
// route's loopback socket and answers on it) and stands in for the link's callbacks. Peer
// addresses are only keys here: nothing is ever sent to them.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "service_test_util.h"
#include "transport/serverlink/udp/ServerRoute.h"

using namespace Vorezi;
using servicetest::LogCapture;
using servicetest::WaitFor;

// This program is linked with the runtime's datagram send wrapped: a thread may hold its next
// send until the test releases it.
thread_local bool t_bHoldNextSend = false;
std::atomic<bool> g_bSendHeld{false}, g_bReleaseSend{false};
extern "C" int __real_YAR_SendTo(int sock, const void *data, int len, const YAR_ADDR_T *addr);
extern "C" int __wrap_YAR_SendTo(int sock, const void *data, int len, const YAR_ADDR_T *addr) {
    if (t_bHoldNextSend) {
        t_bHoldNextSend = false;
        g_bSendHeld = true;
        servicetest::WaitFor([] { return g_bReleaseSend.load(); }, 30000);
    }
    return __real_YAR_SendTo(sock, data, len, addr);
}

namespace {

std::set<pid_t> Tasks() {
    std::set<pid_t> tids;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                tids.insert((pid_t)std::atoi(e->d_name));
        closedir(d);
    }
    return tids;
}

// The system call a thread of this process is blocked in; -1 while it runs.
long BlockedSyscall(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    in >> number;
    return number;
}

YAR_ADDR_T Peer(const char *pIP, uint16_t wPort) {
    YAR_ADDR_T addr;
    EXPECT_EQ(YAR_MakeAddrByString(2, pIP, wPort, &addr), 0);
    return addr;
}

int ThreadCount() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

std::atomic<uint32_t> g_dwTick{0};
uint32_t FakeTick() {
    return g_dwTick.load();
}

// The link's side of the callbacks: routes made, posts, and what came back for each peer.
struct Consumer {
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, int> sockOut;  // peer key -> loopback socket given at creation
    std::map<std::string, int> posts;
    std::map<std::string, std::vector<std::string>> sent;
    int iCreates = 0;
    int iSent = 0;
    int iEntered = 0;
    bool bFailCreate = false;
    bool bHoldSends = false;

    static int Create(void *pUser, int sock, YAR_ADDR_T addr) {
        auto *c = static_cast<Consumer *>(pUser);
        std::lock_guard<std::mutex> g(c->lock);
        c->iCreates++;
        if (c->bFailCreate)
            return 0;
        c->sockOut[Morva_AddrToString(&addr)] = sock;
        return 1;
    }
    static int Post(void *pUser, YAR_ADDR_T addr) {
        auto *c = static_cast<Consumer *>(pUser);
        std::lock_guard<std::mutex> g(c->lock);
        c->posts[Morva_AddrToString(&addr)]++;
        return 1;
    }
    static int Send(void *pUser, const void *pData, int iLen, YAR_ADDR_T addr) {
        auto *c = static_cast<Consumer *>(pUser);
        std::unique_lock<std::mutex> g(c->lock);
        c->iEntered++;
        c->changed.wait(g, [c] { return !c->bHoldSends; });
        c->sent[Morva_AddrToString(&addr)].emplace_back(static_cast<const char *>(pData), iLen);
        c->iSent++;
        return iLen;
    }
    SERVER_ROUTE_CALLBACKS Callbacks() { return SERVER_ROUTE_CALLBACKS{Create, Send, Post, this}; }

    int Sock(const std::string &key) {
        std::lock_guard<std::mutex> g(lock);
        auto it = sockOut.find(key);
        return it == sockOut.end() ? -1 : it->second;
    }
    int Posts(const std::string &key) {
        std::lock_guard<std::mutex> g(lock);
        return posts[key];
    }
    int Sent() {
        std::lock_guard<std::mutex> g(lock);
        return iSent;
    }
    int Entered() {
        std::lock_guard<std::mutex> g(lock);
        return iEntered;
    }
    // Reads one datagram from the peer's loopback socket and answers it there.
    std::string ReadAndAnswer(const std::string &key, const std::string &answer) {
        int sock = Sock(key);
        char buf[2048];
        sockaddr_storage from = {};
        socklen_t fromLen = sizeof(from);
        ssize_t n = recvfrom(sock, buf, sizeof(buf), 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0)
            return "<recv failed>";
        if (!answer.empty())
            sendto(sock, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&from), fromLen);
        return std::string(buf, n);
    }
};

class ServerRouteTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        g_dwTick = 1000;
    }
    // Every datagram goes in with the route's own result checked.
    void Feed(CServerRoute &route, const YAR_ADDR_T &peer, const std::string &data) {
        ASSERT_EQ(route.ProcessRecvedClientData(data.data(), static_cast<int>(data.size()), &peer), 1) << data;
    }
    Consumer consumer;
};

}  // namespace

TEST(ServerRouteKey, AddressAndPort) {
    YAR_ADDR_T v4 = Peer("10.1.2.3", 4000);
    EXPECT_EQ(Morva_AddrToString(&v4), "10.1.2.3:4000");
    YAR_ADDR_T v6;
    ASSERT_EQ(YAR_MakeAddrByString(23, "fe80::1", 65535, &v6), 0);
    EXPECT_EQ(Morva_AddrToString(&v6), "fe80::1:65535");
    YAR_ADDR_T none = {};
    EXPECT_EQ(Morva_AddrToString(&none), "");
    EXPECT_EQ(Morva_AddrToString(nullptr), "");
}

TEST_F(ServerRouteTest, FirstDatagramMakesTheRouteLaterOnesArePosted) {
    CServerRoute route;
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    ASSERT_EQ(route.Start(&cb), 1);
    const YAR_ADDR_T peer = Peer("10.1.2.3", 4000);
    const std::string key = "10.1.2.3:4000";

    Feed(route, peer, "hello");
    EXPECT_EQ(consumer.iCreates, 1);
    EXPECT_EQ(consumer.ReadAndAnswer(key, "reply 1"), "hello");
    EXPECT_EQ(consumer.Posts(key), 0);

    Feed(route, peer, "again");
    EXPECT_EQ(consumer.Posts(key), 1);
    EXPECT_EQ(consumer.iCreates, 1);
    EXPECT_EQ(consumer.ReadAndAnswer(key, "reply 2"), "again");

    ASSERT_TRUE(WaitFor([&] { return consumer.Sent() == 2; }, 5000));
    // The pool's workers may hand them over in either order, as UDP may.
    std::vector<std::string> sent = consumer.sent[key];
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<std::string>{"reply 1", "reply 2"}));
    EXPECT_EQ(route.GetRouteCount(), 1u);

    LogCapture log;
    ASSERT_EQ(route.Stop(), 1);
    EXPECT_EQ(route.GetRouteCount(), 0u);
    EXPECT_EQ(fcntl(consumer.Sock(key), F_GETFD), -1);  // closed with the route
    EXPECT_EQ(log.Matching("CServerRoute::Stop, Finish, nCount[1]").size(), 1u);
}

TEST_F(ServerRouteTest, DeletedRouteDrainsForFiveSecondsThenCloses) {
    CServerRoute route;
    route.SetTickSource(FakeTick);
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    ASSERT_EQ(route.Start(&cb), 1);
    const YAR_ADDR_T peer = Peer("10.9.9.9", 5000);
    const std::string key = "10.9.9.9:5000";
    // Across the wrap of the 32-bit tick.
    const uint32_t dwDeleted = 0xFFFFF000u;
    g_dwTick = dwDeleted;

    LogCapture log;
    const YAR_ADDR_T stranger = Peer("10.9.9.8", 5000);
    EXPECT_EQ(route.DelSingleRoute(&stranger), 0);  // an empty map
    Feed(route, peer, "first");
    EXPECT_EQ(route.DelSingleRoute(&stranger), 0);
    EXPECT_EQ(log.Matching("CServerRoute::DelSingleRoute, Find Failed, Addr[10.9.9.8:5000]").size(), 1u);
    ASSERT_EQ(route.DelSingleRoute(&peer), 1);
    int sockOut = consumer.Sock(key);

    g_dwTick = dwDeleted + 2000;
    Feed(route, peer, "late");
    EXPECT_EQ(consumer.Posts(key), 1);
    EXPECT_EQ(consumer.ReadAndAnswer(key, ""), "first");
    EXPECT_EQ(consumer.ReadAndAnswer(key, ""), "late");
    g_dwTick = dwDeleted + CServerRoute::ROUTE_DRAIN_MS;  // not yet: more than 5000 ms must pass
    Feed(route, peer, "still");
    EXPECT_EQ(route.GetRouteCount(), 1u);

    g_dwTick = dwDeleted + CServerRoute::ROUTE_DRAIN_MS + 1;
    ASSERT_TRUE(WaitFor([&] { return route.GetRouteCount() == 0; }, 5000));
    EXPECT_EQ(fcntl(sockOut, F_GETFD), -1);
    // The peer's next datagram makes a new route.
    Feed(route, peer, "back");
    EXPECT_EQ(consumer.iCreates, 2);
}

// A datagram goes into its route under the map lock: while that send is under way, the route
// thread cannot close the drained route, whose socket number the next socket made would take.
TEST_F(ServerRouteTest, ASendUnderWayHoldsOffTheCloseOfItsDrainedRoute) {
    CServerRoute route;
    route.SetTickSource(FakeTick);
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    const std::set<pid_t> before = Tasks();
    ASSERT_EQ(route.Start(&cb), 1);
    std::vector<pid_t> started;
    for (pid_t tid : Tasks())
        if (!before.count(tid))
            started.push_back(tid);
    ASSERT_EQ(1u, started.size());
    const pid_t tidRoute = started[0];
    const YAR_ADDR_T peer = Peer("10.7.7.7", 5000);
    Feed(route, peer, "first");
    ASSERT_EQ(route.DelSingleRoute(&peer), 1);
    std::thread feeder([&] {
        t_bHoldNextSend = true;
        Feed(route, peer, "late");
    });
    ASSERT_TRUE(WaitFor([] { return g_bSendHeld.load(); }, 5000));
    g_dwTick = g_dwTick.load() + CServerRoute::ROUTE_DRAIN_MS + 1;
    // The route thread waits for the lock (in futex for 100 ms on end), not closing the route.
    int nBlocked = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            nBlocked = BlockedSyscall(tidRoute) == SYS_futex ? nBlocked + 1 : 0;
            return nBlocked >= 20;
        },
        5000));
    g_bReleaseSend = true;
    feeder.join();
    EXPECT_TRUE(WaitFor([&] { return route.GetRouteCount() == 0; }, 5000));
}

TEST_F(ServerRouteTest, TwoHundredPeersAreAllServedAndTheCapHolds) {
    constexpr int kPeers = 200;
    CServerRoute route(kPeers);
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    ASSERT_EQ(route.Start(&cb), 1);
    std::vector<YAR_ADDR_T> peers;
    for (int i = 0; i < kPeers; i++) {
        peers.push_back(Peer(("10.2." + std::to_string(i / 100) + "." + std::to_string(i % 100)).c_str(), 7000));
        Feed(route, peers.back(), "hello " + std::to_string(i));
    }
    for (int i = 0; i < kPeers; i++) {
        std::string key = Morva_AddrToString(&peers[i]);
        ASSERT_EQ(consumer.ReadAndAnswer(key, "answer " + std::to_string(i)), "hello " + std::to_string(i));
    }
    ASSERT_TRUE(WaitFor([&] { return consumer.Sent() == kPeers; }, 10000)) << consumer.Sent();
    for (int i = 0; i < kPeers; i++)
        EXPECT_EQ(consumer.sent[Morva_AddrToString(&peers[i])], std::vector<std::string>{"answer " + std::to_string(i)});

    LogCapture log;
    const YAR_ADDR_T extra = Peer("10.3.0.1", 7000);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(route.ProcessRecvedClientData("x", 1, &extra), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 46);
    EXPECT_EQ(log.Matching("CServerRoute::MakeRoute, Route Limit Reached, nCount[200], Addr[10.3.0.1:7000]").size(), 1u);
    EXPECT_EQ(consumer.iCreates, kPeers);
    // Known peers still get through.
    Feed(route, peers[150], "more");
    EXPECT_EQ(consumer.ReadAndAnswer(Morva_AddrToString(&peers[150]), ""), "more");
}

TEST_F(ServerRouteTest, FailedCreateLeavesNoRoute) {
    CServerRoute route;
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    ASSERT_EQ(route.Start(&cb), 1);
    const YAR_ADDR_T peer = Peer("10.4.0.1", 9000);
    consumer.bFailCreate = true;
    LogCapture log;
    EXPECT_EQ(route.ProcessRecvedClientData("x", 1, &peer), 0);
    EXPECT_EQ(route.GetRouteCount(), 0u);
    EXPECT_EQ(log.Matching("CServerRoute::ProcessRecvedClientData, MakeRoute Failed, Addr[10.4.0.1:9000]").size(), 1u);
    consumer.bFailCreate = false;
    Feed(route, peer, "y");
    EXPECT_EQ(consumer.iCreates, 2);
    EXPECT_EQ(route.GetRouteCount(), 1u);
}

TEST_F(ServerRouteTest, StartNeedsCallbacksAndAKnownAddress) {
    CServerRoute route;
    LogCapture log;
    EXPECT_EQ(route.Start(nullptr), 0);
    EXPECT_EQ(log.Matching("CServerRoute::Start, pMsg == NULL").size(), 1u);
    // Without a create callback no route is made.
    SERVER_ROUTE_CALLBACKS cb = {};
    ASSERT_EQ(route.Start(&cb), 1);
    const YAR_ADDR_T peer = Peer("10.5.0.1", 1);
    EXPECT_EQ(route.ProcessRecvedClientData("x", 1, &peer), 0);
    YAR_ADDR_T none = {};
    EXPECT_EQ(route.ProcessRecvedClientData("x", 1, &none), 0);
    EXPECT_EQ(route.GetRouteCount(), 0u);
}

// The pool's other direction: an item that is sent from its own socket to the peer.
TEST_F(ServerRouteTest, PoolItemSentFromItsSocket) {
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    YAR_ADDR_T rxAddr = Peer("127.0.0.1", 0);
    ASSERT_EQ(YAR_Bind(rx, &rxAddr), 0);
    ASSERT_EQ(YAR_GetAddrBySockFd(rx, &rxAddr, nullptr), 0);
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    CServerRoute route;

    auto MakeItem = [&](int sock) {
        auto *pItem = static_cast<ROUTE_WORK_ITEM *>(NewArray(sizeof(ROUTE_WORK_ITEM)));
        auto *pData = static_cast<BYTE *>(NewArray(5));
        std::memcpy(pData, "to-rx", 5);
        *pItem = ROUTE_WORK_ITEM{&route, pData, 5, rxAddr, 0, sock};
        return pItem;
    };
    CServerRoute::DistributeThreadPoolProcessLocal(MakeItem(tx));
    char buf[16];
    ASSERT_EQ(recv(rx, buf, sizeof(buf), 0), 5);
    EXPECT_EQ(std::string(buf, 5), "to-rx");

    LogCapture log;
    GetCoreGlobalCtrl()->SetLastError(0);
    CServerRoute::DistributeThreadPoolProcessLocal(MakeItem(-1));
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 8);
    EXPECT_EQ(log.Matching("CServerRoute::DistributeThreadPoolProcessLocal, YAR_SendTo Failed, sockIn[-1], dataLen[5]").size(), 1u);
    close(rx);
    close(tx);
}

// Items still queued when the pool goes are freed by Stop (LeakSanitizer checks the ASan build).
TEST_F(ServerRouteTest, StopFreesQueuedItems) {
    constexpr int kReplies = 64;
    CServerRoute route;
    SERVER_ROUTE_CALLBACKS cb = consumer.Callbacks();
    ASSERT_EQ(route.Start(&cb), 1);
    const YAR_ADDR_T peer = Peer("10.6.0.1", 6000);
    const std::string key = "10.6.0.1:6000";
    Feed(route, peer, "open");
    ASSERT_EQ(consumer.ReadAndAnswer(key, ""), "open");
    {
        std::lock_guard<std::mutex> g(consumer.lock);
        consumer.bHoldSends = true;
    }
    int sock = consumer.Sock(key);
    sockaddr_storage from = {};
    socklen_t fromLen = sizeof(from);
    Feed(route, peer, "where");
    char buf[16];
    ASSERT_GT(recvfrom(sock, buf, sizeof(buf), 0, reinterpret_cast<sockaddr *>(&from), &fromLen), 0);
    for (int i = 0; i < kReplies; i++)
        ASSERT_GT(sendto(sock, "r", 1, 0, reinterpret_cast<sockaddr *>(&from), fromLen), 0);
    // Every worker of the pool is held in the send callback, the rest of the replies queue up.
    ASSERT_TRUE(WaitFor([&] { return consumer.Entered() == 32; }, 10000)) << consumer.Entered();
    int nThreads = ThreadCount();
    std::thread stopper([&] { route.Stop(); });
    // Once the route thread has gone, Stop is taking the pool down: the workers may finish.
    ASSERT_TRUE(WaitFor([&] { return ThreadCount() == nThreads; }, 10000));
    {
        std::lock_guard<std::mutex> g(consumer.lock);
        consumer.bHoldSends = false;
    }
    consumer.changed.notify_all();
    stopper.join();
    EXPECT_LE(consumer.Sent(), kReplies);
    EXPECT_GE(consumer.Sent(), 32);
    EXPECT_EQ(route.GetRouteCount(), 0u);
}
