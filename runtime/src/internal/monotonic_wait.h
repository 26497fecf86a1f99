// Waits on pthread conditions against CLOCK_MONOTONIC, so wall-clock steps never shorten or
// stretch a time-out.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace yar::internal {

// Initialises a condition variable that measures time-outs on CLOCK_MONOTONIC; 0 or an errno.
int InitMonotonicCond(pthread_cond_t *cond);

// The deadline timeoutMs from now on CLOCK_MONOTONIC (timeoutMs >= 0).
timespec MonotonicDeadline(int32_t timeoutMs);

// One wait: without limit when deadline is null. 0 when woken, ETIMEDOUT when the deadline passed.
int WaitUntil(pthread_cond_t *cond, pthread_mutex_t *mutex, const timespec *deadline);

}  // namespace yar::internal
