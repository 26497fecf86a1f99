// The self-contained AES-128 ECB module against the published FIPS-197 and SP 800-38A vectors,
// and against OpenSSL's AES on the same blocks.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "crypto_test_util.h"
#include "morva/MorvaAes.h"

namespace {

std::vector<uint8_t> OpenSSLEcb(const std::vector<uint8_t> &key, const std::vector<uint8_t> &in, bool bEncrypt) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::vector<uint8_t> out(in.size() + 16);
    int iLen = 0, iFinal = 0;
    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr, bEncrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &iLen, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + iLen, &iFinal);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(iLen + iFinal));
    return out;
}

struct Vector {
    const char *pName;
    int iRounds;
    const char *pKey;
    const char *pPlain;
    const char *pCipher;
};

// The 4-round results follow from the FIPS-197 C.1 round listing (round[4].s_row xor
// round[4].k_sch), and from an independent implementation for the Appendix B key.
const Vector kVectors[] = {
    {"FIPS-197 C.1", 10, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"FIPS-197 B", 10, "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"SP 800-38A F.1.1", 10, "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"},
    {"empty input is one zero block", 10, "000102030405060708090a0b0c0d0e0f", "",
     "c6a13b37878f5b826f4f8162a1c8d879"},
    {"4 rounds, C.1 key", 4, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "6a9a894caa06dd37f05a3061a6fe9f3a"},
    {"4 rounds, B key", 4, "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "bde06dd52d43315755be0aec2d5bf307"},
};

TEST(AesEcb, PublishedVectorsEncryptAndDecrypt) {
    for (const Vector &v : kVectors) {
        SCOPED_TRACE(v.pName);
        const auto key = Hex(v.pKey), plain = Hex(v.pPlain), cipher = Hex(v.pCipher);
        std::vector<uint8_t> in(plain);
        in.resize(cipher.size());
        std::vector<uint8_t> out(cipher.size());
        int iOutLen = -1;
        ASSERT_EQ(0, AES_EcbEncrypt(in.data(), int(in.size()), int(plain.size()), out.data(), int(out.size()),
                                    &iOutLen, key.data(), v.iRounds));
        EXPECT_EQ(int(cipher.size()), iOutLen);
        EXPECT_EQ(cipher, out);
        EXPECT_EQ(cipher, in) << "the input buffer is the working buffer";

        std::vector<uint8_t> back(cipher.size());
        ASSERT_EQ(0, AES_EcbDecrypt(cipher.data(), int(cipher.size()), back.data(), int(back.size()), &iOutLen,
                                    key.data(), v.iRounds));
        std::vector<uint8_t> padded(plain);
        padded.resize(cipher.size());
        EXPECT_EQ(padded, back);
    }
}

TEST(AesEcb, EntryPointsSelectTheRoundCount) {
    const auto key = Hex("000102030405060708090a0b0c0d0e0f");
    auto in = Hex("00112233445566778899aabbccddeeff");
    uint8_t out[16];
    int iLen = 0;
    ASSERT_EQ(0, AES_EcbEncrypt128(in.data(), 16, 16, out, 16, &iLen, key.data()));
    EXPECT_EQ(Hex("69c4e0d86a7b0430d8cdb78070b4c55a"), std::vector<uint8_t>(out, out + 16));
    uint8_t back[16];
    ASSERT_EQ(0, AES_EcbDecrypt128(out, 16, back, 16, &iLen, key.data()));
    EXPECT_EQ(Hex("00112233445566778899aabbccddeeff"), std::vector<uint8_t>(back, back + 16));

    in = Hex("00112233445566778899aabbccddeeff");
    ASSERT_EQ(0, AES_EcbEncrypt4Rounds(in.data(), 16, 16, out, 16, &iLen, key.data()));
    EXPECT_EQ(Hex("6a9a894caa06dd37f05a3061a6fe9f3a"), std::vector<uint8_t>(out, out + 16));
    ASSERT_EQ(0, AES_EcbDecrypt4Rounds(out, 16, back, 16, &iLen, key.data()));
    EXPECT_EQ(Hex("00112233445566778899aabbccddeeff"), std::vector<uint8_t>(back, back + 16));
}

TEST(AesEcb, AgreesWithOpenSSLOnRandomData) {
    std::mt19937 rng(1234);
    for (int iCase = 0; iCase < 64; ++iCase) {
        std::vector<uint8_t> key(16), plain(1 + rng() % 200);
        for (auto &b : key) b = static_cast<uint8_t>(rng());
        for (auto &b : plain) b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> padded(plain);
        padded.resize((plain.size() + 15) / 16 * 16);

        std::vector<uint8_t> in(padded.size()), out(padded.size());
        std::copy(plain.begin(), plain.end(), in.begin());
        int iLen = 0;
        ASSERT_EQ(0, AES_EcbEncrypt128(in.data(), int(in.size()), int(plain.size()), out.data(), int(out.size()),
                                       &iLen, key.data()));
        ASSERT_EQ(OpenSSLEcb(key, padded, true), out);

        std::vector<uint8_t> back(out.size());
        ASSERT_EQ(0, AES_EcbDecrypt128(out.data(), int(out.size()), back.data(), int(back.size()), &iLen, key.data()));
        ASSERT_EQ(padded, back);
        ASSERT_EQ(OpenSSLEcb(key, out, false), back);
    }
}

TEST(AesEcb, PaddingAndBufferSizes) {
    const auto key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    std::vector<uint8_t> in(32, 0xAA), out(32, 0);
    int iLen = 0;
    // 17 bytes become two blocks; bytes 17..31 of the input are zeroed first.
    ASSERT_EQ(0, AES_EcbEncrypt128(in.data(), 32, 17, out.data(), 32, &iLen, key.data()));
    EXPECT_EQ(32, iLen);
    std::vector<uint8_t> expectPlain(32, 0);
    std::fill(expectPlain.begin(), expectPlain.begin() + 17, 0xAA);
    EXPECT_EQ(OpenSSLEcb(key, expectPlain, true), out);

    // A buffer that cannot hold the padded length is refused and the output length stays 0.
    std::vector<uint8_t> small(20, 0xAA);
    iLen = 99;
    EXPECT_EQ(-1, AES_EcbEncrypt128(small.data(), 20, 17, out.data(), 32, &iLen, key.data()));
    EXPECT_EQ(0, iLen);
    EXPECT_EQ(std::vector<uint8_t>(20, 0xAA), small) << "nothing written on refusal";
    EXPECT_EQ(-1, AES_EcbEncrypt128(in.data(), 32, 17, out.data(), 31, &iLen, key.data()));
    EXPECT_EQ(-1, AES_EcbEncrypt128(in.data(), 32, -1, out.data(), 32, &iLen, key.data()));

    uint8_t back[32];
    EXPECT_EQ(-1, AES_EcbDecrypt128(out.data(), 15, back, 32, &iLen, key.data()));
    EXPECT_EQ(-1, AES_EcbDecrypt128(out.data(), 32, back, 31, &iLen, key.data()));
    iLen = 7;
    EXPECT_EQ(0, AES_EcbDecrypt128(out.data(), 0, back, 32, &iLen, key.data()));
    EXPECT_EQ(0, iLen);

    EXPECT_EQ(-1, AES_EcbEncrypt128(nullptr, 32, 16, out.data(), 32, &iLen, key.data()));
    EXPECT_EQ(-1, AES_EcbEncrypt128(in.data(), 32, 16, nullptr, 32, &iLen, key.data()));
    EXPECT_EQ(-1, AES_EcbEncrypt128(in.data(), 32, 16, out.data(), 32, nullptr, key.data()));
    EXPECT_EQ(-1, AES_EcbDecrypt128(nullptr, 16, back, 32, &iLen, key.data()));
    EXPECT_EQ(-1, AES_EcbEncrypt(in.data(), 32, 16, out.data(), 32, &iLen, key.data(), 12));
}

TEST(AesEcb, NullKeySelectsTheSameDefaultBothWays) {
    std::vector<uint8_t> in(16, 0), out(16), back(16);
    std::copy_n("secret!", 7, in.begin());
    const std::vector<uint8_t> padded(in);
    int iLen = 0;
    ASSERT_EQ(0, AES_EcbEncrypt128(in.data(), 16, 7, out.data(), 16, &iLen, nullptr));
    EXPECT_NE(padded, out);
    ASSERT_EQ(0, AES_EcbDecrypt128(out.data(), 16, back.data(), 16, &iLen, nullptr));
    EXPECT_EQ(padded, back);
}

}  // namespace
