// OpenSSL's socket BIO sends with write(2), which raises SIGPIPE once the peer has gone. This
// method takes OpenSSL's socket BIO and replaces its write with a send that carries MSG_NOSIGNAL;
// reading, control and set-up stay OpenSSL's.
#include "crypto/QuietSocketBio.h"

#include <sys/socket.h>

#include "crypto/OpenSSLAPI.h"

namespace Vorezi {

namespace {

int QuietWrite(BIO *pBio, const char *pData, int iLen) {
    COpenSSLAPI &api = OpenSSL();
    int fdSocket = static_cast<int>(api.m_fnBioCtrl(pBio, OSSL_BIO_C_GET_FD, 0, nullptr));
    api.m_fnBioClearFlags(pBio, OSSL_BIO_FLAGS_RWS | OSSL_BIO_FLAGS_SHOULD_RETRY);
    int iRet = static_cast<int>(send(fdSocket, pData, static_cast<size_t>(iLen), MSG_NOSIGNAL));
    if (iRet <= 0 && api.m_fnBioSockShouldRetry(iRet))
        api.m_fnBioSetFlags(pBio, OSSL_BIO_FLAGS_WRITE | OSSL_BIO_FLAGS_SHOULD_RETRY);
    return iRet;
}

bool CanMakeMethod(const COpenSSLAPI &api) {
    return api.m_fnBioSSocket && api.m_fnBioMethNew && api.m_fnBioMethFree && api.m_fnBioMethSetWrite &&
           api.m_fnBioMethSetRead && api.m_fnBioMethSetCtrl && api.m_fnBioMethSetCreate && api.m_fnBioMethSetDestroy &&
           api.m_fnBioMethGetRead && api.m_fnBioMethGetCtrl && api.m_fnBioMethGetCreate && api.m_fnBioMethGetDestroy &&
           api.m_fnBioSetFlags && api.m_fnBioClearFlags && api.m_fnBioSockShouldRetry && api.m_fnBioCtrl &&
           api.m_fnBioNew;
}

// Made once and kept for the process: OpenSSL stays loaded once loaded.
BIO_METHOD *MakeMethod() {
    COpenSSLAPI &api = OpenSSL();
    if (!CanMakeMethod(api))
        return nullptr;
    const BIO_METHOD *pSocket = api.m_fnBioSSocket();
    BIO_METHOD *pMethod = pSocket ? api.m_fnBioMethNew(OSSL_BIO_TYPE_SOCKET, "socket, no SIGPIPE") : nullptr;
    if (!pMethod)
        return nullptr;
    if (api.m_fnBioMethSetWrite(pMethod, &QuietWrite) == 1 &&
        api.m_fnBioMethSetRead(pMethod, api.m_fnBioMethGetRead(pSocket)) == 1 &&
        api.m_fnBioMethSetCtrl(pMethod, api.m_fnBioMethGetCtrl(pSocket)) == 1 &&
        api.m_fnBioMethSetCreate(pMethod, api.m_fnBioMethGetCreate(pSocket)) == 1 &&
        api.m_fnBioMethSetDestroy(pMethod, api.m_fnBioMethGetDestroy(pSocket)) == 1)
        return pMethod;
    api.m_fnBioMethFree(pMethod);
    return nullptr;
}

const BIO_METHOD *Method() {
    static BIO_METHOD *const s_pMethod = MakeMethod();
    return s_pMethod;
}

}  // namespace

bool QuietSocketBioAvailable() {
    return Method() != nullptr;
}

BIO *NewQuietSocketBio(int fdSocket) {
    const BIO_METHOD *pMethod = Method();
    if (!pMethod)
        return nullptr;
    COpenSSLAPI &api = OpenSSL();
    BIO *pBio = api.m_fnBioNew(pMethod);
    if (pBio)
        api.m_fnBioCtrl(pBio, OSSL_BIO_C_SET_FD, OSSL_BIO_NOCLOSE, &fdSocket);
    return pBio;
}

}  // namespace Vorezi
