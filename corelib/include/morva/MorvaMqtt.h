/* MQTT 3.1.1 server side: the message types and the records a host receives in its callback.
 * Records holding pointers use native pointer width. */
#ifndef MORVA_MQTT_H
#define MORVA_MQTT_H

#include "morva/MorvaTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    MSG_CONNECT = 1,
    MSG_CONNACK = 2,
    MSG_PUBLISH = 3,
    MSG_PUBLISH_ACK = 4,
    MSG_SUBSCRIBE = 8,
    MSG_SUBSCRIBE_ACK = 9,
    MSG_UNSUBSCRIBE = 10,
    MSG_UNSUBSCRIBE_ACK = 11,
    MSG_PINGREQ = 12,
    MSG_PINGRSP = 13,
    MSG_DISCONNECT = 14,
    MSG_PRIVATE_SESSION_KEY_SEARCH = 96,
    MSG_PRIVATE_ERROR = 101,
    MSG_PRIVATE_STREAM_ENCRYPT_STATUS = 107,
    MSG_PRIVATE_INIT_AUTH_CONTEXT = 111,
};

/* Session settings (the SetInfo commands). */
enum {
    MQTT_CMD_SETINFO_SESSIONKEY = 4,
    MQTT_CMD_SETINFO_ACCEPT_WAIT = 9,
    MQTT_CMD_SETINFO_ALIVE_TIMEOUT = 7,
    MQTT_CMD_SETINFO_SESSIONKEY_AND_IV = 13,
    MQTT_CMD_SETINFO_AUTHENTICATOR = 14,
    MQTT_CMD_SETINFO_UNCRYPFILTER = 15,
    MQTT_CMD_SETINFO_WILL_DELIVERED = 16,
    MQTT_CMD_SETINFO_KEY2_AND_IV = 17,
};

/* Lets a callback change its own session at once (the session pointer of the record). */
typedef int (*MORVA_MQTT_SETINFO_PROXY)(DWORD dwCommand, void *pData, DWORD dwLength, void *pSession);
/* Sends one frame: its fixed-header byte and the bytes after the remaining length. */
typedef int (*MORVA_MQTT_SEND_PROXY)(BYTE byHeader, const BYTE *pData, DWORD dwLength, void *pSession);

/* pData of a MSG_CONNECT record: the will message (null and 0 without a will) and the keep alive. */
typedef struct MORVA_MQTT_WILL_INFO {
    const BYTE *pWillMessage;
    WORD wWillMessageLen;
    WORD wKeepAlive;
} MORVA_MQTT_WILL_INFO;

/* One event of a session (1576 bytes on the 32-bit build; native here). */
typedef struct MORVA_MQTT_MSG {
    int32_t iStatus;
    int32_t iMsgType;
    int32_t iDataLen;
    const void *pData;
    char szClientId[256];
    char szUserName[256];
    int32_t bWillDelivered;
    BYTE byRes[256];
    int32_t iMessageID;
    char szLocalAddr[128];
    WORD wLocalPort;
    char szRemoteAddr[128];
    WORD wRemotePort;
    char szTopic[512];
    MORVA_MQTT_SETINFO_PROXY fnSetInfo; /* MSG_PRIVATE_SESSION_KEY_SEARCH only */
    void *pSession;                     /* MSG_PRIVATE_SESSION_KEY_SEARCH only */
    BYTE byAlgorithm;
} MORVA_MQTT_MSG;

/* The MSG_PRIVATE_INIT_AUTH_CONTEXT event. It arrives through the same callback: status and type
 * lie where they lie in MORVA_MQTT_MSG, so the callback reads iMsgType and then casts. The frame is
 * the session's internal frame record, handed on to the authenticator. */
typedef struct MORVA_MQTT_AUTH_MSG {
    int32_t iStatus;
    int32_t iMsgType;
    const void *pFrame;
    DWORD dwFrameSize;
    MORVA_MQTT_SETINFO_PROXY fnSetInfo;
    void *pSession;
    char szLocalAddr[128];
    WORD wLocalPort;
    char szRemoteAddr[128];
    WORD wRemotePort;
} MORVA_MQTT_AUTH_MSG;

/* The host's callback: session handle, the event (cast to MORVA_MQTT_AUTH_MSG for type 111), user
 * data. The event and what it points to are valid during the call only. */
typedef int (*MORVA_MQTT_SERVER_CB)(int iHandle, MORVA_MQTT_MSG *pMsg, void *pUser);

/* The listen record of Morva_MqttServerCreateListen. Times of 0 take 5000, 90000 and 5000 ms. */
typedef struct MORVA_MQTT_LISTEN_PARAM {
    char szListenAddr[128];     /* IPv4 or IPv6 text; "" binds the wildcard */
    WORD wPort;                 /* host order */
    DWORD dwSessionInterval;    /* send time-out of each session, ms */
    DWORD dwAliveTimeout;       /* a client silent this long is reported with MSG_PRIVATE_ERROR, ms */
    DWORD dwHeartbeatInterval;  /* ms */
    DWORD dwRes;
    MORVA_MQTT_SERVER_CB fnCB;  /* required */
    void *pUserData;
} MORVA_MQTT_LISTEN_PARAM;

/* A listen handle, or -1. Every session of the listener reports through the record's callback. */
int Morva_MqttServerCreateListen(const MORVA_MQTT_LISTEN_PARAM *pParam);
/* 1, or 0. The sessions it accepted stay open. */
int Morva_MqttServerDestroyListen(int iListenHandle);
/* Closes one session: 1, or 0. Asked from inside a session callback (any session's), the close is
 * carried out right after that callback returns, on another thread, and the session reports
 * nothing more. */
int Morva_MqttServerClose(int iHandle);
/* Closes every session (deferred as above inside a callback). */
void Morva_MqttServerCloseAll(void);
/* Sends one frame of type iMsgType (1 to 14) to the client: the bytes sent, or -1. A PUBLISH (3)
 * without bRaw carries pData as the payload, encrypted with the session key, and needs a key. */
int Morva_MqttServerSend(int iHandle, int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw);
/* 1, or 0. */
int Morva_MqttServerSetBuffSize(int iHandle, DWORD dwSndMult, DWORD dwRcvMult);
/* MQTT_CMD_SETINFO_*: 0, or -1. Command 9 with a 4-byte value sets the accept back-off (ms) used
 * while fewer than half the sessions are in use, whatever the handle. */
int Morva_MqttServerSetInfo(int iHandle, DWORD dwCommand, void *pData, DWORD dwLength);

#ifdef __cplusplus
}
#endif

#endif
