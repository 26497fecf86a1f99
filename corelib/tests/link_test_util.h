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
#include <utility>
#include <vector>

#include "morva/MorvaLink.h"
#include "transport/link/LinkFactory.h"

namespace linktest {

inline std::string PeerScript(const std::string &name = "echo_peer.py") {
    std::string file = __FILE__;
    return file.substr(0, file.rfind('/')) + "/peers/" + name;
}

// A child process whose standard output the test reads line by line; killed when the object goes.
class Process {
public:
    explicit Process(const std::vector<std::string> &all) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            std::vector<char *> argv;
            for (auto &a : all)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
    }
    ~Process() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // One line of the output, or "" after the time-out.
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
};

// Debian's interpreter: a version manager's shim in PATH costs seconds per start.
inline std::string Python() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

inline std::vector<std::string> PeerCommand(const std::vector<std::string> &args, const std::string &netns,
                                            const std::string &script) {
    std::vector<std::string> all = {Python(), PeerScript(script)};
    if (!netns.empty())
        all.insert(all.begin(), {"ip", "netns", "exec", netns});
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// A peer process of a script of tests/peers (echo_peer.py unless named), inside the given network
// namespace when one is named; its first line names its port.
class Peer : public Process {
public:
    explicit Peer(const std::vector<std::string> &args, const std::string &netns = "",
                  const std::string &script = "echo_peer.py")
        : Process(PeerCommand(args, netns, script)) {
        std::string line = ReadLine(10000);
        if (line.rfind("PORT ", 0) == 0)
            m_port = std::stoi(line.substr(5));
    }

    int Port() const { return m_port; }

private:
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

// A connected loopback pair: a client socket of the test and the listener's accepted side.
inline std::pair<int, int> AcceptedPair(Listener &listener) {
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)listener.Port());
    if (connect(client, (sockaddr *)&a, sizeof(a)) != 0) {
        close(client);
        return {-1, -1};
    }
    return {client, listener.Accept()};
}

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
