// Long links: the protocol object's link ownership, the receive thread's life as one table of
// callback results, pause and resume, stopping (also from inside the callback), the send thread,
// and asynchronous receiving against the Python echo peer and on accepted sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "service_test_util.h"
#include "transport/longlink/LongLinkPrivate.h"

using namespace Vorezi;
using linktest::Listener;
using linktest::Peer;
using servicetest::WaitFor;

namespace {

// Records the callback's calls; what it returns is chosen per status.
struct Sink {
    std::mutex lock;
    std::vector<std::pair<int, std::string>> events;
    std::atomic<int> iDataReturn{1};
    std::atomic<int> iTimeoutReturn{0};
    std::atomic<int> iCloseReturn{1};
    std::atomic<int> iCalls{0};
    CLongLinkPrivate *pStopOnData = nullptr;

    static int CallBack(void *pUser, char *pData, int iLen, int iStatus) {
        auto *self = static_cast<Sink *>(pUser);
        {
            std::lock_guard<std::mutex> guard(self->lock);
            self->events.emplace_back(iStatus, std::string(pData ? pData : "", pData ? (size_t)iLen : 0));
        }
        self->iCalls++;
        if (iStatus == 0 && self->pStopOnData) {
            self->pStopOnData->Stop();
            return 0;
        }
        if (iStatus == MORVA_ERR_RECV_TIMEOUT)
            return self->iTimeoutReturn;
        return iStatus == 0 ? self->iDataReturn.load() : self->iCloseReturn.load();
    }
    size_t Count(int iStatus) {
        std::lock_guard<std::mutex> guard(lock);
        size_t n = 0;
        for (auto &e : events)
            n += e.first == iStatus;
        return n;
    }
    std::string Data() {
        std::lock_guard<std::mutex> guard(lock);
        std::string all;
        for (auto &e : events)
            if (e.first == 0)
                all += e.second;
        return all;
    }
};

class LongLink : public servicetest::InitedTest {
protected:
    // A thread-mode long link connected to the test's listener; m_peer is the accepted side.
    void Connect(DWORD dwRecvTimeout = 100) {
        LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", m_listener.Port());
        p.dwRecvTimeout = dwRecvTimeout;
        ASSERT_EQ(1, m_long.CreateGeneralLink(&p, 0));
        m_peer = m_listener.Accept();
        ASSERT_GE(m_peer, 0);
    }
    void Start(Sink &sink) {
        ASSERT_EQ(1, m_long.EnableDataCallBack(1));
        ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
        ASSERT_EQ(1, m_long.ResumeRecvThread());
    }
    void PeerSend(const std::string &text) {
        ASSERT_EQ((ssize_t)text.size(), send(m_peer, text.data(), text.size(), MSG_NOSIGNAL));
    }
    void TearDown() override {
        m_long.Stop();
        if (m_peer >= 0)
            close(m_peer);
        servicetest::InitedTest::TearDown();
    }

    Listener m_listener;
    CLongLinkPrivate m_long;
    int m_peer = -1;
};

TEST_F(LongLink, AddressRecordWidensFieldByField) {
    LINK_ADDR_COND a{};
    a.dwConnectTimeout = 1;
    a.dwRecvTimeout = 2;
    a.dwSendTimeout = 3;
    a.iServerPort = 4;
    a.byProxyID = 5;
    a.pServerIP = "10.0.0.1";
    a.iKind = 14;
    a.dwUserID = 9;
    LINK_COND c;
    std::memset(&c, 0xAB, sizeof(c));
    ASSERT_EQ(&c, WidenAddrCond(&a, &c));
    EXPECT_EQ(nullptr, WidenAddrCond(nullptr, &c));
    EXPECT_EQ(1u, c.dwConnectTimeout);
    EXPECT_EQ(2u, c.dwRecvTimeout);
    EXPECT_EQ(3u, c.dwSendTimeout);
    EXPECT_EQ(4, c.iServerPort);
    EXPECT_EQ(5, c.byProxyID);
    EXPECT_STREQ("10.0.0.1", c.pServerIP);
    EXPECT_EQ(14, c.iKind);
    EXPECT_EQ(9u, c.dwUserID);
    EXPECT_EQ(0, c.ext.byVerifyMode) << "the rest is zeroed";
    EXPECT_EQ(nullptr, c.ext.pAlpnList);
}

TEST_F(LongLink, CreateLinkFromTheAddressRecordAndAddresses) {
    LINK_ADDR_COND a{};
    a.iServerPort = m_listener.Port();
    a.pServerIP = "127.0.0.1";
    ASSERT_EQ(1, m_long.CreateLink(7, nullptr, &a));
    m_peer = m_listener.Accept();
    ASSERT_GE(m_peer, 0);
    EXPECT_EQ(1, m_long.HasCreateLink());
    EXPECT_EQ(7u, m_long.GetLink()->GetCommand());

    char ip[LINK_ADDR_TEXT_LEN] = "unchanged";
    WORD port = 0;
    m_long.GetRemoteAddr(ip, &port, 47);
    EXPECT_STREQ("unchanged", ip) << "a buffer shorter than 48 gets nothing";
    m_long.GetRemoteAddr(ip, &port, sizeof(ip));
    EXPECT_STREQ("127.0.0.1", ip);
    EXPECT_EQ(m_listener.Port(), port);
    sockaddr_in local{};
    socklen_t n = sizeof(local);
    getpeername(m_peer, (sockaddr *)&local, &n);
    m_long.GetLocalAddr(ip, &port, sizeof(ip));
    EXPECT_STREQ("127.0.0.1", ip);
    EXPECT_EQ(ntohs(local.sin_port), port);

    EXPECT_EQ(0, m_long.CreateLinkEx(0, nullptr, nullptr)) << "no condition: no link";
}

TEST_F(LongLink, SetLinkDestroysTheOldLink) {
    Connect();
    CLinkBase *pOther = linktest::Connect("127.0.0.1", m_listener.Port());
    ASSERT_NE(nullptr, pOther);
    int other = m_listener.Accept();
    ASSERT_EQ(1, m_long.SetLink(pOther));
    EXPECT_EQ(pOther, m_long.GetLink());
    EXPECT_EQ("", linktest::ReadExactly(m_peer, 1, 2000)) << "the first link's socket was closed";
    EXPECT_EQ(1, m_long.GetProtocolObject()->IsUseAsyncIO()) << "an adopted link receives asynchronously";
    close(other);
}

TEST_F(LongLink, WithoutACallbackNoThreadStarts) {
    Connect();
    servicetest::LogCapture log;
    ASSERT_EQ(1, m_long.StartRecvThread(nullptr, nullptr, 0));
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    PeerSend("x");
    m_long.Stop();
    EXPECT_TRUE(log.Matching("StartRecvThread, Exit").empty()) << "no thread ran";
}

// The thread's life by status and callback result.
TEST_F(LongLink, ThreadLifeByStatusAndResult) {
    struct Row {
        const char *pName;
        int iDataReturn, iTimeoutReturn, iCloseReturn;
        bool bPeerSends, bPeerCloses;
        int iExpectStatus;  // the status after which the thread must have ended, -1 still running
    };
    const Row rows[] = {
        {"time-outs with 0 go on", 1, 0, 1, false, false, -1},
        {"data with 0 ends", 0, 0, 1, true, false, 0},
        {"data with 1 goes on", 1, 0, 1, true, false, -1},
        {"73 with 1 still ends", 1, 0, 1, false, true, 73},
        {"73 with 0 ends", 1, 0, 0, false, true, 73},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pName);
        Listener listener;
        CLongLinkPrivate longLink;
        LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", listener.Port());
        p.dwRecvTimeout = 30;
        ASSERT_EQ(1, longLink.CreateGeneralLink(&p, 0));
        int peer = listener.Accept();
        Sink sink;
        sink.iDataReturn = row.iDataReturn;
        sink.iTimeoutReturn = row.iTimeoutReturn;
        sink.iCloseReturn = row.iCloseReturn;
        servicetest::LogCapture log;
        ASSERT_EQ(1, longLink.StartRecvThread(Sink::CallBack, &sink, 0));
        ASSERT_EQ(1, longLink.ResumeRecvThread());
        if (row.bPeerSends)
            send(peer, "abc", 3, MSG_NOSIGNAL);
        if (row.bPeerCloses) {
            close(peer);
            peer = -1;
        }
        const bool bEnds = row.iExpectStatus >= 0;
        if (bEnds) {
            ASSERT_TRUE(WaitFor([&] { return !log.Matching("StartRecvThread, Exit").empty(); }, 5000));
            const int iCalls = sink.iCalls;
            EXPECT_GE(sink.Count(row.iExpectStatus), 1u);
            EXPECT_FALSE(WaitFor([&] { return sink.iCalls != iCalls; }, 150)) << "no call after the end";
        } else {
            ASSERT_TRUE(WaitFor([&] { return sink.Count(MORVA_ERR_RECV_TIMEOUT) >= 3; }, 5000));
            EXPECT_TRUE(log.Matching("StartRecvThread, Exit").empty());
        }
        if (row.bPeerSends) {
            EXPECT_EQ("abc", sink.Data());
        }
        longLink.Stop();
        if (peer >= 0)
            close(peer);
    }
}

TEST_F(LongLink, DisabledCallbackDropsDataWithResult1) {
    Connect();
    Sink sink;
    ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
    m_long.EnableDataCallBack(0);
    char data[] = "dropped";
    EXPECT_EQ(1, m_long.RecvDataCallBack(data, 7, 0));
    EXPECT_EQ(0, sink.iCalls.load());
    m_long.EnableDataCallBack(1);
    EXPECT_EQ(1, m_long.RecvDataCallBack(data, 7, 0)) << "the callback's own result";
    EXPECT_EQ(1, sink.iCalls.load());
}

TEST_F(LongLink, NothingIsReadBeforeResumeAndPauseHolds) {
    Connect(50);
    Sink sink;
    ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
    PeerSend("early");
    EXPECT_FALSE(WaitFor([&] { return sink.iCalls > 0; }, 200)) << "parked until resumed";
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    ASSERT_TRUE(WaitFor([&] { return sink.Data() == "early"; }, 5000));

    m_long.PauseRecvThread();
    const int iCalls = sink.iCalls;
    PeerSend("later");
    EXPECT_FALSE(WaitFor([&] { return sink.iCalls != iCalls; }, 200));
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    ASSERT_TRUE(WaitFor([&] { return sink.Data() == "earlylater"; }, 5000));
}

TEST_F(LongLink, StopJoinsAndNoCallbackRunsAfterIt) {
    Connect(5000);  // the thread blocks in a long receive: Stop must wake it
    Sink sink;
    Start(sink);
    PeerSend("a");
    ASSERT_TRUE(WaitFor([&] { return sink.iCalls > 0; }, 5000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, m_long.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const int iCalls = sink.iCalls;
    send(m_peer, "b", 1, MSG_NOSIGNAL);  // may fail: the link is closed
    EXPECT_FALSE(WaitFor([&] { return sink.iCalls != iCalls; }, 100));
    EXPECT_EQ(0, m_long.HasCreateLink());
}

TEST_F(LongLink, StopFromInsideTheCallback) {
    Connect();
    Sink sink;
    sink.pStopOnData = &m_long;
    Start(sink);
    PeerSend("bye");
    ASSERT_TRUE(WaitFor([&] { return m_long.HasCreateLink() == 0; }, 5000));
    EXPECT_EQ("", linktest::ReadExactly(m_peer, 1, 2000)) << "the link was closed";
    EXPECT_EQ(1, sink.iCalls.load());
}

uint32_t SendLoop(void *pParam) {
    auto *pFlag = static_cast<std::atomic<int> *>(pParam);
    while (*pFlag == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

TEST_F(LongLink, SendThreadStartsOnceAndANullRoutineIsRefused) {
    std::atomic<int> flag{0};
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(0, m_long.StartSendThread(nullptr, nullptr));
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(1, m_long.StartSendThread(SendLoop, &flag));
    EXPECT_EQ(1, m_long.StartSendThread(SendLoop, &flag)) << "one exists: nothing more starts";
    flag = 1;
    EXPECT_EQ(1, m_long.Stop()) << "joins the send thread";
}

// Asynchronous long links.
class AsyncLongLink : public servicetest::InitedTest {
protected:
    void TearDown() override {
        m_long.Stop();
        servicetest::InitedTest::TearDown();
    }
    CLongLinkPrivate m_long;
};

TEST_F(AsyncLongLink, EchoThroughTheCompletionQueue) {
    Peer peer({"tcp-echo"});
    ASSERT_GT(peer.Port(), 0);
    LINK_CREATE_PARAM p = linktest::MakeParam("127.0.0.1", peer.Port());
    ASSERT_EQ(1, m_long.CreateGeneralLink(&p, 1));
    ASSERT_EQ(1, m_long.GetProtocolObject()->IsUseAsyncIO());
    Sink sink;
    m_long.EnableDataCallBack(1);
    ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    std::string want;
    for (int i = 0; i < 50; i++) {
        std::string msg = "message " + std::to_string(i) + ";";
        PROTOCOL_SEND_DATA d{msg.data(), (DWORD)msg.size()};
        ASSERT_EQ((int)msg.size(), m_long.SendData(&d, 0));
        want += msg;
    }
    ASSERT_TRUE(WaitFor([&] { return sink.Data().size() >= want.size(); }, 5000));
    EXPECT_EQ(want, sink.Data());
    m_long.Stop();
    const int iCalls = sink.iCalls;
    EXPECT_FALSE(WaitFor([&] { return sink.iCalls != iCalls; }, 100));
}


TEST_F(AsyncLongLink, PushLinksOnAcceptedSockets) {
    Listener listener;
    auto [client, accepted] = linktest::AcceptedPair(listener);
    ASSERT_GE(accepted, 0);
    // The push link receives on its own thread.
    ASSERT_EQ(1, m_long.CreatePushLink(accepted));
    Sink sink;
    ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    send(client, "pushed", 6, MSG_NOSIGNAL);
    ASSERT_TRUE(WaitFor([&] { return sink.Data() == "pushed"; }, 5000));
    m_long.Stop();
    close(client);

    // An accepted link adopted with SetLink receives asynchronously; the callback stops it.
    auto [client2, accepted2] = linktest::AcceptedPair(listener);
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.dwServerMode = 1;
    p.iSocket = accepted2;
    CLinkBase *pLink = Link_CreateLink(&p, 0, nullptr);
    ASSERT_NE(nullptr, pLink);
    CLongLinkPrivate adopted;
    ASSERT_EQ(1, adopted.SetLink(pLink));
    Sink sink2;
    sink2.pStopOnData = &adopted;
    ASSERT_EQ(1, adopted.StartRecvThread(Sink::CallBack, &sink2, 0));
    ASSERT_EQ(1, adopted.ResumeRecvThread());
    send(client2, "x", 1, MSG_NOSIGNAL);
    ASSERT_TRUE(WaitFor([&] { return adopted.HasCreateLink() == 0; }, 5000));
    EXPECT_EQ("", linktest::ReadExactly(client2, 1, 2000)) << "closed by the callback's Stop";
    EXPECT_EQ(1, sink2.iCalls.load());
    close(client2);
}

// A SOCKS5 push link: the handshake on the accepted socket, then the long link carries the
// client's data both ways.
TEST_F(AsyncLongLink, Socks5PushLinkCarriesDataAfterTheHandshake) {
    Listener listener;
    auto [client, accepted] = linktest::AcceptedPair(listener);
    ASSERT_GE(accepted, 0);
    const char hello[] = {5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0, 80};
    ASSERT_EQ((ssize_t)sizeof(hello), send(client, hello, sizeof(hello), MSG_NOSIGNAL));
    ASSERT_EQ(1, m_long.CreateSocks5PushLink(accepted));
    EXPECT_EQ(std::string("\x05\x00\x05\x00\x00\x01", 6) + std::string(6, '\0'), linktest::ReadExactly(client, 12, 2000));
    Sink sink;
    m_long.EnableDataCallBack(1);
    ASSERT_EQ(1, m_long.StartRecvThread(Sink::CallBack, &sink, 0));
    ASSERT_EQ(1, m_long.ResumeRecvThread());
    ASSERT_EQ(7, send(client, "request", 7, MSG_NOSIGNAL));
    ASSERT_TRUE(WaitFor([&] { return sink.Data() == "request"; }, 5000)) << sink.Data();
    PROTOCOL_SEND_DATA d{"answer", 6};
    ASSERT_EQ(6, m_long.SendData(&d, 0));
    EXPECT_EQ("answer", linktest::ReadExactly(client, 6, 2000));
    m_long.Stop();
    close(client);
}

// Stop racing deliveries: the peer floods while the owner stops, and goes on flooding until its
// socket takes nothing more (nobody reads) or fails (the link closed it). Whatever it sent by
// then reaches no callback.
TEST_F(AsyncLongLink, StopRacesDeliveries) {
    for (int bAsync = 0; bAsync <= 1; bAsync++) {
        SCOPED_TRACE(bAsync ? "asynchronous" : "thread");
        Listener listener;
        auto [client, accepted] = linktest::AcceptedPair(listener);
        ASSERT_GE(accepted, 0);
        LINK_CREATE_PARAM p;
        std::memset(&p, 0, sizeof(p));
        p.dwServerMode = 1;
        p.iSocket = accepted;
        p.dwRecvTimeout = 50;
        CLongLinkPrivate racer;
        ASSERT_EQ(1, racer.CreateGeneralLink(&p, bAsync));
        Sink sink;
        ASSERT_EQ(1, racer.StartRecvThread(Sink::CallBack, &sink, 0));
        ASSERT_EQ(1, racer.ResumeRecvThread());
        std::atomic<bool> bDone{false}, bStopped{false}, bRefused{false};
        std::thread flood([&] {
            std::string chunk(1024, 'f');
            while (!bDone) {
                if (send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && bStopped)
                    bRefused = true;
                std::this_thread::yield();
            }
        });
        ASSERT_TRUE(WaitFor([&] { return sink.iCalls > 3; }, 5000));
        racer.Stop();
        const int iCalls = sink.iCalls;
        bStopped = true;
        EXPECT_TRUE(WaitFor([&] { return bRefused.load(); }, 10000));
        bDone = true;
        flood.join();
        EXPECT_EQ(iCalls, sink.iCalls.load()) << "no callback after Stop";
        close(client);
    }
}

}  // namespace
