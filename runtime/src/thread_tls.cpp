// Thread-local slots over pthread keys; index -1 is refused before any system call.
#include <pthread.h>

#include "internal/syserr.h"
#include "yar/yar_thread.h"

extern "C" {

int32_t YAR_ThreadTls_Create(void) {
    pthread_key_t key;
    int err = pthread_key_create(&key, nullptr);
    if (err != 0) {
        yar::internal::SetSystemErrorFromErrno(err);
        return -1;
    }
    return static_cast<int32_t>(key);
}

int YAR_ThreadTls_SetValue(int32_t index, void *value) {
    if (index == -1)
        return -1;
    return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0 ? 0 : -1;
}

void *YAR_ThreadTls_GetValue(int32_t index) {
    if (index == -1)
        return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(index));
}

int YAR_ThreadTls_Destroy(int32_t index) {
    if (index == -1)
        return -1;
    return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0 ? 0 : -1;
}

}  // extern "C"
