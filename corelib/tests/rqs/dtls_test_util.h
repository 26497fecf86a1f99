// Helpers of the RQS-over-DTLS link tests: openssl s_client -dtls1_2 as a child with its input
// and output on pipes, a ClientHello recorded from it, and the link created with the test PKI.
#pragma once

#include "morva/MorvaLink.h"
#include "server_link_test_util.h"
#include "tls_test_util.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

namespace dtlstest {

// One s_client; killed with the object.
class SClient {
public:
    explicit SClient(int iPort, const std::string &host = "127.0.0.1") {
        const std::string target = host + ":" + std::to_string(iPort);
        // Non-blocking: a loaded server may answer a client's resent last flight with its own
        // final flight again after the client is done (as DTLS asks); a blocking s_client takes
        // that as a record to skip and then sleeps in recvfrom, deaf to its input for good.
        const char *argv[] = {"/usr/bin/openssl", "s_client", "-dtls1_2", "-connect", target.c_str(), "-ign_eof", "-nbio", nullptr};
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, out[1], 2);
        posix_spawn(&m_pid, argv[0], &fa, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
    }
    ~SClient() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_in);
        close(m_out);
    }
    SClient(const SClient &) = delete;
    SClient &operator=(const SClient &) = delete;

    void Write(const std::string &text) { (void)!write(m_in, text.data(), text.size()); }
    // Everything printed so far.
    std::string Output() {
        char buf[4096];
        ssize_t n;
        while ((n = read(m_out, buf, sizeof(buf))) > 0)
            m_text.append(buf, (size_t)n);
        return m_text;
    }
    bool WaitOutput(const std::string &what, int iTimeoutMs = 30000) {
        return servicetest::WaitFor([&] { return Output().find(what) != std::string::npos; }, iTimeoutMs);
    }
    // s_client prints the protocol and cipher once its handshake is done ("(NONE)" when it failed).
    bool Connected() { return Output().find(kConnected) != std::string::npos; }
    bool WaitConnected(int iTimeoutMs = 30000) { return WaitOutput(kConnected, iTimeoutMs); }

private:
    static constexpr const char *kConnected = "New, TLSv1.2, Cipher is";
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_text;
};

// A UDP socket on 127.0.0.1 with a port of its own.
class Udp {
public:
    Udp() {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
        socklen_t n = sizeof(a);
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &n);
        m_iPort = ntohs(a.sin_port);
    }
    ~Udp() { close(m_fd); }
    Udp(const Udp &) = delete;
    Udp &operator=(const Udp &) = delete;
    int Port() const { return m_iPort; }
    void SendTo(int iPort, const std::string &data) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons((uint16_t)iPort);
        sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    }
    // The next datagram, or "" after the time-out.
    std::string Recv(int iTimeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, iTimeoutMs) != 1)
            return std::string();
        char buf[65536];
        ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
        return n > 0 ? std::string(buf, (size_t)n) : std::string();
    }

private:
    int m_fd = -1;
    int m_iPort = 0;
};

// The first datagram of an s_client: its ClientHello without a cookie.
inline std::string RecordClientHello() {
    Udp sink;
    SClient client(sink.Port());
    return sink.Recv(30000);
}

// A HelloVerifyRequest: a DTLS handshake record (22) whose message type is 3.
inline bool IsHelloVerifyRequest(const std::string &d) {
    return d.size() > 13 && (unsigned char)d[0] == 22 && (unsigned char)d[13] == 3;
}

inline void SetExt(SERVER_LINK_COND *pCond, const LINK_EXT_PARAM &ext) {
    std::memcpy(pCond->byExt, &ext, std::min(sizeof(ext), sizeof(pCond->byExt)));
}

inline LINK_EXT_PARAM ServerExt(const cryptotest::TlsPki &pki, const std::string &cert = "srv.pem") {
    static std::string s_cert, s_key;
    s_cert = pki.File(cert);
    s_key = pki.File("srv.key");
    LINK_EXT_PARAM ext{};
    ext.pUserCertificateFile = s_cert.c_str();
    ext.pUserPrivateKeyFile = s_key.c_str();
    ext.iTLSKind = Vorezi::SSL_VERSION_DTLS_V1_2;
    return ext;
}

inline Vorezi::CServerLinkRQSDTLS *DtlsLink(int h) {
    return dynamic_cast<Vorezi::CServerLinkRQSDTLS *>(Vorezi::GetServerLinkMgr()->GetMember(h));
}

}  // namespace dtlstest
