/* Threads and thread-local storage. Every thread started here inherits its creator's trace
 * context (yar_trace.h) and runs with SIGPIPE blocked. */
#ifndef YAR_THREAD_H
#define YAR_THREAD_H

#include "yar_base.h"

typedef struct YAR_THREAD_S *YAR_HANDLE;
#define YAR_INVALID_THREAD ((YAR_HANDLE)0)

/* A thread routine; its result is not used. */
typedef uint32_t (*YAR_THREAD_ROUTINE)(void *param);

/* Windows thread priorities accepted by YAR_Thread_SetPriority. */
enum {
    YAR_THREAD_PRIORITY_IDLE = -15,
    YAR_THREAD_PRIORITY_LOWEST = -2,
    YAR_THREAD_PRIORITY_BELOW_NORMAL = -1,
    YAR_THREAD_PRIORITY_NORMAL = 0,
    YAR_THREAD_PRIORITY_ABOVE_NORMAL = 1,
    YAR_THREAD_PRIORITY_HIGHEST = 2,
    YAR_THREAD_PRIORITY_TIME_CRITICAL = 15
};

/* Windows priority classes accepted by YAR_Thread_SetPriorityClass. */
enum {
    YAR_IDLE_PRIORITY_CLASS = 0x40,
    YAR_BELOW_NORMAL_PRIORITY_CLASS = 0x4000,
    YAR_NORMAL_PRIORITY_CLASS = 0x20,
    YAR_ABOVE_NORMAL_PRIORITY_CLASS = 0x8000,
    YAR_HIGH_PRIORITY_CLASS = 0x80,
    YAR_REALTIME_PRIORITY_CLASS = 0x100
};

struct YAR_THREADPOOLFLEX_S;

YAR_BEGIN_DECLS

/* Starts routine(param). Stack size 0 is the process default. A suspended thread runs its routine
 * only after YAR_Thread_Resume. The last two arguments are ignored. Null on failure, with the
 * system error set. The handle must be waited for once with YAR_Thread_Wait. */
YAR_HANDLE YAR_Thread_Create(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize,
                             int32_t suspended, uint32_t unused1, uint32_t unused2);
/* Starts the flexible pool's worker on a thread that is never joined; 1 when started, else 0. */
int YAR_ThreadDetached_Create(struct YAR_THREADPOOLFLEX_S *pool, uint32_t stackSize);
/* Waits for the thread to end and releases the handle; -1 for null or a failed wait. */
int YAR_Thread_Wait(YAR_HANDLE thread);
/* Ends the calling thread now; a runtime thread still releases its start data and trace context. */
void YAR_Thread_Exit(void);
/* Linux cannot stop a running thread: suspending works only before the thread has started its
 * routine (created suspended, or not yet scheduled) and gives -1 afterwards. */
int YAR_Thread_Suspend(YAR_HANDLE thread);
int YAR_Thread_Resume(YAR_HANDLE thread);
/* Priorities become nice values of the thread (raising them needs CAP_SYS_NICE). */
int YAR_Thread_SetPriority(YAR_HANDLE thread, int32_t priority);
int YAR_Thread_SetPriorityClass(uint32_t priorityClass);

/* Thread-local slots; -1 is the invalid index. */
int32_t YAR_ThreadTls_Create(void);
int YAR_ThreadTls_SetValue(int32_t index, void *value);
void *YAR_ThreadTls_GetValue(int32_t index);
int YAR_ThreadTls_Destroy(int32_t index);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

/* Holds one thread handle; destruction forgets it (it neither waits nor releases). */
class yar_thread {
public:
    yar_thread() = default;

    int Create(YAR_THREAD_ROUTINE routine, void *param, uint32_t stackSize, int32_t suspended,
               uint32_t unused1, uint32_t unused2);
    /* Waits for the thread; the handle is released and forgotten. */
    int Join();
    int Suspend();
    int Resume();
    int SetPriority(int32_t priority);
    /* -1 when no thread is held. */
    int SetPriorityClass(uint32_t priorityClass);
    YAR_HANDLE Handle() const { return m_handle; }

private:
    YAR_HANDLE m_handle = YAR_INVALID_THREAD;
};

}  // namespace yar
#endif

#endif
