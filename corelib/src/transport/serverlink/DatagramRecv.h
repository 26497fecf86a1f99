// One datagram from a socket, with its full length: Linux cuts a datagram longer than the
// buffer silently, so the caller needs the length to drop it rather than deliver it cut.
#pragma once

#include <cstdint>

#include "yar/yar_addr.h"

namespace Vorezi {

// The datagram's full length (larger than iSize when it was cut), or -1 with the system error
// set (10035 when nothing waits). *pFrom gets the sender.
int RecvDatagram(int iSocket, char *pBuf, int iSize, YAR_ADDR_T *pFrom);

}  // namespace Vorezi
