#include "transport/secure/SecureLinkListenSession.h"

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/secure/SecurePacket.h"
#include "transport/secure/SecureServerLinkSession.h"
#include "transport/vrudp/VRUDPClock.h"

namespace Vorezi {
namespace secure {
namespace {

constexpr int kAfInet = 2;
constexpr int kAfInet6 = 23;

CSecureServerLinkMgr *ServerMgr() {
    return GetCoreGlobalCtrl()->GetSecureLinkMgr();
}

} // namespace

CSecureLinkListenSession::~CSecureLinkListenSession() {
    CleanParam();
}

int CSecureLinkListenSession::Start(void *pParam) {
    m_iHandle = GetMemberIndex();
    m_table.SetOwner(m_iHandle);
    if (pParam == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::Start, NULL == pParams", m_iHandle);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    m_stParam = *static_cast<const SECURE_LISTEN_PARAM *>(pParam);
    VRUDP_CREATE_COND cond;
    memset(&cond, 0, sizeof(cond));
    cond.iAf = m_stParam.iAddressType == 1 ? kAfInet6 : kAfInet;
    cond.enumType = ENUM_VRUDP_TYPE_ENDPOINT;
    cond.enumMode = ENUM_VRUDP_MODE_SERVER;
    const int iVRUDPHandle = COM_VRUDP_Create(&cond);
    if (iVRUDPHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::Start, COM_VRUDP_Create Failed", m_iHandle);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_iVRUDPListenHandle.store(iVRUDPHandle);
    if (!m_table.Create()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::Start, New m_arrayLinkInfo Failed", m_iHandle);
        CleanParam();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!COM_VRUDP_Listen(iVRUDPHandle, this, VRUDPRecvDataCallback)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::Start, COM_VRUDP_Listen Failed, m_iVRUDPListenHandle[%d]",
                        m_iHandle, iVRUDPHandle);
        CleanParam();
        return 0;
    }
    return 1;
}

int CSecureLinkListenSession::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureLinkListenSession::Stop", m_iHandle);
    return CleanParam();
}

void CSecureLinkListenSession::CloseEndpoint() {
    m_bStopping.store(true);
    const int iVRUDPHandle = m_iVRUDPListenHandle.exchange(-1);
    if (iVRUDPHandle < 0)
        return;
    LogModule_Write(LOG_LEVEL_DBG, "CSecureLinkListenSession::CleanParam, COM_VRUDP_Close, m_iVRUDPListenHandle[%d]",
                    iVRUDPHandle);
    COM_VRUDP_Close(iVRUDPHandle);
}

// The endpoint goes first: closing it joins the threads that run the receive callback, so no
// packet can reach a server session or the table while they are destroyed.
int CSecureLinkListenSession::CleanParam() {
    CloseEndpoint();
    if (m_table.IsCreated()) {
        CSecureServerLinkMgr *pMgr = ServerMgr();
        for (int iSecureHandle : m_table.TakeAll()) {
            if (pMgr != nullptr)
                pMgr->Destroy(iSecureHandle, true);
        }
        m_table.Release();
    }
    m_fnDataCB.store(nullptr);
    m_pUserData.store(nullptr);
    return 1;
}

int CSecureLinkListenSession::SetDataCB(SECURE_DATA_CALLBACK fnDataCB, void *pUserData) {
    m_pUserData.store(pUserData);
    m_fnDataCB.store(fnDataCB);
    return 1;
}

void CSecureLinkListenSession::VRUDPRecvDataCallback(void *pUserData, VRUDP_RECV_DATA *pStruData) {
    if (pUserData == nullptr || pStruData == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CSecureLinkListenSession::VRUDPRecvDataCallback, Invalid Param, pUserdata[0x%X], pStruData[0x%X]",
                        unsigned(uintptr_t(pUserData)), unsigned(uintptr_t(pStruData)));
        return;
    }
    static_cast<CSecureLinkListenSession *>(pUserData)->OnRecv(*pStruData);
}

void CSecureLinkListenSession::OnRecv(const VRUDP_RECV_DATA &data) {
    if (m_bStopping.load())
        return;
    SECURE_RECV_DATA recv;
    memset(&recv, 0, sizeof(recv));
    recv.iKind = data.dwMsgType;
    recv.iVRUDPHandle = data.iVRUDPHandle;
    recv.pData = data.pData;
    recv.dwDataLen = data.iDataLen > 0 ? uint32_t(data.iDataLen) : 0;
    recv.pDeviceID = "";
    memcpy(recv.szAddr, data.szRemoteAddr, sizeof(recv.szAddr));
    recv.szAddr[SECURE_ADDR_LEN - 1] = '\0';
    recv.wPort = data.wRemotePort;
    if (data.enumDataType == 0) {
        if (ClassifySecurePacket(recv.pData, recv.dwDataLen) == SecurePacketKind::Other) {
            DataCallBack(recv);
            return;
        }
        recv.bWithoutVRUDP = 1;
        recv.iVRUDPHandle = m_iVRUDPListenHandle.load();
    } else if (data.enumDataType != 1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CSecureLinkListenSession::VRUDPRecvDataCallback, Invalid enumDataType[%d], dwDataLen[%d], "
                        "Addr[%s:%d]",
                        data.enumDataType, data.iDataLen, recv.szAddr, recv.wPort);
        return;
    }
    ProcSecureData(recv);
}

int CSecureLinkListenSession::ProcSecureData(const SECURE_RECV_DATA &recv) {
    CSecureServerLinkMgr *pMgr = ServerMgr();
    if (pMgr == nullptr)
        return 0;
    int iSecureHandle = -1;
    if (recv.bWithoutVRUDP) {
        ClearTimeOutLinkSession();
        iSecureHandle = m_table.FindWithAddr(recv.szAddr, recv.wPort);
    } else {
        iSecureHandle = m_table.Find(recv.iVRUDPHandle);
    }
    if (recv.iKind == SECURE_RECV_LINK_CLOSED) {
        // A close notice of a link without a session makes none.
        if (iSecureHandle >= 0) {
            LogModule_Write(LOG_LEVEL_DBG,
                            "[%d]CSecureLinkListenSession::ProcSecureData, Link Close, Destroy, iSecureHandle[%d], "
                            "iAcceptHandle[%d], Addr[%s:%d], dwSequence[0x%X]",
                            m_iHandle, iSecureHandle, recv.iVRUDPHandle, recv.szAddr, recv.wPort, recv.dwSequence);
            DestroyServerSession(iSecureHandle, true);
        }
        return 1;
    }
    if (iSecureHandle < 0) {
        iSecureHandle = CreateServerSession(recv);
        if (iSecureHandle < 0)
            return 0;
    }
    const int iStatus = pMgr->InputData(iSecureHandle, &recv, 0);
    switch (iStatus) {
    case ENUM_PROCDATA_SUCC:
        return 1;
    case ENUM_PROCDATA_KEEP_ALIVE:
        m_table.Touch(iSecureHandle, VRUDP_GetTickMs());
        return 1;
    case ENUM_PROCDATA_DESTROY_SESSION:
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CSecureLinkListenSession::ProcSecureData, InputData return ENUM_PROCDATA_DESTROY_SESSION, "
                        "iSecureHandle[%d], Addr[%s:%d], dwSequence[0x%X],iAcceptHandle[%d]",
                        m_iHandle, iSecureHandle, recv.szAddr, recv.wPort, recv.dwSequence, recv.iVRUDPHandle);
        DestroyServerSession(iSecureHandle, false);
        return 0;
    default:
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureLinkListenSession::ProcSecureData, Invalid enumStatus[%d], iSecureHandle[%d], "
                        "Addr[%s:%d], dwSequence[0x%X]",
                        m_iHandle, iStatus, iSecureHandle, recv.szAddr, recv.wPort, recv.dwSequence);
        return 0;
    }
}

int CSecureLinkListenSession::CreateServerSession(const SECURE_RECV_DATA &recv) {
    CSecureServerLinkMgr *pMgr = ServerMgr();
    SECURE_SERVER_CREATE create;
    memset(&create, 0, sizeof(create));
    create.iListenHandle = m_iHandle;
    memcpy(create.szAddr, recv.szAddr, sizeof(create.szAddr));
    create.wPort = recv.wPort;
    create.bWithoutVRUDP = recv.bWithoutVRUDP ? 1 : 0;
    create.pData = recv.pData;
    create.dwDataLen = recv.dwDataLen;
    create.fnDataCB = m_fnDataCB.load();
    create.pUserData = m_pUserData.load();
    create.iVRUDPHandle = recv.iVRUDPHandle;
    const int iSecureHandle = pMgr ? pMgr->Create(&create) : -1;
    if (iSecureHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CSecureLinkListenSession::ProcSecureData, Create Failed, iSecureHandle[%d], "
                        "iAcceptHandle[%d], Addr[%s:%d], dwContentLen[%d], dwSequence[0x%X]",
                        m_iHandle, iSecureHandle, recv.iVRUDPHandle, recv.szAddr, recv.wPort, int(recv.dwDataLen),
                        recv.dwSequence);
        return -1;
    }
    SECURE_LINK_INFO info;
    memset(&info, 0, sizeof(info));
    info.iVRUDPHandle = recv.iVRUDPHandle;
    memcpy(info.szAddr, recv.szAddr, sizeof(info.szAddr));
    info.wPort = recv.wPort;
    m_table.Add(iSecureHandle, info, recv.bWithoutVRUDP != 0);
    LogModule_Write(LOG_LEVEL_DBG,
                    "[%d]CSecureLinkListenSession::ProcSecureData, Create CSecureServerLinkSession SUCC, "
                    "iSecureHandle[%d], Addr[%s:%d], WithoutVRUDP[%d], iVRUDPHandle[%d], dwSequence[0x%X]",
                    m_iHandle, iSecureHandle, recv.szAddr, recv.wPort, recv.bWithoutVRUDP, recv.iVRUDPHandle,
                    recv.dwSequence);
    return iSecureHandle;
}

// The entry goes first: only the caller that freed it destroys the session, and the handle
// cannot be reused for a new peer before the entry is gone.
void CSecureLinkListenSession::DestroyServerSession(int iSecureHandle, bool bLinkGone) {
    if (!m_table.Del(iSecureHandle))
        return;
    if (CSecureServerLinkMgr *pMgr = ServerMgr())
        pMgr->Destroy(iSecureHandle, bLinkGone);
}

void CSecureLinkListenSession::ClearTimeOutLinkSession() {
    for (int iSecureHandle : m_table.TakeExpired(VRUDP_GetTickMs(), SECURE_PEER_TIMEOUT_MS)) {
        if (CSecureServerLinkMgr *pMgr = ServerMgr())
            pMgr->Destroy(iSecureHandle, false);
    }
}

int CSecureLinkListenSession::CloseRemoteLink(int iSecureHandle) {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CSecureLinkListenSession::CloseRemoteLink, iSecureHandle[%d]", m_iHandle,
                    iSecureHandle);
    CSecureServerLinkMgr *pMgr = ServerMgr();
    if (pMgr == nullptr)
        return 0;
    // From inside that session's own callback its read lock is held on this thread: the close
    // happens when the callback returns.
    if (iSecureHandle == CSecureServerLinkSession::CallbackHandleOnThisThread())
        return pMgr->RequestClose(iSecureHandle);
    if (!m_table.Del(iSecureHandle) || !pMgr->Destroy(iSecureHandle, false)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CSecureLinkListenSession::CloseRemoteLink Destroy Failed, iSecureHandle[%d]",
                        m_iHandle, iSecureHandle);
        return 0;
    }
    return 1;
}

void CSecureLinkListenSession::DataCallBack(const SECURE_RECV_DATA &recv) {
    SECURE_DATA_CALLBACK fnDataCB = m_fnDataCB.load();
    if (fnDataCB == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "CSecureLinkListenSession::DataCallBack, NULL == m_fnDataCB || NULL == pRecvData");
        return;
    }
    SECURE_CALLBACK_DATA data;
    memset(&data, 0, sizeof(data));
    data.pData = recv.pData;
    data.dwDataLen = recv.dwDataLen;
    memcpy(data.szAddr, recv.szAddr, sizeof(data.szAddr));
    data.wPort = recv.wPort;
    fnDataCB(-1, &data, m_pUserData.load());
}

int CSecureLinkListenSession::Bind(const VRUDP_SOCK_ADDR *pAddr) {
    return COM_VRUDP_Bind(m_iVRUDPListenHandle.load(), pAddr);
}

int CSecureLinkListenSession::GetSockBuffSize(int *piSend, int *piRecv) {
    return COM_VRUDP_GetSockBuffSize(m_iVRUDPListenHandle.load(), piSend, piRecv);
}

int CSecureLinkListenSession::SetSockBuffSize(int iSend, int iRecv) {
    return COM_VRUDP_SetSockBuffSize(m_iVRUDPListenHandle.load(), iSend, iRecv);
}

int CSecureLinkListenSession::SendData(const void *pData, int iLen, const VRUDP_SOCK_ADDR *pAddr, uint32_t dwTimeOut) {
    return COM_VRUDP_SendTo(m_iVRUDPListenHandle.load(), pData, iLen, pAddr, dwTimeOut);
}

int CSecureLinkListenSession::SetMTUSize(uint16_t wMTU) {
    return COM_VRUDP_SetMTUSize(m_iVRUDPListenHandle.load(), wMTU);
}

int CSecureLinkListenSession::SetNoBlock(int bYesNo) {
    return COM_VRUDP_SetNoBlock(m_iVRUDPListenHandle.load(), bYesNo);
}

int CSecureLinkListenSession::SetReuseAddr(int bYesNo) {
    return COM_VRUDP_SetReuseAddr(m_iVRUDPListenHandle.load(), bYesNo);
}

// The endpoint counts ENOTCONN of its unconnected socket as success.
int CSecureLinkListenSession::ShutDown(int iHow) {
    return COM_VRUDP_ShutDown(m_iVRUDPListenHandle.load(), iHow);
}

} // namespace secure
} // namespace Vorezi
