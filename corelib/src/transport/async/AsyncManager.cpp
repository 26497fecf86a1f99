#include "transport/async/AsyncManager.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>

#include "GlobalCtrl/CoreGlobalCtrl.h"
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
    m_pTaken = MapTable<std::atomic<uint64_t>>(kTotalNum / 64);
    if (!m_pSlotCreated || !m_pSlotMutex || !m_pSlots || !m_pTaken) {
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    if (YAR_MutexCreate(&m_csLock, 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::CAsyncManager, YAR_MutexCreate m_csLock Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return;
    }
    MORVA_THREADPOOL_CFG cfg = GetCoreGlobalCtrl()->GetThreadPoolCfg(ENUM_MORVA_THREADPOOL_ASYNCIO);
    m_hAsyncIOQueue = YAR_AsyncIO_CreateQueueEx2((int32_t)cfg.dwMaxCount);
    if (!m_hAsyncIOQueue) {
        LogModule_Write(LOG_LEVEL_ERR, "CreateProtocolAsyncIO, YAR_AsyncIO_CreateQueueEx2 Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        YAR_MutexDestroy(&m_csLock);
        SetError(MORVA_ERR_ALLOC);
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
    UnmapTable(m_pTaken, kTotalNum / 64);
    UnmapTable(m_pSlots, kTotalNum);
    UnmapTable(m_pSlotMutex, kTotalNum);
    UnmapTable(m_pSlotCreated, kTotalNum);
}

uint32_t CAsyncManager::NextFree(uint32_t uFrom, uint32_t uEnd) const {
    while (uFrom < uEnd) {
        uint64_t uFree = ~m_pTaken[uFrom / 64].load(std::memory_order_relaxed) >> (uFrom % 64);
        if (uFree)
            return std::min(uEnd, uFrom + (uint32_t)__builtin_ctzll(uFree));
        uFrom = (uFrom / 64 + 1) * 64;
    }
    return uEnd;
}

bool CAsyncManager::MakeSlotMutex(uint32_t uIndex) {
    if (SlotMutexExists(uIndex))
        return true;
    if (YAR_MutexCreate(&m_pSlotMutex[uIndex], 0) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::CreateHandle, YAR_MutexCreate Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        SetError(MORVA_ERR_ALLOC);
        return false;
    }
    __atomic_store_n(&m_pSlotCreated[uIndex], 1, __ATOMIC_RELEASE);
    return true;
}

bool CAsyncManager::TakeSlot(uint32_t uIndex, CLinkAsyncIO *pObject) {
    if (!MakeSlotMutex(uIndex))
        return false;
    yar::yar_guard lock(&m_pSlotMutex[uIndex]);
    Slot &slot = m_pSlots[uIndex];
    const bool bFree = slot.pObject == nullptr && slot.pDrain == nullptr;
    if (bFree) {
        slot.pObject = pObject;
        slot.iHandle = (int32_t)uIndex;
        slot.uGeneration++;
        m_pTaken[uIndex / 64].fetch_or(uint64_t(1) << (uIndex % 64), std::memory_order_relaxed);
        int32_t iCount = ++m_dwCurrentCount;
        LogModule_Write(LOG_LEVEL_DBG, "CAsyncManager::CreateHandle, m_dwCurrentCap[%d], m_dwCurrentCount[%d], iHandle[%d]",
                        m_dwCurrentCap.load(), iCount, (int)uIndex);
    }
    return bFree;
}

// Round robin from the cursor over the capacity in use; the capacity grows by a step when the
// cursor reaches it with every slot below taken. Runs of taken slots are skipped by the bitmap
// in one go: within such a run only its last step can meet the end of the capacity.
int CAsyncManager::CreateHandle(CLinkAsyncIO *pObject) {
    if (!pObject) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::CreateHandle, pObject == NULL");
        return -1;
    }
    yar::yar_guard lock(&m_csLock);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::CreateHandle, YAR_MutexLock Failed, syserror[%d]",
                        YAR_GetSystemLastError());
        return -1;
    }
    int iHandle = -1;
    for (uint32_t uStep = 0; uStep < m_dwCurrentCap && iHandle < 0;) {
        uint32_t uCand = m_uiCurIndex;
        // Taken candidates before the next free one (or the end of the capacity), within the
        // steps left; all but the last of them are plain skips.
        const uint32_t uCap = m_dwCurrentCap;
        uint32_t uRun = std::min(NextFree(uCand, uCap), uCand + (uCap - uStep)) - uCand;
        if (uRun > 1) {
            m_uiCurIndex += uRun - 1;
            uStep += uRun - 1;
            uCand = m_uiCurIndex;
        }
        m_uiCurIndex++;
        uStep++;
        if (m_uiCurIndex >= m_dwCurrentCap) {
            if ((uint32_t)m_dwCurrentCount.load() < m_dwCurrentCap || m_dwCurrentCap >= m_dwTotalNum) {
                m_uiCurIndex = 0;
                if (uStep == m_dwCurrentCap)
                    LogModule_Write(LOG_LEVEL_DBG,
                                    "CAsyncManager::CreateHandle, RestIndex, m_dwCurrentCap[%d], m_uiCurIndex[%d], "
                                    "m_dwTotalNum[%d]",
                                    m_dwCurrentCap.load(), m_uiCurIndex, m_dwTotalNum);
            } else {
                m_dwCurrentCap = std::min(m_dwCurrentCap.load() + kCapStep, m_dwTotalNum);
            }
        }
        if (!IsTaken(uCand) && TakeSlot(uCand, pObject))
            iHandle = (int)uCand;
    }
    return iHandle;
}

void CAsyncManager::ReleaseLockedSlot(int iHandle) {
    Slot &slot = m_pSlots[iHandle];
    slot.pObject = nullptr;
    slot.pDrain = nullptr;
    slot.iHandle = -1;
    m_pTaken[iHandle / 64].fetch_and(~(uint64_t(1) << (iHandle % 64)), std::memory_order_relaxed);
    int32_t iCount = --m_dwCurrentCount;
    LogModule_Write(LOG_LEVEL_DBG, "CAsyncManager::DestroyHandle, m_dwCurrentCap[%d], m_dwCurrentCount[%d], iHandle[%d]",
                    m_dwCurrentCap.load(), iCount, iHandle);
}

void CAsyncManager::DestroyHandle(int iHandle) {
    if (iHandle < 0 || (DWORD)iHandle >= m_dwTotalNum) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::DestroyHandle, Invalid Param, iHandle[%d], m_dwTotalNum[%d]",
                        iHandle, m_dwTotalNum);
        return;
    }
    if (!SlotMutexExists((uint32_t)iHandle) || !IsTaken((uint32_t)iHandle)) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::DestroyHandle, pCallClass is NULL, iHandle[%d], m_dwTotalNum[%d]",
                        iHandle, m_dwTotalNum);
        return;
    }
    yar::yar_guard lock(&m_pSlotMutex[iHandle]);
    if (!lock.IsLocked()) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::DestroyHandle, LockMember Failed, iHandle[%d], syserror[%d]",
                        iHandle, YAR_GetSystemLastError());
        return;
    }
    ReleaseLockedSlot(iHandle);
}

CLinkAsyncIO *CAsyncManager::GetObjectByHandle(int iHandle) {
    if (iHandle < 0 || (DWORD)iHandle >= m_dwTotalNum) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::GetObjectByHandle, Invalid Param, iHandle[%d], m_dwTotalNum[%d]",
                        iHandle, m_dwTotalNum);
        return nullptr;
    }
    return m_pSlots[iHandle].pObject;
}

CAsyncManager::Slot *CAsyncManager::GetAsyncInfo(int iHandle) {
    if (iHandle < 0 || (DWORD)iHandle >= m_dwTotalNum) {
        LogModule_Write(LOG_LEVEL_ERR, "CAsyncManager::GetAsyncInfo, Invalid Param, iHandle[%d], m_dwTotalNum[%d]",
                        iHandle, m_dwTotalNum);
        return nullptr;
    }
    return &m_pSlots[iHandle];
}

// The slot mutex of a handle that was never taken does not exist: such a handle cannot be locked.
bool CAsyncManager::LockHandle(int iHandle) {
    if (iHandle < 0 || (DWORD)iHandle >= m_dwTotalNum || !SlotMutexExists((uint32_t)iHandle))
        return false;
    return YAR_MutexLock(&m_pSlotMutex[iHandle]) == 0;
}

void CAsyncManager::UnlockHandle(int iHandle) {
    if (iHandle >= 0 && (DWORD)iHandle < m_dwTotalNum && SlotMutexExists((uint32_t)iHandle))
        YAR_MutexUnlock(&m_pSlotMutex[iHandle]);
}

}  // namespace Vorezi
