// The one global controller of the core library: the per-thread core error code, configuration,
// the library mutexes, the global log and its registry, the debug categories, and (in blocks
// added by each subsystem) the managers it creates on first use.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "GlobalCtrl/CtrlMorva.h"
#include "Module/CharConv/CharIConv.h"
#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "morva/MorvaTypes.h"
#include "transport/port/LocalPortPool.h"
#include "transport/port/PortMultiplexList.h"
#include "yar/yar_thread.h"

struct YAR_ADAPTER_INFO_T;

namespace Vorezi {

class CPortPoolMgr;
class CAsyncManager;
class CVRUDPLinkMgr;

class CServerLinkMgr;
namespace secure {
class CSecureLinkListenMgr;
class CSecureServerLinkMgr;
}  // namespace secure
class CRqsTrans;

// MQTT server managers.
class CMqttListenMgr;
class CMqttServerMgr;

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

// One record of the default memory-pool table: the construction values of a pool.
struct MORVA_MEMPOOL_RECORD {
    DWORD dwMaxMemberSize;
    DWORD dwOnceAllocCount;
    DWORD dwMaxAllocCount;
    DWORD bFreeWhenEmpty;
    int32_t iReleaseInterval;
};
static_assert(sizeof(MORVA_MEMPOOL_RECORD) == 20, "memory-pool record is five words");
constexpr int MORVA_DEFAULT_MEMPOOL_COUNT = 27;

// Local configuration item 15. Holds pointers, so its size is the native one.
struct MORVA_LOG_CALLBACK_CFG {
    WORD wLogFileReserved;
    BYTE byCallBackLevel;
    BYTE byRes;
    DWORD dwRes;
    LOG_CALLBACK fnLogCallBack;
    void *pUser;
};

// Local configuration item 20: the CA directory and the user verify callback. Holds pointers, so
// its size is the native one; the path stays first.
typedef int (*MORVA_VERIFY_CALLBACK)(int iPreverifyOk, void *pCertInfo, void *pUser);
struct MORVA_CA_PATH_CFG {
    char szCAPath[256];
    MORVA_VERIFY_CALLBACK fnVerifyCallBack;
    void *pUser;
    BYTE byRes[64];
};
static_assert(offsetof(MORVA_CA_PATH_CFG, szCAPath) == 0, "the path leads the CA record");

// Local configuration items 0 and 1: a local port range, 0-0 for none.
struct MORVA_PORT_RANGE_CFG {
    WORD wMinPort;
    WORD wMaxPort;
};
static_assert(sizeof(MORVA_PORT_RANGE_CFG) == 4, "port range record layout");

constexpr int MORVA_PROXY_COUNT = 32;
constexpr int MORVA_PROXY_RECORD_LEN = 196;
constexpr int MORVA_PROXY_TABLE_LEN = MORVA_PROXY_COUNT * MORVA_PROXY_RECORD_LEN;  // 6272

// Local address tables.
constexpr int MORVA_MAX_LOCAL_IP = 128;
constexpr int MORVA_MAX_LOCAL_IP_LIST = 16;
struct MORVA_LOCAL_IPV4 {
    BYTE byMac[6];
    BYTE byRes;
    BYTE byValid;
    DWORD dwAddr;  // host order
    char szIP[16];
};
static_assert(sizeof(MORVA_LOCAL_IPV4) == 28 && offsetof(MORVA_LOCAL_IPV4, dwAddr) == 8 &&
                  offsetof(MORVA_LOCAL_IPV4, szIP) == 12,
              "IPv4 table entry layout");
struct MORVA_LOCAL_IPV6 {
    BYTE byMac[6];
    BYTE byRes;
    BYTE byValid;
    BYTE byAddr[16];  // network order
};
static_assert(sizeof(MORVA_LOCAL_IPV6) == 24 && offsetof(MORVA_LOCAL_IPV6, byAddr) == 8, "IPv6 table entry layout");

constexpr int MORVA_MAX_LOG_SERVICE = 16;
constexpr int MORVA_GLOBAL_POOL_COUNT = 23;
constexpr int MORVA_MAX_DEBUG_CATEGORY = 32;

class CMsgCallBackBase;
class CRSAKey;
class CECDHKey;
class CPerformanceBase;
class CTimerProxyMgr;
class CTimeConsumingMgr;
class CMemoryMgr;
class CZlibAPI;
class CSSLTrans;
class COpenSSLAPI;

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
    // Inline because every pooled allocation asks; with no category on it is one load.
    int IsDebugCategoryEnabled(DWORD dwCategory) {
        if (dwCategory == 0 || m_dwDebugCategoryCount.load() == 0)
            return 0;
        return FindDebugCategory(dwCategory);
    }

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
    int IsUseMemPool() { return m_MemPoolInitCfg.bNoMemPool ? 0 : 1; }
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

    // Local configuration and single values.
    int SetSDKLocalCfg(DWORD dwType, const void *pInBuff);
    int GetSDKLocalCfg(DWORD dwType, void *pOutBuff);
    MORVA_MEMPOOL_RECORD GetDefaultMemPoolRecord(int enumDefaultMemPool);
    int ReleaseAllIdleMemPool(int bTimer);
    int SetMemPoolParam(int enumDefaultMemPool, DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount);
    int SetConnectTimeOut(DWORD dwTimeOut, DWORD dwSecond);
    int GetConnectTimeOut(DWORD *pTimeOut, int *pSecond);
    int SetDefaultRecvTimeOut(DWORD dwTimeOut);
    DWORD GetDefaultRecvTimeOut();
    int SetNagleFlag(DWORD dwFlag);
    int GetNagleFlag(DWORD *pFlag);
    int GetNagleMode();
    void SetAsyncIO(DWORD bAsync);
    DWORD IsAsyncIO();
    int GetProxyByID(int iHandle, void *pOut /* 196 bytes */);
    int SetProxyTable(const void *pTable /* 6272 bytes */);
    void GetProxyTable(void *pTable);
    static const char *GetCipherList();

    // Local port pools and port-multiplex lists (flag 0 TCP, else UDP).
    int CreateTcpPortPool();
    int CreateUdpPortPool();
    void SetTcpPortRange(WORD wMin, WORD wMax);
    void SetUdpPortRange(WORD wMin, WORD wMax);
    void GetTcpPortRange(WORD *pMin, WORD *pMax);
    void GetUdpPortRange(WORD *pMin, WORD *pMax);
    DWORD IsTcpPortPool();
    DWORD IsUdpPortPool();
    WORD GetTcpPort(int iFamily);
    WORD GetUdpPort(int iFamily);
    void ReleaseTcpPort(WORD wPort);
    void ReleaseUdpPort(WORD wPort);
    void ReleasePort(int iFlag, WORD wPort);
    void ClearTcpPortPool();
    void ClearUdpPortPool();
    int CreatPortMultiList();
    int DestroyPortMultiList();
    DWORD IsPortMultiList();
    int InsertPortList(int iFlag, WORD wPort, const BYTE *pKey);
    int DeletePortList(int iFlag, const BYTE *pKey, WORD wPort, int *pNodeRemoved);
    int FindPortList(int iFlag, const BYTE *pKey, WORD *pPort);
    int GetPortMultiTotalNum(int iFlag);

    // Local address tables.
    int UpdateLocalIP();
    int CheckUpdateLocalIP();
    int SetDefaultIPv4Index(DWORD dwIPIndex, DWORD bEnableBind);
    int SetDefaultIPv6Index(DWORD dwIPIndex, DWORD bEnableBind);
    DWORD IsBindLocalIP();
    int GetLocalIPv4Addr(DWORD *pAddr);
    int GetLocalIPv4Str(char *pText /* 16 bytes */);
    int GetLocalIPv6Addr(BYTE *pAddr /* 16 bytes */);
    int GetLocalIPv4List(char *pBuf /* 256 bytes */, int *pCount, int *pBind);
    int GetLocalIPv6List(BYTE *pBuf /* 256 bytes */, int *pCount, int *pBind);
    int SelectLocalIP(const BYTE *pIPv6, DWORD dwIPv4, int bIPv6);
    int GetMacAddr(BYTE *pMac, const BYTE *pIPv6, DWORD dwIPv4, int bIPv6);

    // Managers created on first use.
    CPortPoolMgr *GetPortPoolMgr();
    CAsyncManager *GetAsyncManager();
    int CreateAsyncLinkMgr();
    // Made only while the library is initialised: a fini never makes it again.
    CServerLinkMgr *GetServerLinkMgr();
    int CreateServerLinkMgr();

    // Tests make one step of InitAllResource fail (0: none).
    void SetInitFailStep(int iStep) { m_iInitFailStep = iStep; }

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
    CTimerProxyMgr *GetTimerProxyMgr();
    CTimeConsumingMgr *GetTimeConsumingMgr();

    // ---- Memory pools and the zlib binding ----
    // The one memory manager, created on first use; null while memory pools are switched off.
    CMemoryMgr *GetMemoryMgr();
    void ReleaseMemoryMgr();
    // The one zlib binding, created on first use; it exists also when zlib could not be loaded
    // (every call then retries the load quietly).
    CZlibAPI *GetZlibAPI();
    void ReleaseZlibAPI();
    // Replaces the index kept in a global pool slot (0..22); tests point the allocation records
    // at a pool of their own with it.
    void SetGlobalMemPoolIndex(int iSlot, int nIndex);

    // ---- Cryptography: the shared CSSLTrans ----
    // The shared client instance, made on first use (it does not load OpenSSL itself); null
    // when it cannot be made.
    CSSLTrans *GetSSLTrans();

private:
    int CreatePerformance();
    void ReleasePerformance();
    void ReleaseMsgCallBackBase();
    void ReleaseTimerProxyMgr();
    void ReleaseTimeConsumingMgr();
    void ReleaseSSLTrans();

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

    std::unique_ptr<LibMutexes> m_pMutexes;

    std::atomic<CLogService *> m_pLogService{nullptr};
    std::atomic<int> m_iLogServiceUsers{0};
    CLogService *m_pLogRegistry[MORVA_MAX_LOG_SERVICE] = {};
    std::atomic<LOG_OUTPUT_CALLBACK> m_fnOutputLogCallBack{nullptr};

    int FindDebugCategory(DWORD dwCategory);
    std::atomic<DWORD> m_dwDebugCategory[MORVA_MAX_DEBUG_CATEGORY] = {};
    std::atomic<DWORD> m_dwDebugCategoryCount{0};

    // Lazily created managers: the getter and release pattern over the control lock.
    template <class T, class Make>
    T *GetManager(std::atomic<T *> &pManager, Make fnMake);
    template <class T>
    void ReleaseManager(std::atomic<T *> &pManager);
    bool InitStepFails(int iStep);
    int InitResourceSteps();
    void ReleaseManagers();
    void ReleasePortPoolMgr();
    void ReleaseAsyncManager();
    void ReleaseServerLinkMgr();
    int CreateGlobalMemoryPool();
    void ReleaseGlobalMemoryPool();
    static uint32_t TimerThread(void *pParam);
    int StartTimerThread();
    void StopTimerThread();
    void ResetLocalIP();
    int PinLocalIP(bool bIPv6, DWORD dwIPIndex, DWORD bEnableBind);
    template <class F>
    int ReadSelected(void *pOut, F fnCopy);
    void ClearLocalIPTables();
    void StoreAdapterIPv4(const ::YAR_ADAPTER_INFO_T *pAdapter, int *pPos);
    void StoreAdapterIPv6(const ::YAR_ADAPTER_INFO_T *pAdapter, int *pPos);
    int SetPortRangeCfg(bool bTcp, const void *pInBuff);
    int SetCAPathCfg(const void *pInBuff);
    int RefreshCA();
    int SetPortMultiCfg(DWORD dwSwitch);
    CPortMultiplexList &PortList(int iFlag) { return iFlag == 0 ? m_TcpPortList : m_UdpPortList; }

    int m_iInitFailStep = 0;
    YAR_HANDLE m_hTimerThread = YAR_INVALID_THREAD;
    std::atomic<DWORD> m_bTimerStop{0};
    DWORD m_bCreateMemPoolSucc = 0;

    // Local address tables, under the local-IP mutex.
    MORVA_LOCAL_IPV4 m_LocalIPv4[MORVA_MAX_LOCAL_IP] = {};
    MORVA_LOCAL_IPV6 m_LocalIPv6[MORVA_MAX_LOCAL_IP] = {};
    DWORD m_dwIPv4Index = 0;
    DWORD m_dwIPv6Index = 0;
    DWORD m_bBindLocalIP = 0;
    DWORD m_dwPinnedFamily = 0;
    std::atomic<int64_t> m_llLastIPUpdate{0};

    CTcpPortPool m_TcpPortPool;
    CUdpPortPool m_UdpPortPool;
    CPortMultiplexList m_TcpPortList;
    CPortMultiplexList m_UdpPortList;
    MORVA_PORT_RANGE_CFG m_TcpPortRange = {};
    MORVA_PORT_RANGE_CFG m_UdpPortRange = {};
    DWORD m_bTcpPortPool = 0;
    DWORD m_bUdpPortPool = 0;
    DWORD m_bPortMultiList = 0;
    DWORD m_bTcpListCreated = 0;
    DWORD m_bUdpListCreated = 0;

    std::atomic<CPortPoolMgr *> m_pPortPoolMgr{nullptr};
    std::atomic<CAsyncManager *> m_pAsyncManager{nullptr};
    std::atomic<CServerLinkMgr *> m_pServerLinkMgr{nullptr};

    DWORD m_dwConnectTimeOut = 0;
    DWORD m_dwConnectSecond = 0;
    DWORD m_dwRecvTimeOut = 0;
    DWORD m_bNagle = 0;
    DWORD m_bAsyncIO = 0;
    BYTE m_byProxyTable[MORVA_PROXY_TABLE_LEN] = {};
    MORVA_CA_PATH_CFG m_CAPathCfg = {};


    MORVA_THREADPOOL_CFG m_ThreadPoolCfg[ENUM_MORVA_THREADPOOL_MAX] = {};
    MORVA_MEMPOOL_RECORD m_DefaultMemPool[MORVA_DEFAULT_MEMPOOL_COUNT] = {};
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
    std::atomic<CTimerProxyMgr *> m_pTimerProxyMgr{nullptr};
    std::atomic<CTimeConsumingMgr *> m_pTimeConsumingMgr{nullptr};

    // ---- Memory pools and the zlib binding ----
    std::atomic<CMemoryMgr *> m_pMemoryMgr{nullptr};
    std::atomic<CZlibAPI *> m_pZlibAPI{nullptr};

    // ---- Cryptography ----
    std::atomic<CSSLTrans *> m_pSSLTrans{nullptr};

public:
    // ---- Crypto key caches: made and started on first use while initialised, deleted at fini ----
    CRSAKey *GetRSAEncrypt();
    CECDHKey *GetECDHEncrypt();

    // ---- Reliable UDP: the link manager of every reliable-UDP object ----
    // The manager while it exists; a new one is made only while the library is initialised, so
    // the transports' own stop paths during fini never bring it back.
    CVRUDPLinkMgr *GetVRUDPLinkMgr();

private:
    void ReleaseVRUDPLinkMgr();
    std::atomic<CVRUDPLinkMgr *> m_pVRUDPLinkMgr{nullptr};
    void ReleaseKeyCaches();
    std::atomic<CRSAKey *> m_pRSAKey{nullptr};
    std::atomic<CECDHKey *> m_pECDHKey{nullptr};

public:
    // ---- Secure link: the crossed names are the library's own. GetSecureLinkServerMgr gives
    // the listen-session manager, GetSecureLinkMgr the server-session manager; each is made
    // only while the library is initialised ----
    secure::CSecureLinkListenMgr *GetSecureLinkServerMgr();
    secure::CSecureServerLinkMgr *GetSecureLinkMgr();

private:
    void ReleaseSecureLinkMgrs();
    std::atomic<secure::CSecureLinkListenMgr *> m_pSecureLinkListenMgr{nullptr};
    std::atomic<secure::CSecureServerLinkMgr *> m_pSecureServerLinkMgr{nullptr};

public:
    // ---- The RQS transport: made on first use while initialised (its library loads later) ----
    CRqsTrans *GetRqsTrans();

private:
    void ReleaseRqsTrans();
    std::atomic<CRqsTrans *> m_pRqsTrans{nullptr};

public:
    // ---- MQTT server: the listeners and the sessions ----
    // The manager while it exists; a new one is made only while the library is initialised.
    CMqttListenMgr *GetMqttListenMgr();
    CMqttServerMgr *GetMqttServerMgr();
    // The session manager if one exists, never making one (and so never taking the control lock).
    CMqttServerMgr *FindMqttServerMgr() const { return m_pMqttServerMgr.load(std::memory_order_acquire); }

private:
    // The listeners first: their server links are gone before the sessions they made.
    void ReleaseMqttManagers();
    std::atomic<CMqttListenMgr *> m_pMqttListenMgr{nullptr};
    std::atomic<CMqttServerMgr *> m_pMqttServerMgr{nullptr};
};

// Getter of a manager made on first use: made once under the control lock; a failed make leaves
// the pointer null. Without the lock the current pointer is returned.
template <class T, class Make>
T *CCoreGlobalCtrlBase::GetManager(std::atomic<T *> &pManager, Make fnMake) {
    if (T *p = pManager.load(std::memory_order_acquire))
        return p;
    if (!Lock())
        return pManager.load(std::memory_order_acquire);
    T *p = pManager.load(std::memory_order_acquire);
    if (!p) {
        p = fnMake();
        pManager.store(p, std::memory_order_release);
    }
    Unlock();
    return p;
}

template <class T>
void CCoreGlobalCtrlBase::ReleaseManager(std::atomic<T *> &pManager) {
    if (!Lock())
        return;
    delete pManager.exchange(nullptr, std::memory_order_acq_rel);
    Unlock();
}

// The controller's memory manager and zlib binding (see the members of the same name).
CMemoryMgr *GetMemoryMgr();
CZlibAPI *GetZlibAPI();
CAsyncManager *GetAsyncManager();
// The shared CSSLTrans, and the OpenSSL table once the shared instance exists.
CSSLTrans *GetSSLTransInstance();
COpenSSLAPI *GetOpenSSLAPI();

}  // namespace Vorezi
