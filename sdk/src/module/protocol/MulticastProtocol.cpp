#include "module/protocol/MulticastProtocol.h"

#include <cstdarg>
#include <cstdio>

#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"

namespace ZEVA {

int CMulticastProtocol::PrintProbe(char *pOut, uint32_t dwOutSize, uint32_t *pOutLen, const char *pFormat, ...) {
    if (!pOut || dwOutSize == 0 || !pOutLen) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        return 0;
    }
    va_list args;
    va_start(args, pFormat);
    int n = std::vsnprintf(pOut, dwOutSize, pFormat, args);
    va_end(args);
    if (n < 0 || uint32_t(n) >= dwOutSize) {
        pOut[0] = '\0';
        *pOutLen = 0;
        ZEVA_LOG_ERR("[CMulticastProtocol::PrintProbe] text of %d bytes does not fit %u", n, dwOutSize);
        SetSdkLastError(ZEVA_ERR_BUFFER_TOO_SMALL);
        return 0;
    }
    *pOutLen = uint32_t(n);
    return 1;
}

int CMulticastProtocol::PackageInquiry(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen) {
    return PrintProbe(pOut, dwOutSize, pOutLen,
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>%s</Uuid><Types>inquiry</Types></Probe>",
                      pUuid);
}

}  // namespace ZEVA
