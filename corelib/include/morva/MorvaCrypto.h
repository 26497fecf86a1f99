/* Flat interface of the core library's crypto layer: crypt objects with their RSA, AES, SM2 and
 * SM4 operations, the cached RSA and ECDH keys, digests on the shared crypto object and the
 * ASN.1 OCTET STRING wrapper. Results are 1 or 0 unless said otherwise. */
#ifndef MORVA_CRYPTO_H
#define MORVA_CRYPTO_H

#include "morva/MorvaTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Curve ids of the ECDH keys. */
enum { TYPE_SECP_256_R1 = 2, TYPE_SECP_384_R1 = 3, TYPE_SECP_SM2 = 16 };

/* The records hold pointers, so their sizes are the native ones. pInterface is a crypt object
 * of Morva_CreateVORNEncrypt. The caller owns the record and every buffer. */
typedef struct MORVA_AES_PARAM {
    void *pInterface;
    BYTE *pInputBuf;
    int iInputBufLen;
    BYTE *pOutputBuf;
    int iOutputBufLen; /* capacity: at least the input rounded up to 16 bytes */
    BYTE *pKey;
    int iKeyLen;
    BYTE *pIv; /* CBC only */
    int iIvLen;
} MORVA_AES_PARAM;

typedef struct MORVA_SM2_PARAM {
    void *pInterface;
    BYTE *pInputBuf;
    int iInputBufLen;
    BYTE *pOutputBuf;
    int iOutputBufLen; /* capacity in, result length out */
    BYTE *pKey;
    int iKeyLen;
} MORVA_SM2_PARAM;

typedef struct MORVA_SM4_PARAM {
    void *pInterface;
    BYTE *pInputBuf;
    int iInputBufLen;
    BYTE *pOutputBuf;
    int iOutputBufLen;
    BYTE *pKey;
    int iKeyLen;
    BYTE *pIv;
    int iIvLen;
    int iRes[2];
    int iMode; /* mode 1 needs no IV */
} MORVA_SM4_PARAM;

typedef struct MORVA_ECDH_KEY {
    BYTE *pPriKeyBuf;
    BYTE *pPubKeyBuf;
    int iPriKeyBufSize;
    int iPubKeyBufSize;
    int iPriKeyLen;
    int iPubKeyLen;
    int KeyType; /* P-256: 1 DER public key, else the point; SM2: 4 the point, 5 the second form */
} MORVA_ECDH_KEY;

/* Crypt objects. */
void *Morva_CreateVORNEncrypt(void);
void Morva_DestroyVORNEncrypt(void *pEncrypt);
int Morva_EncryptByAesCbc(MORVA_AES_PARAM *lpAesParam);
int Morva_DecryptByAesCbc(MORVA_AES_PARAM *lpAesParam);
int Morva_EncryptByAesEcb(MORVA_AES_PARAM *lpAesParam);
int Morva_DecryptByAesEcb(MORVA_AES_PARAM *lpAesParam);
/* A fresh RSA-1024 (2048) pair kept by the object; its DER public key is written to pKey. When
 * *pKeyLen is positive on entry it is the capacity of pKey. */
int Morva_GeneratePublicKey(void *pEncrypt, BYTE *pKey, int *pKeyLen);
int Morva_GeneratePublicKey2048(void *pEncrypt, BYTE *pKey, int *pKeyLen);
/* PKCS#1 v1.5 decryption with the object's private key; pOutputBuf holds the key size (128 or
 * 256 bytes). */
int Morva_DecryptByPrivateKey(void *pEncrypt, int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf);
int Morva_DecryptByPrivateKey2048(void *pEncrypt, int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf);
/* The cached pairs of the key cache (renewed every 60 s): public buffers of 256 (512) bytes,
 * private buffers of 1024 (2048) bytes. */
int Morva_GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
int Morva_GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
/* Decryption with a caller's DER private key into an output of the key size (128 or 256 bytes);
 * pOutputBufLen must be given but is not written. */
int Morva_DecryptByPrivateKeyEx(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int *pOutputBufLen,
                                const BYTE *pPriKey, int iPriKeyLen);
int Morva_DecryptByPrivateKeyEx2048(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int *pOutputBufLen,
                                    const BYTE *pPriKey, int iPriKeyLen);
int Morva_GenerateECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey);
int Morva_GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
int Morva_GenerateSM2PublicKey(void *pEncrypt, BYTE *pKey, int *pKeyLen);
int Morva_EncryptBySM2(MORVA_SM2_PARAM *lpSM2Param);
int Morva_DecryptBySM2(MORVA_SM2_PARAM *lpSM2Param);
/* The plain length, -1 when the decryption failed, 0 for bad arguments. */
int Morva_DecryptBySM2PrivateKey(void *pEncrypt, const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf,
                                 int iOutBufLen);
int Morva_EncryptBySM4(MORVA_SM4_PARAM *lpSM4Param);
int Morva_DecryptBySM4(MORVA_SM4_PARAM *lpSM4Param);
/* BER SEQUENCE (indefinite length) around one OCTET STRING; the output length, or -1. */
int Morva_ASN1_Encode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);
int Morva_ASN1_Decode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);

/* Digests on the shared crypto object. */
void Morva_MD5(const BYTE *pData, int iLen, char *pOutput /* 32 characters */, int bUpperCase);
int Morva_StrSHA256(const BYTE *pData, int iLen, BYTE *pOutput /* 32 bytes */);
int Morva_SM3_Original(const BYTE *pData, int iLen, BYTE *pOutput /* 32 bytes */);
int Morva_SM3(const BYTE *pData, int iLen, char *pOutput /* 64 characters and a zero */);
/* With bSkip set the result is 1 without computing. */
int Morva_HMAC_SHA256(const BYTE *pKey, int iKeyLen, const BYTE *pData, int iDataLen, BYTE *pOutput /* 32 */,
                      int bSkip);
int Morva_HMAC_MD5_Encrypt(const BYTE *pData, int iDataLen, const BYTE *pKey, int iKeyLen, BYTE *pOutput /* 16 */);
int Morva_CHACHA20(BYTE *pOutput, int *pOutputLen, const BYTE *pInput, int iInputLen, const BYTE *pKey /* 32 */,
                   DWORD dwCounter, const BYTE *pNonce /* 12 */);
/* The shared secret (up to 256 bytes) of the own DER private key and the peer's point, or, for
 * the Ex form, the peer's DER public key. */
int Morva_ECDHComputeShareKey(int iCurveType, BYTE *pSecret, int *pSecretLen, const BYTE *pPriKey, int iPriKeyLen,
                              const BYTE *pPeerKey, int iPeerKeyLen);
int Morva_ECDHComputeShareKeyEx(int iCurveType, BYTE *pSecret, int *pSecretLen, const BYTE *pPriKey, int iPriKeyLen,
                                const BYTE *pPeerKey, int iPeerKeyLen);

#ifdef __cplusplus
}
#endif

#endif
