// The asynchronous-I/O manager of the links: one completion queue of the runtime for the whole
// library, the runtime's pre-allocated I/O records, and the table of handle slots that links
// register in.
#pragma once

#include <atomic>
#include <cstdint>

#include "morva/MorvaTypes.h"
#include "yar/yar_asyncio.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CLinkAsyncIO;
struct AsyncDrain;

class CAsyncManager {
public:
    static constexpr DWORD kTotalNum = 81920;
    static constexpr DWORD kCapStep = 128;

    CAsyncManager();
    virtual ~CAsyncManager();
    CAsyncManager(const CAsyncManager &) = delete;
    CAsyncManager &operator=(const CAsyncManager &) = delete;

    DWORD IsInited() const { return m_bInit; }
    YAR_IOQUEUE GetProtocolAsyncIO() const { return m_hAsyncIOQueue; }

    // A slot as the links see it; read and changed only while the slot is locked.
    struct Slot {
        int32_t iHandle;     // its own index while taken, -1 after release
        uint32_t uGeneration;  // raised at every take, so a late completion knows it is late
        CLinkAsyncIO *pObject;
        // Set when a link stopped with operations outstanding: their completions drain into it
        // and the last one releases the slot (the link object may be gone by then).
        AsyncDrain *pDrain;
    };

    // The first free slot by the round-robin cursor, or -1.
    int CreateHandle(CLinkAsyncIO *pObject);
    void DestroyHandle(int iHandle);
    CLinkAsyncIO *GetObjectByHandle(int iHandle);
    Slot *GetAsyncInfo(int iHandle);
    bool LockHandle(int iHandle);
    void UnlockHandle(int iHandle);
    // Frees a locked slot; what DestroyHandle does once it holds the slot.
    void ReleaseLockedSlot(int iHandle);
    DWORD GetCurrentCap() const { return m_dwCurrentCap.load(); }
    int32_t GetCurrentCount() const { return m_dwCurrentCount.load(); }
    // Tests place the cursor to reach the wrap-around without filling the table.
    void SetCursorForTest(uint32_t uIndex) { m_uiCurIndex = uIndex; }

private:
    bool IsTaken(uint32_t uIndex) const {
        return (m_pTaken[uIndex / 64].load(std::memory_order_relaxed) >> (uIndex % 64)) & 1;
    }
    // The first index from uFrom below uEnd whose slot is free, or uEnd.
    uint32_t NextFree(uint32_t uFrom, uint32_t uEnd) const;
    bool MakeSlotMutex(uint32_t uIndex);
    // Written under m_csLock, read by completions on the workers.
    bool SlotMutexExists(uint32_t uIndex) const { return __atomic_load_n(&m_pSlotCreated[uIndex], __ATOMIC_ACQUIRE); }
    bool TakeSlot(uint32_t uIndex, CLinkAsyncIO *pObject);

    DWORD m_bInit = 0;
    YAR_MUTEX_T m_csLock;
    DWORD m_dwTotalNum = kTotalNum;
    uint32_t m_uiCurIndex = 0;
    std::atomic<DWORD> m_dwCurrentCap{kCapStep};
    std::atomic<int32_t> m_dwCurrentCount{0};
    // Zeroed pages from the system: the table costs memory only where slots are used.
    DWORD *m_pSlotCreated = nullptr;
    YAR_MUTEX_T *m_pSlotMutex = nullptr;
    Slot *m_pSlots = nullptr;
    // One bit per slot, set while taken: the search skips runs of taken slots a word at a time.
    std::atomic<uint64_t> *m_pTaken = nullptr;
    YAR_IOQUEUE m_hAsyncIOQueue = nullptr;
};

}  // namespace Vorezi
