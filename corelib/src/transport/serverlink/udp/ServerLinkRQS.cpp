#include "transport/serverlink/udp/ServerLinkRQS.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/link/SocketWait.h"
#include "transport/serverlink/udp/DatagramRecv.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {

const DATAGRAM_LINK_TRAITS kRqsTraits = {
    0,
    true,
    SERVER_LINK_KIND_RQS,
    SERVER_LINK_RQS_BUF_LEN,
    "[%d]CServerLinkRQS::CreateSocket, Addr[%s:%d], syserror[%d]",
    "[%d]CServerLinkRQS::StartSever, m_hRecvThread[%d] != YAR_INVALID_THREAD",
    "[%d]CServerLinkRQS::StartSever, YAR_Thread_Create Failed, syserror[%d]",
};

}  // namespace

CServerLinkRQS::CServerLinkRQS() : CDatagramServerLink(kRqsTraits) {}

int CServerLinkRQS::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::Stop, m_socket[%d]", Index(), m_socket);
    return CDatagramServerLink::Stop();
}

int CServerLinkRQS::OpenLink() {
    YAR_ADDR_T struAddr;
    if (!CreateSocket()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::OpenLink, CreateSocket Failed", Index());
        CloseLink();
        return 0;
    }
    if (!GetLocalAddress(&struAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::OpenLink, GetLocalAddress Failed", Index());
        CloseLink();
        return 0;
    }
    if (YAR_Bind(m_socket, &struAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::OpenLink, YAR_Bind Failed, syserror[%d]", Index(),
                        YAR_GetSystemLastError());
        CloseLink();
        SetError(MORVA_ERR_BIND);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::OpenLink, SUCC, m_socket[%d]", Index(), m_socket);
    return 1;
}

int CServerLinkRQS::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    return SetBuffSize(m_socket, dwSendMult, dwRecvMult);
}

int CServerLinkRQS::WaitSocket(int sockRecv, const char *pFailText) {
    const int iSelectLen = WaitReadable(sockRecv, m_dwRecTimeOut);
    if (iSelectLen < 0 && !Stopping())
        LogModule_Write(LOG_LEVEL_ERR, pFailText, Index(), sockRecv, YAR_GetSystemLastError(), iSelectLen);
    return iSelectLen;
}

void CServerLinkRQS::LogRecv(RecvEvent eEvent, int sockRecv, int iValue) {
    switch (eEvent) {
    case RecvEvent::InvalidSocket:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, Invalid m_socket[%d]", Index(), sockRecv);
        break;
    case RecvEvent::WaitFailed:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, YAR_Select Failed, m_socket[%d], syserror[%d], iSelectLen[%d]",
                        Index(), sockRecv, YAR_GetSystemLastError(), iValue);
        break;
    case RecvEvent::WaitTimeout:
        break;
    case RecvEvent::RecvFailed:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, YAR_RecvFrom Failed, m_socket[%d], syserror[%d], iRecvlen[%d]",
                        Index(), sockRecv, YAR_GetSystemLastError(), iValue);
        break;
    case RecvEvent::RecvZero:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, YAR_RecvFrom Failed, m_socket[%d], syserror[%d]", Index(),
                        sockRecv, YAR_GetSystemLastError());
        break;
    case RecvEvent::TooLong:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, Datagram Too Long, iRecvLen[%d], m_socket[%d]", Index(),
                        iValue, sockRecv);
        break;
    case RecvEvent::Exit:
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::RecvData, Exit", Index());
        break;
    }
}

int CServerLinkRQS::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::SendData, Invalid m_socket[%d]", Index(), m_socket);
        return -1;
    }
    if (!pParam || !pParam->pPeerIP) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    const int iRet = SendDatagramTo(m_socket, *pParam);
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkRQS::SendData, YAR_SendTo Failed, iRet[%d], syserror[%d], m_socket[%d], Addr[%s:%d], dwSendLen[%d]",
                        Index(), iRet, YAR_GetSystemLastError(), m_socket, pParam->pPeerIP, pParam->wPeerPort,
                        (int)pParam->dwDataLen);
        SetError(MORVA_ERR_SEND);
    }
    return iRet;
}

}  // namespace Vorezi
