// The client link of an MQTT server session made from an accepted socket: a long link receiving
// through asynchronous I/O.
#pragma once

#include <atomic>
#include <memory>

#include "transport/longlink/LongLinkPrivate.h"
#include "transport/mqtt/MqttClientLink.h"

namespace Vorezi {

struct MQTT_SERVER_PARAM;

class CMqttLongLink : public CMqttClientLink {
public:
    static constexpr DWORD kRecvBufSize = 32768;
    static constexpr DWORD kProbeRecvTimeout = 3000;  // ms

    // Adopts the record's socket; null when the link cannot be made. iSession only names the
    // session in the log.
    static std::unique_ptr<CMqttLongLink> Create(const MQTT_SERVER_PARAM &param, int iSession);

    ~CMqttLongLink() override;

    int StartRecv(MQTT_LINK_DATA_CALLBACK fnCB, void *pUser) override;
    int SendNakeData(const BYTE *pData, DWORD dwLen) override;
    void CloseLink(int bForce) override;
    void ForgetSocket() override;
    int EnlargeBufferSize(DWORD dwSndMult, DWORD dwRcvMult) override;
    void GetLocalAddr(char *pAddr, WORD *pPort) override;
    void GetRemoteAddr(char *pAddr, WORD *pPort) override;

private:
    CMqttLongLink() = default;
    static int RecvEntry(void *pUser, char *pData, int iLen, int iStatus);

    CLongLinkPrivate m_Long;
    MQTT_LINK_DATA_CALLBACK m_fnCB = nullptr;
    void *m_pUser = nullptr;
};

}  // namespace Vorezi
