// The protocol-3.0 requests. Secrets travel AES-128-ECB encrypted under the first 16 bytes of the
// device's random string, which its exchange-code answer carried RSA-encrypted under this
// object's last public key. Plain values are escaped for XML, so a device reads them unchanged
// and no value can add elements of its own.
#include <cstdio>
#include <cstring>
#include <string>

#include "morva/MorvaUtility.h"
#include "module/protocol/MulticastProtocol.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "yar/yar_file.h"

namespace ZEVA {

namespace {

constexpr uint32_t kRandomPrefix = 16;
constexpr uint32_t kPasswordLen = 16;
constexpr uint32_t kEncryptTextMax = 240;  // the plaintext block of EncryptByRandomStr is 256 bytes
constexpr uint32_t kAuthFileMax = 512;

#define PROBE_HEAD "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><MAC>%s</MAC><Types>"

int Fail(uint32_t dwError, const char *pLine) {
    ZEVA_LOG_ERR("%s", pLine);
    SetSdkLastError(dwError);
    return 0;
}

// A 16-byte password field as text: at most 16 characters.
std::string Field16(const uint8_t *pField) {
    return std::string(reinterpret_cast<const char *>(pField), strnlen(reinterpret_cast<const char *>(pField), 16));
}

const char *TrueFalse(bool b) { return b ? "true" : "false"; }

}  // namespace

std::string CMulticastProtocol::EscapeXml(const char *pText) {
    std::string out;
    for (const char *p = pText ? pText : ""; *p; ++p) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += *p;
        }
    }
    return out;
}

// -- the random string -----------------------------------------------------------------------

int CMulticastProtocol::DecryptRandomStr(const char *pRandomStr, const char *pRsaLine) {
    uint8_t cipher[512] = {};
    int n = CEncrypt::Base64_Decode(pRandomStr, uint32_t(std::strlen(pRandomStr)), cipher, sizeof cipher);
    uint8_t plain[sizeof m_byRandomStr] = {};
    if (n <= 0 || !m_Encrypt.RsaDecryptByPrivateKey(cipher, n, plain)) {
        ZEVA_LOG_ERR("%s", pRsaLine);
        return 0;
    }
    std::memcpy(m_byRandomStr, plain, sizeof m_byRandomStr);
    return 1;
}

// AES-128-ECB under the cached random string, then Base64 into the zeroed output.
int CMulticastProtocol::EncryptBlock(uint8_t *pPlain, uint32_t dwCapacity, uint32_t dwLen, char *pOut,
                                     uint32_t dwOutSize, const char *pBase64Line) {
    uint8_t cipher[512] = {};
    int cipherLen = 0;
    if (!m_Encrypt.AesEcbEncrypt128(pPlain, int(dwCapacity), int(dwLen), cipher, int(sizeof cipher), &cipherLen,
                                    m_byRandomStr))
        return 0;
    std::memset(pOut, 0, dwOutSize);
    if (CEncrypt::Base64_Encode(cipher, uint32_t(cipherLen), pOut, dwOutSize) == 0)
        return Fail(ZEVA_ERR_INIT, pBase64Line);
    return 1;
}

// The random string's 16 bytes, then the text: cut to dwMax (or refused past it), zero-filled to
// dwBlock bytes (0: to whole AES blocks).
int CMulticastProtocol::EncryptPrefixed(const char *pRandomStr, const char *pText, char *lpOutBuffer,
                                        uint32_t dwOutSize, const PREFIXED_FORM &form) {
    char line[160];
    m_bRefused = false;
    if (!pRandomStr || !pText || !lpOutBuffer || dwOutSize == 0) {
        std::snprintf(line, sizeof line, "[CMulticastProtocol::%s] pRandomStr or pPassWord or lpOutBuffer is Null",
                      form.pFunc);
        return Fail(ZEVA_ERR_PARAM, line);
    }
    uint32_t len = uint32_t(strnlen(pText, form.dwMax + 1));
    if (len > form.dwMax && !form.bRefuseLonger)
        len = form.dwMax;
    if (len == 0 || len > form.dwMax) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] %s Length error the length is %d", form.pFunc, form.pWhat, int(len));
        SetSdkLastError(ZEVA_ERR_PARAM);
        m_bRefused = true;
        return 0;
    }
    std::snprintf(line, sizeof line, "[CMulticastProtocol::%s] DecryptByPrivateKey error", form.pFunc);
    if (!DecryptRandomStr(pRandomStr, line))
        return 0;
    uint8_t plain[kRandomPrefix + kEncryptTextMax] = {};
    std::memcpy(plain, m_byRandomStr, kRandomPrefix);
    std::memcpy(plain + kRandomPrefix, pText, len);
    std::snprintf(line, sizeof line, "[CMulticastProtocol::%s] pBase64EncryptBuf is Null", form.pFunc);
    return EncryptBlock(plain, sizeof plain, form.dwBlock ? form.dwBlock : kRandomPrefix + len, lpOutBuffer,
                        dwOutSize, line);
}

int CMulticastProtocol::EncryptPWByRandomStr(const char *pRandomStr, const char *pPassWord, char *lpOutBuffer,
                                             uint32_t dwOutSize) {
    static const PREFIXED_FORM form{"EncryptPWByRandomStr", "Password", kPasswordLen, false, 32};
    return EncryptPrefixed(pRandomStr, pPassWord, lpOutBuffer, dwOutSize, form);
}

int CMulticastProtocol::EncryptByRandomStr64(const char *pRandomStr, const char *pText, char *lpOutBuffer,
                                             uint32_t dwOutSize) {
    static const PREFIXED_FORM form{"EncryptByRandomStr64", "Password", 64, false, 80};
    return EncryptPrefixed(pRandomStr, pText, lpOutBuffer, dwOutSize, form);
}

int CMulticastProtocol::EncryptByRandomStr(const char *pRandomStr, const char *pText, char *lpOutBuffer,
                                           uint32_t dwOutSize) {
    static const PREFIXED_FORM form{"EncryptByRandomStr", "BufLen", kEncryptTextMax, true, 0};
    return EncryptPrefixed(pRandomStr, pText, lpOutBuffer, dwOutSize, form);
}

int CMulticastProtocol::EncryptAnswerByRandomStr(const char *pRandomStr, const char *pAnswer, char *lpOutBuffer,
                                                 uint32_t dwOutSize) {
    if (!pRandomStr || !pAnswer || !lpOutBuffer || dwOutSize == 0)
        return Fail(ZEVA_ERR_PARAM,
                    "[CMulticastProtocol::EncryptAnswerByRandomStr] pRandomStr or pAnswer or lpOutBuffer is Null");
    uint32_t len = uint32_t(strnlen(pAnswer, 256));
    if (len == 0) {
        ZEVA_LOG_ERR("[CMulticastProtocol::EncryptAnswerByRandomStr] Answer Length error the length is %d", 0);
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    uint8_t plain[256] = {};
    std::memcpy(plain, pAnswer, len);
    return EncryptBlock(plain, sizeof plain, len, lpOutBuffer, dwOutSize,
                        "[CMulticastProtocol::EncryptAnswerByRandomStr] pBase64EncryptBuf is Null");
}

// A text the encryption refused (too long, or empty) stays 2005; any other failure is 2045.
uint32_t CMulticastProtocol::EncryptError() const {
    return m_bRefused ? uint32_t(ZEVA_ERR_PARAM) : uint32_t(ZEVA_ERR_ENCRYPT);
}

// enc(field) of the builders: 2045 with the builder's line when it fails.
int CMulticastProtocol::EncryptField(const char *pExchangeCode, const std::string &plain, char (&out)[64],
                                     const char *pFailLine) {
    if (!EncryptPWByRandomStr(pExchangeCode, plain.c_str(), out, sizeof out))
        return Fail(EncryptError(), pFailLine);
    return 1;
}

// -- builders --------------------------------------------------------------------------------

int CMulticastProtocol::PackageCommon(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "%s</Types></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), req.pType);
}

int CMulticastProtocol::PackageLamp(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><Types>lamp</Types><MAC>%s</MAC>"
                      "<Action>%s</Action></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), req.pIn && req.pIn[0] ? "open" : "close");
}

int CMulticastProtocol::PackageExchangeCode(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                            uint32_t *pOutLen) {
    uint8_t key[512] = {};
    int keyLen = sizeof key;
    char code[512] = {};
    if (!m_Encrypt.GetRsaPublicKey1024(key, &keyLen) ||
        CEncrypt::Base64_Encode(key, uint32_t(keyLen), code, sizeof code) == 0)
        return Fail(ZEVA_ERR_RSA_KEY, "[CMulticastProtocol::PackageExchangeCode] GeneratePublicKey error");
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "exchangecode</Types><Code>%s</Code></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), code);
}

int CMulticastProtocol::PackageActivate(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(req.pPassword)), pw,
                      "[CMulticastProtocol::PackageActivate] EncryptPWByRandomStr fail"))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "activate</Types><Password>%s</Password></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), pw);
}

// A builder whose one secret is the password at an offset of its record.
int CMulticastProtocol::PackagePasswordOnly(const PROBE_REQUEST &req, const char *pWord, uint32_t dwOffset,
                                            const char *pFailLine, char *pOut, uint32_t dwOutSize,
                                            uint32_t *pOutLen) {
    char pw[64];
    if (!req.pIn || !EncryptField(req.pExchangeCode, Field16(req.pIn + dwOffset), pw, pFailLine))
        return req.pIn ? 0 : Fail(ZEVA_ERR_PARAM, pFailLine);
    return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "%s</Types><Password>%s</Password></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), pWord, pw);
}

int CMulticastProtocol::GetGUID(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    return PackagePasswordOnly(req, "ExportGUID", 0, "[CMulticastProtocol::GetGUID] EncryptPWByRandomStr fail", pOut,
                               dwOutSize, pOutLen);
}

int CMulticastProtocol::SetRestoreInactive(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                           uint32_t *pOutLen) {
    return PackagePasswordOnly(req, "restoreInactive", 0,
                               "[CMulticastProtocol::SetRestoreInactive] EncryptPWByRandomStr fail", pOut, dwOutSize,
                               pOutLen);
}

int CMulticastProtocol::PackageTovukUnbind(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                           uint32_t *pOutLen) {
    return PackagePasswordOnly(req, "tovukUnbind", 0,
                               "[CMulticastProtocol::PackageTovukUnbind] EncryptPWByRandomStr fail", pOut, dwOutSize,
                               pOutLen);
}

int CMulticastProtocol::PackageDeviceTypeCustom(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                uint32_t *pOutLen) {
    if (!req.pIn)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol::PackageDeviceTypeCustom] lpInBuffer is Null");
    const char *key = reinterpret_cast<const char *>(req.pIn + 4);
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "deviceTypeCustom</Types><DeviceTypeSecretKey>%s</DeviceTypeSecretKey></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), EscapeXml(std::string(key, strnlen(key, 256)).c_str()).c_str());
}

int CMulticastProtocol::SetKWPlatformStatus(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                            uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_KWPLATFORM_STATUS_CFG *>(req.pIn);
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw,
                      "[CMulticastProtocol::SetKWPlatformStatus] EncryptPWByRandomStr fail"))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetKWPlatform</Types><KWPlatformEnable>%s</KWPlatformEnable><Password>%s</Password>"
                                 "</Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), TrueFalse(in->byEnable == 1), pw);
}

int CMulticastProtocol::PackageVerificationCode(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_VERIFICATION_CODE_CFG *>(req.pIn);
    static const char kFail[] = "[CMulticastProtocol::PackageVerificationCode] EncryptPWByRandomStr fail";
    char code[64], pw[64];
    std::string verification(in->szVerificationCode, strnlen(in->szVerificationCode, sizeof in->szVerificationCode));
    if (!EncryptField(req.pExchangeCode, verification, code, kFail) ||
        !EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw, kFail))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetVerificationCode</Types><VerificationCode>%s</VerificationCode>"
                                 "<Password>%s</Password></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), code, pw);
}

int CMulticastProtocol::PackageBindList(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_BIND_LIST_CFG *>(req.pIn);
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw,
                      "[CMulticastProtocol::PackageBindList] EncryptPWByRandomStr fail"))
        return 0;
    if (in->dwUnbindAll != 0)
        return PrintProbe(pOut, dwOutSize, pOutLen,
                          PROBE_HEAD "setBindList</Types><unbindAll>true</unbindAll><Password>%s</Password></Probe>",
                          req.pUuid, EscapeXml(req.pMAC).c_str(), pw);
    std::string list;
    for (const ZEVA_BIND_DEVICE &dev : in->struDevice)
        if (dev.byInUse)
            list += "<DeviceSN>" +
                    EscapeXml(std::string(dev.szSerialNO, strnlen(dev.szSerialNO, sizeof dev.szSerialNO)).c_str()) +
                    "</DeviceSN>";
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "setBindList</Types><unbindAll>false</unbindAll><Password>%s</Password>"
                                 "<DeviceSNList>%s</DeviceSNList></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), pw, list.c_str());
}

int CMulticastProtocol::SetWifiConfig(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    static const char *const kRegions[] = {"default", "china", "nothAmerica", "japan", "europe", "world"};
    auto *in = reinterpret_cast<const ZEVA_WIFI_REGION_CFG *>(req.pIn);
    // Any other mode has nothing to send.
    if (in->byMode != 1 && in->byMode != 2)
        return Fail(ZEVA_ERR_PARAM, "[CMulticastProtocol::SetWifiConfig] invalid byMode");
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw,
                      "[CMulticastProtocol::SetWifiConfig] EncryptPWByRandomStr fail"))
        return 0;
    if (in->byMode == 2)
        return PrintProbe(pOut, dwOutSize, pOutLen,
                          PROBE_HEAD "setWifiRegion</Types><enableWifiEnhancement>%s</enableWifiEnhancement>"
                                     "<Password>%s</Password></Probe>",
                          req.pUuid, EscapeXml(req.pMAC).c_str(), TrueFalse(in->byEnableWifiEnhancement == 1), pw);
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "setWifiRegion</Types><wifiRegion>%s</wifiRegion><Password>%s</Password></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), in->byWifiRegion < 6 ? kRegions[in->byWifiRegion] : "",
                      pw);
}

int CMulticastProtocol::PackageChannelDefaultPassword(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                      uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG *>(req.pIn);
    char pw[64], def[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw,
                      "EncryptPWByRandomStr fail") ||
        !EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szDefaultPassword)), def,
                      "EncryptPWByRandomStr fail"))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "setChannelDefaultPassword</Types><Password>%s</Password>"
                                 "<DefaultPassword>%s</DefaultPassword></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), pw, def);
}

int CMulticastProtocol::PackageQadraEnable(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                           uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_QADRA_ENABLE_CFG *>(req.pIn);
    static const char kFail[] = "[CMulticastProtocol::PackageQadraEnable] EncryptPWByRandomStr fail";
    char pw[64], key[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw, kFail) ||
        !EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szQadraKey)), key, kFail))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><Types>QadraEnable</Types>"
                      "<PWErrorParse>true</PWErrorParse><MAC>%s</MAC><Password>%s</Password><DevID>%s</DevID>"
                      "<QadraKey>%s</QadraKey></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), pw,
                      EscapeXml(Field16(reinterpret_cast<const uint8_t *>(in->szDevID)).c_str()).c_str(), key);
}

int CMulticastProtocol::SetMailBox(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_MAILBOX_CFG *>(req.pIn);
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw,
                      "[CMulticastProtocol::SetMailBox] EncryptPWByRandomStr fail"))
        return 0;
    char box[256] = {};
    if (CEncrypt::Base64_Encode(reinterpret_cast<const uint8_t *>(in->szMailBoxAddr), sizeof in->szMailBoxAddr, box,
                                sizeof box) == 0)
        return Fail(ZEVA_ERR_BASE64, "[CMulticastProtocol::SetMailBox] Base64_Encode failed");
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetMailBox</Types><MailBox>%s</MailBox><Password>%s</Password></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), box, pw);
}

int CMulticastProtocol::WifiParamCfg(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_WIFI_PARAM *>(req.pIn);
    static const char kFail[] = "[CMulticastProtocol::WifiParamCfg] EncryptPWByRandomStr fail";
    char ssid[128], pw[128];
    std::string ssidText(in->szSSID, strnlen(in->szSSID, sizeof in->szSSID));
    std::string pwText(in->szPassword, strnlen(in->szPassword, sizeof in->szPassword));
    if (!EncryptByRandomStr64(req.pExchangeCode, ssidText.c_str(), ssid, sizeof ssid) ||
        !EncryptByRandomStr64(req.pExchangeCode, pwText.c_str(), pw, sizeof pw))
        return Fail(EncryptError(), kFail);
    const char *mode = in->byWifiMode == 1 ? "Station" : in->byWifiMode == 2 ? "AP" : "Default";
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "%s</Types><SSID>%s</SSID><Password>%s</Password><WiFiMode>%s</WiFiMode></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), req.pType, ssid, pw, mode);
}

int CMulticastProtocol::PackageTovukUnbindDelUsers(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                   uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_TOVUK_UNBIND_DEL_USERS_CFG *>(req.pIn);
    std::string codeText(in->szCode, strnlen(in->szCode, sizeof in->szCode));
    char code[512];
    if (!EncryptByRandomStr(req.pExchangeCode, codeText.c_str(), code, sizeof code))
        return Fail(EncryptError(), "[CMulticastProtocol::PackageTovukUnbindDelUsers] EncryptByRandomStr failed");
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "tovukUnbindDelUsers</Types><Code bEncrypt=\"true\">%s</Code></Probe>", req.pUuid,
                      EscapeXml(req.pMAC).c_str(), code);
}

int CMulticastProtocol::PackageTovukUserToken(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                              uint32_t *pOutLen) {
    auto *in = reinterpret_cast<const ZEVA_USER_TOKEN_CFG *>(req.pIn);
    static const char kFail[] = "[CMulticastProtocol::PackageTovukUserToken] EncryptPWByRandomStr fail";
    char token[64], pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szPassword)), pw, kFail) ||
        !EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(in->szUserToken)), token, kFail))
        return 0;
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      PROBE_HEAD "SetUserToken</Types><UserToken>%s</UserToken><Password>%s</Password></Probe>",
                      req.pUuid, EscapeXml(req.pMAC).c_str(), token, pw);
}

// -- security questions ----------------------------------------------------------------------

int CMulticastProtocol::PackageQuestions(const PROBE_REQUEST &req, const ZEVA_SECURITY_QUESTION_CFG &cfg,
                                         const uint8_t *pPassword, const char *pHead, const char *pFunc, char *pOut,
                                         uint32_t dwOutSize, uint32_t *pOutLen) {
    int marked = 0;
    for (const ZEVA_SECURITY_QUESTION &q : cfg.struQuestion)
        marked += q.byMark != 0;
    if (marked != 3) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] QUESTION_NUM_ERR!", pFunc);
        SetSdkLastError(ZEVA_ERR_QUESTION_NUM);
        return 0;
    }
    char pw[64];
    if (!EncryptPWByRandomStr(req.pExchangeCode, Field16(pPassword).c_str(), pw, sizeof pw)) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] EncryptPWByRandomStr fail", pFunc);
        SetSdkLastError(ZEVA_ERR_ENCRYPT);
        return 0;
    }
    std::string list;
    for (const ZEVA_SECURITY_QUESTION &q : cfg.struQuestion) {
        if (!q.byMark)
            continue;
        char answer[512];
        std::string text(q.szAnswer, strnlen(q.szAnswer, sizeof q.szAnswer));
        if (!EncryptAnswerByRandomStr(req.pExchangeCode, text.c_str(), answer, sizeof answer)) {
            ZEVA_LOG_ERR("[CMulticastProtocol::%s] EncryptAnswerByRandomStr fail", pFunc);
            SetSdkLastError(ZEVA_ERR_ENCRYPT);
            return 0;
        }
        list += "<Question><ID>" + std::to_string(q.dwID) + "</ID><Answer>" + answer +
                "</Answer><mark>true</mark></Question>";
    }
    return PrintProbe(pOut, dwOutSize, pOutLen, "%s<QuestionList>%s</QuestionList><Password>%s</Password></Probe>",
                      PrintHead(pHead, req).c_str(), list.c_str(), pw);
}

std::string CMulticastProtocol::PrintHead(const char *pTypesAndAfter, const PROBE_REQUEST &req) {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>") + req.pUuid + "</Uuid><MAC>" +
           EscapeXml(req.pMAC) + "</MAC><Types>" + pTypesAndAfter;
}

int CMulticastProtocol::SetSecurityQuestion(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                            uint32_t *pOutLen) {
    auto *cfg = reinterpret_cast<const ZEVA_SECURITY_QUESTION_CFG *>(req.pIn);
    return PackageQuestions(req, *cfg, reinterpret_cast<const uint8_t *>(cfg->szPassword), "setsecurityquestion</Types>",
                            "SetSecurityQuestion", pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol::SendSecQustionResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                    uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    return PackageQuestions(req, rp->struSecurityQuestion, reinterpret_cast<const uint8_t *>(rp->szPassword),
                            rp->byEnableSyncIPCPW == 1 ? "AnswerReset</Types><SyncIPCPassword>true</SyncIPCPassword>"
                                                       : "AnswerReset</Types>",
                            "SendSecQustionResetPWPacket", pOut, dwOutSize, pOutLen);
}

// -- resets ----------------------------------------------------------------------------------

int CMulticastProtocol::ReadAuthFile(const char *pPath, char *pCode, uint32_t dwCapacity, const char *pFunc) {
    std::memset(pCode, 0, dwCapacity);
    YAR_FILE_HANDLE file = YAR_OpenFile(pPath, YAR_FILE_READ, 0);
    if (file == YAR_INVALID_FILE) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] YAR_OpenFile failed", pFunc);
        SetSdkLastError(ZEVA_ERR_INIT);
        return 0;
    }
    YAR_FINFO_T info{};
    int ok = 0;
    uint32_t got = 0;
    if (YAR_FileStat(file, &info) != 0) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] YAR_FileStat failed", pFunc);
        SetSdkLastError(ZEVA_ERR_INIT);
    } else if (info.u64Size == 0 || info.u64Size > kAuthFileMax || info.u64Size >= dwCapacity) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] file is too big or no data, file size is %d", pFunc, int(info.u64Size));
        SetSdkLastError(ZEVA_ERR_PARAM);
    } else if (YAR_ReadFile(file, pCode, uint32_t(info.u64Size), &got) != 0) {
        ZEVA_LOG_ERR("[CMulticastProtocol::%s] YAR_ReadFile failed", pFunc);
        SetSdkLastError(ZEVA_ERR_INIT);
    } else {
        ok = 1;
    }
    YAR_CloseFile(file);
    if (!ok)
        return 0;
    // Only the one line end after the code goes; a line break inside it is part of the code.
    size_t len = strnlen(pCode, got);
    pCode[len] = '\0';
    if (len >= 2 && pCode[len - 2] == '\r' && pCode[len - 1] == '\n')
        pCode[len - 2] = '\0';
    else if (len >= 1 && (pCode[len - 1] == '\r' || pCode[len - 1] == '\n'))
        pCode[len - 1] = '\0';
    return 1;
}

int CMulticastProtocol::PackageCodeReset(const PROBE_REQUEST &req, const char *pCode, const CODE_RESET &form,
                                         char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    char pw[64];
    if (!EncryptPWByRandomStr(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(rp->szPassword)).c_str(),
                              pw, sizeof pw))
        return Fail(EncryptError(), form.pPasswordFail);
    std::string text = PrintHead(form.pWord, req) + "</Types><Password>" + pw + "</Password>";
    if (rp->byEnableSyncIPCPW == 1)
        text += "<SyncIPCPassword>true</SyncIPCPassword>";
    if (req.bySupportCodeEncrypt == 1) {
        char code[512];
        if (!EncryptByRandomStr(req.pExchangeCode, pCode, code, sizeof code))
            return Fail(EncryptError(), form.pCodeFail);
        text += std::string("<Code bEncrypt=\"true\">") + code + "</Code></Probe>";
    } else {
        text += "<Code>" + EscapeXml(pCode) + "</Code></Probe>";
    }
    return PrintProbe(pOut, dwOutSize, pOutLen, "%s", text.c_str());
}

int CMulticastProtocol::PackageReset(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    char code[kAuthFileMax + 1] = {};
    std::string authFile(rp->szAuthFile, strnlen(rp->szAuthFile, sizeof rp->szAuthFile));
    std::string typed(rp->szCode, strnlen(rp->szCode, sizeof rp->szCode));
    if (!authFile.empty()) {
        ZEVA_LOG_INF("[CMulticastProtocol::PackageReset] SDK Read Auth File pAuthFile[%s] code[%s] ", authFile.c_str(),
                     typed.c_str());
        if (!ReadAuthFile(authFile.c_str(), code, sizeof code, "PackageReset"))
            return 0;
    } else {
        ZEVA_LOG_INF("[CMulticastProtocol::PackageReset] Manual input code[%s] pAuthFile[%s]", typed.c_str(),
                     authFile.c_str());
        std::memcpy(code, typed.data(), typed.size());
    }
    if (rp->szPassword[0] == '\0') {
        if (code[0] == '\0')
            return Fail(ZEVA_ERR_INIT, "[CMulticastProtocol::PackageReset] pCode is NULL");
        return PrintProbe(pOut, dwOutSize, pOutLen, PROBE_HEAD "reset</Types><Code>%s</Code></Probe>", req.pUuid,
                          EscapeXml(req.pMAC).c_str(), EscapeXml(code).c_str());
    }
    static const CODE_RESET form{"reset", "[CMulticastProtocol::PackageReset] EncryptPWByRandomStr failed",
                                 "[CMulticastProtocol::PackageReset] EncryptByRandomStr failed"};
    return PackageCodeReset(req, code, form, pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol::SendMailBoxResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                                 uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    std::string typed(rp->szCode, strnlen(rp->szCode, sizeof rp->szCode));
    static const CODE_RESET form{"MailReset",
                                 "[CMulticastProtocol::SendMailBoxResetPWPacket] EncryptPWByRandomStr failed",
                                 "[CMulticastProtocol::SendMailBoxResetPWPacket] EncryptByRandomStr failed"};
    return PackageCodeReset(req, typed.c_str(), form, pOut, dwOutSize, pOutLen);
}

int CMulticastProtocol::SendGuidResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                              uint32_t *pOutLen) {
    auto *rp = reinterpret_cast<const ZEVA_RESET_PARAM *>(req.pIn);
    char pw[64];
    if (!EncryptField(req.pExchangeCode, Field16(reinterpret_cast<const uint8_t *>(rp->szPassword)), pw,
                      "[CMulticastProtocol::SendGuidResetPWPacket] EncryptPWByRandomStr fail"))
        return 0;
    char guid[256] = {};
    if (CEncrypt::Base64_Encode(reinterpret_cast<const uint8_t *>(rp->szGUID), uint32_t(strnlen(rp->szGUID, 128)),
                                guid, sizeof guid) == 0)
        return Fail(ZEVA_ERR_BASE64, "[CMulticastProtocol::SendGuidResetPWPacket] Base64_Encode failed");
    return PrintProbe(pOut, dwOutSize, pOutLen, "%s<GUID>%s</GUID><Password>%s</Password></Probe>",
                      PrintHead(rp->byEnableSyncIPCPW == 1 ? "GUIDReset</Types><SyncIPCPassword>true</SyncIPCPassword>"
                                                          : "GUIDReset</Types>",
                                req)
                          .c_str(),
                      guid, pw);
}

// -- network parameters ----------------------------------------------------------------------

int CMulticastProtocol::CreateSaltPassword(const char *pUserName, const char *pPassword, const char *pSalt,
                                           const char *pSalt2, uint8_t *pOut) {
    std::string user = pUserName ? pUserName : "";
    std::string pw = pPassword ? pPassword : "";
    if (!pSalt || !pSalt[0])
        return m_Encrypt.MD5(reinterpret_cast<const uint8_t *>(pw.data()), int(pw.size()), pOut);
    std::string first = user + pSalt + pw;
    char h1[65] = {};
    if (!m_Encrypt.SHA256Hex(reinterpret_cast<const uint8_t *>(first.data()), int(first.size()), h1))
        return 0;
    if (!pSalt2 || !pSalt2[0])
        return m_Encrypt.MD5(reinterpret_cast<const uint8_t *>(h1), 64, pOut);
    std::string second = user + pSalt2 + h1;
    uint8_t h2[32];
    char h2Hex[65] = {};
    if (!m_Encrypt.SHA256(reinterpret_cast<const uint8_t *>(second.data()), int(second.size()), h2) ||
        !Morva_HexEncode(h2, 32, 0, h2Hex))
        return 0;
    return m_Encrypt.MD5(reinterpret_cast<const uint8_t *>(h2Hex), 64, pOut);
}

int CMulticastProtocol::PackageUpdateData(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize,
                                          uint32_t *pOutLen) {
    auto *np = reinterpret_cast<const ZEVA_NET_PARAM *>(req.pIn);
    uint8_t digest[16] = {};
    if (!CreateSaltPassword(req.pUserName, req.pPassword, req.pSalt, req.pSalt2, digest))
        return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol::PackageUpdateData] CreateSaltPassword failed!");
    char password[128] = {};
    uint32_t b64 = 0;
    if (req.bySupport & 0x10) {
        uint8_t plain[64] = {};
        uint8_t cipher[64] = {};
        std::string tail = std::string(";") + req.pUuid;
        std::memcpy(plain, digest, 16);
        std::memcpy(plain + 16, tail.data(), tail.size() < 48 ? tail.size() : 48);
        if (!m_Encrypt.AesEcbEncrypt(plain, 64, cipher, 64, digest, 16))
            return Fail(ZEVA_ERR_ENCRYPT, "[CMulticastProtocol::PackageUpdateData] AesEcbEncrypt failed!");
        b64 = CEncrypt::Base64_Encode(cipher, 64, password, sizeof password);
    } else {
        b64 = CEncrypt::Base64_Encode(digest, 16, password, sizeof password);
    }
    if (b64 == 0)
        return Fail(ZEVA_ERR_BASE64, "[CMulticastProtocol::PackageUpdateData] encode_base64 failed!");
    auto text16 = [](const char *p, size_t n) { return EscapeXml(std::string(p, strnlen(p, n)).c_str()); };
    std::string v6 = text16(np->szIPv6Address, sizeof np->szIPv6Address);
    std::string gw6 = text16(np->szIPv6Gateway, sizeof np->szIPv6Gateway);
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>" + std::string(req.pUuid) +
        "</Uuid><Types>update</Types><PWErrorParse>true</PWErrorParse><MAC>" + EscapeXml(req.pMAC) + "</MAC>" +
        (req.pSalt && req.pSalt[0] ? "<Password bSalt=\"true\">" : "<Password>") + password + "</Password>" +
        "<IPv4Address>" + text16(np->szIPv4Address, 16) + "</IPv4Address><CommandPort>" +
        std::to_string(np->wCmdPort) + "</CommandPort><IPv4SubnetMask>" + text16(np->szIPv4SubNetMask, 16) +
        "</IPv4SubnetMask><IPv4Gateway>" + text16(np->szIPv4Gateway, 16) + "</IPv4Gateway><IPv6Address>" +
        (v6.empty() ? "::" : v6) + "</IPv6Address><IPv6Gateway>" + (gw6.empty() ? "::" : gw6) +
        "</IPv6Gateway><IPv6MaskLen>" + std::to_string(np->byIPv6MaskLen) + "</IPv6MaskLen><DHCP>" +
        TrueFalse(np->byDhcpEnable == 1) + "</DHCP>";
    if (np->wHttpPort)
        text += "<HttpPort>" + std::to_string(np->wHttpPort) + "</HttpPort>";
    if (np->dwSDKOverTLSPort)
        text += "<SDKOverTLSPort>" + std::to_string(np->dwSDKOverTLSPort) + "</SDKOverTLSPort>";
    text += "</Probe>";
    return PrintProbe(pOut, dwOutSize, pOutLen, "%s", text.c_str());
}

}  // namespace ZEVA
