// Fixed-unit pools and the memory manager: batches, the limit, idle release, free-when-empty,
// block headers and alignment.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemPool.h"
#include "Module/Memory/MemoryMgr.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

constexpr DWORD kHeader = MEMPOOL_BLOCK_HEADER;

std::vector<void *> AllocN(CMemPool &pool, int n) {
    std::vector<void *> units;
    for (int i = 0; i < n; i++)
        units.push_back(pool.NewAlloc());
    return units;
}

bool Aligned(const void *p) {
    return reinterpret_cast<uintptr_t>(p) % 16 == 0;
}

}  // namespace

TEST(MemPool, BatchesHandOutAscendingAlignedUnits) {
    CMemPool pool(28, 8, 16, 0, 0);
    ASSERT_EQ(pool.CheckResource(), 1);
    EXPECT_EQ(pool.GetUnitSize(), 32 + kHeader);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 0u) << "no memory before the first allocation";

    std::vector<void *> first = AllocN(pool, 8);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 8u) << "one batch";
    for (int i = 0; i < 8; i++) {
        ASSERT_NE(first[i], nullptr);
        EXPECT_TRUE(Aligned(first[i]));
        if (i) {
            EXPECT_EQ((char *)first[i] - (char *)first[i - 1], (ptrdiff_t)pool.GetUnitSize());
        }
    }
    std::vector<void *> second = AllocN(pool, 8);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 16u);
    EXPECT_EQ(pool.GetActualUse(), 16u);
    EXPECT_EQ(pool.NewAlloc(), nullptr) << "17th unit above the limit";
    EXPECT_EQ(pool.GetErrorState(), MEM_POOL_ERROR_NOMOREBUF);

    pool.DelAlloc(second[3]);
    EXPECT_EQ(pool.NewAlloc(), second[3]) << "a freed unit is handed out again";
}

TEST(MemPool, LimitIsComparedBeforeABatchIsAdded) {
    CMemPool pool(16, 8, 20, 0, 0);
    std::vector<void *> units = AllocN(pool, 24);
    for (void *p : units)
        EXPECT_NE(p, nullptr);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 24u) << "the limit plus one batch less four units";
    EXPECT_EQ(pool.NewAlloc(), nullptr);
}

TEST(MemPool, ForeignAndRepeatedFreesChangeNothing) {
    CMemPool pool(32, 4, 0x100, 0, 0);
    void *p = pool.NewAlloc();
    void *q = pool.NewAlloc();
    int iOnStack = 0;
    pool.DelAlloc(static_cast<char *>(p) + 4);
    pool.DelAlloc(&iOnStack);
    pool.DelAlloc(nullptr);
    EXPECT_EQ(pool.GetActualUse(), 2u);
    pool.DelAlloc(p);
    pool.DelAlloc(p);
    EXPECT_EQ(pool.GetActualUse(), 1u) << "a second free of one unit is refused";
    pool.DelAlloc(q);
    EXPECT_EQ(pool.GetActualUse(), 0u);
}

TEST(MemPool, IdleReleaseKeepsTheBlocksInUse) {
    CMemPool pool(40, 4, 0x1000, 0, 0);
    std::vector<void *> units = AllocN(pool, 12);  // three blocks
    for (int i = 0; i < 12; i++) {
        if (i != 5)
            pool.DelAlloc(units[i]);
    }
    memset(units[5], 0xAB, 40);
    EXPECT_EQ(pool.ReleaseIdle(), 8u) << "first and third block";
    EXPECT_EQ(pool.GetAllocFromSysCount(), 4u);
    EXPECT_EQ(pool.GetActualUse(), 1u);
    EXPECT_EQ(static_cast<unsigned char *>(units[5])[39], 0xAB) << "the live unit kept its place and content";
    // The middle block's other units are still there to be handed out.
    std::set<void *> again;
    for (int i = 0; i < 3; i++)
        again.insert(pool.NewAlloc());
    EXPECT_EQ(pool.GetAllocFromSysCount(), 4u);
    for (int i : {4, 6, 7})
        EXPECT_EQ(again.count(units[i]), 1u);
    pool.DelAlloc(units[5]);
}

TEST(MemPool, FreeWhenEmptyGivesEverythingBack) {
    CMemPool pool(64, 4, 0x100, 1, 0);
    std::vector<void *> units = AllocN(pool, 6);
    for (void *p : units)
        pool.DelAlloc(p);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 0u);
    EXPECT_NE(pool.NewAlloc(), nullptr);
    EXPECT_EQ(pool.GetAllocFromSysCount(), 4u) << "a new batch";
}

TEST(MemPool, ReleaseCountdown) {
    CMemPool pool(8, 1, 1, 0, 0);  // interval 0 behaves as 5
    std::vector<int> due;
    for (int i = 0; i < 12; i++)
        due.push_back(pool.CheckTimer());
    EXPECT_EQ(due, (std::vector<int>{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}));
    CMemPool never(8, 1, 1, 0, -1);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(never.CheckTimer(), 0);
}

TEST(MemPool, ManyLiveUnitsStayDistinctAndAligned) {
    CMemPool pool(100, 64, 81920, 0, 0);
    std::vector<void *> units = AllocN(pool, 10000);
    std::set<void *> distinct(units.begin(), units.end());
    EXPECT_EQ(distinct.size(), units.size());
    for (void *p : units) {
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(Aligned(p));
        memset(p, 0x5A, pool.GetUnitSize());
    }
    for (size_t i = 0; i < units.size(); i += 2)
        pool.DelAlloc(units[i]);
    EXPECT_EQ(pool.GetActualUse(), 5000u);
    for (size_t i = 1; i < units.size(); i += 2)
        pool.DelAlloc(units[i]);
    EXPECT_EQ(pool.ReleaseIdle(), 10048u) << "157 batches of 64";
    EXPECT_EQ(pool.GetAllocFromSysCount(), 0u);
}

// ---- the memory manager ----

class MemoryMgrTest : public servicetest::InitedTest {};

// A batch whose size does not fit 32 bits would wrap to a small block whose units run past its
// end: such a pool is refused, and so is its definition in the manager.
TEST_F(MemoryMgrTest, BatchesBeyond32BitsAreRefused) {
    struct Case {
        DWORD dwMemberSize, dwOnceCount;
    } cases[] = {{0x10000, 0x10000}, {0x100, 0x02000000}, {0xFFFFFFF8, 1}, {16, 0xFFFFFFF0}};
    CMemoryMgr mgr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dwMemberSize);
        CMemPool pool(c.dwMemberSize, c.dwOnceCount, 0xFFFFFFFF, 0, 0);
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(pool.CheckResource(), 0);
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
        EXPECT_EQ(pool.NewAlloc(), nullptr);
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(mgr.CreateMemoryPool(c.dwMemberSize, c.dwOnceCount, 0, 0, 0), -1);
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    }
    // The largest batch that fits still works.
    CMemPool big(0x10000 - MEMPOOL_BLOCK_HEADER, 0xFFFF, 0xFFFF, 0, 0);
    EXPECT_EQ(big.CheckResource(), 1);
}

TEST_F(MemoryMgrTest, DefaultsAndHeaders) {
    CMemoryMgr mgr;
    ASSERT_EQ(mgr.IsCreated(), 1u);
    int n = mgr.CreateMemoryPool(32, 0, 0, 0, 0);
    ASSERT_GE(n, 0);
    void *p = mgr.NewMemory(32, n);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(Aligned(p));
    EXPECT_EQ(reinterpret_cast<MEM_BLOCK_HEADER *>(static_cast<char *>(p) - kHeader)->nIndex, n);
    EXPECT_EQ(mgr.GetMemPool(n)->GetAllocFromSysCount(), 8u) << "8 units per batch by default";
    EXPECT_EQ(mgr.GetMemPool(n)->GetUnitSize(), 32 + kHeader);

    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(mgr.NewMemory(33, n), nullptr);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);

    EXPECT_EQ(mgr.DelMemory(p), 1);
    EXPECT_EQ(reinterpret_cast<MEM_BLOCK_HEADER *>(static_cast<char *>(p) - kHeader)->nIndex, MEM_INDEX_FREED);
    EXPECT_EQ(mgr.DelMemory(p), 0) << "a returned block is refused";
    EXPECT_EQ(mgr.GetMemPool(n)->GetActualUse(), 0u);
}

TEST_F(MemoryMgrTest, IndexesAreDefinedReleasedAndReused) {
    CMemoryMgr mgr;
    std::vector<int> indexes;
    for (DWORD i = 0; i < MEMORY_MGR_POOL_NUM; i++)
        indexes.push_back(mgr.CreateMemoryPool(16, 4, 16, 0, 0));
    EXPECT_EQ(indexes.front(), 0);
    EXPECT_EQ(indexes.back(), (int)MEMORY_MGR_POOL_NUM - 1);
    EXPECT_EQ(mgr.CreateMemoryPool(16, 4, 16, 0, 0), -1) << "2049th definition";
    EXPECT_EQ(mgr.ReleaseMemoryPool(100), 1);
    EXPECT_EQ(mgr.CreateMemoryPool(16, 4, 16, 0, 0), 100);
    EXPECT_EQ(mgr.ReleaseMemoryPool(-1), 0);
    EXPECT_EQ(mgr.ReleaseMemoryPool((int)MEMORY_MGR_POOL_NUM), 0);
    EXPECT_EQ(mgr.NewMemory(8, (int)MEMORY_MGR_POOL_NUM), nullptr);
}

TEST_F(MemoryMgrTest, UndefinedIndexGetsNoPool) {
    CMemoryMgr mgr;
    EXPECT_EQ(mgr.AllocMemoryPoolByIndex(8, 7), 0);
    EXPECT_EQ(mgr.GetMemPool(7), nullptr);
    EXPECT_EQ(mgr.NewMemory(8, 7), nullptr);
}

TEST_F(MemoryMgrTest, HeapBlocksNeverTouchAPool) {
    CMemoryMgr mgr;
    int n = mgr.CreateMemoryPool(64, 4, 16, 0, 0);
    void *pPooled = mgr.NewMemory(64, n);
    void *pLarge = mgr.NewHeapMemory(0x200001);
    ASSERT_NE(pLarge, nullptr);
    EXPECT_TRUE(Aligned(pLarge));
    memset(pLarge, 0, 0x200001);
    EXPECT_EQ(mgr.DelMemory(pLarge), 1);
    EXPECT_EQ(mgr.GetMemPool(n)->GetActualUse(), 1u);
    EXPECT_EQ(mgr.DelMemory(pPooled), 1);
}

TEST_F(MemoryMgrTest, IdleReleaseNowAndByTimer) {
    CMemoryMgr mgr;
    int n = mgr.CreateMemoryPool(64, 4, 64, 0, 2);
    std::vector<void *> blocks;
    for (int i = 0; i < 8; i++)
        blocks.push_back(mgr.NewMemory(64, n));
    for (void *p : blocks)
        mgr.DelMemory(p);
    CMemPool *pPool = mgr.GetMemPool(n);
    mgr.ReleaseAllIdleMemoryPool(1);
    mgr.ReleaseAllIdleMemoryPool(1);
    EXPECT_EQ(pPool->GetAllocFromSysCount(), 8u) << "interval 2: not yet due";
    mgr.ReleaseAllIdleMemoryPool(1);
    EXPECT_EQ(pPool->GetAllocFromSysCount(), 0u);

    mgr.DelMemory(nullptr);
    void *p = mgr.NewMemory(64, n);
    mgr.DelMemory(p);
    mgr.ReleaseAllIdleMemoryPool(0);
    EXPECT_EQ(pPool->GetAllocFromSysCount(), 0u) << "bTimer 0 releases at once";
}

TEST_F(MemoryMgrTest, ConcurrentAllocationOnOnePool) {
    CMemoryMgr mgr;
    int n = mgr.CreateMemoryPool(48, 16, 81920, 0, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&mgr, n, t] {
            std::vector<void *> mine;
            for (int round = 0; round < 2000; round++) {
                void *p = mgr.NewMemory(48, n);
                ASSERT_NE(p, nullptr);
                memset(p, t, 48);
                mine.push_back(p);
                if (mine.size() > 64) {
                    ASSERT_EQ(static_cast<unsigned char *>(mine.front())[47], (unsigned char)t);
                    mgr.DelMemory(mine.front());
                    mine.erase(mine.begin());
                }
            }
            for (void *p : mine)
                mgr.DelMemory(p);
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(mgr.GetMemPool(n)->GetActualUse(), 0u);
}

TEST(MemoryMgrNoPools, RefusesWithoutTouchingTheHeap) {
    MORVA_MEMPOOL_INIT_CFG cfg{};
    cfg.bNoMemPool = 1;
    ASSERT_EQ(GetCoreGlobalCtrl()->SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 1);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetMemoryMgr(), nullptr);
    CMemoryMgr mgr;
    EXPECT_EQ(mgr.CreateMemoryPool(16, 4, 16, 0, 0), -1);
    EXPECT_EQ(mgr.NewMemory(16, 0), nullptr);
    int iOnStack[8] = {};
    EXPECT_EQ(mgr.DelMemory(&iOnStack[4]), 1);
    cfg.bNoMemPool = 0;
    GetCoreGlobalCtrl()->SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg);
}
