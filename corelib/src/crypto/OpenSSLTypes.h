// OpenSSL's types as the bound table sees them: opaque records under OpenSSL's own struct tags
// (so a unit that also includes OpenSSL's headers sees the same types), and the callback shapes.
// OpenSSL's headers are never included here: several bound names are macros there.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct bio_st;
struct bio_method_st;
struct bio_addr_st;
struct x509_st;
struct x509_store_st;
struct x509_store_ctx_st;
struct X509_name_st;
struct asn1_string_st;
struct evp_md_st;
struct evp_md_ctx_st;
struct evp_cipher_st;
struct evp_cipher_ctx_st;
struct evp_pkey_st;
struct engine_st;
struct bignum_st;
struct bignum_ctx;
struct bn_gencb_st;
struct rsa_st;
struct ec_key_st;
struct ec_group_st;
struct ec_point_st;
struct PKCS12_st;
struct stack_st_X509;

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_method_st SSL_METHOD;
typedef struct bio_st BIO;
typedef struct bio_method_st BIO_METHOD;
typedef struct bio_addr_st BIO_ADDR;
typedef struct x509_st X509;
typedef struct x509_store_st X509_STORE;
typedef struct x509_store_ctx_st X509_STORE_CTX;
typedef struct X509_name_st X509_NAME;
typedef struct asn1_string_st ASN1_TIME;
typedef struct asn1_string_st ASN1_OCTET_STRING;
typedef struct evp_md_st EVP_MD;
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_cipher_st EVP_CIPHER;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct engine_st ENGINE;
typedef struct bignum_st BIGNUM;
typedef struct bignum_ctx BN_CTX;
typedef struct bn_gencb_st BN_GENCB;
typedef struct rsa_st RSA;
typedef struct ec_key_st EC_KEY;
typedef struct ec_group_st EC_GROUP;
typedef struct ec_point_st EC_POINT;
typedef struct PKCS12_st PKCS12;
}

namespace Vorezi {

// BN_ULONG on LP64.
typedef unsigned long OSSL_BN_ULONG;

typedef int (*OSSL_VERIFY_CB)(int iPreverifyOk, X509_STORE_CTX *pCtx);
typedef int (*OSSL_ALPN_SELECT_CB)(SSL *pSSL, const unsigned char **ppOut, unsigned char *pOutLen,
                                   const unsigned char *pIn, unsigned int uInLen, void *pArg);
typedef int (*OSSL_COOKIE_GENERATE_CB)(SSL *pSSL, unsigned char *pCookie, unsigned int *pCookieLen);
typedef int (*OSSL_COOKIE_VERIFY_CB)(SSL *pSSL, const unsigned char *pCookie, unsigned int uCookieLen);
typedef void (*OSSL_LOCKING_CB)(int iMode, int n, const char *pFile, int iLine);
typedef unsigned long (*OSSL_ID_CB)(void);
typedef void *(*OSSL_ECDH_KDF)(const void *pIn, size_t uInLen, void *pOut, size_t *pOutLen);
// The entries of a BIO method.
typedef int (*OSSL_BIO_WRITE_FN)(BIO *pBio, const char *pData, int iLen);
typedef int (*OSSL_BIO_READ_FN)(BIO *pBio, char *pBuf, int iLen);
typedef long (*OSSL_BIO_CTRL_FN)(BIO *pBio, int iCmd, long lArg, void *pArg);
typedef int (*OSSL_BIO_LIFE_FN)(BIO *pBio);

// Storage of OpenSSL's AES_KEY (60 round-key words and the round count).
struct OSSL_AES_KEY {
    uint32_t rd_key[60];
    int rounds;
};

// OpenSSL's constants that the core library passes.
enum {
    OSSL_NID_X9_62_PRIME256V1 = 415,
    OSSL_NID_SECP384R1 = 715,
    OSSL_NID_SM2 = 1172,
    OSSL_POINT_CONVERSION_UNCOMPRESSED = 4,
    OSSL_RSA_PKCS1_PADDING = 1,
    OSSL_AES_ENCRYPT = 1,
    OSSL_AES_DECRYPT = 0,
    OSSL_EVP_CTRL_AEAD_SET_IVLEN = 0x9,
    OSSL_EVP_CTRL_AEAD_GET_TAG = 0x10,
    OSSL_EVP_CTRL_AEAD_SET_TAG = 0x11,
    OSSL_SSL_CTRL_OPTIONS = 32,
    OSSL_SSL_OP_CIPHER_SERVER_PREFERENCE = 0x400000,
    OSSL_SSL_CTRL_MODE = 33,
    OSSL_SSL_MODE_AUTO_RETRY = 4,
    OSSL_BIO_TYPE_SOCKET = 0x0505,
    OSSL_BIO_NOCLOSE = 0,
    OSSL_BIO_C_SET_FD = 104,
    OSSL_BIO_C_GET_FD = 105,
    OSSL_BIO_FLAGS_WRITE = 0x02,
    OSSL_BIO_FLAGS_RWS = 0x07,
    OSSL_BIO_FLAGS_SHOULD_RETRY = 0x08,
};

}  // namespace Vorezi
