// The MQTT server through its C functions: listeners, sessions, the managers' handles and
// back-off, closes from inside callbacks, and real clients (mosquitto, paho) over loopback.
#include "mqtt_server_util.h"

#include <atomic>
#include <chrono>
#include <fstream>

#include "transport/mqtt/MqttLongLink.h"

using namespace mqtttest;
using Vorezi::CMqttServerMgr;

namespace {

int NullCallback(int, MORVA_MQTT_MSG *, void *) {
    return 1;
}

}  // namespace

// Before Morva_Init every function refuses and no manager is made.
TEST(MqttServerApi, BeforeInit) {
    MORVA_MQTT_LISTEN_PARAM param = {};
    param.fnCB = NullCallback;
    BYTE byData[4] = {};
    EXPECT_EQ(Morva_MqttServerCreateListen(&param), -1);
    EXPECT_EQ(Morva_MqttServerDestroyListen(0), 0);
    EXPECT_EQ(Morva_MqttServerClose(0), 0);
    Morva_MqttServerCloseAll();
    EXPECT_EQ(Morva_MqttServerSend(0, MSG_PUBLISH, byData, 4, 1), -1);
    EXPECT_EQ(Morva_MqttServerSetBuffSize(0, 2, 2), 0);
    EXPECT_EQ(Morva_MqttServerSetInfo(0, MQTT_CMD_SETINFO_ACCEPT_WAIT, byData, 4), -1);
    EXPECT_EQ(Vorezi::GetMqttListenMgr(), nullptr);
    EXPECT_EQ(Vorezi::GetMqttServerMgr(), nullptr);
    // Without a manager there is no listener: -1, never the valid handle 0.
    EXPECT_EQ(Vorezi::Interim_MqttServerGetListenHandle(0), -1);
}

TEST_F(MqttServerTest, BadHandlesAndRecords) {
    BYTE byData[65] = {};
    const int iMax = int(Vorezi::GetCoreGlobalCtrl()->GetAbilityCfg().dwMaxMqttConnection);
    for (int iHandle : {-1, 0, 7, iMax, iMax + 1}) {
        SCOPED_TRACE(iHandle);
        EXPECT_EQ(Morva_MqttServerClose(iHandle), 0);
        EXPECT_EQ(Morva_MqttServerSend(iHandle, MSG_PUBLISH, byData, 4, 1), -1);
        EXPECT_EQ(Morva_MqttServerSetBuffSize(iHandle, 2, 2), 0);
        EXPECT_EQ(Morva_MqttServerSetInfo(iHandle, MQTT_CMD_SETINFO_SESSIONKEY, byData, 65), -1);
        EXPECT_EQ(Morva_MqttServerDestroyListen(iHandle), 0);
        EXPECT_EQ(Vorezi::Interim_MqttServerGetListenHandle(iHandle), -1);
    }
    Morva_MqttServerCloseAll();
    EXPECT_EQ(Morva_MqttServerCreateListen(nullptr), -1);
    EXPECT_EQ(srvtest::LastError(), 17);
    MORVA_MQTT_LISTEN_PARAM noCallback = {};
    std::strcpy(noCallback.szListenAddr, "127.0.0.1");
    noCallback.wPort = WORD(srvtest::FreePort());
    EXPECT_EQ(Morva_MqttServerCreateListen(&noCallback), -1);
    EXPECT_EQ(srvtest::LastError(), 17);

    // The accept back-off is the manager's: set whatever the handle, a short value refused.
    int iWait = 7;
    EXPECT_EQ(Morva_MqttServerSetInfo(-1, MQTT_CMD_SETINFO_ACCEPT_WAIT, &iWait, 4), 0);
    EXPECT_EQ(Sessions()->GetWaitTime(), 7);
    EXPECT_EQ(Morva_MqttServerSetInfo(-1, MQTT_CMD_SETINFO_ACCEPT_WAIT, &iWait, 2), -1);
}

// The back-off of a member table by how full it is.
TEST_F(MqttServerTest, WaitTimeByFill) {
    class Table : public Vorezi::CMemberMgrBase {
    public:
        Table() : CMemberMgrBase(4096) {}
        Vorezi::CMemberBase *NewMemoryObject(void *) override { return new (-1) Vorezi::CMemberBase(); }
    } table;
    table.SetDefaultWaitTime(3);
    const struct {
        unsigned uUsed;
        int iWait;
    } rows[] = {{0, 3}, {2048, 3}, {2049, 3}, {2867, 5}, {3000, 5}, {3276, 15}, {3300, 15}, {3685, 15}, {3686, 25}, {4095, 25}, {4096, 100}};
    unsigned uUsed = 0;
    for (const auto &row : rows) {
        for (; uUsed < row.uUsed; uUsed++)
            ASSERT_GE(table.AllocIndex(table.NewMemoryObject(nullptr)), 0);
        EXPECT_EQ(table.GetWaitTime(), row.iWait) << row.uUsed;
    }
}

// A raw client through a listener with zero times: defaults, CONNACK, PUBACK, the host's send,
// and the listen handle of the session.
TEST_F(MqttServerTest, RawClientThroughListener) {
    servicetest::LogCapture log;
    const int iListen = Listen();
    ASSERT_GE(iListen, 0);
    const int iLink = Vorezi::Interim_MqttServerGetListenHandle(iListen);
    ASSERT_GE(iLink, 0);
    const int fd = ConnectedClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Publish("a/b", Raw("payload"), 1, 0x1234)));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0x40, 0x02, 0x12, 0x34}));
    ASSERT_TRUE(m_Host.WaitType(MSG_PUBLISH));
    const HostEvent pub = m_Host.OfType(MSG_PUBLISH)[0];
    EXPECT_EQ(pub.data, "payload");
    EXPECT_EQ(pub.topic, "a/b");
    EXPECT_EQ(pub.user, "user");
    // 90000 / 5000: a silent client is reported after 18 heartbeats.
    EXPECT_FALSE(log.Matching("m_dwTimeoutLimitCount[18], dwIntervalTime[5000]").empty());

    const Bytes raw = Str("down") + Raw("hi");
    EXPECT_EQ(Morva_MqttServerSend(pub.iHandle, MSG_PUBLISH, raw.data(), DWORD(raw.size()), 1), int(raw.size() + 2));
    EXPECT_EQ(ReadFrame(fd), Frame(0x30, raw));
    // A PUBLISH of the host needs a key unless raw; types outside 1..14 are refused.
    EXPECT_EQ(Morva_MqttServerSend(pub.iHandle, MSG_PUBLISH, raw.data(), DWORD(raw.size()), 0), -1);
    EXPECT_EQ(Morva_MqttServerSend(pub.iHandle, MSG_PRIVATE_ERROR, raw.data(), DWORD(raw.size()), 1), -1);
    EXPECT_EQ(Morva_MqttServerSetBuffSize(pub.iHandle, 2, 2), 1);

    // The listener's sessions close by its server-link handle; the listener itself stays.
    Vorezi::Interim_MqttServerCloseByListen(iLink + 1);
    EXPECT_EQ(Sessions()->GetCurrNum(), 1u);
    Vorezi::Interim_MqttServerCloseByListen(iLink);
    EXPECT_EQ(Sessions()->GetCurrNum(), 0u);
    EXPECT_EQ(srvtest::WaitClosed(fd), 1);
    EXPECT_GE(ConnectedClient(), 0);
    EXPECT_TRUE(WaitSessions(1));
    // Destroying the listener keeps its sessions.
    EXPECT_EQ(Morva_MqttServerDestroyListen(iListen), 1);
    EXPECT_EQ(Sessions()->GetCurrNum(), 1u);
    EXPECT_EQ(srvtest::ConnectTo(m_iPort), -1);
    Morva_MqttServerCloseAll();
    EXPECT_EQ(Sessions()->GetCurrNum(), 0u);
}

// A close asked for inside a callback waits until that callback has returned; the session
// reports nothing more. On the receive thread, and on the heartbeat with the will of the host
// to send from the same callback.
TEST_F(MqttServerTest, CloseFromInsideCallbacks) {
    ASSERT_GE(Listen(), 0);
    m_Host.on = [](int iHandle, MORVA_MQTT_MSG *pMsg) {
        if (pMsg->iMsgType == MSG_PUBLISH || pMsg->iMsgType == MSG_PRIVATE_ERROR) {
            EXPECT_EQ(Morva_MqttServerClose(iHandle), 1);
            const Bytes raw = Str("t") + Raw("x");
            Morva_MqttServerSend(iHandle, MSG_PUBLISH, raw.data(), DWORD(raw.size()), 1);
        }
    };
    // The receive thread: a PUBLISH followed at once by more frames.
    const int fd = ConnectedClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Publish("t", Raw("1")) + Publish("t", Raw("2")) + kPingReq));
    EXPECT_EQ(srvtest::WaitClosed(fd), 1);
    EXPECT_TRUE(WaitSessions(0));
    EXPECT_EQ(m_Host.OfType(MSG_PUBLISH).size(), 1u);

    // The heartbeat: a client silent for 20 periods gets exactly one report with status 10.
    ASSERT_GE(Listen(20000, 1000), 0);
    const int fdSilent = ConnectedClient();
    ASSERT_GE(fdSilent, 0);
    EXPECT_EQ(srvtest::WaitClosed(fdSilent), 1);
    EXPECT_TRUE(WaitSessions(0));
    const auto errors = m_Host.OfType(MSG_PRIVATE_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].iStatus, 10);
}

// Accepts set the listen link's back-off only when it changes.
TEST(MqttServerWait, AcceptsSetTheWaitOnChange) {
    Vorezi::MORVA_ABILITY_CFG ability = {};
    ability.dwMaxMqttConnection = 10;
    ASSERT_EQ(Morva_SetInitConfig(Vorezi::ENUM_MORVA_INIT_CFG_ABILITY, &ability), 1);
    ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->Init(), 1);
    ServerHost host;  // outlives the sessions, which go at Fini
    {
        servicetest::LogCapture log;
        const int iPort = srvtest::FreePort();
        ASSERT_GE(ListenFor(&host, iPort), 0);
        std::vector<int> fds;
        // Accept n finds n-1 sessions: up to 6 the default 0, then 7 give 5, 8 give 15, 9 give
        // 25, and the 11th finds the table full (100) and is refused.
        for (int i = 0; i < 11; i++) {
            fds.push_back(srvtest::ConnectTo(iPort));
            ASSERT_GE(fds.back(), 0);
            ASSERT_TRUE(servicetest::WaitFor(
                [&] { return log.Matching("ServerDataCallBack, Create").size() == size_t(i + 1); }, 30000));
        }
        std::vector<std::string> waits;
        for (const std::string &line : log.Matching("SetWait["))
            waits.push_back(line.substr(line.find("SetWait["), line.find(']', line.find("SetWait[")) + 1 - line.find("SetWait[")));
        EXPECT_EQ(waits, (std::vector<std::string>{"SetWait[5]", "SetWait[15]", "SetWait[25]", "SetWait[100]"}));
        EXPECT_EQ(srvtest::WaitClosed(fds.back()), 1);
        for (int fd : fds)
            ::close(fd);
    }
    Vorezi::GetCoreGlobalCtrl()->Fini();
}

// Fini with live listeners and sessions: everything goes, no manager is made again.
TEST(MqttServerLifetime, FiniWithLiveSessions) {
    RaiseFileLimit();
    const size_t uFdsBefore = srvtest::OpenFds();
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->Init(), 1);
        ServerHost host;
        const int iPort = srvtest::FreePort();
        ASSERT_GE(ListenFor(&host, iPort), 0);
        std::vector<int> fds;
        for (int i = 0; i < 200; i++) {
            int fd = srvtest::ConnectTo(iPort);
            ASSERT_GE(fd, 0);
            const Bytes connect = Connect(ConnectSpec(4, 0x82, 60, "c" + std::to_string(i)));
            ASSERT_EQ(::send(fd, connect.data(), connect.size(), MSG_NOSIGNAL), ssize_t(connect.size()));
            fds.push_back(fd);
        }
        ASSERT_TRUE(host.WaitType(MSG_CONNECT, 200));
        EXPECT_EQ(Vorezi::GetCoreGlobalCtrl()->Fini(), 1);
        EXPECT_EQ(Vorezi::GetMqttServerMgr(), nullptr);
        EXPECT_EQ(Vorezi::GetMqttListenMgr(), nullptr);
        for (int fd : fds) {
            EXPECT_EQ(srvtest::WaitClosed(fd), 1);
            ::close(fd);
        }
    }
    EXPECT_LE(srvtest::OpenFds(), uFdsBefore + 2);
}

// mosquitto_pub and mosquitto_sub 2.0.11 within the limits of the server.
TEST_F(MqttServerTest, MosquittoClients) {
    if (!HaveTool("/usr/bin/mosquitto_pub") || !HaveTool("/usr/bin/mosquitto_sub"))
        GTEST_SKIP() << "mosquitto-clients not installed";
    ASSERT_GE(Listen(), 0);
    const std::string common = " -h 127.0.0.1 -p " + std::to_string(m_iPort) + " -V mqttv311 -u user -k 60 -q 1";
    EXPECT_EQ(RunTool("mosquitto_pub" + common + " -t up/one -m hello"), 0);
    ASSERT_TRUE(m_Host.WaitType(MSG_PUBLISH));
    EXPECT_EQ(m_Host.OfType(MSG_PUBLISH).size(), 1u);
    EXPECT_EQ(m_Host.OfType(MSG_PUBLISH)[0].data, "hello");
    EXPECT_EQ(m_Host.OfType(MSG_PUBLISH)[0].topic, "up/one");
    EXPECT_TRUE(m_Host.WaitType(MSG_DISCONNECT));

    // The subscriber gets SUBACK with QoS 1, then the host's raw PUBLISH.
    const std::string out = ::testing::TempDir() + "mqtt_sub_out.txt";
    const std::string cmd = "timeout 30 mosquitto_sub" + common + " -t down -C 1 > " + out + " &";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(m_Host.WaitType(MSG_CONNECT, 2));
    const int iHandle = m_Host.OfType(MSG_CONNECT)[1].iHandle;
    ASSERT_TRUE(servicetest::WaitFor([&] { return SessionState(iHandle) == Vorezi::MQTT_STATE_SUBSCRIBED; }, 30000));
    const Bytes raw = Str("down") + Raw("to-subscriber");
    EXPECT_GT(Morva_MqttServerSend(iHandle, MSG_PUBLISH, raw.data(), DWORD(raw.size()), 1), 0);
    ASSERT_TRUE(servicetest::WaitFor([&] {
        std::ifstream in(out);
        std::string line;
        return std::getline(in, line) && line == "to-subscriber";
    }, 30000));
    EXPECT_TRUE(m_Host.WaitType(MSG_DISCONNECT, 2));
}

// paho-mqtt 1.6.1: CONNECT variants and the CONNACK each gets (the script holds the table).
TEST_F(MqttServerTest, PahoConnectTable) {
    if (!HaveTool("/usr/bin/python3") || RunTool("/usr/bin/python3 -c 'import paho.mqtt.client'", 30) != 0)
        GTEST_SKIP() << "python3-paho-mqtt not installed";
    ASSERT_GE(Listen(), 0);
    EXPECT_EQ(RunTool(std::string("/usr/bin/python3 ") + MQTT_PAHO_TABLE + " " + std::to_string(m_iPort), 120), 0);
}

namespace {

// What an owner of a byProType-24 server link gets.
struct LinkEvent {
    DWORD dwMsgType, dwKind, dwMqttType;
    int iAccept;
    std::string data, topic, user;
};

class LinkOwner {
public:
    static int Callback(void *pUser, SERVER_LINK_DATA *p) {
        auto *self = static_cast<LinkOwner *>(pUser);
        LinkEvent e{p->dwMsgType, p->dwDataKind, p->dwMqttWord, p->iAcceptHandle,
                    p->pData ? std::string(p->pData, p->dwDataLen) : std::string(),
                    reinterpret_cast<char *>(p->byMqttTopic), reinterpret_cast<char *>(p->byAreaB)};
        std::lock_guard<std::mutex> guard(self->m_Lock);
        self->m_Events.push_back(e);
        return 1;
    }
    std::vector<LinkEvent> OfType(DWORD dwMqttType) {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<LinkEvent> out;
        for (const LinkEvent &e : m_Events)
            if (e.dwMqttType == dwMqttType)
                out.push_back(e);
        return out;
    }

private:
    std::mutex m_Lock;
    std::vector<LinkEvent> m_Events;
};

}  // namespace

// The MQTT server link through the server-link interface: kind-24 records, sends, closes.
TEST_F(MqttServerTest, ServerLinkKind24) {
    servicetest::LogCapture log;
    LinkOwner owner;
    m_iPort = srvtest::FreePort();
    SERVER_LINK_COND cond =
        srvtest::MakeCond(SERVER_LINK_PRO_MQTT, "127.0.0.1", WORD(m_iPort), LinkOwner::Callback, &owner);
    const int iLink = Vorezi::Interim_CreateServerLink(&cond);
    ASSERT_GE(iLink, 0);
    const int fd = ConnectedClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Publish("up", Raw("data"), 1, 9)));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0x40, 0x02, 0x00, 0x09}));
    // Both time values 0: 5000, 90000 and 5000. The session writes the line once its receive is
    // posted, and that receive may answer the client first.
    EXPECT_TRUE(servicetest::WaitFor(
        [&] { return !log.Matching("m_dwTimeoutLimitCount[18], dwIntervalTime[5000]").empty(); }, 30000));
    ASSERT_TRUE(servicetest::WaitFor([&] { return !owner.OfType(MSG_PUBLISH).empty(); }, 30000));
    const LinkEvent pub = owner.OfType(MSG_PUBLISH)[0];
    EXPECT_EQ(pub.dwMsgType, 0u);
    EXPECT_EQ(pub.dwKind, 24u);
    EXPECT_EQ(pub.data, "data");
    EXPECT_EQ(pub.topic, "up");
    EXPECT_EQ(pub.user, "user");

    const Bytes raw = Str("down") + Raw("x");
    SERVER_LINK_SEND_PARAM send;
    std::memset(&send, 0, sizeof(send));
    send.iAcceptHandle = pub.iAccept;
    send.byType = MSG_PUBLISH;
    send.byFlag[2] = 1;
    send.pData = reinterpret_cast<const char *>(raw.data());
    send.dwDataLen = DWORD(raw.size());
    EXPECT_EQ(Vorezi::Interim_ServerLinkSendData(iLink, &send), int(raw.size() + 2));
    EXPECT_EQ(ReadFrame(fd), Frame(0x30, raw));
    EXPECT_EQ(Vorezi::Interim_CloseAcceptHandle(iLink, -5), -1);
    BYTE byKey[4] = {};
    EXPECT_EQ(Vorezi::Interim_SetInfo(iLink, -1, MQTT_CMD_SETINFO_SESSIONKEY, byKey, 4), -1);

    // Closing the link ends its sessions; it then refuses to send.
    auto *pLinkMgr = Vorezi::GetServerLinkMgr();
    ASSERT_TRUE(pLinkMgr->ReadLockMember(iLink));
    auto *pMqttLink = dynamic_cast<Vorezi::CServerLinkBase *>(pLinkMgr->GetMember(iLink));
    ASSERT_NE(pMqttLink, nullptr);
    pMqttLink->CloseLink();
    EXPECT_EQ(pMqttLink->SendData(&send), -1);
    pLinkMgr->ReadUnlockMember(iLink);
    EXPECT_EQ(srvtest::WaitClosed(fd), 1);
    EXPECT_EQ(Sessions()->GetCurrNum(), 0u);
    EXPECT_EQ(Vorezi::Interim_DestroyServerLink(iLink), 1);
}

// 1000 clients connect, publish and vanish; the host closes each session from inside its report
// of the vanished link, so every close goes through the deferred path while others arrive.
TEST_F(MqttServerTest, ManyClientsVanishAndAreClosedFromTheirCallbacks) {
    RaiseFileLimit();
    ASSERT_GE(Listen(), 0);
    m_Host.on = CloseOnError;
    constexpr int kClients = 1000;
    for (int i = 0; i < kClients; i++) {
        const int fd = srvtest::ConnectTo(m_iPort);
        ASSERT_GE(fd, 0);
        const Bytes frames = Connect(ConnectSpec(4, 0x82, 60, "v" + std::to_string(i))) + Publish("t", Raw("p"), 1, 1);
        ASSERT_TRUE(SendAll(fd, frames));
        ASSERT_EQ(ReadFrame(fd), (Bytes{0x20, 0x02, 0x00, 0x00}));
        ::close(fd);
    }
    EXPECT_TRUE(m_Host.WaitType(MSG_PRIVATE_ERROR, kClients, 60000));
    EXPECT_TRUE(WaitSessions(0));
}

// Sessions refused from their callbacks while their clients stay: each close waits for its
// client, and the closes run side by side, not one after another.
TEST_F(MqttServerTest, SessionsRefusedAtOnceAllEndWithinOneCloseWait) {
    constexpr int kClients = 20;
    ASSERT_GE(Listen(), 0);
    std::atomic<bool> bRefuse{false};
    m_Host.on = [&](int iHandle, MORVA_MQTT_MSG *pMsg) {
        if (pMsg->iMsgType == MSG_PUBLISH && bRefuse.load()) {
            EXPECT_EQ(Morva_MqttServerClose(iHandle), 1);
        }
    };
    std::vector<int> fds;
    for (int i = 0; i < kClients; i++) {
        const int fd = ConnectedClient(ConnectSpec(4, 0x82, 60, "r" + std::to_string(i)));
        ASSERT_GE(fd, 0) << i;
        fds.push_back(fd);
    }
    bRefuse = true;
    const auto start = std::chrono::steady_clock::now();
    for (int fd : fds)
        ASSERT_TRUE(SendAll(fd, Publish("t", Raw("p"))));
    for (int fd : fds)
        EXPECT_EQ(srvtest::WaitClosed(fd, 30000), 1);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // One close waits up to kProbeRecvTimeout (3 s) for its client.
    EXPECT_LT(ms.count(), Vorezi::CMqttLongLink::kProbeRecvTimeout + 1500);
    EXPECT_TRUE(WaitSessions(0));
}
