// Timer proxies: intervals, registration rules, remove-on-zero and unregistration from inside
// a callback (also of the last registration), busy slots, the keep-thread flag, many proxies.
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "Module/Memory/MemoryMgr.h"
#include "Module/TimerProxy/TimerProxy.h"
#include "service_test_util.h"

using namespace Vorezi;
using Clock = std::chrono::steady_clock;

namespace {

int Threads() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 8, "Threads:") == 0)
            return std::stoi(line.substr(8));
    return -1;
}

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    int iResult = 1;
    int iSleepMs = 0;
    std::mutex lock;
    std::vector<Clock::time_point> times;
};

int CountingCallBack(void *pUser) {
    auto *c = static_cast<Counter *>(pUser);
    int now = ++c->inFlight;
    int seen = c->maxInFlight.load();
    while (now > seen && !c->maxInFlight.compare_exchange_weak(seen, now)) {
    }
    {
        std::lock_guard<std::mutex> guard(c->lock);
        c->times.push_back(Clock::now());
    }
    if (c->iSleepMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(c->iSleepMs));
    c->calls++;
    c->inFlight--;
    return c->iResult;
}

class TimerProxy : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        GetCoreGlobalCtrl()->SetCustomTiming(1);
        // The log writer starts with its first line; let it exist before counting threads.
        m_Log.reset(new servicetest::LogCapture);
        LogModule_Write(LOG_LEVEL_ERR, "timer proxy test");
        m_Log->Lines();
        m_iBaseThreads = Threads();
    }
    void TearDown() override {
        m_Proxies.clear();
        m_Log.reset();
        servicetest::InitedTest::TearDown();
    }
    CTimerProxy *NewProxy(DWORD dwSlots, DWORD dwInterval, BYTE byThreads = 2, BYTE byKeep = 0) {
        m_Proxies.emplace_back(new (MEM_INDEX_HEAP) CTimerProxy(dwSlots));
        TIMER_PROXY_CREATE_PARAM param = {dwSlots, dwInterval, nullptr, byThreads, byKeep};
        EXPECT_EQ(m_Proxies.back()->Start(&param), 1);
        return m_Proxies.back().get();
    }
    static int Register(CTimerProxy *pProxy, DWORD dwSlot, Counter *pCounter, BYTE byRemove = 0,
                        TIMER_PROXY_DATA_CALLBACK fn = CountingCallBack) {
        TIMER_PROXY_REGISTER_PARAM reg = {dwSlot, byRemove, pCounter, fn};
        return pProxy->RigisterCommandIndex(&reg);
    }
    bool ThreadsBackToBase() {
        return servicetest::WaitFor([&] { return Threads() == m_iBaseThreads; }, 3000);
    }

    std::vector<std::unique_ptr<CTimerProxy>> m_Proxies;
    std::unique_ptr<servicetest::LogCapture> m_Log;
    int m_iBaseThreads = 0;
};

TEST_F(TimerProxy, ShortIntervalsNeedCustomTiming) {
    EXPECT_EQ(NewProxy(1, 200)->GetInterval(), 200u);
    GetCoreGlobalCtrl()->SetCustomTiming(0);
    EXPECT_EQ(NewProxy(1, 200)->GetInterval(), 1000u);
    EXPECT_EQ(NewProxy(1, 1500)->GetInterval(), 1500u);
}

TEST_F(TimerProxy, CallbacksRunEveryIntervalOnThePool) {
    CTimerProxy *pProxy = NewProxy(4, 100);
    Counter counter;
    const auto registered = Clock::now();
    ASSERT_EQ(Register(pProxy, 2, &counter), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return counter.calls.load() >= 5; }, 5000));
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(2), 1);
    std::lock_guard<std::mutex> guard(counter.lock);
    using std::chrono::milliseconds;
    // The first call comes one interval after the registration, the next ones an interval apart.
    // Single gaps are measured on the pool thread and stretch or shrink with its scheduling on a
    // loaded machine; the n-th call can never come before n intervals have passed.
    for (size_t i = 0; i < counter.times.size(); i++)
        EXPECT_GE(counter.times[i] - registered, milliseconds(90) * (i + 1)) << i;
    for (size_t i = 1; i < counter.times.size(); i++)
        EXPECT_LE(counter.times[i] - counter.times[i - 1], milliseconds(3000)) << i;
    EXPECT_TRUE(ThreadsBackToBase());
}

TEST_F(TimerProxy, RegistrationRules) {
    CTimerProxy *pProxy = NewProxy(3, 100);
    Counter counter;
    TIMER_PROXY_REGISTER_PARAM noCallBack = {0, 0, &counter, nullptr};
    const struct {
        const TIMER_PROXY_REGISTER_PARAM *pParam;
    } kRefused[] = {{nullptr}, {&noCallBack}};
    for (const auto &c : kRefused) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(pProxy->RigisterCommandIndex(c.pParam), 0);
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    }
    EXPECT_EQ(Register(pProxy, 3, &counter), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(pProxy->UnRigisterCommandIndex(1), 0);  // free slot
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(pProxy->UnRigisterCommandIndex(-1), 0);
    EXPECT_EQ(pProxy->UnRigisterCommandIndex(3), 0);
    EXPECT_EQ(Threads(), m_iBaseThreads);  // refusals start nothing

    ASSERT_EQ(Register(pProxy, 1, &counter), 1);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(Register(pProxy, 1, &counter), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
    EXPECT_EQ(m_Log->Matching("CTimerProxy::RigisterCommandIndex, dwSessionIndex1[1] is Used, dwSessionIndex2[1]").size(),
              1u);
    // The refused registration gave its count back: the last real one ends the cycle thread.
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(1), 1);
    EXPECT_TRUE(ThreadsBackToBase());
}

TEST_F(TimerProxy, RemoveOnZeroIncludingTheLastRegistration) {
    CTimerProxy *pProxy = NewProxy(2, 50);
    Counter once, kept;
    once.iResult = 0;
    kept.iResult = 0;
    ASSERT_EQ(Register(pProxy, 0, &once, 1), 1);
    ASSERT_EQ(Register(pProxy, 1, &kept, 0), 1);  // no flag: a result of 0 keeps it
    ASSERT_TRUE(servicetest::WaitFor([&] { return kept.calls.load() >= 4; }, 5000));
    EXPECT_EQ(once.calls.load(), 1);
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(1), 1);
    EXPECT_TRUE(ThreadsBackToBase());

    // The only registration removes itself on a pool worker: the cycle thread ends on its own.
    Counter last;
    last.iResult = 0;
    ASSERT_EQ(Register(pProxy, 1, &last, 1), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return last.calls.load() == 1; }, 5000));
    EXPECT_TRUE(ThreadsBackToBase());
    EXPECT_EQ(last.calls.load(), 1);
    EXPECT_EQ(pProxy->UnRigisterCommandIndex(1), 0);  // already gone
}

struct SelfRemoving {
    CTimerProxy *pProxy;
    DWORD dwSlot;
    std::atomic<int> iUnregister{-1};
    std::atomic<int> iRegisterNext{-1};
    Counter next;
    std::atomic<int> calls{0};
};

int UnregisterItself(void *pUser) {
    auto *s = static_cast<SelfRemoving *>(pUser);
    if (s->calls++ == 0) {
        s->iUnregister = s->pProxy->UnRigisterCommandIndex((int)s->dwSlot);
        if (s->dwSlot == 0) {
            TIMER_PROXY_REGISTER_PARAM reg = {1, 0, &s->next, CountingCallBack};
            s->iRegisterNext = s->pProxy->RigisterCommandIndex(&reg);
        }
    }
    return 1;
}

TEST_F(TimerProxy, UnregisterFromInsideTheCallback) {
    // The last registration unregisters itself.
    CTimerProxy *pProxy = NewProxy(2, 50);
    SelfRemoving last{pProxy, 1, {-1}, {-1}, {}, {0}};
    TIMER_PROXY_REGISTER_PARAM reg = {1, 0, &last, UnregisterItself};
    ASSERT_EQ(pProxy->RigisterCommandIndex(&reg), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return last.calls.load() == 1 && last.iUnregister != -1; }, 5000));
    EXPECT_TRUE(ThreadsBackToBase());
    EXPECT_EQ(last.iUnregister, 1);
    EXPECT_EQ(last.calls.load(), 1);

    // Unregister and register another slot from inside: a new cycle thread takes over.
    SelfRemoving moving{pProxy, 0, {-1}, {-1}, {}, {0}};
    TIMER_PROXY_REGISTER_PARAM first = {0, 0, &moving, UnregisterItself};
    ASSERT_EQ(pProxy->RigisterCommandIndex(&first), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return moving.next.calls.load() >= 3; }, 5000));
    EXPECT_EQ(moving.iUnregister, 1);
    EXPECT_EQ(moving.iRegisterNext, 1);
    EXPECT_EQ(moving.calls.load(), 1);
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(1), 1);
    EXPECT_TRUE(ThreadsBackToBase());
}

TEST_F(TimerProxy, BusySlotIsSkippedNeverRunTwiceAtOnce) {
    CTimerProxy *pProxy = NewProxy(1, 40, 4);
    Counter slow;
    slow.iSleepMs = 200;
    ASSERT_EQ(Register(pProxy, 0, &slow), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return slow.calls.load() >= 2; }, 5000));
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(0), 1);
    EXPECT_EQ(slow.maxInFlight.load(), 1);
    EXPECT_FALSE(m_Log->Matching("CTimerProxy::ExchangeThread, TimerProxy work is processing, iProxy[0]").empty());
}

TEST_F(TimerProxy, KeepThreadOutlivesTheRegistrations) {
    CTimerProxy *pProxy = NewProxy(1, 50, 1, 1);
    Counter counter;
    ASSERT_EQ(Register(pProxy, 0, &counter), 1);
    ASSERT_TRUE(servicetest::WaitFor([&] { return counter.calls.load() >= 1; }, 5000));
    ASSERT_EQ(pProxy->UnRigisterCommandIndex(0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GT(Threads(), m_iBaseThreads);
    ASSERT_EQ(Register(pProxy, 0, &counter), 1);  // reuses the running thread
    int iCalls = counter.calls.load();
    ASSERT_TRUE(servicetest::WaitFor([&] { return counter.calls.load() > iCalls; }, 5000));
    m_Proxies.clear();  // destruction ends it
    EXPECT_TRUE(ThreadsBackToBase());
}

TEST_F(TimerProxy, ManyProxiesAtOnce) {
    constexpr int kProxies = 24;
    constexpr int kSlots = 4;
    std::vector<Counter> counters(kProxies * kSlots);
    for (int p = 0; p < kProxies; p++) {
        CTimerProxy *pProxy = NewProxy(kSlots, 30, 2);
        for (int s = 0; s < kSlots; s++)
            ASSERT_EQ(Register(pProxy, (DWORD)s, &counters[p * kSlots + s]), 1);
    }
    EXPECT_TRUE(servicetest::WaitFor(
        [&] {
            for (const Counter &c : counters)
                if (c.calls.load() < 3)
                    return false;
            return true;
        },
        10000));
    // Destroying proxies with live registrations stops everything.
    m_Proxies.clear();
    EXPECT_TRUE(ThreadsBackToBase());
}

}  // namespace
