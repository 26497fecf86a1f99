// Events of a server session, as records handed to the host's callback.
#include <cstring>

#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "transport/mqtt/MqttServerSession.h"

namespace Vorezi {

namespace {

// A 256-character client id or user name keeps 255 of them: the host gets terminated texts.
void CopyText(char *pDst, size_t dwSize, const char *pSrc) {
    const size_t dwLen = strnlen(pSrc, dwSize - 1);
    std::memcpy(pDst, pSrc, dwLen);
    pDst[dwLen] = '\0';
}

}  // namespace

// 1 when the host may still be called; else logs and gives 0.
int CMqttServerSession::CheckPostGuard(const char *pName, int iMsgType, int iStatus) {
    if (!m_bCloseCallBack.load() && m_Param.fnCB)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::%s, type[%d][%s], dwStats[%d] m_fnCB[0x%X]",
                    GetMemberIndex(), pName, iMsgType, Utils_GetMqttMsgName(iMsgType), iStatus,
                    MORVA_PTR_ARG(m_Param.fnCB));
    return 0;
}

int CMqttServerSession::PostMqttMessage(int iMsgType, const MqttFrame *pFrame, int iStatus) {
    if (!CheckPostGuard("PostMqttMessage", iMsgType, iStatus))
        return 0;
    if (iMsgType == MSG_UNSUBSCRIBE) {
        LogModule_Write(LOG_LEVEL_INF, "[%d]CMqttServerSession::PostMqttMessage, Discarded type[%d][%s], dwStats[%d] m_fnCB[0x%X]",
                        GetMemberIndex(), iMsgType, Utils_GetMqttMsgName(iMsgType), iStatus,
                        MORVA_PTR_ARG(m_Param.fnCB));
        return 1;
    }
    MORVA_MQTT_MSG msg;
    std::memset(&msg, 0, sizeof(msg));
    const bool bPublish = iMsgType == MSG_PUBLISH || iMsgType == MSG_PRIVATE_STREAM_ENCRYPT_STATUS;
    if (bPublish && pFrame)
        CMqttParser::CopyFirstPart(*pFrame, msg.szTopic);
    if (iMsgType == MSG_PUBLISH && std::strstr(msg.szTopic, "/1100/")) {
        LogModule_Write(LOG_LEVEL_INF, "[%d]CMqttServerSession::PostMqttMessage, Discarded type[%d][%s], dwStats[%d] topic[%s]",
                        GetMemberIndex(), iMsgType, Utils_GetMqttMsgName(iMsgType), iStatus, msg.szTopic);
        return 1;
    }
    // The first error report closes the session's reporting; a second one (receive and heartbeat
    // threads at once) is dropped.
    if (iMsgType == MSG_PRIVATE_ERROR && m_bCloseCallBack.exchange(1))
        return 0;
    // Filled by type; a SUBSCRIBE without a will to deliver is not reported.
    MORVA_MQTT_WILL_INFO will = {};
    if (iMsgType == MSG_SUBSCRIBE && !CMqttParser::GetWillFlag(m_SavedConnect))
        return 1;
    switch (iMsgType) {
    case MSG_CONNECT:
        if (CMqttParser::GetWillFlag(*pFrame)) {
            will.pWillMessage = CMqttParser::GetSecondPart(*pFrame);
            will.wWillMessageLen = WORD(pFrame->dwSecondLen);
        }
        will.wKeepAlive = pFrame->wKeepAlive;
        msg.pData = &will;
        msg.iDataLen = int32_t(sizeof(will));
        break;
    case MSG_PUBLISH:
    case MSG_PRIVATE_STREAM_ENCRYPT_STATUS:
        msg.pData = CMqttParser::GetSecondPart(*pFrame);
        msg.iDataLen = int32_t(pFrame->dwSecondLen);
        msg.iMessageID = pFrame->wMessageID;
        break;
    case MSG_SUBSCRIBE:
        msg.pData = CMqttParser::GetSecondPart(m_SavedConnect);
        msg.iDataLen = int32_t(m_SavedConnect.dwSecondLen);
        m_bWillDelivered = 1;
        break;
    case MSG_PRIVATE_SESSION_KEY_SEARCH:
        msg.fnSetInfo = SetInfoProxy;
        msg.pSession = this;
        break;
    default:
        break;
    }
    msg.iStatus = iStatus;
    msg.iMsgType = iMsgType;
    msg.bWillDelivered = m_bWillDelivered.load();
    {
        std::lock_guard<std::mutex> guard(m_InfoLock);
        CopyText(msg.szClientId, sizeof(msg.szClientId), m_szClientId);
        CopyText(msg.szUserName, sizeof(msg.szUserName), m_szUserName);
        msg.byAlgorithm = m_Keys.byAlgorithm;
    }
    CopyText(msg.szLocalAddr, sizeof(msg.szLocalAddr), m_szLocalAddr);
    msg.wLocalPort = m_wLocalPort;
    CopyText(msg.szRemoteAddr, sizeof(msg.szRemoteAddr), m_szRemoteAddr);
    msg.wRemotePort = m_wRemotePort;
    return m_Param.fnCB(GetMemberIndex(), &msg, m_Param.pUserData);
}

int CMqttServerSession::PostAuthMessage(int iMsgType, MqttFrame *pFrame, int iStatus) {
    if (!CheckPostGuard("PostAuthMessage", iMsgType, iStatus))
        return 0;
    MORVA_MQTT_AUTH_MSG auth;
    std::memset(&auth, 0, sizeof(auth));
    auth.iStatus = iStatus;
    auth.iMsgType = iMsgType;
    auth.pFrame = pFrame;
    auth.dwFrameSize = sizeof(MqttFrame);
    auth.fnSetInfo = SetInfoProxy;
    auth.pSession = this;
    CopyText(auth.szLocalAddr, sizeof(auth.szLocalAddr), m_szLocalAddr);
    auth.wLocalPort = m_wLocalPort;
    CopyText(auth.szRemoteAddr, sizeof(auth.szRemoteAddr), m_szRemoteAddr);
    auth.wRemotePort = m_wRemotePort;
    return m_Param.fnCB(GetMemberIndex(), reinterpret_cast<MORVA_MQTT_MSG *>(&auth), m_Param.pUserData);
}

}  // namespace Vorezi
