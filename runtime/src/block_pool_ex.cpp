// Block memory pool: allocations of varying size cut in sequence out of checked-pool blocks.
#include <cstdio>
#include <new>

#include "internal/report_text.h"
#include "yar/yar_blockpool.h"

namespace yar {

namespace {

// Every allocation starts 16-aligned, like the block it is cut from; a zero size still takes
// one unit so that no two live allocations share an address.
constexpr int32_t kAlign = 16;

int32_t Rounded(int32_t size, int32_t blockSize) {
    const int64_t rounded = (static_cast<int64_t>(size < 1 ? 1 : size) + kAlign - 1) / kAlign * kAlign;
    return rounded > blockSize ? blockSize : static_cast<int32_t>(rounded);
}

}  // namespace

struct CRealMemoryPoolEx::Chunk {
    uint8_t *base;
    uint8_t *cursor;
    int32_t remaining;
    int32_t used;
};

CRealMemoryPoolEx::CRealMemoryPoolEx(uint32_t minBlocks, uint32_t maxBlocks,
                                     int64_t releaseIntervalMs, bool lockFree, int32_t blockSize)
    : m_blocks(blockSize, minBlocks == 0 ? 1 : minBlocks, maxBlocks, nullptr, releaseIntervalMs,
               lockFree),
      m_lockFree(lockFree),
      m_blockSize(blockSize) {
    YAR_MutexCreate(&m_section, 0);
}

CRealMemoryPoolEx::~CRealMemoryPoolEx() {
    try {
        ReportLeaks();
    } catch (...) {
    }
    try {
        ReleaseAll();
    } catch (...) {
    }
    YAR_MutexDestroy(&m_section);
}

std::string CRealMemoryPoolEx::ChunkText(const Chunk &chunk) {
    return internal::ReportText()
        .String("AllocPtr", internal::PointerText(chunk.base))
        .String("IdlePtr", internal::PointerText(chunk.cursor))
        .Number("RemainBytes", chunk.remaining)
        .Number("UsedNum", chunk.used)
        .Take();
}

CRealMemoryPoolEx::Chunk *CRealMemoryPoolEx::NewChunk() {
    auto *base = static_cast<uint8_t *>(m_blocks.Alloc());
    if (!base)
        return nullptr;
    Chunk *chunk = new (std::nothrow) Chunk{base, base, m_blockSize, 0};
    if (!chunk)
        m_blocks.Free(base);
    return chunk;
}

void CRealMemoryPoolEx::ReturnChunk(Chunk *chunk) {
    m_blocks.Free(chunk->base);
    delete chunk;
}

void *CRealMemoryPoolEx::Alloc(int32_t size) {
    if (size < 0 || size > m_blockSize)
        return nullptr;
    const int32_t cut = Rounded(size, m_blockSize);
    yar_guard lock(Section());
    if (!m_current || m_current->remaining < cut) {
        // A chunk that is replaced stays alive through its allocations.
        m_current = NewChunk();
        if (!m_current)
            return nullptr;
    }
    uint8_t *p = m_current->cursor;
    try {
        m_allocations.emplace(p, m_current);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    m_current->cursor += cut;
    m_current->remaining -= cut;
    ++m_current->used;
    m_last = p;
    return p;
}

void CRealMemoryPoolEx::Free(void *p) {
    yar_guard lock(Section());
    auto found = m_allocations.find(p);
    if (found == m_allocations.end())
        return;
    Chunk *chunk = found->second;
    --chunk->used;
    m_allocations.erase(found);
    if (chunk != m_current) {
        if (chunk->used == 0)
            ReturnChunk(chunk);
    } else if (chunk->used == 0) {
        chunk->cursor = chunk->base;
        chunk->remaining = m_blockSize;
    } else if (p == m_last) {
        auto *at = static_cast<uint8_t *>(p);
        chunk->remaining += static_cast<int32_t>(chunk->cursor - at);
        chunk->cursor = at;
    }
}

uint64_t CRealMemoryPoolEx::GetTotalBytes() {
    return m_blocks.GetTotalBytes();
}

uint64_t CRealMemoryPoolEx::GetFreeBytes() {
    yar_guard lock(Section());
    return (m_current ? static_cast<uint64_t>(m_current->remaining) : 0) + m_blocks.GetIdleBytes();
}

void CRealMemoryPoolEx::ReportLeaks() {
    yar_guard lock(Section());
    // An empty current chunk is no leak; it goes back now, and only once.
    if (m_current && m_current->used == 0) {
        ReturnChunk(m_current);
        m_current = nullptr;
    }
    for (const auto &entry : m_allocations)
        std::printf("memory_pool_ex[%p] check memory leaked, Used record: %s\n",
                    static_cast<void *>(this), ChunkText(*entry.second).c_str());
    std::fflush(stdout);
    m_blocks.CheckLeak();
}

void CRealMemoryPoolEx::ReleaseAll() {
    yar_guard lock(Section());
    for (const auto &entry : m_allocations) {
        Chunk *chunk = entry.second;
        if (--chunk->used == 0 && chunk != m_current)
            ReturnChunk(chunk);
    }
    m_allocations.clear();
    if (m_current) {
        ReturnChunk(m_current);
        m_current = nullptr;
    }
}

}  // namespace yar

namespace {

yar::CRealMemoryPoolEx *Impl(YAR_MemoryPoolEx *pool) {
    return pool ? pool->Impl() : nullptr;
}

}  // namespace

extern "C" {

YAR_MemoryPoolEx *YAR_MemoryPoolEx_Create(uint32_t minBlocks, uint32_t maxBlocks,
                                          int64_t releaseIntervalMs, int32_t lockFree,
                                          int32_t blockSize) {
    auto *impl = new (std::nothrow)
        yar::CRealMemoryPoolEx(minBlocks, maxBlocks, releaseIntervalMs, lockFree > 0, blockSize);
    if (!impl)
        return nullptr;
    auto *pool = new (std::nothrow) YAR_MemoryPoolEx(impl);
    if (!pool) {
        delete impl;
        return nullptr;
    }
    impl->Start();
    return pool;
}

void YAR_MemoryPoolEx_Destroy(YAR_MemoryPoolEx *pool) {
    delete pool;
}

void *YAR_MemoryPoolEx_Alloc(YAR_MemoryPoolEx *pool, int32_t size) {
    yar::CRealMemoryPoolEx *impl = Impl(pool);
    return impl ? impl->Alloc(size) : nullptr;
}

void YAR_MemoryPoolEx_Free(YAR_MemoryPoolEx *pool, void *p) {
    if (yar::CRealMemoryPoolEx *impl = Impl(pool))
        impl->Free(p);
}

uint64_t YAR_MemoryPoolEx_GetTotalBytes(YAR_MemoryPoolEx *pool) {
    yar::CRealMemoryPoolEx *impl = Impl(pool);
    return impl ? impl->GetTotalBytes() : 0;
}

uint64_t YAR_MemoryPoolEx_GetFreeBytes(YAR_MemoryPoolEx *pool) {
    yar::CRealMemoryPoolEx *impl = Impl(pool);
    return impl ? impl->GetFreeBytes() : 0;
}

}  // extern "C"
