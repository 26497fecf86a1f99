// System calls that a signal handler interrupts are made again: callers written for Windows never
// expect EINTR, and the operation itself has not failed.
#pragma once

#include <cerrno>

namespace yar::internal {

template <typename Call>
auto RetryOnEintr(Call call) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

}  // namespace yar::internal
