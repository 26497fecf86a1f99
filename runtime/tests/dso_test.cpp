#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "yar/yar_dso.h"
#include "yar/yar_error.h"

namespace {

std::string TestDirectory() {
    char buf[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", buf, sizeof buf);
    std::string exe(buf, len > 0 ? static_cast<size_t>(len) : 0);
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string Canonical(const std::string &path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? buf : "(unresolved) " + path;
}

using ZlibVersionFn = const char *(*)();

}  // namespace

TEST(Dso, LoadsByPathAndByBareName) {
    struct Case { std::string path; std::string symbol; std::string loadedFrom; };
    const Case cases[] = {
        {"/usr/lib/x86_64-linux-gnu/libz.so.1", "zlibVersion", "/usr/lib/x86_64-linux-gnu/libz.so.1"},
        {"\\usr\\lib\\x86_64-linux-gnu\\libz.so.1", "zlibVersion", "/usr/lib/x86_64-linux-gnu/libz.so.1"},
        {"libz.so.1", "zlibVersion", ""},  // the system's search
        {"libyardsofixture.so", "yar_dso_fixture_answer", TestDirectory() + "libyardsofixture.so"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        YAR_DSO_HANDLE h = YAR_LoadDSo(c.path.c_str());
        ASSERT_NE(h, YAR_INVALID_HANDLE) << YAR_GetDsoError();
        EXPECT_NE(YAR_GetDsoSym(h, c.symbol.c_str()), nullptr);
        char path[PATH_MAX];
        ASSERT_EQ(YAR_GetDsoPath(h, path, sizeof path), 0);
        if (!c.loadedFrom.empty()) {
            EXPECT_EQ(Canonical(path), Canonical(c.loadedFrom));
        }
        EXPECT_EQ(YAR_GetDsoPath(h, path, static_cast<int32_t>(std::strlen(path))), -1);
        EXPECT_EQ(YAR_UnloadDSo(h), 0);
    }
}

TEST(Dso, SymbolsAreCallableAndMissingOnesReportTheName) {
    YAR_DSO_HANDLE h = YAR_LoadDSo("libz.so.1");
    ASSERT_NE(h, nullptr);
    auto version = reinterpret_cast<ZlibVersionFn>(YAR_GetDsoSym(h, "zlibVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::string(version()).substr(0, 2), "1.");

    YAR_SetSystemLastError(0);
    EXPECT_EQ(YAR_GetDsoSym(h, "no_such_symbol_in_zlib"), nullptr);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_PROC_NOT_FOUND);
    EXPECT_NE(std::strstr(YAR_GetDsoError(), "no_such_symbol_in_zlib"), nullptr) << YAR_GetDsoError();
    EXPECT_EQ(YAR_GetDsoSym(h, nullptr), nullptr);
    EXPECT_EQ(YAR_GetDsoSym(nullptr, "zlibVersion"), nullptr);
    EXPECT_EQ(YAR_UnloadDSo(h), 0);
}

TEST(Dso, RefusedAndMissingLibraries) {
    struct Case { const char *path; int syserr; };
    const std::string tooLong = "/" + std::string(299, 'a');
    const std::string justTooLong = "/" + std::string(259, 'a');
    const Case cases[] = {
        {nullptr, YAR_SYSERR_INVALID_PARAMETER},
        {"", YAR_SYSERR_INVALID_PARAMETER},
        {tooLong.c_str(), YAR_SYSERR_INVALID_PARAMETER},
        {justTooLong.c_str(), YAR_SYSERR_INVALID_PARAMETER},
        {"libyar-missing.so.9", YAR_SYSERR_MOD_NOT_FOUND},
        {"/nonexistent/dir/libz.so.1", YAR_SYSERR_MOD_NOT_FOUND},
        {"/etc/hostname", YAR_SYSERR_MOD_NOT_FOUND},  // not a library
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        YAR_SetSystemLastError(0);
        EXPECT_EQ(YAR_LoadDSo(c.path), nullptr);
        EXPECT_EQ(YAR_GetSystemLastError(), c.syserr);
        EXPECT_STRNE(YAR_GetDsoError(), "");
    }
    EXPECT_EQ(YAR_UnloadDSo(nullptr), -1);
}

TEST(DsoObject, KeepsTheFirstTokenAndCopiesNothing) {
    yar::yar_dso fromText("C:\\a b\\c.dll");
    EXPECT_STREQ(fromText.GetPath(), "C:\\a");
    EXPECT_EQ(fromText.GetHandle(), nullptr);
    EXPECT_EQ(fromText.NormalizePath(), 0);
    EXPECT_STREQ(fromText.GetPath(), "C:/a");

    yar::yar_dso tooLong(std::string(260, 'x').c_str());
    EXPECT_STREQ(tooLong.GetPath(), "");

    yar::yar_dso loaded(YAR_LoadDSo("libz.so.1"));
    ASSERT_NE(loaded.GetHandle(), nullptr);
    EXPECT_NE(loaded.GetSym("zlibVersion"), nullptr);
    yar::yar_dso copy(loaded);
    EXPECT_EQ(copy.GetHandle(), nullptr);
    EXPECT_EQ(copy.GetSym("zlibVersion"), nullptr);

    yar::yar_dso target("x\\y.so  trailing");
    target = loaded;
    EXPECT_STREQ(target.GetPath(), "x/y.so");
    EXPECT_EQ(target.GetHandle(), nullptr);
    EXPECT_EQ(loaded.Unload(), 0);
    EXPECT_EQ(loaded.GetHandle(), nullptr);
}
