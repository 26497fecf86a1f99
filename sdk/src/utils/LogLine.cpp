#include "utils/LogLine.h"

#include <cstring>

#include "morva/ComInterfaceMorva.h"

namespace ZEVA {

void CLogLine::Append(const char *pText, size_t len) {
    if (m_bCut || len > MAX_LEN - m_uLen) {
        m_bCut = true;
        return;
    }
    std::memcpy(m_szText + m_uLen, pText, len);
    m_uLen += len;
}

CLogLine &CLogLine::Text(const char *pText) {
    Append(pText, std::strlen(pText));
    return *this;
}

CLogLine &CLogLine::Field(const char *pText, size_t uMax) {
    Append(pText, strnlen(pText, uMax));
    return *this;
}

CLogLine &CLogLine::Dec(int64_t iValue) {
    char digits[24];
    char *p = digits + sizeof digits;
    uint64_t v = iValue < 0 ? 0 - uint64_t(iValue) : uint64_t(iValue);
    do {
        *--p = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (iValue < 0)
        *--p = '-';
    Append(p, size_t(digits + sizeof digits - p));
    return *this;
}

CLogLine &CLogLine::Hex(uint32_t dwValue) {
    static const char kDigits[] = "0123456789abcdef";
    char digits[10];
    char *p = digits + sizeof digits;
    do {
        *--p = kDigits[dwValue & 0xF];
        dwValue >>= 4;
    } while (dwValue);
    *--p = 'x';
    *--p = '0';
    Append(p, size_t(digits + sizeof digits - p));
    return *this;
}

const char *CLogLine::Line() {
    if (m_bCut)
        return nullptr;
    m_szText[m_uLen] = '\0';
    return m_szText;
}

bool LogTakesInformation() {
    return Morva_GetLogLevel() >= 3;
}

}  // namespace ZEVA
