/* Client links of the core library: creation by link type, connect, send and receive with
 * time-outs, close. The records hold pointers and use the native layout; size them with sizeof.
 * Each Morva_* function needs an initialised library (error 3 and the failure value otherwise). */
#ifndef MORVA_LINK_H
#define MORVA_LINK_H

#include "morva/MorvaTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Link types; 14 to 32 arrive with the SOCKS5 and TLS links. */
typedef enum {
    LINK_TYPE_TCP = 0,
    LINK_TYPE_UDP = 1,
    LINK_TYPE_MCAST = 2,
    LINK_TYPE_SOCKS5 = 14,
    LINK_TYPE_SOCKS5_SERVER = 16,
    LINK_TYPE_SSL = 19,
    LINK_TYPE_TLS = 20,
    LINK_TYPE_SSL_GM = 32
} enumLinkType;

/* Parameter ID of Morva_GetLinkParam: the local port (16 bits). */
#define LINK_PARAM_LOCAL_PORT 66048

/* Per-link options. */
typedef struct {
    BYTE byLinkMode;  /* 2: idle probe on close; with bySyncSend 1 sends stay blocking */
    BYTE byCloseMode; /* 1: shut both directions down before the close */
    BYTE byRes1[2];
    DWORD dwUserID;
    BYTE bySyncSend;
    BYTE byVerifyMode; /* TLS peer verification: 0 off, 1 with the files, 2 CA only */
    BYTE byCertificateFileType;
    BYTE byPrivateKeyFileType;
    DWORD dwProbeRecvTimeout; /* ms */
    const char *pAlpnList;
    DWORD dwAlpnLen;
    const char *pUserCertificateFile;
    const char *pUserPrivateKeyFile;
    const char *pCACertificateFile;
    DWORD dwBIOMode;
    int32_t iTLSKind;
    BYTE byAsyncCmd; /* 1: asynchronous command mode */
    char szSNI[219];
} LINK_EXT_PARAM;

/* What Link_CreateLinkEx takes. Link_CreateLink reads the fields before ext only. */
typedef struct {
    const char *pServerIP;
    const char *pSecondIP; /* multicast group, may be null */
    WORD wServerPort;
    WORD wSecondPort; /* multicast port */
    int32_t enumLinkType;
    DWORD dwConnectTimeout; /* ms; 0 the library's */
    DWORD dwRecvTimeout;    /* ms; 0 the library's */
    DWORD dwSendTimeout;    /* ms; 0 5000 */
    DWORD dwCommand;
    BYTE byRes2[3];
    BYTE byProxyID;
    int32_t dwServerMode; /* 0 connect out; 1 and 2 adopt iSocket */
    int32_t iSocket;
    DWORD dwUserID;
    LINK_EXT_PARAM ext;
} LINK_CREATE_PARAM;

/* The link condition of Interim_CreateLinkByIPEx; fields before iKind form the address record. */
typedef struct {
    DWORD dwConnectTimeout;
    DWORD dwRecvTimeout;
    DWORD dwSendTimeout;
    int32_t iServerPort;
    BYTE byProxyID;
    BYTE byRes1[3];
    const char *pServerIP;
    DWORD dwRes2;
    int32_t iKind; /* 11, 12, 14, 15 and 19 name the link type; any other gives 0 */
    DWORD dwUserID;
    LINK_EXT_PARAM ext;
} LINK_COND;

/* One record of the library's SOCKS5 proxy table (local configuration item 14: 32 records, the
 * record index is the proxy ID of LINK_CREATE_PARAM and LINK_COND). No pointers: the table is
 * copied as a block. */
#define MORVA_PROXY_ADDR_LEN 48
typedef struct {
    char szProxyIP[MORVA_PROXY_ADDR_LEN]; /* IPv4 dotted text, NUL-terminated */
    WORD wProxyPort;                      /* host order */
    BYTE byRes[146];
} MORVA_PROXY_RECORD; /* 196 bytes */

/* A link; opaque to callers. */
typedef struct MORVA_LINK_S *MORVA_LINK;

/* Option block of Morva_RecvData: word 0 returns on the first data, word 2 is the time-out. */
#define MORVA_RECV_OPTION_WORDS 67

MORVA_LINK Morva_CreateLink(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP);
/* With dwServerMode 1 or 2 the link adopts iSocket only when it is made. A null result leaves the
 * socket with the caller, open and with the options it had (bytes of a failed handshake are
 * read or sent, though): the caller closes it. */
MORVA_LINK Morva_CreateLinkEx(const LINK_CREATE_PARAM *pParam, int bUseMemPool, const char *pDestIP);
void Morva_DestroyLink(MORVA_LINK hLink);
void Morva_CloseLinkSocket(MORVA_LINK hLink);
int Morva_ChangeConnectTypeByLink(MORVA_LINK hLink);
int Morva_GetLinkParam(MORVA_LINK hLink, DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen);
int Morva_GetSockByLink(MORVA_LINK hLink);
/* The bytes sent, or -1. */
int Morva_SendDataByLink(MORVA_LINK hLink, const char *pData, DWORD dwLen, DWORD dwTimeOut);
/* 1, or 0; the received length in *pRecvLen. */
int Morva_RecvData(MORVA_LINK hLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, const DWORD *pOption);
int Morva_RecvByLink(MORVA_LINK hLink, char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwFirstData);
int Morva_ResetLink(MORVA_LINK hLink);

#ifdef __cplusplus
}
#endif

#endif
