// Client links against plain sockets in the same run, over loopback:
// - blocking round trips of a TCP link (send, then receive with return-on-first-data) beside a
//   plain blocking client (send, poll, recv), both against the plain epoll echo loop: p50 and
//   p99 at 64 B, 1 KiB and 16 KiB, and bulk MB/s with 64 KiB messages;
// - links in stream mode answering from their callback beside the plain epoll echo loop, both
//   driven by the same epoll clients: messages per second and p99 at 1, 100 and 1000
//   connections of 64 B;
// - a CreateHandle plus DestroyHandle of the asynchronous manager at 10k, 50k and 80k live
//   handles beside a free-list allocator.
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "echo_loop.h"
#include "morva/ComInterfaceMorva.h"
#include "transport/async/AsyncManager.h"
#include "transport/link/LinkFactory.h"

namespace {

using namespace echobench;
using Vorezi::CLinkBase;
constexpr auto kRunTime = std::chrono::milliseconds(1000);

CLinkBase *ConnectLink(int port) {
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.pServerIP = "127.0.0.1";
    p.wServerPort = static_cast<WORD>(port);
    p.enumLinkType = LINK_TYPE_TCP;
    return Vorezi::Link_CreateLinkEx(&p, 1, nullptr);
}

struct Library {
    Library() { Morva_Init(); }
    ~Library() { Morva_Fini(); }
};

// ---- blocking round trips ----

enum Client { kPlainClient = 0, kLinkClient = 1 };

// One round trip of `size` bytes; false when the echo did not come back whole.
bool PlainRoundTrip(int sock, const char *msg, char *buf, size_t size) {
    SendAll(sock, msg, size);
    size_t got = 0;
    while (got < size) {
        pollfd p{sock, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            return false;
        ssize_t r = recv(sock, buf + got, size - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool LinkRoundTrip(CLinkBase *link, const char *msg, char *buf, size_t size) {
    if (Vorezi::Link_SendDataByLink(link, msg, static_cast<DWORD>(size), 0) != static_cast<int>(size))
        return false;
    size_t got = 0;
    DWORD len = 0;
    while (got < size) {
        if (!Vorezi::Link_RecvData(link, buf + got, static_cast<DWORD>(size - got), &len, 5000, 1) || len == 0)
            return false;
        got += len;
    }
    return true;
}

void BM_BlockingRoundTrip(benchmark::State &state) {
    const Client kind = static_cast<Client>(state.range(0));
    const size_t size = static_cast<size_t>(state.range(1));
    Library lib;
    Listener listener;
    std::vector<char> msg(size, 'x'), buf(size);
    for (auto _ : state) {
        CLinkBase *link = kind == kLinkClient ? ConnectLink(listener.Port()) : nullptr;
        const int sock = kind == kLinkClient ? -1 : listener.Connect();
        const int server = listener.Accept();
        std::vector<uint32_t> latencyNs;
        int64_t bytes = 0;
        {
            PlainEchoServer echo({server});
            const Clock::time_point end = Clock::now() + kRunTime;
            while (Clock::now() < end) {
                const Clock::time_point start = Clock::now();
                const bool ok = kind == kLinkClient ? LinkRoundTrip(link, msg.data(), buf.data(), size)
                                                    : PlainRoundTrip(sock, msg.data(), buf.data(), size);
                if (!ok) {
                    state.SkipWithError("echo lost");
                    break;
                }
                latencyNs.push_back(static_cast<uint32_t>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count()));
                bytes += static_cast<int64_t>(2 * size);
            }
        }
        if (link)
            Vorezi::Link_DestroyLink(link);
        else
            close(sock);
        close(server);
        std::sort(latencyNs.begin(), latencyNs.end());
        state.counters["p50_us"] = PercentileUs(latencyNs, 50);
        state.counters["p99_us"] = PercentileUs(latencyNs, 99);
        state.counters["MB_per_s"] = static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(kRunTime).count();
    }
}

void BlockingArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"client", "bytes"});
    for (int bytes : {64, 1024, 16384, 65536})
        for (int client : {kPlainClient, kLinkClient})
            b->Args({client, bytes});
}

BENCHMARK(BM_BlockingRoundTrip)->Apply(BlockingArgs)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- stream mode: links answer from their callback ----

int EchoFromCallback(void *user, char *data, int len, int status) {
    if (status == 0)
        Vorezi::Link_SendDataByLink(static_cast<CLinkBase *>(user), data, static_cast<DWORD>(len), 0);
    return 1;
}

enum Server { kPlainServer = 0, kLinkServer = 1 };

void BM_StreamEcho(benchmark::State &state) {
    const Server kind = static_cast<Server>(state.range(0));
    const int connections = static_cast<int>(state.range(1));
    constexpr size_t kSize = 64;
    RaiseFdLimit();
    Library lib;
    for (auto _ : state) {
        std::vector<int> clients, servers;
        std::vector<CLinkBase *> links;
        if (kind == kPlainServer) {
            MakePairs(connections, clients, servers);
        } else {
            Listener listener;
            for (int i = 0; i < connections; ++i) {
                CLinkBase *link = ConnectLink(listener.Port());
                const int c = listener.Accept();
                link->StartRecv(EchoFromCallback, link, kBufSize);
                link->ResumeRecvThread();
                links.push_back(link);
                clients.push_back(c);
            }
        }
        ClientResult total;
        {
            std::unique_ptr<PlainEchoServer> plain;
            if (kind == kPlainServer)
                plain = std::make_unique<PlainEchoServer>(servers);
            total = DriveClients(clients, kSize, kRunTime);
        }
        for (CLinkBase *link : links)
            Vorezi::Link_DestroyLink(link);
        for (int s : servers)
            close(s);
        for (int c : clients)
            close(c);
        state.counters["msgs_per_s"] =
            static_cast<double>(total.messages) / std::chrono::duration<double>(kRunTime).count();
        state.counters["p99_us"] = PercentileUs(total.latencyNs, 99);
    }
}

void StreamArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"server", "conns"});
    for (int conns : {1, 100, 1000})
        for (int server : {kPlainServer, kLinkServer})
            b->Args({server, conns});
}

BENCHMARK(BM_StreamEcho)->Apply(StreamArgs)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- handle allocation ----

// The alternative design: a stack of free indexes, O(1) both ways.
class FreeListTable {
public:
    explicit FreeListTable(int total) : objects_(total, nullptr) {
        for (int i = total - 1; i >= 0; --i)
            free_.push_back(i);
    }
    int Create(void *object) {
        if (free_.empty())
            return -1;
        int h = free_.back();
        free_.pop_back();
        objects_[h] = object;
        return h;
    }
    void Destroy(int h) {
        objects_[h] = nullptr;
        free_.push_back(h);
    }

private:
    std::vector<void *> objects_;
    std::vector<int> free_;
};

enum Table { kFreeList = 0, kManager = 1 };

void BM_HandleAlloc(benchmark::State &state) {
    const Table kind = static_cast<Table>(state.range(0));
    const int live = static_cast<int>(state.range(1));
    auto *object = reinterpret_cast<Vorezi::CLinkAsyncIO *>(uintptr_t(0x1000));
    Library lib;
    std::unique_ptr<Vorezi::CAsyncManager> mgr;
    std::unique_ptr<FreeListTable> list;
    if (kind == kManager) {
        mgr = std::make_unique<Vorezi::CAsyncManager>();
        for (int i = 0; i < live; ++i)
            mgr->CreateHandle(object);
    } else {
        list = std::make_unique<FreeListTable>(static_cast<int>(Vorezi::CAsyncManager::kTotalNum));
        for (int i = 0; i < live; ++i)
            list->Create(object);
    }
    for (auto _ : state) {
        if (kind == kManager)
            mgr->DestroyHandle(mgr->CreateHandle(object));
        else
            list->Destroy(list->Create(object));
    }
}

void HandleArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"table", "live"});
    for (int live : {10000, 50000, 80000})
        for (int table : {kFreeList, kManager})
            b->Args({table, live});
}

BENCHMARK(BM_HandleAlloc)->Apply(HandleArgs)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
