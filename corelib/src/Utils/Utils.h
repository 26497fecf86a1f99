// Free utility functions of the core library: the logging assertion, thread-pool shortcuts,
// address texts, paths and directories, hex and random texts.
#pragma once

#include <cstddef>

#include "morva/MorvaTypes.h"
#include "yar/yar_addr.h"
#include "yar/yar_threadpool.h"

namespace Vorezi {

// Logs "Utils_Assert!" at level 1 and returns; never stops the program.
void Utils_Assert();
int Utils_GetSysLastError();

// Flexible pools: idle time-out 30 s, 128 KiB stacks; a maximum of 0 takes the default
// thread-pool configuration.
YAR_THREADPOOLFLEX_T *Utils_CreateThreadPool(YAR_THREADPOOL_ROUTINE fnWork, DWORD dwMaxCount);
int Utils_DestroyThreadPool(YAR_THREADPOOLFLEX_T *hPool);
int Utils_PostWorkToThreadPool(YAR_THREADPOOLFLEX_T *hPool, void *pIgnored, void *pWork);

// Addresses.
int Utils_MakeAddr(int iFamily, const char *pAddr, WORD wPort, YAR_ADDR_T *pOut);
int Utils_StrToIPv6Addr(const char *pText, BYTE *pAddr6);
int Utils_IPv6ToStr(const BYTE *pAddr6, char *pText /* 128 bytes */);
int Utils_AddrToIPPort(YAR_ADDR_T struAddr, char *pText, int iSize, WORD *pPort);
void Utils_IntToIPv4Str(DWORD dwAddr, char *pText /* 16 bytes */);
DWORD Utils_IsValidIPv4(const char *pText);
int Utils_CheckIPAddr(const char *pText);
int Utils_IsIPv6(const char *pText);
int Utils_IsDomain(const char *pText);
// Resolves a host name into the first address text that is not "::1"; an address text is
// copied as it is. Never writes more than iOutSize bytes: error 43 when the text does not fit.
int Utils_DomainParse(const char *pInBuf, char *pOutBuf, int iOutSize);

// Paths and directories.
int Utils_GetModuleDir(char *pBuf, int iSize);
const char *Utils_GetFileName(const char *pPath);
int Utils_GetPathTail(const char *pPath, char *pOut);
void Utils_NormalizeDir(char *pText);
int Utils_FormatDirEnd(char *pText, int iSize, int bAddSlash);
void Utils_RemoveDoubleSlash(char *pText /* at least 261 bytes */);
int Utils_CreateMultiDir(char *pPath);

// Texts.
const char *Utils_StrnStr(const char *pText, const char *pPattern, int iCount);
int GetSubString(const char *pSrc, int iSrcLen, const char *pBegin, const char *pEnd, char *pOut, int iOutSize);
void ByteArrayToHexString(const BYTE *pSrc, int iSrcLen, char *pDst, int iDstLen);
int HexStringToByteArray(const char *pHex, int iHexLen, BYTE *pOut, int iOutSize);
void GenerateRandomHex32(char *pOut);
void GenerateRandomHex16(char *pOut);
void GenerateRandomHex(char *pOut, int iCount);
int Utils_Random(int bSeed);
const char *Utils_GetMqttMsgName(int iType);

}  // namespace Vorezi
