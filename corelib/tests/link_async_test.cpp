// Asynchronous links: the handle table of the asynchronous manager, completion keys, stream
// mode against a loopback TCP peer of the test, sends, command mode, and stopping with
// completions outstanding or from inside the callback.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "service_test_util.h"
#include "transport/async/AsyncKey.h"
#include "transport/async/AsyncManager.h"
#include "transport/async/LinkAsyncIO.h"

using namespace Vorezi;
using linktest::Listener;
using servicetest::WaitFor;

namespace {

CLinkAsyncIO *Dummy(uintptr_t n) { return reinterpret_cast<CLinkAsyncIO *>(0x1000 + n * 8); }

class AsyncManagerTable : public servicetest::InitedTest {};

TEST_F(AsyncManagerTable, RoundRobinGrowthAndWrap) {
    auto mgr = std::make_unique<CAsyncManager>();
    ASSERT_EQ(1u, mgr->IsInited());
    for (int i = 0; i < 128; i++)
        ASSERT_EQ(i, mgr->CreateHandle(Dummy(i)));
    EXPECT_EQ(128u, mgr->GetCurrentCap());
    EXPECT_EQ(128, mgr->CreateHandle(Dummy(128))) << "all 128 taken: the capacity grows";
    EXPECT_EQ(256u, mgr->GetCurrentCap());

    // 10 in use (0..8 and 127) and the cursor at 127: the search wraps to the first free slot.
    auto fresh = std::make_unique<CAsyncManager>();
    for (int i = 0; i < 9; i++)
        ASSERT_EQ(i, fresh->CreateHandle(Dummy(i)));
    fresh->SetCursorForTest(127);
    ASSERT_EQ(127, fresh->CreateHandle(Dummy(127)));
    fresh->SetCursorForTest(127);
    EXPECT_EQ(9, fresh->CreateHandle(Dummy(9)));
    EXPECT_EQ(128u, fresh->GetCurrentCap());

    // A freed handle comes back only after the cursor has passed the others.
    fresh->DestroyHandle(3);
    EXPECT_EQ(10, fresh->CreateHandle(Dummy(10)));
}

TEST_F(AsyncManagerTable, FullTableAndInvalidHandles) {
    auto mgr = std::make_unique<CAsyncManager>();
    for (DWORD i = 0; i < CAsyncManager::kTotalNum; i++)
        ASSERT_EQ((int)i, mgr->CreateHandle(Dummy(i)));
    EXPECT_EQ(-1, mgr->CreateHandle(Dummy(1)));
    EXPECT_EQ(-1, mgr->CreateHandle(nullptr));

    servicetest::LogCapture log;
    mgr->DestroyHandle(40000);
    mgr->DestroyHandle(40000);
    mgr->DestroyHandle(-1);
    mgr->DestroyHandle((int)CAsyncManager::kTotalNum);
    EXPECT_EQ(1u, log.Matching("CAsyncManager::DestroyHandle, pCallClass is NULL, iHandle[40000]").size());
    EXPECT_EQ(2u, log.Matching("CAsyncManager::DestroyHandle, Invalid Param").size());
    EXPECT_EQ(40000, mgr->CreateHandle(Dummy(7))) << "the only free slot";
}

// A stream-mode receiver that records what its callback gets.
struct Recorder {
    std::mutex lock;
    std::condition_variable cond;
    std::vector<std::pair<int, std::string>> events;
    std::atomic<int> iReturn{1};
    std::atomic<bool> bStopped{false};
    std::atomic<bool> bCalledAfterStop{false};

    static int CallBack(void *pUser, char *pData, int iLen, int iStatus) {
        auto *self = static_cast<Recorder *>(pUser);
        if (self->bStopped)
            self->bCalledAfterStop = true;
        std::lock_guard<std::mutex> guard(self->lock);
        self->events.emplace_back(iStatus, std::string(pData ? pData : "", pData ? (size_t)iLen : 0));
        self->cond.notify_all();
        return self->iReturn;
    }
    // Waits until n events arrived; the text of those with status 0 joined.
    bool WaitEvents(size_t n, int iTimeoutMs = 5000) {
        std::unique_lock<std::mutex> guard(lock);
        return cond.wait_for(guard, std::chrono::milliseconds(iTimeoutMs), [&] { return events.size() >= n; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return events.size();
    }
    std::pair<int, std::string> At(size_t i) {
        std::lock_guard<std::mutex> guard(lock);
        return events.at(i);
    }
};

class StreamLink : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        m_pLink = linktest::Connect("127.0.0.1", m_listener.Port());
        ASSERT_NE(nullptr, m_pLink);
        m_peer = m_listener.Accept();
        ASSERT_GE(m_peer, 0);
    }
    void TearDown() override {
        if (m_pLink)
            Link_DestroyLink(m_pLink);
        if (m_peer >= 0)
            close(m_peer);
        servicetest::InitedTest::TearDown();
    }
    void StartReceiving(Recorder &rec) {
        ASSERT_EQ(1, m_pLink->StartRecv(Recorder::CallBack, &rec, 0));
        ASSERT_EQ(1, m_pLink->ResumeRecvThread());
    }
    void PeerSend(const std::string &text) {
        ASSERT_EQ((ssize_t)text.size(), send(m_peer, text.data(), text.size(), MSG_NOSIGNAL));
    }

    Listener m_listener;
    CLinkBase *m_pLink = nullptr;
    int m_peer = -1;
};

TEST_F(StreamLink, DataIsDeliveredAndTheReceivePostedAgain) {
    Recorder rec;
    StartReceiving(rec);
    PeerSend("hello");
    ASSERT_TRUE(rec.WaitEvents(1));
    PeerSend("again");
    ASSERT_TRUE(rec.WaitEvents(2));
    EXPECT_EQ(std::make_pair(0, std::string("hello")), rec.At(0));
    EXPECT_EQ(std::make_pair(0, std::string("again")), rec.At(1));
    EXPECT_EQ(0, m_pLink->RecvData(nullptr, 0, nullptr, 10, 0)) << "blocking receives are off in stream mode";
}

TEST_F(StreamLink, ACallbackThatReturnsZeroPausesUntilResumed) {
    Recorder rec;
    rec.iReturn = 0;
    StartReceiving(rec);
    PeerSend("one");
    ASSERT_TRUE(rec.WaitEvents(1));
    PeerSend("two");
    EXPECT_FALSE(rec.WaitEvents(2, 200)) << "nothing is delivered while paused";
    ASSERT_EQ(1, m_pLink->ResumeRecvThread());
    ASSERT_TRUE(rec.WaitEvents(2));
    EXPECT_EQ("two", rec.At(1).second);
}

TEST_F(StreamLink, PeerCloseGivesStatus9AndAResetGives73) {
    Recorder rec;
    StartReceiving(rec);
    close(m_peer);
    m_peer = -1;
    ASSERT_TRUE(rec.WaitEvents(1));
    EXPECT_EQ(std::make_pair(9, std::string()), rec.At(0));
    EXPECT_FALSE(rec.WaitEvents(2, 100)) << "no receive is posted after the end of the stream";

    // A second link whose peer resets the connection: the completion fails.
    CLinkBase *pOther = linktest::Connect("127.0.0.1", m_listener.Port());
    ASSERT_NE(nullptr, pOther);
    int peer = m_listener.Accept();
    Recorder rec2;
    ASSERT_EQ(1, pOther->StartRecv(Recorder::CallBack, &rec2, 0));
    ASSERT_EQ(1, pOther->ResumeRecvThread());
    linger lg{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    close(peer);
    ASSERT_TRUE(rec2.WaitEvents(1));
    EXPECT_EQ(73, rec2.At(0).first);
    Link_DestroyLink(pOther);
}

TEST_F(StreamLink, StopWithAReceiveOutstandingReturnsPromptlyAndNoCallbackFollows) {
    Recorder rec;
    StartReceiving(rec);
    const int32_t iCountBefore = GetAsyncManager()->GetCurrentCount();
    const auto start = std::chrono::steady_clock::now();
    Link_DestroyLink(m_pLink);
    m_pLink = nullptr;
    rec.bStopped = true;
    // The receive ends with the close; Stop never waits out its 5.5-s wait for it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5000));
    EXPECT_EQ(iCountBefore - 1, GetAsyncManager()->GetCurrentCount()) << "the slot is free again";
    send(m_peer, "late", 4, MSG_NOSIGNAL);  // the link reset the connection at its close
    EXPECT_FALSE(rec.WaitEvents(1, 100));
    EXPECT_FALSE(rec.bCalledAfterStop);
}

// The runtime copies what it cannot send at once: the caller may reuse its buffer as soon as
// the send returns. A small send buffer and a peer that reads nothing yet make most of the
// send wait; the reader then checks every byte.
TEST_F(StreamLink, ALargeSendArrivesWholeThoughTheCallerReusesItsBuffer) {
    Recorder rec;
    StartReceiving(rec);
    const int iSmall = 4096;
    ASSERT_EQ(0, setsockopt(m_pLink->GetSocket(), SOL_SOCKET, SO_SNDBUF, &iSmall, sizeof(iSmall)));
    std::string data(4 << 20, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char('a' + i % 26 + (i / 16384) % 7);
    std::string buf = data;
    ASSERT_EQ((int)buf.size(), Link_SendDataByLink(m_pLink, buf.data(), (DWORD)buf.size(), 0));
    int iOutQueue = 0, iInQueue = 0;
    ASSERT_EQ(0, ioctl(m_pLink->GetSocket(), SIOCOUTQ, &iOutQueue));
    ASSERT_EQ(0, ioctl(m_peer, SIOCINQ, &iInQueue));
    ASSERT_LT(iOutQueue + iInQueue, (int)data.size()) << "the sockets took it all: nothing waited";
    std::fill(buf.begin(), buf.end(), 'X');
    const std::string got = linktest::ReadExactly(m_peer, data.size(), 10000);
    ASSERT_EQ(data.size(), got.size());
    EXPECT_TRUE(data == got) << "first difference at " << std::mismatch(data.begin(), data.end(), got.begin()).first - data.begin();
}

// Sends of two threads on one link never interleave within a message.
TEST_F(StreamLink, ConcurrentSendersKeepEachMessageContiguous) {
    Recorder rec;
    StartReceiving(rec);
    constexpr size_t kMsg = 100 * 1024;
    constexpr int kPerThread = 8;
    auto sender = [&](char c) {
        std::string msg(kMsg, c);
        for (int i = 0; i < kPerThread; i++)
            ASSERT_EQ((int)kMsg, Link_SendDataByLink(m_pLink, msg.data(), (DWORD)kMsg, 0));
    };
    std::string got;
    std::thread reader([&] { got = linktest::ReadExactly(m_peer, 2 * kPerThread * kMsg, 10000); });
    std::thread a(sender, 'A'), b(sender, 'B');
    a.join();
    b.join();
    reader.join();
    ASSERT_EQ(2 * kPerThread * kMsg, got.size());
    for (size_t off = 0; off < got.size(); off += kMsg)
        ASSERT_TRUE(std::all_of(got.begin() + off, got.begin() + off + kMsg, [&](char c) { return c == got[off]; }))
            << "message at " << off << " is mixed";
}

// The callback closes its own link on the first data and destroys it: the delivery it runs in
// must neither wait for itself nor free the buffer under it.
TEST_F(StreamLink, StopFromInsideTheOwnCallback) {
    struct Ctx {
        CLinkBase *pLink;
        std::atomic<int> iCalls{0};
    } ctx{m_pLink};
    auto fn = [](void *pUser, char *, int, int) -> int {
        auto *c = static_cast<Ctx *>(pUser);
        if (c->iCalls++ == 0)
            Link_DestroyLink(c->pLink);
        return 1;
    };
    const int32_t iCountBefore = GetAsyncManager()->GetCurrentCount();
    ASSERT_EQ(1, m_pLink->StartRecv(fn, &ctx, 0));
    ASSERT_EQ(1, m_pLink->ResumeRecvThread());
    m_pLink = nullptr;  // the callback owns it now
    PeerSend("bye");
    ASSERT_TRUE(WaitFor([&] { return GetAsyncManager()->GetCurrentCount() == iCountBefore; }, 5000))
        << "the completion released the slot after the callback returned";
    EXPECT_EQ(1, ctx.iCalls.load());
}

// A completion held back past Stop's wait: the link is destroyed first, the completion later
// drains into the slot and releases it with the buffer.
std::mutex g_HookLock;
std::condition_variable g_HookCond;
bool g_bHookArmed = false, g_bHookHeld = false, g_bHookRelease = false;

void HoldCompletion() {
    std::unique_lock<std::mutex> guard(g_HookLock);
    if (!g_bHookArmed)
        return;
    g_bHookArmed = false;
    g_bHookHeld = true;
    g_HookCond.notify_all();
    g_HookCond.wait(guard, [] { return g_bHookRelease; });
}

TEST_F(StreamLink, ACompletionLaterThanStopsWaitDrainsSafely) {
    Recorder rec;
    StartReceiving(rec);
    const int32_t iCountBefore = GetAsyncManager()->GetCurrentCount();
    {
        std::lock_guard<std::mutex> guard(g_HookLock);
        g_bHookArmed = true;
        g_bHookHeld = g_bHookRelease = false;
    }
    CLinkAsyncIO::SetCompletionHookForTest(HoldCompletion);
    CLinkAsyncIO::SetStopWaitStepsForTest(5);
    servicetest::LogCapture log;
    Link_DestroyLink(m_pLink);
    m_pLink = nullptr;
    {
        std::unique_lock<std::mutex> guard(g_HookLock);
        ASSERT_TRUE(g_HookCond.wait_for(guard, std::chrono::seconds(5), [] { return g_bHookHeld; }));
    }
    EXPECT_EQ(iCountBefore, GetAsyncManager()->GetCurrentCount()) << "the slot stays taken while the completion is out";
    EXPECT_EQ(1u, log.Matching("CLinkAsyncIO::DebugStopStatus, m_nUnCompCount[1]").size());
    {
        std::lock_guard<std::mutex> guard(g_HookLock);
        g_bHookRelease = true;
        g_HookCond.notify_all();
    }
    EXPECT_TRUE(WaitFor([&] { return GetAsyncManager()->GetCurrentCount() == iCountBefore - 1; }, 5000));
    CLinkAsyncIO::SetCompletionHookForTest(nullptr);
    CLinkAsyncIO::SetStopWaitStepsForTest(550);
    EXPECT_EQ(0u, rec.Count());
}

TEST_F(StreamLink, KeysOfAnotherHandleSocketOrGenerationAreRefused) {
    Recorder rec;
    StartReceiving(rec);
    // The link's own registration, reached through a second one on the same socket numbers.
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    CLinkAsyncIO io;
    Recorder rec2;
    ASSERT_EQ(1, io.Start(sv[0], Recorder::CallBack, &rec2, 4096));
    const uintptr_t uKey = io.MakeKey(ASYNC_OP_RECV);
    const int h = AsyncKey::Handle(uKey);
    const uint32_t g = AsyncKey::Generation(uKey);
    EXPECT_TRUE(io.CheckAsyncCallbackUserData(uKey));
    const struct {
        const char *pWhat;
        uintptr_t uKey;
    } cases[] = {
        {"another handle", AsyncKey::Make(h + 1, 0, sv[0], g)},
        {"another socket", AsyncKey::Make(h, 0, sv[0] + 1, g)},
        {"an earlier generation", AsyncKey::Make(h, 0, sv[0], g - 1)},
        {"a later generation", AsyncKey::Make(h, 0, sv[0], g + 1)},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(io.CheckAsyncCallbackUserData(c.uKey)) << c.pWhat;
    // The same slot taken again: a key of the previous occupant no longer matches.
    ASSERT_EQ(1, io.Stop());
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    GetAsyncManager()->SetCursorForTest((uint32_t)h);
    ASSERT_EQ(1, io.Start(sv[0], Recorder::CallBack, &rec2, 4096));
    ASSERT_EQ(h, io.GetAsyncHandle());
    EXPECT_FALSE(io.CheckAsyncCallbackUserData(uKey));
    io.Stop();
    close(sv[1]);
}

// ---- command mode ----

class CommandLink : public servicetest::InitedTest {};

TEST_F(CommandLink, OverlappedConnectSendAndReceive) {
    Listener listener;
    CLinkBase *pLink = linktest::Connect("127.0.0.1", listener.Port(), LINK_TYPE_TCP, 1);
    ASSERT_NE(nullptr, pLink);
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_EQ(4, Link_SendDataByLink(pLink, "ping", 4, 1000));
    EXPECT_EQ("ping", linktest::ReadExactly(peer, 4));

    // Nothing sent: a time-out, the caller's buffer untouched now and after the call.
    char buf[16];
    std::memset(buf, 'C', sizeof(buf));
    DWORD dwLen = 99;
    EXPECT_EQ(1, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 100, 1));
    EXPECT_EQ(10, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(0u, dwLen);
    ASSERT_EQ(4, send(peer, "late", 4, 0));
    char buf2[16] = {0};
    EXPECT_EQ(1, Link_RecvData(pLink, buf2, sizeof(buf2), &dwLen, 2000, 1)) << "the pending receive serves this call";
    EXPECT_EQ(4u, dwLen);
    EXPECT_EQ("late", std::string(buf2, 4));
    EXPECT_EQ(std::string(16, 'C'), std::string(buf, 16)) << "the timed-out call's buffer is never written";

    // More than the caller's buffer: the rest is kept for the next call.
    ASSERT_EQ(10, send(peer, "0123456789", 10, 0));
    char small[6] = {0};
    ASSERT_TRUE(WaitFor([&] { return Link_RecvData(pLink, small, 6, &dwLen, 1000, 1) && dwLen > 0; }, 3000));
    std::string got(small, dwLen);
    while (got.size() < 10 && Link_RecvData(pLink, small, 6, &dwLen, 1000, 1) && dwLen)
        got.append(small, dwLen);
    EXPECT_EQ("0123456789", got);

    close(peer);
    EXPECT_EQ(0, Link_RecvData(pLink, buf, sizeof(buf), &dwLen, 2000, 1));
    EXPECT_EQ(73, GetCoreGlobalCtrl()->GetLastError()) << "the peer closed";
    Link_DestroyLink(pLink);
}

// A send posted while the overlapped connect has not completed waits for it; a connect that
// does not complete within the send time-out makes the send fail with error 8.
TEST_F(CommandLink, ASendWaitsForTheConnectAndFailsWhenItNeverCompletes) {
    Listener full(0);
    // Fill the accept queue so that further SYNs are dropped.
    std::vector<int> fillers;
    for (int i = 0; i < 4; i++) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons((uint16_t)full.Port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(s, (sockaddr *)&a, sizeof(a));
        fillers.push_back(s);
    }
    CLinkBase *pLink = linktest::Connect("127.0.0.1", full.Port(), LINK_TYPE_TCP, 1);
    ASSERT_NE(nullptr, pLink) << "the overlapped connect is only posted";
    GetCoreGlobalCtrl()->SetLastError(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Link_SendDataByLink(pLink, "data", 4, 300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(8, GetCoreGlobalCtrl()->GetLastError());
    Link_DestroyLink(pLink);
    for (int s : fillers)
        close(s);
}

// ---- threads ----

// What a peer read while a link echoed its stream and the link's owner sent "owner" messages:
// the owner's messages must be whole and the echoes, taken together, the stream in its order.
bool EchoesAndOwnerMessagesAreWhole(const std::string &got, size_t &nOwner) {
    nOwner = 0;
    std::string rest;
    for (size_t at = 0, next; at < got.size(); at = next + 5, nOwner++) {
        next = got.find("owner", at);
        rest.append(got, at, next == std::string::npos ? std::string::npos : next - at);
        if (next == std::string::npos)
            break;
    }
    for (size_t i = 0; i < rest.size(); i++)
        if (rest[i] != "abcdefgh"[i % 8])
            return false;
    return true;
}

// Completions race Stop; the owner sends while the callback echoes. The peer sees every owner
// message whole and the echoes in order, no callback runs once the destroy has returned, and
// the link's slot is free again after each round.
TEST_F(CommandLink, CompletionsRacingStopAndSendersOnBothSides) {
    Listener listener;
    const int32_t iCountBefore = GetAsyncManager()->GetCurrentCount();
    for (int round = 0; round < 20; round++) {
        CLinkBase *pLink = linktest::Connect("127.0.0.1", listener.Port());
        ASSERT_NE(nullptr, pLink);
        int peer = listener.Accept();
        ASSERT_GE(peer, 0);
        struct Ctx {
            CLinkBase *pLink;
            std::atomic<int> iCalls{0};
            std::atomic<bool> bDestroyed{false};
            std::atomic<bool> bLate{false};
        } ctx{pLink};
        auto echo = [](void *pUser, char *pData, int iLen, int iStatus) -> int {
            auto *c = static_cast<Ctx *>(pUser);
            if (c->bDestroyed)
                c->bLate = true;
            c->iCalls++;
            if (iStatus == 0)
                Link_SendDataByLink(c->pLink, pData, (DWORD)iLen, 0);
            return 1;
        };
        ASSERT_EQ(1, pLink->StartRecv(echo, &ctx, 0));
        ASSERT_EQ(1, pLink->ResumeRecvThread());

        std::mutex gotLock;
        std::string got;
        std::thread reader([&] {
            char buf[65536];
            ssize_t r;
            while ((r = recv(peer, buf, sizeof(buf), 0)) > 0) {
                std::lock_guard<std::mutex> guard(gotLock);
                got.append(buf, (size_t)r);
            }
        });
        std::atomic<bool> bDone{false};
        std::thread feeder([&] {
            while (!bDone)
                if (send(peer, "abcdefgh", 8, MSG_NOSIGNAL) < 0)
                    break;
        });
        ASSERT_TRUE(WaitFor([&] { return ctx.iCalls > 0; }, 5000)) << "the echo runs before the owner sends";
        std::atomic<int> iOwnerSent{0};
        std::thread owner([&] {
            for (int i = 0; i < 50; i++)
                iOwnerSent += Link_SendDataByLink(pLink, "owner", 5, 0) == 5;
        });
        owner.join();
        size_t nOwner = 0;
        // The link resets the connection at its close: what the peer has not read by then is gone.
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard<std::mutex> guard(gotLock);
            return EchoesAndOwnerMessagesAreWhole(got, nOwner) && nOwner == 50;
        }, 10000)) << "round " << round << ": " << nOwner << " owner messages";
        Link_DestroyLink(pLink);
        ctx.bDestroyed = true;
        reader.join();  // ends when the link's end of the connection is gone
        bDone = true;
        feeder.join();
        close(peer);

        EXPECT_EQ(50, iOwnerSent.load());
        EXPECT_FALSE(ctx.bLate) << "round " << round << ": a callback after the destroy returned";
        EXPECT_EQ(iCountBefore, GetAsyncManager()->GetCurrentCount()) << "round " << round;
        size_t nAll = 0;
        EXPECT_TRUE(EchoesAndOwnerMessagesAreWhole(got, nAll)) << "round " << round;
    }
}

}  // namespace
