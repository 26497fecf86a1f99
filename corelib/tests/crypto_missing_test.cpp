// The crypto forwarders in a process whose OpenSSL cannot be loaded: each family fails with its
// log line and a result of failure, and the key caches are not made.
#include <gtest/gtest.h>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "crypto/CryptoProvider.h"
#include "morva/MorvaCrypto.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class CryptoMissing : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        ASSERT_EQ(1, GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_LIBEAY, "/nonexistent/libnocrypto.so.3"));
        ASSERT_EQ(1, GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_SSLEASY, "/nonexistent/libnossl.so.3"));
    }
};

TEST_F(CryptoMissing, EveryFamilyFailsAndLogs) {
    servicetest::LogCapture log;
    const BYTE data[16] = {1, 2, 3};
    BYTE out[256] = {};
    char hex[33] = {};
    int iLen = 0;

    void *pEncrypt = Morva_CreateVORNEncrypt();
    ASSERT_NE(nullptr, pEncrypt) << "the crypt object itself needs no OpenSSL";
    BYTE key[16] = {9};
    MORVA_AES_PARAM aes = {pEncrypt, const_cast<BYTE *>(data), 16, out, 32, key, 16, nullptr, 0};
    struct Case {
        const char *pName;
        int iResult;
    } cases[] = {
        {"Morva_GeneratePublicKey", Morva_GeneratePublicKey(pEncrypt, out, &iLen)},
        {"Morva_EncryptByAesEcb", Morva_EncryptByAesEcb(&aes)},
        {"Morva_GenerateRSAKey2048", Morva_GenerateRSAKey2048(out, &iLen, out, &iLen)},
        {"Morva_StrSHA256", Morva_StrSHA256(data, 16, out)},
        {"Morva_HMAC_MD5_Encrypt", Morva_HMAC_MD5_Encrypt(data, 16, key, 16, out)},
        {"Morva_ASN1_Encode", Morva_ASN1_Encode(data, 3, out, sizeof(out)) > 0},
    };
    for (const Case &c : cases) EXPECT_EQ(0, c.iResult) << c.pName;
    Morva_MD5(data, 16, hex, 0);
    EXPECT_STREQ("", hex);

    DWORD dwOutLen = 0;
    MORVA_CRYPTO_PARAM param = {};
    param.pKey = key;
    param.pInputData = data;
    param.dwInputDataLen = 16;
    param.pOutputData = out;
    param.dwOutputDataSize = 32;
    param.pOutputDataLen = &dwOutLen;
    EXPECT_EQ(0, CCryptoProvider::Encrypt(&param));

    EXPECT_EQ(nullptr, GetCoreGlobalCtrl()->GetRSAEncrypt()) << "a cache whose first keys fail is not kept";
    EXPECT_EQ(1u, log.Matching("Interim_GenerateRSAKey2048, GetRSAEncrypt Failed").size());
    EXPECT_EQ(1u, log.Matching("Morva_StrSHA256, Interim_GetCryptionIns Failed").size());
    EXPECT_EQ(1u, log.Matching("Morva_MD5, Interim_GetCryptionIns Failed").size());
    EXPECT_EQ(1u, log.Matching("CVORNEncrypt::AesEcbEncrypt, Interim_GetCryptionIns Failed").size());
    EXPECT_FALSE(log.Matching("CCryptoProvider::Encrypt, Morva_CreateSSLTransEx Failed").empty());
    Morva_DestroyVORNEncrypt(pEncrypt);
}

}  // namespace
