// The member framework: a manager keeps live objects of one kind in a fixed table and hands out
// their slot indexes as handles. Every slot has its own reader/writer lock, so one thread can use
// a member while another waits to delete it.
//
// Safe calling order for a user of a handle:
//
//   if (!pMgr->ReadLockMember(iHandle)) return;      // 1. lock the slot
//   CMemberBase *p = pMgr->GetMember(iHandle);       // 2. look the member up under the lock
//   if (p) { ...use p... }                           // 3. use it; null means it was freed
//   pMgr->ReadUnlockMember(iHandle);
//
// GetMember takes no lock: looking up first and locking afterwards lets FreeIndex delete the
// member in between. Changing or removing a member takes the write lock (WriteLockMember, or
// FreeIndex, which waits for every reader of the slot).
#pragma once

#include <atomic>
#include <cstdint>

#include "Module/Memory/ObjectBase.h"
#include "Module/Member/RWLock.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CMemberBasePrivate : public CObjectBasePrivate {
public:
    int32_t m_iMemberIndex = -1;
};

class CMemberBase : public CObjectBase {
public:
    CMemberBase();
    ~CMemberBase() override;

    virtual int CheckResource();
    // Every member class overrides these; nonzero from Start is success.
    virtual int Start(void *pParam);
    virtual int Stop();

    int GetMemberIndex();
    int SetMemberIndex(int iIndex);

private:
    CMemberBasePrivate *m_pPrivate = nullptr;
};

class CMemberMgrBasePrivate;

class CMemberMgrBase {
public:
    explicit CMemberMgrBase(unsigned uiTotalNum);
    virtual ~CMemberMgrBase();
    CMemberMgrBase(const CMemberMgrBase &) = delete;
    CMemberMgrBase &operator=(const CMemberMgrBase &) = delete;

    virtual int CheckResource();
    // The derived manager creates one member from a creation parameter, or null.
    virtual CMemberBase *NewMemoryObject(void *pParam) = 0;

    int CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount, int bFreeWhenEmpty,
                         int iReleaseInterval);
    int GetMemPoolIndex();

    // Places an existing member in a free slot: its index, or -1.
    int AllocIndex(CMemberBase *pMember);
    // Creates, places and starts a member: its index, or -1 (the member is then deleted).
    int AllocIndex2(void *pCreateParam, void *pStartParam);
    // Stops (when bStop is nonzero) and deletes the member and frees its slot.
    int FreeIndex(int iIndex, int bStop);
    // The slot's member without any lock: see the calling order above.
    CMemberBase *GetMember(int iIndex);
    unsigned GetTotalNum();
    unsigned GetCurrNum();
    int IsFull();
    // Accept back-off in ms: grows as the table fills past 70, 80, 90 and 100 % (5, 15, 25,
    // 100); below that, or at half or less, the default wait (0 until set).
    int GetWaitTime();
    void SetDefaultWaitTime(int iWait);

    int ReadLockMember(int iIndex);
    int ReadUnlockMember(int iIndex);
    int WriteLockMember(int iIndex);
    int TryWriteLockMember(int iIndex);
    int WriteUnlockMember(int iIndex);

protected:
    // Whether a newly allocated member gets its index and its Start call (on by default).
    void SetStartFlag(int bStart);

private:
    enum LockKind { LOCK_READ, LOCK_WRITE };
    CRWLock *SlotLock(int iIndex);
    int LockMember(int iIndex, LockKind eKind);
    int CallSlotLock(int iIndex, int (CRWLock::*fnCall)());
    int SearchFreeSlot();

    CMemberMgrBasePrivate *m_pPrivate = nullptr;
};

}  // namespace Vorezi
