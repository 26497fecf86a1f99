#include "errors.h"

#include "zeva/ZevaSdk.h"

namespace zevahost {

namespace {

struct Entry {
    uint32_t code;
    ErrorInfo info;
};

// The names are the public header's, so they cannot drift from the codes.
#define ZEVA_HOST_ERROR(code, meaning) {code, {#code, meaning}}
const Entry kErrors[] = {
    ZEVA_HOST_ERROR(ZEVA_NOERROR, "no error"),
    ZEVA_HOST_ERROR(ZEVA_ERR_INIT, "initialisation failed (core library, thread, mutex or internal failure)"),
    ZEVA_HOST_ERROR(ZEVA_ERR_NOT_START, "SDK not started"),
    ZEVA_HOST_ERROR(ZEVA_ERR_NO_ADAPTER, "no network adapter"),
    ZEVA_HOST_ERROR(ZEVA_ERR_ADAPTER_ENUM, "adapter enumeration failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_PARAM, "invalid argument, device not found, or command or protocol not supported"),
    ZEVA_HOST_ERROR(ZEVA_ERR_PCAP, "raw-frame transport closed or its send failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_DEVICE_DENY, "device refused"),
    ZEVA_HOST_ERROR(ZEVA_ERR_DEVICE_TIMEOUT, "device time-out"),
    ZEVA_HOST_ERROR(ZEVA_ERR_SOCKET_CREATE, "socket creation or address reuse failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_SOCKET_BIND, "bind failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_MULTICAST_JOIN, "joining the multicast group failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_SEND, "sending the request failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_CONFIG_FILE, "configuration file malformed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_DEVICE_LOCK, "device locked"),
    ZEVA_HOST_ERROR(ZEVA_ERR_NOT_ACTIVATED, "device not activated"),
    ZEVA_HOST_ERROR(ZEVA_ERR_RISK_PASSWORD, "risky (weak) password"),
    ZEVA_HOST_ERROR(ZEVA_ERR_HAS_ACTIVATED, "device already activated"),
    ZEVA_HOST_ERROR(ZEVA_ERR_EMPTY_ENCRYPT_STRING, "empty encrypt string"),
    ZEVA_HOST_ERROR(ZEVA_ERR_EXPORT_OVERDUE, "export file overdue"),
    ZEVA_HOST_ERROR(ZEVA_ERR_PASSWORD, "password error"),
    ZEVA_HOST_ERROR(ZEVA_ERR_LONG_ANSWER, "answer too long"),
    ZEVA_HOST_ERROR(ZEVA_ERR_INVALID_GUID, "invalid GUID"),
    ZEVA_HOST_ERROR(ZEVA_ERR_ANSWER, "answer error"),
    ZEVA_HOST_ERROR(ZEVA_ERR_QUESTION_NUM, "wrong number of security questions"),
    ZEVA_HOST_ERROR(ZEVA_ERR_VERIFICATION_CODE, "illegal verification code"),
    ZEVA_HOST_ERROR(ZEVA_ERR_BIND_ERROR_DEV, "bind error device"),
    ZEVA_HOST_ERROR(ZEVA_ERR_MAX_BIND_NUM, "maximum bind number exceeded"),
    ZEVA_HOST_ERROR(ZEVA_ERR_MAILBOX_NOT_EXIST, "mailbox does not exist"),
    ZEVA_HOST_ERROR(ZEVA_ERR_USER_NAME, "user name missing"),
    ZEVA_HOST_ERROR(ZEVA_ERR_MAILBOX_NOT_SET, "mailbox not set"),
    ZEVA_HOST_ERROR(ZEVA_ERR_RESET_CODE, "invalid reset code"),
    ZEVA_HOST_ERROR(ZEVA_ERR_NO_PERMISSION, "no permission to send"),
    ZEVA_HOST_ERROR(ZEVA_ERR_RSA_KEY, "RSA key generation for the exchange code failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_BASE64, "Base64 encoding failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_ENCRYPT, "encryption with the device's random string failed"),
    ZEVA_HOST_ERROR(ZEVA_ERR_PHONE_NOT_SET, "phone number not set"),
    ZEVA_HOST_ERROR(ZEVA_ERR_BUFFER_TOO_SMALL, "the device's answer is longer than the record takes"),
    ZEVA_HOST_ERROR(ZEVA_ERR_SUBNET_RANGE, "invalid subnet range"),
    ZEVA_HOST_ERROR(ZEVA_ERR_CORE_PARAM, "the core library refused a log setting"),
};
#undef ZEVA_HOST_ERROR

}  // namespace

ErrorInfo DescribeError(uint32_t code) {
    for (const auto &e : kErrors)
        if (e.code == code)
            return e.info;
    return {"unknown", "not a code of this library"};
}

std::string ErrorText(uint32_t code) {
    ErrorInfo info = DescribeError(code);
    return std::to_string(code) + " " + info.name + " (" + info.meaning + ")";
}

}  // namespace zevahost
