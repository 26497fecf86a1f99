// CSSLTrans: key generation and key use. RSA pairs as DER PKCS#1, EC keys and ECDH, and SM2
// over the table's own SM2 with the cipher text laid out as C1 || C3 || C2.
#include <climits>
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"

namespace Vorezi {

namespace {

constexpr int EC_ENCODING_MAX = 512;
constexpr int ECDH_SECRET_MAX = 256;
constexpr OSSL_BN_ULONG RSA_EXPONENT = 65537;
// OpenSSL refuses moduli above 16384 bits, so no RSA block is longer.
constexpr int RSA_BLOCK_MAX = 16384 / 8;

int CurveNid(int iCurve) {
    switch (iCurve) {
    case TYPE_SECP_256_R1: return OSSL_NID_X9_62_PRIME256V1;
    case TYPE_SECP_384_R1: return OSSL_NID_SECP384R1;
    case TYPE_SECP_SM2: return OSSL_NID_SM2;
    default: return 0;
    }
}

// A DER encoding that OpenSSL allocated, given back with CRYPTO_free.
struct OsslBuffer {
    ~OsslBuffer() {
        if (p)
            OpenSSL().CRYPTO_free(p, __FILE__, __LINE__);
    }
    unsigned char *p = nullptr;
};

}  // namespace

int CSSLTrans::GeneralRSAKey(int iBits, BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen, bool b2048) {
    if (!pPub || !pPubLen || !pPri || !pPriLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        b2048 ? "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey2048, Invalid Param"
                              : "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey, Invalid Param",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    COpenSSLAPI &api = OpenSSL();
    RSA *pRsa = api.RSA_new();
    if (!pRsa) {
        LogModule_Write(LOG_LEVEL_ERR,
                        b2048 ? "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey2048, SSLTrans_RSA_new Failed"
                              : "[0x%X]CSSLTrans::SSLTrans_RSA_new, SSLTrans_RSA_new Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    BIGNUM *pExp = api.BN_new();
    if (!pExp) {
        LogModule_Write(LOG_LEVEL_ERR,
                        b2048 ? "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey2048, SSLTrans_BN_new Failed"
                              : "[0x%X]CSSLTrans::SSLTrans_RSA_new, SSLTrans_BN_new Failed",
                        MORVA_PTR_ARG(this));
        api.RSA_free(pRsa);
        return 0;
    }
    // A failed generation leaves an empty key, which the encoding below refuses.
    int iGen = api.BN_set_word(pExp, RSA_EXPONENT) == 1 ? api.RSA_generate_key_ex(pRsa, iBits, pExp, nullptr) : 0;
    api.BN_free(pExp);
    int iWork = iBits;  // DER of a pair stays below its bit count in bytes
    BYTE *pWork = new (std::nothrow) BYTE[2 * iWork];
    int iRet = 0;
    if (pWork && iGen == 1) {
        unsigned char *pCursor = pWork;
        int iPubLen = api.i2d_RSAPublicKey(pRsa, &pCursor);
        pCursor = pWork + iWork;
        int iPriLen = iPubLen > 0 && iPubLen <= iWork ? api.i2d_RSAPrivateKey(pRsa, &pCursor) : -1;
        if (iPubLen <= 0 || iPubLen > iWork)
            LogModule_Write(LOG_LEVEL_ERR,
                            b2048 ? "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey2048, SSLTrans_i2d_RSAPublicKey Failed"
                                  : "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey, SSLTrans_i2d_RSAPublicKey Failed",
                            MORVA_PTR_ARG(this));
        else if (iPriLen <= 0 || iPriLen > iWork)
            LogModule_Write(LOG_LEVEL_ERR,
                            b2048 ? "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey2048, SSLTrans_i2d_RSAPrivateKey Failed"
                                  : "[0x%X]CSSLTrans::SSLTrans_GeneralRSAKey, SSLTrans_i2d_RSAPrivateKey Failed",
                            MORVA_PTR_ARG(this));
        else {
            memcpy(pPub, pWork, static_cast<size_t>(iPubLen));
            memcpy(pPri, pWork + iWork, static_cast<size_t>(iPriLen));
            *pPubLen = iPubLen;
            *pPriLen = iPriLen;
            iRet = 1;
        }
    }
    if (pWork)
        explicit_bzero(pWork, static_cast<size_t>(2 * iWork));
    delete[] pWork;
    api.RSA_free(pRsa);
    return iRet;
}

int CSSLTrans::SSLTrans_GeneralRSAKey(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) {
    return GeneralRSAKey(1024, pPub, pPubLen, pPri, pPriLen, false);
}

int CSSLTrans::SSLTrans_GeneralRSAKey2048(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) {
    return GeneralRSAKey(2048, pPub, pPubLen, pPri, pPriLen, true);
}

int CSSLTrans::DecryptByPrivateKey(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri, int iPriLen,
                                   bool b2048) {
    if (!pInput || iInputLen <= 0 || !pOut || !pPri || iPriLen <= 0)
        return 0;
    COpenSSLAPI &api = OpenSSL();
    const unsigned char *pCursor = pPri;
    RSA *pRsa = api.d2i_RSAPrivateKey(static_cast<RSA **>(nullptr), &pCursor, static_cast<long>(iPriLen));
    if (!pRsa) {
        LogModule_Write(LOG_LEVEL_ERR,
                        b2048 ? "[0x%X]CSSLTrans::SSLTrans_DecryptByPrivateKey2048, SSLTrans_d2i_RSAPrivateKey Failed"
                              : "[0x%X]CSSLTrans::SSLTrans_DecryptByPrivateKey, SSLTrans_d2i_RSAPrivateKey Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    // The padding check writes a whole modulus-sized block, however short the plain text: it goes
    // to a block of our own and only the plain text reaches the caller's buffer.
    BYTE byBlock[RSA_BLOCK_MAX];
    int iRet = api.RSA_private_decrypt(iInputLen, pInput, byBlock, pRsa, static_cast<int>(OSSL_RSA_PKCS1_PADDING));
    api.RSA_free(pRsa);
    if (iRet > 0)
        memcpy(pOut, byBlock, static_cast<size_t>(iRet));
    explicit_bzero(byBlock, sizeof(byBlock));
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        b2048 ? "[0x%X]CSSLTrans::SSLTrans_DecryptByPrivateKey2048, SSLTrans_RSA_private_decrypt Failed"
                              : "[0x%X]CSSLTrans::SSLTrans_DecryptByPrivateKey, SSLTrans_RSA_private_decrypt Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    return 1;
}

int CSSLTrans::SSLTrans_DecryptByPrivateKey(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                            int iPriLen) {
    return DecryptByPrivateKey(iInputLen, pInput, pOut, pPri, iPriLen, false);
}

int CSSLTrans::SSLTrans_DecryptByPrivateKey2048(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                                int iPriLen) {
    return DecryptByPrivateKey(iInputLen, pInput, pOut, pPri, iPriLen, true);
}

int CSSLTrans::SSLTrans_GenerateECDHPubPriKey(int iCurve, BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen,
                                              BYTE *pDerPub, int *pDerPubLen) {
    if (!pPub || !pPubLen || !pPri || !pPriLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, Invalid parameter",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    COpenSSLAPI &api = OpenSSL();
    int iNid = CurveNid(iCurve);
    EC_KEY *pKey = iNid ? api.EC_KEY_new_by_curve_name(iNid) : nullptr;
    if (!pKey) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, SSLTrans_EC_KEY_new_by_curve_name Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    int iRet = 0;
    const EC_POINT *pPoint = nullptr;
    if (api.EC_KEY_generate_key(pKey) != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, SSLTrans_EC_KEY_generate_key Failed",
                        MORVA_PTR_ARG(this));
    } else if (!(pPoint = api.EC_KEY_get0_public_key(pKey))) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, SSLTrans_EC_KEY_get0_public_key Failed",
                        MORVA_PTR_ARG(this));
    } else {
        BYTE byPoint[EC_ENCODING_MAX];
        size_t uLen = api.EC_POINT_point2oct(api.EC_KEY_get0_group(pKey), pPoint,
                                             static_cast<int>(OSSL_POINT_CONVERSION_UNCOMPRESSED), byPoint,
                                             sizeof(byPoint), nullptr);
        if (uLen < 1 || uLen > EC_ENCODING_MAX) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, SSLTrans_EC_POINT_point2oct Failed, iLen[%d]",
                            MORVA_PTR_ARG(this), static_cast<int>(uLen));
        } else {
            memcpy(pPub, byPoint, uLen);
            *pPubLen = static_cast<int>(uLen);
            iRet = 1;
            OsslBuffer der;
            int iLen = api.i2d_ECPrivateKey(pKey, &der.p);
            if (iLen < 1 || iLen > EC_ENCODING_MAX) {
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey, SSLTrans_i2dECPrivateKey Failed, iLen[%d]",
                                MORVA_PTR_ARG(this), iLen);
                iRet = 0;
            } else {
                memcpy(pPri, der.p, static_cast<size_t>(iLen));
                *pPriLen = iLen;
                explicit_bzero(der.p, static_cast<size_t>(iLen));  // OpenSSL frees without clearing
            }
            if (iCurve == TYPE_SECP_256_R1 && pDerPub && pDerPubLen) {
                OsslBuffer spki;
                iLen = api.i2d_EC_PUBKEY(pKey, &spki.p);
                if (iLen < 1 || iLen > EC_ENCODING_MAX) {
                    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateECDHPubPriKey SSLTrans_i2dECPubKey Failed, iLen[%d]",
                                    MORVA_PTR_ARG(this), iLen);
                    iRet = 0;
                } else {
                    memcpy(pDerPub, spki.p, static_cast<size_t>(iLen));
                    *pDerPubLen = iLen;
                }
            }
        }
    }
    api.EC_KEY_free(pKey);
    return iRet;
}

int CSSLTrans::ComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri, int iPriLen,
                               const BYTE *pPeer, int iPeerLen, bool bDerPeer) {
    COpenSSLAPI &api = OpenSSL();
    int iNid = CurveNid(iCurve);
    EC_KEY *pKey = iNid ? api.EC_KEY_new_by_curve_name(iNid) : nullptr;
    if (!pKey) {
        LogModule_Write(LOG_LEVEL_ERR,
                        bDerPeer ? "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_EC_KEY_new_by_curve_name Failed."
                                 : "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, SSLTrans_EC_KEY_new_by_curve_name Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    const unsigned char *pCursor = pPri;
    int iRet = 0;
    EC_POINT *pPoint = nullptr;
    const EC_GROUP *pGroup = nullptr;
    if (!api.d2i_ECPrivateKey(&pKey, &pCursor, static_cast<long>(iPriLen)) || !(pGroup = api.EC_KEY_get0_group(pKey))) {
        LogModule_Write(LOG_LEVEL_ERR,
                        bDerPeer ? "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_EC_KEY_get0_group Failed"
                                 : "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, SSLTrans_EC_KEY_get0_group Failed",
                        MORVA_PTR_ARG(this));
    } else if (!(pPoint = api.EC_POINT_new(pGroup))) {
        LogModule_Write(LOG_LEVEL_ERR,
                        bDerPeer ? "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_EC_POINT_new Failed"
                                 : "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, SSLTrans_EC_POINT_new Failed",
                        MORVA_PTR_ARG(this));
    } else {
        int iOct = api.EC_POINT_oct2point(pGroup, pPoint, pPeer, static_cast<size_t>(iPeerLen), nullptr);
        if (iOct < 1) {
            if (bDerPeer)
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_EC_POINT_oct2point Failed",
                                MORVA_PTR_ARG(this));
            else
                LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, SSLTrans_EC_POINT_oct2point Failed, iRet[%d]",
                                MORVA_PTR_ARG(this), iOct);
        } else {
            int iLen = api.ECDH_compute_key(pSecret, static_cast<size_t>(ECDH_SECRET_MAX),
                                            static_cast<const EC_POINT *>(pPoint), static_cast<const EC_KEY *>(pKey),
                                            static_cast<OSSL_ECDH_KDF>(nullptr));
            if (iLen < 1) {
                LogModule_Write(LOG_LEVEL_ERR,
                                bDerPeer ? "[0x%X]CSSLTrans::SSLTrans_Gener_ECDH_PublicKey, SSLTrans_ECDH_compute_key Failed"
                                         : "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, SSLTrans_ECDH_compute_key Failed",
                                MORVA_PTR_ARG(this));
            } else {
                *pSecretLen = (api.EC_GROUP_get_degree(pGroup) + 7) / 8;
                iRet = 1;
            }
        }
    }
    api.EC_POINT_free(pPoint);
    api.EC_KEY_free(pKey);
    return iRet;
}

int CSSLTrans::SSLTrans_ECDHComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri,
                                            int iPriLen, const BYTE *pPeer, int iPeerLen) {
    if (!pSecret || !pSecretLen || !pPri || iPriLen <= 0 || !pPeer || iPeerLen <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECDHComputeShareKey, Invalid parameter",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    return ComputeShareKey(iCurve, pSecret, pSecretLen, pPri, iPriLen, pPeer, iPeerLen, false);
}

int CSSLTrans::SSLTrans_ECCDHComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri,
                                             int iPriLen, const BYTE *pPeerDer, int iPeerDerLen) {
    if (!pSecret || !pSecretLen || !pPri || iPriLen <= 0 || !pPeerDer || iPeerDerLen <= 0)
        return 0;
    COpenSSLAPI &api = OpenSSL();
    const unsigned char *pCursor = pPeerDer;
    EC_KEY *pPeerKey = api.d2i_EC_PUBKEY(static_cast<EC_KEY **>(nullptr), &pCursor, static_cast<long>(iPeerDerLen));
    if (!pPeerKey) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_d2iECPubKey fail",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    BYTE byPoint[EC_ENCODING_MAX];
    size_t uLen = 0;
    const EC_POINT *pPoint = api.EC_KEY_get0_public_key(pPeerKey);
    const EC_GROUP *pGroup = api.EC_KEY_get0_group(pPeerKey);
    if (!pPoint)
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey SSLTrans_EC_KEY_get0_public_key Failed.",
                        MORVA_PTR_ARG(this));
    else if (!pGroup)
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey, SSLTrans_EC_KEY_get0_group Failed.",
                        MORVA_PTR_ARG(this));
    else {
        uLen = api.EC_POINT_point2oct(pGroup, pPoint, static_cast<int>(OSSL_POINT_CONVERSION_UNCOMPRESSED), byPoint,
                                      sizeof(byPoint), nullptr);
        if (uLen < 1 || uLen > EC_ENCODING_MAX) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_ECCDHComputeShareKey SSLTrans_EC_POINT_point2oct Failed, Retlen[%d].",
                            MORVA_PTR_ARG(this), static_cast<int>(uLen));
            uLen = 0;
        }
    }
    api.EC_KEY_free(pPeerKey);
    if (!uLen)
        return 0;
    return ComputeShareKey(iCurve, pSecret, pSecretLen, pPri, iPriLen, byPoint, static_cast<int>(uLen), true);
}

int CSSLTrans::SSLTrans_GenerateSM2Key(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) {
    BYTE byPair[SM2_KEY_PAIR_LEN];
    if (!pPub || !pPubLen || !pPri || !pPriLen || !OpenSSL().SSLTrans_SM2CreateKeyPair(byPair)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_GenerateSM2Key Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    memcpy(pPub, byPair + SM2_SCALAR_LEN, SM2_POINT_LEN);
    memcpy(pPri, byPair, SM2_SCALAR_LEN);
    explicit_bzero(byPair, sizeof(byPair));
    *pPubLen = SM2_POINT_LEN;
    *pPriLen = SM2_SCALAR_LEN;
    return 1;
}

int CSSLTrans::SSLTrans_SM2Encrypt(MORVA_SM2_PARAM *lpSM2Param) {
    // The key is a whole uncompressed point; the cipher text length must fit an int.
    if (!lpSM2Param || !lpSM2Param->pInputBuf || lpSM2Param->iInputBufLen <= 0 ||
        lpSM2Param->iInputBufLen > INT_MAX - SM2_CIPHER_OVERHEAD || !lpSM2Param->pOutputBuf || !lpSM2Param->pKey ||
        lpSM2Param->iKeyLen < SM2_POINT_LEN ||
        lpSM2Param->iOutputBufLen < lpSM2Param->iInputBufLen + SM2_CIPHER_OVERHEAD) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM2Encrypt, lpSM2Param->iOutputBufLen[%d]",
                        MORVA_PTR_ARG(this), lpSM2Param ? lpSM2Param->iOutputBufLen : 0);
        return 0;
    }
    BYTE *pOut = lpSM2Param->pOutputBuf;
    if (!OpenSSL().SSLTrans_SM2Encrypt(lpSM2Param->pInputBuf, lpSM2Param->iInputBufLen, lpSM2Param->pKey, pOut,
                                   pOut + SM2_POINT_LEN, pOut + SM2_CIPHER_OVERHEAD))
        return 0;
    lpSM2Param->iOutputBufLen = lpSM2Param->iInputBufLen + SM2_CIPHER_OVERHEAD;
    return 1;
}

int CSSLTrans::SSLTrans_SM2Decrypt(MORVA_SM2_PARAM *lpSM2Param) {
    // C1 and C3 take 97 bytes; a cipher text also carries at least one byte of C2.
    if (!lpSM2Param || !lpSM2Param->pInputBuf || lpSM2Param->iInputBufLen <= SM2_CIPHER_OVERHEAD ||
        !lpSM2Param->pOutputBuf || !lpSM2Param->pKey || lpSM2Param->iKeyLen < SM2_SCALAR_LEN ||
        lpSM2Param->iOutputBufLen < lpSM2Param->iInputBufLen - SM2_CIPHER_OVERHEAD) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SM2Decrypt, lpSM2Param->iOutputBufLen[%d]",
                        MORVA_PTR_ARG(this), lpSM2Param ? lpSM2Param->iOutputBufLen : 0);
        return 0;
    }
    const BYTE *pIn = lpSM2Param->pInputBuf;
    int iC2Len = lpSM2Param->iInputBufLen - SM2_CIPHER_OVERHEAD;
    if (!OpenSSL().SSLTrans_SM2Decrypt(pIn, pIn + SM2_POINT_LEN, pIn + SM2_CIPHER_OVERHEAD, iC2Len, lpSM2Param->pKey,
                                   lpSM2Param->pOutputBuf))
        return 0;
    lpSM2Param->iOutputBufLen = iC2Len;
    return 1;
}

}  // namespace Vorezi
