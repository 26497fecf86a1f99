// CSSLTrans: the core library's object for TLS, DTLS and crypto primitives over the run-time
// bound OpenSSL table, with its static part: loading OpenSSL, the lock array of old OpenSSL, and
// the three shared SSL contexts (client, TLS server, DTLS server) with their user counts.
#pragma once

#include <atomic>
#include <cstdint>

#include "crypto/OpenSSLTypes.h"
#include "morva/MorvaCrypto.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// SM4 modes of MORVA_SM4_PARAM::iMode.
enum {
    SM4_MODE_CBC = 0,
    SM4_MODE_ECB = 1,
    SM4_MODE_CFB128 = 2,
    SM4_MODE_OFB = 3,
    SM4_MODE_CTR = 4,
    SM4_MODE_CBC_ALT = 5,
};

// The curve ids (TYPE_SECP_*) and the SM2 and SM4 records are those of the flat crypto interface.
using ::MORVA_SM2_PARAM;
using ::MORVA_SM4_PARAM;

// SSL version codes: 0-6 client and TLS server, 10-12 DTLS server.
enum {
    SSL_VERSION_V23 = 0,
    SSL_VERSION_TLS = 6,
    SSL_VERSION_DTLS_MIN = 10,
    SSL_VERSION_DTLS_V1 = 10,
    SSL_VERSION_DTLS_V1_2 = 11,
    SSL_VERSION_DTLS = 12,
};

class CSSLTransInterface {
public:
    virtual ~CSSLTransInterface() = default;
    virtual int Reserved() = 0;

    virtual unsigned char *SSLTrans_HMAC_SM3(const void *pKey, int iKeyLen, const BYTE *pData, int iDataLen,
                                             BYTE *pOut, unsigned int *pOutLen) = 0;
    virtual unsigned char *SSLTrans_HMAC_SHA(int enumType, const void *pKey, int iKeyLen, const BYTE *pData,
                                             int iDataLen, BYTE *pOut, unsigned int *pOutLen) = 0;
    virtual int SSLTrans_SHA256_Init(void *pCtx) = 0;
    virtual int SSLTrans_SHA256_Update(void *pCtx, const void *pData, size_t uLen) = 0;
    virtual int SSLTrans_SHA256_Final(BYTE *pOut, void *pCtx) = 0;
    virtual unsigned char *SSLTrans_SHA256(const BYTE *pData, size_t uLen, BYTE *pOut) = 0;
    virtual unsigned char *SSLTrans_SHA384(const BYTE *pData, size_t uLen, BYTE *pOut) = 0;
    virtual unsigned char *SSLTrans_SHA512(const BYTE *pData, size_t uLen, BYTE *pOut) = 0;
    virtual unsigned char *SSLTrans_MD5(const BYTE *pData, size_t uLen, BYTE *pOut) = 0;
    virtual int SSLTrans_PKCS5_PBKDF2_HMAC_SHA256(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen,
                                                  int iIter, int iKeyLen, BYTE *pOut) = 0;
    virtual int SSLTrans_PKCS5_PBKDF2_HMAC_SM3(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen,
                                               int iIter, int iKeyLen, BYTE *pOut) = 0;
    virtual int SSLTrans_GenerateECDHPubPriKey(int iCurve, BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen,
                                               BYTE *pDerPub, int *pDerPubLen) = 0;
    virtual int SSLTrans_ECDHComputeShareKey(int iCurve, BYTE *pSecret /* 256 */, int *pSecretLen,
                                             const BYTE *pPri, int iPriLen, const BYTE *pPeer, int iPeerLen) = 0;
    virtual int SSLTrans_ECCDHComputeShareKey(int iCurve, BYTE *pSecret /* 256 */, int *pSecretLen,
                                              const BYTE *pPri, int iPriLen, const BYTE *pPeerDer,
                                              int iPeerDerLen) = 0;
    virtual int SSLTrans_ChaCha20(BYTE *pOut, int *pOutLen, const BYTE *pInput, int iInputLen,
                                  const BYTE *pKey /* 32 */, DWORD dwCounter, const BYTE *pNonce /* 12 */) = 0;
    virtual int SSLTrans_GeneralRSAKey(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) = 0;
    virtual int SSLTrans_GeneralRSAKey2048(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) = 0;
    virtual int SSLTrans_DecryptByPrivateKey(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                             int iPriLen) = 0;
    virtual int SSLTrans_DecryptByPrivateKey2048(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                                 int iPriLen) = 0;
    virtual int SSLTrans_GenerateSM2Key(BYTE *pPub /* 65 */, int *pPubLen, BYTE *pPri /* 32 */, int *pPriLen) = 0;
    // The AES slots take the output capacity last; key lengths 16, 24 and 32 select AES-128/192/256.
    virtual int SSLTrans_AesCbcEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                       BYTE *pIv, int iOutBufLen) = 0;
    virtual int SSLTrans_AesCbcDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                       const BYTE *pIv, int iOutBufLen) = 0;
    virtual int SSLTrans_AesEcbEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                       int iOutBufLen) = 0;
    virtual int SSLTrans_AesEcbDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                                       int iOutBufLen) = 0;
    virtual int SSLTrans_SM2Encrypt(MORVA_SM2_PARAM *lpSM2Param) = 0;
    virtual int SSLTrans_SM2Decrypt(MORVA_SM2_PARAM *lpSM2Param) = 0;
    virtual int SSLTrans_SM3(const BYTE *pData, int iLen, BYTE *pOut /* 32 */) = 0;
    virtual int SSLTrans_SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) = 0;
    // *pOutLen: the output capacity on entry, the result length on return.
    virtual int SSLTrans_AesGcmEncrypt(BYTE *pOut, int *pOutLen, BYTE *pTag /* 16 */, int iIgnored, int iCipher,
                                       const BYTE *pKey /* 16 */, const BYTE *pInput, int iInputLen) = 0;
    virtual int SSLTrans_AesGcmDecrypt(BYTE *pOut, int *pOutLen, const BYTE *pTag, int iTagLen, int iCipher,
                                       const BYTE *pKey /* 16 */, const BYTE *pInput, int iInputLen) = 0;
    virtual int SSLTrans_RAND_Bytes(BYTE *pBuf, int iLen) = 0;
    virtual long SSLTrans_ctrl(int iCmd, long lArg, void *pArg, long lDefault) = 0;
    virtual int SSLTrans_ASN1_OCTET_STRING_Encode(const BYTE *pData, int iLen, BYTE *pOut, int iOutBufLen) = 0;
    virtual int SSLTrans_ASN1_OCTET_STRING_Decode(const BYTE *pDer, int iLen, BYTE *pOut, int iOutBufLen) = 0;
    virtual SSL *GetSSL() = 0;
    virtual SSL_CTX *GetSSLCtx() = 0;
};

class CSSLTrans : public CSSLTransInterface {
public:
    // One shared context per kind, under the SSL library lock.
    struct SSLCtxRecord {
        SSL_CTX *pCtx;
        int64_t llUsers;  // 64-bit: every client creation counts and nothing gives it back
        int bSetUp;
    };

    CSSLTrans(int bServerLink, int bDTLS);
    CSSLTrans(int bServerLink, int bDTLS, int bGM);
    ~CSSLTrans() override;
    CSSLTrans(const CSSLTrans &) = delete;
    CSSLTrans &operator=(const CSSLTrans &) = delete;

    static int LoadSSLLib();
    static int UnloadSSLLib(int bServerLink, int bDTLS);
    static int CreateSSLTrans(int bServerLink, DWORD dwSSLVersion);
    static int SSLCtxInit(int bServerLink, DWORD dwSSLVersion);
    static int SSLInitLockArray();
    static void LockingCallback(int iMode, int n, const char *pFile, int iLine);
    static unsigned long ThreadIdCallback();
    static void SSLFreeLockArray();
    static int SSLTrans_CTX_Load_CA();
    static int SSLTrans_CXT_RefreshCA();
    static void SSLTrans_CTX_Unload_CA();
    static int GetCAPathFromConfig(char *pBuf, int iSize);
    static int ErrorCallback();
    static int IsLoaded() { return s_bLoaded.load(std::memory_order_acquire); }
    static const SSLCtxRecord &GetCtxRecord(int iKind);
    // The list and the server's cipher preference on a context.
    static int CtxSetCipherList(SSL_CTX *pCtx, const char *pList);

    int SSLTrans_free();
    int SSLTrans_CTX_set_cipher_list(const char *pList);
    int IsDTLS() const { return m_bDTLS; }

    int Reserved() override { return 0; }
    unsigned char *SSLTrans_HMAC_SM3(const void *pKey, int iKeyLen, const BYTE *pData, int iDataLen, BYTE *pOut,
                                     unsigned int *pOutLen) override;
    unsigned char *SSLTrans_HMAC_SHA(int enumType, const void *pKey, int iKeyLen, const BYTE *pData, int iDataLen,
                                     BYTE *pOut, unsigned int *pOutLen) override;
    int SSLTrans_SHA256_Init(void *pCtx) override;
    int SSLTrans_SHA256_Update(void *pCtx, const void *pData, size_t uLen) override;
    int SSLTrans_SHA256_Final(BYTE *pOut, void *pCtx) override;
    unsigned char *SSLTrans_SHA256(const BYTE *pData, size_t uLen, BYTE *pOut) override;
    unsigned char *SSLTrans_SHA384(const BYTE *pData, size_t uLen, BYTE *pOut) override;
    unsigned char *SSLTrans_SHA512(const BYTE *pData, size_t uLen, BYTE *pOut) override;
    unsigned char *SSLTrans_MD5(const BYTE *pData, size_t uLen, BYTE *pOut) override;
    int SSLTrans_PKCS5_PBKDF2_HMAC_SHA256(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen, int iIter,
                                          int iKeyLen, BYTE *pOut) override;
    int SSLTrans_PKCS5_PBKDF2_HMAC_SM3(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen, int iIter,
                                       int iKeyLen, BYTE *pOut) override;
    int SSLTrans_GenerateECDHPubPriKey(int iCurve, BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen, BYTE *pDerPub,
                                       int *pDerPubLen) override;
    int SSLTrans_ECDHComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri, int iPriLen,
                                     const BYTE *pPeer, int iPeerLen) override;
    int SSLTrans_ECCDHComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri, int iPriLen,
                                      const BYTE *pPeerDer, int iPeerDerLen) override;
    int SSLTrans_ChaCha20(BYTE *pOut, int *pOutLen, const BYTE *pInput, int iInputLen, const BYTE *pKey,
                          DWORD dwCounter, const BYTE *pNonce) override;
    int SSLTrans_GeneralRSAKey(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) override;
    int SSLTrans_GeneralRSAKey2048(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) override;
    int SSLTrans_DecryptByPrivateKey(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                     int iPriLen) override;
    int SSLTrans_DecryptByPrivateKey2048(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri,
                                         int iPriLen) override;
    int SSLTrans_GenerateSM2Key(BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen) override;
    int SSLTrans_AesCbcEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen, BYTE *pIv,
                               int iOutBufLen) override;
    int SSLTrans_AesCbcDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                               const BYTE *pIv, int iOutBufLen) override;
    int SSLTrans_AesEcbEncrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                               int iOutBufLen) override;
    int SSLTrans_AesEcbDecrypt(const BYTE *pKey, const BYTE *pInput, BYTE *pOut, int iLength, int iKeyLen,
                               int iOutBufLen) override;
    int SSLTrans_SM2Encrypt(MORVA_SM2_PARAM *lpSM2Param) override;
    int SSLTrans_SM2Decrypt(MORVA_SM2_PARAM *lpSM2Param) override;
    int SSLTrans_SM3(const BYTE *pData, int iLen, BYTE *pOut) override;
    int SSLTrans_SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) override;
    int SSLTrans_AesGcmEncrypt(BYTE *pOut, int *pOutLen, BYTE *pTag, int iIgnored, int iCipher, const BYTE *pKey,
                               const BYTE *pInput, int iInputLen) override;
    int SSLTrans_AesGcmDecrypt(BYTE *pOut, int *pOutLen, const BYTE *pTag, int iTagLen, int iCipher,
                               const BYTE *pKey, const BYTE *pInput, int iInputLen) override;
    int SSLTrans_RAND_Bytes(BYTE *pBuf, int iLen) override;
    long SSLTrans_ctrl(int iCmd, long lArg, void *pArg, long lDefault) override;
    int SSLTrans_ASN1_OCTET_STRING_Encode(const BYTE *pData, int iLen, BYTE *pOut, int iOutBufLen) override;
    int SSLTrans_ASN1_OCTET_STRING_Decode(const BYTE *pDer, int iLen, BYTE *pOut, int iOutBufLen) override;
    SSL *GetSSL() override { return m_pSSL; }
    SSL_CTX *GetSSLCtx() override { return m_pSelfCtx; }

private:
    void Construct(int bServerLink, int bDTLS);
    int GeneralRSAKey(int iBits, BYTE *pPub, int *pPubLen, BYTE *pPri, int *pPriLen, bool b2048);
    int DecryptByPrivateKey(int iInputLen, const BYTE *pInput, BYTE *pOut, const BYTE *pPri, int iPriLen,
                            bool b2048);
    int ComputeShareKey(int iCurve, BYTE *pSecret, int *pSecretLen, const BYTE *pPri, int iPriLen,
                        const BYTE *pPeer, int iPeerLen, bool bDerPeer);
    int PBKDF2(const char *pPass, int iPassLen, const BYTE *pSalt, int iSaltLen, int iIter, int iKeyLen, BYTE *pOut,
               const EVP_MD *pMd);

    int m_bServer;
    SSL_CTX *m_pSelfCtx;
    SSLCtxRecord *m_pCtxRecord;
    SSL *m_pSSL;
    BYTE m_byRes[128];
    BYTE *m_pDataBuf;
    DWORD m_dwDataBufLen;
    DWORD m_dwDataHeld;
    int m_iSocket;
    int m_iUnused;
    BIO *m_pReadBio;
    BIO *m_pWriteBio;
    int m_bDTLS;

    static std::atomic<int> s_bLoaded;
    static void *s_hEAYCom;
    static void *s_hSSLCom;
    static int s_bLibInit;
    static YAR_MUTEX_T *s_pMutexA;
    static int s_iLockCount;
    static SSLCtxRecord s_Ctx[3];
    static std::atomic<int> s_bGM;  // also written by the controller's shared instance
};

// Kinds of the shared contexts.
enum { SSL_CTX_KIND_CLIENT = 0, SSL_CTX_KIND_TLS_SERVER = 1, SSL_CTX_KIND_DTLS_SERVER = 2 };

CSSLTrans *Interim_CreateSSLTransEx(DWORD dwSSLVersion);
CSSLTrans *Interim_CreateSSLServerEx(DWORD dwSSLVersion, int bDTLS);
CSSLTrans *Interim_CreateSSLServerGMEx(DWORD dwSSLVersion, int bDTLS);
void Interim_DestroySSLTrans(CSSLTransInterface *pInstance);
CSSLTrans *Interim_GetCryptionIns();
int Interim_UnloadSSLLib();

// The same for callers of the core library: null (or nothing done) while it is not initialised.
CSSLTrans *Morva_CreateSSLTrans();
CSSLTrans *Morva_CreateSSLTransEx(DWORD dwSSLVersion);
CSSLTrans *Morva_CreateSSLServer();
CSSLTrans *Morva_CreateSSLServerEx(DWORD dwSSLVersion);
void Morva_DestroySSLTrans(CSSLTransInterface *pInstance);

}  // namespace Vorezi
