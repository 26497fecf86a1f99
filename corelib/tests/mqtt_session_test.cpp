// The MQTT server session: the standard flow with its answers and events, real client bytes,
// refusals and hostile frames, the private authentication path, SetInfo and Send.
#include "mqtt_session_util.h"

using namespace Vorezi;
using namespace mqtttest;

namespace {

using MqttSession = SessionTest;

TEST_F(MqttSession, StandardFlowAnswersAndReports) {
    Start();
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_INIT);
    ConnectClient(ConnectSpec(4, 0x82, 45, "dev-1", "", "", "alice"));
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_CONNECTED);
    std::vector<Event> events = m_Host.Events();
    ASSERT_EQ(m_Host.Types(), (std::vector<int>{MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_CONNECT}));
    EXPECT_EQ(events[1].wKeepAlive, 45);
    EXPECT_EQ(events[1].clientId, "dev-1");
    EXPECT_EQ(events[1].userName, "alice");
    EXPECT_TRUE(events[1].data.empty());  // no will
    m_Host.Clear();

    ASSERT_EQ(Deliver(Publish("a/b", Raw("payload"), 1, 0x0A0B)), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x40, 0x02, 0x0A, 0x0B}));
    ASSERT_EQ(Deliver(Publish("a/c", Raw("q0"))), 1);
    EXPECT_EQ(ReadFrame(), Bytes());  // QoS 0: no answer
    ASSERT_EQ(Deliver(Subscribe("cmd/#", 1, 0x0102)), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x90, 0x03, 0x01, 0x02, 0x01}));
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_SUBSCRIBED);
    ASSERT_EQ(Deliver(kPingReq), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0xD0, 0x00}));
    ASSERT_EQ(Deliver(Frame(0xA2, U16(0x0303) + Str("cmd/#"))), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0xB0, 0x02, 0x03, 0x03}));
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_CONNECTED);
    ASSERT_EQ(Deliver(kDisconnect), 1);

    // SUBSCRIBE without a will and UNSUBSCRIBE are not reported.
    events = m_Host.Events();
    ASSERT_EQ(m_Host.Types(), (std::vector<int>{MSG_PUBLISH, MSG_PUBLISH, MSG_PINGREQ, MSG_DISCONNECT}));
    EXPECT_EQ(events[0].topic, "a/b");
    EXPECT_EQ(events[0].data, "payload");
    EXPECT_EQ(events[0].iMessageID, 0x0A0B);
    EXPECT_EQ(events[0].clientId, "dev-1");
}

TEST_F(MqttSession, HostSendsFramesWithTheirLengthEncoded) {
    Start();
    ConnectClient();
    // A raw PUBLISH of a 200-byte payload: two length bytes.
    const Bytes publish = Str("to/client") + Bytes(200, 0x5A);
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, publish.data(), DWORD(publish.size()), 1), int(publish.size()) + 3);
    EXPECT_EQ(ReadFrame(), Frame(0x30, publish));
    // The server-initiated SUBSCRIBE header 0x80, and an empty frame.
    const Bytes subscribe = U16(1) + Str("dev/in") + Bytes{1};
    EXPECT_GT(m_pSession->Send(MSG_SUBSCRIBE, subscribe.data(), DWORD(subscribe.size()), 0), 0);
    EXPECT_EQ(ReadFrame(), Frame(0x80, subscribe));
    EXPECT_EQ(m_pSession->Send(MSG_PINGRSP, nullptr, 0, 0), 2);
    EXPECT_EQ(ReadFrame(), (Bytes{0xD0, 0x00}));
    // 16384 bytes need three length bytes.
    const Bytes big(16384, 1);
    EXPECT_EQ(m_pSession->SendToClient(0x30, big.data(), DWORD(big.size())), 16384 + 4);
    EXPECT_EQ(ReadFrame(), Frame(0x30, big));
}

TEST_F(MqttSession, SendIsRefusedOutsideTheConnectedStatesAndForPrivateTypes) {
    Start();
    const Bytes data = Str("t") + Raw("x");
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 1), -1);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 12);
    ConnectClient();
    for (int iType : std::vector<int>{0, 15, 16, MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_PRIVATE_ERROR,
                                      MSG_PRIVATE_INIT_AUTH_CONTEXT}) {
        GetCoreGlobalCtrl()->SetLastError(0);
        EXPECT_EQ(m_pSession->Send(iType, data.data(), DWORD(data.size()), 1), -1) << iType;
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 17) << iType;
    }
    // An encrypted PUBLISH needs a key.
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 0), -1);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 12);
    EXPECT_EQ(ReadFrame(), Bytes());
    m_pSession->Stop();
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 1), -1);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 8);
    EXPECT_EQ(m_pSession->SetBuffSize(2, 2), 0);
}

TEST_F(MqttSession, RealClientBytes) {
    Start();
    ASSERT_EQ(Deliver(Fixture("mosquitto_pub")), 1);
    EXPECT_EQ(ReadFrame(), (Bytes{0x20, 0x02, 0x00, 0x00}));
    EXPECT_EQ(ReadFrame(), (Bytes{0x40, 0x02, 0x00, 0x01}));
    EXPECT_EQ(ReadFrame(), Bytes());
    ASSERT_EQ(m_Host.Count(MSG_PUBLISH), 1u);
    EXPECT_EQ(m_Host.Events()[2].data, "hello");
    EXPECT_EQ(m_Host.Types().back(), MSG_DISCONNECT);
}

TEST_F(MqttSession, RefusedConnects) {
    const struct {
        const char *name;
        ConnectSpec spec;
        Bytes answer;
    } rows[] = {
        {"level 3", ConnectSpec(3), {0x20, 0x02, 0x00, 0x01}},
        {"level 5", ConnectSpec(5), {0x20, 0x02, 0x00, 0x01}},
        {"empty id, no clean session", ConnectSpec(4, 0x80, 60, ""), {0x20, 0x02, 0x00, 0x0B}},
        {"no user name", ConnectSpec(4, 0x02), {}},
        {"keep alive 601", ConnectSpec(4, 0x82, 601), {}},
        {"will QoS 0", ConnectSpec(4, 0x86, 60, "c", "t", "m"), {}},
    };
    for (const auto &row : rows) {
        Start();
        EXPECT_EQ(Deliver(Connect(row.spec)), 0) << row.name;
        EXPECT_EQ(ReadFrame(), row.answer) << row.name;
        EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_INIT) << row.name;
        ASSERT_EQ(m_Host.Types(), std::vector<int>{MSG_PRIVATE_ERROR}) << row.name;
        EXPECT_EQ(m_Host.Events()[0].iStatus, 11) << row.name;
        // Once the host was told, the session reads nothing more: no answer to a good CONNECT.
        EXPECT_EQ(Deliver(Connect(ConnectSpec())), 0) << row.name;
        EXPECT_EQ(ReadFrame(), Bytes()) << row.name;
        EXPECT_EQ(m_Host.Events().size(), 1u) << row.name;
        EndSession();
    }
}

// Hostile frames after a good CONNECT: each ends in one MSG_PRIVATE_ERROR and no answer.
TEST_F(MqttSession, HostileFrames) {
    const struct {
        const char *name;
        Bytes frame;
        int status;
    } rows[] = {
        {"a claim of 268435455 bytes", {0x30, 0xFF, 0xFF, 0xFF, 0x7F}, 11},
        {"a fifth length byte", {0x30, 0x80, 0x80, 0x80, 0x80, 0x01}, 11},
        {"SUBSCRIBE whose filter ends the packet", Frame(0x82, U16(7) + Str("a/#")), 11},
        {"PUBLISH QoS 2", Publish("a", Raw("x"), 2), 11},
        {"PUBLISH QoS 3", Frame(0x36, Str("a") + U16(1) + Raw("x")), 11},
        {"a topic of 256 bytes", Publish(std::string(256, 't'), Raw("x")), 11},
        {"QoS 1 without identifier", Frame(0x32, Str("a")), 11},
        {"a second CONNECT", Connect(ConnectSpec()), 11},
        {"garbage after DISCONNECT", kDisconnect + Bytes{0x00, 0x00}, 11},
    };
    for (const auto &row : rows) {
        Start();
        ConnectClient();
        m_Host.Clear();
        EXPECT_EQ(Deliver(row.frame), 0) << row.name;
        EXPECT_EQ(ReadFrame(), Bytes()) << row.name;
        EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u) << row.name;
        EXPECT_EQ(m_Host.Events().back().iStatus, row.status) << row.name;
        // Nothing further is read or reported.
        EXPECT_EQ(Deliver(kPingReq), 0) << row.name;
        EXPECT_EQ(ReadFrame(), Bytes()) << row.name;
        EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u) << row.name;
        EndSession();
    }
}

TEST_F(MqttSession, LinkStatuses) {
    Start();
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(Deliver(Raw("ab"), 73), 0);  // a close with data: not reported
    EXPECT_TRUE(m_Host.Events().empty());
    EXPECT_EQ(Deliver(Raw("ab"), 10), 1);
    EXPECT_EQ(Deliver({}, 73), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 9);
    ASSERT_EQ(m_Host.Types(), std::vector<int>{MSG_PRIVATE_ERROR});
    EXPECT_EQ(m_Host.Events()[0].iStatus, 73);
    EXPECT_EQ(CMqttServerSession::ProMqttClientDataCBStatic(nullptr, nullptr, 0, 0), 0);
}

// A test authenticator: takes every frame, answers each with a PUBLISH of its own on "auth".
class TestAuthenticator : public CMqttAuthenticator {
public:
    explicit TestAuthenticator(std::vector<Bytes> *pSeen) : m_pSeen(pSeen) {}
    int HandleFrame(int, MqttFrame *pFrame, MORVA_MQTT_SETINFO_PROXY, MORVA_MQTT_SEND_PROXY fnSend,
                    void *pSession) override {
        m_pSeen->emplace_back(pFrame->pData->GetData(), pFrame->pData->GetData() + pFrame->pData->GetLength());
        const Bytes answer = Str("auth") + Raw("ok");
        return fnSend(0x30, answer.data(), DWORD(answer.size()), pSession) > 0;
    }

private:
    std::vector<Bytes> *m_pSeen;
};

TEST_F(MqttSession, PrivateAuthenticationPath) {
    std::vector<Bytes> seen;
    m_Host.onAuth = [&seen](MORVA_MQTT_AUTH_MSG *pAuth) {
        EXPECT_EQ(pAuth->fnSetInfo(MQTT_CMD_SETINFO_AUTHENTICATOR, new TestAuthenticator(&seen), 0, pAuth->pSession),
                  0);
    };
    Start();
    const Bytes hello = Frame(0x50, Raw("private hello"));
    const Bytes next = Frame(0x18, Raw("private step"));  // a private CONNECT: bit 3 set
    ASSERT_EQ(Deliver(hello), 1);
    ASSERT_EQ(Deliver(next), 1);
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_AUTHENTICATING);
    ASSERT_EQ(seen, (std::vector<Bytes>{hello, next}));
    EXPECT_EQ(ReadFrame(), Frame(0x30, Str("auth") + Raw("ok")));
    EXPECT_EQ(ReadFrame(), Frame(0x30, Str("auth") + Raw("ok")));
    ASSERT_EQ(m_Host.Types(), std::vector<int>{MSG_PRIVATE_INIT_AUTH_CONTEXT});
    EXPECT_EQ(m_Host.Events()[0].dwFrameSize, sizeof(MqttFrame));
    // A standard CONNECT ends the exchange.
    const Bytes data = Str("t") + Raw("x");
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 1), -1);
    ConnectClient();
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_CONNECTED);
}

TEST_F(MqttSession, FirstFrameNotMqttWithoutAnAuthenticator) {
    Start();
    EXPECT_EQ(Deliver(Frame(0x10, Str("MQIsdp") + Bytes{3, 0x82, 0, 60} + Str("c"))), 0);
    EXPECT_EQ(ReadFrame(), Bytes());
    EXPECT_EQ(m_Host.Types(), (std::vector<int>{MSG_PRIVATE_INIT_AUTH_CONTEXT, MSG_PRIVATE_ERROR}));
    EXPECT_EQ(m_pSession->GetState(), MQTT_STATE_INIT);
}

TEST_F(MqttSession, SetInfoTable) {
    Start();
    servicetest::LogCapture log;
    std::vector<BYTE> buf(300, '0');
    const struct {
        DWORD command;
        DWORD length;
        int result;
        const char *line;
    } rows[] = {
        {MQTT_CMD_SETINFO_SESSIONKEY, 97, 0, nullptr},
        {MQTT_CMD_SETINFO_SESSIONKEY, 96, -1, "MQTT_CMD_SETINFO_SESSIONKEY, iBufLen[96], Limit:[65]"},
        {MQTT_CMD_SETINFO_SESSIONKEY, 98, -1, "MQTT_CMD_SETINFO_SESSIONKEY, iBufLen[98], Limit:[65]"},
        {MQTT_CMD_SETINFO_ALIVE_TIMEOUT, 4, 0, nullptr},
        {MQTT_CMD_SETINFO_ALIVE_TIMEOUT, 3, -1, "MQTT_CMD_SETINFO_ALIVE_TIMEOUT, iBufLen[3], Limit:[4]"},
        {MQTT_CMD_SETINFO_SESSIONKEY_AND_IV, 97, 0, nullptr},
        {MQTT_CMD_SETINFO_SESSIONKEY_AND_IV, 65, -1, "MQTT_CMD_SETINFO_SESSIONKEY_AND_IV, iBufLen[65], Limit:[65]"},
        {MQTT_CMD_SETINFO_UNCRYPFILTER, 256, 0, nullptr},
        {MQTT_CMD_SETINFO_UNCRYPFILTER, 257, -1, "MQTT_CMD_SETINFO_UNCRYPFILTER, iBufLen[257], Limit:[256]"},
        {MQTT_CMD_SETINFO_WILL_DELIVERED, 4, 0, nullptr},
        {MQTT_CMD_SETINFO_WILL_DELIVERED, 2, -1, "iBufLen[2], Limit:[4]"},
        {MQTT_CMD_SETINFO_KEY2_AND_IV, 32, 0, nullptr},
        {MQTT_CMD_SETINFO_KEY2_AND_IV, 16, -1, "iBufLen[16], Limit:[32]"},
        {99, 4, 0, "[5]CMqttServerSession::SetInfo, dwCommand:99 not support!"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(m_pSession->SetInfo(row.command, buf.data(), row.length), row.result)
            << row.command << "/" << row.length;
        if (row.line) {
            EXPECT_EQ(log.Matching(row.line).size(), 1u) << row.line;
        }
    }
    EXPECT_EQ(m_pSession->SetInfo(MQTT_CMD_SETINFO_SESSIONKEY, nullptr, 97), -1);
    EXPECT_EQ(CMqttServerSession::SetInfoProxy(MQTT_CMD_SETINFO_SESSIONKEY, buf.data(), 97, nullptr), -1);
    EXPECT_EQ(CMqttServerSession::SendToClientProxy(0x30, buf.data(), 4, nullptr), -1);
    EXPECT_EQ(m_pSession->SetBuffSize(2, 2), 1);
}

TEST_F(MqttSession, StartRefusals) {
    std::unique_ptr<CMqttServerSession> pSession(new (-1) CMqttServerSession());
    CMqttServerSession &session = *pSession;
    MQTT_SERVER_PARAM param = {3, 5000, 90000, 5000, nullptr, nullptr, 0};
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ::close(fds[1]);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(session.StartOnLink(nullptr, std::make_unique<SocketPairLink>(fds[0]), m_iProxy), 0);
    EXPECT_EQ(session.StartOnLink(&param, nullptr, m_iProxy), 0);
    EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), 17);  // no callback
    param.fnCB = Host::Callback;
    EXPECT_EQ(session.StartOnLink(&param, nullptr, m_iProxy), 0);
    // No heartbeat proxy: the start fails and the link lets go of its socket.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    EXPECT_EQ(session.StartOnLink(&param, std::make_unique<SocketPairLink>(pair[0]), -1), 0);
    EXPECT_EQ(session.GetHeartbeatRegistration(), -1);
}

}  // namespace
