// Activations of a protocol-3.0 and a protocol-3.1 device through libZEVA.so against device
// simulators that answer at once, beside their parts measured alone in the same run: RSA-1024 key
// generation, the RSA-2048 share of 3.1 (filling the core's key cache, then the cached pair and the
// private-key decryption), one request's round trip across the namespaces, and the 100-ms poll
// step of the wait. Runs only inside the namespaces of tests/netns/netns-run.sh (the simulators go
// into the first peer):
//   tests/netns/netns-run.sh -p 1 -- build/bench/request_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
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

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaCrypto.h"
#include "netns_guard.h"
#include "zeva/ZevaSdk.h"

namespace {

using Clock = std::chrono::steady_clock;

char kSerial[] = "DS-SIM0000-000000000000";    // protocol 3.0
char kSerial31[] = "DS-SIM0001-000000000001";  // protocol 3.1
const char kMac[] = "02-d5-00-00-00-00";

struct Sdk {
    void *lib = nullptr;
    decltype(&ZEVA_ActivateDevice) activate = nullptr;
    decltype(&ZEVA_SetDeviceConfig) set = nullptr;
    std::atomic<int> listed{0};
    bool ok = false;

    static void Found(ZEVA_DEVICE_INFO *dev, void *user) {
        for (const char *serial : {kSerial, kSerial31})
            if (std::strncmp(dev->szSerialNOEx, serial, sizeof dev->szSerialNOEx) == 0)
                static_cast<Sdk *>(user)->listed |= serial == kSerial ? 1 : 2;
    }
    // One simulator of inactive devices of the protocol in the peer; its pid, or 0.
    static int StartDevsim(const std::string &peer, const char *args) {
        std::string cmd = "ip netns exec " + peer + " " DEVSIM_PATH " --inactive --seconds 900 --log /dev/null " +
                          args + " >/dev/null 2>&1 & echo $!";
        int pid = 0;
        if (FILE *p = popen(cmd.c_str(), "r")) {
            if (std::fscanf(p, "%d", &pid) != 1)
                pid = 0;
            pclose(p);
        }
        return pid;
    }
    Sdk() {
        const char *peers = std::getenv("ZEVA_NETNS_PEERS");
        if (!zeva::test::InIsolatedNetns() || !peers) {
            std::fprintf(stderr, "request_bench: run it under tests/netns/netns-run.sh -p 1\n");
            return;
        }
        std::string peer(peers, strcspn(peers, " "));
        devsim[0] = StartDevsim(peer, "--first 0 --protocol 3.0");
        devsim[1] = StartDevsim(peer, "--first 1 --protocol 3.1");
        if (devsim[0] <= 0 || devsim[1] <= 0)
            return;
        lib = dlopen(ZEVA_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return;
        auto start = reinterpret_cast<decltype(&ZEVA_Start_V60)>(dlsym(lib, "ZEVA_Start_V60"));
        reinterpret_cast<decltype(&ZEVA_SetAutoRequestInterval)>(dlsym(lib, "ZEVA_SetAutoRequestInterval"))(2);
        activate = reinterpret_cast<decltype(activate)>(dlsym(lib, "ZEVA_ActivateDevice"));
        set = reinterpret_cast<decltype(set)>(dlsym(lib, "ZEVA_SetDeviceConfig"));
        if (!start(nullptr, Found, nullptr, this))
            return;
        for (int i = 0; i < 300 && listed.load() != 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ok = listed.load() == 3;
    }
    ~Sdk() {
        if (lib)
            reinterpret_cast<decltype(&ZEVA_Stop)>(dlsym(lib, "ZEVA_Stop"))();
        for (int pid : devsim)
            if (pid > 0)
                kill(pid, SIGTERM);
    }
    int devsim[2] = {};
};

Sdk &TheSdk() {
    static Sdk sdk;
    return sdk;
}

void Percentiles(benchmark::State &state, std::vector<double> ms, const std::string &prefix = "") {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    state.counters[prefix + "p50_ms"] = ms[ms.size() / 2];
    state.counters[prefix + "p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

double g_dP50Activation30 = 0;

// Activations of one device, each followed (untimed) by the restore to the inactive state for
// the next round. The first is reported apart: for 3.1 it fills the core's RSA key cache.
std::vector<double> Activations(benchmark::State &state, char *pSerial) {
    Sdk &sdk = TheSdk();
    std::vector<double> ms;
    if (!sdk.ok) {
        state.SkipWithError("no simulators or no libZEVA.so");
        return ms;
    }
    for (auto _ : state) {
        auto t0 = Clock::now();
        int r = sdk.activate(pSerial, const_cast<char *>("Bench12345"));
        double took = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        state.SetIterationTime(took / 1000);
        ms.push_back(took);
        ZEVA_RESTORE_INACTIVE_CFG restore{};
        std::strcpy(restore.szPassword, "Bench12345");
        uint8_t out[128];
        if (r != 1 || !sdk.set(pSerial, 14, &restore, sizeof restore, out, sizeof out)) {
            state.SkipWithError("activation or restore failed");
            return {};
        }
    }
    state.counters["first_ms"] = ms.front();
    Percentiles(state, std::vector<double>(ms.begin() + 1, ms.end()));
    return ms;
}

void BM_Activation(benchmark::State &state) {
    std::vector<double> ms = Activations(state, kSerial);
    if (ms.size() > 1) {
        std::sort(ms.begin() + 1, ms.end());
        g_dP50Activation30 = ms[1 + (ms.size() - 1) / 2];
    }
}
BENCHMARK(BM_Activation)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_Activation31(benchmark::State &state) {
    std::vector<double> ms = Activations(state, kSerial31);
    if (ms.size() > 1 && g_dP50Activation30 > 0)
        state.counters["p50_vs_30"] = state.counters["p50_ms"] / g_dP50Activation30;
}
BENCHMARK(BM_Activation31)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_RsaKeyGeneration(benchmark::State &state) {
    Morva_Init();
    void *crypt = Morva_CreateVORNEncrypt();
    std::vector<double> ms;
    for (auto _ : state) {
        BYTE key[512];
        int len = sizeof key;
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(Morva_GeneratePublicKey(crypt, key, &len));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    Percentiles(state, ms);
    Morva_DestroyVORNEncrypt(crypt);
    Morva_Fini();
}
BENCHMARK(BM_RsaKeyGeneration)->Iterations(40)->Unit(benchmark::kMillisecond);

// The RSA-2048 share of a 3.1 exchange in a core library of our own: the first call fills the
// key cache (one RSA-1024 and one RSA-2048 pair); later calls copy the cached pair, and each
// exchange decrypts the device's answer with it.
void BM_Rsa2048Share(benchmark::State &state) {
    Morva_Init();
    BYTE pub[512], pri[2048];
    int iPub = 0, iPri = 0;
    auto t0 = Clock::now();
    if (!Morva_GenerateRSAKey2048(pub, &iPub, pri, &iPri)) {
        state.SkipWithError("no key cache");
        Morva_Fini();
        return;
    }
    double fill = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const unsigned char *p = pub;
    RSA *rsa = d2i_RSAPublicKey(nullptr, &p, iPub);
    p = pub;
    if (!rsa)
        rsa = d2i_RSA_PUBKEY(nullptr, &p, iPub);
    std::vector<BYTE> cipher(256);
    const unsigned char secret[20] = "R4nd0mStr1ngOf20Byt";
    if (!rsa || RSA_public_encrypt(20, secret, cipher.data(), rsa, RSA_PKCS1_PADDING) != 256) {
        state.SkipWithError("public key not read");
        RSA_free(rsa);
        Morva_Fini();
        return;
    }
    RSA_free(rsa);
    std::vector<double> copy, decrypt;
    for (auto _ : state) {
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(Morva_GenerateRSAKey2048(pub, &iPub, pri, &iPri));
        auto t2 = Clock::now();
        BYTE plain[256];
        int len = sizeof plain;
        if (!Morva_DecryptByPrivateKeyEx2048(cipher.data(), 256, plain, &len, pri, iPri)) {
            state.SkipWithError("decryption failed");
            break;
        }
        copy.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        decrypt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t2).count());
    }
    state.counters["fill_ms"] = fill;
    Percentiles(state, copy, "cached_");
    Percentiles(state, decrypt, "decrypt_");
    Morva_Fini();
}
BENCHMARK(BM_Rsa2048Share)->Iterations(40)->Unit(benchmark::kMillisecond);

// One plain read request to the simulator and its answer, on a socket of our own in the group.
void BM_RoundTrip(benchmark::State &state) {
    if (!TheSdk().ok) {
        state.SkipWithError("no simulator");
        return;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(37020);
    bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any);
    ip_mreqn join{};
    inet_pton(AF_INET, "239.255.255.250", &join.imr_multiaddr);
    join.imr_ifindex = int(if_nametoindex("h1"));
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &join, sizeof join);
    sockaddr_in group = any;
    group.sin_addr = join.imr_multiaddr;
    std::vector<double> ms;
    int n = 0;
    for (auto _ : state) {
        std::string uuid = "BENCH-" + std::to_string(++n);
        std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>" + uuid + "</Uuid><MAC>" + kMac +
                           "</MAC><Types>deviceTypeUnlockCode</Types></Probe>";
        auto t0 = Clock::now();
        sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof group);
        char buf[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) {
                state.SkipWithError("no answer");
                close(fd);
                return;
            }
            ssize_t got = recv(fd, buf, sizeof buf - 1, 0);
            if (got > 0 && std::string(buf, size_t(got)).find("<Uuid>" + uuid + "</Uuid>") != std::string::npos &&
                std::string(buf, size_t(got)).find("<Result>") != std::string::npos)
                break;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    Percentiles(state, ms);
    close(fd);
}
BENCHMARK(BM_RoundTrip)->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_PollStep(benchmark::State &state) {
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
BENCHMARK(BM_PollStep)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
