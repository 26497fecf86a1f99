// SipHash-2-4: a keyed 64-bit hash. Under a secret key, outsiders cannot build two texts that
// hash alike, so a hash of network bytes may stand for the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZEVA {

struct SIPHASH_KEY {
    uint64_t k0;
    uint64_t k1;
};

uint64_t SipHash24(const SIPHASH_KEY &key, const void *pData, size_t len);

}  // namespace ZEVA
