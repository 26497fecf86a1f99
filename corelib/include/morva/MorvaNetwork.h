/* Flat interface of the core library: local addresses, time-outs and flags of the global
 * controller, splitting sends and data dumps. Each needs an initialised library unless said
 * otherwise; results are 1 or 0 unless said otherwise. */
#ifndef MORVA_NETWORK_H
#define MORVA_NETWORK_H

#include "morva/MorvaTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Pins entry dwIPIndex (0 to 15) of the IPv4 or IPv6 table; error 17 for an invalid entry. */
int Morva_SetValidIP(DWORD dwIPIndex, DWORD bEnableBind);
int Morva_SetLocalIPv6(DWORD dwIPIndex, DWORD bEnableBind);
/* Refreshes the tables and copies up to 16 entries of 16 bytes (text or IPv6 address). */
int Morva_GetLocalIPv4List(char *pBuf /* 256 bytes */, int *pCount, int *pBind);
int Morva_GetLocalIPv6List(BYTE *pBuf /* 256 bytes */, int *pCount, int *pBind);
/* The pinned or selected entry: 0, or -1. */
int Morva_GetLocalIPv4Str(char *pText /* 16 bytes */);
int Morva_GetLocalIPv6Addr(BYTE *pAddr /* 16 bytes */);
int Morva_UpdateLocalIP(void);
DWORD Morva_IsBindLocalIP(void);
int Morva_SetConnectTimeOut(DWORD dwTimeOut, DWORD dwSecond);
int Morva_GetConnectTimeOut(DWORD *pTimeOut, int *pSecond);
int Morva_SetDefaultRecvTimeOut(DWORD dwTimeOut);
DWORD Morva_GetDefaultRecvTimeOut(void);
/* 0 or 1; another value gives error 17. */
int Morva_SetNagleFlag(DWORD dwFlag);
int Morva_GetNagleFlag(DWORD *pFlag);
/* 18 while the Nagle flag is set, else 6. */
int Morva_GetNagleMode(void);
DWORD Morva_IsCustomTiming(void);
DWORD Morva_IsAsyncIO(void);

/* Sends in pieces of at most 1460 bytes: the bytes sent, or -1 (error 8 for a failed send). A
 * time-out of -1 has no limit. No initialisation needed. */
int Morva_SplittingSendWithTimeout(int iSockFd, const char *pBuf, int iBufLen, int iTimeOut);
int Morva_SplittingSend(int iSockFd, const char *pBuf, int iBufLen);
/* Debug log lines of the data: up to 128 bytes as hex, or the text in pieces of 500 bytes while
 * the debug category is enabled. No initialisation needed. */
int Morva_DumpDataByHex(const BYTE *pData, int iLen);
int Morva_DumpDataByString(DWORD dwCategory, const char *pData, int iLen);

/* Numbered port pools 0 to 7 of the port-pool manager: ports wMinPort to wMaxPort - 1 of one
 * local address. The pool number, or -1. */
int Morva_CreateTcpPortPoolEx(const char *pLocalAddr, WORD wMinPort, WORD wMaxPort, DWORD bIPv6);
/* A free port of the pool, or 0. */
WORD Morva_GetTcpPortEx(int nPortPool);
void Morva_ResuseTcpPortEx(int nPortPool, WORD wPort);
int Morva_DestroyTcpPortPoolEx(int nPortPool);
/* The global TCP and UDP pools of the configured ranges (local configuration items 0 and 1).
 * Create: 0, or -1 without a range. */
int Morva_CreateTcpPortPool(void);
int Morva_CreateUdpPortPool(void);
int Morva_ClearTcpPortPool(void);
int Morva_ClearUdpPortPool(void);
/* A port of the pool that binds on the family (2 or 23), 0 when the pool is empty; 0xFFFF
 * before Morva_Init. */
WORD Morva_GetTcpPort(WORD wAddrFamily);
WORD Morva_GetUdpPort(WORD wAddrFamily);
int Morva_ReleaseTcpPort(WORD wPort);
int Morva_ReleaseUdpPort(WORD wPort);
void Morva_GetTcpPortRange(WORD *pMin, WORD *pMax);
void Morva_SetTcpPortRange(WORD wMin, WORD wMax);
void Morva_SetPortRange(WORD wMin, WORD wMax);
/* No initialisation needed. */
void Morva_SetTcpPortRangeEx(const WORD *pMin, const WORD *pMax);
DWORD Morva_IsTcpPortPool(void);
DWORD Morva_IsUdpPortPool(void);

#ifdef __cplusplus
}
#endif

#endif
