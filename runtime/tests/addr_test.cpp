#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "internal/default_family.h"
#include "yar/yar_addr.h"

namespace {

// How our parser's verdict relates to glibc's for one text.
enum class Glibc { Same, OnlyOurs, OnlyGlibc };

struct PtonCase {
    const char *text;
    bool ok;
    Glibc glibc;
};

void CheckPton(int family, int sysFamily, const PtonCase &c) {
    SCOPED_TRACE(c.text);
    uint8_t ours[16], theirs[16];
    std::memset(ours, 0xAB, sizeof ours);
    bool oursOk = YAR_InetPton(family, c.text, ours) == 0;
    bool theirsOk = inet_pton(sysFamily, c.text, theirs) == 1;
    EXPECT_EQ(oursOk, c.ok);
    EXPECT_EQ(theirsOk, c.glibc == Glibc::Same ? c.ok : c.glibc == Glibc::OnlyGlibc);
    size_t n = sysFamily == AF_INET ? 4 : 16;
    if (oursOk && theirsOk) {
        EXPECT_EQ(0, std::memcmp(ours, theirs, n));
    }
    if (!oursOk) {
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(0xAB, ours[i]) << "output touched on failure";
    }
}

TEST(InetPton, DottedQuadAgainstGlibc) {
    const PtonCase cases[] = {
        {"1.2.3.4", true, Glibc::Same},
        {"0.0.0.0", true, Glibc::Same},
        {"255.255.255.255", true, Glibc::Same},
        {"192.168.001.010", true, Glibc::OnlyOurs},  // leading zeros read as decimal
        {"01.2.3.4", true, Glibc::OnlyOurs},
        {"0001.2.3.4", true, Glibc::OnlyOurs},
        {"1.2.3.4.", false, Glibc::Same},
        {"1..2.3", false, Glibc::Same},
        {"256.1.1.1", false, Glibc::Same},
        {"1.2.3", false, Glibc::Same},
        {"1.2.3.4.5", false, Glibc::Same},
        {".1.2.3", false, Glibc::Same},
        {"1.2.3.-4", false, Glibc::Same},
        {"1.2.3.4 ", false, Glibc::Same},
        {"0x1.2.3.4", false, Glibc::Same},
        {"", false, Glibc::Same},
    };
    for (const auto &c : cases)
        CheckPton(YAR_AF_INET, AF_INET, c);
}

TEST(InetPton, IPv6AgainstGlibc) {
    const PtonCase cases[] = {
        {"::", true, Glibc::Same},
        {"::1", true, Glibc::Same},
        {"1::", true, Glibc::Same},
        {"fe80::1:2", true, Glibc::Same},
        {"FE80::ABCD", true, Glibc::Same},
        {"2001:db8:0:0:1:0:0:1", true, Glibc::Same},
        {"1:2:3:4:5:6:7:8", true, Glibc::Same},
        {"::ffff:10.0.0.1", true, Glibc::Same},
        {"::10.0.0.1", true, Glibc::Same},
        {"1:2:3:4:5:6:1.2.3.4", true, Glibc::Same},
        {"::ffff:010.0.0.1", true, Glibc::OnlyOurs},     // leading zero in the dotted quad
        {" fe80 :: 1 ", true, Glibc::OnlyOurs},          // white space is ignored
        {"1::2:3:4:5:6:7:8", true, Glibc::OnlyOurs},     // "::" standing for no words
        {"1.2.3.4::", true, Glibc::OnlyOurs},            // dotted quad before the gap
        {"1::2::3", false, Glibc::Same},
        {"1:2:3:4:5:6:7:8:9:10:11", false, Glibc::Same}, // 11 groups
        {"1:2:3:4:5:6:7:8:9", false, Glibc::Same},
        {"1:2:3:4:5:6:7", false, Glibc::Same},
        {":1", false, Glibc::Same},
        {"1:", false, Glibc::Same},
        {":::", false, Glibc::Same},
        {"12345::", false, Glibc::Same},
        {"g::1", false, Glibc::Same},
        {"::ffff:-1.2.3.4", false, Glibc::Same},         // signs in the dotted quad
        {"::ffff:1.2.3.4x", false, Glibc::Same},         // trailing garbage in the dotted quad
        {"::ffff:256.0.0.1", false, Glibc::Same},
        {"1:2:3:4:5:6:7:1.2.3.4", false, Glibc::Same},   // dotted quad past word 6
        {"", false, Glibc::Same},
    };
    for (const auto &c : cases)
        CheckPton(YAR_AF_INET6, AF_INET6, c);
}

TEST(InetPton, FamiliesAndNulls) {
    uint8_t out[16];
    EXPECT_EQ(0, YAR_InetPton(YAR_AF_DUAL, "::1", out));
    EXPECT_EQ(1, out[15]);
    EXPECT_EQ(-1, YAR_InetPton(7, "1.2.3.4", out));
    EXPECT_EQ(-1, YAR_InetPton(YAR_AF_INET, nullptr, out));
    EXPECT_EQ(-1, YAR_InetPton(YAR_AF_INET, "1.2.3.4", nullptr));
    EXPECT_EQ(-1, YAR_InetPton(YAR_AF_INET6, std::string(300, ':').c_str(), out));

    EXPECT_EQ(0, YAR_InetPtonAuto("10.1.2.3", out));
    EXPECT_EQ(0, std::memcmp(out, "\x0a\x01\x02\x03", 4));
    EXPECT_EQ(0, YAR_InetPtonAuto("::2", out));
    EXPECT_EQ(2, out[15]);
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(-1, YAR_InetPtonAuto("1.2.3", out));
    EXPECT_EQ(0x5A, out[0]);
}

std::string Ntop6(const uint8_t *b) {
    char buf[64];
    const char *r = YAR_InetNtop(YAR_AF_INET6, b, buf, sizeof buf);
    return r ? r : "(null)";
}

TEST(InetNtop, IPv6Table) {
    struct Case { const char *in; const char *out; };
    const Case cases[] = {
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // first of two equal runs
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"1:0:0:0:0:0:0:0", "1::"},
        {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},         // a single zero word stays
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},              // the longer run wins
        {"::ffff:192.168.1.10", "::ffff:192.168.1.10"},
        {"::10.0.0.1", "::10.0.0.1"},
        {"::1:0", "::0.1.0.0"},
        {"fe80::ABCD:0", "fe80::abcd:0"},
    };
    for (const auto &c : cases) {
        uint8_t b[16];
        ASSERT_EQ(1, inet_pton(AF_INET6, c.in, b)) << c.in;
        EXPECT_EQ(c.out, Ntop6(b)) << c.in;
    }
}

// Random addresses rich in zero words, compared with glibc. glibc also writes ::0.0.0.N for a run
// of seven zero words; this runtime writes ::N there.
TEST(InetNtop, IPv6MatchesGlibc) {
    std::mt19937 rng(12345);
    for (int n = 0; n < 20000; ++n) {
        uint8_t b[16];
        uint16_t words[8];
        for (auto &w : words) {
            unsigned pick = rng() % 8;
            w = pick < 4 ? 0 : pick == 4 ? 0xffff : uint16_t(rng());
        }
        for (int i = 0; i < 8; ++i) {
            b[2 * i] = uint8_t(words[i] >> 8);
            b[2 * i + 1] = uint8_t(words[i]);
        }
        char theirs[INET6_ADDRSTRLEN];
        ASSERT_NE(nullptr, inet_ntop(AF_INET6, b, theirs, sizeof theirs));
        bool sevenZeros = std::all_of(words, words + 7, [](uint16_t w) { return w == 0; }) &&
                          words[7] > 1;
        if (sevenZeros) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "::%x", words[7]);
            EXPECT_EQ(expected, Ntop6(b));
        } else {
            ASSERT_EQ(theirs, Ntop6(b));
        }
        uint8_t back[16];
        ASSERT_EQ(0, YAR_InetPton(YAR_AF_INET6, Ntop6(b).c_str(), back)) << Ntop6(b);
        ASSERT_EQ(0, std::memcmp(b, back, 16));
    }
}

TEST(InetNtop, BufferBoundsAndArguments) {
    const uint8_t v4[4] = {192, 168, 1, 2};
    char buf[32];
    EXPECT_STREQ("192.168.1.2", YAR_InetNtop(YAR_AF_INET, v4, buf, 12));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_INET, v4, buf, 11));  // no room for the terminator
    uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8};
    v6[15] = 1;
    EXPECT_STREQ("2001:db8::1", YAR_InetNtop(YAR_AF_INET6, v6, buf, 12));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_INET6, v6, buf, 11));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_INET6, v6, buf, 0));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_DUAL, v6, buf, sizeof buf));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_INET, nullptr, buf, sizeof buf));
    EXPECT_EQ(nullptr, YAR_InetNtop(YAR_AF_INET, v4, nullptr, sizeof buf));
}

TEST(Addr, RecordLayoutMatchesTheSystemRecords) {
    YAR_ADDR_T a;
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_INET6, "fe80::1", 8080, &a));
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(8080);
    inet_pton(AF_INET6, "fe80::1", &sin6.sin6_addr);
    const auto *raw = reinterpret_cast<const uint8_t *>(&a);
    EXPECT_EQ(23, raw[0] | raw[1] << 8);
    EXPECT_EQ(0, std::memcmp(raw + 2, reinterpret_cast<const uint8_t *>(&sin6) + 2, 26));
}

TEST(Addr, MakeAddrByStringTable) {
    struct Case {
        int family;
        const char *text;
        int result;
        int recordFamily;
        const char *asText;
    };
    const Case cases[] = {
        {YAR_AF_INET, "192.168.1.2", 0, 2, "192.168.1.2"},
        {YAR_AF_INET6, "192.168.1.2", 0, 2, "192.168.1.2"},  // text without ':' is IPv4
        {55, "10.0.0.1", 0, 2, "10.0.0.1"},
        {YAR_AF_INET, "1.2.3", 0, 2, "1.2.0.3"},              // the BSD short form
        {YAR_AF_INET, "255.255.255.255", -1, 0, nullptr},
        {YAR_AF_INET, "nonsense", -1, 0, nullptr},
        {YAR_AF_INET, "", 0, 2, "0.0.0.0"},
        {YAR_AF_INET, nullptr, 0, 2, "0.0.0.0"},
        {YAR_AF_INET6, "", 0, 23, "::"},
        {YAR_AF_DUAL, nullptr, 0, 23, "::"},
        {55, "", -1, 0, nullptr},
        {YAR_AF_DUAL, "0.0.0.0", 0, 23, "::"},
        {YAR_AF_DUAL, "::", 0, 23, "::"},
        {YAR_AF_INET6, "fe80::1", 0, 23, "fe80::1"},
        {YAR_AF_DUAL, "::ffff:1.2.3.4", 0, 23, "::ffff:1.2.3.4"},
        {YAR_AF_INET6, "1::2::3", -1, 23, nullptr},
        {YAR_AF_INET, "::1", -1, 0, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        YAR_ADDR_T a;
        std::memset(&a, 0xEE, sizeof a);
        EXPECT_EQ(c.result, YAR_MakeAddrByString(c.family, c.text, 80, &a));
        if (c.result != 0)
            continue;
        EXPECT_EQ(c.recordFamily, YAR_GetAddrType(&a));
        EXPECT_EQ(80, YAR_GetAddrPort(&a));
        EXPECT_EQ(htons(80), a.port);
        EXPECT_STREQ(c.asText, YAR_GetAddrString(&a));
        if (c.recordFamily == 2) {
            EXPECT_EQ(0u, a.scopeId);
            for (uint8_t b : a.addr6)
                EXPECT_EQ(0, b);
        }
    }
    EXPECT_EQ(-1, YAR_MakeAddrByString(YAR_AF_INET, "1.2.3.4", 1, nullptr));
}

TEST(Addr, DefaultFamilyCode) {
    int saved = yar::internal::DefaultFamily();
    YAR_ADDR_T a;
    yar::internal::SetDefaultFamily(YAR_AF_DUAL);
    EXPECT_EQ(YAR_AF_DUAL, YAR_ResolveFamily(YAR_AF_DEFAULT));
    EXPECT_EQ(YAR_AF_INET, YAR_ResolveFamily(YAR_AF_INET));
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_DEFAULT, nullptr, 1, &a));
    EXPECT_EQ(23, a.family);
    yar::internal::SetDefaultFamily(YAR_AF_INET);
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_DEFAULT, nullptr, 1, &a));
    EXPECT_EQ(2, a.family);
    yar::internal::SetDefaultFamily(saved);
}

TEST(Addr, BuildersAndAccessors) {
    YAR_ADDR_T a;
    ASSERT_EQ(0, YAR_MakeAddr4(htonl(0x0a000001), 5000, &a));
    uint32_t v4 = 0;
    EXPECT_EQ(0, YAR_GetAddr4(&a, &v4));
    EXPECT_EQ(htonl(0x0a000001), v4);
    uint8_t v6[16];
    EXPECT_EQ(-1, YAR_GetAddr6(&a, v6));
    YAR_ADDR_EXP_T exp;
    ASSERT_EQ(0, YAR_AddrToExp(&a, &exp));
    EXPECT_EQ(2, exp.family);
    EXPECT_EQ(5000, exp.port);
    EXPECT_EQ(0, std::memcmp(exp.addr, "\x0a\x00\x00\x01", 4));

    const uint8_t loop6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    ASSERT_EQ(0, YAR_MakeAddr6(loop6, 443, &a));
    EXPECT_EQ(-1, YAR_GetAddr4(&a, &v4));
    EXPECT_EQ(0, YAR_GetAddr6(&a, v6));
    EXPECT_EQ(0, std::memcmp(loop6, v6, 16));
    ASSERT_EQ(0, YAR_SetAddrPort(&a, 444));
    EXPECT_EQ(444, YAR_GetAddrPort(&a));

    YAR_ADDR_T copy;
    std::memset(&copy, 0, sizeof copy);
    EXPECT_EQ(0, YAR_CopyAddr(&a, sizeof a, &copy));
    EXPECT_EQ(0, std::memcmp(&a, &copy, sizeof a));
    EXPECT_EQ(-1, YAR_CopyAddr(&a, 0, &copy));
    EXPECT_EQ(-1, YAR_CopyAddr(&a, sizeof a + 1, &copy));  // would read past the record
    EXPECT_EQ(-1, YAR_CopyAddr(nullptr, sizeof a, &copy));

    EXPECT_EQ(0, YAR_GetAddrPort(nullptr));
    EXPECT_EQ(-1, YAR_GetAddrType(nullptr));
    EXPECT_EQ(-1, YAR_SetAddrPort(nullptr, 1));
    EXPECT_EQ(-1, YAR_MakeAddr4(0, 0, nullptr));
    EXPECT_EQ(-1, YAR_AddrToExp(&a, nullptr));
    EXPECT_EQ(nullptr, YAR_GetAddrString(nullptr));
}

TEST(Addr, StringBuffers) {
    YAR_ADDR_T a;
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_INET, "10.20.30.40", 1, &a));
    char buf[16];
    EXPECT_EQ(buf, YAR_GetAddrStringEx(&a, buf, sizeof buf));
    EXPECT_STREQ("10.20.30.40", buf);
    EXPECT_EQ(nullptr, YAR_GetAddrStringEx(&a, buf, 11));
    EXPECT_EQ(nullptr, YAR_GetAddrStringEx(&a, buf, 0));
    a.family = 7;
    EXPECT_EQ(nullptr, YAR_GetAddrStringEx(&a, buf, sizeof buf));
    EXPECT_EQ(nullptr, YAR_GetAddrString(&a));
}

// Log lines on many threads format addresses at the same time: each thread keeps its own text.
TEST(Addr, AddrStringIsPerThread) {
    YAR_ADDR_T a, b;
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_INET, "1.1.1.1", 1, &a));
    ASSERT_EQ(0, YAR_MakeAddrByString(YAR_AF_INET6, "2001:db8::99", 1, &b));
    const char *mine = YAR_GetAddrString(&a);
    std::string other;
    std::thread t([&] {
        for (int i = 0; i < 1000; ++i)
            other = YAR_GetAddrString(&b);
    });
    t.join();
    EXPECT_STREQ("1.1.1.1", mine);
    EXPECT_EQ("2001:db8::99", other);
}

TEST(Addr, GetAddrBySockFd) {
    int fd = socket(AF_INET6, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_loopback;
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&sin6), sizeof sin6));
    socklen_t len = sizeof sin6;
    getsockname(fd, reinterpret_cast<sockaddr *>(&sin6), &len);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&sin6), sizeof sin6));

    YAR_ADDR_T local, peer;
    ASSERT_EQ(0, YAR_GetAddrBySockFd(fd, &local, &peer));
    EXPECT_EQ(23, local.family);
    EXPECT_STREQ("::1", YAR_GetAddrString(&local));
    EXPECT_EQ(ntohs(sin6.sin6_port), YAR_GetAddrPort(&peer));
    EXPECT_EQ(-1, YAR_GetAddrBySockFd(fd, nullptr, nullptr));
    close(fd);
    EXPECT_EQ(-1, YAR_GetAddrBySockFd(fd, &local, nullptr));
}

}  // namespace
