#include "Utils/Utils.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "yar/yar_adapter.h"
#include "yar/yar_error.h"
#include "yar/yar_file.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr int kMaxAddrText = 47;
constexpr int kMaxPath = 260;
constexpr int kPathField = 261;

bool IsSep(char c) {
    return c == '/' || c == '\\';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// One decimal part of a dotted IPv4 text, below 256; advances the cursor.
bool ReadOctet(const char **pp, unsigned *pValue) {
    const char *p = *pp;
    unsigned v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
        v = v * 10 + (unsigned)(*p++ - '0');
        digits++;
    }
    if (digits == 0 || digits == 4 || v > 255)
        return false;
    *pp = p;
    *pValue = v;
    return true;
}

}  // namespace

// ---- assertion, errors ----

void Utils_Assert() {
    LogModule_Write(LOG_LEVEL_ERR, "Utils_Assert!");
}

int Utils_GetSysLastError() {
    return YAR_GetSystemLastError();
}

// ---- addresses ----

int Utils_MakeAddr(int iFamily, const char *pAddr, WORD wPort, YAR_ADDR_T *pOut) {
    if (!pOut)
        return -1;
    char szText[kMaxAddrText + 1] = {0};
    if (!pAddr)
        pAddr = "";
    if (std::strchr(pAddr, '[') && std::strchr(pAddr, ']')) {
        if (std::sscanf(pAddr, "[%47[^]]", szText) != 1)
            return -1;
    } else {
        std::snprintf(szText, sizeof(szText), "%s", pAddr);
    }
    return YAR_MakeAddrByString(iFamily, szText, wPort, pOut);
}

int Utils_StrToIPv6Addr(const char *pText, BYTE *pAddr6) {
    YAR_ADDR_T addr;
    if (!pAddr6 || YAR_MakeAddrByString(YAR_AF_INET6, pText, 0, &addr) != 0)
        return -1;
    return YAR_GetAddr6(&addr, pAddr6);
}

int Utils_IPv6ToStr(const BYTE *pAddr6, char *pText) {
    YAR_ADDR_T addr;
    if (!pAddr6 || !pText || YAR_MakeAddr6(pAddr6, 0, &addr) != 0)
        return -1;
    return YAR_GetAddrStringEx(&addr, pText, 128) ? 0 : -1;
}

int Utils_AddrToIPPort(YAR_ADDR_T struAddr, char *pText, int iSize, WORD *pPort) {
    if (!pText || iSize <= 0)
        return 0;
    if (!YAR_GetAddrStringEx(&struAddr, pText, (uint32_t)iSize))
        pText[0] = '\0';
    if (pPort)
        *pPort = YAR_GetAddrPort(&struAddr);
    return 1;
}

void Utils_IntToIPv4Str(DWORD dwAddr, char *pText) {
    if (!pText)
        return;
    std::memset(pText, 0, 16);
    std::snprintf(pText, 16, "%u.%u.%u.%u", (dwAddr >> 24) & 0xFF, (dwAddr >> 16) & 0xFF, (dwAddr >> 8) & 0xFF,
                  dwAddr & 0xFF);
}

DWORD Utils_IsValidIPv4(const char *pText) {
    if (!pText)
        return 0;
    const char *p = pText;
    unsigned part[4];
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return 0;
        if (!ReadOctet(&p, &part[i]))
            return 0;
    }
    if (*p != '\0')
        return 0;
    return part[0] | (part[1] << 8) | (part[2] << 16) | ((DWORD)part[3] << 24);
}

int Utils_CheckIPAddr(const char *pText) {
    if (!pText)
        return 0;
    bool bDotted = true;
    int iDots = 0;
    for (int i = 0; i < 16 && pText[i]; i++) {
        char c = pText[i];
        if (c == '.')
            iDots++;
        else if (!(c >= '0' && c <= '9') && c != ' ')
            bDotted = false;
    }
    if (bDotted) {
        int a, b, c, d;
        if (iDots != 3 || std::sscanf(pText, "%d.%d.%d.%d", &a, &b, &c, &d) != 4)
            return 0;
        return (a >= 0 && a <= 255 && b >= 0 && b <= 255 && c >= 0 && c <= 255 && d >= 0 && d <= 255) ? 1 : 0;
    }
    return (std::strlen(pText) > 2 && std::strchr(pText, ':')) ? 1 : 0;
}

int Utils_IsIPv6(const char *pText) {
    return (pText && std::strchr(pText, ':')) ? 1 : 0;
}

int Utils_IsDomain(const char *pText) {
    if (!pText)
        return 0;
    bool bLetter = false;
    for (const char *p = pText; *p && !bLetter; p++)
        bLetter = IsAsciiLetter(*p);
    return (bLetter && std::strchr(pText, '.')) ? 1 : 0;
}

int Utils_DomainParse(const char *pInBuf, char *pOutBuf, int iOutSize) {
    if (!pInBuf || !pOutBuf || iOutSize <= 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_DomainParse, Invalid Param, pInBuf[0x%X], pOutBuf[0x%X]",
                        MORVA_PTR_ARG(pInBuf), MORVA_PTR_ARG(pOutBuf));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!Utils_IsDomain(pInBuf)) {
        if (std::strlen(pInBuf) >= (size_t)iOutSize) {
            SetError(MORVA_ERR_BUFFER_SMALL);
            return 0;
        }
        std::strcpy(pOutBuf, pInBuf);
        return 1;
    }
    YAR_ADDRINFO_T *pInfo = nullptr;
    if (YAR_GetAddressInfo(pInBuf, nullptr, nullptr, &pInfo) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_DomainParse, YAR_GetAddressInfo Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pInfo) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_DomainParse, NULL == pAddressInfo, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    int iResult = 0;
    for (YAR_ADDRINFO_T *p = pInfo; p; p = p->next) {
        char szText[128];
        if (!YAR_GetAddrStringEx(&p->addr, szText, sizeof(szText)) || std::strcmp(szText, "::1") == 0)
            continue;
        if (std::strlen(szText) >= (size_t)iOutSize) {
            SetError(MORVA_ERR_BUFFER_SMALL);
        } else {
            std::strcpy(pOutBuf, szText);
            iResult = 1;
        }
        break;
    }
    if (YAR_FreeAddressInfo(pInfo) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_DomainParse, YAR_FreeAddressInfo Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
    }
    return iResult;
}

// ---- paths and directories ----

int Utils_GetModuleDir(char *pBuf, int iSize) {
    if (!pBuf || iSize < 2 || YAR_GetCurExePath(pBuf, iSize) != 0)
        return 0;
    char *pSep = nullptr;
    for (char *p = pBuf; *p; p++) {
        if (IsSep(*p))
            pSep = p;
    }
    if (pSep)
        pSep[1] = '\0';
    return 1;
}

const char *Utils_GetFileName(const char *pPath) {
    if (!pPath)
        return nullptr;
    const char *pName = pPath;
    for (const char *p = pPath; *p; p++) {
        if (IsSep(*p))
            pName = p + 1;
    }
    return pName;
}

int Utils_GetPathTail(const char *pPath, char *pOut) {
    if (!pPath || !pOut)
        return 0;
    size_t len = std::strlen(pPath);
    if (len == 0 || len >= (size_t)kMaxPath)
        return 0;
    const char *pTail = Utils_GetFileName(pPath);
    if (pTail != pPath)
        pTail--;  // keep the separator in front of the last component
    std::memcpy(pOut, pTail, std::strlen(pTail) + 1);
    return 1;
}

void Utils_NormalizeDir(char *pText) {
    if (!pText || !pText[0])
        return;
    char *p = pText;
    for (; *p; p++) {
        if (*p == '\\')
            *p = '/';
    }
    if (p[-1] != '/') {
        p[0] = '/';
        p[1] = '\0';
    }
}

int Utils_FormatDirEnd(char *pText, int iSize, int bAddSlash) {
    if (!pText || iSize < 2 || pText[iSize - 1] != '\0')
        return 0;
    for (char *p = pText; *p; p++) {
        if (*p == '\\')
            *p = '/';
    }
    size_t len = std::strlen(pText);
    // A single character is left as it is: "/" stays the root, "a" gains nothing.
    if (len < 2)
        return 1;
    if (bAddSlash) {
        if (pText[len - 1] != '/' && len + 2 <= (size_t)iSize) {
            pText[len] = '/';
            pText[len + 1] = '\0';
        }
    } else if (pText[len - 1] == '/') {
        pText[len - 1] = '\0';
    }
    return 1;
}

void Utils_RemoveDoubleSlash(char *pText) {
    if (!pText)
        return;
    char szOut[kPathField] = {0};
    size_t j = 0;
    for (size_t i = 0; pText[i] && i < (size_t)kPathField - 1; i++) {
        if (pText[i] == '/' && j > 0 && szOut[j - 1] == '/')
            continue;
        szOut[j++] = pText[i];
    }
    std::memcpy(pText, szOut, kPathField);
}

int Utils_CreateMultiDir(char *pPath) {
    if (!pPath)
        return 0;
    Utils_NormalizeDir(pPath);
    for (char *p = pPath + 1; *p; p++) {
        if (*p != '/')
            continue;
        *p = '\0';
        YAR_MakeDir(pPath);
        *p = '/';
    }
    return 1;
}

// ---- texts ----

const char *Utils_StrnStr(const char *pText, const char *pPattern, int iCount) {
    if (!pText || !pPattern || !pPattern[0])
        return pText;
    size_t textLen = std::strlen(pText);
    size_t count = iCount < 0 ? 0 : (size_t)iCount;
    if (count > textLen)
        count = textLen;
    size_t patLen = std::strlen(pPattern);
    for (size_t i = 0; i + patLen <= count; i++) {
        if (std::memcmp(pText + i, pPattern, patLen) == 0)
            return pText + i;
    }
    return nullptr;
}

int GetSubString(const char *pSrc, int iSrcLen, const char *pBegin, const char *pEnd, char *pOut, int iOutSize) {
    if (!pSrc || !pOut || (!pBegin && !pEnd) || iSrcLen < 0 || iOutSize <= 0)
        return 0;
    size_t srcLen = strnlen(pSrc, (size_t)iSrcLen);
    const char *pStart = pSrc;
    const char *pLimit = pSrc + srcLen;
    if (pBegin) {
        const char *p = Utils_StrnStr(pSrc, pBegin, (int)srcLen);
        if (!p)
            return 0;
        pStart = p + std::strlen(pBegin);
    }
    const char *pStop = pLimit;
    if (pEnd) {
        size_t patLen = std::strlen(pEnd);
        pStop = nullptr;
        for (const char *p = pStart; patLen && p + patLen <= pLimit; p++) {
            if (std::memcmp(p, pEnd, patLen) == 0) {
                pStop = p;
                break;
            }
        }
        if (!pStop)
            return 0;
    }
    size_t len = (size_t)(pStop - pStart);
    if (len >= (size_t)iOutSize)
        return 0;
    std::memcpy(pOut, pStart, len);
    pOut[len] = '\0';
    return 1;
}

void ByteArrayToHexString(const BYTE *pSrc, int iSrcLen, char *pDst, int iDstLen) {
    if (!pDst || iDstLen <= 0)
        return;
    std::memset(pDst, 0, (size_t)iDstLen);
    if (!pSrc || iSrcLen < 0 || (size_t)iDstLen < 2 * (size_t)iSrcLen + 1) {
        LogModule_Write(LOG_LEVEL_ERR, "ByteArrayToHexString, Invalid Length, nSrcLen[%d], nDstLen[%d]", iSrcLen,
                        iDstLen);
        return;
    }
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < iSrcLen; i++) {
        pDst[2 * i] = kDigits[pSrc[i] >> 4];
        pDst[2 * i + 1] = kDigits[pSrc[i] & 0xF];
    }
}

int HexStringToByteArray(const char *pHex, int iHexLen, BYTE *pOut, int iOutSize) {
    if (!pHex || !pOut || iHexLen <= 0 || iOutSize <= 0)
        return 0;
    size_t textLen = strnlen(pHex, (size_t)iHexLen);
    int n = 0;
    for (size_t i = 0; i + 2 <= textLen && n < iOutSize; i += 2) {
        char szPair[3] = {pHex[i], pHex[i + 1], '\0'};
        unsigned v = 0;
        if (std::sscanf(szPair, "%2x", &v) != 1) {
            LogModule_Write(LOG_LEVEL_ERR, "HexStringToByteArray, sscanf Failed");
            v = 0;
        }
        pOut[n++] = (BYTE)v;
    }
    return n;
}

void GenerateRandomHex(char *pOut, int iCount) {
    if (!pOut || iCount <= 0)
        return;
    static const char kDigits[] = "0123456789abcdef";
    uint32_t dwBits = 0;
    for (int j = 0; 2 * j < iCount; j++) {
        if (j % 4 == 0)
            dwBits = YAR_Rand();  // four bytes of the system's random generator
        BYTE b = (BYTE)(dwBits >> (8 * (j % 4)));
        pOut[2 * j] = kDigits[b >> 4];
        if (2 * j + 1 < iCount)
            pOut[2 * j + 1] = kDigits[b & 0xF];
    }
}

void GenerateRandomHex32(char *pOut) {
    GenerateRandomHex(pOut, 32);
}

void GenerateRandomHex16(char *pOut) {
    GenerateRandomHex(pOut, 16);
}

int Utils_Random(int bSeed) {
    if (bSeed) {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        std::srand((unsigned)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000));
    }
    return std::rand();
}

const char *Utils_GetMqttMsgName(int iType) {
    switch (iType) {
    case 1: return "MSG_CONNECT";
    case 2: return "MSG_CONNACK";
    case 3: return "MSG_PUBLISH";
    case 4: return "MSG_PUBLISH_ACK";
    case 8: return "MSG_SUBSCRIBE";
    case 9: return "MSG_SUBSCRIBE_ACK";
    case 10: return "MSG_UNSUBSCRIBE";
    case 11: return "MSG_UNSUBSCRIBE_ACK";
    case 12: return "MSG_PINGREQ";
    case 13: return "MSG_PINGRSP";
    case 14: return "MSG_DISCONNECT";
    case 96: return "MSG_PRIVATE_SESSION_KEY_SEARCH";
    case 107: return "MSG_PRIVATE_STREAM_ENCRYPT_STATUS";
    case 111: return "MSG_PRIVATE_INIT_AUTH_CONTEXT";
    default: return "NULL";
    }
}

}  // namespace Vorezi
