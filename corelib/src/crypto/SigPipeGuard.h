// Linux: a write on a socket whose peer has gone raises SIGPIPE, which kills the process by
// default. Sessions send through a BIO that never raises it; only where this OpenSSL cannot make
// that BIO (before 1.1.0) is SIGPIPE blocked for the duration of the call, and a SIGPIPE raised
// meanwhile consumed.
#pragma once

#include <signal.h>
#include <time.h>

#include "crypto/QuietSocketBio.h"

namespace Vorezi {

class SigPipeGuard {
public:
    SigPipeGuard() {
        if (QuietSocketBioAvailable())
            return;
        sigemptyset(&m_PipeSet);
        sigaddset(&m_PipeSet, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        m_bBlocked = pthread_sigmask(SIG_BLOCK, &m_PipeSet, &m_OldMask) == 0;
    }
    ~SigPipeGuard() {
        if (!m_bBlocked)
            return;
        sigset_t pending;
        sigpending(&pending);
        if (!m_bWasPending && sigismember(&pending, SIGPIPE) == 1) {
            struct timespec zero = {0, 0};
            sigtimedwait(&m_PipeSet, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &m_OldMask, nullptr);
    }
    SigPipeGuard(const SigPipeGuard &) = delete;
    SigPipeGuard &operator=(const SigPipeGuard &) = delete;

private:
    sigset_t m_PipeSet;
    sigset_t m_OldMask;
    bool m_bWasPending = false;
    bool m_bBlocked = false;
};

}  // namespace Vorezi
