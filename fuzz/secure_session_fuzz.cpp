// Datagrams into one datagram peer's server session: the first byte picks a plain session or one
// that has run a real key exchange for a fixed link key (so the encrypted paths are reached),
// then each datagram is a big-endian u16 length and its bytes. The session has no endpoint, so
// its answers go nowhere; a destroy verdict ends the input.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/secure/SecurePacket.h"

using namespace Vorezi;
using namespace Vorezi::secure;

namespace {

const uint8_t kLinkKey[SECURE_AES_BLOCK] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                            0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

void Sum(int32_t, SECURE_CALLBACK_DATA *p, void *) {
    volatile uint8_t bySum = 0;
    for (uint32_t k = 0; k < p->dwDataLen; ++k)
        bySum = uint8_t(bySum + p->pData[k]);
}

int Input(CSecureServerLinkMgr *pMgr, int h, const std::vector<uint8_t> &datagram) {
    SECURE_RECV_DATA recv = {};
    recv.iVRUDPHandle = -1;
    recv.pData = datagram.data();
    recv.dwDataLen = uint32_t(datagram.size());
    recv.pDeviceID = "";
    strcpy(recv.szAddr, "127.0.0.1");
    recv.wPort = 9;
    recv.bWithoutVRUDP = 1;
    return pMgr->InputData(h, &recv, 0);
}

std::vector<uint8_t> Hello(uint8_t byType) {
    std::vector<uint8_t> p(SECURE_HELLO_HEAD_LEN, 0);
    memcpy(p.data(), "QDSC", 4);
    p[5] = SECURE_HELLO_HEAD_LEN;
    p[7] = byType;
    p[11] = p[15] = p[19] = 1;
    return p;
}

// The capability hello hands the cached key pair to the session; the key exchange encrypts the
// fixed link key under the same cached public key.
bool ExchangeKey(CSecureServerLinkMgr *pMgr, int h) {
    if (Input(pMgr, h, Hello(SECURE_HELLO_CAPABILITY)) != ENUM_PROCDATA_SUCC)
        return false;
    uint8_t byPub[256], byPri[1024];
    int iPub = sizeof(byPub), iPri = sizeof(byPri);
    if (GetCoreGlobalCtrl()->GetRSAEncrypt()->GetRSAKey(byPub, &iPub, byPri, &iPri) != 1)
        return false;
    const unsigned char *p = byPub;
    RSA *rsa = d2i_RSAPublicKey(nullptr, &p, iPub);
    if (rsa == nullptr)
        return false;
    std::vector<uint8_t> ex = Hello(SECURE_HELLO_KEY_EXCHANGE);
    ex.push_back(0);
    ex.push_back(uint8_t(RSA_size(rsa)));
    ex.resize(ex.size() + size_t(RSA_size(rsa)));
    RSA_public_encrypt(sizeof(kLinkKey), kLinkKey, ex.data() + SECURE_HELLO_HEAD_LEN + 2, rsa, RSA_PKCS1_PADDING);
    RSA_free(rsa);
    return Input(pMgr, h, ex) == ENUM_PROCDATA_SUCC;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t dwSize) {
    static const bool bInited = GetCoreGlobalCtrl()->Init() == 1;
    CSecureServerLinkMgr *pMgr = bInited ? GetCoreGlobalCtrl()->GetSecureLinkMgr() : nullptr;
    if (pMgr == nullptr || dwSize == 0)
        return 0;
    SECURE_SERVER_CREATE create = {};
    create.iListenHandle = -1;
    strcpy(create.szAddr, "127.0.0.1");
    create.wPort = 9;
    create.bWithoutVRUDP = 1;
    create.fnDataCB = Sum;
    create.iVRUDPHandle = -1;
    const int h = pMgr->Create(&create);
    if (h < 0)
        abort();
    if ((pData[0] & 1) && !ExchangeKey(pMgr, h))
        abort();
    size_t i = 1;
    while (i + 2 <= dwSize) {
        size_t dwLen = (size_t(pData[i]) << 8) | pData[i + 1];
        i += 2;
        if (dwLen > dwSize - i)
            dwLen = dwSize - i;
        // A copy of exactly the datagram, so that any read past it is caught.
        std::vector<uint8_t> datagram(pData + i, pData + i + dwLen);
        i += dwLen;
        if (Input(pMgr, h, datagram) == ENUM_PROCDATA_DESTROY_SESSION)
            break;
    }
    pMgr->Destroy(h);
    return 0;
}
