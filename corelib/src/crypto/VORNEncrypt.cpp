#include "crypto/VORNEncrypt.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "crypto/FreshSSLTrans.h"
#include "internal/MorvaInternal.h"

namespace Vorezi {

namespace {

constexpr int kAesBlock = 16;

int RoundUpBlock(int iLen) { return (iLen + kAesBlock - 1) / kAesBlock * kAesBlock; }

}  // namespace

CVORNEncrypt::CVORNEncrypt()
    : m_byPriKey1024(),
      m_byPubKey1024(),
      m_iPriKeyLen1024(0),
      m_iPubKeyLen1024(0),
      m_byAesKey(),
      m_iAesKeyLen(0),
      m_byAesIv(),
      m_iAesIvLen(0),
      m_byPriKey2048(),
      m_byPubKey2048(),
      m_iPriKeyLen2048(0),
      m_iPubKeyLen2048(0),
      m_bySM2PriKey(),
      m_bySM2PubKey(),
      m_iSM2PriKeyLen(0),
      m_iSM2PubKeyLen(0) {}

// Temporary objects carry private keys through the heap: nothing of them may outlive the object.
CVORNEncrypt::~CVORNEncrypt() {
    explicit_bzero(m_byPriKey1024, sizeof(m_byPriKey1024));
    explicit_bzero(m_byAesKey, sizeof(m_byAesKey));
    explicit_bzero(m_byAesIv, sizeof(m_byAesIv));
    explicit_bzero(m_byPriKey2048, sizeof(m_byPriKey2048));
    explicit_bzero(m_bySM2PriKey, sizeof(m_bySM2PriKey));
}

int CVORNEncrypt::GenerateKeptPair(bool b2048, const char *pName, BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey,
                                   int *pPriKeyLen) {
    if (pPubKey == nullptr || pPubKeyLen == nullptr || pPriKey == nullptr || pPriKeyLen == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Param, pPubKey[0x%X], pPriKey[0x%X]", pName, MORVA_PTR_ARG(pPubKey),
                        MORVA_PTR_ARG(pPriKey));
        return 0;
    }
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Interim_CreateSSLTransEx Failed, error[%d]", pName,
                        LastError());
        return 0;
    }
    const int bOk = b2048 ? trans->SSLTrans_GeneralRSAKey2048(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen)
                          : trans->SSLTrans_GeneralRSAKey(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
    if (!bOk) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, %s FAILED", pName,
                        b2048 ? "SSLTrans_GeneralRSAKey2048" : "SSLTrans_GeneralRSAKey");
        return 0;
    }
    BYTE *pKeptPub = b2048 ? m_byPubKey2048 : m_byPubKey1024;
    BYTE *pKeptPri = b2048 ? m_byPriKey2048 : m_byPriKey1024;
    const int iField = b2048 ? VORN_RSA2048_KEY_FIELD : VORN_RSA1024_KEY_FIELD;
    if (*pPubKeyLen > iField || *pPriKeyLen > iField) return 0;
    if (pPubKey != pKeptPub) std::memcpy(pKeptPub, pPubKey, size_t(*pPubKeyLen));
    if (pPriKey != pKeptPri) std::memcpy(pKeptPri, pPriKey, size_t(*pPriKeyLen));
    (b2048 ? m_iPubKeyLen2048 : m_iPubKeyLen1024) = *pPubKeyLen;
    (b2048 ? m_iPriKeyLen2048 : m_iPriKeyLen1024) = *pPriKeyLen;
    return 1;
}

int CVORNEncrypt::GeneratePublicOnly(bool b2048, const char *pName, BYTE *pKey, int *pKeyLen) {
    if (pKey == nullptr || pKeyLen == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Param, pKey[0x%X], pKeyLen[0x%X]", pName, MORVA_PTR_ARG(pKey),
                        MORVA_PTR_ARG(pKeyLen));
        return 0;
    }
    BYTE *pPub = b2048 ? m_byPubKey2048 : m_byPubKey1024;
    int &iPubLen = b2048 ? m_iPubKeyLen2048 : m_iPubKeyLen1024;
    if (!GenerateKeptPair(b2048, pName, pPub, &iPubLen, b2048 ? m_byPriKey2048 : m_byPriKey1024,
                          b2048 ? &m_iPriKeyLen2048 : &m_iPriKeyLen1024)) {
        return 0;
    }
    // A positive length on entry is the capacity of pKey.
    if (*pKeyLen > 0 && *pKeyLen < iPubLen) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Buffer too small, iKeyLen[%d], iPubKeyLen[%d]", pName, *pKeyLen, iPubLen);
        return 0;
    }
    std::memcpy(pKey, pPub, size_t(iPubLen));
    *pKeyLen = iPubLen;
    return 1;
}

int CVORNEncrypt::GeneratePublicKey(BYTE *pKey, int *pKeyLen) {
    return GeneratePublicOnly(false, "CVORNEncrypt::GeneratePublicKey", pKey, pKeyLen);
}

int CVORNEncrypt::GeneratePublicKey2048(BYTE *pKey, int *pKeyLen) {
    return GeneratePublicOnly(true, "CVORNEncrypt::GeneratePublicKey2048", pKey, pKeyLen);
}

int CVORNEncrypt::DecryptByPrivateKey(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) {
    if (pInputBuf == nullptr || pOutputBuf == nullptr || iInputBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CVORNEncrypt::DecryptByPrivateKey, Invalid Param, pInputBuf[0x%X], pOutputBuf[0x%X], "
                        "iInputBufLen[%d]",
                        MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf), iInputBufLen);
        return 0;
    }
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::DecryptByPrivateKey, Interim_CreateSSLTransEx Failed");
        return 0;
    }
    return trans->SSLTrans_DecryptByPrivateKey(iInputBufLen, pInputBuf, pOutputBuf, m_byPriKey1024, m_iPriKeyLen1024);
}

int CVORNEncrypt::DecryptByPrivateKey2048(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) {
    if (pInputBuf == nullptr || pOutputBuf == nullptr || iInputBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CVORNEncrypt::DecryptByPrivateKey2048, Invalid Param, pInputBuf[0x%X], pOutputBuf[0x%X], "
                        "iInputBufLen[%d]",
                        MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf), iInputBufLen);
        return 0;
    }
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::DecryptByPrivateKey2048, Interim_CreateSSLTransEx Failed");
        return 0;
    }
    return trans->SSLTrans_DecryptByPrivateKey2048(iInputBufLen, pInputBuf, pOutputBuf, m_byPriKey2048,
                                                   m_iPriKeyLen2048);
}

int CVORNEncrypt::SetPrivateKey(const BYTE *pKey, int iKeyLen) {
    if (pKey == nullptr || iKeyLen <= 0 || iKeyLen > VORN_RSA1024_KEY_FIELD) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SetPrivateKey, Invalid Param, pKey[0x%X], iKeyLen[%d]",
                        MORVA_PTR_ARG(pKey), iKeyLen);
        return 0;
    }
    std::memset(m_byPriKey1024, 0, sizeof(m_byPriKey1024));
    std::memcpy(m_byPriKey1024, pKey, size_t(iKeyLen));
    m_iPriKeyLen1024 = iKeyLen;
    return 1;
}

int CVORNEncrypt::GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return GenerateKeptPair(false, "CVORNEncrypt::GenerateRSAKey", pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
}

int CVORNEncrypt::GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return GenerateKeptPair(true, "CVORNEncrypt::GenerateRSAKey2048", pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
}

int CVORNEncrypt::GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::GenerateSM2Key, Interim_CreateSSLTransEx Failed");
        return 0;
    }
    return trans->SSLTrans_GenerateSM2Key(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen) ? 1 : 0;
}

int CVORNEncrypt::SetAesCbcKey(const BYTE *pKey, int iKeyLen) {
    if (pKey == nullptr || iKeyLen <= 0 || iKeyLen > VORN_AES_KEY_FIELD) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SetAesCbcKey, pKey[0x%X], iKeyLen[%d]", MORVA_PTR_ARG(pKey),
                        iKeyLen);
        return 0;
    }
    std::memset(m_byAesKey, 0, sizeof(m_byAesKey));
    std::memcpy(m_byAesKey, pKey, size_t(iKeyLen));
    m_iAesKeyLen = iKeyLen;
    return 1;
}

int CVORNEncrypt::SetAesCbcIv(const BYTE *pIv, int iIvLen) {
    if (pIv == nullptr || iIvLen <= 0 || iIvLen > VORN_AES_IV_FIELD) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SetAesCbcIv, pIv[0x%X], iIvLen[%d]", MORVA_PTR_ARG(pIv), iIvLen);
        return 0;
    }
    std::memset(m_byAesIv, 0, sizeof(m_byAesIv));
    std::memcpy(m_byAesIv, pIv, size_t(iIvLen));
    m_iAesIvLen = iIvLen;
    return 1;
}

int CVORNEncrypt::RunAes(AesOp eOp, const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) {
    static const char *const kNames[] = {"CVORNEncrypt::AesCbcEncrypt", "CVORNEncrypt::AesCbcDecrypt",
                                         "CVORNEncrypt::AesEcbEncrypt", "CVORNEncrypt::AesEcbDecrypt"};
    const char *pName = kNames[eOp];
    if (pInputBuf == nullptr || pOutputBuf == nullptr || iInputBufLen <= 0 || iOutputBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "%s, Invalid Param, pInputBuf[0x%X], pOutputBuf[0x%X], iInputBufLen[%d], iOutputBufLen[%d]",
                        pName, MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf), iInputBufLen, iOutputBufLen);
        return 0;
    }
    // Encryption writes whole blocks; decryption reads whole blocks.
    const bool bDecrypt = eOp == AES_CBC_DECRYPT || eOp == AES_ECB_DECRYPT;
    if ((bDecrypt && iInputBufLen % kAesBlock != 0) || iInputBufLen > 0x7fffffff - kAesBlock ||
        iOutputBufLen < RoundUpBlock(iInputBufLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Length, iInputBufLen[%d], iOutputBufLen[%d]", pName, iInputBufLen,
                        iOutputBufLen);
        return 0;
    }
    if (m_iAesKeyLen != 16 && m_iAesKeyLen != 24 && m_iAesKeyLen != 32) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Key, iKeyLen[%d]", pName, m_iAesKeyLen);
        return 0;
    }
    CSSLTrans *pTrans = Interim_GetCryptionIns();
    if (pTrans == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Interim_GetCryptionIns Failed", pName);
        return 0;
    }
    switch (eOp) {
    case AES_CBC_ENCRYPT:
        return pTrans->SSLTrans_AesCbcEncrypt(m_byAesKey, pInputBuf, pOutputBuf, iInputBufLen, m_iAesKeyLen, m_byAesIv,
                                              iOutputBufLen);
    case AES_CBC_DECRYPT:
        return pTrans->SSLTrans_AesCbcDecrypt(m_byAesKey, pInputBuf, pOutputBuf, iInputBufLen, m_iAesKeyLen, m_byAesIv,
                                              iOutputBufLen);
    case AES_ECB_ENCRYPT:
        return pTrans->SSLTrans_AesEcbEncrypt(m_byAesKey, pInputBuf, pOutputBuf, iInputBufLen, m_iAesKeyLen,
                                              iOutputBufLen);
    case AES_ECB_DECRYPT:
        return pTrans->SSLTrans_AesEcbDecrypt(m_byAesKey, pInputBuf, pOutputBuf, iInputBufLen, m_iAesKeyLen,
                                              iOutputBufLen);
    }
    return 0;
}

int CVORNEncrypt::AesCbcEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) {
    return RunAes(AES_CBC_ENCRYPT, pInputBuf, iInputBufLen, pOutputBuf, iOutputBufLen);
}

int CVORNEncrypt::AesCbcDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) {
    return RunAes(AES_CBC_DECRYPT, pInputBuf, iInputBufLen, pOutputBuf, iOutputBufLen);
}

int CVORNEncrypt::AesEcbEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) {
    return RunAes(AES_ECB_ENCRYPT, pInputBuf, iInputBufLen, pOutputBuf, iOutputBufLen);
}

int CVORNEncrypt::AesEcbDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) {
    return RunAes(AES_ECB_DECRYPT, pInputBuf, iInputBufLen, pOutputBuf, iOutputBufLen);
}

int CVORNEncrypt::SM2(MORVA_SM2_PARAM *lpSM2Param, int bEncrypt) {
    if (lpSM2Param == nullptr || lpSM2Param->pInputBuf == nullptr || lpSM2Param->pOutputBuf == nullptr ||
        lpSM2Param->iInputBufLen <= 0 || lpSM2Param->iOutputBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM2, Invalid Param, lpSM2Param[0x%X]", MORVA_PTR_ARG(lpSM2Param));
        return 0;
    }
    // An encryption takes a public key (a point), a decryption a private key.
    const int iMaxKey = bEncrypt ? VORN_SM2_PUB_FIELD : VORN_SM2_PRI_FIELD;
    if (lpSM2Param->pKey == nullptr || lpSM2Param->iKeyLen <= 0 || lpSM2Param->iKeyLen > iMaxKey) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM2, Invalid Param, pKey[0x%X], iKeyLen[%d]",
                        MORVA_PTR_ARG(lpSM2Param->pKey), lpSM2Param->iKeyLen);
        return 0;
    }
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM2, Interim_CreateSSLTransEx Failed");
        return 0;
    }
    return bEncrypt ? trans->SSLTrans_SM2Encrypt(lpSM2Param) : trans->SSLTrans_SM2Decrypt(lpSM2Param);
}

int CVORNEncrypt::GenerateSM2PublicKey(BYTE *pKey, int *pKeyLen) {
    if (pKey == nullptr || pKeyLen == nullptr) return 0;
    CVORNEncrypt *pTemp = new (std::nothrow) CVORNEncrypt;
    if (pTemp == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::GenerateSM2PublicKey, New CVORNEncrypt Failed");
        return 0;
    }
    const int bOk = pTemp->GenerateSM2Key(m_bySM2PubKey, &m_iSM2PubKeyLen, m_bySM2PriKey, &m_iSM2PriKeyLen);
    delete pTemp;
    if (!bOk) return 0;
    std::memcpy(pKey, m_bySM2PubKey, size_t(m_iSM2PubKeyLen));
    *pKeyLen = m_iSM2PubKeyLen;
    return 1;
}

int CVORNEncrypt::DecryptBySM2PrivateKey(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf,
                                         int iOutputBufLen) {
    MORVA_SM2_PARAM param = {};
    param.pInterface = this;
    param.pInputBuf = const_cast<BYTE *>(pInputBuf);
    param.iInputBufLen = iInputBufLen;
    param.pOutputBuf = pOutputBuf;
    param.iOutputBufLen = iOutputBufLen;
    param.pKey = m_bySM2PriKey;
    param.iKeyLen = m_iSM2PriKeyLen;
    return SM2(&param, 0) ? param.iOutputBufLen : -1;
}

int CVORNEncrypt::SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) {
    if (lpSM4Param == nullptr || lpSM4Param->pInputBuf == nullptr || lpSM4Param->pOutputBuf == nullptr ||
        lpSM4Param->iInputBufLen <= 0 || lpSM4Param->iOutputBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM4, Invalid Param, lpSM4Param[0x%X]", MORVA_PTR_ARG(lpSM4Param));
        return 0;
    }
    if (lpSM4Param->iMode != 1 &&
        (lpSM4Param->pIv == nullptr || lpSM4Param->iIvLen <= 0 || lpSM4Param->iIvLen > VORN_AES_IV_FIELD)) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM4, Invalid Param, pIv[0x%X], iIvLen[%d]",
                        MORVA_PTR_ARG(lpSM4Param->pIv), lpSM4Param->iIvLen);
        return 0;
    }
    if (lpSM4Param->pKey == nullptr || lpSM4Param->iKeyLen <= 0 || lpSM4Param->iKeyLen > 16) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM4, Invalid Param, pKey[0x%X], iKeyLen[%d]",
                        MORVA_PTR_ARG(lpSM4Param->pKey), lpSM4Param->iKeyLen);
        return 0;
    }
    CSSLTrans *pTrans = Interim_GetCryptionIns();
    if (pTrans == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::SM4, Interim_GetCryptionIns Failed");
        return 0;
    }
    return pTrans->SSLTrans_SM4(lpSM4Param, bEncrypt);
}

void *CVORNEncrypt::AlignMalloc(int iSize, int iAlign) {
    if (iSize < 0 || iAlign <= 0 || (iAlign & (iAlign - 1)) != 0 || iSize > 0x7fffffff - iAlign - 4) return nullptr;
    const int iTotalAlloc = iSize + iAlign + 4;
    BYTE *pBase = static_cast<BYTE *>(NewArray(size_t(iTotalAlloc)));
    if (pBase == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CVORNEncrypt::AlignMalloc, New pBasePtr Failed, iTotalAlloc[%d]", iTotalAlloc);
        return nullptr;
    }
    const uintptr_t uAligned = (reinterpret_cast<uintptr_t>(pBase) + uintptr_t(iAlign) + 3) & ~uintptr_t(iAlign - 1);
    BYTE *pAligned = reinterpret_cast<BYTE *>(uAligned);
    const uint32_t dwDistance = uint32_t(pAligned - pBase);
    for (int i = 0; i < 4; ++i) pAligned[i - 4] = BYTE(dwDistance >> (8 * i));
    return pAligned;
}

void CVORNEncrypt::AlignFree(void *pBlock) {
    if (pBlock == nullptr) return;
    BYTE *pAligned = static_cast<BYTE *>(pBlock);
    uint32_t dwDistance = 0;
    for (int i = 0; i < 4; ++i) dwDistance |= uint32_t(pAligned[i - 4]) << (8 * i);
    DelArray(pAligned - dwDistance);
}

}  // namespace Vorezi
