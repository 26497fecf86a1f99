// Log lines per second and per-call latency of the core log service, from 1, 4 and 8 threads
// writing 256-byte lines to rotating 2 MiB files, beside spdlog's asynchronous rotating-file
// logger in the same run. Throughput counts lines that reached the files (time until drained).
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "Module/Log/LogZip.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLinesPerRun = 200000;
constexpr size_t kLineBytes = 256;
constexpr size_t kPrefixBytes = 31 + 2;  // time and level prefix, line end

const std::string &Message() {
    static const std::string msg(kLineBytes - kPrefixBytes, 'm');
    return msg;
}

struct Totals {
    double seconds = 0;
    uint64_t written = 0;
    uint64_t dropped = 0;
    std::vector<uint32_t> latencyNs;
};

std::string MakeDir() {
    char tmpl[] = "/tmp/morva_log_bench_XXXXXX";
    return mkdtemp(tmpl);
}

void RemoveDir(const std::string &dir) {
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir.c_str());
}

// Runs `threads` producers that call log() kLinesPerRun times in all, as fast as they can or at
// `rate` lines per second in all; returns their latencies.
template <typename LogFn>
std::vector<uint32_t> Produce(int threads, LogFn log, double rate = 0) {
    std::vector<std::vector<uint32_t>> perThread(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([&, t] {
            std::vector<uint32_t> &lat = perThread[t];
            lat.reserve(kLinesPerRun / threads);
            const auto begin = Clock::now();
            const double interval = rate > 0 ? threads / rate : 0;
            for (int i = 0; i < kLinesPerRun / threads; i++) {
                if (interval > 0 && i % 32 == 0)
                    std::this_thread::sleep_until(begin + std::chrono::duration_cast<Clock::duration>(
                                                              std::chrono::duration<double>(i * interval)));
                auto t0 = Clock::now();
                log();
                lat.push_back((uint32_t)std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
            }
        });
    }
    for (auto &w : workers)
        w.join();
    std::vector<uint32_t> all;
    for (auto &v : perThread)
        all.insert(all.end(), v.begin(), v.end());
    return all;
}

void Report(benchmark::State &state, Totals &totals) {
    auto &lat = totals.latencyNs;
    std::nth_element(lat.begin(), lat.begin() + lat.size() * 99 / 100, lat.end());
    state.counters["lines_per_s"] = totals.written / totals.seconds;
    state.counters["p99_ns"] = lat.empty() ? 0 : lat[lat.size() * 99 / 100];
    state.counters["dropped"] = (double)totals.dropped;
}

void BM_MorvaLog(benchmark::State &state) {
    const int threads = (int)state.range(0);
    const double rate = (double)state.range(1);
    Vorezi::CLogZip::SetLibraryName("libmorva-bench-no-minizip.so");  // plain rotation, like the peer
    Vorezi::CCoreGlobalCtrlBase *pCtrl = Vorezi::GetCoreGlobalCtrl();
    Totals totals;
    for (auto _ : state) {
        std::string dir = MakeDir() + "/";
        pCtrl->Init();
        Vorezi::CLogService *pLog = pCtrl->GetLogService();
        Vorezi::LogModule_SetLogFile(pLog, Vorezi::LOG_LEVEL_INF, dir.c_str(), Vorezi::LOG_MODE_COVER, 2);
        uint64_t dropped0 = pLog->GetDroppedLines();
        auto start = Clock::now();
        std::vector<uint32_t> lat = Produce(threads, [] { Vorezi::LogModule_Write(Vorezi::LOG_LEVEL_INF, "%s", Message().c_str()); }, rate);
        pLog->WaitDrained();
        double secs = std::chrono::duration<double>(Clock::now() - start).count();
        uint64_t dropped = pLog->GetDroppedLines() - dropped0;
        pCtrl->Fini();
        RemoveDir(dir);
        state.SetIterationTime(secs);
        totals.seconds += secs;
        totals.dropped += dropped;
        totals.written += kLinesPerRun / threads * threads - dropped;
        totals.latencyNs.insert(totals.latencyNs.end(), lat.begin(), lat.end());
    }
    Report(state, totals);
}

void BM_SpdlogAsync(benchmark::State &state) {
    const int threads = (int)state.range(0);
    const double rate = (double)state.range(1);
    Totals totals;
    for (auto _ : state) {
        std::string dir = MakeDir() + "/";
        auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(dir + "spd.log", 0x200000, 10);
        auto logger = std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);
        logger->set_pattern("[%Y-%m-%d %H:%M:%S.%e][%l] %v");
        auto start = Clock::now();
        std::vector<uint32_t> lat = Produce(threads, [&] { logger->info("{}", Message()); }, rate);
        logger.reset();
        pool.reset();  // joins the worker once the queue is empty
        double secs = std::chrono::duration<double>(Clock::now() - start).count();
        sink.reset();
        RemoveDir(dir);
        state.SetIterationTime(secs);
        totals.seconds += secs;
        totals.written += kLinesPerRun / threads * threads;
        totals.latencyNs.insert(totals.latencyNs.end(), lat.begin(), lat.end());
    }
    Report(state, totals);
}

}  // namespace

// Arguments: producer threads, offered lines per second in all (0: as fast as possible). The
// paced runs stay below the queue limit and must drop nothing.
void Args(benchmark::internal::Benchmark *b) {
    for (int rate : {0, 500000})
        for (int threads : {1, 4, 8})
            b->Args({threads, rate});
    b->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_MorvaLog)->Apply(Args);
BENCHMARK(BM_SpdlogAsync)->Apply(Args);

BENCHMARK_MAIN();
