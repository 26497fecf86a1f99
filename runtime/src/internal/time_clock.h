// Test hook of the clocks: simulates a machine whose monotonic clock is unusable.
#pragma once

namespace yar::internal {

void SetMonotonicClockUsable(bool usable);

}  // namespace yar::internal
