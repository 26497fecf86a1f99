#include "module/io/IOSocket.h"

#include "module/io/SocketOptions.h"
#include "utils/SdkLastError.h"
#include "utils/SdkLog.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace ZEVA {

namespace {

constexpr int kRecvBufferSize = 8388608;

}  // namespace

CIOSocket::~CIOSocket() { Fini(); }

void CIOSocket::Fail(uint32_t dwError) {
    SetSdkLastError(dwError);
    Fini();
}

bool CIOSocket::OpenSocket(const char *pWhere) {
    m_hSocket = YAR_CreateSocket(YAR_AF_INET, 2, 17);
    if (m_hSocket < 0) {
        ZEVA_LOG_ERR("[%s], YAR_CreateSocket failed, sys_err=%d", pWhere, YAR_GetSystemLastError());
        Fail(ZEVA_ERR_SOCKET_CREATE);
        return false;
    }
    int granted = SetRecvBufferSize(m_hSocket, kRecvBufferSize);
    if (granted < 0)
        ZEVA_LOG_ERR("[%s], setsockopt SO_RCVBUF failed, sys_err=%d", pWhere, YAR_GetSystemLastError());
    else
        ZEVA_LOG_INF("[%s], SO_RCVBUF granted[%d]", pWhere, granted);
    // A socket that takes its port from the system shares none: with the reuse flag the system
    // may hand it a port a discovery socket holds, and that socket's datagrams with it.
    if (m_wPort != 0 && YAR_SetReuseAddr(m_hSocket, 1) != 0) {
        ZEVA_LOG_ERR("[%s], YAR_SetReuseAddr failed, sys_err=%d", pWhere, YAR_GetSystemLastError());
        Fail(ZEVA_ERR_SOCKET_CREATE);
        return false;
    }
    return true;
}

bool CIOSocket::BindPort(const char *pWhere, const char *pLogIP) {
    YAR_ADDR_T addr;
    YAR_MakeAddrByString(YAR_AF_INET, nullptr, m_wPort, &addr);
    if (YAR_Bind(m_hSocket, &addr) != 0) {
        ZEVA_LOG_ERR("[%s]YAR_Bind failed, sys_err[%d], IP[%s]", pWhere, YAR_GetSystemLastError(), pLogIP);
        Fail(ZEVA_ERR_SOCKET_BIND);
        return false;
    }
    return true;
}

int CIOSocket::Fini() {
    ZEVA_LOG_INF("[%s::Fini] %s[%d]", m_pClass, m_pSocketName, m_hSocket);
    m_bInit.store(0);
    if (m_hSocket >= 0) {
        YAR_ShutDown(m_hSocket, 2);
        YAR_Sleep(5);
        YAR_CloseSocket(m_hSocket, 1);
        m_hSocket = -1;
    }
    return 1;
}

bool CIOSocket::CanRecv(const void *pBuf, uint32_t dwBufLen, const uint32_t *pRecvLen) {
    if (!m_bInit.load()) {
        ZEVA_LOG_ERR("[%s::RecvData] no init", m_pClass);
        return false;
    }
    if (!pBuf || dwBufLen == 0 || !pRecvLen) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("[%s::RecvData] pBuf is Null or dwBufLen <= 0", m_pClass);
        return false;
    }
    return true;
}

void CIOSocket::Wake() {
    if (m_hSocket >= 0)
        YAR_ShutDown(m_hSocket, 2);
}

void CIOSocket::TakeQueued(CDatagramBatch &batch) {
    if (m_bInit.load())
        batch.TakeQueued(m_hSocket);
}

uint32_t CIOSocket::SendBatch(const DATAGRAM *pDatagrams, uint32_t dwCount, const YAR_ADDR_T &to) {
    return m_bInit.load() ? SendDatagrams(m_hSocket, pDatagrams, dwCount, to) : 0;
}

int CIOSocket::SendData(const void *pData, uint32_t dwDataLen, const YAR_ADDR_T *pAddr) {
    if (!m_bInit.load()) {
        ZEVA_LOG_ERR("[%s::SendData] no init", m_pClass);
        return 0;
    }
    if (!pData || dwDataLen == 0) {
        SetSdkLastError(ZEVA_ERR_PARAM);
        ZEVA_LOG_ERR("[%s::SendData] pData is Null or dwDataLen <= 0", m_pClass);
        return 0;
    }
    if (YAR_SendTo(m_hSocket, pData, int(dwDataLen), pAddr) >= 0)
        return 1;
    int sysErr = YAR_GetSystemLastError();
    char ip[128] = {};
    YAR_GetAddrStringEx(pAddr, ip, sizeof ip);
    SetSdkLastError(ZEVA_ERR_SEND);
    NoteSendFailed();
    ZEVA_LOG_ERR("[%s::SendData] %s[%d] pData[0x%x] dwDataLen[%d] ip[%s] send data failed, sys_err[%d]", m_pClass,
                 m_pSocketName, m_hSocket, ZEVA_PTR_ARG(pData), dwDataLen, ip, sysErr);
    if (sysErr == YAR_SYSERR_NETWORK_ACCESS_DENIED) {
        SetSdkLastError(ZEVA_ERR_NO_PERMISSION);
        ZEVA_LOG_ERR("[%s::SendData] No Permission", m_pClass);
    }
    return 0;
}

}  // namespace ZEVA
