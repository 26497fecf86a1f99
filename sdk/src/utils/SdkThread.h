// Joins of the SDK's own threads, logged before and after as "[<where>] YAR_Thread_Wait(<name>) 1"
// and "... 2". The handle is cleared, so no thread is ever joined twice.
#pragma once

#include "yar/yar_thread.h"

namespace ZEVA {

void JoinThreadLogged(YAR_HANDLE &hThread, const char *pWhere, const char *pName);

}  // namespace ZEVA
