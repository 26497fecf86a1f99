// Start and stop of the core library foundation: Morva_Init + Morva_Fini wall time, and the
// resident memory of the process while the library is initialised.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "morva/ComInterfaceMorva.h"

namespace {

// Resident set size in KiB, from /proc/self/status.
long ResidentKiB() {
    FILE *f = std::fopen("/proc/self/status", "r");
    long kib = -1;
    char line[256];
    while (f && std::fgets(line, sizeof(line), f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::atol(line + 6);
    }
    if (f)
        std::fclose(f);
    return kib;
}

// Resident memory after Init, against the process before it. Registered first, so that the
// first Init of the process is measured; the repeated form shows the steady state of a host
// that starts and stops the library again and again.
void ResidentAfterInit(benchmark::State &state) {
    long before = ResidentKiB();
    long after = 0;
    for (auto _ : state) {
        Morva_Init();
        after = ResidentKiB();
        state.PauseTiming();
        Morva_Fini();
        state.ResumeTiming();
    }
    state.counters["rss_before_MiB"] = before / 1024.0;
    state.counters["rss_init_MiB"] = after / 1024.0;
}
BENCHMARK(ResidentAfterInit)->Name("ResidentAfterFirstInit")->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_InitFini(benchmark::State &state) {
    for (auto _ : state) {
        if (!Morva_Init() || !Morva_Fini())
            state.SkipWithError("Morva_Init / Morva_Fini failed");
    }
}
BENCHMARK(BM_InitFini)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(ResidentAfterInit)->Name("ResidentAfterRepeatedInit")->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
