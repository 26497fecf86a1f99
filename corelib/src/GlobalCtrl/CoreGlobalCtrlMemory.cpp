// The controller's memory manager and zlib binding.
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Zlib/ZlibAPI.h"

namespace Vorezi {

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

void CCoreGlobalCtrlBase::ReleaseMemoryMgr() {
    if (!Lock())
        return;
    delete m_pMemoryMgr.exchange(nullptr, std::memory_order_acq_rel);
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

void CCoreGlobalCtrlBase::SetGlobalMemPoolIndex(int iSlot, int nIndex) {
    if (iSlot >= 0 && iSlot < MORVA_GLOBAL_POOL_COUNT)
        m_iGlobalPoolIndex[iSlot] = nIndex;
}

CMemoryMgr *GetMemoryMgr() {
    return GetCoreGlobalCtrl()->GetMemoryMgr();
}

CZlibAPI *GetZlibAPI() {
    return GetCoreGlobalCtrl()->GetZlibAPI();
}

}  // namespace Vorezi
