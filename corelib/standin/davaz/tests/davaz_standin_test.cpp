// The stand-in QoS library on its own: what each entry records, results that follow the controls,
// the version text, the data callback, and handles under concurrent use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DAVaz.h"

namespace {

class StandIn : public ::testing::Test {
protected:
    void SetUp() override { RQSSTUB_Reset(); }
    void TearDown() override { RQSSTUB_Reset(); }

    static std::vector<RQSSTUB_CALL> Calls() {
        std::vector<RQSSTUB_CALL> calls(RQSSTUB_GetCallLog(nullptr, 0));
        RQSSTUB_GetCallLog(calls.data(), static_cast<int>(calls.size()));
        return calls;
    }
};

struct Received {
    int iHandle = -1;
    std::string data;
    int iCalls = 0;
};

int OnData(int iHandle, const void *pData, uint32_t dwLength, void *pUser) {
    auto *r = static_cast<Received *>(pUser);
    r->iHandle = iHandle;
    r->data.assign(static_cast<const char *>(pData), dwLength);
    r->iCalls++;
    return 0;
}

}  // namespace

TEST_F(StandIn, EveryEntryRecordsItsArguments) {
    EXPECT_EQ(RQS_Create(0x1234), 0);
    EXPECT_EQ(RQS_Create(7), 1);
    Received r;
    RQS_SERVICE_PARAM param = {};
    param.dwParam1 = 11;
    param.byRes3[107] = 0xEE;
    RQS_PACK_PARAM pack = {};
    pack.byData[111] = 0x5A;
    const char szData[] = "abc";
    RQS_DATA_BLOCK block = {szData, 3};

    EXPECT_EQ(RQS_SetParam(0, &param), 0);
    EXPECT_EQ(RQS_RegisterDataCallBack(0, OnData, &r), 0);
    EXPECT_EQ(RQS_Start(0), 0);
    EXPECT_EQ(RQS_InputData(0, 1, 2, UINTPTR_MAX), 0);
    EXPECT_EQ(RQS_InputRawData(0, &pack, &block), 0);
    EXPECT_EQ(RQS_GetStat(0, 3, 4), 0);
    EXPECT_EQ(RQS_SetNotifyParam(0, 5), 0);
    EXPECT_EQ(RQS_Stop(0), 0);
    EXPECT_EQ(RQS_Destroy(0), 0);

    struct Want {
        const char *pEntry;
        int iHandle;
        int iResult;
        std::vector<uintptr_t> args;
    };
    const auto U = [](const void *p) { return reinterpret_cast<uintptr_t>(p); };
    const std::vector<Want> want = {
        {"RQS_Create", -1, 0, {0x1234}},
        {"RQS_Create", -1, 1, {7}},
        {"RQS_SetParam", 0, 0, {U(&param)}},
        {"RQS_RegisterDataCallBack", 0, 0, {reinterpret_cast<uintptr_t>(&OnData), U(&r)}},
        {"RQS_Start", 0, 0, {}},
        {"RQS_InputData", 0, 0, {1, 2, UINTPTR_MAX}},
        {"RQS_InputRawData", 0, 0, {U(&pack), U(&block), U(szData), 3}},
        {"RQS_GetStat", 0, 0, {3, 4}},
        {"RQS_SetNotifyParam", 0, 0, {5}},
        {"RQS_Stop", 0, 0, {}},
        {"RQS_Destroy", 0, 0, {}},
    };
    std::vector<RQSSTUB_CALL> calls = Calls();
    ASSERT_EQ(calls.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        SCOPED_TRACE(want[i].pEntry);
        EXPECT_STREQ(calls[i].szEntry, want[i].pEntry);
        EXPECT_EQ(calls[i].iHandle, want[i].iHandle);
        EXPECT_EQ(calls[i].iResult, want[i].iResult);
        for (size_t a = 0; a < want[i].args.size(); a++)
            EXPECT_EQ(calls[i].uArg[a], want[i].args[a]) << a;
    }
    EXPECT_EQ(std::memcmp(calls[2].byCopy, &param, sizeof(param)), 0);
    EXPECT_EQ(std::memcmp(calls[6].byCopy, &pack, sizeof(pack)), 0);
}

TEST_F(StandIn, ResultsFollowTheControls) {
    EXPECT_EQ(RQSSTUB_SetResult("RQS_Nothing", 1), -1);
    EXPECT_EQ(RQSSTUB_SetResult(nullptr, 1), -1);

    ASSERT_EQ(RQSSTUB_SetResult("RQS_Create", -1), 0);
    EXPECT_EQ(RQS_Create(0), -1);
    ASSERT_EQ(RQSSTUB_SetResult("RQS_Create", 0), 0);
    int h = RQS_Create(0);
    EXPECT_EQ(h, 0);

    const struct {
        const char *pEntry;
        int iResult;
    } table[] = {{"RQS_Start", static_cast<int>(0x80000003u)}, {"RQS_Stop", -1}, {"RQS_GetStat", 12345},
                 {"RQS_SetNotifyParam", static_cast<int>(0x80000006u)}, {"RQS_InputData", 1}};
    for (const auto &row : table) {
        SCOPED_TRACE(row.pEntry);
        ASSERT_EQ(RQSSTUB_SetResult(row.pEntry, row.iResult), 0);
    }
    EXPECT_EQ(RQS_Start(h), static_cast<int>(0x80000003u));
    EXPECT_EQ(RQS_Stop(h), -1);
    EXPECT_EQ(RQS_GetStat(h, 0, 0), 12345);
    EXPECT_EQ(RQS_SetNotifyParam(h, 0), static_cast<int>(0x80000006u));
    EXPECT_EQ(RQS_InputData(h, 0, 0, 0), 1);
    // A handle the library never gave.
    EXPECT_EQ(RQS_Destroy(h + 5), static_cast<int>(RQS_ERR_HANDLE));
    EXPECT_EQ(RQS_Destroy(h), 0);
    EXPECT_EQ(RQS_Destroy(h), static_cast<int>(RQS_ERR_HANDLE));

    RQSSTUB_Reset();
    EXPECT_EQ(RQS_Create(0), 0);
    EXPECT_EQ(RQS_Start(0), 0);
    EXPECT_EQ(Calls().size(), 2u);
}

TEST_F(StandIn, VersionTextIsTheSetOne) {
    char szBuf[128];
    ASSERT_EQ(RQS_GetVersion(szBuf, sizeof(szBuf)), 0);
    EXPECT_STREQ(szBuf, "V1.3.0 build 20240101");
    RQSSTUB_SetVersionText("V2.1.5 build 7");
    ASSERT_EQ(RQS_GetVersion(szBuf, sizeof(szBuf)), 0);
    EXPECT_STREQ(szBuf, "V2.1.5 build 7");
    // Never more than the buffer holds.
    std::memset(szBuf, 'x', sizeof(szBuf));
    ASSERT_EQ(RQS_GetVersion(szBuf, 4), 0);
    EXPECT_STREQ(szBuf, "V2.");
    EXPECT_EQ(szBuf[4], 'x');
    RQSSTUB_SetVersionText(std::string(300, '9').c_str());
    ASSERT_EQ(RQS_GetVersion(szBuf, sizeof(szBuf)), 0);
    EXPECT_EQ(std::strlen(szBuf), 127u);
    EXPECT_NE(RQS_GetVersion(nullptr, 128), 0);
    EXPECT_NE(RQS_GetVersion(szBuf, 0), 0);
    RQSSTUB_SetResult("RQS_GetVersion", 0x55);
    EXPECT_EQ(RQS_GetVersion(szBuf, sizeof(szBuf)), 0x55);
}

TEST_F(StandIn, InputRawDataCallsBackAtOnce) {
    int h = RQS_Create(0);
    const char szData[] = "datagram";
    RQS_PACK_PARAM pack = {};
    RQS_DATA_BLOCK block = {szData, 8};
    // Without a callback the data is taken and nothing happens.
    EXPECT_EQ(RQS_InputRawData(h, &pack, &block), 0);
    Received r;
    ASSERT_EQ(RQS_RegisterDataCallBack(h, OnData, &r), 0);
    EXPECT_EQ(RQS_InputRawData(h, &pack, &block), 0);
    EXPECT_EQ(r.iCalls, 1);
    EXPECT_EQ(r.iHandle, h);
    EXPECT_EQ(r.data, "datagram");
    EXPECT_NE(RQS_InputRawData(h, nullptr, &block), 0);
    EXPECT_NE(RQS_InputRawData(h, &pack, nullptr), 0);
    EXPECT_EQ(RQS_InputRawData(h + 1, &pack, &block), static_cast<int>(RQS_ERR_HANDLE));
    EXPECT_EQ(r.iCalls, 1);
}

TEST_F(StandIn, HandlesStayDistinctAcrossThreads) {
    constexpr int kThreads = 8, kEach = 50;
    std::vector<std::vector<int>> handles(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&handles, t] {
            for (int i = 0; i < kEach; i++) {
                int h = RQS_Create(t);
                RQS_Start(h);
                handles[t].push_back(h);
            }
        });
    for (auto &th : threads)
        th.join();
    std::set<int> all;
    for (const auto &v : handles)
        all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(*all.begin(), 0);
    EXPECT_EQ(*all.rbegin(), kThreads * kEach - 1);
}
