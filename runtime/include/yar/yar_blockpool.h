/* Block memory pools. yar::CRealMemoryPool hands out checked blocks of one size, keeps freed
 * blocks for reuse and releases blocks idle longer than its release interval. YAR_MemoryPoolEx
 * cuts allocations of varying size out of such blocks. Both report blocks and allocations still
 * in use on the standard output when they are destroyed.
 *
 * Every block and allocation is 16-byte aligned: a block has a 16-byte header whose last four
 * bytes are the guard word, and allocations are cut in multiples of 16 bytes. */
#ifndef YAR_BLOCKPOOL_H
#define YAR_BLOCKPOOL_H

#include "yar_base.h"

typedef struct YAR_MemoryPoolEx YAR_MemoryPoolEx;

YAR_BEGIN_DECLS

/* A minimum of 0 means 1; a negative release interval never releases idle blocks, and only then
 * does a lock-free request (> 0) take effect for the blocks. Null when memory is short. */
YAR_MemoryPoolEx *YAR_MemoryPoolEx_Create(uint32_t minBlocks, uint32_t maxBlocks,
                                          int64_t releaseIntervalMs, int32_t lockFree,
                                          int32_t blockSize);
void YAR_MemoryPoolEx_Destroy(YAR_MemoryPoolEx *pool);
/* Null for a size above the block size or when no block can be had. */
void *YAR_MemoryPoolEx_Alloc(YAR_MemoryPoolEx *pool, int32_t size);
/* Null and unknown pointers are ignored. */
void YAR_MemoryPoolEx_Free(YAR_MemoryPoolEx *pool, void *p);
/* Blocks held (used and idle) times the block size; 0 for null. */
uint64_t YAR_MemoryPoolEx_GetTotalBytes(YAR_MemoryPoolEx *pool);
/* What can be handed out without growing: the current block's rest plus the idle blocks. */
uint64_t YAR_MemoryPoolEx_GetFreeBytes(YAR_MemoryPoolEx *pool);

YAR_END_DECLS

#ifdef __cplusplus
#include <list>
#include <string>
#include <unordered_map>

#include "yar_alarm.h"
#include "yar_mutex.h"

namespace yar {

class CRealMemoryPool {
public:
    /* The owner is ignored. The maximum is at least the minimum. */
    CRealMemoryPool(int32_t blockSize, uint32_t minCount, uint32_t maxCount, void *owner,
                    int64_t releaseIntervalMs, bool noLock);
    virtual ~CRealMemoryPool();
    CRealMemoryPool(const CRealMemoryPool &) = delete;
    CRealMemoryPool &operator=(const CRealMemoryPool &) = delete;

    /* Makes the minimum blocks and starts the release thread when releasing; false when that
     * thread could not start. */
    bool Start();
    void *Alloc();
    void Free(void *p);
    uint64_t GetTotalBytes();
    uint64_t GetIdleBytes();
    /* Ends the release checks for good, then writes one line per block still in use. */
    void CheckLeak();
    void Clear();
    /* Off at construction: every free then checks and repairs the guard words. */
    void SetGuardCheck(bool on) { m_guardCheck = on; }
    int32_t BlockSize() const { return m_blockSize; }

private:
    struct Block;
    Block *NewBlock();
    static void DeleteBlock(Block *block);
    static void ReleaseCheck(CAlarmClock *clock, int32_t id, void *self);
    void ReleaseIdle();
    bool GuardsIntact(const Block &block) const;
    void WriteGuards(Block &block);
    std::string BlockText(const Block &block) const;
    YAR_MUTEX_T *Section() { return m_noLock ? nullptr : &m_section; }

    const int32_t m_blockSize;
    const uint32_t m_minCount;
    const uint32_t m_maxCount;
    bool m_guardCheck = false;
    const int64_t m_releaseInterval;
    const bool m_noLock;
    CAlarmClock m_clock;
    YAR_MUTEX_T m_section;
    std::list<Block *> m_idle; /* front: freed last; back: idle longest */
    std::unordered_map<void *, Block *> m_used;
    /* 0 no release pending, 1 a release is wanted, 2 an alarm is set */
    int32_t m_releaseState;
};

class CRealMemoryPoolEx {
public:
    CRealMemoryPoolEx(uint32_t minBlocks, uint32_t maxBlocks, int64_t releaseIntervalMs,
                      bool lockFree, int32_t blockSize);
    virtual ~CRealMemoryPoolEx();
    CRealMemoryPoolEx(const CRealMemoryPoolEx &) = delete;
    CRealMemoryPoolEx &operator=(const CRealMemoryPoolEx &) = delete;

    bool Start() { return m_blocks.Start(); }
    void *Alloc(int32_t size);
    void Free(void *p);
    uint64_t GetTotalBytes();
    uint64_t GetFreeBytes();
    CRealMemoryPool &Blocks() { return m_blocks; }

private:
    struct Chunk;
    Chunk *NewChunk();
    void ReturnChunk(Chunk *chunk);
    void ReportLeaks();
    void ReleaseAll();
    static std::string ChunkText(const Chunk &chunk);
    YAR_MUTEX_T *Section() { return m_lockFree ? nullptr : &m_section; }

    CRealMemoryPool m_blocks;
    const bool m_lockFree;
    const int32_t m_blockSize;
    YAR_MUTEX_T m_section;
    void *m_last = nullptr;
    Chunk *m_current = nullptr;
    std::unordered_map<void *, Chunk *> m_allocations;
};

}  // namespace yar

struct YAR_MemoryPoolEx {
    explicit YAR_MemoryPoolEx(yar::CRealMemoryPoolEx *impl) : m_impl(impl) {}
    virtual ~YAR_MemoryPoolEx() { delete m_impl; }
    YAR_MemoryPoolEx(const YAR_MemoryPoolEx &) = delete;
    YAR_MemoryPoolEx &operator=(const YAR_MemoryPoolEx &) = delete;
    yar::CRealMemoryPoolEx *Impl() { return m_impl; }

private:
    yar::CRealMemoryPoolEx *m_impl;
};
#endif

#endif
