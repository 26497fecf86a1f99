// Certificates, keys and trusted CAs of the shared contexts from a MORVA_SSL_PARAM record, the
// verify callback of client sessions with the user callback of local configuration item 20, and
// the conversion of certificate times.
#include <cstring>
#include <ctime>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLLibGuard.h"
#include "crypto/SSLTrans.h"
#include "yar/yar_error.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr int SSL_VERIFY_NONE = 0;
constexpr int SSL_VERIFY_PEER = 1;
constexpr int SSL_VERIFY_PEER_REQUIRE_CERT = 3;  // peer, and fail without a peer certificate
constexpr int V_ASN1_UTCTIME = 23;
constexpr int V_ASN1_GENERALIZEDTIME = 24;
constexpr int CERT_NAME_LEN = 64;

int SysError() {
    return static_cast<int>(YAR_GetSystemLastError());
}

int Fail(int iCode) {
    SetError(iCode);
    return 0;
}

// The record's file type as OpenSSL's (1 PEM, 2 DER); -1 when invalid.
int FileType(BYTE byType) {
    return byType == 0 ? 1 : byType == 1 ? 2 : -1;
}

// A client certificate passes only when OpenSSL's own verification did.
int ServerVerifyCallback(int iPreverifyOk, X509_STORE_CTX * /*pStoreCtx*/) {
    return iPreverifyOk;
}

bool ReadDigits(const char *&p, const char *pEnd, int iCount, int *pValue) {
    int v = 0;
    for (int i = 0; i < iCount; i++, p++) {
        if (p >= pEnd || *p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
    }
    *pValue = v;
    return true;
}

bool IsLeap(int iYear) {
    return (iYear % 4 == 0 && iYear % 100 != 0) || iYear % 400 == 0;
}

int MonthDays(int iYear, int iMon) {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kMonthDays[iMon - 1] + (iMon == 2 && IsLeap(iYear) ? 1 : 0);
}

// A date and time that names no real instant (month 13, 31 April, minute 60) is no certificate time.
bool ValidFields(int iYear, int iMon, int iDay, int iHour, int iMin, int iSec) {
    return iMon >= 1 && iMon <= 12 && iDay >= 1 && iDay <= MonthDays(iYear, iMon) && iHour <= 23 && iMin <= 59 &&
           iSec <= 59;
}

// Days from 1970-01-01 to the first of January of the year.
int64_t DaysBeforeYear(int iYear) {
    int64_t llDays = static_cast<int64_t>(iYear - 1970) * 365;
    if (iYear >= 1970) {
        llDays += (iYear - 1969) / 4;
        for (int y = 2100; y < iYear; y += 100)
            if (y % 400 != 0)
                llDays--;
    } else {
        llDays -= (1972 - iYear) / 4;
        for (int y = 1900; y >= iYear; y -= 100)
            if (y % 400 != 0)
                llDays++;
    }
    return llDays;
}

void CopyName(char *pDst, X509_NAME *pName) {
    COpenSSLAPI &api = OpenSSL();
    char *pText = api.X509_NAME_oneline(pName, static_cast<char *>(nullptr), 0, static_cast<char *>(nullptr));
    if (!pText)
        return;
    strncpy(pDst, pText, CERT_NAME_LEN);
    api.CRYPTO_free(pText, __FILE__, __LINE__);
}

bool ExplodeTime(const ASN1_TIME *pTime, int32_t *pOut) {
    YAR_TIME_EXP_T exp;
    if (YAR_ExpTimeFromTime(YAR_TimeFromSeconds(CSSLTrans::Asn1TimeToTime(pTime)), 0, &exp) != 0)
        return false;
    pOut[0] = exp.tm_year + 1900;
    pOut[1] = exp.tm_mon + 1;
    pOut[2] = exp.tm_mday;
    pOut[3] = exp.tm_hour;
    pOut[4] = exp.tm_min;
    pOut[5] = exp.tm_sec;
    return true;
}

}  // namespace

int64_t CSSLTrans::Asn1TimeToTime(const ASN1_TIME *pTime) {
    COpenSSLAPI &api = OpenSSL();
    if (!pTime)
        return 0;
    int iType = api.ASN1_STRING_type(pTime, 0);
    const char *p = reinterpret_cast<const char *>(api.ASN1_STRING_get0_data(pTime, nullptr));
    int iLen = api.ASN1_STRING_length(pTime, 0);
    if (!p || iLen < 0 || (iType != V_ASN1_UTCTIME && iType != V_ASN1_GENERALIZEDTIME))
        return 0;
    const char *pEnd = p + iLen;
    if (memchr(p, '\0', iLen))
        return 0;
    int iYear = 0, iMon = 0, iDay = 0, iHour = 0, iMin = 0, iSec = 0;
    if (iType == V_ASN1_GENERALIZEDTIME) {
        if (!ReadDigits(p, pEnd, 4, &iYear))
            return 0;
    } else {
        if (!ReadDigits(p, pEnd, 2, &iYear))
            return 0;
        iYear += iYear < 50 ? 2000 : 1900;
    }
    if (!ReadDigits(p, pEnd, 2, &iMon) || !ReadDigits(p, pEnd, 2, &iDay) || !ReadDigits(p, pEnd, 2, &iHour) ||
        !ReadDigits(p, pEnd, 2, &iMin))
        return 0;
    if (p < pEnd && *p >= '0' && *p <= '9' && !ReadDigits(p, pEnd, 2, &iSec))
        return 0;
    if (!ValidFields(iYear, iMon, iDay, iHour, iMin, iSec))
        return 0;
    if (iType == V_ASN1_GENERALIZEDTIME) {
        while (p < pEnd && (*p == '.' || *p == ',' || (*p >= '0' && *p <= '9')))
            p++;
        if (p == pEnd) {
            // No zone: the local time of this machine.
            struct tm tmLocal = {};
            tmLocal.tm_year = iYear - 1900;
            tmLocal.tm_mon = iMon - 1;
            tmLocal.tm_mday = iDay;
            tmLocal.tm_hour = iHour;
            tmLocal.tm_min = iMin;
            tmLocal.tm_sec = iSec;
            tmLocal.tm_isdst = -1;
            time_t t = mktime(&tmLocal);
            return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
        }
    }
    if (p >= pEnd)
        return 0;
    int iOffset = 0;
    if (*p == 'Z') {
        p++;
    } else if (*p == '+' || *p == '-') {
        int iSign = *p++ == '-' ? -1 : 1;
        int iOffHour = 0, iOffMin = 0;
        if (!ReadDigits(p, pEnd, 2, &iOffHour) || !ReadDigits(p, pEnd, 2, &iOffMin))
            return 0;
        iOffset = iSign * (iOffHour * 60 + iOffMin);
    } else {
        return 0;
    }
    if (p != pEnd)
        return 0;
    int64_t llDays = iDay - 1;
    for (int m = 1; m < iMon; m++)
        llDays += MonthDays(iYear, m);
    llDays += DaysBeforeYear(iYear);
    return iSec + static_cast<int64_t>(iMin - iOffset) * 60 + static_cast<int64_t>(iHour) * 3600 + llDays * 86400;
}

int CSSLTrans::VeritifyCallback(int iPreverifyOk, X509_STORE_CTX *pStoreCtx) {
    COpenSSLAPI &api = OpenSSL();
    MORVA_CERT_INFO info;
    memset(&info, 0, sizeof(info));
    X509 *pCert = api.X509_STORE_CTX_get_current_cert(pStoreCtx, static_cast<X509 *>(nullptr));
    if (pCert) {
        CopyName(info.szIssuer, api.X509_get_issuer_name(pCert, static_cast<X509_NAME *>(nullptr)));
        CopyName(info.szSubject, api.X509_get_subject_name(pCert, static_cast<X509_NAME *>(nullptr)));
    }
    const ASN1_TIME *pNotBefore = pCert ? api.X509_getm_notBefore(pCert, static_cast<ASN1_TIME *>(nullptr)) : nullptr;
    const ASN1_TIME *pNotAfter = pCert ? api.X509_getm_notAfter(pCert, static_cast<ASN1_TIME *>(nullptr)) : nullptr;
    if (!pNotBefore || !pNotAfter)
        return 0;
    ExplodeTime(pNotBefore, info.iNotBefore);
    ExplodeTime(pNotAfter, info.iNotAfter);

    int iResult = iPreverifyOk;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    SSLLibGuard lock;
    if (!lock.Locked())
        return iResult;
    MORVA_CA_PATH_CFG cfg;
    if (pCtrl->GetSDKLocalCfg(SDK_LOCAL_CFG_CA_PATH, &cfg) && cfg.fnVerifyCallBack)
        iResult = cfg.fnVerifyCallBack(iPreverifyOk, &info, cfg.pUser) ? 1 : 0;
    if (!lock.Unlock())
        LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::VeritifyCallback, SSLLibUnlock Failed, syserror[%d]", SysError());
    return iResult;
}

int CSSLTrans::SSLInitClientParam(const MORVA_SSL_PARAM *pSSLParam) {
    COpenSSLAPI &api = OpenSSL();
    if (m_bServer) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, m_bServer == FALSE", MORVA_PTR_ARG(this));
        return Fail(MORVA_ERR_PARAM);
    }
    if (!pSSLParam || !m_pSSL || !m_pSelfCtx) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, Invalid Param, pSSLParam[0x%X], m_pSSL[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pSSLParam), MORVA_PTR_ARG(m_pSSL));
        return Fail(MORVA_ERR_PARAM);
    }
    if (pSSLParam->byVerifyMode == 2) {
        api.SSL_set_verify(m_pSSL, SSL_VERIFY_PEER, &CSSLTrans::VeritifyCallback);
        api.SSL_set_verify_depth(m_pSSL, 1);
        return 1;
    }
    if (pSSLParam->byVerifyMode != 1)
        return 1;
    int iCertType = FileType(pSSLParam->byCertificateFileType);
    if (iCertType < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, Invalid byCertificateFileType[%d], m_pSSL[0x%X]",
                        MORVA_PTR_ARG(this), pSSLParam->byCertificateFileType, MORVA_PTR_ARG(m_pSSL));
        return Fail(MORVA_ERR_PARAM);
    }
    int iKeyType = FileType(pSSLParam->byPrivateKeyFileType);
    if (iKeyType < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, byPrivateKeyFileType[%d], m_pSSL[0x%X]",
                        MORVA_PTR_ARG(this), pSSLParam->byPrivateKeyFileType, MORVA_PTR_ARG(m_pSSL));
        return Fail(MORVA_ERR_PARAM);
    }
    if (!m_pCtxRecord->bSetUp) {
        if (!pSSLParam->pCACertificateFile) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, Invalid pCACertificateFile[0x%X]",
                            MORVA_PTR_ARG(this), 0u);
            return Fail(MORVA_ERR_PARAM);
        }
        LogModule_Write(LOG_LEVEL_INF, "[0x%X]CSSLTrans::SSLInitClientParam, pCACertificateFile[%s]", MORVA_PTR_ARG(this),
                        pSSLParam->pCACertificateFile);
        if (api.SSL_CTX_load_verify_locations(m_pSelfCtx, pSSLParam->pCACertificateFile,
                                              static_cast<const char *>(nullptr), 0) != 1) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitClientParam, m_fnCTXLoadVerifyLocations Failed",
                            MORVA_PTR_ARG(this));
            return Fail(MORVA_ERR_CERT);
        }
        m_pCtxRecord->bSetUp = 1;
    }
    if (!pSSLParam->pUserCertificateFile || !pSSLParam->pUserPrivateKeyFile) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLInitClientParam, pUserCertificateFile[0x%X], pUserPrivateKeyFile[0x%X], m_pSSL[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pSSLParam->pUserCertificateFile),
                        MORVA_PTR_ARG(pSSLParam->pUserPrivateKeyFile), MORVA_PTR_ARG(m_pSSL));
        return Fail(MORVA_ERR_PARAM);
    }
    const char *pFailed = nullptr;
    if (api.SSL_use_certificate_file(m_pSSL, pSSLParam->pUserCertificateFile, iCertType, -1) <= 0)
        pFailed = "[0x%X]CSSLTrans::SSLInitClientParam, SSLTrans_use_certificate_file Failed, m_pSSL[0x%X]";
    else if (api.SSL_use_PrivateKey_file(m_pSSL, pSSLParam->pUserPrivateKeyFile, iKeyType, -1) <= 0)
        pFailed = "[0x%X]CSSLTrans::SSLInitClientParam, SSLTrans_use_PrivateKey_file Failed, m_pSSL[0x%X]";
    else if (!api.SSL_check_private_key(m_pSSL, 0))
        pFailed = "[0x%X]CSSLTrans::SSLInitClientParam, SSLTrans_check_private_key Failed, m_pSSL[0x%X]";
    if (pFailed) {
        LogModule_Write(LOG_LEVEL_ERR, pFailed, MORVA_PTR_ARG(this), MORVA_PTR_ARG(m_pSSL));
        return Fail(MORVA_ERR_CERT);
    }
    api.SSL_CTX_ctrl(m_pSelfCtx, OSSL_SSL_CTRL_MODE, OSSL_SSL_MODE_AUTO_RETRY, nullptr, 0L);
    api.SSL_set_verify(m_pSSL, SSL_VERIFY_PEER_REQUIRE_CERT, static_cast<OSSL_VERIFY_CB>(nullptr));
    api.SSL_set_verify_depth(m_pSSL, 1);
    return 1;
}

namespace {

// The checks both server set-ups make of a record, with the texts of one of them.
struct ServerParamTexts {
    const char *pNotServer;
    const char *pInvalid;
    const char *pMode;
    const char *pCertType;
    const char *pKeyType;
    const char *pFiles;
};

bool CheckServerParam(const void *pThis, int bServer, const SSL_CTX *pCtx, const MORVA_SSL_PARAM *pSSLParam,
                      const ServerParamTexts &texts, bool bPrefix) {
    // The DTLS texts lead with the object address, the TLS ones do not.
    auto Log = [&](const char *pFormat, unsigned a, unsigned b) {
        if (bPrefix)
            LogModule_Write(LOG_LEVEL_ERR, pFormat, MORVA_PTR_ARG(pThis), a, b);
        else
            LogModule_Write(LOG_LEVEL_ERR, pFormat, a, b);
    };
    if (!bServer)
        Log(texts.pNotServer, 0, 0);
    else if (!pSSLParam || !pCtx)
        Log(texts.pInvalid, MORVA_PTR_ARG(pSSLParam), 0);
    else if (pSSLParam->byVerifyMode > 1)
        Log(texts.pMode, pSSLParam->byVerifyMode, 0);
    else if (FileType(pSSLParam->byCertificateFileType) < 0)
        Log(texts.pCertType, pSSLParam->byCertificateFileType, 0);
    else if (FileType(pSSLParam->byPrivateKeyFileType) < 0)
        Log(texts.pKeyType, pSSLParam->byPrivateKeyFileType, 0);
    else if (!pSSLParam->pUserCertificateFile || !pSSLParam->pUserPrivateKeyFile)
        Log(texts.pFiles, MORVA_PTR_ARG(pSSLParam->pUserCertificateFile), MORVA_PTR_ARG(pSSLParam->pUserPrivateKeyFile));
    else
        return true;
    SetError(MORVA_ERR_PARAM);
    return false;
}

// Certificate, key and key check on a context; the failed step's text, null on success.
const char *UseCtxFiles(SSL_CTX *pCtx, const MORVA_SSL_PARAM *pSSLParam, const char *const pTexts[3]) {
    COpenSSLAPI &api = OpenSSL();
    if (api.SSL_CTX_use_certificate_file(pCtx, pSSLParam->pUserCertificateFile,
                                         FileType(pSSLParam->byCertificateFileType), -1) <= 0)
        return pTexts[0];
    if (api.SSL_CTX_use_PrivateKey_file(pCtx, pSSLParam->pUserPrivateKeyFile,
                                        FileType(pSSLParam->byPrivateKeyFileType), -1) <= 0)
        return pTexts[1];
    if (!api.SSL_CTX_check_private_key(pCtx, 0))
        return pTexts[2];
    return nullptr;
}

// The trusted CA file of a server context, with OpenSSL's default paths.
bool LoadServerCA(SSL_CTX *pCtx, const char *pFile, const char **ppFailed, const char *pLoadFailed,
                  const char *pPathsFailed) {
    COpenSSLAPI &api = OpenSSL();
    if (api.SSL_CTX_load_verify_locations(pCtx, pFile, static_cast<const char *>(nullptr), 0) != 1)
        *ppFailed = pLoadFailed;
    else if (api.SSL_CTX_set_default_verify_paths(pCtx, 0) != 1)
        *ppFailed = pPathsFailed;
    else
        api.SSL_CTX_ctrl(pCtx, OSSL_SSL_CTRL_MODE, OSSL_SSL_MODE_AUTO_RETRY, nullptr, 0L);
    return *ppFailed == nullptr;
}

}  // namespace

int CSSLTrans::SSLInitTLSServerParam(const MORVA_SSL_PARAM *pSSLParam) {
    static const ServerParamTexts kTexts = {
        "CSSLTrans::SSLInitTLSServerParam, m_bServer == FALSE",
        "CSSLTrans::SSLInitTLSServerParam, Invalid Param, pSSLParam[%d]",
        "CSSLTrans::SSLInitTLSServerParam, Invalid byVerifyMode[%d]",
        "CSSLTrans::SSLInitTLSServerParam, Invalid byCertificateFileType[%d]",
        "CSSLTrans::SSLInitTLSServerParam, Invalid byPrivateKeyFileType[%d]",
        "CSSLTrans::SSLInitTLSServerParam, pUserCertificateFile[0x%X], pUserPrivateKeyFile[0x%X]"};
    if (!CheckServerParam(this, m_bServer, m_pSelfCtx, pSSLParam, kTexts, false))
        return 0;
    COpenSSLAPI &api = OpenSSL();
    if (!m_pCtxRecord->bSetUp) {
        const char *pFailed = nullptr;
        if (pSSLParam->byVerifyMode == 1) {
            if (!pSSLParam->pCACertificateFile) {
                LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLInitTLSServerParam, Invalid pCACertificateFile[0x%X]", 0u);
                return Fail(MORVA_ERR_PARAM);
            }
            LogModule_Write(LOG_LEVEL_DBG, "CSSLTrans::SSLInitTLSServerParam, pCACertificateFile[%s]",
                            pSSLParam->pCACertificateFile);
            LoadServerCA(m_pSelfCtx, pSSLParam->pCACertificateFile, &pFailed,
                         "CSSLTrans::SSLInitTLSServerParam, SSLTrans_CTX_load_verify_locations Failed",
                         "CSSLTrans::SSLInitTLSServerParam, SSLTrans_CTX_set_default_verify_paths Failed");
        }
        static const char *const kFileTexts[3] = {
            "CSSLTrans::SSLInitTLSServerParam, SSLTrans_use_certificate_file Failed",
            "CSSLTrans::SSLInitTLSServerParam, SSLTrans_use_PrivateKey_file Failed",
            "CSSLTrans::SSLInitTLSServerParam, SSLTrans_check_private_key Failed"};
        if (!pFailed)
            pFailed = UseCtxFiles(m_pSelfCtx, pSSLParam, kFileTexts);
        if (pFailed) {
            LogModule_Write(LOG_LEVEL_ERR, "%s", pFailed);
            return Fail(MORVA_ERR_CERT);
        }
        LogModule_Write(LOG_LEVEL_DBG,
                        "CSSLTrans::SSLInitTLSServerParam, byVerifyMode[%d], pUserCertificateFile[%s], pUserPrivateKeyFile[%s]",
                        pSSLParam->byVerifyMode, pSSLParam->pUserCertificateFile, pSSLParam->pUserPrivateKeyFile);
        if (s_bGM) {
            // A GM server that cannot have the GM suites is not set up.
            if (api.SSL_CTX_set_cipher_list(m_pSelfCtx, "ECC-SM4-SM3", 0) != 1) {
                LogModule_Write(LOG_LEVEL_ERR, "CSSLTrans::SSLInitTLSServerParam, SSLTrans_CTX_set_cipher_list GM Failed");
                return Fail(MORVA_ERR_PARAM);
            }
            LogModule_Write(LOG_LEVEL_INF, "CSSLTrans::SSLInitTLSServerParam, SSLTrans_CTX_set_cipher_list GM SUCC");
        }
        m_pCtxRecord->bSetUp = 1;
    }
    if (pSSLParam->byVerifyMode == 1)
        api.SSL_CTX_set_verify(m_pSelfCtx, SSL_VERIFY_PEER_REQUIRE_CERT, &ServerVerifyCallback);
    else
        api.SSL_CTX_set_verify(m_pSelfCtx, SSL_VERIFY_NONE, static_cast<OSSL_VERIFY_CB>(nullptr));
    return 1;
}

int CSSLTrans::SSLInitDTLSServerParam(const MORVA_SSL_PARAM *pSSLParam) {
    static const ServerParamTexts kTexts = {
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, m_bServer is False",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid Param, pSSLParam[0x%X], m_pSSL[0x%X]",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid byVerifyMode[%d]",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid byCertificateFileType[%d]",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid byPrivateKeyFileType[%d]",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid pUserCertificateFile[0x%X], pUserPrivateKeyFile[0x%X]"};
    if (!CheckServerParam(this, m_bServer, m_pSelfCtx, pSSLParam, kTexts, true))
        return 0;
    COpenSSLAPI &api = OpenSSL();
    if (pSSLParam->byVerifyMode == 1) {
        api.SSL_CTX_set_verify(m_pSelfCtx, SSL_VERIFY_PEER_REQUIRE_CERT, static_cast<OSSL_VERIFY_CB>(nullptr));
        if (!m_pCtxRecord->bSetUp) {
            if (!pSSLParam->pCACertificateFile) {
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLInitDTLSServerParam, Invalid pCACertificateFile[0x%X]",
                                MORVA_PTR_ARG(this), 0u);
                return Fail(MORVA_ERR_PARAM);
            }
            LogModule_Write(LOG_LEVEL_INF, "[0x%X]CSSLTrans::SSLInitDTLSServerParam, pCACertificateFile[%s]",
                            MORVA_PTR_ARG(this), pSSLParam->pCACertificateFile);
            const char *pFailed = nullptr;
            if (!LoadServerCA(m_pSelfCtx, pSSLParam->pCACertificateFile, &pFailed,
                              "[0x%X]CSSLTrans::SSLInitDTLSServerParam, m_fnCTXLoadVerifyLocations Failed",
                              "[0x%X]CSSLTrans::SSLInitTLSServerParam, m_fnCTXSetDefaultVerifyPaths Failed")) {
                LogModule_Write(LOG_LEVEL_ERR, pFailed, MORVA_PTR_ARG(this));
                return Fail(MORVA_ERR_CERT);
            }
            m_pCtxRecord->bSetUp = 1;
        }
    } else {
        api.SSL_CTX_set_verify(m_pSelfCtx, SSL_VERIFY_NONE, static_cast<OSSL_VERIFY_CB>(nullptr));
    }
    static const char *const kFileTexts[3] = {
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, m_fnUseCertificateFile Failed",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, m_fnUsePrivateKeyFile Failed",
        "[0x%X]CSSLTrans::SSLInitDTLSServerParam, m_fnCheckPrivateKey Failed"};
    if (const char *pFailed = UseCtxFiles(m_pSelfCtx, pSSLParam, kFileTexts)) {
        LogModule_Write(LOG_LEVEL_ERR, pFailed, MORVA_PTR_ARG(this));
        return Fail(MORVA_ERR_CERT);
    }
    return 1;
}

// ---- Entry points ----

int Interim_SetSSLClientParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen) {
    auto *pSSLTrans = dynamic_cast<CSSLTrans *>(pInstance);
    if (!pSSLTrans) {
        Utils_Assert();
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLClientParam, pSSLTrans == NULL");
        return Fail(MORVA_ERR_PARAM);
    }
    if (!pSSLParam || dwDataLen != sizeof(MORVA_SSL_PARAM)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLClientParam, Invalid Param, pSSLParam[0x%X], dwDataLen[%d], pSSLTrans[0x%X]",
                        MORVA_PTR_ARG(pSSLParam), static_cast<int>(dwDataLen), MORVA_PTR_ARG(pSSLTrans));
        return Fail(MORVA_ERR_PARAM);
    }
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLClientParam, SSLLibLock Failed, syserror[%d], pSSLTrans[0x%X]",
                        SysError(), MORVA_PTR_ARG(pSSLTrans));
        return Fail(MORVA_ERR_ALLOC);
    }
    int iRet = pSSLTrans->SSLInitClientParam(pSSLParam);
    if (!iRet)
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLClientParam, SSLInitClientParam Failed, pSSLTrans[0x%X]",
                        MORVA_PTR_ARG(pSSLTrans));
    if (!lock.Unlock()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLClientParam, SSLLibUnlock Failed, syserror[%d], pSSLTrans[0x%X]",
                        SysError(), MORVA_PTR_ARG(pSSLTrans));
        SetError(MORVA_ERR_NOT_READY);
    }
    return iRet;
}

int Interim_SetSSLServerParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen) {
    auto *pSSLTrans = dynamic_cast<CSSLTrans *>(pInstance);
    if (!pSSLTrans) {
        Utils_Assert();
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLServerParam, pSSLTrans == NULL");
        return Fail(MORVA_ERR_PARAM);
    }
    if (!pSSLParam || dwDataLen != sizeof(MORVA_SSL_PARAM)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLServerParam, Invalid Param, pSSLParam[0x%X], dwDataLen[%d]",
                        MORVA_PTR_ARG(pSSLParam), static_cast<int>(dwDataLen));
        return Fail(MORVA_ERR_PARAM);
    }
    SSLLibGuard lock;
    if (!lock.Locked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLServerParam, SSLLibLock Failed");
        return Fail(MORVA_ERR_ALLOC);
    }
    int iRet = pSSLTrans->IsDTLS() ? pSSLTrans->SSLInitDTLSServerParam(pSSLParam)
                                   : pSSLTrans->SSLInitTLSServerParam(pSSLParam);
    if (!iRet)
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLServerParam, SSLInitTLSServerParam Failed, pSSLTrans[0x%X]",
                        MORVA_PTR_ARG(pSSLTrans));
    if (!lock.Unlock())
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SetSSLServerParam, SSLLibUnlock Failed");
    return iRet;
}

int Morva_SetSSLClientParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen) {
    return GetCoreGlobalCtrl()->CheckInit() ? Interim_SetSSLClientParam(pInstance, pSSLParam, dwDataLen) : 0;
}

int Morva_SetSSLServerParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen) {
    return GetCoreGlobalCtrl()->CheckInit() ? Interim_SetSSLServerParam(pInstance, pSSLParam, dwDataLen) : 0;
}

}  // namespace Vorezi
