// Encryption of one buffer with AES-128-CBC (with this library's own padding) or SM4-CBC, each
// call on its own CSSLTrans.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {

enum { CRYPTO_TYPE_AES_128_CBC = 0, CRYPTO_TYPE_SM4_CBC = 1 };
enum { CRYPTO_PADDING_ZERO = 0, CRYPTO_PADDING_COUNT = 1 };

// Holds pointers: native size.
struct MORVA_CRYPTO_PARAM {
    BYTE byCryptoType;
    int32_t iTag;  // printed at the start of the log lines
    const BYTE *pKey;  // 16 bytes
    const BYTE *pIv;   // 16 bytes, or null for the default IV
    void *pReserved;
    const BYTE *pInputData;
    DWORD dwInputDataLen;
    BYTE *pOutputData;
    DWORD dwOutputDataSize;
    DWORD *pOutputDataLen;
    BYTE byPaddingType;
};

class CCryptoProvider {
public:
    // The input is padded in a private copy; the output must hold the padded length (AES) or
    // the input plus one block (SM4).
    static int Encrypt(MORVA_CRYPTO_PARAM *pParam);
    static int Decrypt(MORVA_CRYPTO_PARAM *pParam);
    // 16 - len % 16: a whole block for an aligned length.
    static DWORD GetPaddingLen(BYTE byPaddingType, DWORD dwLen);
};

}  // namespace Vorezi
