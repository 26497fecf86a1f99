// CSSLTrans as a whole: construction, loading OpenSSL once, the lock array of old OpenSSL, the
// three shared contexts with their user counts, the CA directory of the client context, and the
// Interim_* entry points that create and destroy instances.
#include "crypto/SSLTrans.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLLibGuard.h"
#include "crypto/SigPipeGuard.h"
#include "yar/yar_error.h"
#include "yar/yar_file.h"

namespace Vorezi {

namespace {

constexpr DWORD SSL_DATA_BUF_LEN = 0x8000;
constexpr int CA_PATH_LEN = 256;

int SysError() {
    return static_cast<int>(YAR_GetSystemLastError());
}

int Kind(int bServerLink, int bDTLS) {
    if (!bServerLink)
        return SSL_CTX_KIND_CLIENT;
    return bDTLS ? SSL_CTX_KIND_DTLS_SERVER : SSL_CTX_KIND_TLS_SERVER;
}

}  // namespace

std::atomic<int> CSSLTrans::s_bLoaded{0};
void *CSSLTrans::s_hEAYCom = nullptr;
void *CSSLTrans::s_hSSLCom = nullptr;
int CSSLTrans::s_bLibInit = 0;
YAR_MUTEX_T *CSSLTrans::s_pMutexA = nullptr;
int CSSLTrans::s_iLockCount = 0;
CSSLTrans::SSLCtxRecord CSSLTrans::s_Ctx[3] = {};
std::atomic<int> CSSLTrans::s_bGM{0};

CSSLTrans::CSSLTrans(int bServerLink, int bDTLS) {
    Construct(bServerLink, bDTLS);
    s_bGM = 0;
}

CSSLTrans::CSSLTrans(int bServerLink, int bDTLS, int bGM) {
    Construct(bServerLink, bDTLS);
    s_bGM = bGM;
}

void CSSLTrans::Construct(int bServerLink, int bDTLS) {
    m_bServer = bServerLink;
    m_pCtxRecord = &s_Ctx[Kind(bServerLink, bDTLS)];
    m_pSelfCtx = m_pCtxRecord->pCtx;
    m_pSSL = nullptr;
    memset(m_byRes, 0, sizeof(m_byRes));
    m_pDataBuf = nullptr;
    m_dwDataBufLen = SSL_DATA_BUF_LEN;
    m_dwDataHeld = 0;
    m_iSocket = -1;
    m_iUnused = 0;
    m_pReadBio = nullptr;
    m_pWriteBio = nullptr;
    m_bDTLS = bServerLink ? bDTLS : 0;
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::CSSLTrans, bServerLink[%d], m_pSelfCtx[0x%X]", bServerLink,
                         MORVA_PTR_ARG(m_pSelfCtx));
}

CSSLTrans::~CSSLTrans() {
    SSLTrans_free();
}

int CSSLTrans::SSLTrans_free() {
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::SSLTrans_free, m_pSSL[0x%X], m_pSelfCtx[0x%X]",
                         MORVA_PTR_ARG(m_pSSL), MORVA_PTR_ARG(m_pSelfCtx));
    if (m_pSSL) {
        SigPipeGuard noSigPipe;  // the close notify may go to a peer that has left
        OpenSSL().SSL_shutdown(m_pSSL, 0);
        OpenSSL().SSL_free(m_pSSL);  // also frees the BIOs attached to it
        m_pSSL = nullptr;
    }
    m_pReadBio = nullptr;
    m_pWriteBio = nullptr;
    m_pDataBuf.reset();
    m_dwDataHeld = 0;
    return 1;
}

int CSSLTrans::ErrorCallback() {
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::ErrorCallback");
    return 0;
}

const CSSLTrans::SSLCtxRecord &CSSLTrans::GetCtxRecord(int iKind) {
    return s_Ctx[iKind];
}

// ---- Loading OpenSSL (under the SSL library lock) ----

int CSSLTrans::LoadSSLLib() {
    if (s_bLoaded.load(std::memory_order_acquire))
        return 1;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!s_hEAYCom) {
        s_hEAYCom = pCtrl->LoadDSo(BASE_DLL_LIBEAY);
        if (!s_hEAYCom) {
            LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::LoadSSLLib, LoadDSo BASE_DLL_LIBEAY Failed, syserror[%d]",
                            SysError());
            SetError(MORVA_ERR_LOAD_CRYPTO);
            return 0;
        }
    }
    COpenSSLAPI &api = OpenSSL();
    if (!s_hSSLCom) {
        s_hSSLCom = pCtrl->LoadDSo(BASE_DLL_SSLEASY);
        if (!s_hSSLCom) {
            LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::LoadSSLLib, LoadDSo BASE_DLL_SSLEASY Failed, syserror[%d]",
                            SysError());
            SetError(MORVA_ERR_LOAD_SSL);
            return 0;
        }
        api.LoadAPI(s_hSSLCom, s_hEAYCom);
        if (!api.IsAllAPILoaded())
            LogModule_Write(LOG_LEVEL_DBG, "CSSLTrans::LoadSSLLib, Not All Function Loaded!");
        if (api.GetVersionNum() >= OPENSSL_VERSION_1_1_1A)
            api.PrintVersion(0);
    }
    bool bOld = api.GetVersionNum() < OPENSSL_VERSION_1_1_1A;
    if (!s_bLibInit && bOld) {
        api.SSL_library_init(0);
        s_bLibInit = 1;
        api.PrintVersion(0);
    }
    if (bOld && !SSLInitLockArray()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::LoadSSLLib, SSLInitLockArray Failed");
        return 0;
    }
    s_bLoaded.store(1, std::memory_order_release);
    return 1;
}

int CSSLTrans::SSLInitLockArray() {
    if (s_pMutexA)
        return 1;
    int iLockCount = OpenSSL().CRYPTO_num_locks(-1);
    if (iLockCount < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLInitLockArray, SSLTrans_CRYPTO_num_locks Failed, iLockCount[%d]",
                        iLockCount);
        return 0;
    }
    auto *pMutex = new (std::nothrow) YAR_MUTEX_T[iLockCount > 0 ? iLockCount : 1]();
    if (!pMutex) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLInitLockArray, New pMutex Failed, dwSize[%d], iLockCount[%d]",
                        static_cast<int>(sizeof(YAR_MUTEX_T) * iLockCount), iLockCount);
        return 0;
    }
    for (int i = 0; i < iLockCount; i++) {
        if (YAR_MutexCreate(&pMutex[i], 0) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLInitLockArray, YAR_MutexCreate Failed, i[%d], syserror[%d]", i,
                            SysError());
            while (i-- > 0)
                YAR_MutexDestroy(&pMutex[i]);
            delete[] pMutex;
            return 0;
        }
    }
    s_pMutexA = pMutex;
    s_iLockCount = iLockCount;
    OpenSSL().CRYPTO_set_locking_callback(&CSSLTrans::LockingCallback);
    OpenSSL().CRYPTO_set_id_callback(&CSSLTrans::ThreadIdCallback);
    return 1;
}

void CSSLTrans::LockingCallback(int iMode, int n, const char * /*pFile*/, int /*iLine*/) {
    if (!s_pMutexA) {
        LogModule_Write(LOG_LEVEL_ERR, "LockingCallback, s_pMutexA is NULL");
        return;
    }
    if (n < 0 || n >= s_iLockCount)
        return;
    if (iMode & 1)
        YAR_MutexLock(&s_pMutexA[n]);
    else
        YAR_MutexUnlock(&s_pMutexA[n]);
}

unsigned long CSSLTrans::ThreadIdCallback() {
    return static_cast<unsigned long>(pthread_self());
}

void CSSLTrans::SSLFreeLockArray() {
    if (!s_pMutexA)
        return;
    OpenSSL().CRYPTO_set_locking_callback(static_cast<OSSL_LOCKING_CB>(nullptr));
    OpenSSL().CRYPTO_set_id_callback(static_cast<OSSL_ID_CB>(nullptr));
    for (int i = 0; i < s_iLockCount; i++)
        YAR_MutexDestroy(&s_pMutexA[i]);
    delete[] s_pMutexA;
    s_pMutexA = nullptr;
    s_iLockCount = 0;
}

// ---- The shared contexts ----

int CSSLTrans::CtxSetCipherList(SSL_CTX *pCtx, const char *pList) {
    COpenSSLAPI &api = OpenSSL();
    int iRet = api.SSL_CTX_set_cipher_list(pCtx, pList, 0);
    // The options control command went away with 1.1.0, which exports the setter instead.
    if (api.GetVersionNum() >= OPENSSL_VERSION_1_1_0)
        api.SSL_CTX_set_options(pCtx, static_cast<uint64_t>(OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE),
                                static_cast<uint64_t>(0));
    else
        api.SSL_CTX_ctrl(pCtx, static_cast<int>(OSSL_SSL_CTRL_OPTIONS),
                         static_cast<long>(OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE), nullptr, 0L);
    return iRet;
}

int CSSLTrans::SSLTrans_CTX_set_cipher_list(const char *pList) {
    int iRet = CtxSetCipherList(m_pSelfCtx, pList);
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "[0x%X]CSSLTrans::SSLTrans_CTX_set_cipher_list", MORVA_PTR_ARG(this));
    return iRet;
}

namespace {

struct MethodChoice {
    const SSL_METHOD *pMeth;
    const char *pName;
    bool bKnown;
};

MethodChoice ClientMethod(DWORD dwCode) {
    COpenSSLAPI &api = OpenSSL();
    const SSL_METHOD *pNone = nullptr;
    switch (dwCode) {
    case 0: return {api.SSLv23_client_method(pNone), "m_fnClientMethodV23", true};
    case 1: return {api.SSLv2_client_method(pNone), "m_fnClientMethodV2", true};
    case 2: return {api.SSLv3_client_method(pNone), "m_fnClientMethodV3", true};
    case 3: return {api.TLSv1_client_method(pNone), "m_fnTLSClientMethodV1", true};
    case 4: return {api.TLSv1_1_client_method(pNone), "m_fnTLSClientMethodV1_1", true};
    case 5: return {api.TLSv1_2_client_method(pNone), "m_fnTLSServerMethodV1_2", true};
    case 6: return {api.TLS_client_method(pNone), "m_fnTLSServerMethod", true};
    default: return {nullptr, nullptr, false};
    }
}

MethodChoice ServerMethod(DWORD dwCode) {
    COpenSSLAPI &api = OpenSSL();
    const SSL_METHOD *pNone = nullptr;
    switch (dwCode) {
    case 0: return {api.SSLv23_server_method(pNone), "m_fnServerMethodV23", true};
    case 1: return {api.SSLv2_server_method(pNone), "m_fnServerMethodV2", true};
    case 2: return {api.SSLv3_server_method(pNone), "m_fnServerMethodV3", true};
    case 3: return {api.TLSv1_server_method(pNone), "m_fnTLSServerMethodV1", true};
    case 4: return {api.TLSv1_1_server_method(pNone), "m_fnTLSServerMethodV1_1", true};
    case 5: return {api.TLSv1_2_server_method(pNone), "m_fnTLSServerMethodV1_2", true};
    case 6: return {api.TLS_server_method(pNone), "m_fnTLSServerMethod", true};
    default: return {nullptr, nullptr, false};
    }
}

MethodChoice DTLSServerMethod(DWORD dwCode) {
    COpenSSLAPI &api = OpenSSL();
    const SSL_METHOD *pNone = nullptr;
    switch (dwCode) {
    case 10: return {api.DTLSv1_server_method(pNone), "m_fnDTLSServerMethodV1", true};
    case 11: return {api.DTLSv1_2_server_method(pNone), "m_fnDTLSServerMethodV1_2", true};
    case 12: return {api.DTLS_server_method(pNone), "m_fnDTLSServerMethodV1_2", true};
    default: return {nullptr, nullptr, false};
    }
}

// Texts of one kind's context set-up.
struct CtxTexts {
    const char *pInvalid;
    const char *pNoMethod;
    const char *pNoCtx;
    const char *pCipherList;  // null: the kind keeps OpenSSL's list
};

}  // namespace

int CSSLTrans::SSLCtxInit(int bServerLink, DWORD dwSSLVersion) {
    bool bDTLS = bServerLink && dwSSLVersion >= SSL_VERSION_DTLS_MIN;
    int iKind = Kind(bServerLink, bDTLS);
    static const CtxTexts kTexts[3] = {
        {"CSSLTrans::SSLCtxInit, Invalid dwSSLVersion[%d]", "CSSLTrans::SSLCtxInit, NULL == pMeth",
         "CSSLTrans::SSLCtxInit, SSLTrans_CTX_new Failed", nullptr},
        {"CSSLTrans::SSLCtxInit, TLS dwSSLVersion[%d], Failed", "CSSLTrans::SSLCtxInit, TLS m_fnServerMethod(), Failed",
         "CSSLTrans::SSLCtxInit, TLS SSLTrans_CTX_new Failed",
         "CSSLTrans::SSLCtxInit, TLS SSLTrans_CTX_set_cipher_list Failed"},
        {"CSSLTrans::SSLCtxInit, DTLS dwSSLVersion[%d], Failed",
         "CSSLTrans::SSLCtxInit, DTLS m_fnServerMethod(), Failed", "CSSLTrans::SSLCtxInit, DTLS SSLTrans_CTX_new Failed",
         "CSSLTrans::SSLCtxInit, DTLS SSLTrans_CTX_set_cipher_list Failed"},
    };
    const CtxTexts &texts = kTexts[iKind];
    SSLCtxRecord &rec = s_Ctx[iKind];
    // The client context is made once; the server contexts take the list on every set-up.
    if (!rec.pCtx || iKind != SSL_CTX_KIND_CLIENT) {
        if (!rec.pCtx) {
            MethodChoice choice = iKind == SSL_CTX_KIND_CLIENT   ? ClientMethod(dwSSLVersion)
                                  : iKind == SSL_CTX_KIND_TLS_SERVER ? ServerMethod(dwSSLVersion)
                                                                     : DTLSServerMethod(dwSSLVersion);
            if (!choice.bKnown) {
                LogModule_Write(LOG_LEVEL_ERR, texts.pInvalid, static_cast<int>(dwSSLVersion));
                return 0;
            }
            LogModule_Write(LOG_LEVEL_INF, "CSSLTrans::SSLCtxInit, dwSSLVersion[%d], %s",
                            static_cast<int>(dwSSLVersion), choice.pName);
            if (!choice.pMeth) {
                LogModule_Write(LOG_LEVEL_ERR, "%s", texts.pNoMethod);
                return 0;
            }
            rec.pCtx = OpenSSL().SSL_CTX_new(choice.pMeth, static_cast<SSL_CTX *>(nullptr));
            if (!rec.pCtx) {
                LogModule_Write(LOG_LEVEL_ERR, "%s", texts.pNoCtx);
                return 0;
            }
        }
        bool bList = texts.pCipherList && !(iKind == SSL_CTX_KIND_TLS_SERVER && s_bGM);
        if (bList && CtxSetCipherList(rec.pCtx, CCoreGlobalCtrlBase::GetCipherList()) != 1) {
            LogModule_Write(LOG_LEVEL_ERR, "%s", texts.pCipherList);
            SetError(MORVA_ERR_PARAM);
        }
    }
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::SSLCtxInit, SUCC, bServerLink[%d], dwSSLVersion[%d]",
                         bServerLink, static_cast<int>(dwSSLVersion));
    return 1;
}

int CSSLTrans::CreateSSLTrans(int bServerLink, DWORD dwSSLVersion) {
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::CreateSSLTrans, SSLLibLock Failed, bServerLink[%d], dwSSLVersion[%d]",
                        bServerLink, static_cast<int>(dwSSLVersion));
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!LoadSSLLib()) {
        if (!lock.Unlock())
            LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::CreateSSLTrans, LoadOpenSSLLib Failed 2, syserror[%d]", SysError());
        return 0;
    }
    bool bDTLS = bServerLink && dwSSLVersion >= SSL_VERSION_DTLS_MIN;
    int iKind = Kind(bServerLink, bDTLS);
    SSLCtxRecord &rec = s_Ctx[iKind];
    // The client context is set up on its first use, each server context on its first two.
    if (rec.llUsers >= (iKind == SSL_CTX_KIND_CLIENT ? 1 : 2)) {
        rec.llUsers++;
        static const char *const kUnlockFailed[3] = {
            "CSSLTrans::CreateSSLTrans, ClientLink SSLLibUnlock Failed, syserror[%d]",
            "CSSLTrans::CreateSSLTrans, TLS ServerLink SSLLibUnlock Failed, syserror[%d]",
            "CSSLTrans::CreateSSLTrans, DTLS ServerLink SSLLibUnlock Failed, syserror[%d]",
        };
        if (!lock.Unlock())
            LogModule_Write(LOG_LEVEL_ERR, kUnlockFailed[iKind], SysError());
        return 1;
    }
    if (dwSSLVersion <= 2 && OpenSSL().GetVersionNum() >= OPENSSL_VERSION_1_1_1A)
        dwSSLVersion = SSL_VERSION_TLS;
    if (!SSLCtxInit(bServerLink, dwSSLVersion)) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::CreateSSLTrans, SSLCtxInit Failed, bServerLink[%d], dwSSLVersion[%d]",
                        bServerLink, static_cast<int>(dwSSLVersion));
        lock.Unlock();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    rec.llUsers++;
    return 1;
}

int CSSLTrans::UnloadSSLLib(int bServerLink, int bDTLS) {
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::UnloadSSLLib, SSLLibLock Failed");
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    int iKind = Kind(bServerLink, bDTLS);
    static const char *const kCount[3] = {
        "CSSLTrans::UnloadSSLLib, m_iLoadCount[%d]",
        "CSSLTrans::UnloadSSLLib, ServerLink, m_iLoadCount[%d]",
        "CSSLTrans::UnloadSSLLib, ServerLink m_iLoadCount[%d]",
    };
    static const char *const kNotLoaded[3] = {
        "CSSLTrans::UnloadSSLLib, Lib Not Load",
        "CSSLTrans::UnloadSSLLib, ServerLink, Lib Not Load",
        "CSSLTrans::UnloadSSLLib, ServerLink Lib Not Load",
    };
    SSLCtxRecord &rec = s_Ctx[iKind];
    if (rec.llUsers > 0) {
        rec.llUsers--;
        LogModule_Write(LOG_LEVEL_INF, kCount[iKind], static_cast<int>(rec.llUsers));
    } else {
        LogModule_Write(LOG_LEVEL_INF, "%s", kNotLoaded[iKind]);
    }
    return 1;
}

// ---- CA directory of the client context (under the SSL library lock) ----

namespace {

// 1 while CA files are loaded from the configured directory.
int IsLoadCAEnabled() {
    return 1;
}

}  // namespace

int CSSLTrans::GetCAPathFromConfig(char *pBuf, int iSize) {
    if (!pBuf || iSize < CA_PATH_LEN)
        return 0;
    MORVA_CA_PATH_CFG cfg;
    if (!GetCoreGlobalCtrl()->GetSDKLocalCfg(SDK_LOCAL_CFG_CA_PATH, &cfg))
        return 0;
    memcpy(pBuf, cfg.szCAPath, CA_PATH_LEN);
    pBuf[CA_PATH_LEN - 1] = '\0';
    return pBuf[0] != '\0';
}

int CSSLTrans::SSLTrans_CTX_Load_CA() {
    SSLCtxRecord &rec = s_Ctx[SSL_CTX_KIND_CLIENT];
    // Without a client context yet (only the crypto instance in use) the first client creation loads.
    if (rec.bSetUp || !rec.pCtx)
        return 1;
    if (!IsLoadCAEnabled()) {
        rec.bSetUp = 1;
        return 1;
    }
    char szPath[CA_PATH_LEN];
    if (!GetCAPathFromConfig(szPath, sizeof(szPath))) {
        LogModule_WriteDebug(LOG_CATEGORY_SSL, "CSSLTrans::SSLTrans_CTX_Load_CA, GetCAPath Failed");
        SetError(MORVA_ERR_NO_CA_PATH);
        return 0;
    }
    size_t uPathLen = strlen(szPath);
    const char *pSep = (szPath[uPathLen - 1] == '/' || szPath[uPathLen - 1] == '\\') ? "" : "/";
    if (YAR_DIR_T *pDir = YAR_OpenDir(szPath)) {
        YAR_DIR_ENTRY_T entry;
        while (YAR_ReadDir(pDir, &entry) == 0) {
            if (entry.stInfo.iType & YAR_DTYPE_DIR)
                continue;
            char szCAName[CA_PATH_LEN];
            int iLen = snprintf(szCAName, sizeof(szCAName), "%s%s%s", szPath, pSep, entry.szName);
            if (iLen < 0 || iLen >= CA_PATH_LEN)
                continue;
            LogModule_Write(LOG_LEVEL_INF, "CSSLTrans::SSLTrans_CTX_Load_CA, szCAName[%s]", szCAName);
            if (OpenSSL().SSL_CTX_load_verify_locations(rec.pCtx, szCAName, static_cast<const char *>(nullptr), 0) != 1) {
                LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_CTX_Load_CA, SSLTrans_CTX_load_verify_locations Failed");
                SetError(MORVA_ERR_CERT);
            }
        }
        YAR_CloseDir(pDir);
    }
    rec.bSetUp = 1;
    return 1;
}

// Reloads the CA directory into a fresh store. Refused until OpenSSL is loaded: before that
// there is no client context to load into.
int CSSLTrans::SSLTrans_CXT_RefreshCA() {
    if (!IsLoaded()) {
        SetError(MORVA_ERR_CA_BEFORE_INIT);
        return 0;
    }
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_CXT_RefreshCA, SSLLibLock Failed");
        return 0;
    }
    SSLTrans_CTX_Unload_CA();
    int iRet = SSLTrans_CTX_Load_CA();
    if (!lock.Unlock())
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLTrans_CXT_RefreshCA, SSLLibUnlock Failed");
    return iRet;
}

void CSSLTrans::SSLTrans_CTX_Unload_CA() {
    SSLCtxRecord &rec = s_Ctx[SSL_CTX_KIND_CLIENT];
    if (!rec.bSetUp)
        return;
    if (X509_STORE *pStore = OpenSSL().X509_STORE_new(static_cast<X509_STORE *>(nullptr)))
        OpenSSL().SSL_CTX_set_cert_store(rec.pCtx, pStore);
    rec.bSetUp = 0;
}

// ---- Entry points ----

namespace {

// The server creations differ only in the GM flag and their texts.
struct ServerTexts {
    const char *pInvalid;
    const char *pLockFailed;
    const char *pLoadFailed;
    const char *pSucc;
    const char *pNewFailed;
};

// TLS 1.0, TLS 1.1 and DTLS 1.0 servers would get only TLS 1.2 suites, and OpenSSL's security
// level refuses those versions anyway: no handshake could ever complete.
bool IsObsoleteServerCode(DWORD dwSSLVersion) {
    return dwSSLVersion == 3 || dwSSLVersion == 4 || dwSSLVersion == SSL_VERSION_DTLS_V1;
}

CSSLTrans *CreateServer(DWORD dwSSLVersion, int bDTLS, int bGM, const ServerTexts &texts) {
    if (dwSSLVersion >= SSL_VERSION_DTLS || IsObsoleteServerCode(dwSSLVersion)) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pInvalid, static_cast<int>(dwSSLVersion));
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    // The context kind follows the code; an instance of the other kind would have no context.
    bool bDTLSCode = dwSSLVersion >= SSL_VERSION_DTLS_MIN;
    if (bDTLSCode != (bDTLS != 0)) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pInvalid, static_cast<int>(dwSSLVersion));
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    CSSLTrans *pSSLTrans = nullptr;
    {
        SSLLibGuard lock;
        if (!lock.Locked()) {
            LogModule_Write(LOG_LEVEL_ERR, texts.pLockFailed, SysError());
            SetError(MORVA_ERR_ALLOC);
            return nullptr;
        }
        if (!CSSLTrans::CreateSSLTrans(1, dwSSLVersion)) {
            LogModule_Write(LOG_LEVEL_ERR, texts.pLoadFailed, static_cast<int>(dwSSLVersion));
            return nullptr;
        }
        pSSLTrans = bGM ? new (std::nothrow) CSSLTrans(1, bDTLS, 1) : new (std::nothrow) CSSLTrans(1, bDTLS);
    }
    if (pSSLTrans)
        LogModule_WriteDebug(LOG_CATEGORY_SSL, texts.pSucc, MORVA_PTR_ARG(pSSLTrans), static_cast<int>(dwSSLVersion));
    else
        LogModule_Write(LOG_LEVEL_ERR, texts.pNewFailed, static_cast<int>(sizeof(CSSLTrans)));
    return pSSLTrans;
}

}  // namespace

CSSLTrans *Interim_CreateSSLTransEx(DWORD dwSSLVersion) {
    if (dwSSLVersion >= SSL_VERSION_TLS) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, Invalid dwSSLVersion[%d]",
                        static_cast<int>(dwSSLVersion));
        SetError(MORVA_ERR_PARAM);
        return nullptr;
    }
    CSSLTrans *pSSLTrans = nullptr;
    {
        SSLLibGuard lock;
        if (!lock.Locked()) {
            LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, SSLLibLock 1 Failed");
            SetError(MORVA_ERR_ALLOC);
            return nullptr;
        }
        if (!CSSLTrans::CreateSSLTrans(0, dwSSLVersion)) {
            LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, LoadSSLLib Failed, dwSSLVersion[%d]",
                            static_cast<int>(dwSSLVersion));
            return nullptr;
        }
        // Without a CA directory this fails with 40; the instance serves all the same.
        CSSLTrans::SSLTrans_CTX_Load_CA();
        pSSLTrans = new (std::nothrow) CSSLTrans(0, 0);
        if (!pSSLTrans) {
            LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, New pSSLTrans Failed");
            SetError(MORVA_ERR_ALLOC);
        }
    }
    if (pSSLTrans)
        LogModule_Write(LOG_LEVEL_DBG, "Interim_CreateSSLTransEx, SUCC, pSSLTrans[0x%X], dwSSLVersion[%d]",
                        MORVA_PTR_ARG(pSSLTrans), static_cast<int>(dwSSLVersion));
    else
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, New pSSLTrans Failed, size[%d]",
                        static_cast<int>(sizeof(CSSLTrans)));
    return pSSLTrans;
}

CSSLTrans *Interim_CreateSSLServerEx(DWORD dwSSLVersion, int bDTLS) {
    static const ServerTexts kTexts = {
        "Interim_CreateSSLServerEx, Invalid dwSSLVersion[%d]", "Interim_CreateSSLServerEx, SSLLibLock Failed 1, syserror[%d]",
        "Interim_CreateSSLServerEx, LoadSSLLib Failed, dwSSLVersion[%d]",
        "Interim_CreateSSLServerEx, SUCC, pSSLTrans[0x%X], dwSSLVersion[%d]",
        "Interim_CreateSSLServerEx, New pSSLTrans Failed, size[%d]"};
    return CreateServer(dwSSLVersion, bDTLS, 0, kTexts);
}

CSSLTrans *Interim_CreateSSLServerGMEx(DWORD dwSSLVersion, int bDTLS) {
    static const ServerTexts kTexts = {
        "Interim_CreateSSLServerGMEx, Invalid dwSSLVersion[%d]",
        "Interim_CreateSSLServerGMEx, SSLLibLock Failed 1, syserror[%d]",
        "Interim_CreateSSLServerGMEx, LoadSSLLib Failed, dwSSLVersion[%d]",
        "Interim_CreateSSLServerGMEx, SUCC, pSSLTrans[0x%X], dwSSLVersion[%d]",
        "Interim_CreateSSLServerGMEx, New pSSLTrans Failed, size[%d]"};
    return CreateServer(dwSSLVersion, bDTLS, 1, kTexts);
}

void Interim_DestroySSLTrans(CSSLTransInterface *pInstance) {
    LogModule_WriteDebug(LOG_CATEGORY_SSL, "Interim_DestroySSLTrans, pInstance[0x%X]", MORVA_PTR_ARG(pInstance));
    auto *pSSLTrans = dynamic_cast<CSSLTrans *>(pInstance);
    if (!pSSLTrans) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DestroySSLTrans, pSSLTrans == NULL");
        return;
    }
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DestroySSLTrans, SSLLibLock Failed, syserror[%d]", SysError());
        SetError(MORVA_ERR_ALLOC);
    }
    delete pSSLTrans;
    if (lock.Locked() && !lock.Unlock())
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DestroySSLTrans, SSLLibUnlock Failed, syserror[%d]", SysError());
}

CSSLTrans *Interim_GetCryptionIns() {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (CSSLTrans::IsLoaded())
        return pCtrl->GetSSLTrans();
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, SSLLibLock 1 Failed");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
    int bLoaded = CSSLTrans::LoadSSLLib();
    if (!lock.Unlock()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_CreateSSLTransEx, SSLLibUnlock Failed 2, syserror[%d]", SysError());
        return nullptr;
    }
    return bLoaded ? pCtrl->GetSSLTrans() : nullptr;
}

int Interim_UnloadSSLLib() {
    return CSSLTrans::UnloadSSLLib(0, 0);
}

CSSLTrans *Morva_CreateSSLTrans() {
    return Morva_CreateSSLTransEx(0);
}

CSSLTrans *Morva_CreateSSLTransEx(DWORD dwSSLVersion) {
    return GetCoreGlobalCtrl()->CheckInit() ? Interim_CreateSSLTransEx(dwSSLVersion) : nullptr;
}

CSSLTrans *Morva_CreateSSLServer() {
    return Morva_CreateSSLServerEx(0);
}

CSSLTrans *Morva_CreateSSLServerEx(DWORD dwSSLVersion) {
    return GetCoreGlobalCtrl()->CheckInit() ? Interim_CreateSSLServerEx(dwSSLVersion, 0) : nullptr;
}

void Morva_DestroySSLTrans(CSSLTransInterface *pInstance) {
    if (GetCoreGlobalCtrl()->CheckInit())
        Interim_DestroySSLTrans(pInstance);
}

}  // namespace Vorezi
