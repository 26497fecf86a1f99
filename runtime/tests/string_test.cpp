#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <strings.h>

#include <gtest/gtest.h>

#include "yar/yar_string.h"

namespace {

int Sign(int v) {
    return (v > 0) - (v < 0);
}

// Random short texts over a small alphabet, so that prefixes, case variants and matches occur.
std::string RandomText(std::mt19937 &rng, size_t maxLen) {
    static const char alphabet[] = "aAbB zZ\xe9\x7f-09";
    std::uniform_int_distribution<size_t> len(0, maxLen), pick(0, sizeof alphabet - 2);
    std::string s(len(rng), ' ');
    for (char &c : s)
        c = alphabet[pick(rng)];
    return s;
}

}  // namespace

TEST(Numbers, Atoi32ClampsAndStopsAtTheFirstNonDigit) {
    struct Case { const char *text; int32_t expected; };
    const Case cases[] = {
        {"  -12ab", -12}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"abc", 0},
        {"", 0}, {"+7", 7}, {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"-2147483649", INT32_MIN}, {"\t\n 42", 42}, {"- 5", 0},
        {"--5", 0}, {"0000000000000000000012", 12},
    };
    for (const Case &c : cases)
        EXPECT_EQ(YAR_Atoi32(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(YAR_Atoi32(nullptr), 0);
}

TEST(Numbers, Atoi64GivesMinusOneOnOverflowWhateverTheSign) {
    struct Case { const char *text; int64_t expected; };
    const Case cases[] = {
        {"99999999999999999999", -1}, {"-99999999999999999999", -1}, {"12a", 12},
        {"9223372036854775807", INT64_MAX}, {"9223372036854775808", -1},
        {"-9223372036854775808", INT64_MIN}, {"-9223372036854775809", -1}, {" -5000000000", -5000000000},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(YAR_Atoi64(c.text), c.expected) << c.text;
        EXPECT_EQ(YAR_Atoi64Ex(c.text), c.expected) << c.text;
    }
}

TEST(Numbers, ConversionsAgreeWithTheCLibraryInRange) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int64_t> wide(-50000000000, 50000000000);
    for (int i = 0; i < 20000; ++i) {
        const int64_t v = i < 10000 ? wide(rng) : static_cast<int32_t>(rng());
        const std::string text = "  " + std::to_string(v) + (i % 3 ? "x1" : "");
        long long libc = std::strtoll(text.c_str(), nullptr, 10);
        EXPECT_EQ(YAR_Atoi64(text.c_str()), libc) << text;
        const int32_t clamped = libc > INT32_MAX ? INT32_MAX : libc < INT32_MIN ? INT32_MIN
                                                                                : static_cast<int32_t>(libc);
        EXPECT_EQ(YAR_Atoi32(text.c_str()), clamped) << text;
        if (v == static_cast<int32_t>(v)) {
            EXPECT_EQ(YAR_Atoi(text.c_str()), std::atoi(text.c_str()));
        }
    }
}

TEST(Numbers, ItoaInEveryRadix) {
    char out[40];
    struct Case { int32_t value; int32_t radix; const char *expected; };
    const Case cases[] = {
        {-255, 10, "-255"}, {255, 16, "ff"}, {0, 2, "0"}, {35, 36, "z"}, {INT32_MIN, 10, "-2147483648"},
        {-1, 16, "ffffffff"}, {-1, 2, "11111111111111111111111111111111"}, {8, 8, "10"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(YAR_Itoa(out, c.value, c.radix), out);
        EXPECT_STREQ(out, c.expected) << c.value << " radix " << c.radix;
    }
    EXPECT_EQ(YAR_Itoa(out, 5, 1), nullptr);
    EXPECT_EQ(YAR_Itoa(out, 5, 37), nullptr);
    EXPECT_EQ(YAR_Itoa(nullptr, 5, 10), nullptr);

    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        const int32_t v = static_cast<int32_t>(rng());
        char expected[40];
        YAR_Itoa2(out, v, 10);
        std::snprintf(expected, sizeof expected, "%d", v);
        EXPECT_STREQ(out, expected);
        YAR_ItoaCrt(out, v, 16);
        std::snprintf(expected, sizeof expected, "%x", static_cast<uint32_t>(v));
        EXPECT_STREQ(out, expected);
        YAR_Itoa(out, v, 8);
        std::snprintf(expected, sizeof expected, "%o", static_cast<uint32_t>(v));
        EXPECT_STREQ(out, expected);
    }
}

TEST(Strings, StrncpyZeroFillsOrLeavesNoTerminator) {
    char buf[12];
    std::memset(buf, 'X', sizeof buf);
    YAR_Strncpy(buf, "abc", 8);
    EXPECT_EQ(std::string(buf, 9), std::string("abc\0\0\0\0\0X", 9));
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(YAR_Strncpy(buf, "0123456789", 8), buf);
    EXPECT_EQ(std::string(buf, 9), "01234567X");
    EXPECT_EQ(YAR_Strncpy(buf, nullptr, 8), buf);
}

TEST(Strings, CopiesAndDuplicates) {
    char buf[16] = "zzzz";
    EXPECT_STREQ(YAR_Strcpy(buf, "hi"), "hi");
    EXPECT_STREQ(YAR_Strcat(buf, " there"), "hi there");
    EXPECT_STREQ(YAR_StrcpyCrt(buf, "x"), "x");
    EXPECT_EQ(YAR_Strlen("four"), 4u);
    char *dup = YAR_Strdup("copy");
    char *ndup = YAR_Strndup("copy", 2);
    EXPECT_STREQ(dup, "copy");
    EXPECT_STREQ(ndup, "co");
    std::free(dup);
    std::free(ndup);
    EXPECT_EQ(YAR_Strdup(nullptr), nullptr);
}

TEST(Strings, ComparisonsAgreeWithTheCLibrary) {
    std::mt19937 rng(11);
    for (int i = 0; i < 20000; ++i) {
        const std::string a = RandomText(rng, 6), b = (i % 4) ? RandomText(rng, 6) : a;
        const size_t n = rng() % 8;
        EXPECT_EQ(Sign(YAR_Strcmp(a.c_str(), b.c_str())), Sign(std::strcmp(a.c_str(), b.c_str())));
        EXPECT_EQ(Sign(YAR_Strncmp(a.c_str(), b.c_str(), n)), Sign(std::strncmp(a.c_str(), b.c_str(), n)));
        EXPECT_EQ(YAR_StrcmpCrt(a.c_str(), b.c_str()), Sign(std::strcmp(a.c_str(), b.c_str())));
        // glibc folds to lower case; only equality is comparable with an upper-case fold.
        EXPECT_EQ(YAR_Strcasecmp(a.c_str(), b.c_str()) == 0, strcasecmp(a.c_str(), b.c_str()) == 0);
        EXPECT_EQ(YAR_Strncasecmp(a.c_str(), b.c_str(), n) == 0,
                  strncasecmp(a.c_str(), b.c_str(), n) == 0);
    }
    // Bytes compare as unsigned, and the fold is upper case: '_' (0x5F) sorts after 'A'..'Z'.
    EXPECT_GT(YAR_Strcmp("\xe9", "a"), 0);
    EXPECT_LT(YAR_Strcasecmp("a", "_"), 0);
    EXPECT_EQ(YAR_Strcasecmp("ABC", "abc"), 0);
    EXPECT_LT(YAR_Strcmp(nullptr, "a"), 0);
    EXPECT_EQ(YAR_Strcmp(nullptr, nullptr), 0);
}

TEST(Strings, SearchesAgreeWithTheCLibrary) {
    std::mt19937 rng(5);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = RandomText(rng, 12), pattern = RandomText(rng, 3);
        const char *t = text.c_str(), *p = pattern.c_str();
        EXPECT_EQ(YAR_Strcasestr(t, p), strcasestr(t, p)) << text << " / " << pattern;
        EXPECT_EQ(YAR_Strstr(t, p), std::strstr(t, p));
        EXPECT_EQ(YAR_StrstrN(t, p, pattern.size()),
                  static_cast<const char *>(memmem(t, text.size(), p, pattern.size())));
        const int c = pattern.empty() ? 'a' : pattern[0];
        EXPECT_EQ(YAR_Strchr(t, c), std::strchr(t, c));
        EXPECT_EQ(YAR_Strrchr(t, c), std::strrchr(t, c));
        const size_t n = rng() % 14;
        const char *within = static_cast<const char *>(std::memchr(t, c, std::min(n, text.size())));
        EXPECT_EQ(YAR_Strnchr(t, c, n), within);
    }
    const char *hello = "Hello World";
    EXPECT_EQ(YAR_Strcasestr(hello, "WORLD"), hello + 6);
    EXPECT_EQ(YAR_Strcasestr(hello, ""), hello);
    EXPECT_EQ(YAR_Strchr(hello, 0), nullptr);
    EXPECT_EQ(YAR_StrstrN("ab", "abc", 3), nullptr);
    EXPECT_EQ(YAR_StrstrN(hello, "World!!", 5), hello + 6);
}
