#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "yar/yar_mempool.h"

namespace {

constexpr uint32_t kMiB = 0x100000;
// Held right after creation: the minimum block of each class.
constexpr uint64_t kInitial = 0x800 + 0x5000 + 0x32000 + 0x200000 + 0xA00000;

// Blocks still out at the stop are reported by their pools; keep that off the test output.
void Quietly(const std::function<void()> &run) {
    testing::internal::CaptureStdout();
    run();
    testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(SizeClasses, SelectsTheSmallestClassThatCovers) {
    struct Case { uint32_t size; int32_t cls; uint32_t blockSize; };
    const Case cases[] = {
        {0, 0, 0x800},           {500, 0, 0x800},          {501, 1, 0x5000},
        {5120, 1, 0x5000},       {5121, 2, 0x32000},       {51200, 2, 0x32000},
        {51201, 3, 0x200000},    {512000, 3, 0x200000},    {512001, 4, 0xA00000},
        {0xA00000, 4, 0xA00000}, {0xA00001, -1, 0},        {0xFFFFFFFF, -1, 0},
    };
    ASSERT_EQ(YAR_MemPool_Create(64 * kMiB), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        uint32_t blockSize = 0;
        YAR_MemoryPoolEx *pool = nullptr;
        EXPECT_EQ(YAR_MemPool_SelectClass(c.size, &pool, &blockSize), c.cls);
        EXPECT_EQ(blockSize, c.blockSize);
        void *block = YAR_MemPool_Alloc(c.size);
        EXPECT_EQ(block != nullptr, c.cls >= 0);
        if (block) {
            // The whole block is the caller's.
            static_cast<char *>(block)[c.blockSize - 1] = 1;
            const uint64_t freeBefore = YAR_MemPool_GetFreeSize();
            YAR_MemPool_Free(block);
            EXPECT_EQ(YAR_MemPool_GetFreeSize(), freeBefore + c.blockSize);
        }
    }
    EXPECT_EQ(YAR_MemPool_Destroy(), 0);
}

TEST(SizeClasses, TheByteLimitHoldsAcrossClasses) {
    EXPECT_EQ(YAR_MemPool_Alloc(100), nullptr);  // not created yet
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), 0u);
    ASSERT_EQ(YAR_MemPool_TryInit(16 * kMiB), 1);
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), kInitial);
    EXPECT_EQ(YAR_MemPool_GetFreeSize(), kInitial);
    void *big = YAR_MemPool_Alloc(0xA00000);  // the idle minimum block: no growth
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(YAR_MemPool_Alloc(600000), nullptr);  // a second 10 MiB block would pass 16 MiB
    void *small[2] = {YAR_MemPool_Alloc(1), YAR_MemPool_Alloc(500)};  // growth within the limit
    EXPECT_TRUE(small[0] && small[1]);
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), kInitial + 0x800);
    int local = 0;
    YAR_MemPool_Free(&local);  // not from the allocator: nothing changes
    YAR_MemPool_Free(nullptr);
    EXPECT_EQ(YAR_MemPool_GetFreeSize(), kInitial - 0xA00000 - 0x800);
    // A second start keeps the pools and what they hold.
    ASSERT_EQ(YAR_MemPool_Init(64 * kMiB), 1);
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), kInitial + 0x800);
    YAR_MemPool_Free(small[0]);
    Quietly(YAR_MemPool_Fini);
}

TEST(SizeClasses, BlocksOutAtTheStopAreForgottenWithTheirPools) {
    ASSERT_EQ(YAR_MemPool_Init(64 * kMiB), 1);
    void *stale = YAR_MemPool_Alloc(100);
    ASSERT_NE(stale, nullptr);
    Quietly(YAR_MemPool_Fini);
    EXPECT_EQ(YAR_MemPool_GetTotalSize(), 0u);
    EXPECT_EQ(YAR_MemPool_Alloc(100), nullptr);
    YAR_MemPool_Free(stale);  // its pool is gone: ignored
    ASSERT_EQ(YAR_MemPool_Init(64 * kMiB), 1);
    YAR_MemPool_Free(stale);  // also after a new start, even where a new block sits there
    EXPECT_EQ(YAR_MemPool_GetFreeSize(), kInitial);
    void *fresh = YAR_MemPool_Alloc(100);
    EXPECT_NE(fresh, nullptr);
    YAR_MemPool_Free(fresh);
    EXPECT_EQ(YAR_MemPool_GetFreeSize(), kInitial);
    YAR_MemPool_Fini();
}
