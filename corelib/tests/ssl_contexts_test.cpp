// Loading OpenSSL and the shared contexts: missing libraries (crypto before TLS), the version
// codes, the user counts, server cipher preference on TLS and DTLS server contexts, the CA
// directory of the client context, and the controller's shared instance.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "DependLibLoader.h"
#include "crypto/OpenSSLAPI.h"
#include "ssl_test_util.h"

using namespace Vorezi;
using namespace cryptotest;

namespace {

class SSLContexts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_pCtrl->Init(), 1); }
    void TearDown() override { m_pCtrl->Fini(); }
    int64_t Users(int iKind) { return CSSLTrans::GetCtxRecord(iKind).llUsers; }
    CCoreGlobalCtrlBase *m_pCtrl = GetCoreGlobalCtrl();
};

// The TLS library's own view of a context, looked up in the copy the loader brought in.
template <class F>
F SslSymbol(const char *pName) {
    void *hSSL = dlopen("libssl.so.3", RTLD_NOW | RTLD_NOLOAD);
    return hSSL ? reinterpret_cast<F>(dlsym(hSSL, pName)) : nullptr;
}

uint64_t CtxOptions(SSL_CTX *pCtx) {
    auto fn = SslSymbol<uint64_t (*)(const SSL_CTX *)>("SSL_CTX_get_options");
    return fn ? fn(pCtx) : 0;
}

// First in the program: nothing may have loaded OpenSSL before.
TEST_F(SSLContexts, MissingCryptoLibraryComesBeforeTheTLSLibrary) {
    ASSERT_FALSE(CSSLTrans::IsLoaded());
    m_pCtrl->SetDllLoadPath(BASE_DLL_LIBEAY, "/nonexistent/libnocrypto.so.9");
    m_pCtrl->SetDllLoadPath(BASE_DLL_SSLEASY, "/nonexistent/libnossl.so.9");
    EXPECT_EQ(Interim_CreateSSLTransEx(0), nullptr);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_LOAD_CRYPTO);
    EXPECT_EQ(Interim_GetCryptionIns(), nullptr);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_LOAD_CRYPTO);

    m_pCtrl->SetDllLoadPath(BASE_DLL_LIBEAY, "libcrypto.so.3");
    EXPECT_EQ(Interim_CreateSSLServerEx(6, 0), nullptr);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_LOAD_SSL);
    EXPECT_FALSE(CSSLTrans::IsLoaded());

    m_pCtrl->SetDllLoadPath(BASE_DLL_SSLEASY, "libssl.so.3");
    CSSLTrans *pTrans = Interim_CreateSSLTransEx(0);
    ASSERT_NE(pTrans, nullptr);
    EXPECT_TRUE(CSSLTrans::IsLoaded());
    Interim_DestroySSLTrans(pTrans);
}

TEST_F(SSLContexts, ClientCodesAndCounts) {
    EXPECT_EQ(Interim_CreateSSLTransEx(6), nullptr);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_PARAM);
    // The creation holds the SSL library lock around a second lock of the same thread.
    int64_t llBefore = Users(SSL_CTX_KIND_CLIENT);
    CSSLTrans *pA = Interim_CreateSSLTransEx(0);
    CSSLTrans *pB = Interim_CreateSSLTransEx(2);  // SSLv3 becomes TLS on this OpenSSL
    ASSERT_NE(pA, nullptr);
    ASSERT_NE(pB, nullptr);
    EXPECT_EQ(Users(SSL_CTX_KIND_CLIENT), llBefore + 2);
    SSL_CTX *pCtx = CSSLTrans::GetCtxRecord(SSL_CTX_KIND_CLIENT).pCtx;
    ASSERT_NE(pCtx, nullptr);
    EXPECT_EQ(pA->GetSSLCtx(), pCtx);
    EXPECT_EQ(pB->GetSSLCtx(), pCtx);
    EXPECT_EQ(pA->GetSSL(), nullptr);
    auto fnMethod = SslSymbol<const SSL_METHOD *(*)(const SSL_CTX *)>("SSL_CTX_get_ssl_method");
    auto fnTLS = SslSymbol<const SSL_METHOD *(*)()>("TLS_client_method");
    ASSERT_TRUE(fnMethod && fnTLS);
    EXPECT_EQ(fnMethod(pCtx), fnTLS());
    // Destroying leaves the count; the unload gives one back.
    Interim_DestroySSLTrans(pA);
    Interim_DestroySSLTrans(pB);
    Interim_DestroySSLTrans(nullptr);
    EXPECT_EQ(Users(SSL_CTX_KIND_CLIENT), llBefore + 2);
    EXPECT_EQ(Interim_UnloadSSLLib(), 1);
    EXPECT_EQ(Users(SSL_CTX_KIND_CLIENT), llBefore + 1);
}

TEST_F(SSLContexts, ServerContextsPreferTheirOwnCipherOrder) {
    int64_t llBefore = Users(SSL_CTX_KIND_TLS_SERVER);
    CSSLTrans *pServers[3];
    for (CSSLTrans *&p : pServers) {
        p = Interim_CreateSSLServerEx(6, 0);
        ASSERT_NE(p, nullptr);
    }
    EXPECT_EQ(Users(SSL_CTX_KIND_TLS_SERVER), llBefore + 3);
    SSL_CTX *pTLS = CSSLTrans::GetCtxRecord(SSL_CTX_KIND_TLS_SERVER).pCtx;
    ASSERT_NE(pTLS, nullptr);
    EXPECT_EQ(pServers[2]->GetSSLCtx(), pTLS);
    EXPECT_FALSE(pServers[0]->IsDTLS());
    EXPECT_NE(CtxOptions(pTLS) & OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE, 0u);

    CSSLTrans *pDTLS = Interim_CreateSSLServerEx(11, 1);
    ASSERT_NE(pDTLS, nullptr);
    EXPECT_TRUE(pDTLS->IsDTLS());
    SSL_CTX *pDtlsCtx = CSSLTrans::GetCtxRecord(SSL_CTX_KIND_DTLS_SERVER).pCtx;
    EXPECT_EQ(pDTLS->GetSSLCtx(), pDtlsCtx);
    EXPECT_NE(pDtlsCtx, pTLS);
    EXPECT_NE(CtxOptions(pDtlsCtx) & OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE, 0u);

    // A code and a kind that do not match, codes beyond the table, and the versions that could
    // never complete a handshake (TLS 1.0, TLS 1.1, DTLS 1.0) are refused.
    for (auto c : {std::make_pair(11u, 0), std::make_pair(6u, 1), std::make_pair(12u, 1), std::make_pair(40u, 0),
                   std::make_pair(3u, 0), std::make_pair(4u, 0), std::make_pair(10u, 1)}) {
        EXPECT_EQ(Interim_CreateSSLServerEx(c.first, c.second), nullptr) << c.first;
        EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_PARAM);
    }
    for (CSSLTrans *p : pServers)
        Interim_DestroySSLTrans(p);
    Interim_DestroySSLTrans(pDTLS);
    EXPECT_EQ(CSSLTrans::UnloadSSLLib(1, 0), 1);
    EXPECT_EQ(Users(SSL_CTX_KIND_TLS_SERVER), llBefore + 2);
}

TEST_F(SSLContexts, CADirectoryLoadsEveryFileIntoTheClientContext) {
    ScratchDir dir;
    ASSERT_EQ(RunTool("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=zeva-ca "
                      "-days 2 -keyout " + dir.File("ca.key") + " -out " + dir.File("ca.pem")),
              0);
    dir.Write("junk.txt", Text("not a certificate"));
    ::unlink(dir.File("ca.key").c_str());
    ::mkdir(dir.File("sub").c_str(), 0700);

    CSSLTrans *pFirst = Interim_CreateSSLTransEx(0);  // no CA directory yet: error 40, nothing loaded
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_NO_CA_PATH);
    Interim_DestroySSLTrans(pFirst);

    // Setting the directory reloads it at once, now that OpenSSL is loaded.
    MORVA_CA_PATH_CFG cfg = {};
    snprintf(cfg.szCAPath, sizeof(cfg.szCAPath), "%s", dir.File("").c_str());
    m_pCtrl->SetLastError(0);
    EXPECT_EQ(m_pCtrl->SetSDKLocalCfg(20, &cfg), 1);
    EXPECT_EQ(m_pCtrl->GetLastError(), MORVA_ERR_CERT);  // the junk file
    EXPECT_EQ(CSSLTrans::GetCtxRecord(SSL_CTX_KIND_CLIENT).bSetUp, 1);

    auto fnStore = SslSymbol<X509_STORE *(*)(const SSL_CTX *)>("SSL_CTX_get_cert_store");
    void *hCrypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(hCrypto, nullptr);
    auto fnObjects = reinterpret_cast<void *(*)(X509_STORE *)>(dlsym(hCrypto, "X509_STORE_get0_objects"));
    auto fnNum = reinterpret_cast<int (*)(const void *)>(dlsym(hCrypto, "OPENSSL_sk_num"));
    ASSERT_TRUE(fnStore && fnObjects && fnNum);
    X509_STORE *pStore = fnStore(CSSLTrans::GetCtxRecord(SSL_CTX_KIND_CLIENT).pCtx);
    EXPECT_EQ(fnNum(fnObjects(pStore)), 1);

    // Later creations keep what was loaded.
    CSSLTrans *pNext = Interim_CreateSSLTransEx(0);
    ASSERT_NE(pNext, nullptr);
    EXPECT_EQ(fnStore(pNext->GetSSLCtx()), pStore);
    Interim_DestroySSLTrans(pNext);
}

TEST_F(SSLContexts, ControllerSharesOneInstanceUntilFini) {
    CSSLTrans *pShared = Interim_GetCryptionIns();
    ASSERT_NE(pShared, nullptr);
    EXPECT_EQ(Interim_GetCryptionIns(), pShared);
    EXPECT_EQ(GetSSLTransInstance(), pShared);
    EXPECT_EQ(GetOpenSSLAPI(), COpenSSLAPI::GetInstance());
    EXPECT_EQ(pShared->GetSSLCtx(), CSSLTrans::GetCtxRecord(SSL_CTX_KIND_CLIENT).pCtx);
    Bytes out(16);
    EXPECT_NE(pShared->SSLTrans_MD5(out.data(), 0, out.data()), nullptr);

    CSSLTrans *pOwn = Morva_CreateSSLTrans();
    ASSERT_NE(pOwn, nullptr);
    EXPECT_NE(pOwn, pShared);
    Morva_DestroySSLTrans(pOwn);
    m_pCtrl->Fini();
    EXPECT_EQ(Morva_CreateSSLTrans(), nullptr);  // not initialised
    EXPECT_EQ(Morva_CreateSSLServer(), nullptr);
    ASSERT_EQ(m_pCtrl->Init(), 1);
}

// Instances made and destroyed from several threads while the shared one hashes and runs SM2.
TEST_F(SSLContexts, ThreadsShareTheLibraryAndTheInstance) {
    CSSLTrans *pShared = Interim_GetCryptionIns();
    ASSERT_NE(pShared, nullptr);
    int64_t llBefore = Users(SSL_CTX_KIND_CLIENT);
    Bytes pub(65), pri(32);
    int iPubLen = 0, iPriLen = 0;
    ASSERT_EQ(pShared->SSLTrans_GenerateSM2Key(pub.data(), &iPubLen, pri.data(), &iPriLen), 1);
    constexpr int kThreads = 4, kRounds = 8;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; i++) {
                CSSLTrans *pOwn = Interim_CreateSSLTransEx(0);
                Bytes msg(24, static_cast<unsigned char>(t * 16 + i)), ct(24 + 97), back(24), digest(32);
                MORVA_SM2_PARAM enc = {nullptr, msg.data(), 24, ct.data(), static_cast<int>(ct.size()), pub.data(), 65};
                MORVA_SM2_PARAM dec = {nullptr, ct.data(), static_cast<int>(ct.size()), back.data(), 24, pri.data(), 32};
                bool bOk = pOwn && pShared->SSLTrans_SM2Encrypt(&enc) == 1 && pShared->SSLTrans_SM2Decrypt(&dec) == 1 &&
                           back == msg && pShared->SSLTrans_SHA256(msg.data(), msg.size(), digest.data()) != nullptr;
                failures[t] += bOk ? 0 : 1;
                Interim_DestroySSLTrans(pOwn);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(failures[t], 0) << t;
    EXPECT_EQ(Users(SSL_CTX_KIND_CLIENT), llBefore + kThreads * kRounds);
}

}  // namespace
