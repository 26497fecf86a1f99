// A server session on one end of a socket pair, the other end read as the client, and a host
// callback that records every event.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Module/TimerProxy/TimerProxyMgr.h"
#include "mqtt_socket_link.h"
#include "mqtt_test_util.h"
#include "service_test_util.h"
#include "transport/mqtt/MqttServerSession.h"

namespace mqtttest {

struct Event {
    int iType = 0, iStatus = 0, iMessageID = 0, bWillDelivered = 0;
    std::string data, topic, clientId, userName;
    WORD wKeepAlive = 0;
    DWORD dwFrameSize = 0;
};

// The host: records events; optional hooks act from inside the callback.
class Host {
public:
    static int Callback(int, MORVA_MQTT_MSG *pMsg, void *pUser) {
        Host *self = static_cast<Host *>(pUser);
        Event e;
        e.iType = pMsg->iMsgType;
        e.iStatus = pMsg->iStatus;
        if (e.iType == MSG_PRIVATE_INIT_AUTH_CONTEXT) {
            auto *pAuth = reinterpret_cast<MORVA_MQTT_AUTH_MSG *>(pMsg);
            e.dwFrameSize = pAuth->dwFrameSize;
            if (self->onAuth)
                self->onAuth(pAuth);
            self->Record(e);
            return 1;
        }
        e.iMessageID = pMsg->iMessageID;
        e.bWillDelivered = pMsg->bWillDelivered;
        e.topic = pMsg->szTopic;
        e.clientId = pMsg->szClientId;
        e.userName = pMsg->szUserName;
        if (e.iType == MSG_CONNECT) {
            const auto *pWill = static_cast<const MORVA_MQTT_WILL_INFO *>(pMsg->pData);
            e.wKeepAlive = pWill->wKeepAlive;
            if (pWill->pWillMessage)
                e.data.assign(reinterpret_cast<const char *>(pWill->pWillMessage), pWill->wWillMessageLen);
        } else if (pMsg->pData) {
            e.data.assign(static_cast<const char *>(pMsg->pData), size_t(pMsg->iDataLen));
        }
        if (e.iType == MSG_PRIVATE_SESSION_KEY_SEARCH && self->onKeySearch)
            self->onKeySearch(pMsg);
        self->Record(e);
        if (e.iType == MSG_PRIVATE_ERROR && self->onError)
            self->onError();
        return 1;
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Events;
    }
    std::vector<int> Types() {
        std::vector<int> types;
        for (const Event &e : Events())
            types.push_back(e.iType);
        return types;
    }
    size_t Count(int iType) {
        size_t n = 0;
        for (const Event &e : Events())
            n += e.iType == iType;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Events.clear();
    }
    std::function<void(MORVA_MQTT_AUTH_MSG *)> onAuth;
    std::function<void(MORVA_MQTT_MSG *)> onKeySearch;
    std::function<void()> onError;

private:
    void Record(const Event &e) {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Events.push_back(e);
    }
    std::mutex m_Lock;
    std::vector<Event> m_Events;
};

// A started session on a socket pair and a heartbeat proxy of a short period.
class SessionTest : public servicetest::InitedTest {
protected:
    static constexpr DWORD kProxyPeriod = 40;

    void SetUp() override {
        servicetest::InitedTest::SetUp();
        Vorezi::GetCoreGlobalCtrl()->SetCustomTiming(1);
        Vorezi::TIMER_PROXY_CREATE_PARAM proxy = {64, kProxyPeriod, nullptr, 2, 0};
        m_iProxy = Vorezi::GetTimerProxyMgr()->CreateProxy(&proxy);
        ASSERT_GE(m_iProxy, 0);
    }
    void TearDown() override {
        m_pSession.reset();
        Vorezi::GetTimerProxyMgr()->DestroyProxy(m_iProxy);
        if (m_iClient >= 0)
            ::close(m_iClient);
        servicetest::InitedTest::TearDown();
    }
    // Alive time-out and heartbeat interval give the silent limit.
    void Start(DWORD dwAliveTimeout = 90000, DWORD dwHeartbeat = 5000) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        m_iClient = fds[1];
        auto link = std::make_unique<SocketPairLink>(fds[0]);
        m_pLink = link.get();
        m_pSession.reset(new (-1) Vorezi::CMqttServerSession());  // a heap object, outside the pools
        m_pSession->SetMemberIndex(5);
        Vorezi::MQTT_SERVER_PARAM param = {fds[0], 5000, dwAliveTimeout, dwHeartbeat, Host::Callback, &m_Host, 2};
        ASSERT_EQ(m_pSession->StartOnLink(&param, std::move(link), m_iProxy), 1);
    }
    // Drops the session and the client, for the next row of a table.
    void EndSession() {
        m_pSession.reset();
        ::close(m_iClient);
        m_iClient = -1;
        m_Host.Clear();
    }
    int Deliver(const Bytes &data, DWORD dwStatus = 0) {
        return m_pLink->Deliver(data.empty() ? nullptr : data.data(), DWORD(data.size()), dwStatus);
    }
    // The next frame the client has received, or nothing.
    Bytes ReadFrame() {
        Bytes head(2);
        if (::recv(m_iClient, head.data(), 2, MSG_DONTWAIT) != 2)
            return {};
        size_t len = head[1] & 0x7F, mult = 128;
        for (uint8_t b = head[1]; b & 0x80; mult *= 128) {
            EXPECT_EQ(::recv(m_iClient, &b, 1, MSG_WAITALL), 1);
            head.push_back(b);
            len += size_t(b & 0x7F) * mult;
        }
        Bytes body(len);
        if (len) {
            EXPECT_EQ(::recv(m_iClient, body.data(), len, MSG_WAITALL), ssize_t(len));
        }
        return head + body;
    }
    void ConnectClient(const ConnectSpec &spec = ConnectSpec()) {
        ASSERT_EQ(Deliver(Connect(spec)), 1);
        ASSERT_EQ(ReadFrame(), (Bytes{0x20, 0x02, 0x00, 0x00}));
    }

    int m_iProxy = -1;
    int m_iClient = -1;
    Host m_Host;
    SocketPairLink *m_pLink = nullptr;
    std::unique_ptr<Vorezi::CMqttServerSession> m_pSession;
};

}  // namespace mqtttest
