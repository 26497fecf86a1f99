// Text forms shared by the services, transports and protocol code: the request Uuid, MAC texts,
// address texts, lower-case copies and the hexadecimal and decimal dumps written to the log.
#pragma once

#include <cstdint>

namespace ZEVA {

constexpr uint32_t UUID_TEXT_LEN = 36;   // "%08X-%04X-%04X-%04X-%012X"
constexpr uint32_t MAC_TEXT_LEN = 17;    // "00-1a-2b-3c-4d-5e"
constexpr uint32_t LOG_DUMP_LINE = 896;  // a dump line with its terminator: the core log writes
                                         // lines of 1024 bytes with its time and level prefix

// A new random Uuid, 36 upper-case characters and a terminator; -1 for a null output (a capacity
// below 37 leaves the output untouched and also gives -1).
int CreateUuidString(char *pOut, uint32_t dwCapacity);
// Six bytes as "xx-xx-xx-xx-xx-xx" in lower case; pOut holds at least 18 bytes.
void MacToString(char *pOut, const uint8_t *pMac);
// Reads up to 12 hexadecimal digits of a text shorter than 32 characters, skipping every other
// character; each completed pair is the next byte. Longer texts write nothing.
void StringToMac(const char *pText, uint8_t *pMac);
// Dotted decimal with exactly four parts below 256: 1, else 0; -1 for a null argument.
int StringToIPv4(const char *pText, uint8_t *pAddr);
// The text forms of RFC 4291 (one "::", an IPv4 tail): 1 with the 16 bytes, else 0.
int StringToIPv6(const char *pText, uint8_t *pAddr);
// Copies the characters with A-Z lowered, without the terminator; -1 for a null argument.
int ToLowerCopy(const char *pSrc, char *pDst);
// Log lines at level 1: the message, then the data as hexadecimal or as "%03d " per byte.
// Data that does not fit one log line is cut, and the line says so.
void PrintHexData(const char *pMsg, const uint8_t *pData, uint32_t dwLen);
void PrintDecData(const char *pMsg, const uint8_t *pData, uint32_t dwLen);
// Zeroes the output, then writes "%03d " per byte for as many bytes as fit with a terminator.
void FormatDecData(const uint8_t *pData, uint32_t dwLen, char *pOut, uint32_t dwCapacity);

}  // namespace ZEVA
