// Entry points of the crypto layer behind the flat interface.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {

// zlib's CRC-32 through the controller's binding; 0 without zlib or without its crc32.
int Interim_CRC32(DWORD dwCrc, const BYTE *pBuf, DWORD dwLen, DWORD *pResult);

}  // namespace Vorezi
