// The control link's life cycle and the calls of its users. The receive thread, the dispatch of
// control packets and the keep-alive are in VRUDPLinkRecv.cpp.
#include "transport/vrudp/link/VRUDPLink.h"

#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "transport/vrudp/VRUDPWire.h"
#include "transport/vrudp/link/HRClientStream.h"
#include "transport/vrudp/link/VRUDPStream.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace Vorezi {

using namespace vrudp;

namespace {
constexpr uint32_t kRecvStack = 0x40000;
constexpr int kClientFinTries = 5;
constexpr uint32_t kClientFinPauseMs = 16;

uint32_t CalendarMs() {
    YAR_TIMEVAL_T tv = {};
    YAR_GetTimeOfDay(&tv);
    return uint32_t(YAR_TimevalToMs(&tv));
}
}  // namespace

CVRUDPLink::CVRUDPLink() {
    for (auto &h : m_aLinkHandle)
        h.store(-1, std::memory_order_relaxed);
}

CVRUDPLink::~CVRUDPLink() {
    Stop();
}

int CVRUDPLink::Start(void *pParam) {
    m_iVRUDPHandle = GetMemberIndex();
    if (YAR_MutexCreate(&m_csLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Start, YAR_MutexCreate m_csLock Failed, syserror[%d]",
                        m_iVRUDPHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedLock = 1;
    if (YAR_SemCreate(&m_SemSignal, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Start, YAR_SemCreate m_SemSignal Failed, syserror[%d]",
                        m_iVRUDPHandle, YAR_GetSystemLastError());
        Stop();
        return 0;
    }
    m_bCreatedSem = 1;
    auto *pNew = static_cast<VRUDP_LINK_NEW *>(pParam);
    if (!pNew) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Start, pParams is NULL", m_iVRUDPHandle);
        Stop();
        return 0;
    }
    m_enumMode = pNew->stCond.enumMode;
    if (m_enumMode != ENUM_VRUDP_MODE_SERVER && m_enumMode != ENUM_VRUDP_MODE_CLIENT) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Start, Invalid m_enumMode[%d]", m_iVRUDPHandle, m_enumMode);
        Stop();
        return 0;
    }
    int bFather = pNew->iKind != 0;
    if (bFather ? !FartherStart(pNew->stCond.iAf) : !NewHRStream()) {
        Stop();
        return 0;
    }
    if (!bFather)
        m_enumMode = ENUM_VRUDP_MODE_SERVER;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CVRUDPLink::Start, SUCC, m_iVRUDPHandle[%d], bFatherLink[%d]", m_iVRUDPHandle,
                    m_iVRUDPHandle, bFather);
    return 1;
}

int CVRUDPLink::NewHRStream() {
    m_poHRStream.reset(new (std::nothrow) CVRUDPStream);
    if (!m_poHRStream) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::FartherStart, new CVRUDPStream Failed, size[%d]", m_iVRUDPHandle,
                        int(sizeof(CVRUDPStream)));
        return 0;
    }
    return 1;
}

int CVRUDPLink::FartherStart(int iAf) {
    if (m_Socket.CreateSocket(iAf) != 0)
        return 0;
    m_Socket.SetNoBlock(1);
    // Children answer from this socket, so they take its family.
    m_iChildAf = iAf;
    if (m_enumMode == ENUM_VRUDP_MODE_CLIENT) {
        if (!m_poHRClientStream)
            m_poHRClientStream.reset(new (std::nothrow) CHRClientStream);
        if (!m_poHRClientStream) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::FartherStart, new CHRClientStream Failed, size[%d]",
                            m_iVRUDPHandle, int(sizeof(CHRClientStream)));
            return 0;
        }
        m_poHRClientStream->SetSocket(m_Socket.GetSocket());
        m_poHRClientStream->SetCloseCallback(StreamClosedCB, this);
        return 1;
    }
    if (!NewHRStream())
        return 0;
    m_poHRStream->SetSocket(m_Socket.GetSocket());
    return 1;
}

void CVRUDPLink::StopRecvThread() {
    m_bStop = 1;
    if (m_hRecvThread) {
        YAR_Thread_Wait(m_hRecvThread);
        m_hRecvThread = nullptr;
    }
}

int CVRUDPLink::Stop() {
    if (!m_bCreatedLock)
        return 1;
    m_bStop = 1;
    int iFather = m_dwFatherLink.exchange(-1);
    if (iFather >= 0) {
        CRWGuard father(iFather);
        if (auto *pFather = dynamic_cast<CVRUDPLink *>(father.Member()))
            pFather->DeleteHandle(m_iVRUDPHandle);
    }
    StopRecvThread();
    CVRUDPLinkMgr *pMgr = GetVRUDPLinkMgr();
    for (auto &entry : m_aLinkHandle) {
        int h = entry.exchange(-1);
        if (h == -1)
            continue;
        m_iAcceptCount--;
        if (pMgr)
            pMgr->Destroy(h < -1 ? -h - 2 : h);
    }
    m_poHRClientStream.reset();
    m_poHRStream.reset();
    if (!m_bBorrowedSocket)
        m_Socket.CloseSocket();
    if (m_bCreatedSem) {
        YAR_SemDestroy(&m_SemSignal);
        m_bCreatedSem = 0;
    }
    YAR_MutexDestroy(&m_csLock);
    m_bCreatedLock = 0;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CVRUDPLink::Stop, SUCC", m_iVRUDPHandle);
    return 1;
}

int CVRUDPLink::Bind(const VRUDP_SOCK_ADDR *pstSockAddr) {
    if (!pstSockAddr || m_bBorrowedSocket) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Bind, Invalid Param, pstSockAddr[0x%X], bBorrowed[%d]",
                        m_iVRUDPHandle, MORVA_PTR_ARG(pstSockAddr), m_bBorrowedSocket);
        return 0;
    }
    YAR_ADDR_T stAddr;
    if (!VRUDP_MakeSockAddr(*pstSockAddr, &stAddr) || m_Socket.Bind(stAddr) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::Bind, Bind Failed, Addr[%s:%d], syserror[%d]", m_iVRUDPHandle,
                        pstSockAddr->szAddr, pstSockAddr->wPort, YAR_GetSystemLastError());
        return 0;
    }
    return 1;
}

int CVRUDPLink::StartRecvThread() {
    m_bStop = 0;
    m_hRecvThread = YAR_Thread_Create(RecvThreadProc, this, kRecvStack, 0, 0, 0);
    return m_hRecvThread ? 1 : 0;
}

int CVRUDPLink::ConnectRemote(const VRUDP_SOCK_ADDR *pstSockAddr, uint32_t nTimeOut) {
    if (!m_poHRClientStream || !pstSockAddr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CVRUDPLink::ConnectRemote, Invalid Param, m_poHRClientStream[0x%X], pstSockAddr[0x%X]",
                        m_iVRUDPHandle, MORVA_PTR_ARG(m_poHRClientStream.get()), MORVA_PTR_ARG(pstSockAddr));
        return 0;
    }
    YAR_ADDR_T stAddr;
    if (!VRUDP_MakeSockAddr(*pstSockAddr, &stAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::ConnectRemote, Invalid Addr[%s:%d]", m_iVRUDPHandle,
                        pstSockAddr->szAddr, pstSockAddr->wPort);
        return 0;
    }
    YAR_Strncpy(m_szRemoteAddr, pstSockAddr->szAddr, sizeof m_szRemoteAddr - 1);
    m_wRemotePort = pstSockAddr->wPort;
    m_RemoteAddr = stAddr;
    m_poHRClientStream->SetRemoteAddr(stAddr);
    if (m_poHRClientStream->Start() != 0 || (!m_hRecvThread && !StartRecvThread())) {
        m_poHRClientStream->Stop();
        return 0;
    }
    m_dwRecognizeCode = CalendarMs();
    if (m_poHRClientStream->ConnectRemote(m_iVRUDPHandle, m_dwRecognizeCode, nTimeOut) != 0) {
        m_poHRClientStream->Stop();
        return 0;
    }
    m_dwKeepLiveTick = VRUDP_GetTickMs();
    LogModule_Write(LOG_LEVEL_INF, "[%d]CVRUDPLink::ConnectRemote, SUCC, m_iVRUDPHandle[%d], Addr[%s:%d]", m_iVRUDPHandle,
                    m_iVRUDPHandle, m_szRemoteAddr, m_wRemotePort);
    return 1;
}

int CVRUDPLink::Listen(void *pUser, VRUDP_RECV_CALLBACK fnRecvCB) {
    if (m_hRecvThread || !m_poHRStream || m_bBorrowedSocket) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!fnRecvCB) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    m_pUser = pUser;
    m_fnRecvCB = fnRecvCB;
    m_poHRStream->SetRecvDataCallback(StreamDataCB, this);
    if (!StartRecvThread()) {
        SetError(MORVA_ERR_ALLOC);
        m_fnRecvCB = nullptr;
        return 0;
    }
    return 1;
}

int CVRUDPLink::SendPlain(uint8_t byType) {
    uint8_t abyPacket[kLinkFinLen];
    int iLen = BuildLinkPlain(abyPacket, byType, uint16_t(m_dwRemoteLink.load()), m_dwRecognizeCode);
    return m_Socket.SendData(abyPacket, iLen, m_RemoteAddr) == iLen ? 0 : -1;
}

int CVRUDPLink::SendFin() {
    if (m_enumMode == ENUM_VRUDP_MODE_SERVER && m_dwFatherLink < 0) {
        for (auto &entry : m_aLinkHandle) {
            int h = entry.load();
            if (h < 0)
                continue;
            CRWGuard child(h);
            if (child.Member())
                child.Member()->SendFin();
        }
        return 0;
    }
    if (m_enumMode == ENUM_VRUDP_MODE_CLIENT) {
        if (!m_poHRClientStream || !m_poHRClientStream->IsConnected())
            return 0;
        for (int i = 0; i < kClientFinTries && !m_bFinRetReceived; i++) {
            if (SendPlain(LINK_FIN) != 0) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[%d]CVRUDPLink::SendFin, 2 YAR_SendTo Failed, m_Socket[%d], Addr[%s:%d], syserror[%d]",
                                m_iVRUDPHandle, m_Socket.GetSocket(), m_szRemoteAddr, m_wRemotePort,
                                YAR_GetSystemLastError());
                SetError(MORVA_ERR_SEND);
                return -1;
            }
            YAR_Sleep(kClientFinPauseMs);
        }
        return 0;
    }
    m_bKeepAliveExpired = 1;
    ResetStreams();
    if (SendPlain(LINK_FIN) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::SendFin, 1 YAR_SendTo Failed, m_Socket[%d], Addr[%s:%d], syserror[%d]",
                        m_iVRUDPHandle, m_Socket.GetSocket(), m_szRemoteAddr, m_wRemotePort, YAR_GetSystemLastError());
        SetError(MORVA_ERR_SEND);
        return -1;
    }
    return 0;
}

void CVRUDPLink::ResetStreams() {
    if (m_poHRStream)
        m_poHRStream->StopStream();
    if (m_poHRClientStream)
        m_poHRClientStream->StopResend();
}

int CVRUDPLink::SendUpperData(const void *pData, int iBufLen) {
    uint8_t abyPacket[kLinkUpperHeadLen + kLinkUpperMax];
    if (!pData || iBufLen <= 0 || iBufLen > kLinkUpperMax) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    int iLen = BuildLinkUpperData(abyPacket, uint16_t(m_dwRemoteLink.load()), m_dwRecognizeCode,
                                  static_cast<const uint8_t *>(pData), iBufLen);
    return m_Socket.SendData(abyPacket, iLen, m_RemoteAddr) == iLen ? iLen : -1;
}

int CVRUDPLink::SendTo(const void *pData, int iBufLen, const VRUDP_SOCK_ADDR *, uint32_t) {
    int iRet;
    if (m_enumMode == ENUM_VRUDP_MODE_CLIENT) {
        if (!m_poHRClientStream) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::SendTo, NULL == m_poHRClientStream", m_iVRUDPHandle);
            return -1;
        }
        if (iBufLen <= 0)
            return 0;
        uint32_t dwTaken = m_poHRClientStream->SendVideoData(static_cast<const uint8_t *>(pData), uint32_t(iBufLen));
        if (dwTaken == uint32_t(iBufLen)) {
            // The buffer was full and the data dropped: tell the caller, never the full length.
            SetError(MORVA_ERR_SEND);
            return 0;
        }
        iRet = int(dwTaken);
    } else if (m_dwFatherLink >= 0) {
        iRet = SendUpperData(pData, iBufLen);
    } else {
        iRet = -1;
    }
    if (iRet > 0)
        return iBufLen;
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::SendTo, Failed, iRet[%d], iBufLen[%d]", m_iVRUDPHandle, iRet, iBufLen);
    return iRet;
}

int CVRUDPLink::RecvFromUpperData(void *pBuf, int iBufCount) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked() || m_dwUpperDataLength == 0)
        return 0;
    int iLen = int(m_dwUpperDataLength);
    m_dwUpperDataLength = 0;
    if (!pBuf || iBufCount < iLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::RecvFromUpperData, iBufCount[%d] < m_dwUpperDataLength[%d]",
                        m_iVRUDPHandle, iBufCount, iLen);
        return 0;
    }
    std::memcpy(pBuf, m_abyUpperData, size_t(iLen));
    return iLen;
}

int CVRUDPLink::RecvFrom(void *pBuf, int iBufCount, VRUDP_SOCK_ADDR *pAddr, uint32_t nTimeOut) {
    if (m_enumMode != ENUM_VRUDP_MODE_CLIENT) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::RecvFrom, invalid m_enumMode[%d]", m_iVRUDPHandle, m_enumMode);
        return -1;
    }
    if (pAddr) {
        std::memcpy(pAddr->szAddr, m_szRemoteAddr, sizeof pAddr->szAddr);
        pAddr->wPort = m_wRemotePort;
    }
    int iRet = RecvFromUpperData(pBuf, iBufCount);
    if (iRet > 0 || nTimeOut == 0)
        return iRet;
    YAR_SemTimedWait(&m_SemSignal, int32_t(nTimeOut));
    return RecvFromUpperData(pBuf, iBufCount);
}

int CVRUDPLink::SetSockBuffSize(int iSndBuffSize, int iRcvBuffSize) {
    return m_Socket.SetBuffSize(iSndBuffSize, iRcvBuffSize);
}

int CVRUDPLink::RemoveAcceptHandle(int iVRUDPHandle) {
    if (iVRUDPHandle < 0)
        return 1;
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 1;
    for (auto &entry : m_aLinkHandle) {
        int32_t iExpected = iVRUDPHandle;
        if (entry.compare_exchange_strong(iExpected, -iVRUDPHandle - 2))
            break;
    }
    return 1;
}

int CVRUDPLink::DeleteHandle(int iVRUDPHandle) {
    CGuard guard(&m_csLock);
    if (!guard.IsLocked())
        return 0;
    for (auto &entry : m_aLinkHandle) {
        int h = entry.load();
        if (h == iVRUDPHandle || h == -iVRUDPHandle - 2) {
            entry = -1;
            m_iAcceptCount--;
            return 1;
        }
    }
    return 0;
}

int CVRUDPLink::SetAjustParam(const VRUDP_STREAM_ADJUST_PARAM *pAdjustParam) {
    if (m_enumMode != ENUM_VRUDP_MODE_CLIENT || !m_poHRClientStream || !pAdjustParam) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::SetAjustParam, Failed, m_enumMode[%d]", m_iVRUDPHandle, m_enumMode);
        return 0;
    }
    m_poHRClientStream->SetAjustParam(pAdjustParam->dwSendWndMax, pAdjustParam->dwOneSendWnd,
                                      pAdjustParam->dwResendCountMax, pAdjustParam->dwMaxGoBackTime);
    return 1;
}

int CVRUDPLink::SetBitrate(uint32_t dwBitrate) {
    if (m_enumMode != ENUM_VRUDP_MODE_CLIENT || !m_poHRClientStream) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CVRUDPLink::SetBitrate, Failed, m_enumMode[%d]", m_iVRUDPHandle, m_enumMode);
        return 0;
    }
    m_poHRClientStream->SetBitrate(dwBitrate);
    return 1;
}

}  // namespace Vorezi
