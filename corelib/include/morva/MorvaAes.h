/* AES-128 in ECB mode over byte buffers, self-contained (no OpenSSL). Every call builds its own
 * tables and key schedule on the stack, so calls from any number of threads need no lock.
 * All entry points give 0 on success and -1 on failure. A null key selects the module's
 * built-in default key. */
#ifndef MORVA_AES_H
#define MORVA_AES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { AES_BLOCK_SIZE_128 = 16, AES_ROUNDS_STANDARD = 10, AES_ROUNDS_REDUCED = 4 };

/* Tables of one call: S-box and inverse, S-box times 2 and 3 (SubBytes with MixColumns), the
 * products by 9, 11, 13 and 14 (InvMixColumns) and the round constants. */
typedef struct AES_CONTEXT {
    uint8_t bySBox[256];
    uint8_t byInvSBox[256];
    uint8_t bySBoxMul2[256];
    uint8_t bySBoxMul3[256];
    uint8_t byMul9[256];
    uint8_t byMul11[256];
    uint8_t byMul13[256];
    uint8_t byMul14[256];
    uint8_t byRcon[11];
} AES_CONTEXT;

/* Pads the input with zeros to a multiple of 16 bytes (an empty input is one block) inside the
 * caller's input buffer, which must hold the padded length and ends up holding the cipher text
 * as well; the cipher text is copied to pOutput and its length stored through pOutLen. */
int AES_EcbEncrypt128(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                      int *pOutLen, const uint8_t *pKey);
int AES_EcbEncrypt4Rounds(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                          int *pOutLen, const uint8_t *pKey);
/* The input length must be a multiple of 16; no padding is removed. */
int AES_EcbDecrypt128(const uint8_t *pInput, int iInputLen, uint8_t *pOutput, int iOutputBufSize, int *pOutLen,
                      const uint8_t *pKey);
int AES_EcbDecrypt4Rounds(const uint8_t *pInput, int iInputLen, uint8_t *pOutput, int iOutputBufSize, int *pOutLen,
                          const uint8_t *pKey);

/* The cores behind the four entry points above, for a round count of 10 or 4. */
int AES_EcbEncrypt(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                   int *pOutLen, const uint8_t *pKey, int iRounds);
int AES_EcbDecrypt(const uint8_t *pInput, int iInputLen, uint8_t *pOutput, int iOutputBufSize, int *pOutLen,
                   const uint8_t *pKey, int iRounds);

void AES_InitTables(AES_CONTEXT *pCtx);
/* pSchedule holds 4 * (iRounds + 1) words. */
void AES_ExpandKey(const AES_CONTEXT *pCtx, const uint8_t *pKey, uint32_t *pSchedule, int iRounds);
void AES_EncryptBlock(const AES_CONTEXT *pCtx, uint8_t *pBlock, const uint32_t *pSchedule, int iRounds);
void AES_DecryptBlock(const AES_CONTEXT *pCtx, const uint8_t *pInput, const uint32_t *pSchedule, uint8_t *pOutput,
                      int iRounds);
void AES_XorBlock(uint8_t *pBlock, const uint8_t *pOther);

#ifdef __cplusplus
}
#endif

#endif
