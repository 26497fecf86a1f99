// The flexible thread pool against a plain mutex-and-condition-variable queue with the same number
// of permanent workers, in the same run: throughput of tiny items, and the wake-up latency of a
// post to an idle pool.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "yar/yar_threadpool.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a work item does: count itself, and note when it started.
struct Sink {
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> startedNs{0};
};

int32_t TinyItem(void *item) {
    static_cast<Sink *>(item)->done.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int32_t StampItem(void *item) {
    auto *sink = static_cast<Sink *>(item);
    sink->startedNs.store(Clock::now().time_since_epoch().count());
    sink->done.fetch_add(1);
    return 0;
}

class FlexRunner {
public:
    FlexRunner(int workers, YAR_THREADPOOL_ROUTINE routine)
        : m_pool(YAR_ThreadPoolFlex_Create(workers, 60000, routine, 0)) {}
    ~FlexRunner() { YAR_ThreadPoolFlex_DestroyEx(m_pool, -1); }
    bool Post(void *item) { return YAR_ThreadPoolFlex_Work(m_pool, item) == 0; }

private:
    YAR_THREADPOOLFLEX_T *m_pool;
};

// The reference: a deque under one mutex, one condition variable, permanent workers.
class PlainRunner {
public:
    PlainRunner(int workers, YAR_THREADPOOL_ROUTINE routine) : m_routine(routine) {
        for (int i = 0; i < workers; ++i)
            m_workers.emplace_back([this] { Run(); });
    }
    ~PlainRunner() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        m_ready.notify_all();
        for (std::thread &t : m_workers)
            t.join();
    }
    bool Post(void *item) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_items.push_back(item);
        }
        m_ready.notify_one();
        return true;
    }

private:
    void Run() {
        for (;;) {
            void *item;
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_ready.wait(lock, [this] { return m_stop || !m_items.empty(); });
                if (m_items.empty())
                    return;
                item = m_items.front();
                m_items.pop_front();
            }
            m_routine(item);
        }
    }

    YAR_THREADPOOL_ROUTINE m_routine;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<void *> m_items;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

constexpr int kBatch = 4096;

void WaitDone(const Sink &sink, int64_t target) {
    while (sink.done.load(std::memory_order_acquire) < target)
        std::this_thread::yield();
}

// One poster hands batches of tiny items to the workers and waits for each batch to finish.
template <class Runner>
void Throughput(benchmark::State &state) {
    Sink sink;
    Runner runner(static_cast<int>(state.range(0)), TinyItem);
    int64_t posted = 0;
    for (int i = 0; i < kBatch; ++i)  // warm-up: the flexible pool starts its workers here
        posted += runner.Post(&sink);
    WaitDone(sink, posted);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            posted += runner.Post(&sink);
        WaitDone(sink, posted);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Time from the post to the start of the item, with every worker asleep before the post. The mean
// is the benchmark's time; p50_ns, the median, is steadier on a shared machine.
template <class Runner>
void WakeLatency(benchmark::State &state) {
    Sink sink;
    Runner runner(static_cast<int>(state.range(0)), StampItem);
    int64_t posted = 0;
    std::vector<int64_t> samples;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let the workers block
        const int64_t before = Clock::now().time_since_epoch().count();
        posted += runner.Post(&sink);
        WaitDone(sink, posted);
        samples.push_back(sink.startedNs.load() - before);
        state.SetIterationTime(static_cast<double>(samples.back()) * 1e-9);
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    state.counters["p50_ns"] = static_cast<double>(samples[samples.size() / 2]);
}

}  // namespace

BENCHMARK_TEMPLATE(Throughput, FlexRunner)->Arg(1)->Arg(4)->Arg(16)->UseRealTime();
BENCHMARK_TEMPLATE(Throughput, PlainRunner)->Arg(1)->Arg(4)->Arg(16)->UseRealTime();
BENCHMARK_TEMPLATE(WakeLatency, FlexRunner)->Arg(1)->Arg(4)->UseManualTime()->Iterations(2000);
BENCHMARK_TEMPLATE(WakeLatency, PlainRunner)->Arg(1)->Arg(4)->UseManualTime()->Iterations(2000);

BENCHMARK_MAIN();
