#include "transport/vrudp/VRUDPClock.h"

#include <atomic>

#include "yar/yar_time.h"

namespace Vorezi {

namespace {
std::atomic<uint32_t> g_dwTestOffset{0};
std::atomic<bool> g_bHeld{false};
std::atomic<uint32_t> g_dwHeldAt{0};

uint32_t Reading() {
    return uint32_t(YAR_GetTimeTick()) + g_dwTestOffset.load(std::memory_order_relaxed);
}
}  // namespace

uint32_t VRUDP_GetTickMs() {
    return g_bHeld.load(std::memory_order_acquire) ? g_dwHeldAt.load(std::memory_order_relaxed) : Reading();
}

void VRUDP_HoldTickForTest(bool bHold) {
    g_dwHeldAt.store(Reading(), std::memory_order_relaxed);
    g_bHeld.store(bHold, std::memory_order_release);
}

void VRUDP_AdvanceTickForTest(uint32_t dwMs) {
    g_dwTestOffset.fetch_add(dwMs, std::memory_order_relaxed);
}

}  // namespace Vorezi
