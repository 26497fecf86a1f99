#include <cerrno>

#include "internal/monotonic_wait.h"

namespace yar::internal {

int InitMonotonicCond(pthread_cond_t *cond) {
    pthread_condattr_t attr;
    int err = pthread_condattr_init(&attr);
    if (err != 0)
        return err;
    err = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (err == 0)
        err = pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
    return err;
}

timespec MonotonicDeadline(int32_t timeoutMs) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t nsec = now.tv_nsec + int64_t(timeoutMs % 1000) * 1000000;
    now.tv_sec += timeoutMs / 1000 + nsec / 1000000000;
    now.tv_nsec = nsec % 1000000000;
    return now;
}

int WaitUntil(pthread_cond_t *cond, pthread_mutex_t *mutex, const timespec *deadline) {
    int err = deadline ? pthread_cond_timedwait(cond, mutex, deadline) : pthread_cond_wait(cond, mutex);
    return err == ETIMEDOUT ? ETIMEDOUT : 0;
}

}  // namespace yar::internal
