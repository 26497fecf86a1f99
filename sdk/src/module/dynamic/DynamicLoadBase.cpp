#include "module/dynamic/DynamicLoadBase.h"

#include "utils/SdkLog.h"
#include "yar/yar_error.h"

namespace ZEVA {

DynamicLoadBase::~DynamicLoadBase() { UnloadLib(); }

YAR_DSO_HANDLE DynamicLoadBase::LoadDSo(const char *pPath) {
    if (!pPath) {
        ZEVA_LOG_ERR("DynamicLoadBase::LoadDSo, Failed, szDllLoadPath == NULL");
        return nullptr;
    }
    YAR_DSO_HANDLE handle = YAR_LoadDSo(pPath);
    if (handle)
        ZEVA_LOG_INF("DynamicLoadBase::LoadDSo, YAR_LoadDSo succ, LoadPath[%s]", pPath);
    else
        ZEVA_LOG_ERR("DynamicLoadBase::LoadDSo, YAR_LoadDSo Failed, LoadPath[%s], syserror[%d]", pPath,
                     YAR_GetSystemLastError());
    return handle;
}

int DynamicLoadBase::LoadLib(const char *pPath) {
    if (IsLoaded()) {
        ZEVA_LOG_ERR("DynamicLoadBase::LoadLib, m_bIsLoad = YAR_TRUE");
        return 1;
    }
    m_hLibHandle = LoadDSo(pPath);
    if (!m_hLibHandle) {
        ZEVA_LOG_ERR("DynamicLoadBase::LoadLib, YAR_INVALID_HANDLE == m_hLibHandle");
        return 0;
    }
    if (!LoadAPI()) {
        ZEVA_LOG_ERR("DynamicLoadBase::LoadLib, LoadAPI fialed");
        UnloadLib();
        return 0;
    }
    if (!IsAllAPILoaded()) {
        ZEVA_LOG_ERR("DynamicLoadBase::LoadLib, IsAllAPILoaded fialed");
        UnloadLib();
        return 0;
    }
    m_bIsLoad.store(1);
    return 1;
}

int DynamicLoadBase::UnloadLib() {
    if (m_hLibHandle)
        YAR_UnloadDSo(m_hLibHandle);
    m_hLibHandle = nullptr;
    ZEVA_LOG_DBG("~DynamicLoadBase::UnloadLib SUCC");
    m_bIsLoad.store(0);
    return 1;
}

int DynamicLoadBase::IsFuncExist(const void *pFunc, const char *pName) {
    if (pFunc)
        return 1;
    if (pName)
        ZEVA_LOG_ERR("DynamicLoadBase::IsFuncExist, Function[%s] Unload", pName);
    return 0;
}

}  // namespace ZEVA
