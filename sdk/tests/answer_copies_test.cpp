// The memory of answers already taken into the device list: only the very same bytes count as a
// copy; a datagram that differs anywhere, also in its last byte or its length, is new.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/AnswerCopies.h"
#include "utils/SipHash.h"

using namespace ZEVA;

namespace {

TEST(SipHash, AgreesWithPython) {
    // Python's own SipHash-1-3 (its bytes hash) with PYTHONHASHSEED=0, which zeroes the key:
    //   PYTHONHASHSEED=0 python3 -c "print(hex(hash(b'abc') % (1 << 64)))"
    const SIPHASH_KEY zero{0, 0};
    std::string ramp15, ramp64, long1001;
    for (int i = 0; i < 15; ++i)
        ramp15 += char(i);
    for (int i = 0; i < 64; ++i)
        ramp64 += char(i);
    for (int i = 0; i < 1001; ++i)
        long1001 += char(i * 7 % 256);
    const struct {
        std::string bytes;
        uint64_t hash;
    } table[] = {
        {"abc", 0xc03bc3a0042630f2ULL},       // b'abc'
        {ramp15, 0xf30eb725bb91c9eaULL},      // bytes(range(15)): a tail of 7
        {ramp64, 0x75e05fd5bbc870c6ULL},      // bytes(range(64)): whole words only
        {long1001, 0x54bf9e7c1c7e1ccaULL},    // bytes(i * 7 % 256 for i in range(1001))
    };
    for (const auto &row : table)
        EXPECT_EQ(row.hash, SipHash13(zero, row.bytes.data(), row.bytes.size())) << row.bytes.size();
}

TEST(AnswerCopies, OnlyTheSameBytesAreACopy) {
    static CAnswerCopies copies;  // large: not on the stack
    const std::string answer = "<Probe><Uuid>U</Uuid><Types>inquiry</Types><MAC>02-00-00-00-00-01</MAC></Probe>";
    std::string lastByte = answer, firstByte = answer, nul = answer;
    lastByte.back() = ' ';
    firstByte.front() = ' ';
    nul.back() = '\0';
    const struct {
        const char *what;
        std::string bytes;
        bool copy;
    } table[] = {
        {"the same bytes", answer, true},
        {"the last byte differs", lastByte, false},
        {"the first byte differs", firstByte, false},
        {"the last byte is a zero", nul, false},
        {"one byte longer", answer + " ", false},
        {"one byte shorter", answer.substr(0, answer.size() - 1), false},
        {"nothing", "", false},
    };
    copies.Remember(copies.Digest(answer.data(), uint32_t(answer.size())), 17, 5);
    for (const auto &row : table) {
        uint32_t slot = 0, version = 0;
        EXPECT_EQ(row.copy, copies.Find(copies.Digest(row.bytes.data(), uint32_t(row.bytes.size())), &slot, &version))
            << row.what;
        if (row.copy) {
            EXPECT_EQ(17u, slot);
            EXPECT_EQ(5u, version);
        }
    }
    // Remembered again, the newer slot and version count.
    copies.Remember(copies.Digest(answer.data(), uint32_t(answer.size())), 18, 9);
    uint32_t slot = 0, version = 0;
    ASSERT_TRUE(copies.Find(copies.Digest(answer.data(), uint32_t(answer.size())), &slot, &version));
    EXPECT_EQ(18u, slot);
    EXPECT_EQ(9u, version);
    copies.Clear();
    EXPECT_FALSE(copies.Find(copies.Digest(answer.data(), uint32_t(answer.size())), &slot, &version));
}

// Bytes in hand on one thread are a copy for every other until released; other bytes, or the
// same hash with another length, are not.
TEST(AnswerCopies, BytesInHandAreClaimedOnce) {
    static CAnswerCopies copies;
    const ANSWER_DIGEST a{0x1234, 100}, b{0x5678, 100}, aLonger{0x1234, 101};
    ASSERT_TRUE(copies.Claim(a));
    EXPECT_FALSE(copies.Claim(a));
    EXPECT_TRUE(copies.Claim(b));
    EXPECT_TRUE(copies.Claim(aLonger));
    copies.Release(a);
    EXPECT_TRUE(copies.Claim(a));
    for (const ANSWER_DIGEST &d : {a, b, aLonger})
        copies.Release(d);
    // Claims of more threads than are kept are not recorded, and their release frees nothing else.
    std::vector<ANSWER_DIGEST> many;
    for (uint64_t i = 0; i < 100; ++i) {
        many.push_back({i, 1});
        EXPECT_TRUE(copies.Claim(many.back()));
    }
    EXPECT_FALSE(copies.Claim(many.front()));
    for (const ANSWER_DIGEST &d : many)
        copies.Release(d);
    EXPECT_TRUE(copies.Claim(many.front()));
}

// Two memories draw their own keys: the same bytes give other digests.
TEST(AnswerCopies, EachMemoryHasItsOwnKey) {
    static CAnswerCopies a, b;
    const char text[] = "<Probe/>";
    EXPECT_NE(a.Digest(text, sizeof text).hash, b.Digest(text, sizeof text).hash);
}

}  // namespace
