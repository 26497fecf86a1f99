/* Flat interface of the core library: compression, character sets, Base64 and hex texts, address
 * texts, message callbacks, the performance monitor and flexible thread pools. Results are 1 or 0
 * unless said otherwise; failures leave the core error code where a function names one. */
#ifndef MORVA_UTILITY_H
#define MORVA_UTILITY_H

#include "morva/MorvaTypes.h"
#include "yar/yar_addr.h"
#include "yar/yar_threadpool.h"

#ifdef __cplusplus
extern "C" {
#endif

// Compression over the zlib binding; each needs an initialised library and gives the output
// length, or -1.
int Morva_Compress(const void *pSrc, DWORD dwSrcLen, void *pDest, DWORD dwDestSize);
int Morva_UnCompress(const void *pSrc, DWORD dwSrcLen, void *pDest, DWORD dwDestSize);
int Morva_GzipCompress(const void *pSrc, int iSrcLen, void *pDest, int iDestSize);
int Morva_GzipUnCompress(const void *pSrc, int iSrcLen, void *pDest, int iDestSize);
// zlib's CRC-32 of dwLen bytes continued from dwCrc, stored through pResult.
int Morva_CRC32(DWORD dwCrc, const BYTE *pBuf, DWORD dwLen, DWORD *pResult);

// Character sets (1 the local code page, 6 UTF-8).
int Morva_CharEncodeConvert(const char *pInput, DWORD dwInputLen, DWORD dwInEncodeType, char *pOutput,
                            DWORD dwOutputSize, DWORD dwOutEncodeType);
// The converted text without terminator; the output is left unchanged when it is too small (43).
int Morva_A2UTF8(const char *pInput, DWORD dwInputLen, char *pOutput, DWORD dwOutSize, DWORD *pOutLen);
int Morva_UTF82A(const char *pInput, DWORD dwInputLen, char *pOutput, DWORD dwOutSize, DWORD *pOutLen);
// strcmp of a UTF-8 text with a local text converted to UTF-8; -1 for null texts or a failed
// conversion.
int Morva_StrCmpUTF8(const char *pUtf8, const char *pLocal);

// Base64 (80-character lines with CR LF): the characters written or the bytes decoded, or -1.
// The decoders refuse characters outside the alphabet and need room for the bytes and a zero.
int Morva_Base64Encode(const BYTE *pInput, int iInputLen, char *pOutput, int iOutputSize);
int Morva_Base64Decode(const char *pInput, int iInputLen, BYTE *pOutput, int iOutputSize);
int Morva_DecodeBase64(const char *pInput, BYTE *pOutput, int iInputLen, int iOutputSize);

// Hexadecimal texts. Morva_HexEncode needs 2 * iLen + 1 bytes of output.
int Morva_HexEncode(const BYTE *pData, int iLen, int bUpperCase, char *pOutput);
void Morva_ByteArrayToHexString(const BYTE *pSrc, int iSrcLen, char *pDst, int iDstLen);
int Morva_HexStringToByteArray(const char *pHex, int iHexLen, BYTE *pOut, int iOutSize);

// Copies the text without its CR LF pairs (every other character, a lone CR or LF too, is kept)
// and a terminating zero; the output needs iLen + 1 bytes, the Ex variant, which also writes
// "%2B" for every '+', 3 * iLen + 1. The output length, or -1 for bad arguments.
int Morva_EliminateLineBreak(const char *pInput, int iLen, char *pOutput);
int Morva_EliminateLineBreakEx(const char *pInput, int iLen, char *pOutput);
// Backslashes become '/'; with bAddSlash a final '/' is ensured, without it one is removed.
int Morva_ReplaceSlash(char *pPath, int iSize, int bAddSlash);
int Morva_GetSubString(const char *pSrc, int iSrcLen, const char *pBegin, const char *pEnd, char *pOut, int iOutSize);
void Morva_GenerateRandom(char *pOut, int iLen);
void Morva_GenRandomString32(char *pOut);
void Morva_GenRandomString16(char *pOut);
int Morva_Rand(int bReseed);

// Address texts; all but the two IPv4 checks need an initialised library. The IPv6 texts give
// 0 or -1 as the runtime does.
int Morva_DomainParse(const char *pName, char *pOut, int iOutSize);
int Morva_IntToIPv4Str(DWORD dwAddr, char *pText /* 16 bytes */);
int Morva_IPv6AddrToStr(const BYTE *pAddr6, char *pText /* 128 bytes */);
int Morva_IsDomainName(const char *pText);
int Morva_IsIPv6Str(const char *pText);
int Morva_CheckIPv4(const char *pText);
DWORD Morva_IsValidIPv4(const char *pText);
// 0 on success; a null record, another family or an unreadable text give error 17 and non-zero.
int Morva_MakeAddrByString(int iFamily, const char *pText, WORD wPort, YAR_ADDR_T *pAddr);
int Morva_StrToIPv6Addr(const char *pText, BYTE *pAddr6);

// Exception notifications to the host: a window message or a callback on the core's pool.
typedef void (*MORVA_MSG_CALLBACK)(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, void *pUser);
int Morva_MsgOrCallBack(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3, int iError);
int Morva_SetExceptionCallBack_V30(UINT uMsg, void *hWnd, MORVA_MSG_CALLBACK fnCallBack, void *pUser);

// Switches the performance monitor; an interval of 0 means 5000 ms, others 5000..120000 ms.
int Morva_PerformanceMonitor(int bUsePerfmMonitor, DWORD dwMonitorInterval);

// Timer proxies (records of the timer-proxy module) and time-consumption tests. A proxy or test id,
// or -1.
int Morva_CreateTimerProxy(const void *pProxyParam);
void Morva_DestroryTimerProxy(int iProxyID);
int Morva_RigisterTimerProxy(int iProxyID, const void *pRegisterParam);
int Morva_UnRigisterTimerProxy(int iProxyID, int iRigisterID);
int Morva_CreateTimeConsumingTest(const char *pName, DWORD dwTagNum /* 1 to 8 */, DWORD dwValue);
int Morva_DestroyTimeConsumingTest(int iTestID);

// Flexible thread pools.
YAR_THREADPOOLFLEX_T *Morva_CreateThreadPool(YAR_THREADPOOL_ROUTINE fnWork);
YAR_THREADPOOLFLEX_T *Morva_CreateThreadPoolEx(YAR_THREADPOOL_ROUTINE fnWork, DWORD dwThreadCount);
int Morva_DestroyThreadPool(YAR_THREADPOOLFLEX_T *hPool);
int Morva_PostWorkToThreadPool(YAR_THREADPOOLFLEX_T *hPool, void *pValue, void *pWork);

#ifdef __cplusplus
}
#endif

#endif
