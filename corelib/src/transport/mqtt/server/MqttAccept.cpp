#include "transport/mqtt/server/MqttAccept.h"

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"
#include "transport/mqtt/server/MqttServerMgr.h"

namespace Vorezi {

int MqttAcceptSocket(const char *pOwner, int iIndex, const SERVER_LINK_DATA &data, const MqttSessionSetup &setup,
                     std::atomic<int> *pWait, const std::function<void(int)> &fnSetWait) {
    CMqttServerMgr *pMgr = GetMqttServerMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]%s::ServerDataCallBack, GetMqttServerMgr Failed", iIndex, pOwner);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    const int iWait = pMgr->GetWaitTime();
    if (pWait->exchange(iWait) != iWait) {
        fnSetWait(iWait);
        LogModule_Write(LOG_LEVEL_DBG, "[%d]%s::ServerDataCallBack, SetWait[%d]", iIndex, pOwner, iWait);
    }
    const MQTT_SERVER_PARAM param = {data.iSocket,   setup.dwIntervalTime, setup.dwAliveTimeout, setup.dwHeartbeatInterval,
                                     setup.fnCB,     setup.pUserData,      data.iLinkHandle};
    const int iHandle = pMgr->Create(&param);
    if (iHandle == -1) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttListenSession::ServerDataCallBack, Create Failed, error[%d], socket[%d], "
                        "iListenHandle[%d]",
                        iIndex, LastError(), data.iSocket, data.iLinkHandle);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG,
                    "[%d]CMqttListenSession::ServerDataCallBack, Create SUCC, socket[%d], iMQTTHandle[%d], "
                    "iListenHandle[%d]",
                    iIndex, data.iSocket, iHandle, data.iLinkHandle);
    return 1;
}

}  // namespace Vorezi
