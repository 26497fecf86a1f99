#include "transport/serverlink/ServerLinkBase.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

// 1024 and more is a size in bytes, 1 to 1023 multiplies the current size, 0 keeps it.
int NewBuffSize(int iCurrent, DWORD dwValue) {
    if (dwValue >= 1024)
        return (int)dwValue;
    return dwValue ? iCurrent * (int)dwValue : iCurrent;
}

}  // namespace

CServerLinkBase::~CServerLinkBase() {
    DestroySocket();
}

int CServerLinkBase::CheckResource() {
    return m_bReady && CMemberBase::CheckResource() ? 1 : 0;
}

void CServerLinkBase::TakeAddressAndTimes(const SERVER_LINK_COND &cond) {
    std::memset(m_szLocalIP, 0, sizeof(m_szLocalIP));
    if (cond.pLocalIP)
        std::strncpy(m_szLocalIP, cond.pLocalIP, sizeof(m_szLocalIP) - 1);
    m_wLocalPort = cond.wLocalPort;
    if (std::strchr(m_szLocalIP, ':')) {
        m_bIPv6 = 1;
        m_iAf = YAR_AF_INET6;
    }
    m_dwRecTimeOut = cond.dwRecvTimeOut ? cond.dwRecvTimeOut : GetCoreGlobalCtrl()->GetDefaultRecvTimeOut();
    m_dwSecondTimeOut = cond.dwSecondTimeOut;
}

int CServerLinkBase::Start(void *pParam) {
    const auto *pCond = static_cast<const SERVER_LINK_COND *>(pParam);
    if (!pCond) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkBase::Start, pCond == NULL", Index());
        Utils_Assert();
        return 0;
    }
    TakeAddressAndTimes(*pCond);
    std::memcpy(m_byExt, pCond->byExt, sizeof(m_byExt));
    if (!OpenLink()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkBase::Start, OpenLink Failed, Addr[%s:%d], m_iAf[%d]", Index(),
                        m_szLocalIP, m_wLocalPort, m_iAf);
        return 0;
    }
    EnlargeBufferSize(pCond->dwSendMult, pCond->dwRecvMult);
    SetDataCallBack(pCond->fnDataCallBack, pCond->pUserData);
    // Stored before the receiving machinery starts: a connection accepted at once must already
    // see the mode (in mode 1 the owner alone reads the socket).
    m_byManagerMode = pCond->byManagerMode;
    if (!StartSever()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkBase::Start, StartSever Failed, Addr[%s:%d], m_iAf[%d]", Index(),
                        m_szLocalIP, m_wLocalPort, m_iAf);
        CloseLink();
        return 0;
    }
    // Ready once the link runs, as the MQTT link does it.
    SetReady();
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkBase::Start, SUCC, Addr[%s:%d], m_iAf[%d], m_byManagerMode[%d]",
                    Index(), m_szLocalIP, m_wLocalPort, m_iAf, m_byManagerMode);
    return 1;
}

int CServerLinkBase::Stop() {
    CloseLink();
    return 1;
}

int CServerLinkBase::CloseAcceptHandle(int) {
    return 0;
}

int CServerLinkBase::SetInfo(int, DWORD, void *, int) {
    return 0;
}

int CServerLinkBase::CloseServerLink() {
    return 1;
}

int CServerLinkBase::CloseLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkBase::CloseLink, Addr[%s:%d], m_iAf[%d], m_byManagerMode[%d]", Index(),
                    m_szLocalIP, m_wLocalPort, m_iAf, m_byManagerMode);
    DestroySocket();
    return 1;
}

int CServerLinkBase::GetLocalAddress(YAR_ADDR_T *pAddr) {
    if (m_szLocalIP[0] == '\0')
        std::strcpy(m_szLocalIP, m_bIPv6 ? "::" : "0.0.0.0");
    if (YAR_MakeAddrByString(m_iAf, m_szLocalIP, m_wLocalPort, pAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkBase::GetLocalAddress, YAR_MakeAddrByString Failed, syserror[%d], Addr[%s:%d], "
                        "m_iAf[%d]",
                        Index(), YAR_GetSystemLastError(), m_szLocalIP, m_wLocalPort, m_iAf);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    return 1;
}

// Shut down first: that wakes a thread blocked in accept or in a wait on the socket, which a
// plain close would not.
void CServerLinkBase::DestroySocket() {
    const int sockTemp = m_socket;
    if (sockTemp == -1)
        return;
    m_socket = -1;
    LogModule_Write(LOG_LEVEL_DBG,
                    "[%d]CServerLinkBase::DestroySocket, sockTemp[%d], Addr[%s:%d], m_iAf[%d], m_byManagerMode[%d]",
                    Index(), sockTemp, m_szLocalIP, m_wLocalPort, m_iAf, m_byManagerMode);
    YAR_ShutDown(sockTemp, 2);
    YAR_Sleep(5);
    YAR_CloseSocket(sockTemp, 0);
}

int CServerLinkBase::SetBuffSize(int iSocket, DWORD dwSendValue, DWORD dwRecvValue) {
    if (iSocket == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkBase::SetBuffSize, iSocket == YAR_INVALID_SOCKET", Index());
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    int iSend = 0;
    int iRecv = 0;
    YAR_GetBuffSize(iSocket, &iSend, &iRecv);
    if (YAR_SetBuffSize(iSocket, NewBuffSize(iSend, dwSendValue), NewBuffSize(iRecv, dwRecvValue)) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkBase::SetBuffSize, YAR_SetBuffSize, Failed, iSocket[%d], syserror[%d]",
                        Index(), iSocket, YAR_GetSystemLastError());
        return 0;
    }
    return 1;
}

void CServerLinkBase::SetDataCallBack(SERVER_LINK_DATA_CALLBACK fnCallBack, void *pUser) {
    m_fnDataCallBack = fnCallBack;
    m_pUserData = pUser;
}

int CServerLinkBase::PushDataToCallBack(SERVER_LINK_DATA *pData) {
    if (!m_fnDataCallBack) {
        Utils_Assert();
        return 0;
    }
    return m_fnDataCallBack(m_pUserData, pData);
}

void CServerLinkBase::InitRecord(SERVER_LINK_DATA *pData, DWORD dwMsgType, DWORD dwDataKind, int iStreamHandle,
                                 int iAcceptHandle) {
    std::memset(pData, 0, sizeof(*pData));
    pData->dwMsgType = dwMsgType;
    pData->dwDataKind = dwDataKind;
    pData->iLinkHandle = Index();
    pData->iStreamHandle = iStreamHandle;
    pData->iAcceptHandle = iAcceptHandle;
    pData->iSocket = -1;
}

int CServerLinkBase::StartOwnThread(YAR_HANDLE *phThread, YAR_THREAD_ROUTINE fnRoutine, const char *pAlreadyText,
                                    const char *pFailText) {
    if (*phThread != YAR_INVALID_THREAD) {
        LogModule_Write(LOG_LEVEL_ERR, pAlreadyText, Index(), MORVA_PTR_ARG(*phThread));
        return 0;
    }
    *phThread = YAR_Thread_Create(fnRoutine, this, SERVER_LINK_THREAD_STACK, 0, 0, 0);
    if (*phThread == YAR_INVALID_THREAD) {
        LogModule_Write(LOG_LEVEL_ERR, pFailText, Index(), YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    return 1;
}

}  // namespace Vorezi
