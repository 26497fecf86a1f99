// Start, stop and the last error of the controller.
#include "base/GlobalCtrl.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "module/adapter/AdapterInfo.h"
#include "module/device/Service.h"
#include "module/dynamic/Libpcap.h"
#include "morva/ComInterfaceMorva.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "yar/yar_addr.h"

namespace ZEVA {

const char *const ZEVA_VERSION_BANNER = "The KWZEVASDK Version is 4.4.0.56 build20250915";

namespace {

// A path that does not fit stays empty.
void JoinPath(char (&out)[LIB_PATH_LEN], const char *dir, const char *name) {
    if (std::snprintf(out, sizeof out, "%s%s", dir, name) >= int(sizeof out))
        out[0] = '\0';
}

thread_local uint32_t t_dwLastError = 0;
thread_local int t_iExportDepth = 0;

}  // namespace

CExportScope::CExportScope() { ++t_iExportDepth; }
CExportScope::~CExportScope() { --t_iExportDepth; }

CGlobalCtrl::CGlobalCtrl()
    : m_iLogLevel(3),
      m_szLogDir(),
      m_bAutoDel(1),
      m_szCryptoPath("libcrypto.so.3"),
      m_szSslPath("libssl.so.3"),
      m_szPcapPath("libpcap.so.0.8"),
      m_bPcap(0),
      m_bMulticast(1),
      m_bCheckIP(1),
      m_dwCheckIPInterval(5),
      m_dwTimeout(10) {}

CGlobalCtrl *CGlobalCtrl::GetInstance() {
    // Built on first use and never destroyed: threads of a host that outlive its exit may still
    // reach it.
    static CGlobalCtrl *instance = new CGlobalCtrl;
    return instance;
}

yar::yar_mutex &CGlobalCtrl::InterfaceLock() {
    // Never destroyed, for the same reason as the controller.
    static yar::yar_mutex *lock = new yar::yar_mutex;
    return *lock;
}

void CGlobalCtrl::SetLastError(uint32_t dwError) {
    t_dwLastError = dwError;
    if (t_iExportDepth > 0)
        m_dwLastError.store(dwError);
}

uint32_t CGlobalCtrl::GetThreadLastError() { return t_dwLastError; }

void SetSdkLastError(uint32_t dwError) { CGlobalCtrl::GetInstance()->SetLastError(dwError); }

void NoteSendFailed() { CGlobalCtrl::GetInstance()->NoteSendFailed(); }

int CGlobalCtrl::FailInit(uint32_t dwError, const char *pLine) {
    ZEVA_LOG_ERR("%s", pLine);
    SetLastError(dwError);
    FreeResource();
    return 0;
}

int CGlobalCtrl::Init(pDeviceFindCallBack fnOldDevCB, pDeviceFindCallBack fnNewDevCB,
                      pSubnetDeviceFindCallBack fnSubnetCB, void *pUserData) {
    if (m_dwInitCount.load() != 0) {
        uint32_t count = ++m_dwInitCount;
        ZEVA_LOG_INF("[CGlobalCtrl::Init] Restart m_dwInitCount[%d]", count);
        return 1;
    }
    if (!Morva_Init())
        return FailInit(ZEVA_ERR_INIT, "[CGlobalCtrl::Init] Morva_Init fail");
    ReadConfigFile();
    if (!Morva_SetLogFile(m_iLogLevel, m_szLogDir, int(m_bAutoDel))) {
        SetLastError(uint32_t(Morva_GetLastError()));
        FreeResource();
        return 0;
    }
    ZEVA_LOG_INF("%s", ZEVA_VERSION_BANNER);

    Morva_SetDllLoadPath(0, m_szSslPath);
    Morva_SetDllLoadPath(1, m_szCryptoPath);
    ZEVA_LOG_INF("[CGlobalCtrl::Init] SslPath[%s]", m_szSslPath);
    ZEVA_LOG_INF("[CGlobalCtrl::Init] CryptoPath[%s]", m_szCryptoPath);
    SetDynamicPath(LIB_TAG_PCAP, m_szPcapPath);
    GetModulePath(m_szModulePath);
    JoinPath(m_szDynamicPath[LIB_TAG_PCAP], m_szModulePath, "libpcap.so.0.8");
    JoinPath(m_szDynamicPath[LIB_TAG_SSL], m_szModulePath, "libssl.so.3");
    JoinPath(m_szDynamicPath[LIB_TAG_CRYPTO], m_szModulePath, "libcrypto.so.3");

    if (!m_pCLibpcap) {
        m_pCLibpcap.reset(new (std::nothrow) CLibpcap);
        if (!m_pCLibpcap) {
            ZEVA_LOG_ERR("CGlobalCtrl::InitAllDynamicLib, NULL == m_pCLibpcap, Failed!!!");
            return FailInit(ZEVA_ERR_INIT, "Init() - USB_ERROR_INIT_SDK LoadLib FALID!");
        }
    }

    int adapters = CAdapterInfo::GetInstance()->GetAdapterNum();
    if (adapters == 0) {
        ZEVA_LOG_ERR("[CGlobalCtrl::Init] Adapter number is 0, syestem Error is %d ", Morva_GetSysLastError());
        SetLastError(ZEVA_ERR_NO_ADAPTER);
        FreeResource();
        return 0;
    }
    ZEVA_LOG_ERR("[CGlobalCtrl::Init] Adapter number is [%d]", adapters);
    int started = StartServices();
    if (started == 0) {
        FreeResource();
        return 0;
    }

    // The background threads start once every service slot is filled, so they never see a
    // slot that is still being set up.
    if (!CreateQueryThread())
        return FailInit(ZEVA_ERR_INIT, "[CGlobalCtrl::Init] YAR_Thread_Create Query failed!");
    if (m_bCheckIP && !CreateCheckIPThread())
        return FailInit(ZEVA_ERR_INIT, "[CGlobalCtrl::Init] YAR_Thread_Create CheckIP failed!");

    {
        yar::yar_guard guard(&m_hListMutex);
        m_fnOldDevCB = fnOldDevCB;
        m_fnNewDevCB = fnNewDevCB;
        m_fnSubnetCB = fnSubnetCB;
        m_pUserData = pUserData;
    }
    uint32_t count = ++m_dwInitCount;
    ZEVA_LOG_INF("[CGlobalCtrl::Init] Start result[%d] m_dwInitCount[%d]", started, count);
    m_bStarted.store(1);
    return 1;
}

// Creates and starts one service per adapter; the number that started.
int CGlobalCtrl::StartServices() {
    CAdapterInfo *adapters = CAdapterInfo::GetInstance();
    int count = adapters->GetAdapterNum();
    int started = 0;
    for (int i = 0; i < count && i < MAX_SERVICE_NUM; ++i) {
        m_pService[i].reset(new (std::nothrow) CService(uint16_t(i)));
        CService *service = m_pService[i].get();
        if (!service) {
            ZEVA_LOG_ERR("[CGlobalCtrl::Init] new CService(%d) failed,syestem Error is %d ", i,
                         Morva_GetSysLastError());
            break;
        }
        m_dwServiceNum = uint32_t(i + 1);
        ADAPTER_ENTRY e{};
        adapters->GetAdapter(i, &e);
        char ipv6[64] = {};
        YAR_InetNtop(YAR_AF_INET6, e.byIPv6, ipv6, sizeof ipv6);
        if (service->Start(m_bMulticast, 0)) {
            ++started;
            ZEVA_LOG_DBG("[CGlobalCtrl::Init]Start AdapterNum[%d] service suss! ipv4[%s] mac[%s] ipv6[%s] desc[%s]\n",
                         i, e.szIPv4, e.szMAC, ipv6, e.szDesc);
        } else {
            ZEVA_LOG_ERR("[CGlobalCtrl::Init]Start AdapterNum[%d] service failed, syestem Error is %d!  ipv4[%s] "
                         "mac[%s] ipv6[%s] desc[%s]",
                         i, Morva_GetSysLastError(), e.szIPv4, e.szMAC, ipv6, e.szDesc);
        }
    }
    return started;
}

int CGlobalCtrl::Fini() {
    if (m_dwInitCount.load() == 0) {
        ZEVA_LOG_INF("[CGlobalCtrl::Fini] NOT_START_ERROR  m_dwInitCount[%d]", 0);
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    uint32_t count = --m_dwInitCount;
    if (count == 0)
        return FreeResource();
    ZEVA_LOG_INF("[CGlobalCtrl::Fini] Many times start! m_dwInitCount[%d]", count);
    return 1;
}

int CGlobalCtrl::FreeResource() {
    m_bStarted.store(0);
    // The address-check thread goes first: it may be restarting the inquiry thread and the
    // services, and nothing else may join or free them meanwhile.
    StopCheckIPThread();
    StopQueryThread();
    for (int i = 0; i < MAX_SERVICE_NUM; ++i) {
        if (!m_pService[i])
            continue;
        ZEVA_LOG_INF("[CGlobalCtrl::Cleanup] m_pService[%d]->Stop() 1", i);
        m_pService[i]->Stop();
        ZEVA_LOG_INF("[CGlobalCtrl::Cleanup] m_pService[%d]->Stop() 2", i);
        m_pService[i].reset();
    }
    m_dwServiceNum = 0;
    FreeDevList();
    CAdapterInfo::DestroyInstance();
    m_pCLibpcap.reset();
    Morva_Fini();
    yar::yar_guard guard(&m_hListMutex);
    m_fnOldDevCB = nullptr;
    m_fnNewDevCB = nullptr;
    m_pUserData = nullptr;
    return 1;
}

int CGlobalCtrl::Cleanup() {
    if (!IsStarted()) {
        ZEVA_LOG_ERR("[CGlobalCtrl::Cleanup] ZEVA not start");
        SetLastError(ZEVA_ERR_NOT_START);
        return 0;
    }
    FreeDevList();
    return 1;
}

int CGlobalCtrl::SetLogParam(int32_t iLevel, const char *pDir, uint32_t bAutoDel) {
    size_t len = pDir ? std::strlen(pDir) : 0;
    if (len >= sizeof m_szLogDir) {
        SetLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    m_iLogLevel = iLevel;
    m_bAutoDel = bAutoDel;
    std::memcpy(m_szLogDir, pDir ? pDir : "", len + 1);
    return 1;
}

uint32_t CGlobalCtrl::SetAutoRequestInterval(uint32_t dwInterval) {
    m_dwAutoRequestInterval.store(dwInterval);
    return dwInterval;
}

int CGlobalCtrl::SetDeviceFilterRule(int32_t iRule, const void *pInBuff, uint32_t dwInBufLen) {
    uint32_t detail = 0;
    if (iRule == -3) {
        if (!pInBuff || dwInBufLen != 36) {
            ZEVA_LOG_INF("[CGlobalCtrl::SetDeviceFilterRule] lpInBuff is NULL or dwInBufLen Len is %d! ", dwInBufLen);
            SetLastError(ZEVA_ERR_PARAM);
            return 0;
        }
        std::memcpy(&detail, pInBuff, sizeof detail);
        m_dwOEMDetailCode.store(detail);
    }
    m_iFilterRule.store(iRule);
    return 1;
}

}  // namespace ZEVA
