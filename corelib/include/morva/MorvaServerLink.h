/* Server (listening) links of the core library: created, driven and destroyed by an integer
 * handle (0 to 4095). Everything a link receives, and its connection events, reaches one data
 * callback of the owner as a SERVER_LINK_DATA record. The records hold pointers and use the
 * native layout; size them with sizeof and zero them with their sizeof before filling. */
#ifndef MORVA_SERVER_LINK_H
#define MORVA_SERVER_LINK_H

#include "morva/MorvaTypes.h"
#include "yar/yar_addr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* byProType of SERVER_LINK_COND: the class of the server link. */
enum {
    SERVER_LINK_PRO_TCP = 0,
    SERVER_LINK_PRO_UDP = 1,
    SERVER_LINK_PRO_VRUDP = 9,
    SERVER_LINK_PRO_VRUDP_STREAM = 10,
    SERVER_LINK_PRO_RQS = 22,
    SERVER_LINK_PRO_MQTT = 24,
    SERVER_LINK_PRO_RQS_DTLS = 25
};

/* dwMsgType of SERVER_LINK_DATA. */
enum { SERVER_LINK_MSG_NEW = 0, SERVER_LINK_MSG_DATA = 1, SERVER_LINK_MSG_END = 2 };

#define SERVER_LINK_MAX_HANDLES 4096
#define SERVER_LINK_EXT_LEN 264
#define SERVER_LINK_ADDR_LEN 128

struct SERVER_LINK_DATA_S;
/* Runs on the link's threads, for different connections at the same time. */
typedef int (*SERVER_LINK_DATA_CALLBACK)(void *pUserData, struct SERVER_LINK_DATA_S *pData);

/* Creation record. */
typedef struct {
    const char *pLocalIP;     /* IPv4 or IPv6 text (127 characters used); null or "" binds the wildcard */
    WORD wLocalPort;          /* host order */
    BYTE byProType;           /* SERVER_LINK_PRO_* */
    BYTE byManagerMode;       /* 1: an accepted TCP socket goes to the owner, which reads it itself */
    DWORD dwRecvTimeOut;      /* ms for the receive waits; 0 the library's default */
    DWORD dwSecondTimeOut;    /* kept by the link; the MQTT link's first session time value */
    DWORD dwSendMult;         /* socket buffers: 1024 and more a size, 1 to 1023 a multiplier, 0 keep */
    DWORD dwRecvMult;
    SERVER_LINK_DATA_CALLBACK fnDataCallBack;
    int32_t bCheckHead;       /* TCP: check and strip a "QDBD" command head before the first data */
    void *pUserData;
    BYTE byExt[SERVER_LINK_EXT_LEN]; /* copied into the link; the DTLS link reads its TLS settings here */
} SERVER_LINK_COND;

/* Callback record (1608 bytes here; zeroed before each use). */
typedef struct SERVER_LINK_DATA_S {
    DWORD dwMsgType;          /* SERVER_LINK_MSG_* */
    DWORD dwDataKind;         /* 0 TCP, 1 UDP or secure reliable UDP, 10 reliable-UDP stream, 22 RQS, 24 MQTT */
    int32_t iLinkHandle;
    int32_t iStreamHandle;    /* -1; a new TCP connection's callback may leave a handle here */
    int32_t iAcceptHandle;    /* accepted-connection index (TCP), stream or MQTT handle; -1 none */
    DWORD dwMqttWord;
    char *pData;              /* valid only during the call */
    DWORD dwDataLen;
    int32_t iStatus;          /* TCP: last receive result (0, 9 error, 10 time-out, 73 closed) */
    BYTE byAreaA[256];        /* MQTT */
    BYTE byAreaB[256];        /* TCP: command head bytes 32 to 47; secure reliable UDP: its block */
    char szPeerIP[SERVER_LINK_ADDR_LEN];
    WORD wPeerPort;           /* host order */
    /* MQTT fields; the secure reliable-UDP link reads back bytes 8 to 15 of byMqttBlock. */
    BYTE byMqttText[128];
    WORD wMqttValue;
    DWORD dwMqttValue1;
    BYTE byMqttBlock[256];
    int32_t iSocket;          /* TCP: the accepted socket */
    DWORD dwMqttValue2;
    BYTE byMqttTopic[512];
    DWORD dwMqttValue3;
    DWORD dwMqttValue4;
    DWORD dwMqttValue5;
} SERVER_LINK_DATA;

/* Send record. */
typedef struct {
    const char *pPeerIP;      /* destination (UDP, RQS, DTLS, reliable UDP) */
    WORD wPeerPort;
    int32_t iAcceptHandle;    /* target connection or handle (reliable UDP, MQTT) */
    DWORD dwWord1;
    DWORD dwCommand;
    DWORD dwSequence;
    DWORD dwWord2;
    BYTE byFlag[3];           /* MQTT: byFlag[2] is byNaked */
    BYTE byType;              /* MQTT message type */
    const char *pData;
    DWORD dwDataLen;
    int32_t iSocket;          /* TCP: the accepted socket of the target connection */
} SERVER_LINK_SEND_PARAM;

/* A handle, or -1. */
int Morva_CreateServerLink(const SERVER_LINK_COND *pCond);
/* 1, or 0. */
int Morva_DestroyServerLink(int iLinkHandle);
/* TCP: stops listening, keeps the connections; 0 for a missing link. */
int Morva_CloseServerLink(int iLinkHandle);
/* 0 on success, -1 for a missing link. */
int Morva_CloseAcceptHandle(int iLinkHandle, int iAcceptHandle);
/* The bytes sent, or -1. */
int Morva_ServerLinkSendData(int iLinkHandle, const SERVER_LINK_SEND_PARAM *pParam);
/* TCP: ends the receive loop of accepted connection iStreamLink. */
int Morva_ExitRecvThread(int iListenLink, int iStreamLink);
/* RQS over DTLS: ends the session of that peer. */
int Morva_ExitRecvThreadEx(int iListenLink, YAR_ADDR_T struPeerAddr);
/* TCP: returns once the worker of accepted connection iStreamLink has finished. */
void Morva_WaitRecvThread(int iListenLink, int iStreamLink);
/* Command 9 with a 4-byte value: the TCP listen thread sleeps that many ms before its next accept. */
int Morva_SetInfo(int iLinkHandle, int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen);
/* TCP: the stream handle repeated in every later record of accepted connection iStreamLink. */
void Morva_SetPreviewHandle(int iListenLink, int iStreamLink, int iPreviewHandle);

#ifdef __cplusplus
}
#endif

#endif
