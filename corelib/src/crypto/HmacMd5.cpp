// HMAC-MD5 as in RFC 2104 with a 64-byte block; the pad bytes can be changed process-wide.
#include <atomic>
#include <cstring>

#include "morva/MorvaMd5.h"

namespace {

// Both pad bytes in one word, so an HMAC never pairs an old inner pad with a new outer pad.
std::atomic<uint32_t> g_dwPads{(HMAC_DEFAULT_INNER_PAD << 8) | HMAC_DEFAULT_OUTER_PAD};

}  // namespace

extern "C" {

int HMAC_MD5Pads(const uint8_t *pData, uint32_t dwDataLen, const uint8_t *pKey, uint32_t dwKeyLen, uint8_t *pDigest,
                 uint32_t dwInnerPad, uint32_t dwOuterPad) {
    if (pDigest == nullptr || (pData == nullptr && dwDataLen != 0) || (pKey == nullptr && dwKeyLen != 0)) {
        return -1;
    }
    uint8_t byHashedKey[MD5_DIGEST_SIZE];
    MD5_CONTEXT ctx;
    if (dwKeyLen > MD5_BLOCK_SIZE) {
        Md5Init(&ctx);
        Md5Update(&ctx, pKey, dwKeyLen);
        Md5Final(byHashedKey, &ctx);
        pKey = byHashedKey;
        dwKeyLen = MD5_DIGEST_SIZE;
    }
    uint8_t byInner[MD5_BLOCK_SIZE] = {};
    uint8_t byOuter[MD5_BLOCK_SIZE] = {};
    if (dwKeyLen > 0) {
        std::memcpy(byInner, pKey, dwKeyLen);
        std::memcpy(byOuter, pKey, dwKeyLen);
    }
    for (int i = 0; i < MD5_BLOCK_SIZE; ++i) {
        byInner[i] ^= static_cast<uint8_t>(dwInnerPad);
        byOuter[i] ^= static_cast<uint8_t>(dwOuterPad);
    }
    uint8_t byInnerDigest[MD5_DIGEST_SIZE];
    Md5Init(&ctx);
    Md5Update(&ctx, byInner, MD5_BLOCK_SIZE);
    if (dwDataLen > 0) {
        Md5Update(&ctx, pData, dwDataLen);
    }
    Md5Final(byInnerDigest, &ctx);
    Md5Init(&ctx);
    Md5Update(&ctx, byOuter, MD5_BLOCK_SIZE);
    Md5Update(&ctx, byInnerDigest, MD5_DIGEST_SIZE);
    Md5Final(pDigest, &ctx);
    std::memset(byHashedKey, 0, sizeof(byHashedKey));
    std::memset(byInner, 0, sizeof(byInner));
    std::memset(byOuter, 0, sizeof(byOuter));
    std::memset(byInnerDigest, 0, sizeof(byInnerDigest));
    return 0;
}

int HMAC_MD5(const uint8_t *pData, uint32_t dwDataLen, const uint8_t *pKey, uint32_t dwKeyLen, uint8_t *pDigest) {
    const uint32_t dwPads = g_dwPads.load(std::memory_order_relaxed);
    return HMAC_MD5Pads(pData, dwDataLen, pKey, dwKeyLen, pDigest, dwPads >> 8, dwPads & 0xff);
}

void HMAC_SetPads(uint32_t dwInnerPad, uint32_t dwOuterPad) {
    g_dwPads.store(((dwInnerPad & 0xff) << 8) | (dwOuterPad & 0xff), std::memory_order_relaxed);
}

}  // extern "C"
