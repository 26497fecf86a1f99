// A counting wake-up channel over a futex-based POSIX semaphore: a post takes no lock (so the
// woken thread never blocks on one the poster still holds), and the semaphore may be destroyed as
// soon as its last waiter has returned.
#pragma once

#include <semaphore.h>
#include <time.h>

#include <cerrno>

namespace yar::internal {

class WakeSem {
public:
    WakeSem() { sem_init(&m_sem, 0, 0); }
    ~WakeSem() { sem_destroy(&m_sem); }
    WakeSem(const WakeSem &) = delete;
    WakeSem &operator=(const WakeSem &) = delete;

    void Post() { sem_post(&m_sem); }

    // Takes one unit; false when the CLOCK_MONOTONIC deadline passed first. Null waits without
    // limit.
    bool Wait(const timespec *deadline) {
        for (;;) {
            int rc = deadline ? sem_clockwait(&m_sem, CLOCK_MONOTONIC, deadline) : sem_wait(&m_sem);
            if (rc == 0)
                return true;
            if (errno != EINTR)
                return false;
        }
    }

private:
    sem_t m_sem;
};

}  // namespace yar::internal
