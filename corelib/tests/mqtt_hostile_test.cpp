// Hostile clients against a real listener over raw sockets (peers/mqtt_hostile_frames.py): each
// hostile frame gets no answer, one report to the host and a closed connection, without growing
// the peak memory; thousands of clients stuck in half a frame do not keep a normal one out.
#include "mqtt_server_util.h"

#include <fstream>

using namespace mqtttest;

namespace {

constexpr const char *kPeer = MQTT_HOSTILE_PEER;

// Peak resident memory of this process, KiB.
long PeakKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

std::vector<int> Types(const std::vector<HostEvent> &events) {
    std::vector<int> out;
    for (const HostEvent &e : events)
        out.push_back(e.iType);
    return out;
}

}  // namespace

// The row names are the peer's; the host's side of each row is here. Every row ends in exactly
// one MSG_PRIVATE_ERROR with status 11; the host's close then ends the connection.
TEST_F(MqttServerTest, HostileFramesOverRawSockets) {
    m_Host.on = CloseOnError;
    ASSERT_GE(Listen(), 0);
    const std::vector<int> kAfterConnect = {MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_CONNECT, MSG_PRIVATE_ERROR};
    const std::vector<int> kNoConnect = {MSG_PRIVATE_ERROR};
    const std::vector<int> kNotMqtt = {MSG_PRIVATE_INIT_AUTH_CONTEXT, MSG_PRIVATE_ERROR};
    const struct {
        const char *name;
        std::vector<int> types;
    } rows[] = {
        {"claim-268435455", kAfterConnect},
        {"fifth-length-byte", kAfterConnect},
        {"subscribe-filter-ends-packet", kAfterConnect},
        {"publish-qos2", kAfterConnect},
        {"publish-qos3", kAfterConnect},
        {"topic-256-bytes", kAfterConnect},
        {"qos1-without-identifier", kAfterConnect},
        {"connect-protocol-name-past-frame", kNotMqtt},
        {"connect-client-id-past-frame", kNoConnect},
        {"connect-will-topic-past-frame", kNoConnect},
        {"connect-will-message-past-frame", kNoConnect},
        {"connect-user-name-past-frame", kNoConnect},
        {"connect-password-past-frame", kNoConnect},
        {"first-frame-publish", kNotMqtt},
        {"first-frame-mqisdp", kNotMqtt},
        {"garbage-after-disconnect", {MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_CONNECT, MSG_DISCONNECT, MSG_PRIVATE_ERROR}},
    };
    const long lPeakBefore = PeakKiB();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const size_t uSeen = m_Host.Events().size();
        srvtest::PyClient peer({std::to_string(m_iPort), row.name}, kPeer);
        EXPECT_EQ(peer.Line(60000), std::string("ok   ") + row.name);
        ASSERT_TRUE(WaitSessions(0));
        const std::vector<HostEvent> all = m_Host.Events();
        const std::vector<HostEvent> events(all.begin() + long(uSeen), all.end());
        EXPECT_EQ(Types(events), row.types);
        if (!events.empty()) {
            EXPECT_EQ(events.back().iStatus, 11);
        }
    }
    // A claim of 268435455 bytes and the rest allocate nothing of that order.
    EXPECT_LT(PeakKiB() - lPeakBefore, 64 * 1024);
    // The listener still serves.
    const int fd = ConnectedClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Publish("a", Raw("x"), 1, 5)));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0x40, 0x02, 0x00, 0x05}));
}

// Clients that each send half a CONNECT and stay: the server keeps every one of them and still
// answers a normal client; when they all go, so do their sessions.
TEST_F(MqttServerTest, HalfFrameClientsStayAndGo) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's shadow of 10000 sessions alone takes about 4 GiB: too much beside the
    // rest of a parallel test run.
    constexpr unsigned kClients = 2500;
#else
    constexpr unsigned kClients = 10000;
#endif
    // Our side's descriptors and the holder's, which inherits the limit.
    RaiseFileLimit(kClients + 256);
    rlimit r{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &r), 0);
    if (r.rlim_cur < kClients + 256)
        GTEST_SKIP() << "descriptor limit " << r.rlim_cur << " below " << kClients + 256;
    m_Host.on = CloseOnError;
    // Sessions live for 3600 of the shortened heartbeat periods: longer than the test.
    ASSERT_GE(Listen(3600000, 1000), 0);
    const size_t uFdsBefore = srvtest::OpenFds();
    {
        srvtest::PyClient holders({std::to_string(m_iPort), "--half", std::to_string(kClients)}, kPeer);
        ASSERT_EQ(holders.Line(240000), "ready " + std::to_string(kClients));
        ASSERT_TRUE(servicetest::WaitFor([&] { return Sessions()->GetCurrNum() == kClients; }, 120000))
            << Sessions()->GetCurrNum();
        const int fd = ConnectedClient();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, Publish("a", Raw("x"), 1, 3)));
        EXPECT_EQ(ReadFrame(fd), (Bytes{0x40, 0x02, 0x00, 0x03}));
        ASSERT_TRUE(m_Host.WaitType(MSG_PUBLISH));
        // None of the stuck clients was reported or answered.
        EXPECT_EQ(Types(m_Host.Events()), (std::vector<int>{MSG_PRIVATE_SESSION_KEY_SEARCH, MSG_CONNECT, MSG_PUBLISH}));
        SendAll(fd, kDisconnect);
    }
    // The holder is gone with its sockets: every session ends, and its descriptor with it.
    ASSERT_TRUE(servicetest::WaitFor([&] { return Sessions()->GetCurrNum() <= 1; }, 120000));
    EXPECT_TRUE(servicetest::WaitFor([&] { return srvtest::OpenFds() <= uFdsBefore + 2; }, 60000));
}
