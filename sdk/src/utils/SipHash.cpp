#include "utils/SipHash.h"

#include <cstring>

namespace ZEVA {

namespace {

uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

uint64_t ReadLE64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

struct CSipState {
    uint64_t v0, v1, v2, v3;

    void Round() {
        v0 += v1;
        v1 = Rotl(v1, 13);
        v1 ^= v0;
        v0 = Rotl(v0, 32);
        v2 += v3;
        v3 = Rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = Rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = Rotl(v1, 17);
        v1 ^= v2;
        v2 = Rotl(v2, 32);
    }
    void Absorb(uint64_t m) {
        v3 ^= m;
        Round();
        v0 ^= m;
    }
};

}  // namespace

uint64_t SipHash13(const SIPHASH_KEY &key, const void *pData, size_t len) {
    const uint8_t *p = static_cast<const uint8_t *>(pData);
    CSipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
                key.k1 ^ 0x7465646279746573ULL};
    size_t whole = len & ~size_t(7);
    for (size_t i = 0; i < whole; i += 8)
        s.Absorb(ReadLE64(p + i));
    uint8_t tail[8] = {};
    std::memcpy(tail, p + whole, len - whole);
    tail[7] = uint8_t(len);
    s.Absorb(ReadLE64(tail));
    s.v2 ^= 0xff;
    for (int i = 0; i < 3; ++i)
        s.Round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace ZEVA
