// Pooled objects: origin of objects, private parts and allocation records, and the failure paths.
#include <gtest/gtest.h>

#include <stdexcept>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Memory/ObjectBase.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class CSample : public CObjectBase {
public:
    explicit CSample(int iValue, bool bThrow = false) : m_iValue(iValue) {
        if (bThrow)
            throw std::runtime_error("constructor failed");
    }
    CObjectBasePrivate *Record() const { return m_pAllocRecord; }
    int m_iValue;
    char m_byPayload[40] = {};
};

class CSamplePrivate : public CObjectBasePrivate {
public:
    explicit CSamplePrivate(bool bThrow = false) {
        if (bThrow)
            throw std::runtime_error("constructor failed");
    }
    long m_lData[4] = {};
};

class ObjectBaseTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        m_pMgr = GetMemoryMgr();
        ASSERT_NE(m_pMgr, nullptr);
        m_nObjects = m_pMgr->CreateMemoryPool(sizeof(CSample), 8, 64, 0, 0);
        m_nRecords = m_pMgr->CreateMemoryPool(sizeof(CObjectBasePrivate), 8, 64, 0, 0);
        m_nTiny = m_pMgr->CreateMemoryPool(0, 8, 64, 0, 0);  // units hold the header only
        GetCoreGlobalCtrl()->SetGlobalMemPoolIndex(0, m_nRecords);
    }
    DWORD InUse(int nIndex) {
        CMemPool *pPool = m_pMgr->GetMemPool(nIndex);
        return pPool ? pPool->GetActualUse() : 0;
    }

    CMemoryMgr *m_pMgr = nullptr;
    int m_nObjects = -1;
    int m_nRecords = -1;
    int m_nTiny = -1;
};

}  // namespace

TEST_F(ObjectBaseTest, PooledObjectAndRecordGoBackToTheirPools) {
    CSample *p = new (m_nObjects) CSample(7);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->m_iValue, 7);
    ASSERT_NE(p->Record(), nullptr);
    EXPECT_EQ(p->Record()->m_bObjFromPool, 1u);
    EXPECT_EQ(p->Record()->m_bFromPool, 1u);
    EXPECT_EQ(InUse(m_nObjects), 1u);
    EXPECT_EQ(InUse(m_nRecords), 1u);
    delete p;
    EXPECT_EQ(InUse(m_nObjects), 0u);
    EXPECT_EQ(InUse(m_nRecords), 0u);
}

TEST_F(ObjectBaseTest, HeapObjectKeepsEverythingOnTheHeap) {
    CSample *p = new (-1) CSample(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Record()->m_bObjFromPool, 0u);
    EXPECT_EQ(p->Record()->m_bFromPool, 0u);
    EXPECT_EQ(InUse(m_nRecords), 0u);
    delete p;  // ASan reports a pool block freed to the heap or a leaked record
}

TEST_F(ObjectBaseTest, NestedAllocationsInArgumentsKeepTheirRecords) {
    struct CHolder : CObjectBase {
        explicit CHolder(CSample *pInner) : m_pInner(pInner) {}
        ~CHolder() override { delete m_pInner; }
        CObjectBasePrivate *Record() const { return m_pAllocRecord; }
        CSample *m_pInner;
    };
    int nHolders = m_pMgr->CreateMemoryPool(sizeof(CHolder), 4, 8, 0, 0);
    CHolder *p = new (nHolders) CHolder(new (m_nObjects) CSample(1));
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->m_pInner, nullptr);
    EXPECT_NE(p->Record(), nullptr);
    EXPECT_NE(p->m_pInner->Record(), nullptr);
    EXPECT_NE(p->Record(), p->m_pInner->Record());
    EXPECT_EQ(InUse(m_nRecords), 2u);
    delete p;
    EXPECT_EQ(InUse(m_nRecords), 0u);
    EXPECT_EQ(InUse(nHolders), 0u);
}

TEST_F(ObjectBaseTest, FailuresLeaveNothingAllocated) {
    // Units too small for the object: null, and no record left behind.
    EXPECT_EQ(new (m_nTiny) CSample(1), nullptr);
    EXPECT_EQ(InUse(m_nRecords), 0u);
    // An index that was never defined.
    EXPECT_EQ(new (1999) CSample(1), nullptr);
    EXPECT_EQ(InUse(m_nRecords), 0u);
    // No record to be had: the object's unit goes back.
    GetCoreGlobalCtrl()->SetGlobalMemPoolIndex(0, m_nTiny);
    CSample *pNoRecord = new (m_nObjects) CSample(1);
    EXPECT_EQ(pNoRecord, nullptr);
    EXPECT_EQ(InUse(m_nObjects), 0u);
}

TEST_F(ObjectBaseTest, ThrowingConstructorsReturnEveryBlock) {
    for (int nIndex : {m_nObjects, -1}) {
        EXPECT_THROW(new (nIndex) CSample(1, true), std::runtime_error);
        EXPECT_EQ(InUse(m_nObjects), 0u);
        EXPECT_EQ(InUse(m_nRecords), 0u) << "the record is freed too";
    }
    int nPrivate = m_pMgr->CreateMemoryPool(sizeof(CSamplePrivate), 4, 8, 0, 0);
    EXPECT_THROW(new (nPrivate) CSamplePrivate(true), std::runtime_error);
    EXPECT_EQ(InUse(nPrivate), 0u);
    EXPECT_THROW(new (-1) CSamplePrivate(true), std::runtime_error);
}

TEST_F(ObjectBaseTest, PrivatePartsRememberTheirOrigin) {
    int nPrivate = m_pMgr->CreateMemoryPool(sizeof(CSamplePrivate), 4, 8, 0, 0);
    CObjectBasePrivate *pPooled = new (nPrivate) CSamplePrivate();
    CObjectBasePrivate *pHeap = new (-1) CSamplePrivate();
    ASSERT_NE(pPooled, nullptr);
    ASSERT_NE(pHeap, nullptr);
    EXPECT_EQ(pPooled->m_bFromPool, 1u);
    EXPECT_EQ(pHeap->m_bFromPool, 0u);
    EXPECT_EQ(InUse(nPrivate), 1u);
    delete pPooled;
    delete pHeap;
    EXPECT_EQ(InUse(nPrivate), 0u);
}

TEST_F(ObjectBaseTest, BarredAndNullForms) {
    servicetest::LogCapture log;
    EXPECT_EQ(CObjectBase::operator new(sizeof(CSample)), nullptr);
    EXPECT_EQ(CObjectBasePrivate::operator new(sizeof(CSamplePrivate)), nullptr);
    CObjectBase::operator delete(nullptr);
    CObjectBasePrivate::operator delete(nullptr);
    CSample onStack(1);  // never allocated: no record
    EXPECT_EQ(onStack.Record(), nullptr);
    EXPECT_EQ(log.Matching("Can't get memory user this function.").size(), 1u);
    EXPECT_EQ(log.Matching("Utils_Assert!").size(), 3u);
}

TEST(ObjectBaseNoPools, EverythingComesFromTheHeap) {
    MORVA_MEMPOOL_INIT_CFG cfg{};
    cfg.bNoMemPool = 1;
    ASSERT_EQ(GetCoreGlobalCtrl()->SetInitConfig(ENUM_MORVA_INIT_CFG_MEMPOOL, &cfg), 1);
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetPrivateMemPoolIndex(), -1);
    CSample *p = new (-1) CSample(5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Record()->m_bObjFromPool, 0u);
    delete p;
    EXPECT_EQ(new (0) CSample(5), nullptr) << "no pools to take from";
    GetCoreGlobalCtrl()->Fini();
}
