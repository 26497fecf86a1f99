// The runtime's own string and number functions, and thin wrappers over the C library.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "yar/yar_string.h"

namespace {

// Locale-free: the runtime's texts are protocol and file-system texts, never user language.
int Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Compares at most n bytes; fold selects the case-insensitive variant.
int32_t CompareBytes(const char *a, const char *b, size_t n, bool fold) {
    if (!a || !b)
        return (a ? 1 : 0) - (b ? 1 : 0);
    for (size_t i = 0; i < n; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (fold) {
            ca = Upper(static_cast<unsigned char>(ca));
            cb = Upper(static_cast<unsigned char>(cb));
        }
        if (ca != cb || ca == 0)
            return ca - cb;
    }
    return 0;
}

// Reads the sign and the decimal digits after leading white space. Sets overflow when the
// magnitude passes limit (the magnitude is then meaningless).
uint64_t ParseDecimal(const char *text, uint64_t limit, bool *negative, bool *overflow) {
    *negative = false;
    *overflow = false;
    if (!text)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (IsSpace(*p))
        ++p;
    if (*p == '+' || *p == '-')
        *negative = (*p++ == '-');
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = *p - '0';
        if (value > (limit - digit) / 10) {
            *overflow = true;
            return 0;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

extern "C" {

char *YAR_Itoa(char *pOut, int32_t iValue, int32_t iRadix) {
    if (!pOut || iRadix < 2 || iRadix > 36)
        return nullptr;
    const bool negative = iRadix == 10 && iValue < 0;
    uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(iValue) : static_cast<uint32_t>(iValue);
    char digits[33];
    size_t count = 0;
    do {
        uint32_t d = magnitude % static_cast<uint32_t>(iRadix);
        digits[count++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        magnitude /= static_cast<uint32_t>(iRadix);
    } while (magnitude);
    char *out = pOut;
    if (negative)
        *out++ = '-';
    while (count)
        *out++ = digits[--count];
    *out = '\0';
    return pOut;
}

char *YAR_Itoa2(char *pOut, int32_t iValue, int32_t iRadix) {
    return YAR_Itoa(pOut, iValue, iRadix);
}

char *YAR_ItoaCrt(char *pOut, int32_t iValue, int32_t iRadix) {
    return YAR_Itoa(pOut, iValue, iRadix);
}

int32_t YAR_Atoi32(const char *pText) {
    bool negative, overflow;
    // The negative range is one larger; clamp both sides on that bound.
    uint64_t value = ParseDecimal(pText, 2147483648ull, &negative, &overflow);
    if (negative)
        return overflow ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(value));
    return (overflow || value > INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

int64_t YAR_Atoi64(const char *pText) {
    bool negative, overflow;
    uint64_t value = ParseDecimal(pText, 9223372036854775808ull, &negative, &overflow);
    if (overflow || (!negative && value > static_cast<uint64_t>(INT64_MAX)))
        return -1;
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int64_t YAR_Atoi64Ex(const char *pText) {
    return YAR_Atoi64(pText);
}

char *YAR_Strcpy(char *pDst, const char *pSrc) {
    if (pDst && pSrc)
        std::memmove(pDst, pSrc, std::strlen(pSrc) + 1);
    return pDst;
}

char *YAR_Strncpy(char *pDst, const char *pSrc, size_t n) {
    if (!pDst || !pSrc)
        return pDst;
    size_t len = strnlen(pSrc, n);
    std::memmove(pDst, pSrc, len);
    std::memset(pDst + len, 0, n - len);
    return pDst;
}

char *YAR_Strdup(const char *pText) {
    return pText ? strdup(pText) : nullptr;
}

char *YAR_Strndup(const char *pText, size_t n) {
    return pText ? strndup(pText, n) : nullptr;
}

int32_t YAR_Strcmp(const char *a, const char *b) {
    return CompareBytes(a, b, SIZE_MAX, false);
}

int32_t YAR_Strncmp(const char *a, const char *b, size_t n) {
    return CompareBytes(a, b, n, false);
}

int32_t YAR_Strcasecmp(const char *a, const char *b) {
    return CompareBytes(a, b, SIZE_MAX, true);
}

int32_t YAR_Strncasecmp(const char *a, const char *b, size_t n) {
    return CompareBytes(a, b, n, true);
}

char *YAR_Strnchr(const char *pText, int32_t c, size_t n) {
    if (!pText)
        return nullptr;
    const char wanted = static_cast<char>(c);
    for (size_t i = 0; i < n && pText[i]; ++i) {
        if (pText[i] == wanted)
            return const_cast<char *>(pText + i);
    }
    return nullptr;
}

char *YAR_Strchr(const char *pText, int32_t c) {
    return YAR_Strnchr(pText, c, SIZE_MAX);
}

char *YAR_StrstrN(const char *pText, const char *pPattern, size_t nPatternLen) {
    if (!pText || !pPattern)
        return nullptr;
    size_t textLen = std::strlen(pText);
    if (textLen < nPatternLen)
        return nullptr;
    for (size_t i = 0; i + nPatternLen <= textLen; ++i) {
        if (std::memcmp(pText + i, pPattern, nPatternLen) == 0)
            return const_cast<char *>(pText + i);
    }
    return nullptr;
}

char *YAR_Strcasestr(const char *pText, const char *pPattern) {
    if (!pText || !pPattern)
        return nullptr;
    size_t patternLen = std::strlen(pPattern);
    for (const char *p = pText;; ++p) {
        if (CompareBytes(p, pPattern, patternLen, true) == 0)
            return const_cast<char *>(p);
        if (!*p)
            return nullptr;
    }
}

char *YAR_Strstr(const char *pText, const char *pPattern) {
    return const_cast<char *>(std::strstr(pText, pPattern));
}

char *YAR_StrstrCrt(const char *pText, const char *pPattern) {
    return YAR_Strstr(pText, pPattern);
}

int32_t YAR_Atoi(const char *pText) {
    return std::atoi(pText);
}

char *YAR_StrcpyCrt(char *pDst, const char *pSrc) {
    return std::strcpy(pDst, pSrc);
}

char *YAR_StrncpyCrt(char *pDst, const char *pSrc, size_t n) {
    return std::strncpy(pDst, pSrc, n);
}

char *YAR_Strcat(char *pDst, const char *pSrc) {
    return std::strcat(pDst, pSrc);
}

size_t YAR_Strlen(const char *pText) {
    return std::strlen(pText);
}

int32_t YAR_StrcmpCrt(const char *a, const char *b) {
    int r = std::strcmp(a, b);
    return (r > 0) - (r < 0);
}

int32_t YAR_Stricmp(const char *a, const char *b) {
    return strcasecmp(a, b);
}

int32_t YAR_Strnicmp(const char *a, const char *b, size_t n) {
    return strncasecmp(a, b, n);
}

char *YAR_StrchrCrt(const char *pText, int32_t c) {
    return const_cast<char *>(std::strchr(pText, c));
}

char *YAR_Strchr2(const char *pText, int32_t c) {
    return YAR_StrchrCrt(pText, c);
}

char *YAR_Strrchr(const char *pText, int32_t c) {
    return const_cast<char *>(std::strrchr(pText, c));
}

}  // extern "C"
