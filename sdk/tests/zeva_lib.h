// libZEVA.so loaded as a host loads it: dlopen by path and the exports looked up by name.
#pragma once

#include <dlfcn.h>

#include <string>

#include "zeva/ZevaSdk.h"

namespace sdktest {

class ZevaLib {
    void *m_handle;  // first: the exports below are bound from it

    template <typename Fn>
    Fn Bind(const char *name) {
        return m_handle ? reinterpret_cast<Fn>(dlsym(m_handle, name)) : nullptr;
    }

public:
    explicit ZevaLib(const std::string &path = ZEVA_LIB_PATH) : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~ZevaLib() {
        if (m_handle)
            dlclose(m_handle);
    }
    ZevaLib(const ZevaLib &) = delete;
    ZevaLib &operator=(const ZevaLib &) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    static std::string Error() {
        const char *e = dlerror();
        return e ? e : "";
    }

#define ZEVA_EXPORT(name) decltype(&::name) name = Bind<decltype(&::name)>(#name)
    ZEVA_EXPORT(ZEVA_Start_V30);
    ZEVA_EXPORT(ZEVA_Start_V40);
    ZEVA_EXPORT(ZEVA_Start_V50);
    ZEVA_EXPORT(ZEVA_Start_V60);
    ZEVA_EXPORT(ZEVA_Stop);
    ZEVA_EXPORT(ZEVA_Clearup);
    ZEVA_EXPORT(ZEVA_GetLastError);
    ZEVA_EXPORT(ZEVA_GetVersion);
    ZEVA_EXPORT(ZEVA_SendInquiry);
    ZEVA_EXPORT(ZEVA_ParseData);
    ZEVA_EXPORT(ZEVA_SetAutoRequestInterval);
    ZEVA_EXPORT(ZEVA_SetDeviceFilterRule);
    ZEVA_EXPORT(ZEVA_SetLogToFile);
    ZEVA_EXPORT(ZEVA_InquirySpecificSubnet);
    ZEVA_EXPORT(ZEVA_ActivateDevice);
    ZEVA_EXPORT(ZEVA_ModifyDeviceNetParam);
    ZEVA_EXPORT(ZEVA_ModifyDeviceNetParam_V40);
    ZEVA_EXPORT(ZEVA_ResetDefaultPasswd);
    ZEVA_EXPORT(ZEVA_ResetPasswd);
    ZEVA_EXPORT(ZEVA_ResetPasswd_V40);
    ZEVA_EXPORT(ZEVA_ResetPasswd_V50);
    ZEVA_EXPORT(ZEVA_GetDeviceConfig);
    ZEVA_EXPORT(ZEVA_GetDeviceConfigByMAC);
    ZEVA_EXPORT(ZEVA_GetDeviceConfig_V20);
    ZEVA_EXPORT(ZEVA_SetDeviceConfig);
    ZEVA_EXPORT(ZEVA_WifiParamCfg);
    ZEVA_EXPORT(ZEVA_WifiParamCheck);
#undef ZEVA_EXPORT
};

}  // namespace sdktest
