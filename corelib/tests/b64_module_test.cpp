// The module's Base64 entries: RFC 4648 vectors, the 80-character line structure, and bounded,
// strict decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morva/MorvaB64.h"

namespace {

std::string Encode(const std::string &in, int iSize = 512) {
    std::vector<char> out(static_cast<size_t>(iSize));
    const int n = B64_Encode(reinterpret_cast<const uint8_t *>(in.data()), static_cast<int>(in.size()), out.data(),
                             iSize);
    return n < 0 ? "<fail>" : std::string(out.data(), static_cast<size_t>(n));
}

TEST(B64, Rfc4648VectorsRoundTrip) {
    const struct {
        const char *pPlain;
        const char *pText;
    } kCases[] = {{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                  {"foobar", "Zm9vYmFy"}};
    for (const auto &c : kCases) {
        EXPECT_EQ(Encode(c.pPlain), c.pText);
        uint8_t out[16];
        const std::string text = c.pText;
        ASSERT_EQ(B64_Decode(text.data(), out, static_cast<int>(text.size()), sizeof(out)),
                  static_cast<int>(strlen(c.pPlain)));
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), c.pPlain);  // zero byte after the bytes
    }
}

TEST(B64, LinesOfEightyWithCrLfAfterEachFullLine) {
    const std::string text61 = Encode(std::string(61, 'x'));
    ASSERT_EQ(text61.size(), 86u);
    EXPECT_EQ(text61.substr(80, 2), "\r\n");
    EXPECT_EQ(text61.substr(84), "==");
    EXPECT_EQ(Encode(std::string(60, 'x')).size(), 82u);  // CR LF also after a last full line
    std::string in(200, 0);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<char>(i * 7);
    const std::string text = Encode(in);
    uint8_t out[256];
    ASSERT_EQ(B64_Decode(text.data(), out, static_cast<int>(text.size()), sizeof(out)), 200);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 200), in);
}

TEST(B64, RefusalsOfBadInputAndSmallOutputs) {
    uint8_t out[16];
    const struct {
        const char *pText;
        int iOutSize;
    } kBad[] = {
        {"Zm9", 16},       // truncated group
        {"Zm9v!mFy", 16},  // outside the alphabet
        {"Zg==Zm8=", 16},  // data after padding
        {"Z===", 16},      // padding too early
        {"Zm9vYmFy", 6},   // no room for the zero byte
        {"\xc3\xa9Zg", 16},
    };
    for (const auto &c : kBad) {
        EXPECT_EQ(B64_Decode(c.pText, out, static_cast<int>(strlen(c.pText)), c.iOutSize), -1) << c.pText;
    }
    EXPECT_EQ(B64_Decode(nullptr, out, 4, 16), -1);
    EXPECT_EQ(B64_Decode("Zg==", out, 0, 16), -1);
    EXPECT_EQ(Encode(""), "<fail>");
    EXPECT_EQ(Encode("foobar", 7), "<fail>");
    EXPECT_EQ(Encode(std::string(60, 'x'), 81), "<fail>");
    EXPECT_EQ(Encode(std::string(60, 'x'), 82).size(), 82u);
}

}  // namespace
