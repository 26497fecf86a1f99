/* MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) of the self-contained crypto module (no OpenSSL). */
#ifndef MORVA_MD5_H
#define MORVA_MD5_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { MD5_DIGEST_SIZE = 16, MD5_BLOCK_SIZE = 64, HMAC_DEFAULT_INNER_PAD = 0x36, HMAC_DEFAULT_OUTER_PAD = 0x5c };

typedef struct MD5_CONTEXT {
    uint32_t dwState[4];
    uint32_t dwBitCount[2]; /* message length in bits, low word first */
    uint8_t byBuffer[MD5_BLOCK_SIZE];
} MD5_CONTEXT;

void Md5Init(MD5_CONTEXT *pCtx);
/* A null context or data pointer changes nothing. */
void Md5Update(MD5_CONTEXT *pCtx, const uint8_t *pData, uint32_t dwLen);
/* Writes the digest and wipes the context. */
void Md5Final(uint8_t *pDigest, MD5_CONTEXT *pCtx);

/* HMAC-MD5 with the module-wide pad bytes (initially 0x36 and 0x5C, i.e. standard HMAC-MD5).
 * 0, or -1 for a null digest, or a null data or key pointer with a non-zero length. */
int HMAC_MD5(const uint8_t *pData, uint32_t dwDataLen, const uint8_t *pKey, uint32_t dwKeyLen, uint8_t *pDigest);
/* The same with the given pad bytes (the low byte of each). */
int HMAC_MD5Pads(const uint8_t *pData, uint32_t dwDataLen, const uint8_t *pKey, uint32_t dwKeyLen, uint8_t *pDigest,
                 uint32_t dwInnerPad, uint32_t dwOuterPad);
/* Changes the pad bytes of every later HMAC_MD5 in the process (the low byte of each). */
void HMAC_SetPads(uint32_t dwInnerPad, uint32_t dwOuterPad);

#ifdef __cplusplus
}
#endif

#endif
