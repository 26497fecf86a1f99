// The crypt object and its flat forwarders: RSA round trips against the openssl tool, AES against
// the self-contained module, digests against published vectors, and the refusals of keys,
// lengths and buffers that do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "crypto/Interim.h"
#include "crypto_test_util.h"
#include "crypto/VORNEncrypt.h"
#include "morva/MorvaAes.h"
#include "morva/MorvaCrypto.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class CryptObject : public servicetest::InitedTest {};

// A scratch directory for the openssl tool's files.
class ToolDir {
public:
    ToolDir() {
        char szName[] = "/tmp/crypt_object_XXXXXX";
        m_Dir = mkdtemp(szName);
    }
    ~ToolDir() { std::system(("rm -rf " + m_Dir).c_str()); }
    std::string Path(const char *pName) const { return m_Dir + "/" + pName; }
    void Write(const char *pName, const BYTE *p, size_t n) const {
        std::ofstream(Path(pName), std::ios::binary).write(reinterpret_cast<const char *>(p), std::streamsize(n));
    }
    std::vector<BYTE> Read(const char *pName) const {
        std::ifstream in(Path(pName), std::ios::binary);
        return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    bool Run(const std::string &command) const { return std::system((command + " 2>/dev/null").c_str()) == 0; }

private:
    std::string m_Dir;
};

// Encrypts the secret under a PKCS#1 DER public key with openssl pkeyutl (PKCS#1 v1.5 padding).
std::vector<BYTE> EncryptWithTool(const ToolDir &dir, const BYTE *pPubDer, int iPubLen, const std::string &secret) {
    dir.Write("pub.der", pPubDer, size_t(iPubLen));
    dir.Write("plain.bin", reinterpret_cast<const BYTE *>(secret.data()), secret.size());
    const std::string spki = dir.Path("pub.pem");
    if (!dir.Run("openssl rsa -RSAPublicKey_in -inform DER -in " + dir.Path("pub.der") + " -pubout -out " + spki) ||
        !dir.Run("openssl pkeyutl -encrypt -pubin -inkey " + spki + " -in " + dir.Path("plain.bin") + " -out " +
                 dir.Path("cipher.bin"))) {
        return {};
    }
    return dir.Read("cipher.bin");
}

TEST(CryptObjectNotInit, CachedKeysNeedAnInitialisedLibrary) {
    ASSERT_EQ(0, GetCoreGlobalCtrl()->IsInited());
    BYTE pub[512], pri[2048];
    int iPub = 0, iPri = 0;
    MORVA_ECDH_KEY ecdh = {pri, pub, 512, 512, 0, 0, 0};
    EXPECT_EQ(0, Morva_GenerateRSAKey2048(pub, &iPub, pri, &iPri));
    EXPECT_EQ(0, Morva_GenerateRSAKey(pub, &iPub, pri, &iPri));
    EXPECT_EQ(0, Morva_GenerateECDHKey(TYPE_SECP_256_R1, &ecdh));
    EXPECT_EQ(0, Morva_DecryptByPrivateKeyEx2048(pub, 256, pri, &iPri, pri, 1190));
}

TEST_F(CryptObject, Rsa1024RoundTripWithTheOpensslTool) {
    ToolDir dir;
    void *pEncrypt = Morva_CreateVORNEncrypt();
    ASSERT_NE(pEncrypt, nullptr);
    BYTE byPub[1024];
    int iPubLen = 0;
    ASSERT_EQ(1, Morva_GeneratePublicKey(pEncrypt, byPub, &iPubLen));
    EXPECT_EQ(140, iPubLen) << "DER RSAPublicKey of a 1024-bit key with e = 65537";

    const std::string secret = "0123456789abcdef";
    const auto cipher = EncryptWithTool(dir, byPub, iPubLen, secret);
    ASSERT_EQ(128u, cipher.size());
    BYTE plain[128] = {};
    ASSERT_EQ(1, Morva_DecryptByPrivateKey(pEncrypt, int(cipher.size()), cipher.data(), plain));
    EXPECT_EQ(secret, std::string(reinterpret_cast<char *>(plain), secret.size()));

    // An object that never made a pair has no private key to decrypt with.
    void *pOther = Morva_CreateVORNEncrypt();
    EXPECT_EQ(0, Morva_DecryptByPrivateKey(pOther, int(cipher.size()), cipher.data(), plain));
    Morva_DestroyVORNEncrypt(pOther);

    // A capacity given through the length is respected.
    iPubLen = 100;
    EXPECT_EQ(0, Morva_GeneratePublicKey(pEncrypt, byPub, &iPubLen));
    EXPECT_EQ(0, Morva_GeneratePublicKey(nullptr, byPub, &iPubLen));
    Morva_DestroyVORNEncrypt(pEncrypt);
}

TEST_F(CryptObject, CachedRsa2048KeyDecryptsWhole) {
    ToolDir dir;
    BYTE byPub[512], byPri[2048];
    int iPubLen = 0, iPriLen = 0;
    ASSERT_EQ(1, Morva_GenerateRSAKey2048(byPub, &iPubLen, byPri, &iPriLen));
    EXPECT_GT(iPriLen, 1024) << "an RSA-2048 private key does not fit the crypt object's 1024-byte field";

    const std::string secret = "activation-secret";
    const auto cipher = EncryptWithTool(dir, byPub, iPubLen, secret);
    ASSERT_EQ(256u, cipher.size());
    BYTE plain[256] = {};
    int iPlainLen = 0;
    ASSERT_EQ(1, Morva_DecryptByPrivateKeyEx2048(cipher.data(), int(cipher.size()), plain, &iPlainLen, byPri, iPriLen));
    EXPECT_EQ(secret, std::string(reinterpret_cast<char *>(plain), secret.size()));

    // The RSA-1024 road refuses such a key instead of overrunning its field.
    EXPECT_EQ(0, Morva_DecryptByPrivateKeyEx(cipher.data(), int(cipher.size()), plain, &iPlainLen, byPri, iPriLen));
    EXPECT_EQ(0, Morva_DecryptByPrivateKeyEx2048(cipher.data(), int(cipher.size()), plain, nullptr, byPri, iPriLen));

    // The cached RSA-1024 pair decrypts through the cache too.
    BYTE byPub1[256], byPri1[1024];
    ASSERT_EQ(1, Morva_GenerateRSAKey(byPub1, &iPubLen, byPri1, &iPriLen));
    const auto cipher1 = EncryptWithTool(dir, byPub1, iPubLen, secret);
    ASSERT_EQ(1, Morva_DecryptByPrivateKeyEx(cipher1.data(), int(cipher1.size()), plain, &iPlainLen, byPri1, iPriLen));
    EXPECT_EQ(secret, std::string(reinterpret_cast<char *>(plain), secret.size()));
}

TEST_F(CryptObject, AesEcbAgreesWithTheSelfContainedModule) {
    void *pEncrypt = Morva_CreateVORNEncrypt();
    BYTE key[16];
    for (int i = 0; i < 16; ++i) key[i] = BYTE(i * 11);
    BYTE in[32], mine[32], ours[32], back[32];
    for (int i = 0; i < 32; ++i) in[i] = BYTE(200 - i);
    MORVA_AES_PARAM param = {pEncrypt, in, 32, ours, 32, key, 16, nullptr, 0};
    ASSERT_EQ(1, Morva_EncryptByAesEcb(&param));
    BYTE work[32];
    std::copy(in, in + 32, work);
    int iLen = 0;
    ASSERT_EQ(0, AES_EcbEncrypt128(work, 32, 32, mine, 32, &iLen, key));
    EXPECT_EQ(ToHex(mine, 32), ToHex(ours, 32));
    MORVA_AES_PARAM back_param = {pEncrypt, ours, 32, back, 32, key, 16, nullptr, 0};
    ASSERT_EQ(1, Morva_DecryptByAesEcb(&back_param));
    EXPECT_EQ(ToHex(in, 32), ToHex(back, 32));

    // SP 800-38A F.2.1: CBC through the crypt object.
    const auto cbcKey = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    auto iv = Hex("000102030405060708090a0b0c0d0e0f");
    auto plain = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    BYTE cbc[32];
    MORVA_AES_PARAM cbcParam = {pEncrypt, plain.data(), 32, cbc, 32, const_cast<BYTE *>(cbcKey.data()), 16, iv.data(), 16};
    ASSERT_EQ(1, Morva_EncryptByAesCbc(&cbcParam));
    EXPECT_EQ("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2", ToHex(cbc, 32));
    Morva_DestroyVORNEncrypt(pEncrypt);
}

TEST_F(CryptObject, AesRefusesKeysAndBuffersThatDoNotFit) {
    void *pEncrypt = Morva_CreateVORNEncrypt();
    BYTE key[33] = {1, 2, 3}, in[32] = {}, out[32], iv[16] = {};
    struct Case {
        const char *pName;
        MORVA_AES_PARAM param;
        int (*fnEntry)(MORVA_AES_PARAM *);
    } cases[] = {
        {"key of 33 bytes", {pEncrypt, in, 16, out, 32, key, 33, nullptr, 0}, Morva_EncryptByAesEcb},
        {"null key", {pEncrypt, in, 16, out, 32, nullptr, 16, nullptr, 0}, Morva_EncryptByAesEcb},
        {"key of 20 bytes", {pEncrypt, in, 16, out, 32, key, 20, nullptr, 0}, Morva_EncryptByAesEcb},
        {"output below the padded length", {pEncrypt, in, 17, out, 17, key, 16, nullptr, 0}, Morva_EncryptByAesEcb},
        {"partial block to decrypt", {pEncrypt, in, 17, out, 32, key, 16, nullptr, 0}, Morva_DecryptByAesEcb},
        {"CBC without an IV", {pEncrypt, in, 16, out, 32, key, 16, nullptr, 0}, Morva_EncryptByAesCbc},
        {"CBC output too small", {pEncrypt, in, 20, out, 16, key, 16, iv, 16}, Morva_EncryptByAesCbc},
        {"no crypt object", {nullptr, in, 16, out, 32, key, 16, iv, 16}, Morva_EncryptByAesCbc},
    };
    for (Case &c : cases) EXPECT_EQ(0, c.fnEntry(&c.param)) << c.pName;
    EXPECT_EQ(0, Morva_EncryptByAesEcb(nullptr));

    // A refused key leaves nothing usable behind on a fresh object: no run under an empty key.
    CVORNEncrypt direct;
    EXPECT_EQ(0, direct.SetAesCbcKey(key, 33));
    EXPECT_EQ(0, direct.AesEcbEncrypt(in, 16, out, 32));
    Morva_DestroyVORNEncrypt(pEncrypt);
}

TEST_F(CryptObject, DigestsMatchPublishedVectors) {
    const BYTE *abc = reinterpret_cast<const BYTE *>("abc");
    char md5[33] = {};
    Morva_MD5(abc, 3, md5, 0);
    EXPECT_STREQ("900150983cd24fb0d6963f7d28e17f72", md5);
    Morva_MD5(abc, 3, md5, 1);
    EXPECT_STREQ("900150983CD24FB0D6963F7D28E17F72", md5);
    BYTE sha[32];
    ASSERT_EQ(1, Morva_StrSHA256(abc, 3, sha));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", ToHex(sha, 32));
    EXPECT_EQ(0, Morva_StrSHA256(nullptr, 3, sha));

    const std::vector<BYTE> key0b(20, 0x0b);
    const std::string hiThere = "Hi There";
    ASSERT_EQ(1, Morva_HMAC_SHA256(key0b.data(), 20, reinterpret_cast<const BYTE *>(hiThere.data()), 8, sha, 0));
    EXPECT_EQ("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7", ToHex(sha, 32));
    EXPECT_EQ(1, Morva_HMAC_SHA256(nullptr, 0, nullptr, 0, nullptr, 1)) << "skipped";

    // RFC 2202 HMAC-MD5, including a key longer than the block.
    struct Case {
        std::vector<BYTE> key;
        std::string data;
        const char *pMac;
    } cases[] = {
        {std::vector<BYTE>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::vector<BYTE>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
    };
    for (const Case &c : cases) {
        BYTE mac[16];
        ASSERT_EQ(1, Morva_HMAC_MD5_Encrypt(reinterpret_cast<const BYTE *>(c.data.data()), int(c.data.size()),
                                            c.key.data(), int(c.key.size()), mac));
        EXPECT_EQ(c.pMac, ToHex(mac, 16));
    }
    EXPECT_EQ(0, Morva_HMAC_MD5_Encrypt(nullptr, 1, key0b.data(), 1, sha));
}

TEST_F(CryptObject, SharedObjectCiphersAndKeyAgreement) {
    char sm3[65] = {};
    ASSERT_EQ(1, Morva_SM3(reinterpret_cast<const BYTE *>("abc"), 3, sm3));
    EXPECT_STREQ("66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0", sm3);

    // RFC 8439 A.1 test vector 1: the key stream of key 0, nonce 0, counter 0.
    const BYTE zeroKey[32] = {}, nonce[12] = {}, zeros[64] = {};
    BYTE stream[64];
    int iLen = sizeof(stream);
    ASSERT_EQ(1, Morva_CHACHA20(stream, &iLen, zeros, 64, zeroKey, 0, nonce));
    EXPECT_EQ("76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
              "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586",
              ToHex(stream, 64));

    // GB/T 32907 A.1 through the crypt object: key = plain text, ECB (mode 1, no IV).
    auto key = Hex("0123456789abcdeffedcba9876543210");
    auto plain = key;
    BYTE out[32];
    MORVA_SM4_PARAM sm4 = {};
    sm4.pInterface = Morva_CreateVORNEncrypt();
    sm4.pInputBuf = plain.data();
    sm4.iInputBufLen = 16;
    sm4.pOutputBuf = out;
    sm4.iOutputBufLen = sizeof(out);
    sm4.pKey = key.data();
    sm4.iKeyLen = 16;
    sm4.iMode = 1;
    ASSERT_EQ(1, Morva_EncryptBySM4(&sm4));
    EXPECT_EQ("681edf34d206965e86b3e94f536e4246", ToHex(out, 16));
    Morva_DestroyVORNEncrypt(sm4.pInterface);

    // Two P-256 parties: the cached key set and a second pair reach the same secret.
    BYTE priA[512], pubA[512], priB[512], pubB[512];
    MORVA_ECDH_KEY a = {priA, pubA, 512, 512, 0, 0, 0}, b = {priB, pubB, 512, 512, 0, 0, 1};
    ASSERT_EQ(1, Morva_GenerateECDHKey(TYPE_SECP_256_R1, &a));
    ASSERT_EQ(1, Morva_GenerateECDHKey(TYPE_SECP_256_R1, &b));  // same cached set, DER public form
    BYTE s1[256], s2[256];
    int i1 = 0, i2 = 0;
    ASSERT_EQ(1, Morva_ECDHComputeShareKey(TYPE_SECP_256_R1, s1, &i1, priA, a.iPriKeyLen, pubA, a.iPubKeyLen));
    ASSERT_EQ(1, Morva_ECDHComputeShareKeyEx(TYPE_SECP_256_R1, s2, &i2, priB, b.iPriKeyLen, pubB, b.iPubKeyLen));
    EXPECT_EQ(32, i1);
    EXPECT_EQ(ToHex(s1, size_t(i1)), ToHex(s2, size_t(i2))) << "the point and the DER form name the same key";
}

TEST_F(CryptObject, Asn1WrapperAndAlignedBlocks) {
    const BYTE data[] = {0xde, 0xad, 0xbf};
    BYTE out[16];
    ASSERT_EQ(9, Morva_ASN1_Encode(data, 3, out, sizeof(out)));
    EXPECT_EQ("3080040" "3deadbf0000", ToHex(out, 9));
    BYTE back[8];
    ASSERT_EQ(3, Morva_ASN1_Decode(out, 9, back, sizeof(back)));
    EXPECT_EQ("deadbf", ToHex(back, 3));
    ASSERT_EQ(3, Morva_ASN1_Decode(out + 2, 5, back, sizeof(back))) << "a bare OCTET STRING";
    out[1] = 0x81;
    EXPECT_EQ(-1, Morva_ASN1_Decode(out, 9, back, sizeof(back)));
    EXPECT_EQ(-1, Morva_ASN1_Encode(data, 3, out, 8)) << "no room for the wrapper";
    EXPECT_EQ(-1, Morva_ASN1_Decode(out + 2, 5, back, 2)) << "content does not fit";

    for (int iAlign : {4, 16, 64, 4096}) {
        void *p = CVORNEncrypt::AlignMalloc(100, iAlign);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % uintptr_t(iAlign));
        std::fill_n(static_cast<BYTE *>(p), 100, BYTE(0x5a));
        CVORNEncrypt::AlignFree(p);
    }
    EXPECT_EQ(nullptr, CVORNEncrypt::AlignMalloc(100, 24)) << "not a power of two";
}

TEST_F(CryptObject, DestroyedObjectLeavesNoKeyBehind) {
    alignas(CVORNEncrypt) BYTE storage[sizeof(CVORNEncrypt)];
    CVORNEncrypt *pEncrypt = new (storage) CVORNEncrypt;
    const std::vector<BYTE> aesKey(32, 0xC3), priKey(600, 0x7E);
    ASSERT_EQ(1, pEncrypt->SetAesCbcKey(aesKey.data(), int(aesKey.size())));
    ASSERT_EQ(1, pEncrypt->SetPrivateKey(priKey.data(), int(priKey.size())));
    pEncrypt->~CVORNEncrypt();
    for (BYTE b : {BYTE(0xC3), BYTE(0x7E)}) {
        const std::vector<BYTE> run(16, b);
        EXPECT_EQ(std::end(storage), std::search(std::begin(storage), std::end(storage), run.begin(), run.end()))
            << int(b);
    }
}

TEST_F(CryptObject, RefusedKeysAreNotWrittenToTheLog) {
    servicetest::LogCapture log;
    BYTE secret[40];
    for (BYTE &b : secret) b = 'K';
    BYTE in[16] = {}, out[32];
    MORVA_SM4_PARAM param = {};
    param.pInterface = Morva_CreateVORNEncrypt();
    param.pInputBuf = in;
    param.iInputBufLen = 16;
    param.pOutputBuf = out;
    param.iOutputBufLen = 32;
    param.pKey = secret;
    param.iKeyLen = 20;
    param.iMode = 1;
    EXPECT_EQ(0, Morva_EncryptBySM4(&param));
    MORVA_SM2_PARAM sm2 = {param.pInterface, in, 16, out, 32, secret, 40};  // above 32 bytes
    EXPECT_EQ(0, Morva_DecryptBySM2(&sm2));
    EXPECT_EQ(1u, log.Matching("CVORNEncrypt::SM4, Invalid Param, pKey[0x").size());
    EXPECT_EQ(1u, log.Matching("CVORNEncrypt::SM2, Invalid Param, pKey[0x").size());
    EXPECT_TRUE(log.Matching("KKKK").empty());
    Morva_DestroyVORNEncrypt(param.pInterface);
}

}  // namespace
