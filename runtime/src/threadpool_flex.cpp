// The flexible thread pool: one routine over a queue of items, workers started on demand up to a
// maximum and retired after an idle time-out.
//
// Everything a worker decides (take an item, wait, retire) it decides under the pool lock, so a
// poster always sees exact counts and no item is stranded in a queue whose workers all wait or
// leave. Workers drain the queue before they wait, and a post wakes a worker only when one waits
// that no earlier post woke ("tickets"): a busy pool runs items without any wake-up traffic. The
// wake-up itself is posted after the lock is left, on a semaphore that takes no lock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "internal/debug_output.h"
#include "internal/monotonic_wait.h"
#include "internal/threadpool_flex.h"
#include "internal/wake_sem.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"
#include "yar/yar_threadpool.h"
#include "yar/yar_trace.h"

namespace {

constexpr int32_t kDefaultStack = 0x100000;
constexpr int32_t kMinStack = 0x10000;
constexpr auto kDrainPoll = std::chrono::milliseconds(5);
constexpr size_t kFirstRing = 64;

enum : int32_t { kRunning = 0, kDraining = 1, kStopping = 2 };

// A queued item: the work pointer, and the poster's trace record when the poster had a context
// (heap, owned by the entry). Most posters have none, so the common entry is two words.
struct FlexEntry {
    void *work;
    YAR_TRACE_INFO_T *trace;
};

// FIFO of queued items in a ring that doubles when full: a post neither allocates nor touches
// memory that a worker wrote last, apart from the ring slot itself. Guarded by the pool lock.
class FlexQueue {
public:
    FlexQueue() = default;
    FlexQueue(const FlexQueue &) = delete;
    FlexQueue &operator=(const FlexQueue &) = delete;
    ~FlexQueue() {
        FlexEntry entry;
        while (Pop(&entry))
            delete entry.trace;
    }

    int32_t Count() const { return m_count; }

    bool Push(const FlexEntry &entry) {
        if (static_cast<size_t>(m_count) == m_ring.size() && !Grow())
            return false;
        m_ring[(m_head + static_cast<size_t>(m_count)) & (m_ring.size() - 1)] = entry;
        ++m_count;
        return true;
    }

    bool Pop(FlexEntry *entry) {
        if (m_count == 0)
            return false;
        *entry = m_ring[m_head];
        m_head = (m_head + 1) & (m_ring.size() - 1);
        --m_count;
        return true;
    }

private:
    bool Grow() {
        std::vector<FlexEntry> bigger;
        try {
            bigger.resize(m_ring.empty() ? kFirstRing : m_ring.size() * 2);
        } catch (const std::bad_alloc &) {
            return false;
        }
        for (int32_t i = 0; i < m_count; ++i)
            bigger[static_cast<size_t>(i)] = m_ring[(m_head + static_cast<size_t>(i)) & (m_ring.size() - 1)];
        m_ring.swap(bigger);
        m_head = 0;
        return true;
    }

    std::vector<FlexEntry> m_ring;  // size 0 or a power of two
    size_t m_head = 0;
    int32_t m_count = 0;
};

// The pool whose worker the calling thread is, to refuse a destroy that would wait for itself.
thread_local const YAR_THREADPOOLFLEX_T *t_workerOf = nullptr;

}  // namespace

struct YAR_THREADPOOLFLEX_S {
    int32_t stackSize = kDefaultStack;
    int32_t maxThreads = 1;
    // State and counts under the lock: workers, workers inside the wait, signals sent and not yet
    // taken by a waiter, and waiters not covered by one (sleepers = waiters - wakeTickets).
    int32_t state = kRunning;
    int32_t currThreads = 0;
    int32_t idleThreads = 0;
    int32_t wakeTickets = 0;
    int32_t sleepers = 0;
    int32_t idleTimeout = -1;
    YAR_THREADPOOL_ROUTINE routine = nullptr;
    YAR_SEM_T exitSem{};  // posted by the last worker to leave a stopping pool
    YAR_MUTEX_T lock{};
    yar::internal::WakeSem wake;  // one unit per ticket, and one per worker at shutdown
    FlexQueue queue;
    // Posters inside YAR_ThreadPoolFlex_Work and workers not yet gone: the record is freed only
    // when this is 0, as such a thread may still be returning from a lock or semaphore call.
    std::atomic<int32_t> attached{0};
};

namespace {

using Pool = YAR_THREADPOOLFLEX_S;

// Called with the pool lock held, as every helper down to RunWorker.
bool NeedsWorker(const Pool *pool) {
    return pool->idleThreads < pool->queue.Count() && pool->currThreads < pool->maxThreads;
}

bool StartWorker(Pool *pool) {
    ++pool->currThreads;
    pool->attached.fetch_add(1);
    if (YAR_ThreadDetached_Create(pool, static_cast<uint32_t>(pool->stackSize)) == 1)
        return true;
    pool->attached.fetch_sub(1);
    --pool->currThreads;
    return false;
}

// Waits for a post or the idle time-out; false after the time-out. The wait leaves the lock. A
// waiter that finds a ticket counts as woken, whichever waiter the unit reached; a unit without a
// ticket (its ticket went to a waiter that timed out) only makes its taker wait again.
bool Sleep(Pool *pool) {
    timespec deadline;
    const bool limited = pool->idleTimeout >= 0;
    if (limited)
        deadline = yar::internal::MonotonicDeadline(pool->idleTimeout);
    ++pool->idleThreads;
    ++pool->sleepers;
    bool woken;
    for (;;) {
        YAR_MutexUnlock(&pool->lock);
        bool got = pool->wake.Wait(limited ? &deadline : nullptr);
        YAR_MutexLock(&pool->lock);
        if (pool->wakeTickets > 0) {
            --pool->wakeTickets;
            woken = true;
            break;
        }
        if (!got || pool->state == kStopping) {
            --pool->sleepers;
            woken = got;
            break;
        }
    }
    --pool->idleThreads;
    return woken;
}

// Issues a ticket only for a waiter that no earlier ticket covers; true when a unit is due.
bool WakeOne(Pool *pool) {
    if (pool->sleepers == 0)
        return false;
    --pool->sleepers;
    ++pool->wakeTickets;
    return true;
}

// Runs items until the pool stops or an empty time-out passes. The lock is left while an item runs.
void Serve(Pool *pool) {
    bool timedOut = false;
    while (pool->state != kStopping) {
        FlexEntry entry;
        if (!pool->queue.Pop(&entry)) {
            if (timedOut)
                return;
            timedOut = !Sleep(pool);
            continue;
        }
        YAR_MutexUnlock(&pool->lock);
        // Without a record the worker keeps its context, as the registry refuses an empty one.
        if (entry.trace) {
            YAR_SetThreadTraceInfo(entry.trace);
            delete entry.trace;
        }
        pool->routine(entry.work);
        YAR_MutexLock(&pool->lock);
        timedOut = false;
    }
}

void RunWorker(Pool *pool) {
    bool last;
    {
        yar::yar_guard guard(&pool->lock);
        Serve(pool);
        last = --pool->currThreads == 0 && pool->state == kStopping;
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
        pool->state = kStopping;
        workers = pool->currThreads;
        for (int32_t i = 0; i < workers; ++i)
            pool->wake.Post();
    }
    if (workers > 0)
        YAR_SemWait(&pool->exitSem);
    while (pool->attached.load() != 0)
        std::this_thread::yield();
}

// Queues the entry; *wake tells whether a waiting worker should be signalled.
int32_t Enqueue(Pool *pool, const FlexEntry &entry, bool *wake) {
    yar::yar_guard guard(&pool->lock);
    if (pool->state != kRunning || pool->queue.Count() >= YAR_THREADPOOLFLEX_MAX_QUEUED ||
        !pool->queue.Push(entry))
        return -1;
    // Without any worker the item would never run: take it back and fail. With workers, one of
    // them takes it in turn.
    if (NeedsWorker(pool) && !StartWorker(pool) && pool->currThreads == 0) {
        FlexEntry unused;
        pool->queue.Pop(&unused);
        return -1;
    }
    *wake = WakeOne(pool);
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
    // A pool without its lock or exit semaphore would fail at its first use: refuse it now.
    if (YAR_MutexCreate(&pool->lock, 0) != 0) {
        delete pool;
        return nullptr;
    }
    if (YAR_SemCreate(&pool->exitSem, 0) != 0) {
        YAR_MutexDestroy(&pool->lock);
        delete pool;
        return nullptr;
    }
    return pool;
}

int32_t YAR_ThreadPoolFlex_Work(YAR_THREADPOOLFLEX_T *hPool, void *pItem) {
    if (!hPool)
        return -1;
    FlexEntry entry{pItem, nullptr};
    YAR_TRACE_INFO_T trace;
    if (YAR_GetThreadTraceInfo(&trace) == 0) {
        entry.trace = new (std::nothrow) YAR_TRACE_INFO_T(trace);
        if (!entry.trace)
            return -1;
    }
    hPool->attached.fetch_add(1);
    bool wake = false;
    int32_t rc = Enqueue(hPool, entry, &wake);
    if (wake)
        hPool->wake.Post();
    hPool->attached.fetch_sub(1);
    if (rc != 0)
        delete entry.trace;
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
        if (hPool->state != kRunning)
            return 0;
        hPool->state = kDraining;
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
    return hPool->state == kRunning ? hPool->queue.Count() : -1;
}
