#include "transport/serverlink/udp/ServerLinkUDP.h"

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
constexpr int kDrainBatch = 64;

}  // namespace

CServerLinkUDP::~CServerLinkUDP() {
    StopRecvThread();
    CloseLink();
}

// The thread is stopped and joined before the socket is closed: Linux hands a closed number to
// the next socket at once, which the thread would then read.
int CServerLinkUDP::Stop() {
    StopRecvThread();
    return CServerLinkBase::Stop();
}

void CServerLinkUDP::StopRecvThread() {
    if (m_hndRecvThread == YAR_INVALID_THREAD)
        return;
    m_bStop.store(1);
    if (m_socket != -1)
        YAR_ShutDown(m_socket, 2);  // wakes the wait
    YAR_Thread_Wait(m_hndRecvThread);
    m_hndRecvThread = YAR_INVALID_THREAD;
}

int CServerLinkUDP::CreateSocket() {
    m_socket = YAR_CreateSocket(m_iAf, 2, 17);
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::CreateSocket, YAR_CreateSocket Failed, Addr[%s:%d], syserror[%d]",
                        Index(), m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        SetError(SERVER_LINK_ERR_SOCKET);
        return 0;
    }
    return 1;
}

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
        SetError(SERVER_LINK_ERR_BIND);
        return 0;
    }
    return 1;
}

int CServerLinkUDP::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkUDP::EnlargeBufferSize, SUCC, m_socket[%d], Addr[%s:%d]", Index(),
                    m_socket, m_szLocalIP, m_wLocalPort);
    return SetBuffSize(m_socket, dwSendMult, dwRecvMult);
}

int CServerLinkUDP::StartSever() {
    m_bStop.store(0);
    return StartOwnThread(&m_hndRecvThread, RecvThread, "[%d]CServerLinkUDP::StartSever, Already Start, m_hndRecvThread[%d]",
                          "[%d]CServerLinkUDP::StartSever, YAR_Thread_Create Failed, syserror[%d]");
}

uint32_t CServerLinkUDP::RecvThread(void *pParam) {
    static_cast<CServerLinkUDP *>(pParam)->RecData();
    return 0;
}

void CServerLinkUDP::RecData() {
    // The socket stays open until this thread has been joined.
    const int sockRecv = m_socket;
    if (sockRecv == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, Invalid m_socket[%d], Addr[%s:%d]", Index(), sockRecv,
                        m_szLocalIP, m_wLocalPort);
        Utils_Assert();
        return;
    }
    YAR_SetNonBlock(sockRecv, 1);
    char szBuf[SERVER_LINK_UDP_BUF_LEN];
    while (!m_bStop.load()) {
        const int iSelectLen = WaitReadable(sockRecv, m_dwRecTimeOut);
        if (m_bStop.load())
            break;
        if (iSelectLen > 0) {
            // Drain what waits, a bounded batch per wake so a flood still sees the stop flag.
            for (int i = 0; i < kDrainBatch && ReceiveOne(sockRecv, szBuf) && !m_bStop.load(); i++) {
            }
        } else if (iSelectLen < 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CServerLinkUDP::RecData, YAR_Select Failed, iSelectLen[%d], m_dwRecTimeOut[%d], "
                            "m_socket[%d], Addr[%s:%d], syserror[%d]",
                            Index(), iSelectLen, (int)m_dwRecTimeOut, sockRecv, m_szLocalIP, m_wLocalPort,
                            YAR_GetSystemLastError());
        } else {
            LogModule_Write(LOG_LEVEL_DBG,
                            "[%d]CServerLinkUDP::RecData, YAR_Select Timeout, m_dwRecTimeOut[%d], m_socket[%d], "
                            "Addr[%s:%d], syserror[%d]",
                            Index(), (int)m_dwRecTimeOut, sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        }
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkUDP::RecData, Exit, m_socket[%d], Addr[%s:%d]", Index(), sockRecv,
                    m_szLocalIP, m_wLocalPort);
}

bool CServerLinkUDP::ReceiveOne(int sockRecv, char *pBuf) {
    YAR_ADDR_T struFrom;
    std::memset(&struFrom, 0, sizeof(struFrom));
    const int iRecvLen = RecvDatagram(sockRecv, pBuf, SERVER_LINK_UDP_BUF_LEN, &struFrom);
    if (iRecvLen < 0) {
        if (YAR_GetSystemLastError() != kWouldBlock)
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, YAR_RecvFrom Failed, m_socket[%d], Addr[%s:%d], syserror[%d]",
                            Index(), sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        return false;
    }
    if (iRecvLen == 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, YAR_RecvFrom return 0, m_socket[%d], Addr[%s:%d], syserror[%d]",
                        Index(), sockRecv, m_szLocalIP, m_wLocalPort, YAR_GetSystemLastError());
        return false;
    }
    // Delivered whole or not at all.
    if (iRecvLen > SERVER_LINK_UDP_BUF_LEN) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkUDP::RecData, Datagram Too Long, iRecvLen[%d], m_socket[%d], Addr[%s:%d]",
                        Index(), iRecvLen, sockRecv, m_szLocalIP, m_wLocalPort);
        return true;
    }
    SERVER_LINK_DATA struData;
    InitRecord(&struData, SERVER_LINK_MSG_NEW, SERVER_LINK_PRO_UDP, -1, -1);
    SetDatagramRecord(&struData, pBuf, iRecvLen, struFrom);
    PushDataToCallBack(&struData);
    return true;
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
        SetError(SERVER_LINK_ERR_SEND);
    }
    return iSent;
}

}  // namespace Vorezi
