// One protocol-3.0 activation through libZEVA.so against the device simulator that answers at
// once, beside its parts measured alone in the same run: RSA-1024 key generation, one request's
// round trip across the namespaces, and the 100-ms poll step of the wait. Runs only inside the
// namespaces of tests/netns/netns-run.sh (the simulator goes into the first peer):
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaCrypto.h"
#include "netns/netns_guard.h"
#include "zeva/ZevaSdk.h"

namespace {

using Clock = std::chrono::steady_clock;

char kSerial[] = "DS-SIM0000-000000000000";
const char kMac[] = "02-d5-00-00-00-00";

struct Sdk {
    void *lib = nullptr;
    decltype(&ZEVA_ActivateDevice) activate = nullptr;
    decltype(&ZEVA_SetDeviceConfig) set = nullptr;
    bool listed = false;
    bool ok = false;

    static void Found(ZEVA_DEVICE_INFO *dev, void *user) {
        if (std::strncmp(dev->szSerialNOEx, kSerial, sizeof dev->szSerialNOEx) == 0)
            static_cast<Sdk *>(user)->listed = true;
    }
    Sdk() {
        const char *peers = std::getenv("ZEVA_NETNS_PEERS");
        if (!zeva::test::InIsolatedNetns() || !peers) {
            std::fprintf(stderr, "request_bench: run it under tests/netns/netns-run.sh -p 1\n");
            return;
        }
        std::string peer(peers, strcspn(peers, " "));
        std::string cmd = "ip netns exec " + peer + " " DEVSIM_PATH " --inactive --seconds 900 --log /dev/null "
                          ">/dev/null 2>&1 & echo $!";
        if (FILE *p = popen(cmd.c_str(), "r")) {
            if (std::fscanf(p, "%d", &devsim) != 1)
                devsim = 0;
            pclose(p);
        }
        if (devsim <= 0)
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
        for (int i = 0; i < 300 && !listed; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ok = listed;
    }
    ~Sdk() {
        if (lib)
            reinterpret_cast<decltype(&ZEVA_Stop)>(dlsym(lib, "ZEVA_Stop"))();
        if (devsim > 0)
            kill(devsim, SIGTERM);
    }
    int devsim = 0;
};

Sdk &TheSdk() {
    static Sdk sdk;
    return sdk;
}

void Percentiles(benchmark::State &state, std::vector<double> &ms) {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

// Activation, then (untimed) the restore to the inactive state for the next round.
void BM_Activation(benchmark::State &state) {
    Sdk &sdk = TheSdk();
    if (!sdk.ok) {
        state.SkipWithError("no simulator or no libZEVA.so");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        auto t0 = Clock::now();
        int r = sdk.activate(kSerial, const_cast<char *>("Bench12345"));
        double took = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        state.SetIterationTime(took / 1000);
        ms.push_back(took);
        ZEVA_RESTORE_INACTIVE_CFG restore{};
        std::strcpy(restore.szPassword, "Bench12345");
        uint8_t out[128];
        if (r != 1 || !sdk.set(kSerial, 14, &restore, sizeof restore, out, sizeof out)) {
            state.SkipWithError("activation or restore failed");
            return;
        }
    }
    Percentiles(state, ms);
}
BENCHMARK(BM_Activation)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

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
