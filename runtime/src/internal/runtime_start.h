// Internals of the runtime's start and stop shared with the modules it starts.
#pragma once

#include "yar/yar_mutex.h"

namespace yar::internal {

// Module lock of the asynchronous I/O module; it guards the creation of that module's locks.
YAR_MUTEX_T *OnceLock();

// Test hooks. The observer sees each stage's name as the stage comes up (up true) or is taken
// down; FailStageOnce makes the named stage fail its next start.
using StageObserver = void (*)(const char *stage, bool up, void *user);
void SetStageObserver(StageObserver observer, void *user);
void FailStageOnce(const char *stage);

}  // namespace yar::internal
