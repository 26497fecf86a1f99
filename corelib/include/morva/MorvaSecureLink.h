/* The secure link: the server side of an encrypted message channel to devices over reliable UDP.
 * A listen handle (from Morva_SecureCreate) owns one reliable-UDP endpoint; every peer that talks
 * to it, over its own reliable-UDP connection or with plain "QDSC"/"QDBD" datagrams, gets a server
 * session addressed by a secure handle. A session hands out the library's RSA-1024 public key,
 * takes the peer's AES-128 key and from then on frames and encrypts data both ways.
 *
 * The link has no integrity protection: AES-ECB without a MAC and an unauthenticated key
 * exchange. A refused key exchange relies on OpenSSL failing a bad PKCS#1 v1.5 ciphertext, as
 * OpenSSL 3.0 does; from OpenSSL 3.2 on the decryption returns a random key instead (implicit
 * rejection), so such a peer is answered with status 200.
 *
 * The records hold pointers and use the native layout. Results are 1 or 0 unless said
 * otherwise; a function called before Morva_Init sets error 3. */
#ifndef MORVA_SECURE_LINK_H
#define MORVA_SECURE_LINK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SECURE_ADDR_LEN 128
#define SECURE_CALLBACK_INFO_LEN 256
/* Command of Morva_SecureSetInfo: the device token the session checks and sends (at most 16). */
#define SECURE_CMD_SETINFO_USE_TOKEN 1
/* Status a data callback writes back to keep a datagram peer alive for another five minutes. */
#define SECURE_STATUS_KEEP_ALIVE 100

/* The functions handed to Morva_SecureCreate: the allocator pair and the positional log writer
 * of the caller, and two reserved entries (null). The link keeps a copy and calls none. */
typedef struct SECURE_CREATE_FUNS {
    void *(*fnNewArray)(size_t uSize);
    int (*fnDelArray)(void *pMemory);
    int (*fnWriteLog)(int iLevel, const char *pFile, int iLine, const char *pFormat, ...);
    void (*fnReserved1)(void);
    void (*fnReserved2)(void);
} SECURE_CREATE_FUNS;

typedef struct SECURE_SOCK_ADDR {
    char szAddr[SECURE_ADDR_LEN];
    uint16_t wPort; /* host order */
} SECURE_SOCK_ADDR;

/* What the data callback receives. The data are valid only during the call. */
typedef struct SECURE_CALLBACK_DATA {
    const uint8_t *pData;
    uint32_t dwDataLen;
    char szAddr[SECURE_ADDR_LEN];
    uint16_t wPort;
    int32_t bDestroy; /* written by the callback: non-zero ends this session */
    uint8_t byInfo[SECURE_CALLBACK_INFO_LEN]; /* the session's 16-byte device token, then zeros */
    int32_t iStatus;  /* written by the callback: SECURE_STATUS_KEEP_ALIVE keeps a datagram peer */
} SECURE_CALLBACK_DATA;

/* Called on the link's receive threads with the secure handle of the session, or -1 for a plain
 * datagram that is not a secure-link packet. Morva_SecureServCloseRemote of the calling session
 * is carried out when the callback returns. */
typedef void (*SECURE_DATA_CALLBACK)(int32_t iSecureHandle, SECURE_CALLBACK_DATA *pData, void *pUserData);

typedef struct SECURE_SEND_DATA {
    const SECURE_SOCK_ADDR *pAddr; /* destination of a send on the listening handle; else null */
    int32_t iSecureHandle;         /* -1: send the data as they are on the listening handle */
    uint32_t dwTimeOut;            /* ms, sends on the listening handle */
    uint32_t dwCommand;
    uint32_t dwSequence;           /* 0 leaves the head's sequence zero */
    uint32_t dwValue;              /* the head's word at offset 28 */
    uint8_t byInfoFlag;            /* head byte 14 */
    uint8_t bySenderByte;          /* head byte 15 */
    uint8_t byRaw;                 /* 1: send without head and encryption */
    const uint8_t *pData;
    uint32_t dwDataLen;
} SECURE_SEND_DATA;

/* A listen handle, or -1. iAddressType 0 IPv4, 1 IPv6; iTransportMode 0 (1 is not offered). */
int32_t Morva_SecureCreate(const SECURE_CREATE_FUNS *pFuns, int32_t iAddressType, int32_t iTransportMode);
int Morva_SecureClose(int32_t iListenHandle);
int Morva_SecureBind(int32_t iListenHandle, const SECURE_SOCK_ADDR *pAddr);
int Morva_SecureGetSockBuffSize(int32_t iListenHandle, int32_t *piSendBufferSize, int32_t *piRecvBufferSize);
int Morva_SecureSetSockBuffSize(int32_t iListenHandle, int32_t iSendBufferSize, int32_t iRecvBufferSize);
int Morva_SecureSetMTUSize(int32_t iListenHandle, uint16_t usMTUSize);
int Morva_SecureSetNoBlock(int32_t iListenHandle, int32_t bYesNo);
/* On Linux two endpoints with reuse-address share the port; unicast datagrams then reach only
 * the socket bound last. */
int Morva_SecureSetReuseAddr(int32_t iListenHandle, int32_t bYesNo);
/* Shutting down an unconnected UDP socket counts as success. */
int Morva_SecureShutDown(int32_t iListenHandle, int32_t iHow);
int Morva_SecureServSetRecvFun(int32_t iListenHandle, SECURE_DATA_CALLBACK fnServRecvDataCB, void *pUserData);
int Morva_SecureServCloseRemote(int32_t iListenHandle, int32_t iSecureHandle);
/* The bytes sent, or -1. Before the key exchange, or with byRaw, the data go out as they are. */
int Morva_SecureServSendTo(int32_t iListenHandle, const SECURE_SEND_DATA *pSendData);
/* Always -1: data reach the owner only through the callback. */
int Morva_SecureServRecvFrom(int32_t iSecureHandle, void *pBuf, int32_t iBufLen, uint32_t nTimeOut);
/* USE_TOKEN: 0 set, 1 null buffer, 2 longer than 16; 3 another command; -1 no such session. */
int Morva_SecureSetInfo(int32_t iSecureHandle, uint32_t dwCommand, void *pBuf, int32_t iBufLen);

#ifdef __cplusplus
}
#endif

#endif
