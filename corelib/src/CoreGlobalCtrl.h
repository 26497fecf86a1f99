// The one global controller of the core library: the per-thread core error code, configuration,
// the library mutexes, the global log and its registry, the debug categories, and (in blocks
// added by each subsystem) the managers it creates on first use.
#pragma once

#include <atomic>
#include <cstdint>

#include "CtrlMorva.h"
#include "Module/CharConv/CharIConv.h"
#include "Module/Log/LogModule.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

// Core error codes set through SetLastError.
enum {
    MORVA_ERR_SUCCESS = 0,
    MORVA_ERR_NOT_INIT = 3,
    MORVA_ERR_SEND = 8,
    MORVA_ERR_CHAR_ENCODE = 11,
    MORVA_ERR_NOT_READY = 12,
    MORVA_ERR_PARAM = 17,
    MORVA_ERR_NO_CA_PATH = 40,
    MORVA_ERR_ALLOC = 41,
    MORVA_ERR_BUFFER_SMALL = 43,
    MORVA_ERR_MEMBER_FULL = 46,
    MORVA_ERR_NO_LOCAL_IP = 53,
    MORVA_ERR_LOG_CFG_FILE = 103,
    MORVA_ERR_CERT = 147,
    MORVA_ERR_LOAD_CRYPTO = 156,
    MORVA_ERR_LOAD_SSL = 157,
    MORVA_ERR_LOAD_ICONV = 158,
    MORVA_ERR_LOAD_ZLIB = 161,
    MORVA_ERR_CA_BEFORE_INIT = 162,
    MORVA_ERR_PORT_NODE = 184,
    MORVA_ERR_FUNCTION_INVALID = 186,
};

enum ENUM_MORVA_THREADPOOL {
    ENUM_MORVA_THREADPOOL_DEFAULT = 0,
    ENUM_MORVA_THREADPOOL_MSGCB = 1,
    ENUM_MORVA_THREADPOOL_SERVERLINK = 3,
    ENUM_MORVA_THREADPOOL_TIMERPROXY = 4,
    ENUM_MORVA_THREADPOOL_ASYNCIO = 5,
    ENUM_MORVA_THREADPOOL_MAX = 6,
};

enum ENUM_MORVA_INIT_CFG {
    ENUM_MORVA_INIT_CFG_ABILITY = 1,
    ENUM_MORVA_INIT_CFG_MEMPOOL = 2,
    ENUM_MORVA_INIT_CFG_THREADPOOL = 3,
};

struct MORVA_THREADPOOL_CFG {
    DWORD dwStackSize;
    DWORD dwReserved;
    DWORD dwMaxCount;
};
static_assert(sizeof(MORVA_THREADPOOL_CFG) == 12, "thread-pool record is three words");

struct MORVA_ABILITY_CFG {
    DWORD dwMaxMqttConnection;
    BYTE byRes[128];
};
static_assert(sizeof(MORVA_ABILITY_CFG) == 132, "ability record layout");

struct MORVA_MEMPOOL_INIT_CFG {
    DWORD bNoMemPool;
    BYTE byRes[256];
};
static_assert(sizeof(MORVA_MEMPOOL_INIT_CFG) == 260, "memory-pool init record layout");

// Local configuration item 15. Holds pointers, so its size is the native one.
struct MORVA_LOG_CALLBACK_CFG {
    WORD wLogFileReserved;
    BYTE byCallBackLevel;
    BYTE byRes;
    DWORD dwRes;
    LOG_CALLBACK fnLogCallBack;
    void *pUser;
};

constexpr int MORVA_MAX_LOG_SERVICE = 16;
constexpr int MORVA_GLOBAL_POOL_COUNT = 23;
constexpr int MORVA_MAX_DEBUG_CATEGORY = 32;

class CMsgCallBackBase;
class CPerformanceBase;

constexpr int MORVA_MAX_PERFORMANCE = 16;

class CCoreGlobalCtrlBase : public CCtrlMorva {
public:
    CCoreGlobalCtrlBase();
    ~CCoreGlobalCtrlBase() override;

    int IsUseLogConfigFile() override;
    void PrintLibInfo() override;
    int InitAllResource() override;
    void ReleaseAllResource() override;

    int IsInited() const { return m_bInited.load(std::memory_order_acquire); }

    // Per-thread values: one shared value before the first Init and after the last Fini.
    int GetLastError();
    void SetLastError(int iCode);
    void GetThreadUserValues(int *pValue1, int *pValue2);
    void SetThreadUserValues(int iValue1, int iValue2);

    // Library mutexes: 1 when the mutexes exist and the operation succeeded, else 0.
    int LocalIPLock();
    int LocalIPUnlock();
    int SSLLibLock();
    int SSLLibUnlock();
    int LibiconvLibLock();
    int LibiconvLibUnlock();
    int RqsLibLock();
    int RqsLibUnlock();
    int LibLock();  // zlib library
    int LibUnlock();

    // Debug categories.
    int EnableDebugCategory(DWORD dwCategory);
    int DisableDebugCategory(DWORD dwCategory);
    int ClearDebugCategories();
    int IsDebugCategoryEnabled(DWORD dwCategory);

    // Log services.
    int RegisterLogService(CLogService *pLog);
    void UnRegisterLogService(CLogService *pLog);
    CLogService *GetLogService();
    // Pins the global log for one call so a concurrent last Fini cannot free it underneath;
    // every non-null result must be returned with PutLogService.
    CLogService *TakeLogService();
    void PutLogService();
    int SetOutputLogCallBack(LOG_OUTPUT_CALLBACK fnCallBack);
    DWORD HasOutputLogCallBack();
    void OutputLogCallBack(int iLevel, const char *pFile, int iLine, const char *pText);

    // Configuration.
    int SetInitConfig(int enumType, const void *pParam);
    MORVA_THREADPOOL_CFG GetThreadPoolCfg(int iPoolId);
    MORVA_ABILITY_CFG GetAbilityCfg();
    int IsUseMemPool();
    int GetLogFileReserved();
    int SetLogCallBackCfg(const MORVA_LOG_CALLBACK_CFG *pCfg);

    // Global memory pools: slot 0 holds the allocation records of pooled objects, the other
    // slots are reached by pool kind (enumDefaultMemPool); -1 while a pool does not exist.
    static int DefaultMemPoolSlot(int iKind);
    int GetDefaultMemPoolIndex(int iKind);
    int GetPrivateMemPoolIndex() { return m_iGlobalPoolIndex[0]; }
    int GetLinkMemPoolIndex() { return m_iGlobalPoolIndex[5]; }

    // Dependent libraries.
    void *LoadDSo(int iDllIndex);
    void *LoadDSoNoLog(int iDllIndex);
    int SetDllLoadPath(int iDllIndex, const char *pPath);
    int SetDllLoadDir(int iDllIndex, const char *pDir);
    int GetDllLoadPath(int iDllIndex, char *pPath);

    void InitDefaultConfig();

    // ---- Services: character sets, message callbacks, performance monitors, timer proxies ----
    CHAR_CONVERT_CALLBACK GetCharConvertCallBack();
    void SetCharConvertCallBack(CHAR_CONVERT_CALLBACK fnConvert);
    // While set, timer proxies also accept intervals below 1000 ms.
    DWORD IsCustomTiming();
    void SetCustomTiming(DWORD bCustom);
    // The one dispatcher, created on first use; null with error 41 or 12 when it cannot be made.
    CMsgCallBackBase *GetMsgCallBackBase();
    // A registry slot (0..15) or -1.
    int RegisterPerformance(CPerformanceBase *pPerf);
    void UnRegisterPerformance(CPerformanceBase *pPerf);
    CPerformanceBase *GetPerformance();

private:
    int CreateServices();
    void ReleaseServices();

    // The eight library mutexes, in creation order.
    enum LibMutex {
        MUTEX_LOCAL_IP,
        MUTEX_SSL_LIB,
        MUTEX_ICONV_LIB,
        MUTEX_LOG_REGISTRY,
        MUTEX_DEBUG_CATEGORY,
        MUTEX_RQS_LIB,
        MUTEX_ZLIB_LIB,
        MUTEX_PERF_REGISTRY,
        MUTEX_COUNT,
    };
    struct LibMutexes;
    int LockLib(LibMutex eMutex);
    int UnlockLib(LibMutex eMutex);
    int CreateMutexes();
    void DestroyMutexes();
    void DetachLogFileOpen();
    void ReleaseLogService();

    std::atomic<int> m_bInited{0};

    // The thread-local slots exist between InitAllResource and ReleaseAllResource; a slot value
    // written under an earlier generation reads as 0, as a new slot would.
    std::atomic<uint32_t> m_dwTlsGeneration{0};
    std::atomic<bool> m_bTlsCreated{false};
    std::atomic<int> m_iFallbackError{0};
    std::atomic<int> m_iFallbackUser1{0};
    std::atomic<int> m_iFallbackUser2{0};

    LibMutexes *m_pMutexes = nullptr;

    std::atomic<CLogService *> m_pLogService{nullptr};
    std::atomic<int> m_iLogServiceUsers{0};
    CLogService *m_pLogRegistry[MORVA_MAX_LOG_SERVICE] = {};
    std::atomic<LOG_OUTPUT_CALLBACK> m_fnOutputLogCallBack{nullptr};

    std::atomic<DWORD> m_dwDebugCategory[MORVA_MAX_DEBUG_CATEGORY] = {};
    std::atomic<DWORD> m_dwDebugCategoryCount{0};

    MORVA_THREADPOOL_CFG m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_MAX] = {};
    MORVA_ABILITY_CFG m_AbilityCfg = {};
    MORVA_MEMPOOL_INIT_CFG m_MemPoolInitCfg = {};
    MORVA_LOG_CALLBACK_CFG m_LogCallBackCfg = {};
    int m_iGlobalPoolIndex[MORVA_GLOBAL_POOL_COUNT];

    // ---- Services ----
    std::atomic<CHAR_CONVERT_CALLBACK> m_fnCharConvert{nullptr};
    std::atomic<DWORD> m_bCustomTiming{0};
    std::atomic<CMsgCallBackBase *> m_pMsgCallBack{nullptr};
    std::atomic<CPerformanceBase *> m_pPerformance{nullptr};
    CPerformanceBase *m_pPerfRegistry[MORVA_MAX_PERFORMANCE] = {};
};

// The address of the one instance; never fails.
CCoreGlobalCtrlBase *GetCoreGlobalCtrl();

}  // namespace Vorezi
