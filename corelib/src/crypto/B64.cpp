// The module's Base64 entries share the core library's bounded coder.
#include "morva/MorvaB64.h"

#include "crypto/Base64.h"

extern "C" {

int B64_Encode(const uint8_t *pInput, int iInputLen, char *pOutput, int iOutputSize) {
    return Vorezi::Base64Encode(pInput, iInputLen, pOutput, iOutputSize);
}

int B64_Decode(const char *pInput, uint8_t *pOutput, int iInputLen, int iOutputSize) {
    return Vorezi::Base64Decode(pInput, iInputLen, pOutput, iOutputSize);
}

}  // extern "C"
