/* Strings and system utilities: debugger output, sleeping, random numbers, GUIDs, processor,
 * memory and interface statistics, code-page conversion, and the runtime's own string and number
 * functions (no locale; bytes compare as unsigned). */
#ifndef YAR_STRING_H
#define YAR_STRING_H

#include "yar_base.h"

YAR_BEGIN_DECLS

/* ---- System utilities ---- */

/* 16 bytes; Data1..Data3 are host-order integers, as the text form prints them. */
typedef struct YAR_GUID_T {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} YAR_GUID_T;

/* Per-processor times in 100 ns units; 56 bytes, the last 16 always zero. */
typedef struct YAR_PROCESSOR_TIME_T {
    uint64_t u64IdleTime;
    uint64_t u64KernelTime;
    uint64_t u64UserTime;
    uint64_t u64DpcTime;
    uint64_t u64InterruptTime;
    uint8_t byRes[16];
} YAR_PROCESSOR_TIME_T;

/* Byte counts. */
typedef struct YAR_MEMORY_STATUS_T {
    uint64_t u64TotalPhys;
    uint64_t u64AvailPhys;
    uint64_t u64TotalPageFile;
    uint64_t u64AvailPageFile;
    uint64_t u64TotalVirtual;
    uint64_t u64AvailVirtual;
} YAR_MEMORY_STATUS_T;

/* Interface statistics; the caller sets dwIndex. szName is neither read nor written. Packet
 * counts include unicast and non-unicast packets; the link speed is in bit/s (0 when unknown). */
typedef struct YAR_IF_STATS_T {
    char szName[260];
    uint32_t dwIndex;
    uint32_t dwSpeed;
    uint32_t dwInOctets;
    uint32_t dwInPackets;
    uint32_t dwOutOctets;
    uint32_t dwOutPackets;
} YAR_IF_STATS_T;

typedef struct YAR_IF_STATS2_T {
    char szName[260];
    uint32_t dwIndex;
    uint64_t u64Speed;
    uint64_t u64InOctets;
    uint64_t u64InPackets;
    uint64_t u64OutOctets;
    uint64_t u64OutPackets;
} YAR_IF_STATS2_T;

/* Formats into 5118 characters at most, appends a newline and sends the text to the debug sink
 * (yar_debug.h). A longer text sends a fixed error text instead. */
void YAR_OutputDebug(const char *pFormat, ...) __attribute__((format(printf, 1, 2)));
void YAR_USleep(uint64_t u64Microseconds);
void YAR_Sleep(uint32_t dwMilliseconds);
uint32_t YAR_Rand(void);
void YAR_ZeroMemory(void *p, size_t nLen);
/* Processors this process may run on. */
int32_t YAR_GetCPUNumber(void);

/* A random (version 4) GUID. 0, or -1 for a null record or when no random bytes can be had. */
int32_t YAR_CreateGUID(YAR_GUID_T *pGuid);
/* Upper-case "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX": 36 characters, the terminator only when
 * iLen is 37 or more. -1 (nothing written) for null arguments or iLen below 36. */
int32_t YAR_GUIDToString(const YAR_GUID_T *pGuid, char *pBuf, int32_t iLen);

/* Sets *pSize to processors x sizeof(YAR_PROCESSOR_TIME_T); -1 when the given size is smaller,
 * the array is null or the times cannot be read. */
int32_t YAR_GetProcessorTimes(YAR_PROCESSOR_TIME_T *pTimes, uint32_t *pSize);
int32_t YAR_GetMemoryStatus(YAR_MEMORY_STATUS_T *pStatus);
/* 32-bit counters are the low 32 bits of the kernel's; the speed saturates at 0xFFFFFFFF. */
int32_t YAR_GetIfStats(YAR_IF_STATS_T *pStats);
int32_t YAR_GetIfStats2(YAR_IF_STATS2_T *pStats);

/* ---- The runtime's own string functions ---- */

/* Digits 0-9 then a-z; '-' only for a negative value in radix 10, other radixes print the
 * value's 32-bit two's complement. Null for a null output or a radix outside 2..36. The output
 * must hold 34 bytes. */
char *YAR_Itoa(char *pOut, int32_t iValue, int32_t iRadix);
char *YAR_Itoa2(char *pOut, int32_t iValue, int32_t iRadix);
/* Leading white space, one optional sign, decimal digits; clamped to the 32-bit range. */
int32_t YAR_Atoi32(const char *pText);
/* As YAR_Atoi32 for 64 bits, but a value beyond the range gives -1 whatever the sign. */
int64_t YAR_Atoi64(const char *pText);
int64_t YAR_Atoi64Ex(const char *pText);

char *YAR_Strcpy(char *pDst, const char *pSrc);
/* At most n bytes; a shorter source is zero-filled to n, a longer one gets no terminator. */
char *YAR_Strncpy(char *pDst, const char *pSrc, size_t n);
/* Copies from malloc (free them with free); null when memory is short. */
char *YAR_Strdup(const char *pText);
char *YAR_Strndup(const char *pText, size_t n);
/* Differences of the first differing (upper-cased) bytes; a null text sorts before any text. */
int32_t YAR_Strcmp(const char *a, const char *b);
int32_t YAR_Strncmp(const char *a, const char *b, size_t n);
int32_t YAR_Strcasecmp(const char *a, const char *b);
int32_t YAR_Strncasecmp(const char *a, const char *b, size_t n);
/* Null when the terminator comes first (also when searching for 0). */
char *YAR_Strchr(const char *pText, int32_t c);
char *YAR_Strnchr(const char *pText, int32_t c, size_t n);
/* First place where nPatternLen bytes of the pattern match; null when the text is shorter. */
char *YAR_StrstrN(const char *pText, const char *pPattern, size_t nPatternLen);
/* Case-insensitive; an empty pattern gives the text. */
char *YAR_Strcasestr(const char *pText, const char *pPattern);

/* ---- Thin wrappers with the C library's semantics ---- */

char *YAR_Strstr(const char *pText, const char *pPattern);
char *YAR_StrstrCrt(const char *pText, const char *pPattern);
int32_t YAR_Atoi(const char *pText);
char *YAR_StrcpyCrt(char *pDst, const char *pSrc);
char *YAR_StrncpyCrt(char *pDst, const char *pSrc, size_t n);
char *YAR_Strcat(char *pDst, const char *pSrc);
size_t YAR_Strlen(const char *pText);
/* -1, 0 or 1. */
int32_t YAR_StrcmpCrt(const char *a, const char *b);
int32_t YAR_Stricmp(const char *a, const char *b);
int32_t YAR_Strnicmp(const char *a, const char *b, size_t n);
char *YAR_StrchrCrt(const char *pText, int32_t c);
char *YAR_Strchr2(const char *pText, int32_t c);
char *YAR_Strrchr(const char *pText, int32_t c);
char *YAR_ItoaCrt(char *pOut, int32_t iValue, int32_t iRadix);

YAR_END_DECLS

#ifdef __cplusplus
#include <string>

/* Linux has no ANSI code page: the system's narrow texts are UTF-8, so both conversions copy the
 * text. A null text gives an empty string. */
std::string YAR_AnsiToUtf8(const char *pText);
std::string YAR_Utf8ToAnsi(const char *pText);
#endif

#endif
