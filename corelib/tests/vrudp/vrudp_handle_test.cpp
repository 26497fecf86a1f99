// The handle interface: one table per function over the kinds of handle, address reuse as Linux
// has it, and the lifetime cases: sends racing a destroy, closes from callbacks, fini with live
// endpoints, repeated init and fini.
#include <atomic>
#include <fstream>
#include <thread>

#include "transport/vrudp/VRUDPLinkMgr.h"
#include "vrudp_test_util.h"

using namespace vrudptest;

namespace {

enum Kind { NEG, BIG, FREE, ENDPOINT, CONN, KINDS };
const char *const kKindName[] = {"-1", "0x5000", "free index", "endpoint", "connection"};

struct Expect {
    int iResult;
    int iError;  // -1: not checked
};
const Expect kSkip = {INT32_MIN, -1};

class HandleTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        ASSERT_TRUE(srv.Start());
        iClient = Connect(srv.wPort);
        ASSERT_GE(iClient, 0);
        ASSERT_EQ(COM_VRUDP_SendTo(iClient, "x", 1, nullptr, 1000), 1);
        ASSERT_TRUE(srv.col.WaitCount(1, 2000));
        iConn = srv.col.Events()[0].iHandle;
        iHandles[NEG] = -1;
        iHandles[BIG] = 0x5000;
        iHandles[FREE] = 0x4FFF;
        iHandles[ENDPOINT] = srv.iHandle;
        iHandles[CONN] = iConn;
    }
    void TearDown() override {
        COM_VRUDP_Close(iClient);
        COM_VRUDP_Close(srv.iHandle);
        servicetest::InitedTest::TearDown();
    }
    // Runs fn(handle) for every kind and compares with the row.
    void Table(const char *pName, const std::function<int(int)> &fn, const Expect (&row)[KINDS]) {
        for (int k = 0; k < KINDS; k++) {
            if (row[k].iResult == kSkip.iResult)
                continue;
            SCOPED_TRACE(std::string(pName) + " on " + kKindName[k]);
            GetCoreGlobalCtrl()->SetLastError(0);
            EXPECT_EQ(fn(iHandles[k]), row[k].iResult);
            if (row[k].iError >= 0) {
                EXPECT_EQ(LastError(), row[k].iError);
            }
        }
    }
    Server srv;
    int iClient = -1, iConn = -1;
    int iHandles[KINDS] = {};
};

TEST_F(HandleTest, EveryFunctionOverEveryKindOfHandle) {
    int snd = 0, rcv = 0;
    uint8_t buf[16];
    VRUDP_SOCK_ADDR a = Addr("127.0.0.1", 1);
    VRUDP_STREAM_ADJUST_PARAM adj = {1, 2, 3, 4};
    //                                   -1        0x5000    free       endpoint   connection
    Table("GetSockBuffSize", [&](int h) { return COM_VRUDP_GetSockBuffSize(h, &snd, &rcv); },
          {{0, 17}, {0, 17}, {0, 17}, {1, 0}, {0, 17}});
    Table("SetSockBuffSize", [&](int h) { return COM_VRUDP_SetSockBuffSize(h, 0, 0); },
          {{0, 17}, {0, 17}, {0, 17}, {1, 0}, {0, 0}});
    Table("SetNoBlock", [&](int h) { return COM_VRUDP_SetNoBlock(h, 1); },
          {{0, 17}, {0, 17}, {0, 17}, {1, 0}, {0, 17}});
    Table("SetReuseAddr", [&](int h) { return COM_VRUDP_SetReuseAddr(h, 1); },
          {{0, 17}, {0, 17}, {0, 17}, {1, 0}, {0, 17}});
    Table("SetRecvFun", [&](int h) { return COM_VRUDP_SetRecvFun(h, Collector::Callback, &srv.col); },
          {{0, 0}, {0, 0}, {0, 17}, {1, 0}, {0, 17}});
    Table("GetSocket", [&](int h) { return COM_VRUDP_GetSocket(h) >= 0 ? 1 : COM_VRUDP_GetSocket(h); },
          {{-1, 17}, {-1, 17}, {-1, -1}, {1, 0}, {1, 0}});
    // A server endpoint reads through the connection in its entry 0: nothing came, 0.
    Table("RecvFrom", [&](int h) { return COM_VRUDP_RecvFrom(h, buf, sizeof buf, nullptr, 10); },
          {{-1, 17}, {-1, 17}, {-1, 17}, {0, 0}, {-1, 9}});
    Table("SendTo without data", [&](int h) { return COM_VRUDP_SendTo(h, nullptr, 0, &a, 10); },
          {{-1, 17}, {-1, 17}, {-1, -1}, {-1, 8}, {-1, 8}});
    // A server endpoint does not connect (it would take its connection of entry 0 for the attempt).
    Table("Connect", [&](int h) { return COM_VRUDP_Connect(h, &a, 10); },
          {{0, 17}, {0, 17}, {0, 7}, {0, 7}, {0, 7}});
    ASSERT_NE(GetVRUDPLinkMgr()->GetObject(iConn), nullptr);
    Table("Connect without address", [&](int h) { return COM_VRUDP_Connect(h, nullptr, 10); },
          {{0, 17}, {0, 17}, {0, 17}, {0, 17}, {0, 17}});
    Table("Bind", [&](int h) { return COM_VRUDP_Bind(h, &a); }, {{0, 17}, {0, 17}, {0, 72}, {0, 72}, {0, 72}});
    Table("Listen", [&](int h) { return COM_VRUDP_Listen(h, &srv.col, Collector::Callback); },
          {{0, 17}, {0, 17}, {0, 75}, {0, 75}, {0, 75}});
    // A connection closed through the interface only sends FIN; its endpoint keeps it.
    EXPECT_EQ(COM_VRUDP_Close(iConn), 1);
    EXPECT_NE(GetVRUDPLinkMgr()->GetObject(iConn), nullptr);
    Table("Close", [&](int h) { return COM_VRUDP_Close(h); }, {{0, 17}, {0, 17}, {0, -1}, kSkip, {1, -1}});
    // On a server endpoint CloseConnect closes the connection of entry 0.
    Table("CloseConnect", [&](int h) { return COM_VRUDP_CloseConnect(h); },
          {{0, 17}, {0, 17}, {0, 17}, {1, 0}, {0, 17}});
    Table("ShutDown how 3", [&](int h) { return COM_VRUDP_ShutDown(h, 3); },
          {{0, 17}, {0, 17}, {0, 17}, {0, 17}, {0, 17}});
    Table("SetStreamAjustParam", [&](int h) { return COM_VRUDP_SetStreamAjustParam(h, &adj); },
          {{0, 17}, {0, 17}, {0, 17}, {0, 17}, {0, 17}});
    Table("SetStreamAjustParam without record", [&](int h) { return COM_VRUDP_SetStreamAjustParam(h, nullptr); },
          {{0, 17}, {0, 17}, {-1, 17}, {-1, 17}, {-1, 17}});
    Table("SetStreamBitrate", [&](int h) { return COM_VRUDP_SetStreamBitrate(h, 1000); },
          {{0, 17}, {0, 17}, {0, 17}, {0, 17}, {0, 17}});
    Table("SetMTUSize", [&](int h) { return COM_VRUDP_SetMTUSize(h, 576); }, {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}});
    EXPECT_EQ(COM_VRUDP_Close(srv.iHandle), 1);
    EXPECT_EQ(GetVRUDPLinkMgr()->GetObject(iConn), nullptr) << "the endpoint took its connection along";
}

TEST_F(HandleTest, CreateChecksItsCondition) {
    VRUDP_CREATE_COND c = {};
    c.iAf = 2;
    c.enumType = 2;
    unsigned uMembers = GetVRUDPLinkMgr()->GetCurrNum();
    EXPECT_EQ(COM_VRUDP_Create(&c), -1);
    EXPECT_EQ(LastError(), 17);
    c.enumType = 0;
    c.enumMode = 2;
    EXPECT_EQ(COM_VRUDP_Create(&c), -1);
    EXPECT_EQ(LastError(), 17);
    EXPECT_EQ(COM_VRUDP_Create(nullptr), -1);
    EXPECT_EQ(LastError(), 17);
    EXPECT_EQ(GetVRUDPLinkMgr()->GetCurrNum(), uMembers) << "nothing was created";
    // Type 1 is a control link.
    c.enumMode = 0;
    c.enumType = 1;
    int iLink = COM_VRUDP_Create(&c);
    EXPECT_GE(iLink, 0);
    EXPECT_EQ(COM_VRUDP_Close(iLink), 1);
}

TEST_F(HandleTest, ShutDownAndBufferSizes) {
    int e = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    ASSERT_GE(e, 0);
    int iCap = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> iCap;
    ASSERT_EQ(COM_VRUDP_SetSockBuffSize(e, 65536, 131072), 1);
    int snd = 0, rcv = 0;
    ASSERT_EQ(COM_VRUDP_GetSockBuffSize(e, &snd, &rcv), 1);
    EXPECT_GE(snd, 65536);
    EXPECT_GE(rcv, std::min(131072, iCap));
    EXPECT_LE(rcv, 2 * std::max(131072, iCap));
    // Linux answers ENOTCONN for an unconnected datagram socket, yet shuts it: success.
    EXPECT_EQ(COM_VRUDP_ShutDown(e, 2), 1);
    COM_VRUDP_Close(e);
}

TEST_F(HandleTest, ReuseAddrLetsASecondEndpointBindTheSamePort) {
    int a = MakeEndpoint(ENUM_VRUDP_MODE_SERVER), b = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    VRUDP_SOCK_ADDR any = Addr("127.0.0.1", 0);
    ASSERT_EQ(COM_VRUDP_Bind(a, &any), 1);
    VRUDP_SOCK_ADDR same = Addr("127.0.0.1", PortOf(a));
    EXPECT_EQ(COM_VRUDP_Bind(b, &same), 0) << "without the option the port is taken";
    EXPECT_EQ(LastError(), 72);
    int c = MakeEndpoint(ENUM_VRUDP_MODE_SERVER), d = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    ASSERT_EQ(COM_VRUDP_SetReuseAddr(c, 1), 1);
    ASSERT_EQ(COM_VRUDP_SetReuseAddr(d, 1), 1);
    ASSERT_EQ(COM_VRUDP_Bind(c, &any), 1);
    VRUDP_SOCK_ADDR sameC = Addr("127.0.0.1", PortOf(c));
    EXPECT_EQ(COM_VRUDP_Bind(d, &sameC), 1) << "with it on both, Linux binds both";
    for (int h : {a, b, c, d})
        COM_VRUDP_Close(h);
}

// Eight senders are all under way when the endpoint and its connection go: the destroy waits
// for their calls, and once it has returned no send on the old handle succeeds.
TEST_F(HandleTest, SendsRacingADestroy) {
    constexpr int kSenders = 8;
    std::atomic<bool> bStop{false}, bClosed{false};
    std::atomic<int> iRunning{0}, iSawClosed{0}, iSentAfterClose{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; i++)
        senders.emplace_back([&] {
            bool bRunning = false, bSawClosed = false;
            while (!bStop) {
                const bool bAfter = bClosed;
                const int iRet = COM_VRUDP_SendTo(iConn, "abc", 3, nullptr, 50);
                if (!bRunning)
                    iRunning++;
                bRunning = true;
                if (!bAfter)
                    continue;
                iSentAfterClose += iRet >= 0;
                if (!bSawClosed)
                    iSawClosed++;
                bSawClosed = true;
            }
        });
    ASSERT_TRUE(servicetest::WaitFor([&] { return iRunning == kSenders; }, 10000));
    EXPECT_EQ(COM_VRUDP_Close(srv.iHandle), 1) << "the destroy waits for the senders' calls";
    bClosed = true;
    EXPECT_TRUE(servicetest::WaitFor([&] { return iSawClosed == kSenders; }, 10000));
    bStop = true;
    for (auto &t : senders)
        t.join();
    EXPECT_EQ(iSentAfterClose.load(), 0);
    EXPECT_EQ(COM_VRUDP_SendTo(iConn, "abc", 3, nullptr, 50), -1);
}

// A callback that closes: its own endpoint is refused, a connection only gets its FIN.
struct CloseFromCallback {
    int iEndpoint = -1;
    std::atomic<int> iEndpointResult{-2}, iEndpointError{0}, iConnResult{-2};
    static void Callback(void *pUser, VRUDP_RECV_DATA *p) {
        auto *self = static_cast<CloseFromCallback *>(pUser);
        if (p->dwMsgType == VRUDP_MSG_CLOSE || self->iConnResult != -2)
            return;
        self->iEndpointResult = COM_VRUDP_Close(self->iEndpoint);
        self->iEndpointError = LastError();
        self->iConnResult = COM_VRUDP_Close(p->iVRUDPHandle);
    }
};

TEST_F(HandleTest, ClosesFromInsideCallbacks) {
    CloseFromCallback cb;
    int e = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    cb.iEndpoint = e;
    VRUDP_SOCK_ADDR any = Addr("127.0.0.1", 0);
    ASSERT_EQ(COM_VRUDP_Bind(e, &any), 1);
    ASSERT_EQ(COM_VRUDP_Listen(e, &cb, CloseFromCallback::Callback), 1);
    int c = Connect(PortOf(e));
    ASSERT_GE(c, 0);
    ASSERT_EQ(COM_VRUDP_SendTo(c, "hi", 2, nullptr, 1000), 2);
    ASSERT_TRUE(servicetest::WaitFor([&] { return cb.iConnResult != -2; }, 3000));
    EXPECT_EQ(cb.iEndpointResult, 0);
    EXPECT_EQ(cb.iEndpointError, 17);
    EXPECT_EQ(cb.iConnResult, 1);
    EXPECT_EQ(COM_VRUDP_Close(e), 1) << "from an outside thread the close goes through";
    COM_VRUDP_Close(c);
}

// Fini with live endpoints and connections: everything goes, and no manager comes back.
TEST(VRUDPFiniTest, FiniWithLiveEndpointsAndRepeatedCycles) {
    int iThreads = -1, iFds = -1;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int kCycles = 20;  // each init costs much more under a sanitizer
#else
    const int kCycles = 100;
#endif
    for (int cycle = 0; cycle < kCycles; cycle++) {
        ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
        EchoPair pair;
        ASSERT_TRUE(pair.Start());
        ASSERT_EQ(COM_VRUDP_SendTo(pair.iClient, "ping", 4, nullptr, 1000), 4);
        ASSERT_TRUE(pair.got.WaitCount(1, 3000));
        GetCoreGlobalCtrl()->Fini();
        ASSERT_EQ(GetVRUDPLinkMgr(), nullptr) << "cycle " << cycle;
        // Counted after the first cycle: a sanitizer starts a helper thread of its own once.
        if (cycle == 0) {
            iThreads = Threads();
            iFds = Descriptors();
        }
    }
    EXPECT_TRUE(servicetest::WaitFor([&] { return Threads() == iThreads; }, 3000)) << Threads() << " vs " << iThreads;
    EXPECT_EQ(Descriptors(), iFds);
}

}  // namespace
