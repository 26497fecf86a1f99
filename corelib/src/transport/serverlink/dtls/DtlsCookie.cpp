#include "transport/serverlink/dtls/DtlsCookie.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <stdexcept>

#include "Module/Log/LogModule.h"
#include "crypto/OpenSSLAPI.h"

namespace Vorezi {

namespace {

constexpr int kBioCtrlDgramGetPeer = 46;

}  // namespace

CDtlsCookie::CDtlsCookie(const BYTE *pSecret) {
    std::call_once(m_Once, [&] {
        std::memcpy(m_bySecret, pSecret, SECRET_LEN);
        m_bHaveSecret.store(true, std::memory_order_release);
    });
}

CDtlsCookie &CDtlsCookie::Process() {
    static CDtlsCookie s_Cookie;
    return s_Cookie;
}

bool CDtlsCookie::EnsureSecret() {
    // A failed draw throws out of the once call, so a later call tries again.
    try {
        std::call_once(m_Once, [this] {
            if (OpenSSL().RAND_bytes(m_bySecret, SECRET_LEN) != 1)
                throw std::runtime_error("RAND_bytes");
            m_bHaveSecret.store(true, std::memory_order_release);
        });
    } catch (const std::exception &) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkRQSDTLS::GenerateCookie, SSLTrans_RAND_Bytes Failed");
        return false;
    }
    return m_bHaveSecret.load(std::memory_order_acquire);
}

int CDtlsCookie::MakeInput(const void *pSockAddr, BYTE *pInput) {
    sockaddr_storage ss;
    std::memcpy(&ss, pSockAddr, sizeof(sa_family_t));
    if (ss.ss_family == AF_INET) {
        sockaddr_in sin;
        std::memcpy(&sin, pSockAddr, sizeof(sin));
        std::memcpy(pInput, &sin.sin_port, 2);
        std::memcpy(pInput + 2, &sin.sin_addr, 4);
        return 6;
    }
    if (ss.ss_family == AF_INET6) {
        sockaddr_in6 sin6;
        std::memcpy(&sin6, pSockAddr, sizeof(sin6));
        std::memcpy(pInput, &sin6.sin6_port, 2);
        std::memcpy(pInput + 2, &sin6.sin6_addr, 16);
        return 18;
    }
    return 0;
}

int CDtlsCookie::Hmac(const BYTE *pInput, int iInputLen, BYTE *pCookie) {
    COpenSSLAPI &api = OpenSSL();
    const EVP_MD *pMd = api.EVP_sha1(static_cast<const EVP_MD *>(nullptr));
    unsigned int uLen = 0;
    if (!pMd || !api.HMAC(pMd, m_bySecret, SECRET_LEN, pInput, (size_t)iInputLen, pCookie, &uLen,
                          static_cast<unsigned char *>(nullptr)))
        return 0;
    return (int)uLen;
}

int CDtlsCookie::Make(const BYTE *pInput, int iInputLen, BYTE *pCookie) {
    if (!EnsureSecret())
        return 0;
    return Hmac(pInput, iInputLen, pCookie);
}

int CDtlsCookie::Check(const BYTE *pInput, int iInputLen, const BYTE *pCookie, unsigned int uCookieLen) {
    if (!m_bHaveSecret.load(std::memory_order_acquire))
        return 0;
    BYTE byExpected[COOKIE_LEN];
    const int iLen = Hmac(pInput, iInputLen, byExpected);
    return iLen > 0 && (unsigned int)iLen == uCookieLen && std::memcmp(byExpected, pCookie, uCookieLen) == 0 ? 1 : 0;
}

int CDtlsCookie::PeerInput(SSL *pSSL, BYTE *pInput) {
    COpenSSLAPI &api = OpenSSL();
    BIO *pBio = api.SSL_get_rbio(pSSL, static_cast<BIO *>(nullptr));
    if (!pBio)
        return 0;
    sockaddr_storage peer;
    std::memset(&peer, 0, sizeof(peer));
    if (api.BIO_ctrl(pBio, kBioCtrlDgramGetPeer, 0L, static_cast<void *>(&peer), 0L) <= 0)
        return 0;
    return MakeInput(&peer, pInput);
}

int CDtlsCookie::GenerateCookie(SSL *pSSL, unsigned char *pCookie, unsigned int *pCookieLen) {
    BYTE byInput[MAX_INPUT_LEN];
    const int iInputLen = PeerInput(pSSL, byInput);
    if (iInputLen == 0)
        return 0;
    const int iLen = Process().Make(byInput, iInputLen, pCookie);
    if (iLen <= 0)
        return 0;
    *pCookieLen = (unsigned int)iLen;
    return 1;
}

int CDtlsCookie::VerifyCookie(SSL *pSSL, const unsigned char *pCookie, unsigned int uCookieLen) {
    BYTE byInput[MAX_INPUT_LEN];
    const int iInputLen = PeerInput(pSSL, byInput);
    return iInputLen != 0 && Process().Check(byInput, iInputLen, pCookie, uCookieLen);
}

}  // namespace Vorezi
