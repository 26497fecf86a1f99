// The client link: one socket with what it needs to open (local address and port from the
// pools or the port multiplex list, connect with a time-out), to send and receive with
// time-outs, to receive asynchronously through CLinkAsyncIO, and to close cleanly. The classes
// of each transport supply the open and the send. Links are made by the factory (LinkFactory.h).
#pragma once

#include <cstdint>

#include "Module/Memory/ObjectBase.h"
#include "internal/MorvaInternal.h"
#include "morva/MorvaLink.h"
#include "morva/MorvaTypes.h"
#include "transport/async/LinkAsyncIO.h"
#include "transport/link/SocketEnd.h"
#include "yar/yar_addr.h"

namespace Vorezi {

enum LinkTransType { LINK_TRANS_TCP = 0, LINK_TRANS_UDP = 1, LINK_TRANS_MCAST = 2 };

constexpr int LINK_ADDR_TEXT_LEN = 48;
constexpr DWORD LINK_DEFAULT_SEND_TIMEOUT = 5000;

// The start block the factory builds from a LINK_CREATE_PARAM.
struct CONNECT_COND {
    const char *pServerIP;
    WORD wServerPort;
    const char *pSecondIP;
    WORD wSecondPort;
    const char *pDestIP;
    BYTE byFlag;
    DWORD dwConnectTimeout;
    DWORD dwRecvTimeout;
    DWORD dwSendTimeout;
    DWORD dwCommand;
    int32_t dwServerMode;
    int32_t iSocket;
    LINK_EXT_PARAM ext;
};

// What GetIPAddrInfo reports of the local side.
struct LINK_LOCAL_IP_INFO {
    BYTE byIPv6[16];
    BYTE byMac[6];
    DWORD dwIPv4;  // host order
    BYTE bIPv6;
};

// Builds the 28-byte destination key of the port multiplex list: zero-filled, then the IPv4
// address or the IPv6 address, and the port, both in network order.
void MakePortMultiKey(const YAR_ADDR_T &struAddr, BYTE *pKey /* PORT_MULTI_KEY_LEN */);

class CLinkBase : public CObjectBase {
public:
    explicit CLinkBase(int enumTransType);
    ~CLinkBase() override;

    // What each kind of link may override: the life cycle, sending and receiving, opening and
    // connecting, and two hooks, the probe CloseLink runs first and the preparation StartRecv runs
    // first.
    virtual int Start(const CONNECT_COND *pCond);
    virtual int Stop();
    virtual int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) = 0;
    virtual int RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData);
    virtual int RecvRaw(char *pBuf, int iSize);
    virtual int CloseLink();
    virtual int GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen);
    virtual int StartRecv(LINK_RECV_CALLBACK fnRecv, void *pUser, DWORD dwBufSize);
    virtual int OpenLink() = 0;
    virtual int DoConnect();
    virtual void ProbeBeforeClose() {}
    virtual void PrepareRecv() {}
    // The host and port a proxy client asked for (the SOCKS5 server link); 0 on other links.
    virtual int GetRequestHost(char * /*pHost*/, WORD * /*pPort*/) { return 0; }

    int SetServerIP(const char *pIP, const char *pGroupIP, WORD wPort, WORD wSecondPort);
    int GetServerIPBySocket(const CONNECT_COND *pCond);
    int CreateSocket();
    int ProcessLocalIPAndPort();
    int BindSockToLocalAddr();
    int HeartAsyncConnect();
    void Cleanup();
    // The factory keeps a started link: from here on the link owns the socket it adopted.
    void KeepAdoptedSocket() { m_bSocketOnLoan = 0; }
    int ResetConnect();
    void RestSocketByNoClose();
    int ResumeRecvThread();
    int SetLinkForceClose();
    void SetRecvTimeout(DWORD dwTime);
    void SetSendTimeout(DWORD dwTime);
    int SetServerIPText(const char *pText);
    int SetBuffSize(DWORD dwSndMult, DWORD dwRcvMult);
    int GetIPAddrInfo(LINK_LOCAL_IP_INFO *pInfo);
    int GetMacAddr(BYTE *pMACAddr);
    int GetSocket() const { return m_socket; }
    const char *GetServerIPText() const { return m_szServerIP; }
    WORD GetServerPort() const { return m_wServerPort; }
    const YAR_ADDR_T &GetLocalAddr() const { return m_struLocalAddr; }
    const YAR_ADDR_T &GetDestAddr() const { return m_struDestAddr; }
    DWORD GetCommand() const { return m_dwCommand; }
    DWORD GetRecvTimeout() const { return m_dwRecvTimeout; }
    DWORD GetUserID() const { return m_struExt.dwUserID; }
    // Bytes waiting on the socket (FIONREAD), or -1.
    int GetRecvableSize();

    // The blocking receive loop, usable without a link (the TCP server link): reads into pBuf
    // until it is full, or until the first data with bFirstData, or the time-out. Result 0, 9
    // (error), 10 (time-out) or 73 (peer closed); *pRecvLen the bytes read. With a link the reads
    // go through its RecvRaw (a TLS link reads through its session there, with bTLSMode set).
    static int DoRecvForRealRecv(int iSocket, char *pBuf, int iSize, DWORD *pRecvLen, DWORD dwTimeOut,
                                 const DWORD *pbCloseSocket, CLinkBase *pLink, int bFirstData, int bTLSMode);

protected:
    // The transport of the link for the multiplex list and the pools: 0 TCP, 1 UDP and multicast.
    int PortFlag() const { return m_enumTransType == LINK_TRANS_TCP ? 0 : 1; }
    DWORD EffectiveSendTimeout(DWORD dwTimeOut) const;
    void ReleaseLocalPort(const char *pFailText);
    int CopyAddrText(char *pDst, const char *pSrc);

    int m_bIPv6 = 0;
    int m_iAf = YAR_AF_INET;
    int m_enumTransType;
    int m_socket = -1;
    char m_szServerIP[LINK_ADDR_TEXT_LEN] = {0};
    WORD m_wServerPort = 0;
    char m_szDestIP[LINK_ADDR_TEXT_LEN] = {0};
    WORD m_wLocalPort = 0;
    char m_szGroupIP[LINK_ADDR_TEXT_LEN] = {0};
    WORD m_wGroupPort = 0;
    WORD m_wAsyncLocalPort = 0;
    DWORD m_dwConncetTimeout = 0;
    DWORD m_dwRecvTimeout = 0;
    DWORD m_dwSendTimeout = 0;
    DWORD m_bCloseSocket = 0;
    YAR_ADDR_T m_struLocalAddr = {};
    YAR_ADDR_T m_struDestAddr = {};
    DWORD m_dwCommand = 0;
    CLinkAsyncIO m_LinkAsyncIO;
    DWORD m_bBindSocket = 0;
    DWORD m_bAsyncCmd = 0;
    BYTE m_byFlag = 0;
    LINK_EXT_PARAM m_struExt = {};
    DWORD m_bForceClose = 0;
    DWORD m_bPortMultiRecord = 0;
    // Set while m_wLocalPort came from a pool: only such a port goes back to it.
    DWORD m_bPortFromPool = 0;
    // Set while the start of a server-mode link runs on the caller's socket.
    DWORD m_bSocketOnLoan = 0;
    SOCKET_OPTIONS m_struLoanOptions;
};

class CLinkTCP : public CLinkBase {
public:
    CLinkTCP() : CLinkBase(LINK_TRANS_TCP) {}
    int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) override;
    int OpenLink() override;
    void ProbeBeforeClose() override;
};

class CLinkUDP : public CLinkBase {
public:
    CLinkUDP() : CLinkBase(LINK_TRANS_UDP) {}
    int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) override;
    int OpenLink() override;

protected:
    explicit CLinkUDP(int enumTransType) : CLinkBase(enumTransType) {}
    int SendTo(const char *pIP, WORD wPort, const char *pBuf, DWORD dwLen, const char *pFailText);
};

class CLinkMcast : public CLinkUDP {
public:
    CLinkMcast() : CLinkUDP(LINK_TRANS_MCAST) {}
    int Stop() override;
    int SendData(const char *pBuf, DWORD dwLen, DWORD dwTimeOut) override;
    int OpenLink() override;

private:
    int MakeGroupAddr(YAR_ADDR_T *pGroup);
};

}  // namespace Vorezi
