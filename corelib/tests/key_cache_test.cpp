// The RSA and ECDH key caches: start, refresh with a shortened period, readers during refresh,
// the refusals of GetECDHKey and a stop that returns within a step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class KeyCache : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        CKeyRefresher::SetUpdatePeriod(200);
    }
    void TearDown() override {
        CKeyRefresher::SetUpdatePeriod(0);
        servicetest::InitedTest::TearDown();
    }
};

std::string RsaPair(CRSAKey &cache, bool b2048) {
    BYTE pub[512], pri[2048];
    int iPub = 0, iPri = 0;
    const int bOk = b2048 ? cache.GetRSAKey2048(pub, &iPub, pri, &iPri) : cache.GetRSAKey(pub, &iPub, pri, &iPri);
    return bOk ? std::string(reinterpret_cast<char *>(pub), size_t(iPub)) + std::string(reinterpret_cast<char *>(pri), size_t(iPri))
               : std::string();
}

TEST_F(KeyCache, RsaCacheStartsRefreshesAndStops) {
    auto *pCache = new CRSAKey;
    servicetest::LogCapture log;
    EXPECT_EQ("", RsaPair(*pCache, false)) << "idle cache";
    EXPECT_EQ(1u, log.Matching("CRSAKey::GetRSAKey, m_bInitSucc is False").size());
    ASSERT_EQ(1, pCache->Start());
    ASSERT_EQ(1, pCache->Start()) << "a second start is a no-op";

    const std::string first1024 = RsaPair(*pCache, false), first2048 = RsaPair(*pCache, true);
    ASSERT_FALSE(first1024.empty());
    ASSERT_FALSE(first2048.empty());
    // Readers during a refresh wait for it and see a whole new pair.
    EXPECT_TRUE(servicetest::WaitFor([&] { return RsaPair(*pCache, true) != first2048; }, 15000));
    EXPECT_NE(first1024, RsaPair(*pCache, false));

    BYTE buf[16];
    int iLen;
    EXPECT_EQ(0, pCache->GetRSAKey(buf, &iLen, nullptr, &iLen));

    const auto t0 = std::chrono::steady_clock::now();
    delete pCache;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    // Generous: a regeneration under a loaded machine takes seconds; a hung join never ends.
    EXPECT_LT(ms.count(), 20000) << "the join waits at most for one regeneration and one step";
}

TEST_F(KeyCache, DestroyedCacheLeavesNoPrivateKeyBehind) {
    alignas(CRSAKey) BYTE storage[sizeof(CRSAKey)];
    CRSAKey *pCache = new (storage) CRSAKey;
    ASSERT_EQ(1, pCache->Start());
    BYTE pub[512], pri[2048];
    int iPub = 0, iPri = 0;
    ASSERT_EQ(1, pCache->GetRSAKey2048(pub, &iPub, pri, &iPri));
    ASSERT_GT(iPri, 300);
    pCache->~CRSAKey();
    // The private exponent lies well inside the DER; any 32 bytes of the key would betray it.
    EXPECT_EQ(std::end(storage), std::search(std::begin(storage), std::end(storage), pri + 280, pri + 312));
}

TEST_F(KeyCache, StopRightAfterStartReturnsWithinAStep) {
    CKeyRefresher::SetUpdatePeriod(60000);
    auto *pCache = new CECDHKey;
    ASSERT_EQ(1, pCache->Start());
    const auto t0 = std::chrono::steady_clock::now();
    delete pCache;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    // One 10 ms step of the refresh thread, and what a loaded machine adds to the join.
    EXPECT_LT(ms.count(), 500) << "a stop is seen within one step of the 60 s period";
}

TEST_F(KeyCache, EcdhKeysByCurveAndTheirRefusals) {
    CECDHKey cache;
    BYTE pri[512], pub[512];
    MORVA_ECDH_KEY req = {pri, pub, 512, 512, 0, 0, 0};
    EXPECT_EQ(0, cache.GetECDHKey(TYPE_SECP_256_R1, &req)) << "idle cache";
    ASSERT_EQ(1, cache.Start());

    struct Case {
        int iCurve, iKeyType, iResult, iPubLen;
    } cases[] = {
        {TYPE_SECP_256_R1, 0, 1, 65},  // the uncompressed point
        {TYPE_SECP_256_R1, 1, 1, 91},  // the DER public key
        {TYPE_SECP_384_R1, 0, 1, 97},
        {TYPE_SECP_SM2, 4, 1, 65},
        {TYPE_SECP_SM2, 5, 1, 0},  // the second form is never filled
        {99, 0, 0, -1},
    };
    for (const Case &c : cases) {
        req = {pri, pub, 512, 512, 0, -1, c.iKeyType};
        EXPECT_EQ(c.iResult, cache.GetECDHKey(c.iCurve, &req)) << c.iCurve << "/" << c.iKeyType;
        EXPECT_EQ(c.iPubLen, req.iPubKeyLen) << c.iCurve << "/" << c.iKeyType;
        if (c.iResult) {
            EXPECT_GT(req.iPriKeyLen, 0);
        }
    }

    servicetest::LogCapture log;
    struct Refusal {
        const char *pName;
        int iCurve;
        MORVA_ECDH_KEY req;
        bool bNullRecord;
        int iError;
    } refusals[] = {
        {"DER key above the public capacity", TYPE_SECP_256_R1, {pri, pub, 512, 80, 0, 0, 1}, false, MORVA_ERR_PARAM},
        {"private capacity too small", TYPE_SECP_384_R1, {pri, pub, 10, 512, 0, 0, 0}, false, MORVA_ERR_PARAM},
        {"null buffer", TYPE_SECP_256_R1, {nullptr, pub, 512, 512, 0, 0, 0}, false, MORVA_ERR_PARAM},
        {"null record", TYPE_SECP_256_R1, {}, true, MORVA_ERR_PARAM},
        {"wrong SM2 key type", TYPE_SECP_SM2, {pri, pub, 512, 512, 0, 0, 7}, false, 0},
    };
    for (Refusal &r : refusals) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(0, cache.GetECDHKey(r.iCurve, r.bNullRecord ? nullptr : &r.req)) << r.pName;
        EXPECT_EQ(r.iError, GetCoreGlobalCtrl()->GetLastError()) << r.pName;
    }
    EXPECT_EQ(2u, log.Matching("GetECDHKey, Buf no enough").size());
    EXPECT_EQ(1u, log.Matching("GetECDHKey, Wrong SM2 KeyType[7]").size());

    // The refresh thread renews the keys.
    req = {pri, pub, 512, 512, 0, 0, 0};
    ASSERT_EQ(1, cache.GetECDHKey(TYPE_SECP_256_R1, &req));
    const std::string first(reinterpret_cast<char *>(pub), size_t(req.iPubKeyLen));
    EXPECT_TRUE(servicetest::WaitFor(
        [&] {
            cache.GetECDHKey(TYPE_SECP_256_R1, &req);
            return std::string(reinterpret_cast<char *>(pub), size_t(req.iPubKeyLen)) != first;
        },
        10000));
}

TEST(KeyCacheController, MadeOnceWhileInitialisedAndReleasedAtFini) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    EXPECT_EQ(nullptr, pCtrl->GetRSAEncrypt()) << "not initialised";
    ASSERT_EQ(1, pCtrl->Init());
    CRSAKey *pRsa = pCtrl->GetRSAEncrypt();
    ASSERT_NE(nullptr, pRsa);
    EXPECT_EQ(pRsa, pCtrl->GetRSAEncrypt());
    CECDHKey *pEcdh = pCtrl->GetECDHEncrypt();
    ASSERT_NE(nullptr, pEcdh);
    EXPECT_EQ(pEcdh, pCtrl->GetECDHEncrypt());
    pCtrl->Fini();
    EXPECT_EQ(nullptr, pCtrl->GetECDHEncrypt());
    // A new start makes a new, working cache.
    ASSERT_EQ(1, pCtrl->Init());
    BYTE pub[256], pri[1024];
    int iPub = 0, iPri = 0;
    ASSERT_NE(nullptr, pCtrl->GetRSAEncrypt());
    EXPECT_EQ(1, pCtrl->GetRSAEncrypt()->GetRSAKey(pub, &iPub, pri, &iPri));
    pCtrl->Fini();
}

// The last Fini joins a refresh thread that may be generating keys at that moment.
TEST(KeyCacheController, FiniDuringARefreshCompletes) {
    CKeyRefresher::SetUpdatePeriod(20);
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(1, pCtrl->Init());
        ASSERT_NE(nullptr, pCtrl->GetRSAEncrypt());
        ASSERT_NE(nullptr, pCtrl->GetECDHEncrypt());
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 45 * i));
        const auto t0 = std::chrono::steady_clock::now();
        pCtrl->Fini();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        EXPECT_LT(ms.count(), 20000);
    }
    CKeyRefresher::SetUpdatePeriod(0);
}

}  // namespace
