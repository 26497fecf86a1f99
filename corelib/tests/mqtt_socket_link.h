// The client link of an MQTT server session over one end of a socket pair, for the tests and the
// fuzz target. Received bytes are handed in through Deliver on the caller's thread, so whatever the
// session answers is in the socket when Deliver returns.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "transport/mqtt/MqttClientLink.h"

namespace mqtttest {

class SocketPairLink : public Vorezi::CMqttClientLink {
public:
    explicit SocketPairLink(int fd) : m_fd(fd) {}
    ~SocketPairLink() override { ::close(m_fd); }
    int StartRecv(Vorezi::MQTT_LINK_DATA_CALLBACK fnCB, void *pUser) override {
        m_fnCB = fnCB;
        m_pUser = pUser;
        return 1;
    }
    int SendNakeData(const BYTE *pData, DWORD dwLen) override {
        DWORD sent = 0;
        while (sent < dwLen) {
            ssize_t n = ::send(m_fd, pData + sent, dwLen - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return sent ? int(sent) : -1;
            sent += DWORD(n);
        }
        return int(sent);
    }
    void CloseLink(int) override { ::shutdown(m_fd, SHUT_RDWR); }
    void ForgetSocket() override {}
    int EnlargeBufferSize(DWORD, DWORD) override { return 1; }
    void GetLocalAddr(char *pAddr, WORD *pPort) override {
        std::strcpy(pAddr, "127.0.0.1");
        *pPort = 1883;
    }
    void GetRemoteAddr(char *pAddr, WORD *pPort) override {
        std::strcpy(pAddr, "127.0.0.2");
        *pPort = 40000;
    }
    int Deliver(const BYTE *pData, DWORD dwLen, DWORD dwStatus = 0) { return m_fnCB(m_pUser, pData, dwLen, dwStatus); }

private:
    int m_fd;
    Vorezi::MQTT_LINK_DATA_CALLBACK m_fnCB = nullptr;
    void *m_pUser = nullptr;
};

}  // namespace mqtttest
