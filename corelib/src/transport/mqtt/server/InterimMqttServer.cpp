#include "transport/mqtt/server/InterimMqttServer.h"

#include <cstring>

#include "Module/Log/LogModule.h"
#include "Module/Member/MemberLockGuard.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/server/MqttListenSession.h"
#include "transport/mqtt/server/MqttServerMgr.h"
#include "transport/serverlink/ServerLinkMgr.h"

namespace Vorezi {

int Interim_MqttServerCreateListen(const MORVA_MQTT_LISTEN_PARAM *pParam) {
    if (!pParam) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCreateListen, lpParam == NULL");
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    CMqttListenMgr *pMgr = GetMqttListenMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCreateListen, GetMqttListenMgr Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    // Made before the listener's write lock is held (the control lock comes first).
    GetServerLinkMgr();
    const int iHandle = pMgr->Create(pParam);
    if (iHandle < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCreateListen, Create Failed");
        return iHandle;
    }
    SetError(MORVA_ERR_SUCCESS);
    return iHandle;
}

int Interim_MqttServerDestroyListen(int iListenHandle) {
    CMqttListenMgr *pMgr = GetMqttListenMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerDestroyListen, GetMqttListenMgr Failed, iMQTTListenHandle[%d]",
                        iListenHandle);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!pMgr->Destroy(iListenHandle)) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerDestroyListen, Destroy Failed, iMQTTListenHandle[%d]",
                        iListenHandle);
        return 0;
    }
    LogModule_Write(MQTT_LOG_DETAIL, "Interim_MqttServerDestroyListen, SUCC, iMQTTListenHandle[%d]", iListenHandle);
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

int Interim_MqttServerClose(int iHandle) {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerClose, GetMqttServerMgr Failed, iMQTTHandle[%d]", iHandle);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!pMgr->Destroy(iHandle)) {
        LogModule_Write(LOG_LEVEL_DBG, "Interim_MqttServerClose, Destroy Failed, iMQTTHandle[%d]", iHandle);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_INF, "Interim_MqttServerClose, Destroy Success, iMQTTHandle[%d]", iHandle);
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

void Interim_MqttServerCloseAll() {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCloseAll, GetMqttServerMgr Failed");
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    for (int i = 0, n = int(pMgr->GetTotalNum()); i < n; i++) {
        if (!pMgr->Destroy(i))
            LogModule_Write(MQTT_LOG_DETAIL, "Interim_MqttServerCloseAll, Destroy Failed, iMQTTHandle[%d]", i);
    }
    LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCloseAll, Finish");
}

// Runs under the listener's own member lock: making a manager here would take the control lock
// in the order opposite to Fini's. Without a manager there is no session to close.
void Interim_MqttServerCloseByListen(int iListenHandle) {
    CMqttServerMgr *pMgr = FindMqttServerMgr();
    if (!pMgr)
        return;
    for (int i = 0, n = int(pMgr->GetTotalNum()); i < n && pMgr->GetCurrNum() > 0; i++) {
        bool bMine = false;
        {
            CMemberLockGuard lock(pMgr, i);
            auto *pSession = lock.Get<CMqttServerSession>();
            bMine = pSession && pSession->GetListenHandle() == iListenHandle;
        }
        if (bMine && !pMgr->Destroy(i))
            LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerCloseByListen, Destroy Failed, iMQTTHandle[%d]", i);
    }
}

// -1 without a manager too: 0 would name a valid listener.
int Interim_MqttServerGetListenHandle(int iIndex) {
    CMqttListenMgr *pMgr = GetMqttListenMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerGetListenHandle, GetMqttListenMgr Failed, iMQTTListenHandle[%d]",
                        iIndex);
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    CMemberLockGuard lock(pMgr, iIndex);
    if (!lock.IsLocked())
        return -1;
    int iListenHandle = -1;
    if (auto *pListen = lock.Get<CMqttListenSession>())
        iListenHandle = pListen->GetListenHandle();
    return iListenHandle;
}

int Interim_MqttServerSend(int iHandle, int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw) {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSend, GetMqttServerMgr Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    CMemberLockGuard lock(pMgr, iHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSend, LockMember Failed, iMQTTHandle[%d]", iHandle);
        return -1;
    }
    auto *pSession = lock.Get<CMqttServerSession>();
    if (!pSession) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSend, GetMember Failed, iMQTTHandle[%d]", iHandle);
        return -1;
    }
    const int iSent = pSession->Send(iMsgType, pData, dwLen, bRaw);
    if (iSent < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSend, Failed, iMQTTHandle[%d], byMsgType[%d]", iHandle,
                        iMsgType);
        return iSent;
    }
    SetError(MORVA_ERR_SUCCESS);
    return iSent;
}

int Interim_MqttServerSetBuffSize(int iHandle, DWORD dwSndMult, DWORD dwRcvMult) {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetBuffSize, GetMqttServerMgr Failed");
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    CMemberLockGuard lock(pMgr, iHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetBuffSize, LockMember Failed, iMQTTHandle[%d]", iHandle);
        return 0;
    }
    auto *pSession = lock.Get<CMqttServerSession>();
    if (!pSession) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetBuffSize, GetMember Failed, iMQTTHandle[%d]", iHandle);
        return 0;
    }
    if (!pSession->SetBuffSize(dwSndMult, dwRcvMult)) {
        LogModule_Write(LOG_LEVEL_ERR, "Morva_MqttServerSetBuffSize, Failed");
        return 0;
    }
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

int Interim_MqttServerSetInfo(int iHandle, DWORD dwCommand, void *pData, DWORD dwLength) {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetInfo, GetMqttServerMgr Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    // The accept back-off belongs to the manager, whatever the handle.
    if (dwCommand == MQTT_CMD_SETINFO_ACCEPT_WAIT && pData) {
        if (dwLength < sizeof(int32_t)) {
            LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetInfo, Invalid dwLength[%d], dwCommand[%d]",
                            int(dwLength), int(dwCommand));
            SetError(MORVA_ERR_PARAM);
            return -1;
        }
        int32_t iWait = 0;
        std::memcpy(&iWait, pData, sizeof(iWait));
        pMgr->SetDefaultWaitTime(iWait);
        return 0;
    }
    CMemberLockGuard lock(pMgr, iHandle);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetInfo, LockMember Failed, iMQTTHandle[%d], dwCommand[%d]",
                        iHandle, int(dwCommand));
        return -1;
    }
    auto *pSession = lock.Get<CMqttServerSession>();
    if (!pSession) {
        LogModule_Write(LOG_LEVEL_ERR, "Interim_MqttServerSetInfo, GetMember Failed, iMQTTHandle[%d], dwCommand[%d]",
                        iHandle, int(dwCommand));
        return -1;
    }
    return pSession->SetInfo(dwCommand, pData, dwLength);
}

}  // namespace Vorezi
