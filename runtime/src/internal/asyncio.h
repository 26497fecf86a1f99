// What the socket module needs of the asynchronous I/O module.
#pragma once

namespace yar::internal {

// Completes every operation waiting on the socket with 995 and unbinds it from its queue. Called
// before the descriptor is closed: once closed, the system would drop the operations silently.
void CancelSocketIo(int sock);

}  // namespace yar::internal
