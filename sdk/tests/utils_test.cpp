// The text forms of the common helpers, with inet_pton as the outside judge of address texts.
#include <arpa/inet.h>

#include <cstring>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "utils/Utils.h"

using namespace ZEVA;

namespace {

TEST(Utils, MacTextBothWays) {
    char text[18];
    const uint8_t mac[6] = {0x00, 0x0A, 0xFF, 0x10, 0x01, 0xB0};
    MacToString(text, mac);
    EXPECT_STREQ("00-0a-ff-10-01-b0", text);

    struct Case {
        const char *text;
        uint8_t bytes[6];
    } cases[] = {
        {"00-1A-2B-3C-4D-5E", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {"001a2b3c4d5e", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {"00:1a:2b:3c:4d:5e", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {"12-34-5", {0x12, 0x34, 0x50, 0xEE, 0xEE, 0xEE}},  // only completed pairs count in full
        {"00-1a-2b-3c-4d-5e-6f-70", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {"0123456789abcdef0123456789abcdef", {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},  // 32 characters
    };
    for (const Case &c : cases) {
        uint8_t out[6];
        std::memset(out, 0xEE, sizeof out);
        StringToMac(c.text, out);
        if (std::strcmp(c.text, "12-34-5") == 0)
            out[2] &= 0xF0;  // the half byte's low nibble is not part of the contract
        EXPECT_EQ(0, std::memcmp(c.bytes, out, 6)) << c.text;
    }
}

TEST(Utils, IPv4TextsAgainstInetPton) {
    const char *texts[] = {"1.2.3.4", "0.0.0.0", "255.255.255.255", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3",
                           "", ".1.2.3", "1.2.3.4.", "1.2.3.-4", "a.b.c.d", "1.2.3.4 ", " 1.2.3.4", "1.2.3.999"};
    for (const char *t : texts) {
        uint8_t ours[4] = {}, theirs[4] = {};
        int expect = inet_pton(AF_INET, t, theirs);
        EXPECT_EQ(expect, StringToIPv4(t, ours)) << t;
        if (expect == 1) {
            EXPECT_EQ(0, std::memcmp(ours, theirs, 4)) << t;
        }
    }
    // Leading zeros are read as decimal digits, where inet_pton refuses them.
    uint8_t addr[4];
    ASSERT_EQ(1, StringToIPv4("001.002.003.004", addr));
    EXPECT_EQ(0, std::memcmp(addr, "\x01\x02\x03\x04", 4));
    EXPECT_EQ(-1, StringToIPv4(nullptr, addr));
}

TEST(Utils, IPv6TextsAgainstInetPton) {
    // RFC 4291 section 2.2 and RFC 5952 forms, and texts both must refuse.
    const char *texts[] = {"::1", "::", "1::", "::ffff:1.2.3.4", "2001:db8::1", "2001:DB8:0:0:8:800:200C:417A",
                           "FF01::101", "0:0:0:0:0:0:13.1.68.3", "::13.1.68.3", "2001:db8:0:0:1:0:0:1",
                           "2001:0db8::0001", "2001:db8::aaaa:0:0:1", "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7::",
                           "::2:3:4:5:6:7:8", ":1", "1:", "1::2::3", ":::", "1:2:3:4:5:6:7:8:9", "12345::",
                           "1:2:3:4:5:6:7:8::", "g::1", "::1.2.3", "1.2.3.4", "::1.2.3.4:5", "", "1:2:3:4:5:6:1.2.3.4"};
    for (const char *t : texts) {
        uint8_t ours[16] = {}, theirs[16] = {};
        int expect = inet_pton(AF_INET6, t, theirs);
        EXPECT_EQ(expect, StringToIPv6(t, ours)) << t;
        if (expect == 1) {
            EXPECT_EQ(0, std::memcmp(ours, theirs, 16)) << t;
        }
    }
}

TEST(Utils, UuidTextsAreFreshAndUpperCase) {
    std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        char uuid[40];
        ASSERT_EQ(0, CreateUuidString(uuid, sizeof uuid));
        EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(100u, seen.size());
    char small[36];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(-1, CreateUuidString(small, sizeof small));
    EXPECT_EQ('x', small[0]);
    EXPECT_EQ(-1, CreateUuidString(nullptr, 40));
}

TEST(Utils, LowerCopyAndDecimalText) {
    char out[16] = {};
    EXPECT_EQ(0, ToLowerCopy("AbC-09Z", out));
    EXPECT_STREQ("abc-09z", out);
    EXPECT_EQ(-1, ToLowerCopy(nullptr, out));

    const uint8_t data[] = {0, 7, 255};
    char text[13];
    FormatDecData(data, 3, text, sizeof text);
    EXPECT_STREQ("000 007 255 ", text);
    FormatDecData(data, 3, text, 9);  // room for two bytes and the terminator
    EXPECT_STREQ("000 007 ", text);
}

}  // namespace

#include "log_capture.h"

namespace {

// Dumps longer than their line are cut, and the line says how much it shows.
TEST(UtilsLog, DumpsSayWhenTheyAreCut) {
    sdktest::ScratchDir dir;
    ASSERT_EQ(1, Morva_Init());
    ASSERT_EQ(1, Morva_SetLogFile(3, dir.Path().c_str(), 0));
    {
        sdktest::LogCapture log;
        const uint8_t small[] = {0x00, 0xAB, 0x10};
        PrintHexData("hex", small, 3);
        PrintDecData("dec", small, 3);
        EXPECT_TRUE(log.WaitFor("hex [ 00ab10  ]"));
        EXPECT_TRUE(log.WaitFor("dec [ 000 171 016   ]"));
        std::string big(5000, '\x5a');
        PrintHexData("bighex", reinterpret_cast<const uint8_t *>(big.data()), 5000);
        PrintDecData("bigdec", reinterpret_cast<const uint8_t *>(big.data()), 5000);
        EXPECT_TRUE(log.WaitFor("bighex [cut to "));
        EXPECT_TRUE(log.WaitFor("of 5000 bytes] [ 5a5a"));
        EXPECT_TRUE(log.WaitFor("bigdec [cut to "));
    }
    Morva_Fini();
}

}  // namespace
