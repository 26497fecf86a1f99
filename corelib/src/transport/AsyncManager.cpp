#include "transport/AsyncManager.h"

#include <cstdlib>

#include "CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {
constexpr int32_t kPreMemRing = 1;
}

CAsyncManager::CAsyncManager() {
    m_pSlotCreated = static_cast<DWORD *>(std::calloc(kTotalNum, sizeof(DWORD)));
    m_pSlotMutex = static_cast<YAR_MUTEX_T *>(std::calloc(kTotalNum, sizeof(YAR_MUTEX_T)));
    m_pSlots = static_cast<Slot *>(std::calloc(kTotalNum, sizeof(Slot)));
    if (!m_pSlotCreated || !m_pSlotMutex || !m_pSlots) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_ALLOC);
        return;
    }
    if (YAR_MutexCreate(&m_csLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::CAsyncManager, YAR_MutexCreate m_csLock Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_ALLOC);
        return;
    }
    MORVA_THREADPOOL_CFG cfg = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_ASYNCIO);
    m_hAsyncIOQueue = YAR_AsyncIO_CreateQueueEx2((int32_t)cfg.dwMaxCount);
    if (!m_hAsyncIOQueue) {
        LogModule_Write(LOG_LEVEL_ERR, "CreateProtocolAsyncIO, YAR_AsyncIO_CreateQueueEx2 Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        YAR_MutexDestroy(&m_csLock);
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_ALLOC);
        return;
    }
    // A second switch-on (the store outlives a Fini of the library) changes nothing.
    YAR_AsyncIO_SetPreMem(YAR_ASYNCIO_PREMEM_COUNT, kPreMemRing);
    m_bInit = 1;
}

CAsyncManager::~CAsyncManager() {
    if (m_bInit) {
        YAR_AsyncIO_DestroyQueueEx(m_hAsyncIOQueue);
        for (DWORD i = 0; i < kTotalNum; i++) {
            if (m_pSlotCreated[i])
                YAR_MutexDestroy(&m_pSlotMutex[i]);
        }
        YAR_MutexDestroy(&m_csLock);
    }
    std::free(m_pSlots);
    std::free(m_pSlotMutex);
    std::free(m_pSlotCreated);
}

}  // namespace Vorezi
