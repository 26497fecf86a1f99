// Character-set conversion checked against the iconv command-line tool, with the external
// converter, a missing library, invalid input and concurrent first use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Module/CharConv/CharIConv.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

// The iconv tool's conversion of the bytes, or "<failed>".
std::string IconvTool(const std::string &from, const std::string &to, const std::string &input) {
    char szIn[] = "/tmp/morva_iconv_XXXXXX";
    int fd = mkstemp(szIn);
    if (fd < 0)
        return "<failed>";
    FILE *pIn = fdopen(fd, "wb");
    fwrite(input.data(), 1, input.size(), pIn);
    fclose(pIn);
    std::string cmd = "iconv -f " + from + " -t " + to + " " + szIn + " 2>/dev/null";
    std::string out;
    if (FILE *pOut = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), pOut)) > 0)
            out.append(buf, n);
        if (pclose(pOut) != 0)
            out = "<failed>";
    }
    remove(szIn);
    return out;
}

std::string Convert(const std::string &input, DWORD dwIn, DWORD dwOut, int *pResult) {
    std::string out(input.size() * 4 + 16, '\0');
    std::fill(out.begin(), out.end(), '\0');
    *pResult = CharEncodeFromIntToChar(input.data(), (DWORD)input.size(), dwIn, &out[0], (DWORD)out.size(), dwOut);
    return std::string(out.c_str());
}

int g_iConverterCalls = 0;
int NegativeConverter(const char *pInput, DWORD dwInputLen, DWORD dwIn, char *pOutput, DWORD dwOutSize, DWORD dwOut) {
    g_iConverterCalls++;
    EXPECT_STREQ(pInput, "abc");
    EXPECT_EQ(dwInputLen, 3u);
    EXPECT_EQ(dwIn, 2u);
    EXPECT_NE(pOutput, nullptr);
    EXPECT_EQ(dwOutSize, 16u);
    EXPECT_EQ(dwOut, 6u);
    return g_iConverterCalls == 1 ? 0 : -5;
}

class CharConv : public servicetest::InitedTest {};

TEST(CharConvOutsideInit, LoadNeedsTheLibraryMutex) {
    ASSERT_EQ(GetCoreGlobalCtrl()->CheckInit(), 0);
    if (CCharIConv::IsLoaded())
        GTEST_SKIP() << "bound by an earlier test";
    EXPECT_EQ(CCharIConv::LoadLib(), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
}

// Runs before any conversion: nothing may have bound iconv yet.
TEST_F(CharConv, ExternalConverterReplacesIconv) {
    ASSERT_EQ(CCharIConv::IsLoaded(), 0);
    GetCoreGlobalCtrl()->SetCharConvertCallBack(NegativeConverter);
    char out[16];
    EXPECT_EQ(CharEncodeFromIntToChar("abc", 3, 2, out, sizeof(out), 6), 1);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(CharEncodeFromIntToChar("abc", 3, 2, out, sizeof(out), 6), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(g_iConverterCalls, 2);
    EXPECT_EQ(CCharIConv::IsLoaded(), 0);
    GetCoreGlobalCtrl()->SetCharConvertCallBack(nullptr);
}

TEST_F(CharConv, MissingLibraryFailsAndTheNextCallRetries) {
    char szPath[DLL_PATH_FIELD];
    ASSERT_EQ(GetCoreGlobalCtrl()->GetDllLoadPath(BASE_DLL_ICONV, szPath), 1);
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ICONV, "/nonexistent/libmorva-noiconv.so.1"), 1);
    int iResult = -1;
    Convert("abc", CHAR_ENCODE_UTF8, CHAR_ENCODE_GBK, &iResult);
    EXPECT_EQ(iResult, 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
    EXPECT_EQ(CCharIConv::IsLoaded(), 0);
    EXPECT_EQ(CCharIConv::LoadLib(), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_LOAD_ICONV);

    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ICONV, szPath), 1);
    EXPECT_EQ(Convert("abc", CHAR_ENCODE_UTF8, CHAR_ENCODE_GBK, &iResult), "abc");
    EXPECT_EQ(iResult, 1);
    EXPECT_EQ(CCharIConv::IsLoaded(), 1);
}

// Many threads converting at once share one binding that is published only when complete.
TEST_F(CharConv, ConcurrentConversionsAroundTheFirstLoad) {
    ASSERT_EQ(CCharIConv::UnloadLib(), 1);
    ASSERT_EQ(CCharIConv::IsLoaded(), 0);
    const std::string text = "\xe4\xb8\xad\xe6\x96\x87 text";
    const std::string expected = IconvTool("UTF-8", "GBK", text);
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int t = 0; t < 8; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; i++) {
                int iResult = 0;
                ok[t] += Convert(text, CHAR_ENCODE_UTF8, CHAR_ENCODE_GBK, &iResult) == expected && iResult == 1;
            }
        });
    for (auto &th : threads)
        th.join();
    for (int n : ok)
        EXPECT_EQ(n, 50);
}

TEST_F(CharConv, EncodingNumbers) {
    const struct {
        DWORD dwType;
        const char *pName;
    } kCases[] = {{1, "GB18030"}, {2, "GBK"},         {3, "BIG5"},        {4, "SHIFT_JIS"},   {5, "EUC-KR"},
                  {6, "UTF-8"},   {7, "ISO-8859-1"},  {15, "ISO-8859-9"}, {21, "ISO-8859-15"}, {0, nullptr},
                  {22, nullptr}};
    for (const auto &c : kCases) {
        char szName[CHAR_ENCODE_NAME_LEN] = "untouched";
        EXPECT_EQ(CharEncodeIntToName(c.dwType, szName), c.pName ? 1 : 0) << c.dwType;
        if (c.pName) {
            EXPECT_STREQ(szName, c.pName);
        }
    }
    char out[8] = "keep";
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(CharEncodeFromIntToChar("a", 1, 22, out, sizeof(out), 6), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_CHAR_ENCODE);
    EXPECT_EQ(CharEncodeFromIntToChar("a", 1, 6, out, sizeof(out), 0), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_CHAR_ENCODE);
    // An empty input converts to nothing and leaves the output alone.
    EXPECT_EQ(CharEncodeFromIntToChar("", 0, 0, out, sizeof(out), 0), 1);
    EXPECT_STREQ(out, "keep");
}

TEST_F(CharConv, ConversionsMatchTheIconvTool) {
    const struct {
        const char *pText;  // UTF-8
        DWORD dwOther;
        const char *pOtherName;
    } kCases[] = {
        {"\xe4\xb8\xad\xe6\x96\x87\xe6\xb5\x8b\xe8\xaf\x95 ascii 123", CHAR_ENCODE_GBK, "GBK"},
        {"\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80", CHAR_ENCODE_GB18030, "GB18030"},
        {"\xe7\xb9\x81\xe9\xab\x94\xe4\xb8\xad\xe6\x96\x87", CHAR_ENCODE_BIG5, "BIG5"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\x8b\xe3\x81\xaa", CHAR_ENCODE_SHIFT_JIS, "SHIFT_JIS"},
        {"\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4", CHAR_ENCODE_EUC_KR, "EUC-KR"},
        {"caf\xc3\xa9 \xe2\x82\xac", CHAR_ENCODE_ISO_8859_15, "ISO-8859-15"},
        {"Gr\xc3\xbc\xc3\x9f""e", CHAR_ENCODE_ISO_8859_1, "ISO-8859-1"},
    };
    for (const auto &c : kCases) {
        const std::string utf8 = c.pText;
        const std::string other = IconvTool("UTF-8", c.pOtherName, utf8);
        ASSERT_NE(other, "<failed>") << c.pOtherName;
        ASSERT_NE(other, utf8) << c.pOtherName;
        int iResult = 0;
        EXPECT_EQ(Convert(utf8, CHAR_ENCODE_UTF8, c.dwOther, &iResult), other) << c.pOtherName;
        EXPECT_EQ(iResult, 1);
        EXPECT_EQ(Convert(other, c.dwOther, CHAR_ENCODE_UTF8, &iResult), utf8) << c.pOtherName;
        EXPECT_EQ(iResult, 1);
    }
}

// Encodings outside the numbered table go through the descriptor directly.
TEST_F(CharConv, DescriptorConvertsUtf16) {
    ASSERT_EQ(CCharIConv::LoadLib(), 1);
    const std::string utf8 = "A\xe4\xb8\xad\xf0\x9f\x98\x80";
    const std::string expected = IconvTool("UTF-8", "UTF-16LE", utf8);
    ASSERT_EQ(expected.size(), 2u + 2u + 4u);
    CCharIConv conv;
    ASSERT_EQ(conv.Open("UTF-16LE", "UTF-8"), 1);
    std::string out(32, '\0');
    char *pIn = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *pOut = &out[0];
    size_t outLeft = out.size();
    EXPECT_EQ(conv.Convert(&pIn, &inLeft, &pOut, &outLeft), 0u);
    EXPECT_EQ(inLeft, 0u);
    EXPECT_EQ(out.substr(0, out.size() - outLeft), expected);
    conv.Close();
    EXPECT_EQ(conv.Convert(&pIn, &inLeft, &pOut, &outLeft), (size_t)-1);  // closed
    EXPECT_EQ(conv.Open("NO-SUCH-CHARSET", "UTF-8"), 0);
}

TEST_F(CharConv, InvalidInputAndShortOutput) {
    servicetest::LogCapture log;
    char out[64];
    // Not UTF-8: the caller's text is invalid in its encoding.
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(CharEncodeFromIntToChar("ab\xff\xfe", 4, CHAR_ENCODE_UTF8, out, sizeof(out), CHAR_ENCODE_GBK), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_CHAR_ENCODE);
    EXPECT_NE(IconvTool("UTF-8", "GBK", "ab\xff\xfe"), "ab");  // the tool refuses it too

    // GBK text that does not fit the output.
    const std::string gbk = IconvTool("UTF-8", "GBK", "\xe4\xb8\xad\xe6\x96\x87\xe6\xb5\x8b\xe8\xaf\x95");
    EXPECT_EQ(CharEncodeFromIntToChar(gbk.data(), (DWORD)gbk.size(), CHAR_ENCODE_GBK, out, 5, CHAR_ENCODE_UTF8), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_ALLOC);
    EXPECT_EQ(log.Matching("CharEncodeFromIntToChar, Convert Failed, dwInEncodeType[2], dwOutEncodeType[6]").size(),
              1u);
}

}  // namespace
