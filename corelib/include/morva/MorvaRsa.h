/* RSA key-pair generation of the self-contained crypto module (no OpenSSL): moduli of 508 to 1024
 * bits, public exponent 3 or 65537, keys delivered as fixed-size records of big-endian numbers
 * right-aligned in their fields. */
#ifndef MORVA_RSA_H
#define MORVA_RSA_H

#include <stdint.h>

#include "morva/MorvaBigNum.h"
#include "morva/MorvaRandPool.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    RSA_MIN_MODULUS_BITS = 508,
    RSA_MAX_MODULUS_BITS = 1024,
    RSA_MAX_MODULUS_LEN = 128,
    RSA_MAX_PRIME_LEN = 64,
    RSA_ERR_NO_PRIME = 0x401,
    RSA_ERR_MODULUS_LEN = 0x407
};

typedef struct RsaProtoKey {
    uint32_t dwBits;  /* modulus length in bits */
    uint32_t dwUseF4; /* non-zero: e = 65537, zero: e = 3 */
} RsaProtoKey;

typedef struct RsaPublicKey {
    uint16_t wBits;
    uint8_t byModulus[RSA_MAX_MODULUS_LEN];
    uint8_t byExponent[RSA_MAX_MODULUS_LEN];
} RsaPublicKey;

typedef struct RsaPrivateKey {
    uint16_t wBits;
    uint8_t byModulus[RSA_MAX_MODULUS_LEN];
    uint8_t byPublicExponent[RSA_MAX_MODULUS_LEN];
    uint8_t byExponent[RSA_MAX_MODULUS_LEN];        /* d */
    uint8_t byPrime[2][RSA_MAX_PRIME_LEN];          /* p > q */
    uint8_t byPrimeExponent[2][RSA_MAX_PRIME_LEN];  /* d mod (p - 1), d mod (q - 1) */
    uint8_t byCoefficient[RSA_MAX_PRIME_LEN];       /* q^-1 mod p */
} RsaPrivateKey;

/* Seeds a pool of its own from the clock and the system's random source and generates a pair.
 * 0, or -1 on any error; the records are written only on success. */
int RSA_GenerateKeyPair(RsaPublicKey *pPublicKey, RsaPrivateKey *pPrivateKey, const RsaProtoKey *pProtoKey);
/* 0, RSA_ERR_MODULUS_LEN, RSA_ERR_NO_PRIME, the pool's RAND_ERR_NEED_SEED, or -1 for null records. */
int RSA_GenerateKeys(RsaPublicKey *pPublicKey, RsaPrivateKey *pPrivateKey, const RsaProtoKey *pProtoKey,
                     MORVA_RAND_POOL *pPool);

/* A probable prime a in [lower, upper] with a = 1 mod step, starting from random words of the pool.
 * 0, RSA_ERR_NO_PRIME, the pool's error, or -1 for a word count out of range. */
int Prime_Generate(BIG_DIGIT *a, const BIG_DIGIT *pLower, const BIG_DIGIT *pUpper, const BIG_DIGIT *pStep,
                   int iDigits, MORVA_RAND_POOL *pPool);
/* 1 when a passes trial division by the odd primes below 8192 and the Fermat test to base 2. */
int Prime_IsProbable(const BIG_DIGIT *a, int iDigits);
/* 1 when gcd(a - 1, e) = 1. */
int RSA_ExponentFits(const BIG_DIGIT *a, int iDigits, const BIG_DIGIT *e);

#ifdef __cplusplus
}
#endif

#endif
