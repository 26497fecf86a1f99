// The protocol-3.1 answers with state of their own: an exported GUID decrypted under the key of
// the last request, and the QR text kept as the device sent it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <tinyxml.h>

#include "module/protocol/MulticastProtocol_V31.h"
#include "module/protocol/ProbeXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ZEVA::CMulticastProtocol_V31 protocol;
    TiXmlDocument doc;
    const TiXmlElement *root = ZEVA::ParseProbe(reinterpret_cast<const char *>(data), uint32_t(size), doc);
    if (!root)
        return 0;
    std::vector<uint8_t> guid(900), qr(1548);
    protocol.ParseExportGUID_V31(root, guid.data());
    ZEVA::CMulticastProtocol_V31::ParseQRcodes(root, qr.data());
    return 0;
}
