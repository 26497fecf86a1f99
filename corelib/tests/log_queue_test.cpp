// The queue between callers and the writer: a full queue drops and counts lines instead of
// blocking, and many threads logging at once lose or repeat nothing they were told was queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "log_test_util.h"

using namespace Vorezi;

namespace {

struct Gate {
    std::atomic<bool> bOpen{false};
    std::atomic<int> iCalls{0};
};

class LogQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetCoreGlobalCtrl()->Init(), 1);
        m_pLog = LogModule_Create();
        ASSERT_NE(m_pLog, nullptr);
    }
    void TearDown() override {
        LogModule_Destroy(m_pLog);
        GetCoreGlobalCtrl()->Fini();
    }
    Gate m_Gate;  // outlives the writer, which the teardown joins
    CLogService *m_pLog = nullptr;
};

void HoldWriter(LOG_CALLBACK_RECORD *, void *pUser) {
    auto *pGate = static_cast<Gate *>(pUser);
    pGate->iCalls++;
    while (!pGate->bOpen.load())
        std::this_thread::yield();
}

TEST_F(LogQueue, FullQueueDropsAndCounts) {
    Gate &gate = m_Gate;
    ASSERT_EQ(LogModule_SetLogCallBack(m_pLog, LOG_LEVEL_INF, HoldWriter, &gate), 1);
    // The first line parks the writer inside the callback; the next ones fill the budget.
    ASSERT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "park"), 1);
    while (gate.iCalls.load() == 0)
        std::this_thread::yield();

    const std::string text(1000 - 31 - 2, 'q');  // 1000-byte lines with prefix and CR LF
    int iAccepted = 0, iRefused = 0;
    for (int i = 0; i < 2000; i++)
        (m_pLog->WriteLog(LOG_LEVEL_INF, text.c_str()) ? iAccepted : iRefused)++;
    EXPECT_EQ(iAccepted, 0x100000 / 1000);  // one pass budget of 1 MiB
    EXPECT_EQ(iRefused, 2000 - iAccepted);
    EXPECT_EQ(m_pLog->GetDroppedLines(), (uint64_t)iRefused);

    gate.bOpen = true;
    m_pLog->WaitDrained();
    EXPECT_EQ(gate.iCalls.load(), 1 + iAccepted);
    // Once the writer has taken the queue, the budget is there again.
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, text.c_str()), 1);
}

TEST_F(LogQueue, ManyThreadsLoseNothingTheyQueued) {
    logtest::ScratchDir dir;
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    constexpr int kThreads = 8, kLines = 3000;
    std::vector<std::vector<bool>> accepted(kThreads, std::vector<bool>(kLines));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; i++) {
                std::string text = "t" + std::to_string(t) + " n" + std::to_string(i) + " ";
                text.resize(100, 'z');
                accepted[t][i] = m_pLog->WriteLog(LOG_LEVEL_INF, text.c_str()) == 1;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    m_pLog->WaitDrained();

    uint64_t qwAccepted = 0;
    for (auto &v : accepted)
        qwAccepted += std::count(v.begin(), v.end(), true);
    EXPECT_EQ(qwAccepted + m_pLog->GetDroppedLines(), (uint64_t)kThreads * kLines);

    // Every accepted line once, whole, and in its thread's order.
    std::string all;
    for (const std::string &name : dir.List())
        all += logtest::ReadFile(dir / name);
    std::istringstream in(all);
    std::string line;
    std::vector<int> last(kThreads, -1);
    uint64_t qwSeen = 0;
    while (std::getline(in, line)) {
        ASSERT_EQ(line.size(), 31u + 100u + 1u) << line;  // prefix, text, CR (the LF was eaten)
        int t = -1, n = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + 31, "t%d n%d", &t, &n), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads && n >= 0 && n < kLines);
        EXPECT_TRUE(accepted[t][n]);
        EXPECT_GT(n, last[t]);
        last[t] = n;
        qwSeen++;
    }
    EXPECT_EQ(qwSeen, qwAccepted);
}

TEST_F(LogQueue, LinesThatEndExactlyAtTheRingEndWrap) {
    logtest::ScratchDir dir;
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    // 256-byte lines fill the 2 MiB ring exactly; three rounds of it cross its end twice.
    auto text = [](int iLine) {
        std::string t = "r" + std::to_string(iLine) + " ";
        t.resize(256 - 31 - 2, static_cast<char>('a' + iLine % 26));
        return t;
    };
    for (int round = 0; round < 24; round++) {
        for (int i = 0; i < 1024; i++)
            ASSERT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, text(round * 1024 + i).c_str()), 1) << round << " " << i;
        m_pLog->WaitDrained();
    }
    std::string all;
    for (const std::string &name : dir.List())
        all += logtest::ReadFile(dir / name);
    ASSERT_EQ(all.size(), 24u * 1024 * 256);
    // Every line whole and in order: the prefix, its own text, CR LF.
    for (int iLine = 0; iLine < 24 * 1024; iLine++) {
        const std::string line = all.substr(iLine * 256, 256);
        if (line[0] != '[' || line.compare(24, 7, "][INF] ") != 0 || line.compare(31, 225, text(iLine) + "\r\n") != 0) {
            ADD_FAILURE() << "line " << iLine << ": " << line;
            break;
        }
    }
}

// A host frees what its callback writes to once the callback is cleared: lines of the batch the
// writer holds must not reach the old callback after the clearing call has returned.
struct ClearGate : Gate {
    std::atomic<bool> bCleared{false};
    std::atomic<int> iLateCalls{0};
};

void HoldWriterCountLate(LOG_CALLBACK_RECORD *pRecord, void *pUser) {
    auto *pGate = static_cast<ClearGate *>(pUser);
    if (pGate->bCleared.load())
        pGate->iLateCalls++;
    HoldWriter(pRecord, pUser);
}

TEST_F(LogQueue, ClearedCallBackIsNotCalledAfterTheClearReturns) {
    ClearGate gate;
    ASSERT_EQ(LogModule_SetLogCallBack(m_pLog, LOG_LEVEL_INF, HoldWriterCountLate, &gate), 1);
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "burst"), 1);
    while (gate.iCalls.load() == 0)
        std::this_thread::yield();
    std::thread clearer([&] {
        LogModule_SetLogCallBack(m_pLog, LOG_LEVEL_INF, nullptr, nullptr);
        gate.bCleared = true;
    });
    // Without the wait inside the clear it returns while the writer is still parked; with it,
    // it cannot return before the gate opens, so give it a short while and then open.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!gate.bCleared.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    gate.bOpen = true;
    clearer.join();
    m_pLog->WaitDrained();
    EXPECT_EQ(gate.iLateCalls.load(), 0);
}

TEST_F(LogQueue, StopDrainsWhatWasQueued) {
    logtest::ScratchDir dir;
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_INF, dir.Path().c_str(), LOG_MODE_NOCOVER, 2), 1);
    for (int i = 0; i < 500; i++)
        ASSERT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "before the stop"), 1);
    // Level 0 switches the file off and stops the instance, which drains its queue first.
    ASSERT_EQ(LogModule_SetLogFile(m_pLog, LOG_LEVEL_DISABLE, nullptr, LOG_MODE_OFF, 2), 1);
    std::vector<std::string> names = dir.List();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(logtest::ReadFile(dir / names[0]).size(), 500u * (31 + 15 + 2));
    EXPECT_EQ(m_pLog->WriteLog(LOG_LEVEL_INF, "after"), 0);
}

}  // namespace
