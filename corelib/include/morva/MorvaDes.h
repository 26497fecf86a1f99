/* A 128-bit block cipher built from DES (FIPS 46-3), self-contained (no OpenSSL). Each 16-byte
 * block is two DES blocks taken through encrypt-decrypt-encrypt under the key halves K1, K2, K1,
 * with one word of each half exchanged between the passes so the halves depend on each other.
 * ECB over byte buffers with zero padding, like the module's AES. All entry points give 0 on
 * success and -1 on failure; every call builds its own context on the stack. */
#ifndef MORVA_DES_H
#define MORVA_DES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Named apart from OpenSSL's DES_ENCRYPT and DES_DECRYPT, whose values are the other way round. */
enum { DES3_BLOCK_SIZE = 16, DES_SCHEDULE_WORDS = 32, DES_DIR_ENCRYPT = 0, DES_DIR_DECRYPT = 1 };

/* The DES tables of one call (PC-1, rotation totals, PC-2, bit masks, the S-boxes merged with P
 * into eight SP tables) and the three schedules of one 128-bit key. */
typedef struct DES3_CONTEXT {
    uint8_t byPC1[56];
    uint8_t byTotalRotations[16];
    uint8_t byPC2[48];
    uint8_t byByteBit[8];
    uint32_t dwBigByte[24];
    uint32_t dwSP[8][64];
    uint32_t dwSchedule[3][DES_SCHEDULE_WORDS];
} DES3_CONTEXT;

/* The encryption entries pad the input with zeros to a multiple of 16 bytes (an empty input is
 * one block) inside the caller's input buffer, which must hold the padded length. */
int DES3_Encrypt(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                 int *pOutLen, const uint8_t *pKey);
/* With the module's stored key. */
int DES3_EncryptStored(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                       int *pOutLen);
/* With the first built-in key. */
int DES3_EncryptBuiltIn(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                        int *pOutLen);
/* With the second built-in key; the input length must be a multiple of 16, no padding is removed. */
int DES3_DecryptBuiltIn(const uint8_t *pInput, int iInputLen, uint8_t *pOutput, int iOutputBufSize, int *pOutLen);

void DES3_InitContext(DES3_CONTEXT *pCtx);
/* Builds the three schedules of a 16-byte key for DES_DIR_ENCRYPT or DES_DIR_DECRYPT. */
void DES3_SetKey(DES3_CONTEXT *pCtx, const uint8_t *pKey, int iDirection);
/* One DES schedule of an 8-byte key (parity bits ignored) into DES_SCHEDULE_WORDS words. */
void DES_KeySchedule(const DES3_CONTEXT *pCtx, const uint8_t *pKey, int iDirection, uint32_t *pSchedule);
/* One DES pass over a block held as two words. */
void DES_Transform(const DES3_CONTEXT *pCtx, uint32_t *pWords, const uint32_t *pSchedule);
void DES3_TransformBlock(const DES3_CONTEXT *pCtx, const uint8_t *pInput, uint8_t *pOutput);

void DES_LoadWords(const uint8_t *pBytes, uint32_t *pWords);
void DES_StoreWords(const uint32_t *pWords, uint8_t *pBytes);
void DES_CopySchedule(uint32_t *pTarget, const uint32_t *pSource);

#ifdef __cplusplus
}
#endif

#endif
