// The RQS transport over our stand-in QoS library. The loaded flag and the entry table belong to
// the process and never go back, so each library variant runs in a process of its own: CTest runs
// this program once per fixture (RqsFull, RqsConcurrentLoad, RqsPartial, RqsMissing).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "service_test_util.h"
#include "transport/rqs/RqsTrans.h"

using namespace Vorezi;
using servicetest::LogCapture;

namespace {

int Err() {
    return Ctrl()->GetLastError();
}

// The stand-in's test controls, reached through the same file the transport loaded.
struct StubControls {
    decltype(&RQSSTUB_SetResult) SetResult = nullptr;
    decltype(&RQSSTUB_SetVersionText) SetVersionText = nullptr;
    decltype(&RQSSTUB_GetCallLog) GetCallLog = nullptr;
    decltype(&RQSSTUB_Reset) Reset = nullptr;

    explicit StubControls(const char *pPath) {
        m_hLib = dlopen(pPath, RTLD_NOW);
        if (!m_hLib)
            return;
        SetResult = reinterpret_cast<decltype(SetResult)>(dlsym(m_hLib, "RQSSTUB_SetResult"));
        SetVersionText = reinterpret_cast<decltype(SetVersionText)>(dlsym(m_hLib, "RQSSTUB_SetVersionText"));
        GetCallLog = reinterpret_cast<decltype(GetCallLog)>(dlsym(m_hLib, "RQSSTUB_GetCallLog"));
        Reset = reinterpret_cast<decltype(Reset)>(dlsym(m_hLib, "RQSSTUB_Reset"));
    }
    ~StubControls() {
        if (m_hLib)
            dlclose(m_hLib);
    }
    bool Ok() const { return SetResult && SetVersionText && GetCallLog && Reset; }
    std::vector<RQSSTUB_CALL> Calls() const {
        std::vector<RQSSTUB_CALL> calls(GetCallLog(nullptr, 0));
        GetCallLog(calls.data(), static_cast<int>(calls.size()));
        return calls;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const RQSSTUB_CALL &c : Calls())
            names.emplace_back(c.szEntry);
        return names;
    }

private:
    void *m_hLib = nullptr;
};

// The library initialised with slot 4 pointing at one stand-in build.
class RqsTest : public servicetest::InitedTest {
protected:
    explicit RqsTest(const char *pPath) : m_pPath(pPath), m_Stub(pPath) {}
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        ASSERT_EQ(Ctrl()->SetDllLoadPath(BASE_DLL_RQS, m_pPath), 1);
        ASSERT_TRUE(m_Stub.Ok()) << m_pPath;
        m_Stub.Reset();
    }

    const char *m_pPath;
    StubControls m_Stub;
};

class RqsFull : public RqsTest {
protected:
    RqsFull() : RqsTest(DAVAZ_PATH) {}
};

struct Delivered {
    std::atomic<int> iCalls{0};
    std::string data;
};

int OnData(int, const void *pData, uint32_t dwLength, void *pUser) {
    auto *d = static_cast<Delivered *>(pUser);
    d->data.assign(static_cast<const char *>(pData), dwLength);
    d->iCalls++;
    return 0;
}

// A transport that is started on the stand-in; deleted through Morva_DestroyRqsTrans.
struct StartedTrans {
    CRqsTrans *p = Morva_CreateRqsTrans();
    Delivered delivered;
    int bStarted = p ? p->StartRqsService(1, 2, OnData, &delivered, 3) : 0;
    ~StartedTrans() { Morva_DestroyRqsTrans(p); }
};

uint32_t Word(const uint8_t *p, size_t uOffset) {
    return uint32_t(p[uOffset]) | uint32_t(p[uOffset + 1]) << 8 | uint32_t(p[uOffset + 2]) << 16 |
           uint32_t(p[uOffset + 3]) << 24;
}

}  // namespace

TEST_F(RqsFull, StartHandsOverParametersAndCallback) {
    CRqsTrans *pTrans = Morva_CreateRqsTrans();
    ASSERT_NE(pTrans, nullptr);
    Delivered delivered;
    const uintptr_t uCreateArg = uintptr_t(0xA1B2C3D4E5F60718ull);
    ASSERT_EQ(pTrans->StartRqsService(uCreateArg, 0x11223344, OnData, &delivered, 0x55667788), 1);

    std::vector<RQSSTUB_CALL> calls = m_Stub.Calls();
    ASSERT_EQ(m_Stub.Names(), (std::vector<std::string>{"RQS_Create", "RQS_SetParam", "RQS_RegisterDataCallBack",
                                                        "RQS_Start"}));
    EXPECT_EQ(calls[0].uArg[0], uCreateArg);
    const int h = calls[0].iResult;
    for (size_t i = 1; i < calls.size(); i++)
        EXPECT_EQ(calls[i].iHandle, h);
    // The 276 parameter bytes, every offset.
    for (size_t uOffset = 0; uOffset < sizeof(RQS_SERVICE_PARAM); uOffset += 4) {
        uint32_t dwWant = 0;
        switch (uOffset) {
        case 4: dwWant = 0x11223344; break;
        case 8: case 16: case 164: dwWant = 1; break;
        case 20: dwWant = 0x55667788; break;
        }
        EXPECT_EQ(Word(calls[1].byCopy, uOffset), dwWant) << "offset " << uOffset;
    }
    EXPECT_EQ(calls[2].uArg[0], reinterpret_cast<uintptr_t>(&OnData));
    EXPECT_EQ(calls[2].uArg[1], reinterpret_cast<uintptr_t>(&delivered));

    // Data goes through the library and back to the owner's callback.
    RQS_PACK_PARAM pack = {};
    ASSERT_EQ(pTrans->InputRawData(&pack, "through", 7), 1);
    EXPECT_EQ(delivered.iCalls, 1);
    EXPECT_EQ(delivered.data, "through");

    ASSERT_EQ(pTrans->StopRqsService(), 1);
    std::vector<std::string> names = m_Stub.Names();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "RQS_Stop");
    EXPECT_EQ(names.back(), "RQS_Destroy");
    Morva_DestroyRqsTrans(pTrans);
    EXPECT_EQ(m_Stub.Names().size(), names.size());  // nothing left to release
}

TEST_F(RqsFull, StartFailures) {
    LogCapture log;
    {
        // A failing parameter call is logged and the start goes on.
        m_Stub.SetResult("RQS_SetParam", 0x80000001);
        StartedTrans t;
        EXPECT_EQ(t.bStarted, 1);
        EXPECT_EQ(log.Matching("CRqsInterface::StartRqsService, pRqs_SetParam Failed, m_iRqsHandle[0], iRqsRet[-2147483647]").size(), 1u);
    }
    m_Stub.Reset();
    {
        // A failing register keeps the handle for the stop.
        m_Stub.SetResult("RQS_RegisterDataCallBack", 0x80000005);
        StartedTrans t;
        EXPECT_EQ(t.bStarted, 0);
        EXPECT_EQ(Err(), 8005);
        EXPECT_EQ(log.Matching("CRqsInterface::StartRqsService, pRqs_RegisterDataCallBack Failed, m_iRqsHandle[0]").size(), 1u);
        Ctrl()->SetLastError(0);
        EXPECT_EQ(t.p->StopRqsService(), 1);
        EXPECT_EQ(m_Stub.Names().back(), "RQS_Destroy");  // never started: no stop
    }
    m_Stub.Reset();
    {
        // A failing start keeps the handle; the destructor destroys it without a stop.
        m_Stub.SetResult("RQS_Start", 12345);
        StartedTrans t;
        EXPECT_EQ(t.bStarted, 0);
        EXPECT_EQ(Err(), 12345);
        EXPECT_EQ(log.Matching("CRqsInterface::StartRqsService, pRqs_Start Failed, m_iRqsHandle[0], iRqsRet[12345]").size(), 1u);
    }
    EXPECT_EQ(m_Stub.Names().back(), "RQS_Destroy");
    EXPECT_EQ(m_Stub.Names().size(), 5u);
    m_Stub.Reset();
    {
        m_Stub.SetResult("RQS_Create", -1);
        StartedTrans t;
        EXPECT_EQ(t.bStarted, 0);
        EXPECT_EQ(Err(), 256);
        EXPECT_EQ(log.Matching("CRqsInterface::StartRqsService, pRqs_Create Failed, m_iRqsHandle[-1]").size(), 1u);
    }
    EXPECT_EQ(m_Stub.Names(), std::vector<std::string>{"RQS_Create"});
}

TEST_F(RqsFull, StopTwiceAndStopFailures) {
    LogCapture log;
    StartedTrans t;
    ASSERT_EQ(t.bStarted, 1);
    // A failing stop leaves the transport started; the next stop tries again.
    m_Stub.SetResult("RQS_Stop", 0x80000004);
    EXPECT_EQ(t.p->StopRqsService(), 0);
    EXPECT_EQ(Err(), 8004);
    EXPECT_EQ(log.Matching("CRqsInterface::StopRqsService, pRqs_Stop Failed, m_iRqsHandle[0], iRqsRet[-2147483644]").size(), 1u);
    m_Stub.SetResult("RQS_Stop", 0);
    m_Stub.SetResult("RQS_Destroy", -1);
    EXPECT_EQ(t.p->StopRqsService(), 0);
    EXPECT_EQ(Err(), 256);
    EXPECT_EQ(log.Matching("CRqsInterface::StopRqsService, pRqs_Destroy Failed, m_iRqsHandle[0], iRqsRet[-1]").size(), 1u);
    m_Stub.SetResult("RQS_Destroy", 0);
    EXPECT_EQ(t.p->StopRqsService(), 1);
    EXPECT_EQ(m_Stub.Names(), (std::vector<std::string>{"RQS_Create", "RQS_SetParam", "RQS_RegisterDataCallBack",
                                                         "RQS_Start", "RQS_Stop", "RQS_Stop", "RQS_Destroy",
                                                         "RQS_Destroy"}));
    // The second stop: 12, unless an earlier error is still pending.
    Ctrl()->SetLastError(0);
    EXPECT_EQ(t.p->StopRqsService(), 0);
    EXPECT_EQ(Err(), 12);
    Ctrl()->SetLastError(77);
    EXPECT_EQ(t.p->StopRqsService(), 0);
    EXPECT_EQ(Err(), 77);
    EXPECT_EQ(log.Matching("CRqsInterface::StopRqsService, Invalid m_iRqsHandle[-1]").size(), 2u);
}

TEST_F(RqsFull, MapErrorTable) {
    const struct {
        int iRet;
        int iWant;
    } table[] = {
        {int(0x80000001u), 8001}, {int(0x80000002u), 8002}, {int(0x80000003u), 8003}, {int(0x80000004u), 8004},
        {int(0x80000005u), 8005}, {int(0x80000006u), int(0x80000006u)}, {int(0x80000000u), int(0x80000000u)},
        {12345, 12345}, {-1, 256}, {-2, -2}, {1, 1},
    };
    for (const auto &row : table)
        EXPECT_EQ(CRqsTrans::MapError(row.iRet), row.iWant) << row.iRet;
}

TEST_F(RqsFull, InputRawDataPassesACopyAndTheCallersData) {
    LogCapture log;
    StartedTrans t;
    RQS_PACK_PARAM pack;
    for (size_t i = 0; i < sizeof(pack); i++)
        pack.byData[i] = static_cast<uint8_t>(i * 7 + 1);
    const char szData[] = "payload";
    ASSERT_EQ(t.p->InputRawData(&pack, szData, 7), 1);
    RQSSTUB_CALL call = m_Stub.Calls().back();
    EXPECT_STREQ(call.szEntry, "RQS_InputRawData");
    EXPECT_NE(call.uArg[0], reinterpret_cast<uintptr_t>(&pack));  // a copy ...
    EXPECT_EQ(std::memcmp(call.byCopy, &pack, sizeof(pack)), 0);   // ... of all 112 bytes
    EXPECT_EQ(call.uArg[2], reinterpret_cast<uintptr_t>(szData));
    EXPECT_EQ(call.uArg[3], 7u);

    const struct {
        const RQS_PACK_PARAM *pPack;
        const void *pData;
        DWORD dwLen;
    } bad[] = {{nullptr, szData, 7}, {&pack, nullptr, 7}, {&pack, szData, 0}};
    size_t uCalls = m_Stub.Calls().size();
    for (const auto &row : bad) {
        Ctrl()->SetLastError(0);
        EXPECT_EQ(t.p->InputRawData(row.pPack, row.pData, row.dwLen), 0);
        EXPECT_EQ(Err(), 17);
    }
    EXPECT_EQ(m_Stub.Calls().size(), uCalls);
    EXPECT_EQ(log.Matching("CRqsInterface::InputRawData, Invalid Param, lpPackParam[").size(), 3u);

    m_Stub.SetResult("RQS_InputRawData", 0x80000002);
    EXPECT_EQ(t.p->InputRawData(&pack, szData, 7), 0);
    EXPECT_EQ(Err(), 8002);
    EXPECT_EQ(log.Matching("CRqsInterface::InputRawData, pRqs_InputRawData Failed, m_iRqsHandle[0], iRqsRet[-2147483646]").size(), 1u);

    ASSERT_EQ(t.p->StopRqsService(), 1);
    EXPECT_EQ(t.p->InputRawData(&pack, szData, 7), 0);
    EXPECT_EQ(Err(), 12);
    EXPECT_EQ(log.Matching("CRqsInterface::InputRawData, Invalid m_iRqsHandle[-1]").size(), 1u);
}

TEST_F(RqsFull, PassThroughCallsAndTheirErrors) {
    LogCapture log;
    StartedTrans t;
    ASSERT_EQ(t.bStarted, 1);
    const uintptr_t uBig = uintptr_t(0xFEDCBA9876543210ull);
    ASSERT_EQ(t.p->InputData(uBig, 2, 3), 1);
    ASSERT_EQ(t.p->GetState(4, uBig), 1);
    ASSERT_EQ(t.p->SetNotifyParam(uBig), 1);
    std::vector<RQSSTUB_CALL> calls = m_Stub.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[4].uArg[0], uBig);
    EXPECT_EQ(calls[4].uArg[2], 3u);
    EXPECT_EQ(calls[5].uArg[1], uBig);
    EXPECT_EQ(calls[6].uArg[0], uBig);

    const struct {
        int iRqsRet;
        int iWant;
    } results[] = {{int(0x80000003u), 8003}, {int(0x80000006u), int(0x80000006u)}, {-1, 256}, {12345, 12345}};
    for (const auto &r : results) {
        for (const char *pEntry : {"RQS_InputData", "RQS_GetStat", "RQS_SetNotifyParam"})
            m_Stub.SetResult(pEntry, r.iRqsRet);
        EXPECT_EQ(t.p->InputData(1, 2, 3), 0);
        EXPECT_EQ(Err(), r.iWant);
        Ctrl()->SetLastError(0);
        EXPECT_EQ(t.p->GetState(1, 2), 0);
        EXPECT_EQ(Err(), r.iWant);
        Ctrl()->SetLastError(0);
        EXPECT_EQ(t.p->SetNotifyParam(1), 0);
        EXPECT_EQ(Err(), r.iWant);
    }
    EXPECT_EQ(log.Matching("CRqsInterface::GetState, pRqs_GetStat Failed, m_iRqsHandle[0], iRqsRet[12345]").size(), 1u);
    EXPECT_EQ(log.Matching("CRqsInterface::SetNotifyParam, pRqs_SetNotifyParam Failed, m_iRqsHandle[0], iRqsRet[-1]").size(), 1u);
    EXPECT_TRUE(log.Matching("CRqsInterface::InputData").empty());  // silent on a library failure

    // Without an instance: 12 and the call's own line.
    CRqsTrans idle;
    EXPECT_EQ(idle.InputData(1, 2, 3), 0);
    EXPECT_EQ(Err(), 12);
    Ctrl()->SetLastError(0);
    EXPECT_EQ(idle.GetState(1, 2), 0);
    EXPECT_EQ(Err(), 12);
    Ctrl()->SetLastError(0);
    EXPECT_EQ(idle.SetNotifyParam(1), 0);
    EXPECT_EQ(Err(), 12);
    for (const char *pLine : {"CRqsInterface::InputData, Invalid m_iRqsHandle[-1]",
                              "CRqsInterface::GetState, Invalid m_iRqsHandle[-1]",
                              "CRqsInterface::SetNotifyParam, Invalid m_iRqsHandle[-1]"})
        EXPECT_EQ(log.Matching(pLine).size(), 1u) << pLine;
}

TEST_F(RqsFull, GetVersionParsesTheLibraryText) {
    CRqsTrans *pTrans = Morva_CreateRqsTrans();
    ASSERT_NE(pTrans, nullptr);
    const struct {
        const char *pText;
        int iResult;
        BYTE byWant[4];
    } table[] = {
        {"V1.3.0 build 20240101", 1, {1, 3, 0, 0}},
        {"V2.1.5 build 7", 1, {2, 1, 5, 3}},
        {"lib v1.3.0 build 9", 1, {1, 3, 0, 0}},  // the first v, either case
        {"x2.0.1 build 1", 0, {0xEE, 0xEE, 0xEE, 0xEE}},
        {"", 0, {0xEE, 0xEE, 0xEE, 0xEE}},
        // A fourth number takes byte 3; a fifth is not stored.
        {"V1.2.3.4.5 build", 1, {1, 2, 3, 4}},
        // At most three digits of a number are read.
        {"V12345678901234567890.1.2 build 3", 1, {123, 1, 2, 3}},
        {"V 7.-1.9", 1, {7, 0xFF, 0, 3}},  // blanks and a sign; the last number has no separator
    };
    LogCapture log;
    for (const auto &row : table) {
        SCOPED_TRACE(row.pText);
        m_Stub.SetVersionText(row.pText);
        BYTE out[8];
        std::memset(out, 0xEE, sizeof(out));
        EXPECT_EQ(pTrans->GetVersion(out), row.iResult);
        EXPECT_EQ(std::memcmp(out, row.byWant, 4), 0)
            << int(out[0]) << "." << int(out[1]) << "." << int(out[2]) << "." << int(out[3]);
        for (int i = 4; i < 8; i++)
            EXPECT_EQ(out[i], 0xEE) << "byte " << i << " written";
    }
    EXPECT_EQ(log.Matching("CRqsInterface::GetVersion, No v, m_iRqsHandle[-1]").size(), 2u);
    EXPECT_EQ(log.Matching("CRqsInterface::GetVersion, szRqsVersion[V2.1.5 build 7]").size(), 1u);
    EXPECT_TRUE(log.Matching("szRqsVersion[V1.3.0").empty());

    EXPECT_EQ(pTrans->GetVersion(nullptr), 0);
    EXPECT_EQ(Err(), 12);
    EXPECT_EQ(log.Matching("CRqsInterface::GetVersion, pVersion is NULL").size(), 1u);
    m_Stub.SetResult("RQS_GetVersion", 0x80000003);
    BYTE out[4];
    EXPECT_EQ(pTrans->GetVersion(out), 0);
    EXPECT_EQ(Err(), 8003);
    EXPECT_EQ(log.Matching("CRqsInterface::GetVersion, pRqs_GetVersion Failed, m_iRqsHandle[-1], iRqsRet[-2147483645]").size(), 1u);
    Morva_DestroyRqsTrans(pTrans);
}

TEST_F(RqsFull, DestroyChecksTheClassAndReleasesTheInstance) {
    struct OtherTrans : CRqsTransInterface {
        int StartRqsService(uintptr_t, DWORD, RQS_DATA_CALLBACK, void *, DWORD) override { return 0; }
        int StopRqsService() override { return 0; }
        int InputData(uintptr_t, uintptr_t, uintptr_t) override { return 0; }
        int InputRawData(const RQS_PACK_PARAM *, const void *, DWORD) override { return 0; }
        int GetState(uintptr_t, uintptr_t) override { return 0; }
        int SetNotifyParam(uintptr_t) override { return 0; }
        int GetVersion(BYTE *) override { return 0; }
    } other;
    LogCapture log;
    Morva_DestroyRqsTrans(&other);
    Morva_DestroyRqsTrans(nullptr);
    EXPECT_EQ(log.Matching("Morva_DestroyRqsTrans, pRqsTrans == NULL").size(), 2u);
    EXPECT_EQ(log.Matching("Utils_Assert!").size(), 2u);

    { StartedTrans t; }
    EXPECT_EQ(m_Stub.Names(), (std::vector<std::string>{"RQS_Create", "RQS_SetParam", "RQS_RegisterDataCallBack",
                                                         "RQS_Start", "RQS_Stop", "RQS_Destroy"}));
    // The destructor ignores the library's results.
    m_Stub.Reset();
    m_Stub.SetResult("RQS_Stop", -1);
    { StartedTrans t; }
    EXPECT_EQ(m_Stub.Names().back(), "RQS_Destroy");
}

TEST_F(RqsFull, LoadAPIWithoutHandle) {
    LogCapture log;
    EXPECT_EQ(CRqsAPI::LoadAPI(nullptr), 0);
    EXPECT_EQ(Err(), 8101);
    EXPECT_EQ(log.Matching("CRqsAPI::LoadAPI, hRqsCom == YAR_INVALID_HANDLE").size(), 1u);
}

TEST_F(RqsFull, ControllerTransportLivesUntilFini) {
    CRqsTrans *pTrans = Ctrl()->GetRqsTrans();
    ASSERT_NE(pTrans, nullptr);
    EXPECT_EQ(Ctrl()->GetRqsTrans(), pTrans);
    // Its library is loaded by whoever creates transports; here the first Morva_CreateRqsTrans.
    Morva_DestroyRqsTrans(Morva_CreateRqsTrans());
    Delivered delivered;
    ASSERT_EQ(pTrans->StartRqsService(0, 0, OnData, &delivered, 0), 1);
    Ctrl()->Fini();
    // The last Fini deleted it, and with it the library instance.
    EXPECT_EQ(m_Stub.Names().back(), "RQS_Destroy");
    EXPECT_EQ(Ctrl()->GetRqsTrans(), nullptr);  // nothing is made while not initialised
    ASSERT_EQ(Ctrl()->Init(), 1);
    CRqsTrans *pAgain = Ctrl()->GetRqsTrans();
    EXPECT_NE(pAgain, nullptr);
}

// ---- The first load, raced by 16 threads ----

class RqsConcurrentLoad : public RqsTest {
protected:
    RqsConcurrentLoad() : RqsTest(DAVAZ_PATH) {}
};

TEST_F(RqsConcurrentLoad, SixteenThreadsLoadOnce) {
    LogCapture log;
    constexpr int kThreads = 16;
    std::vector<CRqsTrans *> made(kThreads, nullptr);
    std::atomic<int> iReady{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++)
        threads.emplace_back([&, i] {
            iReady++;
            while (iReady.load() < kThreads)
                std::this_thread::yield();
            made[i] = Morva_CreateRqsTrans();
        });
    for (auto &th : threads)
        th.join();
    for (CRqsTrans *p : made) {
        ASSERT_NE(p, nullptr);
        Morva_DestroyRqsTrans(p);
    }
    EXPECT_EQ(log.Matching("CDependLibLoader::LoadLib, Load Step1 SUCC, iDllIndex[4]").size(), 1u);
    EXPECT_EQ(log.Matching("Morva_CreateRqsTrans, SUCC, pRqsTrans[").size(), size_t(kThreads));
}

// ---- A library without RQS_Start and RQS_GetVersion ----

class RqsPartial : public RqsTest {
protected:
    RqsPartial() : RqsTest(DAVAZ_PARTIAL_PATH) {}
};

TEST_F(RqsPartial, LoadedButMissingEntriesFailWith256) {
    LogCapture log;
    StartedTrans t;
    ASSERT_NE(t.p, nullptr);
    EXPECT_TRUE(log.Matching("CRqsTrans::LoadRqsLib, LoadAPI Failed").empty());
    EXPECT_EQ(t.bStarted, 0);
    EXPECT_EQ(Err(), 256);
    EXPECT_EQ(log.Matching("CRqsInterface::StartRqsService, pRqs_Start Failed, m_iRqsHandle[0], iRqsRet[-1]").size(), 1u);
    BYTE out[4];
    EXPECT_EQ(t.p->GetVersion(out), 0);
    EXPECT_EQ(Err(), 256);
    // What it has still works.
    EXPECT_EQ(t.p->InputData(1, 2, 3), 1);
    EXPECT_EQ(m_Stub.Names(), (std::vector<std::string>{"RQS_Create", "RQS_SetParam", "RQS_RegisterDataCallBack",
                                                         "RQS_InputData"}));
}

// ---- No library file, and no initialised core library ----

class RqsMissing : public RqsTest {
protected:
    RqsMissing() : RqsTest(DAVAZ_PATH) {}
    void SetUp() override {
        RqsTest::SetUp();
        ASSERT_EQ(Ctrl()->SetDllLoadPath(BASE_DLL_RQS, "/nonexistent/libDAVaz_none.so"), 1);
    }
};

TEST_F(RqsMissing, CreateFailsWith256AndRetries) {
    LogCapture log;
    for (int i = 0; i < 2; i++) {
        Ctrl()->SetLastError(0);
        EXPECT_EQ(Morva_CreateRqsTrans(), nullptr);
        EXPECT_EQ(Err(), 256);
    }
    EXPECT_EQ(log.Matching("CRqsTrans::LoadRqsLib, LoadDSo BASE_DLL_RQS Failed, syserror[").size(), 2u);
    EXPECT_EQ(log.Matching("Morva_CreateRqsTrans, CreateRqsTrans Failed").size(), 2u);
    // The controller's transport exists without a library; every call fails with 256.
    CRqsTrans *pTrans = Ctrl()->GetRqsTrans();
    ASSERT_NE(pTrans, nullptr);
    EXPECT_EQ(pTrans->StartRqsService(0, 0, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Err(), 256);
}

TEST_F(RqsMissing, NothingWithoutInit) {
    Ctrl()->Fini();
    EXPECT_EQ(Morva_CreateRqsTrans(), nullptr);
    EXPECT_EQ(Ctrl()->GetRqsTrans(), nullptr);
    Morva_DestroyRqsTrans(nullptr);  // does nothing, logs nothing
    ASSERT_EQ(Ctrl()->Init(), 1);
}
