// Lifecycle, per-thread values, library mutexes, debug categories and the log registry of the
// global controller.
#include "GlobalCtrl/CoreGlobalCtrl.h"

#include <new>
#include <thread>

#include "Module/Log/LogService.h"
#include "Module/Zlib/ZlibAPI.h"
#include "crypto/OpenSSLAPI.h"
#include "yar/yar_init.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

struct CCoreGlobalCtrlBase::LibMutexes {
    YAR_MUTEX_T m_Mutex[MUTEX_COUNT];
};

namespace {

// Per-thread slots. A value counts only under the generation it was written in, so a new
// Init starts every thread at 0 as freshly created slots would.
struct ThreadValues {
    uint32_t dwGeneration = 0;
    int iError = 0;
    int iUser1 = 0;
    int iUser2 = 0;
};
thread_local ThreadValues t_Values;

// The default configuration logs while the controller is being built; those calls reach the
// object under construction instead of re-entering the static initialisation.
thread_local CCoreGlobalCtrlBase *t_pConstructing = nullptr;

}  // namespace

CCoreGlobalCtrlBase *GetCoreGlobalCtrl() {
    if (t_pConstructing)
        return t_pConstructing;
    // Never destroyed: threads a host leaves running at exit may still log or read the error code.
    static CCoreGlobalCtrlBase *s_pCtrl = new CCoreGlobalCtrlBase;
    return s_pCtrl;
}

CCoreGlobalCtrlBase::CCoreGlobalCtrlBase() {
    t_pConstructing = this;
    InitDefaultConfig();
    t_pConstructing = nullptr;
}

CCoreGlobalCtrlBase::~CCoreGlobalCtrlBase() = default;

// ---- per-thread values ----

static ThreadValues &CurrentValues(uint32_t dwGeneration) {
    ThreadValues &values = t_Values;
    if (values.dwGeneration != dwGeneration)
        values = ThreadValues{dwGeneration, 0, 0, 0};
    return values;
}

int CCoreGlobalCtrlBase::GetLastError() {
    if (!m_bTlsCreated.load(std::memory_order_acquire))
        return m_iFallbackError.load();
    return CurrentValues(m_dwTlsGeneration.load()).iError;
}

void CCoreGlobalCtrlBase::SetLastError(int iCode) {
    if (!m_bTlsCreated.load(std::memory_order_acquire)) {
        m_iFallbackError.store(iCode);
        return;
    }
    CurrentValues(m_dwTlsGeneration.load()).iError = iCode;
}

void SetError(int iCode) {
    GetCoreGlobalCtrl()->SetLastError(iCode);
}

int LastError() {
    return GetCoreGlobalCtrl()->GetLastError();
}

void CCoreGlobalCtrlBase::GetThreadUserValues(int *pValue1, int *pValue2) {
    if (pValue1)
        *pValue1 = 0;
    if (pValue2)
        *pValue2 = 0;
    bool bTls = m_bTlsCreated.load(std::memory_order_acquire);
    ThreadValues *pValues = bTls ? &CurrentValues(m_dwTlsGeneration.load()) : nullptr;
    if (pValue1)
        *pValue1 = pValues ? pValues->iUser1 : m_iFallbackUser1.load();
    if (pValue2)
        *pValue2 = pValues ? pValues->iUser2 : m_iFallbackUser2.load();
}

void CCoreGlobalCtrlBase::SetThreadUserValues(int iValue1, int iValue2) {
    if (!m_bTlsCreated.load(std::memory_order_acquire)) {
        m_iFallbackUser1.store(iValue1);
        m_iFallbackUser2.store(iValue2);
        return;
    }
    ThreadValues &values = CurrentValues(m_dwTlsGeneration.load());
    values.iUser1 = iValue1;
    values.iUser2 = iValue2;
}

// ---- library mutexes ----

int CCoreGlobalCtrlBase::CreateMutexes() {
    if (m_pMutexes)
        return 0;
    std::unique_ptr<LibMutexes> pMutexes(new (std::nothrow) LibMutexes);
    if (!pMutexes)
        return 0;
    for (int i = 0; i < MUTEX_COUNT; i++) {
        if (YAR_MutexCreate(&pMutexes->m_Mutex[i], 0) != 0) {
            while (--i >= 0)
                YAR_MutexDestroy(&pMutexes->m_Mutex[i]);
            return 0;
        }
    }
    m_pMutexes = std::move(pMutexes);
    return 1;
}

void CCoreGlobalCtrlBase::DestroyMutexes() {
    if (!m_pMutexes)
        return;
    // Fini's fixed order: local-IP, iconv, TLS, then the rest as created. No thread holds any of
    // them by now.
    static const LibMutex kOrder[] = {MUTEX_LOCAL_IP,     MUTEX_ICONV_LIB,      MUTEX_SSL_LIB,
                                      MUTEX_LOG_REGISTRY, MUTEX_DEBUG_CATEGORY, MUTEX_RQS_LIB,
                                      MUTEX_ZLIB_LIB,     MUTEX_PERF_REGISTRY};
    for (LibMutex e : kOrder)
        YAR_MutexDestroy(&m_pMutexes->m_Mutex[e]);
    m_pMutexes.reset();
}

int CCoreGlobalCtrlBase::LockLib(LibMutex eMutex) {
    if (!m_pMutexes)
        return 0;
    return YAR_MutexLock(&m_pMutexes->m_Mutex[eMutex]) == 0 ? 1 : 0;
}

int CCoreGlobalCtrlBase::UnlockLib(LibMutex eMutex) {
    if (!m_pMutexes)
        return 0;
    return YAR_MutexUnlock(&m_pMutexes->m_Mutex[eMutex]) == 0 ? 1 : 0;
}

int CCoreGlobalCtrlBase::LocalIPLock() { return LockLib(MUTEX_LOCAL_IP); }
int CCoreGlobalCtrlBase::LocalIPUnlock() { return UnlockLib(MUTEX_LOCAL_IP); }
int CCoreGlobalCtrlBase::SSLLibLock() { return LockLib(MUTEX_SSL_LIB); }
int CCoreGlobalCtrlBase::SSLLibUnlock() { return UnlockLib(MUTEX_SSL_LIB); }
int CCoreGlobalCtrlBase::LibiconvLibLock() { return LockLib(MUTEX_ICONV_LIB); }
int CCoreGlobalCtrlBase::LibiconvLibUnlock() { return UnlockLib(MUTEX_ICONV_LIB); }
int CCoreGlobalCtrlBase::RqsLibLock() { return LockLib(MUTEX_RQS_LIB); }
int CCoreGlobalCtrlBase::RqsLibUnlock() { return UnlockLib(MUTEX_RQS_LIB); }
int CCoreGlobalCtrlBase::LibLock() { return LockLib(MUTEX_ZLIB_LIB); }
int CCoreGlobalCtrlBase::LibUnlock() { return UnlockLib(MUTEX_ZLIB_LIB); }

// ---- debug categories ----

int CCoreGlobalCtrlBase::EnableDebugCategory(DWORD dwCategory) {
    if (dwCategory == 0 || !LockLib(MUTEX_DEBUG_CATEGORY))
        return 0;
    int iResult = 0;
    int iFree = -1;
    for (int i = 0; i < MORVA_MAX_DEBUG_CATEGORY; i++) {
        DWORD dwSlot = m_dwDebugCategory[i].load();
        if (dwSlot == dwCategory) {
            iResult = 1;
            break;
        }
        if (dwSlot == 0 && iFree < 0)
            iFree = i;
    }
    if (!iResult && iFree >= 0) {
        m_dwDebugCategory[iFree].store(dwCategory);
        m_dwDebugCategoryCount.fetch_add(1);
        iResult = 1;
    }
    UnlockLib(MUTEX_DEBUG_CATEGORY);
    return iResult;
}

int CCoreGlobalCtrlBase::DisableDebugCategory(DWORD dwCategory) {
    if (dwCategory == 0 || !LockLib(MUTEX_DEBUG_CATEGORY))
        return 0;
    for (auto &slot : m_dwDebugCategory) {
        if (slot.load() == dwCategory) {
            slot.store(0);
            m_dwDebugCategoryCount.fetch_sub(1);
        }
    }
    UnlockLib(MUTEX_DEBUG_CATEGORY);
    return 1;
}

int CCoreGlobalCtrlBase::ClearDebugCategories() {
    if (!LockLib(MUTEX_DEBUG_CATEGORY))
        return 0;
    for (auto &slot : m_dwDebugCategory)
        slot.store(0);
    m_dwDebugCategoryCount.store(0);
    UnlockLib(MUTEX_DEBUG_CATEGORY);
    return 1;
}

int CCoreGlobalCtrlBase::FindDebugCategory(DWORD dwCategory) {
    for (auto &slot : m_dwDebugCategory) {
        if (slot.load() == dwCategory)
            return 1;
    }
    return 0;
}

// ---- log services ----

int CCoreGlobalCtrlBase::RegisterLogService(CLogService *pLog) {
    if (!LockLib(MUTEX_LOG_REGISTRY))
        return -1;
    int iSlot = -1;
    bool bPresent = false;
    for (int i = 0; i < MORVA_MAX_LOG_SERVICE; i++) {
        if (m_pLogRegistry[i] == pLog)
            bPresent = true;
        else if (!m_pLogRegistry[i] && iSlot < 0)
            iSlot = i;
    }
    if (bPresent || !pLog)
        iSlot = -1;
    else if (iSlot >= 0)
        m_pLogRegistry[iSlot] = pLog;
    UnlockLib(MUTEX_LOG_REGISTRY);
    return iSlot;
}

void CCoreGlobalCtrlBase::UnRegisterLogService(CLogService *pLog) {
    if (!LockLib(MUTEX_LOG_REGISTRY))
        return;
    for (auto &slot : m_pLogRegistry) {
        if (slot == pLog) {
            slot = nullptr;
            break;
        }
    }
    UnlockLib(MUTEX_LOG_REGISTRY);
}

CLogService *CCoreGlobalCtrlBase::GetLogService() {
    return m_pLogService.load(std::memory_order_acquire);
}

CLogService *CCoreGlobalCtrlBase::TakeLogService() {
    m_iLogServiceUsers.fetch_add(1, std::memory_order_acq_rel);
    CLogService *pLog = m_pLogService.load(std::memory_order_acquire);
    if (!pLog)
        m_iLogServiceUsers.fetch_sub(1, std::memory_order_acq_rel);
    return pLog;
}

void CCoreGlobalCtrlBase::PutLogService() {
    m_iLogServiceUsers.fetch_sub(1, std::memory_order_acq_rel);
}

int CCoreGlobalCtrlBase::SetOutputLogCallBack(LOG_OUTPUT_CALLBACK fnCallBack) {
    m_fnOutputLogCallBack.store(fnCallBack);
    return 1;
}

DWORD CCoreGlobalCtrlBase::HasOutputLogCallBack() {
    return m_fnOutputLogCallBack.load() ? 1 : 0;
}

void CCoreGlobalCtrlBase::OutputLogCallBack(int iLevel, const char *pFile, int iLine, const char *pText) {
    if (LOG_OUTPUT_CALLBACK fn = m_fnOutputLogCallBack.load())
        fn(iLevel, pFile, iLine, pText);
}

int CCoreGlobalCtrlBase::IsUseLogConfigFile() {
    LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::IsUseLogConfigFile");
    return 0;
}

// ---- lifecycle ----

// Steps of InitAllResource after the runtime start, in order. Each failure fails the whole Init,
// which then undoes every step before it.
int CCoreGlobalCtrlBase::InitResourceSteps() {
    if (InitStepFails(2) || m_pMutexes || !CreateMutexes())
        return 0;
    ClearDebugCategories();  // step 3
    if (IsUseMemPool() && (InitStepFails(4) || !CreateGlobalMemoryPool()))
        return 0;

    CLogService *pLog = InitStepFails(5) ? nullptr : LogModule_Create();
    if (!pLog)
        return 0;
    LogModule_SetFileOpenCallBack(
        pLog, [](void *pUser) { static_cast<CCoreGlobalCtrlBase *>(pUser)->PrintLibInfo(); }, this);
    m_pLogService.store(pLog, std::memory_order_release);
    RegisterLogService(pLog);

    if (InitStepFails(6) || !CreatePerformance())
        return 0;

    if (InitStepFails(7)) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, YAR_ThreadTls_Create Failed");
        return 0;
    }
    m_dwTlsGeneration.fetch_add(1);
    m_bTlsCreated.store(true, std::memory_order_release);

    if (InitStepFails(8) || !GetMsgCallBackBase()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, GetMsgCallBackBase Failed");
        return 0;
    }
    if (InitStepFails(9) || !GetTimerProxyMgr()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, GetTimerProxyMgr Failed");
        return 0;
    }
    if (IsAsyncIO() && (InitStepFails(10) || !CreateAsyncLinkMgr())) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, CreateAsyncLinkMgr Failed");
        return 0;
    }
    if (InitStepFails(11) || !m_TcpPortList.CreateLock() || !m_UdpPortList.CreateLock()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, PortList CreateLock Failed");
        return 0;
    }
    if (InitStepFails(12) || !StartTimerThread()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::InitAllResource, YAR_Thread_Create Failed");
        return 0;
    }
    CheckUpdateLocalIP();  // step 13: no usable address is not a failure of the library
    return 1;
}

int CCoreGlobalCtrlBase::InitAllResource() {
    if (InitStepFails(1) || YAR_Init() != 0)
        return 0;
    if (!InitResourceSteps()) {
        ReleaseAllResource();
        return 0;
    }
    m_bInited.store(1, std::memory_order_release);
    return 1;
}

bool CCoreGlobalCtrlBase::InitStepFails(int iStep) {
    return m_iInitFailStep == iStep;
}

void CCoreGlobalCtrlBase::DetachLogFileOpen() {
    // A file the writer opens from here on (a rotation while it drains) must not call back into
    // a controller that is releasing its managers.
    if (CLogService *pLog = GetLogService())
        LogModule_SetFileOpenCallBack(pLog, nullptr, nullptr);
}

void CCoreGlobalCtrlBase::ReleaseLogService() {
    CLogService *pLog = m_pLogService.exchange(nullptr, std::memory_order_acq_rel);
    if (!pLog)
        return;
    while (m_iLogServiceUsers.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    UnRegisterLogService(pLog);
    LogModule_Destroy(pLog);
}

// Managers go before the pools they allocate from and the mutexes they lock; the time-consumption
// and port-pool managers go with the others, so a later Init starts them afresh.
void CCoreGlobalCtrlBase::ReleaseManagers() {
    ReleaseSecureLinkMgrs();  // their sessions close reliable-UDP handles
    ReleaseVRUDPLinkMgr();
    ReleaseMqttManagers();

    ReleaseServerLinkMgr();
    ReleaseTimeConsumingMgr();
    ReleaseTimerProxyMgr();
    ReleaseAsyncManager();
    ReleaseRqsTrans();
    ReleaseKeyCaches();
    ReleaseSSLTrans();
    ReleasePerformance();
    ReleaseMsgCallBackBase();
    ReleaseLogService();
    ReleaseZlibAPI();
    ReleasePortPoolMgr();
}

void CCoreGlobalCtrlBase::ReleaseAllResource() {
    m_bInited.store(0, std::memory_order_release);
    StopTimerThread();
    DetachLogFileOpen();  // before any manager goes
    ReleaseManagers();
    m_bTlsCreated.store(false, std::memory_order_release);
    DestroyPortMultiList();
    m_TcpPortList.DestroyLock();
    m_UdpPortList.DestroyLock();
    DestroyMutexes();
    ReleaseGlobalMemoryPool();
    ReleaseMemoryMgr();
    InitDefaultConfig();
    YAR_Fini();
}

void CCoreGlobalCtrlBase::PrintLibInfo() {
    if (CLogService *pLog = GetLogService())
        LogModule_PrintLogParam(pLog);
    // This runs on the log writer, possibly while the last Fini holds the control lock and
    // joins that writer: the library bindings may only be looked at here, never created.
    if (CZlibAPI *pZlib = m_pZlibAPI.load(std::memory_order_acquire))
        pZlib->PrintVersion(1);
    else
        LogModule_WriteRaw("Morva: pZipAPI is NULL");
    if (m_pSSLTrans.load(std::memory_order_acquire))
        COpenSSLAPI::GetInstance()->PrintVersion(1);
    else
        LogModule_WriteRaw("Morva: pOpenSSLAPI is NULL");
    LogModule_WriteRaw("Morva: MemInfo, UseMemPool[%d]", IsUseMemPool());
    static const struct {
        int iId;
        const char *pName;
    } kPools[] = {
        {ENUM_MORVA_THREADPOOL_DEFAULT, "ENUM_MORVA_THREADPOOL_DEFAULT"},
        {ENUM_MORVA_THREADPOOL_MSGCB, "ENUM_MORVA_THREADPOOL_MSGCB"},
        {ENUM_MORVA_THREADPOOL_SERVERLINK, "ENUM_MORVA_THREADPOOL_SERVERLINK"},
        {ENUM_MORVA_THREADPOOL_TIMERPROXY, "ENUM_MORVA_THREADPOOL_TIMERPROXY"},
        {ENUM_MORVA_THREADPOOL_ASYNCIO, "ENUM_MORVA_THREADPOOL_ASYNCIO"},
    };
    for (const auto &pool : kPools)
        LogModule_WriteRaw("Morva: ThreadInfo, %s, dwMaxCount[%d]", pool.pName,
                           (int)m_ThreadPoolCfg[pool.iId].dwMaxCount);
    LogModule_WriteRaw("Morva: AbilityInfo, dwMaxMqttConnection[%d]", (int)m_AbilityCfg.dwMaxMqttConnection);
}

}  // namespace Vorezi
