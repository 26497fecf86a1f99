// The SDK last-error codes that ZEVA_GetLastError reports.
#pragma once

#include <cstdint>

namespace ZEVA {

enum SdkError : uint32_t {
    ZEVA_NOERROR = 0,
    ZEVA_ERR_INIT = 2001,              // core library, thread, mutex or library-object creation
    ZEVA_ERR_NOT_START = 2002,
    ZEVA_ERR_NO_ADAPTER = 2003,
    ZEVA_ERR_ADAPTER_ENUM = 2004,
    ZEVA_ERR_PARAM = 2005,             // invalid argument, unknown device or command
    ZEVA_ERR_PCAP = 2007,              // raw-frame transport closed or its send failed
    ZEVA_ERR_SOCKET_CREATE = 2012,
    ZEVA_ERR_SOCKET_BIND = 2013,
    ZEVA_ERR_MULTICAST_JOIN = 2014,
    ZEVA_ERR_SEND = 2015,
    ZEVA_ERR_CONFIG_FILE = 2017,
    ZEVA_ERR_NO_PERMISSION = 2040,
    ZEVA_ERR_BUFFER_TOO_SMALL = 2047,
    ZEVA_ERR_SUBNET_RANGE = 2048,
};

// The codes of device requests: a device's refusal, the time-out and the request's own failures.
enum SdkRequestError : uint32_t {
    ZEVA_ERR_DEVICE_DENY = 2009,
    ZEVA_ERR_DEVICE_TIMEOUT = 2011,
    ZEVA_ERR_DEVICE_LOCK = 2018,
    ZEVA_ERR_NOT_ACTIVATED = 2019,
    ZEVA_ERR_RISK_PASSWORD = 2020,
    ZEVA_ERR_HAS_ACTIVATED = 2021,
    ZEVA_ERR_EMPTY_ENCRYPT_STRING = 2022,
    ZEVA_ERR_EXPORT_OVERDUE = 2023,
    ZEVA_ERR_PASSWORD = 2024,
    ZEVA_ERR_LONG_ANSWER = 2025,
    ZEVA_ERR_INVALID_GUID = 2026,
    ZEVA_ERR_ANSWER = 2027,
    ZEVA_ERR_QUESTION_NUM = 2028,
    ZEVA_ERR_VERIFICATION_CODE = 2033,
    ZEVA_ERR_BIND_ERROR_DEV = 2034,
    ZEVA_ERR_MAX_BIND_NUM = 2035,
    ZEVA_ERR_MAILBOX_NOT_EXIST = 2036,
    ZEVA_ERR_USER_NAME = 2037,
    ZEVA_ERR_MAILBOX_NOT_SET = 2038,
    ZEVA_ERR_RESET_CODE = 2039,
    ZEVA_ERR_RSA_KEY = 2042,
    ZEVA_ERR_BASE64 = 2043,
    ZEVA_ERR_ENCRYPT = 2045,
    ZEVA_ERR_PHONE_NOT_SET = 2046,
};

}  // namespace ZEVA
