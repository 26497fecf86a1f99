// The suite hello of the secure link: a capability hello hands out the cached RSA-1024 public key
// and keeps the matching private key; a key exchange decrypts the peer's AES key with it and
// turns encryption and framing on. A refused key relies on OpenSSL failing a bad PKCS#1 v1.5
// ciphertext (OpenSSL 3.0, Debian 12); from 3.2 on OpenSSL returns a random key instead (implicit
// rejection), so such a peer is answered with status 200.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "transport/secure/SecureLinkCipher.h"

namespace Vorezi {
namespace secure {

// Results of parsing a hello: 1 taken, 10000 + n capability word n + 1 without bit 0, 14 refused.
constexpr uint32_t SECURE_HELLO_OK = 1;
constexpr uint32_t SECURE_HELLO_NO_CAPABILITY = 10000;
constexpr uint32_t SECURE_HELLO_REFUSED = 14;

class CSecureHandshake {
public:
    enum class Outcome { Answered, NoKeyCache, NoKeyPair };

    // Parses one "QDSC" packet and builds the answer to send back. The parse result is kept for
    // the log in *pParseResult. NoKeyCache or NoKeyPair: no answer, the session ends.
    Outcome Process(const uint8_t *pData, uint32_t dwLen, CSecureLinkCipher &cipher, std::vector<uint8_t> *pAnswer,
                    uint32_t *pParseResult);

    // 1 after the key exchange: sends carry the data head.
    bool IsSecureFraming() const { return m_bSecureFraming.load(std::memory_order_acquire); }
    uint8_t PackageType() const { return m_byLastType; }

private:
    uint32_t ParseCapability(const SecureHelloHead &head);
    uint32_t ParseKeyExchange(const uint8_t *pData, uint32_t dwLen, const SecureHelloHead &head,
                              CSecureLinkCipher &cipher, Outcome *pOutcome);

    uint32_t m_dwCapability[3] = {0, 0, 0};
    std::vector<uint8_t> m_priKey;
    std::atomic<bool> m_bSecureFraming{false};
    uint8_t m_byLastType = 0;
};

} // namespace secure
} // namespace Vorezi
