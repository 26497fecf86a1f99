// One MQTT server session over a socket pair: QoS 1 PUBLISH ingest (frame in, host callback,
// PUBACK out) without and with a session key, and host sends raw and encrypted. The peer in the
// same run is OpenSSL's EVP AES-128-CBC on the same payload, the bare cipher cost that each
// encrypted message pays beside the fresh TLS object the crypto provider makes per call.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <memory>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/TimerProxy/TimerProxyMgr.h"
#include "mqtt_bench_key.h"
#include "mqtt_socket_link.h"
#include "mqtt_wire.h"
#include "transport/mqtt/MqttServerSession.h"

using namespace Vorezi;

namespace {

using mqttbench::EvpEncrypt;
using mqttwire::Frame;

int HostCallback(int, MORVA_MQTT_MSG *pMsg, void *pUser) {
    if (pMsg->iMsgType == MSG_PRIVATE_SESSION_KEY_SEARCH && pUser)
        mqttbench::SetSessionKey(pMsg);
    return 1;
}

// A connected session whose client end is drained after each step.
class Bench {
public:
    explicit Bench(bool bKey) {
        GetCoreGlobalCtrl()->Init();
        TIMER_PROXY_CREATE_PARAM proxy = {4, 5000, nullptr, 1, 1};
        m_iProxy = GetTimerProxyMgr()->CreateProxy(&proxy);
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        m_iClient = fds[1];
        auto link = std::make_unique<mqtttest::SocketPairLink>(fds[0]);
        m_pLink = link.get();
        m_pSession.reset(new (-1) CMqttServerSession());
        m_pSession->SetMemberIndex(0);
        MQTT_SERVER_PARAM param = {fds[0], 5000, 90000, 5000, HostCallback, bKey ? this : nullptr, 0};
        m_pSession->StartOnLink(&param, std::move(link), m_iProxy);
        Deliver(mqttwire::Connect("id", "user"));
    }
    ~Bench() {
        m_pSession->Stop();
        m_pSession.reset();
        close(m_iClient);
        GetTimerProxyMgr()->DestroyProxy(m_iProxy);
        GetCoreGlobalCtrl()->Fini();
    }
    bool Deliver(const std::vector<BYTE> &data) {
        const int ok = m_pLink->Deliver(data.data(), DWORD(data.size()));
        Drain();
        return ok == 1;
    }
    bool Send(const std::vector<BYTE> &data, int bRaw) {
        const int sent = m_pSession->Send(MSG_PUBLISH, data.data(), DWORD(data.size()), bRaw);
        Drain();
        return sent > 0;
    }

private:
    void Drain() {
        char buf[65536];
        while (recv(m_iClient, buf, sizeof(buf), MSG_DONTWAIT) > 0) {
        }
    }
    int m_iProxy = -1;
    int m_iClient = -1;
    mqtttest::SocketPairLink *m_pLink = nullptr;
    std::unique_ptr<CMqttServerSession> m_pSession;
};

std::vector<BYTE> TopicAndPayload(size_t payload) {
    std::vector<BYTE> data = {0, 3, 'a', '/', 'b'};
    data.resize(data.size() + payload, 'x');
    return data;
}

void BM_IngestQos1(benchmark::State &state) {
    const bool bKey = state.range(1) != 0;
    Bench bench(bKey);
    const std::vector<BYTE> plain(size_t(state.range(0)), 'x');
    const std::vector<BYTE> payload = bKey ? EvpEncrypt(plain) : plain;
    std::vector<BYTE> body = {0, 3, 'a', '/', 'b', 0, 1};
    body.insert(body.end(), payload.begin(), payload.end());
    const std::vector<BYTE> publish = Frame(0x32, body);
    for (auto _ : state)
        if (!bench.Deliver(publish))
            state.SkipWithError("refused");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(bKey ? "key" : "no key");
}
BENCHMARK(BM_IngestQos1)->ArgsProduct({{64, 1024}, {0, 1}});

void BM_HostSend(benchmark::State &state) {
    const bool bRaw = state.range(1) != 0;
    Bench bench(!bRaw);
    const std::vector<BYTE> data = TopicAndPayload(size_t(state.range(0)));
    for (auto _ : state)
        if (!bench.Send(data, bRaw))
            state.SkipWithError("refused");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(bRaw ? "raw" : "encrypted");
}
BENCHMARK(BM_HostSend)->ArgsProduct({{64, 1024}, {0, 1}});

void BM_EvpAes128Cbc(benchmark::State &state) {
    const std::vector<BYTE> plain(size_t(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(EvpEncrypt(plain));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvpAes128Cbc)->Arg(64)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
