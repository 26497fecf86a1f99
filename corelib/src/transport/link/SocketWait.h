// Waits of the transports on one socket. poll(2), never an fd_set: descriptors of 1024 and
// above are ordinary here (thousands of asynchronous links and server links).
#pragma once

#include <cstdint>

namespace Vorezi {

// 1 when the socket is readable (or has an error or hang-up to report), 0 after the time-out,
// -1 on a failure of the wait (system error set). A signal restarts the wait with the time left.
int WaitReadable(int iSocket, uint32_t dwTimeOutMs);

}  // namespace Vorezi
