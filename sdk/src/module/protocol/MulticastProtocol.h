// Probe texts: every request is one XML text printed from a fixed template into the caller's
// buffer. A text that does not fit its buffer is a failure (2047), never sent cut.
#pragma once

#include <cstdint>

namespace ZEVA {

constexpr uint32_t PROBE_BUFFER_LEN = 1024;

class CMulticastProtocol {
public:
    CMulticastProtocol() = default;
    virtual ~CMulticastProtocol() = default;
    CMulticastProtocol(const CMulticastProtocol &) = delete;
    CMulticastProtocol &operator=(const CMulticastProtocol &) = delete;

    // "inquiry": asks every device on the segment to answer.
    int PackageInquiry(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

protected:
    // Prints the template into the buffer: 1 with the length, or 0 with 2047 when it does not fit
    // (and 2005 for a missing buffer).
    static int PrintProbe(char *pOut, uint32_t dwOutSize, uint32_t *pOutLen, const char *pFormat, ...)
        __attribute__((format(printf, 4, 5)));
};

}  // namespace ZEVA
