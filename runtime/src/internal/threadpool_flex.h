// The flexible pool's worker routine, started on a detached thread by YAR_ThreadDetached_Create
// with the pool as its parameter.
#pragma once

#include <cstdint>

namespace yar::internal {

uint32_t ThreadPoolFlex_WorkRoutine(void *pool);

}  // namespace yar::internal
