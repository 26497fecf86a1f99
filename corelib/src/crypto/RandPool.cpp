// The random pool: output blocks are MD5 of the state, the state counts up after each block, and
// seed material is added to the state as MD5 digests.
#include "morva/MorvaRandPool.h"

#include <cstring>
#include <ctime>

#include "morva/MorvaMd5.h"
#include "yar/yar_string.h"

namespace {

static_assert(sizeof(MORVA_RAND_POOL) == 40, "the pool record is 40 bytes");

constexpr uint32_t kStateSize = sizeof(MORVA_RAND_POOL::byState);
// Bytes of the system's random source mixed in by Rand_Create.
constexpr int kSystemSeedWords = 16;

void Md5Of(const uint8_t *pData, uint32_t dwLen, uint8_t *pDigest) {
    MD5_CONTEXT ctx;
    Md5Init(&ctx);
    Md5Update(&ctx, pData, dwLen);
    Md5Final(pDigest, &ctx);
}

// state += MD5(data) as 128-bit big-endian numbers, the last carry dropped.
void AddDigest(MORVA_RAND_POOL *pPool, const uint8_t *pData, uint32_t dwLen) {
    uint8_t byDigest[MD5_DIGEST_SIZE];
    Md5Of(pData, dwLen, byDigest);
    uint32_t dwCarry = 0;
    for (int i = kStateSize - 1; i >= 0; --i) {
        dwCarry += uint32_t(pPool->byState[i]) + byDigest[i];
        pPool->byState[i] = static_cast<uint8_t>(dwCarry);
        dwCarry >>= 8;
    }
    std::memset(byDigest, 0, sizeof(byDigest));
}

void LowerSeedNeeded(MORVA_RAND_POOL *pPool, uint32_t dwLen) {
    pPool->dwSeedNeeded = dwLen < pPool->dwSeedNeeded ? pPool->dwSeedNeeded - dwLen : 0;
}

void AdvanceState(MORVA_RAND_POOL *pPool) {
    for (int i = kStateSize - 1; i >= 0; --i) {
        if (pPool->byState[i]++ != 0) {
            break;
        }
    }
}

// The broken-down UTC time as nine 32-bit fields (the 36-byte record hashed into the pool).
void BrokenDownTime(time_t tNow, int32_t (&iFields)[9]) {
    struct tm tmUtc;
    std::memset(&tmUtc, 0, sizeof(tmUtc));
    gmtime_r(&tNow, &tmUtc);
    const int iValues[9] = {tmUtc.tm_sec,  tmUtc.tm_min,  tmUtc.tm_hour, tmUtc.tm_mday, tmUtc.tm_mon,
                            tmUtc.tm_year, tmUtc.tm_wday, tmUtc.tm_yday, tmUtc.tm_isdst};
    for (int i = 0; i < 9; ++i) {
        iFields[i] = iValues[i];
    }
}

int ResetPool(MORVA_RAND_POOL *pPool, uint32_t dwSeedNeeded) {
    if (pPool == nullptr) {
        return -1;
    }
    std::memset(pPool->byState, 0, kStateSize);
    pPool->dwOutputLeft = 0;
    pPool->dwSeedNeeded = dwSeedNeeded;
    return 0;
}

}  // namespace

extern "C" {

int Rand_Init(MORVA_RAND_POOL *pPool) {
    return ResetPool(pPool, RAND_POOL_UPDATE_SEED);
}

int Rand_Create(MORVA_RAND_POOL *pPool) {
    if (ResetPool(pPool, RAND_POOL_CREATE_SEED) != 0) {
        return -1;
    }
    int32_t iTime[9];
    while (pPool->dwSeedNeeded != 0) {
        BrokenDownTime(std::time(nullptr), iTime);
        const uint32_t dwClock = static_cast<uint32_t>(std::clock());
        AddDigest(pPool, reinterpret_cast<const uint8_t *>(iTime), sizeof(iTime));
        LowerSeedNeeded(pPool, sizeof(iTime));
        Rand_Update(pPool, reinterpret_cast<const uint8_t *>(&dwClock), sizeof(dwClock));
    }
    std::memset(iTime, 0, sizeof(iTime));
    // The clock alone is guessable to within a few bits; keys drawn from the pool need the
    // system's random source as well.
    uint32_t dwSystem[kSystemSeedWords];
    for (uint32_t &dw : dwSystem) {
        dw = YAR_Rand();
    }
    AddDigest(pPool, reinterpret_cast<const uint8_t *>(dwSystem), sizeof(dwSystem));
    std::memset(dwSystem, 0, sizeof(dwSystem));
    return 0;
}

int Rand_Update(MORVA_RAND_POOL *pPool, const uint8_t *pData, uint32_t dwLen) {
    if (pPool == nullptr || (pData == nullptr && dwLen != 0)) {
        return -1;
    }
    AddDigest(pPool, pData, dwLen);
    LowerSeedNeeded(pPool, dwLen);
    return 0;
}

int Rand_GetSeedNeeded(int32_t *pSeedNeeded, const MORVA_RAND_POOL *pPool) {
    if (pSeedNeeded == nullptr || pPool == nullptr) {
        return -1;
    }
    *pSeedNeeded = static_cast<int32_t>(pPool->dwSeedNeeded);
    return 0;
}

int Rand_Generate(uint8_t *pOutput, uint32_t dwLen, MORVA_RAND_POOL *pPool) {
    if (pPool == nullptr || (pOutput == nullptr && dwLen != 0)) {
        return -1;
    }
    if (pPool->dwSeedNeeded != 0) {
        return RAND_ERR_NEED_SEED;
    }
    if (dwLen == 0) {
        return 0;
    }
    // A record whose count was damaged must not make us read outside byOutput.
    uint32_t dwLeft = pPool->dwOutputLeft <= kStateSize ? pPool->dwOutputLeft : 0;
    while (dwLen > dwLeft) {
        std::memcpy(pOutput, pPool->byOutput + kStateSize - dwLeft, dwLeft);
        pOutput += dwLeft;
        dwLen -= dwLeft;
        Md5Of(pPool->byState, kStateSize, pPool->byOutput);
        AdvanceState(pPool);
        dwLeft = kStateSize;
    }
    std::memcpy(pOutput, pPool->byOutput + kStateSize - dwLeft, dwLen);
    pPool->dwOutputLeft = dwLeft - dwLen;
    return 0;
}

void Rand_Mix(MORVA_RAND_POOL *pPool) {
    if (pPool == nullptr) {
        return;
    }
    const uint8_t byClock = static_cast<uint8_t>(std::clock());
    const uint8_t byTime = static_cast<uint8_t>(std::time(nullptr));
    for (uint32_t i = 0; i < kStateSize; ++i) {
        pPool->byState[i] ^= byClock;
        pPool->byState[kStateSize - 1 - i] ^= byTime;
    }
    Md5Of(pPool->byState, kStateSize, pPool->byOutput);
    pPool->dwOutputLeft = kStateSize;
}

void Rand_Final(MORVA_RAND_POOL *pPool) {
    if (pPool != nullptr) {
        std::memset(pPool, 0, sizeof(*pPool));
    }
}

}  // extern "C"
