// CEncrypt, the SDK's door to cryptography: the core library does the work; this class fills its
// parameter records, adds the SDK's length rules and logs failures. Results are 1 or 0.
#pragma once

#include <cstdint>
#include <memory>

#include "morva/MorvaCrypto.h"

namespace ZEVA {

class CEncrypt {
public:
    CEncrypt() = default;
    CEncrypt(const CEncrypt &) = delete;
    CEncrypt &operator=(const CEncrypt &) = delete;

    // The core library's crypt object, made on first use; null when it cannot be made.
    void *GetInterface();
    // AES-CBC over a copy of at most kAesCopyLen bytes (longer inputs are refused). An input that is
    // not whole blocks is padded to them: with iPadFlag 1 by n bytes of value n, else by zeros; whole
    // blocks get no padding block. *pOutLen receives the (padded) length.
    int AesCbcEncrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutCapacity, int *pOutLen,
                      const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen, int iPadFlag);
    // Whole blocks, at most kAesCopyLen bytes; padding is left in the output and counted in *pOutLen.
    int AesCbcDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutCapacity, int *pOutLen,
                      const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen);
    // AES in ECB mode on the caller's buffers. Encryption zero-pads a partial last block, so the
    // output holds the input rounded up to 16; decryption takes whole blocks only.
    int AesEcbEncrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey, int iKeyLen);
    int AesEcbDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey, int iKeyLen);
    // AES-128-ECB of the core's C module: zero-pads inside pIn, which must hold the padded length
    // (an empty input is one block), and leaves the cipher text there as well as in pOut.
    int AesEcbEncrypt128(uint8_t *pIn, int iInCapacity, int iInLen, uint8_t *pOut, int iOutCapacity, int *pOutLen,
                         const uint8_t *pKey);

    // A fresh RSA-1024 pair kept by the interface; its DER PKCS#1 public key goes to pKey, whose
    // capacity *pKeyLen gives on entry and which receives the key length.
    int GetRsaPublicKey1024(uint8_t *pKey, int *pKeyLen);
    // The core library's cached RSA-2048 pair (renewed every 60 s), DER: public buffers of 512
    // bytes, private buffers of 2048.
    int GetRsaKey2048(uint8_t *pPubKey, int *pPubKeyLen, uint8_t *pPriKey, int *pPriKeyLen);
    // PKCS#1 v1.5 with the pair of GetRsaPublicKey1024. pOut holds kRsa1024Len bytes and is zeroed
    // first: the core library reports no plain length.
    int RsaDecryptByPrivateKey(const uint8_t *pIn, int iInLen, uint8_t *pOut);
    // PKCS#1 v1.5 with a DER RSA-2048 private key. *pOutLen is the capacity of pOut (at least
    // kRsa2048Len, zeroed first) and stays as it is: the core library reports no plain length.
    int RsaDecryptByPrivateKey2048(const uint8_t *pIn, int iInLen, const uint8_t *pPriKey, int iPriKeyLen,
                                   uint8_t *pOut, int *pOutLen);

    // Digests into 16 and 32 bytes; SHA256Hex writes 64 lower-case hexadecimal characters and a zero.
    int MD5(const uint8_t *pIn, int iInLen, uint8_t *pOut);
    int SHA256(const uint8_t *pIn, int iInLen, uint8_t *pOut);
    int SHA256Hex(const uint8_t *pIn, int iInLen, char *pOut);
    // 32 lower-case hexadecimal characters from the system's random source, no terminator.
    static void GetRandomHexString(char *pOut);

    static const int kAesCopyLen = 1024;
    static const int kRsa1024Len = 128;
    static const int kRsa2048Len = 256;

    // RFC 4648 with '=' padding and no line breaks. A zero length takes the input's text length.
    // Returns the text length, or 0 when the text (without terminator) does not fit the capacity
    // with a byte to spare.
    static uint32_t Base64_Encode(const uint8_t *pIn, uint32_t dwInLen, char *pOut, uint32_t dwOutCapacity);
    // Skips every character outside the alphabet and '='. Returns the number of bytes written,
    // or -1 when the result would not fit the capacity (nothing is written past it).
    static int Base64_Decode(const char *pText, uint32_t dwTextLen, uint8_t *pOut, uint32_t dwOutCapacity);

private:
    typedef int (*AesFunction)(MORVA_AES_PARAM *);
    // Fills the core's record with the interface (already made) and runs fnAes; logs pFailText.
    int RunAes(AesFunction fnAes, const char *pFailText, const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen,
               const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen);

    struct DESTROY_INTERFACE {
        void operator()(void *pInterface) const { Morva_DestroyVORNEncrypt(pInterface); }
    };
    std::unique_ptr<void, DESTROY_INTERFACE> m_pInterface;
};

}  // namespace ZEVA
