// The OpenSSL table: the wrappers' fixed values while nothing is bound, binding Debian's OpenSSL 3
// (every required name there, the removed ones absent), the version rules on stand-in libraries
// of the 1.1.1 and 1.0.2 generations, and the old generation's lock array through the loader.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

TEST(OpenSSLBinding, UnboundWrappersGiveTheirFixedValues) {
    COpenSSLAPI api;
    unsigned char buf[16] = {};
    EXPECT_EQ(api.GetVersionNum(), 0u);
    EXPECT_EQ(api.RAND_bytes(buf, 16), -1);
    EXPECT_EQ(api.BN_new(), nullptr);
    EXPECT_EQ(api.EVP_sm3(), nullptr);
    EXPECT_EQ(api.EVP_DigestInit_ex(static_cast<EVP_MD_CTX *>(nullptr), static_cast<const EVP_MD *>(nullptr),
                                    nullptr),
              -1);
    EXPECT_EQ(api.SSL_read(static_cast<SSL *>(nullptr), buf, 16, 77), 77);
    EXPECT_EQ(api.MD5(buf, 16, buf, buf + 1), buf + 1);
    api.SSL_free(static_cast<SSL *>(nullptr));
    api.CRYPTO_free(static_cast<void *>(buf), "f", 1);
    EXPECT_EQ(api.IsAllAPILoaded(), 0);
    DWORD dwVersion = 0;
    EXPECT_EQ(api.GetOpenSSLVersion(&dwVersion), 0);
    unsigned char pair[SM2_KEY_PAIR_LEN];
    EXPECT_EQ(api.SSLTrans_SM2CreateKeyPair(pair), 0);
}

TEST(OpenSSLBinding, LoadAPINeedsBothHandles) {
    void *hCrypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(hCrypto, nullptr);
    COpenSSLAPI api;
    EXPECT_EQ(api.LoadAPI(nullptr, hCrypto), 0);
    EXPECT_EQ(api.LoadAPI(hCrypto, nullptr), 0);
    EXPECT_EQ(api.FindFunction("RAND_bytes"), nullptr);
    EXPECT_EQ(api.GetVersionNum(), 0u);
}

TEST(OpenSSLBinding, OpenSSL3BindsEveryRequiredName) {
    void *hCrypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    void *hSSL = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(hCrypto, nullptr);
    ASSERT_NE(hSSL, nullptr);
    COpenSSLAPI api;
    ASSERT_EQ(api.LoadAPI(hSSL, hCrypto), 1);
    auto fnVersionNum = reinterpret_cast<unsigned long (*)()>(dlsym(hCrypto, "OpenSSL_version_num"));
    ASSERT_NE(fnVersionNum, nullptr);
    EXPECT_EQ(api.GetVersionNum(), static_cast<DWORD>(fnVersionNum()));
    EXPECT_GE(api.GetVersionNum(), 0x30000000u);
    EXPECT_EQ(api.IsAllAPILoaded(), 1);
    // Macros or removed in OpenSSL 3: unbound, and never required.
    for (const char *pName : {"SSL_library_init", "SSLeay_version", "SSLv23_client_method", "SSLv2_method",
                              "SSLv3_server_method", "CRYPTO_num_locks", "CRYPTO_set_locking_callback",
                              "OpenSSL_add_all_ciphers"})
        EXPECT_EQ(api.FindFunction(pName), nullptr) << pName;
    EXPECT_NE(api.FindFunction("TLS_client_method"), nullptr);
    EXPECT_NE(api.FindFunction("ECDH_KDF_X9_62"), nullptr);
    EXPECT_EQ(api.FindFunction("CRYPTO_free"), dlsym(hCrypto, "CRYPTO_free"));
    // The table's own calls reach the library.
    unsigned char digest[16];
    EXPECT_EQ(api.MD5(reinterpret_cast<const unsigned char *>("abc"), 3, digest, nullptr), digest);
    EXPECT_EQ(digest[0], 0x90);
}

TEST(OpenSSLBinding, VersionTextsOfOlderGenerations) {
    void *hFake = dlopen(FAKE_CRYPTO111_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(hFake, nullptr) << dlerror();
    auto fnSet = reinterpret_cast<void (*)(const char *)>(dlsym(hFake, "fake_crypto_set_version"));
    ASSERT_NE(fnSet, nullptr);
    const struct {
        const char *pText;
        DWORD dwVersion;  // 0: not recognised
    } kCases[] = {
        {"OpenSSL 1.1.1w  11 Sep 2023", 0x1010117F},
        {"OpenSSL 1.1.1a  20 Nov 2018", 0x1010101F},
        {"OpenSSL 1.1.1  11 Sep 2018", 0},
        {"OpenSSL 1.1.0l  10 Sep 2019", 0},
    };
    for (const auto &c : kCases) {
        fnSet(c.pText);
        COpenSSLAPI api;
        EXPECT_EQ(api.LoadAPI(hFake, hFake), 1) << c.pText;
        EXPECT_EQ(api.GetVersionNum(), c.dwVersion) << c.pText;
        // Only the version text is there: the check names the first missing function, the
        // wrappers give their fixed values.
        EXPECT_EQ(api.IsAllAPILoaded(), 0);
        unsigned char buf[4];
        EXPECT_EQ(api.RAND_bytes(buf, 4), -1);
    }

    void *hOld = dlopen(FAKE_CRYPTO102_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(hOld, nullptr) << dlerror();
    COpenSSLAPI old;
    ASSERT_EQ(old.LoadAPI(hOld, hOld), 1);
    EXPECT_EQ(old.GetVersionNum(), 0x1000215Fu);
}

// An old library takes the explicit initialisation and the lock array; its callback locks the
// runtime mutexes. A TLS library without SSL_CTX_new then gives no client instance.
TEST(OpenSSLBinding, OldGenerationGetsTheLockArray) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    ASSERT_EQ(pCtrl->Init(), 1);
    pCtrl->SetDllLoadPath(BASE_DLL_LIBEAY, FAKE_CRYPTO102_PATH);
    pCtrl->SetDllLoadPath(BASE_DLL_SSLEASY, FAKE_CRYPTO102_PATH);
    {
        servicetest::LogCapture log;
        ASSERT_NE(Interim_GetCryptionIns(), nullptr);
        EXPECT_EQ(COpenSSLAPI::GetInstance()->GetVersionNum(), 0x1000215Fu);
        EXPECT_EQ(log.Matching("COpenSSLAPI::IsAllAPILoaded, Function[OpenSSL_version] Unload").size(), 1u);
        EXPECT_EQ(log.Matching("CSSLTrans::LoadSSLLib, Not All Function Loaded!").size(), 1u);
        EXPECT_EQ(log.Matching("OpenSSL: SSLeay Version[OpenSSL 1.0.2u  20 Dec 2019]").size(), 1u);
    }

    void *hOld = dlopen(FAKE_CRYPTO102_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(hOld, nullptr);
    auto fnGet = reinterpret_cast<OSSL_LOCKING_CB (*)()>(dlsym(hOld, "fake_crypto_locking_callback"));
    ASSERT_NE(fnGet, nullptr);
    OSSL_LOCKING_CB fnLocking = fnGet();
    ASSERT_EQ(fnLocking, &CSSLTrans::LockingCallback);
    for (int n = 0; n < 4; n++) {
        fnLocking(1, n, __FILE__, __LINE__);
        fnLocking(1, n, __FILE__, __LINE__);  // recursive, as the runtime's mutexes are
        fnLocking(2, n, __FILE__, __LINE__);
        fnLocking(2, n, __FILE__, __LINE__);
    }
    fnLocking(1, 9, __FILE__, __LINE__);  // beyond the array: nothing happens

    EXPECT_EQ(Interim_CreateSSLTransEx(0), nullptr);
    EXPECT_EQ(pCtrl->GetLastError(), MORVA_ERR_ALLOC);
    pCtrl->Fini();
}

}  // namespace
