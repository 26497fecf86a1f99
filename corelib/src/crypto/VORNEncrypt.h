// The core library's crypt object: an RSA-1024 and an RSA-2048 pair, an AES key and IV and an
// SM2 pair kept per object, with the operations over them. The work itself is done by a
// CSSLTrans: a fresh instance per call for RSA and SM2, the shared one for AES and SM4.
#pragma once

#include "morva/MorvaCrypto.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

constexpr int VORN_RSA1024_KEY_FIELD = 1024;
constexpr int VORN_RSA2048_KEY_FIELD = 2048;
constexpr int VORN_AES_KEY_FIELD = 32;
constexpr int VORN_AES_IV_FIELD = 16;
constexpr int VORN_SM2_PRI_FIELD = 32;
constexpr int VORN_SM2_PUB_FIELD = 65;

class CVornCryptInterface {
public:
    virtual ~CVornCryptInterface() = default;
    virtual int GeneratePublicKey(BYTE *pKey, int *pKeyLen) = 0;
    virtual int GeneratePublicKey2048(BYTE *pKey, int *pKeyLen) = 0;
    virtual int DecryptByPrivateKey(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) = 0;
    virtual int DecryptByPrivateKey2048(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) = 0;
    virtual int SetPrivateKey(const BYTE *pKey, int iKeyLen) = 0;
    virtual int GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) = 0;
    virtual int GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) = 0;
    virtual int GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) = 0;
    virtual int SetAesCbcKey(const BYTE *pKey, int iKeyLen) = 0;
    virtual int SetAesCbcIv(const BYTE *pIv, int iIvLen) = 0;
    virtual int AesCbcEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) = 0;
    virtual int AesCbcDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) = 0;
    virtual int AesEcbEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) = 0;
    virtual int AesEcbDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) = 0;
    virtual int SM2(MORVA_SM2_PARAM *lpSM2Param, int bEncrypt) = 0;
    virtual int GenerateSM2PublicKey(BYTE *pKey, int *pKeyLen) = 0;
    virtual int DecryptBySM2PrivateKey(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf,
                                       int iOutputBufLen) = 0;
    virtual int SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) = 0;
};

class CVORNEncrypt : public CVornCryptInterface {
public:
    CVORNEncrypt();
    ~CVORNEncrypt() override;
    CVORNEncrypt(const CVORNEncrypt &) = delete;
    CVORNEncrypt &operator=(const CVORNEncrypt &) = delete;

    int GeneratePublicKey(BYTE *pKey, int *pKeyLen) override;
    int GeneratePublicKey2048(BYTE *pKey, int *pKeyLen) override;
    int DecryptByPrivateKey(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) override;
    int DecryptByPrivateKey2048(int iInputBufLen, const BYTE *pInputBuf, BYTE *pOutputBuf) override;
    // 0 and nothing changed for a key that does not fit the 1024-byte field.
    int SetPrivateKey(const BYTE *pKey, int iKeyLen) override;
    int GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) override;
    int GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) override;
    int GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen) override;
    // 0 and the previous key or IV kept when refused.
    int SetAesCbcKey(const BYTE *pKey, int iKeyLen) override;
    int SetAesCbcIv(const BYTE *pIv, int iIvLen) override;
    // The output holds the input rounded up to 16 bytes; decryption needs whole blocks.
    int AesCbcEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) override;
    int AesCbcDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) override;
    int AesEcbEncrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) override;
    int AesEcbDecrypt(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) override;
    int SM2(MORVA_SM2_PARAM *lpSM2Param, int bEncrypt) override;
    int GenerateSM2PublicKey(BYTE *pKey, int *pKeyLen) override;
    int DecryptBySM2PrivateKey(const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen) override;
    int SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt) override;

    // A block aligned to iAlign (a power of two), released with AlignFree.
    static void *AlignMalloc(int iSize, int iAlign);
    static void AlignFree(void *pBlock);

private:
    // A fresh RSA-1024 or RSA-2048 pair into the given buffers, with a copy kept in the object.
    int GenerateKeptPair(bool b2048, const char *pName, BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey,
                         int *pPriKeyLen);
    int GeneratePublicOnly(bool b2048, const char *pName, BYTE *pKey, int *pKeyLen);
    enum AesOp { AES_CBC_ENCRYPT, AES_CBC_DECRYPT, AES_ECB_ENCRYPT, AES_ECB_DECRYPT };
    int RunAes(AesOp eOp, const BYTE *pInputBuf, int iInputBufLen, BYTE *pOutputBuf, int iOutputBufLen);

    BYTE m_byPriKey1024[VORN_RSA1024_KEY_FIELD];
    BYTE m_byPubKey1024[VORN_RSA1024_KEY_FIELD];
    int m_iPriKeyLen1024;
    int m_iPubKeyLen1024;
    BYTE m_byAesKey[VORN_AES_KEY_FIELD];
    int m_iAesKeyLen;
    BYTE m_byAesIv[VORN_AES_IV_FIELD];
    int m_iAesIvLen;
    BYTE m_byPriKey2048[VORN_RSA2048_KEY_FIELD];
    BYTE m_byPubKey2048[VORN_RSA2048_KEY_FIELD];
    int m_iPriKeyLen2048;
    int m_iPubKeyLen2048;
    BYTE m_bySM2PriKey[VORN_SM2_PRI_FIELD];
    BYTE m_bySM2PubKey[VORN_SM2_PUB_FIELD];
    int m_iSM2PriKeyLen;
    int m_iSM2PubKeyLen;
};

}  // namespace Vorezi
