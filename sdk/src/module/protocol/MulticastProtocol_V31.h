// Probe texts of protocol 3.1: the same format as 3.0, with the requests that only 3.1 devices
// answer.
#pragma once

#include "module/protocol/MulticastProtocol.h"

namespace ZEVA {

class CMulticastProtocol_V31 : public CMulticastProtocol {
public:
    // "inquiry_v32": asks the device that holds the address it is sent to.
    int PackageInquiry_V32(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);
};

}  // namespace ZEVA
