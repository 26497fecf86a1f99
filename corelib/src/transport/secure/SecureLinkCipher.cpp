#include "transport/secure/SecureLinkCipher.h"

#include <cstring>
#include <vector>

#include "crypto/Interim.h"

namespace Vorezi {
namespace secure {

CSecureLinkCipher::CSecureLinkCipher() : m_pEncrypt(Interim_CreateVORNEncrypt()) {}

CSecureLinkCipher::~CSecureLinkCipher() {
    if (m_pEncrypt != nullptr) {
        Interim_DestroyVORNEncrypt(m_pEncrypt);
    }
}

void CSecureLinkCipher::SetKey(const uint8_t *pKey) {
    std::lock_guard<std::mutex> lock(m_mutex);
    memcpy(m_byKey, pKey, sizeof(m_byKey));
    m_bEncrypt = true;
}

bool CSecureLinkCipher::IsOn() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEncrypt;
}

bool CSecureLinkCipher::Snapshot(uint8_t *pKey) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    memcpy(pKey, m_byKey, sizeof(m_byKey));
    return m_bEncrypt;
}

bool CSecureLinkCipher::RunAes(bool bEncrypt, const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const {
    uint8_t byKey[SECURE_AES_BLOCK];
    if (!Snapshot(byKey)) {
        if (dwLen != 0) {
            memmove(pOut, pIn, dwLen);
        }
        return true;
    }
    if (dwLen == 0) {
        return true;
    }
    if (m_pEncrypt == nullptr) {
        return false;
    }
    uint32_t dwRounded = (dwLen + SECURE_AES_BLOCK - 1) / SECURE_AES_BLOCK * SECURE_AES_BLOCK;
    std::vector<uint8_t> in(dwRounded, 0);
    std::vector<uint8_t> out(dwRounded, 0);
    memcpy(in.data(), pIn, dwLen);
    MORVA_AES_PARAM param{};
    param.pInterface = m_pEncrypt;
    param.pInputBuf = in.data();
    param.iInputBufLen = int(dwRounded);
    param.pOutputBuf = out.data();
    param.iOutputBufLen = int(dwRounded);
    param.pKey = byKey;
    param.iKeyLen = int(sizeof(byKey));
    int iRet = bEncrypt ? Interim_EncryptByAesEcb(&param) : Interim_DecryptByAesEcb(&param);
    if (iRet != 1) {
        return false;
    }
    // Only the reported length reaches the caller's buffer, never the rounded-up copy.
    memcpy(pOut, out.data(), dwLen);
    return true;
}

bool CSecureLinkCipher::Decrypt(const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const {
    return RunAes(false, pIn, dwLen, pOut);
}

bool CSecureLinkCipher::Encrypt(const uint8_t *pIn, uint32_t dwLen, uint8_t *pOut) const {
    return RunAes(true, pIn, dwLen, pOut);
}

} // namespace secure
} // namespace Vorezi
