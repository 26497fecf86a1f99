// Helpers of the thread pool tests: work routines, a gate that holds work items, a capture of the debugger
// output, the process's thread count and a trace record builder.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "yar/yar_debug.h"
#include "yar/yar_trace.h"

namespace pooltest {

using namespace std::chrono_literals;

// Work items: a std::function the pool thread calls, or an atomic counter it increments.
using Job = std::function<void()>;

inline int32_t RunJob(void *arg) {
    (*static_cast<Job *>(arg))();
    return 0;
}

inline int32_t CountItem(void *arg) {
    static_cast<std::atomic<int> *>(arg)->fetch_add(1);
    return 0;
}

// Work items wait at the gate until it opens; the test can wait for a number of arrivals.
class Gate {
public:
    void Pass() {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_arrived;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    bool WaitArrivals(int count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, limit, [&] { return m_arrived >= count; });
    }
    int Arrived() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_arrived;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_arrived = 0;
    bool m_open = false;
};

// Collects the debugger-output texts while it lives.
class DebugCapture {
public:
    DebugCapture() { YAR_SetDebugSink(&DebugCapture::Sink, this); }
    ~DebugCapture() { YAR_SetDebugSink(nullptr, nullptr); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_texts;
    }
    bool Contains(const std::string &text) {
        std::vector<std::string> texts = Texts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

private:
    static void Sink(const char *text, void *user) {
        auto *self = static_cast<DebugCapture *>(user);
        std::lock_guard<std::mutex> lock(self->m_lock);
        self->m_texts.emplace_back(text);
    }

    std::mutex m_lock;
    std::vector<std::string> m_texts;
};

// Threads of this process, as the kernel counts them.
inline int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

// The thread count once threads of earlier tests have finished leaving. A thread is started and
// joined first: ThreadSanitizer starts its own helper thread at the first thread creation, and that
// one must already be in the base the pool's threads are counted against.
inline int SettledThreadCount() {
    std::thread([] {}).join();
    int last = ThreadCount();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(20ms);
        int now = ThreadCount();
        if (now == last)
            return now;
        last = now;
    }
    return last;
}

// True while the thread sleeps in the kernel (state S in its stat line), as an idle worker does in
// its wait; a worker still on its way back from an item runs (R).
inline bool ThreadSleeps(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t end = line.rfind(')');  // the name in parentheses may hold spaces
    return end != std::string::npos && line.size() > end + 2 && line[end + 2] == 'S';
}

inline bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

inline YAR_TRACE_INFO_T Trace(const char *text1, const char *text2, uint8_t flag) {
    YAR_TRACE_INFO_T trace;
    std::memset(&trace, 0, sizeof trace);
    std::strncpy(trace.szTrace1, text1, sizeof trace.szTrace1 - 1);
    std::strncpy(trace.szTrace2, text2, sizeof trace.szTrace2 - 1);
    trace.byTraceFlag1 = flag;
    return trace;
}

// The calling thread's trace text 1, or "" without a context.
inline std::string CurrentTrace1() {
    YAR_TRACE_INFO_T trace;
    return YAR_GetThreadTraceInfo(&trace) == 0 ? std::string(trace.szTrace1) : std::string();
}

}  // namespace pooltest
