// Counted Init and Fini of the control base, CheckInit around them, and the per-thread core
// error code with its shared value outside Init.
#include <gtest/gtest.h>

#include <thread>

#include "CoreGlobalCtrl.h"

using namespace Vorezi;

namespace {

CCoreGlobalCtrlBase *Ctrl() {
    return GetCoreGlobalCtrl();
}

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

}  // namespace
