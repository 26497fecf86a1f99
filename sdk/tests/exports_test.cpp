// The exports that need no network, called through libZEVA.so: argument and state cases, and
// what the library shows to the dynamic linker.
#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "netns/shell.h"
#include "zeva_lib.h"

namespace {

class Exports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zeva.Loaded()) << sdktest::ZevaLib::Error(); }
    sdktest::ZevaLib zeva;
};

TEST_F(Exports, VersionClearsTheLastError) {
    ASSERT_EQ(0, zeva.ZEVA_Stop());
    ASSERT_EQ(2002u, zeva.ZEVA_GetLastError());
    EXPECT_EQ(0x04040038u, zeva.ZEVA_GetVersion());
    EXPECT_EQ(0u, zeva.ZEVA_GetLastError());
}

TEST_F(Exports, ArgumentAndStateCases) {
    uint32_t rule[9] = {0xA1B2C3D4};
    ZEVA_START_PARAM noCallback{nullptr, nullptr, nullptr};
    std::string longDir(260, 'l');
    struct Case {
        const char *name;
        int (*call)(sdktest::ZevaLib &, void *);
        void *arg;
        int result;
        uint32_t error;
    } cases[] = {
        {"Stop before a start", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_Stop(); }, nullptr, 0, 2002},
        {"Clearup before a start", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_Clearup(); }, nullptr, 0, 2002},
        {"SendInquiry before a start", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_SendInquiry(); }, nullptr, 0, 2002},
        {"ParseData before a start", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_ParseData((void *)"<a/>", 4); },
         nullptr, 0, 2002},
        {"ParseData without buffer", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_ParseData(nullptr, 4); }, nullptr,
         0, 2005},
        {"ParseData of no bytes", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_ParseData((void *)"<a/>", 0); },
         nullptr, 0, 2005},
        {"Start_V30 without callback",
         [](sdktest::ZevaLib &z, void *) { return z.ZEVA_Start_V30(nullptr, nullptr, nullptr); }, nullptr, 0, 2005},
        {"Start_V40 without callback",
         [](sdktest::ZevaLib &z, void *) { return z.ZEVA_Start_V40(nullptr, nullptr, nullptr); }, nullptr, 0, 2005},
        {"Start_V50 without record", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_Start_V50(nullptr); }, nullptr, 0, 2005},
        {"Start_V50 without fnDevCB",
         [](sdktest::ZevaLib &z, void *p) { return z.ZEVA_Start_V50(static_cast<ZEVA_START_PARAM *>(p)); }, &noCallback, 0, 2005},
        {"filter -3 with 35 bytes",
         [](sdktest::ZevaLib &z, void *p) { return z.ZEVA_SetDeviceFilterRule(-3, p, 35); }, rule, 0, 2005},
        {"filter -3 without buffer",
         [](sdktest::ZevaLib &z, void *) { return z.ZEVA_SetDeviceFilterRule(-3, nullptr, 36); }, nullptr, 0, 2005},
        {"filter -3 with 36 bytes",
         [](sdktest::ZevaLib &z, void *p) { return z.ZEVA_SetDeviceFilterRule(-3, p, 36); }, rule, 1, 0},
        {"filter 7 unchecked", [](sdktest::ZevaLib &z, void *) { return z.ZEVA_SetDeviceFilterRule(7, nullptr, 0); }, nullptr,
         1, 0},
        {"log directory too long",
         [](sdktest::ZevaLib &z, void *p) { return z.ZEVA_SetLogToFile(3, static_cast<const char *>(p), 1); },
         &longDir[0], 0, 2005},
        {"log settings before a start",
         [](sdktest::ZevaLib &z, void *) { return z.ZEVA_SetLogToFile(2, "/tmp/zeva-never", 0); }, nullptr, 1, 0},
    };
    for (const Case &c : cases) {
        zeva.ZEVA_GetVersion();  // a known last error of 0 before each case
        EXPECT_EQ(c.result, c.call(zeva, c.arg)) << c.name;
        EXPECT_EQ(c.error, zeva.ZEVA_GetLastError()) << c.name;
    }
    EXPECT_EQ(30u, zeva.ZEVA_SetAutoRequestInterval(30));
    EXPECT_EQ(0u, zeva.ZEVA_SetAutoRequestInterval(0));
}

TEST(ExportsLinkage, OnlyZevaNamesAreVisible) {
    zeva::test::CmdResult nm = zeva::test::Sh(std::string("nm -D --defined-only ") + ZEVA_LIB_PATH);
    ASSERT_EQ(0, nm.status) << nm.out;
    std::set<std::string> names;
    std::istringstream lines(nm.out);
    std::string addr, kind, name;
    while (lines >> addr >> kind >> name)
        names.insert(name);
    const std::set<std::string> all = {
        "ZEVA_ActivateDevice",       "ZEVA_Clearup",          "ZEVA_GetDeviceConfig",
        "ZEVA_GetDeviceConfigByMAC", "ZEVA_GetDeviceConfig_V20", "ZEVA_GetLastError",
        "ZEVA_GetVersion",           "ZEVA_InquirySpecificSubnet", "ZEVA_ModifyDeviceNetParam",
        "ZEVA_ModifyDeviceNetParam_V40", "ZEVA_ParseData",    "ZEVA_ResetDefaultPasswd",
        "ZEVA_ResetPasswd",          "ZEVA_ResetPasswd_V40",  "ZEVA_ResetPasswd_V50",
        "ZEVA_SendInquiry",          "ZEVA_SetAutoRequestInterval", "ZEVA_SetDeviceConfig",
        "ZEVA_SetDeviceFilterRule",  "ZEVA_SetLogToFile",     "ZEVA_Start_V30",
        "ZEVA_Start_V40",            "ZEVA_Start_V50",        "ZEVA_Start_V60",
        "ZEVA_Stop",                 "ZEVA_WifiParamCfg",     "ZEVA_WifiParamCheck"};
    ASSERT_EQ(27u, all.size());
    for (const std::string &n : all)
        EXPECT_EQ(1u, names.count(n)) << n << " is not exported";
    for (const std::string &n : names)
        EXPECT_EQ(0u, n.rfind("ZEVA_", 0)) << n << " leaks from the library";
    zeva::test::CmdResult soname = zeva::test::Sh(std::string("readelf -d ") + ZEVA_LIB_PATH);
    EXPECT_NE(std::string::npos, soname.out.find("Library soname: [libZEVA.so.4]"));
    EXPECT_NE(std::string::npos, soname.out.find("NODELETE"));
}

}  // namespace
