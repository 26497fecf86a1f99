// The server link: a member of the server-link manager that binds a local address, runs its own
// receiving machinery and hands everything it receives to one data callback of its owner. Each
// transport derives its class from CServerLinkBase and adds one row to the manager's factory
// (ServerLinkMgr.cpp).
#pragma once

#include <cstdint>

#include "Module/Member/MemberBase.h"
#include "internal/MorvaInternal.h"
#include "morva/MorvaServerLink.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_addr.h"
#include "yar/yar_thread.h"

namespace Vorezi {

// SetInfo command of the TCP link: a 4-byte sleep (ms) before the listen thread's next accept.
constexpr DWORD SERVER_LINK_CMD_ACCEPT_WAIT = 9;
constexpr int SERVER_LINK_THREAD_STACK = 0x40000;

class CServerLinkBase : public CMemberBase {
public:
    CServerLinkBase() = default;
    ~CServerLinkBase() override;

    // What each kind of server link provides or overrides (the first three are CMemberBase's):
    // the life cycle, accepted handles, sending, the receiving machinery, settings, and its own
    // socket (open, create, close, buffer sizes).
    int CheckResource() override;
    int Start(void *pCond) override;
    int Stop() override;
    virtual int CloseAcceptHandle(int iAcceptHandle);
    virtual int SendData(const SERVER_LINK_SEND_PARAM *pParam) = 0;
    virtual int StartSever() = 0;
    virtual int SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen);
    virtual int CloseServerLink();
    virtual int OpenLink() = 0;
    virtual int CloseLink();
    virtual int CreateSocket() = 0;
    virtual int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) = 0;

    int GetLocalAddress(YAR_ADDR_T *pAddr);
    void DestroySocket();
    int SetBuffSize(int iSocket, DWORD dwSendValue, DWORD dwRecvValue);
    void SetDataCallBack(SERVER_LINK_DATA_CALLBACK fnCallBack, void *pUser);
    int PushDataToCallBack(SERVER_LINK_DATA *pData);
    // Zeroes a callback record and fills the fields every record of this link carries.
    void InitRecord(SERVER_LINK_DATA *pData, DWORD dwMsgType, DWORD dwDataKind, int iStreamHandle, int iAcceptHandle);
    // The member index, for the log lines.
    int Index() { return GetMemberIndex(); }

protected:
    // Steps of Start shared with links that start on their own (the MQTT link): the address,
    // the family and the time values of the record.
    void TakeAddressAndTimes(const SERVER_LINK_COND &cond);
    void SetReady() { m_bReady = 1; }
    void SetManagerMode(BYTE byMode) { m_byManagerMode = byMode; }
    // StartSever of the links with a thread of their own: refuses a second start, else starts
    // fnRoutine with this link. The two texts take the index and then the handle or the error.
    int StartOwnThread(YAR_HANDLE *phThread, YAR_THREAD_ROUTINE fnRoutine, const char *pAlreadyText,
                       const char *pFailText);

    int m_socket = -1;
    char m_szLocalIP[SERVER_LINK_ADDR_LEN] = {0};
    WORD m_wLocalPort = 0;
    int m_bIPv6 = 0;
    int m_iAf = YAR_AF_INET;
    DWORD m_dwRecTimeOut = 0;
    DWORD m_dwSecondTimeOut = 0;
    SERVER_LINK_DATA_CALLBACK m_fnDataCallBack = nullptr;
    void *m_pUserData = nullptr;
    int m_bReady = 0;
    BYTE m_byManagerMode = 0;
    BYTE m_byExt[SERVER_LINK_EXT_LEN] = {0};
};

}  // namespace Vorezi
