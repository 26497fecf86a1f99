#include "Module/Memory/MemPool.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"

namespace Vorezi {

namespace {

constexpr DWORD kDebugCategory = 12;
constexpr DWORD kDefaultReleaseInterval = 5;

DWORD RoundUp(DWORD dwValue, DWORD dwAlign) {
    return (dwValue + dwAlign - 1) / dwAlign * dwAlign;
}

size_t PowerOfTwoAtLeast(size_t uValue) {
    size_t uPower = MEMPOOL_UNIT_ALIGN;
    while (uPower < uValue)
        uPower <<= 1;
    return uPower;
}

size_t HashSlot(uintptr_t uBase, unsigned uShift, size_t uMask) {
    return (size_t)(((uint64_t)(uBase >> uShift) * 0x9E3779B97F4A7C15ull) >> 32) & uMask;
}

unsigned Log2(size_t uPower) {
    unsigned uShift = 0;
    while (((size_t)1 << uShift) < uPower)
        uShift++;
    return uShift;
}

// ceil(2^64 / d): for any 32-bit n, (n * r) >> 64 is n / d.
uint64_t Reciprocal(DWORD dwDivisor) {
    return (uint64_t)(((unsigned __int128)1 << 64) / dwDivisor) + 1;
}

DWORD DivideBy(uint64_t u64Reciprocal, DWORD dwValue) {
    return (DWORD)(((unsigned __int128)dwValue * u64Reciprocal) >> 64);
}

void SetBit(uint64_t *pWords, DWORD dwBit, bool bOn) {
    if (bOn)
        pWords[dwBit / 64] |= (uint64_t)1 << (dwBit % 64);
    else
        pWords[dwBit / 64] &= ~((uint64_t)1 << (dwBit % 64));
}

bool TestBit(const uint64_t *pWords, DWORD dwBit) {
    return (pWords[dwBit / 64] >> (dwBit % 64)) & 1;
}

}  // namespace

bool CMemPool::BatchFits(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount) {
    uint64_t u64Unit = ((uint64_t)dwMaxMemberSize + MEMPOOL_UNIT_ALIGN - 1) / MEMPOOL_UNIT_ALIGN * MEMPOOL_UNIT_ALIGN +
                       MEMPOOL_BLOCK_HEADER;
    return u64Unit * (dwOnceAllocCount ? dwOnceAllocCount : 1) <= UINT32_MAX;
}

CMemPool::CMemPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount, int bFreeWhenEmpty,
                   int iReleaseInterval)
    : m_pCtrl(GetCoreGlobalCtrl()),
      m_dwMaxAllocCount(dwMaxAllocCount),
      m_dwUnitSize(RoundUp(dwMaxMemberSize, MEMPOOL_UNIT_ALIGN) + MEMPOOL_BLOCK_HEADER),
      m_dwOnceAllocSize(0),
      m_dwOnceAllocCount(dwOnceAllocCount ? dwOnceAllocCount : 1),
      m_bFreeWhenEmpty(bFreeWhenEmpty),
      m_iReleaseInterval(iReleaseInterval == 0 ? (int32_t)kDefaultReleaseInterval : iReleaseInterval),
      m_iReleaseCountDown(m_iReleaseInterval) {
    // A batch size that wraps would give units past the end of their block.
    if (!BatchFits(dwMaxMemberSize, dwOnceAllocCount))
        return;
    m_dwOnceAllocSize = m_dwUnitSize * m_dwOnceAllocCount;
    m_uBlockAlign = PowerOfTwoAtLeast(m_dwOnceAllocSize);
    m_uAlignShift = Log2(m_uBlockAlign);
    m_u64UnitReciprocal = Reciprocal(m_dwUnitSize);
    try {
        m_BlockMap.assign(16, nullptr);
        m_Blocks.reserve(1);
    } catch (const std::bad_alloc &) {
        return;
    }
    m_bInit = 1;
}

CMemPool::~CMemPool() {
    if (!m_bInit)
        return;
    ReleaseAll();
}

int CMemPool::CheckResource() {
    if (!m_bInit)
        SetError(MORVA_ERR_ALLOC);
    return m_bInit;
}

void CMemPool::LinkPartial(Block *pBlock) {
    pBlock->bPartial = true;
    pBlock->pPrevPartial = nullptr;
    pBlock->pNextPartial = m_pPartial;
    if (m_pPartial)
        m_pPartial->pPrevPartial = pBlock;
    m_pPartial = pBlock;
}

void CMemPool::UnlinkPartial(Block *pBlock) {
    if (pBlock->pPrevPartial)
        pBlock->pPrevPartial->pNextPartial = pBlock->pNextPartial;
    else
        m_pPartial = pBlock->pNextPartial;
    if (pBlock->pNextPartial)
        pBlock->pNextPartial->pPrevPartial = pBlock->pPrevPartial;
    pBlock->pPrevPartial = pBlock->pNextPartial = nullptr;
    pBlock->bPartial = false;
}

CMemPool::Block *CMemPool::FindBlockLocked(const char *p) const {
    uintptr_t uBase = (uintptr_t)p & ~(uintptr_t)(m_uBlockAlign - 1);
    size_t uMask = m_BlockMap.size() - 1;
    for (size_t i = HashSlot(uBase, m_uAlignShift, uMask);; i = (i + 1) & uMask) {
        Block *pBlock = m_BlockMap[i];
        if (!pBlock)
            return nullptr;
        if ((uintptr_t)pBlock->pBase == uBase)
            return pBlock;
    }
}

CMemPool::Block *CMemPool::NewBlockRecord() {
    size_t uWords = (m_dwOnceAllocCount + 63) / 64;
    void *p = calloc(1, sizeof(Block) + (uWords - 1) * sizeof(uint64_t));
    return static_cast<Block *>(p);
}

// Takes one batch from the heap and enters it in the tables; null when the heap refuses.
CMemPool::Block *CMemPool::GrowLocked() {
    Block *pBlock = nullptr;
    void *pBase = nullptr;
    try {
        if ((m_Blocks.size() + 1) * 2 > m_BlockMap.size()) {
            std::vector<Block *> map(m_BlockMap.size() * 2, nullptr);
            size_t uMask = map.size() - 1;
            for (Block *pOld : m_Blocks) {
                size_t i = HashSlot((uintptr_t)pOld->pBase, m_uAlignShift, uMask);
                while (map[i])
                    i = (i + 1) & uMask;
                map[i] = pOld;
            }
            m_BlockMap.swap(map);
        }
        m_Blocks.reserve(m_Blocks.size() + 1);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    pBlock = NewBlockRecord();
    if (!pBlock)
        return nullptr;
    if (posix_memalign(&pBase, m_uBlockAlign, m_dwOnceAllocSize) != 0) {
        free(pBlock);
        return nullptr;
    }
    pBlock->pBase = static_cast<char *>(pBase);
    size_t uMask = m_BlockMap.size() - 1;
    size_t i = HashSlot((uintptr_t)pBase, m_uAlignShift, uMask);
    while (m_BlockMap[i])
        i = (i + 1) & uMask;
    m_BlockMap[i] = pBlock;
    m_Blocks.push_back(pBlock);
    m_dwAllocFromSysCount += m_dwOnceAllocCount;
    LinkPartial(pBlock);
    return pBlock;
}

// Removes a block from the address table (backward-shift deletion keeps probe runs intact) and
// returns its memory. The caller takes it out of m_Blocks.
void CMemPool::FreeBlockLocked(Block *pBlock) {
    size_t uMask = m_BlockMap.size() - 1;
    size_t i = HashSlot((uintptr_t)pBlock->pBase, m_uAlignShift, uMask);
    while (m_BlockMap[i] != pBlock)
        i = (i + 1) & uMask;
    m_BlockMap[i] = nullptr;
    for (size_t j = (i + 1) & uMask; m_BlockMap[j]; j = (j + 1) & uMask) {
        size_t uHome = HashSlot((uintptr_t)m_BlockMap[j]->pBase, m_uAlignShift, uMask);
        // Move the entry back when its home is not within the run (i, j].
        bool bStays = (i <= j) ? (i < uHome && uHome <= j) : (i < uHome || uHome <= j);
        if (!bStays) {
            m_BlockMap[i] = m_BlockMap[j];
            m_BlockMap[j] = nullptr;
            i = j;
        }
    }
    if (pBlock->bPartial)
        UnlinkPartial(pBlock);
    m_dwAllocFromSysCount -= m_dwOnceAllocCount;
    free(pBlock->pBase);
    free(pBlock);
}

void *CMemPool::NewAlloc() {
    if (!m_bInit)
        return nullptr;
    char *pAddr = nullptr;
    DWORD dwIndex = 0;
    int iError = MEM_POOL_ERROR_NONE;
    DWORD dwFromSys = 0;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        Block *pBlock = m_pPartial;
        if (!pBlock) {
            if (m_dwAllocFromSysCount >= m_dwMaxAllocCount)
                iError = MEM_POOL_ERROR_NOMOREBUF;
            else if (!(pBlock = GrowLocked()))
                iError = MEM_POOL_ERROR_EXCEPTION;
            if (iError != MEM_POOL_ERROR_NONE) {
                m_iErrorState = iError;
                dwFromSys = m_dwAllocFromSysCount;
            }
        }
        if (pBlock) {
            if (pBlock->pFreeHead) {
                pAddr = static_cast<char *>(pBlock->pFreeHead);
                pBlock->pFreeHead = *reinterpret_cast<void **>(pAddr);
                dwIndex = DivideBy(m_u64UnitReciprocal, (DWORD)(pAddr - pBlock->pBase));
            } else {
                dwIndex = pBlock->dwNextFresh++;
                pAddr = pBlock->pBase + (size_t)dwIndex * m_dwUnitSize;
            }
            SetBit(pBlock->uInUse, dwIndex, true);
            if (++pBlock->dwUsed == m_dwOnceAllocCount)
                UnlinkPartial(pBlock);
            m_dwActualUse++;
        }
    }
    if (iError == MEM_POOL_ERROR_NOMOREBUF) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CMemPool::NewAlloc, MEM_POOL_ERROR_NOMOREBUF", MORVA_PTR_ARG(this));
        Utils_Assert();
        return nullptr;
    }
    if (iError == MEM_POOL_ERROR_EXCEPTION) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CMemPool::NewAlloc(), pAddrToUse == NULL, m_dwAllocFromSysCount[%d]",
                        MORVA_PTR_ARG(this), (int)dwFromSys);
        Utils_Assert();
        return nullptr;
    }
    if (m_pCtrl->IsDebugCategoryEnabled(kDebugCategory))
        LogModule_WriteDebug(kDebugCategory, "[0x%X]CMemPool::NewAlloc, m_dwUnitSize[%d], index[%d], Addr[0x%X]",
                             MORVA_PTR_ARG(this), (int)m_dwUnitSize, (int)dwIndex, MORVA_PTR_ARG(pAddr));
    return pAddr;
}

void CMemPool::DelAlloc(void *lpAddr) {
    if (!lpAddr) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemPool::DelAlloc, lpAddr == NULL");
        return;
    }
    if (!m_bInit)
        return;
    DWORD dwSlot = 0;
    if (!ReturnUnit(lpAddr, &dwSlot)) {
        LogModule_Write(LOG_LEVEL_ERR, "[0x%X]CMemPool::DelAlloc, Memory not Find, lpAddr[0x%X], m_dwUnitSize[%d]",
                        MORVA_PTR_ARG(this), MORVA_PTR_ARG(lpAddr), (int)m_dwUnitSize);
        Utils_Assert();
        return;
    }
    if (m_pCtrl->IsDebugCategoryEnabled(kDebugCategory))
        LogModule_WriteDebug(kDebugCategory, "[0x%X]CMemPool::DelAlloc, Release, dwAllocIndex[%d], Addr[0x%X]",
                             MORVA_PTR_ARG(this), (int)dwSlot, MORVA_PTR_ARG(lpAddr));
}

// Puts a unit back on its batch's free list; false when lpAddr is not the start of a unit this
// pool has handed out (a second free of a unit changes nothing).
bool CMemPool::ReturnUnit(void *lpAddr, DWORD *pdwSlot) {
    const char *p = static_cast<const char *>(lpAddr);
    std::lock_guard<std::mutex> lock(m_Mutex);
    Block *pBlock = FindBlockLocked(p);
    if (!pBlock || p >= pBlock->pBase + m_dwOnceAllocSize)
        return false;
    DWORD dwOffset = (DWORD)(p - pBlock->pBase);
    DWORD dwSlot = DivideBy(m_u64UnitReciprocal, dwOffset);
    if (dwSlot * m_dwUnitSize != dwOffset || !TestBit(pBlock->uInUse, dwSlot))
        return false;
    *pdwSlot = dwSlot;
    SetBit(pBlock->uInUse, dwSlot, false);
    *static_cast<void **>(lpAddr) = pBlock->pFreeHead;
    pBlock->pFreeHead = lpAddr;
    // The batch goes to the front, so the next allocation reuses the unit just freed while its
    // memory is still in the cache.
    pBlock->dwUsed--;
    if (m_pPartial != pBlock) {
        if (pBlock->bPartial)
            UnlinkPartial(pBlock);
        LinkPartial(pBlock);
    }
    if (--m_dwActualUse == 0 && m_bFreeWhenEmpty)
        ReleaseAllLocked();
    return true;
}

DWORD CMemPool::ReleaseIdle() {
    if (!m_bInit)
        return 0;
    std::lock_guard<std::mutex> lock(m_Mutex);
    DWORD dwReleased = 0;
    size_t uKept = 0;
    for (size_t i = 0; i < m_Blocks.size(); i++) {
        Block *pBlock = m_Blocks[i];
        if (pBlock->dwUsed == 0) {
            FreeBlockLocked(pBlock);
            dwReleased += m_dwOnceAllocCount;
        } else {
            m_Blocks[uKept++] = pBlock;
        }
    }
    m_Blocks.resize(uKept);
    return dwReleased;
}

void CMemPool::ReleaseAllLocked() {
    for (Block *pBlock : m_Blocks)
        FreeBlockLocked(pBlock);
    m_Blocks.clear();
    m_pPartial = nullptr;
    m_dwActualUse = 0;
}

void CMemPool::ReleaseAll() {
    if (!m_bInit)
        return;
    std::lock_guard<std::mutex> lock(m_Mutex);
    ReleaseAllLocked();
}

int CMemPool::CheckTimer() {
    if (m_iReleaseInterval <= 0)
        return 0;
    if (__atomic_load_n(&m_iReleaseCountDown, __ATOMIC_ACQUIRE) < 1) {
        __atomic_exchange_n(&m_iReleaseCountDown, m_iReleaseInterval, __ATOMIC_ACQ_REL);
        return 1;
    }
    __atomic_sub_fetch(&m_iReleaseCountDown, 1, __ATOMIC_ACQ_REL);
    return 0;
}

void CMemPool::PrintStatistic(int iMemPoolIndex) {
    LogModule_WriteDebug(kDebugCategory,
                         "[0x%X]CMemPool::PrintStatistic, MemPoolIndex[%d], AllocFromSysCount[%d], ActualUse[%d], "
                         "UnitSize[%d], OnceAllocMemSize[%d], OnceAllocUnitNum[%d]",
                         MORVA_PTR_ARG(this), iMemPoolIndex, (int)GetAllocFromSysCount(), (int)GetActualUse(),
                         (int)m_dwUnitSize, (int)m_dwOnceAllocSize, (int)m_dwOnceAllocCount);
}

DWORD CMemPool::GetActualUse() {
    if (!m_bInit)
        return 0;
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_dwActualUse;
}

DWORD CMemPool::GetAllocFromSysCount() {
    if (!m_bInit)
        return 0;
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_dwAllocFromSysCount;
}

int CMemPool::GetErrorState() {
    if (!m_bInit)
        return m_iErrorState;
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_iErrorState;
}

}  // namespace Vorezi
