/* Thread pools. The flexible pool runs one routine on a queue of items, starts workers on demand
 * and retires idle ones. The fixed pools live in a process-wide table; every thread has a slot for
 * one item and threads live until their pool is destroyed. Both carry the poster's trace context to
 * the work item. */
#ifndef YAR_THREADPOOL_H
#define YAR_THREADPOOL_H

#include "yar_base.h"

YAR_BEGIN_DECLS

/* Work routine of both pools; its result is ignored. */
typedef int32_t (*YAR_THREADPOOL_ROUTINE)(void *arg);

/* ---- Flexible pool ---- */

typedef struct YAR_THREADPOOLFLEX_S YAR_THREADPOOLFLEX_T;

enum { YAR_THREADPOOLFLEX_MAX_QUEUED = 65535 };

/* Stack size 0 gives 1 MiB, values below 64 KiB are raised to 64 KiB. An idle time-out of -1
 * keeps workers for ever. Null for a negative stack size, a maximum below 1, a null routine or
 * short memory. */
YAR_THREADPOOLFLEX_T *YAR_ThreadPoolFlex_Create(int32_t nMaxThreads, int32_t nIdleTimeout,
                                                YAR_THREADPOOL_ROUTINE fnWorkRoutine,
                                                int32_t nStackSize);
/* 0 when the item was queued; -1 for a null pool, a pool that is not running, a full queue, or
 * when no worker exists and none could be started. */
int32_t YAR_ThreadPoolFlex_Work(YAR_THREADPOOLFLEX_T *hPool, void *pItem);
/* Stops the pool and frees it; items still queued are not run. 0, or -1 when called from one of
 * the pool's own workers (the pool is then left running). */
int32_t YAR_ThreadPoolFlex_Destroy(YAR_THREADPOOLFLEX_T *hPool);
/* As YAR_ThreadPoolFlex_Destroy after waiting up to nWaitMs (-1: no limit) for the queue to
 * empty. */
int32_t YAR_ThreadPoolFlex_DestroyEx(YAR_THREADPOOLFLEX_T *hPool, int32_t nWaitMs);
/* Queued items not yet taken by a worker; -1 for a null pool or one that is not running. */
int32_t YAR_ThreadPoolFlex_GetWorkCount(YAR_THREADPOOLFLEX_T *hPool);

/* ---- Fixed pools ---- */

typedef struct YAR_THREADPOOL_S YAR_THREADPOOL_T;

enum { MAX_THREADPOOL_COUNT = 64, MAX_THREAD_PER_THREADPOOL = 512 };

/* Table set-up and tear-down, called by the runtime's start and stop. */
int32_t YAR_ThreadPool_InitModule(void);
void YAR_ThreadPool_FiniModule(void);

YAR_THREADPOOL_T *YAR_ThreadPool_Create(uint32_t nInitCount, uint32_t nMaxCount);
/* Stack size 0 gives 1 MiB. Null when the maximum is above 512, the table is full or the initial
 * threads cannot all be started. */
YAR_THREADPOOL_T *YAR_ThreadPool_CreateEx(uint32_t nInitCount, uint32_t nMaxCount,
                                          uint32_t nStackSize);
/* Stops every thread after its current item and frees the record. 0; -1 for a null pool, a pool
 * not in use or already being destroyed, or a call from one of the pool's own threads. */
int32_t YAR_ThreadPool_Destroy(YAR_THREADPOOL_T *pThreadPool);
int32_t YAR_ThreadPool_Work(YAR_THREADPOOL_T *pThreadPool, YAR_THREADPOOL_ROUTINE fnRoutine,
                            void *pArg);
/* 0 when a thread took the item (it will run, also if the pool is destroyed meanwhile), else -1.
 * With bWait set, a full pool is polled every 5 ms until a thread is idle or destruction begins. */
int32_t YAR_ThreadPool_WorkEx(YAR_THREADPOOL_T *pThreadPool, YAR_THREADPOOL_ROUTINE fnRoutine,
                              void *pArg, int32_t bWait);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

/* Holds a fixed pool; destroying the object only forgets the pool. */
class yar_threadpool {
public:
    yar_threadpool() = default;
    yar_threadpool(const yar_threadpool &) = delete;
    yar_threadpool &operator=(const yar_threadpool &) = delete;

    int32_t Create(uint32_t nInitCount, uint32_t nMaxCount);
    int32_t Destroy();
    int32_t Work(YAR_THREADPOOL_ROUTINE fnRoutine, void *pArg);

private:
    YAR_THREADPOOL_T *m_pool = nullptr;
};

}  // namespace yar
#endif

#endif
