#include "transport/link/LinkBase.h"

#include <arpa/inet.h>
#include <sys/ioctl.h>

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/link/SocketEnd.h"
#include "transport/link/SocketWait.h"
#include "transport/port/PortMultiplexList.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {
constexpr DWORD kLinkParamLocalPort = LINK_PARAM_LOCAL_PORT;
constexpr int kMaxIPv4TextLen = 16;
}  // namespace

void MakePortMultiKey(const YAR_ADDR_T &struAddr, BYTE *pKey) {
    std::memset(pKey, 0, PORT_MULTI_KEY_LEN);
    if (struAddr.family == YAR_AF_INET6)
        std::memcpy(pKey + 4, struAddr.addr6, 16);
    else
        std::memcpy(pKey, &struAddr.addr4, 4);
    std::memcpy(pKey + 24, &struAddr.port, 2);
}

CLinkBase::CLinkBase(int enumTransType) : m_enumTransType(enumTransType) {}

CLinkBase::~CLinkBase() {
    Cleanup();
}

// ---- start and addresses ----

int CLinkBase::Start(const CONNECT_COND *pCond) {
    m_dwCommand = pCond->dwCommand;
    m_dwConncetTimeout = pCond->dwConnectTimeout;
    m_dwRecvTimeout = pCond->dwRecvTimeout;
    m_dwSendTimeout = pCond->dwSendTimeout;
    m_byFlag = pCond->byFlag;
    m_struExt = pCond->ext;
    m_struExt.szSNI[sizeof(m_struExt.szSNI) - 1] = '\0';
    m_bAsyncCmd = m_struExt.byAsyncCmd == 1 ? 1 : 0;
    m_LinkAsyncIO.SetUserID((int)m_struExt.dwUserID);
    if (pCond->dwServerMode == 1 || pCond->dwServerMode == 2) {
        m_socket = pCond->iSocket;
        // On loan until the factory keeps the link: a failed start hands it back as it came.
        m_struLoanOptions = SocketSaveOptions(m_socket);
        m_bSocketOnLoan = 1;
        if (!GetServerIPBySocket(pCond)) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::Start, GetServerIPBySocket Failed, dwServerMode[%d]",
                            MORVA_PTR_ARG(this), pCond->dwServerMode);
            return 0;
        }
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Start, SUCC, dwServerMode[%d], m_LinkAsyncIO[0x%X]",
                        MORVA_PTR_ARG(this), pCond->dwServerMode, MORVA_PTR_ARG(&m_LinkAsyncIO));
        return 1;
    }
    if (!SetServerIP(pCond->pServerIP, pCond->pSecondIP, pCond->wServerPort, pCond->wSecondPort)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::Start, SetServerIP Failed", MORVA_PTR_ARG(this));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (pCond->pDestIP && !CopyAddrText(m_szDestIP, pCond->pDestIP)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    const int iResult = OpenLink();
    if (!iResult) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::Start, OpenLink Failed", MORVA_PTR_ARG(this));
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Start, SUCC, dwServerMode[%d], m_LinkAsyncIO[0x%X]",
                    MORVA_PTR_ARG(this), pCond->dwServerMode, MORVA_PTR_ARG(&m_LinkAsyncIO));
    return iResult;
}

// Address texts live in 48-byte fields: a longer text is refused, never cut.
int CLinkBase::CopyAddrText(char *pDst, const char *pSrc) {
    const size_t uLen = strnlen(pSrc, LINK_ADDR_TEXT_LEN);
    if (uLen >= (size_t)LINK_ADDR_TEXT_LEN)
        return 0;
    std::memcpy(pDst, pSrc, uLen + 1);
    return 1;
}

int CLinkBase::SetServerIP(const char *pIP, const char *pGroupIP, WORD wPort, WORD wSecondPort) {
    if (!pIP) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::SetServerIP, pIP == NULL", MORVA_PTR_ARG(this));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    const bool bColon = std::strchr(pIP, ':') != nullptr;
    if ((!bColon && strnlen(pIP, kMaxIPv4TextLen) >= (size_t)kMaxIPv4TextLen) ||
        strnlen(pIP, LINK_ADDR_TEXT_LEN) >= (size_t)LINK_ADDR_TEXT_LEN ||
        (pGroupIP && strnlen(pGroupIP, LINK_ADDR_TEXT_LEN) >= (size_t)LINK_ADDR_TEXT_LEN)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    m_bIPv6 = bColon ? 1 : 0;
    m_iAf = bColon ? YAR_AF_INET6 : YAR_AF_INET;
    CopyAddrText(m_szServerIP, pIP);
    if (pGroupIP)
        CopyAddrText(m_szGroupIP, pGroupIP);
    m_wServerPort = wPort;
    m_wGroupPort = wSecondPort;
    return 1;
}

int CLinkBase::SetServerIPText(const char *pText) {
    if (!pText || !CopyAddrText(m_szServerIP, pText)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return 1;
}

int CLinkBase::GetServerIPBySocket(const CONNECT_COND *pCond) {
    int iResult = 0;
    if (pCond->dwServerMode == 2) {
        if (!pCond->pServerIP) {
            LogModule_Write(LOG_LEVEL_ERR, "CLinkBase::GetServerIPBySocket pConnectCond->pServerIP == NULL");
        } else if (SetServerIP(pCond->pServerIP, nullptr, pCond->wServerPort, 0)) {
            iResult = 1;
        }
    } else {
        YAR_ADDR_T struLocal = {}, struPeer = {};
        if (YAR_GetAddrBySockFd(m_socket, &struLocal, &struPeer) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "CLinkBase::GetServerIPBySocket YAR_GetAddrBySockFd failed fd[%d] err[%d]",
                            m_socket, YAR_GetSystemLastError());
        } else {
            Utils_AddrToIPPort(struPeer, m_szServerIP, LINK_ADDR_TEXT_LEN, &m_wServerPort);
            Utils_AddrToIPPort(struLocal, m_szDestIP, LINK_ADDR_TEXT_LEN, &m_wLocalPort);
            m_iAf = YAR_GetAddrType(&struPeer);
            m_bIPv6 = m_iAf == YAR_AF_INET6;
            m_struLocalAddr = struLocal;
            m_struDestAddr = struPeer;
            m_wAsyncLocalPort = m_wLocalPort;
            iResult = 1;
        }
    }
    if (iResult && m_enumTransType == LINK_TRANS_TCP && Ctrl()->GetNagleMode() != kNagleModeOn)
        YAR_SetNoDelay(m_socket, 1);
    return iResult;
}

// ---- socket, local port, connect ----

int CLinkBase::CreateSocket() {
    const bool bTcp = m_enumTransType == LINK_TRANS_TCP;
    m_socket = YAR_CreateSocket(m_iAf, bTcp ? 1 : 2, bTcp ? 6 : 17);
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::CreateSocket, CreateSocket Failed, Addr[%s:%d], m_enumTransType[%d], "
                        "syserror[%d]",
                        MORVA_PTR_ARG(this), m_szServerIP, m_wServerPort, m_enumTransType, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SOCKET);
        return 0;
    }
    m_bCloseSocket = 0;
    YAR_SetReuseAddr(m_socket, 1);
    if (m_bAsyncCmd) {
        if (!m_LinkAsyncIO.StartCmd(m_socket, 1)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLinkBase::CreateSocket, asychronous m_LinkAsyncIO.Start Failed, Addr[%s:%d], "
                            "m_socket[%d], m_enumTransType[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), m_szServerIP, m_wServerPort, m_socket, m_enumTransType,
                            YAR_GetSystemLastError());
            return 0;
        }
        m_bBindSocket = 1;
    }
    if (bTcp && Ctrl()->GetNagleMode() != kNagleModeOn)
        YAR_SetNoDelay(m_socket, 1);
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::CreateSocket, SUCC, m_socket[%d], m_enumTransType[%d]",
                    MORVA_PTR_ARG(this), m_socket, m_enumTransType);
    return 1;
}

// The library's local address of the link's family with the given port; the wildcard address
// when the library knows none.
static void MakeLibraryLocalAddr(int iAf, WORD wPort, YAR_ADDR_T *pAddr) {
    if (iAf == YAR_AF_INET6) {
        BYTE byAddr[16] = {0};
        Ctrl()->GetLocalIPv6Addr(byAddr);
        YAR_MakeAddr6(byAddr, wPort, pAddr);
    } else {
        char szIP[16] = {0};
        if (Ctrl()->GetLocalIPv4Str(szIP) != 0)
            std::strcpy(szIP, "0.0.0.0");
        Utils_MakeAddr(YAR_AF_INET, szIP, wPort, pAddr);
    }
}

int CLinkBase::ProcessLocalIPAndPort() {
    if (m_iAf != YAR_AF_INET && m_iAf != YAR_AF_INET6) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::ProcessLocalIPAndPort, Invalid m_iAf[%d]", MORVA_PTR_ARG(this),
                        m_iAf);
        return 0;
    }
    MakeLibraryLocalAddr(m_iAf, m_wLocalPort, &m_struLocalAddr);
    const bool bMulti = Ctrl()->IsPortMultiList() != 0;
    BYTE byKey[PORT_MULTI_KEY_LEN];
    if (bMulti) {
        if (Utils_MakeAddr(m_iAf, m_szServerIP, m_wServerPort, &m_struDestAddr) != 0) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLinkBase::ProcessLocalIPAndPort, Utils_MakeAddr Failed, m_iAf[%d], Addr[%s:%d]",
                            MORVA_PTR_ARG(this), m_iAf, m_szServerIP, m_wServerPort);
            SetError(MORVA_ERR_PARAM);
            return 0;
        }
        MakePortMultiKey(m_struDestAddr, byKey);
        WORD wPort = 0;
        if (Ctrl()->FindPortList(PortFlag(), byKey, &wPort) == 1) {
            m_wLocalPort = wPort;
            YAR_SetAddrPort(&m_struLocalAddr, wPort);
            m_bPortMultiRecord = 1;
            return 1;
        }
    }
    const bool bTcp = m_enumTransType == LINK_TRANS_TCP;
    const bool bPool = bTcp ? Ctrl()->IsTcpPortPool() != 0 : Ctrl()->IsUdpPortPool() != 0;
    if (bPool) {
        m_wLocalPort = bTcp ? Ctrl()->GetTcpPort(m_iAf) : Ctrl()->GetUdpPort(m_iAf);
        if (!m_wLocalPort) {
            LogModule_Write(LOG_LEVEL_ERR,
                            bTcp ? "[0x%X]CLinkBase::ProcessLocalIPAndPort, GetTcpPort Failed, m_iAf[%d], Addr[%s:%d]"
                                 : "[0x%X]CLinkBase::ProcessLocalIPAndPort, GetUdpPort Failed, m_iAf[%d], Addr[%s:%d]",
                            MORVA_PTR_ARG(this), m_iAf, m_szServerIP, m_wServerPort);
            SetError(MORVA_ERR_NO_POOL_PORT);
            return 0;
        }
        m_bPortFromPool = 1;
    }
    if (bPool || Ctrl()->IsBindLocalIP())
        YAR_SetAddrPort(&m_struLocalAddr, m_wLocalPort);
    if (!bMulti || !m_wLocalPort)
        return 1;  // a system-chosen port is recorded by DoConnect
    if (!Ctrl()->InsertPortList(PortFlag(), m_wLocalPort, byKey)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::ProcessLocalIPAndPort, InsertPortList Failed, m_iAf[%d], "
                        "m_enumTransType[%d], m_wLocalPort[%d]",
                        MORVA_PTR_ARG(this), m_iAf, m_enumTransType, m_wLocalPort);
        return 0;
    }
    m_bPortMultiRecord = 1;
    return 1;
}

int CLinkBase::BindSockToLocalAddr() {
    if (m_wLocalPort) {
        YAR_ADDR_T struAddr;
        MakeLibraryLocalAddr(m_iAf, m_wLocalPort, &struAddr);
        if (YAR_Bind(m_socket, &struAddr) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::BindSockToLocalAddr, YAR_Bind Failed, m_socket[%d], syserror[%d]",
                            MORVA_PTR_ARG(this), m_socket, YAR_GetSystemLastError());
            SetError(MORVA_ERR_BIND);
            return 0;
        }
        m_wAsyncLocalPort = m_wLocalPort;
        return 1;
    }
    if (Ctrl()->IsPortMultiList() && Ctrl()->GetPortMultiTotalNum(PortFlag()) >= PORT_MULTI_MAX_NODES) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::BindSockToLocalAddr, PortMultiTotalNum MAXLISTLEN m_enumTransType[%d]",
                        MORVA_PTR_ARG(this), m_enumTransType);
        SetError(MORVA_ERR_PORT_LIST_FULL);
        return 0;
    }
    if (!m_bAsyncCmd)
        return 1;
    // An overlapped connect needs a bound socket.
    YAR_ADDR_T struAny;
    Utils_MakeAddr(m_iAf, m_iAf == YAR_AF_INET6 ? "::" : "0.0.0.0", 0, &struAny);
    if (YAR_Bind(m_socket, &struAny) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::BindSockToLocalAddr, YAR_Bind Failed, m_socket[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, YAR_GetSystemLastError());
        SetError(MORVA_ERR_BIND);
        return 0;
    }
    YAR_ADDR_T struLocal = {};
    if (YAR_GetAddrBySockFd(m_socket, &struLocal, nullptr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::BindSockToLocalAddr, YAR_GetAddrBySockFd Failed, m_socket[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, YAR_GetSystemLastError());
        return 0;
    }
    m_wAsyncLocalPort = YAR_GetAddrPort(&struLocal);
    return 1;
}

int CLinkBase::DoConnect() {
    if (!BindSockToLocalAddr()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::DoConnect, BindSockToLocalAddr Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        return 0;
    }
    if (!m_dwConncetTimeout)
        Ctrl()->GetConnectTimeOut(&m_dwConncetTimeout, nullptr);
    if (Utils_MakeAddr(m_iAf, m_szServerIP, m_wServerPort, &m_struDestAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::DoConnect, Utils_MakeAddr Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (m_enumTransType == LINK_TRANS_TCP && m_bAsyncCmd)
        return HeartAsyncConnect();
    if (YAR_ConnectWithTimeOut(m_socket, &m_struDestAddr, m_dwConncetTimeout) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::DoConnect, YAR_ConnectWithTimeOut Failed, m_iAf[%d], Addr[%s:%d], "
                        "m_socket[%d], m_dwCommand[%d], syserror[%d], m_dwConncetTimeout[%d]",
                        MORVA_PTR_ARG(this), m_iAf, m_szServerIP, m_wServerPort, m_socket, m_dwCommand,
                        YAR_GetSystemLastError(), m_dwConncetTimeout);
        SetError(MORVA_ERR_CONNECT);
        return 0;
    }
    YAR_ADDR_T struLocal = {};
    if (YAR_GetAddrBySockFd(m_socket, &struLocal, nullptr) == 0) {
        if (!Ctrl()->IsBindLocalIP())
            m_struLocalAddr = struLocal;
        const WORD wPort = YAR_GetAddrPort(&struLocal);
        if (!m_wLocalPort && Ctrl()->IsPortMultiList()) {
            BYTE byKey[PORT_MULTI_KEY_LEN];
            MakePortMultiKey(m_struDestAddr, byKey);
            if (Ctrl()->InsertPortList(PortFlag(), wPort, byKey)) {
                m_bPortMultiRecord = 1;
                m_wLocalPort = wPort;
            }
        }
        // The port the system reports, also when it chose it.
        m_wAsyncLocalPort = wPort;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::DoConnect, SUCC, m_iAf[%d], wLocalPort[%d], m_socket[%d], m_dwCommand[%d]",
                    MORVA_PTR_ARG(this), m_iAf, m_wAsyncLocalPort, m_socket, m_dwCommand);
    return 1;
}

int CLinkBase::HeartAsyncConnect() {
    if (!m_LinkAsyncIO.ConnLinkAsync(&m_struDestAddr, (int)m_struExt.dwUserID)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::HeartAsyncConnect, ConnLinkAsync Failed, m_iAf[%d], Addr[%s:%d], "
                        "m_socket[%d], m_dwCommand[%d]",
                        MORVA_PTR_ARG(this), m_iAf, m_szServerIP, m_wServerPort, m_socket, m_dwCommand);
        SetError(MORVA_ERR_CONNECT);
        return 0;
    }
    if (!m_wLocalPort && Ctrl()->IsPortMultiList()) {
        BYTE byKey[PORT_MULTI_KEY_LEN];
        MakePortMultiKey(m_struDestAddr, byKey);
        if (Ctrl()->InsertPortList(PortFlag(), m_wAsyncLocalPort, byKey)) {
            m_bPortMultiRecord = 1;
            m_wLocalPort = m_wAsyncLocalPort;
        }
    }
    return 1;
}

// ---- receive ----

int CLinkBase::RecvRaw(char *pBuf, int iSize) {
    return YAR_Recv(m_socket, pBuf, iSize);
}

int CLinkBase::DoRecvForRealRecv(int iSocket, char *pBuf, int iSize, DWORD *pRecvLen, DWORD dwTimeOut,
                                 const DWORD *pbCloseSocket, CLinkBase *pLink, int bFirstData, int bTLSMode) {
    *pRecvLen = 0;
    const uint64_t ullStart = YAR_GetTimeTick();
    if (iSocket != -1)
        YAR_SetNonBlock(iSocket, 1);
    for (;;) {
        if (iSocket == -1)
            return MORVA_ERR_RECV;
        const uint64_t ullUsed = YAR_GetTimeTick() - ullStart;
        const int iReady = WaitReadable(iSocket, ullUsed >= dwTimeOut ? 0 : dwTimeOut - (DWORD)ullUsed);
        if (iReady < 0) {
            LogModule_Write(LOG_LEVEL_ERR, "DoSelectWin, YAR_Select Failed, iRet[%d], socket[%d], syserror[%d]", iReady,
                            iSocket, YAR_GetSystemLastError());
            return MORVA_ERR_RECV;
        }
        if (iReady > 0) {
            char *pAt = pBuf + *pRecvLen;
            const int iWant = iSize - (int)*pRecvLen;
            int iRead = pLink ? pLink->RecvRaw(pAt, iWant) : YAR_Recv(iSocket, pAt, iWant);
            const int iSysError = iRead < 0 ? YAR_GetSystemLastError() : 0;
            if (iRead == -1 && iSysError != YAR_SYSERR_WSAEWOULDBLOCK)
                return MORVA_ERR_RECV;
            if (iRead == -2)
                return MORVA_ERR_RECV_TIMEOUT;
            if (iRead == -1)
                iRead = 0;
            else if (iRead == 0 && !bTLSMode)
                return MORVA_ERR_PEER_CLOSED;
            *pRecvLen += (DWORD)iRead;
            if ((int)*pRecvLen >= iSize || (bFirstData && (!bTLSMode || *pRecvLen > 0))) {
                SetError(MORVA_ERR_SUCCESS);
                return MORVA_ERR_SUCCESS;
            }
        }
        const uint64_t ullElapsed = YAR_GetTimeTick() - ullStart;
        if (ullElapsed >= dwTimeOut) {
            LogModule_Write(LOG_LEVEL_INF,
                            "DoRecvForRealRecv, Recv Timeout, pThis[0x%X], Socket[%d], dwUsedTime[%d], dwTimeOut[%d], "
                            "bCloseSocket[%d]",
                            MORVA_PTR_ARG(pLink), iSocket, (int)ullElapsed, dwTimeOut, pbCloseSocket ? *pbCloseSocket : 0);
            return MORVA_ERR_RECV_TIMEOUT;
        }
    }
}

int CLinkBase::RecvData(char *pBuf, DWORD dwSize, DWORD *pRecvLen, DWORD dwTimeOut, int bFirstData) {
    if (!dwTimeOut)
        dwTimeOut = m_dwRecvTimeout ? m_dwRecvTimeout : Ctrl()->GetDefaultRecvTimeOut();
    int iResult;
    if (m_bAsyncCmd && m_bBindSocket) {
        iResult = m_LinkAsyncIO.RecvCmdDataSync(pBuf, dwSize, dwTimeOut, pRecvLen);
        SetError(iResult);
        if (iResult != MORVA_ERR_SUCCESS && iResult != MORVA_ERR_RECV_TIMEOUT) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::RecvData, RecvCmdDataSync Failed, UserID[%d], m_wAsyncLocalPort[%d]",
                            MORVA_PTR_ARG(this), m_struExt.dwUserID, m_wAsyncLocalPort);
            return 0;
        }
        return 1;
    }
    if (m_bBindSocket)
        return 0;  // stream mode: data goes to the callback
    iResult = DoRecvForRealRecv(m_socket, pBuf, (int)dwSize, pRecvLen, dwTimeOut, &m_bCloseSocket, this, bFirstData, 0);
    SetError(iResult);
    if (iResult != MORVA_ERR_SUCCESS && iResult != MORVA_ERR_RECV_TIMEOUT) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::RecvData, DoRealRecvEx Failed, m_socket[%d], UserID[%d], dwRet[%d]",
                        MORVA_PTR_ARG(this), m_socket, m_struExt.dwUserID, iResult);
        return 0;
    }
    return 1;
}

int CLinkBase::StartRecv(LINK_RECV_CALLBACK fnRecv, void *pUser, DWORD dwBufSize) {
    PrepareRecv();
    if (!Ctrl()->IsAsyncIO()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::StartRecv, Failed, IsProtocolUseAysn is False", MORVA_PTR_ARG(this));
        return 0;
    }
    if (!m_LinkAsyncIO.Start(m_socket, fnRecv, pUser, dwBufSize)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::StartRecv, m_LinkAsyncIO.Start Failed, m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        return 0;
    }
    m_bBindSocket = 1;
    return 1;
}

int CLinkBase::ResumeRecvThread() {
    if (!m_bBindSocket) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::ResumeRecvThread, Failed, m_bBindSocket is False", MORVA_PTR_ARG(this));
        return 0;
    }
    const int bRet = m_LinkAsyncIO.ResumeRecvThread();
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::ResumeRecvThread, ResumeRecvThread bRet[%d]", MORVA_PTR_ARG(this), bRet);
    return bRet;
}

int CLinkBase::GetRecvableSize() {
    int iBytes = 0;
    if (m_socket == -1 || YAR_IoCtl(m_socket, FIONREAD, &iBytes) != 0)
        return -1;
    return iBytes;
}

// ---- close ----

int CLinkBase::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Stop, m_LinkAsyncIO[0x%X]", MORVA_PTR_ARG(this),
                    MORVA_PTR_ARG(&m_LinkAsyncIO));
    CloseLink();
    return 1;
}

int CLinkBase::CloseLink() {
    ProbeBeforeClose();
    if (!Ctrl()->IsAsyncIO() || !m_LinkAsyncIO.IsBindAsync()) {
        Cleanup();
        return 1;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::CloseLink, m_socket[%d]", MORVA_PTR_ARG(this), m_socket);
    m_LinkAsyncIO.SetShutdown(m_struExt.byCloseMode == 1);
    m_LinkAsyncIO.Stop();
    m_bCloseSocket = 1;
    m_socket = -1;
    m_bBindSocket = 0;
    ReleaseLocalPort("[0x%X]CLinkBase::CloseLink, DeletePortList Failed, m_wLocalPort[%d]!");
    return 1;
}

void CLinkBase::Cleanup() {
    if (m_socket == -1)
        return;
    m_bCloseSocket = 1;
    if (m_bSocketOnLoan) {
        // A start that failed on an adopted socket: the caller still owns it, open.
        SocketRestoreOptions(m_socket, m_struLoanOptions);
        m_bSocketOnLoan = 0;
    } else if (m_bAsyncCmd && m_LinkAsyncIO.IsBindAsync()) {
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Cleanup, m_LinkAsyncIO.Stop, m_socket[%d]", MORVA_PTR_ARG(this),
                        m_socket);
        m_LinkAsyncIO.SetShutdown(m_struExt.byCloseMode == 1);
        m_LinkAsyncIO.Stop();
    } else {
        if (m_struExt.byCloseMode == 1) {
            LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Cleanup, YAR_ShutDown, m_socket[%d]", MORVA_PTR_ARG(this),
                            m_socket);
            YAR_ShutDown(m_socket, 2);
            YAR_Sleep(5);
        }
        LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::Cleanup, YAR_CloseSocket, m_socket[%d]", MORVA_PTR_ARG(this),
                        m_socket);
        YAR_CloseSocket(m_socket, 0);
    }
    m_socket = -1;
    m_bBindSocket = 0;
    ReleaseLocalPort("[0x%X]CLinkBase::CloseLink, DeletePortList Failed, m_wLocalPort[%d]");
}

// Gives the local port back: its key leaves the multiplex list (an emptied node's port goes
// back to the pool), or a port the link took from a pool goes back there. A port the link did
// not take (an accepted socket's, a system-chosen one) is never handed to a pool.
void CLinkBase::ReleaseLocalPort(const char *pFailText) {
    if (Ctrl()->IsPortMultiList() && m_bPortMultiRecord) {
        BYTE byKey[PORT_MULTI_KEY_LEN];
        MakePortMultiKey(m_struDestAddr, byKey);
        int bNodeRemoved = 0;
        if (Ctrl()->DeletePortList(PortFlag(), byKey, m_wLocalPort, &bNodeRemoved)) {
            m_bPortMultiRecord = 0;
            if (bNodeRemoved)
                Ctrl()->ReleasePort(PortFlag(), m_wLocalPort);
        } else {
            LogModule_Write(LOG_LEVEL_ERR, pFailText, MORVA_PTR_ARG(this), m_wLocalPort);
        }
    } else if (m_wLocalPort && m_bPortFromPool) {
        Ctrl()->ReleasePort(PortFlag(), m_wLocalPort);
    }
    m_wLocalPort = 0;
    m_bPortFromPool = 0;
}

int CLinkBase::ResetConnect() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::ResetConnect", MORVA_PTR_ARG(this));
    CloseLink();
    return OpenLink();
}

void CLinkBase::RestSocketByNoClose() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::RestSocketByNoClose", MORVA_PTR_ARG(this));
    m_socket = -1;
    m_LinkAsyncIO.RestSocket();
}

int CLinkBase::SetLinkForceClose() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::SetLinkForceClose", MORVA_PTR_ARG(this));
    m_bForceClose = 1;
    return 1;
}

void CLinkBase::SetRecvTimeout(DWORD dwTime) {
    m_dwRecvTimeout = dwTime;
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::SetRecvTimeout, dwTime[%d]", MORVA_PTR_ARG(this), dwTime);
}

void CLinkBase::SetSendTimeout(DWORD dwTime) {
    m_dwSendTimeout = dwTime;
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLinkBase::SetSendTimeout, dwTime[%d]", MORVA_PTR_ARG(this), dwTime);
}

DWORD CLinkBase::EffectiveSendTimeout(DWORD dwTimeOut) const {
    if (dwTimeOut)
        return dwTimeOut;
    return m_dwSendTimeout ? m_dwSendTimeout : LINK_DEFAULT_SEND_TIMEOUT;
}

// ---- parameters and local information ----

int CLinkBase::GetLinkParam(DWORD dwParamID, const void *, DWORD, void *pOut, DWORD *pOutLen) {
    if (dwParamID == kLinkParamLocalPort && pOut && pOutLen && *pOutLen >= sizeof(WORD)) {
        std::memcpy(pOut, &m_wAsyncLocalPort, sizeof(WORD));
        *pOutLen = sizeof(WORD);
    }
    return 0;
}

static int ScaledBuffSize(DWORD dwValue, int iCurrent) {
    if (dwValue >= 1024)
        return (int)dwValue;
    return dwValue ? iCurrent * (int)dwValue : iCurrent;
}

int CLinkBase::SetBuffSize(DWORD dwSndMult, DWORD dwRcvMult) {
    if (m_socket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::CloseLink, SetBuffSize Failed, Invalid m_socket[%d]",
                        MORVA_PTR_ARG(this), m_socket);
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    int iSend = 0, iRecv = 0;
    YAR_GetBuffSize(m_socket, &iSend, &iRecv);
    const int nSendSize = ScaledBuffSize(dwSndMult, iSend);
    const int nRecvSize = ScaledBuffSize(dwRcvMult, iRecv);
    if (YAR_SetBuffSize(m_socket, nSendSize, nRecvSize) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLinkBase::CloseLink, YAR_SetBuffSize Failed, m_socket[%d], nSendSize[%d], "
                        "nRecvSize[%d], syserror[%d]",
                        MORVA_PTR_ARG(this), m_socket, nSendSize, nRecvSize, YAR_GetSystemLastError());
        return 0;
    }
    return 1;
}

int CLinkBase::GetIPAddrInfo(LINK_LOCAL_IP_INFO *pInfo) {
    std::memset(pInfo, 0, sizeof(*pInfo));
    YAR_ADDR_T struLocal = m_struLocalAddr;
    if (Ctrl()->IsBindLocalIP())
        MakeLibraryLocalAddr(m_iAf, 0, &struLocal);
    pInfo->bIPv6 = YAR_GetAddrType(&struLocal) == YAR_AF_INET6 ? 1 : 0;
    if (pInfo->bIPv6) {
        if (YAR_GetAddr6(&struLocal, pInfo->byIPv6) != 0) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::GetIPAddrInfo, GetIPv6Addr Failed", MORVA_PTR_ARG(this));
            return 0;
        }
    } else if (YAR_GetAddr4(&struLocal, &pInfo->dwIPv4) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::GetIPAddrInfo, GetIPv4Addr Failed", MORVA_PTR_ARG(this));
        return 0;
    } else {
        pInfo->dwIPv4 = ntohl(pInfo->dwIPv4);
    }
    Ctrl()->GetMacAddr(pInfo->byMac, pInfo->byIPv6, pInfo->dwIPv4, pInfo->bIPv6);
    return 1;
}

int CLinkBase::GetMacAddr(BYTE *pMACAddr) {
    if (!pMACAddr) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLinkBase::GetMacAddr, NULL == pMACAddr", MORVA_PTR_ARG(this));
        return 0;
    }
    LINK_LOCAL_IP_INFO struInfo;
    if (!GetIPAddrInfo(&struInfo))
        return 0;
    std::memcpy(pMACAddr, struInfo.byMac, sizeof(struInfo.byMac));
    return 1;
}

}  // namespace Vorezi
