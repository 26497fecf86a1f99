// The record behind a YAR_HANDLE. The started thread fills in its kernel id and passes the start
// gate under `lock`; the handle's owner frees the record after the join.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include "yar/yar_thread.h"

struct YAR_THREAD_S {
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;  // tid known, or the suspend count fell to 0
    int suspendCount;        // the routine starts only at 0
    bool started = false;    // past the gate: the thread can no longer be held
    bool finished = false;   // routine over: tid may belong to another thread soon
    pid_t tid = 0;
};

namespace yar::internal {

// Starts routine(param) on a runtime thread: it carries the creator's trace context and runs with
// SIGPIPE blocked. With `handle` the thread is joinable and its record is stored there; without,
// it is detached and never suspended. 0, or -1 with the system error set.
int StartThread(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize, bool suspended,
                YAR_HANDLE *handle);

}  // namespace yar::internal
