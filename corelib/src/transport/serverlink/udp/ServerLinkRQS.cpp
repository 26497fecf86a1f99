#include "transport/serverlink/udp/ServerLinkRQS.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/SocketWait.h"
#include "transport/serverlink/udp/DatagramRecv.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {

void SetError(int iCode) { GetCoreGlobalCtrl()->SetLastError(iCode); }

constexpr int kWouldBlock = 10035;
// Datagrams taken per wake before the stop flag is looked at again.
constexpr int kDrainBatch = 64;

}  // namespace

CServerLinkRQS::~CServerLinkRQS() {
    StopRecvThread();
    CloseLink();
}

int CServerLinkRQS::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::Stop, m_socket[%d]", Index(), m_socket);
    StopRecvThread();
    return CServerLinkBase::Stop();
}

void CServerLinkRQS::StopRecvThread() {
    m_bStop.store(1);
    if (m_hRecvThread == YAR_INVALID_THREAD)
        return;
    if (m_socket != -1)
        YAR_ShutDown(m_socket, 2);
    YAR_Thread_Wait(m_hRecvThread);
    m_hRecvThread = YAR_INVALID_THREAD;
}

int CServerLinkRQS::CreateSocket() {
    m_socket = YAR_CreateSocket(YAR_AF_INET, 2, 0);
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::CreateSocket, Addr[%s:%d], syserror[%d]", Index(), m_szLocalIP,
                        m_wLocalPort, YAR_GetSystemLastError());
        SetError(SERVER_LINK_ERR_SOCKET);
        return 0;
    }
    return 1;
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
        SetError(SERVER_LINK_ERR_BIND);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::OpenLink, SUCC, m_socket[%d]", Index(), m_socket);
    return 1;
}

int CServerLinkRQS::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    return SetBuffSize(m_socket, dwSendMult, dwRecvMult);
}

int CServerLinkRQS::StartSever() {
    const bool bRunning = m_hRecvThread != YAR_INVALID_THREAD;
    if (!bRunning)
        m_bStop.store(0);
    if (StartOwnThread(&m_hRecvThread, RecvThread, "[%d]CServerLinkRQS::StartSever, m_hRecvThread[%d] != YAR_INVALID_THREAD",
                       "[%d]CServerLinkRQS::StartSever, YAR_Thread_Create Failed, syserror[%d]"))
        return 1;
    if (!bRunning)
        m_bStop.store(1);
    return 0;
}

uint32_t CServerLinkRQS::RecvThread(void *pParam) {
    static_cast<CServerLinkRQS *>(pParam)->RecvData();
    return 0;
}

int CServerLinkRQS::WaitSocket(int sockRecv, const char *pFailText) {
    const int iSelectLen = WaitReadable(sockRecv, m_dwRecTimeOut);
    if (iSelectLen < 0 && !Stopping())
        LogModule_Write(LOG_LEVEL_ERR, pFailText, Index(), sockRecv, YAR_GetSystemLastError(), iSelectLen);
    return iSelectLen;
}

void CServerLinkRQS::RecvData() {
    // The socket stays open until this thread has been joined.
    const int sockRecv = m_socket;
    if (sockRecv == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, Invalid m_socket[%d]", Index(), sockRecv);
        Utils_Assert();
        return;
    }
    YAR_SetNonBlock(sockRecv, 1);
    char szBuf[SERVER_LINK_RQS_BUF_LEN];
    while (!Stopping()) {
        if (WaitSocket(sockRecv, "[%d]CServerLinkRQS::RecvData, YAR_Select Failed, m_socket[%d], syserror[%d], iSelectLen[%d]") <= 0)
            continue;
        for (int i = 0; i < kDrainBatch && !Stopping() && ReceiveOne(sockRecv, szBuf); i++) {
        }
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::RecvData, Exit", Index());
}

bool CServerLinkRQS::ReceiveOne(int sockRecv, char *pBuf) {
    YAR_ADDR_T struFrom;
    std::memset(&struFrom, 0, sizeof(struFrom));
    const int iRecvLen = RecvDatagram(sockRecv, pBuf, SERVER_LINK_RQS_BUF_LEN, &struFrom);
    if (iRecvLen < 0) {
        if (YAR_GetSystemLastError() != kWouldBlock && !Stopping())
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, YAR_RecvFrom Failed, m_socket[%d], syserror[%d], iRecvlen[%d]",
                            Index(), sockRecv, YAR_GetSystemLastError(), iRecvLen);
        return false;
    }
    if (iRecvLen == 0) {
        if (!Stopping())
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, YAR_RecvFrom Failed, m_socket[%d], syserror[%d]", Index(),
                            sockRecv, YAR_GetSystemLastError());
        return false;
    }
    // Delivered whole or not at all.
    if (iRecvLen > SERVER_LINK_RQS_BUF_LEN) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkRQS::RecvData, Datagram Too Long, iRecvLen[%d], m_socket[%d]", Index(),
                        iRecvLen, sockRecv);
        return true;
    }
    SERVER_LINK_DATA struData;
    InitRecord(&struData, SERVER_LINK_MSG_NEW, SERVER_LINK_KIND_RQS, -1, -1);
    SetDatagramRecord(&struData, pBuf, iRecvLen, struFrom);
    PushDataToCallBack(&struData);
    return true;
}

int CServerLinkRQS::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkRQS::SendData, Invalid m_socket[%d]", Index(), m_socket);
        return -1;
    }
    if (!pParam || !pParam->pPeerIP) {
        SetError(SERVER_LINK_ERR_PARAM);
        return -1;
    }
    const int iRet = SendDatagramTo(m_socket, *pParam);
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkRQS::SendData, YAR_SendTo Failed, iRet[%d], syserror[%d], m_socket[%d], Addr[%s:%d], dwSendLen[%d]",
                        Index(), iRet, YAR_GetSystemLastError(), m_socket, pParam->pPeerIP, pParam->wPeerPort,
                        (int)pParam->dwDataLen);
        SetError(SERVER_LINK_ERR_SEND);
    }
    return iRet;
}

}  // namespace Vorezi
