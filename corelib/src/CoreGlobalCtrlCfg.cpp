// Configuration records of the global controller and their defaults.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "Module/Memory/ObjectBase.h"
#include "Utils.h"
#include "morva/ComInterfaceMorva.h"
#include "transport/link/LinkFactory.h"

namespace Vorezi {

namespace {

constexpr DWORD kDefaultMaxMqttConnection = 20480;
constexpr DWORD kDefaultConnectTimeOut = 3500;
constexpr DWORD kDefaultRecvTimeOut = 5000;

// Linux file names of the dependent libraries, slots 0 to 4.
constexpr const char *kDefaultDllNames[] = {
    "libssl.so.3", "libcrypto.so.3", "libc.so.6", "libz.so.1", "libDAVaz.so",
};


// Allocation records of pooled objects (record 6).
constexpr DWORD kObjectRecordSize = sizeof(CObjectBasePrivate);

constexpr DWORD kMaxAllocCount = 0x14000;

void DefaultMemPoolTable(MORVA_MEMPOOL_RECORD *pTable) {
    std::memset(pTable, 0, sizeof(MORVA_MEMPOOL_RECORD) * MORVA_DEFAULT_MEMPOOL_COUNT);
    auto set = [&](int i, DWORD dwSize, DWORD dwOnce) { pTable[i] = {dwSize, dwOnce, kMaxAllocCount, 0, 0}; };
    set(0, 32, 64);
    set(1, 128, 64);
    set(2, 0x8400, 64);
    set(3, 112, 64);
    set(4, Link_GetMaxLinkSize(), 16);  // the largest client link object
    set(6, kObjectRecordSize, 64);
    // Records 10 to 26: 32 bytes, then doubling up to 0x200000, fewer units per step as they grow.
    static const DWORD kOnce[] = {64, 64, 64, 64, 32, 32, 32, 32, 16, 16, 16, 16, 8, 4, 4, 2, 1};
    DWORD dwSize = 32;
    for (int i = 10; i < MORVA_DEFAULT_MEMPOOL_COUNT; i++, dwSize *= 2)
        set(i, dwSize, kOnce[i - 10]);
}

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
    DefaultMemPoolTable(m_DefaultMemPool);
    m_LogCallBackCfg = MORVA_LOG_CALLBACK_CFG{};
    m_fnOutputLogCallBack.store(nullptr);
    for (int &iIndex : m_iGlobalPoolIndex)
        iIndex = -1;
    m_fnCharConvert.store(nullptr);
    m_bCustomTiming.store(0);

    m_dwConnectTimeOut = kDefaultConnectTimeOut;
    m_dwConnectSecond = 3;
    m_dwRecvTimeOut = kDefaultRecvTimeOut;
    m_bNagle = 0;
    m_bAsyncIO = 1;
    std::memset(m_byProxyTable, 0, sizeof(m_byProxyTable));
    m_CAPathCfg = MORVA_CA_PATH_CFG{};
    m_TcpPortRange = {};
    m_UdpPortRange = {};
    m_bTcpPortPool = 0;
    m_bUdpPortPool = 0;
    m_bPortMultiList = 0;
    m_bTcpListCreated = 0;
    m_bUdpListCreated = 0;
    ResetLocalIP();

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

MORVA_MEMPOOL_RECORD CCoreGlobalCtrlBase::GetDefaultMemPoolRecord(int enumDefaultMemPool) {
    if (enumDefaultMemPool < 0 || enumDefaultMemPool >= MORVA_DEFAULT_MEMPOOL_COUNT)
        return MORVA_MEMPOOL_RECORD{};
    return m_DefaultMemPool[enumDefaultMemPool];
}

int CCoreGlobalCtrlBase::SetMemPoolParam(int enumDefaultMemPool, DWORD dwMaxMemberSize, DWORD dwOnceAllocCount,
                                         DWORD dwMaxAllocCount) {
    if (!IsUseMemPool())
        return 1;
    if (m_bCreateMemPoolSucc) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetMemPoolParam, m_bCreateMemPoolSucc is TRUE");
        return 0;
    }
    if (enumDefaultMemPool < 0 || enumDefaultMemPool >= MORVA_DEFAULT_MEMPOOL_COUNT) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::SetMemPoolParam, Invalid enumDefaultMemPool[%d]",
                        enumDefaultMemPool);
        return 0;
    }
    // Values only grow: a pool never becomes too small for what its users put in it.
    MORVA_MEMPOOL_RECORD &rec = m_DefaultMemPool[enumDefaultMemPool];
    rec.dwMaxMemberSize = std::max(rec.dwMaxMemberSize, dwMaxMemberSize);
    rec.dwOnceAllocCount = std::max(rec.dwOnceAllocCount, dwOnceAllocCount);
    rec.dwMaxAllocCount = std::max(rec.dwMaxAllocCount, dwMaxAllocCount);
    return 1;
}

MORVA_THREADPOOL_CFG CCoreGlobalCtrlBase::GetThreadPoolCfg(int iPoolId) {
    if (iPoolId < 0 || iPoolId >= ENUM_MORVA_THREADPOOL_MAX)
        return MORVA_THREADPOOL_CFG{};
    return m_ThreadPoolCfg[iPoolId];
}

MORVA_ABILITY_CFG CCoreGlobalCtrlBase::GetAbilityCfg() {
    return m_AbilityCfg;
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
    // Through the flat entry, which pins the global log and logs the registration.
    return Morva_SetLogCallBack(pCfg->byCallBackLevel, reinterpret_cast<MORVA_LOG_CALLBACK>(pCfg->fnLogCallBack),
                                pCfg->pUser);
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
