// Proxy handles through the manager and the Interim_* entries: refusals, a freed handle, and a
// proxy destroyed while its own callback keeps calling into it.
#include <atomic>
#include <chrono>
#include <future>

#include "Module/TimerProxy/TimerProxyMgr.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class TimerProxyMgr : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        GetCoreGlobalCtrl()->SetCustomTiming(1);
        m_pMgr = GetTimerProxyMgr();
        ASSERT_NE(m_pMgr, nullptr);
    }
    int Create(DWORD dwSlots, DWORD dwInterval) {
        TIMER_PROXY_CREATE_PARAM param = {dwSlots, dwInterval, nullptr, 2, 0};
        return m_pMgr->CreateProxy(&param);
    }
    CTimerProxyMgr *m_pMgr = nullptr;
};

std::atomic<int> g_iCalls{0};
int Tick(void *) {
    g_iCalls++;
    return 1;
}

TEST_F(TimerProxyMgr, HandlesAndRefusals) {
    EXPECT_EQ(GetCoreGlobalCtrl()->GetTimerProxyMgr(), m_pMgr);
    EXPECT_EQ(m_pMgr->GetTotalNum(), TIMER_PROXY_MGR_MEMBERS);
    TIMER_PROXY_REGISTER_PARAM reg = {0, 0, nullptr, Tick};
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(Interim_RigisterTimerProxy(SDK_INVALID_ID, &reg), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(Interim_UnRigisterTimerProxy(SDK_INVALID_ID, 0), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);

    const int iKeep = Create(2, 50);
    const int iFreed = Create(2, 50);
    ASSERT_GE(iKeep, 0);
    ASSERT_GE(iFreed, 0);
    ASSERT_NE(iKeep, iFreed);
    EXPECT_EQ(m_pMgr->DestroyProxy(iFreed), 1);
    // A handle whose proxy is gone: refused without a code.
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(Interim_RigisterTimerProxy(iFreed, &reg), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 0);

    g_iCalls = 0;
    ASSERT_EQ(Interim_RigisterTimerProxy(iKeep, &reg), 1);
    ASSERT_TRUE(servicetest::WaitFor([] { return g_iCalls.load() >= 2; }, 5000));
    EXPECT_EQ(Interim_UnRigisterTimerProxy(iKeep, 0), 1);
    EXPECT_EQ(Interim_UnRigisterTimerProxy(iKeep, 0), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(m_pMgr->DestroyProxy(iKeep), 1);
}

std::atomic<int> g_iReentrantProxy{-1};
std::atomic<int> g_iReentrantCalls{0};
int ReRegister(void *) {
    g_iReentrantCalls++;
    // Slot 0 is this very registration: the calls are refused, but each goes through the handle.
    TIMER_PROXY_REGISTER_PARAM reg = {0, 0, nullptr, ReRegister};
    for (int i = 0; i < 20; i++) {
        Interim_RigisterTimerProxy(g_iReentrantProxy.load(), &reg);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

TEST_F(TimerProxyMgr, DestroyWhileTheCallbackCallsIntoTheProxy) {
    for (int round = 0; round < 5; round++) {
        const int iProxy = Create(1, 1);
        ASSERT_GE(iProxy, 0);
        g_iReentrantProxy = iProxy;
        g_iReentrantCalls = 0;
        TIMER_PROXY_REGISTER_PARAM reg = {0, 0, nullptr, ReRegister};
        ASSERT_EQ(Interim_RigisterTimerProxy(iProxy, &reg), 1);
        ASSERT_TRUE(servicetest::WaitFor([] { return g_iReentrantCalls.load() >= 1; }, 5000));
        auto done = std::async(std::launch::async, [&] { return m_pMgr->DestroyProxy(iProxy); });
        ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "round " << round;
        EXPECT_EQ(done.get(), 1);
    }
}

}  // namespace
