// The 23 global memory pools of the controller and the timer thread that trims their idle memory.
#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "yar/yar_string.h"

namespace Vorezi {

namespace {

// Default-pool records in the order of the index slots 0 to 22.
constexpr int kPoolRecordOfSlot[MORVA_GLOBAL_POOL_COUNT] = {6,  0,  1,  2,  3,  4,  10, 11, 12, 13, 14, 15,
                                                            16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26};
// Release order: the size classes first, then the fixed pools from the link pool down.
constexpr int kPoolReleaseOrder[MORVA_GLOBAL_POOL_COUNT] = {6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                                            18, 19, 20, 21, 22, 0,  5,  4,  3,  2,  1};

constexpr uint32_t kTimerStackSize = 0x40000;
constexpr uint32_t kTimerRoundMs = 10;
constexpr int kTimerRoundsPerTrim = 100;

}  // namespace

int CCoreGlobalCtrlBase::CreateGlobalMemoryPool() {
    CMemoryMgr *pMgr = GetMemoryMgr();
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::CreateGlobalMemoryPool, GetMemoryMgr Failed");
        return 0;
    }
    // A pool that cannot be defined keeps -1 in its slot; its users fall back to the heap.
    for (int iSlot = 0; iSlot < MORVA_GLOBAL_POOL_COUNT; iSlot++) {
        const MORVA_MEMPOOL_RECORD &rec = m_DefaultMemPool[kPoolRecordOfSlot[iSlot]];
        m_iGlobalPoolIndex[iSlot] = pMgr->CreateMemoryPool(rec.dwMaxMemberSize, rec.dwOnceAllocCount,
                                                           rec.dwMaxAllocCount, (int)rec.bFreeWhenEmpty,
                                                           rec.iReleaseInterval);
    }
    m_bCreateMemPoolSucc = 1;
    return 1;
}

void CCoreGlobalCtrlBase::ReleaseGlobalMemoryPool() {
    CMemoryMgr *pMgr = m_pMemoryMgr.load(std::memory_order_acquire);
    if (!pMgr)
        return;
    for (int iSlot : kPoolReleaseOrder) {
        if (m_iGlobalPoolIndex[iSlot] >= 0)
            pMgr->ReleaseMemoryPool(m_iGlobalPoolIndex[iSlot]);
        m_iGlobalPoolIndex[iSlot] = -1;
    }
    m_bCreateMemPoolSucc = 0;
}

// Never creates the manager: the timer thread calls this while a last Fini, holding the control
// lock, may be waiting for it.
int CCoreGlobalCtrlBase::ReleaseAllIdleMemPool(int bTimer) {
    CMemoryMgr *pMgr = m_pMemoryMgr.load(std::memory_order_acquire);
    if (!pMgr) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CCoreGlobalCtrlBase::ReleaseAllIdleMemPool, GetMemoryMgr Failed",
                        MORVA_PTR_ARG(this));
        return 0;
    }
    pMgr->ReleaseAllIdleMemoryPool(bTimer);
    return 1;
}

uint32_t CCoreGlobalCtrlBase::TimerThread(void *pParam) {
    auto *pCtrl = static_cast<CCoreGlobalCtrlBase *>(pParam);
    int nRound = 0;
    while (!pCtrl->m_bTimerStop.load(std::memory_order_acquire)) {
        if (++nRound >= kTimerRoundsPerTrim) {
            nRound = 0;
            pCtrl->ReleaseAllIdleMemPool(1);
        }
        YAR_Sleep(kTimerRoundMs);
    }
    LogModule_Write(LOG_LEVEL_DBG, "CCoreGlobalCtrlBase::TimerThread, Last Log Print");
    return 0;
}

int CCoreGlobalCtrlBase::StartTimerThread() {
    if (m_hTimerThread != YAR_INVALID_THREAD || !IsUseMemPool())
        return 1;
    m_bTimerStop.store(0);
    m_hTimerThread = YAR_Thread_Create(TimerThread, this, kTimerStackSize, 0, 0, 0);
    return m_hTimerThread != YAR_INVALID_THREAD;
}

void CCoreGlobalCtrlBase::StopTimerThread() {
    if (m_hTimerThread == YAR_INVALID_THREAD)
        return;
    m_bTimerStop.store(1, std::memory_order_release);
    YAR_Thread_Wait(m_hTimerThread);
    m_hTimerThread = YAR_INVALID_THREAD;
    m_bTimerStop.store(0);
}

}  // namespace Vorezi
