// A pool of memory units of one fixed size, taken from the heap a batch at a time and given back
// when every unit of a batch is free. The memory manager keeps one pool per pool index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "morva/MorvaTypes.h"

namespace Vorezi {

class CCoreGlobalCtrlBase;

// Every unit starts with the memory manager's block header. 16 bytes rather than 4 so that the
// caller's memory, and every unit, stays aligned for any object (the pool index sits in the
// header's last 4 bytes).
constexpr DWORD MEMPOOL_BLOCK_HEADER = 16;
constexpr DWORD MEMPOOL_UNIT_ALIGN = 16;

enum {
    MEM_POOL_ERROR_NONE = 0,
    MEM_POOL_ERROR_EXCEPTION = 1,  // the heap refused a batch
    MEM_POOL_ERROR_NOMOREBUF = 3,  // every unit in use and the limit reached
};

class CMemPool {
public:
    CMemPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount, int bFreeWhenEmpty,
             int iReleaseInterval);
    virtual ~CMemPool();
    CMemPool(const CMemPool &) = delete;
    CMemPool &operator=(const CMemPool &) = delete;

    void *NewAlloc();
    void DelAlloc(void *lpAddr);
    // Gives back every batch none of whose units is in use; the number of units released.
    DWORD ReleaseIdle();
    void ReleaseAll();
    // 1 when an idle release is due (a countdown in calls).
    int CheckTimer();
    void PrintStatistic(int iMemPoolIndex);

    DWORD GetUnitSize() const { return m_dwUnitSize; }
    DWORD GetActualUse();
    DWORD GetAllocFromSysCount();
    int GetErrorState();
    int CheckResource();
    // Whether a batch of such units has a size that fits 32 bits (a count of 0 counts as 1).
    static bool BatchFits(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount);

private:
    // One heap block of m_dwOnceAllocCount units. Blocks are aligned to a power of two no smaller
    // than their size, so a unit finds its block from its address alone. Free units are chained
    // through their first bytes; units never handed out yet are taken in address order.
    struct Block {
        char *pBase;
        DWORD dwUsed;
        DWORD dwNextFresh;
        void *pFreeHead;
        Block *pPrevPartial;
        Block *pNextPartial;
        bool bPartial;
        uint64_t uInUse[1];  // one bit per unit; the array runs on past the struct
    };

    Block *NewBlockRecord();
    Block *GrowLocked();
    Block *FindBlockLocked(const char *p) const;
    void FreeBlockLocked(Block *pBlock);
    void LinkPartial(Block *pBlock);
    void UnlinkPartial(Block *pBlock);
    void ReleaseAllLocked();
    bool ReturnUnit(void *lpAddr, DWORD *pdwSlot);

    CCoreGlobalCtrlBase *m_pCtrl;  // never goes away; asked for debug lines on every call
    int m_iErrorState = MEM_POOL_ERROR_NONE;
    // Not recursive: nothing done under it calls back into the pool (errors are logged once it
    // is released), and the plain lock costs less on every allocation.
    std::mutex m_Mutex;
    DWORD m_dwMaxAllocCount;
    DWORD m_dwAllocFromSysCount = 0;
    DWORD m_dwActualUse = 0;
    DWORD m_dwUnitSize;
    DWORD m_dwOnceAllocSize;
    DWORD m_dwOnceAllocCount;
    int m_bInit = 0;
    int m_bFreeWhenEmpty;
    int32_t m_iReleaseInterval;
    int32_t m_iReleaseCountDown;

    size_t m_uBlockAlign = 0;
    unsigned m_uAlignShift = 0;
    uint64_t m_u64UnitReciprocal = 0;  // offset / unit size as a multiplication
    std::vector<Block *> m_Blocks;  // in the order they were taken
    Block *m_pPartial = nullptr;    // blocks with a free unit
    // Open-addressed table from a block's base address to the block.
    std::vector<Block *> m_BlockMap;
};

}  // namespace Vorezi
