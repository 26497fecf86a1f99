// CLogService: one logging engine. Producers format a line and copy it into a ring; one writer
// thread moves the queued lines to the console, the debugger output, the user callback and a
// rotating log file, and applies the retention rule to finished files.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "Module/Log/LogClock.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_cond.h"
#include "yar/yar_mutex.h"
#include "yar/yar_thread.h"

namespace Vorezi {

class CLogService {
public:
    CLogService();
    ~CLogService();
    CLogService(const CLogService &) = delete;
    CLogService &operator=(const CLogService &) = delete;

    bool IsCreated() const { return m_bCreated; }

    // Whether a line of this level would reach an output now; callers check it before formatting.
    bool Accepts(int iLevel) const;
    // Queues prefix, text and CR LF; 1 when queued, 0 when filtered out, too long or dropped.
    int WriteLog(int iLevel, const char *pText);
    // Writes straight into the log file on the caller's thread.
    int WriteRawText(const char *pText, int iLen);

    int EnableOutput(int iOutput, const char *pDir, DWORD dwSize, int iMode);
    int DisableOutput(int iOutput);
    void SetLogLevel(int iLevel) { m_iLogLevel.store(iLevel); }
    int GetLogLevel();
    int SetLogFile(int iLevel, const char *pDir, int iMode, int iCfgIndex);
    int SetLogParam(int bEnable, int iLevel, const char *pDir, int iMode);
    void SetDebugOutput(int bOn);
    void SetLogCallBack(int iLevel, LOG_CALLBACK fnCallBack, void *pUser);
    void SetFileOpenCallBack(LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser);
    void SetPrefix(const char *pPrefix);
    void SetHeadText(const char *pText);
    const char *GetLogDir() const { return m_szLogDir; }
    int IsUseCfgFile() const { return m_bUseCfgFile; }
    void PrintLogParam();

    // Lines dropped because the queue was full or the writer was stopping.
    uint64_t GetDroppedLines() const { return m_qwDropped.load(); }
    // Blocks until everything queued so far has reached the outputs (tests, benchmarks).
    void WaitDrained();

private:
    struct Record {
        const char *pData;
        uint32_t dwLen;
        int iLevel;
    };

    // Queue and writer (LogService.cpp).
    bool HasOutput() const;
    bool EnsureStarted();
    int Start();
    void Stop();
    int Queue(const char *pLine, uint32_t dwLen, int iLevel);
    static uint32_t WriterMain(void *pArg);
    void WriterLoop();
    void Deliver(const std::vector<Record> &records);
    std::string HeadText();
    void OutputConsole(const Record &rec);
    void OutputDebugger(const Record &rec);
    void StopIfIdle();
    void SwitchFileOff();

    // Files (LogFiles.cpp); all under the file mutex.
    int WriteFile(const char *pData, uint32_t dwLen);
    int WriteFileLocked(const char *pData, uint32_t dwLen);
    int64_t CurrentFileSize();
    bool OpenNewFile();
    int CreateNamedFile(std::string *pName);
    void RenameCurrentFile();
    void CloseFile();
    void RotateFile();
    // Switching on takes whether zipping is usable, from ZipUsable() outside the file mutex.
    int SetFileOutput(bool bOn, const char *pDir, DWORD dwSize, int iMode, bool bZip = false);
    static bool ZipUsable();
    int SetDirectory(const char *pDir, DWORD dwSize);
    bool ScanDirectory();
    bool IsOwnName(const std::string &name, const char *pExt) const;
    void ApplyRetention();
    bool ZipOldest(size_t maxPerArchive);
    void ClearFileLists();

    bool m_bCreated = false;
    YAR_SEM_T m_hSem = nullptr;
    YAR_MUTEX_T m_CtrlMutex;
    std::atomic<int> m_bStarted{0};
    int m_bUseCfgFile = 0;
    int m_iLogMod = LOG_MODE_OFF;
    int m_iSavedLogMod = LOG_MODE_OFF;
    std::atomic<int> m_iLogLevel{LOG_LEVEL_DISABLE};
    int m_iSavedLogLevel = LOG_LEVEL_DISABLE;
    int m_iCfgIndex = 1;
    char m_szLogDir[LOG_PATH_FIELD] = {0};
    char m_szSavedLogDir[LOG_PATH_FIELD] = {0};
    bool m_bDirChanged = false;
    DWORD m_dwMaxFileSize = LOG_DEFAULT_FILE_SIZE;
    char m_szPrefix[30] = "SdkLog_";
    char m_szHeadText[LOG_MAX_LINE] = {0};
    std::atomic<int> m_bConsole{0};
    std::atomic<int> m_bDebugger{0};
    std::atomic<int> m_bFile{0};
    bool m_bConsoleHeadPending = true;
    bool m_bDebuggerHeadPending = true;
    YAR_HANDLE m_hThread = YAR_INVALID_THREAD;
    std::atomic<int> m_bStopping{0};
    std::atomic<std::thread::id> m_WriterId{};
    // Held while the writer hands a batch to the outputs: a callback change waits for it, so the
    // old callback is never called once the change has returned.
    std::mutex m_DeliverMutex;

    YAR_MUTEX_T m_QueueMutex;
    std::unique_ptr<char[]> m_pRing;
    uint32_t m_dwWritePos = 0;
    uint32_t m_dwFreeBudget = 0;
    std::vector<Record> m_Queue;
    bool m_bWriterAsleep = false;  // waiting for a producer's signal (queue mutex)
    uint64_t m_qwQueued = 0;    // lines queued since start (queue mutex)
    uint64_t m_qwDelivered = 0;  // lines handed to the outputs (queue mutex)
    YAR_COND_T m_hDrained = nullptr;
    std::atomic<uint64_t> m_qwDropped{0};

    YAR_MUTEX_T m_FileMutex;
    int m_hFile = -1;
    std::deque<std::string> m_LogFiles;
    std::unordered_set<std::string> m_LogFileSet;
    int m_iLogIndex = 0;
    char m_szCurFile[LOG_PATH_FIELD] = {0};
    bool m_bZipFine = false;
    bool m_bOpening = false;  // the file-opened callback is running
    int m_iMaxLogFileReserved = 10;
    int m_iMaxZipFileReserved = 10;
    std::deque<std::string> m_ZipFiles;
    std::unordered_set<std::string> m_ZipFileSet;

    // The callback is read by the writer for every record; a change is published as a whole.
    struct CallBack {
        int iLevel;
        LOG_CALLBACK fn;
        void *pUser;
    };
    std::atomic<int> m_iCallbackLevel{LOG_LEVEL_DISABLE};
    std::atomic<bool> m_bHasCallBack{false};
    CallBack m_CallBack = {LOG_LEVEL_DISABLE, nullptr, nullptr};  // queue mutex
    LOG_FILE_OPEN_CALLBACK m_fnFileOpen = nullptr;                // file mutex
    void *m_pFileOpenUser = nullptr;
};

}  // namespace Vorezi
