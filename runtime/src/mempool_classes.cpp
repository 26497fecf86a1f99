// Size-class allocator: five block pools under one byte limit and one lock.
#include <map>

#include "yar/yar_mempool.h"
#include "yar/yar_mutex.h"

namespace {

struct SizeClass {
    uint32_t largestRequest;
    uint32_t blockSize;
};

constexpr SizeClass kClasses[] = {
    {500, 0x800}, {5120, 0x5000}, {51200, 0x32000}, {512000, 0x200000}, {0xA00000, 0xA00000},
};
constexpr int kClassCount = sizeof kClasses / sizeof kClasses[0];
constexpr int64_t kReleaseIntervalMs = 60000;

YAR_MUTEX_T g_lock = YAR_MUTEX_INITIALIZER;
// Guarded by g_lock.
uint32_t g_limit = 0;
YAR_MemoryPoolEx *g_pools[kClassCount] = {};
bool g_created = false;
std::map<void *, YAR_MemoryPoolEx *> g_blocks;

template <uint64_t (*Measure)(YAR_MemoryPoolEx *)>
uint64_t Sum() {
    uint64_t sum = 0;
    if (g_created)
        for (YAR_MemoryPoolEx *pool : g_pools)
            sum += Measure(pool);
    return sum;
}

}  // namespace

extern "C" {

int32_t YAR_MemPool_SelectClass(uint32_t size, YAR_MemoryPoolEx **pool, uint32_t *blockSize) {
    for (int i = 0; i < kClassCount; ++i) {
        if (size > kClasses[i].largestRequest)
            continue;
        if (pool)
            *pool = g_pools[i];
        if (blockSize)
            *blockSize = kClasses[i].blockSize;
        return i;
    }
    return -1;
}

int32_t YAR_MemPool_Init(uint32_t byteLimit) {
    yar::yar_guard lock(&g_lock);
    g_limit = byteLimit > YAR_MEMPOOL_MAX_LIMIT ? YAR_MEMPOOL_MAX_LIMIT : byteLimit;
    bool all = true;
    for (int i = 0; i < kClassCount; ++i) {
        const uint32_t size = kClasses[i].blockSize;
        if (!g_pools[i])
            g_pools[i] = YAR_MemoryPoolEx_Create(1, g_limit / size, kReleaseIntervalMs, 0,
                                                 static_cast<int32_t>(size));
        all = all && g_pools[i];
    }
    g_created = all;
    return all ? 1 : 0;
}

int32_t YAR_MemPool_Create(uint32_t byteLimit) {
    return YAR_MemPool_Init(byteLimit) ? 0 : -1;
}

int32_t YAR_MemPool_TryInit(uint32_t byteLimit) {
    return YAR_MemPool_Init(byteLimit);
}

void YAR_MemPool_Fini(void) {
    yar::yar_guard lock(&g_lock);
    for (YAR_MemoryPoolEx *&pool : g_pools) {
        YAR_MemoryPoolEx_Destroy(pool);
        pool = nullptr;
    }
    g_created = false;
    // Their pools are gone: a later free of these blocks must find nothing.
    g_blocks.clear();
}

int32_t YAR_MemPool_Destroy(void) {
    YAR_MemPool_Fini();
    return 0;
}

void *YAR_MemPool_Alloc(uint32_t size) {
    yar::yar_guard lock(&g_lock);
    YAR_MemoryPoolEx *pool = nullptr;
    uint32_t blockSize = 0;
    if (YAR_MemPool_SelectClass(size, &pool, &blockSize) < 0 || !g_created)
        return nullptr;
    // A whole block is taken, so the test against growth and the limit is on the block size.
    const bool noGrowth = YAR_MemoryPoolEx_GetFreeBytes(pool) >= blockSize;
    if (!noGrowth && YAR_MemPool_GetTotalSize_Local() + blockSize > g_limit)
        return nullptr;
    void *block = YAR_MemoryPoolEx_Alloc(pool, static_cast<int32_t>(blockSize));
    if (!block)
        return nullptr;
    try {
        g_blocks.emplace(block, pool);
    } catch (...) {
        YAR_MemoryPoolEx_Free(pool, block);
        return nullptr;
    }
    return block;
}

void YAR_MemPool_Free(void *block) {
    yar::yar_guard lock(&g_lock);
    auto found = g_blocks.find(block);
    if (found == g_blocks.end())
        return;
    YAR_MemoryPoolEx_Free(found->second, block);
    g_blocks.erase(found);
}

uint64_t YAR_MemPool_GetTotalSize_Local(void) {
    return Sum<YAR_MemoryPoolEx_GetTotalBytes>();
}

uint64_t YAR_MemPool_GetFreeSize_Local(void) {
    return Sum<YAR_MemoryPoolEx_GetFreeBytes>();
}

uint64_t YAR_MemPool_GetTotalSize(void) {
    yar::yar_guard lock(&g_lock);
    return YAR_MemPool_GetTotalSize_Local();
}

uint64_t YAR_MemPool_GetFreeSize(void) {
    yar::yar_guard lock(&g_lock);
    return YAR_MemPool_GetFreeSize_Local();
}

}  // extern "C"
