// The answers to requests: the device's Result word as an answer code, and the data of each
// answer into its fixed block. Nothing here trusts a length from the network: every text and
// every decoded Base64 field is measured against its field first.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"

namespace ZEVA {

namespace {

const struct {
    const char *pWord;
    int iCode;
} kResultWords[] = {
    {"failed", 0},           {"success", 1},           {"locked", 2},
    {"riskPassword", 3},     {"hasActivated", 4},      {"notActivated", 5},
    {"emptyEncryptString", 6}, {"exportFileOverDue", 7}, {"PasswordError", 8},
    {"LongAnswer", 9},       {"QuestionNumErr", 10},   {"invalidGUID", 11},
    {"AnswerError", 12},     {"IllegalVerificationCode", 13}, {"BindErrorDev", 14},
    {"ExcedMaxBindNum", 15}, {"notExist", 16},         {"notSetMailBox", 17},
    {"codeError", 18},       {"CodeError", 18},        {"notSetPhoneNo", 19},
};

void PutU32(uint8_t *pOut, uint32_t dwOffset, uint32_t dwValue) { std::memcpy(pOut + dwOffset, &dwValue, 4); }

// A decimal text cut to 8 bits; 0 when it is no number.
uint8_t Number8(const char *pText) { return pText ? uint8_t(std::strtol(pText, nullptr, 10)) : 0; }

bool HasResult(const TiXmlElement *pRoot) { return ProbeChildText(pRoot, "Result") != nullptr; }

// The element's text, or null; an element that is there without text logs pEmptyLine.
const char *TextOrLog(const TiXmlElement *pRoot, const char *pName, const char *pEmptyLine) {
    const TiXmlElement *e = pRoot->FirstChildElement(pName);
    if (!e)
        return nullptr;
    if (!e->GetText())
        ZEVA_LOG_ERR("%s", pEmptyLine);
    return e->GetText();
}

// Copies at most dwMax characters of the text into the field; the field is zero beforehand.
uint32_t CopyCut(uint8_t *pField, const char *pText, uint32_t dwMax) {
    uint32_t len = uint32_t(strnlen(pText, dwMax));
    std::memcpy(pField, pText, len);
    return len;
}

// A text copied whole into a field of dwMax characters: its length, or -1 when it does not fit.
int CopyText(const char *pText, uint8_t *pField, uint32_t dwMax) {
    if (strnlen(pText, dwMax + 1) > dwMax)
        return -1;
    return int(CopyCut(pField, pText, dwMax));
}

// Base64 text decoded whole; false when it is no Base64 that fits a datagram.
bool DecodeAll(const char *pText, std::vector<uint8_t> &out) {
    size_t len = std::strlen(pText);
    out.resize(len / 4 * 3 + 3);
    int n = CEncrypt::Base64_Decode(pText, uint32_t(len), out.data(), uint32_t(out.size()));
    if (n < 0)
        return false;
    out.resize(size_t(n));
    return true;
}

// A Base64 text decoded into a text field of dwMax characters: the decoded text's length, or -1
// when it does not fit.
int DecodeText(const char *pText, uint8_t *pField, uint32_t dwMax) {
    std::vector<uint8_t> raw;
    if (!DecodeAll(pText, raw))
        return -1;
    uint32_t len = uint32_t(strnlen(reinterpret_cast<const char *>(raw.data()), raw.size()));
    if (len > dwMax)
        return -1;
    std::memcpy(pField, raw.data(), len);
    return int(len);
}

}  // namespace

int CMulticastProtocol::ParseResult(const TiXmlElement *pRoot) {
    const char *text = ProbeChildText(pRoot, "Result");
    if (!text)
        return -1;
    for (const auto &w : kResultWords)
        if (std::strcmp(text, w.pWord) == 0)
            return w.iCode;
    return -1;
}

void CMulticastProtocol::ParseRetryInfo(const TiXmlElement *pRoot, uint8_t *pOut, const char *pRetryName) {
    pOut[0] = Number8(ProbeChildText(pRoot, pRetryName));
    pOut[1] = Number8(ProbeChildText(pRoot, "SurplusLockTime"));
}

int CMulticastProtocol::ParseResultOnly(const TiXmlElement *pRoot, uint8_t * /*pOut*/) { return ParseResult(pRoot); }

int CMulticastProtocol::ParseExchangeCode(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    if (const char *text = ProbeChildText(pRoot, "Code")) {
        // A random string that does not fit could only be cut, and a cut one decrypts to nothing.
        if (std::strlen(text) > EXCHANGE_CODE_MAX) {
            ZEVA_LOG_ERR("[CMulticastProtocol::ParseExchangeCode] invalid Code length[%d]", int(std::strlen(text)));
            return ANSWER_TOO_LONG;
        }
        PutU32(pOut, 0, CopyCut(pOut + 4, text, EXCHANGE_CODE_MAX));
    }
    return code;
}

int CMulticastProtocol::ParseCodeText(const TiXmlElement *pRoot, uint8_t *pOut, const CODE_TEXT &rule) {
    int code = ParseResult(pRoot);
    if (code != 1 && HasResult(pRoot))
        return code;
    const char *text = TextOrLog(pRoot, rule.pElement, rule.pEmptyLine);
    if (!text)
        return code;
    uint32_t len = uint32_t(std::strlen(text));
    if (len > rule.dwMax && rule.bTooLongFails) {
        ZEVA_LOG_ERR("[CMulticastProtocol::ParseDeviceCode] invalid deviceCode length[%d]", int(len));
        PutU32(pOut, 0, len);
        return ANSWER_TOO_LONG;
    }
    PutU32(pOut, 0, CopyCut(pOut + 4, text, rule.dwMax));
    ZEVA_LOG_INF("[CMulticastProtocol::ParseDeviceCode] Code[%s]", reinterpret_cast<const char *>(pOut + 4));
    return code;
}

int CMulticastProtocol::ParseDeviceCode(const TiXmlElement *pRoot, uint8_t *pOut) {
    static const CODE_TEXT rule{"Code", 511, true, "[CMulticastProtocol::ParseDeviceCode] parse deviceCode is Null"};
    return ParseCodeText(pRoot, pOut, rule);
}

int CMulticastProtocol::ParseEncryptString(const TiXmlElement *pRoot, uint8_t *pOut) {
    static const CODE_TEXT rule{"EncryptString", 1023, true,
                                "[CMulticastProtocol::ParseEncryptString] parse EncryptString is Null"};
    return ParseCodeText(pRoot, pOut, rule);
}

int CMulticastProtocol::ParseDeviceTypeUnlockCode(const TiXmlElement *pRoot, uint8_t *pOut) {
    static const CODE_TEXT rule{"Code", 255, false,
                                "[CMulticastProtocol::ParseDeviceTypeUnlockCode] parse DeviceTypeUnlockCode is Null"};
    return ParseCodeText(pRoot, pOut, rule);
}

int CMulticastProtocol::ParseExportGUID(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    pOut[GUID_RETRY_OFFSET] = Number8(ProbeChildText(pRoot, "RetryTimes"));
    pOut[GUID_RETRY_OFFSET + 1] = Number8(ProbeChildText(pRoot, "SurplusLockTime"));
    std::vector<uint8_t> guid;
    const char *text = ProbeChildText(pRoot, "GUID");
    if (text && DecodeAll(text, guid)) {
        PutU32(pOut, 0, uint32_t(guid.size()));
        if (!guid.empty() && guid.size() <= GUID_MAX)
            std::memcpy(pOut + 4, guid.data(), guid.size());
    }
    return code;
}

int CMulticastProtocol::ParseSecurityQuestion(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    const TiXmlElement *list = pRoot->FirstChildElement("QuestionList");
    const TiXmlElement *q = list ? list->FirstChildElement("Question") : nullptr;
    auto *cfg = reinterpret_cast<ZEVA_SECURITY_QUESTION_CFG *>(pOut);
    for (int n = 0; q && n < 32; q = q->NextSiblingElement("Question"), ++n) {
        if (const char *id = ProbeChildText(q, "ID"))
            cfg->struQuestion[n].dwID = uint32_t(std::strtoul(id, nullptr, 10));
        const char *mark = ProbeChildText(q, "mark");
        if (mark && std::strcmp(mark, "true") == 0)
            cfg->struQuestion[n].byMark = 1;
    }
    return code;
}

int CMulticastProtocol::ParseBindList(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code != 1 && HasResult(pRoot))
        return code;
    const TiXmlElement *list = pRoot->FirstChildElement("DeviceSNList");
    const TiXmlElement *sn = list ? list->FirstChildElement("DeviceSN") : nullptr;
    auto *cfg = reinterpret_cast<ZEVA_BIND_LIST_CFG *>(pOut);
    for (int n = 0; sn && n < 32; sn = sn->NextSiblingElement("DeviceSN"), ++n) {
        if (const char *text = sn->GetText())
            CopyCut(reinterpret_cast<uint8_t *>(cfg->struDevice[n].szSerialNO), text, 64);
        cfg->struDevice[n].byInUse = 1;
    }
    return code;
}

int CMulticastProtocol::ParseUnbindStatus(const TiXmlElement *pRoot, uint8_t *pOut) {
    static const char *const kStatus[] = {"success", "notBind", "unenableKWPlatform", "offlineKWPlatform"};
    const char *text = ProbeChildText(pRoot, "Result");
    for (int i = 0; text && i < 4; ++i)
        if (std::strcmp(text, kStatus[i]) == 0) {
            pOut[0] = uint8_t(i + 1);
            return 1;
        }
    return ParseResult(pRoot);
}

int CMulticastProtocol::ParsePasswordResetType(const TiXmlElement *pRoot, uint8_t *pOut) {
    static const char *const kFlags[] = {"PasswordResetTypeEnabled", "GuidFileDataEnabled", "SecurityQuestionEnabled",
                                         "SecurityEmailEnabled", "KWVerificationCodeEnabled"};
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    for (int i = 0; i < 5; ++i) {
        const char *text = ProbeChildText(pRoot, kFlags[i]);
        if (text && std::strcmp(text, "true") == 0)
            pOut[4 + i] = 1;
        else if (text && std::strcmp(text, "false") == 0)
            pOut[4 + i] = 0;
    }
    return code;
}

int CMulticastProtocol::ParsePhoneQRcodes(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code != 1 && HasResult(pRoot))
        return code;
    auto *rec = reinterpret_cast<ZEVA_PHONE_QRCODE *>(pOut);
    if (const char *t = TextOrLog(pRoot, "QRCode", "[CMulticastProtocol::ParsePhoneQRcodes] parse QrCodes is Null")) {
        uint32_t len = CopyCut(reinterpret_cast<uint8_t *>(rec->szQRCode), t, 1023);
        ZEVA_LOG_DBG("[CMulticastProtocol::ParsePhoneQRcodes] len[%d], szQrCodes[%s]", int(len), rec->szQRCode);
    }
    if (const char *t =
            TextOrLog(pRoot, "DomainName", "[CMulticastProtocol::ParsePhoneQRcodes] parse DomainName is Null")) {
        CopyCut(reinterpret_cast<uint8_t *>(rec->szDomainName), t, 255);
        ZEVA_LOG_DBG("[CMulticastProtocol::ParsePhoneQRcodes] szDomainName[%s]", rec->szDomainName);
    }
    if (const char *t = TextOrLog(pRoot, "Model", "[CMulticastProtocol::ParsePhoneQRcodes] parse Model is Null")) {
        CopyCut(reinterpret_cast<uint8_t *>(rec->szDevModel), t, 31);
        ZEVA_LOG_DBG("[CMulticastProtocol::ParsePhoneQRcodes] szDevModel[%s]", rec->szDevModel);
    }
    return code;
}

int CMulticastProtocol::ParseQRcodes(const TiXmlElement *pRoot, uint8_t *pOut) {
    return ParseQRcodesForm(pRoot, pOut, true);
}

// Protocol-3.1 devices send the QR text as it is, not Base64.
int CMulticastProtocol::ParseQRcodesForm(const TiXmlElement *pRoot, uint8_t *pOut, bool bDecodeQr) {
    int code = ParseResult(pRoot);
    if (code != 1 && HasResult(pRoot))
        return code;
    static const char kNull[] = "[CMulticastProtocol::ParseQRcodes] parse QrCodes is Null";
    if (const char *t = TextOrLog(pRoot, "QRcodes", kNull)) {
        PrintHexData("[CMulticastProtocol::ParseQRcodes] QRcodes", reinterpret_cast<const uint8_t *>(t),
                     uint32_t(strnlen(t, 64)));
        int len = bDecodeQr ? DecodeText(t, pOut + QR_TEXT_OFFSET, 1023) : CopyText(t, pOut + QR_TEXT_OFFSET, 1023);
        if (len < 0) {
            ZEVA_LOG_ERR("[CMulticastProtocol::ParseQRcodes] QRcodes does not fit");
            return ANSWER_TOO_LONG;
        }
        PutU32(pOut, 0, uint32_t(len));
        ZEVA_LOG_DBG("[CMulticastProtocol::ParseQRcodes] len[%d]", len);
        PrintHexData("[CMulticastProtocol::ParseQRcodes] QRcodes Base64_Decode", pOut + QR_TEXT_OFFSET, uint32_t(len));
    }
    static const struct {
        const char *pName;
        uint32_t dwLenOffset, dwTextOffset;
        const char *pLine;
    } kBoxes[] = {
        {"MailBox", 4, QR_MAILBOX_OFFSET, "[CMulticastProtocol::ParseQRcodes] szMailBoxAddr[%d] is %s"},
        {"MailServiceBox", 8, QR_SERVICE_MAILBOX_OFFSET,
         "[CMulticastProtocol::ParseQRcodes] szServiceMailBoxAddr[%d] is %s"},
    };
    for (const auto &box : kBoxes) {
        const char *t = TextOrLog(pRoot, box.pName, kNull);
        if (!t)
            continue;
        int len = DecodeText(t, pOut + box.dwTextOffset, 127);
        if (len < 0) {
            ZEVA_LOG_ERR("[CMulticastProtocol::ParseQRcodes] %s does not fit", box.pName);
            return ANSWER_TOO_LONG;
        }
        PutU32(pOut, box.dwLenOffset, uint32_t(len));
        ZEVA_LOG_DBG(box.pLine, len, reinterpret_cast<const char *>(pOut + box.dwTextOffset));
    }
    return code;
}

int CMulticastProtocol::ParseSelfCheck(const TiXmlElement *pRoot, uint8_t *pOut) {
    int code = ParseResult(pRoot);
    if (code == 0)
        return 0;
    auto *rec = reinterpret_cast<ZEVA_SELF_CHECK *>(pOut);
    rec->dwSize = sizeof(ZEVA_SELF_CHECK);
    rec->iTotalDisk = -1;
    rec->iGoodDisk = -1;
    rec->byTotalNetworkPort = 0xFF;
    rec->byConnectNetworkPort = 0xFF;
    auto number = [pRoot](const char *name, auto &field) {
        if (const char *t = ProbeChildText(pRoot, name))
            field = decltype(+field)(std::strtol(t, nullptr, 10));
    };
    number("Progress", rec->byProgress);
    number("TotalDisk", rec->iTotalDisk);
    number("GoodDisk", rec->iGoodDisk);
    number("TotalNetworkPort", rec->byTotalNetworkPort);
    number("ConnectNetworkPort", rec->byConnectNetworkPort);
    auto state = [pRoot](const char *name, const char *one, const char *two, uint8_t &field) {
        const char *t = ProbeChildText(pRoot, name);
        if (t && std::strcmp(t, one) == 0)
            field = 1;
        else if (t && std::strcmp(t, two) == 0)
            field = 2;
    };
    state("TemperatureState", "normal", "abnormal", rec->byTemperatureState);
    state("FanState", "normal", "abnormal", rec->byFanState);
    state("PowerState", "normal", "abnormal", rec->byPowerState);
    state("SASConnectState", "connected", "unconnected", rec->bySASConnectState);
    if (const char *t = ProbeChildText(pRoot, "CPU"))
        CopyCut(reinterpret_cast<uint8_t *>(rec->szCPU), t, 32);
    if (const char *t = ProbeChildText(pRoot, "Memory"))
        CopyCut(reinterpret_cast<uint8_t *>(rec->szMemory), t, 32);
    return code;
}

// -- the answers that carry a retry count ----------------------------------------------------

int CMulticastProtocol::ParseRetryRule(const TiXmlElement *pRoot, uint8_t *pOut, const RETRY_RULE &rule) {
    const char *result = ProbeChildText(pRoot, "Result");
    if (rule.pLogLine)
        ZEVA_LOG_DBG(rule.pLogLine, result ? result : "");
    int code = ParseResult(pRoot);
    bool retry;
    if (!result) {
        if (rule.bResultRequired)
            return code;
        retry = rule.bRetryWithoutResult;
    } else if (code < 0) {
        retry = rule.bRetryUnknown;
    } else {
        retry = (rule.dwRetryCodes >> code & 1) != 0;
    }
    if (retry)
        ParseRetryInfo(pRoot, pOut, rule.pRetryName);
    return code;
}

namespace {

constexpr uint32_t kAllCodes = 0x1FFFFF;  // the codes 0 to 20
constexpr uint32_t Codes(std::initializer_list<int> codes) {
    uint32_t mask = 0;
    for (int c : codes)
        mask |= 1u << c;
    return mask;
}

}  // namespace

#define ZEVA_RETRY_PARSER(name, ...)                                       \
    int CMulticastProtocol::name(const TiXmlElement *pRoot, uint8_t *pOut) { \
        static const RETRY_RULE rule{__VA_ARGS__};                         \
        return ParseRetryRule(pRoot, pOut, rule);                          \
    }

// rule: retry codes, retry without Result, retry for an unknown word, Result required, retry
// element, log line
ZEVA_RETRY_PARSER(ParseResetPWRes, kAllCodes & ~Codes({0}), true, true, false, "RetryTimes",
                  "[CMulticastProtocol::ParseResetPWRes] Result is %s ")
ZEVA_RETRY_PARSER(ParseMailResetPW, kAllCodes & ~Codes({0}), true, true, false, "RetryTimes",
                  "[CMulticastProtocol::ParseMailResetPW] Result is %s ")
ZEVA_RETRY_PARSER(ParseGuidResetPW, kAllCodes, true, true, false, "RetryTimes",
                  "[CMulticastProtocol::ParseGuidResetPW] Result is %s ")
ZEVA_RETRY_PARSER(ParsePhoneResetPW, kAllCodes, true, true, false, "RetryTimes",
                  "[CMulticastProtocol::ParsePhoneResetPW] Result is %s ")
ZEVA_RETRY_PARSER(ParseUpdateRes, kAllCodes & ~Codes({0, 5}), true, true, false, "RetryModifyTime", nullptr)
ZEVA_RETRY_PARSER(ParseRetryAlways, kAllCodes, true, true, false, "RetryTimes", nullptr)
ZEVA_RETRY_PARSER(ParseRetryUnlessFailed, kAllCodes & ~Codes({0}), true, true, false, "RetryTimes", nullptr)
ZEVA_RETRY_PARSER(ParseWifiRegionRes, kAllCodes & ~Codes({1, 5}), false, true, true, "RetryTimes", nullptr)
ZEVA_RETRY_PARSER(ParseSetBindListRes, Codes({2, 8}), false, false, true, "RetryTimes", nullptr)
ZEVA_RETRY_PARSER(ParseQadraEnableRes, Codes({1, 2, 8}), true, false, false, "RetryTimes", nullptr)

#undef ZEVA_RETRY_PARSER

}  // namespace ZEVA
