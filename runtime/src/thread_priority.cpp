// Windows thread priorities and priority classes as Linux nice values. Linux schedules threads
// one by one, so a process class is applied to every thread of the process.
#include <dirent.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>

#include "internal/syserr.h"
#include "internal/thread_record.h"
#include "yar/yar_error.h"

namespace {

struct NiceOf {
    int64_t windows;
    int nice;
};

constexpr NiceOf kPriorities[] = {
    {YAR_THREAD_PRIORITY_IDLE, 19},        {YAR_THREAD_PRIORITY_LOWEST, 10},
    {YAR_THREAD_PRIORITY_BELOW_NORMAL, 5}, {YAR_THREAD_PRIORITY_NORMAL, 0},
    {YAR_THREAD_PRIORITY_ABOVE_NORMAL, -5}, {YAR_THREAD_PRIORITY_HIGHEST, -10},
    {YAR_THREAD_PRIORITY_TIME_CRITICAL, -20},
};

constexpr NiceOf kClasses[] = {
    {YAR_IDLE_PRIORITY_CLASS, 19},         {YAR_BELOW_NORMAL_PRIORITY_CLASS, 10},
    {YAR_NORMAL_PRIORITY_CLASS, 0},        {YAR_ABOVE_NORMAL_PRIORITY_CLASS, -5},
    {YAR_HIGH_PRIORITY_CLASS, -10},        {YAR_REALTIME_PRIORITY_CLASS, -20},
};

// False (and the system error set) for a value Windows does not know.
template <size_t N>
bool LookUpNice(const NiceOf (&table)[N], int64_t windows, int *nice) {
    for (const NiceOf &entry : table)
        if (entry.windows == windows) {
            *nice = entry.nice;
            return true;
        }
    YAR_SetSystemLastError(YAR_SYSERR_INVALID_PARAMETER);
    return false;
}

int SetNice(pid_t tid, int nice) {
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) {
        yar::internal::SetSystemErrorFromErrno(errno);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

int YAR_Thread_SetPriority(YAR_HANDLE thread, int32_t priority) {
    int nice;
    if (!thread)
        return -1;
    if (!LookUpNice(kPriorities, priority, &nice))
        return -1;
    pthread_mutex_lock(&thread->lock);
    while (thread->tid == 0)  // the new thread records its id first thing
        pthread_cond_wait(&thread->changed, &thread->lock);
    // Under the lock the routine cannot be marked over, so the id still names this thread.
    int result = thread->finished ? 0 : SetNice(thread->tid, nice);
    pthread_mutex_unlock(&thread->lock);
    return result;
}

int YAR_Thread_SetPriorityClass(uint32_t priorityClass) {
    int nice;
    if (!LookUpNice(kClasses, priorityClass, &nice))
        return -1;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
        return SetNice(0, nice);
    int result = 0;
    while (dirent *entry = readdir(tasks)) {
        pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0 && SetNice(tid, nice) != 0 && errno != ESRCH)  // a thread may end meanwhile
            result = -1;
    }
    closedir(tasks);
    return result;
}

}  // extern "C"
