#include "transport/serverlink/udp/ServerLinkUDP.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/serverlink/udp/DatagramRecv.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {

const DATAGRAM_LINK_TRAITS kUdpTraits = {
    17,
    false,
    SERVER_LINK_PRO_UDP,
    SERVER_LINK_UDP_BUF_LEN,
    "[%d]CServerLinkUDP::CreateSocket, YAR_CreateSocket Failed, Addr[%s:%d], syserror[%d]",
    "[%d]CServerLinkUDP::StartSever, Already Start, m_hndRecvThread[%d]",
    "[%d]CServerLinkUDP::StartSever, YAR_Thread_Create Failed, syserror[%d]",
};

}  // namespace

CServerLinkUDP::CServerLinkUDP() : CDatagramServerLink(kUdpTraits) {}

int CServerLinkUDP::OpenLink() {
    YAR_ADDR_T struAddr;
    if (!CreateSocket() || !GetLocalAddress(&struAddr)) {
        CloseLink();
        return 0;
    }
    if (YAR_Bind(m_socket, &struAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::OpenLink, YAR_Bind socket[%d] Failed, syserror[%d], Addr[%s:%d]",
                        Index(), m_socket, YAR_GetSystemLastError(), m_szLocalIP, m_wLocalPort);
        CloseLink();
        SetError(MORVA_ERR_BIND);
        return 0;
    }
    return 1;
}

int CServerLinkUDP::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkUDP::EnlargeBufferSize, SUCC, m_socket[%d], Addr[%s:%d]", Index(),
                    m_socket, m_szLocalIP, m_wLocalPort);
    return SetBuffSize(m_socket, dwSendMult, dwRecvMult);
}

void CServerLinkUDP::LogRecv(RecvEvent eEvent, int sockRecv, int iValue) {
    switch (eEvent) {
    case RecvEvent::InvalidSocket:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, Invalid m_socket[%d], Addr[%s:%d]", Index(), sockRecv,
                        m_szLocalIP, m_wLocalPort);
        break;
    case RecvEvent::WaitFailed:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkUDP::RecData, YAR_Select Failed, iSelectLen[%d], m_dwRecTimeOut[%d], "
                        "m_socket[%d], Addr[%s:%d], syserror[%d]",
                        Index(), iValue, (int)m_dwRecTimeOut, sockRecv, m_szLocalIP, m_wLocalPort,
                        YAR_GetSystemLastError());
        break;
    case RecvEvent::WaitTimeout:
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CServerLinkUDP::RecData, YAR_Select Timeout, m_dwRecTimeOut[%d], m_socket[%d], "
                        "Addr[%s:%d], syserror[%d]",
                        Index(), (int)m_dwRecTimeOut, sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        break;
    case RecvEvent::RecvFailed:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, YAR_RecvFrom Failed, m_socket[%d], Addr[%s:%d], syserror[%d]",
                        Index(), sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        break;
    case RecvEvent::RecvZero:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, YAR_RecvFrom return 0, m_socket[%d], Addr[%s:%d], syserror[%d]",
                        Index(), sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        break;
    case RecvEvent::TooLong:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, Datagram Too Long, iRecvLen[%d], m_socket[%d], Addr[%s:%d]",
                        Index(), iValue, sockRecv, m_szLocalIP, m_wLocalPort);
        break;
    case RecvEvent::Exit:
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkUDP::RecData, Exit, m_socket[%d], Addr[%s:%d]", Index(), sockRecv,
                        m_szLocalIP, m_wLocalPort);
        break;
    }
}

int CServerLinkUDP::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    if (m_socket == -1 || !pParam || !pParam->pPeerIP) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkUDP::SendData, Invalid, m_socket[%d], Addr[%s:%d]", Index(), m_socket,
                        m_szLocalIP, m_wLocalPort);
        return -1;
    }
    const int iSent = SendDatagramTo(m_socket, *pParam);
    if (iSent < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::SendData, YAR_SendTo Failed, syserror[%d], m_socket[%d], Addr[%s:%d]",
                        Index(), YAR_GetSystemLastError(), m_socket, pParam->pPeerIP, pParam->wPeerPort);
        SetError(MORVA_ERR_SEND);
    }
    return iSent;
}

}  // namespace Vorezi
