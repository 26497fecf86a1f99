// One datagram from a socket, with its full length: Linux cuts a datagram longer than the
// buffer silently, so the caller needs the length to drop it rather than deliver it cut.
#pragma once

#include <cstdint>

#include "morva/MorvaServerLink.h"
#include "yar/yar_addr.h"

namespace Vorezi {

// The datagram's full length (larger than iSize when it was cut), or -1 with the system error
// set (10035 when nothing waits). *pFrom gets the sender.
int RecvDatagram(int iSocket, char *pBuf, int iSize, YAR_ADDR_T *pFrom);

// The datagram of a send record to its text address (IPv6 when the text holds ':'): the bytes
// sent, or -1 (the system error set).
int SendDatagramTo(int iSocket, const SERVER_LINK_SEND_PARAM &param);

// The data and the sender of a received datagram into a callback record.
void SetDatagramRecord(SERVER_LINK_DATA *pData, char *pBuf, int iLen, const YAR_ADDR_T &from);

}  // namespace Vorezi
