// Utility functions against outside references: inet_pton/inet_ntop, the C library, xxd, real
// directories, and name resolution through a private hosts file in a mount namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/Utils.h"
#include "log_test_util.h"

using namespace Vorezi;

namespace {

TEST(UtilsAddr, IsValidIPv4AgreesWithInetPton) {
    const char *kTexts[] = {"1.2.3.4",  "192.168.1.1", "255.255.255.255", "0.0.0.0", "1.2.3.256", "1.2.3",
                            "1.2.3.4.5", "a.b.c.d",    "1..2.3",          "",        " 1.2.3.4", "1.2.3.4 ",
                            "-1.2.3.4", "+1.2.3.4",    "1.2.3.4x",        "10.0.0.1"};
    for (const char *pText : kTexts) {
        in_addr ref{};
        DWORD dwExpected = inet_pton(AF_INET, pText, &ref) == 1 ? ref.s_addr : 0;
        EXPECT_EQ(Utils_IsValidIPv4(pText), dwExpected) << pText;
    }
    // First octet in the least significant byte.
    EXPECT_EQ(Utils_IsValidIPv4("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(Utils_IsValidIPv4(nullptr), 0u);
}

TEST(UtilsAddr, IntToIPv4StrAgreesWithInetNtop) {
    const DWORD kValues[] = {0xC0A80101u, 0u, 0xFFFFFFFFu, 0x0A000001u, 0x7F000001u, 0x01020304u};
    for (DWORD v : kValues) {
        char szOurs[16];
        std::memset(szOurs, 'x', sizeof(szOurs));
        Utils_IntToIPv4Str(v, szOurs);
        in_addr a{htonl(v)};
        char szRef[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &a, szRef, sizeof(szRef));
        EXPECT_STREQ(szOurs, szRef);
        EXPECT_EQ(szOurs[15], '\0');  // all 16 bytes zero-filled first
    }
}

TEST(UtilsAddr, IPv6TextBothWays) {
    const char *kTexts[] = {"::1", "2001:db8::1", "fe80::1:2:3:4", "::", "2001:db8:0:0:1:0:0:1", "::ffff:1.2.3.4"};
    for (const char *pText : kTexts) {
        BYTE ours[16], ref[16];
        ASSERT_EQ(inet_pton(AF_INET6, pText, ref), 1);
        ASSERT_EQ(Utils_StrToIPv6Addr(pText, ours), 0) << pText;
        EXPECT_EQ(std::memcmp(ours, ref, 16), 0) << pText;
        char szOurs[128], szRef[INET6_ADDRSTRLEN];
        ASSERT_EQ(Utils_IPv6ToStr(ours, szOurs), 0);
        inet_ntop(AF_INET6, ref, szRef, sizeof(szRef));
        EXPECT_STREQ(szOurs, szRef);
    }
    BYTE out[16];
    EXPECT_EQ(Utils_StrToIPv6Addr("1.2.3.4", out), -1);
    EXPECT_EQ(Utils_StrToIPv6Addr("gggg::1", out), -1);
}

TEST(UtilsAddr, MakeAddrStripsOneBracketPair) {
    YAR_ADDR_T addr;
    ASSERT_EQ(Utils_MakeAddr(YAR_AF_INET6, "[2001:db8::5]", 443, &addr), 0);
    char szText[128];
    WORD wPort = 0;
    ASSERT_EQ(Utils_AddrToIPPort(addr, szText, sizeof(szText), &wPort), 1);
    EXPECT_STREQ(szText, "2001:db8::5");
    EXPECT_EQ(wPort, 443);
    EXPECT_EQ(Utils_MakeAddr(YAR_AF_INET6, "[2001:db8::5", 443, &addr), -1);  // taken whole
    EXPECT_EQ(Utils_MakeAddr(YAR_AF_INET6, "[]", 443, &addr), -1);
    EXPECT_EQ(Utils_MakeAddr(YAR_AF_INET, "192.0.2.1", 80, nullptr), -1);
    ASSERT_EQ(Utils_MakeAddr(YAR_AF_INET, "192.0.2.1", 80, &addr), 0);
    EXPECT_EQ(Utils_AddrToIPPort(addr, nullptr, 0, &wPort), 0);
}

TEST(UtilsAddr, TextClassifiers) {
    struct {
        const char *pText;
        int iCheck, iIPv6, iDomain;
    } kCases[] = {
        {"192.168.1.1", 1, 0, 0}, {"192.168.1", 0, 0, 0}, {"1.2.3.300", 0, 0, 0}, {"::1", 1, 1, 0},
        {"ab", 0, 0, 0},          {"fe80::1", 1, 1, 0},   {"a:", 0, 1, 0},        {"example.com", 0, 0, 1},
        {"localhost", 0, 0, 0},   {"1.2.3.4", 1, 0, 0},
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(Utils_CheckIPAddr(c.pText), c.iCheck) << c.pText;
        EXPECT_EQ(Utils_IsIPv6(c.pText), c.iIPv6) << c.pText;
        EXPECT_EQ(Utils_IsDomain(c.pText), c.iDomain) << c.pText;
    }
}

TEST(UtilsAddr, DomainParseNeverWritesPastTheBuffer) {
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    char szOut[16];
    EXPECT_EQ(Utils_DomainParse("192.0.2.1", szOut, sizeof(szOut)), 1);  // an address is copied
    EXPECT_STREQ(szOut, "192.0.2.1");
    char szSmall[8 + 4];
    std::memset(szSmall, '#', sizeof(szSmall));
    EXPECT_EQ(Utils_DomainParse("2001:db8::1234", szSmall, 8), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_BUFFER_SMALL);
    for (char c : szSmall)
        EXPECT_EQ(c, '#');
    EXPECT_EQ(Utils_DomainParse(nullptr, szOut, sizeof(szOut)), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    GetCoreGlobalCtrl()->Fini();
}

// Resolves names in a child with its own mount namespace and a private /etc/hosts.
std::string ResolveWithHosts(const std::string &hosts, const char *pName, int iOutSize) {
    logtest::ScratchDir dir;
    logtest::WriteFile(dir / "hosts", hosts);
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string result = "setup";
        if (unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount((dir / "hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0) {
            char szOut[128];
            std::memset(szOut, 0, sizeof(szOut));
            std::strcpy(szOut, "untouched");
            int r = Utils_DomainParse(pName, szOut, iOutSize);
            result = std::to_string(r) + ":" + szOut;
        }
        ssize_t ignored = write(fds[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    char buf[256];
    ssize_t n = read(fds[0], buf, sizeof(buf));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return std::string(buf, n > 0 ? (size_t)n : 0);
}

TEST(UtilsAddr, DomainParseSkipsLoopbackSix) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs a mount namespace";
    const std::string hosts =
        "::1 both.example.test only6.example.test\n192.0.2.7 both.example.test\n198.51.100.9 v4.example.test\n";
    if (ResolveWithHosts(hosts, "v4.example.test", 128) == "setup")
        GTEST_SKIP() << "mount namespaces unavailable";
    EXPECT_EQ(ResolveWithHosts(hosts, "v4.example.test", 128), "1:198.51.100.9");
    EXPECT_EQ(ResolveWithHosts(hosts, "both.example.test", 128), "1:192.0.2.7");
    EXPECT_EQ(ResolveWithHosts(hosts, "only6.example.test", 128), "0:untouched");
    EXPECT_EQ(ResolveWithHosts(hosts, "v4.example.test", 8), "0:untouched");  // would not fit
}

TEST(UtilsText, HexAgainstXxd) {
    BYTE bytes[64];
    for (int i = 0; i < 64; i++)
        bytes[i] = (BYTE)(i * 37 + 11);
    logtest::ScratchDir dir;
    logtest::WriteFile(dir / "bin", std::string(reinterpret_cast<char *>(bytes), sizeof(bytes)));
    ASSERT_EQ(logtest::ScratchDir::Run("xxd -p -c 256 '" + dir / "bin" + "' > '" + dir / "hex" + "'"), 0);
    std::string ref = logtest::ReadFile(dir / "hex");
    ref.pop_back();  // newline

    char szHex[129];
    ByteArrayToHexString(bytes, 64, szHex, sizeof(szHex));
    EXPECT_EQ(std::string(szHex), ref);
    BYTE back[64] = {0};
    EXPECT_EQ(HexStringToByteArray(szHex, 128, back, sizeof(back)), 64);
    EXPECT_EQ(std::memcmp(back, bytes, 64), 0);

    // Too small for two digits per byte and the terminator: logged, left empty.
    char szShort[32];
    ByteArrayToHexString(bytes, 16, szShort, sizeof(szShort));
    EXPECT_EQ(szShort[0], '\0');
    char szExact[33];
    ByteArrayToHexString(bytes, 16, szExact, sizeof(szExact));
    EXPECT_EQ(std::string(szExact), ref.substr(0, 32));
    // An odd tail is ignored, the output size is respected.
    BYTE two[2] = {0, 0};
    EXPECT_EQ(HexStringToByteArray("a1b2c", 5, two, 1), 1);
    EXPECT_EQ(two[0], 0xA1);
    EXPECT_EQ(two[1], 0);
}

TEST(UtilsText, RandomHexIsFreshEveryCall) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; i++) {
        char szOut[34];
        std::memset(szOut, '#', sizeof(szOut));
        GenerateRandomHex32(szOut);
        EXPECT_EQ(szOut[32], '#');  // no terminator written
        std::string text(szOut, 32);
        EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 2000u);  // no repeats within the same second
    char sz16[17] = {0};
    GenerateRandomHex16(sz16);
    EXPECT_EQ(std::strlen(sz16), 16u);
}

TEST(UtilsText, SearchesAgainstTheCLibrary) {
    const char *pText = "alpha beta gamma beta";
    EXPECT_EQ(Utils_StrnStr(pText, "beta", 100), std::strstr(pText, "beta"));
    EXPECT_EQ(Utils_StrnStr(pText, "beta", 10), std::strstr(pText, "beta"));  // ends at 10
    EXPECT_EQ(Utils_StrnStr(pText, "beta", 9), nullptr);
    EXPECT_EQ(Utils_StrnStr(pText, "", 3), pText);
    EXPECT_EQ(Utils_StrnStr(pText, "zeta", 100), nullptr);

    char szOut[16];
    const char *pSrc = "<a>inner</a> tail";
    EXPECT_EQ(GetSubString(pSrc, (int)std::strlen(pSrc), "<a>", "</a>", szOut, sizeof(szOut)), 1);
    EXPECT_STREQ(szOut, "inner");
    EXPECT_EQ(GetSubString(pSrc, (int)std::strlen(pSrc), nullptr, "</a>", szOut, sizeof(szOut)), 1);
    EXPECT_STREQ(szOut, "<a>inner");
    EXPECT_EQ(GetSubString(pSrc, (int)std::strlen(pSrc), "</a>", nullptr, szOut, sizeof(szOut)), 1);
    EXPECT_STREQ(szOut, " tail");
    EXPECT_EQ(GetSubString(pSrc, (int)std::strlen(pSrc), "<b>", nullptr, szOut, sizeof(szOut)), 0);
    EXPECT_EQ(GetSubString(pSrc, (int)std::strlen(pSrc), "<a>", "</a>", szOut, 5), 0);  // no room
    EXPECT_EQ(GetSubString(pSrc, 6, "<a>", "</a>", szOut, sizeof(szOut)), 0);  // end marker beyond
    EXPECT_EQ(GetSubString(pSrc, 6, nullptr, nullptr, szOut, sizeof(szOut)), 0);

    EXPECT_STREQ(Utils_GetMqttMsgName(1), "MSG_CONNECT");
    EXPECT_STREQ(Utils_GetMqttMsgName(111), "MSG_PRIVATE_INIT_AUTH_CONTEXT");
    EXPECT_STREQ(Utils_GetMqttMsgName(5), "NULL");
}

TEST(UtilsThreadPool, ShortcutsRunWork) {
    static std::atomic<int> s_iDone{0};
    s_iDone = 0;
    YAR_THREADPOOLFLEX_T *hPool = Utils_CreateThreadPool(
        [](void *pArg) -> int32_t {
            s_iDone += *static_cast<int *>(pArg);
            return 0;
        },
        0);  // the default configuration's maximum
    ASSERT_NE(hPool, nullptr);
    static int s_iOne = 1;
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(Utils_PostWorkToThreadPool(hPool, nullptr, &s_iOne), 1);
    for (int i = 0; i < 2000 && s_iDone.load() < 20; i++)
        usleep(1000);
    EXPECT_EQ(s_iDone.load(), 20);
    EXPECT_EQ(Utils_DestroyThreadPool(hPool), 1);
    EXPECT_EQ(Utils_DestroyThreadPool(nullptr), 0);
    EXPECT_EQ(Utils_PostWorkToThreadPool(nullptr, nullptr, &s_iOne), 0);
}

TEST(UtilsPath, TextFunctions) {
    EXPECT_STREQ(Utils_GetFileName("a/b\\c.txt"), "c.txt");
    EXPECT_STREQ(Utils_GetFileName("plain"), "plain");
    char szTail[261];
    EXPECT_EQ(Utils_GetPathTail("/usr/lib/libz.so.1", szTail), 1);
    EXPECT_STREQ(szTail, "/libz.so.1");
    EXPECT_EQ(Utils_GetPathTail("", szTail), 0);
    EXPECT_EQ(Utils_GetPathTail(std::string(260, 'a').c_str(), szTail), 0);

    struct {
        const char *pIn;
        int bAdd;
        const char *pOut;
    } kFormat[] = {
        {"a\\b", 1, "a/b/"}, {"a/b/", 1, "a/b/"}, {"a/b/", 0, "a/b"}, {"a", 1, "a"}, {"a", 0, "a"}, {"/", 0, "/"},
    };
    for (const auto &c : kFormat) {
        char szBuf[16] = {0};
        std::strcpy(szBuf, c.pIn);
        EXPECT_EQ(Utils_FormatDirEnd(szBuf, sizeof(szBuf), c.bAdd), 1);
        EXPECT_STREQ(szBuf, c.pOut) << c.pIn << " " << c.bAdd;
    }
    char szFull[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(Utils_FormatDirEnd(szFull, sizeof(szFull), 1), 0);  // no terminator in the buffer

    char szDir[261] = "c:\\logs\\x";
    Utils_NormalizeDir(szDir);
    EXPECT_STREQ(szDir, "c:/logs/x/");
    char szSlashes[261] = "a///b//c/d";
    Utils_RemoveDoubleSlash(szSlashes);
    EXPECT_STREQ(szSlashes, "a/b/c/d");
}

TEST(UtilsPath, DirectoriesAndModulePath) {
    logtest::ScratchDir dir;
    char szPath[261];
    std::snprintf(szPath, sizeof(szPath), "%sone\\two/three", dir.Path().c_str());
    EXPECT_EQ(Utils_CreateMultiDir(szPath), 1);
    EXPECT_EQ(std::string(szPath), dir.Path() + "one/two/three/");
    EXPECT_EQ(access((dir.Path() + "one/two/three").c_str(), F_OK), 0);

    char szExe[261];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    ASSERT_GT(n, 0);
    szExe[n] = '\0';
    std::string expected(szExe);
    expected.resize(expected.rfind('/') + 1);
    char szModuleDir[261];
    ASSERT_EQ(Utils_GetModuleDir(szModuleDir, sizeof(szModuleDir)), 1);
    EXPECT_EQ(std::string(szModuleDir), expected);
    EXPECT_EQ(Utils_GetModuleDir(szModuleDir, 1), 0);
}

}  // namespace
