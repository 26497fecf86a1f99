#include "Module/Memory/MemoryMgr.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogModule.h"
#include "Utils/Utils.h"
#include "yar/yar_time.h"

namespace Vorezi {

namespace {

constexpr DWORD kDebugCategory = 12;
constexpr DWORD kDefaultOnceAllocCount = 8;
constexpr DWORD kDefaultMaxAllocCount = 81920;

MEM_BLOCK_HEADER *HeaderOf(void *pMemory) {
    return reinterpret_cast<MEM_BLOCK_HEADER *>(static_cast<char *>(pMemory) - MEMPOOL_BLOCK_HEADER);
}

}  // namespace

void *NewArray(size_t uSize) {
    void *p = malloc(uSize ? uSize : 1);
    if (!p)
        SetError(MORVA_ERR_ALLOC);
    return p;
}

int DelArray(void *pMemory) {
    free(pMemory);
    return 0;
}

CMemoryMgr::CMemoryMgr() : m_pCtrl(GetCoreGlobalCtrl()) {
    m_pMemPool = static_cast<std::atomic<CMemPool *> *>(NewArray(sizeof(std::atomic<CMemPool *>) * m_dwTotalPoolNum));
    m_pPoolDefine = static_cast<PoolDefine *>(NewArray(sizeof(PoolDefine) * m_dwTotalPoolNum));
    if (m_pMemPool) {
        for (DWORD i = 0; i < m_dwTotalPoolNum; i++)
            new (&m_pMemPool[i]) std::atomic<CMemPool *>(nullptr);
    }
    if (m_pPoolDefine)
        memset(m_pPoolDefine, 0, sizeof(PoolDefine) * m_dwTotalPoolNum);
    if (m_pMemPool && m_pPoolDefine && YAR_MutexCreate(&m_Mutex, 0) == 0) {
        m_bMutexCreated = 1;
        m_bCreated = 1;
        return;
    }
    ReleaseResource();
}

CMemoryMgr::~CMemoryMgr() {
    ReleaseResource();
}

// 1 while the library runs with memory pools; the refusal of each operation asserts where noted.
int CMemoryMgr::UsePools(bool bAssert) {
    if (m_pCtrl->IsUseMemPool())
        return 1;
    if (bAssert)
        Utils_Assert();
    return 0;
}

int CMemoryMgr::CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount,
                                 int bFreeWhenEmpty, int iReleaseInterval) {
    if (!UsePools(true))
        return -1;
    if (dwOnceAllocCount == 0)
        dwOnceAllocCount = kDefaultOnceAllocCount;
    if (dwMaxAllocCount == 0)
        dwMaxAllocCount = kDefaultMaxAllocCount;
    if (!CMemPool::BatchFits(dwMaxMemberSize, dwOnceAllocCount)) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::CreateMemoryPool, Invalid Param, dwMaxMemberSize[%u], dwOnceAllocCount[%u]",
                        (unsigned)dwMaxMemberSize, (unsigned)dwOnceAllocCount);
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    int nIndex = -1;
    if (yar::yar_guard lock(m_bCreated ? &m_Mutex : nullptr); lock.IsLocked()) {
        for (DWORD i = 0; i < m_dwTotalPoolNum; i++) {
            PoolDefine &def = m_pPoolDefine[i];
            if (def.bUsed)
                continue;
            def = PoolDefine{1, dwMaxMemberSize, dwOnceAllocCount, dwMaxAllocCount, (DWORD)(bFreeWhenEmpty ? 1 : 0),
                             iReleaseInterval};
            nIndex = (int)i;
            LogModule_Write(LOG_LEVEL_DBG,
                            "CMemoryMgr::CreateMemoryPool, CMemPool[0x%X], MemPoolIndex[%d], dwMaxMemberSize[%d], "
                            "dwOnceAllocCount[%d], dwMaxAllocCount[%d], iReleaseInterval[%d]s",
                            MORVA_PTR_ARG(&def), nIndex, (int)dwMaxMemberSize, (int)dwOnceAllocCount,
                            (int)dwMaxAllocCount, iReleaseInterval);
            break;
        }
    }
    LogModule_WriteDebug(kDebugCategory,
                         "CMemoryMgr::CreateMemoryPool, nIndex[%d], dwMaxMemberSize[%d], dwOnceAllocCount[%d], "
                         "dwMaxAllocCount[%d], iReleaseInterval[%d]s",
                         nIndex, (int)dwMaxMemberSize, (int)dwOnceAllocCount, (int)dwMaxAllocCount, iReleaseInterval);
    return nIndex;
}

int CMemoryMgr::AllocMemoryPoolByIndex(DWORD dwNeedSize, int nIndex) {
    if (!UsePools(true))
        return 1;
    if (!m_pMemPool || !ValidIndex(nIndex)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CMemoryMgr::AllocMemoryPoolByIndex, Invalid Param, m_pMemPool[0x%X], nIndex[%d], "
                        "m_dwTotalPoolNum[%d]",
                        MORVA_PTR_ARG(m_pMemPool), nIndex, (int)m_dwTotalPoolNum);
        return 0;
    }
    // An index that was never defined gets no pool: its units would have no size.
    if (!m_pMemPool[nIndex].load(std::memory_order_acquire)) {
        yar::yar_guard lock(&m_Mutex);
        const PoolDefine &def = m_pPoolDefine[nIndex];
        if (lock.IsLocked() && def.bUsed && !m_pMemPool[nIndex].load(std::memory_order_relaxed)) {
            CMemPool *pPool = new (std::nothrow) CMemPool(def.dwMaxMemberSize, def.dwOnceAllocCount,
                                                          def.dwMaxAllocCount, (int)def.bFreeWhenEmpty,
                                                          def.iReleaseInterval);
            if (pPool && !pPool->CheckResource()) {
                delete pPool;
                pPool = nullptr;
            }
            if (pPool) {
                m_pMemPool[nIndex].store(pPool, std::memory_order_release);
                LogModule_Write(LOG_LEVEL_DBG,
                                "CMemoryMgr::AllocMemoryPoolByIndex, CMemoryMgr[0x%X], MemPoolIndex[%d], "
                                "MemPool[0x%X], dwMaxMemberSize[%d]",
                                MORVA_PTR_ARG(this), nIndex, MORVA_PTR_ARG(pPool), (int)def.dwMaxMemberSize);
            }
        }
    }
    return m_pMemPool[nIndex].load(std::memory_order_acquire) && CheckAllocSize(dwNeedSize, nIndex) ? 1 : 0;
}

int CMemoryMgr::CheckAllocSize(DWORD dwNeedSize, int nIndex) {
    if (!UsePools(false))
        return 1;
    CMemPool *pPool = GetMemPool(nIndex);
    if (pPool && (uint64_t)pPool->GetUnitSize() >= (uint64_t)dwNeedSize + MEMPOOL_BLOCK_HEADER)
        return 1;
    SetError(MORVA_ERR_ALLOC);
    return 0;
}

CMemPool *CMemoryMgr::GetMemPool(int nIndex) {
    if (!m_pMemPool || !ValidIndex(nIndex))
        return nullptr;
    return m_pMemPool[nIndex].load(std::memory_order_acquire);
}

void *CMemoryMgr::NewMemory(DWORD dwNeedSize, int nIndex) {
    if (!UsePools(true))
        return nullptr;
    if (!m_bCreated || !m_pMemPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::NewMemory, CheckResource Failed or m_pMemPool[0x%X]==NULL",
                        MORVA_PTR_ARG(m_pMemPool));
        return nullptr;
    }
    if (!ValidIndex(nIndex)) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::NewMemory, Invalid Param, nIndex[%d], m_dwTotalPoolNum[0x%X]",
                        nIndex, (unsigned)m_dwTotalPoolNum);
        return nullptr;
    }
    CMemPool *pPool = m_pMemPool[nIndex].load(std::memory_order_acquire);
    if (!pPool) {
        if (!AllocMemoryPoolByIndex(dwNeedSize, nIndex)) {
            LogModule_Write(LOG_LEVEL_ERR,
                            "CMemoryMgr::NewMemory, AllocMemoryPoolByIndex Failed, dwNeedSize[%d], nIndex[0x%X]",
                            (int)dwNeedSize, (unsigned)nIndex);
            return nullptr;
        }
        pPool = m_pMemPool[nIndex].load(std::memory_order_acquire);
    }
    if ((uint64_t)pPool->GetUnitSize() < (uint64_t)dwNeedSize + MEMPOOL_BLOCK_HEADER) {
        SetError(MORVA_ERR_ALLOC);
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::NewMemory, CheckAllocSize Failed, dwNeedSize[%d], nIndex[0x%X]",
                        (int)dwNeedSize, (unsigned)nIndex);
        return nullptr;
    }
    void *pUnit = pPool->NewAlloc();
    if (!pUnit) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::NewMemory, NewAlloc Failed, nIndex[%d], m_pMemPool[0x%X]", nIndex,
                        MORVA_PTR_ARG(m_pMemPool));
        return nullptr;
    }
    void *pMemory = static_cast<char *>(pUnit) + MEMPOOL_BLOCK_HEADER;
    HeaderOf(pMemory)->nIndex = nIndex;
    if (m_pCtrl->IsDebugCategoryEnabled(kDebugCategory))
        LogModule_WriteDebug(kDebugCategory,
                             "CMemoryMgr::NewMemory, nIndex[%d], dwNeedSize[%d], pMemory[0x%X], GetAllocCount[%d]",
                             nIndex, (int)dwNeedSize, MORVA_PTR_ARG(pMemory), (int)pPool->GetAllocFromSysCount());
    return pMemory;
}

void *CMemoryMgr::NewHeapMemory(size_t uNeedSize) {
    if (uNeedSize > SIZE_MAX - MEMPOOL_BLOCK_HEADER)
        return nullptr;
    void *pBlock = NewArray(uNeedSize + MEMPOOL_BLOCK_HEADER);
    if (!pBlock)
        return nullptr;
    void *pMemory = static_cast<char *>(pBlock) + MEMPOOL_BLOCK_HEADER;
    HeaderOf(pMemory)->nIndex = MEM_INDEX_HEAP;
    return pMemory;
}

int CMemoryMgr::DelMemory(void *pMemory) {
    if (!UsePools(true))
        return 1;
    if (!pMemory || !m_pMemPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::DelMemory, Invalid Param, pMemory[0x%X], m_pMemPool[0x%X]",
                        MORVA_PTR_ARG(pMemory), MORVA_PTR_ARG(m_pMemPool));
        return 0;
    }
    MEM_BLOCK_HEADER *pHeader = HeaderOf(pMemory);
    int nIndex = pHeader->nIndex;
    if (m_pCtrl->IsDebugCategoryEnabled(kDebugCategory))
        LogModule_WriteDebug(kDebugCategory, "CMemoryMgr::DelMemory, CMemoryMgr[0x%X], nIndex[%d], pMemory[0x%X]",
                             MORVA_PTR_ARG(this), nIndex, MORVA_PTR_ARG(pMemory));
    if (nIndex == MEM_INDEX_HEAP) {
        pHeader->nIndex = MEM_INDEX_FREED;
        DelArray(pHeader);
        return 1;
    }
    if (!ValidIndex(nIndex)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "CMemoryMgr::DelMemory, Invalid nIndex[%d], m_dwTotalPoolNum[%d], pMemory[0x%X], "
                        "m_pMemPool[0x%X]",
                        nIndex, (int)m_dwTotalPoolNum, MORVA_PTR_ARG(pMemory), MORVA_PTR_ARG(m_pMemPool));
        return 0;
    }
    CMemPool *pPool = m_pMemPool[nIndex].load(std::memory_order_acquire);
    if (!pPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::DelMemory, m_pMemPool[%d] == NULL, pMemory[0x%X], m_pMemPool[0x%X]",
                        nIndex, MORVA_PTR_ARG(pMemory), MORVA_PTR_ARG(m_pMemPool));
        return 0;
    }
    pHeader->nIndex = MEM_INDEX_FREED;
    pPool->DelAlloc(pHeader);
    return 1;
}

int CMemoryMgr::ReleaseMemoryPool(int nIndex) {
    if (!UsePools(true))
        return 0;
    if (!ValidIndex(nIndex) || !m_pMemPool) {
        LogModule_Write(LOG_LEVEL_ERR, "CMemoryMgr::ReleaseMemoryPool, Invalid nIndex[%d], m_dwTotalPoolNum[%d]", nIndex,
                        (int)m_dwTotalPoolNum);
        return 0;
    }
    LogModule_WriteDebug(kDebugCategory, "CMemoryMgr::CreateMemoryPool, nIndex[%d]", nIndex);
    yar::yar_guard lock(&m_Mutex);
    if (!lock.IsLocked())
        return 0;
    m_pPoolDefine[nIndex] = PoolDefine{};
    delete m_pMemPool[nIndex].exchange(nullptr, std::memory_order_acq_rel);
    return 1;
}

void CMemoryMgr::ReleaseAllIdleMemoryPool(int bTimer) {
    uint64_t u64Start = YAR_GetTimeTick();
    ReleaseIdleMemeoryPool(bTimer);
    uint64_t u64Cost = YAR_GetTimeTick() - u64Start;
    if (u64Cost > 1000)
        LogModule_Write(LOG_LEVEL_DBG, "CMemoryMgr::ReleaseAllIdleMemoryPool, bTimer[%d], Coast[%d]ms", bTimer,
                        (int)u64Cost);
}

void CMemoryMgr::ReleaseIdleMemeoryPool(int bTimer) {
    if (!UsePools(false) || !m_bCreated)
        return;
    yar::yar_guard lock(&m_Mutex);
    if (!lock.IsLocked())
        return;
    for (DWORD i = 0; i < m_dwTotalPoolNum; i++) {
        CMemPool *pPool = m_pMemPool[i].load(std::memory_order_relaxed);
        if (!pPool || (bTimer && !pPool->CheckTimer()))
            continue;
        DWORD dwReleased = pPool->ReleaseIdle();
        if (dwReleased)
            LogModule_Write(LOG_LEVEL_DBG,
                            "CMemoryMgr::ReleaseIdleMemeoryPool, index[%d], m_dwTotalPoolNum[%d], dwReleaseCount[%d], "
                            "bTimer[%d]",
                            (int)i, (int)m_dwTotalPoolNum, (int)dwReleased, bTimer);
    }
    for (DWORD i = 0; i < m_dwTotalPoolNum; i++) {
        if (CMemPool *pPool = m_pMemPool[i].load(std::memory_order_relaxed))
            pPool->PrintStatistic((int)i);
    }
}

void CMemoryMgr::ReleaseResource() {
    m_bCreated = 0;
    DelArray(m_pPoolDefine);
    m_pPoolDefine = nullptr;
    if (m_pMemPool) {
        for (DWORD i = 0; i < m_dwTotalPoolNum; i++)
            delete m_pMemPool[i].exchange(nullptr);
        DelArray(m_pMemPool);
        m_pMemPool = nullptr;
    }
    if (m_bMutexCreated) {
        YAR_MutexDestroy(&m_Mutex);
        m_bMutexCreated = 0;
    }
}

}  // namespace Vorezi
