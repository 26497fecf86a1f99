// A server session started from an accepted TCP socket: the long link receives through
// asynchronous I/O, the client talks MQTT over loopback, and the session's answers come back
// through the same socket.
#include <gtest/gtest.h>
#include <poll.h>

#include "mqtt_session_util.h"
// After the library headers: the link helpers bring the system socket macros.
#include "link_test_util.h"

using namespace mqtttest;
using Vorezi::CMqttServerSession;
using Vorezi::MQTT_SERVER_PARAM;

namespace {

class MqttLongLinkTest : public SessionTest {
protected:
    // Accepts a loopback client and starts a session on the accepted socket.
    int StartOnSocket(DWORD dwAliveTimeout = 90000, DWORD dwHeartbeat = 5000) {
        auto [client, accepted] = linktest::AcceptedPair(m_Listener);
        m_iClient = client;
        m_iAccepted = accepted;
        m_pSession.reset(new (-1) CMqttServerSession());
        m_pSession->SetMemberIndex(3);
        m_pSession->SetHeartbeatProxy(m_iProxy);
        MQTT_SERVER_PARAM param = {accepted, 5000, dwAliveTimeout, dwHeartbeat, Host::Callback, &m_Host, 1};
        return m_pSession->Start(&param);
    }
    // The next whole frame within the time-out, or nothing.
    Bytes WaitFrame(int iTimeoutMs = 5000) {
        pollfd p = {m_iClient, POLLIN, 0};
        if (::poll(&p, 1, iTimeoutMs) != 1)
            return {};
        return ReadFrame();
    }
    void SendBytes(const Bytes &b) {
        ASSERT_EQ(::send(m_iClient, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    linktest::Listener m_Listener;
    int m_iAccepted = -1;
};

TEST_F(MqttLongLinkTest, StandardClientSessionOverTcp) {
    ASSERT_EQ(StartOnSocket(), 1);
    // The CONNECT arrives split across two segments.
    const Bytes connect = Connect(ConnectSpec());
    SendBytes(Bytes(connect.begin(), connect.begin() + 5));
    ASSERT_FALSE(WaitFrame(50).size());
    SendBytes(Bytes(connect.begin() + 5, connect.end()));
    ASSERT_EQ(WaitFrame(), (Bytes{0x20, 0x02, 0x00, 0x00}));

    SendBytes(Publish("a/b", Raw("hello"), 1, 0x1234) + kPingReq);
    EXPECT_EQ(WaitFrame(), (Bytes{0x40, 0x02, 0x12, 0x34}));
    EXPECT_EQ(WaitFrame(), (Bytes{0xD0, 0x00}));
    ASSERT_TRUE(servicetest::WaitFor([&] { return m_Host.Count(MSG_PUBLISH) == 1; }, 5000));
    for (const Event &e : m_Host.Events())
        if (e.iType == MSG_PUBLISH) {
            EXPECT_EQ(e.data, "hello");
            EXPECT_EQ(e.topic, "a/b");
        }

    // The host's raw send reaches the client whole.
    const Bytes out = Str("down") + Raw("payload");
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, out.data(), DWORD(out.size()), 1), int(out.size()) + 2);
    EXPECT_EQ(WaitFrame(), Frame(0x30, out));

    // The client goes away: one report of the closed link, then nothing.
    ::close(m_iClient);
    m_iClient = -1;
    ASSERT_TRUE(servicetest::WaitFor([&] { return m_Host.Count(MSG_PRIVATE_ERROR) == 1; }, 5000));
    m_pSession->Stop();
    EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u);
}

TEST_F(MqttLongLinkTest, StopClosesTheSocketAndEndsDelivery) {
    ASSERT_EQ(StartOnSocket(), 1);
    SendBytes(Connect(ConnectSpec()));
    ASSERT_EQ(WaitFrame(), (Bytes{0x20, 0x02, 0x00, 0x00}));
    m_pSession->Stop();
    // The client sees the end of the stream; nothing is delivered after Stop.
    pollfd p = {m_iClient, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char c;
    EXPECT_LE(::recv(m_iClient, &c, 1, 0), 0);
    const size_t nEvents = m_Host.Events().size();
    ::send(m_iClient, "x", 1, MSG_NOSIGNAL);
    EXPECT_FALSE(servicetest::WaitFor([&] { return m_Host.Events().size() != nEvents; }, 100));
}

TEST_F(MqttLongLinkTest, StartRefusals) {
    // No record, no callback, a socket that is not one: no session, the socket left to its owner.
    m_pSession.reset(new (-1) CMqttServerSession());
    m_pSession->SetHeartbeatProxy(m_iProxy);
    EXPECT_EQ(m_pSession->Start(nullptr), 0);
    MQTT_SERVER_PARAM param = {-1, 5000, 90000, 5000, nullptr, nullptr, 1};
    EXPECT_EQ(m_pSession->Start(&param), 0);
    EXPECT_EQ(Vorezi::GetCoreGlobalCtrl()->GetLastError(), DWORD(Vorezi::MORVA_ERR_PARAM));
    param.fnCB = Host::Callback;
    param.pUserData = &m_Host;
    EXPECT_EQ(m_pSession->Start(&param), 0);
    EXPECT_EQ(m_pSession->GetHeartbeatRegistration(), -1);

    // Without a heartbeat proxy the session does not start, and the accepted socket stays open.
    auto [client, accepted] = linktest::AcceptedPair(m_Listener);
    m_iClient = client;
    m_pSession.reset(new (-1) CMqttServerSession());
    param.iSocket = accepted;
    EXPECT_EQ(m_pSession->Start(&param), 0);
    m_pSession.reset();
    EXPECT_EQ(::send(accepted, "x", 1, MSG_NOSIGNAL), 1);
    ::close(accepted);
}

}  // namespace
