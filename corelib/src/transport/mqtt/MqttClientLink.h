// The connection under an MQTT server session. The long link of an accepted socket provides it;
// the session needs nothing else of the link layer.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {

// Receive statuses a link delivers.
enum { MQTT_LINK_DATA = 0, MQTT_LINK_ERROR = 9, MQTT_LINK_TIMEOUT = 10, MQTT_LINK_CLOSED = 73 };

// (user data, data, length, status); a result of 0 with a status other than MQTT_LINK_TIMEOUT ends
// the delivery.
typedef int (*MQTT_LINK_DATA_CALLBACK)(void *pUser, const BYTE *pData, DWORD dwLen, DWORD dwStatus);

class CMqttClientLink {
public:
    virtual ~CMqttClientLink() = default;

    // Starts delivering to fnCB: 1, or 0.
    virtual int StartRecv(MQTT_LINK_DATA_CALLBACK fnCB, void *pUser) = 0;
    // Sends all bytes without time-out: the count sent, or -1.
    virtual int SendNakeData(const BYTE *pData, DWORD dwLen) = 0;
    // Ends delivery and closes the socket (at once when bForce is set). When it returns, no callback
    // runs any more, except the one it was called from.
    virtual void CloseLink(int bForce) = 0;
    // Ends delivery and lets go of the socket without closing it: its owner still holds it.
    virtual void ForgetSocket() = 0;
    virtual int EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult) = 0;
    virtual void GetLocalAddr(char *pAddr /* 128 bytes */, WORD *pPort) = 0;
    virtual void GetRemoteAddr(char *pAddr /* 128 bytes */, WORD *pPort) = 0;
};

}  // namespace Vorezi
