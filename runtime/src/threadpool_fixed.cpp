// The fixed thread pools: a process-wide table of pools, each thread with its own semaphore and a
// slot for one work item. Threads never retire; they live until their pool is destroyed.
//
// An item handed to a slot always runs: a thread runs the item it was given before it looks at
// its quit flag, and posters check the destroying flag under the pool lock, so no item is accepted
// once the threads are being stopped. The pool lock is deleted only after every poster has left.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "internal/debug_output.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"
#include "yar/yar_trace.h"

namespace {

constexpr uint32_t kDefaultStack = 0x100000;
constexpr auto kFullPoolPoll = std::chrono::milliseconds(5);

struct ThreadSlot {
    int32_t index;
    YAR_THREADPOOL_S *pool;
    std::atomic<int32_t> idle;
    std::atomic<int32_t> quit;
    YAR_HANDLE thread;
    YAR_SEM_T sem;
    YAR_THREADPOOL_ROUTINE routine;
    void *arg;
    YAR_TRACE_INFO_T trace;
};

void Report(const char *text) {
    yar::internal::DebugOutput(text);
}

}  // namespace

struct YAR_THREADPOOL_S {
    std::atomic<int32_t> inUse;
    std::atomic<int32_t> destroying;
    uint32_t maxCount;
    uint32_t initCount;
    int32_t currCount;
    uint32_t stackSize;
    int32_t idleTimeout;
    YAR_MUTEX_T lock;
    // Threads inside YAR_ThreadPool_WorkEx; the pool lock outlives them.
    std::atomic<int32_t> posters;
    ThreadSlot slots[MAX_THREAD_PER_THREADPOOL];
};

namespace {

using Pool = YAR_THREADPOOL_S;

Pool g_pools[MAX_THREADPOOL_COUNT];
YAR_MUTEX_T g_tableLock;

// The pool whose thread the calling thread is, to refuse a destroy that would wait for itself.
thread_local const Pool *t_threadOf = nullptr;

void ResetSlot(ThreadSlot *slot) {
    slot->index = 0;
    slot->pool = nullptr;
    slot->idle.store(0);
    slot->quit.store(0);
    slot->thread = nullptr;
    slot->sem = YAR_SEM_T{};
    slot->routine = nullptr;
    slot->arg = nullptr;
    std::memset(&slot->trace, 0, sizeof slot->trace);
}

Pool *YAR_GetIdleThreadPool_Local() {
    yar::yar_guard guard(&g_tableLock);
    for (Pool &pool : g_pools) {
        if (pool.inUse.load() == 0) {
            pool.inUse.store(1);
            return &pool;
        }
    }
    return nullptr;
}

void ReleaseRecord(Pool *pool) {
    yar::yar_guard guard(&g_tableLock);
    pool->inUse.store(0);
}

void YAR_SetIdle_Local(ThreadSlot *slot) {
    yar::yar_guard guard(&slot->pool->lock);
    // A slot told to quit stays reserved, so no poster can hand it an item it would never run.
    if (slot->quit.load() == 0)
        slot->idle.store(1);
}

uint32_t f_Thread_Svc(void *param) {
    auto *slot = static_cast<ThreadSlot *>(param);
    if (!slot) {
        Report("f_Thread_Svc pParam == NULL error, return NULL 1\n");
        return 0;
    }
    t_threadOf = slot->pool;
    for (;;) {
        if (YAR_SemWait(&slot->sem) != 0)
            continue;
        if (slot->routine) {
            YAR_SetThreadTraceInfo(&slot->trace);  // an all-zero record keeps the current context
            slot->routine(slot->arg);
            slot->routine = nullptr;
            slot->arg = nullptr;
        }
        if (slot->quit.load() != 0)
            break;
        YAR_SetIdle_Local(slot);
    }
    t_threadOf = nullptr;
    YAR_ClearThreadTraceInfo();
    return 0;
}

// Called with the pool lock held.
int32_t YAR_CreateThread_Local(Pool *pool) {
    if (static_cast<uint32_t>(pool->currCount) == pool->maxCount) {
        Report("YAR_CreateThread_Local (pThreadPool->nCurrCount == pThreadPool->nMaxCount) error, return -1, 1\n");
        return -1;
    }
    ThreadSlot *slot = nullptr;
    for (uint32_t i = 0; i < pool->maxCount && !slot; ++i)
        if (!pool->slots[i].thread)
            slot = &pool->slots[i];
    if (!slot)
        return -1;
    slot->routine = nullptr;
    if (YAR_SemCreate(&slot->sem, 0) != 0) {
        Report("YAR_CreateThread_Local YAR_SemCreate error, return -1 2\n");
        return -1;
    }
    slot->quit.store(0);
    slot->pool = pool;
    slot->index = static_cast<int32_t>(slot - pool->slots);
    uint32_t stack = pool->stackSize ? pool->stackSize : kDefaultStack;
    YAR_HANDLE thread = YAR_Thread_Create(f_Thread_Svc, slot, stack, 0, 0, 0);
    if (!thread) {
        Report("YAR_CreateThread_Local YAR_Thread_Create error, return -1 3\n");
        YAR_SemDestroy(&slot->sem);
        ResetSlot(slot);
        return -1;
    }
    slot->thread = thread;
    slot->idle.store(1);
    ++pool->currCount;
    return 0;
}

// Called with the pool lock held.
ThreadSlot *YAR_GetIdle_Local(Pool *pool) {
    for (uint32_t i = 0; i < pool->maxCount; ++i) {
        ThreadSlot *slot = &pool->slots[i];
        if (slot->thread && slot->idle.load() == 1) {
            slot->idle.store(0);
            return slot;
        }
    }
    return nullptr;
}

void HandOver(ThreadSlot *slot, YAR_THREADPOOL_ROUTINE routine, void *arg) {
    slot->routine = routine;
    slot->arg = arg;
    YAR_GetThreadTraceInfo(&slot->trace);
    YAR_SemPost(&slot->sem);
}

// Stops the first live thread once it has finished its item; -1 when none is left.
int32_t YAR_DestroyThread_Local(Pool *pool) {
    ThreadSlot *slot = nullptr;
    {
        yar::yar_guard guard(&pool->lock);
        for (uint32_t i = 0; i < pool->maxCount && !slot; ++i)
            if (pool->slots[i].thread)
                slot = &pool->slots[i];
        if (!slot)
            return -1;
        slot->idle.store(0);
        slot->quit.store(1);
        YAR_SemPost(&slot->sem);
    }
    YAR_Thread_Wait(slot->thread);
    yar::yar_guard guard(&pool->lock);
    YAR_SemDestroy(&slot->sem);
    ResetSlot(slot);
    --pool->currCount;
    return 0;
}

int32_t YAR_InitThread_Local(Pool *pool) {
    if (!pool) {
        Report("YAR_InitThread_Local pThreadPool == NULL error, return -1 1\n");
        return -1;
    }
    if (YAR_MutexCreate(&pool->lock, 0) != 0)
        return -1;
    {
        yar::yar_guard guard(&pool->lock);
        uint32_t started = 0;
        while (started < pool->initCount && YAR_CreateThread_Local(pool) == 0)
            ++started;
        if (started == pool->initCount)
            return 0;
        Report("YAR_InitThread_Local YAR_CreateThread_Local error, return -1 2\n");
    }
    while (YAR_DestroyThread_Local(pool) == 0) {
    }
    YAR_MutexDestroy(&pool->lock);
    return -1;
}

// 1 when the item was handed to a thread, 0 when the pool is full, -1 on failure.
int32_t TryHandOver(Pool *pool, YAR_THREADPOOL_ROUTINE routine, void *arg) {
    yar::yar_guard guard(&pool->lock);
    if (pool->destroying.load() != 0)
        return -1;
    ThreadSlot *slot = YAR_GetIdle_Local(pool);
    if (!slot) {
        if (static_cast<uint32_t>(pool->currCount) >= pool->maxCount)
            return 0;
        if (YAR_CreateThread_Local(pool) != 0 || !(slot = YAR_GetIdle_Local(pool)))
            return -1;
    }
    HandOver(slot, routine, arg);
    return 1;
}

}  // namespace

int32_t YAR_ThreadPool_InitModule(void) {
    // Records of pools that outlived a previous stop are kept: their threads still use them.
    for (Pool &pool : g_pools) {
        if (pool.inUse.load() == 0)
            pool.destroying.store(0);
    }
    return YAR_MutexCreate(&g_tableLock, 0) == 0 ? 0 : -1;
}

void YAR_ThreadPool_FiniModule(void) {
    YAR_MutexDestroy(&g_tableLock);
}

YAR_THREADPOOL_T *YAR_ThreadPool_CreateEx(uint32_t nInitCount, uint32_t nMaxCount, uint32_t nStackSize) {
    if (nMaxCount > MAX_THREAD_PER_THREADPOOL) {
        Report("YAR_ThreadPool_Create nMaxCount > MAX_THREAD_PER_THREADPOOL error, return -1 1\n");
        return nullptr;
    }
    Pool *pool = YAR_GetIdleThreadPool_Local();
    if (!pool) {
        Report("YAR_ThreadPool_Create YAR_GetIdleThreadPool_Local error, return -1 2\n");
        return nullptr;
    }
    pool->initCount = nInitCount;
    pool->maxCount = nMaxCount;
    pool->currCount = 0;
    pool->stackSize = nStackSize;
    pool->idleTimeout = -1;
    pool->posters.store(0);
    for (uint32_t i = 0; i < nMaxCount; ++i)
        ResetSlot(&pool->slots[i]);
    if (YAR_InitThread_Local(pool) != 0) {
        Report("YAR_ThreadPool_Create YAR_InitThread_Local error, return -1 3\n");
        ReleaseRecord(pool);
        return nullptr;
    }
    pool->destroying.store(0);
    return pool;
}

YAR_THREADPOOL_T *YAR_ThreadPool_Create(uint32_t nInitCount, uint32_t nMaxCount) {
    return YAR_ThreadPool_CreateEx(nInitCount, nMaxCount, 0);
}

int32_t YAR_ThreadPool_Destroy(YAR_THREADPOOL_T *pThreadPool) {
    if (!pThreadPool) {
        Report("YAR_ThreadPool_Destroy pThreadPool == NULL return\n");
        return -1;
    }
    if (t_threadOf == pThreadPool) {
        Report("YAR_ThreadPool_Destroy called from a thread of the same pool, refused, return -1\n");
        return -1;
    }
    {
        yar::yar_guard guard(&g_tableLock);
        if (pThreadPool->inUse.load() == 0 || pThreadPool->destroying.exchange(1) != 0) {
            Report("YAR_ThreadPool_Destroy pThreadPool not in use or already being destroyed, return -1\n");
            return -1;
        }
    }
    while (YAR_DestroyThread_Local(pThreadPool) == 0) {
    }
    while (pThreadPool->posters.load() != 0)
        std::this_thread::yield();
    YAR_MutexDestroy(&pThreadPool->lock);
    ReleaseRecord(pThreadPool);
    return 0;
}

int32_t YAR_ThreadPool_WorkEx(YAR_THREADPOOL_T *pThreadPool, YAR_THREADPOOL_ROUTINE fnRoutine, void *pArg,
                              int32_t bWait) {
    if (!pThreadPool || !fnRoutine) {
        Report("YAR_ThreadPool_Work param error, return -1 1\n");
        return -1;
    }
    pThreadPool->posters.fetch_add(1);
    int32_t rc = -1;
    // The unlocked test keeps a destroyed pool's lock untouched; the locked one in TryHandOver
    // keeps a destroying pool from accepting items.
    while (pThreadPool->destroying.load() == 0 && (rc = TryHandOver(pThreadPool, fnRoutine, pArg)) == 0 && bWait)
        std::this_thread::sleep_for(kFullPoolPoll);
    pThreadPool->posters.fetch_sub(1);
    return rc == 1 ? 0 : -1;
}

int32_t YAR_ThreadPool_Work(YAR_THREADPOOL_T *pThreadPool, YAR_THREADPOOL_ROUTINE fnRoutine, void *pArg) {
    return YAR_ThreadPool_WorkEx(pThreadPool, fnRoutine, pArg, 0);
}

int32_t yar::yar_threadpool::Create(uint32_t nInitCount, uint32_t nMaxCount) {
    m_pool = YAR_ThreadPool_Create(nInitCount, nMaxCount);
    return m_pool ? 0 : -1;
}

int32_t yar::yar_threadpool::Destroy() {
    int32_t rc = YAR_ThreadPool_Destroy(m_pool);
    if (rc == 0)
        m_pool = nullptr;
    return rc;
}

int32_t yar::yar_threadpool::Work(YAR_THREADPOOL_ROUTINE fnRoutine, void *pArg) {
    return YAR_ThreadPool_WorkEx(m_pool, fnRoutine, pArg, 0);
}
