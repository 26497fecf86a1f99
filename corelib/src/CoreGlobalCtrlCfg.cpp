// Configuration records of the global controller and their defaults.
#include <unistd.h>

#include <cstring>

#include "CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "Utils.h"

namespace Vorezi {

namespace {

constexpr DWORD kDefaultMaxMqttConnection = 20480;

// Linux file names of the dependent libraries, slots 0 to 4.
constexpr const char *kDefaultDllNames[] = {
    "libssl.so.3", "libcrypto.so.3", "libc.so.6", "libz.so.1", "libDAVaz.so",
};

DWORD CpuCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (DWORD)n : 1;
}

}  // namespace

void CCoreGlobalCtrlBase::InitDefaultConfig() {
    std::memset(m_ThreadPoolCfg, 0, sizeof(m_ThreadPoolCfg));
    m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_DEFAULT] = {0x20000, 0, 128};
    m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_MSGCB] = {0x80000, 0, 10};
    m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_SERVERLINK] = {0x80000, 0, 10};
    m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_TIMERPROXY] = {0x40000, 0, 16};
    m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_ASYNCIO] = {0x20000, 0, 2 * CpuCount() + 2};

    std::memset(&m_AbilityCfg, 0, sizeof(m_AbilityCfg));
    m_AbilityCfg.dwMaxMqttConnection = kDefaultMaxMqttConnection;
    std::memset(&m_MemPoolInitCfg, 0, sizeof(m_MemPoolInitCfg));
    m_LogCallBackCfg = MORVA_LOG_CALLBACK_CFG{};
    m_fnOutputLogCallBack.store(nullptr);
    for (int &iIndex : m_iGlobalPoolIndex)
        iIndex = -1;
    m_fnCharConvert.store(nullptr);
    m_bCustomTiming.store(0);

    char szDir[DLL_PATH_FIELD] = {0};
    if (!Utils_GetModuleDir(szDir, sizeof(szDir)))
        szDir[0] = '\0';
    for (int i = 0; i < (int)(sizeof(kDefaultDllNames) / sizeof(kDefaultDllNames[0])); i++) {
        char szPath[DLL_PATH_FIELD];
        int n = std::snprintf(szPath, sizeof(szPath), "%s%s", szDir, kDefaultDllNames[i]);
        // A directory too long for the field leaves the bare name, which the loader still finds.
        if (n < 0 || n >= (int)sizeof(szPath))
            std::snprintf(szPath, sizeof(szPath), "%s", kDefaultDllNames[i]);
        m_DependLibLoader.SetDllLoadPath(i, szPath);
    }
}

int CCoreGlobalCtrlBase::SetInitConfig(int enumType, const void *pParam) {
    if (IsInited())
        return 0;
    switch (enumType) {
    case ENUM_MORVA_INIT_CFG_ABILITY: {
        if (!pParam) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CCoreGlobalCtrlBase::SetInitConfig, ENUM_MORVA_INIT_CFG_ABILITY, pThreadPoolParam == NULL");
            return 0;
        }
        DWORD dwMax;
        std::memcpy(&dwMax, pParam, sizeof(dwMax));
        m_AbilityCfg.dwMaxMqttConnection = dwMax ? dwMax : kDefaultMaxMqttConnection;
        return 1;
    }
    case ENUM_MORVA_INIT_CFG_MEMPOOL: {
        if (!pParam) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CCoreGlobalCtrlBase::SetInitConfig, ENUM_MORVA_INIT_CFG_MEMPOOL, pThreadPoolParam == NULL");
            return 0;
        }
        MORVA_MEMPOOL_INIT_CFG cfg;
        std::memcpy(&cfg, pParam, sizeof(cfg));
        if (cfg.bNoMemPool > 1) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CCoreGlobalCtrlBase::SetInitConfig, ENUM_MORVA_INIT_CFG_MEMPOOL, Invalid bNoMemPool[%d]",
                            (int)cfg.bNoMemPool);
            return 0;
        }
        m_MemPoolInitCfg = cfg;
        return 1;
    }
    case ENUM_MORVA_INIT_CFG_THREADPOOL: {
        if (!pParam) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CCoreGlobalCtrlBase::SetInitConfig, ENUM_MORVA_INIT_CFG_THREADPOOL, pThreadPoolParam == NULL");
            return 0;
        }
        static const int kOrder[] = {ENUM_MORVA_THREADPOOL_DEFAULT, ENUM_MORVA_THREADPOOL_MSGCB,
                                     ENUM_MORVA_THREADPOOL_SERVERLINK, ENUM_MORVA_THREADPOOL_TIMERPROXY,
                                     ENUM_MORVA_THREADPOOL_ASYNCIO};
        DWORD dwCounts[5];
        std::memcpy(dwCounts, pParam, sizeof(dwCounts));
        for (int i = 0; i < 5; i++) {
            if (dwCounts[i])
                m_ThreadPoolCfg[kOrder[i]].dwMaxCount = dwCounts[i];
        }
        return 1;
    }
    default:
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetInitConfig, Invalid enumType[%d]", enumType);
        return 0;
    }
}

MORVA_THREADPOOL_CFG CCoreGlobalCtrlBase::GetThreadPoolCfg(int iPoolId) {
    if (iPoolId < 0 || iPoolId >= ENUM_MORVA_THREADPOOL_MAX)
        return MORVA_THREADPOOL_CFG{};
    return m_ThreadPoolCfg[iPoolId];
}

MORVA_ABILITY_CFG CCoreGlobalCtrlBase::GetAbilityCfg() {
    return m_AbilityCfg;
}

int CCoreGlobalCtrlBase::IsUseMemPool() {
    return m_MemPoolInitCfg.bNoMemPool ? 0 : 1;
}

int CCoreGlobalCtrlBase::DefaultMemPoolSlot(int iKind) {
    if (iKind >= 0 && iKind <= 4)
        return iKind + 1;
    if (iKind >= 10 && iKind <= 26)
        return iKind - 4;
    return -1;
}

int CCoreGlobalCtrlBase::GetDefaultMemPoolIndex(int iKind) {
    int iSlot = DefaultMemPoolSlot(iKind);
    return iSlot < 0 ? -1 : m_iGlobalPoolIndex[iSlot];
}

int CCoreGlobalCtrlBase::GetLogFileReserved() {
    return m_LogCallBackCfg.wLogFileReserved;
}

int CCoreGlobalCtrlBase::SetLogCallBackCfg(const MORVA_LOG_CALLBACK_CFG *pCfg) {
    if (!pCfg) {
        SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
    m_LogCallBackCfg = *pCfg;
    return LogModule_SetLogCallBack(GetLogService(), pCfg->byCallBackLevel, pCfg->fnLogCallBack, pCfg->pUser);
}

void *CCoreGlobalCtrlBase::LoadDSo(int iDllIndex) {
    return m_DependLibLoader.LoadLib(iDllIndex);
}

void *CCoreGlobalCtrlBase::LoadDSoNoLog(int iDllIndex) {
    return m_DependLibLoader.LoadLibNoLog(iDllIndex);
}

int CCoreGlobalCtrlBase::SetDllLoadPath(int iDllIndex, const char *pPath) {
    return m_DependLibLoader.SetDllLoadPath(iDllIndex, pPath);
}

int CCoreGlobalCtrlBase::SetDllLoadDir(int iDllIndex, const char *pDir) {
    return m_DependLibLoader.SetDllLoadDir(iDllIndex, pDir);
}

int CCoreGlobalCtrlBase::GetDllLoadPath(int iDllIndex, char *pPath) {
    return m_DependLibLoader.GetDllLoadPath(iDllIndex, pPath);
}

}  // namespace Vorezi
