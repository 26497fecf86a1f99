#include "crypto/KeyCache.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/FreshSSLTrans.h"
#include "crypto/VORNEncrypt.h"
#include "internal/MorvaInternal.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr DWORD kStepMs = 10;
constexpr DWORD kDefaultPeriodMs = 60000;
constexpr uint32_t kRefreshStack = 0x40000;  // enough for RSA-2048 generation in OpenSSL
std::atomic<DWORD> g_dwPeriodMs{kDefaultPeriodMs};

}  // namespace

// ---- Refresh thread and lock ----

CKeyRefresher::CKeyRefresher(const char *pOwnerName, const char *pCreateName, CREATE_ROUTINE fnCreate,
                             void *pOwner)
    : m_pOwnerName(pOwnerName), m_pCreateName(pCreateName), m_fnCreate(fnCreate), m_pOwner(pOwner), m_hMutex() {}

CKeyRefresher::~CKeyRefresher() { Stop(); }

void CKeyRefresher::SetUpdatePeriod(DWORD dwMilliseconds) {
    g_dwPeriodMs.store(dwMilliseconds ? dwMilliseconds : kDefaultPeriodMs);
}

int CKeyRefresher::Start() {
    if (m_bInitSucc.load(std::memory_order_acquire)) return 1;
    if (YAR_MutexCreate(&m_hMutex, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "%s::Start, YAR_MutexCreate failed! syserror[%d]", m_pOwnerName,
                        YAR_GetSystemLastError());
        return 0;
    }
    m_bMutexCreated = true;
    if (!m_fnCreate(m_pOwner)) {
        YAR_MutexDestroy(&m_hMutex);
        m_bMutexCreated = false;
        LogModule_Write(LOG_LEVEL_ERR, "%s::Start, %s Failed", m_pOwnerName, m_pCreateName);
        return 0;
    }
    m_dwPeriodSteps = (g_dwPeriodMs.load() + kStepMs - 1) / kStepMs;
    m_bStop.store(0);
    m_hThread = YAR_Thread_Create(UpdateKey, this, kRefreshStack, 0, 0, 0);
    if (m_hThread == nullptr) {
        YAR_MutexDestroy(&m_hMutex);
        m_bMutexCreated = false;
        LogModule_Write(LOG_LEVEL_ERR, "%s::Start, YAR_Thread_Create Failed!, syserror[%d]", m_pOwnerName,
                        YAR_GetSystemLastError());
        return 0;
    }
    m_bInitSucc.store(1, std::memory_order_release);
    return 1;
}

void CKeyRefresher::Stop() {
    m_bInitSucc.store(0, std::memory_order_release);
    m_bStop.store(1);
    if (m_hThread != nullptr) {
        YAR_Thread_Wait(m_hThread);
        m_hThread = nullptr;
    }
    if (m_bMutexCreated) {
        YAR_MutexDestroy(&m_hMutex);
        m_bMutexCreated = false;
    }
}

uint32_t CKeyRefresher::UpdateKey(void *pSelf) {
    CKeyRefresher *pThis = static_cast<CKeyRefresher *>(pSelf);
    if (pThis == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CKeyRefresher::UpdateKey, pSelf == NULL");
        Utils_Assert();
        return 0;
    }
    for (;;) {
        // Short steps so that a stop is seen within one of them.
        for (DWORD i = 0; i < pThis->m_dwPeriodSteps; ++i) {
            if (pThis->m_bStop.load()) return 0;
            YAR_Sleep(kStepMs);
        }
        if (pThis->m_bStop.load()) return 0;
        // A failure keeps the previous (or partly renewed) keys; the next period tries again.
        if (!pThis->m_fnCreate(pThis->m_pOwner)) {
            LogModule_Write(LOG_LEVEL_ERR, "%s::UpdateKey, %s Failed", pThis->m_pOwnerName,
                            pThis->m_pCreateName);
            Utils_Assert();
        }
    }
}

// ---- RSA keys ----

CRSAKey::CRSAKey()
    : m_byPubKey1024(),
      m_byPriKey1024(),
      m_byPubKey2048(),
      m_byPriKey2048(),
      m_Refresher("CRSAKey", "CreateRSAKey", CreateRSAKey, this) {}

CRSAKey::~CRSAKey() {
    m_Refresher.Stop();
    explicit_bzero(m_byPriKey1024, sizeof(m_byPriKey1024));
    explicit_bzero(m_byPriKey2048, sizeof(m_byPriKey2048));
}

int CRSAKey::Start() { return m_Refresher.Start(); }

int CRSAKey::CreateRSAKey(void *pSelf) {
    CRSAKey *pThis = static_cast<CRSAKey *>(pSelf);
    yar::yar_guard lock(pThis->m_Refresher.Mutex());
    if (!lock.IsLocked()) return 0;
    int bOk = 0;
    CVORNEncrypt *pEncrypt = new (std::nothrow) CVORNEncrypt;
    if (pEncrypt == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::CreateRSAKey, Interim_CreateVORNEncrypt Failed");
    } else if (!pEncrypt->GenerateRSAKey(pThis->m_byPubKey1024, &pThis->m_iPubKeyLen1024, pThis->m_byPriKey1024,
                                         &pThis->m_iPriKeyLen1024)) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::CreateRSAKey, GenerateRSAKey Failed");
    } else if (!pEncrypt->GenerateRSAKey2048(pThis->m_byPubKey2048, &pThis->m_iPubKeyLen2048, pThis->m_byPriKey2048,
                                             &pThis->m_iPriKeyLen2048)) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::CreateRSAKey, GenerateRSAKey2048 Failed");
    } else {
        bOk = 1;
    }
    delete pEncrypt;
    return bOk;
}

int CRSAKey::CopyPair(const char *pName, const BYTE *pPub, const int &iPubLen, const BYTE *pPri, const int &iPriLen,
                      BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    if (!m_Refresher.IsInitSucc()) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::%s, m_bInitSucc is False", pName);
        return 0;
    }
    if (pPubKey == nullptr || pPubKeyLen == nullptr || pPriKey == nullptr || pPriKeyLen == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CRSAKey::%s, Invalid Param, pPubKey[0x%X], pPubKeyLen[0x%X], pPriKey[0x%X], pPriKeyLen[0x%X]",
                        pName, MORVA_PTR_ARG(pPubKey), MORVA_PTR_ARG(pPubKeyLen), MORVA_PTR_ARG(pPriKey),
                        MORVA_PTR_ARG(pPriKeyLen));
        return 0;
    }
    yar::yar_guard lock(m_Refresher.Mutex());
    if (!lock.IsLocked()) return 0;
    std::memcpy(pPubKey, pPub, size_t(iPubLen));
    *pPubKeyLen = iPubLen;
    std::memcpy(pPriKey, pPri, size_t(iPriLen));
    *pPriKeyLen = iPriLen;
    return 1;
}

int CRSAKey::GetRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return CopyPair("GetRSAKey", m_byPubKey1024, m_iPubKeyLen1024, m_byPriKey1024, m_iPriKeyLen1024, pPubKey,
                    pPubKeyLen, pPriKey, pPriKeyLen);
}

int CRSAKey::GetRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return CopyPair("GetRSAKey2048", m_byPubKey2048, m_iPubKeyLen2048, m_byPriKey2048, m_iPriKeyLen2048, pPubKey,
                    pPubKeyLen, pPriKey, pPriKeyLen);
}

int CRSAKey::DecryptData(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, DWORD dwInputBufLen,
                         BYTE *pOutputBuf, int *pOutputBufLen) {
    if (pPriKey == nullptr || pInputBuf == nullptr || pOutputBuf == nullptr || pOutputBufLen == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CRSAKey::DecryptData, Invalid Param, pPriKey[0x%X], pInputBuf[0x%X], pOutputBuf[0x%X], "
                        "pOutputBufLen[0x%X]",
                        MORVA_PTR_ARG(pPriKey), MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf),
                        MORVA_PTR_ARG(pOutputBufLen));
        return 0;
    }
    CVORNEncrypt *pEncrypt = new (std::nothrow) CVORNEncrypt;
    if (pEncrypt == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::DecryptData, Interim_CreateVORNEncrypt Failed");
        return 0;
    }
    // A key that does not fit the crypt object's field fails the call instead of being cut.
    const int bOk = pEncrypt->SetPrivateKey(pPriKey, iPriKeyLen) &&
                    pEncrypt->DecryptByPrivateKey(int(dwInputBufLen), pInputBuf, pOutputBuf);
    delete pEncrypt;
    if (!bOk) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::DecryptData, DecryptByPrivateKey Failed, dwInputBufLen[%d]",
                        int(dwInputBufLen));
        return 0;
    }
    return 1;
}

int CRSAKey::DecryptData2048(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, DWORD dwInputBufLen,
                             BYTE *pOutputBuf, int *pOutputBufLen) {
    if (pPriKey == nullptr || pInputBuf == nullptr || pOutputBuf == nullptr || pOutputBufLen == nullptr ||
        iPriKeyLen <= 0 || dwInputBufLen == 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CRSAKey::DecryptData2048, Invalid Param, pPriKey[0x%X], pInputBuf[0x%X], pOutputBuf[0x%X], "
                        "pOutputBufLen[0x%X]",
                        MORVA_PTR_ARG(pPriKey), MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf),
                        MORVA_PTR_ARG(pOutputBufLen));
        return 0;
    }
    // An RSA-2048 key (about 1190 bytes) goes to the decryption whole: the crypt object's
    // private-key field holds only 1024 bytes.
    FreshSSLTrans trans;
    if (!trans || !trans->SSLTrans_DecryptByPrivateKey2048(int(dwInputBufLen), pInputBuf, pOutputBuf, pPriKey,
                                                           iPriKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "CRSAKey::DecryptData2048, DecryptByPrivateKey2048 Failed, dwInputBufLen[%d]",
                        int(dwInputBufLen));
        return 0;
    }
    return 1;
}

// ---- ECDH keys ----

CECDHKey::CECDHKey() : m_Refresher("CECDHKey", "CreateECDHKey", CreateECDHKey, this) {}

CECDHKey::~CECDHKey() {
    m_Refresher.Stop();
    for (KeySet *pSet : {&m_P256, &m_P384, &m_SM2})
        explicit_bzero(pSet->byPriKey, sizeof(pSet->byPriKey));
}

int CECDHKey::Start() { return m_Refresher.Start(); }

int CECDHKey::CreateECDHKey(void *pSelf) {
    CECDHKey *pThis = static_cast<CECDHKey *>(pSelf);
    yar::yar_guard lock(pThis->m_Refresher.Mutex());
    if (!lock.IsLocked()) return 0;
    int bOk = 0;
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "CECDHKey::CreateECDHKey, Interim_CreateSSLTransEx Failed");
    } else {
        static const struct {
            int iCurve;
            const char *pName;
        } kCurves[] = {{TYPE_SECP_256_R1, "TYPE_SECP_256_R1"},
                       {TYPE_SECP_384_R1, "TYPE_SECP_384_R1"},
                       {TYPE_SECP_SM2, "TYPE_SECP_SM2"}};
        KeySet *const pSets[] = {&pThis->m_P256, &pThis->m_P384, &pThis->m_SM2};
        bOk = 1;
        for (int i = 0; i < 3 && bOk; ++i) {
            KeySet &set = *pSets[i];
            // Only P-256 keeps a DER public key.
            BYTE *pDer = i == 0 ? set.byDerPub : nullptr;
            int *pDerLen = i == 0 ? &set.iDerPubLen : nullptr;
            if (!trans->SSLTrans_GenerateECDHPubPriKey(kCurves[i].iCurve, set.byPoint, &set.iPointLen, set.byPriKey,
                                                       &set.iPriKeyLen, pDer, pDerLen)) {
                LogModule_Write(LOG_LEVEL_ERR, "CECDHKey::CreateECDHKey, GenerateECDHPubPriKey %s Failed",
                                kCurves[i].pName);
                bOk = 0;
            }
        }
    }
    lock.Release();  // destroying trans needs no key lock
    return bOk;
}

int CECDHKey::GetECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey) {
    if (!m_Refresher.IsInitSucc()) {
        LogModule_Write(LOG_LEVEL_ERR, "CECDHKey::GetECDHKey, m_bInitSucc is False");
        return 0;
    }
    if (pECDHKey == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CECDHKey::GetECDHKey, NULL == pECDHKey");
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (pECDHKey->pPriKeyBuf == nullptr || pECDHKey->pPubKeyBuf == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CECDHKey::GetECDHKey, Invalid pPriKeyBuf[0x%X], pPubKeyBuf[0x%X]",
                        MORVA_PTR_ARG(pECDHKey->pPriKeyBuf), MORVA_PTR_ARG(pECDHKey->pPubKeyBuf));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    yar::yar_guard lock(m_Refresher.Mutex());
    if (!lock.IsLocked()) return 0;
    const KeySet *pSet = nullptr;
    const BYTE *pPub = nullptr;
    int iPubLen = 0;
    bool bWrongType = false;
    switch (iCurveType) {
    case TYPE_SECP_256_R1:
        pSet = &m_P256;
        pPub = pECDHKey->KeyType == 1 ? m_P256.byDerPub : m_P256.byPoint;
        iPubLen = pECDHKey->KeyType == 1 ? m_P256.iDerPubLen : m_P256.iPointLen;
        break;
    case TYPE_SECP_384_R1:
        pSet = &m_P384;
        pPub = m_P384.byPoint;
        iPubLen = m_P384.iPointLen;
        break;
    case TYPE_SECP_SM2:
        pSet = &m_SM2;
        if (pECDHKey->KeyType == 4) {
            pPub = m_SM2.byPoint;
            iPubLen = m_SM2.iPointLen;
        } else if (pECDHKey->KeyType == 5) {
            pPub = m_SM2.byDerPub;  // the second form, which key generation leaves empty
            iPubLen = m_SM2.iDerPubLen;
        } else {
            bWrongType = true;
        }
        break;
    default:
        break;
    }
    int bOk = 0;
    if (bWrongType) {
        LogModule_Write(LOG_LEVEL_ERR, "GetECDHKey, Wrong SM2 KeyType[%d]", pECDHKey->KeyType);
    } else if (pSet != nullptr) {
        if (pECDHKey->iPriKeyBufSize < pSet->iPriKeyLen || pECDHKey->iPubKeyBufSize < pSet->iPointLen ||
            pECDHKey->iPubKeyBufSize < iPubLen) {
            LogModule_Write(LOG_LEVEL_ERR, "GetECDHKey, Buf no enough");
            SetError(MORVA_ERR_PARAM);
        } else {
            std::memcpy(pECDHKey->pPriKeyBuf, pSet->byPriKey, size_t(pSet->iPriKeyLen));
            pECDHKey->iPriKeyLen = pSet->iPriKeyLen;
            std::memcpy(pECDHKey->pPubKeyBuf, pPub, size_t(iPubLen));
            pECDHKey->iPubKeyLen = iPubLen;
            bOk = 1;
        }
    }
    return bOk;
}

}  // namespace Vorezi
