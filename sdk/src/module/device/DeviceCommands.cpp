#include "module/device/DeviceCommands.h"

#include <algorithm>
#include <cstring>

namespace ZEVA {

namespace {

using P = CMulticastProtocol;
using P31 = CMulticastProtocol_V31;

// The 3.1 builders belong to the derived protocol object every service holds.
P::Builder V31(int (P31::*build)(const PROBE_REQUEST &, char *, uint32_t, uint32_t *)) {
    return static_cast<P::Builder>(build);
}

template <int (*Parse)(const TiXmlElement *, uint8_t *)>
int Plain(P31 &, const TiXmlElement *pRoot, uint8_t *pBlock) {
    return Parse(pRoot, pBlock);
}

// Decrypted with the key and IV of the request it answers.
int ExportGuid31(P31 &protocol, const TiXmlElement *pRoot, uint8_t *pBlock) {
    return protocol.ParseExportGUID_V31(pRoot, pBlock);
}

// A row in three lines: number, 3.0 builder, 3.1 builder, type word of a shared builder; the
// answer words with their parsers; the answer block, the host's input and output records (a set
// command's output is its 128-byte result, 256 bytes for the security questions), the exchange
// and the replacement for a 3.1 device.

const DEVICE_COMMAND kGetCommands[] = {
    {ZEVA_GET_DEVICE_CODE, &P::PackageCommon, nullptr, "getcode",
     {{"getcode", Plain<P::ParseDeviceCode>}},
     ANSWER_DEVICE_CODE, 0, sizeof(ZEVA_DEVICE_CODE), EXCHANGE_NONE, ZEVA_GET_DEVICE_CODE_V31},
    {ZEVA_GET_ENCRYPT_STRING, &P::PackageCommon, nullptr, "getencryptstring",
     {{"getencryptstring", Plain<P::ParseEncryptString>}},
     ANSWER_ENCRYPT_STRING, 0, sizeof(ZEVA_ENCRYPT_STRING), EXCHANGE_NONE, ZEVA_GET_ENCRYPT_STRING_V31},
    {ZEVA_GET_DEVICE_TYPE_UNLOCK_CODE, &P::PackageCommon, &P::PackageCommon, "deviceTypeUnlockCode",
     {{"deviceTypeUnlockCode", Plain<P::ParseDeviceTypeUnlockCode>}},
     ANSWER_UNLOCK_CODE, 0, sizeof(ZEVA_DEVICE_TYPE_UNLOCK_CODE), EXCHANGE_NONE, 0},
    {ZEVA_GET_GUID, &P::GetGUID, nullptr, "",
     {{"ExportGUID", Plain<P::ParseExportGUID>}},
     ANSWER_GUID, 0, sizeof(ZEVA_GUID_INFO), EXCHANGE_BY_DEVICE, ZEVA_GET_GUID_V31},
    {ZEVA_GET_SECURITY_QUESTIONS, &P::PackageCommon, &P::PackageCommon, "getsecurityquestion",
     {{"getsecurityquestion", Plain<P::ParseSecurityQuestion>}},
     ANSWER_SECURITY_QUESTION, 0, sizeof(ZEVA_SECURITY_QUESTION_CFG), EXCHANGE_NONE, 0},
    {ZEVA_GET_BIND_LIST, &P::PackageCommon, &P::PackageCommon, "getBindList",
     {{"getBindList", Plain<P::ParseBindList>}},
     ANSWER_BIND_LIST, 0, sizeof(ZEVA_BIND_LIST_CFG), EXCHANGE_NONE, 0},
    {ZEVA_GET_SELF_CHECK, &P::PackageCommon, &P::PackageCommon, "selfCheck",
     {{"selfCheck", Plain<P::ParseSelfCheck>}},
     ANSWER_SELF_CHECK, 0, sizeof(ZEVA_SELF_CHECK), EXCHANGE_NONE, 0},
    {ZEVA_GET_DISK_LOCATE, &P::PackageCommon, &P::PackageCommon, "diskLocate",
     {{"diskLocate", Plain<P::ParseResultOnly>}},
     ANSWER_NONE, 0, 0, EXCHANGE_NONE, 0},
    {ZEVA_GET_QRCODES, &P::PackageCommon, nullptr, "GetQRcodes",
     {{"GetQRcodes", Plain<P::ParseQRcodes>}},
     ANSWER_QRCODES, 0, sizeof(ZEVA_QRCODES), EXCHANGE_NONE, ZEVA_GET_QRCODES_V31},
    {ZEVA_GET_UNBIND_STATUS, &P::PackageCommon, &P::PackageCommon, "getUnbindStatus",
     {{"getUnbindStatus", Plain<P::ParseUnbindStatus>}},
     ANSWER_UNBIND_STATUS, 0, sizeof(ZEVA_UNBIND_STATUS), EXCHANGE_NONE, 0},
    {ZEVA_GET_PASSWORD_RESET_TYPE, &P::PackageCommon, &P::PackageCommon, "getPasswordResetType",
     {{"getPasswordResetType", Plain<P::ParsePasswordResetType>}},
     ANSWER_RESET_TYPE, 0, sizeof(ZEVA_PASSWORD_RESET_TYPE), EXCHANGE_NONE, 0},
    {ZEVA_GET_PHONE_QRCODE, &P::PackageCommon, &P::PackageCommon, "GetPhoneNoQRCode",
     {{"GetPhoneNoQRCode", Plain<P::ParsePhoneQRcodes>}},
     ANSWER_PHONE_QRCODE, 0, sizeof(ZEVA_PHONE_QRCODE), EXCHANGE_NONE, 0},
    {ZEVA_GET_DEVICE_CODE_V31, &P::PackageCommon, V31(&P31::PackageGetCode_V31), "getcode",
     {{"getcode", Plain<P::ParseDeviceCode>}, {"getcode_v31", Plain<P::ParseDeviceCode>}},
     ANSWER_DEVICE_CODE, 0, sizeof(ZEVA_DEVICE_CODE_V31), EXCHANGE_NONE, 0},
    {ZEVA_GET_ENCRYPT_STRING_V31, &P::PackageCommon, V31(&P31::PackageGetEncryptString_V31), "getencryptstring",
     {{"getencryptstring", Plain<P::ParseEncryptString>}, {"getencryptstring_v31", Plain<P::ParseEncryptString>}},
     ANSWER_ENCRYPT_STRING, 0, sizeof(ZEVA_ENCRYPT_STRING_V31), EXCHANGE_NONE, 0},
    {ZEVA_GET_GUID_V31, &P::GetGUID, V31(&P31::PackageExportGUID_V31), "",
     {{"ExportGUID", Plain<P::ParseExportGUID>}, {"ExportGUID_v31", ExportGuid31}},
     ANSWER_GUID, 0, sizeof(ZEVA_GUID_INFO_V31), EXCHANGE_BY_DEVICE, 0},
    {ZEVA_GET_QRCODES_V31, &P::PackageCommon, V31(&P31::PackageGetQRcodes_V31), "GetQRcodes",
     {{"GetQRcodes", Plain<P::ParseQRcodes>}, {"GetQRcodes_v31", Plain<P31::ParseQRcodes>}},
     ANSWER_QRCODES, 0, sizeof(ZEVA_QRCODES_V31), EXCHANGE_NONE, 0},
};

const DEVICE_COMMAND kSetCommands[] = {
    {4, &P::PackageDeviceTypeCustom, &P::PackageDeviceTypeCustom, "",
     {{"deviceTypeCustom", Plain<P::ParseResultOnly>}},
     ANSWER_NONE, 0, 0, EXCHANGE_NONE, 0},
    {ZEVA_SET_SECURITY_QUESTIONS, &P::SetSecurityQuestion, V31(&P31::PackageSetSecurityQuestion_V31), "",
     {{"setsecurityquestion", Plain<P::ParseRetryUnlessFailed>},
      {"setsecurityquestion_v31", Plain<P::ParseRetryUnlessFailed>}},
     ANSWER_SET_QUESTION, sizeof(ZEVA_SECURITY_QUESTION_CFG), 256, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_SET_KWPLATFORM_STATUS, &P::SetKWPlatformStatus, V31(&P31::PackageSetKWPlatform_V31), "",
     {{"SetKWPlatform", Plain<P::ParseRetryAlways>}, {"SetKWPlatform_v31", Plain<P::ParseRetryAlways>}},
     ANSWER_COMMON, sizeof(ZEVA_KWPLATFORM_STATUS_CFG), 128, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_SET_VERIFICATION_CODE, &P::PackageVerificationCode, &P::PackageVerificationCode, "",
     {{"SetVerificationCode", Plain<P::ParseRetryAlways>}},
     ANSWER_COMMON, sizeof(ZEVA_VERIFICATION_CODE_CFG), 128, EXCHANGE_30, 0},
    {ZEVA_SET_BIND_LIST, &P::PackageBindList, &P::PackageBindList, "",
     {{"setBindList", Plain<P::ParseSetBindListRes>}},
     ANSWER_COMMON, sizeof(ZEVA_BIND_LIST_CFG), 128, EXCHANGE_30, 0},
    // By the device's protocol: the 3.1 form needs the key of the 3.1 exchange.
    {ZEVA_SET_RESTORE_INACTIVE, &P::SetRestoreInactive, V31(&P31::PackageRestoreInactive_V31), "",
     {{"restoreInactive", Plain<P::ParseRetryUnlessFailed>}, {"restoreInactive_v31", Plain<P::ParseRetryUnlessFailed>}},
     ANSWER_COMMON, sizeof(ZEVA_RESTORE_INACTIVE_CFG), 128, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_SET_WIFI_REGION, &P::SetWifiConfig, &P::SetWifiConfig, "",
     {{"setWifiRegion", Plain<P::ParseWifiRegionRes>}},
     ANSWER_COMMON, sizeof(ZEVA_WIFI_REGION_CFG), 128, EXCHANGE_30, 0},
    {ZEVA_SET_CHANNEL_DEFAULT_PASSWORD, &P::PackageChannelDefaultPassword, &P::PackageChannelDefaultPassword, "",
     {{"setChannelDefaultPassword", Plain<P::ParseWifiRegionRes>}},
     ANSWER_COMMON, sizeof(ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG), 128, EXCHANGE_30, 0},
    {ZEVA_SET_QADRA_ENABLE, &P::PackageQadraEnable, &P::PackageQadraEnable, "",
     {{"QadraEnable", Plain<P::ParseQadraEnableRes>}},
     ANSWER_COMMON, sizeof(ZEVA_QADRA_ENABLE_CFG), 128, EXCHANGE_30, 0},
    {ZEVA_SET_MAILBOX, &P::SetMailBox, V31(&P31::PackageSetMailBox_V31), "",
     {{"SetMailBox", Plain<P::ParseRetryUnlessFailed>}, {"SetMailBox_v31", Plain<P::ParseRetryUnlessFailed>}},
     ANSWER_COMMON, sizeof(ZEVA_MAILBOX_CFG), 128, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_SET_WIFI_PARAM, &P::WifiParamCfg, &P::WifiParamCfg, "wifiParamCfg",
     {{"wifiParamCfg", Plain<P::ParseResultOnly>}},
     ANSWER_NONE, sizeof(ZEVA_WIFI_PARAM), 0, EXCHANGE_30, 0},
    {ZEVA_SET_WIFI_PARAM_CHECK, &P::WifiParamCfg, &P::WifiParamCfg, "wifiParamCheck",
     {{"wifiParamCheck", Plain<P::ParseResultOnly>}},
     ANSWER_NONE, sizeof(ZEVA_WIFI_PARAM), 0, EXCHANGE_30, 0},
    // By the device's protocol, as restoring the inactive state.
    {ZEVA_SET_TOVUK_UNBIND, &P::PackageTovukUnbind, V31(&P31::PackageTovukUnbind_V31), "",
     {{"tovukUnbind", Plain<P::ParseRetryUnlessFailed>}, {"tovukUnbind_v31", Plain<P::ParseRetryUnlessFailed>}},
     ANSWER_COMMON, sizeof(ZEVA_TOVUK_UNBIND_CFG), 128, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_SET_TOVUK_UNBIND_DEL_USERS, &P::PackageTovukUnbindDelUsers, &P::PackageTovukUnbindDelUsers, "",
     {{"tovukUnbindDelUsers", Plain<P::ParseRetryUnlessFailed>}},
     ANSWER_COMMON, sizeof(ZEVA_TOVUK_UNBIND_DEL_USERS_CFG), 128, EXCHANGE_30, 0},
    {ZEVA_SET_USER_TOKEN, &P::PackageTovukUserToken, &P::PackageTovukUserToken, "",
     {{"SetUserToken", Plain<P::ParseRetryAlways>}},
     ANSWER_COMMON, sizeof(ZEVA_USER_TOKEN_CFG), 128, EXCHANGE_30, 0},
};

// By byResetType. Type 1 goes by raw frame; type 7 has only the 3.1 form, for every device.
const DEVICE_COMMAND kResetTypes[] = {
    {ZEVA_RESET_BY_CODE, &P::PackageReset, V31(&P31::PackageReset_V31), "",
     {{"reset", Plain<P::ParseResetPWRes>},
      {"reset_v31", Plain<P::ParseResetPWRes>},
      {"reset2_v31", Plain<P::ParseResetPWRes>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_RESET_BY_AUTH_FILE, &P::PackageReset, V31(&P31::PackageReset_V31), "",
     {{"reset", Plain<P::ParseResetPWRes>},
      {"reset_v31", Plain<P::ParseResetPWRes>},
      {"reset2_v31", Plain<P::ParseResetPWRes>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_RESET_BY_GUID, &P::SendGuidResetPWPacket, V31(&P31::PackageGUIDReset_V31), "",
     {{"GUIDReset", Plain<P::ParseGuidResetPW>}, {"GUIDReset_v31", Plain<P::ParseGuidResetPW>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_30_DEVICES, 0},
    {ZEVA_RESET_BY_QUESTIONS, &P::SendSecQustionResetPWPacket, V31(&P31::PackageAnswerReset_V31), "",
     {{"AnswerReset", Plain<P::ParseGuidResetPW>}, {"AnswerReset_v31", Plain<P::ParseGuidResetPW>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_BY_DEVICE, 0},
    {ZEVA_RESET_BY_MAIL_CODE, &P::SendMailBoxResetPWPacket, V31(&P31::PackageMailReset_V31), "",
     {{"MailReset", Plain<P::ParseMailResetPW>}, {"MailReset_v31", Plain<P::ParseMailResetPW>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_30_DEVICES, 0},
    {ZEVA_RESET_BY_PHONE_CODE, V31(&P31::PackagePhoneNoReset_V31), V31(&P31::PackagePhoneNoReset_V31), "",
     {{"PhoneNoReset_v31", Plain<P::ParsePhoneResetPW>}},
     ANSWER_COMMON, 0, 0, EXCHANGE_30_DEVICES, 0},
};

// Built by PackageLamp; no operation sends it, but its answer is known.
const DEVICE_COMMAND kLamp = {0, &P::PackageLamp, &P::PackageLamp, "", {{"lamp", Plain<P::ParseResultOnly>}},
                              ANSWER_NONE, 0, 0, EXCHANGE_NONE, 0};

template <size_t N>
const DEVICE_COMMAND *FindIn(const DEVICE_COMMAND (&rows)[N], uint32_t dwNumber) {
    for (const DEVICE_COMMAND &row : rows)
        if (row.dwNumber == dwNumber)
            return &row;
    return nullptr;
}

bool WordBefore(const ANSWER_ROUTE &route, const char *pWord) { return std::strcmp(route.pWord, pWord) < 0; }

// Every answer word once, sorted; a word two rows share routes as the first of them says.
std::vector<ANSWER_ROUTE> BuildAnswerIndex() {
    std::vector<ANSWER_ROUTE> routes;
    for (const DEVICE_COMMAND *row : AllDeviceCommands())
        for (const ANSWER_WORD &answer : row->answers)
            if (answer.pWord)
                routes.push_back({answer.pWord, answer.parse, row->kind});
    std::stable_sort(routes.begin(), routes.end(),
                     [](const ANSWER_ROUTE &a, const ANSWER_ROUTE &b) { return std::strcmp(a.pWord, b.pWord) < 0; });
    routes.erase(std::unique(routes.begin(), routes.end(),
                             [](const ANSWER_ROUTE &a, const ANSWER_ROUTE &b) {
                                 return std::strcmp(a.pWord, b.pWord) == 0;
                             }),
                 routes.end());
    return routes;
}

}  // namespace

const DEVICE_COMMAND EXCHANGE_REQUEST = {0, &P::PackageExchangeCode, V31(&P31::PackageExchangeCode_V31), "",
                                         {{"exchangecode", Plain<P::ParseExchangeCode>},
                                          {"exchangecode_v31", Plain<P::ParseExchangeCode>}},
                                         ANSWER_EXCHANGE_CODE, 0, 0, EXCHANGE_NONE, 0};
const DEVICE_COMMAND ACTIVATE_REQUEST = {0, &P::PackageActivate, V31(&P31::PackageActivate_V31), "",
                                         {{"activate", Plain<P::ParseResultOnly>},
                                          {"activate_v31", Plain<P::ParseResultOnly>}},
                                         ANSWER_NONE, 0, 0, EXCHANGE_BY_DEVICE, 0};
const DEVICE_COMMAND UPDATE_REQUEST = {0, &P::PackageUpdateData, V31(&P31::PackageUpdateData_V31), "",
                                       {{"update", Plain<P::ParseUpdateRes>}, {"update_v31", Plain<P::ParseUpdateRes>}},
                                       ANSWER_NET_PARAM, 0, 0, EXCHANGE_31_DEVICES, 0};

const DEVICE_COMMAND *FindGetCommand(uint32_t dwCommand) { return FindIn(kGetCommands, dwCommand); }

const DEVICE_COMMAND *FindSetCommand(uint32_t dwCommand) { return FindIn(kSetCommands, dwCommand); }

const DEVICE_COMMAND *FindResetType(uint32_t dwResetType) { return FindIn(kResetTypes, dwResetType); }

bool NeedsExchange(Exchange exchange, uint8_t byDeviceProtocol, uint8_t *pExchangeProtocol) {
    *pExchangeProtocol = exchange == EXCHANGE_30 ? PROTOCOL_30 : byDeviceProtocol;
    switch (exchange) {
    case EXCHANGE_BY_DEVICE:
    case EXCHANGE_30:
        return true;
    case EXCHANGE_30_DEVICES:
        return byDeviceProtocol == PROTOCOL_30;
    case EXCHANGE_31_DEVICES:
        return byDeviceProtocol >= 2;
    case EXCHANGE_NONE:
        break;
    }
    return false;
}

std::vector<const DEVICE_COMMAND *> AllDeviceCommands() {
    std::vector<const DEVICE_COMMAND *> rows{&EXCHANGE_REQUEST, &ACTIVATE_REQUEST, &UPDATE_REQUEST};
    for (const DEVICE_COMMAND &row : kResetTypes)
        rows.push_back(&row);
    for (const DEVICE_COMMAND &row : kGetCommands)
        rows.push_back(&row);
    for (const DEVICE_COMMAND &row : kSetCommands)
        rows.push_back(&row);
    rows.push_back(&kLamp);
    return rows;
}

const ANSWER_ROUTE *FindAnswer(const char *pWord) {
    static const std::vector<ANSWER_ROUTE> index = BuildAnswerIndex();
    auto it = std::lower_bound(index.begin(), index.end(), pWord, WordBefore);
    return it != index.end() && std::strcmp(it->pWord, pWord) == 0 ? &*it : nullptr;
}

}  // namespace ZEVA
