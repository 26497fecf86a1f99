// The zlib binding: gzip in memory checked against the gzip tool, the wrappers, corrupt input,
// the version gate with a stand-in library, and a missing zlib.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/Zlib/ZlibAPI.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

std::string SampleText(size_t uSize) {
    std::string text;
    for (size_t i = 0; text.size() < uSize; i++)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the sample text\n";
    text.resize(uSize);
    return text;
}

class TempFile {
public:
    TempFile() {
        char szName[] = "/tmp/zlib_test_XXXXXX";
        int fd = mkstemp(szName);
        close(fd);
        m_Path = szName;
    }
    ~TempFile() { unlink(m_Path.c_str()); }
    const std::string &Path() const { return m_Path; }
    void Write(const std::string &data) { std::ofstream(m_Path, std::ios::binary) << data; }
    std::string Read() const {
        std::ifstream in(m_Path, std::ios::binary);
        std::stringstream buf;
        buf << in.rdbuf();
        return buf.str();
    }

private:
    std::string m_Path;
};

bool RunShell(const std::string &command) {
    return system(command.c_str()) == 0;
}

class ZlibTest : public servicetest::InitedTest {};

}  // namespace

TEST_F(ZlibTest, GzipAgreesWithTheGzipTool) {
    for (size_t uSize : {1u, 100u, 70000u}) {
        std::string text = SampleText(uSize);
        std::vector<char> packed(text.size() + 64);
        int n = CompressGzip(text.data(), (int)text.size(), packed.data(), (int)packed.size());
        ASSERT_GT(n, 0) << uSize;
        EXPECT_EQ((unsigned char)packed[0], 0x1F);
        EXPECT_EQ((unsigned char)packed[1], 0x8B);
        TempFile gz, plain;
        gz.Write(std::string(packed.data(), n));
        ASSERT_TRUE(RunShell("gzip -dc < " + gz.Path() + " > " + plain.Path()));
        EXPECT_EQ(plain.Read(), text);
    }
    for (const char *pLevel : {"-1", "-9"}) {
        std::string text = SampleText(5000);
        TempFile plain, gz;
        plain.Write(text);
        ASSERT_TRUE(RunShell(std::string("gzip -c -N ") + pLevel + " " + plain.Path() + " > " + gz.Path()));
        std::string packed = gz.Read();
        std::vector<char> out(text.size());
        EXPECT_EQ(UnCompressGzip(packed.data(), (int)packed.size(), out.data(), (int)out.size()), (int)text.size());
        EXPECT_EQ(std::string(out.data(), out.size()), text);
        EXPECT_EQ(UnCompressGzip(packed.data(), (int)packed.size(), out.data(), (int)out.size() - 1), -1)
            << "one byte too small";
    }
}

TEST_F(ZlibTest, RefusesBadInputAndShortOutput) {
    std::string text = SampleText(4000);
    std::vector<char> packed(text.size() + 64);
    int n = CompressGzip(text.data(), (int)text.size(), packed.data(), (int)packed.size());
    ASSERT_GT(n, 20);
    char szSmall[16];
    EXPECT_EQ(CompressGzip(text.data(), (int)text.size(), szSmall, sizeof(szSmall)), -1);
    EXPECT_EQ(CompressGzip(nullptr, 10, szSmall, sizeof(szSmall)), -1);
    EXPECT_EQ(CompressGzip(text.data(), 0, szSmall, sizeof(szSmall)), -1);

    std::vector<char> out(text.size());
    std::vector<char> corrupt(packed.begin(), packed.begin() + n);
    for (int i = n / 3; i < n / 3 + 8; i++)
        corrupt[i] ^= 0x5A;
    EXPECT_EQ(UnCompressGzip(corrupt.data(), n, out.data(), (int)out.size()), -1);
    EXPECT_EQ(UnCompressGzip(packed.data(), n - 9, out.data(), (int)out.size()), -1) << "truncated";
    std::vector<char> badCrc(packed.begin(), packed.begin() + n);
    badCrc[n - 8] ^= 1;
    EXPECT_EQ(UnCompressGzip(badCrc.data(), n, out.data(), (int)out.size()), -1) << "trailer checksum";
    EXPECT_EQ(UnCompressGzip(text.data(), (int)text.size(), out.data(), (int)out.size()), -1) << "not gzip";
}

TEST_F(ZlibTest, WrappersReachZlib) {
    CZlibAPI *pApi = GetZlibAPI();
    ASSERT_NE(pApi, nullptr);
    EXPECT_EQ(pApi->IsAllFunctionExist(), 1);
    EXPECT_EQ(pApi->CompareVersion(), 1);
    const char *pCheck = "123456789";
    EXPECT_EQ(pApi->Crc32(0, (const Bytef *)pCheck, 9, 0xFFFFFFFFu), 0xCBF43926u);
    EXPECT_EQ(pApi->GetCrcTable(nullptr)[1], 0x77073096u);

    std::string text = SampleText(3000);
    std::vector<Bytef> packed(text.size() + 64);
    uLongf uPacked = packed.size();
    ASSERT_EQ(pApi->Compress(packed.data(), &uPacked, (const Bytef *)text.data(), text.size(), -1), Z_OK);
    std::vector<Bytef> out(text.size());
    uLongf uOut = out.size();
    ASSERT_EQ(pApi->UnCompress(out.data(), &uOut, packed.data(), uPacked, -1), Z_OK);
    EXPECT_EQ(std::string((char *)out.data(), uOut), text);
}

TEST_F(ZlibTest, VersionGateWarnsOnce) {
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, FAKE_ZLIB_PATH), 1);
    void *hFake = dlopen(FAKE_ZLIB_PATH, RTLD_NOW);
    ASSERT_NE(hFake, nullptr);
    auto fnSetVersion = reinterpret_cast<void (*)(const char *)>(dlsym(hFake, "fake_zlib_set_version"));
    ASSERT_NE(fnSetVersion, nullptr);
    servicetest::LogCapture log;
    const struct {
        const char *pVersion;
        int iExpected;
    } kCases[] = {{"1.2.13", 1}, {"1.3.1", 1}, {"1.2.13.1-motley", 1}, {"1.10", 1},
                  {"1.2.12", 0}, {"1.2.9", 0},  {"1.2", 0}};
    for (const auto &c : kCases) {
        fnSetVersion(c.pVersion);
        CZlibAPI api;
        ASSERT_EQ(api.LoadZlib(), 1);
        EXPECT_EQ(api.CompareVersion(), c.iExpected) << c.pVersion;
        EXPECT_EQ(api.IsAllFunctionExist(), 0) << "the stand-in has only zlibVersion";
        EXPECT_EQ(api.Crc32(0, nullptr, 0, 77), 77u) << "an unbound function gives the default";
    }
    EXPECT_EQ(log.Matching("Zlib required [1.2.13] and Later Version").size(), 1u);
    EXPECT_EQ(log.Matching("Function[crc32] Unload").size(), 7u);
    dlclose(hFake);
}

TEST_F(ZlibTest, MissingZlib) {
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "/nonexistent/libnozlib.so.1"), 1);
    servicetest::LogCapture log;
    GetCoreGlobalCtrl()->SetLastError(0);
    CZlibAPI *pApi = GetZlibAPI();
    ASSERT_NE(pApi, nullptr) << "the binding exists without zlib";
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_LOAD_ZLIB);
    EXPECT_EQ(pApi->IsLoaded(), 0);
    char szIn[8] = "abc", szOut[64];
    EXPECT_EQ(CompressGzip(szIn, 3, szOut, sizeof(szOut)), -1);
    EXPECT_EQ(UnCompressGzip(szIn, 3, szOut, sizeof(szOut)), -1);
    EXPECT_EQ(pApi->CompareVersion(), 0);
    pApi->PrintVersion(0);
    EXPECT_EQ(log.Matching("Zlib: m_fnZlibVersion[0x0], Unload").size(), 1u);
    EXPECT_EQ(log.Matching("CZlibAPI::LoadZlib, LoadDSo BASE_DLL_ZLIB Failed").size(), 1u);

    // Every later use retries quietly; a zlib that appears is then taken up.
    ASSERT_EQ(GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "libz.so.1"), 1);
    EXPECT_EQ(GetZlibAPI(), pApi);
    EXPECT_EQ(pApi->IsLoaded(), 1);
    EXPECT_GT(CompressGzip(szIn, 3, szOut, sizeof(szOut)), 0);
}
