// Thread start, join, exit and the start gate that stands in for a suspended creation.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "internal/monotonic_wait.h"
#include "internal/syserr.h"
#include "internal/thread_record.h"
#include "yar/yar_error.h"
#include "yar/yar_trace.h"

namespace {

// Handed from the creator to the new thread, which frees it.
struct StartBlock {
    YAR_TRACE_INFO_T trace;
    char zero;
    YAR_THREAD_ROUTINE routine;
    void *param;
    uint8_t registered;
    YAR_THREAD_S *record;  // null for a detached thread
};

bool TraceRegistryExists() {
    return yar::yar_tlsTraceInfoOper::GetInstance().HasRegistry();
}

// Installs the creator's context for the routine and removes it afterwards, also when the routine
// leaves through YAR_Thread_Exit (pthread_exit unwinds the stack).
class TraceScope {
public:
    explicit TraceScope(const StartBlock &block) : m_active(block.registered && TraceRegistryExists()) {
        if (m_active)
            YAR_SetThreadTraceInfo(&block.trace);
    }
    ~TraceScope() {
        if (m_active)
            YAR_ClearThreadTraceInfo();
    }
    TraceScope(const TraceScope &) = delete;
    TraceScope &operator=(const TraceScope &) = delete;

private:
    bool m_active;
};

// Marks the routine over, so that no one acts on the thread id any more.
class FinishMark {
public:
    explicit FinishMark(YAR_THREAD_S *record) : m_record(record) {}
    ~FinishMark() {
        if (!m_record)
            return;
        pthread_mutex_lock(&m_record->lock);
        m_record->finished = true;
        pthread_mutex_unlock(&m_record->lock);
    }
    FinishMark(const FinishMark &) = delete;
    FinishMark &operator=(const FinishMark &) = delete;

private:
    YAR_THREAD_S *m_record;
};

void PassStartGate(YAR_THREAD_S *record) {
    pthread_mutex_lock(&record->lock);
    record->tid = gettid();
    pthread_cond_broadcast(&record->changed);
    while (record->suspendCount > 0)
        pthread_cond_wait(&record->changed, &record->lock);
    record->started = true;
    pthread_mutex_unlock(&record->lock);
}

void *StartTrampoline(void *arg) {
    if (!arg) {
        std::fputs("pfnThreadStartAddress, pParam is null!\r\n", stderr);
        return nullptr;
    }
    std::unique_ptr<StartBlock> block(static_cast<StartBlock *>(arg));
    if (block->record)
        PassStartGate(block->record);
    FinishMark finish(block->record);
    TraceScope trace(*block);
    block->routine(block->param);
    return nullptr;
}

YAR_THREAD_S *NewRecord(bool suspended) {
    YAR_THREAD_S *record = new (std::nothrow) YAR_THREAD_S;
    if (!record)
        return nullptr;
    if (pthread_mutex_init(&record->lock, nullptr) != 0) {
        delete record;
        return nullptr;
    }
    if (yar::internal::InitMonotonicCond(&record->changed) != 0) {
        pthread_mutex_destroy(&record->lock);
        delete record;
        return nullptr;
    }
    record->suspendCount = suspended ? 1 : 0;
    return record;
}

void FreeRecord(YAR_THREAD_S *record) {
    pthread_cond_destroy(&record->changed);
    pthread_mutex_destroy(&record->lock);
    delete record;
}

// Thread attributes: stack size (at least the system minimum, whole pages), detach state, and the
// creator's signal mask plus SIGPIPE, so a write to a reset connection never kills the host.
int PrepareAttributes(pthread_attr_t *attr, uint32_t stackSize, bool detached) {
    int err = pthread_attr_init(attr);
    if (err != 0)
        return err;
    if (stackSize != 0) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t size = stackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stackSize;
        err = pthread_attr_setstacksize(attr, (size + page - 1) / page * page);
    }
    if (err == 0 && detached)
        err = pthread_attr_setdetachstate(attr, PTHREAD_CREATE_DETACHED);
    sigset_t mask;
    if (err == 0 && (err = pthread_sigmask(SIG_BLOCK, nullptr, &mask)) == 0) {
        sigaddset(&mask, SIGPIPE);
        err = pthread_attr_setsigmask_np(attr, &mask);
    }
    if (err != 0)
        pthread_attr_destroy(attr);
    return err;
}

int Fail(int err) {
    // A thread that cannot be created is short of memory, as Windows reports it.
    yar::internal::SetSystemErrorFromErrno(err == EAGAIN ? ENOMEM : err);
    return -1;
}

}  // namespace

namespace yar::internal {

int StartThread(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize, bool suspended,
                YAR_HANDLE *handle) {
    if (!routine)
        return Fail(EINVAL);
    std::unique_ptr<StartBlock> block(new (std::nothrow) StartBlock{});
    if (!block)
        return Fail(ENOMEM);
    block->routine = routine;
    block->param = param;
    if (TraceRegistryExists() && YAR_GetThreadTraceInfo(&block->trace) == 0)
        block->registered = 1;
    if (handle) {
        block->record = NewRecord(suspended);
        if (!block->record)
            return Fail(ENOMEM);
    }
    // The block may be gone as soon as the thread runs: keep what is needed afterwards.
    YAR_THREAD_S *record = block->record;
    pthread_attr_t attr;
    int err = PrepareAttributes(&attr, stackSize, handle == nullptr);
    pthread_t thread;
    if (err == 0) {
        err = pthread_create(&thread, &attr, StartTrampoline, block.get());
        pthread_attr_destroy(&attr);
    }
    if (err != 0) {
        if (record)
            FreeRecord(record);
        return Fail(err);
    }
    block.release();  // the new thread owns it now
    if (handle) {
        record->thread = thread;
        *handle = record;
    }
    return 0;
}

}  // namespace yar::internal

extern "C" {

YAR_HANDLE YAR_Thread_Create(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize,
                             int32_t suspended, uint32_t, uint32_t) {
    YAR_HANDLE handle = YAR_INVALID_THREAD;
    yar::internal::StartThread(routine, param, stackSize, suspended != 0, &handle);
    return handle;
}

int YAR_Thread_Wait(YAR_HANDLE thread) {
    if (!thread)
        return -1;
    int err = pthread_join(thread->thread, nullptr);
    if (err != 0) {
        yar::internal::SetSystemErrorFromErrno(err);
        return -1;
    }
    FreeRecord(thread);
    return 0;
}

void YAR_Thread_Exit(void) {
    pthread_exit(nullptr);
}

int YAR_Thread_Suspend(YAR_HANDLE thread) {
    if (!thread)
        return -1;
    pthread_mutex_lock(&thread->lock);
    const bool held = !thread->started;
    if (held)
        ++thread->suspendCount;
    pthread_mutex_unlock(&thread->lock);
    if (!held)
        YAR_SetSystemLastError(YAR_SYSERR_NOT_SUPPORTED);
    return held ? 0 : -1;
}

int YAR_Thread_Resume(YAR_HANDLE thread) {
    if (!thread)
        return -1;
    pthread_mutex_lock(&thread->lock);
    if (thread->suspendCount > 0 && --thread->suspendCount == 0)
        pthread_cond_broadcast(&thread->changed);
    pthread_mutex_unlock(&thread->lock);
    return 0;
}

}  // extern "C"
