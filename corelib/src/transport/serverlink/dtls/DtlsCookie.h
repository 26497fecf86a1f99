// DTLS cookies of the RQS-over-DTLS link: HMAC-SHA1 under a 16-byte secret over the peer
// address that the session's read BIO reports. One secret per process, drawn on first use.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "crypto/OpenSSLTypes.h"
#include "morva/MorvaTypes.h"

namespace Vorezi {

class CDtlsCookie {
public:
    static constexpr int SECRET_LEN = 16;
    static constexpr int COOKIE_LEN = 20;
    // Port (as stored, network order) and the 4- or 16-byte address.
    static constexpr int MAX_INPUT_LEN = 2 + 16;

    CDtlsCookie() = default;
    // A cookie maker with a fixed secret (tests compare against other HMAC implementations).
    explicit CDtlsCookie(const BYTE *pSecret);
    CDtlsCookie(const CDtlsCookie &) = delete;
    CDtlsCookie &operator=(const CDtlsCookie &) = delete;

    // The process's cookie maker, used by the link's TLS callbacks.
    static CDtlsCookie &Process();

    // The cookie input of a socket address: its length, 0 for a family other than IPv4 and IPv6.
    static int MakeInput(const void *pSockAddr, BYTE *pInput /* MAX_INPUT_LEN */);
    // The cookie of an input into pCookie (COOKIE_LEN): its length, 0 on failure. Draws the
    // secret first when there is none yet.
    int Make(const BYTE *pInput, int iInputLen, BYTE *pCookie);
    // 1 when the cookie is the one of the input; 0 while no secret exists.
    int Check(const BYTE *pInput, int iInputLen, const BYTE *pCookie, unsigned int uCookieLen);

    // The TLS library's callbacks, on the process's maker.
    static int GenerateCookie(SSL *pSSL, unsigned char *pCookie, unsigned int *pCookieLen);
    static int VerifyCookie(SSL *pSSL, const unsigned char *pCookie, unsigned int uCookieLen);

private:
    // Pool threads may make the first cookies at the same time: they must agree on one secret.
    bool EnsureSecret();
    int Hmac(const BYTE *pInput, int iInputLen, BYTE *pCookie);
    static int PeerInput(SSL *pSSL, BYTE *pInput);

    std::once_flag m_Once;
    BYTE m_bySecret[SECRET_LEN] = {0};
    std::atomic<bool> m_bHaveSecret{false};
};

}  // namespace Vorezi
