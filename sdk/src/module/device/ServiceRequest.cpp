// The request road of a service: building a request by the device's protocol, sending it with
// its pending identity in place, and taking the one answer that belongs to it. The tables have a
// protocol-3.1 column; a null entry there refuses the device's protocol with 2005.
#include <cstring>
#include <vector>

#include "base/GlobalCtrl.h"
#include "module/device/Service.h"
#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/ProbeXml.h"
#include "morva/ComInterfaceMorva.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "utils/Utils.h"

namespace ZEVA {

namespace {

using P = CMulticastProtocol;
using Parser = int (*)(const TiXmlElement *, uint8_t *);
using P31 = CMulticastProtocol_V31;

// The 3.1 builders belong to the derived protocol object every service holds.
P::Builder V31(int (P31::*build)(const PROBE_REQUEST &, char *, uint32_t, uint32_t *)) {
    return static_cast<P::Builder>(build);
}

// Answer type words, their parser and the block the controller keeps of them; tested in order.
const struct {
    const char *pWords[3];
    Parser parse;
    AnswerKind kind;
} kDispatch[] = {
    {{"exchangecode", "exchangecode_v31"}, P::ParseExchangeCode, ANSWER_EXCHANGE_CODE},
    {{"activate", "activate_v31"}, P::ParseResultOnly, ANSWER_NONE},
    {{"update", "update_v31"}, P::ParseUpdateRes, ANSWER_NET_PARAM},
    {{"reset", "reset_v31", "reset2_v31"}, P::ParseResetPWRes, ANSWER_COMMON},
    {{"MailReset", "MailReset_v31"}, P::ParseMailResetPW, ANSWER_COMMON},
    {{"GUIDReset", "GUIDReset_v31"}, P::ParseGuidResetPW, ANSWER_COMMON},
    {{"AnswerReset", "AnswerReset_v31"}, P::ParseGuidResetPW, ANSWER_COMMON},
    {{"PhoneNoReset_v31"}, P::ParsePhoneResetPW, ANSWER_COMMON},
    {{"getcode", "getcode_v31"}, P::ParseDeviceCode, ANSWER_DEVICE_CODE},
    {{"getencryptstring", "getencryptstring_v31"}, P::ParseEncryptString, ANSWER_ENCRYPT_STRING},
    {{"deviceTypeUnlockCode"}, P::ParseDeviceTypeUnlockCode, ANSWER_UNLOCK_CODE},
    {{"ExportGUID"}, P::ParseExportGUID, ANSWER_GUID},
    {{"ExportGUID_v31"}, nullptr, ANSWER_GUID},  // needs the request's key: ParseExportGUID_V31
    {{"getsecurityquestion"}, P::ParseSecurityQuestion, ANSWER_SECURITY_QUESTION},
    {{"getBindList"}, P::ParseBindList, ANSWER_BIND_LIST},
    {{"selfCheck"}, P::ParseSelfCheck, ANSWER_SELF_CHECK},
    {{"diskLocate"}, P::ParseResultOnly, ANSWER_NONE},
    {{"GetQRcodes"}, P::ParseQRcodes, ANSWER_QRCODES},
    {{"GetQRcodes_v31"}, P31::ParseQRcodes, ANSWER_QRCODES},
    {{"getUnbindStatus"}, P::ParseUnbindStatus, ANSWER_UNBIND_STATUS},
    {{"getPasswordResetType"}, P::ParsePasswordResetType, ANSWER_RESET_TYPE},
    {{"GetPhoneNoQRCode"}, P::ParsePhoneQRcodes, ANSWER_PHONE_QRCODE},
    {{"deviceTypeCustom"}, P::ParseResultOnly, ANSWER_NONE},
    {{"setsecurityquestion", "setsecurityquestion_v31"}, P::ParseRetryUnlessFailed, ANSWER_SET_QUESTION},
    {{"SetKWPlatform", "SetKWPlatform_v31"}, P::ParseRetryAlways, ANSWER_COMMON},
    {{"SetVerificationCode"}, P::ParseRetryAlways, ANSWER_COMMON},
    {{"setBindList"}, P::ParseSetBindListRes, ANSWER_COMMON},
    {{"setWifiRegion", "setChannelDefaultPassword"}, P::ParseWifiRegionRes, ANSWER_COMMON},
    {{"QadraEnable"}, P::ParseQadraEnableRes, ANSWER_COMMON},
    {{"SetMailBox", "SetMailBox_v31"}, P::ParseRetryUnlessFailed, ANSWER_COMMON},
    {{"wifiParamCfg", "wifiParamCheck"}, P::ParseResultOnly, ANSWER_NONE},
    {{"tovukUnbind", "tovukUnbind_v31"}, P::ParseRetryUnlessFailed, ANSWER_COMMON},
    {{"tovukUnbindDelUsers"}, P::ParseRetryUnlessFailed, ANSWER_COMMON},
    {{"SetUserToken"}, P::ParseRetryAlways, ANSWER_COMMON},
    {{"lamp"}, P::ParseResultOnly, ANSWER_NONE},
    // Set command 14 waits for this answer like every other setting.
    {{"restoreInactive", "restoreInactive_v31"}, P::ParseRetryUnlessFailed, ANSWER_COMMON},
};

// Get commands: the builder by protocol, the type word of the plain reads, and for a 3.1 device
// the command to use instead where this one is 3.0 only.
const struct {
    uint32_t dwCommand;
    P::Builder build30;
    P::Builder build31;
    const char *pWord;
    uint32_t dwUseInstead;
} kGetCommands[] = {
    {1, &P::PackageCommon, nullptr, "getcode", 30},
    {2, &P::PackageCommon, nullptr, "getencryptstring", 31},
    {3, &P::PackageCommon, &P::PackageCommon, "deviceTypeUnlockCode", 0},
    {5, &P::GetGUID, nullptr, "ExportGUID", 32},
    {6, &P::PackageCommon, &P::PackageCommon, "getsecurityquestion", 0},
    {12, &P::PackageCommon, &P::PackageCommon, "getBindList", 0},
    {17, &P::PackageCommon, &P::PackageCommon, "selfCheck", 0},
    {18, &P::PackageCommon, &P::PackageCommon, "diskLocate", 0},
    {21, &P::PackageCommon, nullptr, "GetQRcodes", 33},
    {24, &P::PackageCommon, &P::PackageCommon, "getUnbindStatus", 0},
    {27, &P::PackageCommon, &P::PackageCommon, "getPasswordResetType", 0},
    {29, &P::PackageCommon, &P::PackageCommon, "GetPhoneNoQRCode", 0},
    {30, &P::PackageCommon, V31(&P31::PackageGetCode_V31), "getcode", 0},
    {31, &P::PackageCommon, V31(&P31::PackageGetEncryptString_V31), "getencryptstring", 0},
    {32, &P::GetGUID, V31(&P31::PackageExportGUID_V31), "ExportGUID", 0},
    {33, &P::PackageCommon, V31(&P31::PackageGetQRcodes_V31), "GetQRcodes", 0},
};

const struct {
    uint32_t dwCommand;
    P::Builder build30;
    P::Builder build31;
    const char *pWord;  // for the builder that serves two commands
} kSetCommands[] = {
    {4, &P::PackageDeviceTypeCustom, &P::PackageDeviceTypeCustom, ""},
    {7, &P::SetSecurityQuestion, V31(&P31::PackageSetSecurityQuestion_V31), ""},
    {8, &P::SetKWPlatformStatus, V31(&P31::PackageSetKWPlatform_V31), ""},
    {9, &P::PackageVerificationCode, &P::PackageVerificationCode, ""},
    {13, &P::PackageBindList, &P::PackageBindList, ""},
    {14, &P::SetRestoreInactive, V31(&P31::PackageRestoreInactive_V31), ""},
    {15, &P::SetWifiConfig, &P::SetWifiConfig, ""},
    {16, &P::PackageChannelDefaultPassword, &P::PackageChannelDefaultPassword, ""},
    {19, &P::PackageQadraEnable, &P::PackageQadraEnable, ""},
    {20, &P::SetMailBox, V31(&P31::PackageSetMailBox_V31), ""},
    {22, &P::WifiParamCfg, &P::WifiParamCfg, "wifiParamCfg"},
    {23, &P::WifiParamCfg, &P::WifiParamCfg, "wifiParamCheck"},
    {25, &P::PackageTovukUnbind, V31(&P31::PackageTovukUnbind_V31), ""},
    {26, &P::PackageTovukUnbindDelUsers, &P::PackageTovukUnbindDelUsers, ""},
    {28, &P::PackageTovukUserToken, &P::PackageTovukUserToken, ""},
};

// Reset types.
const struct {
    uint8_t byResetType;
    P::Builder build30;
    P::Builder build31;
} kResets[] = {
    {2, &P::PackageReset, V31(&P31::PackageReset_V31)},
    {3, &P::PackageReset, V31(&P31::PackageReset_V31)},
    {4, &P::SendGuidResetPWPacket, V31(&P31::PackageGUIDReset_V31)},
    {5, &P::SendSecQustionResetPWPacket, V31(&P31::PackageAnswerReset_V31)},
    {6, &P::SendMailBoxResetPWPacket, V31(&P31::PackageMailReset_V31)},
    {7, nullptr, V31(&P31::PackagePhoneNoReset_V31)},
};

}  // namespace

// -- sending ---------------------------------------------------------------------------------

int CService::SendRequest(const DEVICE_LIST_ITEM &dev, const BUILDER_PAIR &builders, PROBE_REQUEST &req,
                          const REQUEST_LINES &lines, int iArg) {
    P::Builder build = dev.byProtocol == 1 ? builders.build30 : builders.build31;
    if (!build) {
        ZEVA_LOG_ERR("[CService::SendRequest] protocol[%d] of the device not supported", dev.byProtocol);
        SetSdkLastError(ZEVA_ERR_PARAM);
    }
    char uuid[40] = {};
    CreateUuidString(uuid, sizeof uuid);
    std::string mac(dev.struDevInfo.szMAC, strnlen(dev.struDevInfo.szMAC, sizeof dev.struDevInfo.szMAC));
    req.pUuid = uuid;
    req.pMAC = mac.c_str();
    std::vector<char> text(REQUEST_BUFFER_LEN);
    uint32_t len = 0;
    if (!build || !(m_Protocol.*build)(req, text.data(), REQUEST_BUFFER_LEN, &len)) {
        if (lines.pPackageFailLine)
            ZEVA_LOG_ERR(lines.pPackageFailLine, iArg);
        return 0;
    }
    // A fast device may answer before the send returns.
    SetPending(uuid, mac.c_str(), text.data(), len);
    if (!SendXmlData(text.data(), len)) {
        SetPending("", mac.c_str(), text.data(), len);
        SetSdkLastError(ZEVA_ERR_SEND);
        ZEVA_LOG_ERR(lines.pFailLine, Morva_GetSysLastError());
        return 0;
    }
    ZEVA_LOG_DBG(lines.pSentLine, text.data());
    return 1;
}

int CService::GetExchangeCode(const DEVICE_LIST_ITEM &dev, uint8_t byProtocol) {
    static const REQUEST_LINES lines{"[CService::GetExchangeCode] Send exchange code failed sys_err = %d",
                                     "[CService::GetExchangeCode] Send XML is %s", nullptr};
    // The exchange follows the protocol asked for, not the device's.
    DEVICE_LIST_ITEM asked = dev;
    asked.byProtocol = byProtocol == 1 ? 1 : 2;
    PROBE_REQUEST req;
    return SendRequest(asked, {&P::PackageExchangeCode, V31(&P31::PackageExchangeCode_V31)}, req, lines);
}

int CService::ActiveDev(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pPassword) {
    static const REQUEST_LINES lines{"[CService::ActiveDev] Send active failed sys_err = %d",
                                     "[CService::ActiveDev] Send XML is %s", nullptr};
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pPassword = pPassword;
    return SendRequest(dev, {&P::PackageActivate, V31(&P31::PackageActivate_V31)}, req, lines);
}

int CService::ModifyNetParam(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const char *pUserName,
                             const char *pPassword, const ZEVA_NET_PARAM *pParam) {
    static const REQUEST_LINES lines{"[CService::ModifyNetParam] Send modify failed sys_err = %d",
                                     "[CService::ModifyNetParam] Send XML is %s", nullptr};
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pUserName = pUserName;
    req.pPassword = pPassword;
    req.pIn = reinterpret_cast<const uint8_t *>(pParam);
    req.pSalt = dev.szSalt;
    req.pSalt2 = dev.szSalt2;
    req.bySupport = dev.struDevInfo.bySupport;
    return SendRequest(dev, {&P::PackageUpdateData, V31(&P31::PackageUpdateData_V31)}, req, lines);
}

int CService::ResetPassword(const DEVICE_LIST_ITEM &dev, const char *pExchangeCode, const ZEVA_RESET_PARAM *pParam) {
    static const REQUEST_LINES lines{"[CService::ResetPassword] Send Reset Password failed sys_err = %d",
                                     "[CService::ResetPassword] Send XML is %s",
                                     "[CService::ResetPassword] byResetType[%d] Package failed"};
    for (const auto &row : kResets) {
        if (row.byResetType != pParam->byResetType)
            continue;
        if (row.byResetType == 4) {
            const uint8_t *g = reinterpret_cast<const uint8_t *>(pParam->szGUID);
            ZEVA_LOG_INF("[CService::ResetPassword] GUID[%x%x%x%x][%x%x%x%x][%x%x%x%x][%x%x%x%x]", g[0], g[1], g[2],
                         g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
        }
        PROBE_REQUEST req;
        req.pExchangeCode = pExchangeCode;
        req.pIn = reinterpret_cast<const uint8_t *>(pParam);
        req.bySupportCodeEncrypt = dev.struDevInfo.bySupportCodeEncrypt;
        // Type 7 has only a protocol-3.1 form, used for every device.
        DEVICE_LIST_ITEM as = dev;
        if (row.byResetType == 7)
            as.byProtocol = 2;
        return SendRequest(as, {row.build30, row.build31}, req, lines, pParam->byResetType);
    }
    ZEVA_LOG_ERR("[CService::ResetPassword] invalid byResetType[%d]", pParam->byResetType);
    SetSdkLastError(ZEVA_ERR_PARAM);
    ZEVA_LOG_ERR(lines.pPackageFailLine, pParam->byResetType);
    return 0;
}

int CService::SendConfig(const DEVICE_LIST_ITEM &dev, const BUILDER_PAIR &builders, const char *pWord,
                         const char *pUserName, const char *pExchangeCode, uint32_t dwCommand, const void *pIn,
                         const REQUEST_LINES &lines) {
    PROBE_REQUEST req;
    req.pExchangeCode = pExchangeCode;
    req.pUserName = pUserName;
    req.pIn = static_cast<const uint8_t *>(pIn);
    req.pType = pWord;
    req.pSalt = dev.szSalt;
    req.pSalt2 = dev.szSalt2;
    return SendRequest(dev, builders, req, lines, int(dwCommand));
}

int CService::GetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                              uint32_t dwCommand, const void *pIn) {
    static const REQUEST_LINES lines{"[CService::GetDeviceConfig] Send Get Device Config failed sys_err = %d",
                                     "[CService::GetDeviceConfig] Send XML is %s",
                                     "[CService::GetDeviceConfig] command[%d] Package failed"};
    for (const auto &row : kGetCommands) {
        if (row.dwCommand != dwCommand)
            continue;
        if (dev.byProtocol != 1 && row.dwUseInstead) {
            SetSdkLastError(ZEVA_ERR_PARAM);
            ZEVA_LOG_ERR("[CService::GetDeviceConfig] v3.1 device use command[%d]", row.dwUseInstead);
            ZEVA_LOG_ERR(lines.pPackageFailLine, dwCommand);
            return 0;
        }
        return SendConfig(dev, {row.build30, row.build31}, row.pWord, pUserName, pExchangeCode, dwCommand, pIn,
                          lines);
    }
    ZEVA_LOG_ERR("[CService::GetDeviceConfig] invalid command[%d]", dwCommand);
    SetSdkLastError(ZEVA_ERR_PARAM);
    return 0;
}

int CService::SetDeviceConfig(const DEVICE_LIST_ITEM &dev, const char *pUserName, const char *pExchangeCode,
                              uint32_t dwCommand, const void *pIn) {
    static const REQUEST_LINES lines{"[CService::SetDeviceConfig] Send set device config failed sys_err = %d",
                                     "[CService::SetDeviceConfig] Send XML is %s",
                                     "[CService::SetDeviceConfig] command[%d] Package failed"};
    for (const auto &row : kSetCommands)
        if (row.dwCommand == dwCommand)
            return SendConfig(dev, {row.build30, row.build31}, row.pWord, pUserName, pExchangeCode, dwCommand, pIn,
                              lines);
    ZEVA_LOG_ERR("[CService::SetDeviceConfig] invalid command[%d]", dwCommand);
    SetSdkLastError(ZEVA_ERR_PARAM);
    ZEVA_LOG_ERR(lines.pPackageFailLine, dwCommand);
    return 0;
}

// -- answers ---------------------------------------------------------------------------------

void CService::SetPending(const char *pUuid, const char *pMAC, const char *pText, uint32_t dwLen) {
    std::lock_guard<std::mutex> lock(m_PendingLock);
    std::snprintf(m_szPendingUuid, sizeof m_szPendingUuid, "%s", pUuid);
    std::snprintf(m_szPendingMAC, sizeof m_szPendingMAC, "%s", pMAC);
    m_LastRequest.assign(pText, dwLen);
}

bool CService::TakeAnswer(const TiXmlElement *pRoot, const char *pType, const char *pData, uint32_t dwLen) {
    const TiXmlElement *uuid = pRoot->FirstChildElement("Uuid");
    if (!uuid) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] no Uuid node");
        return false;
    }
    const TiXmlElement *macNode = pRoot->FirstChildElement("MAC");
    std::lock_guard<std::mutex> lock(m_PendingLock);
    // Our own request, come back by the relay or a second adapter, is no answer.
    if (m_LastRequest.size() == dwLen && std::memcmp(m_LastRequest.data(), pData, dwLen) == 0)
        return false;
    if (!macNode) {
        ZEVA_LOG_DBG("[CService::ProcessUdpData] Type[%s] no MAC node", pType);
    } else if (const char *mac = macNode->GetText()) {
        if (std::strncmp(mac, m_szPendingMAC, std::strlen(m_szPendingMAC)) != 0) {
            ZEVA_LOG_DBG("[CService::ProcessUdpData] Type[%s] [%s]!=[%s]", pType, m_szPendingMAC, mac);
            return false;
        }
    }
    const char *text = uuid->GetText();
    if (!text || !m_szPendingUuid[0] || std::strcmp(text, m_szPendingUuid) != 0)
        return false;
    m_szPendingUuid[0] = '\0';
    return true;
}

void CService::DispatchAnswer(const TiXmlElement *pRoot, const char *pType) {
    for (const auto &row : kDispatch) {
        for (const char *word : row.pWords) {
            if (!word || std::strcmp(word, pType) != 0)
                continue;
            std::vector<uint8_t> block(row.kind == ANSWER_NONE ? 1 : ANSWER_BLOCK_SIZE[row.kind]);
            int code = row.parse ? row.parse(pRoot, block.data()) : m_Protocol.ParseExportGUID_V31(pRoot, block.data());
            CGlobalCtrl::GetInstance()->StoreDevAnswer(row.kind, block.data(), code);
            ZEVA_LOG_DBG("[CService::ProcessUdpData] type[%s] result[%d]", pType, code);
            return;
        }
    }
    ZEVA_LOG_DBG("[CService::ProcessUdpData] type[%s] result[%d]", pType, -1);
}

}  // namespace ZEVA
