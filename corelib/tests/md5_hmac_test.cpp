// The module's MD5 against RFC 1321's test suite and OpenSSL, and its HMAC-MD5 against RFC 2202.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "crypto_test_util.h"
#include "morva/MorvaMd5.h"

namespace {

std::string Md5Hex(const std::string &text) {
    MD5_CONTEXT ctx;
    Md5Init(&ctx);
    Md5Update(&ctx, reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint32_t>(text.size()));
    uint8_t digest[MD5_DIGEST_SIZE];
    Md5Final(digest, &ctx);
    return ToHex(digest, sizeof(digest));
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        std::string text;
        const char *pDigest;
    } kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(Md5Hex(c.text), c.pDigest) << '"' << c.text << '"';
    }
}

TEST(Md5, SplitUpdatesMatchOpenSSLAcrossBlockBoundaries) {
    std::mt19937 rng(3);
    for (size_t uLen : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::vector<uint8_t> data(uLen);
        for (auto &b : data) b = static_cast<uint8_t>(rng());
        uint8_t expect[16];
        unsigned int uOut = 0;
        EVP_Digest(data.data(), data.size(), expect, &uOut, EVP_md5(), nullptr);

        MD5_CONTEXT ctx;
        Md5Init(&ctx);
        for (size_t i = 0; i < uLen;) {
            const size_t uStep = std::min<size_t>(uLen - i, 1 + rng() % 70);
            Md5Update(&ctx, data.data() + i, static_cast<uint32_t>(uStep));
            i += uStep;
        }
        uint8_t digest[16];
        Md5Final(digest, &ctx);
        EXPECT_EQ(ToHex(digest, 16), ToHex(expect, 16)) << uLen;
        // The finished context is wiped.
        EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&ctx), reinterpret_cast<uint8_t *>(&ctx + 1)),
                  std::vector<uint8_t>(sizeof(ctx), 0));
    }
}

struct HmacCase {
    std::vector<uint8_t> key;
    std::string data;
    const char *pDigest;
};

std::vector<HmacCase> Rfc2202Cases() {
    std::vector<uint8_t> key4;
    for (uint8_t b = 1; b <= 0x19; ++b) key4.push_back(b);
    return {
        {std::vector<uint8_t>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::vector<uint8_t>(16, 0xaa), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key4, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::vector<uint8_t>(16, 0x0c), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
}

std::string Hmac(const HmacCase &c, bool bExplicitPads, uint32_t dwInner = 0x36, uint32_t dwOuter = 0x5c) {
    uint8_t digest[16];
    const auto *pData = reinterpret_cast<const uint8_t *>(c.data.data());
    const auto dwDataLen = static_cast<uint32_t>(c.data.size());
    const auto dwKeyLen = static_cast<uint32_t>(c.key.size());
    const int iResult = bExplicitPads ? HMAC_MD5Pads(pData, dwDataLen, c.key.data(), dwKeyLen, digest, dwInner, dwOuter)
                                      : HMAC_MD5(pData, dwDataLen, c.key.data(), dwKeyLen, digest);
    EXPECT_EQ(iResult, 0);
    return ToHex(digest, 16);
}

TEST(HmacMd5, Rfc2202CasesWithDefaultAndExplicitPads) {
    for (const HmacCase &c : Rfc2202Cases()) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(Hmac(c, false), c.pDigest);
        EXPECT_EQ(Hmac(c, true), c.pDigest);
        // Only the low byte of each pad argument counts.
        EXPECT_EQ(Hmac(c, true, 0x1236, 0xff5c), c.pDigest);
    }
}

TEST(HmacMd5, ChangedPadsApplyToLaterCallsUntilRestored) {
    const HmacCase c = Rfc2202Cases()[1];
    HMAC_SetPads(0x1a5, 0x3c);  // low bytes 0xa5 and 0x3c
    const std::string changed = Hmac(c, false);
    EXPECT_EQ(changed, Hmac(c, true, 0xa5, 0x3c));
    EXPECT_NE(changed, c.pDigest);
    HMAC_SetPads(HMAC_DEFAULT_INNER_PAD, HMAC_DEFAULT_OUTER_PAD);
    EXPECT_EQ(Hmac(c, false), c.pDigest);
}

TEST(HmacMd5, NullPointersWithLengthsAreRefused) {
    uint8_t digest[16];
    const uint8_t key[4] = {1, 2, 3, 4};
    EXPECT_EQ(HMAC_MD5(nullptr, 5, key, 4, digest), -1);
    EXPECT_EQ(HMAC_MD5(key, 4, nullptr, 4, digest), -1);
    EXPECT_EQ(HMAC_MD5(key, 4, key, 4, nullptr), -1);
    EXPECT_EQ(HMAC_MD5(nullptr, 0, nullptr, 0, digest), 0);
    EXPECT_EQ(ToHex(digest, 16), "74e6f7298a9c2d168935f58c001bad88");  // HMAC-MD5 with empty key and data
}

}  // namespace
