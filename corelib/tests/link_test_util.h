// Helpers of the link tests: the Python peers of tests/peers, links made through the factory,
// and loopback sockets of the test's own.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "morva/MorvaLink.h"
#include "transport/link/LinkFactory.h"

namespace linktest {

inline std::string PeerScript() {
    std::string file = __FILE__;
    return file.substr(0, file.rfind('/')) + "/peers/echo_peer.py";
}

// A peer process of echo_peer.py, inside the given network namespace when one is named; killed
// when the object goes.
class Peer {
public:
    explicit Peer(const std::vector<std::string> &args, const std::string &netns = "") {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            // Debian's interpreter: a version manager's shim in PATH costs seconds per start.
            const char *pPython = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
            std::vector<std::string> all = {pPython, PeerScript()};
            if (!netns.empty())
                all.insert(all.begin(), {"ip", "netns", "exec", netns});
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char *> argv;
            for (auto &a : all)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
        std::string line = ReadLine(10000);
        if (line.rfind("PORT ", 0) == 0)
            m_port = std::stoi(line.substr(5));
    }
    ~Peer() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    int Port() const { return m_port; }
    // One line of the peer's output, or "" after the time-out.
    std::string ReadLine(int iTimeoutMs) {
        std::string line;
        char c;
        while (true) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, iTimeoutMs) <= 0 || read(m_out, &c, 1) != 1)
                return "";
            if (c == '\n')
                return line;
            line += c;
        }
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
};

inline LINK_CREATE_PARAM MakeParam(const char *pIP, int iPort, int enumLinkType = LINK_TYPE_TCP) {
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.pServerIP = pIP;
    p.wServerPort = (WORD)iPort;
    p.enumLinkType = enumLinkType;
    return p;
}

inline Vorezi::CLinkBase *Connect(const char *pIP, int iPort, int enumLinkType = LINK_TYPE_TCP, int bAsyncCmd = 0) {
    LINK_CREATE_PARAM p = MakeParam(pIP, iPort, enumLinkType);
    p.ext.byAsyncCmd = (BYTE)bAsyncCmd;
    return Vorezi::Link_CreateLinkEx(&p, 0, nullptr);
}

// A loopback TCP listener of the test; Accept hands out the next connection.
class Listener {
public:
    explicit Listener(int iBacklog = 16) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, (sockaddr *)&a, sizeof(a));
        listen(m_fd, iBacklog);
        socklen_t n = sizeof(a);
        getsockname(m_fd, (sockaddr *)&a, &n);
        m_port = ntohs(a.sin_port);
    }
    ~Listener() { close(m_fd); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    int Port() const { return m_port; }
    int Fd() const { return m_fd; }
    int Accept(int iTimeoutMs = 5000) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, iTimeoutMs) <= 0)
            return -1;
        return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Reads exactly n bytes from a blocking socket within the time-out; what arrived.
inline std::string ReadExactly(int fd, size_t n, int iTimeoutMs = 5000) {
    std::string out;
    char buf[65536];
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, iTimeoutMs) <= 0)
            break;
        ssize_t r = recv(fd, buf, std::min(sizeof(buf), n - out.size()), 0);
        if (r <= 0)
            break;
        out.append(buf, (size_t)r);
    }
    return out;
}

}  // namespace linktest
