// Detached start of the flexible pool's workers. Kept apart so that programs that never use the
// flexible pool do not need its worker routine.
#include "internal/thread_record.h"
#include "internal/threadpool_flex.h"

extern "C" int YAR_ThreadDetached_Create(struct YAR_THREADPOOLFLEX_S *pool, uint32_t stackSize) {
    return yar::internal::StartThread(yar::internal::ThreadPoolFlex_WorkRoutine, pool, stackSize, false,
                                      nullptr) == 0
               ? 1
               : 0;
}
