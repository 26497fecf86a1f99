// Shortcuts to the runtime's flexible thread pool with the core library's defaults.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {
constexpr int kPoolIdleMs = 30000;
constexpr int kPoolStack = 0x20000;
}  // namespace

YAR_THREADPOOLFLEX_T *Utils_CreateThreadPool(YAR_THREADPOOL_ROUTINE fnWork, DWORD dwMaxCount) {
    if (dwMaxCount == 0)
        dwMaxCount = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_DEFAULT).dwMaxCount;
    YAR_THREADPOOLFLEX_T *hPool = YAR_ThreadPoolFlex_Create((int32_t)dwMaxCount, kPoolIdleMs, fnWork, kPoolStack);
    if (!hPool)
        LogModule_Write(LOG_LEVEL_ERR, "Utils_CreateThreadPool, YAR_ThreadPoolFlex_Create Failed, syserror[%d]",
                        YAR_GetSystemLastError());
    return hPool;
}

int Utils_DestroyThreadPool(YAR_THREADPOOLFLEX_T *hPool) {
    if (!hPool) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_DestroyThreadPool, Invalid hThreadPool[%d]", (int)MORVA_PTR_ARG(hPool));
        return 0;
    }
    YAR_ThreadPoolFlex_Destroy(hPool);
    return 1;
}

int Utils_PostWorkToThreadPool(YAR_THREADPOOLFLEX_T *hPool, void *pIgnored, void *pWork) {
    (void)pIgnored;
    if (!hPool) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_PostWorkToThreadPool, Invalid hThreadPool[%d]",
                        (int)MORVA_PTR_ARG(hPool));
        return 0;
    }
    if (YAR_ThreadPoolFlex_Work(hPool, pWork) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "Utils_PostWorkToThreadPool, YAR_ThreadPoolFlex_Work Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return 0;
    }
    return 1;
}

}  // namespace Vorezi
