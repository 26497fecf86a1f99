// Recursive mutexes over pthreads: a Windows critical section may be entered again by its owner,
// and callers throughout the library rely on that.
#include <cerrno>

#include "internal/syserr.h"
#include "yar/yar_mutex.h"

extern "C" {

int YAR_MutexCreate(YAR_MUTEX_T *mutex, uint32_t /*flags*/) {
    if (!mutex)
        return -1;
    pthread_mutexattr_t attr;
    int err = pthread_mutexattr_init(&attr);
    if (err == 0) {
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        err = pthread_mutex_init(mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    if (err != 0) {
        yar::internal::SetSystemErrorFromErrno(err);
        return -1;
    }
    return 0;
}

int YAR_MutexDestroy(YAR_MUTEX_T *mutex) {
    if (!mutex)
        return -1;
    pthread_mutex_destroy(mutex);
    return 0;
}

int YAR_MutexLock(YAR_MUTEX_T *mutex) {
    if (!mutex)
        return -1;
    return pthread_mutex_lock(mutex) == 0 ? 0 : -1;
}

int YAR_MutexTryLock(YAR_MUTEX_T *mutex) {
    if (!mutex)
        return -1;
    return pthread_mutex_trylock(mutex) == 0 ? 0 : -1;
}

int YAR_MutexUnlock(YAR_MUTEX_T *mutex) {
    if (!mutex)
        return -1;
    return pthread_mutex_unlock(mutex) == 0 ? 0 : -1;
}

}  // extern "C"

namespace yar {

yar_mutex::yar_mutex() : yar_mutex(UINT32_MAX) {}

yar_mutex::yar_mutex(uint32_t flags) {
    YAR_MutexCreate(&m_section, flags);
}

yar_mutex::~yar_mutex() {
    YAR_MutexDestroy(&m_section);
}

int yar_mutex::Lock() { return YAR_MutexLock(&m_section); }
int yar_mutex::Unlock() { return YAR_MutexUnlock(&m_section); }
int yar_mutex::TryLock() { return YAR_MutexTryLock(&m_section); }

yar_recursive_mutex::~yar_recursive_mutex() = default;

}  // namespace yar
