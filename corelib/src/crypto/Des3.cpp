// DES of FIPS 46-3 in the SP-table form: the S-boxes and P are merged into eight tables of
// words, the initial and final permutations are done with bit swaps, and each round key is
// stored as two words of four six-bit groups that line up with the table indexes.
#include "morva/MorvaDes.h"

#include <cstring>

namespace {

constexpr int kBlock = DES3_BLOCK_SIZE;

// clang-format off
constexpr uint8_t kPC1[56] = {
    56, 48, 40, 32, 24, 16, 8,  0,  57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43, 35,
    62, 54, 46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  60, 52, 44, 36, 28, 20, 12, 4,  27, 19, 11, 3,
};
// Left rotations of the two 28-bit halves before each round, summed.
constexpr uint8_t kTotalRotations[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};
constexpr uint8_t kPC2[48] = {
    13, 16, 10, 23, 0,  4,  2,  27, 14, 5,  20, 9,  22, 18, 11, 3,  25, 7,  15, 6,  26, 19, 12, 1,
    40, 51, 30, 36, 46, 54, 29, 39, 50, 44, 32, 47, 43, 48, 38, 55, 33, 52, 45, 41, 49, 35, 28, 31,
};
constexpr uint8_t kByteBit[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
constexpr uint32_t kBigByte[24] = {
    0x800000u, 0x400000u, 0x200000u, 0x100000u, 0x080000u, 0x040000u, 0x020000u, 0x010000u,
    0x008000u, 0x004000u, 0x002000u, 0x001000u, 0x000800u, 0x000400u, 0x000200u, 0x000100u,
    0x000080u, 0x000040u, 0x000020u, 0x000010u, 0x000008u, 0x000004u, 0x000002u, 0x000001u,
};
// S-box i followed by P, rotated left by one bit to match the rotated block halves; the index is
// the six input bits of the box.
constexpr uint32_t kSP[8][64] = {
    {
        0x01010400u, 0x00000000u, 0x00010000u, 0x01010404u, 0x01010004u, 0x00010404u, 0x00000004u, 0x00010000u,
        0x00000400u, 0x01010400u, 0x01010404u, 0x00000400u, 0x01000404u, 0x01010004u, 0x01000000u, 0x00000004u,
        0x00000404u, 0x01000400u, 0x01000400u, 0x00010400u, 0x00010400u, 0x01010000u, 0x01010000u, 0x01000404u,
        0x00010004u, 0x01000004u, 0x01000004u, 0x00010004u, 0x00000000u, 0x00000404u, 0x00010404u, 0x01000000u,
        0x00010000u, 0x01010404u, 0x00000004u, 0x01010000u, 0x01010400u, 0x01000000u, 0x01000000u, 0x00000400u,
        0x01010004u, 0x00010000u, 0x00010400u, 0x01000004u, 0x00000400u, 0x00000004u, 0x01000404u, 0x00010404u,
        0x01010404u, 0x00010004u, 0x01010000u, 0x01000404u, 0x01000004u, 0x00000404u, 0x00010404u, 0x01010400u,
        0x00000404u, 0x01000400u, 0x01000400u, 0x00000000u, 0x00010004u, 0x00010400u, 0x00000000u, 0x01010004u,
    },
    {
        0x80108020u, 0x80008000u, 0x00008000u, 0x00108020u, 0x00100000u, 0x00000020u, 0x80100020u, 0x80008020u,
        0x80000020u, 0x80108020u, 0x80108000u, 0x80000000u, 0x80008000u, 0x00100000u, 0x00000020u, 0x80100020u,
        0x00108000u, 0x00100020u, 0x80008020u, 0x00000000u, 0x80000000u, 0x00008000u, 0x00108020u, 0x80100000u,
        0x00100020u, 0x80000020u, 0x00000000u, 0x00108000u, 0x00008020u, 0x80108000u, 0x80100000u, 0x00008020u,
        0x00000000u, 0x00108020u, 0x80100020u, 0x00100000u, 0x80008020u, 0x80100000u, 0x80108000u, 0x00008000u,
        0x80100000u, 0x80008000u, 0x00000020u, 0x80108020u, 0x00108020u, 0x00000020u, 0x00008000u, 0x80000000u,
        0x00008020u, 0x80108000u, 0x00100000u, 0x80000020u, 0x00100020u, 0x80008020u, 0x80000020u, 0x00100020u,
        0x00108000u, 0x00000000u, 0x80008000u, 0x00008020u, 0x80000000u, 0x80100020u, 0x80108020u, 0x00108000u,
    },
    {
        0x00000208u, 0x08020200u, 0x00000000u, 0x08020008u, 0x08000200u, 0x00000000u, 0x00020208u, 0x08000200u,
        0x00020008u, 0x08000008u, 0x08000008u, 0x00020000u, 0x08020208u, 0x00020008u, 0x08020000u, 0x00000208u,
        0x08000000u, 0x00000008u, 0x08020200u, 0x00000200u, 0x00020200u, 0x08020000u, 0x08020008u, 0x00020208u,
        0x08000208u, 0x00020200u, 0x00020000u, 0x08000208u, 0x00000008u, 0x08020208u, 0x00000200u, 0x08000000u,
        0x08020200u, 0x08000000u, 0x00020008u, 0x00000208u, 0x00020000u, 0x08020200u, 0x08000200u, 0x00000000u,
        0x00000200u, 0x00020008u, 0x08020208u, 0x08000200u, 0x08000008u, 0x00000200u, 0x00000000u, 0x08020008u,
        0x08000208u, 0x00020000u, 0x08000000u, 0x08020208u, 0x00000008u, 0x00020208u, 0x00020200u, 0x08000008u,
        0x08020000u, 0x08000208u, 0x00000208u, 0x08020000u, 0x00020208u, 0x00000008u, 0x08020008u, 0x00020200u,
    },
    {
        0x00802001u, 0x00002081u, 0x00002081u, 0x00000080u, 0x00802080u, 0x00800081u, 0x00800001u, 0x00002001u,
        0x00000000u, 0x00802000u, 0x00802000u, 0x00802081u, 0x00000081u, 0x00000000u, 0x00800080u, 0x00800001u,
        0x00000001u, 0x00002000u, 0x00800000u, 0x00802001u, 0x00000080u, 0x00800000u, 0x00002001u, 0x00002080u,
        0x00800081u, 0x00000001u, 0x00002080u, 0x00800080u, 0x00002000u, 0x00802080u, 0x00802081u, 0x00000081u,
        0x00800080u, 0x00800001u, 0x00802000u, 0x00802081u, 0x00000081u, 0x00000000u, 0x00000000u, 0x00802000u,
        0x00002080u, 0x00800080u, 0x00800081u, 0x00000001u, 0x00802001u, 0x00002081u, 0x00002081u, 0x00000080u,
        0x00802081u, 0x00000081u, 0x00000001u, 0x00002000u, 0x00800001u, 0x00002001u, 0x00802080u, 0x00800081u,
        0x00002001u, 0x00002080u, 0x00800000u, 0x00802001u, 0x00000080u, 0x00800000u, 0x00002000u, 0x00802080u,
    },
    {
        0x00000100u, 0x02080100u, 0x02080000u, 0x42000100u, 0x00080000u, 0x00000100u, 0x40000000u, 0x02080000u,
        0x40080100u, 0x00080000u, 0x02000100u, 0x40080100u, 0x42000100u, 0x42080000u, 0x00080100u, 0x40000000u,
        0x02000000u, 0x40080000u, 0x40080000u, 0x00000000u, 0x40000100u, 0x42080100u, 0x42080100u, 0x02000100u,
        0x42080000u, 0x40000100u, 0x00000000u, 0x42000000u, 0x02080100u, 0x02000000u, 0x42000000u, 0x00080100u,
        0x00080000u, 0x42000100u, 0x00000100u, 0x02000000u, 0x40000000u, 0x02080000u, 0x42000100u, 0x40080100u,
        0x02000100u, 0x40000000u, 0x42080000u, 0x02080100u, 0x40080100u, 0x00000100u, 0x02000000u, 0x42080000u,
        0x42080100u, 0x00080100u, 0x42000000u, 0x42080100u, 0x02080000u, 0x00000000u, 0x40080000u, 0x42000000u,
        0x00080100u, 0x02000100u, 0x40000100u, 0x00080000u, 0x00000000u, 0x40080000u, 0x02080100u, 0x40000100u,
    },
    {
        0x20000010u, 0x20400000u, 0x00004000u, 0x20404010u, 0x20400000u, 0x00000010u, 0x20404010u, 0x00400000u,
        0x20004000u, 0x00404010u, 0x00400000u, 0x20000010u, 0x00400010u, 0x20004000u, 0x20000000u, 0x00004010u,
        0x00000000u, 0x00400010u, 0x20004010u, 0x00004000u, 0x00404000u, 0x20004010u, 0x00000010u, 0x20400010u,
        0x20400010u, 0x00000000u, 0x00404010u, 0x20404000u, 0x00004010u, 0x00404000u, 0x20404000u, 0x20000000u,
        0x20004000u, 0x00000010u, 0x20400010u, 0x00404000u, 0x20404010u, 0x00400000u, 0x00004010u, 0x20000010u,
        0x00400000u, 0x20004000u, 0x20000000u, 0x00004010u, 0x20000010u, 0x20404010u, 0x00404000u, 0x20400000u,
        0x00404010u, 0x20404000u, 0x00000000u, 0x20400010u, 0x00000010u, 0x00004000u, 0x20400000u, 0x00404010u,
        0x00004000u, 0x00400010u, 0x20004010u, 0x00000000u, 0x20404000u, 0x20000000u, 0x00400010u, 0x20004010u,
    },
    {
        0x00200000u, 0x04200002u, 0x04000802u, 0x00000000u, 0x00000800u, 0x04000802u, 0x00200802u, 0x04200800u,
        0x04200802u, 0x00200000u, 0x00000000u, 0x04000002u, 0x00000002u, 0x04000000u, 0x04200002u, 0x00000802u,
        0x04000800u, 0x00200802u, 0x00200002u, 0x04000800u, 0x04000002u, 0x04200000u, 0x04200800u, 0x00200002u,
        0x04200000u, 0x00000800u, 0x00000802u, 0x04200802u, 0x00200800u, 0x00000002u, 0x04000000u, 0x00200800u,
        0x04000000u, 0x00200800u, 0x00200000u, 0x04000802u, 0x04000802u, 0x04200002u, 0x04200002u, 0x00000002u,
        0x00200002u, 0x04000000u, 0x04000800u, 0x00200000u, 0x04200800u, 0x00000802u, 0x00200802u, 0x04200800u,
        0x00000802u, 0x04000002u, 0x04200802u, 0x04200000u, 0x00200800u, 0x00000000u, 0x00000002u, 0x04200802u,
        0x00000000u, 0x00200802u, 0x04200000u, 0x00000800u, 0x04000002u, 0x04000800u, 0x00000800u, 0x00200002u,
    },
    {
        0x10001040u, 0x00001000u, 0x00040000u, 0x10041040u, 0x10000000u, 0x10001040u, 0x00000040u, 0x10000000u,
        0x00040040u, 0x10040000u, 0x10041040u, 0x00041000u, 0x10041000u, 0x00041040u, 0x00001000u, 0x00000040u,
        0x10040000u, 0x10000040u, 0x10001000u, 0x00001040u, 0x00041000u, 0x00040040u, 0x10040040u, 0x10041000u,
        0x00001040u, 0x00000000u, 0x00000000u, 0x10040040u, 0x10000040u, 0x10001000u, 0x00041040u, 0x00040000u,
        0x00041040u, 0x00040000u, 0x10041000u, 0x00001000u, 0x00000040u, 0x10040040u, 0x00001000u, 0x00041040u,
        0x10001000u, 0x00000040u, 0x10000040u, 0x10040000u, 0x10040040u, 0x10000000u, 0x00040000u, 0x10001040u,
        0x00000000u, 0x10041040u, 0x00040040u, 0x10000040u, 0x10040000u, 0x10001000u, 0x10001040u, 0x00000000u,
        0x10041040u, 0x00041000u, 0x00041000u, 0x00001040u, 0x00001040u, 0x00040040u, 0x10000000u, 0x10041000u,
    },
};
// clang-format on

// The module's keys; any fixed values serve within this system.
constexpr uint8_t kStoredKey[kBlock] = {0x5a, 0x3c, 0x96, 0x0f, 0xe1, 0x78, 0x2d, 0xb4,
                                        0x4b, 0xc3, 0x1e, 0x87, 0xd2, 0x69, 0xf0, 0x35};
constexpr uint32_t kBuiltInEncryptWords[4] = {0x7e3a91c4u, 0x2b58d06fu, 0xc41f6e93u, 0x8d27b5a0u};
constexpr uint32_t kBuiltInDecryptWords[4] = {0x19e4c72bu, 0xf05a3d86u, 0x6bd2087eu, 0xa3c95f14u};

void BuildKey(const uint32_t (&dwWords)[4], uint8_t *pKey) {
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            pKey[4 * i + k] = static_cast<uint8_t>(dwWords[i] >> (24 - 8 * k));
        }
    }
}

// Packs the two 24-bit halves of each raw round key into the six-bit group layout.
void CookSchedule(const uint32_t *pRaw, uint32_t *pSchedule) {
    for (int i = 0; i < 16; ++i, pRaw += 2) {
        const uint32_t r0 = pRaw[0];
        const uint32_t r1 = pRaw[1];
        *pSchedule++ = ((r0 & 0x00fc0000u) << 6) | ((r0 & 0x00000fc0u) << 10) | ((r1 & 0x00fc0000u) >> 10) |
                       ((r1 & 0x00000fc0u) >> 6);
        *pSchedule++ = ((r0 & 0x0003f000u) << 12) | ((r0 & 0x0000003fu) << 16) | ((r1 & 0x0003f000u) >> 4) |
                       (r1 & 0x0000003fu);
    }
}

// Swaps the bits of a and b selected by mask after shifting a right by n.
inline void SwapBits(uint32_t &a, uint32_t &b, int n, uint32_t mask) {
    const uint32_t t = ((a >> n) ^ b) & mask;
    b ^= t;
    a ^= t << n;
}

inline uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline uint32_t Feistel(const DES3_CONTEXT *pCtx, uint32_t r, const uint32_t *pKey) {
    const uint32_t a = Rotl(r, 28) ^ pKey[0];
    const uint32_t b = r ^ pKey[1];
    return pCtx->dwSP[6][a & 0x3f] | pCtx->dwSP[4][(a >> 8) & 0x3f] | pCtx->dwSP[2][(a >> 16) & 0x3f] |
           pCtx->dwSP[0][(a >> 24) & 0x3f] | pCtx->dwSP[7][b & 0x3f] | pCtx->dwSP[5][(b >> 8) & 0x3f] |
           pCtx->dwSP[3][(b >> 16) & 0x3f] | pCtx->dwSP[1][(b >> 24) & 0x3f];
}

// The padded length of an ECB input, or -1 when it is negative or cannot be padded in an int.
int PaddedLength(int iInputLen) {
    if (iInputLen < 0 || iInputLen > 0x7fffffff - kBlock) {
        return -1;
    }
    return iInputLen == 0 ? kBlock : (iInputLen + kBlock - 1) / kBlock * kBlock;
}

void TransformBuffer(const uint8_t *pKey, int iDirection, const uint8_t *pInput, uint8_t *pOutput, int iLen) {
    DES3_CONTEXT ctx;
    DES3_InitContext(&ctx);
    DES3_SetKey(&ctx, pKey, iDirection);
    for (int iOffset = 0; iOffset < iLen; iOffset += kBlock) {
        DES3_TransformBlock(&ctx, pInput + iOffset, pOutput + iOffset);
    }
    std::memset(&ctx, 0, sizeof(ctx));  // the schedules are key material
}

int EncryptWithKey(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                   int *pOutLen, const uint8_t *pKey) {
    if (pInput == nullptr || pOutput == nullptr || pOutLen == nullptr) {
        return -1;
    }
    *pOutLen = 0;
    const int iPadded = PaddedLength(iInputLen);
    if (iPadded < 0 || iInputBufSize < iPadded || iOutputBufSize < iPadded) {
        return -1;
    }
    std::memset(pInput + iInputLen, 0, static_cast<size_t>(iPadded - iInputLen));
    TransformBuffer(pKey, DES_DIR_ENCRYPT, pInput, pOutput, iPadded);
    *pOutLen = iPadded;
    return 0;
}

}  // namespace

extern "C" {

void DES_LoadWords(const uint8_t *pBytes, uint32_t *pWords) {
    for (int i = 0; i < 2; ++i, pBytes += 4) {
        pWords[i] = (uint32_t(pBytes[0]) << 24) | (uint32_t(pBytes[1]) << 16) | (uint32_t(pBytes[2]) << 8) | pBytes[3];
    }
}

void DES_StoreWords(const uint32_t *pWords, uint8_t *pBytes) {
    for (int i = 0; i < 2; ++i, pBytes += 4) {
        pBytes[0] = static_cast<uint8_t>(pWords[i] >> 24);
        pBytes[1] = static_cast<uint8_t>(pWords[i] >> 16);
        pBytes[2] = static_cast<uint8_t>(pWords[i] >> 8);
        pBytes[3] = static_cast<uint8_t>(pWords[i]);
    }
}

void DES_CopySchedule(uint32_t *pTarget, const uint32_t *pSource) {
    std::memcpy(pTarget, pSource, DES_SCHEDULE_WORDS * sizeof(uint32_t));
}

void DES3_InitContext(DES3_CONTEXT *pCtx) {
    std::memcpy(pCtx->byPC1, kPC1, sizeof(kPC1));
    std::memcpy(pCtx->byTotalRotations, kTotalRotations, sizeof(kTotalRotations));
    std::memcpy(pCtx->byPC2, kPC2, sizeof(kPC2));
    std::memcpy(pCtx->byByteBit, kByteBit, sizeof(kByteBit));
    std::memcpy(pCtx->dwBigByte, kBigByte, sizeof(kBigByte));
    std::memcpy(pCtx->dwSP, kSP, sizeof(kSP));
    std::memset(pCtx->dwSchedule, 0, sizeof(pCtx->dwSchedule));
}

void DES_KeySchedule(const DES3_CONTEXT *pCtx, const uint8_t *pKey, int iDirection, uint32_t *pSchedule) {
    uint8_t byPC1Bits[56];
    uint8_t byRotated[56];
    uint32_t dwRaw[DES_SCHEDULE_WORDS];
    for (int j = 0; j < 56; ++j) {
        const int l = pCtx->byPC1[j];
        byPC1Bits[j] = (pKey[l >> 3] & pCtx->byByteBit[l & 7]) ? 1 : 0;
    }
    for (int i = 0; i < 16; ++i) {
        // Decryption runs the same rounds with the round keys in reverse order.
        const int m = (iDirection == DES_DIR_DECRYPT ? 15 - i : i) * 2;
        dwRaw[m] = dwRaw[m + 1] = 0;
        for (int j = 0; j < 56; ++j) {
            const int iHalfEnd = j < 28 ? 28 : 56;
            const int l = j + pCtx->byTotalRotations[i];
            byRotated[j] = byPC1Bits[l < iHalfEnd ? l : l - 28];
        }
        for (int j = 0; j < 24; ++j) {
            if (byRotated[pCtx->byPC2[j]]) dwRaw[m] |= pCtx->dwBigByte[j];
            if (byRotated[pCtx->byPC2[j + 24]]) dwRaw[m + 1] |= pCtx->dwBigByte[j];
        }
    }
    CookSchedule(dwRaw, pSchedule);
    std::memset(byPC1Bits, 0, sizeof(byPC1Bits));
    std::memset(byRotated, 0, sizeof(byRotated));
    std::memset(dwRaw, 0, sizeof(dwRaw));
}

void DES_Transform(const DES3_CONTEXT *pCtx, uint32_t *pWords, const uint32_t *pSchedule) {
    uint32_t l = pWords[0];
    uint32_t r = pWords[1];
    // Initial permutation.
    SwapBits(l, r, 4, 0x0f0f0f0fu);
    SwapBits(l, r, 16, 0x0000ffffu);
    SwapBits(r, l, 2, 0x33333333u);
    SwapBits(r, l, 8, 0x00ff00ffu);
    r = Rotl(r, 1);
    uint32_t t = (l ^ r) & 0xaaaaaaaau;
    l ^= t;
    r ^= t;
    l = Rotl(l, 1);

    for (int iRound = 0; iRound < 8; ++iRound, pSchedule += 4) {
        l ^= Feistel(pCtx, r, pSchedule);
        r ^= Feistel(pCtx, l, pSchedule + 2);
    }

    // Final permutation, the inverse of the initial one with the halves exchanged.
    r = Rotl(r, 31);
    t = (l ^ r) & 0xaaaaaaaau;
    l ^= t;
    r ^= t;
    l = Rotl(l, 31);
    SwapBits(l, r, 8, 0x00ff00ffu);
    SwapBits(l, r, 2, 0x33333333u);
    SwapBits(r, l, 16, 0x0000ffffu);
    SwapBits(r, l, 4, 0x0f0f0f0fu);
    pWords[0] = r;
    pWords[1] = l;
}

void DES3_SetKey(DES3_CONTEXT *pCtx, const uint8_t *pKey, int iDirection) {
    const int iOpposite = iDirection == DES_DIR_DECRYPT ? DES_DIR_ENCRYPT : DES_DIR_DECRYPT;
    DES_KeySchedule(pCtx, pKey + 8, iOpposite, pCtx->dwSchedule[1]);
    DES_KeySchedule(pCtx, pKey, iDirection, pCtx->dwSchedule[0]);
    DES_CopySchedule(pCtx->dwSchedule[2], pCtx->dwSchedule[0]);
}

void DES3_TransformBlock(const DES3_CONTEXT *pCtx, const uint8_t *pInput, uint8_t *pOutput) {
    uint32_t a[2];
    uint32_t b[2];
    DES_LoadWords(pInput, a);
    DES_LoadWords(pInput + 8, b);
    for (int iPass = 0; iPass < 3; ++iPass) {
        if (iPass > 0) {
            const uint32_t t = a[1];
            a[1] = b[0];
            b[0] = t;
        }
        DES_Transform(pCtx, a, pCtx->dwSchedule[iPass]);
        DES_Transform(pCtx, b, pCtx->dwSchedule[iPass]);
    }
    DES_StoreWords(a, pOutput);
    DES_StoreWords(b, pOutput + 8);
}

int DES3_Encrypt(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                 int *pOutLen, const uint8_t *pKey) {
    if (pKey == nullptr) {
        return -1;
    }
    return EncryptWithKey(pInput, iInputBufSize, iInputLen, pOutput, iOutputBufSize, pOutLen, pKey);
}

int DES3_EncryptStored(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                       int *pOutLen) {
    return EncryptWithKey(pInput, iInputBufSize, iInputLen, pOutput, iOutputBufSize, pOutLen, kStoredKey);
}

int DES3_EncryptBuiltIn(uint8_t *pInput, int iInputBufSize, int iInputLen, uint8_t *pOutput, int iOutputBufSize,
                        int *pOutLen) {
    uint8_t byKey[kBlock];
    BuildKey(kBuiltInEncryptWords, byKey);
    const int iResult = EncryptWithKey(pInput, iInputBufSize, iInputLen, pOutput, iOutputBufSize, pOutLen, byKey);
    std::memset(byKey, 0, sizeof(byKey));
    return iResult;
}

int DES3_DecryptBuiltIn(const uint8_t *pInput, int iInputLen, uint8_t *pOutput, int iOutputBufSize, int *pOutLen) {
    if (pInput == nullptr || pOutput == nullptr || pOutLen == nullptr || iInputLen < 0 || iInputLen % kBlock != 0 ||
        iOutputBufSize < iInputLen) {
        return -1;
    }
    uint8_t byKey[kBlock];
    BuildKey(kBuiltInDecryptWords, byKey);
    TransformBuffer(byKey, DES_DIR_DECRYPT, pInput, pOutput, iInputLen);
    std::memset(byKey, 0, sizeof(byKey));
    *pOutLen = iInputLen;
    return 0;
}

}  // extern "C"
