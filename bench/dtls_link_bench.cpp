// The RQS-over-DTLS server link against a plain OpenSSL DTLS 1.2 server in the same run, on
// loopback, with the same client load: N client threads, each a DTLS 1.2 client on its own UDP
// socket, handshake (timed), then M datagrams of 1 KiB sent and their echoes read back.
//  plain  DTLSv1_listen on one socket, then per peer a connected UDP socket and a thread that
//         finishes the handshake and echoes (the usual pattern).
//  link   the DTLS server link; its data callback echoes through Morva_ServerLinkSendData.
// Usage: dtls_link_bench [datagrams per peer]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaLink.h"
#include "morva/MorvaServerLink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPayload = 1024;

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    return a;
}

int FreeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    bind(fd, (sockaddr *)&a, sizeof(a));
    socklen_t n = sizeof(a);
    getsockname(fd, (sockaddr *)&a, &n);
    close(fd);
    return ntohs(a.sin_port);
}

struct Pki {
    std::string dir, cert, key;
    Pki() {
        char tmpl[] = "/tmp/dtls_bench_XXXXXX";
        dir = mkdtemp(tmpl);
        cert = dir + "/srv.pem";
        key = dir + "/srv.key";
        std::string cmd = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + key +
                          " -out " + cert + " -days 2 -subj /CN=localhost 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "openssl req failed\n");
            std::exit(1);
        }
    }
    ~Pki() { std::system(("rm -rf " + dir).c_str()); }
};

// ---- the plain server ----

unsigned char g_secret[16];

int PlainCookie(SSL *ssl, unsigned char *out, unsigned int *len) {
    sockaddr_storage peer{};
    BIO_dgram_get_peer(SSL_get_rbio(ssl), &peer);
    HMAC(EVP_sha1(), g_secret, sizeof(g_secret), (const unsigned char *)&peer, sizeof(sockaddr_in), out, len);
    return 1;
}

int PlainVerify(SSL *ssl, const unsigned char *cookie, unsigned int len) {
    unsigned char expect[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    PlainCookie(ssl, expect, &n);
    return n == len && std::memcmp(expect, cookie, n) == 0;
}

class PlainServer {
public:
    PlainServer(const Pki &pki, int port) : m_port(port) {
        RAND_bytes(g_secret, sizeof(g_secret));
        m_ctx = SSL_CTX_new(DTLS_server_method());
        SSL_CTX_use_certificate_file(m_ctx, pki.cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_ctx, pki.key.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_cookie_generate_cb(m_ctx, PlainCookie);
        SSL_CTX_set_cookie_verify_cb(m_ctx, PlainVerify);
        SSL_CTX_set_read_ahead(m_ctx, 1);
        m_fd = BoundReuse(Loopback(port));
        timeval tv{0, 100000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        m_listen = std::thread([this] { ListenLoop(); });
    }
    ~PlainServer() {
        m_stop = true;
        m_listen.join();
        for (auto &t : m_peers)
            t.join();
        close(m_fd);
        SSL_CTX_free(m_ctx);
    }

private:
    static int BoundReuse(const sockaddr_in &a) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof(one));
        bind(fd, (const sockaddr *)&a, sizeof(a));
        return fd;
    }
    void ListenLoop() {
        BIO_ADDR *client = BIO_ADDR_new();
        while (!m_stop) {
            SSL *ssl = SSL_new(m_ctx);
            BIO *bio = BIO_new_dgram(m_fd, BIO_NOCLOSE);
            SSL_set_bio(ssl, bio, bio);
            SSL_set_options(ssl, SSL_OP_COOKIE_EXCHANGE);
            int r = 0;
            while (!m_stop && (r = DTLSv1_listen(ssl, client)) <= 0) {
            }
            if (r <= 0) {
                SSL_free(ssl);
                break;
            }
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            size_t alen = sizeof(peer.sin_addr);
            BIO_ADDR_rawaddress(client, &peer.sin_addr, &alen);
            peer.sin_port = BIO_ADDR_rawport(client);
            int fd = BoundReuse(Loopback(m_port));
            connect(fd, (sockaddr *)&peer, sizeof(peer));
            BIO_set_fd(SSL_get_rbio(ssl), fd, BIO_NOCLOSE);
            BIO_ctrl(SSL_get_rbio(ssl), BIO_CTRL_DGRAM_SET_CONNECTED, 0, &peer);
            m_peers.emplace_back([this, ssl, fd] { Serve(ssl, fd); });
        }
        BIO_ADDR_free(client);
    }
    void Serve(SSL *ssl, int fd) {
        timeval tv{0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        int r;
        while ((r = SSL_accept(ssl)) <= 0 && !m_stop) {
            int e = SSL_get_error(ssl, r);
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
                break;
        }
        char buf[4096];
        while (r == 1 && !m_stop) {
            int n = SSL_read(ssl, buf, sizeof(buf));
            if (n > 0)
                SSL_write(ssl, buf, n);
            else if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ)
                break;
        }
        SSL_free(ssl);
        close(fd);
    }

    int m_port;
    SSL_CTX *m_ctx;
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_listen;
    std::vector<std::thread> m_peers;
};

// ---- the link ----

int EchoFromCallback(void *pUser, SERVER_LINK_DATA *p) {
    SERVER_LINK_SEND_PARAM s;
    std::memset(&s, 0, sizeof(s));
    s.pPeerIP = p->szPeerIP;
    s.wPeerPort = p->wPeerPort;
    s.pData = p->pData;
    s.dwDataLen = p->dwDataLen;
    Morva_ServerLinkSendData(*static_cast<int *>(pUser), &s);
    return 1;
}

int CreateLink(const Pki &pki, int port, int *pHandle) {
    SERVER_LINK_COND c;
    std::memset(&c, 0, sizeof(c));
    c.pLocalIP = "127.0.0.1";
    c.wLocalPort = (WORD)port;
    c.byProType = SERVER_LINK_PRO_RQS_DTLS;
    c.dwRecvMult = 8 << 20;
    c.fnDataCallBack = EchoFromCallback;
    c.pUserData = pHandle;
    LINK_EXT_PARAM ext;
    std::memset(&ext, 0, sizeof(ext));
    ext.pUserCertificateFile = pki.cert.c_str();
    ext.pUserPrivateKeyFile = pki.key.c_str();
    ext.iTLSKind = 11;
    std::memcpy(c.byExt, &ext, std::min(sizeof(ext), sizeof(c.byExt)));
    *pHandle = Morva_CreateServerLink(&c);
    return *pHandle;
}

// ---- the clients ----

struct Result {
    int completed = 0;
    double p50Ms = 0, p99Ms = 0, handshakesPerSec = 0, datagramsPerSec = 0;
};

// One client: handshake time in ms (-1 on failure), and echoes received.
void Client(SSL_CTX *ctx, int port, int datagrams, double *pHandshakeMs, int *pEchoes, std::atomic<int> *pReady,
            std::atomic<bool> *pGo) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(port);
    connect(fd, (sockaddr *)&a, sizeof(a));
    timeval tv{0, 200000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    SSL *ssl = SSL_new(ctx);
    BIO *bio = BIO_new_dgram(fd, BIO_NOCLOSE);
    BIO_ctrl(bio, BIO_CTRL_DGRAM_SET_CONNECTED, 0, &a);
    SSL_set_bio(ssl, bio, bio);
    auto t0 = Clock::now();
    int r = 0;
    while ((r = SSL_connect(ssl)) <= 0 && Clock::now() - t0 < std::chrono::seconds(30)) {
        int e = SSL_get_error(ssl, r);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            break;
    }
    *pHandshakeMs = r == 1 ? std::chrono::duration<double, std::milli>(Clock::now() - t0).count() : -1;
    pReady->fetch_add(1);
    while (!pGo->load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    char buf[kPayload];
    std::memset(buf, 'd', sizeof(buf));
    int echoes = 0;
    // A window of 8 in flight; a read that times out counts one of them as lost.
    int sent = 0, inFlight = 0;
    while (r == 1 && (sent < datagrams || inFlight > 0)) {
        for (; sent < datagrams && inFlight < 8; sent++, inFlight++)
            SSL_write(ssl, buf, sizeof(buf));
        int n = SSL_read(ssl, buf, sizeof(buf));
        if (n > 0)
            echoes++;
        else if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ)
            break;
        inFlight--;
    }
    *pEchoes = echoes;
    SSL_shutdown(ssl);
    SSL_free(ssl);
    close(fd);
}

Result RunClients(int port, int peers, int datagrams) {
    SSL_CTX *ctx = SSL_CTX_new(DTLS_client_method());
    SSL_CTX_set_max_proto_version(ctx, DTLS1_2_VERSION);
    SSL_CTX_set_read_ahead(ctx, 1);
    std::vector<double> hs((size_t)peers);
    std::vector<int> echoes((size_t)peers);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    auto t0 = Clock::now();
    for (int i = 0; i < peers; i++)
        threads.emplace_back(Client, ctx, port, datagrams, &hs[(size_t)i], &echoes[(size_t)i], &ready, &go);
    while (ready.load() < peers)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double hsSecs = std::chrono::duration<double>(Clock::now() - t0).count();
    auto t1 = Clock::now();
    go = true;
    for (auto &t : threads)
        t.join();
    double dataSecs = std::chrono::duration<double>(Clock::now() - t1).count();
    SSL_CTX_free(ctx);
    Result res;
    std::vector<double> ok;
    long total = 0;
    for (int i = 0; i < peers; i++) {
        if (hs[(size_t)i] >= 0)
            ok.push_back(hs[(size_t)i]);
        total += echoes[(size_t)i];
    }
    std::sort(ok.begin(), ok.end());
    res.completed = (int)ok.size();
    if (!ok.empty()) {
        res.p50Ms = ok[ok.size() / 2];
        res.p99Ms = ok[std::min(ok.size() - 1, ok.size() * 99 / 100)];
    }
    res.handshakesPerSec = ok.size() / hsSecs;
    res.datagramsPerSec = 2.0 * total / dataSecs;  // both ways
    return res;
}

void Print(const char *name, int peers, const Result &r) {
    std::printf("%-5s %3d peers: %3d/%d handshakes, p50 %.1f ms, p99 %.1f ms, %.0f handshakes/s, %.0f datagrams/s\n", name,
                peers, r.completed, peers, r.p50Ms, r.p99Ms, r.handshakesPerSec, r.datagramsPerSec);
}

}  // namespace

int main(int argc, char **argv) {
    const int datagrams = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (Morva_Init() != 1)
        return 1;
    Pki pki;
    for (int peers : {1, 16, 64, 128}) {
        const int linkPort = FreeUdpPort();
        int hLink = -1;
        if (CreateLink(pki, linkPort, &hLink) < 0) {
            std::fprintf(stderr, "link failed\n");
            return 1;
        }
        Result link = RunClients(linkPort, peers, datagrams);
        Morva_DestroyServerLink(hLink);
        const int plainPort = FreeUdpPort();
        Result plain;
        {
            PlainServer server(pki, plainPort);
            plain = RunClients(plainPort, peers, datagrams);
        }
        Print("link", peers, link);
        Print("plain", peers, plain);
        std::printf("ratio %3d peers: handshake p50 %.2fx, datagrams/s %.2fx\n", peers, link.p50Ms / plain.p50Ms,
                    link.datagramsPerSec / plain.datagramsPerSec);
        std::fflush(stdout);
    }
    Morva_Fini();
    return 0;
}
