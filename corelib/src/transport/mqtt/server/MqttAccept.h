// What the MQTT listener and the MQTT server link do with each accepted socket.
#pragma once

#include <atomic>
#include <functional>

#include "morva/MorvaMqtt.h"
#include "morva/MorvaServerLink.h"

namespace Vorezi {

// Session times when the creation record gives 0, in ms.
constexpr DWORD kMqttDefaultInterval = 5000;
constexpr DWORD kMqttDefaultAliveTimeout = 90000;
constexpr DWORD kMqttDefaultHeartbeat = 5000;

// The session settings an accepting owner keeps.
struct MqttSessionSetup {
    DWORD dwIntervalTime;
    DWORD dwAliveTimeout;
    DWORD dwHeartbeatInterval;
    MORVA_MQTT_SERVER_CB fnCB;
    void *pUserData;
};

// Passes the server manager's accept back-off to the listening link when it differs from *pWait
// (fnSetWait), then makes a session that owns the accepted socket of the record. pOwner names the
// caller in the log. 1 when the session took the socket; 0 leaves it to the listening link.
int MqttAcceptSocket(const char *pOwner, int iIndex, const SERVER_LINK_DATA &data, const MqttSessionSetup &setup,
                     std::atomic<int> *pWait, const std::function<void(int)> &fnSetWait);

}  // namespace Vorezi
