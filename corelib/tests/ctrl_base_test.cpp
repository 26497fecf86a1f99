// Counted Init and Fini of the control base, CheckInit around them, and the per-thread core
// error code with its shared value outside Init.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "log_test_util.h"

using namespace Vorezi;

namespace {

TEST(CtrlBase, InitFiniCountingAndCheckInit) {
    ASSERT_EQ(Ctrl()->CheckInit(), 0);
    EXPECT_EQ(Ctrl()->GetLastError(), MORVA_ERR_NOT_INIT);

    ASSERT_EQ(Ctrl()->Init(), 1);
    ASSERT_EQ(Ctrl()->Init(), 1);
    EXPECT_EQ(Ctrl()->CheckInit(), 1);
    CLogService *pLog = Ctrl()->GetLogService();
    EXPECT_NE(pLog, nullptr);

    Ctrl()->SetLastError(99);
    EXPECT_EQ(Ctrl()->Fini(), 1);  // not the last one: resources stay, error 0
    EXPECT_EQ(Ctrl()->GetLastError(), 0);
    EXPECT_EQ(Ctrl()->CheckInit(), 1);
    EXPECT_EQ(Ctrl()->GetLogService(), pLog);

    EXPECT_EQ(Ctrl()->Fini(), 1);
    EXPECT_EQ(Ctrl()->GetLogService(), nullptr);
    EXPECT_EQ(Ctrl()->CheckInit(), 0);
    EXPECT_EQ(Ctrl()->GetLastError(), MORVA_ERR_NOT_INIT);

    EXPECT_EQ(Ctrl()->Fini(), 0);
    EXPECT_EQ(Ctrl()->GetLastError(), MORVA_ERR_NOT_INIT);
}

TEST(CtrlBase, ErrorCodeSharedOutsideInitPerThreadInside) {
    Ctrl()->SetLastError(7);
    int iSeen = -1;
    std::thread([&] { iSeen = Ctrl()->GetLastError(); }).join();
    EXPECT_EQ(iSeen, 7);

    ASSERT_EQ(Ctrl()->Init(), 1);
    Ctrl()->SetLastError(5);
    std::thread([&] {
        iSeen = Ctrl()->GetLastError();
        Ctrl()->SetLastError(6);
    }).join();
    EXPECT_EQ(iSeen, 0);
    EXPECT_EQ(Ctrl()->GetLastError(), 5);
    ASSERT_EQ(Ctrl()->Fini(), 1);

    // A new Init starts every thread afresh.
    ASSERT_EQ(Ctrl()->Init(), 1);
    EXPECT_EQ(Ctrl()->GetLastError(), 0);
    ASSERT_EQ(Ctrl()->Fini(), 1);
}

TEST(CtrlBase, ThreadUserValues) {
    int a = -1, b = -1;
    Ctrl()->SetThreadUserValues(11, 12);
    std::thread([&] { Ctrl()->GetThreadUserValues(&a, &b); }).join();
    EXPECT_EQ(a, 11);  // shared outside Init
    EXPECT_EQ(b, 12);
    ASSERT_EQ(Ctrl()->Init(), 1);
    Ctrl()->SetThreadUserValues(21, 22);
    std::thread([&] {
        Ctrl()->GetThreadUserValues(&a, &b);
        Ctrl()->SetThreadUserValues(31, 32);
    }).join();
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    Ctrl()->GetThreadUserValues(&a, nullptr);
    EXPECT_EQ(a, 21);
    ASSERT_EQ(Ctrl()->Fini(), 1);
}

TEST(CtrlBase, DebugCategories) {
    ASSERT_EQ(Ctrl()->Init(), 1);
    EXPECT_EQ(Ctrl()->EnableDebugCategory(0), 0);
    for (DWORD c = 1; c <= 32; c++)
        ASSERT_EQ(Ctrl()->EnableDebugCategory(c), 1) << c;
    EXPECT_EQ(Ctrl()->EnableDebugCategory(5), 1);  // already present
    EXPECT_EQ(Ctrl()->EnableDebugCategory(33), 0);
    EXPECT_EQ(Ctrl()->IsDebugCategoryEnabled(32), 1);
    EXPECT_EQ(Ctrl()->DisableDebugCategory(32), 1);
    EXPECT_EQ(Ctrl()->DisableDebugCategory(77), 1);
    EXPECT_EQ(Ctrl()->IsDebugCategoryEnabled(32), 0);
    EXPECT_EQ(Ctrl()->EnableDebugCategory(33), 1);
    ASSERT_EQ(Ctrl()->Fini(), 1);
    // Outside Init there are no mutexes to guard the table.
    EXPECT_EQ(Ctrl()->EnableDebugCategory(1), 0);
}

TEST(CtrlBase, DefaultMemPoolSlots) {
    const struct {
        int iKind, iSlot;
    } kCases[] = {{0, 1}, {1, 2}, {4, 5}, {5, -1}, {7, -1}, {9, -1}, {10, 6}, {26, 22}, {27, -1}, {-1, -1}};
    for (const auto &c : kCases)
        EXPECT_EQ(CCoreGlobalCtrlBase::DefaultMemPoolSlot(c.iKind), c.iSlot) << c.iKind;
    EXPECT_EQ(Ctrl()->GetDefaultMemPoolIndex(7), -1);
}

std::atomic<bool> g_bWriterHeld{false};

void HoldWhileAsked(LOG_CALLBACK_RECORD *, void *) {
    while (g_bWriterHeld.load())
        std::this_thread::yield();
}

TEST(CtrlBase, LastFiniWhileTheGlobalLogRotates) {
    logtest::ScratchDir dir;
    ASSERT_EQ(Ctrl()->Init(), 1);
    CLogService *pLog = Ctrl()->GetLogService();
    LogModule_SetLogLevel(pLog, LOG_LEVEL_INF);
    ASSERT_EQ(LogModule_EnableOutput(pLog, LOG_OUTPUT_FILE, dir.Path().c_str(), 2048, LOG_MODE_NOCOVER), 1);
    // Hold the writer so that the queued lines are written, and files rotated, inside Fini.
    g_bWriterHeld = true;
    LogModule_SetLogCallBack(pLog, LOG_LEVEL_INF, HoldWhileAsked, nullptr);
    int iAccepted = 0;
    for (int i = 0; i < 200; i++)
        iAccepted += LogModule_Write(LOG_LEVEL_INF, "queued line %03d before the last Fini", i) == 1;
    // Released once Fini has begun to stop the log, which from then on refuses new lines.
    std::thread releaser([pLog] {
        while (pLog->WriteLog(LOG_LEVEL_INF, "probe") == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_bWriterHeld = false;
    });
    EXPECT_EQ(Ctrl()->Fini(), 1);
    releaser.join();

    std::vector<std::string> names = dir.List();
    ASSERT_GT(names.size(), 2u);
    int iLines = 0;
    for (const std::string &name : names) {
        std::string text = logtest::ReadFile(dir / name);
        for (size_t pos = 0; (pos = text.find("before the last Fini", pos)) != std::string::npos; pos++)
            iLines++;
    }
    EXPECT_EQ(iLines, iAccepted);
    // Files opened while Fini drains the queue carry no library banner: the controller is going.
    EXPECT_EQ(logtest::ReadFile(dir / names.back()).find("LogParam"), std::string::npos);
}

// A controller of our own: counts its resource calls and can be told to fail or to hold.
class CountingCtrl : public CCtrlMorva {
public:
    int IsUseLogConfigFile() override { return 0; }
    void PrintLibInfo() override {}
    int InitAllResource() override {
        m_iInits++;
        while (m_bHold.load())
            std::this_thread::yield();
        return m_bFail ? 0 : 1;
    }
    void ReleaseAllResource() override { m_iReleases++; }

    std::atomic<int> m_iInits{0};
    std::atomic<int> m_iReleases{0};
    std::atomic<bool> m_bHold{false};
    bool m_bFail = false;
};

TEST(CtrlBaseCounting, FailedInitLeavesNothingAndRetries) {
    CountingCtrl ctrl;
    ctrl.m_bFail = true;
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(ctrl.Init(), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
    EXPECT_EQ(ctrl.CheckInit(), 0);
    ctrl.m_bFail = false;
    EXPECT_EQ(ctrl.Init(), 1);
    EXPECT_EQ(ctrl.m_iInits.load(), 2);
    EXPECT_EQ(ctrl.Init(), 1);
    EXPECT_EQ(ctrl.m_iInits.load(), 2);  // later Inits only count
    EXPECT_EQ(ctrl.Fini(), 1);
    EXPECT_EQ(ctrl.m_iReleases.load(), 0);
    EXPECT_EQ(ctrl.Fini(), 1);
    EXPECT_EQ(ctrl.m_iReleases.load(), 1);
    EXPECT_EQ(ctrl.Fini(), 0);
}

TEST(CtrlBaseCounting, CheckInitWaitsForAnInitInProgress) {
    CountingCtrl ctrl;
    ctrl.m_bHold = true;
    std::thread initer([&] { ctrl.Init(); });
    while (ctrl.m_iInits.load() == 0)
        std::this_thread::yield();
    std::atomic<int> iChecked{-1};
    std::thread checker([&] { iChecked = ctrl.CheckInit(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(iChecked.load(), -1);  // blocked on the control mutex
    ctrl.m_bHold = false;
    initer.join();
    checker.join();
    EXPECT_EQ(iChecked.load(), 1);
    EXPECT_EQ(ctrl.Fini(), 1);
}

TEST(CtrlBaseCounting, BusyCountGatesTheLastFini) {
    CountingCtrl ctrl;
    ASSERT_EQ(ctrl.Init(), 1);
    std::atomic<int32_t> *pBusy = ctrl.GetBusyCounter();
    ASSERT_NE(pBusy, nullptr);
    pBusy->store(-1);
    GetCoreGlobalCtrl()->SetLastError(77);
    EXPECT_EQ(ctrl.CheckInit(), 0);  // a negative count is a fault, not an error code
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 77);

    pBusy->store(1);
    std::atomic<bool> bDone{false};
    std::thread finisher([&] {
        ctrl.Fini();
        bDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(bDone.load());
    EXPECT_EQ(ctrl.m_iReleases.load(), 0);
    pBusy->store(0);
    finisher.join();
    EXPECT_EQ(ctrl.m_iReleases.load(), 1);
}

}  // namespace
