// The cycle buffer: the wrap and full rules against a model of the ring, refusals with their
// error and log lines, and a producer and a consumer on two threads.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/CycleBuffer/CycleBuffer.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

class CycleBufferTest : public servicetest::InitedTest {};

std::vector<BYTE> Bytes(size_t uLen, BYTE byStart) {
    std::vector<BYTE> v(uLen);
    for (size_t i = 0; i < uLen; ++i) v[i] = static_cast<BYTE>(byStart + i);
    return v;
}

int LastError() { return GetCoreGlobalCtrl()->GetLastError(); }

TEST_F(CycleBufferTest, FillingTheRingExactlyThenOneMoreByte) {
    servicetest::LogCapture log;
    CCycleBuffer ring(8);
    ASSERT_TRUE(ring.InitCheck());
    EXPECT_TRUE(ring.IsEmpty());
    const std::vector<BYTE> data = Bytes(8, 1);
    EXPECT_EQ(ring.Write(data.data(), 8), 1);
    EXPECT_EQ(ring.GetDataLen(), 8u);
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(ring.Write(data.data(), 1), 0);
    EXPECT_EQ(LastError(), MORVA_ERR_BUFFER_SMALL);
    EXPECT_EQ(log.Matching("CCycleBuffer::Write, Failed, m_dwWritePos[0], m_dwReadPos[0], m_dwDataLen[8], "
                           "m_dwBuffLen[8]")
                  .size(),
              1u);
    std::vector<BYTE> out(8);
    EXPECT_EQ(ring.Read(out.data()), 8);
    EXPECT_EQ(out, data);
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(ring.Read(out.data()), 0);
}

TEST_F(CycleBufferTest, WrappingWriteMustStopBeforeTheReadPosition) {
    servicetest::LogCapture log;
    CCycleBuffer ring(8);
    std::vector<BYTE> out(8);
    ASSERT_EQ(ring.Write(Bytes(6, 0).data(), 6), 1);
    ASSERT_EQ(ring.ReadData(out.data(), 2), 1);  // W 6, R 2
    GetCoreGlobalCtrl()->SetLastError(0);
    EXPECT_EQ(ring.Write(Bytes(4, 6).data(), 4), 0);  // would reach R
    EXPECT_EQ(LastError(), MORVA_ERR_BUFFER_SMALL);
    EXPECT_EQ(log.Matching("CCycleBuffer::Write, Failed, m_dwWritePos[6], m_dwReadPos[2], dwLen[4], m_dwBuffLen[8]")
                  .size(),
              1u);
    // A length that would wrap a 32-bit sum around is refused too, without touching the ring.
    EXPECT_EQ(ring.Write(out.data(), 0xffffffffu), 0);
    EXPECT_EQ(ring.Write(Bytes(3, 6).data(), 3), 1);  // wraps, W 1
    EXPECT_EQ(ring.GetDataLen(), 7u);
    // With W 1 below R 2, one byte more would reach R.
    EXPECT_EQ(ring.Write(out.data(), 1), 0);
    EXPECT_EQ(log.Matching("CCycleBuffer::Write, Failed, m_dwWritePos[1], m_dwReadPos[2], dwLen[1]").size(), 1u);
    EXPECT_EQ(ring.Read(out.data()), 7);
    EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + 7), Bytes(7, 2));
}

TEST_F(CycleBufferTest, ReadDataTakesExactCountsOnly) {
    CCycleBuffer ring(8);
    ASSERT_EQ(ring.Write(Bytes(5, 10).data(), 5), 1);
    std::vector<BYTE> out(8, 0);
    EXPECT_EQ(ring.ReadData(out.data(), 6), 0);
    EXPECT_EQ(ring.GetDataLen(), 5u);
    EXPECT_EQ(ring.ReadData(out.data(), 3), 1);
    EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + 3), Bytes(3, 10));
    EXPECT_EQ(ring.ReadData(out.data(), 2), 1);
    EXPECT_EQ(ring.ReadData(out.data(), 1), 0);  // empty
}

TEST_F(CycleBufferTest, ResetEmptiesAFullRing) {
    CCycleBuffer ring(4);
    ASSERT_EQ(ring.Write(Bytes(4, 0).data(), 4), 1);
    EXPECT_EQ(ring.Reset(), 1);
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(ring.Write(Bytes(4, 0).data(), 4), 1);
}

// The ring's rules with positions of its own and a deque for the bytes.
struct Model {
    explicit Model(DWORD dwLen) : L(dwLen) {}
    bool Write(DWORD n, const BYTE *p) {
        bool ok;
        if (W == R && data.size() == L) ok = false;
        else if (W < R) ok = W + n < R;
        else if (W + n <= L) ok = true;
        else ok = W + n - R < L;
        if (ok) {
            W = (W + n) % L;
            data.insert(data.end(), p, p + n);
        }
        return ok;
    }
    bool ReadData(DWORD n, std::vector<BYTE> &out) {
        if (data.empty() || n > data.size()) return false;
        out.assign(data.begin(), data.begin() + n);
        data.erase(data.begin(), data.begin() + n);
        R = (R + n) % L;
        return true;
    }
    DWORD L, W = 0, R = 0;
    std::deque<BYTE> data;
};

TEST_F(CycleBufferTest, AgreesWithTheModelOverRandomWritesAndReads) {
    std::mt19937 rng(21);
    for (DWORD dwCapacity : {1u, 7u, 16u, 61u}) {
        SCOPED_TRACE(dwCapacity);
        CCycleBuffer ring(dwCapacity);
        Model model(dwCapacity);
        BYTE byNext = 0;
        for (int iStep = 0; iStep < 3000; ++iStep) {
            const DWORD n = rng() % (dwCapacity + 2);
            switch (rng() % 5) {
                case 0:
                case 1: {
                    std::vector<BYTE> block = Bytes(n, byNext);
                    const bool ok = model.Write(n, block.data());
                    ASSERT_EQ(ring.Write(block.data(), n), ok ? 1 : 0);
                    if (ok) byNext = static_cast<BYTE>(byNext + n);
                    break;
                }
                case 2:
                case 3: {
                    std::vector<BYTE> expect, out(n + 1);
                    const bool ok = model.ReadData(n, expect);
                    ASSERT_EQ(ring.ReadData(out.data(), n), ok ? 1 : 0);
                    if (ok) {
                        ASSERT_EQ(std::vector<BYTE>(out.begin(), out.begin() + n), expect);
                    }
                    break;
                }
                default: {
                    std::vector<BYTE> expect, out(dwCapacity);
                    const DWORD held = static_cast<DWORD>(model.data.size());
                    if (held) model.ReadData(held, expect);
                    ASSERT_EQ(ring.Read(out.data()), static_cast<int>(held));
                    ASSERT_EQ(std::vector<BYTE>(out.begin(), out.begin() + held), expect);
                    model.R = model.W;
                    break;
                }
            }
            ASSERT_EQ(ring.GetDataLen(), model.data.size());
        }
    }
}

TEST_F(CycleBufferTest, ProducerAndConsumerOnTwoThreadsKeepTheByteOrder) {
    CCycleBuffer ring(64);
    constexpr DWORD kTotal = 200000;
    std::thread producer([&] {
        std::mt19937 rng(1);
        DWORD dwSent = 0;
        while (dwSent < kTotal) {
            DWORD n = 1 + rng() % 24;
            if (n > kTotal - dwSent) n = kTotal - dwSent;
            std::vector<BYTE> block(n);
            for (DWORD i = 0; i < n; ++i) block[i] = static_cast<BYTE>((dwSent + i) * 7);
            if (ring.Write(block.data(), n)) {
                dwSent += n;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::mt19937 rng(2);
    DWORD dwReceived = 0;
    bool bInOrder = true;
    std::vector<BYTE> out(64);
    while (dwReceived < kTotal && bInOrder) {
        const int n = (rng() % 2) ? ring.Read(out.data()) : (ring.ReadData(out.data(), 8) ? 8 : 0);
        ASSERT_GE(n, 0);
        for (int i = 0; i < n; ++i) bInOrder = bInOrder && out[i] == static_cast<BYTE>((dwReceived + i) * 7);
        dwReceived += static_cast<DWORD>(n);
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(bInOrder);
    EXPECT_EQ(dwReceived, kTotal);
    EXPECT_TRUE(ring.IsEmpty());
}

TEST_F(CycleBufferTest, RingWithoutStorageRefusesEverything) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit does not combine with the sanitizers' shadow memory";
#else
    // In a child whose address space cannot hold the storage.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const rlimit limit = {1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &limit);
        servicetest::LogCapture log;
        CCycleBuffer ring(0xf0000000u);
        BYTE byte = 0;
        const bool ok = !ring.InitCheck() && ring.Write(&byte, 1) == 0 && ring.Read(&byte) == -1 &&
                        ring.ReadData(&byte, 1) == 0 && ring.Reset() == 0 && ring.GetDataLen() == 0 &&
                        !ring.IsEmpty() && log.Matching("CCycleBuffer::Write, InitCheck Failed").size() == 1 &&
                        log.Matching("New m_pBuff Failed, m_dwBuffLen[-268435456]").size() == 1;
        _exit(ok ? 0 : 1);
    }
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0);
#endif
}

}  // namespace
