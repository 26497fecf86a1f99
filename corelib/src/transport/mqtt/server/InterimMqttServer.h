// The C entry points of the MQTT server: handles resolved under the member locks of the two
// managers. The Morva_MqttServer* functions forward here once the library is initialised.
#pragma once

#include "morva/MorvaMqtt.h"

namespace Vorezi {

int Interim_MqttServerCreateListen(const MORVA_MQTT_LISTEN_PARAM *pParam);
int Interim_MqttServerDestroyListen(int iListenHandle);
int Interim_MqttServerClose(int iHandle);
void Interim_MqttServerCloseAll();
// Closes every session accepted by the server link iListenHandle.
void Interim_MqttServerCloseByListen(int iListenHandle);
// The server-link handle of listener iIndex; -1 when there is none.
int Interim_MqttServerGetListenHandle(int iIndex);
int Interim_MqttServerSend(int iHandle, int iMsgType, const BYTE *pData, DWORD dwLen, int bRaw);
int Interim_MqttServerSetBuffSize(int iHandle, DWORD dwSndMult, DWORD dwRcvMult);
int Interim_MqttServerSetInfo(int iHandle, DWORD dwCommand, void *pData, DWORD dwLength);

}  // namespace Vorezi
