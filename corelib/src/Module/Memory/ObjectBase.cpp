#include "Module/Memory/ObjectBase.h"

#include <cstdint>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"

namespace Vorezi {

namespace {

// Blocks allocated on this thread whose root constructor has not yet run, with what that
// constructor is to adopt. Constructor arguments are evaluated after the allocation, so an
// argument may allocate another object in between: entries are matched by address.
struct PendingBlock {
    void *pBlock;
    uintptr_t uValue;
};
constexpr int kMaxPending = 16;
thread_local PendingBlock t_Pending[kMaxPending];
thread_local int t_iPending = 0;

bool PushPending(void *pBlock, uintptr_t uValue) {
    if (t_iPending >= kMaxPending)
        return false;
    t_Pending[t_iPending++] = PendingBlock{pBlock, uValue};
    return true;
}

bool TakePending(void *pBlock, uintptr_t *pValue) {
    for (int i = t_iPending - 1; i >= 0; i--) {
        if (t_Pending[i].pBlock != pBlock)
            continue;
        *pValue = t_Pending[i].uValue;
        t_Pending[i] = t_Pending[--t_iPending];
        return true;
    }
    return false;
}

// What the root destructor of the object destroyed last on this thread left for the
// deallocation that follows it: the object itself is dead by then and is not read again.
struct DestroyedRoot {
    const void *pObject;
    uintptr_t uValue;
};
thread_local DestroyedRoot t_LastObject;
thread_local DestroyedRoot t_LastPrivate;

bool TakeDestroyed(DestroyedRoot *pSlot, const void *pObject, uintptr_t *pValue) {
    if (!pObject || pSlot->pObject != pObject)
        return false;
    *pValue = pSlot->uValue;
    pSlot->pObject = nullptr;
    return true;
}

void *AllocBlock(size_t uSize, int nIndex) {
    if (nIndex < 0)
        return NewArray(uSize);
    CMemoryMgr *pMgr = GetMemoryMgr();
    if (!pMgr || uSize > UINT32_MAX)
        return nullptr;
    return pMgr->NewMemory((DWORD)uSize, nIndex);
}

void FreeBlock(void *p, bool bFromPool) {
    if (!bFromPool) {
        DelArray(p);
        return;
    }
    if (CMemoryMgr *pMgr = GetMemoryMgr())
        pMgr->DelMemory(p);
    else
        Utils_Assert();
}

}  // namespace

// ---- CObjectBasePrivate ----

CObjectBasePrivate::CObjectBasePrivate() {
    uintptr_t uFromPool = 0;
    TakePending(this, &uFromPool);
    m_bFromPool = (DWORD)uFromPool;
}

CObjectBasePrivate::~CObjectBasePrivate() {
    t_LastPrivate = DestroyedRoot{this, m_bFromPool};
}

void *CObjectBasePrivate::operator new(size_t uSize, int nIndex) noexcept {
    void *p = AllocBlock(uSize, nIndex);
    if (p && !PushPending(p, nIndex < 0 ? 0 : 1)) {
        FreeBlock(p, nIndex >= 0);
        p = nullptr;
    }
    return p;
}

void *CObjectBasePrivate::operator new(size_t) noexcept {
    Utils_Assert();
    return nullptr;
}

void CObjectBasePrivate::operator delete(void *p) noexcept {
    if (!p) {
        Utils_Assert();
        return;
    }
    uintptr_t uFromPool = 0;
    TakeDestroyed(&t_LastPrivate, p, &uFromPool);
    FreeBlock(p, uFromPool != 0);
}

void CObjectBasePrivate::operator delete(void *p, int nIndex) noexcept {
    uintptr_t uIgnored;
    TakePending(p, &uIgnored);
    FreeBlock(p, nIndex >= 0);
}

// ---- CObjectBase ----

CObjectBase::CObjectBase() {
    uintptr_t uRecord = 0;
    TakePending(this, &uRecord);
    m_pAllocRecord = reinterpret_cast<CObjectBasePrivate *>(uRecord);
}

CObjectBase::~CObjectBase() {
    t_LastObject = DestroyedRoot{this, reinterpret_cast<uintptr_t>(m_pAllocRecord)};
}

void *CObjectBase::operator new(size_t uSize, int nIndex) noexcept {
    void *p = AllocBlock(uSize, nIndex);
    if (!p)
        return nullptr;
    int nRecordIndex = nIndex < 0 ? -1 : GetCoreGlobalCtrl()->GetPrivateMemPoolIndex();
    CObjectBasePrivate *pRecord = new (nRecordIndex) CObjectBasePrivate();
    if (pRecord && !PushPending(p, reinterpret_cast<uintptr_t>(pRecord))) {
        delete pRecord;
        pRecord = nullptr;
    }
    if (!pRecord) {
        FreeBlock(p, nIndex >= 0);
        return nullptr;
    }
    pRecord->m_bObjFromPool = nIndex < 0 ? 0 : 1;
    return p;
}

void *CObjectBase::operator new(size_t) noexcept {
    Utils_Assert();
    LogModule_Write(LOG_LEVEL_ERR, "Can't get memory user this function.");
    return nullptr;
}

void CObjectBase::operator delete(void *p) noexcept {
    if (!p)
        return;
    uintptr_t uRecord = 0;
    TakeDestroyed(&t_LastObject, p, &uRecord);
    CObjectBasePrivate *pRecord = reinterpret_cast<CObjectBasePrivate *>(uRecord);
    if (!pRecord) {
        Utils_Assert();
        return;
    }
    bool bFromPool = pRecord->m_bObjFromPool != 0;
    delete pRecord;
    FreeBlock(p, bFromPool);
}

// A constructor threw: the record goes back too, whether or not the root constructor had
// adopted it.
void CObjectBase::operator delete(void *p, int nIndex) noexcept {
    Utils_Assert();
    uintptr_t uRecord = 0;
    if (!TakePending(p, &uRecord))
        TakeDestroyed(&t_LastObject, p, &uRecord);
    delete reinterpret_cast<CObjectBasePrivate *>(uRecord);
    FreeBlock(p, nIndex >= 0);
}

}  // namespace Vorezi
