// Morva_Init and Morva_Fini over the whole foundation: counting, a failure at every step of the
// resource set-up, the per-thread error code around them, the managers made on first use and
// the configuration that returns to its defaults at the last Fini.
#include <gtest/gtest.h>
#include <dirent.h>

#include <cstring>
#include <string>
#include <thread>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/ComInterfaceMorva.h"
#include "transport/async/AsyncManager.h"
#include "transport/port/PortPoolMgr.h"

using namespace Vorezi;

namespace {

int CountEntries(const char *pDir) {
    int n = 0;
    DIR *d = opendir(pDir);
    while (dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

int ThreadCount() {
    return CountEntries("/proc/self/task");
}

// The thread count to come back to. Sanitizer runtimes start a helper thread with the first
// thread of the process, so one is started and joined before counting.
int BaselineThreadCount() {
    std::thread([] {}).join();
    return ThreadCount();
}

int FdCount() {
    return CountEntries("/proc/self/fd");
}

std::string DllPath(int iSlot) {
    char sz[DLL_PATH_FIELD] = {0};
    Ctrl()->GetDllLoadPath(iSlot, sz);
    return sz;
}

TEST(MorvaLifecycle, CountedInitAndFini) {
    EXPECT_EQ(Morva_GetVersion(), 0);
    EXPECT_EQ(Morva_GetLastError(), 3);
    EXPECT_EQ(Morva_Fini(), 0);
    EXPECT_EQ(Morva_GetLastError(), 3);

    int nThreads = BaselineThreadCount();
    int nFds = FdCount();
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(Morva_Init(), 1);
        ASSERT_EQ(Morva_Init(), 1);
        EXPECT_EQ(Morva_GetVersion(), 0x0101000C);
        EXPECT_EQ(Morva_Fini(), 1);
        EXPECT_EQ(Morva_GetVersion(), 0x0101000C);  // one Init still holds it
        EXPECT_EQ(Morva_Fini(), 1);
        EXPECT_EQ(Morva_GetVersion(), 0);
    }
    EXPECT_EQ(ThreadCount(), nThreads);  // timer thread, queue workers, log writer: all gone
    EXPECT_EQ(FdCount(), nFds);
}

// The completion queue runs as many workers as the async-I/O pool configuration says.
TEST(MorvaLifecycle, AsyncQueueWorkersFollowTheirConfiguration) {
    DWORD dwCounts[5] = {0, 0, 0, 0, 3};
    ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_THREADPOOL, dwCounts), 1);
    ASSERT_EQ(Morva_Init(), 1);
    int nThree = ThreadCount();
    ASSERT_EQ(Morva_Fini(), 1);
    dwCounts[4] = 7;
    ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_THREADPOOL, dwCounts), 1);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(ThreadCount(), nThree + 4);
    ASSERT_EQ(Morva_Fini(), 1);
}

// Every step after the runtime start that fails undoes the ones before it and restores the
// defaults; the next Init then succeeds.
TEST(MorvaLifecycle, AFailureAtEveryStepUndoesTheStepsBefore) {
    int nThreads = BaselineThreadCount();
    const std::string defaultPath = DllPath(0);
    for (int iStep : {2, 4, 5, 6, 7, 8, 9, 10, 11, 12}) {
        SCOPED_TRACE(iStep);
        DWORD dwMqtt = 77;
        ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_ABILITY, &dwMqtt), 1);
        Morva_SetDllLoadPath(0, "/opt/elsewhere/libssl.so.3");
        Ctrl()->SetInitFailStep(iStep);
        EXPECT_EQ(Morva_Init(), 0);
        Ctrl()->SetInitFailStep(0);
        EXPECT_EQ(Morva_GetLastError(), 41);
        EXPECT_EQ(Ctrl()->IsInited(), 0);
        EXPECT_EQ(Ctrl()->GetLogService(), nullptr);
        EXPECT_EQ(Ctrl()->GetAbilityCfg().dwMaxMqttConnection, 20480u);
        EXPECT_EQ(DllPath(0), defaultPath);
        EXPECT_EQ(ThreadCount(), nThreads);

        ASSERT_EQ(Morva_Init(), 1);
        EXPECT_NE(Ctrl()->GetLogService(), nullptr);
        ASSERT_EQ(Morva_Fini(), 1);
    }
    // The runtime start itself failing leaves nothing to undo: the configuration stays.
    DWORD dwMqtt = 77;
    ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_ABILITY, &dwMqtt), 1);
    Ctrl()->SetInitFailStep(1);
    EXPECT_EQ(Morva_Init(), 0);
    Ctrl()->SetInitFailStep(0);
    EXPECT_EQ(Ctrl()->GetAbilityCfg().dwMaxMqttConnection, 77u);
    ASSERT_EQ(Morva_Init(), 1);
    ASSERT_EQ(Morva_Fini(), 1);
    EXPECT_EQ(Ctrl()->GetAbilityCfg().dwMaxMqttConnection, 20480u);
}

TEST(MorvaLifecycle, ErrorCodeAndUserValuesPerThreadOnlyWhileInitialised) {
    Morva_SetLastError(9);
    Morva_SetThreadUserValues(1, 2);
    int iSeen = -1, v1 = -1, v2 = -1;
    std::thread([&] {
        iSeen = Morva_GetLastError();
        Morva_GetThreadUserValues(&v1, &v2);
    }).join();
    EXPECT_EQ(iSeen, 9);
    EXPECT_EQ(v1, 1);
    EXPECT_EQ(v2, 2);

    ASSERT_EQ(Morva_Init(), 1);
    Morva_SetLastError(5);
    Morva_SetThreadUserValues(3, 4);
    std::thread([&] {
        iSeen = Morva_GetLastError();
        Morva_GetThreadUserValues(&v1, &v2);
        Morva_SetLastError(6);
    }).join();
    EXPECT_EQ(iSeen, 0);
    EXPECT_EQ(v1, 0);
    EXPECT_EQ(v2, 0);
    EXPECT_EQ(Morva_GetLastError(), 5);
    ASSERT_EQ(Morva_Fini(), 1);

    Morva_SetLastError(11);
    std::thread([&] { iSeen = Morva_GetLastError(); }).join();
    EXPECT_EQ(iSeen, 11);
}

TEST(MorvaLifecycle, ManagersMadeOnceAndAfreshAfterARestart) {
    ASSERT_EQ(Morva_Init(), 1);
    CPortPoolMgr *pMgr = Ctrl()->GetPortPoolMgr();
    ASSERT_NE(pMgr, nullptr);
    EXPECT_EQ(Ctrl()->GetPortPoolMgr(), pMgr);
    EXPECT_EQ(pMgr->CreatePortPool("", YAR_AF_INET, 1, 1000, 2000), 0);
    CAsyncManager *pAsync = Ctrl()->GetAsyncManager();
    ASSERT_NE(pAsync, nullptr);  // async I/O is on by default
    EXPECT_NE(pAsync->GetProtocolAsyncIO(), nullptr);
    EXPECT_EQ(Ctrl()->GetAsyncManager(), pAsync);
    EXPECT_GE(Morva_GetDefaultMemPoolIndex(10), 0);
    ASSERT_EQ(Morva_Fini(), 1);

    ASSERT_EQ(Morva_Init(), 1);
    // A fresh manager: its first pool takes slot 0 again.
    EXPECT_EQ(Ctrl()->GetPortPoolMgr()->CreatePortPool("", YAR_AF_INET, 1, 1000, 2000), 0);
    ASSERT_NE(Ctrl()->GetAsyncManager(), nullptr);
    ASSERT_EQ(Morva_Fini(), 1);
}

TEST(MorvaLifecycle, WithoutPoolsNoManagerNoPoolsNoTimerThread) {
    ASSERT_EQ(Morva_Init(), 1);
    int nWithPools = ThreadCount();
    ASSERT_EQ(Morva_Fini(), 1);

    MORVA_MEMPOOL_INIT_CFG cfg = {};
    cfg.bNoMemPool = 2;
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 0);
    cfg.bNoMemPool = 1;
    ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 1);
    ASSERT_EQ(Morva_Init(), 1);
    EXPECT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 0);  // refused after Init
    EXPECT_EQ(Ctrl()->IsUseMemPool(), 0);
    EXPECT_EQ(Ctrl()->GetMemoryMgr(), nullptr);
    EXPECT_EQ(Morva_GetDefaultMemPoolIndex(10), -1);
    EXPECT_EQ(ThreadCount(), nWithPools - 1);
    ASSERT_EQ(Morva_Fini(), 1);
    EXPECT_EQ(Ctrl()->IsUseMemPool(), 1);
}

TEST(MorvaMemory, SizeClassesZeroedAndLargeBlocksOnTheHeap) {
    EXPECT_EQ(Morva_NewMemory(0, 16), nullptr);  // not initialised
    ASSERT_EQ(Morva_Init(), 1);
    struct Case {
        DWORD dwSize, dwActual;
    } cases[] = {{1, 32}, {32, 32}, {33, 64}, {1000, 1024}, {0x200000, 0x200000}, {0x200001, 0x200001}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dwSize);
        DWORD dwActual = 0;
        auto *p = static_cast<unsigned char *>(Morva_NewMemoryEx(c.dwSize, &dwActual));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(dwActual, c.dwActual);
        bool bZero = true;
        for (DWORD i = 0; i < dwActual; i++)
            bZero = bZero && p[i] == 0;
        EXPECT_TRUE(bZero);
        std::memset(p, 0xAB, dwActual);  // dirty it: the next block of the class must come zeroed
        Morva_DelMemoryEx(p);
    }
    EXPECT_EQ(Morva_NewMemoryEx(0, nullptr), nullptr);

    int iPool = Morva_CreateMemoryPool(100, 4, 16, 0, 0);
    ASSERT_GE(iPool, 0);
    void *p = Morva_NewMemory(iPool, 100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Morva_DelMemory(p), 1);
    EXPECT_EQ(Morva_DestroyMemoryPool(iPool), 1);
    EXPECT_EQ(Morva_ReleaseAllIdleMemPool(), 1);
    ASSERT_EQ(Morva_Fini(), 1);

    MORVA_MEMPOOL_INIT_CFG cfg = {};
    cfg.bNoMemPool = 1;
    ASSERT_EQ(Morva_SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 1);
    ASSERT_EQ(Morva_Init(), 1);
    DWORD dwActual = 0;
    void *pHeap = Morva_NewMemoryEx(33, &dwActual);
    ASSERT_NE(pHeap, nullptr);
    EXPECT_EQ(dwActual, 33u);
    Morva_DelMemoryEx(pHeap);
    EXPECT_EQ(Morva_CreateMemoryPool(100, 4, 16, 0, 0), -1);
    ASSERT_EQ(Morva_Fini(), 1);
}

}  // namespace
