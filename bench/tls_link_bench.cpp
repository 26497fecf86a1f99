// TLS links against plain OpenSSL in the same run, over loopback, TLS 1.3 with one cipher suite
// (TLS_AES_256_GCM_SHA384: every server and s_time offer only it):
// - client handshakes per second (connect, handshake, close) through type-19 links against
//   `openssl s_server`, beside a blocking SSL_connect loop with the same context settings;
// - server handshakes per second, measured by `openssl s_time -new`, against an accept loop that
//   wraps each connection in a type-19 server link and against a plain SSL_accept loop;
// - bulk MB/s with 16 KiB writes through a link, blocking and on the completion queue, beside a
//   plain SSL_write loop, all into the same SSL_read sink; with CPU (user + system) per MB.
// Each side runs in 5 alternating rounds. Run by hand:
//   tls_link_bench [seconds per handshake side, default 10] [MiB per bulk round, default 64]
#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "transport/link/LinkBase.h"
#include "transport/link/LinkFactory.h"

namespace {

using Clock = std::chrono::steady_clock;
using Vorezi::CLinkBase;
const char kSuite[] = "TLS_AES_256_GCM_SHA384";
constexpr size_t kChunk = 16384;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string Run(const std::string &cmd) {
    std::string out;
    if (FILE *f = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            out.append(buf, n);
        pclose(f);
    }
    return out;
}

// A self-signed P-256 server certificate in a scratch directory.
struct Pki {
    Pki() {
        char tmpl[] = "/tmp/tls_link_bench.XXXXXX";
        dir = mkdtemp(tmpl);
        Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + Key() + " -out " +
            Cert() + " -days 2 -subj /CN=localhost 2>/dev/null");
    }
    ~Pki() { Run("rm -rf '" + dir + "'"); }
    std::string Cert() const { return dir + "/srv.pem"; }
    std::string Key() const { return dir + "/srv.key"; }
    std::string dir;
};

// `openssl s_server` in the background on a port the kernel picks.
struct SServer {
    explicit SServer(const Pki &pki) {
        const std::string out = pki.dir + "/s_server.out", pidFile = pki.dir + "/s_server.pid";
        Run("openssl s_server -www -naccept 100000000 -tls1_3 -ciphersuites " + std::string(kSuite) +
            " -accept 127.0.0.1:0 -cert " + pki.Cert() + " -key " + pki.Key() + " >" + out + " 2>/dev/null & echo $! >" +
            pidFile);
        pid = std::atoi(Run("cat " + pidFile).c_str());
        for (int i = 0; i < 500 && !port; i++) {
            std::ifstream in(out);
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("ACCEPT ", 0) == 0)
                    port = std::atoi(line.c_str() + line.rfind(':') + 1);
            if (!port)
                usleep(20000);
        }
    }
    ~SServer() {
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    int pid = 0;
    int port = 0;
};

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int ConnectTcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Listener {
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in a = Loopback(0);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
        listen(fd, 512);
        socklen_t n = sizeof(a);
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    int fd;
    int port;
};

SSL_CTX *ClientCtx() {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_ciphersuites(ctx, kSuite);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    return ctx;
}

SSL_CTX *ServerCtx(const Pki &pki) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_ciphersuites(ctx, kSuite);
    SSL_CTX_use_certificate_file(ctx, pki.Cert().c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, pki.Key().c_str(), SSL_FILETYPE_PEM);
    return ctx;
}

LINK_CREATE_PARAM ClientParam(int port) {
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.pServerIP = "127.0.0.1";
    p.wServerPort = static_cast<WORD>(port);
    p.enumLinkType = LINK_TYPE_SSL;
    p.dwConnectTimeout = 5000;
    return p;
}

// Counts and seconds summed over rounds. The machine is shared: the link and its peer run in
// alternating rounds, so that a change of load meets both.
struct Tally {
    double n = 0, secs = 0;
    void Add(double count, double seconds) { n += count, secs += seconds; }
    double Rate() const { return secs > 0 ? n / secs : -1; }
};
constexpr int kRounds = 5;

// Runs the step until the time is up.
void Count(Tally &t, double seconds, const std::function<bool()> &step) {
    long n = 0;
    const auto start = Clock::now();
    while (Seconds(start) < seconds && step())
        n++;
    t.Add(n, Seconds(start));
}

void PrintRatio(const char *what, double link, double plain, double target) {
    const double ratio = plain > 0 ? link / plain : 0;
    std::printf("%-34s link %10.1f  plain %10.1f  ratio %.2f (target %.2f)%s\n", what, link, plain, ratio, target,
                ratio >= target ? "" : "  MISSED");
}

// ---- handshakes ----

void ClientHandshakes(const Pki &pki, double seconds) {
    SServer server(pki);
    SSL_CTX *ctx = ClientCtx();
    const LINK_CREATE_PARAM p = ClientParam(server.port);
    Tally plain, link;
    for (int r = 0; r < kRounds; r++) {
        Count(plain, seconds / kRounds, [&] {
            int fd = ConnectTcp(server.port);
            SSL *ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            const bool ok = SSL_connect(ssl) == 1;
            SSL_free(ssl);
            close(fd);
            return ok;
        });
        Count(link, seconds / kRounds, [&] {
            CLinkBase *l = Vorezi::Link_CreateLinkEx(&p, 0, nullptr);
            Vorezi::Link_DestroyLink(l);
            return l != nullptr;
        });
    }
    SSL_CTX_free(ctx);
    PrintRatio("client handshakes/s (s_server)", link.Rate(), plain.Rate(), 0.9);
}

// Handshakes the accept loop completes while `openssl s_time -new` drives it (whole seconds).
void STime(Tally &t, int seconds, const std::function<bool(int)> &serve) {
    Listener listener;
    std::atomic<long> served{0};
    std::thread loop([&] {
        for (int fd; (fd = accept(listener.fd, nullptr, nullptr)) >= 0;)
            if (serve(fd))
                served++;
    });
    const auto start = Clock::now();
    Run("openssl s_time -connect 127.0.0.1:" + std::to_string(listener.port) + " -new -ciphersuites " + kSuite +
        " -time " + std::to_string(seconds) + " >/dev/null 2>&1");
    const double elapsed = Seconds(start);
    shutdown(listener.fd, SHUT_RDWR);
    loop.join();
    t.Add(served, elapsed);
}

void ServerHandshakes(const Pki &pki, double seconds) {
    SSL_CTX *ctx = ServerCtx(pki);
    const std::string cert = pki.Cert(), key = pki.Key();
    const int perRound = std::max(1, static_cast<int>(seconds / kRounds + 0.5));
    Tally plain, link;
    for (int r = 0; r < kRounds; r++) {
        STime(link, perRound, [&](int fd) {
            LINK_CREATE_PARAM p = ClientParam(0);
            p.dwServerMode = 1;
            p.iSocket = fd;
            p.ext.pUserCertificateFile = cert.c_str();
            p.ext.pUserPrivateKeyFile = key.c_str();
            CLinkBase *l = Vorezi::Link_CreateLinkEx(&p, 0, nullptr);
            Vorezi::Link_DestroyLink(l);
            return l != nullptr;
        });
        STime(plain, perRound, [&](int fd) {
            SSL *ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            const bool ok = SSL_accept(ssl) == 1;
            SSL_free(ssl);
            close(fd);
            return ok;
        });
    }
    SSL_CTX_free(ctx);
    PrintRatio("server handshakes/s (s_time -new)", link.Rate(), plain.Rate(), 0.85);
}

// ---- bulk ----

// A plain SSL_read sink on one accepted connection; Wait gives the seconds from its first byte
// to the last of the expected total.
class Sink {
public:
    Sink(SSL_CTX *ctx, size_t total) : m_total(total) {
        m_thread = std::thread([this, ctx] {
            int fd = accept(m_listener.fd, nullptr, nullptr);
            SSL *ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                std::vector<char> buf(65536);
                size_t got = 0;
                while (got < m_total) {
                    int r = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()));
                    if (r <= 0)
                        break;
                    got += static_cast<size_t>(r);
                }
                m_ok = got == m_total;
            }
            SSL_free(ssl);
            close(fd);
        });
    }
    bool Wait() {
        m_thread.join();
        return m_ok;
    }
    int Port() const { return m_listener.port; }

private:
    Listener m_listener;
    size_t m_total;
    std::thread m_thread;
    bool m_ok = false;
};

// Bulk figures summed over rounds: MiB and seconds, and CPU seconds of the whole process.
struct Bulk {
    Tally mib;
    double cpu = 0;
    double CpuPerMB() const { return mib.n > 0 ? cpu * 1000 / mib.n : 0; }
};

// `send` connects to the port, writes `total` bytes in 16 KiB writes and returns what closes its
// connection once the sink has them all; a failure ends the benchmark.
using Sender = std::function<std::function<void()>(int port)>;

void RunBulk(Bulk &b, SSL_CTX *serverCtx, size_t total, const Sender &send) {
    Sink sink(serverCtx, total);
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::function<void()> fnClose = send(sink.Port());
    if (!fnClose || !sink.Wait()) {
        std::fprintf(stderr, "bulk run failed\n");
        std::exit(1);
    }
    b.mib.Add(total / 1048576.0, Seconds(start));
    b.cpu += CpuSeconds() - cpu0;
    fnClose();
}

int NoData(void *, char *, int, int) { return 1; }

void BulkRuns(const Pki &pki, size_t total) {
    SSL_CTX *serverCtx = ServerCtx(pki), *clientCtx = ClientCtx();
    const std::vector<char> chunk(kChunk, 'x');
    const size_t writes = total / kChunk;
    const Sender plainSend = [&](int port) -> std::function<void()> {
        int fd = ConnectTcp(port);
        SSL *ssl = SSL_new(clientCtx);
        SSL_set_fd(ssl, fd);
        bool ok = SSL_connect(ssl) == 1;
        for (size_t i = 0; ok && i < writes; i++)
            ok = SSL_write(ssl, chunk.data(), static_cast<int>(kChunk)) == static_cast<int>(kChunk);
        auto fnClose = [ssl, fd] {
            SSL_free(ssl);
            close(fd);
        };
        if (ok)
            return fnClose;
        fnClose();
        return nullptr;
    };
    auto linkSend = [&](bool async) -> Sender {
        return [&, async](int port) -> std::function<void()> {
            const LINK_CREATE_PARAM p = ClientParam(port);
            CLinkBase *l = Vorezi::Link_CreateLinkEx(&p, 0, nullptr);
            // Receiving on the completion queue moves sends there too.
            bool ok = l && (!async || (l->StartRecv(NoData, l, 0) == 1 && l->ResumeRecvThread() == 1));
            for (size_t i = 0; ok && i < writes; i++)
                ok = Vorezi::Link_SendDataByLink(l, chunk.data(), kChunk, 0) == static_cast<int>(kChunk);
            auto fnClose = [l] { Vorezi::Link_DestroyLink(l); };
            if (ok)
                return fnClose;
            fnClose();
            return nullptr;
        };
    };
    Bulk plain, blocking, async;
    for (int r = 0; r < kRounds; r++) {
        RunBulk(plain, serverCtx, total, plainSend);
        RunBulk(blocking, serverCtx, total, linkSend(false));
        RunBulk(async, serverCtx, total, linkSend(true));
    }
    PrintRatio("bulk MB/s, link blocking", blocking.mib.Rate(), plain.mib.Rate(), 0.9);
    PrintRatio("bulk MB/s, link async", async.mib.Rate(), plain.mib.Rate(), 0.85);
    std::printf("CPU ms per MB (whole process): plain %.2f, link blocking %.2f, link async %.2f\n", plain.CpuPerMB(),
                blocking.CpuPerMB(), async.CpuPerMB());
    SSL_CTX_free(serverCtx);
    SSL_CTX_free(clientCtx);
}

}  // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const size_t total = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64) * 1048576;
    signal(SIGPIPE, SIG_IGN);
    if (Morva_Init() != 1) {
        std::fprintf(stderr, "Morva_Init failed\n");
        return 1;
    }
    Pki pki;
    std::printf("TLS 1.3, %s, loopback; %.0f s per handshake side, %zu MiB per bulk round\n", kSuite, seconds,
                total / 1048576);
    ClientHandshakes(pki, seconds);
    ServerHandshakes(pki, seconds);
    BulkRuns(pki, total);
    Morva_Fini();
    return 0;
}
