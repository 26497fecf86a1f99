#include "transport/serverlink/tcp/ServerLinkMQTT.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "crypto/SSLTrans.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/server/InterimMqttServer.h"

namespace Vorezi {

namespace {

constexpr int kMaxSessionHandle = 0x7ffffffe;

template <size_t N, size_t M>
void CopyField(BYTE (&dst)[N], const char (&src)[M]) {
    static_assert(N >= M, "record field too small");
    std::memcpy(dst, src, M);
}

}  // namespace

CServerLinkMQTT::~CServerLinkMQTT() {
    m_pTcpLink.reset();
}

int CServerLinkMQTT::Start(void *pParam) {
    const auto *pCond = static_cast<const SERVER_LINK_COND *>(pParam);
    if (!pCond) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::Start, pCond == NULL", Index());
        Utils_Assert();
        return 0;
    }
    TakeAddressAndTimes(*pCond);
    SetDataCallBack(pCond->fnDataCallBack, pCond->pUserData);
    if (!CreateMqttLink(*pCond)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::Start, CreateMqttLink Failed, Addr[%s:%d]", Index(),
                        m_szLocalIP, m_wLocalPort);
        CloseLink();
        return 0;
    }
    if (!StartSever()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::Start, StartSever Failed, Addr[%s:%d]", Index(), m_szLocalIP,
                        m_wLocalPort);
        CloseLink();
        return 0;
    }
    SetManagerMode(pCond->byManagerMode);
    SetReady();
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkMQTT::Start, SUCC, Addr[%s:%d], m_byManagerMode[%d]", Index(),
                    m_szLocalIP, m_wLocalPort, m_byManagerMode);
    return 1;
}

int CServerLinkMQTT::CreateMqttLink(const SERVER_LINK_COND &cond) {
    const size_t uIPLen = cond.pLocalIP ? std::strlen(cond.pLocalIP) : 0;
    if (uIPLen >= 129) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::CreateMqttLink, Invalid dwLocalIPLen[%d]", Index(),
                        int(uIPLen));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    // The settings come first: a connection can be accepted as soon as the embedded link runs.
    m_Setup = {cond.dwSecondTimeOut ? cond.dwSecondTimeOut : kMqttDefaultInterval,
               cond.dwRecvTimeOut ? cond.dwRecvTimeOut : kMqttDefaultAliveTimeout, kMqttDefaultHeartbeat,
               RecvDataCallback, this};
    SERVER_LINK_COND tcp;
    std::memset(&tcp, 0, sizeof(tcp));
    tcp.pLocalIP = cond.pLocalIP;
    tcp.wLocalPort = cond.wLocalPort;
    tcp.byProType = SERVER_LINK_PRO_TCP;
    tcp.byManagerMode = 1;
    tcp.fnDataCallBack = ServerDataCallBack;
    tcp.pUserData = this;
    m_pTcpLink.reset(new (-1) CServerLinkTCP());
    if (m_pTcpLink)
        m_pTcpLink->SetMemberIndex(Index());
    if (!m_pTcpLink || !m_pTcpLink->Start(&tcp)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::Start, Start Server Failed, error[%d], Addr[%s:%d]", Index(),
                        LastError(), m_szLocalIP, m_wLocalPort);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "[0x%X]CServerLinkMQTT::Start, SUCC, m_iListenHandle[%d], Addr[%s:%d]",
                    MORVA_PTR_ARG(this), Index(), m_szLocalIP, m_wLocalPort);
    // The sessions' payload crypto needs the TLS library: prove now that it loads.
    // The Interim_ pair: the link exists only while initialised, and the init check would take
    // the control lock under this link's write lock.
    CSSLTrans *pTrans = Interim_CreateSSLTransEx(0);
    if (!pTrans) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMQTT::CreateMqttLink, Morva_CreateSSLTrans Failed, error[%d]",
                        LastError());
        return 0;
    }
    Interim_DestroySSLTrans(pTrans);
    return 1;
}

int CServerLinkMQTT::OpenLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkMQTT::OpenLink", Index());
    return 1;
}

int CServerLinkMQTT::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkMQTT::Stop, Addr[%s:%d]", Index(), m_szLocalIP, m_wLocalPort);
    CloseLink();
    return 1;
}

int CServerLinkMQTT::CloseLink() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CServerLinkMQTT::CloseLink, Addr[%s:%d]", Index(), m_szLocalIP, m_wLocalPort);
    if (!m_bDestroyLink.exchange(1) && m_pTcpLink)
        m_pTcpLink->Stop();
    Interim_MqttServerCloseByListen(Index());
    return 1;
}

int CServerLinkMQTT::CloseAcceptHandle(int iAcceptHandle) {
    if (iAcceptHandle < 0 || iAcceptHandle > kMaxSessionHandle)
        return -1;
    Interim_MqttServerClose(iAcceptHandle);
    return 0;
}

int CServerLinkMQTT::SendData(const SERVER_LINK_SEND_PARAM *pParam) {
    if (m_bDestroyLink.load()) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::SendData, Link has been destoryed, m_bDestroyLink[%d]",
                        Index(), m_bDestroyLink.load());
        return -1;
    }
    if (!pParam)
        return -1;
    const BYTE byNaked = pParam->byFlag[2];
    const int iSent = Interim_MqttServerSend(pParam->iAcceptHandle, pParam->byType,
                                             reinterpret_cast<const BYTE *>(pParam->pData), pParam->dwDataLen, byNaked);
    if (iSent == -1)
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkMQTT::SendData, Interim_MqttServerSend Failed, iAcceptHandle[%d], msgType[%d], "
                        "iBufLen[%d], byNaked[%d]",
                        Index(), pParam->iAcceptHandle, pParam->byType, int(pParam->dwDataLen), byNaked);
    return iSent;
}

int CServerLinkMQTT::SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) {
    if (m_bDestroyLink.load() || iAcceptHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::SetInfo, Link Destoryed or Invalid Handle[%d], dwCommand[%d]",
                        Index(), iAcceptHandle, int(dwCommand));
        return -1;
    }
    return Interim_MqttServerSetInfo(iAcceptHandle, dwCommand, pBuf, iBufLen < 0 ? 0 : DWORD(iBufLen));
}

int CServerLinkMQTT::EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) {
    const int iHandle = m_iAcceptHandle.load();
    if (iHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::EnlargeBufferSize, Invalid m_iAcceptHandle[%d]", Index(),
                        iHandle);
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    if (!Interim_MqttServerSetBuffSize(iHandle, dwSendMult, dwRecvMult)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CServerLinkMQTT::EnlargeBufferSize, Interim_MqttServerSetBuffSize Failed, m_iAcceptHandle[%d]",
                        Index(), iHandle);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG,
                    "[%d]CServerLinkMQTT::EnlargeBufferSize, SUCC, m_iAcceptHandle[%d], dwSndMult[%d], dwRcvMult[%d]",
                    Index(), iHandle, int(dwSendMult), int(dwRecvMult));
    return 1;
}

int CServerLinkMQTT::ServerDataCallBack(void *pUserData, SERVER_LINK_DATA *pData) {
    auto *pThis = static_cast<CServerLinkMQTT *>(pUserData);
    if (!pThis || !pData) {
        LogModule_Write(LOG_LEVEL_ERR, "CServerLinkMQTT::ServerDataCallBack, NULL == pUserData");
        SetError(MORVA_ERR_NO_USER);
        return 0;
    }
    if (pData->dwMsgType != SERVER_LINK_MSG_NEW) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CServerLinkMQTT::ServerDataCallBack, Invalid dwMsgType[%d]", pThis->Index(),
                        int(pData->dwMsgType));
        return 0;
    }
    CServerLinkTCP *pTcp = pThis->m_pTcpLink.get();
    return MqttAcceptSocket("CServerLinkMQTT", pThis->Index(), *pData, pThis->m_Setup, &pThis->m_iWaitTime,
                            [pTcp](int iWait) { pTcp->SetInfo(0, SERVER_LINK_CMD_ACCEPT_WAIT, &iWait, int(sizeof(iWait))); });
}

int CServerLinkMQTT::RecvDataCallback(int iHandle, MORVA_MQTT_MSG *pMsg, void *pUserData) {
    auto *pThis = static_cast<CServerLinkMQTT *>(pUserData);
    if (!pMsg || !pThis) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CServerLinkMQTT::RecvDataCallback, Invalid Param, pData[0x%X], pUserData[0x%X], iMQTTHandle[%d]",
                        MORVA_PTR_ARG(pMsg), MORVA_PTR_ARG(pUserData), iHandle);
        return 0;
    }
    return pThis->OnSessionEvent(iHandle, *pMsg);
}

int CServerLinkMQTT::OnSessionEvent(int iHandle, const MORVA_MQTT_MSG &msg) {
    // A link being destroyed holds its write lock: an owner called now could not reach it.
    if (m_bDestroyLink.load())
        return 0;
    m_iAcceptHandle = iHandle;
    SERVER_LINK_DATA data;
    InitRecord(&data, SERVER_LINK_MSG_NEW, SERVER_LINK_PRO_MQTT, -1, iHandle);
    data.iStatus = msg.iStatus;
    data.dwMqttWord = DWORD(msg.iMsgType);
    data.pData = static_cast<char *>(const_cast<void *>(msg.pData));
    data.dwDataLen = msg.iDataLen < 0 ? 0 : DWORD(msg.iDataLen);
    CopyField(data.byAreaA, msg.szClientId);
    CopyField(data.byAreaB, msg.szUserName);
    std::memcpy(data.szPeerIP, msg.szRemoteAddr, sizeof(data.szPeerIP));
    data.wPeerPort = msg.wRemotePort;
    CopyField(data.byMqttText, msg.szLocalAddr);
    data.wMqttValue = msg.wLocalPort;
    data.dwMqttValue1 = DWORD(msg.bWillDelivered);
    std::memcpy(data.byMqttBlock, msg.byRes, sizeof(data.byMqttBlock));
    data.dwMqttValue2 = DWORD(msg.iMessageID);
    CopyField(data.byMqttTopic, msg.szTopic);
    data.dwMqttValue3 = msg.byAlgorithm;
    return PushDataToCallBack(&data);
}

}  // namespace Vorezi
