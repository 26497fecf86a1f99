#include "module/protocol/MulticastProtocol_V31.h"

namespace ZEVA {

int CMulticastProtocol_V31::PackageInquiry_V32(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                      "<Probe><Uuid>%s</Uuid><Types>inquiry_v32</Types></Probe>",
                      pUuid);
}

}  // namespace ZEVA
