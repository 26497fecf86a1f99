// Probe texts: every request is one XML text printed from a fixed template into the caller's
// buffer. A text that does not fit its buffer is a failure (2047), never sent cut.
#pragma once

#include <cstdint>

#include "module/crypto/Encrypt.h"
#include "zeva/ZevaSdk.h"

class TiXmlElement;

namespace ZEVA {

constexpr uint32_t PROBE_BUFFER_LEN = 1024;
constexpr uint32_t SALT_FIELD_LEN = 65;  // 64 characters and a terminator

class CMulticastProtocol {
public:
    CMulticastProtocol() = default;
    virtual ~CMulticastProtocol() = default;
    CMulticastProtocol(const CMulticastProtocol &) = delete;
    CMulticastProtocol &operator=(const CMulticastProtocol &) = delete;

    // "inquiry": asks every device on the segment to answer.
    int PackageInquiry(const char *pUuid, char *pOut, uint32_t dwOutSize, uint32_t *pOutLen);

    // A "hello" or "inquiry" answer: the record, both salts (SALT_FIELD_LEN bytes each) and the
    // protocol byte. 0, or -1 without root, record or "MAC" element.
    int ParseDeviceInfo(const TiXmlElement *pRoot, ZEVA_DEVICE_INFO *pDev, char *pSalt, char *pSalt2,
                        uint8_t *pProtocol);
    // An "inquiry_v32" answer: 0, or -1 without root or record.
    static int ParseSubnetDeviceInfo(const TiXmlElement *pRoot, ZEVA_SUBNET_DEVICE_INFO *pDev);

protected:
    // Prints the template into the buffer: 1 with the length, or 0 with 2047 when it does not fit
    // (and 2005 for a missing buffer).
    static int PrintProbe(char *pOut, uint32_t dwOutSize, uint32_t *pOutLen, const char *pFormat, ...)
        __attribute__((format(printf, 4, 5)));

private:
    void DecryptAnswerText(const char *pText, uint32_t dwBlock, char *pField, uint32_t dwFieldLen);

    CEncrypt m_Encrypt;
};

}  // namespace ZEVA
