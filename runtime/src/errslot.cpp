// The per-thread error slot: a thread-specific key that exists only while the runtime runs, so
// that a store before the start or after the stop is refused.
#include <pthread.h>

#include <atomic>

#include "yar/yar_init.h"

namespace {

// Written only under the runtime's start lock, read from any thread.
std::atomic<int64_t> g_index{-1};
std::atomic<bool> g_allocated{false};

pthread_key_t Key() {
    return static_cast<pthread_key_t>(g_index.load());
}

}  // namespace

extern "C" {

int32_t YAR_ErrSlot_Alloc(void) {
    // A second allocation would lose the first key and every thread's value in it.
    if (g_allocated.load())
        return static_cast<int32_t>(g_index.load());
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) {
        g_index.store(-1);
        return -1;
    }
    g_index.store(key);
    g_allocated.store(true);
    return static_cast<int32_t>(key);
}

int32_t YAR_ErrSlot_Init(void) {
    YAR_ErrSlot_Alloc();
    return g_allocated.load() ? 0 : -1;
}

int32_t YAR_ErrSlot_Free(void) {
    const int64_t index = g_index.exchange(-1);
    g_allocated.store(false);
    if (index < 0)
        return -1;
    return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0 ? 0 : -1;
}

int32_t YAR_ErrSlot_Fini(void) {
    if (g_allocated.load())
        YAR_ErrSlot_Free();
    return 0;
}

intptr_t YAR_ErrSlot_GetRaw(void) {
    return g_index.load() < 0 ? 0 : reinterpret_cast<intptr_t>(pthread_getspecific(Key()));
}

int32_t YAR_ErrSlot_SetRaw(intptr_t value) {
    if (g_index.load() < 0)
        return -1;
    return pthread_setspecific(Key(), reinterpret_cast<void *>(value)) == 0 ? 0 : -1;
}

intptr_t YAR_GetLastError(void) {
    return g_allocated.load() ? YAR_ErrSlot_GetRaw() : 0;
}

intptr_t YAR_GetErrorValue(void) {
    return YAR_GetLastError();
}

int32_t YAR_SetLastError(intptr_t value) {
    return g_allocated.load() ? YAR_ErrSlot_SetRaw(value) : -1;
}

int32_t YAR_SetErrorValue(intptr_t value) {
    return YAR_SetLastError(value);
}

}  // extern "C"
