// Time-consumption tests: start rules, tag arithmetic, the report line and its reset, the
// periodic report through the manager's proxy, and a manager that comes back after Fini.
#include <string>
#include <thread>
#include <vector>

#include "Module/TimeConsuming/TimeConsumingMgr.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class TimeConsuming : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        m_pMgr = GetTimeConsumingMgr();
        ASSERT_NE(m_pMgr, nullptr);
        ASSERT_EQ(m_pMgr->IsInited(), 1);
    }
    CTimeConsuming *Create(DWORD dwTags, const char *pName, int *pIndex) {
        TIME_CONSUMING_PARAM param = {dwTags, 7, pName};
        *pIndex = m_pMgr->CreateTimeConsuming(&param);
        return *pIndex < 0 ? nullptr : dynamic_cast<CTimeConsuming *>(m_pMgr->GetMember(*pIndex));
    }

    CTimeConsumingMgr *m_pMgr = nullptr;
};

TEST_F(TimeConsuming, StartRecordRules) {
    const std::string longest(255, 'n'), tooLong(256, 'n');
    const struct {
        DWORD dwTags;
        DWORD dwValue;
        const char *pName;
        bool bAccepted;
    } kCases[] = {
        {1, 1, "a", true},           {8, 1, longest.c_str(), true}, {9, 1, "a", false}, {0, 1, "a", false},
        {2, 0, "a", false},          {2, 1, "", false},             {2, 1, nullptr, false},
        {2, 1, tooLong.c_str(), false},
    };
    for (const auto &c : kCases) {
        TIME_CONSUMING_PARAM param = {c.dwTags, c.dwValue, c.pName};
        int iIndex = m_pMgr->CreateTimeConsuming(&param);
        EXPECT_EQ(iIndex >= 0, c.bAccepted) << c.dwTags << " " << c.dwValue;
        if (iIndex >= 0) {
            auto *pTest = dynamic_cast<CTimeConsuming *>(m_pMgr->GetMember(iIndex));
            ASSERT_NE(pTest, nullptr);
            EXPECT_STREQ(pTest->GetName(), c.pName);
            EXPECT_NE(pTest->GetName(), c.pName);  // a copy
            EXPECT_EQ(m_pMgr->DestroyTimeConsuming(iIndex), 1);
            EXPECT_EQ(m_pMgr->DestroyTimeConsuming(iIndex), 0);
        }
    }
    EXPECT_EQ(m_pMgr->GetCurrNum(), 0u);
}

TEST_F(TimeConsuming, TagsAndTheReportLine) {
    servicetest::LogCapture log;
    int iIndex = -1;
    CTimeConsuming *pTest = Create(2, "Decode", &iIndex);
    ASSERT_NE(pTest, nullptr);
    EXPECT_EQ(pTest->AddTagTime(0, 10), 1);
    EXPECT_EQ(pTest->AddTagTime(0, 21), 1);
    EXPECT_EQ(pTest->AddTagTime(2, 5), 0);  // only two tags
    EXPECT_EQ(pTest->AddTagTime(8, 5), 0);
    EXPECT_EQ(pTest->AddTagTime(-1, 5), 0);
    const int kThree[] = {1, 2, 3};
    EXPECT_EQ(pTest->AddTagTimes(kThree, 3), 0);  // more than the tags: nothing added
    EXPECT_EQ(pTest->AddTagTimes(nullptr, 1), 0);
    EXPECT_EQ(pTest->AddTagTimes(kThree, 0), 0);
    const int kSkipSecond[] = {29, -4};
    EXPECT_EQ(pTest->AddTagTimes(kSkipSecond, 2), 1);

    pTest->PrintTimeConsuming();
    pTest->PrintTimeConsuming();  // counting starts afresh after every report
    auto lines = log.Matching("Decode, Tag1");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("][DBG] Decode, Tag1[3][20]ms, Tag2[0][0]ms\r\n"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("][DBG] Decode, Tag1[0][0]ms, Tag2[0][0]ms\r\n"), std::string::npos) << lines[1];
    EXPECT_EQ(m_pMgr->DestroyTimeConsuming(iIndex), 1);
}

TEST_F(TimeConsuming, ConcurrentSamplesAreAllCounted) {
    servicetest::LogCapture log;
    int iIndex = -1;
    CTimeConsuming *pTest = Create(1, "Parallel", &iIndex);
    ASSERT_NE(pTest, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([pTest] {
            for (int i = 0; i < 1000; i++)
                pTest->AddTagTime(0, 2);
        });
    for (auto &th : threads)
        th.join();
    pTest->PrintTimeConsuming();
    EXPECT_EQ(log.Matching("Parallel, Tag1[8000][2]ms").size(), 1u);
    EXPECT_EQ(m_pMgr->DestroyTimeConsuming(iIndex), 1);
}

// The manager's proxy reports every 5 s; the manager is released with Fini and comes back new.
TEST_F(TimeConsuming, PeriodicReportAndANewManagerAfterFini) {
    int iIndex = -1;
    {
        servicetest::LogCapture log;
        CTimeConsuming *pTest = Create(1, "Periodic", &iIndex);
        ASSERT_NE(pTest, nullptr);
        pTest->AddTagTime(0, 40);
        ASSERT_TRUE(servicetest::WaitFor([&] { return !log.Matching("Periodic, Tag1[1][40]ms").empty(); }, 8000));
    }
    const int iProxy = m_pMgr->GetProxyID();
    ASSERT_EQ(GetCoreGlobalCtrl()->Fini(), 1);
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    m_pMgr = GetTimeConsumingMgr();
    ASSERT_NE(m_pMgr, nullptr);
    EXPECT_EQ(m_pMgr->IsInited(), 1);
    EXPECT_EQ(m_pMgr->GetCurrNum(), 0u);
    EXPECT_EQ(m_pMgr->GetProxyID(), iProxy);  // a fresh proxy table hands out the same first handle
    EXPECT_NE(Create(1, "Again", &iIndex), nullptr);
}

}  // namespace
