// For a test program linked with -Wl,--wrap=YAR_MutexLock: a test sets the flag to make the next
// lock on its thread fail, as a broken mutex would. Include it in one file of the program.
#pragma once

#include "yar/yar_mutex.h"

inline thread_local bool g_bRefuseNextMutexLock = false;

extern "C" int __real_YAR_MutexLock(YAR_MUTEX_T *pMutex);
extern "C" int __wrap_YAR_MutexLock(YAR_MUTEX_T *pMutex) {
    if (g_bRefuseNextMutexLock) {
        g_bRefuseNextMutexLock = false;
        return -1;
    }
    return __real_YAR_MutexLock(pMutex);
}
