// Socket address records and the runtime's own address text conversions.
#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "internal/default_family.h"
#include "yar/yar_addr.h"

namespace {

constexpr size_t kMaxIPv6Text = 255;
constexpr int kMaxIPv6Groups = 10;
constexpr size_t kAddrTextSize = 128;

// Strict dotted quad: four decimal parts below 256, leading zeros read as decimal.
bool ParseDottedQuad(const char *text, size_t len, uint8_t out[4]) {
    unsigned parts[4] = {0, 0, 0, 0};
    int count = 0;
    bool inPart = false;
    for (size_t i = 0; i < len; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            if (!inPart) {
                if (++count > 4)
                    return false;
                inPart = true;
            }
            unsigned &part = parts[count - 1];
            part = part * 10 + unsigned(c - '0');
            if (part > 255)
                return false;
        } else if (c == '.' && inPart && count < 4) {
            inPart = false;
        } else {
            return false;
        }
    }
    if (count < 4)
        return false;
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(parts[i]);
    return true;
}

bool ParseHexGroup(const char *text, size_t len, uint16_t *word) {
    if (len < 1 || len > 4)
        return false;
    unsigned value = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c))
                                          ? c - '0'
                                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    *word = uint16_t(value);
    return true;
}

// IPv6 text: at most 10 ':'-separated groups, white space ignored, one "::", an embedded dotted
// quad allowed where two words still fit before the end.
bool ParseIPv6(const char *text, uint8_t out[16]) {
    if (std::strlen(text) > kMaxIPv6Text)
        return false;
    char buf[kMaxIPv6Text + 1];
    size_t len = 0;
    for (const char *p = text; *p; ++p)
        if (!std::isspace(static_cast<unsigned char>(*p)))
            buf[len++] = *p;
    buf[len] = '\0';

    int groups = 1;
    for (size_t i = 0; i < len; ++i)
        groups += buf[i] == ':';
    if (groups > kMaxIPv6Groups)
        return false;

    uint16_t words[8] = {};
    int count = 0;
    int gap = -1;  // word position of "::"
    const char *group = buf;
    for (int g = 0; g < groups; ++g) {
        const char *end = std::strchr(group, ':');
        size_t glen = end ? size_t(end - group) : std::strlen(group);
        uint8_t quad[4];
        if (glen == 0) {
            if (g != 0 && g != groups - 1) {
                if (gap >= 0)
                    return false;
                gap = count;
            }
        } else if (glen <= 4) {
            if (count >= 8 || !ParseHexGroup(group, glen, &words[count]))
                return false;
            ++count;
        } else if (glen >= 7 && glen <= 15 && ParseDottedQuad(group, glen, quad)) {
            if (count > 6)
                return false;
            words[count++] = uint16_t(quad[0] << 8 | quad[1]);
            words[count++] = uint16_t(quad[2] << 8 | quad[3]);
        } else {
            return false;
        }
        group += glen + 1;
    }

    if (count < 8) {
        if (gap < 0)
            return false;
        int tail = count - gap;
        std::memmove(&words[8 - tail], &words[gap], size_t(tail) * sizeof words[0]);
        std::memset(&words[gap], 0, size_t(8 - count) * sizeof words[0]);
    }
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = uint8_t(words[i] >> 8);
        out[2 * i + 1] = uint8_t(words[i]);
    }
    return true;
}

// Appends formatted text at *pos; false when it (with a terminator) does not fit.
template <typename... Args>
bool Append(char *buf, size_t len, size_t *pos, const char *fmt, Args... args) {
    int n = std::snprintf(buf + *pos, len - *pos, fmt, args...);
    if (n < 0 || size_t(n) >= len - *pos)
        return false;
    *pos += size_t(n);
    return true;
}

bool FormatIPv4(const uint8_t *b, char *buf, size_t len) {
    size_t pos = 0;
    return Append(buf, len, &pos, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

bool FormatIPv6(const uint8_t *b, char *buf, size_t len) {
    unsigned words[8];
    for (int i = 0; i < 8; ++i)
        words[i] = unsigned(b[2 * i] << 8 | b[2 * i + 1]);

    int runStart = -1, runLen = 0;
    for (int i = 0; i < 8;) {
        if (words[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && words[j] == 0)
            ++j;
        if (j - i > runLen) {
            runStart = i;
            runLen = j - i;
        }
        i = j;
    }
    if (runLen < 2)
        runStart = -1;

    size_t pos = 0;
    if (len == 0)
        return false;
    buf[0] = '\0';
    for (int i = 0; i < 8; ++i) {
        if (runStart >= 0 && i >= runStart && i < runStart + runLen) {
            if (i == runStart && !Append(buf, len, &pos, "%s", ":"))
                return false;
            continue;
        }
        if (i != 0 && !Append(buf, len, &pos, "%s", ":"))
            return false;
        if (i == 6 && runStart == 0 && (runLen == 6 || (runLen == 5 && words[5] == 0xffff)))
            return Append(buf, len, &pos, "%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
        if (!Append(buf, len, &pos, "%x", words[i]))
            return false;
    }
    if (runStart >= 0 && runStart + runLen == 8 && !Append(buf, len, &pos, "%s", ":"))
        return false;
    return true;
}

bool IsSupportedRecord(const YAR_ADDR_T *addr) {
    return addr && (addr->family == YAR_AF_INET || addr->family == YAR_AF_INET6);
}

const void *RecordBytes(const YAR_ADDR_T *addr) {
    return addr->family == YAR_AF_INET ? static_cast<const void *>(&addr->addr4) : addr->addr6;
}

}  // namespace

extern "C" {

int YAR_ResolveFamily(int family) {
    return family == YAR_AF_DEFAULT ? yar::internal::DefaultFamily() : family;
}

int YAR_MakeAddrByString(int family, const char *text, uint16_t port, YAR_ADDR_T *addr) {
    if (!addr)
        return -1;
    std::memset(addr, 0, sizeof *addr);
    family = YAR_ResolveFamily(family);
    addr->port = htons(port);

    if (!text || !*text) {
        if (family == YAR_AF_INET) {
            addr->family = YAR_AF_INET;
            return 0;
        }
        if (family == YAR_AF_INET6 || family == YAR_AF_DUAL) {
            addr->family = YAR_AF_INET6;
            return 0;
        }
        return -1;
    }

    bool isAny4 = std::strcmp(text, "0.0.0.0") == 0;
    if (!std::strchr(text, ':') && !isAny4)
        family = YAR_AF_INET;

    if (family == YAR_AF_INET) {
        // The BSD forms of inet_addr are kept (1.2.3 is 1.2.0.3); all ones is its failure value.
        in_addr_t value = inet_addr(text);
        if (value == INADDR_NONE)
            return -1;
        addr->family = YAR_AF_INET;
        addr->addr4 = value;
        return 0;
    }
    if (family == YAR_AF_INET6 || family == YAR_AF_DUAL) {
        addr->family = YAR_AF_INET6;
        if (family == YAR_AF_DUAL && (isAny4 || std::strcmp(text, "::") == 0))
            return 0;
        return YAR_InetPton(family, text, addr->addr6);
    }
    return -1;
}

int YAR_MakeAddr4(uint32_t addr4, uint16_t port, YAR_ADDR_T *addr) {
    if (!addr)
        return -1;
    std::memset(addr, 0, sizeof *addr);
    addr->family = YAR_AF_INET;
    addr->port = htons(port);
    addr->addr4 = addr4;
    return 0;
}

int YAR_MakeAddr6(const uint8_t addr6[16], uint16_t port, YAR_ADDR_T *addr) {
    if (!addr)
        return -1;
    std::memset(addr, 0, sizeof *addr);
    addr->family = YAR_AF_INET6;
    addr->port = htons(port);
    if (addr6)
        std::memcpy(addr->addr6, addr6, sizeof addr->addr6);
    return 0;
}

int YAR_CopyAddr(const YAR_ADDR_T *src, uint32_t length, YAR_ADDR_T *dst) {
    if (!src || !dst || length == 0 || length > sizeof(YAR_ADDR_T))
        return -1;
    std::memcpy(dst, src, length);
    return 0;
}

int YAR_SetAddrPort(YAR_ADDR_T *addr, uint16_t port) {
    if (!addr)
        return -1;
    addr->port = htons(port);
    return 0;
}

int YAR_GetAddrType(const YAR_ADDR_T *addr) {
    return addr ? addr->family : -1;
}

uint16_t YAR_GetAddrPort(const YAR_ADDR_T *addr) {
    return addr ? ntohs(addr->port) : 0;
}

int YAR_GetAddr4(const YAR_ADDR_T *addr, uint32_t *addr4) {
    if (!addr || !addr4 || addr->family != YAR_AF_INET)
        return -1;
    *addr4 = addr->addr4;
    return 0;
}

int YAR_GetAddr6(const YAR_ADDR_T *addr, uint8_t addr6[16]) {
    if (!addr || !addr6 || addr->family == YAR_AF_INET)
        return -1;
    std::memcpy(addr6, addr->addr6, sizeof addr->addr6);
    return 0;
}

int YAR_AddrToExp(const YAR_ADDR_T *addr, YAR_ADDR_EXP_T *exp) {
    if (!addr || !exp)
        return -1;
    std::memset(exp, 0, sizeof *exp);
    exp->family = addr->family;
    exp->port = ntohs(addr->port);
    if (addr->family == YAR_AF_INET)
        std::memcpy(exp->addr, &addr->addr4, 4);
    else
        std::memcpy(exp->addr, addr->addr6, 16);
    return 0;
}

// One buffer per thread: the texts go into log lines written from many threads at once.
const char *YAR_GetAddrString(const YAR_ADDR_T *addr) {
    thread_local char text[kAddrTextSize];
    std::memset(text, 0, sizeof text);
    return YAR_GetAddrStringEx(addr, text, sizeof text);
}

char *YAR_GetAddrStringEx(const YAR_ADDR_T *addr, char *buf, uint32_t len) {
    if (!IsSupportedRecord(addr) || !buf || len == 0)
        return nullptr;
    return YAR_InetNtop(addr->family, RecordBytes(addr), buf, len);
}

int YAR_InetPton(int family, const char *text, void *out) {
    if (!text || !out)
        return -1;
    if (family == YAR_AF_INET) {
        uint8_t bytes[4];
        if (!ParseDottedQuad(text, std::strlen(text), bytes))
            return -1;
        std::memcpy(out, bytes, sizeof bytes);
        return 0;
    }
    if (family == YAR_AF_INET6 || family == YAR_AF_DUAL) {
        uint8_t bytes[16];
        if (!ParseIPv6(text, bytes))
            return -1;
        std::memcpy(out, bytes, sizeof bytes);
        return 0;
    }
    return -1;
}

int YAR_InetPtonAuto(const char *text, void *out) {
    if (!text)
        return -1;
    return YAR_InetPton(std::strchr(text, ':') ? YAR_AF_INET6 : YAR_AF_INET, text, out);
}

char *YAR_InetNtop(int family, const void *addr, char *buf, uint32_t len) {
    if (!addr || !buf || len == 0)
        return nullptr;
    const auto *bytes = static_cast<const uint8_t *>(addr);
    bool ok = false;
    if (family == YAR_AF_INET)
        ok = FormatIPv4(bytes, buf, len);
    else if (family == YAR_AF_INET6)
        ok = FormatIPv6(bytes, buf, len);
    return ok ? buf : nullptr;
}

}  // extern "C"
