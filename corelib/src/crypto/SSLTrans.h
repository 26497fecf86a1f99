// CSSLTrans: the core library's object for TLS, DTLS and crypto primitives over the run-time
// bound OpenSSL table, with its static part: loading OpenSSL, the lock array of old OpenSSL, and
// the three shared SSL contexts (client, TLS server, DTLS server) with their user counts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "crypto/OpenSSLTypes.h"
#include "morva/MorvaCrypto.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

// Debug category of the TLS lines, and the local configuration item of the CA directory.
constexpr DWORD LOG_CATEGORY_SSL = 10;
constexpr DWORD SDK_LOCAL_CFG_CA_PATH = 20;

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

// The set-up record of Interim_SetSSLClientParam and Interim_SetSSLServerParam; callers pass
// its size.
struct MORVA_SSL_PARAM {
    BYTE byVerifyMode;  // client: 0 none, 1 mutual with files, 2 verify callback; server: 0 none, 1 verify client
    BYTE byCertificateFileType;  // 0 PEM, 1 DER
    BYTE byPrivateKeyFileType;
    const char *pUserCertificateFile;
    const char *pUserPrivateKeyFile;
    const char *pCACertificateFile;
    BYTE byRes[120];
};

// The certificate handed to the user verify callback of local configuration item 20.
struct MORVA_CERT_INFO {
    int32_t iRes;
    char szIssuer[64];  // zero-terminated only when shorter
    char szSubject[64];
    int32_t iNotBefore[6];  // year, month 1-12, day, hour, minute, second (UTC)
    int32_t iNotAfter[6];
    BYTE byRes[1024];
};
static_assert(sizeof(MORVA_CERT_INFO) == 1204, "certificate record layout");

class CSSLTransInterface {
public:
    virtual ~CSSLTransInterface() = default;
    virtual int Reserved() = 0;

    // One session over a socket or a pair of memory BIOs, and the instance's shared context.
    virtual int SSLTrans_new() = 0;
    virtual int SSLTrans_connect(int fdSocket) = 0;
    virtual int SSLTrans_shutdown() = 0;
    virtual int SSLTrans_accept(int fdSocket) = 0;
    virtual int SSLTrans_accept_with_timeout(int fdSocket, int iTimeout) = 0;
    virtual int SSLTrans_SynAccept_with_timeout(int fdSocket, int iTimeout) = 0;
    virtual int SSLTrans_write(const void *pData, int iLen) = 0;
    virtual int SSLTrans_read(void *pBuf, int iSize, int *pbAll) = 0;
    virtual int SSLTrans_connect_with_timeout(int fdSocket, int iTimeout) = 0;
    virtual int SSLTrans_write_with_timeout(int fdSocket, const void *pSendData, int iDataLen, int iTimeout) = 0;
    virtual int SSLTrans_read_with_timeout(int fdSocket, void *pRecvBuf, int iBufLen, int iTimeout) = 0;
    virtual int SSLTrans_read_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize, int *pbMore) = 0;
    virtual int SSLTrans_write_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize) = 0;
    virtual BIO *SSLTrans_BIO_new(const BIO_METHOD *pMethod) = 0;
    virtual const BIO_METHOD *SSLTrans_BIO_s_mem() = 0;
    virtual void SSLTrans_set_bio(SSL *pSSL, BIO *pReadBio, BIO *pWriteBio) = 0;
    virtual int SSLTrans_bio_read(BIO *pBio, void *pBuf, int iLen) = 0;
    virtual int SSLTrans_bio_write(BIO *pBio, const void *pData, int iLen) = 0;
    virtual int SSL_BIO_set_read_write() = 0;
    virtual BIO *SSLTrans_bio_new_dgram(int fdSocket, int iCloseFlag) = 0;
    virtual int SSLTrans_CTX_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) = 0;
    virtual int SSLTrans_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) = 0;
    virtual long SSLTrans_set_tlsext_host_name(const char *pName) = 0;
    virtual void SSLTrans_CTX_set_alpn_select_cb(OSSL_ALPN_SELECT_CB fnCb, void *pArg) = 0;
    virtual int SSLTrans_select_next_proto(unsigned char **ppOut, unsigned char *pOutLen, const unsigned char *pServer,
                                           unsigned int uServerLen, const unsigned char *pClient,
                                           unsigned int uClientLen) = 0;
    virtual void SSLTrans_get0_alpn_selected(const unsigned char **ppData, unsigned int *pLen) = 0;
    virtual int SSLTrans_CTX_use_certificate_file(const char *pFile, int iType) = 0;
    virtual int SSLTrans_CTX_use_PrivateKey_file(const char *pFile, int iType) = 0;
    virtual int SSLTrans_CTX_check_private_key() = 0;
    virtual void SSLTrans_CTX_set_verify(int iMode, OSSL_VERIFY_CB fnCb) = 0;
    virtual int SSLTrans_CTX_load_verify_locations(const char *pFile) = 0;
    virtual long SSLTrans_CTX_ctrl(int iCmd, long lArg, void *pArg) = 0;
    virtual int SSLTrans_set_cipher_list(const char *pList) = 0;
    virtual int SSLTrans_CTX_set_cipher_list(const char *pList) = 0;
    virtual int SSLTrans_NoEffect(void *pArg) = 0;
    virtual int SSLTrans_CTX_set_ecdhparam() = 0;
    virtual void SSLTrans_CTX_set_cookie_generate_cb(OSSL_COOKIE_GENERATE_CB fnCb) = 0;
    virtual void SSLTrans_CTX_set_cookie_verify_cb(OSSL_COOKIE_VERIFY_CB fnCb) = 0;

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
    int IsDTLS() const { return m_bDTLS; }

    int Reserved() override { return 0; }

    int SSLTrans_new() override;
    int SSLTrans_connect(int fdSocket) override;
    int SSLTrans_shutdown() override;
    int SSLTrans_accept(int fdSocket) override;
    int SSLTrans_accept_with_timeout(int fdSocket, int iTimeout) override;
    int SSLTrans_SynAccept_with_timeout(int fdSocket, int iTimeout) override;
    int SSLTrans_write(const void *pData, int iLen) override;
    int SSLTrans_read(void *pBuf, int iSize, int *pbAll) override;
    int SSLTrans_connect_with_timeout(int fdSocket, int iTimeout) override;
    int SSLTrans_write_with_timeout(int fdSocket, const void *pSendData, int iDataLen, int iTimeout) override;
    int SSLTrans_read_with_timeout(int fdSocket, void *pRecvBuf, int iBufLen, int iTimeout) override;
    int SSLTrans_read_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize, int *pbMore) override;
    int SSLTrans_write_with_BIO(const void *pIn, int iInLen, void *pOut, int iOutSize) override;
    // After a read through the memory BIOs gave -1: 1 when the session only waits for more
    // input, 0 when it failed (an alert, a record that does not decrypt).
    int SSLTrans_read_wants_input(int iRet);
    // 1 when the session holds plain text or received bytes it has not decrypted yet, so that a
    // read may give data without new input (bytes left by blocking reads or a paused delivery).
    int SSLTrans_holds_data();
    // 1 once the session runs over the memory BIOs instead of its socket.
    int SSLTrans_uses_BIO() const { return m_pReadBio && m_pWriteBio ? 1 : 0; }
    BIO *SSLTrans_BIO_new(const BIO_METHOD *pMethod) override;
    const BIO_METHOD *SSLTrans_BIO_s_mem() override;
    void SSLTrans_set_bio(SSL *pSSL, BIO *pReadBio, BIO *pWriteBio) override;
    int SSLTrans_bio_read(BIO *pBio, void *pBuf, int iLen) override;
    int SSLTrans_bio_write(BIO *pBio, const void *pData, int iLen) override;
    int SSL_BIO_set_read_write() override;
    BIO *SSLTrans_bio_new_dgram(int fdSocket, int iCloseFlag) override;
    int SSLTrans_CTX_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) override;
    int SSLTrans_set_alpn_protos(const unsigned char *pProtos, unsigned int uLen) override;
    long SSLTrans_set_tlsext_host_name(const char *pName) override;
    void SSLTrans_CTX_set_alpn_select_cb(OSSL_ALPN_SELECT_CB fnCb, void *pArg) override;
    int SSLTrans_select_next_proto(unsigned char **ppOut, unsigned char *pOutLen, const unsigned char *pServer,
                                   unsigned int uServerLen, const unsigned char *pClient,
                                   unsigned int uClientLen) override;
    void SSLTrans_get0_alpn_selected(const unsigned char **ppData, unsigned int *pLen) override;
    int SSLTrans_CTX_use_certificate_file(const char *pFile, int iType) override;
    int SSLTrans_CTX_use_PrivateKey_file(const char *pFile, int iType) override;
    int SSLTrans_CTX_check_private_key() override;
    void SSLTrans_CTX_set_verify(int iMode, OSSL_VERIFY_CB fnCb) override;
    int SSLTrans_CTX_load_verify_locations(const char *pFile) override;
    long SSLTrans_CTX_ctrl(int iCmd, long lArg, void *pArg) override;
    int SSLTrans_set_cipher_list(const char *pList) override;
    int SSLTrans_CTX_set_cipher_list(const char *pList) override;
    int SSLTrans_NoEffect(void * /*pArg*/) override { return 0; }
    int SSLTrans_CTX_set_ecdhparam() override;
    void SSLTrans_CTX_set_cookie_generate_cb(OSSL_COOKIE_GENERATE_CB fnCb) override;
    void SSLTrans_CTX_set_cookie_verify_cb(OSSL_COOKIE_VERIFY_CB fnCb) override;

    // Certificates and keys of a MORVA_SSL_PARAM record (under the SSL library lock).
    int SSLInitClientParam(const MORVA_SSL_PARAM *pSSLParam);
    int SSLInitTLSServerParam(const MORVA_SSL_PARAM *pSSLParam);
    int SSLInitDTLSServerParam(const MORVA_SSL_PARAM *pSSLParam);
    static int VeritifyCallback(int iPreverifyOk, X509_STORE_CTX *pStoreCtx);
    static int64_t Asn1TimeToTime(const ASN1_TIME *pTime);
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
    int NewDataBuf();
    int BindSocket(int fdSocket);
    int AcceptLoop(int fdSocket, int iTimeout, bool bKeepSocket);
    int FillDataBuf();
    int DeliverData(void *pBuf, int iSize, int *pbAll);
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
    std::unique_ptr<BYTE[]> m_pDataBuf;
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
int Interim_SetSSLClientParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen);
int Interim_SetSSLServerParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen);

// The same for callers of the core library: null (or nothing done) while it is not initialised.
CSSLTrans *Morva_CreateSSLTrans();
CSSLTrans *Morva_CreateSSLTransEx(DWORD dwSSLVersion);
CSSLTrans *Morva_CreateSSLServer();
CSSLTrans *Morva_CreateSSLServerEx(DWORD dwSSLVersion);
void Morva_DestroySSLTrans(CSSLTransInterface *pInstance);
int Morva_SetSSLClientParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen);
int Morva_SetSSLServerParam(CSSLTransInterface *pInstance, const MORVA_SSL_PARAM *pSSLParam, DWORD dwDataLen);

}  // namespace Vorezi
