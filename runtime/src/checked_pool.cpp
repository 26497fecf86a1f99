// Checked memory pool: fixed-size blocks between guard words, reused from an idle list and
// released by an alarm once idle longer than the release interval.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "internal/report_text.h"
#include "yar/yar_blockpool.h"
#include "yar/yar_time.h"

namespace yar {

namespace {

constexpr uint8_t kGuardByte = 0x16;
constexpr size_t kGuardSize = 4;
// The guard word sits in the last four bytes of the header, so the user area stays 16-aligned.
constexpr size_t kHeaderSize = 16;
constexpr int32_t kReleaseAlarm = 1;

// A tick in milliseconds as local wall-clock time text.
std::string TickText(uint64_t tickMs) {
    const int64_t wallUs = YAR_TimeNow() - static_cast<int64_t>(YAR_GetTimeTickUs()) +
                           static_cast<int64_t>(tickMs) * 1000;
    struct tm local = {};
    if (YAR_LocalTimeSeconds(&local, wallUs / 1000000) != 0)
        return "";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(wallUs / 1000 % 1000));
    return text;
}

std::string GuardText(const uint8_t *guard) {
    std::string text;
    char byte[8];
    for (size_t i = 0; i < kGuardSize; ++i) {
        std::snprintf(byte, sizeof byte, " 0x%x", guard[i]);
        text += byte;
    }
    return text;
}

}  // namespace

struct CRealMemoryPool::Block {
    int32_t size;
    uint8_t *raw;
    uint8_t *user;
    bool used;
    uint32_t lastThreadId;
    uint64_t createTime;
    uint64_t lastTime;

    uint8_t *HeadGuard() const { return user - kGuardSize; }
    uint8_t *TailGuard() const { return user + size; }
};

CRealMemoryPool::CRealMemoryPool(int32_t blockSize, uint32_t minCount, uint32_t maxCount, void *,
                                 int64_t releaseIntervalMs, bool noLock)
    : m_blockSize(blockSize),
      m_minCount(minCount),
      m_maxCount(maxCount < minCount ? minCount : maxCount),
      m_releaseInterval(releaseIntervalMs),
      m_noLock(noLock && releaseIntervalMs < 0),
      m_releaseState(releaseIntervalMs < 0 ? 2 : 0) {
    YAR_MutexCreate(&m_section, 0);
}

CRealMemoryPool::~CRealMemoryPool() {
    // No release check may run while the blocks go.
    m_clock.Stop();
    Clear();
    YAR_MutexDestroy(&m_section);
}

CRealMemoryPool::Block *CRealMemoryPool::NewBlock() {
    if (m_blockSize <= 0)
        return nullptr;
    Block *block = new (std::nothrow) Block{};
    if (!block)
        return nullptr;
    block->size = m_blockSize;
    block->raw = static_cast<uint8_t *>(std::malloc(kHeaderSize + m_blockSize + kGuardSize));
    if (!block->raw) {
        delete block;
        return nullptr;
    }
    block->user = block->raw + kHeaderSize;
    block->createTime = block->lastTime = YAR_GetTimeTick();
    WriteGuards(*block);
    return block;
}

void CRealMemoryPool::DeleteBlock(Block *block) {
    std::free(block->raw);
    delete block;
}

void CRealMemoryPool::WriteGuards(Block &block) {
    std::memset(block.HeadGuard(), kGuardByte, kGuardSize);
    std::memset(block.TailGuard(), kGuardByte, kGuardSize);
}

bool CRealMemoryPool::GuardsIntact(const Block &block) const {
    for (size_t i = 0; i < kGuardSize; ++i)
        if (block.HeadGuard()[i] != kGuardByte || block.TailGuard()[i] != kGuardByte)
            return false;
    return true;
}

std::string CRealMemoryPool::BlockText(const Block &block) const {
    return internal::ReportText()
        .Number("BlockSize", block.size)
        .String("Alloc", internal::PointerText(block.raw))
        .String("User", internal::PointerText(block.user))
        .Bare("Used", block.used ? "true" : "false")
        .String("LastThreadId",
                internal::PointerText(reinterpret_cast<void *>(uintptr_t{block.lastThreadId})))
        .String("CreateTime", TickText(block.createTime))
        .String("LastTime", TickText(block.lastTime))
        .String("HeaderBoundary", GuardText(block.HeadGuard()))
        .String("TailBoundary", GuardText(block.TailGuard()))
        .Take();
}

bool CRealMemoryPool::Start() {
    {
        yar_guard lock(Section());
        for (uint32_t i = 0; i < m_minCount; ++i) {
            Block *block = NewBlock();
            if (!block)
                break;
            try {
                m_idle.push_back(block);
            } catch (const std::bad_alloc &) {
                DeleteBlock(block);
                break;
            }
        }
    }
    return m_releaseInterval < 0 || m_clock.Start();
}

void *CRealMemoryPool::Alloc() {
    yar_guard lock(Section());
    Block *block = nullptr;
    try {
        if (!m_idle.empty()) {
            block = m_idle.front();
            m_idle.pop_front();
        } else {
            if (m_used.size() >= m_maxCount)
                return nullptr;
            block = NewBlock();
            if (!block)
                return nullptr;
            if (m_releaseState == 0)
                m_releaseState = 1;
        }
        block->used = true;
        block->lastThreadId = static_cast<uint32_t>(gettid());
        block->lastTime = YAR_GetTimeTick();
        m_used.emplace(block->user, block);
        return block->user;
    } catch (const std::bad_alloc &) {
        if (block)
            DeleteBlock(block);
        return nullptr;
    }
}

void CRealMemoryPool::Free(void *p) {
    yar_guard lock(Section());
    auto found = m_used.find(p);
    if (found == m_used.end())
        return;
    Block *block = found->second;
    block->used = false;
    block->lastTime = YAR_GetTimeTick();
    if (m_guardCheck && !GuardsIntact(*block)) {
        std::printf("memory_pool[%p] check boundary overflow, Block: %s\n", static_cast<void *>(this),
                    BlockText(*block).c_str());
        std::fflush(stdout);
        WriteGuards(*block);
    }
    m_used.erase(found);
    try {
        m_idle.push_front(block);
    } catch (const std::bad_alloc &) {
        DeleteBlock(block);
        return;
    }
    if (m_releaseState == 1) {
        m_releaseState = 2;
        if (!m_clock.AddAlarm(kReleaseAlarm, &CRealMemoryPool::ReleaseCheck, this, m_releaseInterval))
            m_releaseState = 1;  // try again at the next free
    }
}

void CRealMemoryPool::ReleaseCheck(CAlarmClock *, int32_t, void *self) {
    static_cast<CRealMemoryPool *>(self)->ReleaseIdle();
}

void CRealMemoryPool::ReleaseIdle() {
    yar_guard lock(Section());
    const uint64_t total = m_idle.size() + m_used.size();
    const int64_t excess = static_cast<int64_t>(total) - m_minCount;
    if (excess <= 0 || m_idle.empty()) {
        m_releaseState = total != m_minCount ? 1 : 0;
        return;
    }
    const uint64_t now = YAR_GetTimeTick();
    for (int64_t i = 0; i < excess && !m_idle.empty(); ++i) {
        Block *oldest = m_idle.back();
        if (now - oldest->lastTime < static_cast<uint64_t>(m_releaseInterval))
            break;
        m_idle.pop_back();
        DeleteBlock(oldest);
    }
    if (m_idle.empty()) {
        m_releaseState = m_used.size() != m_minCount ? 1 : 0;
        return;
    }
    const uint64_t idleFor = now - m_idle.back()->lastTime;
    if (idleFor < static_cast<uint64_t>(m_releaseInterval)) {
        m_releaseState = 2;
        if (!m_clock.AddAlarm(kReleaseAlarm, &CRealMemoryPool::ReleaseCheck, this,
                              m_releaseInterval - static_cast<int64_t>(idleFor)))
            m_releaseState = 1;
    } else {
        m_releaseState = 0;
    }
}

uint64_t CRealMemoryPool::GetTotalBytes() {
    yar_guard lock(Section());
    return (m_used.size() + m_idle.size()) * static_cast<uint64_t>(m_blockSize);
}

uint64_t CRealMemoryPool::GetIdleBytes() {
    yar_guard lock(Section());
    return m_idle.size() * static_cast<uint64_t>(m_blockSize);
}

void CRealMemoryPool::CheckLeak() {
    m_clock.Stop();
    yar_guard lock(Section());
    for (const auto &entry : m_used)
        std::printf("memory_pool[%p] check memory leaked, Block: %s\n", static_cast<void *>(this),
                    BlockText(*entry.second).c_str());
    std::fflush(stdout);
}

void CRealMemoryPool::Clear() {
    yar_guard lock(Section());
    for (Block *block : m_idle)
        DeleteBlock(block);
    for (const auto &entry : m_used)
        DeleteBlock(entry.second);
    m_idle.clear();
    m_used.clear();
}

}  // namespace yar
