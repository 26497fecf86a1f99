// The secure link on loopback, beside the bare reliable-UDP endpoint in the same run: an echo of
// framed, encrypted datagrams from 1 to 10000 live peers (one source port each, one request
// outstanding), answered by the owner's callback, against the same echo answered by a bare
// endpoint's plain-datagram callback; and key exchanges (capability hello, key exchange, status
// 200) against the RSA-1024 private decryption of the key cache alone.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "crypto/KeyCache.h"
#include "transport/secure/InterimSecureLink.h"
#include "transport/secure/SecureLinkListenSession.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/secure/SecurePacket.h"
#include "transport/vrudp/ComVRUDP.h"

using namespace Vorezi;
using namespace Vorezi::secure;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPayload = 64;
const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct Library {
    Library() {
        rlimit lim{65536, 65536};
        setrlimit(RLIMIT_NOFILE, &lim);
        GetCoreGlobalCtrl()->Init();
    }
    ~Library() { GetCoreGlobalCtrl()->Fini(); }
};

Library &Lib() {
    static Library lib;
    return lib;
}

uint16_t PortOfSocket(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    return ntohs(a.sin_port);
}

// One device socket of the client, connected to the server's port.
int DeviceSocket(uint16_t wPort) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(wPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof(to));
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    return fd;
}

Bytes Ecb(const Bytes &in) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, kKey, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(in.size());
    int n = 0;
    EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

// A device's data frame under kKey, as a peer writes it.
Bytes DeviceFrame() {
    Bytes body(SecurePaddedLen(kPayload), 0);
    memset(body.data(), 'x', kPayload);
    body = Ecb(body);
    SecureDataHead head;
    head.dwLength = uint32_t(SECURE_DATA_HEAD_LEN + body.size());
    head.dwPlainLen = kPayload;
    Bytes token = Ecb(Bytes(16, 't'));
    memcpy(head.byToken, token.data(), 16);
    Bytes pkt(SECURE_DATA_HEAD_LEN);
    BuildDataHead(head, pkt.data());
    pkt.insert(pkt.end(), body.begin(), body.end());
    return pkt;
}

Bytes Hello(uint8_t byType) {
    Bytes p(SECURE_HELLO_HEAD_LEN, 0);
    memcpy(p.data(), "QDSC", 4);
    p[5] = SECURE_HELLO_HEAD_LEN;
    p[6] = 1;
    p[7] = byType;
    p[11] = p[15] = p[19] = 1;
    return p;
}

// Capability hello and key exchange on one device socket: true on status 200.
bool ExchangeKey(int fd) {
    Bytes hello = Hello(0);
    uint8_t buf[512];
    if (send(fd, hello.data(), hello.size(), 0) < 0 || recv(fd, buf, sizeof(buf), 0) != 178)
        return false;
    const unsigned char *p = buf + 38;
    RSA *rsa = d2i_RSAPublicKey(nullptr, &p, 140);
    if (!rsa)
        return false;
    Bytes ex = Hello(1);
    ex.push_back(0);
    ex.push_back(128);
    ex.resize(ex.size() + 128);
    RSA_public_encrypt(16, kKey, ex.data() + 38, rsa, RSA_PKCS1_PADDING);
    RSA_free(rsa);
    return send(fd, ex.data(), ex.size(), 0) > 0 && recv(fd, buf, sizeof(buf), 0) == 36 && buf[23] == 200;
}

// ---- the secure listen session with an echoing owner ----

int g_iSecureListen = -1;

void SecureEcho(int32_t iSecureHandle, SECURE_CALLBACK_DATA *p, void *) {
    SECURE_SEND_DATA send{};
    send.iSecureHandle = iSecureHandle;
    send.dwCommand = 7;
    send.pData = p->pData;
    send.dwDataLen = p->dwDataLen;
    Interim_SecureServSendTo(g_iSecureListen, &send);
}

uint16_t StartSecure() {
    if (g_iSecureListen >= 0)
        Interim_SecureClose(g_iSecureListen);
    SECURE_CREATE_FUNS funs{};
    g_iSecureListen = Interim_SecureCreate(&funs, 0, 0);
    Interim_SecureServSetRecvFun(g_iSecureListen, SecureEcho, nullptr);
    SECURE_SOCK_ADDR addr{};
    strcpy(addr.szAddr, "127.0.0.1");
    Interim_SecureBind(g_iSecureListen, &addr);
    Interim_SecureSetSockBuffSize(g_iSecureListen, 1 << 22, 1 << 22);
    auto *p = dynamic_cast<CSecureLinkListenSession *>(
        GetCoreGlobalCtrl()->GetSecureLinkServerMgr()->GetMember(g_iSecureListen));
    return PortOfSocket(COM_VRUDP_GetSocket(p->VRUDPHandle()));
}

// ---- the bare endpoint with an echoing plain-datagram callback ----

int g_iBare = -1;

void BareEcho(void *, VRUDP_RECV_DATA *p) {
    VRUDP_SOCK_ADDR to{};
    memcpy(to.szAddr, p->szRemoteAddr, sizeof(to.szAddr));
    to.wPort = p->wRemotePort;
    COM_VRUDP_SendTo(g_iBare, p->pData, p->iDataLen, &to, 0);
}

uint16_t StartBare() {
    if (g_iBare >= 0)
        return PortOfSocket(COM_VRUDP_GetSocket(g_iBare));
    VRUDP_CREATE_COND cond{};
    cond.iAf = 2;
    g_iBare = COM_VRUDP_Create(&cond);
    VRUDP_SOCK_ADDR addr{};
    strcpy(addr.szAddr, "127.0.0.1");
    COM_VRUDP_Bind(g_iBare, &addr);
    COM_VRUDP_SetSockBuffSize(g_iBare, 1 << 22, 1 << 22);
    COM_VRUDP_Listen(g_iBare, nullptr, BareEcho);
    return PortOfSocket(COM_VRUDP_GetSocket(g_iBare));
}

struct Peers {
    std::vector<int> fds;
    ~Peers() {
        for (int fd : fds)
            close(fd);
    }
};

void RunEcho(benchmark::State &state, const std::vector<int> &fds, const Bytes &pkt, size_t dwAnswer) {
    uint8_t buf[512];
    size_t i = 0;
    for (auto _ : state) {
        int fd = fds[i++ % fds.size()];
        if (send(fd, pkt.data(), pkt.size(), 0) < 0 || size_t(recv(fd, buf, sizeof(buf), 0)) != dwAnswer) {
            state.SkipWithError("echo lost");
            break;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_SecureEcho(benchmark::State &state) {
    Lib();
    const uint16_t wPort = StartSecure();
    Peers peers;
    for (int i = 0; i < state.range(0); i++) {
        peers.fds.push_back(DeviceSocket(wPort));
        if (!ExchangeKey(peers.fds.back())) {
            state.SkipWithError("key exchange failed");
            return;
        }
    }
    RunEcho(state, peers.fds, DeviceFrame(), SECURE_DATA_HEAD_LEN + SecurePaddedLen(kPayload));
    state.counters["peers"] = double(GetCoreGlobalCtrl()->GetSecureLinkMgr()->GetCurrNum());
}

void BM_BareEcho(benchmark::State &state) {
    Lib();
    const uint16_t wPort = StartBare();
    Peers peers;
    for (int i = 0; i < state.range(0); i++)
        peers.fds.push_back(DeviceSocket(wPort));
    RunEcho(state, peers.fds, DeviceFrame(), DeviceFrame().size());
}

void BM_KeyExchange(benchmark::State &state) {
    Lib();
    Peers peers;
    peers.fds.push_back(DeviceSocket(StartSecure()));
    for (auto _ : state) {
        if (!ExchangeKey(peers.fds[0])) {
            state.SkipWithError("key exchange failed");
            break;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_CacheDecryptAlone(benchmark::State &state) {
    Lib();
    CRSAKey *pCache = GetCoreGlobalCtrl()->GetRSAEncrypt();
    BYTE pub[256], pri[1024], out[1024];
    int iPub = 256, iPri = 1024;
    pCache->GetRSAKey(pub, &iPub, pri, &iPri);
    const unsigned char *p = pub;
    RSA *rsa = d2i_RSAPublicKey(nullptr, &p, iPub);
    BYTE cipher[128];
    RSA_public_encrypt(16, kKey, cipher, rsa, RSA_PKCS1_PADDING);
    RSA_free(rsa);
    for (auto _ : state) {
        int iOut = sizeof(out);
        benchmark::DoNotOptimize(pCache->DecryptData(pri, iPri, cipher, sizeof(cipher), out, &iOut));
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

BENCHMARK(BM_BareEcho)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->UseRealTime();
BENCHMARK(BM_SecureEcho)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->UseRealTime();
BENCHMARK(BM_CacheDecryptAlone)->UseRealTime();
BENCHMARK(BM_KeyExchange)->UseRealTime();
BENCHMARK_MAIN();
