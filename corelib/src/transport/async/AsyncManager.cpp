#include "transport/async/AsyncManager.h"

#include <sys/mman.h>

#include <cstddef>

#include "CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {
constexpr int32_t kPreMemRing = 1;

// The slot tables (4.7 MiB) are made at every Init and freed at every Fini. Mapped, they come
// zeroed, stay out of resident memory until slots are used and go back to the system at Fini;
// calloc'd from the heap they would be zeroed by hand and kept resident after a few cycles.
template <typename T>
T *MapTable(size_t uCount) {
    void *p = mmap(nullptr, uCount * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<T *>(p);
}

template <typename T>
void UnmapTable(T *p, size_t uCount) {
    if (p)
        munmap(p, uCount * sizeof(T));
}
}  // namespace

CAsyncManager::CAsyncManager() {
    m_pSlotCreated = MapTable<DWORD>(kTotalNum);
    m_pSlotMutex = MapTable<YAR_MUTEX_T>(kTotalNum);
    m_pSlots = MapTable<Slot>(kTotalNum);
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
    UnmapTable(m_pSlots, kTotalNum);
    UnmapTable(m_pSlotMutex, kTotalNum);
    UnmapTable(m_pSlotCreated, kTotalNum);
}

}  // namespace Vorezi
