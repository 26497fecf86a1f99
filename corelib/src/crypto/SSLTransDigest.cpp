// CSSLTrans: digests, HMAC, PBKDF2, random bytes, the session control call and ASN.1 OCTET
// STRINGs. Every slot is stateless, so the shared instance serves any number of threads.
#include <cstring>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"
#include "crypto/SSLTrans.h"

namespace Vorezi {

namespace {

enum { HMAC_TYPE_SHA256 = 1, HMAC_TYPE_SHA1 = 2, HMAC_TYPE_SHA384 = 7 };

unsigned char *const kNoDigest = nullptr;

}  // namespace

unsigned char *CSSLTrans::SSLTrans_HMAC_SM3(const void *pKey, int iKeyLen, const BYTE *pData, int iDataLen,
                                            BYTE *pOut, unsigned int *pOutLen) {
    const EVP_MD *pMd = OpenSSL().EVP_sm3();
    if (!pMd) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_HMAC_SM3, SSLTrans_EVP_sm3 Failed", MORVA_PTR_ARG(this));
        return nullptr;
    }
    return OpenSSL().HMAC(pMd, pKey, iKeyLen, pData, static_cast<size_t>(iDataLen), pOut, pOutLen, kNoDigest);
}

unsigned char *CSSLTrans::SSLTrans_HMAC_SHA(int enumType, const void *pKey, int iKeyLen, const BYTE *pData,
                                            int iDataLen, BYTE *pOut, unsigned int *pOutLen) {
    COpenSSLAPI &api = OpenSSL();
    const EVP_MD *pNone = nullptr;
    const EVP_MD *pMd;
    switch (enumType) {
    case HMAC_TYPE_SHA256: pMd = api.EVP_sha256(pNone); break;
    case HMAC_TYPE_SHA1: pMd = api.EVP_sha1(pNone); break;
    case HMAC_TYPE_SHA384: pMd = api.EVP_sha384(pNone); break;
    default:
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_SSLHMAC, Invalid enumType[%d]", MORVA_PTR_ARG(this),
                        enumType);
        return nullptr;
    }
    if (!pMd) {
        LogModule_Write(LOG_LEVEL_ERR,
                        enumType == HMAC_TYPE_SHA256 ? "[0x%X]CSSLTrans::SSLTrans_HMAC_SHA, SSLTrans_EVP_sha256 Failed"
                                                     : "[0x%X]CSSLTrans::SSLTrans_HMAC_SHA, SSLTrans_EVP_sha1 Failed",
                        MORVA_PTR_ARG(this));
        return nullptr;
    }
    return api.HMAC(pMd, pKey, iKeyLen, pData, static_cast<size_t>(iDataLen), pOut, pOutLen, kNoDigest);
}

int CSSLTrans::SSLTrans_SHA256_Init(void *pCtx) {
    return OpenSSL().SHA256_Init(pCtx, 0);
}

int CSSLTrans::SSLTrans_SHA256_Update(void *pCtx, const void *pData, size_t uLen) {
    return OpenSSL().SHA256_Update(pCtx, pData, uLen, 0);
}

int CSSLTrans::SSLTrans_SHA256_Final(BYTE *pOut, void *pCtx) {
    return OpenSSL().SHA256_Final(pOut, pCtx, 0);
}

unsigned char *CSSLTrans::SSLTrans_SHA256(const BYTE *pData, size_t uLen, BYTE *pOut) {
    return OpenSSL().SHA256(pData, uLen, pOut, kNoDigest);
}

unsigned char *CSSLTrans::SSLTrans_SHA384(const BYTE *pData, size_t uLen, BYTE *pOut) {
    return OpenSSL().SHA384(pData, uLen, pOut, kNoDigest);
}

unsigned char *CSSLTrans::SSLTrans_SHA512(const BYTE *pData, size_t uLen, BYTE *pOut) {
    return OpenSSL().SHA512(pData, uLen, pOut, kNoDigest);
}

unsigned char *CSSLTrans::SSLTrans_MD5(const BYTE *pData, size_t uLen, BYTE *pOut) {
    return OpenSSL().MD5(pData, uLen, pOut, kNoDigest);
}

int CSSLTrans::PBKDF2(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen, int iIter, int iKeyLen,
                      BYTE *pOut, const EVP_MD *pMd) {
    return OpenSSL().PKCS5_PBKDF2_HMAC(pPass, iPassLen, pSalt, iSaltLen, iIter, pMd, iKeyLen, pOut, -1);
}

int CSSLTrans::SSLTrans_PKCS5_PBKDF2_HMAC_SHA256(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen,
                                                 int iIter, int iKeyLen, BYTE *pOut) {
    const EVP_MD *pMd = OpenSSL().EVP_sha256(static_cast<const EVP_MD *>(nullptr));
    if (!pMd) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_PKCS5_PBKDF2_HMAC_SHA256, SSLTrans_EVP_sha256 Failed",
                        MORVA_PTR_ARG(this));
        return -1;
    }
    return PBKDF2(pPass, iPassLen, pSalt, iSaltLen, iIter, iKeyLen, pOut, pMd);
}

int CSSLTrans::SSLTrans_PKCS5_PBKDF2_HMAC_SM3(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen,
                                              int iIter, int iKeyLen, BYTE *pOut) {
    const EVP_MD *pMd = OpenSSL().EVP_sm3();
    if (!pMd) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CSSLTrans::SSLTrans_PKCS5_PBKDF2_HMAC_SM3, SSLTrans_EVP_sm3 Failed",
                        MORVA_PTR_ARG(this));
        return -1;
    }
    return PBKDF2(pPass, iPassLen, pSalt, iSaltLen, iIter, iKeyLen, pOut, pMd);
}

// EVP steps succeed only with 1: an unbound step (-1) must not pass for success.
int CSSLTrans::SSLTrans_SM3(const BYTE *pData, int iLen, BYTE *pOut) {
    if ((!pData && iLen > 0) || iLen < 0 || !pOut)
        return 0;
    COpenSSLAPI &api = OpenSSL();
    EVP_MD_CTX *pCtx = api.EVP_MD_CTX_new();
    if (!pCtx)
        return 0;
    const EVP_MD *pMd = api.EVP_sm3();
    int iRet = pMd && api.EVP_MD_CTX_reset(pCtx) == 1 && api.EVP_DigestInit_ex(pCtx, pMd, nullptr) == 1 &&
                       api.EVP_DigestUpdate(pCtx, pData, static_cast<size_t>(iLen)) == 1 &&
                       api.EVP_DigestFinal_ex(pCtx, pOut, nullptr) == 1
                   ? 1
                   : 0;
    api.EVP_MD_CTX_free(pCtx);
    return iRet;
}

int CSSLTrans::SSLTrans_RAND_Bytes(BYTE *pBuf, int iLen) {
    return OpenSSL().RAND_bytes(pBuf, iLen);
}

long CSSLTrans::SSLTrans_ctrl(int iCmd, long lArg, void *pArg, long lDefault) {
    return OpenSSL().SSL_ctrl(m_pSSL, iCmd, lArg, pArg, lDefault);
}

int CSSLTrans::SSLTrans_ASN1_OCTET_STRING_Encode(const BYTE *pData, int iLen, BYTE *pOut, int iOutBufLen) {
    COpenSSLAPI &api = OpenSSL();
    ASN1_OCTET_STRING *pStr = api.ASN1_OCTET_STRING_new();
    if (!pStr)
        return -1;
    int iRet = -1;
    if (api.ASN1_OCTET_STRING_set(pStr, pData, iLen) == 1) {
        int n = api.i2d_ASN1_OCTET_STRING(pStr, static_cast<unsigned char **>(nullptr));
        unsigned char *pCursor = pOut;
        if (n > 0 && n <= iOutBufLen && pOut && api.i2d_ASN1_OCTET_STRING(pStr, &pCursor) > 0)
            iRet = n;
    }
    api.ASN1_OCTET_STRING_free(pStr);
    return iRet;
}

// OpenSSL's ASN1_STRING still starts with its length, type and data (public since 1.0).
struct OsslAsn1String {
    int length;
    int type;
    unsigned char *data;
};

int CSSLTrans::SSLTrans_ASN1_OCTET_STRING_Decode(const BYTE *pDer, int iLen, BYTE *pOut, int iOutBufLen) {
    if (!pDer || iLen <= 0)
        return -1;
    COpenSSLAPI &api = OpenSSL();
    const unsigned char *pCursor = pDer;
    ASN1_OCTET_STRING *pStr =
        api.d2i_ASN1_OCTET_STRING(static_cast<ASN1_OCTET_STRING **>(nullptr), &pCursor, static_cast<long>(iLen));
    if (!pStr)
        return -1;
    const auto *pView = reinterpret_cast<const OsslAsn1String *>(pStr);
    int n = pView->length;
    int iRet = -1;
    if (n > 0 && n <= iOutBufLen && pOut) {
        memcpy(pOut, pView->data, static_cast<size_t>(n));
        iRet = n;
    }
    api.ASN1_OCTET_STRING_free(pStr);
    return iRet;
}

}  // namespace Vorezi
