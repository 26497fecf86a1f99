// The controller's memory manager, its global pool indexes and the zlib binding.
#include <new>

#include "CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Zlib/ZlibAPI.h"

namespace Vorezi {

CCoreGlobalCtrlBase::GlobalMemPoolIndexes::GlobalMemPoolIndexes() {
    Reset();
}

void CCoreGlobalCtrlBase::GlobalMemPoolIndexes::Reset() {
    for (std::atomic<int> &n : nIndex)
        n.store(-1, std::memory_order_relaxed);
}

CMemoryMgr *CCoreGlobalCtrlBase::GetMemoryMgr() {
    if (!IsUseMemPool())
        return nullptr;
    if (CMemoryMgr *p = m_pMemoryMgr.load(std::memory_order_acquire))
        return p;
    if (!Lock())
        return m_pMemoryMgr.load();
    CMemoryMgr *p = m_pMemoryMgr.load();
    if (!p) {
        p = new (std::nothrow) CMemoryMgr;
        if (p && !p->IsCreated()) {
            delete p;
            p = nullptr;
        }
        m_pMemoryMgr.store(p, std::memory_order_release);
    }
    Unlock();
    return p;
}

// Every pool goes with the manager, so the kept indexes go too.
void CCoreGlobalCtrlBase::ReleaseMemoryMgr() {
    if (!Lock())
        return;
    delete m_pMemoryMgr.exchange(nullptr, std::memory_order_acq_rel);
    m_GlobalMemPool.Reset();
    Unlock();
}

CZlibAPI *CCoreGlobalCtrlBase::GetZlibAPI() {
    CZlibAPI *p = m_pZlibAPI.load(std::memory_order_acquire);
    if (p) {
        p->ReloadZlib();
        return p;
    }
    if (!Lock())
        return m_pZlibAPI.load();
    p = m_pZlibAPI.load();
    if (!p) {
        p = new (std::nothrow) CZlibAPI;
        if (!p)
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetZlibAPI, new CZlibAPI Failed");
        else if (!p->LoadZlib())
            LogModule_Write(LOG_LEVEL_ERR, "CCoreGlobalCtrlBase::GetZlibAPI, LoadZlib Failed");
        m_pZlibAPI.store(p, std::memory_order_release);
    }
    Unlock();
    return p;
}

void CCoreGlobalCtrlBase::ReleaseZlibAPI() {
    if (!Lock())
        return;
    delete m_pZlibAPI.exchange(nullptr, std::memory_order_acq_rel);
    Unlock();
}

int CCoreGlobalCtrlBase::GetPrivateMemPoolIndex() {
    return IsUseMemPool() ? m_GlobalMemPool.nIndex[0].load(std::memory_order_acquire) : -1;
}

int CCoreGlobalCtrlBase::GetDefaultMemPoolIndex(int enumKind) {
    int iSlot = -1;
    if (enumKind >= 0 && enumKind <= 4)
        iSlot = enumKind + 1;
    else if (enumKind >= 10 && enumKind <= 26)
        iSlot = enumKind - 4;
    if (iSlot < 0 || !IsUseMemPool())
        return -1;
    return m_GlobalMemPool.nIndex[iSlot].load(std::memory_order_acquire);
}

void CCoreGlobalCtrlBase::SetGlobalMemPoolIndex(int iSlot, int nIndex) {
    if (iSlot >= 0 && iSlot < MORVA_GLOBAL_MEMPOOL_NUM)
        m_GlobalMemPool.nIndex[iSlot].store(nIndex, std::memory_order_release);
}

CMemoryMgr *GetMemoryMgr() {
    return GetCoreGlobalCtrl()->GetMemoryMgr();
}

CZlibAPI *GetZlibAPI() {
    return GetCoreGlobalCtrl()->GetZlibAPI();
}

}  // namespace Vorezi
