// Flat forwarders for compression, CRC-32, character sets, Base64 and hex texts, line breaks,
// message callbacks, the performance monitor and thread pools: one table per family with the
// paths that fail before initialisation, on bad parameters and without the library.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/TimerProxy/TimerProxy.h"
#include "morva/MorvaUtility.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class FlatUtility : public servicetest::InitedTest {};

std::vector<BYTE> Bytes(const std::string &text) { return std::vector<BYTE>(text.begin(), text.end()); }

std::string ShellOutput(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

TEST(FlatUtilityNotInit, InitCheckedFamiliesFailWithError3) {
    ASSERT_EQ(GetCoreGlobalCtrl()->IsInited(), 0);
    char buf[64];
    BYTE addr6[16] = {};
    YAR_ADDR_T addr;
    struct Case {
        const char *pName;
        int iResult, iExpected;
    } cases[] = {
        {"Morva_Compress", Morva_Compress("abc", 3, buf, sizeof(buf)), -1},
        {"Morva_UnCompress", Morva_UnCompress("abc", 3, buf, sizeof(buf)), -1},
        {"Morva_GzipCompress", Morva_GzipCompress("abc", 3, buf, sizeof(buf)), -1},
        {"Morva_GzipUnCompress", Morva_GzipUnCompress("abc", 3, buf, sizeof(buf)), -1},
        {"Morva_PerformanceMonitor", Morva_PerformanceMonitor(1, 0), 0},
        {"Morva_IntToIPv4Str", Morva_IntToIPv4Str(0x7f000001, buf), 0},
        {"Morva_IPv6AddrToStr", Morva_IPv6AddrToStr(addr6, buf), -1},
        {"Morva_MakeAddrByString", Morva_MakeAddrByString(2, "127.0.0.1", 80, &addr), -1},
        {"Morva_DestroyThreadPool", Morva_DestroyThreadPool(nullptr), 0},
        {"Morva_CreateTimerProxy", Morva_CreateTimerProxy(nullptr), -1},
        {"Morva_RigisterTimerProxy", Morva_RigisterTimerProxy(0, nullptr), 0},
        {"Morva_UnRigisterTimerProxy", Morva_UnRigisterTimerProxy(0, 0), 0},
        {"Morva_CreateTimeConsumingTest", Morva_CreateTimeConsumingTest("t", 2, 1), -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.iExpected, c.iResult) << c.pName;
    }
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_NOT_INIT);
    EXPECT_EQ(Morva_CreateThreadPool([](void *) -> int32_t { return 0; }), nullptr);
}

TEST_F(FlatUtility, CompressionRoundTripsAndRefuses) {
    const std::string text(5000, 'z');
    std::vector<char> packed(256), plain(6000);
    const int iPacked = Morva_Compress(text.data(), DWORD(text.size()), packed.data(), DWORD(packed.size()));
    ASSERT_GT(iPacked, 0);
    EXPECT_EQ(int(text.size()), Morva_UnCompress(packed.data(), DWORD(iPacked), plain.data(), DWORD(plain.size())));
    EXPECT_EQ(text, std::string(plain.data(), text.size()));

    const int iGz = Morva_GzipCompress(text.data(), int(text.size()), packed.data(), int(packed.size()));
    ASSERT_GT(iGz, 0);
    EXPECT_EQ(int(text.size()), Morva_GzipUnCompress(packed.data(), iGz, plain.data(), int(plain.size())));

    struct Case {
        const char *pName;
        int iResult;
    } refused[] = {
        {"output too small", Morva_Compress(text.data(), DWORD(text.size()), packed.data(), 4)},
        {"null source", Morva_Compress(nullptr, 3, packed.data(), DWORD(packed.size()))},
        {"corrupt input", Morva_UnCompress("garbage!", 8, plain.data(), DWORD(plain.size()))},
        {"corrupt gzip", Morva_GzipUnCompress("garbage!", 8, plain.data(), int(plain.size()))},
    };
    for (const Case &c : refused) EXPECT_EQ(-1, c.iResult) << c.pName;
}

TEST_F(FlatUtility, WithoutZlibEveryCompressorFailsAndLogs) {
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "/nonexistent/libnozlib.so.1"), 1);
    servicetest::LogCapture log;
    char buf[64];
    DWORD dwCrc = 0;
    EXPECT_EQ(-1, Morva_Compress("abc", 3, buf, sizeof(buf)));
    EXPECT_EQ(-1, Morva_GzipCompress("abc", 3, buf, sizeof(buf)));
    EXPECT_EQ(-1, Morva_UnCompress("abc", 3, buf, sizeof(buf)));
    EXPECT_EQ(-1, Morva_GzipUnCompress("abc", 3, buf, sizeof(buf)));
    EXPECT_EQ(0, Morva_CRC32(0, reinterpret_cast<const BYTE *>("abc"), 3, &dwCrc));
    EXPECT_EQ(2u, log.Matching("Morva_Compress, GetZlibAPI Failed").size());
    EXPECT_EQ(2u, log.Matching("Morva_UnCompress, GetZlibAPI Failed").size());
    EXPECT_EQ(1u, log.Matching("Interim_CRC32, GetZlibAPI Failed").size());
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "libz.so.1"), 1);
}

TEST_F(FlatUtility, Crc32TellsAllOnesFromUnbound) {
    struct Case {
        std::string data;
        DWORD dwExpected;
    } cases[] = {
        {"123456789", 0xCBF43926u},
        // A real CRC of 0xFFFFFFFF is a result like any other.
        {std::string("morva\xcb\x6f\x9f\x2f", 9), 0xFFFFFFFFu},
    };
    for (const Case &c : cases) {
        DWORD dwCrc = 0;
        ASSERT_EQ(1, Morva_CRC32(0, reinterpret_cast<const BYTE *>(c.data.data()), DWORD(c.data.size()), &dwCrc));
        EXPECT_EQ(c.dwExpected, dwCrc);
    }
    // Continued over two pieces.
    DWORD dwPart = 0;
    ASSERT_EQ(1, Morva_CRC32(0, reinterpret_cast<const BYTE *>("1234"), 4, &dwPart));
    ASSERT_EQ(1, Morva_CRC32(dwPart, reinterpret_cast<const BYTE *>("56789"), 5, &dwPart));
    EXPECT_EQ(0xCBF43926u, dwPart);
    EXPECT_EQ(0, Morva_CRC32(0, nullptr, 4, &dwPart));
    EXPECT_EQ(0, Morva_CRC32(0, reinterpret_cast<const BYTE *>("1"), 1, nullptr));

    // A zlib without crc32 (bound afresh after a restart): the call fails rather than reporting
    // the default.
    GetCoreGlobalCtrl()->Fini();
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, FAKE_ZLIB_PATH), 1);
    servicetest::LogCapture log;
    EXPECT_EQ(0, Morva_CRC32(0, reinterpret_cast<const BYTE *>("1"), 1, &dwPart));
    EXPECT_EQ(1u, log.Matching("Interim_CRC32, ZlibCrc32 Failed").size());
}

TEST_F(FlatUtility, CharacterSets) {
    const char kLocal[] = "\xc4\xe3\xba\xc3";  // two GB18030 characters
    char out[16];
    DWORD dwLen = 0;
    ASSERT_EQ(1, Morva_A2UTF8(kLocal, 4, out, sizeof(out), &dwLen));
    EXPECT_EQ(std::string("\xe4\xbd\xa0\xe5\xa5\xbd"), std::string(out, dwLen));
    char back[16];
    ASSERT_EQ(1, Morva_UTF82A(out, dwLen, back, sizeof(back), &dwLen));
    EXPECT_EQ(std::string(kLocal), std::string(back, dwLen));
    EXPECT_EQ(0, Morva_StrCmpUTF8("\xe4\xbd\xa0\xe5\xa5\xbd", kLocal));
    EXPECT_NE(0, Morva_StrCmpUTF8("abc", kLocal));
    EXPECT_EQ(-1, Morva_StrCmpUTF8(nullptr, kLocal));

    // One byte short: error 43 and the output untouched.
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(0, Morva_A2UTF8(kLocal, 4, out, 5, &dwLen));
    EXPECT_EQ(MORVA_ERR_BUFFER_SMALL, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(std::string(16, 'x'), std::string(out, 16));
    EXPECT_EQ(0, Morva_A2UTF8(kLocal, 4, nullptr, 5, &dwLen));
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());
    dwLen = 9;
    EXPECT_EQ(1, Morva_A2UTF8(nullptr, 0, out, 5, &dwLen));
    EXPECT_EQ(0u, dwLen);
}

TEST(FlatText, Base64MatchesRfcAndRefusesBadText) {
    const char *kRfc[][2] = {{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
    for (auto &v : kRfc) {
        char enc[16];
        const auto in = Bytes(v[0]);
        const int n = Morva_Base64Encode(in.data(), int(in.size()), enc, sizeof(enc));
        ASSERT_EQ(std::string(v[1]), std::string(enc, size_t(n > 0 ? n : 0)));
        BYTE dec[16];
        ASSERT_EQ(int(in.size()), Morva_Base64Decode(enc, n, dec, sizeof(dec)));
        EXPECT_EQ(0, dec[in.size()]) << "terminated";
        EXPECT_EQ(std::string(v[0]), std::string(reinterpret_cast<char *>(dec)));
    }
    // 60 bytes: one line of 80 characters and CR LF; 61 bytes add "xx==".
    std::vector<BYTE> data(61);
    for (size_t i = 0; i < data.size(); ++i) data[i] = BYTE(i * 37);
    char enc[128];
    ASSERT_EQ(82, Morva_Base64Encode(data.data(), 60, enc, sizeof(enc)));
    EXPECT_EQ("\r\n", std::string(enc + 80, 2));
    ASSERT_EQ(86, Morva_Base64Encode(data.data(), 61, enc, sizeof(enc)));
    EXPECT_EQ("==", std::string(enc + 84, 2));
    const std::string gnu = ShellOutput("printf '" + [&] {
        std::string s;
        char b[8];
        for (BYTE c : data) { std::snprintf(b, sizeof(b), "\\%03o", c); s += b; }
        return s;
    }() + "' | base64 -w 0");
    std::string noBreaks(enc, 86);
    noBreaks.erase(80, 2);
    EXPECT_EQ(gnu, noBreaks);
    BYTE dec[80];
    ASSERT_EQ(61, Morva_DecodeBase64(enc, dec, 86, sizeof(dec)));
    EXPECT_EQ(0, std::memcmp(dec, data.data(), 61));

    struct Case {
        const char *pName, *pText;
        int iSize;
    } refused[] = {
        {"character outside the alphabet", "Zm9v*mFy", 16},
        {"byte of 0x80 and above", "Zm9v\xc3mFy", 16},
        {"truncated last group", "Zm9vYmF", 16},
        {"padding in the middle", "Zg==Zm9v", 16},
        {"padding in the first half", "Z===", 16},
        {"no room for the zero", "Zm9v", 3},
    };
    for (const Case &c : refused) {
        EXPECT_EQ(-1, Morva_Base64Decode(c.pText, int(std::strlen(c.pText)), dec, c.iSize)) << c.pName;
    }
    EXPECT_EQ(-1, Morva_Base64Encode(data.data(), 1, enc, 3));
    EXPECT_EQ(-1, Morva_Base64Encode(data.data(), 0, enc, 16));
    EXPECT_EQ(-1, Morva_Base64Decode(nullptr, 4, dec, 16));
    EXPECT_EQ(2, Morva_Base64Decode("Zm8=", 4, dec, 16));
}

TEST(FlatText, HexAndLineBreaks) {
    const BYTE two[] = {0x0A, 0xFF};
    char hex[8];
    std::memset(hex, 'x', sizeof(hex));
    ASSERT_EQ(1, Morva_HexEncode(two, 2, 1, hex));
    EXPECT_EQ(0, std::memcmp(hex, "0AFF\0", 5));
    ASSERT_EQ(1, Morva_HexEncode(two, 2, 0, hex));
    EXPECT_STREQ("0aff", hex);
    EXPECT_EQ(0, Morva_HexEncode(nullptr, 2, 0, hex));

    struct Case {
        std::string in;
        const char *pPlain;
        const char *pEscaped;
    } cases[] = {
        {"abc", "abc", "abc"},
        {"ab\r\ncd\r\n", "abcd", "abcd"},
        {"a\nb\rc", "a\nb\rc", "a\nb\rc"},
        {"x+y\r\n+", "x+y+", "x%2By%2B"},
        {"\r\r\n\n", "\r\n", "\r\n"},
    };
    for (const Case &c : cases) {
        char out[64];
        EXPECT_EQ(int(std::strlen(c.pPlain)), Morva_EliminateLineBreak(c.in.data(), int(c.in.size()), out));
        EXPECT_STREQ(c.pPlain, out) << c.in;
        EXPECT_EQ(int(std::strlen(c.pEscaped)), Morva_EliminateLineBreakEx(c.in.data(), int(c.in.size()), out));
        EXPECT_STREQ(c.pEscaped, out) << c.in;
    }
    EXPECT_EQ(-1, Morva_EliminateLineBreak(nullptr, 3, hex));

    char path[16] = "a\\b\\c";
    ASSERT_EQ(1, Morva_ReplaceSlash(path, sizeof(path), 1));
    EXPECT_STREQ("a/b/c/", path);
    ASSERT_EQ(1, Morva_ReplaceSlash(path, sizeof(path), 0));
    EXPECT_STREQ("a/b/c", path);
    char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(0, Morva_ReplaceSlash(full, sizeof(full), 1)) << "not terminated within its size";
}

TEST_F(FlatUtility, MessagesMonitorAndPools) {
    static std::atomic<int> s_iCalls{0};
    ASSERT_EQ(1, Morva_SetExceptionCallBack_V30(0, nullptr,
                                                [](DWORD v1, DWORD, DWORD, void *) { s_iCalls.fetch_add(int(v1)); },
                                                nullptr));
    EXPECT_EQ(0, Morva_MsgOrCallBack(5, 0, 0, 0));
    EXPECT_TRUE(servicetest::WaitFor([] { return s_iCalls.load() == 5; }, 5000));

    struct Case {
        int bOn;
        DWORD dwInterval;
        int iResult, iError;
    } monitor[] = {
        {1, 4999, 0, MORVA_ERR_PARAM},
        {1, 120001, 0, MORVA_ERR_PARAM},
        {1, 0, 1, 0},  // 0 means 5000 ms
        {0, 120000, 1, 0},
    };
    for (const Case &c : monitor) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(c.iResult, Morva_PerformanceMonitor(c.bOn, c.dwInterval)) << c.dwInterval;
        EXPECT_EQ(c.iError, GetCoreGlobalCtrl()->GetLastError()) << c.dwInterval;
    }

    static std::atomic<int> s_iWork{0};
    YAR_THREADPOOLFLEX_T *hPool = Morva_CreateThreadPoolEx(
        [](void *p) -> int32_t {
            s_iWork.fetch_add(*static_cast<int *>(p));
            return 0;
        },
        2);
    ASSERT_NE(hPool, nullptr);
    int iSeven = 7;
    EXPECT_EQ(1, Morva_PostWorkToThreadPool(hPool, nullptr, &iSeven));
    EXPECT_TRUE(servicetest::WaitFor([] { return s_iWork.load() == 7; }, 5000));
    EXPECT_EQ(1, Morva_DestroyThreadPool(hPool));
    EXPECT_EQ(0, Morva_PostWorkToThreadPool(nullptr, nullptr, &iSeven));
}

TEST_F(FlatUtility, TimerProxiesAndTimeConsumingTests) {
    TIMER_PROXY_CREATE_PARAM create = {};
    create.m_dwTotalNum = 4;
    create.dwInterval = 1000;
    create.byThreadCount = 1;
    const int iProxy = Morva_CreateTimerProxy(&create);
    ASSERT_GE(iProxy, 0);
    static std::atomic<int> s_iTicks{0};
    TIMER_PROXY_REGISTER_PARAM reg = {};
    reg.dwSessionIndex = 1;
    reg.fnDataCallBack = [](void *) -> int {
        s_iTicks.fetch_add(1);
        return 1;
    };
    EXPECT_EQ(1, Morva_RigisterTimerProxy(iProxy, &reg));
    EXPECT_TRUE(servicetest::WaitFor([] { return s_iTicks.load() > 0; }, 5000));
    EXPECT_EQ(1, Morva_UnRigisterTimerProxy(iProxy, 1));
    Morva_DestroryTimerProxy(iProxy);

    struct Case {
        const char *pName;
        DWORD dwTags, dwValue;
        bool bMade;
    } tests[] = {
        {"two tags", 2, 1, true}, {"eight tags", 8, 1, true}, {"nine tags", 9, 1, false},
        {"value 0", 2, 0, false}, {nullptr, 2, 1, false},
    };
    for (const Case &c : tests) {
        const int iTest = Morva_CreateTimeConsumingTest(c.pName, c.dwTags, c.dwValue);
        EXPECT_EQ(c.bMade, iTest >= 0) << (c.pName ? c.pName : "null name");
        if (iTest >= 0) {
            EXPECT_EQ(1, Morva_DestroyTimeConsumingTest(iTest));
        }
    }
}

TEST_F(FlatUtility, AddressTexts) {
    char text[128];
    ASSERT_EQ(1, Morva_IntToIPv4Str(0xC0000201u, text));
    EXPECT_STREQ("192.0.2.1", text);
    BYTE addr6[16];
    ASSERT_EQ(0, Morva_StrToIPv6Addr("2001:db8::1", addr6));
    ASSERT_EQ(0, Morva_IPv6AddrToStr(addr6, text));
    EXPECT_STREQ("2001:db8::1", text);
    EXPECT_EQ(1, Morva_IsIPv6Str("::1"));
    EXPECT_EQ(1, Morva_IsDomainName("example.org"));
    EXPECT_EQ(1, Morva_CheckIPv4("192.0.2.1"));
    EXPECT_EQ(0, Morva_CheckIPv4("192.0.2.256"));
    YAR_ADDR_T addr;
    EXPECT_EQ(0, Morva_MakeAddrByString(2, "127.0.0.1", 80, &addr));
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_NE(0, Morva_MakeAddrByString(7, "127.0.0.1", 80, &addr));
    EXPECT_EQ(MORVA_ERR_PARAM, GetCoreGlobalCtrl()->GetLastError());
}

}  // namespace
