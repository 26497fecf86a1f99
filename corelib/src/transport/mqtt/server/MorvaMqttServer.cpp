// The MQTT server functions of the core library: each checks that the library is initialised and
// forwards to its Interim_ function.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "morva/MorvaMqtt.h"
#include "transport/mqtt/MqttParser.h"
#include "transport/mqtt/server/InterimMqttServer.h"

using namespace Vorezi;

namespace {

// Lock-free: a session callback may call in while a Fini, holding the control lock, waits for it.
bool Inited() {
    if (GetCoreGlobalCtrl()->IsInited())
        return true;
    SetError(MORVA_ERR_NOT_INIT);
    return false;
}

}  // namespace

int Morva_MqttServerCreateListen(const MORVA_MQTT_LISTEN_PARAM *pParam) {
    const int iRet = Inited() ? Interim_MqttServerCreateListen(pParam) : -1;
    LogModule_Write(LOG_LEVEL_ERR, "Morva_MqttServerCreateListen, iRet[%d]", iRet);
    return iRet;
}

int Morva_MqttServerDestroyListen(int iListenHandle) {
    const int bRet = Inited() ? Interim_MqttServerDestroyListen(iListenHandle) : 0;
    LogModule_Write(LOG_LEVEL_ERR, "Morva_MqttServerDestroyListen, bRet[%d], iMQTTListenHandle[%d]", bRet, iListenHandle);
    return bRet;
}

int Morva_MqttServerClose(int iHandle) {
    const int bRet = Inited() ? Interim_MqttServerClose(iHandle) : 0;
    LogModule_Write(MQTT_LOG_DETAIL, "Morva_MqttServerClose, bRet[%d], iMQTTHandle[%d]", bRet, iHandle);
    return bRet;
}

void Morva_MqttServerCloseAll(void) {
    LogModule_Write(LOG_LEVEL_ERR, "Morva_MqttServerCloseAll");
    if (Inited())
        Interim_MqttServerCloseAll();
}

int Morva_MqttServerSend(int iHandle, int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw) {
    return Inited() ? Interim_MqttServerSend(iHandle, iMsgType, pData, dwLen, bRaw) : -1;
}

int Morva_MqttServerSetBuffSize(int iHandle, DWORD dwSndMult, DWORD dwRcvMult) {
    return Inited() ? Interim_MqttServerSetBuffSize(iHandle, dwSndMult, dwRcvMult) : 0;
}

int Morva_MqttServerSetInfo(int iHandle, DWORD dwCommand, void *pData, DWORD dwLength) {
    return Inited() ? Interim_MqttServerSetInfo(iHandle, dwCommand, pData, dwLength) : -1;
}
