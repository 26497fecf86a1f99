// Flat forwarders of the crypto layer: crypt objects and key caches, and digests on the shared
// crypto object.
#include "morva/MorvaCrypto.h"

#include <cstring>
#include <vector>

#include "Module/Log/LogModule.h"
#include "crypto/Interim.h"
#include "crypto/SSLTrans.h"
#include "crypto/VORNEncrypt.h"
#include "morva/MorvaUtility.h"

namespace Vorezi {
namespace {

constexpr int kMd5Len = 16;
constexpr int kHmacBlock = 64;
constexpr int kHmacSha256 = 1;

CVornCryptInterface *Crypt(void *pEncrypt) { return static_cast<CVornCryptInterface *>(pEncrypt); }

CSSLTrans *SharedTrans(const char *pFailText) {
    CSSLTrans *pTrans = Interim_GetCryptionIns();
    if (pTrans == nullptr) LogModule_Write(LOG_LEVEL_ERR, "%s", pFailText);
    return pTrans;
}

// MD5 of two pieces in a row, with the one-shot digest of the shared object.
bool Md5Of(CSSLTrans *pTrans, const BYTE *pFirst, size_t uFirst, const BYTE *pSecond, size_t uSecond, BYTE *pOut) {
    std::vector<BYTE> joined(pFirst, pFirst + uFirst);
    joined.insert(joined.end(), pSecond, pSecond + uSecond);
    const bool bOk = pTrans->SSLTrans_MD5(joined.data(), joined.size(), pOut) != nullptr;
    explicit_bzero(joined.data(), joined.size());  // the first piece is a key pad
    return bOk;
}

}  // namespace
}  // namespace Vorezi

using namespace Vorezi;

// ---- Crypt objects and keys ----

void *Morva_CreateVORNEncrypt(void) { return Interim_CreateVORNEncrypt(); }
void Morva_DestroyVORNEncrypt(void *pEncrypt) { Interim_DestroyVORNEncrypt(Crypt(pEncrypt)); }
int Morva_EncryptByAesCbc(MORVA_AES_PARAM *lpAesParam) { return Interim_EncryptByAesCbc(lpAesParam); }
int Morva_DecryptByAesCbc(MORVA_AES_PARAM *lpAesParam) { return Interim_DecryptByAesCbc(lpAesParam); }
int Morva_EncryptByAesEcb(MORVA_AES_PARAM *lpAesParam) { return Interim_EncryptByAesEcb(lpAesParam); }
int Morva_DecryptByAesEcb(MORVA_AES_PARAM *lpAesParam) { return Interim_DecryptByAesEcb(lpAesParam); }

int Morva_GeneratePublicKey(void *pEncrypt, BYTE *pKey, int *pKeyLen) {
    return Interim_GeneratePublicKey(Crypt(pEncrypt), pKey, pKeyLen);
}

int Morva_GeneratePublicKey2048(void *pEncrypt, BYTE *pKey, int *pKeyLen) {
    return Interim_GeneratePublicKey2048(Crypt(pEncrypt), pKey, pKeyLen);
}

int Morva_DecryptByPrivateKey(void *pEncrypt, int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) {
    return Interim_DecryptByPrivateKey(Crypt(pEncrypt), iInputBufLen, pInputBuf, pOutputBuf);
}

int Morva_DecryptByPrivateKey2048(void *pEncrypt, int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) {
    return Interim_DecryptByPrivateKey2048(Crypt(pEncrypt), iInputBufLen, pInputBuf, pOutputBuf);
}

int Morva_GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return Interim_GenerateRSAKey(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
}

int Morva_GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return Interim_GenerateRSAKey2048(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
}

int Morva_DecryptByPrivateKeyEx(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int *pOutputBufLen,
                                const BYTE *pPriKey, int iPriKeyLen) {
    return Interim_DecryptByPrivateKeyEx(pPriKey, iPriKeyLen, pInputBuf, iInputBufLen, pOutputBuf, pOutputBufLen);
}

int Morva_DecryptByPrivateKeyEx2048(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int *pOutputBufLen,
                                    const BYTE *pPriKey, int iPriKeyLen) {
    return Interim_DecryptByPrivateKeyEx2048(pPriKey, iPriKeyLen, pInputBuf, iInputBufLen, pOutputBuf, pOutputBufLen);
}

int Morva_GenerateECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey) {
    return Interim_GenerateECDHKey(iCurveType, pECDHKey);
}

int Morva_GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) {
    return Interim_GenerateSM2Key(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen);
}

int Morva_GenerateSM2PublicKey(void *pEncrypt, BYTE *pKey, int *pKeyLen) {
    return Interim_GenerateSM2PublicKey(Crypt(pEncrypt), pKey, pKeyLen);
}

int Morva_EncryptBySM2(MORVA_SM2_PARAM *lpSM2Param) { return Interim_SM2(lpSM2Param, 1); }
int Morva_DecryptBySM2(MORVA_SM2_PARAM *lpSM2Param) { return Interim_SM2(lpSM2Param, 0); }

int Morva_DecryptBySM2PrivateKey(void *pEncrypt, const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf,
                                 int iOutBufLen) {
    return Interim_DecryptBySM2PrivateKey(Crypt(pEncrypt), pInputBuf, iInputBufLen, pOutputBuf, iOutBufLen);
}

int Morva_EncryptBySM4(MORVA_SM4_PARAM *lpSM4Param) { return Interim_SM4(lpSM4Param, 1); }
int Morva_DecryptBySM4(MORVA_SM4_PARAM *lpSM4Param) { return Interim_SM4(lpSM4Param, 0); }

int Morva_ASN1_Encode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    return ASN1_Encode(pInput, iInputLen, pOutput, iOutputSize);
}

int Morva_ASN1_Decode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    return ASN1_Decode(pInput, iInputLen, pOutput, iOutputSize);
}

// ---- Digests ----

void Morva_MD5(const BYTE *pData, int iLen, char *pOutput, int bUpperCase) {
    if (pData == nullptr || pOutput == nullptr || iLen < 0) return;
    CSSLTrans *pTrans = SharedTrans("Morva_MD5, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return;
    BYTE byDigest[kMd5Len];
    if (pTrans->SSLTrans_MD5(pData, size_t(iLen), byDigest) == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_MD5, SSLTrans_MD5 Failed");
        return;
    }
    char szHex[2 * kMd5Len + 1];
    Morva_HexEncode(byDigest, kMd5Len, bUpperCase, szHex);
    std::memcpy(pOutput, szHex, 2 * kMd5Len);
}

int Morva_StrSHA256(const BYTE *pData, int iLen, BYTE *pOutput) {
    if (pData == nullptr || pOutput == nullptr || iLen < 0) return 0;
    CSSLTrans *pTrans = SharedTrans("Morva_StrSHA256, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    if (pTrans->SSLTrans_SHA256(pData, size_t(iLen), pOutput) == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_StrSHA256, SSLTrans_SHA256 Failed");
        return 0;
    }
    return 1;
}

int Morva_SM3_Original(const BYTE *pData, int iLen, BYTE *pOutput) {
    if (pData == nullptr || pOutput == nullptr || iLen < 0) return 0;
    CSSLTrans *pTrans = SharedTrans("Morva_SM3_Original, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    if (!pTrans->SSLTrans_SM3(pData, iLen, pOutput)) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_SM3_Original, SSLTrans_SM3 Failed");
        return 0;
    }
    return 1;
}

int Morva_SM3(const BYTE *pData, int iLen, char *pOutput) {
    BYTE byDigest[32];
    if (pOutput == nullptr || !Morva_SM3_Original(pData, iLen, byDigest)) return 0;
    return Morva_HexEncode(byDigest, sizeof(byDigest), 0, pOutput);
}

int Morva_HMAC_SHA256(const BYTE *pKey, int iKeyLen, const BYTE *pData, int iDataLen, BYTE *pOutput, int bSkip) {
    if (bSkip) return 1;
    if (pKey == nullptr || pData == nullptr || pOutput == nullptr || iKeyLen < 0 || iDataLen < 0) return 0;
    CSSLTrans *pTrans = SharedTrans("Morva_HMAC_SHA256, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    unsigned int uLen = 0;
    if (pTrans->SSLTrans_HMAC_SHA(kHmacSha256, pKey, iKeyLen, pData, iDataLen, pOutput, &uLen) == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_HMAC_SHA256, SSLTrans_HMAC_SHA Failed");
        return 0;
    }
    return 1;
}

// HMAC-MD5 (RFC 2104) built on the MD5 of the shared object: the HMAC operation of CSSLTrans knows
// only SHA digests.
int Morva_HMAC_MD5_Encrypt(const BYTE *pData, int iDataLen, const BYTE *pKey, int iKeyLen, BYTE *pOutput) {
    if (pData == nullptr || pKey == nullptr || pOutput == nullptr || iDataLen < 0 || iKeyLen < 0) return 0;
    CSSLTrans *pTrans = SharedTrans("Morva_HMAC_MD5_Encrypt, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    BYTE byKey[kHmacBlock] = {};
    if (iKeyLen > kHmacBlock) {
        if (pTrans->SSLTrans_MD5(pKey, size_t(iKeyLen), byKey) == nullptr) {
            LogModule_Write(LOG_LEVEL_ERR, "Morva_HMAC_MD5_Encrypt, SSLTrans_HMAC_SHA Failed");
            return 0;
        }
    } else {
        std::memcpy(byKey, pKey, size_t(iKeyLen));
    }
    BYTE byInnerPad[kHmacBlock], byOuterPad[kHmacBlock], byInner[kMd5Len];
    for (int i = 0; i < kHmacBlock; ++i) {
        byInnerPad[i] = byKey[i] ^ 0x36;
        byOuterPad[i] = byKey[i] ^ 0x5c;
    }
    if (!Md5Of(pTrans, byInnerPad, kHmacBlock, pData, size_t(iDataLen), byInner) ||
        !Md5Of(pTrans, byOuterPad, kHmacBlock, byInner, kMd5Len, pOutput)) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_HMAC_MD5_Encrypt, SSLTrans_HMAC_SHA Failed");
        return 0;
    }
    return 1;
}

int Morva_CHACHA20(BYTE *pOutput, int *pOutputLen, const BYTE *pInput, int iInputLen, const BYTE *pKey,
                   DWORD dwCounter, const BYTE *pNonce) {
    CSSLTrans *pTrans = SharedTrans("Morva_CHACHA20, Interim_GetCryptionIns Failed");
    return pTrans ? pTrans->SSLTrans_ChaCha20(pOutput, pOutputLen, pInput, iInputLen, pKey, dwCounter, pNonce) : 0;
}

int Morva_ECDHComputeShareKey(int iCurveType, BYTE *pSecret, int *pSecretLen, const BYTE *pPriKey, int iPriKeyLen,
                              const BYTE *pPeerKey, int iPeerKeyLen) {
    CSSLTrans *pTrans = SharedTrans("Morva_ECDHComputeShareKey, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    if (!pTrans->SSLTrans_ECDHComputeShareKey(iCurveType, pSecret, pSecretLen, pPriKey, iPriKeyLen, pPeerKey,
                                              iPeerKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_ECDHComputeShareKey, SSLTrans_ECDHComputeShareKey Failed");
        return 0;
    }
    return 1;
}

int Morva_ECDHComputeShareKeyEx(int iCurveType, BYTE *pSecret, int *pSecretLen, const BYTE *pPriKey, int iPriKeyLen,
                                const BYTE *pPeerKey, int iPeerKeyLen) {
    CSSLTrans *pTrans = SharedTrans("Morva_ECDHComputeShareKey, Interim_GetCryptionIns Failed");
    if (pTrans == nullptr) return 0;
    if (!pTrans->SSLTrans_ECCDHComputeShareKey(iCurveType, pSecret, pSecretLen, pPriKey, iPriKeyLen, pPeerKey,
                                               iPeerKeyLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_ECDHComputeShareKey, SSLTrans_ECDHComputeShareKey Failed");
        return 0;
    }
    return 1;
}
