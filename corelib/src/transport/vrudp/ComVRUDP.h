// The reliable-UDP handle interface: plain functions over integer handles (0 .. 0x4FFF) of
// endpoints, connections and control links. Internal to the core library; never exported.
//
// Closing from a callback: a receive callback runs on one of the endpoint's own threads.
// COM_VRUDP_Close and COM_VRUDP_CloseConnect of that endpoint called there would join the very
// thread that runs them, so they are refused (0, error 17, a log line). COM_VRUDP_Close of a
// connection handle only sends FIN and is allowed anywhere.
//
// COM_VRUDP_SetReuseAddr on Linux: two endpoints that both set it can bind the same UDP port;
// unicast datagrams then reach only the socket bound last. Without it the second bind fails.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vorezi {

enum { ENUM_VRUDP_MODE_SERVER = 0, ENUM_VRUDP_MODE_CLIENT = 1 };
enum { ENUM_VRUDP_TYPE_ENDPOINT = 0, ENUM_VRUDP_TYPE_LINK = 1 };

// Send-queue shortage of InsertDataToSendList.
constexpr int VRUDP_NOENOUGH_BUF = 10009;

struct VRUDP_CREATE_COND {
    int32_t iAf;       // 2 IPv4, 23 IPv6
    int32_t enumType;  // 0 endpoint, 1 control link
    int32_t enumMode;  // 0 server, 1 client
    uint8_t byRes[256];
};
static_assert(sizeof(VRUDP_CREATE_COND) == 268, "create condition is 268 bytes");
static_assert(offsetof(VRUDP_CREATE_COND, iAf) == 0 && offsetof(VRUDP_CREATE_COND, enumType) == 4 &&
                  offsetof(VRUDP_CREATE_COND, enumMode) == 8,
              "create condition offsets");

// What the link manager receives: the condition and the kind (1 from the interface, 0 for a
// connection made by an endpoint).
struct VRUDP_LINK_NEW {
    VRUDP_CREATE_COND stCond;
    int32_t iKind;
};
static_assert(sizeof(VRUDP_LINK_NEW) == 272, "manager record is the condition and the kind");

struct VRUDP_SOCK_ADDR {
    char szAddr[128];
    uint16_t wPort;  // host order
};
static_assert(sizeof(VRUDP_SOCK_ADDR) == 130, "address record is 130 bytes");

struct VRUDP_STREAM_ADJUST_PARAM {
    uint32_t dwSendWndMax;
    uint32_t dwOneSendWnd;
    uint32_t dwResendCountMax;
    uint32_t dwMaxGoBackTime;
};
static_assert(sizeof(VRUDP_STREAM_ADJUST_PARAM) == 16, "stream adjust record is four words");

// Message kinds of the receive-callback record.
enum { VRUDP_MSG_FIRST = 0, VRUDP_MSG_DATA = 1, VRUDP_MSG_CLOSE = 2 };

// The receive-callback record: a natural struct (it carries a data pointer).
struct VRUDP_RECV_DATA {
    int32_t dwMsgType;      // 0 first data or plain datagram, 1 further data, 2 closed
    int32_t enumDataType;   // 1 connection data or close notice, 0 plain datagram
    int32_t iVRUDPHandle;   // the connection, -1 for a plain datagram
    char szRemoteAddr[128];
    uint16_t wRemotePort;
    const uint8_t *pData;
    int32_t iDataLen;
};

typedef void (*VRUDP_RECV_CALLBACK)(void *pUser, VRUDP_RECV_DATA *pData);

int COM_VRUDP_Create(const VRUDP_CREATE_COND *pCond);
int COM_VRUDP_Bind(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr);
int COM_VRUDP_Listen(int iVRUDPHandle, void *pUser, VRUDP_RECV_CALLBACK fnRecvCB);
int COM_VRUDP_Close(int iVRUDPHandle);
int COM_VRUDP_Connect(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut);
int COM_VRUDP_CloseConnect(int iVRUDPHandle);
int COM_VRUDP_SendTo(int iVRUDPHandle, const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *pstSockAddr,
                     uint32_t nTimeOut);
int COM_VRUDP_RecvFrom(int iVRUDPHandle, void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut);
int COM_VRUDP_GetSocket(int iVRUDPHandle);
int COM_VRUDP_GetSockBuffSize(int iVRUDPHandle, int *piSndBuffSize, int *piRcvBuffSize);
int COM_VRUDP_SetSockBuffSize(int iVRUDPHandle, int iSndBuffSize, int iRcvBuffSize);
int COM_VRUDP_SetNoBlock(int iVRUDPHandle, int bNoBlock);
int COM_VRUDP_SetReuseAddr(int iVRUDPHandle, int bReuse);
int COM_VRUDP_SetRecvFun(int iVRUDPHandle, VRUDP_RECV_CALLBACK fnRecvCB, void *pUser);
int COM_VRUDP_ShutDown(int iVRUDPHandle, int iHow);
int COM_VRUDP_SetStreamAjustParam(int iVRUDPHandle, const VRUDP_STREAM_ADJUST_PARAM *pAdjustParam);
int COM_VRUDP_SetStreamBitrate(int iVRUDPHandle, uint32_t dwBitrate);
int COM_VRUDP_SetMTUSize(int iVRUDPHandle, uint16_t wMTU);

int Interim_VRUDP_Create(const VRUDP_CREATE_COND *pCond);
int Interim_VRUDP_Bind(int iVRUDPHandle, const VRUDP_SOCK_ADDR *pstSockAddr);
int Interim_VRUDP_Listen(int iVRUDPHandle, void *pUser, VRUDP_RECV_CALLBACK fnRecvCB);
int Interim_VRUDP_Close(int iVRUDPHandle);

}  // namespace Vorezi
