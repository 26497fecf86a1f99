// An echo server on the runtime's completion queue against a plain edge-triggered epoll echo loop,
// in the same run, over loopback: messages per second and the p99 round trip. Each connection
// has one message in flight; one client thread (four from 100 connections on) drives them and
// times every round trip.
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "echo_loop.h"
#include "yar/yar_asyncio.h"
#include "yar/yar_socket.h"

namespace {

using namespace echobench;
constexpr auto kRunTime = std::chrono::milliseconds(1000);

// ---- The completion queue: receive, send the bytes back, receive again ----

struct QueueConn {
    int sock;
    char buf[kBufSize];
};

int32_t Sent(int32_t error, int32_t, void *user);

int32_t Received(int32_t error, int32_t bytes, void *user) {
    auto *c = static_cast<QueueConn *>(user);
    if (error == 0 && bytes > 0)
        YAR_AsyncIO_SendEx(c->sock, c->buf, bytes, c, Sent);
    return 0;
}

int32_t Sent(int32_t error, int32_t, void *user) {
    auto *c = static_cast<QueueConn *>(user);
    if (error == 0)
        YAR_AsyncIO_RecvEx(c->sock, c->buf, kBufSize, c, Received);
    return 0;
}

class QueueEchoServer {
public:
    QueueEchoServer(const std::vector<int> &socks, int workers) {
        YAR_AsyncIO_Init();
        YAR_AsyncIO_SetPreMem(YAR_ASYNCIO_PREMEM_COUNT, 1);
        queue_ = YAR_AsyncIO_CreateQueueEx_New(workers);
        for (int s : socks) {
            auto c = std::make_unique<QueueConn>();
            c->sock = s;
            YAR_AsyncIO_BindIOHandleToQueueEx(s, queue_);
            YAR_AsyncIO_RecvEx(s, c->buf, kBufSize, c.get(), Received);
            conns_.push_back(std::move(c));
        }
    }
    ~QueueEchoServer() {
        YAR_AsyncIO_DestroyQueueEx(queue_);  // ends the waiting receives and joins the workers
    }

private:
    YAR_IOQUEUE queue_ = nullptr;
    std::vector<std::unique_ptr<QueueConn>> conns_;
};

enum Server { kPlain = 0, kQueue1 = 1, kQueue4 = 2 };

void BM_Echo(benchmark::State &state) {
    const Server kind = static_cast<Server>(state.range(0));
    const int connections = static_cast<int>(state.range(1));
    const size_t size = static_cast<size_t>(state.range(2));
    RaiseFdLimit();
    for (auto _ : state) {
        std::vector<int> clients, servers;
        MakePairs(connections, clients, servers);
        ClientResult total;
        {
            std::unique_ptr<PlainEchoServer> plain;
            std::unique_ptr<QueueEchoServer> queue;
            if (kind == kPlain)
                plain = std::make_unique<PlainEchoServer>(servers);
            else
                queue = std::make_unique<QueueEchoServer>(servers, kind == kQueue1 ? 1 : 4);
            total = DriveClients(clients, size, kRunTime);
            for (int s : servers)
                YAR_CloseSocket(s, 0);
        }
        for (int c : clients)
            close(c);
        const double seconds = std::chrono::duration<double>(kRunTime).count();
        state.counters["msgs_per_s"] = static_cast<double>(total.messages) / seconds;
        state.counters["p99_us"] = PercentileUs(total.latencyNs, 99);
    }
}

void EchoArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"server", "conns", "bytes"});
    for (int conns : {1, 100, 1000})
        for (int bytes : {64, 16384})
            for (int server : {kPlain, kQueue1, kQueue4})
                b->Args({server, conns, bytes});
}

BENCHMARK(BM_Echo)->Apply(EchoArgs)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
