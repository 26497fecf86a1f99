// Helpers of the service tests: the library initialised for one test, the global log's lines
// captured through its user callback, and polling with a deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"

namespace servicetest {

// Lines of the global log while the object lives.
class LogCapture {
public:
    LogCapture() {
        m_pLog = Vorezi::GetCoreGlobalCtrl()->GetLogService();
        if (m_pLog)
            Vorezi::LogModule_SetLogCallBack(m_pLog, Vorezi::LOG_LEVEL_INF, Capture, this);
    }
    ~LogCapture() {
        if (m_pLog) {
            Vorezi::LogModule_SetLogCallBack(m_pLog, Vorezi::LOG_LEVEL_DISABLE, nullptr, nullptr);
            m_pLog->WaitDrained();
        }
    }
    std::vector<std::string> Lines() {
        if (m_pLog)
            m_pLog->WaitDrained();
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Lines;
    }
    std::vector<std::string> Matching(const std::string &needle) {
        std::vector<std::string> found;
        for (const std::string &line : Lines())
            if (line.find(needle) != std::string::npos)
                found.push_back(line);
        return found;
    }

private:
    static void Capture(Vorezi::LOG_CALLBACK_RECORD *pRec, void *pUser) {
        auto *self = static_cast<LogCapture *>(pUser);
        std::lock_guard<std::mutex> guard(self->m_Lock);
        self->m_Lines.emplace_back(pRec->pText, pRec->dwLength);
    }

    Vorezi::CLogService *m_pLog = nullptr;
    std::mutex m_Lock;
    std::vector<std::string> m_Lines;
};

// The library initialised around each test.
class InitedTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Vorezi::GetCoreGlobalCtrl()->Init(), 1); }
    void TearDown() override { Vorezi::GetCoreGlobalCtrl()->Fini(); }
};

inline bool WaitFor(const std::function<bool()> &done, int iTimeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace servicetest
