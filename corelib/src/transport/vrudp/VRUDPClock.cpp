#include "transport/vrudp/VRUDPClock.h"

#include <atomic>

#include "yar/yar_time.h"

namespace Vorezi {

namespace {
std::atomic<uint32_t> g_dwTestOffset{0};
}

uint32_t VRUDP_GetTickMs() {
    return uint32_t(YAR_GetTimeTick()) + g_dwTestOffset.load(std::memory_order_relaxed);
}

void VRUDP_AdvanceTickForTest(uint32_t dwMs) {
    g_dwTestOffset.fetch_add(dwMs, std::memory_order_relaxed);
}

}  // namespace Vorezi
