// The core library's one table of fixed-unit memory pools, by pool index, and its plain heap
// allocation. Every block handed out carries a 16-byte header whose last 4 bytes hold the index
// of the pool it came from (MEM_INDEX_HEAP for a heap block, MEM_INDEX_FREED once returned).
#pragma once

#include <atomic>
#include <cstdint>

#include "Module/Memory/MemPool.h"
#include "morva/MorvaTypes.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

class CCoreGlobalCtrlBase;

constexpr DWORD MEMORY_MGR_POOL_NUM = 2048;
constexpr int MEM_INDEX_HEAP = -1;
constexpr int MEM_INDEX_FREED = -2;

struct MEM_BLOCK_HEADER {
    BYTE byRes[MEMPOOL_BLOCK_HEADER - sizeof(int32_t)];
    int32_t nIndex;
};
static_assert(sizeof(MEM_BLOCK_HEADER) == MEMPOOL_BLOCK_HEADER, "the index sits in the header's last 4 bytes");

// Heap allocation that gives null (and core error 41) instead of throwing.
void *NewArray(size_t uSize);
int DelArray(void *pMemory);

class CMemoryMgr {
public:
    CMemoryMgr();
    virtual ~CMemoryMgr();
    CMemoryMgr(const CMemoryMgr &) = delete;
    CMemoryMgr &operator=(const CMemoryMgr &) = delete;

    // A free index defined with these values, or -1. No memory is taken until the first use.
    int CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount, int bFreeWhenEmpty,
                         int iReleaseInterval);
    int AllocMemoryPoolByIndex(DWORD dwNeedSize, int nIndex);
    int CheckAllocSize(DWORD dwNeedSize, int nIndex);
    void *NewMemory(DWORD dwNeedSize, int nIndex);
    // A block whose size no pool serves: a heap block with the heap mark in its header, which
    // DelMemory returns to the heap.
    void *NewHeapMemory(size_t uNeedSize);
    int DelMemory(void *pMemory);
    int ReleaseMemoryPool(int nIndex);
    void ReleaseAllIdleMemoryPool(int bTimer);
    void ReleaseIdleMemeoryPool(int bTimer);
    DWORD IsCreated() const { return m_bCreated; }
    void ReleaseResource();

    // The pool built for an index (null while it is only defined); for statistics and tests.
    CMemPool *GetMemPool(int nIndex);

private:
    struct PoolDefine {
        DWORD bUsed;
        DWORD dwMaxMemberSize;
        DWORD dwOnceAllocCount;
        DWORD dwMaxAllocCount;
        DWORD bFreeWhenEmpty;
        int32_t iReleaseInterval;
    };

    static bool ValidIndex(int nIndex) { return nIndex >= 0 && nIndex < (int)MEMORY_MGR_POOL_NUM; }
    int UsePools(bool bAssert);

    // The controller never goes away; asked on every allocation.
    CCoreGlobalCtrlBase *m_pCtrl;
    DWORD m_bCreated = 0;
    YAR_MUTEX_T m_Mutex;
    DWORD m_bMutexCreated = 0;
    // Read without the manager mutex on the allocation path.
    std::atomic<CMemPool *> *m_pMemPool = nullptr;
    PoolDefine *m_pPoolDefine = nullptr;
    DWORD m_dwTotalPoolNum = MEMORY_MGR_POOL_NUM;
};

}  // namespace Vorezi
