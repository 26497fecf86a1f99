#include "transport/serverlink/vrudp/ServerLinkVRUDPStream.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "internal/MorvaInternal.h"
#include "transport/vrudp/HRUdpBase.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/VRUDPLinkMgr.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr DWORD kKindDatagram = 1;
constexpr DWORD kKindStream = 10;
constexpr int kSendBuffSize = 0x40000;
constexpr int kRecvBuffSize = 0x100000;

bool ValidAcceptHandle(int iAcceptHandle) {
    return iAcceptHandle >= 0 && iAcceptHandle < SERVER_LINK_VRUDP_STREAMS;
}

}  // namespace

// The reliable-UDP manager is made here, before the member lock that Start runs under: making
// it takes the controller's lock, which Fini holds while it destroys the server links.
CServerLinkVRUDPStream::CServerLinkVRUDPStream() {
    for (auto &h : m_aiStreamHandle)
        h.store(-1, std::memory_order_relaxed);
    GetVRUDPLinkMgr();
}

CServerLinkVRUDPStream::~CServerLinkVRUDPStream() {
    try {
        CloseLink();
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkVRUDPStream::~CServerLinkVRUDPStream, Exception!!!");
    }
}

int CServerLinkVRUDPStream::CreateVRUDPLink() {
    VRUDP_CREATE_COND struCond;
    std::memset(&struCond, 0, sizeof(struCond));
    struCond.iAf = m_iAf;
    struCond.enumType = ENUM_VRUDP_TYPE_LINK;
    struCond.enumMode = ENUM_VRUDP_MODE_SERVER;
    const int iHandle = Interim_VRUDP_Create(&struCond);
    if (iHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::CreateVRUDPLink, Interim_VRUDP_Create Failed", Index());
        return 0;
    }
    m_iHandle.store(iHandle);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkVRUDPStream::CreateVRUDPLink, SUCC, m_iHandle[%d]", Index(), iHandle);
    return 1;
}

int CServerLinkVRUDPStream::OpenLink() {
    if (!CreateVRUDPLink()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::OpenLink, CreateVRUDPLink Failed", Index());
        CloseLink();
        return 0;
    }
    YAR_ADDR_T struAddr;
    if (!GetLocalAddress(&struAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::OpenLink, GetLocalAddress Failed", Index());
        CloseLink();
        return 0;
    }
    VRUDP_SOCK_ADDR struSockAddr;
    std::memset(&struSockAddr, 0, sizeof(struSockAddr));
    YAR_GetAddrStringEx(&struAddr, struSockAddr.szAddr, sizeof(struSockAddr.szAddr));
    struSockAddr.wPort = YAR_GetAddrPort(&struAddr);
    if (!Interim_VRUDP_Bind(m_iHandle.load(), &struSockAddr)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::OpenLink, Interim_VRUDP_Bind Failed, Addr[%s:%d]",
                        Index(), struSockAddr.szAddr, struSockAddr.wPort);
        CloseLink();
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkVRUDPStream::OpenLink, SUCC, Addr[%s:%d], m_iHandle[%d]", Index(),
                    struSockAddr.szAddr, struSockAddr.wPort, m_iHandle.load());
    return 1;
}

// Closing the father joins its receive thread: no callback arrives once this returns.
int CServerLinkVRUDPStream::CloseLink() {
    const int iHandle = m_iHandle.exchange(-1);
    if (iHandle != -1)
        Interim_VRUDP_Close(iHandle);
    return 1;
}

int CServerLinkVRUDPStream::StartSever() {
    return Interim_VRUDP_Listen(m_iHandle.load(), this, RecvVRUDPDataCB);
}

// The kernel doubles these and caps them at its maximum; the socket layer logs what it granted.
int CServerLinkVRUDPStream::EnlargeBufferSize(DWORD, DWORD) {
    const int iHandle = m_iHandle.load();
    if (iHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::EnlargeBufferSize, Invalid m_iHandle[%d]", Index(),
                        iHandle);
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    const int bRet = COM_VRUDP_SetSockBuffSize(iHandle, kSendBuffSize, kRecvBuffSize);
    LogModule_Write(LOG_LEVEL_INF, "[%d]CServerLinkVRUDPStream::EnlargeBufferSize, m_iHandle[%d], bRet[%d]", Index(),
                    iHandle, bRet);
    return bRet;
}

// Only this link's own children: any other reliable-UDP handle belongs to someone else.
bool CServerLinkVRUDPStream::IsOwnChild(int iAcceptHandle) const {
    const int iHandle = m_iHandle.load();
    if (iHandle == -1 || !ValidAcceptHandle(iAcceptHandle))
        return false;
    CRWGuard guard(iAcceptHandle);
    return guard.Member() && guard.Member()->GetFatherLink() == iHandle;
}

int CServerLinkVRUDPStream::CloseAcceptHandle(int iAcceptHandle) {
    if (!ValidAcceptHandle(iAcceptHandle))
        return -1;
    if (IsOwnChild(iAcceptHandle))
        Interim_VRUDP_Close(iAcceptHandle);
    m_aiStreamHandle[iAcceptHandle].store(-1);
    return 0;
}

int CServerLinkVRUDPStream::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    const int iHandle = m_iHandle.load();
    if (iHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::SendData, Invalid m_iHandle[%d]", Index(), iHandle);
        Utils_Assert();
        return -1;
    }
    if (!pParam)
        return -1;
    VRUDP_SOCK_ADDR struAddr;
    std::memset(&struAddr, 0, sizeof(struAddr));
    if (pParam->pPeerIP)
        std::strncpy(struAddr.szAddr, pParam->pPeerIP, sizeof(struAddr.szAddr) - 1);
    struAddr.wPort = pParam->wPeerPort;
    const int iRet = IsOwnChild(pParam->iAcceptHandle)
                         ? COM_VRUDP_SendTo(pParam->iAcceptHandle, pParam->pData, (int)pParam->dwDataLen, &struAddr, 0)
                         : -1;
    if (iRet < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkVRUDPStream::SendData, COM_VRUDP_SendTo Failed, iAcceptHandle[%d], Addr[%s:%d]",
                        Index(), pParam->iAcceptHandle, struAddr.szAddr, struAddr.wPort);
        SetError(MORVA_ERR_SEND);
    }
    return iRet;
}

void CServerLinkVRUDPStream::RecvVRUDPDataCB(void *pUser, VRUDP_RECV_DATA *pData) {
    auto *pServerLink = static_cast<CServerLinkVRUDPStream *>(pUser);
    if (!pServerLink) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkVRUDPStream::RecvVRUDPDataCB, pServerLink == NULL");
        Utils_Assert();
        return;
    }
    pServerLink->ProcessRecvedData(pData);
}

void CServerLinkVRUDPStream::FillRecord(SERVER_LINK_DATA *pData, const VRUDP_RECV_DATA &src, DWORD dwMsgType,
                                        DWORD dwKind, int iStreamHandle, int iAcceptHandle) {
    InitRecord(pData, dwMsgType, dwKind, iStreamHandle, iAcceptHandle);
    pData->pData = const_cast<char *>(reinterpret_cast<const char *>(src.pData));
    pData->dwDataLen = src.iDataLen > 0 ? (DWORD)src.iDataLen : 0;
    std::memcpy(pData->szPeerIP, src.szRemoteAddr, sizeof(pData->szPeerIP));
    pData->szPeerIP[sizeof(pData->szPeerIP) - 1] = '\0';
    pData->wPeerPort = src.wRemotePort;
}

int CServerLinkVRUDPStream::ProcessRecvedData(const VRUDP_RECV_DATA *pStruData) {
    if (!pStruData) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::ProcessRecvedData, NULL == pStruData", Index());
        return 1;
    }
    if (pStruData->enumDataType == 0) {
        SERVER_LINK_DATA struData;
        FillRecord(&struData, *pStruData, SERVER_LINK_MSG_NEW, kKindDatagram, -1, -1);
        PushDataToCallBack(&struData);
        return 1;
    }
    if (pStruData->enumDataType != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::ProcessRecvedData, Invalid enumDataType[%d]", Index(),
                        pStruData->enumDataType);
        Utils_Assert();
        return 0;
    }
    switch (pStruData->dwMsgType) {
    case VRUDP_MSG_FIRST:
        return ProcessNewStream(*pStruData);
    case VRUDP_MSG_DATA:
        return ProcessStreamData(*pStruData, false);
    case VRUDP_MSG_CLOSE:
        return ProcessStreamData(*pStruData, true);
    default:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDPStream::ProcessRecvedData, Invalid dwMsgType[%d]", Index(),
                        pStruData->dwMsgType);
        Utils_Assert();
        return 0;
    }
}

// The owner names the stream on the first data; an accept handle keeps its first stream until
// it is closed.
int CServerLinkVRUDPStream::ProcessNewStream(const VRUDP_RECV_DATA &src) {
    const int iAcceptHandle = src.iVRUDPHandle;
    const bool bValid = ValidAcceptHandle(iAcceptHandle);
    SERVER_LINK_DATA struData;
    FillRecord(&struData, src, SERVER_LINK_MSG_NEW, kKindStream, bValid ? m_aiStreamHandle[iAcceptHandle].load() : -1,
               iAcceptHandle);
    const int iPushed = PushDataToCallBack(&struData);
    const int iStreamHandle = struData.iStreamHandle;
    int iExpected = -1;
    if (iPushed && iStreamHandle != -1 && bValid &&
        m_aiStreamHandle[iAcceptHandle].compare_exchange_strong(iExpected, iStreamHandle))
        return 1;
    if (iPushed) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkVRUDPStream::ProcessRecvedData, Invalid Param, iStreamHandle[%d], iAcceptHandle[%d]",
                        Index(), iStreamHandle, iAcceptHandle);
        Utils_Assert();
    } else {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkVRUDPStream::ProcessRecvedData, PushDataToCallBack Failed, iStreamHandle[%d], "
                        "iAcceptHandle[%d]",
                        Index(), iStreamHandle, iAcceptHandle);
    }
    return 0;
}

// After the stop the entry is free again: the reliable-UDP layer hands the accept handle to a
// later client, which must not inherit this stream.
int CServerLinkVRUDPStream::ProcessStreamData(const VRUDP_RECV_DATA &src, bool bStop) {
    const int iAcceptHandle = src.iVRUDPHandle;
    const int iStreamHandle = ValidAcceptHandle(iAcceptHandle) ? m_aiStreamHandle[iAcceptHandle].load() : -1;
    if (iStreamHandle == -1) {
        if (bStop) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CServerLinkVRUDPStream::ProcessRecvedData, ENUM_R_LINK_STATUS_STOP, Invalid Param, "
                            "iAcceptHandle[%d]",
                            Index(), iAcceptHandle);
        } else {
            LogModule_Write(LOG_LEVEL_ERR,
                            "[%d]CServerLinkVRUDPStream::ProcessRecvedData, ENUM_R_LINK_STATUS_DATA, Invalid Param, "
                            "iAcceptHandle[%d]",
                            Index(), iAcceptHandle);
            Utils_Assert();
        }
        return 0;
    }
    SERVER_LINK_DATA struData;
    FillRecord(&struData, src, bStop ? SERVER_LINK_MSG_END : SERVER_LINK_MSG_DATA, kKindStream, iStreamHandle,
               iAcceptHandle);
    PushDataToCallBack(&struData);
    if (bStop) {
        int iExpected = iStreamHandle;
        m_aiStreamHandle[iAcceptHandle].compare_exchange_strong(iExpected, -1);
    }
    return 1;
}

}  // namespace Vorezi
