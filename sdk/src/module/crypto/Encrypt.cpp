#include "module/crypto/Encrypt.h"

#include <string>

#include "morva/MorvaCrypto.h"
#include "utils/SdkLog.h"

namespace ZEVA {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return c == '=' ? 64 : -1;
}

}  // namespace

CEncrypt::~CEncrypt() {
    if (m_pInterface)
        Morva_DestroyVORNEncrypt(m_pInterface);
}

void *CEncrypt::GetInterface() {
    if (!m_pInterface) {
        m_pInterface = Morva_CreateVORNEncrypt();
        if (!m_pInterface)
            ZEVA_LOG_ERR("CEncrypt::GetInterface, CreateEncrypt error");
    }
    return m_pInterface;
}

int CEncrypt::AesEcbDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey,
                            int iKeyLen) {
    MORVA_AES_PARAM param{};
    param.pInterface = GetInterface();
    if (!param.pInterface)
        return 0;
    param.pInputBuf = const_cast<uint8_t *>(pIn);
    param.iInputBufLen = iInLen;
    param.pOutputBuf = pOut;
    param.iOutputBufLen = iOutLen;
    param.pKey = const_cast<uint8_t *>(pKey);
    param.iKeyLen = iKeyLen;
    if (!Morva_DecryptByAesEcb(&param)) {
        ZEVA_LOG_ERR("CEncrypt::AesEcbDecrypt, Morva_EncryptByAesEcb error");
        return 0;
    }
    return 1;
}

uint32_t CEncrypt::Base64_Encode(const uint8_t *pIn, uint32_t dwInLen, char *pOut, uint32_t dwOutCapacity) {
    if (!pIn || !pOut)
        return 0;
    if (dwInLen == 0)
        dwInLen = uint32_t(std::char_traits<char>::length(reinterpret_cast<const char *>(pIn)));
    std::string text;
    text.reserve((dwInLen + 2) / 3 * 4);
    for (uint32_t i = 0; i < dwInLen; i += 3) {
        uint32_t rest = dwInLen - i;
        uint32_t group = uint32_t(pIn[i]) << 16 | (rest > 1 ? uint32_t(pIn[i + 1]) << 8 : 0) |
                         (rest > 2 ? pIn[i + 2] : 0);
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += rest > 1 ? kAlphabet[group >> 6 & 63] : '=';
        text += rest > 2 ? kAlphabet[group & 63] : '=';
    }
    if (text.size() >= dwOutCapacity)
        return 0;
    text.copy(pOut, text.size());
    return uint32_t(text.size());
}

int CEncrypt::Base64_Decode(const char *pText, uint32_t dwTextLen, uint8_t *pOut, uint32_t dwOutCapacity) {
    if (!pText || !pOut)
        return -1;
    uint32_t written = 0;
    int quad[4];
    int filled = 0;
    for (uint32_t i = 0; i < dwTextLen && pText[i]; ++i) {
        int v = Base64Value(pText[i]);
        if (v < 0)
            continue;
        quad[filled++] = v;
        if (filled < 4)
            continue;
        filled = 0;
        // A '=' in the third or fourth place ends the group early.
        uint32_t bytes = quad[0] == 64 || quad[1] == 64 ? 0 : quad[2] == 64 ? 1 : quad[3] == 64 ? 2 : 3;
        uint32_t group = uint32_t(quad[0] & 63) << 18 | uint32_t(quad[1] & 63) << 12 | uint32_t(quad[2] & 63) << 6 |
                         uint32_t(quad[3] & 63);
        if (written + bytes > dwOutCapacity)
            return -1;
        for (uint32_t b = 0; b < bytes; ++b)
            pOut[written++] = uint8_t(group >> (16 - 8 * b));
    }
    return int(written);
}

}  // namespace ZEVA
