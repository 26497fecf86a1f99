#include "transport/vrudp/HRSocket.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/VRUDPSysSocket.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {
constexpr int kDefaultBuffSize = 0x8000;
constexpr int kWouldBlockSleepMs = 5;
}

bool VRUDP_MakeSockAddr(const VRUDP_SOCK_ADDR &stAddr, YAR_ADDR_T *pOut) {
    int iAf = YAR_Strchr(stAddr.szAddr, ':') ? YAR_AF_INET6 : YAR_AF_INET;
    return YAR_MakeAddrByString(iAf, stAddr.szAddr, stAddr.wPort, pOut) == 0;
}

int CHRSocket::CreateSocket(int iAf) {
    m_Socket = YAR_CreateSocket(iAf, 2, 17);
    if (m_Socket < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRSocket::CreateSocket, YAR_CreateSocket Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
        return -1;
    }
    if (iAf == YAR_AF_INET6)
        vrudp::SysSetV6Only(m_Socket);
    return 0;
}

int CHRSocket::Bind(const YAR_ADDR_T &stAddr) {
    if (YAR_Bind(m_Socket, &stAddr) != 0)
        return -1;
    m_LocalAddr = stAddr;
    YAR_GetAddrBySockFd(m_Socket, &m_LocalAddr, nullptr);
    m_wLocalPort = YAR_GetAddrPort(&m_LocalAddr);
    return 0;
}

void CHRSocket::CloseSocket() {
    if (m_Socket >= 0) {
        YAR_CloseSocket(m_Socket, 1);
        m_Socket = -1;
    }
}

int CHRSocket::ShutDown(int iHow) {
    int iRet = vrudp::SysShutDownDatagram(m_Socket, iHow);
    if (iRet != 0)
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRSocket::ShutDown, Failed, iHow[%d], m_Socket[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), iHow, m_Socket, YAR_GetSystemLastError());
    return iRet;
}

int CHRSocket::SetNoBlock(int) {
    return YAR_SetNonBlock(m_Socket, 1);
}

int CHRSocket::SetBuffSize(int iSndSize, int iRcvSize) {
    if (iSndSize == 0 && iRcvSize == 0)
        return 1;
    if (YAR_SetBuffSize(m_Socket, iSndSize ? iSndSize : kDefaultBuffSize, iRcvSize ? iRcvSize : kDefaultBuffSize) !=
        0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRSocket::SetBuffSize, Failed, iSnd[%d], iRcv[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), iSndSize, iRcvSize, YAR_GetSystemLastError());
        return 0;
    }
    // The kernel doubles what is asked and caps it: log what was granted.
    int iSnd = 0, iRcv = 0;
    GetBuffSize(&iSnd, &iRcv);
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]CHRSocket::SetBuffSize, iSnd[%d], iRcv[%d], Granted[%d, %d]",
                    MORVA_PTR_ARG(this), iSndSize, iRcvSize, iSnd, iRcv);
    return 1;
}

int CHRSocket::GetBuffSize(int *piSndSize, int *piRcvSize) {
    return YAR_GetBuffSize(m_Socket, piSndSize, piRcvSize);
}

int CHRSocket::SetSockOpt(int bReuse) {
    return YAR_SetReuseAddr(m_Socket, bReuse);
}

void CHRSocket::SetRemoteSock(const YAR_ADDR_T &stAddr) {
    m_RemoteAddr = stAddr;
    m_wRemotePort = YAR_GetAddrPort(&stAddr);
}

int CHRSocket::SendData(const uint8_t *pData, int iLen, const YAR_ADDR_T &stAddr) {
    if (!pData || iLen < 0)
        return -1;
    int iSize = YAR_SendTo(m_Socket, pData, iLen, &stAddr);
    if (iSize != iLen) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CHRSocket::SendData, YAR_SendTo Failed, iSize[%d] != iDataLength[%d], m_Socket[%d], "
                        "syserror[%d], Addr[%s:%d]",
                        MORVA_PTR_ARG(this), iSize, iLen, m_Socket, YAR_GetSystemLastError(),
                        YAR_GetAddrString(&stAddr), YAR_GetAddrPort(&stAddr));
        SetError(MORVA_ERR_SEND);
    }
    return iSize;
}

int CHRSocket::SendToRemote(const uint8_t *pData, int iLen) {
    return SendData(pData, iLen, m_RemoteAddr);
}

int CHRSocket::SocketPoll(int iTimeOutMs) {
    return vrudp::SysWaitReadable(m_Socket, iTimeOutMs);
}

int CHRSocket::RecvData(uint8_t *pBuf, int iSize, YAR_ADDR_T *pAddr, int iTimeOutMs) {
    int iReady = SocketPoll(iTimeOutMs);
    if (iReady <= 0)
        return iReady;
    int iLen = vrudp::SysNextDatagramLength(m_Socket);
    if (iLen > iSize) {
        // Linux would cut it silently; a cut packet must never be processed.
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRSocket::RecvData, Datagram Too Long, iLen[%d] > iSize[%d]",
                        MORVA_PTR_ARG(this), iLen, iSize);
        vrudp::SysDiscardDatagram(m_Socket);
        return 0;
    }
    int iRet = iLen < 0 ? -1 : YAR_RecvFrom(m_Socket, pBuf, iSize, pAddr);
    if (iRet >= 0) {
        if (iRet == 0)
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CHRSocket::RecvData, Zero Length Datagram", MORVA_PTR_ARG(this));
        return iRet;
    }
    int iErr = YAR_GetSystemLastError();
    if (iErr == YAR_SYSERR_WSAEWOULDBLOCK) {
        YAR_Sleep(kWouldBlockSleepMs);
        return 0;
    }
    if (iErr == YAR_SYSERR_WSAECONNRESET)
        return 0;
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CHRSocket::RecvData, YAR_RecvFrom Failed, m_Socket[%d], syserror[%d]",
                    MORVA_PTR_ARG(this), m_Socket, iErr);
    return iRet;
}

}  // namespace Vorezi
