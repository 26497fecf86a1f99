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

}  // namespace ZEVA
