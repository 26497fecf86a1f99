// MD5 as in RFC 1321: 64-byte blocks, little-endian words, four rounds of sixteen steps.
#include "morva/MorvaMd5.h"

#include <cstring>

namespace {

// clang-format off
constexpr uint32_t kSine[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u, 0xfd469501u,
    0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u, 0xa679438eu, 0x49b40821u,
    0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du, 0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u,
    0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu, 0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au,
    0xfffa3942u, 0x8771f681u, 0x6d9d6122u, 0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u,
    0x289b7ec6u, 0xeaa127fau, 0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u,
    0xf4292244u, 0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu, 0xeb86d391u,
};
constexpr uint8_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
// clang-format on

inline uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void Transform(uint32_t *pState, const uint8_t *pBlock) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(pBlock[4 * i]) | (uint32_t(pBlock[4 * i + 1]) << 8) | (uint32_t(pBlock[4 * i + 2]) << 16) |
               (uint32_t(pBlock[4 * i + 3]) << 24);
    }
    uint32_t a = pState[0], b = pState[1], c = pState[2], d = pState[3];
    for (int i = 0; i < 64; ++i) {
        const int iRound = i / 16;
        uint32_t f;
        int k;
        switch (iRound) {
            case 0: f = (b & c) | (~b & d); k = i; break;
            case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + x[k], kShift[iRound][i % 4]);
        a = t;
    }
    pState[0] += a;
    pState[1] += b;
    pState[2] += c;
    pState[3] += d;
    std::memset(x, 0, sizeof(x));
}

}  // namespace

extern "C" {

void Md5Init(MD5_CONTEXT *pCtx) {
    pCtx->dwState[0] = 0x67452301u;
    pCtx->dwState[1] = 0xefcdab89u;
    pCtx->dwState[2] = 0x98badcfeu;
    pCtx->dwState[3] = 0x10325476u;
    pCtx->dwBitCount[0] = pCtx->dwBitCount[1] = 0;
}

void Md5Update(MD5_CONTEXT *pCtx, const uint8_t *pData, uint32_t dwLen) {
    if (pCtx == nullptr || pData == nullptr) {
        return;
    }
    uint32_t dwUsed = (pCtx->dwBitCount[0] >> 3) & 0x3f;
    const uint32_t dwLowBits = dwLen << 3;
    pCtx->dwBitCount[0] += dwLowBits;
    pCtx->dwBitCount[1] += (dwLen >> 29) + (pCtx->dwBitCount[0] < dwLowBits ? 1 : 0);
    while (dwLen > 0) {
        const uint32_t dwTake = dwLen < MD5_BLOCK_SIZE - dwUsed ? dwLen : MD5_BLOCK_SIZE - dwUsed;
        std::memcpy(pCtx->byBuffer + dwUsed, pData, dwTake);
        dwUsed += dwTake;
        pData += dwTake;
        dwLen -= dwTake;
        if (dwUsed == MD5_BLOCK_SIZE) {
            Transform(pCtx->dwState, pCtx->byBuffer);
            dwUsed = 0;
        }
    }
}

void Md5Final(uint8_t *pDigest, MD5_CONTEXT *pCtx) {
    if (pDigest == nullptr || pCtx == nullptr) {
        return;
    }
    uint8_t byLength[8];
    for (int i = 0; i < 8; ++i) {
        byLength[i] = static_cast<uint8_t>(pCtx->dwBitCount[i / 4] >> (8 * (i % 4)));
    }
    static const uint8_t kPadding[MD5_BLOCK_SIZE] = {0x80};
    const uint32_t dwUsed = (pCtx->dwBitCount[0] >> 3) & 0x3f;
    Md5Update(pCtx, kPadding, dwUsed < 56 ? 56 - dwUsed : 120 - dwUsed);
    Md5Update(pCtx, byLength, 8);
    for (int i = 0; i < MD5_DIGEST_SIZE; ++i) {
        pDigest[i] = static_cast<uint8_t>(pCtx->dwState[i / 4] >> (8 * (i % 4)));
    }
    std::memset(pCtx, 0, sizeof(*pCtx));
}

}  // extern "C"
