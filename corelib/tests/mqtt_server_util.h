// Helpers of the MQTT server tests: the library initialised with a short heartbeat period, a host
// callback recording every event with its session handle, raw loopback clients, and the command
// line clients run with a time limit.
#pragma once

#include "server_link_test_util.h"  // first: see its note on <fcntl.h>

#include <sys/resource.h>

#include <cstdlib>
#include <functional>

#include "morva/MorvaMqtt.h"
#include "mqtt_test_util.h"
#include "transport/mqtt/server/InterimMqttServer.h"
#include "transport/mqtt/server/MqttListenSession.h"
#include "transport/mqtt/server/MqttServerMgr.h"

namespace mqtttest {

struct HostEvent {
    int iHandle = -1, iType = 0, iStatus = 0;
    std::string data, topic, user;
};

// The host: records events; `on` runs inside the callback first.
class ServerHost {
public:
    static int Callback(int iHandle, MORVA_MQTT_MSG *pMsg, void *pUser) {
        auto *self = static_cast<ServerHost *>(pUser);
        if (self->on)
            self->on(iHandle, pMsg);
        HostEvent e;
        e.iHandle = iHandle;
        e.iType = pMsg->iMsgType;
        e.iStatus = pMsg->iStatus;
        if (e.iType != MSG_PRIVATE_INIT_AUTH_CONTEXT) {
            e.topic = pMsg->szTopic;
            e.user = pMsg->szUserName;
            if (e.iType != MSG_CONNECT && pMsg->pData)
                e.data.assign(static_cast<const char *>(pMsg->pData), size_t(pMsg->iDataLen));
        }
        std::lock_guard<std::mutex> guard(self->m_Lock);
        self->m_Events.push_back(e);
        return 1;
    }
    std::vector<HostEvent> Events() {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Events;
    }
    std::vector<HostEvent> OfType(int iType) {
        std::vector<HostEvent> out;
        for (const HostEvent &e : Events())
            if (e.iType == iType)
                out.push_back(e);
        return out;
    }
    bool WaitType(int iType, size_t n = 1, int iTimeoutMs = 30000) {
        return servicetest::WaitFor([&] { return OfType(iType).size() >= n; }, iTimeoutMs);
    }
    std::function<void(int, MORVA_MQTT_MSG *)> on;

private:
    std::mutex m_Lock;
    std::vector<HostEvent> m_Events;
};

// What a host does with a session that reports a failure: close it. Until then the session only
// drops what it receives.
inline void CloseOnError(int iHandle, MORVA_MQTT_MSG *pMsg) {
    if (pMsg->iMsgType == MSG_PRIVATE_ERROR)
        Morva_MqttServerClose(iHandle);
}

// A listener on 127.0.0.1:iPort reporting to pHost: its handle, or -1.
inline int ListenFor(ServerHost *pHost, int iPort, DWORD dwAlive = 0, DWORD dwHeartbeat = 0) {
    MORVA_MQTT_LISTEN_PARAM param = {};
    std::strcpy(param.szListenAddr, "127.0.0.1");
    param.wPort = WORD(iPort);
    param.dwAliveTimeout = dwAlive;
    param.dwHeartbeatInterval = dwHeartbeat;
    param.fnCB = ServerHost::Callback;
    param.pUserData = pHost;
    return Morva_MqttServerCreateListen(&param);
}

// The library initialised, heartbeats every kPeriod ms.
class MqttServerTest : public ::testing::Test {
protected:
    static constexpr DWORD kPeriod = 50;

    void SetUp() override {
        ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->Init(), 1);
        Vorezi::GetCoreGlobalCtrl()->SetCustomTiming(1);
        Vorezi::CMqttServerMgr::SetHeartbeatPeriodForTest(kPeriod);
    }
    void TearDown() override {
        for (int fd : m_Clients)
            ::close(fd);
        Vorezi::GetCoreGlobalCtrl()->Fini();
        Vorezi::CMqttServerMgr::SetHeartbeatPeriodForTest(0);
    }
    // A listener on a free loopback port (m_iPort).
    int Listen(DWORD dwAlive = 0, DWORD dwHeartbeat = 0) {
        m_iPort = srvtest::FreePort();
        return ListenFor(&m_Host, m_iPort, dwAlive, dwHeartbeat);
    }
    int Client() {
        int fd = srvtest::ConnectTo(m_iPort);
        if (fd >= 0)
            m_Clients.push_back(fd);
        return fd;
    }
    // A client past CONNECT and CONNACK, or -1.
    int ConnectedClient(const ConnectSpec &spec = ConnectSpec()) {
        int fd = Client();
        if (fd < 0 || !SendAll(fd, Connect(spec)) || ReadFrame(fd) != Bytes{0x20, 0x02, 0x00, 0x00})
            return -1;
        return fd;
    }
    static bool SendAll(int fd, const Bytes &b) { return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }
    // The next frame within the time-out, or nothing.
    static Bytes ReadFrame(int fd, int iTimeoutMs = 30000) {
        Bytes out;
        size_t need = 2, len = 0, mult = 1;
        bool bLenDone = false;
        while (out.size() < need) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, iTimeoutMs) <= 0)
                return {};
            uint8_t b;
            if (::recv(fd, &b, 1, 0) != 1)
                return {};
            out.push_back(b);
            if (!bLenDone && out.size() >= 2) {
                len += size_t(b & 0x7F) * mult;
                mult *= 128;
                if (!(b & 0x80)) {
                    bLenDone = true;
                    need = out.size() + len;
                } else {
                    need = out.size() + 1;
                }
            }
        }
        return out;
    }
    static Vorezi::CMqttServerMgr *Sessions() { return Vorezi::GetMqttServerMgr(); }
    int SessionState(int iHandle) {
        Vorezi::CMqttServerMgr *pMgr = Sessions();
        int iState = -1;
        if (pMgr && pMgr->ReadLockMember(iHandle)) {
            if (auto *p = dynamic_cast<Vorezi::CMqttServerSession *>(pMgr->GetMember(iHandle)))
                iState = p->GetState();
            pMgr->ReadUnlockMember(iHandle);
        }
        return iState;
    }
    bool WaitSessions(unsigned n) {
        return servicetest::WaitFor([&] { return Sessions() && Sessions()->GetCurrNum() == n; }, 30000);
    }

    ServerHost m_Host;
    int m_iPort = 0;
    std::vector<int> m_Clients;
};

// Runs a shell command with a time limit: its exit status, 124 on time-out.
inline int RunTool(const std::string &cmd, int iSeconds = 30) {
    const int rc = std::system(("timeout " + std::to_string(iSeconds) + " " + cmd).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline bool HaveTool(const char *pPath) { return ::access(pPath, X_OK) == 0; }

// Thousands of sessions need more descriptors than the default limit: the soft limit goes up to
// the hard one, and the hard one to uWant where that is allowed (as root).
inline void RaiseFileLimit(rlim_t uWant = 0) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0)
        return;
    if (r.rlim_max < uWant) {
        const rlimit wanted{uWant, uWant};
        if (setrlimit(RLIMIT_NOFILE, &wanted) == 0)
            return;
    }
    if (r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

}  // namespace mqtttest
