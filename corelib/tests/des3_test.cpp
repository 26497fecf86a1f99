// The DES-based 128-bit cipher: single DES against FIPS 81 and classic known answers, the full
// construction against OpenSSL's DES composed the same way, and the ECB padding rules.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto_test_util.h"
#include "morva/MorvaDes.h"

namespace {

// One DES pass through our context, on 8 bytes.
std::vector<uint8_t> OurDes(const std::vector<uint8_t> &key, const std::vector<uint8_t> &in, int iDirection) {
    DES3_CONTEXT ctx;
    DES3_InitContext(&ctx);
    uint32_t dwSchedule[DES_SCHEDULE_WORDS];
    DES_KeySchedule(&ctx, key.data(), iDirection, dwSchedule);
    std::vector<uint8_t> out(in.size());
    for (size_t i = 0; i < in.size(); i += 8) {
        uint32_t w[2];
        DES_LoadWords(in.data() + i, w);
        DES_Transform(&ctx, w, dwSchedule);
        DES_StoreWords(w, out.data() + i);
    }
    return out;
}

// OpenSSL's single DES (legacy provider) on one 8-byte block.
class OpenSSLDes {
public:
    OpenSSLDes()
        : m_pLegacy(OSSL_PROVIDER_load(nullptr, "legacy")),
          m_pDefault(OSSL_PROVIDER_load(nullptr, "default")),
          m_pCipher(EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr)) {}
    ~OpenSSLDes() {
        EVP_CIPHER_free(m_pCipher);
        if (m_pDefault) OSSL_PROVIDER_unload(m_pDefault);
        if (m_pLegacy) OSSL_PROVIDER_unload(m_pLegacy);
    }
    bool Ready() const { return m_pCipher != nullptr; }
    void Block(const uint8_t *pKey, uint8_t *pBlock, bool bEncrypt) const {
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        int iLen = 0;
        EVP_CipherInit_ex(ctx, m_pCipher, nullptr, pKey, nullptr, bEncrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        uint8_t out[16];
        EVP_CipherUpdate(ctx, out, &iLen, pBlock, 8);
        EVP_CIPHER_CTX_free(ctx);
        std::memcpy(pBlock, out, 8);
    }
    // The 128-bit construction: E(K1), exchange, D(K2), exchange, E(K1) on both halves.
    std::vector<uint8_t> Construction(const std::vector<uint8_t> &key, const std::vector<uint8_t> &in) const {
        std::vector<uint8_t> out(in);
        for (size_t off = 0; off < out.size(); off += 16) {
            uint8_t *a = out.data() + off;
            uint8_t *b = a + 8;
            for (int iPass = 0; iPass < 3; ++iPass) {
                if (iPass > 0) {
                    uint8_t t[4];
                    std::memcpy(t, a + 4, 4);
                    std::memcpy(a + 4, b, 4);
                    std::memcpy(b, t, 4);
                }
                const uint8_t *k = key.data() + (iPass == 1 ? 8 : 0);
                Block(k, a, iPass != 1);
                Block(k, b, iPass != 1);
            }
        }
        return out;
    }

private:
    OSSL_PROVIDER *m_pLegacy;
    OSSL_PROVIDER *m_pDefault;
    EVP_CIPHER *m_pCipher;
};

struct DesVector {
    const char *pName;
    const char *pKey;
    const char *pPlain;
    const char *pCipher;
};

const DesVector kDesVectors[] = {
    {"FIPS 81 appendix B", "0123456789abcdef", "4e6f77206973207468652074696d6520666f7220616c6c20",
     "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    {"worked example", "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"variable plain text round 1", "0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
};

TEST(Des, SingleDesKnownAnswers) {
    for (const DesVector &v : kDesVectors) {
        SCOPED_TRACE(v.pName);
        const std::vector<uint8_t> key = Hex(v.pKey);
        const std::vector<uint8_t> plain = Hex(v.pPlain);
        EXPECT_EQ(ToHex(OurDes(key, plain, DES_DIR_ENCRYPT)), v.pCipher);
        EXPECT_EQ(ToHex(OurDes(key, Hex(v.pCipher), DES_DIR_DECRYPT)), ToHex(plain));
    }
}

TEST(Des, ParityBitsAreIgnored) {
    const std::vector<uint8_t> plain = Hex("0123456789abcdef");
    EXPECT_EQ(OurDes(Hex("0123456789abcdef"), plain, DES_DIR_ENCRYPT), OurDes(Hex("0022446688aaccee"), plain, DES_DIR_ENCRYPT));
}

TEST(Des, MatchesOpenSSLOnRandomKeysAndBlocks) {
    OpenSSLDes peer;
    if (!peer.Ready()) GTEST_SKIP() << "OpenSSL legacy provider not available";
    std::mt19937 rng(7);
    for (int i = 0; i < 64; ++i) {
        std::vector<uint8_t> key(16), block(32);
        for (auto &b : key) b = static_cast<uint8_t>(rng());
        for (auto &b : block) b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> single(block.begin(), block.begin() + 8);
        std::vector<uint8_t> expect(single);
        peer.Block(key.data(), expect.data(), true);
        ASSERT_EQ(OurDes({key.begin(), key.begin() + 8}, single, DES_DIR_ENCRYPT), expect);

        std::vector<uint8_t> input(block), out(32);
        int iOutLen = 0;
        ASSERT_EQ(DES3_Encrypt(input.data(), 32, 32, out.data(), 32, &iOutLen, key.data()), 0);
        EXPECT_EQ(out, peer.Construction(key, block));
    }
}

TEST(Des3, EncryptThenDecryptBlockRestoresPaddedInput) {
    const std::vector<uint8_t> key = Hex("00112233445566778899aabbccddeeff");
    const std::string text = "seventeen bytes!!";
    std::vector<uint8_t> input(32, 0xee), out(32);
    std::memcpy(input.data(), text.data(), text.size());
    int iOutLen = 0;
    ASSERT_EQ(DES3_Encrypt(input.data(), 32, 17, out.data(), 32, &iOutLen, key.data()), 0);
    EXPECT_EQ(iOutLen, 32);
    for (int i = 17; i < 32; ++i) EXPECT_EQ(input[i], 0) << i;  // zeroed in the caller's buffer

    DES3_CONTEXT ctx;
    DES3_InitContext(&ctx);
    DES3_SetKey(&ctx, key.data(), DES_DIR_DECRYPT);
    std::vector<uint8_t> plain(32);
    DES3_TransformBlock(&ctx, out.data(), plain.data());
    DES3_TransformBlock(&ctx, out.data() + 16, plain.data() + 16);
    EXPECT_EQ(plain, input);
}

TEST(Des3, HalvesDependOnEachOther) {
    // Changing only the second half changes the first half's cipher text too.
    const std::vector<uint8_t> key = Hex("0123456789abcdeffedcba9876543210");
    std::vector<uint8_t> a(16, 0), b(16, 0), outA(16), outB(16);
    b[15] = 1;
    int iLen = 0;
    ASSERT_EQ(DES3_Encrypt(a.data(), 16, 16, outA.data(), 16, &iLen, key.data()), 0);
    ASSERT_EQ(DES3_Encrypt(b.data(), 16, 16, outB.data(), 16, &iLen, key.data()), 0);
    EXPECT_NE(std::vector<uint8_t>(outA.begin(), outA.begin() + 8), std::vector<uint8_t>(outB.begin(), outB.begin() + 8));
}

TEST(Des3, PaddedLengthsAndCapacities) {
    const std::vector<uint8_t> key(16, 0x42);
    struct Case {
        int iInputLen, iInputBufSize, iOutputBufSize, iResult, iOutLen;
    } cases[] = {
        {0, 16, 16, 0, 16}, {16, 16, 16, 0, 16}, {17, 32, 32, 0, 32}, {17, 20, 32, -1, 0},
        {17, 32, 31, -1, 0}, {-1, 32, 32, -1, 0}, {0x7ffffff8, 32, 32, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.iInputLen);
        std::vector<uint8_t> input(64, 0xaa), out(64, 0x55);
        int iOutLen = 99;
        EXPECT_EQ(DES3_Encrypt(input.data(), c.iInputBufSize, c.iInputLen, out.data(), c.iOutputBufSize, &iOutLen,
                               key.data()),
                  c.iResult);
        EXPECT_EQ(iOutLen, c.iOutLen);
        if (c.iResult != 0) {
            EXPECT_EQ(out, std::vector<uint8_t>(64, 0x55));
        }
    }
}

TEST(Des3, NullKeyOrBuffersAreRefusedUntouched) {
    std::vector<uint8_t> input(32, 0xaa), out(32, 0x55);
    int iOutLen = 99;
    EXPECT_EQ(DES3_Encrypt(input.data(), 32, 17, out.data(), 32, &iOutLen, nullptr), -1);
    EXPECT_EQ(iOutLen, 99);
    EXPECT_EQ(input, std::vector<uint8_t>(32, 0xaa));
    EXPECT_EQ(out, std::vector<uint8_t>(32, 0x55));
    const uint8_t key[16] = {};
    EXPECT_EQ(DES3_Encrypt(nullptr, 32, 17, out.data(), 32, &iOutLen, key), -1);
    EXPECT_EQ(DES3_EncryptStored(input.data(), 32, 17, nullptr, 32, &iOutLen), -1);
    EXPECT_EQ(DES3_EncryptBuiltIn(input.data(), 32, 17, out.data(), 32, nullptr), -1);
    EXPECT_EQ(DES3_DecryptBuiltIn(nullptr, 16, out.data(), 32, &iOutLen), -1);
}

TEST(Des3, ModuleKeysAreFixedAndDistinct) {
    std::vector<uint8_t> in1(16, 0), in2(16, 0), in3(16, 0), out1(16), out2(16), out3(16);
    int iLen = 0;
    ASSERT_EQ(DES3_EncryptStored(in1.data(), 16, 16, out1.data(), 16, &iLen), 0);
    ASSERT_EQ(DES3_EncryptBuiltIn(in2.data(), 16, 16, out2.data(), 16, &iLen), 0);
    EXPECT_NE(out1, out2);
    ASSERT_EQ(DES3_EncryptStored(in3.data(), 16, 0, out3.data(), 16, &iLen), 0);
    EXPECT_EQ(out1, out3);  // the same key every call
}

TEST(Des3, DecryptBuiltInLengthRules) {
    std::vector<uint8_t> in(48, 0x11), out(48);
    int iOutLen = 7;
    EXPECT_EQ(DES3_DecryptBuiltIn(in.data(), 24, out.data(), 48, &iOutLen), -1);
    EXPECT_EQ(DES3_DecryptBuiltIn(in.data(), 32, out.data(), 31, &iOutLen), -1);
    EXPECT_EQ(DES3_DecryptBuiltIn(in.data(), -16, out.data(), 48, &iOutLen), -1);
    EXPECT_EQ(iOutLen, 7);
    EXPECT_EQ(DES3_DecryptBuiltIn(in.data(), 0, out.data(), 48, &iOutLen), 0);
    EXPECT_EQ(iOutLen, 0);
    EXPECT_EQ(DES3_DecryptBuiltIn(in.data(), 32, out.data(), 32, &iOutLen), 0);
    EXPECT_EQ(iOutLen, 32);
    EXPECT_EQ(in, std::vector<uint8_t>(48, 0x11));  // the input is not changed
}

}  // namespace
