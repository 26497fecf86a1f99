#include "transport/secure/SecureCommandReader.h"

#include <cstring>

namespace Vorezi {
namespace secure {

bool CSecureDeviceToken::Accept(const uint8_t *pToken) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bKnown) {
        memcpy(m_byToken, pToken, SECURE_TOKEN_LEN);
        m_bKnown = true;
        return true;
    }
    return memcmp(m_byToken, pToken, SECURE_TOKEN_LEN) == 0;
}

void CSecureDeviceToken::Set(const char *pText, uint32_t dwLen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    memset(m_byToken, 0, sizeof(m_byToken));
    memcpy(m_byToken, pText, dwLen < SECURE_TOKEN_LEN ? dwLen : SECURE_TOKEN_LEN);
    m_bKnown = true;
}

bool CSecureDeviceToken::Get(uint8_t *pToken) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    memcpy(pToken, m_byToken, SECURE_TOKEN_LEN);
    return m_bKnown;
}

bool BuildDataFrame(SecureDataHead head, const uint8_t *pData, uint32_t dwLen, const CSecureLinkCipher &cipher,
                    const CSecureDeviceToken &token, std::vector<uint8_t> *pFrame) {
    uint32_t dwPadded = SecurePaddedLen(dwLen);
    head.dwLength = SECURE_DATA_HEAD_LEN + dwPadded;
    head.dwPlainLen = dwLen;
    head.byCmdHeadLen = SECURE_DATA_HEAD_LEN;
    head.byVersion = 4;
    uint8_t byToken[SECURE_TOKEN_LEN];
    if (token.Get(byToken)) {
        if (!cipher.Encrypt(byToken, SECURE_TOKEN_LEN, head.byToken)) {
            return false;
        }
    } else {
        memset(head.byToken, 0, SECURE_TOKEN_LEN);
    }
    pFrame->assign(head.dwLength, 0);
    if (dwLen != 0) {
        memcpy(pFrame->data() + SECURE_DATA_HEAD_LEN, pData, dwLen);
        uint8_t *pBody = pFrame->data() + SECURE_DATA_HEAD_LEN;
        if (!cipher.Encrypt(pBody, dwPadded, pBody)) {
            return false;
        }
    }
    BuildDataHead(head, pFrame->data());
    return true;
}

CSecureCommandReader::CSecureCommandReader() : m_recv(SECURE_RECV_BUF_LEN), m_decrypted(SECURE_RECV_BUF_LEN) {}

void CSecureCommandReader::Drop() {
    memset(m_decrypted.data(), 0, m_dwDecryptDataLen);
    m_dwDecryptDataLen = 0;
}

SecureReadResult CSecureCommandReader::Fail(SecureReadResult result) {
    // A framing error would otherwise stay at the front of the buffer and break every later packet.
    m_dwRecvOffset = 0;
    Drop();
    return result;
}

SecureReadResult CSecureCommandReader::Input(const uint8_t *pData, uint32_t dwLen, const CSecureLinkCipher &cipher,
                                             CSecureDeviceToken &token) {
    if (dwLen > SECURE_RECV_BUF_LEN - m_dwRecvOffset) {
        return Fail(SecureReadResult::BufferNotEnough);
    }
    memcpy(m_recv.data() + m_dwRecvOffset, pData, dwLen);
    m_dwRecvOffset += dwLen;
    if (m_dwRecvOffset < SECURE_DATA_HEAD_LEN) {
        return Fail(SecureReadResult::CheckHeadLen);
    }
    while (m_dwRecvOffset >= SECURE_DATA_HEAD_LEN) {
        uint32_t dwUsed = 0;
        SecureReadResult result = ReadOneHead(cipher, token, &dwUsed);
        if (result != SecureReadResult::Ok) {
            return Fail(result);
        }
        if (dwUsed == 0) {
            // A head of length 0 ends the packet; what follows it cannot be framed.
            m_dwRecvOffset = 0;
            break;
        }
        memmove(m_recv.data(), m_recv.data() + dwUsed, m_dwRecvOffset - dwUsed);
        m_dwRecvOffset -= dwUsed;
    }
    return SecureReadResult::Ok;
}

SecureReadResult CSecureCommandReader::ReadOneHead(const CSecureLinkCipher &cipher, CSecureDeviceToken &token,
                                                   uint32_t *pUsed) {
    SecureDataHead &head = m_lastHead;
    if (!ParseDataHead(m_recv.data(), m_dwRecvOffset, &head)) {
        return SecureReadResult::ParseHeadFailed;
    }
    if (head.dwLength > m_dwRecvOffset || head.byCmdHeadLen > m_dwRecvOffset || head.dwLength < head.byCmdHeadLen) {
        return SecureReadResult::InvalidLength;
    }
    uint32_t dwDataLen = head.dwLength - head.byCmdHeadLen;
    if (head.dwPlainLen > dwDataLen) {
        return SecureReadResult::PlainTooLong;
    }
    uint8_t byToken[SECURE_TOKEN_LEN];
    if (!cipher.Decrypt(head.byToken, SECURE_TOKEN_LEN, byToken)) {
        return SecureReadResult::DecryptFailed;
    }
    memcpy(head.byToken, byToken, SECURE_TOKEN_LEN);
    if (!token.Accept(byToken)) {
        ++m_dwTokenMismatches;
        return SecureReadResult::TokenMismatch;
    }
    bool bInfo = head.byInfoFlag == 1 && head.dwCommand != 0;
    uint32_t dwNeed = (bInfo ? SECURE_INFO_BLOCK_LEN : 0) + dwDataLen;
    if (dwNeed > SECURE_RECV_BUF_LEN - m_dwDecryptDataLen) {
        return SecureReadResult::NoSpace;
    }
    if (bInfo) {
        // Placed where this head's data begin, so that several heads never overwrite each other.
        BuildInfoBlock(head, m_decrypted.data() + m_dwDecryptDataLen);
        m_dwDecryptDataLen += SECURE_INFO_BLOCK_LEN;
    }
    if (!cipher.Decrypt(m_recv.data() + head.byCmdHeadLen, dwDataLen, m_decrypted.data() + m_dwDecryptDataLen)) {
        return SecureReadResult::DecryptFailed;
    }
    // Only the plain bytes count; the padding behind them is overwritten by the next head.
    m_dwDecryptDataLen += head.dwPlainLen;
    *pUsed = head.dwLength;
    return SecureReadResult::Ok;
}

} // namespace secure
} // namespace Vorezi
