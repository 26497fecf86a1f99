// The reader/writer lock and the member table: the error-code table, full tables, reuse of
// slots, starting members, and members freed while other threads use or wait for them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Member/MemberBase.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Member/RWLock.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

std::atomic<int> g_iLiveMembers{0};
std::atomic<int> g_iStops{0};

class CTestMember : public CMemberBase {
public:
    explicit CTestMember(int bStartResult) : m_bStartResult(bStartResult) { g_iLiveMembers++; }
    ~CTestMember() override {
        m_iValue.store(-1);
        g_iLiveMembers--;
    }
    int Start(void *pParam) override {
        m_pStartParam = pParam;
        return m_bStartResult;
    }
    int Stop() override {
        g_iStops++;
        return 1;
    }
    int m_bStartResult;
    void *m_pStartParam = nullptr;
    std::atomic<int> m_iValue{0};
};

class CTestMgr : public CMemberMgrBase {
public:
    explicit CTestMgr(unsigned uiTotal) : CMemberMgrBase(uiTotal) {}
    // The creation parameter, when given, is the result Start is to return.
    CMemberBase *NewMemoryObject(void *pParam) override {
        int bStart = pParam ? *static_cast<int *>(pParam) : 1;
        return new (GetMemPoolIndex()) CTestMember(bStart);
    }
    using CMemberMgrBase::SetStartFlag;
};

class MemberTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        g_iLiveMembers = 0;
        g_iStops = 0;
    }
};

}  // namespace

TEST(RWLock, WriterWaitsForReadersAndMayReadItself) {
    CRWLock lock;
    ASSERT_EQ(lock.CheckInit(), 1);
    ASSERT_EQ(lock.ReadLock(), 1);
    std::atomic<bool> bWritten{false};
    std::thread writer([&] {
        CRWLockGuard guard(&lock, 0);
        EXPECT_EQ(guard.IsLocked(), 1);
        EXPECT_EQ(lock.ReadLock(), 1) << "the writing thread may read";
        EXPECT_EQ(lock.ReadUnlock(), 1);
        bWritten = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(bWritten.load());
    EXPECT_EQ(lock.TryWriteLock(), 0) << "a reader is counted";
    lock.ReadUnlock();
    writer.join();
    EXPECT_TRUE(bWritten.load());
    EXPECT_EQ(lock.TryWriteLock(), 1);
    EXPECT_EQ(lock.WriteUnlock(), 1);
    EXPECT_EQ(lock.Lock(0), 1);
    EXPECT_EQ(lock.Lock(1), 1);
    EXPECT_EQ(lock.Unlock(1), 1);
}

TEST(RWLock, MisuseIsReported) {
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    {
        servicetest::LogCapture log;
        CRWLock lock;
        EXPECT_EQ(lock.WriteUnlock(), 0) << "no writer: the mutex is not left";
        EXPECT_EQ(lock.ReadUnlock(), 1);
        EXPECT_EQ(lock.ReadLock(), 1);  // back to 0 before the destructor
        EXPECT_EQ(log.Matching("Utils_Assert!").size(), 2u);
    }
    GetCoreGlobalCtrl()->Fini();
}

TEST_F(MemberTest, LockErrorCodes) {
    CTestMgr mgr(5);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(mgr.ReadLockMember(0), 0);
    EXPECT_EQ(LastError(), MORVA_ERR_NOT_READY) << "no slot in use";
    EXPECT_EQ(mgr.WriteLockMember(0), 0);
    EXPECT_EQ(LastError(), MORVA_ERR_NOT_READY);
    ASSERT_EQ(mgr.AllocIndex2(nullptr, nullptr), 0);
    const struct {
        int iIndex;
        int iReadCode;
        int iWriteCode;
    } kCases[] = {{-1, MORVA_ERR_PARAM, MORVA_ERR_PARAM},
                  {5, MORVA_ERR_PARAM, MORVA_ERR_MEMBER_FULL},
                  {3, MORVA_ERR_NOT_READY, MORVA_ERR_NOT_READY}};  // never allocated: no lock
    for (const auto &c : kCases) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(mgr.ReadLockMember(c.iIndex), 0);
        EXPECT_EQ(LastError(), c.iReadCode) << c.iIndex;
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(mgr.WriteLockMember(c.iIndex), 0);
        EXPECT_EQ(LastError(), c.iWriteCode) << c.iIndex;
        EXPECT_EQ(mgr.ReadUnlockMember(c.iIndex), 0);
        EXPECT_EQ(mgr.WriteUnlockMember(c.iIndex), 0);
        EXPECT_EQ(mgr.TryWriteLockMember(c.iIndex), 0);
    }
    EXPECT_EQ(mgr.ReadLockMember(0), 1);
    EXPECT_EQ(mgr.TryWriteLockMember(0), 0) << "a reader holds it";
    EXPECT_EQ(mgr.ReadUnlockMember(0), 1);
    EXPECT_EQ(mgr.TryWriteLockMember(0), 1);
    EXPECT_EQ(mgr.WriteUnlockMember(0), 1);
}

TEST_F(MemberTest, FullTableFreeAndReuse) {
    CTestMgr mgr(5);
    EXPECT_EQ(mgr.GetTotalNum(), 5u);
    int iParam = 42;
    std::vector<int> indexes;
    for (int i = 0; i < 5; i++)
        indexes.push_back(mgr.AllocIndex2(nullptr, &iParam));
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(mgr.IsFull(), 1);
    auto *pMember = static_cast<CTestMember *>(mgr.GetMember(2));
    ASSERT_NE(pMember, nullptr);
    EXPECT_EQ(pMember->GetMemberIndex(), 2);
    EXPECT_EQ(pMember->m_pStartParam, &iParam);

    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(mgr.AllocIndex2(nullptr, nullptr), -1);
    EXPECT_EQ(LastError(), MORVA_ERR_MEMBER_FULL);
    EXPECT_EQ(g_iLiveMembers.load(), 5) << "no member made for a full table";

    EXPECT_EQ(mgr.FreeIndex(2, 1), 1);
    EXPECT_EQ(g_iStops.load(), 1);
    EXPECT_EQ(mgr.GetMember(2), nullptr);
    EXPECT_EQ(mgr.FreeIndex(2, 1), 0);
    EXPECT_EQ(LastError(), MORVA_ERR_NOT_READY) << "in range but empty";
    EXPECT_EQ(mgr.FreeIndex(5, 1), 0);
    EXPECT_EQ(LastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(mgr.AllocIndex2(nullptr, nullptr), 2) << "the freed slot is taken again";
    EXPECT_EQ(mgr.GetCurrNum(), 5u);
}

TEST_F(MemberTest, SearchWindowGrowsOnlyWhenFull) {
    CTestMgr mgr(100);
    for (int i = 0; i < 16; i++)
        ASSERT_EQ(mgr.AllocIndex2(nullptr, nullptr), i);
    ASSERT_EQ(mgr.FreeIndex(3, 0), 1);
    EXPECT_EQ(mgr.AllocIndex2(nullptr, nullptr), 3) << "within the first 16 slots while one is free";
    EXPECT_EQ(mgr.AllocIndex2(nullptr, nullptr), 16) << "all 16 in use: the window grows";
}

TEST_F(MemberTest, FailedStartLeavesTheTableUnchanged) {
    CTestMgr mgr(8);
    int bFail = 0;
    EXPECT_EQ(mgr.AllocIndex2(&bFail, nullptr), -1);
    EXPECT_EQ(mgr.GetCurrNum(), 0u);
    EXPECT_EQ(g_iLiveMembers.load(), 0);
    EXPECT_EQ(g_iStops.load(), 0) << "deleted without Stop";

    mgr.SetStartFlag(0);
    int iIndex = mgr.AllocIndex2(&bFail, nullptr);
    EXPECT_GE(iIndex, 0) << "without the start flag nothing is started";
    EXPECT_EQ(mgr.GetMember(iIndex)->GetMemberIndex(), -1);
}

TEST_F(MemberTest, PooledMembersAndTheirPoolGoWithTheManager) {
    int iPool = -1;
    {
        CTestMgr mgr(4);
        ASSERT_EQ(mgr.CreateMemoryPool(sizeof(CTestMember), 4, 8, 0, 0), 1);
        iPool = mgr.GetMemPoolIndex();
        ASSERT_GE(iPool, 0);
        for (int i = 0; i < 3; i++)
            ASSERT_GE(mgr.AllocIndex2(nullptr, nullptr), 0);
        EXPECT_EQ(GetMemoryMgr()->GetMemPool(iPool)->GetActualUse(), 3u);
    }
    EXPECT_EQ(g_iLiveMembers.load(), 0);
    EXPECT_EQ(g_iStops.load(), 3) << "the manager stops what it deletes";
    EXPECT_EQ(GetMemoryMgr()->GetMemPool(iPool), nullptr) << "the pool was released";
}

// Users follow the documented order: lock, look up, use. Writers free and re-create members
// all the while; a reader never sees a deleted member.
TEST_F(MemberTest, ConcurrentReadersAndWriters) {
    constexpr int kSlots = 8;
    CTestMgr mgr(kSlots);
    for (int i = 0; i < kSlots; i++)
        ASSERT_EQ(mgr.AllocIndex2(nullptr, nullptr), i);
    std::atomic<bool> bStop{false};
    std::atomic<long> lReads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int n = 0; !bStop.load(); n++) {
                int iSlot = (n + t) % kSlots;
                if (!mgr.ReadLockMember(iSlot))
                    continue;
                if (auto *p = static_cast<CTestMember *>(mgr.GetMember(iSlot))) {
                    EXPECT_GE(p->m_iValue.fetch_add(1), 0);
                    p->m_iValue.fetch_sub(1);
                    lReads++;
                }
                mgr.ReadUnlockMember(iSlot);
            }
        });
    }
    threads.emplace_back([&] {
        while (lReads.load() == 0)  // readers under way first, however the threads are scheduled
            std::this_thread::yield();
        for (int n = 0; n < 200; n++) {
            int iSlot = n % kSlots;
            if (mgr.FreeIndex(iSlot, 1))
                mgr.AllocIndex2(nullptr, nullptr);
        }
        bStop = true;
    });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(mgr.GetCurrNum(), (unsigned)kSlots);
}

TEST_F(MemberTest, MemberFreedWhileAnotherThreadWaits) {
    CTestMgr mgr(4);
    int iIndex = mgr.AllocIndex2(nullptr, nullptr);
    ASSERT_GE(iIndex, 0);

    // A reader holds the slot: the free waits for it.
    ASSERT_EQ(mgr.ReadLockMember(iIndex), 1);
    std::atomic<int> iFreed{-1};
    std::thread freer([&] { iFreed = mgr.FreeIndex(iIndex, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(iFreed.load(), -1);
    EXPECT_NE(mgr.GetMember(iIndex), nullptr);
    mgr.ReadUnlockMember(iIndex);
    freer.join();
    EXPECT_EQ(iFreed.load(), 1);

    // A writer holds the slot and frees the member while a reader waits for the lock: the
    // reader then finds the slot empty.
    iIndex = mgr.AllocIndex2(nullptr, nullptr);
    mgr.AllocIndex2(nullptr, nullptr);  // keeps the table from going empty
    ASSERT_EQ(mgr.WriteLockMember(iIndex), 1);
    std::atomic<int> iSeen{-1};
    std::thread reader([&] {
        if (mgr.ReadLockMember(iIndex)) {
            iSeen = mgr.GetMember(iIndex) ? 1 : 0;
            mgr.ReadUnlockMember(iIndex);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(iSeen.load(), -1) << "the reader waits";
    EXPECT_EQ(mgr.FreeIndex(iIndex, 1), 1);
    mgr.WriteUnlockMember(iIndex);
    reader.join();
    EXPECT_EQ(iSeen.load(), 0);
}
