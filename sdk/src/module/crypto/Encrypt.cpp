#include "module/crypto/Encrypt.h"

#include <cstring>
#include <string>

#include "morva/MorvaAes.h"
#include "morva/MorvaCrypto.h"
#include "morva/MorvaUtility.h"
#include "utils/SdkLog.h"

namespace ZEVA {

namespace {

const int kMd5Len = 16;
const int kSha256Len = 32;
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

// The CBC operations work on a zeroed copy of kAesCopyLen bytes; a longer input is refused, not cut.
bool CopyForCbc(const char *pName, const uint8_t *pIn, int iInLen, const int *pOutLen, uint8_t *pCopy) {
    if (!pIn || !pOutLen || iInLen <= 0 || iInLen > CEncrypt::kAesCopyLen) {
        ZEVA_LOG_ERR("%s, invalid input, iInLen[%d]", pName, iInLen);
        return false;
    }
    std::memcpy(pCopy, pIn, size_t(iInLen));
    return true;
}

}  // namespace

void *CEncrypt::GetInterface() {
    if (!m_pInterface) {
        m_pInterface.reset(Morva_CreateVORNEncrypt());
        if (!m_pInterface)
            ZEVA_LOG_ERR("CEncrypt::GetInterface, CreateEncrypt error");
    }
    return m_pInterface.get();
}

int CEncrypt::RunAes(AesFunction fnAes, const char *pFailText, const uint8_t *pIn, int iInLen, uint8_t *pOut,
                     int iOutLen, const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen) {
    MORVA_AES_PARAM param{};
    param.pInterface = m_pInterface.get();
    param.pInputBuf = const_cast<uint8_t *>(pIn);
    param.iInputBufLen = iInLen;
    param.pOutputBuf = pOut;
    param.iOutputBufLen = iOutLen;
    param.pKey = const_cast<uint8_t *>(pKey);
    param.iKeyLen = iKeyLen;
    param.pIv = const_cast<uint8_t *>(pIv);
    param.iIvLen = iIvLen;
    if (!fnAes(&param)) {
        ZEVA_LOG_ERR("%s", pFailText);
        return 0;
    }
    return 1;
}

int CEncrypt::AesCbcEncrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutCapacity, int *pOutLen,
                            const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen, int iPadFlag) {
    if (!GetInterface())
        return 0;
    uint8_t byBuf[kAesCopyLen] = {};
    if (!CopyForCbc("CEncrypt::AesCbcEncrypt", pIn, iInLen, pOutLen, byBuf))
        return 0;
    int iPadded = (iInLen + 15) / 16 * 16;
    if (iPadFlag == 1)
        std::memset(byBuf + iInLen, iPadded - iInLen, size_t(iPadded - iInLen));
    int bOk = RunAes(Morva_EncryptByAesCbc, "CEncrypt::AesCbcEncrypt, Morva_EncryptByAesCbc error", byBuf, iPadded,
                     pOut, iOutCapacity, pKey, iKeyLen, pIv, iIvLen);
    explicit_bzero(byBuf, sizeof byBuf);
    if (bOk)
        *pOutLen = iPadded;
    return bOk;
}

int CEncrypt::AesCbcDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutCapacity, int *pOutLen,
                            const uint8_t *pKey, int iKeyLen, const uint8_t *pIv, int iIvLen) {
    if (!GetInterface()) {
        ZEVA_LOG_ERR("CEncrypt::AesCbcDecrypt, struAesParam.pInterface is null");
        return 0;
    }
    uint8_t byBuf[kAesCopyLen] = {};
    if (!CopyForCbc("CEncrypt::AesCbcDecrypt", pIn, iInLen, pOutLen, byBuf))
        return 0;
    *pOutLen = iInLen;
    return RunAes(Morva_DecryptByAesCbc, "CEncrypt::AesCbcDecrypt, Morva_DecryptByAesCbc error", byBuf, iInLen, pOut,
                  iOutCapacity, pKey, iKeyLen, pIv, iIvLen);
}

int CEncrypt::AesEcbEncrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey,
                            int iKeyLen) {
    if (!GetInterface())
        return 0;
    return RunAes(Morva_EncryptByAesEcb, "CEncrypt::AesEcbEncrypt, Morva_EncryptByAesEcb error", pIn, iInLen, pOut,
                  iOutLen, pKey, iKeyLen, nullptr, 0);
}

int CEncrypt::AesEcbDecrypt(const uint8_t *pIn, int iInLen, uint8_t *pOut, int iOutLen, const uint8_t *pKey,
                            int iKeyLen) {
    if (!GetInterface())
        return 0;
    return RunAes(Morva_DecryptByAesEcb, "CEncrypt::AesEcbDecrypt, Morva_EncryptByAesEcb error", pIn, iInLen, pOut,
                  iOutLen, pKey, iKeyLen, nullptr, 0);
}

int CEncrypt::AesEcbEncrypt128(uint8_t *pIn, int iInCapacity, int iInLen, uint8_t *pOut, int iOutCapacity,
                               int *pOutLen, const uint8_t *pKey) {
    // The C module answers 0 or -1.
    return AES_EcbEncrypt128(pIn, iInCapacity, iInLen, pOut, iOutCapacity, pOutLen, pKey) == 0 ? 1 : 0;
}

int CEncrypt::GetRsaPublicKey1024(uint8_t *pKey, int *pKeyLen) {
    void *pInterface = GetInterface();
    if (!pInterface)
        return 0;
    if (!Morva_GeneratePublicKey(pInterface, pKey, pKeyLen)) {
        ZEVA_LOG_ERR("CEncrypt::GetRsaPublicKey1024, Morva_GeneratePublicKey error");
        return 0;
    }
    return 1;
}

int CEncrypt::GetRsaKey2048(uint8_t *pPubKey, int *pPubKeyLen, uint8_t *pPriKey, int *pPriKeyLen) {
    if (!Morva_GenerateRSAKey2048(pPubKey, pPubKeyLen, pPriKey, pPriKeyLen)) {
        ZEVA_LOG_ERR("CEncrypt::GetRsaKey2048, Morva_GenerateRSAKey2048 error");
        return 0;
    }
    return 1;
}

int CEncrypt::RsaDecryptByPrivateKey(const uint8_t *pIn, int iInLen, uint8_t *pOut) {
    void *pInterface = GetInterface();
    if (!pInterface || !pOut)
        return 0;
    std::memset(pOut, 0, kRsa1024Len);
    if (!Morva_DecryptByPrivateKey(pInterface, iInLen, pIn, pOut)) {
        ZEVA_LOG_ERR("CEncrypt::RsaDecryptByPrivateKey, Morva_DecryptByPrivateKey error");
        return 0;
    }
    return 1;
}

int CEncrypt::RsaDecryptByPrivateKey2048(const uint8_t *pIn, int iInLen, const uint8_t *pPriKey, int iPriKeyLen,
                                         uint8_t *pOut, int *pOutLen) {
    if (!pOut || !pOutLen || *pOutLen < kRsa2048Len) {
        ZEVA_LOG_ERR("CEncrypt::RsaDecryptByPrivateKey2048, output below %d bytes", kRsa2048Len);
        return 0;
    }
    std::memset(pOut, 0, kRsa2048Len);
    if (!Morva_DecryptByPrivateKeyEx2048(pIn, iInLen, pOut, pOutLen, pPriKey, iPriKeyLen)) {
        ZEVA_LOG_ERR("CEncrypt::RsaDecryptByPrivateKey2048, Morva_DecryptByPrivateKeyEx2048 error");
        return 0;
    }
    return 1;
}

int CEncrypt::MD5(const uint8_t *pIn, int iInLen, uint8_t *pOut) {
    if (!pIn || !pOut)
        return 0;
    // The core gives the digest as hexadecimal text and logs its own failures; a text left empty
    // is one of them.
    char szHex[2 * kMd5Len + 1] = {};
    Morva_MD5(pIn, iInLen, szHex, 0);
    return szHex[0] && Morva_HexStringToByteArray(szHex, 2 * kMd5Len, pOut, kMd5Len) == kMd5Len ? 1 : 0;
}

int CEncrypt::SHA256(const uint8_t *pIn, int iInLen, uint8_t *pOut) { return Morva_StrSHA256(pIn, iInLen, pOut); }

int CEncrypt::SHA256Hex(const uint8_t *pIn, int iInLen, char *pOut) {
    uint8_t byDigest[kSha256Len];
    if (!pOut || !SHA256(pIn, iInLen, byDigest))
        return 0;
    return Morva_HexEncode(byDigest, kSha256Len, 0, pOut);
}

void CEncrypt::GetRandomHexString(char *pOut) {
    if (pOut)
        Morva_GenRandomString32(pOut);
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
