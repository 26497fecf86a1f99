#include "records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "json_text.h"
#include "zeva/ZevaSdk.h"

namespace zevahost {

namespace {

enum class Kind {
    U32,
    I32,
    U8,
    Enabled,  // byte, 1 enabled
    Text,     // zero-terminated unless it fills the field
    LenText,  // text of the length in the record's first u32, bounded by the field
    LenHex,   // bytes of that length, as hexadecimal
    State,    // byte named by the field's labels (index = value)
};

struct Field {
    const char *key;
    size_t offset;
    size_t width;
    Kind kind;
    const char *const *labels = nullptr;
    size_t labelCount = 0;
};

#define FIELD(T, member, key, kind) Field{key, offsetof(T, member), sizeof(T::member), Kind::kind}
#define STATE(T, member, key, labels) \
    Field{key, offsetof(T, member), sizeof(T::member), Kind::State, labels, sizeof labels / sizeof *labels}

// An array of records inside a record, such as the 32 security questions; only the entries whose
// `present` field is not zero are listed.
struct Array {
    const char *key;
    size_t offset, count, stride;
    const Field *fields;
    size_t fieldCount;
    size_t present;  // index into fields
};

struct Layout {
    uint32_t command;
    size_t size;
    std::vector<Field> fields;
    const Array *array = nullptr;
};

uint32_t U32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string TextAt(const uint8_t *p, size_t width) {
    const char *s = reinterpret_cast<const char *>(p);
    return std::string(s, strnlen(s, width));
}

const char *const kTemperature[] = {"unknown", "normal", "abnormal"};
const char *const kConnected[] = {"unknown", "connected", "unconnected"};
const char *const kBindStatus[] = {"unknown", "bound", "not bound", "platform disabled", "platform offline"};

const Field kQuestion[] = {
    FIELD(ZEVA_SECURITY_QUESTION, dwID, "id", U32),
    FIELD(ZEVA_SECURITY_QUESTION, szAnswer, "answer", Text),
    FIELD(ZEVA_SECURITY_QUESTION, byMark, "answered", Enabled),
};
const Array kQuestions{"questions", offsetof(ZEVA_SECURITY_QUESTION_CFG, struQuestion), 32,
                       sizeof(ZEVA_SECURITY_QUESTION), kQuestion, 3, 0};

const Field kBound[] = {
    FIELD(ZEVA_BIND_DEVICE, szSerialNO, "serial", Text),
    FIELD(ZEVA_BIND_DEVICE, byInUse, "inUse", Enabled),
};
const Array kBoundDevices{"devices", offsetof(ZEVA_BIND_LIST_CFG, struDevice), 32, sizeof(ZEVA_BIND_DEVICE),
                          kBound, 2, 1};

// The record families whose old and protocol-3.1 forms differ only in their sizes.
#define CODE_LAYOUT(command, T) \
    {command, sizeof(T), {FIELD(T, dwCodeLen, "codeLength", U32), FIELD(T, szCode, "code", LenText)}}
#define ENCRYPT_STRING_LAYOUT(command, T)                         \
    {command, sizeof(T), {FIELD(T, dwEncryptStringLen, "length", U32), \
                          FIELD(T, szEncryptString, "encryptStringAndSerial", LenText)}}
#define GUID_LAYOUT(command, T)                                                                       \
    {command, sizeof(T), {FIELD(T, dwGUIDLen, "guidLength", U32), FIELD(T, byGUID, "guid", LenHex),   \
                          FIELD(T, byRetryTimes, "retryTimes", U8),                                   \
                          FIELD(T, bySurplusLockTime, "remainingLockTime", U8)}}
#define QRCODES_LAYOUT(command, T)                                                                    \
    {command, sizeof(T), {FIELD(T, szQRCode, "qrCode", Text), FIELD(T, szMailBoxAddr, "mailbox", Text), \
                          FIELD(T, szServiceMailBoxAddr, "serviceMailbox", Text)}}

const Layout kLayouts[] = {
    CODE_LAYOUT(ZEVA_GET_DEVICE_CODE, ZEVA_DEVICE_CODE),
    ENCRYPT_STRING_LAYOUT(ZEVA_GET_ENCRYPT_STRING, ZEVA_ENCRYPT_STRING),
    CODE_LAYOUT(ZEVA_GET_DEVICE_TYPE_UNLOCK_CODE, ZEVA_DEVICE_TYPE_UNLOCK_CODE),
    GUID_LAYOUT(ZEVA_GET_GUID, ZEVA_GUID_INFO),
    {ZEVA_GET_SECURITY_QUESTIONS, sizeof(ZEVA_SECURITY_QUESTION_CFG), {}, &kQuestions},
    {ZEVA_GET_BIND_LIST, sizeof(ZEVA_BIND_LIST_CFG), {FIELD(ZEVA_BIND_LIST_CFG, dwUnbindAll, "unbindAll", U32)},
     &kBoundDevices},
    {ZEVA_GET_SELF_CHECK, sizeof(ZEVA_SELF_CHECK),
     {FIELD(ZEVA_SELF_CHECK, iTotalDisk, "totalDisks", I32), FIELD(ZEVA_SELF_CHECK, iGoodDisk, "goodDisks", I32),
      FIELD(ZEVA_SELF_CHECK, szCPU, "cpu", Text), FIELD(ZEVA_SELF_CHECK, szMemory, "memory", Text),
      FIELD(ZEVA_SELF_CHECK, byProgress, "progress", U8),
      STATE(ZEVA_SELF_CHECK, byTemperatureState, "temperature", kTemperature),
      FIELD(ZEVA_SELF_CHECK, byFanState, "fanState", U8), FIELD(ZEVA_SELF_CHECK, byPowerState, "powerState", U8),
      STATE(ZEVA_SELF_CHECK, bySASConnectState, "sas", kConnected),
      FIELD(ZEVA_SELF_CHECK, byTotalNetworkPort, "networkPorts", U8),
      FIELD(ZEVA_SELF_CHECK, byConnectNetworkPort, "connectedNetworkPorts", U8)}},
    QRCODES_LAYOUT(ZEVA_GET_QRCODES, ZEVA_QRCODES),
    {ZEVA_GET_UNBIND_STATUS, sizeof(ZEVA_UNBIND_STATUS), {STATE(ZEVA_UNBIND_STATUS, byStatus, "status", kBindStatus)}},
    {ZEVA_GET_PASSWORD_RESET_TYPE, sizeof(ZEVA_PASSWORD_RESET_TYPE),
     {FIELD(ZEVA_PASSWORD_RESET_TYPE, byPasswordResetTypeEnabled, "resetByCode", Enabled),
      FIELD(ZEVA_PASSWORD_RESET_TYPE, byGuidFileDataEnabled, "resetByGuid", Enabled),
      FIELD(ZEVA_PASSWORD_RESET_TYPE, bySecurityQuestionEnabled, "resetBySecurityQuestions", Enabled),
      FIELD(ZEVA_PASSWORD_RESET_TYPE, bySecurityEmailEnabled, "resetByMail", Enabled),
      FIELD(ZEVA_PASSWORD_RESET_TYPE, byKWVerificationCodeEnabled, "resetByVerificationCode", Enabled)}},
    {ZEVA_GET_PHONE_QRCODE, sizeof(ZEVA_PHONE_QRCODE),
     {FIELD(ZEVA_PHONE_QRCODE, szDomainName, "domain", Text), FIELD(ZEVA_PHONE_QRCODE, szDevModel, "model", Text),
      FIELD(ZEVA_PHONE_QRCODE, szQRCode, "qrCode", Text)}},
    CODE_LAYOUT(ZEVA_GET_DEVICE_CODE_V31, ZEVA_DEVICE_CODE_V31),
    ENCRYPT_STRING_LAYOUT(ZEVA_GET_ENCRYPT_STRING_V31, ZEVA_ENCRYPT_STRING_V31),
    GUID_LAYOUT(ZEVA_GET_GUID_V31, ZEVA_GUID_INFO_V31),
    QRCODES_LAYOUT(ZEVA_GET_QRCODES_V31, ZEVA_QRCODES_V31),
};

#undef CODE_LAYOUT
#undef ENCRYPT_STRING_LAYOUT
#undef GUID_LAYOUT
#undef QRCODES_LAYOUT
#undef FIELD
#undef STATE

void AddField(JsonObject &obj, const Field &f, const uint8_t *record) {
    const uint8_t *p = record + f.offset;
    // The length-led fields follow the record's first u32, which the device chose.
    size_t len = std::min<size_t>(U32(record), f.width);
    switch (f.kind) {
    case Kind::U32: obj.Number(f.key, U32(p)); break;
    case Kind::I32: obj.Number(f.key, int32_t(U32(p))); break;
    case Kind::U8: obj.Number(f.key, *p); break;
    case Kind::Enabled: obj.Bool(f.key, *p == 1); break;
    case Kind::Text: obj.Text(f.key, TextAt(p, f.width)); break;
    case Kind::LenText: obj.Text(f.key, std::string(reinterpret_cast<const char *>(p), len)); break;
    case Kind::LenHex: obj.Text(f.key, Hex(p, len)); break;
    case Kind::State: obj.Text(f.key, *p < f.labelCount ? f.labels[*p] : std::to_string(*p)); break;
    }
}

std::string DecodeArray(const Array &a, const uint8_t *record) {
    std::string list;
    for (size_t i = 0; i < a.count; ++i) {
        const uint8_t *entry = record + a.offset + i * a.stride;
        const Field &present = a.fields[a.present];
        if (std::all_of(entry + present.offset, entry + present.offset + present.width,
                        [](uint8_t b) { return b == 0; }))
            continue;
        JsonObject obj;
        for (size_t k = 0; k < a.fieldCount; ++k)
            AddField(obj, a.fields[k], entry);
        list += (list.empty() ? "" : ",") + obj.Str();
    }
    return "[" + list + "]";
}

}  // namespace

std::string Hex(const uint8_t *data, size_t size) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

std::string DecodeGetRecord(uint32_t command, const uint8_t *data, size_t size) {
    for (const auto &layout : kLayouts) {
        if (layout.command != command)
            continue;
        if (layout.size != size)
            return "";
        JsonObject obj;
        for (const auto &f : layout.fields)
            AddField(obj, f, data);
        if (layout.array)
            obj.Raw(layout.array->key, DecodeArray(*layout.array, data));
        return obj.Str();
    }
    return "";
}

std::string DecodeResultWord(const uint8_t *data, size_t size) {
    if (size < 2)
        return "";
    return JsonObject().Number("retryTimes", data[0]).Number("remainingLockTime", data[1]).Str();
}

}  // namespace zevahost
