#include "transport/serverlink/udp/DatagramServerLink.h"

#include <cstring>
#include <vector>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "internal/MorvaInternal.h"
#include "transport/link/SocketWait.h"
#include "transport/serverlink/udp/DatagramRecv.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"

namespace Vorezi {

namespace {

// Datagrams taken per wake before the stop flag is looked at again, so a flood cannot hold off Stop.
constexpr int kDrainBatch = 64;

}  // namespace

CDatagramServerLink::~CDatagramServerLink() {
    StopRecvThread();
    CloseLink();
}

// The thread is stopped and joined before the socket is closed.
int CDatagramServerLink::Stop() {
    StopRecvThread();
    return CServerLinkBase::Stop();
}

void CDatagramServerLink::StopRecvThread() {
    m_bStop.store(1);
    if (m_hRecvThread == YAR_INVALID_THREAD)
        return;
    if (m_socket != -1)
        YAR_ShutDown(m_socket, 2);  // wakes the wait
    YAR_Thread_Wait(m_hRecvThread);
    m_hRecvThread = YAR_INVALID_THREAD;
}

int CDatagramServerLink::CreateSocket() {
    m_socket = YAR_CreateSocket(m_struTraits.bIPv4Only ? YAR_AF_INET : m_iAf, 2, m_struTraits.iProtocol);
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, m_struTraits.pCreateFailed, Index(), m_szLocalIP, m_wLocalPort,
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_SOCKET);
        return 0;
    }
    return 1;
}

// A failed start leaves the link stopped, as it was.
int CDatagramServerLink::StartSever() {
    const bool bRunning = m_hRecvThread != YAR_INVALID_THREAD;
    if (!bRunning)
        m_bStop.store(0);
    if (StartOwnThread(&m_hRecvThread, RecvThread, m_struTraits.pAlreadyStarted, m_struTraits.pThreadFailed))
        return 1;
    if (!bRunning)
        m_bStop.store(1);
    return 0;
}

uint32_t CDatagramServerLink::RecvThread(void *pParam) {
    static_cast<CDatagramServerLink *>(pParam)->RecvData();
    return 0;
}

void CDatagramServerLink::RecvData() {
    // The socket stays open until this thread has been joined.
    const int sockRecv = m_socket;
    if (sockRecv == -1) {
        LogRecv(RecvEvent::InvalidSocket, sockRecv, 0);
        Utils_Assert();
        return;
    }
    YAR_SetNonBlock(sockRecv, 1);
    std::vector<char> vecBuf(m_struTraits.iBufLen);
    while (!Stopping()) {
        const int iSelectLen = WaitReadable(sockRecv, m_dwRecTimeOut);
        if (Stopping())
            break;
        if (iSelectLen > 0) {
            for (int i = 0; i < kDrainBatch && !Stopping() && ReceiveOne(sockRecv, vecBuf.data()); i++) {
            }
        } else {
            LogRecv(iSelectLen < 0 ? RecvEvent::WaitFailed : RecvEvent::WaitTimeout, sockRecv, iSelectLen);
        }
    }
    LogRecv(RecvEvent::Exit, sockRecv, 0);
}

bool CDatagramServerLink::ReceiveOne(int sockRecv, char *pBuf) {
    YAR_ADDR_T struFrom;
    std::memset(&struFrom, 0, sizeof(struFrom));
    const int iRecvLen = RecvDatagram(sockRecv, pBuf, m_struTraits.iBufLen, &struFrom);
    if (iRecvLen <= 0) {
        // A shut-down socket during Stop is no fault.
        if (!Stopping() && !(iRecvLen < 0 && YAR_GetSystemLastError() == YAR_SYSERR_WSAEWOULDBLOCK))
            LogRecv(iRecvLen < 0 ? RecvEvent::RecvFailed : RecvEvent::RecvZero, sockRecv, iRecvLen);
        return false;
    }
    // Delivered whole or not at all.
    if (iRecvLen > m_struTraits.iBufLen) {
        LogRecv(RecvEvent::TooLong, sockRecv, iRecvLen);
        return true;
    }
    SERVER_LINK_DATA struData;
    InitRecord(&struData, SERVER_LINK_MSG_NEW, m_struTraits.dwRecordKind, -1, -1);
    SetDatagramRecord(&struData, pBuf, iRecvLen, struFrom);
    PushDataToCallBack(&struData);
    return true;
}

}  // namespace Vorezi
