#include "Module/Member/MemberBase.h"

#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Module/Memory/MemoryMgr.h"
#include "Utils/Utils.h"

namespace Vorezi {

namespace {

constexpr DWORD kSearchWindowStep = 16;
constexpr int kSmallObjectPoolKind = 0;
}  // namespace

static_assert(sizeof(CMemberBasePrivate) <= 32, "member private parts live in the 32-byte pool");

// ---- CMemberBase ----

CMemberBase::CMemberBase() {
    try {
        m_pPrivate = new (GetCoreGlobalCtrl()->GetDefaultMemPoolIndex(kSmallObjectPoolKind)) CMemberBasePrivate();
    } catch (...) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberBase::CMemberBase, new CMemberBasePrivate exception!!");
        SetError(MORVA_ERR_ALLOC);
    }
    if (!m_pPrivate) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberBase::CMemberBase, new CMemberBasePrivate Failed");
        Utils_Assert();
    }
}

CMemberBase::~CMemberBase() {
    delete m_pPrivate;
}

int CMemberBase::CheckResource() {
    if (m_pPrivate)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "CMemberBase::CheckResource, Failed, m_pPrivate[0x%X]", MORVA_PTR_ARG(m_pPrivate));
    return 0;
}

int CMemberBase::Start(void *) {
    return 0;
}

int CMemberBase::Stop() {
    return 0;
}

int CMemberBase::GetMemberIndex() {
    return m_pPrivate ? m_pPrivate->m_iMemberIndex : -1;
}

int CMemberBase::SetMemberIndex(int iIndex) {
    if (!m_pPrivate)
        return 0;
    m_pPrivate->m_iMemberIndex = iIndex;
    return 1;
}

// ---- the table ----

class CMemberMgrBasePrivate : public CObjectBasePrivate {
public:
    explicit CMemberMgrBasePrivate(unsigned uiTotalNum);
    ~CMemberMgrBasePrivate() override;

    int AllocMemory();
    void FreeMemory();
    // Stops and deletes the slot's member under its write lock; false when the slot was empty.
    bool FreeSlot(DWORD i, int bStop);
    void SetStartFlag(int bStart) { m_bStart = bStart; }

    DWORD m_dwTotalNum;
    std::atomic<CMemberBase *> *m_pMember = nullptr;
    int m_bInit = 0;
    std::atomic<int32_t> m_dwCurrNum{0};
    YAR_MUTEX_T m_Mutex;
    DWORD m_dwCursor = 0;
    DWORD m_dwWindow;
    std::atomic<CRWLock *> *m_pMemberLock = nullptr;
    std::atomic<int> *m_pbMemberLock = nullptr;
    int m_bStart = 1;
    int32_t m_iMemPoolIndex = -1;
    std::atomic<int> m_iDefaultWait{0};
};

template <typename T>
T *NewAtomicArray(DWORD dwCount) {
    T *p = static_cast<T *>(NewArray(sizeof(T) * dwCount));
    if (p) {
        for (DWORD i = 0; i < dwCount; i++)
            new (&p[i]) T();
    }
    return p;
}

CMemberMgrBasePrivate::CMemberMgrBasePrivate(unsigned uiTotalNum)
    : m_dwTotalNum(uiTotalNum), m_dwWindow(uiTotalNum < kSearchWindowStep ? uiTotalNum : kSearchWindowStep) {
    if (YAR_MutexCreate(&m_Mutex, 0) != 0)
        return;
    if (!AllocMemory()) {
        YAR_MutexDestroy(&m_Mutex);
        return;
    }
    m_bInit = 1;
}

int CMemberMgrBasePrivate::AllocMemory() {
    m_pMember = NewAtomicArray<std::atomic<CMemberBase *>>(m_dwTotalNum);
    if (!m_pMember) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBasePrivate::AllocMemory, New m_pMember Failed, m_dwTotalNum[%d]",
                        (int)m_dwTotalNum);
        return 0;
    }
    m_pMemberLock = NewAtomicArray<std::atomic<CRWLock *>>(m_dwTotalNum);
    if (!m_pMemberLock) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBasePrivate::AllocMemory, New m_pMemberLock Failed, m_dwTotalNum[%d]",
                        (int)m_dwTotalNum);
        FreeMemory();
        return 0;
    }
    m_pbMemberLock = NewAtomicArray<std::atomic<int>>(m_dwTotalNum);
    if (!m_pbMemberLock) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBasePrivate::AllocMemory, New m_pbMemberLock Failed, m_dwTotalNum[%d]",
                        (int)m_dwTotalNum);
        FreeMemory();
        return 0;
    }
    return 1;
}

void CMemberMgrBasePrivate::FreeMemory() {
    if (m_pMemberLock) {
        for (DWORD i = 0; i < m_dwTotalNum; i++)
            delete m_pMemberLock[i].load();
    }
    DelArray(m_pMember);
    DelArray(m_pMemberLock);
    DelArray(m_pbMemberLock);
    m_pMember = nullptr;
    m_pMemberLock = nullptr;
    m_pbMemberLock = nullptr;
}

bool CMemberMgrBasePrivate::FreeSlot(DWORD i, int bStop) {
    CRWLock *pLock = m_pMemberLock[i].load(std::memory_order_acquire);
    if (!pLock || !pLock->WriteLock())
        return false;
    CMemberBase *pMember = m_pMember[i].load(std::memory_order_acquire);
    if (pMember) {
        if (bStop)
            pMember->Stop();
        delete pMember;
        m_pMember[i].store(nullptr, std::memory_order_release);
        m_dwCurrNum.fetch_sub(1);
    }
    pLock->WriteUnlock();
    return pMember != nullptr;
}

CMemberMgrBasePrivate::~CMemberMgrBasePrivate() {
    if (m_bInit) {
        for (DWORD i = 0; i < m_dwTotalNum; i++)
            FreeSlot(i, 1);
        FreeMemory();
        YAR_MutexDestroy(&m_Mutex);
        m_bInit = 0;
    }
    if (m_iMemPoolIndex >= 0) {
        if (CMemoryMgr *pMgr = GetMemoryMgr())
            pMgr->ReleaseMemoryPool(m_iMemPoolIndex);
        m_iMemPoolIndex = -1;
    }
}

// ---- CMemberMgrBase ----

CMemberMgrBase::CMemberMgrBase(unsigned uiTotalNum) {
    m_pPrivate = new (-1) CMemberMgrBasePrivate(uiTotalNum);
    if (!m_pPrivate) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::CMemberMgrBase, New CMemberMgrBasePrivate Failed, uiTotalNum[%d]",
                        (int)uiTotalNum);
        Utils_Assert();
    }
}

CMemberMgrBase::~CMemberMgrBase() {
    delete m_pPrivate;
}

int CMemberMgrBase::CheckResource() {
    return m_pPrivate ? m_pPrivate->m_bInit : 0;
}

void CMemberMgrBase::SetStartFlag(int bStart) {
    if (m_pPrivate)
        m_pPrivate->SetStartFlag(bStart);
}

int CMemberMgrBase::CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount,
                                     int bFreeWhenEmpty, int iReleaseInterval) {
    if (!GetCoreGlobalCtrl()->IsUseMemPool())
        return 1;
    if (!m_pPrivate)
        return 0;
    if (dwMaxMemberSize == 0)
        return 1;
    CMemoryMgr *pMgr = GetMemoryMgr();
    if (!pMgr)
        return 0;
    int nIndex = pMgr->CreateMemoryPool(dwMaxMemberSize, dwOnceAllocCount, dwMaxAllocCount, bFreeWhenEmpty,
                                        iReleaseInterval);
    if (nIndex < 0)
        return 0;
    m_pPrivate->m_iMemPoolIndex = nIndex;
    return 1;
}

int CMemberMgrBase::GetMemPoolIndex() {
    return m_pPrivate ? m_pPrivate->m_iMemPoolIndex : -1;
}

CMemberBase *CMemberMgrBase::GetMember(int iIndex) {
    if (!CheckResource() || iIndex < 0 || (DWORD)iIndex >= m_pPrivate->m_dwTotalNum)
        return nullptr;
    return m_pPrivate->m_pMember[iIndex].load(std::memory_order_acquire);
}

unsigned CMemberMgrBase::GetTotalNum() {
    return CheckResource() ? m_pPrivate->m_dwTotalNum : 0;
}

unsigned CMemberMgrBase::GetCurrNum() {
    return CheckResource() ? (unsigned)m_pPrivate->m_dwCurrNum.load() : 0;
}

int CMemberMgrBase::IsFull() {
    if (!CheckResource())
        return 1;
    return (DWORD)m_pPrivate->m_dwCurrNum.load() >= m_pPrivate->m_dwTotalNum ? 1 : 0;
}

int CMemberMgrBase::GetWaitTime() {
    const DWORD dwTotal = GetTotalNum();
    const DWORD dwUsed = GetCurrNum();
    if (dwTotal && dwUsed > dwTotal / 2) {
        if (dwUsed >= dwTotal)
            return 100;
        if (dwUsed >= 9 * dwTotal / 10)
            return 25;
        if (dwUsed >= 8 * dwTotal / 10)
            return 15;
        if (dwUsed >= 7 * dwTotal / 10)
            return 5;
    }
    return m_pPrivate ? m_pPrivate->m_iDefaultWait.load() : 0;
}

void CMemberMgrBase::SetDefaultWaitTime(int iWait) {
    if (m_pPrivate)
        m_pPrivate->m_iDefaultWait.exchange(iWait);
}

// Next fit from where the last search stopped, inside a window that starts at 16 slots and grows
// by 16 only while every slot in it is in use. Runs under the allocation mutex. A search restarts
// at most once, so a table that filled up meanwhile ends the search instead of looping.
int CMemberMgrBase::SearchFreeSlot() {
    CMemberMgrBasePrivate *p = m_pPrivate;
    bool bRestarted = false;
    for (DWORD i = 0; i < p->m_dwWindow;) {
        DWORD dwCandidate = p->m_dwCursor++;
        if (p->m_dwCursor >= p->m_dwWindow) {
            bool bWrap = (DWORD)p->m_dwCurrNum.load() < p->m_dwWindow || p->m_dwWindow >= p->m_dwTotalNum;
            if (!bWrap) {
                p->m_dwWindow += kSearchWindowStep;
                if (p->m_dwWindow > p->m_dwTotalNum)
                    p->m_dwWindow = p->m_dwTotalNum;
            } else {
                p->m_dwCursor = 0;
                if (i == p->m_dwWindow - 1 && !bRestarted) {
                    bRestarted = true;
                    i = 0;
                }
            }
        }
        if (dwCandidate < p->m_dwTotalNum && !p->m_pMember[dwCandidate].load(std::memory_order_relaxed))
            return (int)dwCandidate;
        i++;
    }
    return -1;
}

int CMemberMgrBase::AllocIndex(CMemberBase *pMember) {
    if (!CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex, CheckResource Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    if (IsFull()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex, IsFull Failed");
        SetError(MORVA_ERR_MEMBER_FULL);
        return -1;
    }
    CMemberMgrBasePrivate *p = m_pPrivate;
    yar::yar_guard lock(&p->m_Mutex);
    if (!lock.IsLocked())
        return -1;
    int iIndex = SearchFreeSlot();
    if (iIndex >= 0 && !p->m_pbMemberLock[iIndex].load(std::memory_order_acquire)) {
        CRWLock *pLock = new (std::nothrow) CRWLock;
        if (pLock && !pLock->CheckInit()) {
            delete pLock;
            pLock = nullptr;
        }
        if (pLock) {
            p->m_pMemberLock[iIndex].store(pLock, std::memory_order_release);
            p->m_pbMemberLock[iIndex].store(1, std::memory_order_release);
        } else {
            SetError(MORVA_ERR_ALLOC);
            iIndex = -1;
        }
    }
    if (iIndex >= 0) {
        p->m_dwCurrNum.fetch_add(1);
        p->m_pMember[iIndex].store(pMember, std::memory_order_release);
    } else {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMemberMgrBase::AllocIndex, Failed, m_dwTotalNum[%d], m_dwCurrNum[%d]",
                        p->m_iMemPoolIndex, (int)p->m_dwTotalNum, (int)p->m_dwCurrNum.load());
    }
    return iIndex;
}

int CMemberMgrBase::AllocIndex2(void *pCreateParam, void *pStartParam) {
    if (!CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex2, CheckResource Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    if (IsFull()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex2, IsFull Failed, dwTotalNum[%d]",
                        (int)m_pPrivate->m_dwTotalNum);
        SetError(MORVA_ERR_MEMBER_FULL);
        return -1;
    }
    CMemberBase *pMember = NewMemoryObject(pCreateParam);
    if (!pMember) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex2, NewMemoryObject Failed");
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    int iIndex = AllocIndex(pMember);
    if (iIndex < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::AllocIndex2, AllocIndex Failed");
        delete pMember;
        SetError(MORVA_ERR_ALLOC);
        return -1;
    }
    int bStarted = 0;
    if (!WriteLockMember(iIndex)) {
        Utils_Assert();
    } else {
        CMemberBase *pSlot = GetMember(iIndex);
        if (!pSlot) {
            Utils_Assert();
        } else if (m_pPrivate->m_bStart) {
            pSlot->SetMemberIndex(iIndex);
            bStarted = pSlot->Start(pStartParam) ? 1 : 0;
        } else {
            bStarted = 1;
        }
        WriteUnlockMember(iIndex);
    }
    if (bStarted)
        return iIndex;
    FreeIndex(iIndex, 0);
    return -1;
}

int CMemberMgrBase::FreeIndex(int iIndex, int bStop) {
    if (!CheckResource()) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::FreeIndex, CheckResource Failed, iIndex[%d]", iIndex);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (m_pPrivate->m_dwCurrNum.load() == 0) {
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    if (iIndex < 0 || (DWORD)iIndex >= m_pPrivate->m_dwTotalNum) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemberMgrBase::FreeIndex, Invalid iIndex[%d]", iIndex);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (!LockMember(iIndex, LOCK_WRITE))
        return 0;
    // The write lock is held here, so FreeSlot's own WriteLock re-enters it on this thread.
    bool bFreed = m_pPrivate->FreeSlot((DWORD)iIndex, bStop);
    WriteUnlockMember(iIndex);
    if (!bFreed) {
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    return 1;
}

CRWLock *CMemberMgrBase::SlotLock(int iIndex) {
    if (!CheckResource() || iIndex < 0 || (DWORD)iIndex >= m_pPrivate->m_dwTotalNum ||
        !m_pPrivate->m_pbMemberLock[iIndex].load(std::memory_order_acquire))
        return nullptr;
    return m_pPrivate->m_pMemberLock[iIndex].load(std::memory_order_acquire);
}

// The failure codes are checked in a fixed order; only an index at the capacity differs between
// reading (17) and writing (46).
int CMemberMgrBase::LockMember(int iIndex, LockKind eKind) {
    if (!m_pPrivate) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    int iCode = 0;
    if (m_pPrivate->m_dwCurrNum.load() == 0)
        iCode = MORVA_ERR_NOT_READY;
    else if (iIndex < 0)
        iCode = MORVA_ERR_PARAM;
    else if ((DWORD)iIndex >= m_pPrivate->m_dwTotalNum)
        iCode = eKind == LOCK_READ ? MORVA_ERR_PARAM : MORVA_ERR_MEMBER_FULL;
    else if (!m_pPrivate->m_bInit)
        iCode = MORVA_ERR_ALLOC;
    if (iCode) {
        SetError(iCode);
        return 0;
    }
    CRWLock *pLock = SlotLock(iIndex);
    if (!pLock) {
        SetError(MORVA_ERR_NOT_READY);
        return 0;
    }
    if (!(eKind == LOCK_READ ? pLock->ReadLock() : pLock->WriteLock())) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    return 1;
}

int CMemberMgrBase::ReadLockMember(int iIndex) {
    return LockMember(iIndex, LOCK_READ);
}

int CMemberMgrBase::WriteLockMember(int iIndex) {
    return LockMember(iIndex, LOCK_WRITE);
}

// Unlocks and the try-lock set no code of their own beyond a missing private part.
int CMemberMgrBase::CallSlotLock(int iIndex, int (CRWLock::*fnCall)()) {
    if (!m_pPrivate) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    CRWLock *pLock = SlotLock(iIndex);
    return pLock ? (pLock->*fnCall)() : 0;
}

int CMemberMgrBase::ReadUnlockMember(int iIndex) {
    return CallSlotLock(iIndex, &CRWLock::ReadUnlock);
}

int CMemberMgrBase::TryWriteLockMember(int iIndex) {
    return CallSlotLock(iIndex, &CRWLock::TryWriteLock);
}

int CMemberMgrBase::WriteUnlockMember(int iIndex) {
    return CallSlotLock(iIndex, &CRWLock::WriteUnlock);
}

}  // namespace Vorezi
