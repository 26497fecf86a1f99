// The link's AES-128-ECB state: the key the peer handed over and whether encryption is on. The
// receive path sets them while the owner's threads send, so both live behind one mutex and every
// operation works on a copy taken under it: a send never encrypts under a half-written key.
#pragma once

#include <cstdint>
#include <mutex>

#include "transport/secure/SecurePacket.h"

namespace Vorezi {

class CVornCryptInterface;

namespace secure {

class CSecureLinkCipher {
public:
    CSecureLinkCipher();
    ~CSecureLinkCipher();
    CSecureLinkCipher(const CSecureLinkCipher &) = delete;
    CSecureLinkCipher &operator=(const CSecureLinkCipher &) = delete;

    // False when the core library could not make its crypt object.
    bool IsValid() const { return m_pEncrypt != nullptr; }

    // The first 16 bytes of the decrypted link key; turns encryption on.
    void SetKey(const uint8_t *pKey);
    bool IsOn() const;

    // Writes exactly dwLen bytes to pOut. Encrypted input is decrypted on a zero-padded copy.
    bool Decrypt(const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const;
    // dwLen must be a multiple of 16 while encryption is on (the caller pads).
    bool Encrypt(const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const;

private:
    bool Snapshot(uint8_t *pKey) const;
    bool RunAes(bool bEncrypt, const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const;

    CVornCryptInterface *m_pEncrypt;
    mutable std::mutex m_mutex;
    bool m_bEncrypt = false;
    uint8_t m_byKey[SECURE_AES_BLOCK] = {};
};

} // namespace secure
} // namespace Vorezi
