// The lines the core library's log writes, as its callback hands them over (on the writer thread).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "sdk_netns_util.h"

namespace sdktest {

class LogCapture {
public:
    // The core library must be initialised.
    LogCapture() { Morva_SetLogCallBack(3, &LogCapture::OnLine, this); }
    ~LogCapture() { Morva_SetLogCallBack(0, nullptr, nullptr); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    bool Has(const std::string &text) {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const std::string &line : m_lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    bool WaitFor(const std::string &text) {
        return sdktest::WaitFor([&] { return Has(text); }, 5000);
    }

private:
    static void OnLine(MORVA_LOG_RECORD *pRecord, void *pUser) {
        LogCapture *self = static_cast<LogCapture *>(pUser);
        std::lock_guard<std::mutex> guard(self->m_lock);
        self->m_lines.emplace_back(pRecord->pText, pRecord->dwLength);
    }

    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

}  // namespace sdktest
