// Core library pools beside glibc malloc/free, and the slot reader/writer lock beside
// pthread_rwlock_t, in the same run.
//
// Alloc/free pairs: the live units (1k, 10k, 80k in all, split over the threads) are kept
// allocated; each iteration frees one of them, chosen by a fixed pseudo-random sequence, and
// allocates its replacement. 64-byte requests.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <cstdlib>
#include <vector>

#include "Module/Member/RWLock.h"
#include "Module/Memory/MemoryMgr.h"

using namespace Vorezi;

namespace {

constexpr DWORD kRequest = 64;
constexpr int kMaxThreads = 8;

CMemoryMgr &Manager() {
    static CMemoryMgr s_mgr;
    return s_mgr;
}

// One pool shared by every thread, and one pool per thread.
int SharedPool() {
    static int s_iPool = Manager().CreateMemoryPool(kRequest, 64, 100000, 0, 0);
    return s_iPool;
}

int ThreadPool(int iThread) {
    static std::vector<int> s_Pools = [] {
        std::vector<int> pools;
        for (int i = 0; i < kMaxThreads; i++)
            pools.push_back(Manager().CreateMemoryPool(kRequest, 64, 100000, 0, 0));
        return pools;
    }();
    return s_Pools[iThread];
}

std::vector<uint32_t> Sequence(size_t uLive, int iSeed) {
    std::vector<uint32_t> seq(4096);
    uint32_t x = 2463534242u + (uint32_t)iSeed;
    for (uint32_t &v : seq) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = x % uLive;
    }
    return seq;
}

template <typename Alloc, typename Free>
void RunPairs(benchmark::State &state, Alloc fnAlloc, Free fnFree) {
    size_t uLive = (size_t)state.range(0) / (size_t)state.threads();
    std::vector<void *> live(uLive);
    for (void *&p : live)
        p = fnAlloc();
    std::vector<uint32_t> seq = Sequence(uLive, state.thread_index());
    size_t i = 0;
    for (auto _ : state) {
        void *&slot = live[seq[i++ & 4095]];
        fnFree(slot);
        slot = fnAlloc();
        benchmark::DoNotOptimize(slot);
    }
    for (void *p : live)
        fnFree(p);
    state.SetItemsProcessed(state.iterations());
}

void BM_PoolShared(benchmark::State &state) {
    int iPool = SharedPool();
    RunPairs(state, [iPool] { return Manager().NewMemory(kRequest, iPool); },
             [](void *p) { Manager().DelMemory(p); });
}

void BM_PoolPerThread(benchmark::State &state) {
    int iPool = ThreadPool(state.thread_index());
    RunPairs(state, [iPool] { return Manager().NewMemory(kRequest, iPool); },
             [](void *p) { Manager().DelMemory(p); });
}

void BM_Malloc(benchmark::State &state) {
    RunPairs(state, [] { return malloc(kRequest); }, [](void *p) { free(p); });
}

void LiveArgs(benchmark::internal::Benchmark *b) {
    for (int iLive : {1000, 10000, 80000})
        b->Arg(iLive);
    b->Threads(1)->Threads(8)->UseRealTime();
}

BENCHMARK(BM_PoolShared)->Apply(LiveArgs);
BENCHMARK(BM_PoolPerThread)->Apply(LiveArgs);
BENCHMARK(BM_Malloc)->Apply(LiveArgs);

// Read-lock acquisitions on one lock from 1 to 8 threads.
void BM_CRWLockRead(benchmark::State &state) {
    static CRWLock s_lock;
    for (auto _ : state) {
        s_lock.ReadLock();
        s_lock.ReadUnlock();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PthreadRWLockRead(benchmark::State &state) {
    static pthread_rwlock_t s_lock = PTHREAD_RWLOCK_INITIALIZER;
    for (auto _ : state) {
        pthread_rwlock_rdlock(&s_lock);
        pthread_rwlock_unlock(&s_lock);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_CRWLockRead)->ThreadRange(1, 8)->UseRealTime();
BENCHMARK(BM_PthreadRWLockRead)->ThreadRange(1, 8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
