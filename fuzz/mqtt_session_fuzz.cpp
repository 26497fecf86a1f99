// An MQTT server session over a socket pair fed the input. The first byte chooses whether the host
// sets a session key (AES or SM4) and how the rest is cut into receives.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/TimerProxy/TimerProxyMgr.h"
#include "mqtt_socket_link.h"
#include "transport/mqtt/MqttServerSession.h"

using namespace Vorezi;

namespace {

int g_iProxy = -1;
BYTE g_byKeyChoice = 0;

int HostCallback(int, MORVA_MQTT_MSG *pMsg, void *) {
    if (pMsg->iMsgType == MSG_PRIVATE_SESSION_KEY_SEARCH && g_byKeyChoice) {
        BYTE key[97] = "0123456789abcdef";
        key[64] = BYTE(g_byKeyChoice - 1);  // 0 AES, 1 SM4
        pMsg->fnSetInfo(MQTT_CMD_SETINFO_SESSIONKEY, key, sizeof(key), pMsg->pSession);
    }
    return 1;
}

void Drain(int fd) {
    char buf[4096];
    while (::recv(fd, buf, sizeof(buf), MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    GetCoreGlobalCtrl()->Init();
    // A heartbeat far slower than any run, its thread kept: the fuzzer drives the receive path alone.
    TIMER_PROXY_CREATE_PARAM proxy = {4, 600000, nullptr, 1, 1};
    g_iProxy = GetTimerProxyMgr()->CreateProxy(&proxy);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    g_byKeyChoice = BYTE(data[0] % 3);
    const size_t chunk = size_t(data[0] >> 2) + 1;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    auto link = std::make_unique<mqtttest::SocketPairLink>(fds[0]);
    mqtttest::SocketPairLink *pLink = link.get();
    std::unique_ptr<CMqttServerSession> session(new (-1) CMqttServerSession());
    session->SetMemberIndex(0);
    MQTT_SERVER_PARAM param = {fds[0], 5000, 90000, 5000, HostCallback, nullptr, 0};
    if (session->StartOnLink(&param, std::move(link), g_iProxy)) {
        for (size_t pos = 1; pos < size; pos += chunk) {
            const size_t n = std::min(chunk, size - pos);
            if (!pLink->Deliver(data + pos, DWORD(n)))
                break;
            Drain(fds[1]);
        }
        const BYTE publish[] = {0, 1, 't', 'x', 'y'};
        session->Send(MSG_PUBLISH, publish, sizeof(publish), 0);
        session->Stop();
    }
    session.reset();
    ::close(fds[1]);
    return 0;
}
