#include "transport/mqtt/server/MqttListenSession.h"

#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/server/MqttAccept.h"
#include "transport/serverlink/InterimServerLink.h"
#include "transport/serverlink/ServerLinkBase.h"

namespace Vorezi {

namespace {

DWORD OrDefault(DWORD dwValue, DWORD dwDefault) {
    return dwValue ? dwValue : dwDefault;
}

}  // namespace

CMqttListenSession::~CMqttListenSession() {
    CleanupResource();
}

int CMqttListenSession::Start(void *pParam) {
    const auto *pListen = static_cast<const MORVA_MQTT_LISTEN_PARAM *>(pParam);
    if (!pListen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttListenSession::Start, pServerParam == NULL", GetMemberIndex());
        return 0;
    }
    if (!pListen->fnCB) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttListenSession::Start, fnCB == NULL", GetMemberIndex());
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    // The listener reads nothing itself: manager mode 1 hands each accepted socket over whole, so
    // the session's link is its only reader.
    SERVER_LINK_COND cond = {};
    cond.pLocalIP = pListen->szListenAddr;
    cond.wLocalPort = pListen->wPort;
    cond.byProType = SERVER_LINK_PRO_TCP;
    cond.byManagerMode = 1;
    cond.fnDataCallBack = ServerDataCallBack;
    cond.pUserData = this;
    m_dwIntervalTime = OrDefault(pListen->dwSessionInterval, kMqttDefaultInterval);
    m_dwAliveTimeout = OrDefault(pListen->dwAliveTimeout, kMqttDefaultAliveTimeout);
    m_dwHeartbeatInterval = OrDefault(pListen->dwHeartbeatInterval, kMqttDefaultHeartbeat);
    m_fnCB = pListen->fnCB;
    m_pUserData = pListen->pUserData;
    m_iListenHandle = Interim_CreateServerLink(&cond);
    if (m_iListenHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttListenSession::Start, Interim_CreateServerLink Failed, error[%d], Addr[%s:%d]",
                        GetMemberIndex(), LastError(), pListen->szListenAddr, pListen->wPort);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CMqttListenSession::Start, SUCC, m_iListenHandle[%d], Addr[%s:%d]",
                    MORVA_PTR_ARG(this), m_iListenHandle, pListen->szListenAddr, pListen->wPort);
    return 1;
}

int CMqttListenSession::Stop() {
    CleanupResource();
    LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CMqttListenSession::Stop, SUCC, m_iListenHandle[%d]", MORVA_PTR_ARG(this),
                    m_iListenHandle);
    return 1;
}

void CMqttListenSession::CleanupResource() {
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttListenSession::CleanupResource, m_iListenHandle[%d]", GetMemberIndex(),
                    m_iListenHandle);
    if (m_iListenHandle != -1) {
        Interim_DestroyServerLink(m_iListenHandle);
        m_iListenHandle = -1;
    }
}

int CMqttListenSession::ServerDataCallBack(void *pUserData, SERVER_LINK_DATA *pData) {
    auto *pThis = static_cast<CMqttListenSession *>(pUserData);
    if (!pThis || !pData) {
        SetError(MORVA_ERR_NO_USER);
        LogModule_Write(LOG_LEVEL_ERR, "CMqttListenSession::ServerDataCallBack, NULL == pUserData");
        return 0;
    }
    if (pData->dwMsgType != SERVER_LINK_MSG_NEW) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttListenSession::ServerDataCallBack, Invalid dwMsgType[%d]",
                        pThis->GetMemberIndex(), int(pData->dwMsgType));
        return 0;
    }
    return pThis->OnAccept(*pData);
}

int CMqttListenSession::OnAccept(const SERVER_LINK_DATA &data) {
    const MqttSessionSetup setup = {m_dwIntervalTime, m_dwAliveTimeout, m_dwHeartbeatInterval, m_fnCB, m_pUserData};
    return MqttAcceptSocket("CMqttListenSession", GetMemberIndex(), data, setup, &m_iWaitTime, [&data](int iWait) {
        Interim_SetInfo(data.iLinkHandle, 0, SERVER_LINK_CMD_ACCEPT_WAIT, &iWait, int(sizeof(iWait)));
    });
}

CMemberBase *CMqttListenMgr::NewMemoryObject(void *) {
    try {
        return new (-1) CMqttListenSession();
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CMqttListenMgr::NewMemoryObject, new CMqttListenSession Exception!!");
        SetError(MORVA_ERR_ALLOC);
        return nullptr;
    }
}

int CMqttListenMgr::Create(const MORVA_MQTT_LISTEN_PARAM *pParam) {
    void *p = const_cast<MORVA_MQTT_LISTEN_PARAM *>(pParam);
    return AllocIndex2(p, p);
}

}  // namespace Vorezi
