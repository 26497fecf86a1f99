// The memory of answers already taken into the device list: only the very same bytes count as a
// copy; a datagram that differs anywhere, also in its last byte or its length, is new.
#include <string>

#include <gtest/gtest.h>

#include "base/AnswerCopies.h"
#include "utils/SipHash.h"

using namespace ZEVA;

namespace {

TEST(SipHash, ReferenceVector) {
    // The reference vector of the SipHash paper: key 00..0f, message 00..0e.
    SIPHASH_KEY key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
    uint8_t message[15];
    for (int i = 0; i < 15; ++i)
        message[i] = uint8_t(i);
    EXPECT_EQ(0xa129ca6149be45e5ULL, SipHash24(key, message, sizeof message));
    EXPECT_EQ(0x726fdb47dd0e0e31ULL, SipHash24(key, message, 0));
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

// Two memories draw their own keys: the same bytes give other digests.
TEST(AnswerCopies, EachMemoryHasItsOwnKey) {
    static CAnswerCopies a, b;
    const char text[] = "<Probe/>";
    EXPECT_NE(a.Digest(text, sizeof text).hash, b.Digest(text, sizeof text).hash);
}

}  // namespace
