#include <chrono>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_blockpool.h"

using namespace std::chrono_literals;

namespace {

// What `run` writes to the standard output.
std::string Stdout(const std::function<void()> &run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

int CountLines(const std::string &text, const std::regex &line) {
    int n = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        ++n;
    return n;
}

const char *const kPtr = "\"0x[0-9A-F]{16}\"";
const char *const kTime = "\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\"";

std::regex BlockLine(const std::string &what, int size, const char *used, const std::string &tail) {
    return std::regex("memory_pool\\[0x[0-9a-f]+\\] " + what + ", Block: \\{ \"BlockSize\": " +
                      std::to_string(size) + ", \"Alloc\": " + kPtr + ", \"User\": " + kPtr +
                      ", \"Used\": " + used + ", \"LastThreadId\": " + kPtr + ", \"CreateTime\": " +
                      kTime + ", \"LastTime\": " + kTime +
                      ", \"HeaderBoundary\": \" 0x16 0x16 0x16 0x16\", \"TailBoundary\": \"" + tail +
                      "\" \\}\n");
}

bool Aligned(const void *p) {
    return reinterpret_cast<uintptr_t>(p) % 16 == 0;
}

}  // namespace

TEST(CheckedPool, MaximumIsAtLeastTheMinimumAndBlocksAreAligned) {
    yar::CRealMemoryPool pool(20, 2, 1, nullptr, -1, false);
    ASSERT_TRUE(pool.Start());
    EXPECT_EQ(pool.GetIdleBytes(), 40u);
    void *a = pool.Alloc();
    void *b = pool.Alloc();
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(Aligned(a) && Aligned(b));
    EXPECT_EQ(pool.Alloc(), nullptr);
    pool.Free(a);
    pool.Free(a);  // a second free and unknown pointers are ignored
    pool.Free(nullptr);
    pool.Free(&pool);
    EXPECT_EQ(pool.GetIdleBytes(), 20u);
    EXPECT_EQ(pool.Alloc(), a);  // the block freed last is reused first
    pool.Free(a);
    pool.Free(b);
    EXPECT_EQ(pool.GetTotalBytes(), 40u);
}

TEST(CheckedPool, AnOverrunIsReportedAndRepaired) {
    yar::CRealMemoryPool pool(24, 1, 4, nullptr, -1, false);
    pool.SetGuardCheck(true);
    ASSERT_TRUE(pool.Start());
    auto *p = static_cast<uint8_t *>(pool.Alloc());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Stdout([&] { pool.Free(p); }), "");  // intact guards: no line
    ASSERT_EQ(pool.Alloc(), p);
    std::memset(p, 0xAB, 24);
    p[24] = 0;  // one byte past the end
    const std::string out = Stdout([&] { pool.Free(p); });
    EXPECT_TRUE(std::regex_match(out, BlockLine("check boundary overflow", 24, "false", " 0x0 0x16 0x16 0x16")))
        << out;
    ASSERT_EQ(pool.Alloc(), p);
    EXPECT_EQ(std::memcmp(p + 24, "\x16\x16\x16\x16", 4), 0);
    EXPECT_EQ(std::memcmp(p - 4, "\x16\x16\x16\x16", 4), 0);
    // A block still in use is reported once.
    const std::string leak = Stdout([&] { pool.CheckLeak(); });
    EXPECT_TRUE(std::regex_match(leak, BlockLine("check memory leaked", 24, "true", " 0x16 0x16 0x16 0x16")))
        << leak;
}

TEST(CheckedPool, IdleBlocksShrinkToTheMinimumAfterTheInterval) {
    struct Case { int64_t intervalMs; uint64_t idleAtEnd; };
    const Case cases[] = {{200, 64}, {-1, 3 * 64}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.intervalMs);
        yar::CRealMemoryPool pool(64, 1, 10, nullptr, c.intervalMs, false);
        ASSERT_TRUE(pool.Start());
        void *blocks[3];
        for (void *&b : blocks)
            ASSERT_NE(b = pool.Alloc(), nullptr);
        const auto lastFree = std::chrono::steady_clock::now();
        for (void *b : blocks)
            pool.Free(b);
        EXPECT_EQ(pool.GetIdleBytes(), 3u * 64);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(pool.GetIdleBytes(), 3u * 64);  // not before the interval
        for (int i = 0; i < 500 && pool.GetIdleBytes() != c.idleAtEnd; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(pool.GetIdleBytes(), c.idleAtEnd);
        if (c.intervalMs >= 0) {
            EXPECT_GE(std::chrono::steady_clock::now() - lastFree, std::chrono::milliseconds(c.intervalMs));
        }
    }
}

TEST(BlockPoolEx, CutsAlignedAllocationsAndRollsBackTheLast) {
    YAR_MemoryPoolEx *pool = YAR_MemoryPoolEx_Create(1, 4, -1, 0, 1024);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(YAR_MemoryPoolEx_Alloc(pool, 1025), nullptr);
    EXPECT_EQ(YAR_MemoryPoolEx_Alloc(pool, -1), nullptr);
    void *a = YAR_MemoryPoolEx_Alloc(pool, 100);
    void *b = YAR_MemoryPoolEx_Alloc(pool, 100);
    void *c = YAR_MemoryPoolEx_Alloc(pool, 100);
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(Aligned(a) && Aligned(b) && Aligned(c));
    EXPECT_EQ(static_cast<char *>(b) - static_cast<char *>(a), 112);
    EXPECT_EQ(YAR_MemoryPoolEx_GetFreeBytes(pool), 1024u - 3 * 112);
    YAR_MemoryPoolEx_Free(pool, c);
    EXPECT_EQ(YAR_MemoryPoolEx_Alloc(pool, 100), c);  // the same address again
    YAR_MemoryPoolEx_Free(pool, b);                   // not the last: no rollback
    EXPECT_EQ(YAR_MemoryPoolEx_GetFreeBytes(pool), 1024u - 3 * 112);
    YAR_MemoryPoolEx_Free(pool, a);
    YAR_MemoryPoolEx_Free(pool, c);  // the current block is empty: back to its base
    EXPECT_EQ(YAR_MemoryPoolEx_GetFreeBytes(pool), 1024u);
    void *zero1 = YAR_MemoryPoolEx_Alloc(pool, 0);
    void *zero2 = YAR_MemoryPoolEx_Alloc(pool, 0);  // a zero size still takes its own address
    EXPECT_EQ(zero1, a);
    EXPECT_EQ(static_cast<char *>(zero2) - static_cast<char *>(zero1), 16);
    YAR_MemoryPoolEx_Free(pool, zero1);
    YAR_MemoryPoolEx_Free(pool, zero2);
    EXPECT_EQ(Stdout([&] { YAR_MemoryPoolEx_Destroy(pool); }), "");
}

TEST(BlockPoolEx, EmptyOlderBlocksGoBackAndTheMaximumHolds) {
    YAR_MemoryPoolEx *pool = YAR_MemoryPoolEx_Create(0, 2, -1, 1, 256);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(YAR_MemoryPoolEx_GetTotalBytes(pool), 256u);  // a minimum of 0 means 1
    void *first = YAR_MemoryPoolEx_Alloc(pool, 200);
    void *second = YAR_MemoryPoolEx_Alloc(pool, 200);  // does not fit: a new block
    ASSERT_TRUE(first && second);
    EXPECT_EQ(YAR_MemoryPoolEx_GetTotalBytes(pool), 512u);
    EXPECT_EQ(YAR_MemoryPoolEx_Alloc(pool, 200), nullptr);  // full and at the maximum
    YAR_MemoryPoolEx_Free(pool, first);  // its block is not current: it goes back
    EXPECT_EQ(YAR_MemoryPoolEx_GetFreeBytes(pool), 256u);
    void *whole = YAR_MemoryPoolEx_Alloc(pool, 256);
    EXPECT_NE(whole, nullptr);
    YAR_MemoryPoolEx_Free(pool, second);
    YAR_MemoryPoolEx_Free(pool, whole);
    EXPECT_EQ(Stdout([&] { YAR_MemoryPoolEx_Destroy(pool); }), "");
}

TEST(BlockPoolEx, DestructionReportsEveryLiveAllocationAndReturnsBlocksOnce) {
    struct Case { int live; int blockLines; };
    // 0 live: an empty current block is returned once at the report and once only.
    const Case cases[] = {{0, 0}, {1, 1}, {3, 2}};
    const std::regex exLine(std::string("memory_pool_ex\\[0x[0-9a-f]+\\] check memory leaked, Used record: \\{ ") +
                            "\"AllocPtr\": " + kPtr + ", \"IdlePtr\": " + kPtr +
                            ", \"RemainBytes\": \\d+, \"UsedNum\": \\d+ \\}\n");
    const std::regex blockLine("memory_pool\\[0x[0-9a-f]+\\] check memory leaked, Block: [^\n]*\n");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.live);
        YAR_MemoryPoolEx *pool = YAR_MemoryPoolEx_Create(1, 8, 60000, 0, 128);
        ASSERT_NE(pool, nullptr);
        void *freed = YAR_MemoryPoolEx_Alloc(pool, 16);
        for (int i = 0; i < c.live; ++i)
            ASSERT_NE(YAR_MemoryPoolEx_Alloc(pool, 64), nullptr);  // two fit in one block
        YAR_MemoryPoolEx_Free(pool, freed);
        const std::string out = Stdout([&] { YAR_MemoryPoolEx_Destroy(pool); });
        EXPECT_EQ(CountLines(out, exLine), c.live) << out;
        EXPECT_EQ(CountLines(out, blockLine), c.blockLines) << out;
    }
}
