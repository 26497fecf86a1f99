// The session heartbeat: a silent client is reported once with status 10, then nothing more; a
// close from inside that report.
#include <atomic>

#include "mqtt_session_util.h"

using namespace Vorezi;
using namespace mqtttest;

namespace {

using MqttHeartbeat = SessionTest;

TEST_F(MqttHeartbeat, SilentClientIsReportedOnce) {
    Start(5000, 5000);  // limit 1: the first tick without data
    ConnectClient();
    ASSERT_TRUE(servicetest::WaitFor([this] { return m_Host.Count(MSG_PRIVATE_ERROR) == 1; }, 5000));
    // The registration ends with the report.
    ASSERT_TRUE(servicetest::WaitFor([this] { return m_pSession->GetHeartbeatRegistration() == -1; }, 5000));
    EXPECT_EQ(m_Host.Events().back().iStatus, 10);
    EXPECT_EQ(Deliver(kPingReq), 0);
    EXPECT_EQ(ReadFrame(), Bytes());
    EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u);
    EXPECT_EQ(m_Host.Events().size(), 3u);  // key search, CONNECT, the report
}

TEST_F(MqttHeartbeat, CloseFromInsideTheReport) {
    std::atomic<int> stopped{0};
    m_Host.onError = [this, &stopped] {
        m_pSession->Stop();
        stopped = 1;
    };
    Start(5000, 5000);
    ConnectClient();
    ASSERT_TRUE(servicetest::WaitFor([&stopped] { return stopped.load() == 1; }, 5000));
    ASSERT_TRUE(servicetest::WaitFor([this] { return m_pSession->GetHeartbeatRegistration() == -1; }, 5000));
    EXPECT_EQ(m_Host.Count(MSG_PRIVATE_ERROR), 1u);
    const Bytes data = Str("t") + Raw("x");
    EXPECT_EQ(m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), 1), -1);
}

}  // namespace
