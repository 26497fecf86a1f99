#include "transport/secure/SecureHandshake.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"

namespace Vorezi {
namespace secure {
namespace {

constexpr int kPublicKeyBuf = 256;
constexpr int kPrivateKeyBuf = 1024;

} // namespace

uint32_t CSecureHandshake::ParseCapability(const SecureHelloHead &head) {
    uint32_t dwResult = SECURE_HELLO_OK;
    for (uint32_t i = 0; i < 3; ++i) {
        if ((head.dwCapability[i] & 1) == 0) {
            dwResult = SECURE_HELLO_NO_CAPABILITY + i;
        }
        m_dwCapability[i] = 1;
    }
    return dwResult;
}

uint32_t CSecureHandshake::ParseKeyExchange(const uint8_t *pData, uint32_t dwLen, const SecureHelloHead &head,
                                            CSecureLinkCipher &cipher, Outcome *pOutcome) {
    const uint8_t *pKey = nullptr;
    uint16_t wKeyLen = 0;
    if (!ParseKeyBlock(pData, dwLen, head, &pKey, &wKeyLen) || wKeyLen > SECURE_MAX_LINK_KEY_LEN) {
        return SECURE_HELLO_REFUSED;
    }
    CRSAKey *pCache = GetCoreGlobalCtrl()->GetRSAEncrypt();
    if (pCache == nullptr) {
        *pOutcome = Outcome::NoKeyCache;
        return SECURE_HELLO_REFUSED;
    }
    if (m_priKey.empty()) {
        return SECURE_HELLO_REFUSED; // no public key was handed out yet
    }
    uint8_t byLinkKey[kPrivateKeyBuf] = {};
    int iLinkKeyLen = int(sizeof(byLinkKey));
    if (pCache->DecryptData(m_priKey.data(), int(m_priKey.size()), pKey, wKeyLen, byLinkKey, &iLinkKeyLen) != 1) {
        return SECURE_HELLO_REFUSED;
    }
    cipher.SetKey(byLinkKey);
    m_bSecureFraming.store(true, std::memory_order_release);
    return SECURE_HELLO_OK;
}

CSecureHandshake::Outcome CSecureHandshake::Process(const uint8_t *pData, uint32_t dwLen, CSecureLinkCipher &cipher,
                                                    std::vector<uint8_t> *pAnswer, uint32_t *pParseResult) {
    Outcome outcome = Outcome::Answered;
    SecureHelloHead head;
    uint32_t dwResult = SECURE_HELLO_REFUSED;
    bool bGiveKey = false;
    if (ParseHelloHead(pData, dwLen, &head)) {
        m_byLastType = head.byPackageType;
        if (head.byPackageType == SECURE_HELLO_CAPABILITY) {
            dwResult = ParseCapability(head);
            bGiveKey = dwResult == SECURE_HELLO_OK;
        } else if (head.byPackageType == SECURE_HELLO_KEY_EXCHANGE) {
            dwResult = ParseKeyExchange(pData, dwLen, head, cipher, &outcome);
        }
    }
    *pParseResult = dwResult;
    if (outcome != Outcome::Answered) {
        return outcome;
    }
    bool bKeyAccepted = dwResult == SECURE_HELLO_OK && head.byPackageType == SECURE_HELLO_KEY_EXCHANGE;
    pAnswer->assign(SECURE_HELLO_HEAD_LEN, 0);
    BuildHelloAnswer(pAnswer->data(), m_dwCapability, bKeyAccepted ? SECURE_STATUS_KEY_ACCEPTED : SECURE_STATUS_HELLO);
    if (!bGiveKey) {
        return Outcome::Answered;
    }
    CRSAKey *pCache = GetCoreGlobalCtrl()->GetRSAEncrypt();
    if (pCache == nullptr) {
        return Outcome::NoKeyCache;
    }
    uint8_t byPub[kPublicKeyBuf];
    uint8_t byPri[kPrivateKeyBuf];
    int iPubLen = kPublicKeyBuf;
    int iPriLen = kPrivateKeyBuf;
    if (pCache->GetRSAKey(byPub, &iPubLen, byPri, &iPriLen) != 1 || iPubLen <= 0 || iPubLen > kPublicKeyBuf ||
        iPriLen <= 0 || iPriLen > kPrivateKeyBuf) {
        return Outcome::NoKeyPair;
    }
    m_priKey.assign(byPri, byPri + iPriLen);
    pAnswer->push_back(uint8_t(iPubLen >> 8));
    pAnswer->push_back(uint8_t(iPubLen));
    pAnswer->insert(pAnswer->end(), byPub, byPub + iPubLen);
    return Outcome::Answered;
}

} // namespace secure
} // namespace Vorezi
