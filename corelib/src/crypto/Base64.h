// Base64 with the RFC 4648 alphabet, as the core library's crypto entries and flat interface use it.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {

// Lines of 80 characters, each followed by CR LF (also after a last full line); no terminating
// zero. The count of characters written, or -1 for bad arguments or an output that is too small.
int Base64Encode(const BYTE *pInput, int iInputLen, char *pOutput, int iOutputSize);

// Decodes iInputLen characters, skipping CR and LF, and writes a terminating zero after the
// bytes. The count of bytes decoded, or -1 for bad arguments, a character outside the alphabet,
// a truncated or misplaced padding group, or an output that cannot hold the bytes and the zero.
int Base64Decode(const char *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);

}  // namespace Vorezi
