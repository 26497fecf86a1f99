// The library's last-error codes as a host shows them: number, name and meaning.
#pragma once

#include <cstdint>
#include <string>

namespace zevahost {

struct ErrorInfo {
    const char *name;     // "ZEVA_ERR_DEVICE_TIMEOUT"; "unknown" for a code the library never sets
    const char *meaning;  // "device time-out"
};

ErrorInfo DescribeError(uint32_t code);
// "2011 ZEVA_ERR_DEVICE_TIMEOUT (device time-out)"
std::string ErrorText(uint32_t code);

}  // namespace zevahost
