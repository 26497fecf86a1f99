// SipHash-1-3: a keyed 64-bit hash. Under a secret key, outsiders cannot build two texts that
// hash alike, so a hash of network bytes may stand for the bytes. One compression round per
// word (the variant hash tables use against flooding) halves the cost of the paper's 2-4, and
// every datagram of a burst is hashed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZEVA {

struct SIPHASH_KEY {
    uint64_t k0;
    uint64_t k1;
};

uint64_t SipHash13(const SIPHASH_KEY &key, const void *pData, size_t len);

}  // namespace ZEVA
