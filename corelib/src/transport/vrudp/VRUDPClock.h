// The one millisecond clock of the reliable-UDP transports: keep-alive, sweeps, RTT samples and
// resend stamps all read it. It follows the monotonic tick, so a wall-clock step can neither fire
// nor freeze resends; tests move it forward to reach the long keep-alive times without waiting.
#pragma once

#include <cstdint>

namespace Vorezi {

uint32_t VRUDP_GetTickMs();
// Adds to every later reading (tests only); the clock never goes back.
void VRUDP_AdvanceTickForTest(uint32_t dwMs);
// Holds the clock at its current reading until released (tests only), so that a slow build
// cannot stretch a burst across a time window.
void VRUDP_HoldTickForTest(bool bHold);

}  // namespace Vorezi
