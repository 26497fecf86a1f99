// A library the SDK loads by path at run time and binds by name, without linking it.
#pragma once

#include <atomic>
#include <cstdint>

#include "yar/yar_dso.h"

namespace ZEVA {

class DynamicLoadBase {
public:
    DynamicLoadBase() = default;
    virtual ~DynamicLoadBase();
    DynamicLoadBase(const DynamicLoadBase &) = delete;
    DynamicLoadBase &operator=(const DynamicLoadBase &) = delete;

    // Loads, binds and checks; 1 when the library is usable. A failed attempt unloads again.
    int LoadLib(const char *pPath);
    YAR_DSO_HANDLE LoadDSo(const char *pPath);
    int UnloadLib();
    int IsFuncExist(const void *pFunc, const char *pName);
    bool IsLoaded() const { return m_bIsLoad.load() != 0; }

    virtual int LoadAPI() = 0;
    virtual int IsAllAPILoaded() = 0;

protected:
    YAR_DSO_HANDLE m_hLibHandle = nullptr;
    std::atomic<uint32_t> m_bIsLoad{0};
};

}  // namespace ZEVA
