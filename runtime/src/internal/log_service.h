// The process-wide runtime log behind yar_log.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"

namespace yar {

class LogService {
public:
    static constexpr int32_t kRingSize = 0x200000;
    static constexpr int32_t kMaxFileSize = 0x200000;
    static constexpr int32_t kLineSize = 2048;

    // Made on first use and never destroyed; the writer is stopped at process exit.
    static LogService &GetInstance();
    LogService(const LogService &) = delete;
    LogService &operator=(const LogService &) = delete;

    int32_t Start();
    // Waits for the writer, which writes every queued line first, then closes the file.
    int32_t Stop();
    int32_t Push(const char *text, int32_t length);
    // Returns once the writer has output every line queued before the call (or has stopped).
    void Flush();
    int32_t SetFileOutput(bool on, bool wrap);
    int32_t CloseFile();
    static int32_t FormatHeader(char *out, size_t size, int32_t level, const char *file, int32_t line);

    int32_t GetLevel() const { return m_level; }
    void ResetLevel() { m_level = 3; }
    void SetConsoleOutput(bool on) { m_console = on; }
    void SetDebuggerOutput(bool on) { m_debugger = on; }
    bool HasOutput() const { return m_console || m_debugger || m_fileOutput; }
    // Whether an output other than this one (0 console, 1 debugger, 2 file) is on.
    bool HasOutputBesides(int32_t output) const {
        return (output != 0 && m_console) || (output != 1 && m_debugger) || (output != 2 && m_fileOutput);
    }
    bool IsStarted() const { return m_running; }
    void SetClosed(bool closed) { m_closed = closed; }
    // Tests: the rotation size (kMaxFileSize in use), and file numbering from 1 again.
    void SetFileLimitsForTest(int32_t maxFileSize);

private:
    // A line in the ring; `reserved` also counts the bytes skipped at the ring's end before it.
    struct Entry {
        int32_t offset;
        int32_t length;
        int32_t reserved;
    };

    LogService();
    static uint32_t WriteRoutine(void *self);
    bool TakeLine(char *out, int32_t *length);
    void Output(const char *line, int32_t length);
    int32_t WriteFile(const char *text, int32_t length);
    std::string GetFileName(bool working) const;
    void InitFileOutput();
    void CloseFileLocked();

    std::atomic<bool> m_running{false};
    std::atomic<int32_t> m_level{3};
    YAR_MUTEX_T m_stateLock;
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_console{false};
    std::atomic<bool> m_debugger{false};
    std::atomic<bool> m_fileOutput{false};
    YAR_HANDLE m_thread = YAR_INVALID_THREAD;
    std::atomic<int32_t> m_stopRequest{0};

    // Guarded by the queue lock.
    YAR_MUTEX_T m_queueLock;
    char *m_ring = nullptr;
    int32_t m_head = 0;  // start of the oldest line not yet taken by the writer
    int32_t m_tail = 0;  // where the next line goes
    int32_t m_used = 0;
    std::deque<Entry> m_queue;
    uint64_t m_pushed = 0;
    std::atomic<uint64_t> m_written{0};  // by the writer, after the line's output

    // Guarded by the file lock.
    YAR_MUTEX_T m_fileLock;
    int m_file = -1;
    int64_t m_fileSize = 0;
    int32_t m_fileNumber = 0;
    bool m_wrap = true;
    int32_t m_maxFileSize = 0;
    std::string m_directory;
    int32_t m_testMaxFileSize = kMaxFileSize;
};

}  // namespace yar
