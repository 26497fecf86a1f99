#include "transport/serverlink/vrudp/ServerLinkVRUDP.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "internal/MorvaInternal.h"
#include "transport/secure/InterimSecureLink.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

constexpr int kShutDownBoth = 2;
constexpr uint32_t kCloseWaitMs = 5;
constexpr size_t kStatusOffset = 8;
constexpr size_t kDestroyOffset = 12;

// 1024 and more is a size in bytes, 1 to 1023 multiplies the current size, 0 keeps it.
int32_t NewSize(int32_t iCurrent, DWORD dwValue) {
    if (dwValue >= 1024)
        return int32_t(dwValue);
    return dwValue ? iCurrent * int32_t(dwValue) : iCurrent;
}

}  // namespace

CServerLinkVRUDP::~CServerLinkVRUDP() {
    CloseLink();
}

int CServerLinkVRUDP::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkVRUDP::Stop", Index());
    CloseLink();
    return 1;
}

int CServerLinkVRUDP::CreateSocket() {
    m_stFuns.fnNewArray = NewArray;
    m_stFuns.fnDelArray = DelArray;
    m_stFuns.fnWriteLog = LogModule_WriteWithPos;
    const int lHandle = Interim_SecureCreate(&m_stFuns, m_iAf == YAR_AF_INET6 ? 1 : 0, 0);
    if (lHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDP::CreateSocket, Interim_SecureCreate Failed, Addr[%s:%d]", Index(),
                        m_szLocalIP, m_wLocalPort);
        SetError(MORVA_ERR_SOCKET);
        return 0;
    }
    m_lHandle.store(lHandle);
    Interim_SecureServSetRecvFun(lHandle, RecvDataCallback, this);
    // On Linux a second link with reuse-address shares the port, and unicast datagrams then
    // reach only the socket bound last.
    Interim_SecureSetReuseAddr(lHandle, 1);
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkVRUDP::CreateSocket, SUCC, m_lHandle[%d], Addr[%s:%d]", Index(), lHandle,
                    m_szLocalIP, m_wLocalPort);
    return 1;
}

int CServerLinkVRUDP::OpenLink() {
    YAR_ADDR_T struAddr;
    if (!CreateSocket() || !GetLocalAddress(&struAddr)) {
        CloseLink();
        return 0;
    }
    SECURE_SOCK_ADDR addr;
    std::memset(&addr, 0, sizeof(addr));
    YAR_GetAddrStringEx(&struAddr, addr.szAddr, sizeof(addr.szAddr));
    addr.wPort = YAR_GetAddrPort(&struAddr);
    if (!Interim_SecureBind(m_lHandle.load(), &addr)) {
        const int iError = LastError();
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDP::OpenLink, Interim_SecureBind Failed, error[%d], Addr[%s:%d]",
                        Index(), iError, m_szLocalIP, m_wLocalPort);
        CloseLink();
        SetError(iError);
        return 0;
    }
    return 1;
}

int CServerLinkVRUDP::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    const int lHandle = m_lHandle.load();
    if (lHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDP::EnlargeBufferSize, Invalid m_lHandle[%d]", Index(), lHandle);
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    int32_t iSend = 0;
    int32_t iRecv = 0;
    Interim_SecureGetSockBuffSize(lHandle, &iSend, &iRecv);
    const int32_t iNewSend = NewSize(iSend, dwSendMult);
    const int32_t iNewRecv = NewSize(iRecv, dwRecvMult);
    if (!Interim_SecureSetSockBuffSize(lHandle, iNewSend, iNewRecv)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkVRUDP::EnlargeBufferSize, Interim_SecureSetSockBuffSize Failed, m_lHandle[%d], "
                        "nSendSize[%d], nRecvSize[%d]",
                        Index(), lHandle, iNewSend, iNewRecv);
        return 0;
    }
    return 1;
}

// The record's words: dwWord1 is the send time-out, dwWord2 the head's value; the flag bytes
// are the head's bytes 14 and 15 and the raw flag.
int CServerLinkVRUDP::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    const int lHandle = m_lHandle.load();
    if (lHandle == -1 || !pParam) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDP::SendData, Invalid m_lHandle[%d]", Index(), lHandle);
        return -1;
    }
    SECURE_SOCK_ADDR addr;
    std::memset(&addr, 0, sizeof(addr));
    if (pParam->pPeerIP)
        YAR_Strncpy(addr.szAddr, pParam->pPeerIP, sizeof(addr.szAddr) - 1);
    addr.wPort = pParam->wPeerPort;
    SECURE_SEND_DATA send;
    std::memset(&send, 0, sizeof(send));
    send.pAddr = pParam->pPeerIP ? &addr : nullptr;
    send.iSecureHandle = pParam->iAcceptHandle;
    send.dwTimeOut = pParam->dwWord1;
    send.dwCommand = pParam->dwCommand;
    send.dwSequence = pParam->dwSequence;
    send.dwValue = pParam->dwWord2;
    send.byInfoFlag = pParam->byFlag[0];
    send.bySenderByte = pParam->byFlag[1];
    send.byRaw = pParam->byFlag[2];
    send.pData = reinterpret_cast<const uint8_t *>(pParam->pData);
    send.dwDataLen = pParam->dwDataLen;
    const int iRet = Interim_SecureServSendTo(lHandle, &send);
    if (iRet < 0)
        LogModule_Write(LOG_LEVEL_DBG,
                        "[%d]CServerLinkVRUDP::SendData, Interim_SecureServSendTo Failed, m_lHandle[%d], dwCommand[%d], "
                        "dwSequence[0x%X], error[%d], Addr[%s:%d]",
                        Index(), lHandle, (int)pParam->dwCommand, pParam->dwSequence,
                        LastError(), addr.szAddr, addr.wPort);
    return iRet;
}

int CServerLinkVRUDP::SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) {
    const int lHandle = m_lHandle.load();
    if (lHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkVRUDP::SetInfo, Invalid m_lHandle[%d], iSecureLinkHandle[%d]", Index(),
                        lHandle, iAcceptHandle);
        return -1;
    }
    return Interim_SecureSetInfo(iAcceptHandle, dwCommand, pBuf, iBufLen);
}

int CServerLinkVRUDP::CloseAcceptHandle(int iAcceptHandle) {
    Interim_SecureServCloseRemote(m_lHandle.load(), iAcceptHandle);
    return 0;
}

int CServerLinkVRUDP::CloseLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkVRUDP::CloseLink, m_lHandle[%d], Addr[%s:%d]", Index(), m_lHandle.load(),
                    m_szLocalIP, m_wLocalPort);
    const int lHandle = m_lHandle.exchange(-1);
    if (lHandle == -1)
        return 1;
    Interim_SecureShutDown(lHandle, kShutDownBoth);
    YAR_Sleep(kCloseWaitMs);
    Interim_SecureClose(lHandle);
    return 1;
}

void CServerLinkVRUDP::RecvDataCallback(int32_t, SECURE_CALLBACK_DATA *pSecureData, void *pUserData) {
    if (!pSecureData || !pUserData) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkVRUDP::RecvDataCallback, Invalid Param, pSecureData[0x%X], pUserData[0x%X]",
                        (unsigned)(uintptr_t)pSecureData, (unsigned)(uintptr_t)pUserData);
        return;
    }
    auto *pLink = static_cast<CServerLinkVRUDP *>(pUserData);
    SERVER_LINK_DATA struData;
    pLink->InitRecord(&struData, SERVER_LINK_MSG_NEW, SERVER_LINK_PRO_UDP, -1, -1);
    struData.pData = const_cast<char *>(reinterpret_cast<const char *>(pSecureData->pData));
    struData.dwDataLen = pSecureData->dwDataLen;
    static_assert(sizeof(struData.byAreaB) == sizeof(pSecureData->byInfo), "the information block fills area B");
    std::memcpy(struData.byAreaB, pSecureData->byInfo, sizeof(struData.byAreaB));
    YAR_Strncpy(struData.szPeerIP, pSecureData->szAddr, sizeof(struData.szPeerIP) - 1);
    struData.wPeerPort = pSecureData->wPort;
    pLink->PushDataToCallBack(&struData);
    std::memcpy(&pSecureData->bDestroy, struData.byMqttBlock + kDestroyOffset, sizeof(int32_t));
    std::memcpy(&pSecureData->iStatus, struData.byMqttBlock + kStatusOffset, sizeof(int32_t));
}

}  // namespace Vorezi
