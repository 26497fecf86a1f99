// The dependent-library loader: configured paths, the fallback order (configured path, bare
// name, then the OpenSSL 1.1 names in the executable's directory and bare) with small fake
// libraries built here, and the real path taken from the system.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/Log/LogService.h"
#include "Utils/Utils.h"
#include "log_test_util.h"
#include "yar/yar_dso.h"

using namespace Vorezi;

namespace {

std::vector<std::string> g_Lines;

void Collect(LOG_CALLBACK_RECORD *pRec, void *) {
    std::string text(pRec->pText);
    g_Lines.push_back(text.substr(text.find("] ") + 2, text.size() - text.find("] ") - 4));
}

bool BuildFakeLibrary(const std::string &path, int iId) {
    std::string cmd = "printf 'int morva_fake_id(void){return " + std::to_string(iId) +
                      ";}\\n' | cc -shared -fPIC -x c - -o '" + path + "' 2>/dev/null";
    return logtest::ScratchDir::Run(cmd) == 0;
}

int FakeId(void *hLib) {
    auto fn = reinterpret_cast<int (*)()>(YAR_GetDsoSym(hLib, "morva_fake_id"));
    return fn ? fn() : -1;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
        g_Lines.clear();
        LogModule_SetLogCallBack(GetCoreGlobalCtrl()->GetLogService(), LOG_LEVEL_INF, Collect, nullptr);
    }
    void TearDown() override { GetCoreGlobalCtrl()->Fini(); }
    // The loader's log lines since the last call.
    std::vector<std::string> Lines(const char *pStep = "CDependLibLoader::LoadLib, Load Step") {
        GetCoreGlobalCtrl()->GetLogService()->WaitDrained();
        std::vector<std::string> out;
        for (const std::string &l : g_Lines)
            if (l.rfind(pStep, 0) == 0)
                out.push_back(l);
        g_Lines.clear();
        return out;
    }

    CDependLibLoader m_Loader;
    logtest::ScratchDir m_Dir;
};

TEST_F(Loader, ConfiguredPathFirstThenBareName) {
    const std::string fake = m_Dir / "libmorva-fake-z.so.1";
    ASSERT_TRUE(BuildFakeLibrary(fake, 3));
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_ZLIB, fake.c_str()), 1);
    void *hLib = m_Loader.LoadLib(BASE_DLL_ZLIB);
    ASSERT_NE(hLib, nullptr);
    EXPECT_EQ(FakeId(hLib), 3);
    EXPECT_EQ(Lines(), std::vector<std::string>{"CDependLibLoader::LoadLib, Load Step1 SUCC, iDllIndex[3], szFullPath[" +
                                                fake + "]"});
    YAR_UnloadDSo(hLib);

    // A missing directory falls back to the bare name, which the system finds.
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_ZLIB, "/nonexistent/dir/libz.so.1"), 1);
    hLib = m_Loader.LoadLib(BASE_DLL_ZLIB);
    ASSERT_NE(hLib, nullptr);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "CDependLibLoader::LoadLib, Load Step1 Failed, iDllIndex[3], szFullPath[/nonexistent/dir/libz.so.1]");
    EXPECT_EQ(lines[1], "CDependLibLoader::LoadLib, Load Step3 SUCC, iDllIndex[3], szFileName[libz.so.1]");
    // The real path is the file the system loaded.
    m_Loader.PrintDllLoadPath(BASE_DLL_ZLIB);
    std::vector<std::string> real = Lines("CDependLibLoader::PrintDllLoadPath");
    ASSERT_EQ(real.size(), 1u);
    EXPECT_NE(real[0].find("m_szRealLoadPath[/"), std::string::npos) << real[0];
    EXPECT_NE(real[0].find("libz.so.1]"), std::string::npos) << real[0];
    YAR_UnloadDSo(hLib);
}

TEST_F(Loader, OtherSlotsTryTwoPlaces) {
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_ZLIB, "/nonexistent/libmorva-none.so"), 1);
    EXPECT_EQ(m_Loader.LoadLib(BASE_DLL_ZLIB), nullptr);
    EXPECT_EQ(Lines().size(), 2u);
    EXPECT_EQ(m_Loader.LoadLibNoLog(BASE_DLL_ZLIB), nullptr);
    EXPECT_TRUE(Lines("CDependLibLoader").empty());
}

TEST_F(Loader, CryptoSlotFallsBackToTheOldNamesBesideTheProgram) {
    char szExeDir[261];
    ASSERT_EQ(Utils_GetModuleDir(szExeDir, sizeof(szExeDir)), 1);
    const std::string fake = std::string(szExeDir) + "libcrypto.so.1.1";
    ASSERT_EQ(access(fake.c_str(), F_OK), -1) << "left over: " << fake;
    ASSERT_TRUE(BuildFakeLibrary(fake, 11));
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_LIBEAY, "/nonexistent/libmorva-none-crypto.so.3"), 1);
    void *hLib = m_Loader.LoadLib(BASE_DLL_LIBEAY);
    unlink(fake.c_str());
    ASSERT_NE(hLib, nullptr);
    EXPECT_EQ(FakeId(hLib), 11);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "CDependLibLoader::LoadLib, Load Step3 Failed, iDllIndex[1], szFileName[libmorva-none-crypto.so.3]");
    EXPECT_EQ(lines[2], "CDependLibLoader::LoadLib, Load Step1 SUCC, iDllIndex[1], szFullPath[" + fake + "]");
    YAR_UnloadDSo(hLib);

    // Without it all four places are tried, in order, and nothing loads.
    EXPECT_EQ(m_Loader.LoadLib(BASE_DLL_LIBEAY), nullptr);
    lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "CDependLibLoader::LoadLib, Load Step1 Failed, iDllIndex[1], szFullPath[" + fake + "]");
    EXPECT_EQ(lines[3], "CDependLibLoader::LoadLib, Load Step3 Failed, iDllIndex[1], szFileName[libcrypto.so.1.1]");
    char szPath[261];
    ASSERT_EQ(m_Loader.GetDllLoadPath(BASE_DLL_LIBEAY, szPath), 1);
    EXPECT_STREQ(szPath, "/nonexistent/libmorva-none-crypto.so.3");  // the configured path stays
}

TEST_F(Loader, PathsAndDirectories) {
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_LIBEAY, "/opt/x/libcrypto.so.3"), 1);
    ASSERT_EQ(m_Loader.SetDllLoadDir(BASE_DLL_LIBEAY, "C:\\ssl\\lib"), 1);
    char szPath[261];
    m_Loader.GetDllLoadPath(BASE_DLL_LIBEAY, szPath);
    EXPECT_STREQ(szPath, "C:/ssl/lib/libcrypto.so.3");
    ASSERT_EQ(m_Loader.SetDllLoadDir(BASE_DLL_LIBEAY, "/usr/lib/"), 1);
    m_Loader.GetDllLoadPath(BASE_DLL_LIBEAY, szPath);
    EXPECT_STREQ(szPath, "/usr/lib/libcrypto.so.3");

    // An empty slot takes the directory alone; loading it then has no file name to find.
    ASSERT_EQ(m_Loader.SetDllLoadDir(5, "/usr/lib"), 1);
    m_Loader.GetDllLoadPath(5, szPath);
    EXPECT_STREQ(szPath, "/usr/lib/");
    EXPECT_EQ(m_Loader.LoadLib(5), nullptr);
    EXPECT_EQ(m_Loader.LoadLib(BASE_DLL_ICONV), nullptr);  // never configured
    EXPECT_EQ(Lines("CDependLibLoader::LoadLib, Path is NULL").size(), 1u);

    EXPECT_EQ(m_Loader.LoadLib(16), nullptr);
    EXPECT_EQ(m_Loader.LoadLib(-1), nullptr);
    EXPECT_EQ(Lines("CDependLibLoader::LoadLib, Invalid iDllIndex").size(), 2u);
    EXPECT_EQ(m_Loader.SetDllLoadPath(16, "x"), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), MORVA_ERR_PARAM);
    EXPECT_EQ(m_Loader.SetDllLoadDir(2, nullptr), 0);
    EXPECT_EQ(m_Loader.GetDllLoadPath(0, nullptr), 0);

    // A bare name is both the full path and the file name.
    ASSERT_EQ(m_Loader.SetDllLoadPath(BASE_DLL_ZLIB, "libz.so.1"), 1);
    void *hLib = m_Loader.LoadLib(BASE_DLL_ZLIB);
    EXPECT_NE(hLib, nullptr);
    EXPECT_EQ(Lines(), std::vector<std::string>{"CDependLibLoader::LoadLib, Load Step1 SUCC, iDllIndex[3], szFullPath[libz.so.1]"});
    YAR_UnloadDSo(hLib);
}

TEST(LoaderDefaults, ControllerSlotsPointBesideTheProgram) {
    char szExeDir[261], szPath[261];
    ASSERT_EQ(Utils_GetModuleDir(szExeDir, sizeof(szExeDir)), 1);
    const char *kNames[] = {"libssl.so.3", "libcrypto.so.3", "libc.so.6", "libz.so.1", "libDAVaz.so"};
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(GetCoreGlobalCtrl()->GetDllLoadPath(i, szPath), 1);
        EXPECT_EQ(std::string(szPath), std::string(szExeDir) + kNames[i]);
    }
    // Paths set before Init return to their defaults at the last Fini.
    GetCoreGlobalCtrl()->SetDllLoadPath(BASE_DLL_ZLIB, "/custom/libz.so.1");
    ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
    GetCoreGlobalCtrl()->GetDllLoadPath(BASE_DLL_ZLIB, szPath);
    EXPECT_STREQ(szPath, "/custom/libz.so.1");
    void *hZlib = GetCoreGlobalCtrl()->LoadDSo(BASE_DLL_ZLIB);  // step 2 finds the system's
    EXPECT_NE(hZlib, nullptr);
    YAR_UnloadDSo(hZlib);
    ASSERT_EQ(GetCoreGlobalCtrl()->Fini(), 1);
    GetCoreGlobalCtrl()->GetDllLoadPath(BASE_DLL_ZLIB, szPath);
    EXPECT_EQ(std::string(szPath), std::string(szExeDir) + "libz.so.1");
}

}  // namespace
