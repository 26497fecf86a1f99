// The argument checks of the request exports and both command tables, through libZEVA.so and
// without a network: a call the checks refuse ends with 2005, one they let through reaches the
// controller, which is not started (2002).
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zeva_lib.h"

namespace {

char kSerial[] = "DS-SIM0000-000000000000";
char kMac[] = "02-d5-00-00-00-00";
char kPassword[] = "Sim12345";

class RequestExports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zeva.Loaded()) << sdktest::ZevaLib::Error(); }
    // The result and last error of one call, the last error set to 0 before it.
    template <typename Call>
    std::pair<int, uint32_t> Run(Call call) {
        zeva.ZEVA_GetVersion();
        int r = call();
        return {r, zeva.ZEVA_GetLastError()};
    }
    sdktest::ZevaLib zeva;
};

TEST_F(RequestExports, GetCommandSizes) {
    std::vector<uint8_t> out(20000);
    const struct {
        uint32_t command;
        uint32_t size;
        uint32_t error;
    } rows[] = {
        {1, 260, 2002},   {1, 259, 2005},   {2, 388, 2002},   {3, 388, 2002},   {5, 388, 2002},   {5, 900, 2005},
        {6, 13076, 2002}, {12, 6288, 2002}, {17, 212, 2002},  {18, 0, 2002},    {21, 652, 2002},  {21, 1548, 2005},
        {24, 128, 2002},  {27, 76, 2002},   {29, 1444, 2002}, {30, 1028, 2002}, {31, 1540, 2002}, {32, 900, 2002},
        {33, 1548, 2002}, {33, 652, 2005},  {4, 128, 2005},   {19, 128, 2005},  {34, 128, 2005},  {2, 0, 2005},
    };
    for (const auto &row : rows) {
        auto r = Run([&] {
            return zeva.ZEVA_GetDeviceConfig(kSerial, row.command, nullptr, 0, row.size ? out.data() : nullptr,
                                             row.size);
        });
        EXPECT_EQ(0, r.first);
        EXPECT_EQ(row.error, r.second) << "command " << row.command << " size " << row.size;
    }
    EXPECT_EQ(2005u, Run([&] { return zeva.ZEVA_GetDeviceConfigByMAC(nullptr, 3, nullptr, 0, out.data(), 388); }).second);
    EXPECT_EQ(2005u, Run([&] { return zeva.ZEVA_GetDeviceConfig_V20(0, (char *)"", 3, nullptr, 0, out.data(), 388); }).second);
    EXPECT_EQ(2002u, Run([&] { return zeva.ZEVA_GetDeviceConfigByMAC(kMac, 3, nullptr, 0, out.data(), 388); }).second);
}

TEST_F(RequestExports, SetCommandSizes) {
    std::vector<uint8_t> in(20000, 'x'), out(256);
    const struct {
        uint32_t command;
        uint32_t inSize;
        uint32_t outSize;
        uint32_t error;
    } rows[] = {
        {7, 13076, 256, 2002}, {7, 13076, 128, 2005}, {8, 152, 128, 2002},  {8, 151, 128, 2005}, {9, 160, 128, 2002},
        {13, 6288, 128, 2002}, {14, 144, 128, 2002},  {14, 144, 0, 2005},   {15, 148, 128, 2002}, {16, 160, 128, 2002},
        {19, 116, 128, 2002},  {20, 276, 128, 2002},  {22, 200, 0, 2002},   {23, 200, 0, 2002},  {25, 272, 128, 2002},
        {26, 772, 128, 2002},  {28, 292, 128, 2002},  {28, 292, 256, 2005}, {4, 128, 128, 2005}, {10, 128, 128, 2005},
        {22, 0, 0, 2005},
    };
    for (const auto &row : rows) {
        auto r = Run([&] {
            return zeva.ZEVA_SetDeviceConfig(kSerial, row.command, row.inSize ? in.data() : nullptr, row.inSize,
                                             row.outSize ? out.data() : nullptr, row.outSize);
        });
        EXPECT_EQ(0, r.first);
        EXPECT_EQ(row.error, r.second) << "command " << row.command << " sizes " << row.inSize << "/" << row.outSize;
    }
    // The further checks: an empty mailbox address, an empty SSID.
    std::vector<uint8_t> mail(276, 0);
    EXPECT_EQ(2005u, Run([&] { return zeva.ZEVA_SetDeviceConfig(kSerial, 20, mail.data(), 276, out.data(), 128); }).second);
    ZEVA_WIFI_PARAM wifi{};
    std::strcpy(wifi.szPassword, "p");
    EXPECT_EQ(2005u, Run([&] { return zeva.ZEVA_SetDeviceConfig(kSerial, 22, &wifi, 200, nullptr, 0); }).second);
    EXPECT_EQ(2005u, Run([&] { return zeva.ZEVA_SetDeviceConfig(nullptr, 8, in.data(), 152, out.data(), 128); }).second);
}

TEST_F(RequestExports, OtherRequests) {
    ZEVA_NET_PARAM net{};
    uint8_t ret[256] = {};
    std::string ssid64(64, 's'), ssid65(65, 's');
    std::unique_ptr<ZEVA_RESET_PARAM> v50(new ZEVA_RESET_PARAM());
    std::unique_ptr<ZEVA_RESET_PARAM_V40> v40(new ZEVA_RESET_PARAM_V40());
    ZEVA_RESET_CODE_PARAM code{};
    char code256[256] = "RC0000000000";
    const struct {
        const char *name;
        std::function<int()> call;
        uint32_t error;
    } rows[] = {
        {"activate", [&] { return zeva.ZEVA_ActivateDevice(kSerial, kPassword); }, 2002},
        {"activate no password", [&] { return zeva.ZEVA_ActivateDevice(kSerial, nullptr); }, 2005},
        {"activate empty serial", [&] { return zeva.ZEVA_ActivateDevice((char *)"", kPassword); }, 2005},
        {"net", [&] { return zeva.ZEVA_ModifyDeviceNetParam(kMac, kPassword, &net); }, 2002},
        {"net V40", [&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(kMac, kPassword, &net, ret, 128); }, 2002},
        {"net V40 size 256", [&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(kMac, kPassword, &net, ret, 256); }, 2005},
        {"net V40 no result", [&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(kMac, kPassword, &net, nullptr, 128); },
         2005},
        {"reset V50", [&] { return zeva.ZEVA_ResetPasswd_V50(kSerial, v50.get(), ret); }, 2002},
        {"reset V50 empty serial", [&] { return zeva.ZEVA_ResetPasswd_V50((char *)"", v50.get(), ret); }, 2005},
        {"reset V40", [&] { return zeva.ZEVA_ResetPasswd_V40(kSerial, v40.get(), ret); }, 2002},
        {"reset V40 no result", [&] { return zeva.ZEVA_ResetPasswd_V40(kSerial, v40.get(), nullptr); }, 2005},
        {"reset", [&] { return zeva.ZEVA_ResetPasswd(kSerial, &code); }, 2002},
        {"reset no record", [&] { return zeva.ZEVA_ResetPasswd(kSerial, nullptr); }, 2005},
        {"reset default", [&] { return zeva.ZEVA_ResetDefaultPasswd(kSerial, code256); }, 2002},
        {"reset default no code", [&] { return zeva.ZEVA_ResetDefaultPasswd(kSerial, nullptr); }, 2005},
        {"wifi 64", [&] { return zeva.ZEVA_WifiParamCfg(kMac, &ssid64[0], kPassword); }, 2002},
        {"wifi 65", [&] { return zeva.ZEVA_WifiParamCfg(kMac, &ssid65[0], kPassword); }, 2005},
        {"wifi check 65", [&] { return zeva.ZEVA_WifiParamCheck(kMac, kPassword, &ssid65[0]); }, 2005},
        {"wifi check no MAC", [&] { return zeva.ZEVA_WifiParamCheck(nullptr, kPassword, kPassword); }, 2005},
    };
    for (const auto &row : rows) {
        auto r = Run(row.call);
        EXPECT_EQ(0, r.first) << row.name;
        EXPECT_EQ(row.error, r.second) << row.name;
    }
}

}  // namespace
