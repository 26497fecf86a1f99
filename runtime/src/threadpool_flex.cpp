// The flexible thread pool: one routine over a queue of items, workers started on demand up to a
// maximum and retired after an idle time-out.
//
// A worker decides to retire under the pool lock, together with lowering the worker count, so a
// poster that finds no idle worker always sees an exact count and starts a new one: an item is
// never stranded in the queue of a pool whose last worker is just leaving.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "internal/debug_output.h"
#include "internal/threadpool_flex.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"
#include "yar/yar_trace.h"

namespace {

constexpr int32_t kDefaultStack = 0x100000;
constexpr int32_t kMinStack = 0x10000;
// Spent items kept for reuse; beyond this they go back to the allocator, so a burst does not pin
// its memory.
constexpr int32_t kSpareItems = 1024;
constexpr auto kDrainPoll = std::chrono::milliseconds(5);

enum : int32_t { kRunning = 0, kDraining = 1, kStopping = 2 };

struct FlexItem {
    FlexItem *next;
    void *work;
    YAR_TRACE_INFO_T trace;
};

bool HasTrace(const YAR_TRACE_INFO_T &trace) {
    return trace.szTrace1[0] != '\0' || trace.szTrace2[0] != '\0';
}

// FIFO of queued items, with a cache of spent ones so that a steady post-and-run cycle does not go
// through the allocator. Guarded by the pool lock.
class FlexQueue {
public:
    FlexQueue() = default;
    FlexQueue(const FlexQueue &) = delete;
    FlexQueue &operator=(const FlexQueue &) = delete;
    ~FlexQueue() {
        FreeList(m_head);
        FreeList(m_spare);
    }

    int32_t Count() const { return m_count; }

    FlexItem *NewItem() {
        FlexItem *item = m_spare;
        if (item) {
            m_spare = item->next;
            --m_spareCount;
        } else {
            item = new (std::nothrow) FlexItem;
            if (!item)
                return nullptr;
        }
        item->next = nullptr;
        return item;
    }

    void Push(FlexItem *item) {
        if (m_tail)
            m_tail->next = item;
        else
            m_head = item;
        m_tail = item;
        ++m_count;
    }

    FlexItem *Pop() {
        FlexItem *item = m_head;
        if (!item)
            return nullptr;
        m_head = item->next;
        if (!m_head)
            m_tail = nullptr;
        --m_count;
        return item;
    }

    void Recycle(FlexItem *item) {
        if (m_spareCount >= kSpareItems) {
            delete item;
            return;
        }
        item->next = m_spare;
        m_spare = item;
        ++m_spareCount;
    }

private:
    static void FreeList(FlexItem *item) {
        while (item) {
            FlexItem *next = item->next;
            delete item;
            item = next;
        }
    }

    FlexItem *m_head = nullptr;
    FlexItem *m_tail = nullptr;
    int32_t m_count = 0;
    FlexItem *m_spare = nullptr;
    int32_t m_spareCount = 0;
};

// The pool whose worker the calling thread is, to refuse a destroy that would wait for itself.
thread_local const YAR_THREADPOOLFLEX_T *t_workerOf = nullptr;

}  // namespace

struct YAR_THREADPOOLFLEX_S {
    int32_t stackSize = kDefaultStack;
    std::atomic<int32_t> state{kRunning};
    int32_t maxThreads = 1;
    std::atomic<int32_t> currThreads{0};
    std::atomic<int32_t> idleThreads{0};
    int32_t idleTimeout = -1;
    YAR_THREADPOOL_ROUTINE routine = nullptr;
    YAR_SEM_T exitSem{};
    YAR_SEM_T workSem{};
    YAR_MUTEX_T lock{};
    FlexQueue queue;
    // Posters inside YAR_ThreadPoolFlex_Work and workers not yet gone: the record is freed only
    // when this is 0, since a thread still returning from a lock or semaphore call touches it.
    std::atomic<int32_t> attached{0};
};

namespace {

using Pool = YAR_THREADPOOLFLEX_S;

// Called with the pool lock held, after the item was queued.
bool NeedsWorker(const Pool *pool) {
    return pool->idleThreads.load() < pool->queue.Count() &&
           pool->currThreads.load() < pool->maxThreads;
}

// Counts the worker before its thread runs: a worker that starts and retires at once must never
// take the count below what the poster saw.
bool StartWorker(Pool *pool) {
    pool->currThreads.fetch_add(1);
    pool->attached.fetch_add(1);
    if (YAR_ThreadDetached_Create(pool, static_cast<uint32_t>(pool->stackSize)) == 1)
        return true;
    pool->attached.fetch_sub(1);
    pool->currThreads.fetch_sub(1);
    return false;
}

int32_t WaitForWork(Pool *pool) {
    pool->idleThreads.fetch_add(1);
    int32_t rc = pool->idleTimeout < 0 ? YAR_SemWait(&pool->workSem)
                                       : YAR_SemTimedWait(&pool->workSem, pool->idleTimeout);
    pool->idleThreads.fetch_sub(1);
    return rc;
}

enum class Next { Run, Loop, Retire };

// Takes the head item, or decides that the worker leaves: when the pool stops, or when the queue is
// empty after a failed wait. Leaving lowers the worker count in the same hold of the lock; *last
// tells whether the last worker of a stopping pool is leaving.
Next TakeItem(Pool *pool, bool waited, void **work, YAR_TRACE_INFO_T *trace, bool *last) {
    yar::yar_guard guard(&pool->lock);
    if (pool->state.load() != kStopping) {
        if (FlexItem *item = pool->queue.Pop()) {
            *work = item->work;
            *trace = item->trace;
            pool->queue.Recycle(item);
            return Next::Run;
        }
        if (waited)
            return Next::Loop;
    }
    *last = pool->currThreads.fetch_sub(1) == 1 && pool->state.load() == kStopping;
    return Next::Retire;
}

void RunWorker(Pool *pool) {
    bool last = false;
    for (;;) {
        bool waited = pool->state.load() != kStopping && WaitForWork(pool) == 0;
        void *work = nullptr;
        YAR_TRACE_INFO_T trace;
        Next next = TakeItem(pool, waited, &work, &trace, &last);
        if (next == Next::Retire)
            break;
        if (next == Next::Run) {
            // An all-empty record would be refused: the worker keeps its context.
            if (HasTrace(trace))
                YAR_SetThreadTraceInfo(&trace);
            pool->routine(work);
        }
    }
    if (last)
        YAR_SemPost(&pool->exitSem);
}

bool DrainQueue(Pool *pool, int32_t waitMs) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        {
            yar::yar_guard guard(&pool->lock);
            if (pool->queue.Count() == 0)
                return true;
        }
        if (waitMs > 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(waitMs))
            return false;
        std::this_thread::sleep_for(kDrainPoll);
    }
}

void StopWorkers(Pool *pool) {
    int32_t workers;
    {
        yar::yar_guard guard(&pool->lock);
        pool->state.store(kStopping);
        workers = pool->currThreads.load();
        for (int32_t i = 0; i < workers; ++i)
            YAR_SemPost(&pool->workSem);
    }
    if (workers > 0)
        YAR_SemWait(&pool->exitSem);
    while (pool->attached.load() != 0)
        std::this_thread::yield();
}

int32_t Enqueue(Pool *pool, void *work, const YAR_TRACE_INFO_T &trace) {
    yar::yar_guard guard(&pool->lock);
    if (pool->state.load() != kRunning || pool->queue.Count() >= YAR_THREADPOOLFLEX_MAX_QUEUED)
        return -1;
    FlexItem *item = pool->queue.NewItem();
    if (!item)
        return -1;
    item->work = work;
    item->trace = trace;
    pool->queue.Push(item);
    // Without any worker the item would never run: take it back and fail. With workers, one of
    // them takes it in turn.
    if (NeedsWorker(pool) && !StartWorker(pool) && pool->currThreads.load() == 0) {
        pool->queue.Recycle(pool->queue.Pop());
        return -1;
    }
    return 0;
}

void FreePool(Pool *pool) {
    int32_t dropped = pool->queue.Count();
    if (dropped > 0) {
        char text[96];
        std::snprintf(text, sizeof text, "YAR_ThreadPoolFlex_Destroy dropped %d queued items\n", dropped);
        yar::internal::DebugOutput(text);
    }
    YAR_SemDestroy(&pool->exitSem);
    YAR_SemDestroy(&pool->workSem);
    YAR_MutexDestroy(&pool->lock);
    delete pool;
}

}  // namespace

uint32_t yar::internal::ThreadPoolFlex_WorkRoutine(void *param) {
    auto *pool = static_cast<Pool *>(param);
    t_workerOf = pool;
    RunWorker(pool);
    pool->attached.fetch_sub(1);  // the last touch of the record (taken by StartWorker)
    t_workerOf = nullptr;
    YAR_ClearThreadTraceInfo();
    return 0;
}

YAR_THREADPOOLFLEX_T *YAR_ThreadPoolFlex_Create(int32_t nMaxThreads, int32_t nIdleTimeout,
                                                YAR_THREADPOOL_ROUTINE fnWorkRoutine,
                                                int32_t nStackSize) {
    if (nStackSize < 0 || nMaxThreads <= 0 || !fnWorkRoutine)
        return nullptr;
    Pool *pool = new (std::nothrow) Pool;
    if (!pool)
        return nullptr;
    pool->stackSize = nStackSize == 0 ? kDefaultStack : std::max(nStackSize, kMinStack);
    pool->maxThreads = nMaxThreads;
    pool->idleTimeout = nIdleTimeout;
    pool->routine = fnWorkRoutine;
    YAR_MutexCreate(&pool->lock, 0);
    YAR_SemCreate(&pool->exitSem, 0);
    YAR_SemCreate(&pool->workSem, 0);
    return pool;
}

int32_t YAR_ThreadPoolFlex_Work(YAR_THREADPOOLFLEX_T *hPool, void *pItem) {
    if (!hPool)
        return -1;
    YAR_TRACE_INFO_T trace;
    YAR_GetThreadTraceInfo(&trace);  // all zeros when the poster has no context
    hPool->attached.fetch_add(1);
    int32_t rc = Enqueue(hPool, pItem, trace);
    // Posted after the lock is left, so the woken worker does not block on it at once.
    if (rc == 0)
        YAR_SemPost(&hPool->workSem);
    hPool->attached.fetch_sub(1);
    return rc;
}

int32_t YAR_ThreadPoolFlex_DestroyEx(YAR_THREADPOOLFLEX_T *hPool, int32_t nWaitMs) {
    if (!hPool)
        return 0;
    if (t_workerOf == hPool) {
        yar::internal::DebugOutput(
            "YAR_ThreadPoolFlex_Destroy called from a worker of the same pool, refused, return -1\n");
        return -1;
    }
    {
        yar::yar_guard guard(&hPool->lock);
        if (hPool->state.load() != kRunning)
            return 0;
        hPool->state.store(kDraining);
    }
    if (nWaitMs > 0 || nWaitMs == -1)
        DrainQueue(hPool, nWaitMs);
    StopWorkers(hPool);
    FreePool(hPool);
    return 0;
}

int32_t YAR_ThreadPoolFlex_Destroy(YAR_THREADPOOLFLEX_T *hPool) {
    return YAR_ThreadPoolFlex_DestroyEx(hPool, 0);
}

int32_t YAR_ThreadPoolFlex_GetWorkCount(YAR_THREADPOOLFLEX_T *hPool) {
    if (!hPool)
        return -1;
    yar::yar_guard guard(&hPool->lock);
    return hPool->state.load() == kRunning ? hPool->queue.Count() : -1;
}
