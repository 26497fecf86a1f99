#include "utils/SdkThread.h"

#include "utils/SdkLog.h"

namespace ZEVA {

void JoinThreadLogged(YAR_HANDLE &hThread, const char *pWhere, const char *pName) {
    if (!hThread)
        return;
    ZEVA_LOG_INF("[%s] YAR_Thread_Wait(%s) 1", pWhere, pName);
    YAR_Thread_Wait(hThread);
    ZEVA_LOG_INF("[%s] YAR_Thread_Wait(%s) 2", pWhere, pName);
    hThread = nullptr;
}

}  // namespace ZEVA
