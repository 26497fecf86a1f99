// Local port pools: the TCP/UDP rings filled from a range, the test bind that skips busy ports,
// the numbered pools of the port-pool manager, and the port-multiplex list.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "support/refuse_mutex_lock.h"
#include "transport/port/LocalPortPool.h"
#include "transport/port/PortMultiplexList.h"
#include "transport/port/PortPoolMgr.h"
#include "yar/yar_addr.h"

using namespace Vorezi;

namespace {

// Port ranges per process below the ephemeral range, so that parallel test programs and
// outgoing connections rarely meet on one port.
WORD BasePort(int iOffset) {
    return (WORD)(21000 + (getpid() % 250) * 40 + iOffset);
}

// Holds a TCP port bound on the wildcard address, so the pool's test bind fails on it.
struct BusyPort {
    explicit BusyPort(WORD wPort) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(wPort);
        bound = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
    }
    ~BusyPort() { close(fd); }
    int fd;
    bool bound;
};

TEST(LocalPortPool, RangeChecksAndTheRingsLimit) {
    CTcpPortPool pool;
    EXPECT_EQ(pool.SetPortRange(10000, 9999), -1);
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), 0);

    WORD wBase = BasePort(0);
    ASSERT_EQ(pool.SetPortRange(wBase, wBase + 2), 0);  // still usable after the refusal
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase);

    // A range of 1000 keeps only the first 599 ports.
    CUdpPortPool udp;
    ASSERT_EQ(udp.SetPortRange(11000, 11999), 0);
    std::vector<WORD> got;
    for (WORD w; (w = udp.GetPort(YAR_AF_INET)) != 0;)
        got.push_back(w);
    ASSERT_GE(got.size(), 590u);  // a port or two may be busy on the machine
    EXPECT_LE(got.size(), 599u);
    for (WORD w : got)
        EXPECT_TRUE(w >= 11000 && w <= 11598) << w;
}

TEST(LocalPortPool, BusyPortIsSkippedAndQueuedAgainAtTheBack) {
    WORD wBase = BasePort(4);
    CTcpPortPool pool;
    ASSERT_EQ(pool.SetPortRange(wBase, wBase + 2), 0);
    {
        BusyPort busy(wBase);
        ASSERT_TRUE(busy.bound);
        EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase + 1);
    }
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase + 2);
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase);  // the skipped port came back behind the others
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), 0);
}

TEST(LocalPortPool, ReleaseOnlyWithinTheRange) {
    WORD wBase = BasePort(8);
    CTcpPortPool pool;
    ASSERT_EQ(pool.SetPortRange(wBase, wBase + 1), 0);
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase);
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase + 1);
    pool.ReleasePort(wBase + 2);
    pool.ReleasePort(wBase - 1);
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), 0);
    pool.ReleasePort(wBase + 1);  // the highest port of the range
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), wBase + 1);
    pool.ReleasePort(wBase);
    pool.Reset();
    EXPECT_EQ(pool.GetPort(YAR_AF_INET), 0);
}

TEST(PortPoolMgr, NumberedPools) {
    CPortPoolMgr mgr;
    EXPECT_EQ(mgr.CreatePortPool("127.0.0.1", YAR_AF_INET, 1, 1000, 1001), -1);  // not initialised
    ASSERT_EQ(mgr.Init(), 1);
    EXPECT_EQ(mgr.Init(), 1);
    EXPECT_EQ(mgr.CreatePortPool("127.0.0.1", YAR_AF_INET, 1, 2000, 2000), -1);
    EXPECT_EQ(mgr.CreatePortPool("127.0.0.1", 7, 1, 2000, 2001), -1);
    EXPECT_EQ(mgr.CreatePortPool("127.0.0.1", YAR_AF_INET, 3, 2000, 2001), -1);

    WORD wBase = BasePort(12);
    int h = mgr.CreatePortPool("127.0.0.1", YAR_AF_INET, 1, wBase, wBase + 3);
    ASSERT_EQ(h, 0);
    EXPECT_EQ(mgr.GetPort(h), wBase);
    EXPECT_EQ(mgr.GetPort(h), wBase + 1);
    EXPECT_EQ(mgr.GetPort(h), wBase + 2);
    EXPECT_EQ(mgr.GetPort(h), 0);
    mgr.ResusePort(h, wBase + 3);  // outside: the pool's ports end below the maximum
    EXPECT_EQ(mgr.GetPort(h), 0);
    mgr.ResusePort(h, wBase + 1);
    EXPECT_EQ(mgr.GetPort(h), wBase + 1);
    EXPECT_EQ(mgr.GetPort(8), 0);
    EXPECT_EQ(mgr.GetPort(-1), 0);

    // Empty address texts take the wildcard of the family; a ninth pool is refused.
    for (int i = 1; i < CPortPoolMgr::kMaxPools; i++)
        EXPECT_EQ(mgr.CreatePortPool(i % 2 ? "" : "::1", i % 2 ? YAR_AF_INET : YAR_AF_INET6, 2,
                                     (WORD)(wBase + 20 + i), (WORD)(wBase + 21 + i)),
                  i);
    EXPECT_EQ(mgr.CreatePortPool("", YAR_AF_INET, 2, 2000, 2001), -1);
    EXPECT_EQ(mgr.GetPort(1), wBase + 21);
    EXPECT_EQ(mgr.GetPort(2), wBase + 22);
    EXPECT_EQ(mgr.DestroyPortPool(1), 1);
    EXPECT_EQ(mgr.DestroyPortPool(1), 0);
    EXPECT_EQ(mgr.DestroyPortPool(8), 0);
    EXPECT_EQ(mgr.CreatePortPool("", YAR_AF_INET, 2, 2000, 2001), 1);  // the freed slot is taken again
}

// Links on many threads take and give back ports: a port is never held by two at once.
TEST(LocalPortPool, ConcurrentTakersNeverShareAPort) {
    WORD wBase = BasePort(30);
    CUdpPortPool pool;
    ASSERT_EQ(pool.SetPortRange(wBase, wBase + 7), 0);
    std::atomic<int> held[8] = {};
    std::atomic<int> shared{0}, got{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; i++) {
                WORD w = pool.GetPort(YAR_AF_INET);
                if (!w)
                    continue;
                got++;
                if (held[w - wBase].fetch_add(1) != 0)
                    shared++;
                held[w - wBase].fetch_sub(1);
                pool.ReleasePort(w);
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(shared.load(), 0);
    EXPECT_GT(got.load(), 400);
}

// ---- port-multiplex list ----

struct Key {
    BYTE b[PORT_MULTI_KEY_LEN] = {};
    Key(BYTE a3, WORD wPort) {
        b[0] = 10;
        b[3] = a3;
        b[24] = (BYTE)(wPort >> 8);
        b[25] = (BYTE)wPort;
    }
};

TEST(PortMultiplexList, FindInsertDelete) {
    CPortMultiplexList list;
    WORD wPort = 0;
    Key k1(1, 80), k2(2, 80), k3(3, 443);
    EXPECT_EQ(list.CreatList(), 0);  // no lock yet
    EXPECT_EQ(list.InsertNode(5000, k1.b), 0);
    ASSERT_EQ(list.CreateLock(), 1);
    ASSERT_EQ(list.CreatList(), 1);
    EXPECT_EQ(list.FindPort(k1.b, &wPort), 0);  // empty list

    ASSERT_EQ(list.InsertNode(5000, k1.b), 1);
    EXPECT_EQ(list.GetNodeCount(), 1);
    EXPECT_EQ(list.FindPort(k1.b, &wPort), 0);  // the only node already goes to that destination
    EXPECT_EQ(list.FindPort(k2.b, &wPort), 1);
    EXPECT_EQ(wPort, 5000);
    EXPECT_EQ(list.FindPort(k2.b, &wPort), 0);

    ASSERT_EQ(list.InsertNode(5001, k3.b), 1);
    int bRemoved = -1;
    EXPECT_EQ(list.DeleteNode(k3.b, 5000, &bRemoved), 0);  // not recorded on that port
    EXPECT_EQ(bRemoved, 0);
    EXPECT_EQ(list.DeleteNode(k3.b, 5001, &bRemoved), 1);
    EXPECT_EQ(bRemoved, 1);
    EXPECT_EQ(list.GetNodeCount(), 1);
    EXPECT_EQ(list.DeleteNode(k1.b, 5000, &bRemoved), 1);
    EXPECT_EQ(bRemoved, 0);  // k2 still uses port 5000
    EXPECT_EQ(list.FindPort(k1.b, &wPort), 1);

    EXPECT_EQ(list.DestroyList(), 1);
    EXPECT_EQ(list.GetNodeCount(), 0);
    EXPECT_EQ(list.DestroyLock(), 1);
    EXPECT_EQ(list.GetNodeCount(), 0);
}

// The write lock of the list is refused once: the list is not created, and says so.
TEST(PortMultiplexList, CreatListFailsWhenTheWriteLockIsRefused) {
    CPortMultiplexList list;
    ASSERT_EQ(list.CreateLock(), 1);
    g_bRefuseNextMutexLock = true;
    EXPECT_EQ(list.CreatList(), 0);
    EXPECT_FALSE(g_bRefuseNextMutexLock);
    EXPECT_EQ(list.InsertNode(5000, Key(1, 80).b), 0);  // no list to insert into
    ASSERT_EQ(list.CreatList(), 1);
    EXPECT_EQ(list.InsertNode(5000, Key(1, 80).b), 1);
}

TEST(PortMultiplexList, FullNodesAndTheNodeLimit) {
    CPortMultiplexList list;
    ASSERT_EQ(list.CreateLock(), 1);
    ASSERT_EQ(list.CreatList(), 1);
    ASSERT_EQ(list.InsertNode(6000, Key(0, 1).b), 1);
    WORD wPort = 0;
    for (int i = 1; i < PORT_MULTI_MAX_KEYS; i++)
        ASSERT_EQ(list.FindPort(Key((BYTE)(i % 250), (WORD)(i + 1)).b, &wPort), 1) << i;
    EXPECT_EQ(list.FindPort(Key(7, 9999).b, &wPort), 0);  // 256 keys: passed over
    ASSERT_EQ(list.InsertNode(6001, Key(0, 1).b), 1);
    EXPECT_EQ(list.FindPort(Key(7, 9999).b, &wPort), 1);
    EXPECT_EQ(wPort, 6001);

    for (int i = 2; i < PORT_MULTI_MAX_NODES; i++)
        ASSERT_EQ(list.InsertNode((WORD)(6000 + i), Key(1, 1).b), 1);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(list.InsertNode(7000, Key(1, 1).b), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 187);
    EXPECT_EQ(list.GetNodeCount(), PORT_MULTI_MAX_NODES);
}

// Finders on many threads share the nodes: every key a find reports lands in exactly one node.
// A find may still give 0 when the only node with room is busy at that moment; the link then
// takes a new port.
TEST(PortMultiplexList, ConcurrentFindersLoseNoKey) {
    CPortMultiplexList list;
    ASSERT_EQ(list.CreateLock(), 1);
    ASSERT_EQ(list.CreatList(), 1);
    ASSERT_EQ(list.InsertNode(7000, Key(200, 1).b), 1);
    ASSERT_EQ(list.InsertNode(7001, Key(200, 1).b), 1);
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            WORD wPort = 0;
            for (int i = 0; i < 100; i++)
                found += list.FindPort(Key((BYTE)t, (WORD)(i + 2)).b, &wPort);
        });
    }
    for (auto &th : threads)
        th.join();
    // A finder passes over a node another finder holds, so how many keys find a port depends on
    // the scheduling; what must hold is that every key handed a port sits in exactly one node.
    EXPECT_GT(found.load(), 0);
    // Each key sits in one node: deleting it from the other port finds nothing.
    int bRemoved = 0, nDeleted = 0;
    for (int t = 0; t < 4; t++) {
        for (int i = 0; i < 100; i++) {
            nDeleted += list.DeleteNode(Key((BYTE)t, (WORD)(i + 2)).b, 7000, &bRemoved);
            nDeleted += list.DeleteNode(Key((BYTE)t, (WORD)(i + 2)).b, 7001, &bRemoved);
        }
    }
    EXPECT_EQ(nDeleted, found.load());
}

}  // namespace
