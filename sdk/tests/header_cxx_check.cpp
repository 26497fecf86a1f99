// The public header as a C++ host sees it: string literals go to every export that takes a text,
// under -Wall -Wextra -Werror -pedantic-errors. Linked to libZEVA.so and run without a start, each
// request fails with ZEVA_ERR_NOT_START, so nothing reaches a network.
#include <cstdio>

#include "zeva/ZevaSdk.h"

// Literals, as a host writes them.
#define SERIAL "DS-SIM0000-000000000000"
#define MAC "02-d5-00-00-00-00"

namespace {

ZEVA_NET_PARAM net;
ZEVA_RESET_CODE_PARAM code;
ZEVA_RESET_PARAM_V40 v40;
ZEVA_RESET_PARAM v50;
const char resetCode[256] = "ABCD1234";  // all 256 bytes are read
BYTE result[128];
ZEVA_DEVICE_CODE deviceCode;
ZEVA_RESTORE_INACTIVE_CFG restore;

const struct {
    const char *name;
    BOOL (*call)();
    DWORD error;
} kCalls[] = {
    {"activate", [] { return ZEVA_ActivateDevice(SERIAL, "Newpass123"); }, ZEVA_ERR_NOT_START},
    {"netparam", [] { return ZEVA_ModifyDeviceNetParam(MAC, "Sim12345", &net); }, ZEVA_ERR_NOT_START},
    {"netparam V40", [] { return ZEVA_ModifyDeviceNetParam_V40(MAC, "Sim12345", &net, result, 128); },
     ZEVA_ERR_NOT_START},
    {"reset default", [] { return ZEVA_ResetDefaultPasswd(SERIAL, resetCode); }, ZEVA_ERR_NOT_START},
    {"reset", [] { return ZEVA_ResetPasswd(SERIAL, &code); }, ZEVA_ERR_NOT_START},
    {"reset V40", [] { return ZEVA_ResetPasswd_V40(SERIAL, &v40, result); }, ZEVA_ERR_NOT_START},
    {"reset V50", [] { return ZEVA_ResetPasswd_V50(SERIAL, &v50, result); }, ZEVA_ERR_NOT_START},
    {"get",
     [] { return ZEVA_GetDeviceConfig(SERIAL, ZEVA_GET_DEVICE_CODE, nullptr, 0, &deviceCode, sizeof deviceCode); },
     ZEVA_ERR_NOT_START},
    {"get by MAC", [] { return ZEVA_GetDeviceConfigByMAC(MAC, ZEVA_GET_DISK_LOCATE, nullptr, 0, nullptr, 0); },
     ZEVA_ERR_NOT_START},
    {"get V20", [] { return ZEVA_GetDeviceConfig_V20(1, SERIAL, ZEVA_GET_DISK_LOCATE, nullptr, 0, nullptr, 0); },
     ZEVA_ERR_NOT_START},
    {"set",
     [] {
         return ZEVA_SetDeviceConfig(SERIAL, ZEVA_SET_RESTORE_INACTIVE, &restore, sizeof restore, result,
                                     sizeof result);
     },
     ZEVA_ERR_NOT_START},
    {"wifi", [] { return ZEVA_WifiParamCfg(MAC, "lab-net", "wifi-pass"); }, ZEVA_ERR_NOT_START},
    {"wifi check", [] { return ZEVA_WifiParamCheck(MAC, "lab-net", "wifi-pass"); }, ZEVA_ERR_NOT_START},
    {"filter rule without its buffer", [] { return ZEVA_SetDeviceFilterRule(ZEVA_FILTER_ONLY_OEM, nullptr, 0); },
     ZEVA_ERR_PARAM},
};

}  // namespace

int main() {
    int failures = 0;
    if (!ZEVA_SetLogToFile(3, "./sdklog/", 1)) {
        std::puts("log settings refused");
        ++failures;
    }
    for (const auto &c : kCalls) {
        BOOL ok = c.call();
        DWORD error = ZEVA_GetLastError();
        if (ok != 0 || error != c.error) {
            std::printf("%s: result %d, error %u\n", c.name, int(ok), unsigned(error));
            ++failures;
        }
    }
    if (failures == 0)
        std::puts("ok");
    return failures == 0 ? 0 : 1;
}
