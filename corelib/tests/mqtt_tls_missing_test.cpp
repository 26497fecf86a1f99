// The MQTT server link in a process whose TLS library cannot be loaded. The link proves at
// creation that the library its sessions' payload crypto needs loads: with a path that does not
// exist it is not made, says why, and leaves no listener behind.
#include "mqtt_server_util.h"

using namespace mqtttest;

namespace {

int NoData(void *, SERVER_LINK_DATA *) {
    return 1;
}

}  // namespace

TEST_F(MqttServerTest, ServerLinkKind24WithoutTheTlsLibrary) {
    ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->SetDllLoadPath(Vorezi::BASE_DLL_LIBEAY, "/nonexistent/libnocrypto.so.3"), 1);
    ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->SetDllLoadPath(Vorezi::BASE_DLL_SSLEASY, "/nonexistent/libnossl.so.3"), 1);
    servicetest::LogCapture log;
    m_iPort = srvtest::FreePort();
    SERVER_LINK_COND cond = srvtest::MakeCond(SERVER_LINK_PRO_MQTT, "127.0.0.1", WORD(m_iPort), NoData, nullptr);
    EXPECT_EQ(Vorezi::Interim_CreateServerLink(&cond), -1);
    EXPECT_FALSE(log.Matching("CServerLinkMQTT::CreateMqttLink, Morva_CreateSSLTrans Failed").empty());
    EXPECT_EQ(srvtest::ConnectTo(m_iPort), -1);
    // Undoing the start made no session manager: that would take the control lock under the
    // link's member lock.
    EXPECT_EQ(Vorezi::FindMqttServerMgr(), nullptr);
}
