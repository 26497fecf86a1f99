// The protocol-3.1 requests. Plain values are escaped for XML as in the 3.0 texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morva/MorvaUtility.h"
#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/MulticastProtocol_V31.h"
#include "module/protocol/ProbeXml.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"

namespace ZEVA {

namespace {

constexpr uint32_t kPrefix = CMulticastProtocol_V31::AES_BLOCK;
constexpr uint32_t kPlainMax = CEncrypt::kAesCopyLen - kPrefix;  // R's 16 bytes go before the plaintext
constexpr uint32_t kPasswordOut = 64;
constexpr uint32_t kAuthFileMax = 512;

#define PROBE_HEAD "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><MAC>%s</MAC><Types>"

int Fail(uint32_t dwError, const char *pLine) {
    ZEVA_LOG_ERR("%s", pLine);
    SetSdkLastError(dwError);
    return 0;
}

std::string Field(const char *p, size_t n) { return std::string(p, strnlen(p, n)); }

std::string Bytes(const uint8_t *p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }

const uint8_t *Data(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

const char *TrueFalse(bool b) { return b ? "true" : "false"; }

uint8_t Number8(const char *pText) { return pText ? uint8_t(std::strtol(pText, nullptr, 10)) : 0; }

}  // namespace

// -- building blocks -------------------------------------------------------------------------

int CMulticastProtocol_V31::DecryptExchangeCode_V31(const char *pExchangeCode, uint8_t *pRandom) {
    if (!pExchangeCode || !pRandom)
        return 0;
    uint8_t cipher[CEncrypt::kRsa2048Len * 2] = {};
    int n = CEncrypt::Base64_Decode(pExchangeCode, uint32_t(std::strlen(pExchangeCode)), cipher, sizeof cipher);
    uint8_t plain[CEncrypt::kRsa2048Len] = {};
    int plainLen = sizeof plain;
    if (n <= 0 || m_dwPriKeyLen == 0 ||
        !m_Encrypt.RsaDecryptByPrivateKey2048(cipher, n, m_byPriKey, int(m_dwPriKeyLen), plain, &plainLen))
        return 0;
    std::memcpy(pRandom, plain, kPrefix);
    return 1;
}

int CMulticastProtocol_V31::DigestPassword_V31(const char *pUserName, const char *pPassword, const char *pSalt,
                                               const char *pSalt2, uint8_t *pOut) {
    std::string user = pUserName ? pUserName : "";
    std::string first = user + (pSalt ? pSalt : "") + (pPassword ? Field(pPassword, 16) : "");
    if (!m_Encrypt.SHA256(Data(first), int(first.size()), pOut))
        return 0;
    if (!pSalt2 || !pSalt2[0])
        return 1;
    std::string second = user + pSalt2 + Field(reinterpret_cast<const char *>(pOut), 32);
    return m_Encrypt.SHA256(Data(second), int(second.size()), pOut);
}

int CMulticastProtocol_V31::CreateKey_V31(const uint8_t *pRandom, const char *pType, const uint8_t *pDigest,
                                          uint8_t *pOut) {
    std::string text = Field(reinterpret_cast<const char *>(pRandom), kPrefix) + (pType ? pType : "") +
                       Field(reinterpret_cast<const char *>(pDigest), 32);
    uint8_t hash[32];
    if (!m_Encrypt.SHA256(Data(text), int(text.size()), hash))
        return 0;
    std::memcpy(pOut, hash, AES_BLOCK);
    return 1;
}

int CMulticastProtocol_V31::AesEncrypt_Base64(const uint8_t *pIn, uint32_t dwLen, const uint8_t *pKey,
                                              const uint8_t *pIv, char *pOut, uint32_t dwOutSize) {
    uint8_t cipher[CEncrypt::kAesCopyLen] = {};
    int cipherLen = 0;
    if (dwLen > sizeof cipher || !m_Encrypt.AesCbcEncrypt(pIn, int(dwLen), cipher, int(sizeof cipher), &cipherLen,
                                                          pKey, AES_BLOCK, pIv, AES_BLOCK, 0))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::AesEncrypt_Base64] AesCbcEncrypt failed");
    std::memset(pOut, 0, dwOutSize);
    if (CEncrypt::Base64_Encode(cipher, uint32_t(cipherLen), pOut, dwOutSize) == 0)
        return Fail(ZEVA_ERR_BASE64, "[CMulticastProtocol_V31::AesEncrypt_Base64] Base64_Encode failed");
    return 1;
}

int CMulticastProtocol_V31::CreateIv_V31(char *pIvText, uint8_t *pIv) {
    CEncrypt::GetRandomHexString(pIvText);
    pIvText[IV_TEXT_LEN] = '\0';
    return Morva_HexStringToByteArray(pIvText, int(IV_TEXT_LEN), pIv, int(AES_BLOCK)) == int(AES_BLOCK) ? 1 : 0;
}

// R, the digest, the key and a fresh IV into the object; pFunc names the caller in the log lines.
int CMulticastProtocol_V31::DeriveKey_V31(const char *pExchangeCode, const char *pType, const char *pUserName,
                                          const char *pPassword, const char *pSalt, const char *pSalt2,
                                          const char *pFunc, uint8_t *pRandom, char *pIvText) {
    if (!DecryptExchangeCode_V31(pExchangeCode, pRandom)) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::%s] DecryptExchangeCode_V31 failed", pFunc);
        return 0;
    }
    uint8_t digest[32] = {};
    if (!DigestPassword_V31(pUserName, pPassword, pSalt, pSalt2, digest)) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::%s] DigestPassword_V31 failed", pFunc);
        return 0;
    }
    if (!CreateKey_V31(pRandom, pType, digest, m_byKey)) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::%s] CreateKey_V31 failed", pFunc);
        return 0;
    }
    if (!CreateIv_V31(pIvText, m_byIv))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::DeriveKey_V31] CreateIv_V31 failed");
    return 1;
}

int CMulticastProtocol_V31::EncryptConfig_V31(const uint8_t *pPlain, uint32_t dwLen, const char *pType,
                                              const char *pUserName, const char *pPassword, const char *pSalt,
                                              const char *pSalt2, const char *pExchangeCode, char *pOut,
                                              uint32_t dwOutSize, char *pIvText) {
    // R goes before the plaintext, and both must fit the cipher's copy.
    if (dwLen > kPlainMax) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::EncryptConfig_V31] dwDataLen[%d] is invalid", int(dwLen));
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    uint8_t random[kPrefix];
    if (!DeriveKey_V31(pExchangeCode, pType, pUserName, pPassword, pSalt, pSalt2, "EncryptConfig_V31", random,
                       pIvText))
        return 0;
    std::vector<uint8_t> plain(random, random + kPrefix);
    if (dwLen)
        plain.insert(plain.end(), pPlain, pPlain + dwLen);
    return AesEncrypt_Base64(plain.data(), uint32_t(plain.size()), m_byKey, m_byIv, pOut, dwOutSize);
}

// R under the key R itself and a fresh IV: activation and the code reset. pFunc names the caller
// in the log line (activation has always logged under the answer reset's name).
int CMulticastProtocol_V31::RandomAndIv(const char *pExchangeCode, const char *pFunc, uint8_t *pRandom,
                                        char *pIvText, uint8_t *pIv) {
    if (!DecryptExchangeCode_V31(pExchangeCode, pRandom)) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::%s] DecryptExchangeCode_V31 failed.", pFunc);
        return 0;
    }
    if (!CreateIv_V31(pIvText, pIv))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::RandomAndIv] CreateIv_V31 failed");
    return 1;
}

// -- requests --------------------------------------------------------------------------------

int CMulticastProtocol_V31::PackageExchangeCode_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                    uint32_t *pOutLen) {
    int pubLen = CEncrypt::kRsa2048Len * 2;
    int priLen = int(sizeof m_byPriKey);
    char code[2048] = {};
    if (!m_Encrypt.GetRsaKey2048(m_byPubKey, &pubLen, m_byPriKey, &priLen) ||
        CEncrypt::Base64_Encode(m_byPubKey, uint32_t(pubLen), code, sizeof code) == 0) {
        m_dwPubKeyLen = m_dwPriKeyLen = 0;
        return Fail(ZEVA_ERR_RSA_KEY, "[CMulticastProtocol_V31::PackageExchangeCode_V31] GeneratePublicKey error");
    }
    m_dwPubKeyLen = uint32_t(pubLen);
    m_dwPriKeyLen = uint32_t(priLen);
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "exchangecode_v31</Types><Code>%s</Code></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), code);
}

int CMulticastProtocol_V31::PackageActivate_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                uint32_t *pOutLen) {
    uint8_t random[kPrefix], iv[AES_BLOCK];
    char ivText[IV_TEXT_LEN + 1];
    if (!RandomAndIv(req.pExchangeCode, "PackageAnswerReset_V31", random, ivText, iv))
        return 0;
    std::string plain = Bytes(random, kPrefix) + Field(req.pPassword, 16);
    char pw[kPasswordOut];
    if (!AesEncrypt_Base64(Data(plain), uint32_t(plain.size()), random, iv, pw, sizeof pw))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "activate_v31</Types><Password>%s</Password><Iv>%s</Iv></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), pw, ivText);
}

int CMulticastProtocol_V31::EncryptPasswordOnly(const PROBE_REQUEST &req, const char *pKeyWord,
                                                const char *pPassword, char (&pw)[64], char (&iv)[IV_TEXT_LEN + 1]) {
    return EncryptConfig_V31(nullptr, 0, pKeyWord, req.pUserName, pPassword, req.pSalt, req.pSalt2,
                             req.pExchangeCode, pw, sizeof pw, iv);
}

// A request whose one secret is R under the derived key; the password is at the start of the
// record.
int CMulticastProtocol_V31::PackagePasswordOnly_V31(const PROBE_REQUEST &req, const char *pWord,
                                                    const char *pKeyWord, bool bIv, char *pOut, uint32_t dwOutSize,
                                                    uint32_t *pOutLen) {
    char pw[64], iv[IV_TEXT_LEN + 1];
    if (!req.pIn) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::PackagePasswordOnly_V31] %s: no record", pWord);
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    if (!EncryptPasswordOnly(req, pKeyWord, reinterpret_cast<const char *>(req.pIn), pw, iv))
        return 0;
    std::string ivElement = bIv ? std::string("<Iv>") + iv + "</Iv>" : "";
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "%s</Types><Password>%s</Password>%s</Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), pWord, pw, ivElement.c_str());
}

int CMulticastProtocol_V31::PackageExportGUID_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                  uint32_t *pOutLen) {
    return PackagePasswordOnly_V31(req, "ExportGUID_v31", "ExportGUID_v31", true, pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageTovukUnbind_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                   uint32_t *pOutLen) {
    return PackagePasswordOnly_V31(req, "tovukUnbind_v31", "tovukUnbind_v31", true, pOut, dwOutSize, pOutLen);
}

// The key word is the type word cut to 15 characters (a 16-byte buffer), and no Iv is sent;
// whether devices expect that of this request is not known.
int CMulticastProtocol_V31::PackageRestoreInactive_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                       uint32_t *pOutLen) {
    return PackagePasswordOnly_V31(req, "restoreInactive_v31", "restoreInactive", false, pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageTovukUserToken_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                      uint32_t *pOutLen) {
    if (!req.pIn)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageTovukUserToken_V31] invalid param.");
    const char *token = reinterpret_cast<const char *>(req.pIn + 4);
    std::string text = Field(token, 16);
    std::vector<char> out(CEncrypt::kAesCopyLen * 2);
    char iv[IV_TEXT_LEN + 1];
    if (!EncryptConfig_V31(Data(text), uint32_t(text.size()), "SetUserToken", req.pUserName,
                           reinterpret_cast<const char *>(req.pIn + 20), req.pSalt, "", req.pExchangeCode, out.data(),
                           uint32_t(out.size()), iv))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetUserToken</Types><Iv>%s</Iv><UserToken>%s</UserToken></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), iv, out.data());
}

int CMulticastProtocol_V31::PackageUpdateData_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                  uint32_t *pOutLen) {
    auto *np = reinterpret_cast<const ZEVA_NET_PARAM *>(req.pIn);
    char pw[64], iv[IV_TEXT_LEN + 1];
    if (!np)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageUpdateData_V31] invalid param.");
    if (!EncryptPasswordOnly(req, "update_v31", req.pPassword, pw, iv))
        return 0;
    auto text = [](const char *p, size_t n) { return EscapeXml(Field(p, n).c_str()); };
    return PrintProbe(
        pOut, dwOutSize, pOutLen,
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><Types>update_v31</Types>"
        "<PWErrorParse>true</PWErrorParse><MAC>%s</MAC><Password>%s</Password><Iv>%s</Iv>"
        "<CommandPort>%d</CommandPort><HttpPort>%d</HttpPort><IPv4Address>%s</IPv4Address>"
        "<IPv4SubnetMask>%s</IPv4SubnetMask><IPv4Gateway>%s</IPv4Gateway><IPv6Address>%s</IPv6Address>"
        "<IPv6Gateway>%s</IPv6Gateway><IPv6MaskLen>%d</IPv6MaskLen><DHCP>%s</DHCP>"
        "<SDKOverTLSPort>%d</SDKOverTLSPort></Probe>",
        req.pUuid, EscapeXml(req.pMAC).c_str(), pw, iv, int(np->wCmdPort), int(np->wHttpPort),
        text(np->szIPv4Address, sizeof np->szIPv4Address).c_str(),
        text(np->szIPv4SubNetMask, sizeof np->szIPv4SubNetMask).c_str(),
        text(np->szIPv4Gateway, sizeof np->szIPv4Gateway).c_str(),
        text(np->szIPv6Address, sizeof np->szIPv6Address).c_str(),
        text(np->szIPv6Gateway, sizeof np->szIPv6Gateway).c_str(), int(np->byIPv6MaskLen),
        TrueFalse(np->byDhcpEnable == 1), int(np->dwSDKOverTLSPort));
}

int CMulticastProtocol_V31::PackagePlain_V31(const PROBE_REQUEST &req, const char *pWord, char *pOut,
                                             uint32_t dwOutSize, uint32_t *pOutLen) {
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "%s</Types></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), pWord);
}

int CMulticastProtocol_V31::PackageGetCode_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                               uint32_t *pOutLen) {
    return PackagePlain_V31(req, "getcode_v31", pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageGetEncryptString_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                        uint32_t *pOutLen) {
    return PackagePlain_V31(req, "getencryptstring_v31", pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageGetQRcodes_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                  uint32_t *pOutLen) {
    return PackagePlain_V31(req, "GetQRcodes_v31", pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageSetKWPlatform_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                     uint32_t *pOutLen) {
    char pw[64], iv[IV_TEXT_LEN + 1];
    if (!req.pIn)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageSetKWPlatform_V31] invalid param.");
    if (!EncryptPasswordOnly(req, "SetKWPlatform_v31", reinterpret_cast<const char *>(req.pIn + 8), pw, iv))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetKWPlatform_v31</Types><KWPlatformEnable>%s</KWPlatformEnable>"
                                 "<Password>%s</Password><Iv>%s</Iv></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), TrueFalse(req.pIn[4] == 1), pw, iv);
}

int CMulticastProtocol_V31::PackageSetMailBox_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                  uint32_t *pOutLen) {
    auto *cfg = reinterpret_cast<const ZEVA_MAILBOX_CFG *>(req.pIn);
    if (!cfg)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageSetMailBox_V31] invalid param.");
    uint8_t random[kPrefix];
    char iv[IV_TEXT_LEN + 1];
    if (!DeriveKey_V31(req.pExchangeCode, "SetMailBox_v31", req.pUserName, cfg->szPassword, req.pSalt, req.pSalt2,
                       "PackageSetMailBox_V31", random, iv))
        return 0;
    std::string box = Bytes(random, kPrefix) + Field(cfg->szMailBoxAddr, sizeof cfg->szMailBoxAddr);
    char pw[kPasswordOut];
    std::vector<char> mail(CEncrypt::kAesCopyLen);
    if (!AesEncrypt_Base64(random, kPrefix, m_byKey, m_byIv, pw, sizeof pw) ||
        !AesEncrypt_Base64(Data(box), uint32_t(box.size()), m_byKey, m_byIv, mail.data(), uint32_t(mail.size())))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetMailBox_v31</Types><MailBox>%s</MailBox><Password>%s</Password><Iv>%s</Iv>"
                                 "</Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), mail.data(), pw, iv);
}

// The marked entries in order: at most three, missing ones stay null.
static bool MarkedQuestions(const ZEVA_SECURITY_QUESTION_CFG &cfg, const ZEVA_SECURITY_QUESTION *(&marked)[3]) {
    int n = 0;
    for (const ZEVA_SECURITY_QUESTION &q : cfg.struQuestion) {
        if (!q.byMark)
            continue;
        if (n == 3)
            return false;
        marked[n++] = &q;
    }
    return true;
}

int CMulticastProtocol_V31::PackageSetSecurityQuestion_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                           uint32_t *pOutLen) {
    auto *cfg = reinterpret_cast<const ZEVA_SECURITY_QUESTION_CFG *>(req.pIn);
    const ZEVA_SECURITY_QUESTION *marked[3] = {};
    if (!cfg || !MarkedQuestions(*cfg, marked))
        return Fail(cfg ? uint32_t(ZEVA_ERR_QUESTION_NUM) : uint32_t(ZEVA_ERR_PARAM),
                    "[CMulticastProtocol_V31::PackageSetSecurityQuestion_V31] QUESTION_NUM_ERR!");
    uint8_t random[kPrefix];
    char iv[IV_TEXT_LEN + 1];
    if (!DeriveKey_V31(req.pExchangeCode, "setsecurityquestion_v31", req.pUserName, cfg->szPassword, req.pSalt,
                       req.pSalt2, "PackageSetSecurityQuestion_V31", random, iv))
        return 0;
    char pw[kPasswordOut];
    if (!AesEncrypt_Base64(random, kPrefix, m_byKey, m_byIv, pw, sizeof pw))
        return 0;
    std::string list;
    for (const ZEVA_SECURITY_QUESTION *q : marked) {
        std::string plain = Bytes(random, kPrefix) + (q ? Field(q->szAnswer, sizeof q->szAnswer) : "");
        char answer[512];
        if (!AesEncrypt_Base64(Data(plain), uint32_t(plain.size()), m_byKey, m_byIv, answer, sizeof answer))
            return 0;
        list += "<Question><ID>" + std::to_string(q ? q->dwID : 0) + "</ID><Answer>" + answer +
                "</Answer><mark>true</mark></Question>";
    }
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "setsecurityquestion_v31</Types><QuestionList>%s</QuestionList>"
                                 "<Password>%s</Password><Iv>%s</Iv></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), list.c_str(), pw, iv);
}

// -- resets ----------------------------------------------------------------------------------

int CMulticastProtocol_V31::PackageIvReset(const PROBE_REQUEST &req, const char *pWord, const std::string &secret,
                                           bool bSyncElement, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    char ivText[IV_TEXT_LEN + 1];
    uint8_t iv[AES_BLOCK];
    if (!CreateIv_V31(ivText, iv))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::PackageIvReset] CreateIv_V31 failed");
    std::string keyText = Bytes(iv, AES_BLOCK) + secret;
    uint8_t hash[32];
    if (!m_Encrypt.SHA256(Data(keyText), int(keyText.size()), hash))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::PackageIvReset] SHA256 failed");
    std::string plain = Bytes(iv, AES_BLOCK) + Field(rp->szPassword, 16);
    char pw[kPasswordOut];
    if (!AesEncrypt_Base64(Data(plain), uint32_t(plain.size()), hash, iv, pw, sizeof pw))
        return 0;
    std::string sync = bSyncElement ? std::string("<SyncIPCPassword>") + TrueFalse(rp->byEnableSyncIPCPW == 1) +
                                          "</SyncIPCPassword>"
                                    : "";
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "%s</Types>%s<Password>%s</Password><Iv>%s</Iv></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), pWord, sync.c_str(), pw, ivText);
}

int CMulticastProtocol_V31::PackageGUIDReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                 uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    if (!rp || rp->szPassword[0] == '\0')
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageGUIDReset_V31] invalid param.");
    PrintHexData("[CMulticastProtocol_V31::PackageGUIDReset_V31] GUID: ",
                 reinterpret_cast<const uint8_t *>(rp->szGUID), 64);
    return PackageIvReset(req, "GUIDReset_v31", Field(rp->szGUID, sizeof rp->szGUID), true, pOut, dwOutSize,
                          pOutLen);
}

int CMulticastProtocol_V31::PackageMailReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                 uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    if (!rp || rp->szPassword[0] == '\0')
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageMailReset_V31] invalid param.");
    return PackageIvReset(req, "MailReset_v31", Field(rp->szCode, sizeof rp->szCode), true, pOut, dwOutSize,
                          pOutLen);
}

int CMulticastProtocol_V31::PackagePhoneNoReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                    uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    if (!rp)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackagePhoneNoReset_V31] invalid param.");
    return PackageIvReset(req, "PhoneNoReset_v31", std::string(rp->szCode, 8), false, pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol_V31::PackageAnswerReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                   uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    if (!rp || rp->szPassword[0] == '\0')
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageAnswerReset_V31] invalid param.");
    const ZEVA_SECURITY_QUESTION *marked[3] = {};
    if (!MarkedQuestions(rp->struSecurityQuestion, marked))
        return Fail(ZEVA_ERR_QUESTION_NUM, "[CMulticastProtocol_V31::PackageAnswerReset_V31] QUESTION_NUM_ERR!");
    uint8_t random[kPrefix], iv[AES_BLOCK];
    char ivText[IV_TEXT_LEN + 1];
    if (!RandomAndIv(req.pExchangeCode, "PackageAnswerReset_V31", random, ivText, iv))
        return 0;
    // The answers only enter the key; they are not sent.
    std::string keyText = Bytes(random, kPrefix);
    for (const ZEVA_SECURITY_QUESTION *q : marked)
        keyText += q ? Field(q->szAnswer, sizeof q->szAnswer) : "";
    uint8_t key[32];
    if (!m_Encrypt.SHA256(Data(keyText), int(keyText.size()), key))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::PackageAnswerReset_V31] SHA256 failed");
    std::string plain = Bytes(random, kPrefix) + Field(rp->szPassword, 16);
    char pw[kPasswordOut];
    if (!AesEncrypt_Base64(Data(plain), uint32_t(plain.size()), key, iv, pw, sizeof pw))
        return 0;
    uint32_t id[3];
    for (int i = 0; i < 3; ++i)
        id[i] = marked[i] ? marked[i]->dwID : 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "AnswerReset_v31</Types><QuestionList><Question><ID>%u</ID><mark>true</mark>"
                                 "</Question><Question><ID>%u</ID><mark>true</mark></Question><Question><ID>%u</ID>"
                                 "<mark>true</mark></Question></QuestionList><Password>%s</Password><Iv>%s</Iv>"
                                 "</Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), id[0], id[1], id[2], pw, ivText);
}

int CMulticastProtocol_V31::PackageReset_V31(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                             uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    if (!rp)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageReset_V31] invalid param.");
    char code[kAuthFileMax + 1] = {};
    std::string authFile = Field(rp->szAuthFile, sizeof rp->szAuthFile);
    std::string typed = Field(rp->szCode, sizeof rp->szCode);
    ZEVA_LOG_INF("[CMulticastProtocol_V31::PackageReset_V31] SDK Read Auth File pAuthFile[%s] code[%s] ",
                 authFile.c_str(), typed.c_str());
    if (!authFile.empty()) {
        if (!ReadAuthFile(authFile.c_str(), code, sizeof code, "PackageReset_V31"))
            return 0;
    } else {
        std::memcpy(code, typed.data(), typed.size());
    }
    if (rp->szPassword[0] == '\0' || code[0] == '\0')
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol_V31::PackageReset_V31] invalid param.");
    if (std::strlen(code) == 8) {
        // The device holds the same 8 characters, so no exchange is needed.
        return PackageIvReset(req, "reset2_v31", std::string(code, 8), false, pOut, dwOutSize, pOutLen);
    }
    uint8_t random[kPrefix], iv[AES_BLOCK];
    char ivText[IV_TEXT_LEN + 1];
    if (!RandomAndIv(req.pExchangeCode, "PackageReset_V31", random, ivText, iv))
        return 0;
    std::string codePlain = Bytes(random, kPrefix) + code;
    std::string pwPlain = Bytes(random, kPrefix) + Field(rp->szPassword, 16);
    std::vector<char> codeOut(CEncrypt::kAesCopyLen * 2);
    char pw[kPasswordOut];
    if (!AesEncrypt_Base64(Data(codePlain), uint32_t(codePlain.size()), random, iv, codeOut.data(),
                           uint32_t(codeOut.size())) ||
        !AesEncrypt_Base64(Data(pwPlain), uint32_t(pwPlain.size()), random, iv, pw, sizeof pw))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "reset_v31</Types><Code>%s</Code><Password>%s</Password><Iv>%s</Iv></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), codeOut.data(), pw, ivText);
}

// -- answers ---------------------------------------------------------------------------------

int CMulticastProtocol_V31::ParseQRcodes(const TiXmlElement *pRoot, uint8_t *pOut) {
    return ParseQRcodesForm(pRoot, pOut, false);
}

int CMulticastProtocol_V31::ParseExportGUID_V31(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    pOut[GUID_RETRY_OFFSET] = Number8(ProbeChildText(pRoot, "RetryTimes"));
    pOut[GUID_RETRY_OFFSET + 1] = Number8(ProbeChildText(pRoot, "SurplusLockTime"));
    const char *text = ProbeChildText(pRoot, "GUID");
    if (!text)
        return code;
    // The record holds 512 bytes: a longer GUID cannot be handed over whole, so it ends the
    // request as too long and is neither decoded past that nor decrypted.
    uint8_t cipher[GUID_MAX];
    int n = CEncrypt::Base64_Decode(text, uint32_t(std::strlen(text)), cipher, sizeof cipher);
    if (n < 0) {
        ZEVA_LOG_ERR("[CMulticastProtocol_V31::ParseExportGUID_V31] GUID longer than %u bytes", GUID_MAX);
        return ANSWER_TOO_LONG;
    }
    uint8_t plain[GUID_MAX] = {};
    int plainLen = 0;
    // Our own failure, not the device's refusal: the host learns 2045.
    if (n > 0 && !m_Encrypt.AesCbcDecrypt(cipher, n, plain, int(sizeof plain), &plainLen, m_byKey, AES_BLOCK, m_byIv,
                                          AES_BLOCK)) {
        Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol_V31::ParseExportGUID_V31] AesCbcDecrypt failed");
        return ANSWER_DECRYPT_FAILED;
    }
    // The length is that of the bytes handed over: the GUID after R's 16 bytes.
    uint32_t guidLen = plainLen > int(kPrefix) ? uint32_t(plainLen) - kPrefix : 0;
    std::memcpy(pOut, &guidLen, 4);
    std::memcpy(pOut + 4, plain + kPrefix, guidLen);
    return code;
}

}  // namespace ZEVA
