// RSA key pairs from two probable primes whose top two bits are set, so that the modulus has
// exactly the requested length.
#include <cstring>

#include "morva/MorvaRsa.h"

namespace {

using Digit = BIG_DIGIT;
constexpr int kMax = BIG_MAX_DIGITS;

static_assert(sizeof(RsaProtoKey) == 8, "");
static_assert(sizeof(RsaPublicKey) == 258 && offsetof(RsaPublicKey, byModulus) == 2 &&
                  offsetof(RsaPublicKey, byExponent) == 130,
              "public key record layout");
static_assert(sizeof(RsaPrivateKey) == 706 && offsetof(RsaPrivateKey, byPublicExponent) == 130 &&
                  offsetof(RsaPrivateKey, byExponent) == 258 && offsetof(RsaPrivateKey, byPrime) == 386 &&
                  offsetof(RsaPrivateKey, byPrimeExponent) == 514 && offsetof(RsaPrivateKey, byCoefficient) == 642,
              "private key record layout");

// The numbers of one generation, wiped as a whole.
struct KeyNumbers {
    Digit e[kMax], p[kMax], q[kMax], lower[kMax], upper[kMax], step[kMax], one[kMax];
    Digit n[2 * kMax], phi[2 * kMax], pMinus1[kMax], qMinus1[kMax];
    Digit d[kMax], dP[kMax], dQ[kMax], qInv[kMax];
};

// A prime of uBits bits with its top two bits set and gcd(prime - 1, e) = 1.
int GeneratePrime(KeyNumbers &k, Digit *pPrime, const Digit *pAvoid, unsigned uBits, int iDigits,
                  MORVA_RAND_POOL *pPool) {
    // lower = 3 * 2^(bits-2), upper = 2^bits - 1 (2^bits wraps to 0 when it fills the words).
    Big_Assign2Exp(k.lower, uBits - 1, iDigits);
    Big_Assign2Exp(k.upper, uBits - 2, iDigits);
    Big_Add(k.lower, k.lower, k.upper, iDigits);
    Big_Assign2Exp(k.upper, uBits, iDigits);
    Big_Sub(k.upper, k.upper, k.one, iDigits);
    for (;;) {
        const int iResult = Prime_Generate(pPrime, k.lower, k.upper, k.step, iDigits, pPool);
        if (iResult != 0) {
            return iResult;
        }
        // p = q would give a modulus that is a square and reveal its factor.
        if (RSA_ExponentFits(pPrime, iDigits, k.e) && (pAvoid == nullptr || Big_Cmp(pPrime, pAvoid, iDigits) != 0)) {
            return 0;
        }
    }
}

void FillRecords(const KeyNumbers &k, uint32_t dwBits, int iNDigits, int iPDigits, RsaPublicKey *pPublic,
                 RsaPrivateKey *pPrivate) {
    pPublic->wBits = static_cast<uint16_t>(dwBits);
    Big_Encode(pPublic->byModulus, RSA_MAX_MODULUS_LEN, k.n, iNDigits);
    Big_Encode(pPublic->byExponent, RSA_MAX_MODULUS_LEN, k.e, iNDigits);
    pPrivate->wBits = static_cast<uint16_t>(dwBits);
    std::memcpy(pPrivate->byModulus, pPublic->byModulus, RSA_MAX_MODULUS_LEN);
    std::memcpy(pPrivate->byPublicExponent, pPublic->byExponent, RSA_MAX_MODULUS_LEN);
    Big_Encode(pPrivate->byExponent, RSA_MAX_MODULUS_LEN, k.d, iNDigits);
    Big_Encode(pPrivate->byPrime[0], RSA_MAX_PRIME_LEN, k.p, iPDigits);
    Big_Encode(pPrivate->byPrime[1], RSA_MAX_PRIME_LEN, k.q, iPDigits);
    Big_Encode(pPrivate->byPrimeExponent[0], RSA_MAX_PRIME_LEN, k.dP, iPDigits);
    Big_Encode(pPrivate->byPrimeExponent[1], RSA_MAX_PRIME_LEN, k.dQ, iPDigits);
    Big_Encode(pPrivate->byCoefficient, RSA_MAX_PRIME_LEN, k.qInv, iPDigits);
}

int GenerateInto(KeyNumbers &k, RsaPublicKey *pPublic, RsaPrivateKey *pPrivate, const RsaProtoKey *pProto,
                 MORVA_RAND_POOL *pPool) {
    const uint32_t dwBits = pProto->dwBits;
    if (dwBits < RSA_MIN_MODULUS_BITS || dwBits > RSA_MAX_MODULUS_BITS) {
        return RSA_ERR_MODULUS_LEN;
    }
    const int iNDigits = static_cast<int>((dwBits + 31) / 32);
    const unsigned uPBits = (dwBits + 1) / 2;
    const unsigned uQBits = dwBits - uPBits;
    const int iPDigits = static_cast<int>((uPBits + 31) / 32);

    Big_Zero(k.e, kMax);
    k.e[0] = pProto->dwUseF4 ? 65537 : 3;
    Big_Zero(k.one, kMax);
    k.one[0] = 1;
    Big_Zero(k.step, kMax);
    k.step[0] = 2;

    int iResult = GeneratePrime(k, k.p, nullptr, uPBits, iPDigits, pPool);
    if (iResult == 0) iResult = GeneratePrime(k, k.q, k.p, uQBits, iPDigits, pPool);
    if (iResult != 0) {
        return iResult;
    }
    if (Big_Cmp(k.p, k.q, iPDigits) < 0) {
        Digit t[kMax];
        Big_Assign(t, k.p, iPDigits);
        Big_Assign(k.p, k.q, iPDigits);
        Big_Assign(k.q, t, iPDigits);
        std::memset(t, 0, sizeof(t));
    }

    // n = pq, d = e^-1 mod (p-1)(q-1), its residues and q^-1 mod p. Products of two iPDigits
    // numbers take 2 * iPDigits words, which may be one more than iNDigits with a zero top word.
    Big_Mult(k.n, k.p, k.q, iPDigits);
    Big_Sub(k.pMinus1, k.p, k.one, iPDigits);
    Big_Sub(k.qMinus1, k.q, k.one, iPDigits);
    Big_Mult(k.phi, k.pMinus1, k.qMinus1, iPDigits);
    Big_ModInv(k.d, k.e, k.phi, iNDigits);
    Big_Mod(k.dP, k.d, iNDigits, k.pMinus1, iPDigits);
    Big_Mod(k.dQ, k.d, iNDigits, k.qMinus1, iPDigits);
    Big_ModInv(k.qInv, k.q, k.p, iPDigits);

    FillRecords(k, dwBits, iNDigits, iPDigits, pPublic, pPrivate);
    return 0;
}

}  // namespace

extern "C" {

int RSA_GenerateKeys(RsaPublicKey *pPublicKey, RsaPrivateKey *pPrivateKey, const RsaProtoKey *pProtoKey,
                     MORVA_RAND_POOL *pPool) {
    if (pPublicKey == nullptr || pPrivateKey == nullptr || pProtoKey == nullptr || pPool == nullptr) {
        return -1;
    }
    KeyNumbers k;
    std::memset(&k, 0, sizeof(k));
    const int iResult = GenerateInto(k, pPublicKey, pPrivateKey, pProtoKey, pPool);
    std::memset(&k, 0, sizeof(k));
    return iResult;
}

int RSA_GenerateKeyPair(RsaPublicKey *pPublicKey, RsaPrivateKey *pPrivateKey, const RsaProtoKey *pProtoKey) {
    // A pool per call rather than one for the module: concurrent generations then share nothing.
    MORVA_RAND_POOL pool;
    if (Rand_Init(&pool) != 0 || Rand_Create(&pool) != 0) {
        return -1;
    }
    const int iResult = RSA_GenerateKeys(pPublicKey, pPrivateKey, pProtoKey, &pool);
    Rand_Final(&pool);
    return iResult == 0 ? 0 : -1;
}

}  // extern "C"
