// The protocol object of a long link: owns one link made through the link factory, the buffer
// the link receives into, and whether this object may receive through asynchronous I/O.
#pragma once

#include <atomic>
#include <cstdint>

#include "morva/MorvaLink.h"
#include "transport/link/LinkBase.h"

namespace Vorezi {

// The short address record: LINK_COND's fields up to the user ID, in the native layout.
struct LINK_ADDR_COND {
    DWORD dwConnectTimeout;
    DWORD dwRecvTimeout;
    DWORD dwSendTimeout;
    int32_t iServerPort;
    BYTE byProxyID;
    BYTE byRes1[3];
    const char *pServerIP;
    DWORD dwRes2;
    int32_t iKind;
    DWORD dwUserID;
};

// Widens the short record into a zeroed LINK_COND, field by field; pCond, or null for a null
// record.
const LINK_COND *WidenAddrCond(const LINK_ADDR_COND *pAddr, LINK_COND *pCond);

// A buffer to send and its length.
struct PROTOCOL_SEND_DATA {
    const char *pData;
    DWORD dwLen;
};

class CBaseProtocol {
public:
    static constexpr DWORD kRecvBufSize = 32768;

    CBaseProtocol();
    virtual ~CBaseProtocol();
    CBaseProtocol(const CBaseProtocol &) = delete;
    CBaseProtocol &operator=(const CBaseProtocol &) = delete;

    virtual int IsUseAsyncIO();
    virtual int CreateLink(const char *pServerIP, int iPort, const LINK_ADDR_COND *pAddr, DWORD dwCommand);
    virtual int CreateLinkByCond(DWORD dwCommand, void *pIgnored, const LINK_ADDR_COND *pAddr);
    virtual int CreateLinkEx(const char *pServerIP, int iPort, const LINK_COND *pCond, DWORD dwCommand);
    virtual int CreateLinkEx(DWORD dwCommand, void *pIgnored, const LINK_COND *pCond);
    virtual int CloseLinkSocket();
    virtual int DestroyLink();
    virtual CLinkBase *GetLink();
    virtual int SetLink(CLinkBase *pLink);
    virtual int GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen);
    virtual int CreateGeneralLink(const LINK_CREATE_PARAM *pParam, int bUseAsyn);
    virtual int SetLinkForceClose();
    virtual void GetRemoteAddr(char *pIP, WORD *pPort, DWORD dwLen);
    virtual void GetLocalAddr(char *pIP, WORD *pPort, DWORD dwLen);
    // The buffer holding what arrived; *pLen its length, *pStatus the receive status (0 data,
    // 10 nothing within the time-out, else the link's error).
    virtual char *RecvData(DWORD *pLen, int *pStatus, DWORD dwTimeOut, int bFirstData);

    int CreatePushLink(int sockAccepted);
    int CreateSocks5PushLink(int sockAccepted);
    int EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult);
    int SetRecvTimeout(DWORD dwTime);
    int GetLocalIPInfo(LINK_LOCAL_IP_INFO *pInfo);
    int RestSocketByNoClose();
    int SendData(const PROTOCOL_SEND_DATA *pData, DWORD dwTimeOut);
    int ResetLink(const char *pServerIP);
    int GetProxyLinkDstAddr(char *pHost, WORD *pPort);

private:
    int CreateAcceptedLink(int sockAccepted, int enumLinkType, const char *pFailText);
    void ClearBuffer();

    CLinkBase *Link() const { return m_pLink.load(); }

    // Atomic: the owner may ask for the link while the data callback destroys it.
    std::atomic<CLinkBase *> m_pLink{nullptr};
    char m_szRecvBuf[kRecvBufSize];
    DWORD m_dwRecvBufSize = kRecvBufSize;
    DWORD m_dwRecvLen = 0;
    DWORD m_bUseAsyn = 0;
};

}  // namespace Vorezi
