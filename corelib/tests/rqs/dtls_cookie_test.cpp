// DTLS cookies: HMAC-SHA1 over the peer's port and address, checked against the openssl tool,
// the check's refusals, and one secret for the first cookies made on many threads at once.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <thread>
#include <vector>

#include "ssl_test_util.h"
#include "transport/serverlink/dtls/DtlsCookie.h"

using namespace Vorezi;
using cryptotest::Bytes;

namespace {

class DtlsCookieTest : public cryptotest::CryptoTest {};

const BYTE kSecret[CDtlsCookie::SECRET_LEN] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::string HexOf(const BYTE *p, size_t n) {
    static const char *kDigits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

// The cookie of the input as `openssl dgst -sha1 -mac HMAC` computes it.
std::string ToolHmac(const BYTE *pInput, int iLen) {
    cryptotest::ScratchDir dir;
    dir.Write("in", Bytes(pInput, pInput + iLen));
    std::string out;
    if (cryptotest::RunTool("openssl dgst -sha1 -mac HMAC -macopt hexkey:" + HexOf(kSecret, sizeof(kSecret)) + " " +
                                dir.File("in"),
                            &out) != 0)
        return "tool failed: " + out;
    const size_t eq = out.rfind("= ");
    return eq == std::string::npos ? out : out.substr(eq + 2, 40);
}

TEST_F(DtlsCookieTest, PortAndAddressUnderHmacSha1AsTheToolComputesIt) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(4433);
    inet_pton(AF_INET, "127.0.0.1", &v4.sin_addr);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(50000);
    inet_pton(AF_INET6, "fe80::1:2", &v6.sin6_addr);
    const struct {
        const void *pAddr;
        std::string input;
    } cases[] = {
        {&v4, "11517f000001"},
        {&v6, "c350fe800000000000000000000000010002"},
    };
    CDtlsCookie cookie(kSecret);
    for (const auto &c : cases) {
        BYTE byInput[CDtlsCookie::MAX_INPUT_LEN];
        const int iLen = CDtlsCookie::MakeInput(c.pAddr, byInput);
        EXPECT_EQ(c.input, HexOf(byInput, (size_t)iLen));
        BYTE byCookie[CDtlsCookie::COOKIE_LEN];
        ASSERT_EQ(CDtlsCookie::COOKIE_LEN, cookie.Make(byInput, iLen, byCookie));
        EXPECT_EQ(ToolHmac(byInput, iLen), HexOf(byCookie, sizeof(byCookie)));
    }
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    BYTE byInput[CDtlsCookie::MAX_INPUT_LEN];
    EXPECT_EQ(0, CDtlsCookie::MakeInput(&local, byInput));
}

TEST_F(DtlsCookieTest, CheckRefusesAnyOtherCookie) {
    const BYTE byInput[6] = {0x11, 0x51, 127, 0, 0, 1};
    CDtlsCookie cookie(kSecret);
    BYTE byCookie[CDtlsCookie::COOKIE_LEN];
    ASSERT_EQ(CDtlsCookie::COOKIE_LEN, cookie.Make(byInput, sizeof(byInput), byCookie));
    EXPECT_EQ(1, cookie.Check(byInput, sizeof(byInput), byCookie, sizeof(byCookie)));
    EXPECT_EQ(0, cookie.Check(byInput, sizeof(byInput), byCookie, sizeof(byCookie) - 1));
    const BYTE byOtherPort[6] = {0x11, 0x52, 127, 0, 0, 1};
    EXPECT_EQ(0, cookie.Check(byOtherPort, sizeof(byOtherPort), byCookie, sizeof(byCookie)));
    byCookie[7] ^= 0x01;
    EXPECT_EQ(0, cookie.Check(byInput, sizeof(byInput), byCookie, sizeof(byCookie)));
    // Without a secret nothing passes.
    CDtlsCookie fresh;
    byCookie[7] ^= 0x01;
    EXPECT_EQ(0, fresh.Check(byInput, sizeof(byInput), byCookie, sizeof(byCookie)));
}

TEST_F(DtlsCookieTest, FirstCookiesOnManyThreadsShareOneSecret) {
    const BYTE byInput[6] = {0x11, 0x51, 127, 0, 0, 1};
    CDtlsCookie cookie;
    std::vector<std::string> made(16);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < made.size(); i++)
        threads.emplace_back([&, i] {
            BYTE byCookie[CDtlsCookie::COOKIE_LEN];
            if (cookie.Make(byInput, sizeof(byInput), byCookie) == CDtlsCookie::COOKIE_LEN)
                made[i] = HexOf(byCookie, sizeof(byCookie));
        });
    for (auto &t : threads)
        t.join();
    for (const std::string &m : made)
        EXPECT_EQ(made[0], m);
    EXPECT_EQ(40u, made[0].size());
}

}  // namespace
