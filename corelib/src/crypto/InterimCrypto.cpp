#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/FreshSSLTrans.h"
#include "crypto/Interim.h"
#include "crypto/KeyCache.h"
#include "crypto/VORNEncrypt.h"

namespace Vorezi {

namespace {

// The crypt object of an AES record, or null after the entry's own log line.
CVornCryptInterface *AesInterface(const char *pName, MORVA_AES_PARAM *lpAesParam) {
    if (lpAesParam == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Param, lpAesParam[0x%X]", pName, MORVA_PTR_ARG(lpAesParam));
        return nullptr;
    }
    if (lpAesParam->pInterface == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Param, lpAesParam[0x%X], pInterface[0x%X]", pName,
                        MORVA_PTR_ARG(lpAesParam), MORVA_PTR_ARG(lpAesParam->pInterface));
        return nullptr;
    }
    return static_cast<CVornCryptInterface *>(lpAesParam->pInterface);
}

typedef int (CVornCryptInterface::*AES_OPERATION)(const BYTE *, int, BYTE *, int);

// A refused key or IV fails the entry: the cipher never runs under a previous or empty key.
int RunAes(const char *pName, const char *pOpName, MORVA_AES_PARAM *lpAesParam, bool bUseIv, AES_OPERATION fnOp) {
    CVornCryptInterface *pInterface = AesInterface(pName, lpAesParam);
    if (pInterface == nullptr) return 0;
    if (!pInterface->SetAesCbcKey(lpAesParam->pKey, lpAesParam->iKeyLen) ||
        (bUseIv && !pInterface->SetAesCbcIv(lpAesParam->pIv, lpAesParam->iIvLen))) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Key or IV, iKeyLen[%d], iIvLen[%d]", pName, lpAesParam->iKeyLen,
                        lpAesParam->iIvLen);
        return 0;
    }
    if (!(pInterface->*fnOp)(lpAesParam->pInputBuf, lpAesParam->iInputBufLen, lpAesParam->pOutputBuf,
                             lpAesParam->iOutputBufLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "%s, %s Failed, iInputBufLen[%d]", pName, pOpName, lpAesParam->iInputBufLen);
        return 0;
    }
    return 1;
}

CRSAKey *RSACache(const char *pFailText) {
    CRSAKey *pCache = GetCoreGlobalCtrl()->GetRSAEncrypt();
    if (pCache == nullptr) LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
    return pCache;
}

bool CheckKeyArgs(const char *pName, CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen) {
    if (pInterface != nullptr && pKey != nullptr && pKeyLen != nullptr) return true;
    LogModule_Write(LOG_LEVEL_ERR, "%s, Invalid Param, pInterface[0x%X], pKeyLen[0x%X], pKey[0x%X]", pName,
                    MORVA_PTR_ARG(pInterface), MORVA_PTR_ARG(pKeyLen), MORVA_PTR_ARG(pKey));
    return false;
}

}  // namespace

CVornCryptInterface *Interim_CreateVORNEncrypt() { return new (std::nothrow) CVORNEncrypt; }

void Interim_DestroyVORNEncrypt(CVornCryptInterface *pEncrypt) {
    if (pEncrypt == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DestroyVORNEncrypt, pEncrypt == NULL");
        Utils_Assert();
        return;
    }
    delete pEncrypt;
}

int Interim_GeneratePublicKey(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen) {
    if (!CheckKeyArgs("Interim_GeneratePublicKey", pInterface, pKey, pKeyLen)) return 0;
    if (!pInterface->GeneratePublicKey(pKey, pKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_GeneratePublicKey, GeneratePublicKey Failed");
        return 0;
    }
    return 1;
}

int Interim_GeneratePublicKey2048(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen) {
    if (!CheckKeyArgs("Interim_GeneratePublicKey2048", pInterface, pKey, pKeyLen)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pInterface->GeneratePublicKey2048(pKey, pKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_GeneratePublicKey2048, GeneratePublicKey2048 Failed");
        return 0;
    }
    return 1;
}

int Interim_DecryptByPrivateKey(CVornCryptInterface *pInterface, int iInputBufLen, const BYTE *pInputBuf,
                                BYTE *pOutputBuf) {
    if (pInterface == nullptr || pInputBuf == nullptr || pOutputBuf == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "Interim_DecryptByPrivateKey, Invalid Param, pInterface[0x%X], pInputBuf[0x%X], "
                        "pOutputBuf[0x%X]",
                        MORVA_PTR_ARG(pInterface), MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf));
        return 0;
    }
    if (!pInterface->DecryptByPrivateKey(iInputBufLen, pInputBuf, pOutputBuf)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DecryptByPrivateKey, DecryptByPrivateKey Failed, iInputBufLen[%d]",
                        iInputBufLen);
        return 0;
    }
    return 1;
}

int Interim_DecryptByPrivateKey2048(CVornCryptInterface *pInterface, int iInputBufLen, const BYTE *pInputBuf,
                                    BYTE *pOutputBuf) {
    if (pInterface == nullptr || pInputBuf == nullptr || pOutputBuf == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "Interim_DecryptByPrivateKey2048, Invalid Param, pInterface[0x%X], pInputBuf[0x%X], "
                        "pOutputBuf[0x%X]",
                        MORVA_PTR_ARG(pInterface), MORVA_PTR_ARG(pInputBuf), MORVA_PTR_ARG(pOutputBuf));
        return 0;
    }
    if (!pInterface->DecryptByPrivateKey2048(iInputBufLen, pInputBuf, pOutputBuf)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_DecryptByPrivateKey2048, DecryptByPrivateKey2048 Failed");
        return 0;
    }
    return 1;
}

int Interim_EncryptByAesCbc(MORVA_AES_PARAM *lpAesParam) {
    return RunAes("Interim_EncryptByAesCbc", "AesCbcEncrypt", lpAesParam, true, &CVornCryptInterface::AesCbcEncrypt);
}

int Interim_DecryptByAesCbc(MORVA_AES_PARAM *lpAesParam) {
    return RunAes("Interim_DecryptByAesCbc", "AesCbcDecrypt", lpAesParam, true, &CVornCryptInterface::AesCbcDecrypt);
}

int Interim_EncryptByAesEcb(MORVA_AES_PARAM *lpAesParam) {
    return RunAes("Interim_EncryptByAesEcb", "AesEcbEncrypt", lpAesParam, false, &CVornCryptInterface::AesEcbEncrypt);
}

int Interim_DecryptByAesEcb(MORVA_AES_PARAM *lpAesParam) {
    return RunAes("Interim_DecryptByAesEcb", "AesEcbDecrypt", lpAesParam, false, &CVornCryptInterface::AesEcbDecrypt);
}

int Interim_GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    CRSAKey *pCache = RSACache("Interim_GenerateRSAKey, GetRSAEncrypt Failed");
    return pCache ? pCache->GetRSAKey(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen) : 0;
}

int Interim_GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    CRSAKey *pCache = RSACache("Interim_GenerateRSAKey2048, GetRSAEncrypt Failed");
    return pCache ? pCache->GetRSAKey2048(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen) : 0;
}

int Interim_DecryptByPrivateKeyEx(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, int iInputBufLen,
                                  BYTE *pOutputBuf, int *pOutputBufLen) {
    CRSAKey *pCache = RSACache("Interim_DecryptByPrivateKeyEx, GetRSAEncrypt Failed");
    return pCache ? pCache->DecryptData(pPriKey, iPriKeyLen, pInputBuf, DWORD(iInputBufLen), pOutputBuf, pOutputBufLen)
                  : 0;
}

int Interim_DecryptByPrivateKeyEx2048(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, int iInputBufLen,
                                      BYTE *pOutputBuf, int *pOutputBufLen) {
    CRSAKey *pCache = RSACache("Interim_DecryptByPrivateKeyEx2048, GetRSAEncrypt Failed");
    return pCache ? pCache->DecryptData2048(pPriKey, iPriKeyLen, pInputBuf, DWORD(iInputBufLen), pOutputBuf,
                                            pOutputBufLen)
                  : 0;
}

int Interim_GenerateECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey) {
    CECDHKey *pCache = GetCoreGlobalCtrl()->GetECDHEncrypt();
    if (pCache == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_GenerateECDHKey, GetECDHEncrypt Failed");
        return 0;
    }
    return pCache->GetECDHKey(iCurveType, pECDHKey);
}

int Interim_GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    CVornCryptInterface *pEncrypt = Interim_CreateVORNEncrypt();
    if (pEncrypt == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_GenerateSM2Key Failed");
        return 0;
    }
    const int bOk = pEncrypt->GenerateSM2Key(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
    Interim_DestroyVORNEncrypt(pEncrypt);
    if (!bOk) LogModule_Write(LOG_LEVEL_ERR, "Interim_GenerateSM2Key, GenerateSM2Key Failed");
    return bOk;
}

int Interim_GenerateSM2PublicKey(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen) {
    if (!CheckKeyArgs("Interim_GenerateSM2PublicKey", pInterface, pKey, pKeyLen)) return 0;
    if (!pInterface->GenerateSM2PublicKey(pKey, pKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_GenerateSM2PublicKey, GeneratePublicKey Failed");
        return 0;
    }
    return 1;
}

int Interim_DecryptBySM2PrivateKey(CVornCryptInterface *pInterface, const BYTE *pInputBuf, int iInputBufLen,
                                   BYTE *pOutputBuf, int iOutBufLen) {
    if (pInterface == nullptr || pInputBuf == nullptr || pOutputBuf == nullptr || iInputBufLen <= 0 ||
        iOutBufLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "Interim_DecryptBySM2PrivateKey, Invalid Param, pInterface[0x%X], iInputBufLen[%d], "
                        "iOutBufLen[%d]",
                        MORVA_PTR_ARG(pInterface), iInputBufLen, iOutBufLen);
        return 0;
    }
    const int iResult = pInterface->DecryptBySM2PrivateKey(pInputBuf, iInputBufLen, pOutputBuf, iOutBufLen);
    if (iResult < 1) LogModule_Write(LOG_LEVEL_ERR, "Interim_DecryptBySM2PrivateKey, DecryptBySM2PrivateKey Failed");
    return iResult;
}

int Interim_SM2(MORVA_SM2_PARAM *lpSM2Param, int bEncrypt) {
    if (lpSM2Param == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM2, Invalid Param, lpSM2Param[0x%X]", MORVA_PTR_ARG(lpSM2Param));
        return 0;
    }
    auto *pInterface = static_cast<CVornCryptInterface *>(lpSM2Param->pInterface);
    if (pInterface == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM2, Invalid Param, lpSM2Param[0x%X], pInterface[0x%X]",
                        MORVA_PTR_ARG(lpSM2Param), MORVA_PTR_ARG(pInterface));
        return 0;
    }
    if (!pInterface->SM2(lpSM2Param, bEncrypt)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM2, SM2 Failed, iInputBufLen[%d], pEncryptInterface[0x%X]",
                        lpSM2Param->iInputBufLen, MORVA_PTR_ARG(pInterface));
        return 0;
    }
    return 1;
}

int Interim_SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) {
    if (lpSM4Param == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM4, Invalid Param, lpSM4Param[0x%X]", MORVA_PTR_ARG(lpSM4Param));
        return 0;
    }
    auto *pInterface = static_cast<CVornCryptInterface *>(lpSM4Param->pInterface);
    if (pInterface == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM4, Invalid Param, lpSM4Param[0x%X], pInterface[0x%X]",
                        MORVA_PTR_ARG(lpSM4Param), MORVA_PTR_ARG(pInterface));
        return 0;
    }
    if (!pInterface->SM4(lpSM4Param, bEncrypt)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_SM4, SM4 Failed, iInputBufLen[%d], pEncryptInterface[0x%X]",
                        lpSM4Param->iInputBufLen, MORVA_PTR_ARG(pInterface));
        return 0;
    }
    return 1;
}

// ---- ASN.1 wrapper ----

int ASN1_Encode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    if (pInput == nullptr || pOutput == nullptr || iInputLen <= 0 || iOutputSize <= 4) return -1;
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "ASN1_Encode Failed");
        return -1;
    }
    // 30 80, the OCTET STRING, then the two end-of-contents bytes.
    const int iLen = trans->SSLTrans_ASN1_OCTET_STRING_Encode(pInput, iInputLen, pOutput + 2, iOutputSize - 4);
    if (iLen <= 0) return -1;
    pOutput[0] = 0x30;
    pOutput[1] = 0x80;
    pOutput[2 + iLen] = 0x00;
    pOutput[3 + iLen] = 0x00;
    return iLen + 4;
}

int ASN1_Decode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    if (pInput == nullptr || pOutput == nullptr || iInputLen <= 0 || iOutputSize <= 0) return -1;
    const BYTE *pDer = pInput;
    int iDerLen = iInputLen;
    if (pInput[0] == 0x30) {
        if (iInputLen < 4 || pInput[1] != 0x80 || pInput[iInputLen - 2] != 0 || pInput[iInputLen - 1] != 0) return -1;
        pDer = pInput + 2;
        iDerLen = iInputLen - 4;
    } else if (pInput[0] != 0x04) {
        return -1;
    }
    FreshSSLTrans trans;
    if (!trans) {
        LogModule_Write(LOG_LEVEL_ERR, "ASN1_Encode Failed");
        return -1;
    }
    return trans->SSLTrans_ASN1_OCTET_STRING_Decode(pDer, iDerLen, pOutput, iOutputSize);
}

}  // namespace Vorezi
