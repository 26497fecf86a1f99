#include "utils/Utils.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "morva/MorvaUtility.h"
#include "utils/SdkLog.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Writes "<message> [cut to N of M bytes] [ <data>  ]" where the data part holds as many
// whole bytes, each printed in byteWidth characters, as one log line allows.
void PrintDump(const char *pMsg, const uint8_t *pData, uint32_t dwLen, uint32_t byteWidth,
               void (*print)(const uint8_t *, uint32_t, char *)) {
    std::string head = pMsg ? pMsg : "";
    const char *tail = "  ]";
    size_t room = LOG_DUMP_LINE - 1 - head.size() - std::strlen(" [ ") - std::strlen(tail) - 48;
    uint32_t shown = head.size() + 64 >= LOG_DUMP_LINE ? 0 : uint32_t(room / byteWidth);
    if (!pData)
        dwLen = 0;
    if (shown < dwLen) {
        char note[48];
        std::snprintf(note, sizeof note, " [cut to %u of %u bytes]", shown, dwLen);
        head += note;
    } else {
        shown = dwLen;
    }
    std::string line = head + " [ ";
    size_t at = line.size();
    line.resize(at + size_t(shown) * byteWidth + 1);
    print(pData, shown, &line[at]);
    line.resize(std::strlen(line.c_str()));
    line += tail;
    ZEVA_LOG_ERR("%s", line.c_str());
}

void HexBytes(const uint8_t *pData, uint32_t n, char *pOut) {
    Morva_HexEncode(pData, int(n), 0, pOut);
}

void DecBytes(const uint8_t *pData, uint32_t n, char *pOut) {
    for (uint32_t i = 0; i < n; ++i)
        std::snprintf(pOut + 4 * i, 5, "%03d ", pData[i]);
    pOut[4 * n] = '\0';
}

}  // namespace

int CreateUuidString(char *pOut, uint32_t dwCapacity) {
    if (!pOut || dwCapacity <= UUID_TEXT_LEN)
        return -1;
    YAR_GUID_T guid;
    if (YAR_CreateGUID(&guid) != 0)
        return -1;
    return YAR_GUIDToString(&guid, pOut, int32_t(dwCapacity)) < 0 ? -1 : 0;
}

void MacToString(char *pOut, const uint8_t *pMac) {
    std::snprintf(pOut, MAC_TEXT_LEN + 1, "%02x-%02x-%02x-%02x-%02x-%02x", pMac[0], pMac[1], pMac[2],
                  pMac[3], pMac[4], pMac[5]);
}

void StringToMac(const char *pText, uint8_t *pMac) {
    if (!pText || !pMac || std::strlen(pText) >= 32)
        return;
    int digits = 0;
    for (const char *p = pText; *p && digits < 12; ++p) {
        int v = HexValue(*p);
        if (v < 0)
            continue;
        uint8_t &byte = pMac[digits / 2];
        byte = uint8_t(digits % 2 ? (byte & 0xF0) | v : v << 4);
        ++digits;
    }
}

int StringToIPv4(const char *pText, uint8_t *pAddr) {
    if (!pText || !pAddr)
        return -1;
    uint8_t parts[4];
    const char *p = pText;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.')
            return 0;
        if (*p < '0' || *p > '9')
            return 0;
        unsigned value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + unsigned(*p++ - '0');
            if (value > 255)
                return 0;
        }
        parts[i] = uint8_t(value);
    }
    if (*p != '\0')
        return 0;
    std::memcpy(pAddr, parts, 4);
    return 1;
}

int StringToIPv6(const char *pText, uint8_t *pAddr) {
    if (!pText || !pAddr)
        return 0;
    uint16_t groups[8] = {};
    int count = 0;
    int gap = -1;  // index of the group that "::" stands before
    const char *p = pText;
    if (*p == ':') {
        if (p[1] != ':')
            return 0;
        gap = 0;
        p += 2;
    }
    while (*p) {
        const char *start = p;
        unsigned value = 0;
        int digits = 0;
        while (HexValue(*p) >= 0 && digits < 5) {
            value = value * 16 + unsigned(HexValue(*p++));
            ++digits;
        }
        if (*p == '.') {  // the IPv4 tail ends the text
            uint8_t v4[4];
            if (count > 6 || StringToIPv4(start, v4) != 1)
                return 0;
            groups[count++] = uint16_t(v4[0] << 8 | v4[1]);
            groups[count++] = uint16_t(v4[2] << 8 | v4[3]);
            break;
        }
        if (digits == 0 || digits > 4 || count == 8)
            return 0;
        groups[count++] = uint16_t(value);
        if (*p == '\0')
            break;
        if (*p++ != ':' || *p == '\0')
            return 0;
        if (*p == ':') {
            if (gap >= 0)
                return 0;
            gap = count;
            ++p;
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return 0;
    std::memset(pAddr, 0, 16);
    int tail = gap < 0 ? 0 : count - gap;
    for (int i = 0; i < count - tail; ++i) {
        pAddr[2 * i] = uint8_t(groups[i] >> 8);
        pAddr[2 * i + 1] = uint8_t(groups[i]);
    }
    for (int i = 0; i < tail; ++i) {
        int at = 8 - tail + i;
        pAddr[2 * at] = uint8_t(groups[gap + i] >> 8);
        pAddr[2 * at + 1] = uint8_t(groups[gap + i]);
    }
    return 1;
}

int ToLowerCopy(const char *pSrc, char *pDst) {
    if (!pSrc || !pDst)
        return -1;
    for (; *pSrc; ++pSrc, ++pDst)
        *pDst = (*pSrc >= 'A' && *pSrc <= 'Z') ? char(*pSrc - 'A' + 'a') : *pSrc;
    return 0;
}

void PrintHexData(const char *pMsg, const uint8_t *pData, uint32_t dwLen) {
    PrintDump(pMsg, pData, dwLen, 2, HexBytes);
}

void PrintDecData(const char *pMsg, const uint8_t *pData, uint32_t dwLen) {
    PrintDump(pMsg, pData, dwLen, 4, DecBytes);
}

void FormatDecData(const uint8_t *pData, uint32_t dwLen, char *pOut, uint32_t dwCapacity) {
    if (!pOut || dwCapacity == 0)
        return;
    std::memset(pOut, 0, dwCapacity);
    uint32_t fit = (dwCapacity - 1) / 4;
    if (pData)
        DecBytes(pData, dwLen < fit ? dwLen : fit, pOut);
}

}  // namespace ZEVA
