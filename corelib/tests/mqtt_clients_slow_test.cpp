// Slow checks of the MQTT server from outside: an idle mosquitto_sub keeps its session with
// PINGREQ every 5 s, and tshark, capturing inside the test's own namespace, decodes every frame
// the server sends in a whole session.
#include "mqtt_server_util.h"

#include <fstream>
#include <sstream>

#include "netns/netns_lab.h"

using namespace mqtttest;

namespace {

// A scratch file of this process (parallel runs of other builds use the same folder).
std::string Scratch(const std::string &name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "-" + name;
}

// A command whose output (stdout and stderr) goes to a scratch file; killed and reaped, its file
// removed, when the object goes.
class Tool {
public:
    Tool(const std::vector<std::string> &args, const std::string &name) : m_out(Scratch(name)) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        if (posix_spawnp(&m_pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Tool() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::unlink(m_out.c_str());
    }
    Tool(const Tool &) = delete;
    Tool &operator=(const Tool &) = delete;

    bool Running() const { return m_pid > 0; }
    std::string Output() const {
        std::ifstream in(m_out);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool WaitOutput(const std::function<bool(const std::string &)> &done, int iTimeoutMs) const {
        return servicetest::WaitFor([&] { return done(Output()); }, iTimeoutMs);
    }
    // The exit status once it has exited, -1 when it did not exit normally within the time-out.
    int Wait(int iTimeoutMs = 60000) {
        if (m_pid <= 0)
            return -1;
        int status = 0;
        if (!servicetest::WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, iTimeoutMs))
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Interrupt() {
        if (m_pid > 0)
            kill(m_pid, SIGINT);
        return Wait(30000);
    }

private:
    pid_t m_pid = -1;
    std::string m_out;
};

size_t Count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}

}  // namespace

// An idle subscriber with keep alive 5: each PINGREQ gets its PINGRESP, the session stays, and
// its DISCONNECT ends it without a failure.
TEST_F(MqttServerTest, IdleMosquittoSubIsKeptAliveByPings) {
    if (!HaveTool("/usr/bin/mosquitto_sub"))
        GTEST_SKIP() << "mosquitto-clients not installed";
    m_Host.on = CloseOnError;
    // 600 of the shortened heartbeat periods (30 s) without a frame before a client counts as
    // silent: far more than the 5-s keep alive.
    ASSERT_GE(Listen(60000, 100), 0);
    // Line-buffered: its debug lines go to a file.
    Tool sub({"stdbuf", "-oL", "mosquitto_sub", "-d", "-h", "127.0.0.1", "-p", std::to_string(m_iPort), "-V", "mqttv311", "-u",
              "user", "-k", "5", "-q", "1", "-t", "idle"},
             "mqtt_idle_sub.txt");
    ASSERT_TRUE(sub.Running());
    // Two pings answered and none outstanding.
    EXPECT_TRUE(sub.WaitOutput(
        [](const std::string &out) {
            const size_t uResp = Count(out, "received PINGRESP");
            return uResp >= 2 && Count(out, "sending PINGREQ") == uResp;
        },
        60000))
        << sub.Output();
    EXPECT_TRUE(m_Host.WaitType(MSG_PINGREQ, 2));
    EXPECT_EQ(sub.Interrupt(), 0) << sub.Output();
    EXPECT_NE(sub.Output().find("sending DISCONNECT"), std::string::npos) << sub.Output();
    EXPECT_TRUE(m_Host.WaitType(MSG_DISCONNECT));
    EXPECT_TRUE(WaitSessions(0));
    // The only failure reported is the end of the link after the DISCONNECT (the receive layer
    // gives 9 for the peer's orderly close, 73 for a reset): no time-out, no refused frame.
    const auto errors = m_Host.OfType(MSG_PRIVATE_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].iStatus == 9 || errors[0].iStatus == 73) << errors[0].iStatus;
    EXPECT_EQ(m_Host.OfType(MSG_DISCONNECT).size(), 1u);
}

// A whole session captured on the loopback of the test's own namespace: CONNECT, SUBSCRIBE,
// PUBLISH both ways, a PINGREQ, the host's own SUBSCRIBE and DISCONNECT. tshark decodes each
// frame the server sends as well formed MQTT, except the server-initiated SUBSCRIBE 0x80, which
// MQTT does not foresee and which tshark marks as malformed.
TEST_F(MqttServerTest, TsharkDecodesEveryServerFrame) {
    if (!HaveTool("/usr/bin/tshark"))
        GTEST_SKIP() << "tshark not installed";
    ZEVA_NETNS_LAB(lab);
    const std::string ns = lab.Add("mqtt");
    zeva::test::EnterNetns in(ns);
    ZEVA_REQUIRE_NETNS();
    m_Host.on = CloseOnError;
    // The namespace is ours: the MQTT port is free, and tshark decodes it as MQTT by default.
    m_iPort = 1883;
    ASSERT_GE(ListenFor(&m_Host, m_iPort), 0);

    const std::string capture = Scratch("mqtt_session.pcapng");
    // Packets are listed as they are captured (-P -l): the capture is complete once both FINs are.
    Tool tshark({"ip", "netns", "exec", ns, "tshark", "-i", "lo", "-f", "tcp port 1883", "-w", capture, "-P", "-l"}, "mqtt_tshark.txt");
    ASSERT_TRUE(tshark.Running());
    ASSERT_TRUE(tshark.WaitOutput([](const std::string &out) { return out.find("Capture started") != std::string::npos; },
                                  60000))
        << tshark.Output();

    const int fd = ConnectedClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Subscribe("down/#", 1, 7)));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0x90, 0x03, 0x00, 0x07, 0x01}));
    ASSERT_TRUE(SendAll(fd, Publish("up", Raw("one"), 1, 9)));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0x40, 0x02, 0x00, 0x09}));
    ASSERT_TRUE(m_Host.WaitType(MSG_PUBLISH));
    const int iHandle = m_Host.OfType(MSG_PUBLISH)[0].iHandle;
    const Bytes down = Str("down/x") + Raw("two");
    ASSERT_GT(Morva_MqttServerSend(iHandle, MSG_PUBLISH, down.data(), DWORD(down.size()), 1), 0);
    EXPECT_EQ(ReadFrame(fd), Frame(0x30, down));
    const Bytes subscribe = U16(3) + Str("host/topic") + Bytes{1};
    ASSERT_GT(Morva_MqttServerSend(iHandle, MSG_SUBSCRIBE, subscribe.data(), DWORD(subscribe.size()), 1), 0);
    EXPECT_EQ(ReadFrame(fd), Frame(0x80, subscribe));
    ASSERT_TRUE(SendAll(fd, kPingReq));
    EXPECT_EQ(ReadFrame(fd), (Bytes{0xD0, 0x00}));
    ASSERT_TRUE(SendAll(fd, kDisconnect));
    ASSERT_TRUE(m_Host.WaitType(MSG_DISCONNECT));
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(srvtest::WaitClosed(fd, 30000), 1);
    EXPECT_TRUE(WaitSessions(0));
    EXPECT_TRUE(tshark.WaitOutput([](const std::string &out) { return Count(out, "[FIN") >= 2; }, 60000))
        << tshark.Output();
    EXPECT_EQ(tshark.Interrupt(), 0) << tshark.Output();

    // One line per server frame: message type, malformed mark, expert severities.
    Tool decode({"tshark", "-r", capture, "-Y", "tcp.srcport == 1883 && mqtt", "-T", "fields", "-E", "occurrence=a",
                 "-E", "separator=|", "-e", "mqtt.msgtype", "-e", "_ws.malformed", "-e", "_ws.expert.severity"},
                "mqtt_decode.txt");
    ASSERT_EQ(decode.Wait(), 0) << decode.Output();
    const std::string out = decode.Output();
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> types;
    while (std::getline(lines, line)) {
        if (line.find('|') == std::string::npos)
            continue;  // tshark's own notes
        const std::string type = line.substr(0, line.find('|'));
        types.push_back(type);
        if (type == "8")
            continue;
        // Malformed, or an expert item of warning (0x600000) or error (0x800000) severity.
        EXPECT_EQ(line.find("malformed"), std::string::npos) << line;
        EXPECT_EQ(line.find("6291456"), std::string::npos) << line;
        EXPECT_EQ(line.find("8388608"), std::string::npos) << line;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"2", "9", "4", "3", "8", "13"})) << out;
    ::unlink(capture.c_str());
}
