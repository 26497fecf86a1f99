#include "transport/longlink/LongLinkPrivate.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "yar/yar_error.h"
#include "yar/yar_socket.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {
constexpr int kThreadStartError = MORVA_ERR_ALLOC;
constexpr int kShutBoth = 2;

// The long link whose receive or send thread is the calling thread.
thread_local const CLongLinkPrivateBase *t_pOwnThreadOf = nullptr;
}  // namespace

CLongLinkPrivateBase::CLongLinkPrivateBase() = default;

CLongLinkPrivateBase::~CLongLinkPrivateBase() {
    JoinThreads();
    m_fnDataCallBack = nullptr;
    m_pUserData = nullptr;
}

bool CLongLinkPrivateBase::OnOwnThread() const {
    return t_pOwnThreadOf == this;
}

// ---- link operations, through the protocol object ----

int CLongLinkPrivateBase::CreateLink(DWORD dwCommand, void *pIgnored, const LINK_ADDR_COND *pAddr) {
    LINK_COND struCond;
    return CreateLinkEx(dwCommand, pIgnored, WidenAddrCond(pAddr, &struCond));
}

int CLongLinkPrivateBase::CreateLinkEx(DWORD dwCommand, void *pIgnored, const LINK_COND *pCond) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::CreateLinkEx, pProtocol == NULL, dwCommand[%d]",
                        MORVA_PTR_ARG(this), dwCommand);
        return 0;
    }
    return pProtocol->CreateLinkEx(dwCommand, pIgnored, pCond);
}

int CLongLinkPrivateBase::CloseLink() {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->CloseLinkSocket() : 0;
}

int CLongLinkPrivateBase::DestroyLink() {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->DestroyLink() : 0;
}

CLinkBase *CLongLinkPrivateBase::GetLink() {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->GetLink() : nullptr;
}

int CLongLinkPrivateBase::SetLink(CLinkBase *pLink) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->SetLink(pLink) : 0;
}

int CLongLinkPrivateBase::GetLinkParam(DWORD dwParamID, const void *pIn, DWORD dwInLen, void *pOut, DWORD *pOutLen) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->GetLinkParam(dwParamID, pIn, dwInLen, pOut, pOutLen) : 0;
}

int CLongLinkPrivateBase::CreateGeneralLink(const LINK_CREATE_PARAM *pParam, int bUseAsyn) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    const int bRet = pProtocol ? pProtocol->CreateGeneralLink(pParam, bUseAsyn) : 0;
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLongLinkPrivateBase::CreateGeneralLink, pProtocol[0x%X], bRet[%d], bUseAsyn[%d]",
                    MORVA_PTR_ARG(this), MORVA_PTR_ARG(pProtocol), bRet, bUseAsyn);
    return bRet;
}

int CLongLinkPrivateBase::SetLinkForceClose() {
    CBaseProtocol *pProtocol = GetProtocolObject();
    return pProtocol ? pProtocol->SetLinkForceClose() : 0;
}

void CLongLinkPrivateBase::GetRemoteAddr(char *pIP, WORD *pPort, DWORD dwLen) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::GetRemoteAddr, GetProtocolObject Failed",
                        MORVA_PTR_ARG(this));
        return;
    }
    pProtocol->GetRemoteAddr(pIP, pPort, dwLen);
}

void CLongLinkPrivateBase::GetLocalAddr(char *pIP, WORD *pPort, DWORD dwLen) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::GetLocalAddr, GetProtocolObject Failed",
                        MORVA_PTR_ARG(this));
        return;
    }
    pProtocol->GetLocalAddr(pIP, pPort, dwLen);
}

int CLongLinkPrivateBase::GetLocalIPInfo(LINK_LOCAL_IP_INFO *pInfo) {
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::GetLocalIPInfo, GetProtocolObject Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    return pProtocol->GetLocalIPInfo(pInfo);
}

int CLongLinkPrivateBase::HasCreateLink() {
    return GetLink() ? 1 : 0;
}

int CLongLinkPrivateBase::EnableDataCallBack(int bEnable) {
    m_bEnableDataCallBack = (DWORD)bEnable;
    return 1;
}

// ---- asynchronous receiving ----

int CLongLinkPrivateBase::StartRecvThreadUseAysn(LINK_RECV_CALLBACK fnData, void *pUser, DWORD dwBufSize) {
    CLinkBase *pLink = GetLink();
    if (!pLink)
        return 0;
    m_fnDataCallBack = fnData;
    m_pUserData = pUser;
    m_bExit = 0;
    return pLink->StartRecv(AsyncRecvEntry, this, dwBufSize);
}

int CLongLinkPrivateBase::AsyncRecvEntry(void *pUser, char *pData, int iLen, int iStatus) {
    return static_cast<CLongLinkPrivateBase *>(pUser)->RecvDataCallBack(pData, iLen, iStatus);
}

int CLongLinkPrivateBase::RecvDataCallBack(char *pData, int iLen, int iStatus) {
    if (!m_bEnableDataCallBack || !m_fnDataCallBack)
        return 1;
    if (!GetLink() || m_bExit)
        return 0;
    m_nDelivering++;
    const CLongLinkPrivateBase *pOuter = t_pOwnThreadOf;
    t_pOwnThreadOf = this;
    const int iRet = m_fnDataCallBack(m_pUserData, pData, iLen, iStatus);
    t_pOwnThreadOf = pOuter;
    m_nDelivering--;  // the last touch of this object
    return iRet;
}

void CLongLinkPrivateBase::WaitDeliveries() {
    if (OnOwnThread())
        return;
    while (m_nDelivering)
        YAR_Sleep(1);
}

int CLongLinkPrivateBase::StopRecvThreadUseAysn() {
    CLinkBase *pLink = GetLink();
    return pLink ? pLink->Stop() : 0;
}

// ---- the receive thread ----

int CLongLinkPrivateBase::StartRecvThread(LINK_RECV_CALLBACK fnData, void *pUser, DWORD dwBufSize) {
    if (!m_ThreadControl.CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::StartRecvThread, CheckResource Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol)
        return 0;
    if (pProtocol->IsUseAsyncIO()) {
        const int bRet = StartRecvThreadUseAysn(fnData, pUser, dwBufSize);
        if (!bRet)
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::StartRecvThread, StartRecvThreadUseAysn Failed",
                            MORVA_PTR_ARG(this));
        return bRet;
    }
    if (m_hRecvThread != YAR_INVALID_THREAD) {
        if (OnOwnThread())  // the thread cannot join itself
            return 0;
        m_ThreadControl.Stop();
        m_bExit = 1;
        JoinRecvThread();
    }
    if (!fnData) {
        m_fnDataCallBack = nullptr;
        m_pUserData = nullptr;
    } else {
        m_fnDataCallBack = fnData;
        m_pUserData = pUser;
        m_ThreadControl.Start();
        m_bExit = 0;
        m_hRecvThread = YAR_Thread_Create(RecvThreadEntry, this, kThreadStackSize, 0, 0, 0);
        if (m_hRecvThread == YAR_INVALID_THREAD) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[0x%X]CLongLinkPrivateBase::StartRecvThread, YAR_Thread_Create, pLink[0x%X], syserror[%d]",
                            MORVA_PTR_ARG(this), MORVA_PTR_ARG(pProtocol->GetLink()), YAR_GetSystemLastError());
            SetError(kThreadStartError);
            return 0;
        }
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLongLinkPrivateBase::StartRecvThread, SUCC, pLink[0x%X]", MORVA_PTR_ARG(this),
                    MORVA_PTR_ARG(pProtocol->GetLink()));
    return 1;
}

uint32_t CLongLinkPrivateBase::RecvThreadEntry(void *pParam) {
    auto *pThis = static_cast<CLongLinkPrivateBase *>(pParam);
    t_pOwnThreadOf = pThis;
    pThis->RecvThreadCallback();
    t_pOwnThreadOf = nullptr;
    return 0;
}

bool CLongLinkPrivateBase::LinkIsDead() {
    CLinkBase *pLink = GetLink();
    return !pLink || pLink->GetSocket() == -1;
}

void CLongLinkPrivateBase::RecvThreadCallback() {
    CBaseProtocol *pProtocol = nullptr;
    while (!m_bExit) {
        m_ThreadControl.CheckPause();
        if (m_bExit)
            break;
        DWORD dwLen = 0;
        int iStatus = MORVA_ERR_SUCCESS;
        pProtocol = GetProtocolObject();
        if (!pProtocol) {
            LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::RecvThreadCallback, GetProtocolObject Failed",
                            MORVA_PTR_ARG(this));
            break;
        }
        char *pData = pProtocol->RecvData(&dwLen, &iStatus, 0, 1);
        if (m_bExit)
            break;
        const int iRet = m_fnDataCallBack(m_pUserData, pData, (int)dwLen, iStatus);
        if (iStatus == MORVA_ERR_PEER_CLOSED || (iStatus == MORVA_ERR_RECV && LinkIsDead()))
            break;
        if (iRet == 0 && iStatus != MORVA_ERR_RECV_TIMEOUT)
            break;
    }
    m_ThreadControl.Stop();
    LogModule_Write(LOG_LEVEL_INF, "[0x%X]CLongLinkPrivateBase::StartRecvThread, Exit, pProtocol[0x%X]",
                    MORVA_PTR_ARG(this), MORVA_PTR_ARG(pProtocol));
}

int CLongLinkPrivateBase::ResumeRecvThread() {
    CBaseProtocol *pProtocol = GetProtocolObject();
    if (!pProtocol) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::ResumeRecvThread, pBaseProtocol == NULL",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    if (!pProtocol->IsUseAsyncIO()) {
        m_ThreadControl.Resume();
        return 1;
    }
    CLinkBase *pLink = pProtocol->GetLink();
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::ResumeRecvThread, pLink == NULL", MORVA_PTR_ARG(this));
        return 0;
    }
    const int bRet = pLink->ResumeRecvThread();
    if (!bRet)
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::ResumeRecvThread, ResumeRecvThread Failed, pLink[0x%X]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(pLink));
    return bRet;
}

void CLongLinkPrivateBase::PauseRecvThread() {
    m_ThreadControl.Pause();
}

void CLongLinkPrivateBase::SetExitFlag() {
    if (m_hRecvThread != YAR_INVALID_THREAD)
        m_bExit = 1;
}

// Wakes a receive thread blocked on the socket, then joins it, and only then closes the link:
// closing a descriptor another thread still polls could hand its number to a new socket.
void CLongLinkPrivateBase::StopRecvThread() {
    m_bExit = 1;
    m_ThreadControl.Stop();
    if (m_hRecvThread != YAR_INVALID_THREAD && !OnOwnThread()) {
        CLinkBase *pLink = GetLink();
        if (pLink && pLink->GetSocket() != -1 && !GetProtocolObject()->IsUseAsyncIO())
            YAR_ShutDown(pLink->GetSocket(), kShutBoth);
        JoinRecvThread();
    }
    CloseLink();
}

void CLongLinkPrivateBase::JoinRecvThread() {
    if (m_hRecvThread == YAR_INVALID_THREAD)
        return;
    YAR_Thread_Wait(m_hRecvThread);
    m_hRecvThread = YAR_INVALID_THREAD;
}

// ---- the send thread ----

int CLongLinkPrivateBase::StartSendThread(YAR_THREAD_ROUTINE fnRoutine, void *pParam) {
    if (m_hSendDataThread != YAR_INVALID_THREAD || !fnRoutine) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[0x%X]CLongLinkPrivateBase::StartSendThread, Invalid Param, m_hSendDataThread[%d], "
                        "StartAddress[0x%X]",
                        MORVA_PTR_ARG(this), m_hSendDataThread != YAR_INVALID_THREAD, MORVA_PTR_ARG((void *)fnRoutine));
        if (!fnRoutine) {
            SetError(MORVA_ERR_PARAM);
            return 0;
        }
        return 1;
    }
    m_fnSendRoutine = fnRoutine;
    m_pSendParam = pParam;
    m_hSendDataThread = YAR_Thread_Create(SendThreadEntry, this, kThreadStackSize, 0, 0, 0);
    if (m_hSendDataThread == YAR_INVALID_THREAD) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CLongLinkPrivateBase::StartSendThread, YAR_Thread_Create Failed, syserror[%d]",
                        MORVA_PTR_ARG(this), YAR_GetSystemLastError());
        SetError(kThreadStartError);
        return 0;
    }
    return 1;
}

uint32_t CLongLinkPrivateBase::SendThreadEntry(void *pParam) {
    auto *pThis = static_cast<CLongLinkPrivateBase *>(pParam);
    t_pOwnThreadOf = pThis;
    const uint32_t uRet = pThis->m_fnSendRoutine(pThis->m_pSendParam);
    t_pOwnThreadOf = nullptr;
    return uRet;
}

void CLongLinkPrivateBase::JoinSendThread() {
    if (m_hSendDataThread == YAR_INVALID_THREAD || OnOwnThread())
        return;
    YAR_Thread_Wait(m_hSendDataThread);
    m_hSendDataThread = YAR_INVALID_THREAD;
}

void CLongLinkPrivateBase::JoinThreads() {
    if (m_hRecvThread != YAR_INVALID_THREAD && !OnOwnThread()) {
        m_ThreadControl.Stop();
        m_bExit = 1;
        JoinRecvThread();
    }
    JoinSendThread();
    WaitDeliveries();
}

// ---- CLongLinkPrivate ----

CLongLinkPrivate::~CLongLinkPrivate() {
    JoinThreads();
}

int CLongLinkPrivate::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CLongLinkPrivate::Stop", MORVA_PTR_ARG(this));
    JoinSendThread();
    StopRecvThread();
    DestroyLink();
    WaitDeliveries();
    return 1;
}

int CLongLinkPrivate::SendData(const PROTOCOL_SEND_DATA *pData, DWORD dwTimeOut) {
    return m_Protocol.SendData(pData, dwTimeOut);
}

int CLongLinkPrivate::EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult) {
    return m_Protocol.EnlargeBufferSize(dwSndMult, dwRcvMult);
}

int CLongLinkPrivate::SetRecvTimeout(DWORD dwTime) {
    return m_Protocol.SetRecvTimeout(dwTime);
}

int CLongLinkPrivate::RestSocketByNoClose() {
    return m_Protocol.RestSocketByNoClose();
}

int CLongLinkPrivate::GetProxyLinkDstAddr(char *pHost, WORD *pPort) {
    return m_Protocol.GetProxyLinkDstAddr(pHost, pPort);
}

int CLongLinkPrivate::CreateSocks5PushLink(int sockAccepted) {
    return m_Protocol.CreateSocks5PushLink(sockAccepted);
}

int CLongLinkPrivate::CreatePushLink(int sockAccepted) {
    return m_Protocol.CreatePushLink(sockAccepted);
}

}  // namespace Vorezi
