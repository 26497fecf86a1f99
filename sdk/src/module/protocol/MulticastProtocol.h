// Probe texts: every request is one XML text printed from a fixed template into the caller's
// buffer. A text that does not fit its buffer is a failure (2047), never sent cut.
#pragma once

#include <cstdint>
#include <string>

#include "module/crypto/Encrypt.h"
#include "zeva/ZevaSdk.h"

class TiXmlElement;

namespace ZEVA {

constexpr uint32_t PROBE_BUFFER_LEN = 1024;
constexpr uint32_t SALT_FIELD_LEN = 65;  // 64 characters and a terminator
// Room for the longest request: three security answers of 256 bytes, or 32 bind-list serials.
constexpr uint32_t REQUEST_BUFFER_LEN = 4096;
constexpr uint32_t RANDOM_STR_LEN = 512;

// What a request builder reads: the request's Uuid, the device's MAC text, the device's random
// string as its exchange-code answer carried it, the input record and what else the request
// needs of the device.
struct PROBE_REQUEST {
    const char *pUuid = "";
    const char *pMAC = "";
    const char *pExchangeCode = nullptr;
    const uint8_t *pIn = nullptr;
    const char *pType = "";           // the type word of builders that serve several
    const char *pUserName = "";
    const char *pPassword = "";
    const char *pSalt = "";
    const char *pSalt2 = "";
    uint8_t bySupport = 0;
    uint8_t bySupportCodeEncrypt = 0;
};

class CMulticastProtocol {
public:
    CMulticastProtocol() = default;
    virtual ~CMulticastProtocol() = default;
    CMulticastProtocol(const CMulticastProtocol &) = delete;
    CMulticastProtocol &operator=(const CMulticastProtocol &) = delete;

    // "inquiry": asks every device on the segment to answer.
    int PackageInquiry(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    // A "hello" or "inquiry" answer: the record, both salts (SALT_FIELD_LEN bytes each) and the
    // protocol byte. 0, or -1 without root, record or "MAC" element.
    int ParseDeviceInfo(const TiXmlElement *pRoot, ZEVA_DEVICE_INFO *pDev, char *pSalt, char *pSalt2,
                        uint8_t *pProtocol);
    // An "inquiry_v32" answer: 0, or -1 without root or record.
    static int ParseSubnetDeviceInfo(const TiXmlElement *pRoot, ZEVA_SUBNET_DEVICE_INFO *pDev);

    // -- protocol-3.0 requests: 1 with the text and its length, or 0 with the last error set.
    using Builder = int (CMulticastProtocol::*)(const PROBE_REQUEST &, char *, uint32_t, uint32_t *);
    int PackageCommon(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageExchangeCode(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageActivate(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int GetGUID(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageDeviceTypeCustom(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SetSecurityQuestion(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SetKWPlatformStatus(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageVerificationCode(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageBindList(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SetRestoreInactive(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    // An unknown mode is refused (2005): there would be nothing to send.
    int SetWifiConfig(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageChannelDefaultPassword(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageQadraEnable(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SetMailBox(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int WifiParamCfg(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageTovukUnbind(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageTovukUnbindDelUsers(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageTovukUserToken(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageReset(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SendGuidResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SendSecQustionResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int SendMailBoxResetPWPacket(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageUpdateData(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageLamp(const PROBE_REQUEST &req, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    // The 16-byte password digest of a network-parameter change, salted by what salts there are.
    int CreateSaltPassword(const char *pUserName, const char *pPassword, const char *pSalt, const char *pSalt2,
                           uint8_t *pOut);
    // Secrets under the device's random string, AES-128-ECB and Base64 into the output: the
    // string's first 16 bytes, then the text, zero-filled to 32 bytes (a password, cut to 16
    // characters) or to 80 (a text cut to 64).
    int EncryptPWByRandomStr(const char *pRandomStr, const char *pPassWord, char *lpOutBuffer, uint32_t dwOutSize);
    int EncryptByRandomStr64(const char *pRandomStr, const char *pText, char *lpOutBuffer, uint32_t dwOutSize);
    // Texts of 1 to 240 bytes; longer ones are refused with 2005.
    int EncryptByRandomStr(const char *pRandomStr, const char *pText, char *lpOutBuffer, uint32_t dwOutSize);
    // Uses the random string the call before it decrypted.
    int EncryptAnswerByRandomStr(const char *pRandomStr, const char *pAnswer, char *lpOutBuffer, uint32_t dwOutSize);
    // The reset code of an auth file (1 to 512 bytes) without its one line end ("\r\n", "\n" or
    // "\r"); pFunc names the caller in the log lines.
    static int ReadAuthFile(const char *pPath, char *pCode, uint32_t dwCapacity, const char *pFunc);
    static std::string EscapeXml(const char *pText);

    // -- answers to requests: each returns the answer code of the Result word (or 20, or -1)
    //    and fills its zeroed block of AnswerBlocks.h.
    static int ParseResult(const TiXmlElement *pRoot);
    // Byte 0 the number of pRetryName, byte 1 that of "SurplusLockTime", each cut to 8 bits.
    static void ParseRetryInfo(const TiXmlElement *pRoot, uint8_t *pOut, const char *pRetryName);
    static int ParseResultOnly(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseExchangeCode(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseDeviceCode(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseEncryptString(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseDeviceTypeUnlockCode(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseExportGUID(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseSecurityQuestion(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseBindList(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseUnbindStatus(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParsePasswordResetType(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParsePhoneQRcodes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseQRcodes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseSelfCheck(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseResetPWRes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseMailResetPW(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseGuidResetPW(const TiXmlElement *pRoot, uint8_t *pOut);  // also AnswerReset
    static int ParsePhoneResetPW(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseUpdateRes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseRetryAlways(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseRetryUnlessFailed(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseWifiRegionRes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseSetBindListRes(const TiXmlElement *pRoot, uint8_t *pOut);
    static int ParseQadraEnableRes(const TiXmlElement *pRoot, uint8_t *pOut);

protected:
    // A code text of an answer: its element, the longest text kept, and whether a longer one
    // fails (20) or is cut.
    struct CODE_TEXT {
        const char *pElement;
        uint32_t dwMax;
        bool bTooLongFails;
        const char *pEmptyLine;
    };
    // When an answer fills the retry block: by the bit of its code, without a Result, for an
    // unknown word; whether a missing Result ends it at once.
    struct RETRY_RULE {
        uint32_t dwRetryCodes;
        bool bRetryWithoutResult;
        bool bRetryUnknown;
        bool bResultRequired;
        const char *pRetryName;
        const char *pLogLine;
    };
    static int ParseCodeText(const TiXmlElement *pRoot, uint8_t *pOut, const CODE_TEXT &rule);
    static int ParseQRcodesForm(const TiXmlElement *pRoot, uint8_t *pOut, bool bDecodeQr);
    static int ParseRetryRule(const TiXmlElement *pRoot, uint8_t *pOut, const RETRY_RULE &rule);

    // The log lines and type word of the code resets.
    struct CODE_RESET {
        const char *pWord;
        const char *pPasswordFail;
        const char *pCodeFail;
    };
    // The random-string encryptions: the name in their lines, the word of the length line, the
    // longest text, whether a longer one is refused or cut, the plaintext block (0: whole blocks).
    struct PREFIXED_FORM {
        const char *pFunc;
        const char *pWhat;
        uint32_t dwMax;
        bool bRefuseLonger;
        uint32_t dwBlock;
    };
    int EncryptPrefixed(const char *pRandomStr, const char *pText, char *lpOutBuffer, uint32_t dwOutSize,
                        const PREFIXED_FORM &form);
    int DecryptRandomStr(const char *pRandomStr, const char *pRsaLine);
    uint32_t EncryptError() const;
    int EncryptBlock(uint8_t *pPlain, uint32_t dwCapacity, uint32_t dwLen, char *pOut, uint32_t dwOutSize,
                     const char *pBase64Line);
    int EncryptField(const char *pExchangeCode, const std::string &plain, char (&out)[64], const char *pFailLine);
    int PackagePasswordOnly(const PROBE_REQUEST &req, const char *pWord, uint32_t dwOffset, const char *pFailLine,
                            char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageQuestions(const PROBE_REQUEST &req, const ZEVA_SECURITY_QUESTION_CFG &cfg, const uint8_t *pPassword,
                         const char *pHead, const char *pFunc, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
    int PackageCodeReset(const PROBE_REQUEST &req, const char *pCode, const CODE_RESET &form, char *pOut,
                         uint32_t dwOutSize, uint32_t *pOutLen);
    // The start of a text up to its type word and what follows it, the MAC escaped.
    static std::string PrintHead(const char *pTypesAndAfter, const PROBE_REQUEST &req);

    // Prints the template into the buffer: 1 with the length, or 0 with 2047 when it does not fit
    // (and 2005 for a missing buffer).
    static int PrintProbe(char *pOut, uint32_t dwOutSize, uint32_t *pOutLen, const char *pFormat, ...)
        __attribute__((format(printf, 4, 5)));

    CEncrypt m_Encrypt;
    // The random string the last secret was encrypted under.
    uint8_t m_byRandomStr[RANDOM_STR_LEN] = {};
    bool m_bRefused = false;  // the last encryption refused its text (2005)

private:
    void DecryptAnswerText(const char *pText, uint32_t dwBlock, char *pField, uint32_t dwFieldLen);
};

}  // namespace ZEVA
