// How the transports end a TCP socket that carries linger 0 (a close never waits), and how an
// adopted socket is handed back untouched when its link cannot start.
#pragma once

#include <atomic>
#include <cstdint>

namespace Vorezi {

// How long an orderly end waits for a peer that has stopped reading its send queue.
constexpr uint32_t SOCKET_DRAIN_STALL_MS = 3000;

// True when the stream was ended on purpose (a FIN went one way or the other) and nothing waits
// unread: a close now is an orderly end, not an abort.
bool SocketStreamEnded(int iSocket);

// The orderly end before the close: shuts the write side, then waits while the peer takes what
// the send queue (SIOCOUTQ) still holds. Gives up once the queue has not shrunk for dwStallMs,
// or when *pbAbort is set; the close that follows then resets what is left.
void SocketDrainSendQueue(int iSocket, uint32_t dwStallMs, const std::atomic<int> *pbAbort);

// The options a link sets on a socket it adopts, so that a failed adoption can put them back.
struct SOCKET_OPTIONS {
    int iFileFlags = -1;
    int iLingerOn = 0;
    int iLingerSeconds = 0;
    int iNoDelay = 0;
};
SOCKET_OPTIONS SocketSaveOptions(int iSocket);
void SocketRestoreOptions(int iSocket, const SOCKET_OPTIONS &options);

}  // namespace Vorezi
