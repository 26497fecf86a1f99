/* The self-contained crypto module's random pool: a 128-bit state advanced by MD5, giving output
 * only once enough seed bytes went in. It feeds the module's RSA key generation. */
#ifndef MORVA_RAND_POOL_H
#define MORVA_RAND_POOL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { RAND_POOL_UPDATE_SEED = 256, RAND_POOL_CREATE_SEED = 512, RAND_ERR_NEED_SEED = 0x408 };

typedef struct MORVA_RAND_POOL {
    uint32_t dwSeedNeeded;  /* seed bytes still missing */
    uint8_t byState[16];    /* a 128-bit big-endian number */
    uint32_t dwOutputLeft;  /* unused bytes at the end of byOutput */
    uint8_t byOutput[16];
} MORVA_RAND_POOL;

/* Empty state; RAND_POOL_UPDATE_SEED bytes of seed are needed. 0, -1 for a null pool. */
int Rand_Init(MORVA_RAND_POOL *pPool);
/* Seeds the pool from the clock and the system's random source; 0, or -1 for a null pool. */
int Rand_Create(MORVA_RAND_POOL *pPool);
/* Adds the MD5 of the data to the state. 0, or -1 for a null pool or data with a non-zero length. */
int Rand_Update(MORVA_RAND_POOL *pPool, const uint8_t *pData, uint32_t dwLen);
int Rand_GetSeedNeeded(int32_t *pSeedNeeded, const MORVA_RAND_POOL *pPool);
/* 0; RAND_ERR_NEED_SEED (nothing written) while seed is missing; -1 for null arguments. */
int Rand_Generate(uint8_t *pOutput, uint32_t dwLen, MORVA_RAND_POOL *pPool);
/* Stirs the clock into the state and starts a fresh output block. */
void Rand_Mix(MORVA_RAND_POOL *pPool);
/* Wipes the whole record. */
void Rand_Final(MORVA_RAND_POOL *pPool);

#ifdef __cplusplus
}
#endif

#endif
