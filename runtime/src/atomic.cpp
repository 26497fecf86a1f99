// 32-bit interlocked operations; all of them are full barriers.
#include "yar/yar_mutex.h"

extern "C" {

int32_t YAR_AtomicInc(int32_t *counter) {
    return __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
}

int32_t YAR_AtomicDec(int32_t *counter) {
    return __atomic_sub_fetch(counter, 1, __ATOMIC_SEQ_CST);
}

int32_t YAR_AtomicAdd(int32_t *counter, int32_t addend) {
    return __atomic_fetch_add(counter, addend, __ATOMIC_SEQ_CST);
}

int32_t YAR_AtomicSet(int32_t *counter, int32_t value) {
    return __atomic_exchange_n(counter, value, __ATOMIC_SEQ_CST);
}

int32_t YAR_AtomicCas(int32_t *counter, int32_t newValue, int32_t comparand) {
    // On failure the builtin writes the value it found into comparand: the previous value either way.
    __atomic_compare_exchange_n(counter, &comparand, newValue, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

}  // extern "C"
