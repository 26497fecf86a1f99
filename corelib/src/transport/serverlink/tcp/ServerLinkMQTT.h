// The MQTT server link (byProType 24): an embedded TCP server link in manager mode 1 hands every
// accepted socket to a new MQTT server session, whose events reach the owner's data callback as
// kind-24 records. The fields of a session event go into the record as follows:
//   iStatus       status              dwMqttWord   message type
//   pData/Len     data                byAreaA      client id      byAreaB     user name
//   szPeerIP/Port remote address      byMqttText   local address  wMqttValue  local port
//   dwMqttValue1  will delivered      byMqttBlock  reserved block dwMqttValue2 message id
//   byMqttTopic   topic               dwMqttValue3 key algorithm
#pragma once

#include <atomic>
#include <memory>

#include "transport/mqtt/server/MqttAccept.h"
#include "transport/serverlink/tcp/ServerLinkTCP.h"

namespace Vorezi {

class CServerLinkMQTT : public CServerLinkBase {
public:
    CServerLinkMQTT() = default;
    ~CServerLinkMQTT() override;

    int Start(void *pCond) override;
    int Stop() override;
    // An MQTT session handle (0 to 0x7ffffffe): closed, 0; else -1.
    int CloseAcceptHandle(int iAcceptHandle) override;
    int SendData(const SERVER_LINK_SEND_PARAM *pParam) override;
    int StartSever() override { return 1; }
    int SetInfo(int iAcceptHandle, DWORD dwCommand, void *pBuf, int iBufLen) override;
    int OpenLink() override;
    int CloseLink() override;
    int CreateSocket() override { return 1; }
    // Acts on the session of the last event delivered.
    int EnlargeBufferSize(DWORD dwSendMult, DWORD dwRecvMult) override;

    static int ServerDataCallBack(void *pUserData, SERVER_LINK_DATA *pData);
    static int RecvDataCallback(int iHandle, MORVA_MQTT_MSG *pMsg, void *pUserData);

private:
    int CreateMqttLink(const SERVER_LINK_COND &cond);
    int OnSessionEvent(int iHandle, const MORVA_MQTT_MSG &msg);

    MqttSessionSetup m_Setup = {};
    std::atomic<int> m_bDestroyLink{0};
    std::atomic<int> m_iAcceptHandle{-1};
    std::atomic<int> m_iWaitTime{0};
    std::unique_ptr<CServerLinkTCP> m_pTcpLink;
};

}  // namespace Vorezi
