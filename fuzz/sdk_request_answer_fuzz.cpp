// The answer to a pending request: the first byte picks the request's type word, the rest is the
// answer after its Uuid, MAC and type, then the same bytes once more as a whole datagram. The
// protocol-3.1 GUID is decrypted with the key and IV the service's protocol object holds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "module/device/Service.h"

namespace {

const char *const kTypes[] = {
    "exchangecode", "activate",      "update",          "reset",          "MailReset",        "GUIDReset",
    "AnswerReset",  "PhoneNoReset_v31", "getcode",      "getencryptstring", "deviceTypeUnlockCode", "ExportGUID",
    "getsecurityquestion", "getBindList", "selfCheck",  "diskLocate",     "GetQRcodes",       "getUnbindStatus",
    "getPasswordResetType", "GetPhoneNoQRCode", "deviceTypeCustom", "setsecurityquestion", "SetKWPlatform",
    "SetVerificationCode", "setBindList", "setWifiRegion", "setChannelDefaultPassword", "QadraEnable",
    "SetMailBox",   "wifiParamCfg",  "tovukUnbind",     "tovukUnbindDelUsers", "SetUserToken", "lamp",
    "restoreInactive", "unknownWord", "ExportGUID_v31", "GetQRcodes_v31",
};
constexpr char kUuid[] = "0A1B2C3D-0000-1111-2222-333344445555";
constexpr char kMac[] = "02-d5-00-00-00-00";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ZEVA::CService service(0);
    if (size == 0)
        return 0;
    const char *type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
    std::string body(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string text = std::string("<Probe><Uuid>") + kUuid + "</Uuid><MAC>" + kMac + "</MAC><Types>" + type +
                       "</Types>" + body + "</Probe>";
    service.SetPending(kUuid, kMac, "", 0);
    service.ProcessUdpData(text.data(), uint32_t(text.size()), ZEVA::SOURCE_MULTICAST);
    service.SetPending(kUuid, kMac, "", 0);
    service.ProcessUdpData(body.data(), uint32_t(body.size()), ZEVA::SOURCE_MULTICAST);
    return 0;
}
