/* Base64 (RFC 4648 alphabet) of the self-contained crypto module: lines of 80 characters, each
 * followed by CR LF (also after a last full line). */
#ifndef MORVA_B64_H
#define MORVA_B64_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The characters written (no terminating zero), or -1 for a null pointer, a length of 0 or an
 * output too small for the text. */
int B64_Encode(const uint8_t *pInput, int iInputLen, char *pOutput, int iOutputSize);
/* Decodes whole 4-character groups, skipping CR and LF, and writes a zero byte after the bytes.
 * The bytes decoded, or -1 for a null pointer, a length of 0, a character outside the alphabet,
 * a truncated or misplaced padding group, or an output that cannot hold the bytes and the zero. */
int B64_Decode(const char *pInput, uint8_t *pOutput, int iInputLen, int iOutputSize);

#ifdef __cplusplus
}
#endif

#endif
