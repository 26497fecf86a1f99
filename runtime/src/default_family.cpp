// The default address family word: written by the adapter refresh, read without a lock.
#include <atomic>

#include "internal/default_family.h"
#include "yar/yar_addr.h"

namespace yar::internal {

namespace {
std::atomic<int> g_defaultFamily{YAR_AF_INET};
}

int DefaultFamily() {
    return g_defaultFamily.load(std::memory_order_relaxed);
}

void SetDefaultFamily(int family) {
    g_defaultFamily.store(family, std::memory_order_relaxed);
}

}  // namespace yar::internal
