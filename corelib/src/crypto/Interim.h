// Entry points of the crypto layer behind the flat interface. Results are 1 or 0 unless said
// otherwise.
#pragma once

#include "morva/MorvaCrypto.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

class CVornCryptInterface;

CVornCryptInterface *Interim_CreateVORNEncrypt();
void Interim_DestroyVORNEncrypt(CVornCryptInterface *pEncrypt);
int Interim_GeneratePublicKey(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen);
int Interim_GeneratePublicKey2048(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen);
int Interim_DecryptByPrivateKey(CVornCryptInterface *pInterface, int iInputBufLen, const BYTE *pInputBuf,
                                BYTE *pOutputBuf);
int Interim_DecryptByPrivateKey2048(CVornCryptInterface *pInterface, int iInputBufLen, const BYTE *pInputBuf,
                                    BYTE *pOutputBuf);
// The AES entries fail when the record's key (or, for CBC, its IV) is refused.
int Interim_EncryptByAesCbc(MORVA_AES_PARAM *lpAesParam);
int Interim_DecryptByAesCbc(MORVA_AES_PARAM *lpAesParam);
int Interim_EncryptByAesEcb(MORVA_AES_PARAM *lpAesParam);
int Interim_DecryptByAesEcb(MORVA_AES_PARAM *lpAesParam);
int Interim_GenerateRSAKey(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
int Interim_GenerateRSAKey2048(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
int Interim_DecryptByPrivateKeyEx(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, int iInputBufLen,
                                  BYTE *pOutputBuf, int *pOutputBufLen);
int Interim_DecryptByPrivateKeyEx2048(const BYTE *pPriKey, int iPriKeyLen, const BYTE *pInputBuf, int iInputBufLen,
                                      BYTE *pOutputBuf, int *pOutputBufLen);
int Interim_GenerateECDHKey(int iCurveType, MORVA_ECDH_KEY *pECDHKey);
int Interim_GenerateSM2Key(BYTE *pPubKey, int *pPubKeyLen, BYTE *pPriKey, int *pPriKeyLen);
int Interim_GenerateSM2PublicKey(CVornCryptInterface *pInterface, BYTE *pKey, int *pKeyLen);
// The plain length, -1 when the decryption failed, 0 for bad arguments.
int Interim_DecryptBySM2PrivateKey(CVornCryptInterface *pInterface, const BYTE *pInputBuf, int iInputBufLen,
                                   BYTE *pOutputBuf, int iOutBufLen);
int Interim_SM2(MORVA_SM2_PARAM *lpSM2Param, int bEncrypt);
int Interim_SM4(MORVA_SM4_PARAM *lpSM4Param, int bEncrypt);

// zlib's CRC-32 through the controller's binding; 0 without zlib or without its crc32.
int Interim_CRC32(DWORD dwCrc, const BYTE *pBuf, DWORD dwLen, DWORD *pResult);

// BER SEQUENCE of indefinite length around one DER OCTET STRING: the output length, or -1.
int ASN1_Encode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);
int ASN1_Decode(const BYTE *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);

}  // namespace Vorezi
