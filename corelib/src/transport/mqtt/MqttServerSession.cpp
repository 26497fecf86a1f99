#include "transport/mqtt/MqttServerSession.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "Module/TimerProxy/TimerProxyMgr.h"
#include "Utils/Utils.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/MqttLongLink.h"

namespace Vorezi {

namespace {

constexpr int kErrRecvParam = 9;

thread_local int t_iSessionCallbackDepth = 0;
thread_local CMqttServerSession *t_pCallbackSession = nullptr;

// Marks the thread for the length of one delivery or heartbeat call of a session.
class SessionCallbackScope {
public:
    explicit SessionCallbackScope(CMqttServerSession *pSession) : m_pOuter(t_pCallbackSession) {
        ++t_iSessionCallbackDepth;
        t_pCallbackSession = pSession;
    }
    ~SessionCallbackScope() {
        --t_iSessionCallbackDepth;
        t_pCallbackSession = m_pOuter;
    }
    SessionCallbackScope(const SessionCallbackScope &) = delete;
    SessionCallbackScope &operator=(const SessionCallbackScope &) = delete;

private:
    CMqttServerSession *m_pOuter;
};

}  // namespace

bool CMqttServerSession::InSessionCallback() {
    return t_iSessionCallbackDepth > 0;
}

CMqttServerSession *CMqttServerSession::CallbackSession() {
    return t_pCallbackSession;
}

void CMqttServerSession::RequestClose() {
    m_bCloseCallBack = 1;
    m_bCloseRequested = 1;
}

DWORD CMqttServerSession::LimitCount(DWORD dwAliveTimeout, DWORD dwHeartbeatInterval) {
    const DWORD dwLimit = dwHeartbeatInterval ? dwAliveTimeout / dwHeartbeatInterval : 0;
    return dwLimit ? dwLimit : 1;
}

CMqttServerSession::CMqttServerSession() = default;

CMqttServerSession::~CMqttServerSession() {
    UnregisterHeartbeat();
    m_pAuthenticator.reset();
    m_SavedConnect = MqttFrame();
    m_Parser.Reset();
    if (m_pLink && m_bLinkOpen.exchange(0))
        m_pLink->CloseLink(1);
    m_pLink.reset();
}

int CMqttServerSession::Start(void *pParam) {
    const auto *pServerParam = static_cast<const MQTT_SERVER_PARAM *>(pParam);
    // The checks of StartOnLink come before the link is made from the socket.
    if (!pServerParam || !pServerParam->fnCB)
        return StartOnLink(pServerParam, nullptr, m_iMgrHeartbeatProxy);
    return StartOnLink(pServerParam, CMqttLongLink::Create(*pServerParam, GetMemberIndex()), m_iMgrHeartbeatProxy);
}

int CMqttServerSession::StartOnLink(const MQTT_SERVER_PARAM *pServerParam, std::unique_ptr<CMqttClientLink> pLink,
                                    int iHeartbeatProxy) {
    const int iIndex = GetMemberIndex();
    if (!pServerParam) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Start, pServerParam == NULL", iIndex);
        return 0;
    }
    if (!pServerParam->fnCB) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Start, fnCB == NULL", iIndex);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!pLink) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::Start, CreateLink Failed, socket[%d], iListenHandle[%d], "
                        "m_LongCtrl[0x%X]",
                        iIndex, pServerParam->iSocket, pServerParam->iListenHandle, 0u);
        return 0;
    }
    m_Param = *pServerParam;
    if (m_pLink) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Start, HasCreateLink True, CloseLink, m_LongCtrl[0x%X]",
                        iIndex, MORVA_PTR_ARG(m_pLink.get()));
        if (m_bLinkOpen.exchange(0))
            m_pLink->CloseLink(0);
    }
    m_pLink = std::move(pLink);
    m_Parser.SetSessionIndex(iIndex);
    m_pLink->GetLocalAddr(m_szLocalAddr, &m_wLocalPort);
    m_pLink->GetRemoteAddr(m_szRemoteAddr, &m_wRemotePort);
    m_dwLimitCnt = LimitCount(m_Param.dwAliveTimeout, m_Param.dwHeartbeatInterval);
    m_bLinkOpen = 1;
    // Registered before receiving starts: a failed registration then leaves no receive posted on
    // the socket the link must let go of.
    if (!RegisterToHeartbeatProxy(iHeartbeatProxy)) {
        m_bLinkOpen = 0;
        m_pLink->ForgetSocket();
        return 0;
    }
    if (!m_pLink->StartRecv(ProMqttClientDataCBStatic, this)) {
        UnregisterHeartbeat();
        m_bLinkOpen = 0;
        m_pLink->ForgetSocket();
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::Start Failed, error[%d], m_LongCtrl[0x%X]", iIndex,
                        LastError(), MORVA_PTR_ARG(m_pLink.get()));
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG,
                    "[%d]CMqttServerSession::Start, SUCC, Addr[%s:%d], socket[%d], m_LongCtrl[0x%X], "
                    "m_dwTimeoutLimitCount[%d], dwIntervalTime[%d]",
                    iIndex, m_szRemoteAddr, m_wRemotePort, m_Param.iSocket, MORVA_PTR_ARG(m_pLink.get()),
                    int(m_dwLimitCnt.load()), int(m_Param.dwIntervalTime));
    return 1;
}

int CMqttServerSession::RegisterToHeartbeatProxy(int iHeartbeatProxy) {
    TIMER_PROXY_REGISTER_PARAM reg = {};
    reg.dwSessionIndex = DWORD(GetMemberIndex());
    reg.byRemoveOnZero = 1;
    reg.pUserData = this;
    reg.fnDataCallBack = HeartbeatProxy;
    if (!Interim_RigisterTimerProxy(iHeartbeatProxy, &reg)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::RegisterToHeartbeatProxy, Interim_RigisterTimerProxy Failed, "
                        "error[%d]",
                        GetMemberIndex(), LastError());
        return 0;
    }
    m_iHeartbeatProxy = iHeartbeatProxy;
    m_iHeartbeatRegID = GetMemberIndex();
    return 1;
}

void CMqttServerSession::UnregisterHeartbeat() {
    const int iReg = m_iHeartbeatRegID.exchange(-1);
    if (iReg >= 0)
        Interim_UnRigisterTimerProxy(m_iHeartbeatProxy, iReg);
}

int CMqttServerSession::Stop() {
    LogModule_Write(LOG_LEVEL_DBG, "[%d]CMqttServerSession::Stop, Addr[%s:%d], m_LongCtrl[0x%X]", GetMemberIndex(),
                    m_szRemoteAddr, m_wRemotePort, MORVA_PTR_ARG(m_pLink.get()));
    Shut();
    m_pAuthenticator.reset();
    return 1;
}

void CMqttServerSession::Shut(int bForce) {
    UnregisterHeartbeat();
    // A delivered will means the client is gone for good: no graceful close.
    if (m_pLink && m_bLinkOpen.exchange(0))
        m_pLink->CloseLink(bForce || m_bWillDelivered.load());
}

int CMqttServerSession::ProMqttClientDataCBStatic(void *pSession, const BYTE *pData, DWORD dwLen, DWORD dwStatus) {
    SessionCallbackScope scope(static_cast<CMqttServerSession *>(pSession));
    CMqttServerSession *pThis = static_cast<CMqttServerSession *>(pSession);
    if (!pThis) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerSession::ProMqttClientDataCBStatic, pSession == NULL");
        return 0;
    }
    if (!pData || dwLen == 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::ProMqttClientDataCBStatic, Invalid Param, Callback MSG_PRIVATE_ERROR, "
                        "pRecvdata[0x%X], dwDatalen[%d], dwStatus[%d]",
                        pThis->GetMemberIndex(), MORVA_PTR_ARG(pData), int(dwLen), int(dwStatus));
        pThis->PostMqttMessage(MSG_PRIVATE_ERROR, nullptr, int(dwStatus));
        SetError(kErrRecvParam);
        return 0;
    }
    return pThis->ProMqttClientDataCB(pData, dwLen, dwStatus);
}

int CMqttServerSession::ProMqttClientDataCB(const BYTE *pData, DWORD dwLen, DWORD dwStatus) {
    m_dwLastStats = int(dwStatus);
    if (dwStatus == MQTT_LINK_TIMEOUT)
        return 1;
    if (dwStatus != MQTT_LINK_DATA) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::ProMqttClientDataCB, m_dwRecvTimeOutCnt[%d], Other dwStatus[%d]",
                        GetMemberIndex(), int(m_dwRecvTimeOutCnt.load()), int(dwStatus));
        return 0;
    }
    // The host has been told the session failed: nothing more is read or answered.
    if (m_bCloseCallBack.load())
        return 0;
    ResetTimeoutCounter();
    SetError(MORVA_ERR_SUCCESS);
    if (m_Parser.ParseByteStream(pData, dwLen) && ProcessFrameData())
        return 1;
    // A refused frame that set no code of its own reports a parse fault.
    m_dwLastStats = LastError();
    if (m_dwLastStats == MORVA_ERR_SUCCESS)
        m_dwLastStats = MORVA_ERR_CHAR_ENCODE;
    LogModule_Write(LOG_LEVEL_ERR,
                    "[%d]CMqttServerSession::ProMqttClientDataCB, RecvData Failed, MSG_PRIVATE_ERROR, "
                    "pRecvdata[0x%X], dwDatalen[%d], m_dwLastStats[%d]",
                    GetMemberIndex(), MORVA_PTR_ARG(pData), int(dwLen), m_dwLastStats);
    m_Parser.Reset();
    PostMqttMessage(MSG_PRIVATE_ERROR, nullptr, m_dwLastStats);
    return 0;
}

void CMqttServerSession::ResetTimeoutCounter() {
    LogModule_Write(MQTT_LOG_DETAIL,
                    "[%d]CMqttServerSession::ResetTimoutCounter, m_dwRecvTimeOutCount[%d], m_dwTimeoutLimitCount[%d]",
                    GetMemberIndex(), int(m_dwRecvTimeOutCnt.load()), int(m_dwLimitCnt.load()));
    m_dwRecvTimeOutCnt = 0;
}

int CMqttServerSession::ProcessFrameData() {
    MqttFrame frame;
    while (!m_bCloseCallBack.load() && m_Parser.Dequeue(&frame)) {
        if (!frame.pData) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessFrameData, Frame Buffer is NULL",
                            GetMemberIndex());
            m_Parser.Reset();
            return 0;
        }
        if (!ProcessOneFrame(frame)) {
            m_Parser.Reset();
            m_enumState = MQTT_STATE_INIT;
            return 0;
        }
    }
    return 1;
}

int CMqttServerSession::IsMqttConnect(const MqttFrame &frame) const {
    return CMqttParser::GetConnectClass(frame) == MQTT_CONNECT_STANDARD &&
           m_Parser.CheckProtocolName(frame) == MQTT_CHECK_PROTOCOL_MQTT;
}

// Runs the state machine on one frame until the frame is used up.
int CMqttServerSession::ProcessOneFrame(MqttFrame &frame) {
    const int iIndex = GetMemberIndex();
    for (;;) {
        const int iState = m_enumState.load();
        LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::ProcessFrameData, m_enumState[%d], wMessageID[%d]",
                        iIndex, iState, frame.wMessageID);
        switch (iState) {
        case MQTT_STATE_INIT:
            m_enumState = IsMqttConnect(frame) ? MQTT_STATE_CONNECTING : MQTT_STATE_AUTH_INIT;
            continue;
        case MQTT_STATE_CONNECTING:
            if (!ProcessConnectting(frame)) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[%d]CMqttServerSession::ProcessFrameData, ProcessConnectting Failed, wMessageID[%d]",
                                iIndex, frame.wMessageID);
                return 0;
            }
            m_enumState = MQTT_STATE_CONNECTED;
            return 1;
        case MQTT_STATE_AUTH_INIT:
            if (!InitAuthContext(frame)) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[%d]CMqttServerSession::ProcessFrameData, InitAuthContext Failed, wMessageID[%d]",
                                iIndex, frame.wMessageID);
                return 0;
            }
            m_enumState = MQTT_STATE_AUTHENTICATING;
            continue;
        case MQTT_STATE_AUTHENTICATING:
        case MQTT_STATE_AUTHENTICATED:
            if (IsMqttConnect(frame)) {
                m_enumState = MQTT_STATE_CONNECTING;
                continue;
            }
            if (!ProcessAuthenticating(frame)) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[%d]CMqttServerSession::ProcessFrameData, ProcessAuthenticating Failed, wMessageID[%d]",
                                iIndex, frame.wMessageID);
                return 0;
            }
            return 1;
        case MQTT_STATE_SUBSCRIBED:
        case MQTT_STATE_CONNECTED:
            if (!ProcessMqttData(frame)) {
                LogModule_Write(LOG_LEVEL_ERR,
                                "[%d]CMqttServerSession::ProcessFrameData, ProcessMqttData Failed, wMessageID[%d]",
                                iIndex, frame.wMessageID);
                return 0;
            }
            return 1;
        default:
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessFrameData, Invalid m_enumState[%d]", iIndex,
                            iState);
            return 0;
        }
    }
}

int CMqttServerSession::InitAuthContext(MqttFrame &frame) {
    const BYTE byType = CMqttParser::GetMsgType(frame);
    LogModule_Write(MQTT_LOG_DETAIL,
                    "[%d]CMqttServerSession::InitAuthContext, byMsgType[%d][%s], Addr[%s:%d], protocol[%d]",
                    GetMemberIndex(), byType, Utils_GetMqttMsgName(byType), m_szRemoteAddr, m_wRemotePort,
                    CMqttParser::GetConnectClass(frame));
    PostAuthMessage(MSG_PRIVATE_INIT_AUTH_CONTEXT, &frame, 0);
    if (!m_pAuthenticator) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::InitAuthContext, m_pAuthenticator NULL",
                        GetMemberIndex());
        return 0;
    }
    return 1;
}

int CMqttServerSession::ProcessAuthenticating(MqttFrame &frame) {
    if (!frame.pData) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessAuthenticating, pBuffer == NULL",
                        GetMemberIndex());
        return 0;
    }
    if (!m_pAuthenticator) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessAuthenticating, m_pAuthenticator == NULL",
                        GetMemberIndex());
        return 0;
    }
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::ProcessAuthenticating, byMsgType[%d]", GetMemberIndex(),
                    CMqttParser::GetMsgType(frame));
    return m_pAuthenticator->HandleFrame(GetMemberIndex(), &frame, SetInfoProxy, SendToClientProxy, this) ? 1 : 0;
}

int CMqttServerSession::ProcessConnectting(MqttFrame &frame) {
    const int iResult = m_Parser.ParserConnectData(frame);
    m_SavedConnect = std::move(frame);
    if (iResult == MQTT_CONNECT_ACCEPTED)
        return AcceptConnect();
    if (iResult == MQTT_CONNECT_BAD_LEVEL || iResult == MQTT_CONNECT_BAD_CLIENT_ID) {
        if (SendConnectAck(BYTE(iResult)) < 0)
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessFrameData, SendConnectAck Failed",
                            GetMemberIndex());
    }
    return 0;
}

// The saved CONNECT was accepted: identity, the host's key, the will, CONNACK.
int CMqttServerSession::AcceptConnect() {
    const int iIndex = GetMemberIndex();
    {
        std::lock_guard<std::mutex> guard(m_InfoLock);
        CMqttParser::CopyFirstPart(m_SavedConnect, m_szClientId);
        CMqttParser::CopyUserName(m_SavedConnect, m_szUserName);
    }
    LogModule_Write(LOG_LEVEL_INF, "[%d]CMqttServerSession::ProcessConnectting, Addr[%s:%d], UserName[%s], wKeepAlive[%d]",
                    iIndex, m_szRemoteAddr, m_wRemotePort, m_Parser.GetUserName(), m_SavedConnect.wKeepAlive);
    PostMqttMessage(MSG_PRIVATE_SESSION_KEY_SEARCH, nullptr, 0);
    if (CMqttParser::GetWillFlag(m_SavedConnect) && GetKeys().bKeySet) {
        DWORD dwLen = m_SavedConnect.dwSecondLen;
        const DecryptResult eResult = DecryptPart(m_SavedConnect, m_SavedConnect.dwSecondOffset, &dwLen);
        if (eResult == DECRYPT_NO_MEMORY) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessConnectting, New CBuffer Failed, dwSize[%d]",
                            iIndex, int(m_SavedConnect.pData->GetCapacity()));
            return 0;
        }
        if (eResult == DECRYPT_FAILED) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessConnectting, Decrypt Failed, iLen[%d][%d]",
                            iIndex, int(m_SavedConnect.dwSecondLen), int(dwLen));
            return 0;
        }
        m_SavedConnect.dwSecondLen = dwLen;
    }
    if (SendConnectAck(0) < 0) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::ProcessConnectting, SendConnectAck Failed, Addr[%s:%d], UserName[%s]",
                        iIndex, m_szRemoteAddr, m_wRemotePort, m_Parser.GetUserName());
        return 0;
    }
    PostMqttMessage(MSG_CONNECT, &m_SavedConnect, 0);
    return 1;
}

int CMqttServerSession::ProcessMqttData(MqttFrame &frame) {
    const int iIndex = GetMemberIndex();
    if (!frame.pData) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessMqttData, pBuffer == NULL", iIndex);
        return 0;
    }
    const BYTE byType = CMqttParser::GetMsgType(frame);
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::ProcessMqttData, byMsgType[%d][%s]", iIndex, byType,
                    Utils_GetMqttMsgName(byType));
    if (!m_Parser.ParsePackage(frame)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttServerSession::ProcessMqttData, ParsePackage Failed, byMsgType[%d], Addr[%s:%d]",
                        iIndex, byType, m_szRemoteAddr, m_wRemotePort);
        return 0;
    }
    int iPostType = byType;
    if (byType == MSG_PUBLISH && frame.dwSecondLen != 0 && GetKeys().bKeySet) {
        char szTopic[MQTT_FIELD_LEN + 1];
        CMqttParser::CopyFirstPart(frame, szTopic);
        if (std::strcmp(szTopic, "/1100/12345") == 0)
            iPostType = MSG_PRIVATE_STREAM_ENCRYPT_STATUS;
        if (!DecryptPublish(frame, szTopic))
            return 0;
    }
    PostMqttMessage(iPostType, &frame, 0);
    return AnswerFrame(frame);
}

// Decrypts the payload in a copy of the frame, unless the topic is one the host left in clear.
int CMqttServerSession::DecryptPublish(MqttFrame &frame, const char *pTopic) {
    {
        std::lock_guard<std::mutex> guard(m_InfoLock);
        if (m_szUncrypFilter[0] != '\0' && std::strstr(pTopic, m_szUncrypFilter))
            return 1;
    }
    DWORD dwLen = frame.dwSecondLen;
    const DecryptResult eResult = DecryptPart(frame, frame.dwSecondOffset, &dwLen);
    if (eResult == DECRYPT_NO_MEMORY) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessMqttData, New CBuffer Failed, dwSize[%d]",
                        GetMemberIndex(), int(frame.pData->GetCapacity()));
        return 0;
    }
    if (eResult == DECRYPT_FAILED) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessMqttData, Decrypt Failed, iLen[%d]",
                        GetMemberIndex(), int(frame.dwSecondLen));
        return 0;
    }
    frame.dwSecondLen = dwLen;
    return 1;
}

// The acknowledgement a frame asks for, and the state it leads to.
int CMqttServerSession::AnswerFrame(const MqttFrame &frame) {
    const BYTE byType = CMqttParser::GetMsgType(frame);
    int iSent = 0;
    switch (byType) {
    case MSG_PUBLISH:
        if (CMqttParser::GetQos(frame) == 0)
            return 1;
        iSent = SendIdAck(MqttFixedHeader(MSG_PUBLISH_ACK), frame.wMessageID, "SendPublishAck");
        break;
    case MSG_SUBSCRIBE: {
        m_SavedConnect = MqttFrame();
        const BYTE byAck[3] = {BYTE(frame.wMessageID >> 8), BYTE(frame.wMessageID), 1};
        iSent = SendToClient(MqttFixedHeader(MSG_SUBSCRIBE_ACK), byAck, sizeof(byAck));
        if (iSent >= 0)
            m_enumState = MQTT_STATE_SUBSCRIBED;
        break;
    }
    case MSG_UNSUBSCRIBE:
        iSent = SendIdAck(MqttFixedHeader(MSG_UNSUBSCRIBE_ACK), frame.wMessageID, "SendUnSubscribeAck");
        if (iSent >= 0)
            m_enumState = MQTT_STATE_CONNECTED;
        break;
    case MSG_PINGREQ:
        iSent = SendToClient(MqttFixedHeader(MSG_PINGRSP), nullptr, 0);
        break;
    default:
        return 1;
    }
    if (iSent < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ProcessMqttData, Send byMsgType[%d] Ack Failed, Addr[%s:%d]",
                        GetMemberIndex(), byType, m_szRemoteAddr, m_wRemotePort);
        return 0;
    }
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttListenSession::ParserSubscribe, Send Message[%d] Ack SUCC, Addr[%s:%d]",
                    GetMemberIndex(), byType, m_szRemoteAddr, m_wRemotePort);
    return 1;
}

int CMqttServerSession::HeartbeatProxy(void *pSession) {
    SessionCallbackScope scope(static_cast<CMqttServerSession *>(pSession));
    CMqttServerSession *pThis = static_cast<CMqttServerSession *>(pSession);
    if (!pThis) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttServerSession::HeartbeatProxy, NULL == pSession");
        return 0;
    }
    if (pThis->DoExchange())
        return 1;
    LogModule_Write(LOG_LEVEL_INF, "[%d]CMqttServerSession::HeartbeatProxy, DoExchange Failed", pThis->GetMemberIndex());
    // The proxy drops the registration on this result.
    pThis->m_iHeartbeatRegID = -1;
    return 0;
}

int CMqttServerSession::DoExchange() {
    if (!m_bLinkOpen.load() || m_bCloseCallBack.load()) {
        LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttServerSession::DoExchange Failed, Link Closed, m_bCloseCallBack[%d]",
                        GetMemberIndex(), m_bCloseCallBack.load());
        return 1;
    }
    const DWORD dwCount = ++m_dwRecvTimeOutCnt;
    const DWORD dwLimit = m_dwLimitCnt.load();
    if (dwCount < dwLimit)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR,
                    "[%d]CMqttServerSession::DoExchange Timeout, Callback MSG_PRIVATE_ERROR, m_dwRecvTimeOutCnt[%d] >= "
                    "m_dwLimitCnt[%d]",
                    GetMemberIndex(), int(dwCount), int(dwLimit));
    PostMqttMessage(MSG_PRIVATE_ERROR, nullptr, MQTT_LINK_TIMEOUT);
    return 0;
}

}  // namespace Vorezi
