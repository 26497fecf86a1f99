// Helpers of the socket module: errors in the Windows numbering, a monotonic deadline, and the
// single-socket wait. Waits use poll: select cannot hold descriptors of 1024 and above.
#pragma once

#include <poll.h>

#include <cstdint>

namespace yar::internal {

// Stores err as the calling thread's socket error; ECONNREFUSED on a datagram socket is a reset.
void SetSocketError(int sock, int err);
// SetSocketError with errno, then -1.
int FailSocket(int sock);

// The time left of one whole operation, as one number, so that many short passes cannot
// stretch it. A time-out of all ones never runs out.
class Deadline {
public:
    explicit Deadline(uint32_t timeoutMs);
    // Milliseconds left, rounded up, for poll: -1 without limit.
    int PollTimeout() const;
    bool Expired() const;
    int64_t RemainingUs() const;

private:
    bool infinite_;
    int64_t endUs_;
};

int64_t MonotonicUs();

// Waits until the socket is ready for events (POLLIN or POLLOUT). 1 ready (also on an error
// condition, which the next call reports), kSocketHungUp when it is ready because it was hung up
// or shut down, 0 time-out, -1 failure with the error set.
constexpr int kSocketHungUp = 2;
int WaitSocket(int sock, short events, const Deadline &deadline);

}  // namespace yar::internal
