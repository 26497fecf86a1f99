// The UDP socket of a reliable-UDP endpoint. Always non-blocking; waits use poll.
#pragma once

#include <cstdint>

#include "yar/yar_addr.h"

namespace Vorezi {

class CHRSocket {
public:
    CHRSocket() = default;
    ~CHRSocket() = default;
    CHRSocket(const CHRSocket &) = delete;
    CHRSocket &operator=(const CHRSocket &) = delete;

    int CreateSocket(int iAf);
    int Bind(const YAR_ADDR_T &stAddr);
    void CloseSocket();
    int ShutDown(int iHow);
    int SetNoBlock(int bNoBlock);
    // Both 0 does nothing; a 0 beside a set size means 0x8000. 1 or 0.
    int SetBuffSize(int iSndSize, int iRcvSize);
    int GetBuffSize(int *piSndSize, int *piRcvSize);
    int SetSockOpt(int bReuse);
    void SetRemoteSock(const YAR_ADDR_T &stAddr);
    // One datagram: the count sent, or -1; a short send sets core error 8.
    int SendData(const uint8_t *pData, int iLen, const YAR_ADDR_T &stAddr);
    int SendToRemote(const uint8_t *pData, int iLen);
    int SocketPoll(int iTimeOutMs);
    // One datagram of at most iSize bytes: its size; 0 when nothing usable arrived (would-block,
    // a reset report, an over-long datagram, which is dropped whole); <0 on error.
    int RecvData(uint8_t *pBuf, int iSize, YAR_ADDR_T *pAddr, int iTimeOutMs);

    int GetSocket() const { return m_Socket; }
    void SetSocket(int iSocket) { m_Socket = iSocket; }
    const YAR_ADDR_T &GetRemoteAddr() const { return m_RemoteAddr; }
    uint16_t GetLocalPort() const { return m_wLocalPort; }

private:
    uint16_t m_wLocalPort = 0;
    uint16_t m_wRemotePort = 0;
    int m_Socket = -1;
    YAR_ADDR_T m_LocalAddr = {};
    YAR_ADDR_T m_RemoteAddr = {};
};

}  // namespace Vorezi
