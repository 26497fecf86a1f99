// The children of a device answer, as both answer parsers read them into their records.
#include <cstddef>
#include <cstdint>
#include <string>

#include <tinyxml.h>

#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"
#include "morva/ComInterfaceMorva.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool inited = Morva_Init() == 1;  // the crypt objects of the encrypted versions
    (void)inited;
    static ZEVA::CMulticastProtocol protocol;
    std::string text = "<Probe>" + std::string(reinterpret_cast<const char *>(data), size) + "</Probe>";
    TiXmlDocument doc;
    const TiXmlElement *root = ZEVA::ParseProbe(text.data(), uint32_t(text.size()), doc);
    if (!root)
        return 0;
    ZEVA_DEVICE_INFO dev;
    char salt[ZEVA::SALT_FIELD_LEN], salt2[ZEVA::SALT_FIELD_LEN];
    uint8_t byProtocol = 0;
    protocol.ParseDeviceInfo(root, &dev, salt, salt2, &byProtocol);
    ZEVA_SUBNET_DEVICE_INFO subnet;
    ZEVA::CMulticastProtocol::ParseSubnetDeviceInfo(root, &subnet);
    return 0;
}
