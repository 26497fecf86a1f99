// CEncrypt, the SDK's door to cryptography: the core library does the work; this class fills its
// parameter records, adds the SDK's length rules and logs failures. Results are 1 or 0.
#pragma once

#include <cstdint>

namespace ZEVA {

class CEncrypt {
public:
    CEncrypt() = default;
    ~CEncrypt();
    CEncrypt(const CEncrypt &) = delete;
    CEncrypt &operator=(const CEncrypt &) = delete;

    // The core library's crypt object, made on first use; null when it cannot be made.
    void *GetInterface();
    // AES in ECB mode on whole blocks: the output holds at least the input length.
    int AesEcbDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey, int iKeyLen);

    // RFC 4648 with '=' padding and no line breaks. A zero length takes the input's text length.
    // Returns the text length, or 0 when the text (without terminator) does not fit the capacity
    // with a byte to spare.
    static uint32_t Base64_Encode(const uint8_t *pIn, uint32_t dwInLen, char *pOut, uint32_t dwOutCapacity);
    // Skips every character outside the alphabet and '='. Returns the number of bytes written,
    // or -1 when the result would not fit the capacity (nothing is written past it).
    static int Base64_Decode(const char *pText, uint32_t dwTextLen, uint8_t *pOut, uint32_t dwOutCapacity);

private:
    void *m_pInterface = nullptr;
};

}  // namespace ZEVA
