// The module's random pool: seeding rules, output blocks reproduced with OpenSSL's MD5, and the
// system seed that keeps two clock-seeded pools apart.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <time.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <vector>

#include "crypto_test_util.h"
#include "morva/MorvaRandPool.h"

// While the clock stands still, time() and clock() give fixed readings, as for two pools created
// within one microsecond; otherwise the real ones.
std::atomic<bool> g_bClockStill{false};

extern "C" time_t time(time_t *pOut) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t tNow = g_bClockStill ? 1700000000 : now.tv_sec;
    if (pOut)
        *pOut = tNow;
    return tNow;
}

extern "C" clock_t clock() noexcept {
    if (g_bClockStill)
        return 123456;
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<clock_t>(used.tv_sec * CLOCKS_PER_SEC + used.tv_nsec / (1000000000 / CLOCKS_PER_SEC));
}

namespace {

std::vector<uint8_t> Md5(const uint8_t *pData, size_t uLen) {
    std::vector<uint8_t> out(16);
    unsigned int uOut = 0;
    EVP_Digest(pData, uLen, out.data(), &uOut, EVP_md5(), nullptr);
    return out;
}

std::vector<uint8_t> SeedBytes(size_t uLen, uint8_t byStart) {
    std::vector<uint8_t> seed(uLen);
    for (size_t i = 0; i < uLen; ++i) seed[i] = static_cast<uint8_t>(byStart + i);
    return seed;
}

TEST(RandPool, RecordLayout) {
    static_assert(sizeof(MORVA_RAND_POOL) == 40, "");
    static_assert(offsetof(MORVA_RAND_POOL, byState) == 4, "");
    static_assert(offsetof(MORVA_RAND_POOL, dwOutputLeft) == 20, "");
    static_assert(offsetof(MORVA_RAND_POOL, byOutput) == 24, "");
}

TEST(RandPool, GivesNothingUntilSeeded) {
    MORVA_RAND_POOL pool;
    ASSERT_EQ(Rand_Init(&pool), 0);
    uint8_t out[8] = {};
    EXPECT_EQ(Rand_Generate(out, sizeof(out), &pool), RAND_ERR_NEED_SEED);
    const std::vector<uint8_t> seed = SeedBytes(255, 0);
    ASSERT_EQ(Rand_Update(&pool, seed.data(), 200), 0);
    ASSERT_EQ(Rand_Update(&pool, seed.data() + 200, 55), 0);
    int32_t iNeeded = -1;
    ASSERT_EQ(Rand_GetSeedNeeded(&iNeeded, &pool), 0);
    EXPECT_EQ(iNeeded, 1);
    EXPECT_EQ(Rand_Generate(out, sizeof(out), &pool), RAND_ERR_NEED_SEED);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>(8, 0));
    ASSERT_EQ(Rand_Update(&pool, seed.data(), 10), 0);  // the count stops at 0
    ASSERT_EQ(Rand_GetSeedNeeded(&iNeeded, &pool), 0);
    EXPECT_EQ(iNeeded, 0);
    EXPECT_EQ(Rand_Generate(out, sizeof(out), &pool), 0);
}

TEST(RandPool, OutputBlocksAreMd5OfTheCountingState) {
    const std::vector<uint8_t> seed = SeedBytes(256, 7);
    MORVA_RAND_POOL pool;
    Rand_Init(&pool);
    ASSERT_EQ(Rand_Update(&pool, seed.data(), 256), 0);
    // The state starts at MD5(seed). An increment moves on to the byte before only when the
    // byte it raised was 0, and stops at the first byte that was not.
    std::vector<uint8_t> state = Md5(seed.data(), seed.size());
    ASSERT_EQ(0, std::memcmp(pool.byState, state.data(), 16));
    state[15] = state[14] = 0;
    state[13] = 5;
    std::memcpy(pool.byState, state.data(), 16);

    uint8_t out[20];
    ASSERT_EQ(Rand_Generate(out, sizeof(out), &pool), 0);
    EXPECT_EQ(pool.dwOutputLeft, 12u);
    const std::vector<uint8_t> first = Md5(state.data(), 16);
    state[15] = state[14] = 1;
    state[13] = 6;
    const std::vector<uint8_t> second = Md5(state.data(), 16);
    EXPECT_EQ(ToHex(out, 16), ToHex(first));
    EXPECT_EQ(ToHex(out + 16, 4), ToHex(second.data(), 4));
    state[15] = 2;  // raised from 1: no further carry
    EXPECT_EQ(ToHex(pool.byState, 16), ToHex(state));

    uint8_t more[12];
    ASSERT_EQ(Rand_Generate(more, sizeof(more), &pool), 0);
    EXPECT_EQ(ToHex(more, 12), ToHex(second.data() + 4, 12));
    EXPECT_EQ(pool.dwOutputLeft, 0u);
}

TEST(RandPool, PoolsSeededAlikeAgreeAndDifferentSeedsDiffer) {
    MORVA_RAND_POOL a, b, c;
    const std::vector<uint8_t> seed = SeedBytes(256, 1);
    const std::vector<uint8_t> other = SeedBytes(256, 2);
    for (MORVA_RAND_POOL *p : {&a, &b, &c}) Rand_Init(p);
    Rand_Update(&a, seed.data(), 256);
    Rand_Update(&b, seed.data(), 256);
    Rand_Update(&c, other.data(), 256);
    std::vector<uint8_t> outA(100), outB(100), outC(100);
    ASSERT_EQ(Rand_Generate(outA.data(), 100, &a), 0);
    ASSERT_EQ(Rand_Generate(outB.data(), 37, &b), 0);
    ASSERT_EQ(Rand_Generate(outB.data() + 37, 63, &b), 0);
    ASSERT_EQ(Rand_Generate(outC.data(), 100, &c), 0);
    EXPECT_EQ(outA, outB);
    EXPECT_NE(outA, outC);
}

TEST(RandPool, CreateSeedsFullyAndTwoPoolsDiffer) {
    MORVA_RAND_POOL a, b;
    g_bClockStill = true;
    ASSERT_EQ(Rand_Create(&a), 0);
    ASSERT_EQ(Rand_Create(&b), 0);  // the same clock readings: only the system seed tells them apart
    g_bClockStill = false;
    int32_t iNeeded = -1;
    Rand_GetSeedNeeded(&iNeeded, &a);
    EXPECT_EQ(iNeeded, 0);
    EXPECT_NE(0, std::memcmp(a.byState, b.byState, 16));
    uint8_t out[32];
    EXPECT_EQ(Rand_Generate(out, sizeof(out), &a), 0);
}

TEST(RandPool, MixStartsAFreshBlockAndFinalWipes) {
    MORVA_RAND_POOL pool;
    Rand_Init(&pool);
    const std::vector<uint8_t> seed = SeedBytes(256, 9);
    Rand_Update(&pool, seed.data(), 256);
    Rand_Mix(&pool);
    EXPECT_EQ(pool.dwOutputLeft, 16u);
    EXPECT_EQ(ToHex(pool.byOutput, 16), ToHex(Md5(pool.byState, 16)));
    Rand_Final(&pool);
    const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(&pool);
    EXPECT_EQ(std::vector<uint8_t>(pBytes, pBytes + sizeof(pool)), std::vector<uint8_t>(sizeof(pool), 0));
}

TEST(RandPool, BadArgumentsAreRefused) {
    MORVA_RAND_POOL pool;
    Rand_Init(&pool);
    EXPECT_EQ(Rand_Update(&pool, nullptr, 4), -1);
    EXPECT_EQ(pool.dwSeedNeeded, 256u);
    EXPECT_EQ(Rand_Update(nullptr, nullptr, 0), -1);
    EXPECT_EQ(Rand_Generate(nullptr, 4, &pool), -1);
    // A damaged output count is not trusted beyond the block.
    const std::vector<uint8_t> seed = SeedBytes(256, 0);
    Rand_Update(&pool, seed.data(), 256);
    pool.dwOutputLeft = 1000;
    uint8_t out[4];
    EXPECT_EQ(Rand_Generate(out, sizeof(out), &pool), 0);
    EXPECT_EQ(pool.dwOutputLeft, 12u);
}

}  // namespace
