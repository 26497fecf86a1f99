// The runtime log: callers format on their own thread and copy the line into a ring; one writer
// thread copies each line out again before it gives the ring space back, so a producer can never
// overwrite a line that is still being written.
#include "internal/log_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

#include "internal/debug_output.h"
#include "yar/yar_log.h"
#include "yar/yar_string.h"
#include "yar/yar_time.h"

namespace yar {

namespace {

constexpr uint32_t kWriterStack = 0x20000;
constexpr int32_t kWrapCount = 100;
const char *const kLevelNames[] = {"DISABLE", "ERR", "DBG", "INF"};
const char *const kLogDirectory = "./yarlog/";

const char *BaseName(const char *path) {
    const char *base = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

bool WriteAll(int fd, const char *text, int32_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, static_cast<size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        length -= static_cast<int32_t>(n);
    }
    return true;
}

}  // namespace

LogService &LogService::GetInstance() {
    // Never deleted, so a late line during exit finds a live object; the writer is stopped (and
    // has written every queued line) at exit.
    static LogService *instance = [] {
        auto *service = new LogService;
        std::atexit([] {
            LogService &log = GetInstance();
            log.SetClosed(true);
            log.Stop();
        });
        return service;
    }();
    return *instance;
}

LogService::LogService() {
    YAR_MutexCreate(&m_stateLock, 0);
    YAR_MutexCreate(&m_queueLock, 0);
    YAR_MutexCreate(&m_fileLock, 0);
}

int32_t LogService::Start() {
    yar_guard state(&m_stateLock);
    if (m_running)
        return 0;
    if (m_closed)
        return -2;
    {
        yar_guard queue(&m_queueLock);
        if (!m_ring) {
            m_ring = static_cast<char *>(std::malloc(kRingSize));
            if (!m_ring)
                return -1;
            m_head = m_tail = m_used = 0;
            m_queue.clear();
        }
    }
    m_stopRequest = 0;
    m_thread = YAR_Thread_Create(&LogService::WriteRoutine, this, kWriterStack, 0, 0, 0);
    if (m_thread == YAR_INVALID_THREAD)
        return -1;
    m_running = true;
    return 0;
}

int32_t LogService::Stop() {
    yar_guard state(&m_stateLock);
    if (!m_running)
        return 0;
    m_running = false;
    m_stopRequest = 1;
    YAR_Thread_Wait(m_thread);
    m_thread = YAR_INVALID_THREAD;
    {
        yar_guard file(&m_fileLock);
        CloseFileLocked();
        m_wrap = true;
    }
    yar_guard queue(&m_queueLock);
    m_queue.clear();
    std::free(m_ring);
    m_ring = nullptr;
    m_head = m_tail = m_used = 0;
    return 0;
}

int32_t LogService::Push(const char *text, int32_t length) {
    {
        yar_guard queue(&m_queueLock);
        if (!m_running || !m_ring)
            return -2;
        if (m_used == 0)
            m_head = m_tail = 0;
        int32_t offset = m_tail;
        int32_t skipped = 0;
        if (kRingSize - m_used < length || (m_used > 0 && m_tail == m_head))
            return -4;
        if (m_tail >= m_head) {
            // Free: [tail, end) and [0, head). A line never wraps; the rest of the end is skipped.
            if (kRingSize - m_tail < length) {
                if (m_head < length)
                    return -4;
                skipped = kRingSize - m_tail;
                offset = 0;
            }
        } else if (m_head - m_tail < length) {
            return -4;
        }
        std::memcpy(m_ring + offset, text, static_cast<size_t>(length));
        try {
            m_queue.push_back(Entry{offset, length, length + skipped});
            m_tail = (offset + length) % kRingSize;
            m_used += length + skipped;
            ++m_pushed;
            return 0;
        } catch (const std::bad_alloc &) {
            // Nothing was taken from the ring; reported below, outside the queue lock.
        }
    }
    static thread_local bool reporting = false;
    if (!reporting) {
        reporting = true;
        YAR_LogPrint(1, "logmodule", 449, "push_back allo exception");
        reporting = false;
    }
    return -4;
}

void LogService::Flush() {
    uint64_t pushed;
    {
        yar_guard queue(&m_queueLock);
        pushed = m_pushed;
    }
    while (m_running && m_written < pushed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool LogService::TakeLine(char *out, int32_t *length) {
    yar_guard queue(&m_queueLock);
    if (m_queue.empty())
        return false;
    const Entry entry = m_queue.front();
    std::memcpy(out, m_ring + entry.offset, static_cast<size_t>(entry.length));
    m_queue.pop_front();
    m_used -= entry.reserved;
    m_head = m_queue.empty() ? m_tail : (entry.offset + entry.length) % kRingSize;
    *length = entry.length;
    return true;
}

uint32_t LogService::WriteRoutine(void *self) {
    auto *log = static_cast<LogService *>(self);
    char line[kLineSize];
    for (;;) {
        int32_t length = 0;
        if (log->TakeLine(line, &length)) {
            log->Output(line, length);
            ++log->m_written;
            continue;
        }
        if (log->m_stopRequest)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// `length` counts the terminating zero.
void LogService::Output(const char *line, int32_t length) {
    if (m_console) {
        std::fwrite(line, 1, static_cast<size_t>(length - 1), stdout);
        std::fflush(stdout);
    }
    if (m_debugger)
        internal::DebugOutput(line);
    if (m_fileOutput)
        WriteFile(line, length - 1);
}

std::string LogService::GetFileName(bool working) const {
    return m_directory + "yar_log_" + std::to_string(m_fileNumber + 1) + (working ? "_w" : "") +
           ".log";
}

int32_t LogService::WriteFile(const char *text, int32_t length) {
    yar_guard file(&m_fileLock);
    if (!m_fileOutput)
        return 0;
    if (m_file >= 0 && m_fileSize + length > m_maxFileSize) {
        // Renamed while still open: when that fails the full file stays open under its working
        // name and the next line tries again.
        if (::rename(GetFileName(true).c_str(), GetFileName(false).c_str()) != 0)
            return -8;
        ::close(m_file);
        m_file = -1;
        m_fileNumber = m_wrap ? (m_fileNumber + 1) % kWrapCount : m_fileNumber + 1;
    }
    if (m_file < 0) {
        ::unlink(GetFileName(false).c_str());
        const std::string working = GetFileName(true);
        // A working file that a stop left behind is continued, not replaced: its lines stay.
        m_file = ::open(working.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        struct stat st;
        if (m_file < 0 || ::fstat(m_file, &st) != 0) {
            if (m_file >= 0)
                ::close(m_file);
            m_file = -1;
            YAR_OutputDebug("LogService OpenFile[%s] failed", working.c_str());
            return -8;
        }
        m_fileSize = st.st_size;
    }
    if (!WriteAll(m_file, text, length))
        return -8;
    m_fileSize += length;
    return 0;
}

void LogService::InitFileOutput() {
    m_directory = kLogDirectory;
    m_maxFileSize = m_testMaxFileSize;
    ::mkdir(m_directory.c_str(), 0755);
    m_fileOutput = true;
}

void LogService::CloseFileLocked() {
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
    m_fileSize = 0;
    m_directory.clear();
    m_maxFileSize = 0;
    m_fileOutput = false;
}

int32_t LogService::SetFileOutput(bool on, bool wrap) {
    yar_guard file(&m_fileLock);
    if (on) {
        InitFileOutput();
        m_wrap = wrap;
    } else {
        CloseFileLocked();
        m_wrap = true;
    }
    return 0;
}

int32_t LogService::CloseFile() {
    yar_guard file(&m_fileLock);
    if (m_fileOutput)
        CloseFileLocked();
    return 0;
}

void LogService::SetFileLimitsForTest(int32_t maxFileSize) {
    yar_guard file(&m_fileLock);
    m_testMaxFileSize = maxFileSize;
    if (m_fileOutput)
        m_maxFileSize = maxFileSize;
    m_fileNumber = 0;
}

int32_t LogService::FormatHeader(char *out, size_t size, int32_t level, const char *file, int32_t line) {
    const int64_t nowUs = YAR_TimeNow();
    struct tm local = {};
    if (level < 0 || level > 3 || YAR_LocalTimeSeconds(&local, nowUs / 1000000) != 0)
        return -1;
    const int n = std::snprintf(out, size, "[%04u-%02u-%02u %02u:%02u:%02u.%03u][%s][FILE:%s][LINE:%d] ",
                                unsigned(local.tm_year + 1900), unsigned(local.tm_mon + 1),
                                unsigned(local.tm_mday), unsigned(local.tm_hour), unsigned(local.tm_min),
                                unsigned(local.tm_sec), unsigned(nowUs / 1000 % 1000),
                                kLevelNames[level], BaseName(file), line);
    return n < 0 || static_cast<size_t>(n) >= size ? -1 : n;
}

}  // namespace yar

using yar::LogService;

extern "C" {

int32_t YAR_LogPrint(int32_t level, const char *file, int32_t line, const char *format, ...) {
    if (!file || !format)
        return -6;
    LogService &log = LogService::GetInstance();
    if (level > log.GetLevel())
        return -3;
    if (level < 0)
        return -6;
    if (!log.HasOutput())
        return -5;
    if (!log.IsStarted()) {
        const int32_t started = log.Start();
        if (started != 0)
            return started;
    }
    char buf[LogService::kLineSize] = {};
    const int32_t header = LogService::FormatHeader(buf, sizeof buf, level, file, line);
    if (header < 0)
        return -7;
    const int32_t room = LogService::kLineSize - 1 - header;
    va_list args;
    va_start(args, format);
    const int text = std::vsnprintf(buf + header, static_cast<size_t>(room), format, args);
    va_end(args);
    if (text < 0 || text >= room)
        return -7;
    const int32_t end = header + text;
    if (end + 2 >= LogService::kLineSize)
        return -6;
    buf[end] = '\r';
    buf[end + 1] = '\n';
    buf[end + 2] = '\0';
    return log.Push(buf, end + 3);
}

int32_t YAR_Log_EnableOutput(int32_t output) {
    LogService &log = LogService::GetInstance();
    switch (output) {
    case YAR_LOG_OUTPUT_CONSOLE:
        log.SetConsoleOutput(true);
        return 0;
    case YAR_LOG_OUTPUT_DEBUGGER:
        log.SetDebuggerOutput(true);
        return 0;
    case YAR_LOG_OUTPUT_FILE:
        return log.SetFileOutput(true, false);
    default:
        return -6;
    }
}

int32_t YAR_Log_DisableOutput(int32_t output) {
    if (output < YAR_LOG_OUTPUT_CONSOLE || output > YAR_LOG_OUTPUT_FILE)
        return -6;
    LogService &log = LogService::GetInstance();
    // The lines queued while the output was on still reach it.
    if (log.HasOutputBesides(output))
        log.Flush();
    else
        log.Stop();
    if (output == YAR_LOG_OUTPUT_CONSOLE)
        log.SetConsoleOutput(false);
    else if (output == YAR_LOG_OUTPUT_DEBUGGER)
        log.SetDebuggerOutput(false);
    else
        log.SetFileOutput(false, true);
    return 0;
}

int32_t YAR_Log_ResetLevel(void) {
    LogService::GetInstance().ResetLevel();
    return 0;
}

int32_t YAR_Log_Open(void) {
    LogService::GetInstance().SetClosed(false);
    return 0;
}

int32_t YAR_Log_Close(void) {
    LogService &log = LogService::GetInstance();
    log.SetClosed(true);
    return log.Stop();
}

void YAR_Log_NormalizeDir(char *path) {
    if (!path)
        return;
    size_t length = 0;
    for (; path[length]; ++length)
        if (path[length] == '\\')
            path[length] = '/';
    // An empty path stays empty (the current directory), rather than becoming the root.
    if (length > 0 && path[length - 1] != '/') {
        path[length] = '/';
        path[length + 1] = '\0';
    }
}

}  // extern "C"
