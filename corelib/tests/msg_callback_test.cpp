// Exception notifications routed to the host's callback or to its window sink, on the message
// pool, with the error code handed over; settings changes against running deliveries.
#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "Module/MsgCallBack/MsgCallBackBase.h"
#include "platform/window_message.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

struct Delivery {
    DWORD dwValue1, dwValue2, dwValue3;
    uintptr_t wParam;
    intptr_t lParam;
    UINT uMsg;
    void *pUser;
    int iError;
    std::thread::id thread;
};

struct Recorder {
    std::mutex lock;
    std::vector<Delivery> seen;
    std::atomic<int> count{0};
    void Add(const Delivery &d) {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(d);
        count++;
    }
};
Recorder *g_pRecorder = nullptr;

void RecordCallBack(DWORD v1, DWORD v2, DWORD v3, void *pUser) {
    g_pRecorder->Add({v1, v2, v3, 0, 0, 0, pUser, GetCoreGlobalCtrl()->GetLastError(), std::this_thread::get_id()});
}

void RecordSink(void *, UINT uMsg, uintptr_t wParam, intptr_t lParam, void *pUser) {
    g_pRecorder->Add({0, 0, 0, wParam, lParam, uMsg, pUser, GetCoreGlobalCtrl()->GetLastError(),
                      std::this_thread::get_id()});
}

class MsgCallBack : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        g_pRecorder = &m_Recorder;
        m_pDispatcher = GetCoreGlobalCtrl()->GetMsgCallBackBase();
        ASSERT_NE(m_pDispatcher, nullptr);
    }
    void TearDown() override {
        platform::WindowMessage_UnregisterSink(&m_Window);
        servicetest::InitedTest::TearDown();
        g_pRecorder = nullptr;
    }
    bool WaitCount(int n) {
        return servicetest::WaitFor([&] { return m_Recorder.count.load() >= n; }, 5000);
    }

    Recorder m_Recorder;
    CMsgCallBackBase *m_pDispatcher = nullptr;
    int m_Window = 0;  // its address is the window handle
    int m_User = 0;
};

TEST_F(MsgCallBack, DispatcherIsMadeOnceAndDeliveryCanBeOff) {
    EXPECT_EQ(GetCoreGlobalCtrl()->GetMsgCallBackBase(), m_pDispatcher);
    // Delivery off: accepted and dropped, so a callback set right after never sees it.
    auto *pDispatcher = new CMsgCallBackBase;
    EXPECT_EQ(pDispatcher->PostMessageOrCallBack(1, 2, 3, 4), 0);
    ASSERT_EQ(pDispatcher->SetExceptionMessOrCallBack(0, nullptr, RecordCallBack, nullptr), 0);
    delete pDispatcher;  // its pool runs every job it accepted before it goes
    EXPECT_EQ(m_Recorder.count.load(), 0);
}

TEST_F(MsgCallBack, CallbackRunsOnThePoolWithTheErrorCode) {
    ASSERT_EQ(m_pDispatcher->SetExceptionMessOrCallBack(0x400, nullptr, RecordCallBack, &m_User), 0);
    GetCoreGlobalCtrl()->SetLastError(0);
    ASSERT_EQ(m_pDispatcher->PostMessageOrCallBack(11, 22, 0xFFFFFFFF, 8), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 0);  // the poster's code is untouched
    ASSERT_TRUE(WaitCount(1));
    const Delivery &d = m_Recorder.seen[0];
    EXPECT_EQ(d.dwValue1, 11u);
    EXPECT_EQ(d.dwValue2, 22u);
    EXPECT_EQ(d.dwValue3, 0xFFFFFFFFu);
    EXPECT_EQ(d.pUser, &m_User);
    EXPECT_EQ(d.iError, 8);
    EXPECT_NE(d.thread, std::this_thread::get_id());
}

TEST_F(MsgCallBack, WindowTakesPrecedenceAndReceivesOnlyValues1And3) {
    ASSERT_EQ(platform::WindowMessage_RegisterSink(&m_Window, RecordSink, &m_User), 1);
    // Own dispatchers: deleting one runs every job it accepted, so what was delivered is final.
    auto *pDispatcher = new CMsgCallBackBase;
    ASSERT_EQ(pDispatcher->SetExceptionMessOrCallBack(0x8001, &m_Window, RecordCallBack, nullptr), 0);
    ASSERT_EQ(pDispatcher->PostMessageOrCallBack(5, 6, (DWORD)-7, 43), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 43);  // set on the posting thread
    delete pDispatcher;
    ASSERT_EQ(m_Recorder.count.load(), 1);  // no callback besides the message
    const Delivery &d = m_Recorder.seen[0];
    EXPECT_EQ(d.uMsg, 0x8001u);
    EXPECT_EQ(d.wParam, 5u);
    EXPECT_EQ(d.lParam, -7);
    EXPECT_EQ(d.pUser, &m_User);
    EXPECT_EQ(d.iError, 43);
    EXPECT_NE(d.thread, std::this_thread::get_id());

    // A window without a sink loses the message, as a destroyed window would.
    ASSERT_EQ(platform::WindowMessage_UnregisterSink(&m_Window), 1);
    pDispatcher = new CMsgCallBackBase;
    ASSERT_EQ(pDispatcher->SetExceptionMessOrCallBack(0x8001, &m_Window, RecordCallBack, nullptr), 0);
    EXPECT_EQ(pDispatcher->PostMessageOrCallBack(1, 2, 3, 4), 0);
    delete pDispatcher;
    EXPECT_EQ(m_Recorder.count.load(), 1);
}

std::promise<void> *g_pEntered = nullptr;
std::shared_future<void> *g_pRelease = nullptr;
void BlockingCallBack(DWORD, DWORD, DWORD, void *) {
    g_pEntered->set_value();
    g_pRelease->wait();
    g_pRecorder->count++;
}

TEST_F(MsgCallBack, SettingsChangeWaitsForARunningCallback) {
    std::promise<void> entered, release;
    std::shared_future<void> releaseFuture = release.get_future().share();
    g_pEntered = &entered;
    g_pRelease = &releaseFuture;
    ASSERT_EQ(m_pDispatcher->SetExceptionMessOrCallBack(0, nullptr, BlockingCallBack, nullptr), 0);
    ASSERT_EQ(m_pDispatcher->PostMessageOrCallBack(1, 2, 3, 0), 0);
    entered.get_future().wait();

    std::atomic<bool> bChanged{false};
    std::thread setter([&] {
        m_pDispatcher->SetExceptionMessOrCallBack(0, nullptr, nullptr, nullptr);
        bChanged = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bChanged.load());
    release.set_value();
    setter.join();
    EXPECT_TRUE(bChanged.load());
    EXPECT_EQ(m_Recorder.count.load(), 1);
}

TEST_F(MsgCallBack, ManyPostersEveryNotificationArrives) {
    ASSERT_EQ(m_pDispatcher->SetExceptionMessOrCallBack(0, nullptr, RecordCallBack, nullptr), 0);
    std::vector<std::thread> posters;
    for (int t = 0; t < 8; t++)
        posters.emplace_back([&, t] {
            for (int i = 0; i < 50; i++)
                EXPECT_EQ(m_pDispatcher->PostMessageOrCallBack((DWORD)t, (DWORD)i, 0, t * 100 + i), 0);
        });
    for (auto &th : posters)
        th.join();
    ASSERT_TRUE(WaitCount(400));
    std::lock_guard<std::mutex> guard(m_Recorder.lock);
    for (const Delivery &d : m_Recorder.seen)
        EXPECT_EQ(d.iError, (int)(d.dwValue1 * 100 + d.dwValue2));
}

}  // namespace
