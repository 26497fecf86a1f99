// CSSLTrans: symmetric ciphers. AES-CBC/ECB through OpenSSL's block functions, SM4, AES-128-GCM
// and ChaCha20 through EVP. Every output is checked against the capacity the caller gives.
#include <climits>
#include <cstring>
#include <memory>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"

namespace Vorezi {

namespace {

constexpr int AES_BLOCK = 16;
constexpr int GCM_IV_LEN = 12;
constexpr int GCM_TAG_LEN = 16;
constexpr int CHACHA_IV_LEN = 16;

// Key bits for a raw AES key length; 0 for a length that is no AES key.
int AesKeyBits(int iKeyLen) {
    return (iKeyLen == 16 || iKeyLen == 24 || iKeyLen == 32) ? iKeyLen * 8 : 0;
}

// Whether iCapacity holds iLen rounded up to whole blocks; a length whose rounding does not fit
// an int fits no buffer.
bool HoldsWholeBlocks(int iLen, int iCapacity) {
    if (iLen > INT_MAX - (AES_BLOCK - 1))
        return false;
    return iCapacity >= (iLen + AES_BLOCK - 1) / AES_BLOCK * AES_BLOCK;
}

// Sets up the key schedule; logs pFailText (with the instance) when the key is refused.
bool AesKey(const void *pThis, const BYTE *pKey, int iKeyLen, bool bEncrypt, OSSL_AES_KEY *pSchedule,
            const char *pFailText) {
    int iBits = AesKeyBits(iKeyLen);
    int iRet = -1;
    if (iBits && pKey)
        iRet = bEncrypt ? OpenSSL().AES_set_encrypt_key(pKey, iBits, pSchedule)
                        : OpenSSL().AES_set_decrypt_key(pKey, iBits, pSchedule);
    if (iRet != 0) {
        LogModule_Write(LOG_LEVEL_ERR, pFailText, MORVA_PTR_ARG(pThis));
        return false;
    }
    return true;
}

constexpr int SM4_BLOCK = 16;

// Copies a key or IV of 1 to 16 bytes into a zeroed 16-byte block.
bool CopyShort(const BYTE *pSrc, int iLen, BYTE *pBlock) {
    if (!pSrc || iLen <= 0)
        return false;
    memcpy(pBlock, pSrc, static_cast<size_t>(iLen < SM4_BLOCK ? iLen : SM4_BLOCK));
    return true;
}

// An EVP cipher context for one call.
struct CipherCtx {
    CipherCtx() : p(OpenSSL().EVP_CIPHER_CTX_new()) {}
    ~CipherCtx() { OpenSSL().EVP_CIPHER_CTX_free(p); }
    CipherCtx(const CipherCtx &) = delete;
    CipherCtx &operator=(const CipherCtx &) = delete;
    EVP_CIPHER_CTX *p;
};

// The fixed GCM nonce: six printable bytes, six zero bytes, built at run time.
void GcmIv(BYTE *pIv) {
    static const char kText[] = "VZgcm1";
    memcpy(pIv, kText, 6);
    memset(pIv + 6, 0, GCM_IV_LEN - 6);
}

}  // namespace

int CSSLTrans::SSLTrans_AesCbcEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                      BYTE *pIv, int iOutBufLen) {
    // A partial last block comes out whole, so the output must hold the rounded length.
    if (!pInput || !pOut || !pIv || iLength <= 0 || !HoldsWholeBlocks(iLength, iOutBufLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesCbcEncrypt, Invalid nLength[%d], iOutBufLen[%d]",
                        MORVA_PTR_ARG(this), iLength, iOutBufLen);
        return 0;
    }
    OSSL_AES_KEY schedule;
    if (!AesKey(this, pKey, iKeyLen, true, &schedule,
                "[0x%X]CSSLTrans::SSLTrans_AesCbcEncrypt, SSLTrans_AES_set_encrypt_key Failed"))
        return 0;
    OpenSSL().AES_cbc_encrypt(pInput, pOut, static_cast<size_t>(iLength), &schedule, pIv,
                          static_cast<int>(OSSL_AES_ENCRYPT));
    return 1;
}

int CSSLTrans::SSLTrans_AesCbcDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                      const BYTE *pIv, int iOutBufLen) {
    // A partial block would be read past the input's end and give garbage.
    if (!pInput || !pOut || !pIv || iLength <= 0 || iLength % AES_BLOCK || iOutBufLen < iLength) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesCbcDecrypt, Invalid nLength[%d], iOutBufLen[%d]",
                        MORVA_PTR_ARG(this), iLength, iOutBufLen);
        return 0;
    }
    OSSL_AES_KEY schedule;
    if (!AesKey(this, pKey, iKeyLen, false, &schedule,
                "[0x%X]CSSLTrans::SSLTrans_AesCbcDecrypt, SSLTrans_AES_set_decrypt_key Failed"))
        return 0;
    BYTE byIv[AES_BLOCK];
    memcpy(byIv, pIv, sizeof(byIv));  // the caller's IV stays as it was
    OpenSSL().AES_cbc_encrypt(pInput, pOut, static_cast<size_t>(iLength), &schedule, byIv,
                          static_cast<int>(OSSL_AES_DECRYPT));
    return 1;
}

int CSSLTrans::SSLTrans_AesEcbEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                      int iOutBufLen) {
    if (!pInput || !pOut || iLength <= 0 || !HoldsWholeBlocks(iLength, iOutBufLen)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesEcbEncrypt, Invalid nLength[%d], iOutBufLen[%d]",
                        MORVA_PTR_ARG(this), iLength, iOutBufLen);
        return 0;
    }
    OSSL_AES_KEY schedule;
    if (!AesKey(this, pKey, iKeyLen, true, &schedule,
                "[0x%X]CSSLTrans::SSLTrans_AesEcbEncrypt, SSLTrans_AES_set_encrypt_key Failed"))
        return 0;
    int iWhole = iLength / AES_BLOCK * AES_BLOCK;
    for (int i = 0; i < iWhole; i += AES_BLOCK)
        OpenSSL().AES_ecb_encrypt(pInput + i, pOut + i, &schedule, static_cast<int>(OSSL_AES_ENCRYPT));
    if (iWhole < iLength) {
        BYTE byLast[AES_BLOCK] = {};
        memcpy(byLast, pInput + iWhole, static_cast<size_t>(iLength - iWhole));
        OpenSSL().AES_ecb_encrypt(byLast, pOut + iWhole, &schedule, static_cast<int>(OSSL_AES_ENCRYPT));
    }
    return 1;
}

int CSSLTrans::SSLTrans_AesEcbDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                      int iOutBufLen) {
    if (!pInput || !pOut || iLength <= 0 || iLength % AES_BLOCK || iOutBufLen < iLength) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesEcbDecrypt, Invalid nLength[%d]",
                        MORVA_PTR_ARG(this), iLength);
        return 0;
    }
    OSSL_AES_KEY schedule;
    if (!AesKey(this, pKey, iKeyLen, false, &schedule,
                "[0x%X]CSSLTrans::SSLTrans_AesEcbDecrypt, SSLTrans_AES_set_decrypt_key Failed"))
        return 0;
    for (int i = 0; i < iLength; i += AES_BLOCK)
        OpenSSL().AES_ecb_encrypt(pInput + i, pOut + i, &schedule, static_cast<int>(OSSL_AES_DECRYPT));
    return 1;
}

int CSSLTrans::SSLTrans_SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) {
    if (!lpSM4Param || !lpSM4Param->pInputBuf || lpSM4Param->iInputBufLen <= 0 || !lpSM4Param->pOutputBuf ||
        !lpSM4Param->pKey)
        return 0;
    COpenSSLAPI &api = OpenSSL();
    const EVP_CIPHER *pCipher = nullptr;
    bool bBlock = true;  // block modes pad with PKCS#7
    switch (lpSM4Param->iMode) {
    case SM4_MODE_CBC:
    case SM4_MODE_CBC_ALT: pCipher = api.EVP_sm4_cbc(); break;
    case SM4_MODE_ECB: pCipher = api.EVP_sm4_ecb(); break;
    case SM4_MODE_CFB128: pCipher = api.EVP_sm4_cfb128(); bBlock = false; break;
    case SM4_MODE_OFB: pCipher = api.EVP_sm4_ofb(); bBlock = false; break;
    case SM4_MODE_CTR: pCipher = api.EVP_sm4_ctr(); bBlock = false; break;
    default: break;
    }
    CipherCtx ctx;
    if (!pCipher || !ctx.p) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM4, EVP_CIPHER_CTX_new Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    int iInLen = lpSM4Param->iInputBufLen;
    // Encryption may add a whole padding block; decryption never grows.
    bool bGrows = bEncrypt && bBlock;
    bool bNeedIv = lpSM4Param->iMode != SM4_MODE_ECB;
    if ((bGrows && iInLen > INT_MAX - 16) || lpSM4Param->iOutputBufLen < (bGrows ? iInLen + 16 : iInLen) ||
        (bNeedIv && !lpSM4Param->pIv)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM4, iOutputBufLen[%d], iInputBufLen[%d]",
                        MORVA_PTR_ARG(this), lpSM4Param->iOutputBufLen, iInLen);
        return 0;
    }
    // The cipher reads a full 16-byte key and IV: shorter ones are zero-padded here rather than
    // read past their end.
    BYTE byKey[SM4_BLOCK] = {};
    BYTE byIv[SM4_BLOCK] = {};
    if (!CopyShort(lpSM4Param->pKey, lpSM4Param->iKeyLen, byKey) ||
        (bNeedIv && !CopyShort(lpSM4Param->pIv, lpSM4Param->iIvLen, byIv))) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM4, iKeyLen[%d], iIvLen[%d]", MORVA_PTR_ARG(this),
                        lpSM4Param->iKeyLen, lpSM4Param->iIvLen);
        return 0;
    }
    int iInit = bEncrypt ? api.EVP_EncryptInit_ex(ctx.p, pCipher, nullptr, byKey, bNeedIv ? byIv : nullptr)
                         : api.EVP_DecryptInit_ex(ctx.p, pCipher, nullptr, byKey, bNeedIv ? byIv : nullptr);
    explicit_bzero(byKey, sizeof(byKey));
    if (iInit != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM4, EVP Init_ex Failed bEncrypt[%d]",
                        MORVA_PTR_ARG(this), bEncrypt);
        return 0;
    }
    int iOutLen = 0;
    int iUpdate = bEncrypt ? api.EVP_EncryptUpdate(ctx.p, lpSM4Param->pOutputBuf, &iOutLen, lpSM4Param->pInputBuf, iInLen)
                           : api.EVP_DecryptUpdate(ctx.p, lpSM4Param->pOutputBuf, &iOutLen, lpSM4Param->pInputBuf, iInLen);
    if (iUpdate != 1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLTrans_SM4, EVP Update Failed, dwOutLen[%d], iInputLen[%d] bEncrypt[%d]",
                        MORVA_PTR_ARG(this), iOutLen, iInLen, bEncrypt);
        return 0;
    }
    lpSM4Param->iOutputBufLen = iOutLen;
    int iFinalLen = 0;
    int iFinal = bEncrypt ? api.EVP_EncryptFinal_ex(ctx.p, lpSM4Param->pOutputBuf + iOutLen, &iFinalLen)
                          : api.EVP_DecryptFinal_ex(ctx.p, lpSM4Param->pOutputBuf + iOutLen, &iFinalLen);
    if (iFinal != 1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLTrans_SM4, EVP Final_ex Failed, dwOutLen[%d], iInputLen[%d] bEncrypt[%d]",
                        MORVA_PTR_ARG(this), iOutLen, iInLen, bEncrypt);
        return 0;
    }
    lpSM4Param->iOutputBufLen += iFinalLen;
    return 1;
}

int CSSLTrans::SSLTrans_AesGcmEncrypt(BYTE *pOut, int *pOutLen, BYTE *pTag, int /*iIgnored*/, int iCipher,
                                      const BYTE *pKey, const BYTE *pInput, int iInputLen) {
    if (!pOut || !pOutLen || !pTag || !pInput || !pKey || iInputLen <= 0 || *pOutLen < iInputLen || iCipher != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, Invalid Parameter, pOut[0x%X], pInput[0x%X], "
                        "pAesKey[0x%X], iInputLen[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pOut), MORVA_PTR_ARG(pInput), MORVA_PTR_ARG(pKey),
                        iInputLen);
        return 0;
    }
    COpenSSLAPI &api = OpenSSL();
    CipherCtx ctx;
    if (!ctx.p) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, EVP_CIPHER_CTX_new Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    const EVP_CIPHER *pCipher = api.EVP_aes_128_gcm();
    const BYTE *pNone = nullptr;
    if (!pCipher || api.EVP_EncryptInit_ex(ctx.p, pCipher, nullptr, pNone, pNone) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, SSLTrans_EVP_AES_128_GCM Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    BYTE byIv[GCM_IV_LEN];
    GcmIv(byIv);
    api.EVP_CIPHER_CTX_ctrl(ctx.p, static_cast<int>(OSSL_EVP_CTRL_AEAD_SET_IVLEN), GCM_IV_LEN, nullptr);
    if (api.EVP_EncryptInit_ex(ctx.p, static_cast<const EVP_CIPHER *>(nullptr), nullptr, pKey, byIv) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, SSLTrans_EVP_EncryptInit_ex Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    int iOutLen = 0;
    if (api.EVP_EncryptUpdate(ctx.p, pOut, &iOutLen, pInput, iInputLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, SSLTrans_EVP_EncryptUpdate Failed, iInputLen[%d]",
                        MORVA_PTR_ARG(this), iInputLen);
        return 0;
    }
    int iFinalLen = 0;
    if (api.EVP_EncryptFinal_ex(ctx.p, pOut + iOutLen, &iFinalLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, SSLTrans_EVP_EncryptFinal_ex Failed, iOutLen[%d]",
                        MORVA_PTR_ARG(this), iOutLen);
        return 0;
    }
    if (api.EVP_CIPHER_CTX_ctrl(ctx.p, static_cast<int>(OSSL_EVP_CTRL_AEAD_GET_TAG), GCM_TAG_LEN, pTag) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmEncrypt, SSLTrans_EVP_CIPHER_CTX_ctrl Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    *pOutLen = iOutLen + iFinalLen;
    return 1;
}

int CSSLTrans::SSLTrans_AesGcmDecrypt(BYTE *pOut, int *pOutLen, const BYTE *pTag, int iTagLen, int iCipher,
                                      const BYTE *pKey, const BYTE *pInput, int iInputLen) {
    if (!pOut || !pOutLen || !pTag || iTagLen <= 0 || iTagLen > GCM_TAG_LEN || !pInput || !pKey || iInputLen <= 0 ||
        *pOutLen < iInputLen || iCipher != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, Invalid parameter", MORVA_PTR_ARG(this));
        return 0;
    }
    COpenSSLAPI &api = OpenSSL();
    CipherCtx ctx;
    if (!ctx.p) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, EVP_CIPHER_CTX_new Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    const EVP_CIPHER *pCipher = api.EVP_aes_128_gcm();
    const BYTE *pNone = nullptr;
    if (!pCipher || api.EVP_DecryptInit_ex(ctx.p, pCipher, nullptr, pNone, pNone) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_DecryptInit_ex Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    BYTE byIv[GCM_IV_LEN];
    GcmIv(byIv);
    if (api.EVP_CIPHER_CTX_ctrl(ctx.p, static_cast<int>(OSSL_EVP_CTRL_AEAD_SET_IVLEN), GCM_IV_LEN, nullptr) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_CIPHER_CTX_ctrl Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    if (api.EVP_DecryptInit_ex(ctx.p, static_cast<const EVP_CIPHER *>(nullptr), nullptr, pKey, byIv) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_DecryptInit_ex Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    int iOutLen = 0;
    if (api.EVP_DecryptUpdate(ctx.p, pOut, &iOutLen, pInput, iInputLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_DecryptUpdate Failed, dwOutLen[%d], "
                        "iInputLen[%d]",
                        MORVA_PTR_ARG(this), iOutLen, iInputLen);
        return 0;
    }
    BYTE byTag[GCM_TAG_LEN];
    memcpy(byTag, pTag, static_cast<size_t>(iTagLen));
    if (api.EVP_CIPHER_CTX_ctrl(ctx.p, static_cast<int>(OSSL_EVP_CTRL_AEAD_SET_TAG), iTagLen, byTag) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_CIPHER_CTX_ctrl Failed, dwTagLen[%d]",
                        MORVA_PTR_ARG(this), iTagLen);
        return 0;
    }
    int iFinalLen = 0;
    if (api.EVP_DecryptFinal_ex(ctx.p, pOut + iOutLen, &iFinalLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_AesGcmDecrypt, SSLTrans_EVP_DecryptFinal_ex Failed, dwOutLen[%d]",
                        MORVA_PTR_ARG(this), iOutLen);
        return 0;
    }
    *pOutLen = iOutLen + iFinalLen;
    return 1;
}

int CSSLTrans::SSLTrans_ChaCha20(BYTE *pOut, int *pOutLen, const BYTE *pInput, int iInputLen, const BYTE *pKey,
                                 DWORD dwCounter, const BYTE *pNonce) {
    if (!pOut || !pOutLen || !pInput || iInputLen <= 0 || !pKey || !pNonce || *pOutLen < iInputLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, Invalid parameter", MORVA_PTR_ARG(this));
        return 0;
    }
    COpenSSLAPI &api = OpenSSL();
    CipherCtx ctx;
    if (!ctx.p) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, SSLTrans_EVP_CIPHER_CTX_new Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    BYTE byIv[CHACHA_IV_LEN];
    memset(byIv, static_cast<int>(dwCounter % 255), 4);
    memcpy(byIv + 4, pNonce, CHACHA_IV_LEN - 4);
    const EVP_CIPHER *pCipher = api.EVP_chacha20();
    if (!pCipher) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, SSLTrans_EVP_CHACHA20, Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    if (api.EVP_DecryptInit_ex(ctx.p, pCipher, nullptr, pKey, byIv) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, SSLTrans_EVP_DecryptInit_ex, Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    int iOutLen = 0;
    if (api.EVP_DecryptUpdate(ctx.p, pOut, &iOutLen, pInput, iInputLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, SSLTrans_EVP_DecryptUpdate Failed, InputLen[%d]",
                        MORVA_PTR_ARG(this), iInputLen);
        return 0;
    }
    int iFinalLen = 0;
    if (api.EVP_DecryptFinal_ex(ctx.p, pOut + iOutLen, &iFinalLen) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ChaCha20, SSLTrans_EVP_DecryptFinal_ex Failed, dwOutLen[%d]",
                        MORVA_PTR_ARG(this), iOutLen);
        return 0;
    }
    *pOutLen = iOutLen + iFinalLen;
    return 1;
}

}  // namespace Vorezi
