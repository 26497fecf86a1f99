// The SDK's text parsers of MAC and address texts, on any terminated text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "utils/Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    uint8_t mac[6], v4[4], v6[16];
    ZEVA::StringToMac(text.c_str(), mac);
    ZEVA::StringToIPv4(text.c_str(), v4);
    ZEVA::StringToIPv6(text.c_str(), v6);
    char lower[65536 + 1] = {};
    if (text.size() < sizeof lower)
        ZEVA::ToLowerCopy(text.c_str(), lower);
    return 0;
}
