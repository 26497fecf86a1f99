// RSA-1024 key generation and private decryption through the crypt object and the key cache,
// beside the same operations called directly on OpenSSL in the same run.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"
#include "crypto/VORNEncrypt.h"

using namespace Vorezi;

namespace {

struct Library {
    Library() { GetCoreGlobalCtrl()->Init(); }
    ~Library() { GetCoreGlobalCtrl()->Fini(); }
};

Library &Lib() {
    static Library lib;
    return lib;
}

// A PKCS#1 v1.5 cipher text of a 16-byte secret under the cached RSA-1024 key, and that key.
struct Fixture {
    BYTE pub[256], pri[1024];
    int iPubLen = 0, iPriLen = 0;
    std::vector<BYTE> cipher;
    Fixture() {
        Lib();
        GetCoreGlobalCtrl()->GetRSAEncrypt()->GetRSAKey(pub, &iPubLen, pri, &iPriLen);
        const unsigned char *p = pub;
        RSA *rsa = d2i_RSAPublicKey(nullptr, &p, iPubLen);
        cipher.resize(size_t(RSA_size(rsa)));
        const unsigned char secret[16] = "0123456789abcde";
        RSA_public_encrypt(16, secret, cipher.data(), rsa, RSA_PKCS1_PADDING);
        RSA_free(rsa);
    }
};

Fixture &Fix() {
    static Fixture fix;
    return fix;
}

void BM_Wrapper_GenerateRSAKey1024(benchmark::State &state) {
    Lib();
    BYTE pub[256], pri[1024];
    int iPub = 0, iPri = 0;
    for (auto _ : state) {
        CVORNEncrypt encrypt;
        benchmark::DoNotOptimize(encrypt.GenerateRSAKey(pub, &iPub, pri, &iPri));
    }
}

void BM_OpenSSL_GenerateRSAKey1024(benchmark::State &state) {
    BYTE pub[256], pri[1024];
    for (auto _ : state) {
        RSA *rsa = RSA_new();
        BIGNUM *e = BN_new();
        BN_set_word(e, 65537);
        RSA_generate_key_ex(rsa, 1024, e, nullptr);
        BN_free(e);
        unsigned char *p = pub, *q = pri;
        benchmark::DoNotOptimize(i2d_RSAPublicKey(rsa, &p) + i2d_RSAPrivateKey(rsa, &q));
        RSA_free(rsa);
    }
}

void BM_KeyCache_DecryptData1024(benchmark::State &state) {
    Fixture &fix = Fix();
    CRSAKey *pCache = GetCoreGlobalCtrl()->GetRSAEncrypt();
    BYTE out[128];
    int iOutLen = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pCache->DecryptData(fix.pri, fix.iPriLen, fix.cipher.data(), DWORD(fix.cipher.size()),
                                                     out, &iOutLen));
    }
}

void BM_OpenSSL_PrivateDecrypt1024(benchmark::State &state) {
    Fixture &fix = Fix();
    BYTE out[128];
    for (auto _ : state) {
        const unsigned char *p = fix.pri;
        RSA *rsa = d2i_RSAPrivateKey(nullptr, &p, fix.iPriLen);
        benchmark::DoNotOptimize(RSA_private_decrypt(int(fix.cipher.size()), fix.cipher.data(), out, rsa,
                                                     RSA_PKCS1_PADDING));
        RSA_free(rsa);
    }
}

}  // namespace

// Key generation time depends on the primes found: many iterations even out both sides.
BENCHMARK(BM_Wrapper_GenerateRSAKey1024)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_GenerateRSAKey1024)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyCache_DecryptData1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSL_PrivateDecrypt1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
