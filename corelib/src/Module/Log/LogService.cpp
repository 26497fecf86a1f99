// The producer side, the queue and the writer thread of CLogService.
#include "Module/Log/LogService.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogClock.h"
#include "Module/Log/LogPlatform.h"
#include "Utils/Utils.h"

namespace Vorezi {

namespace {

constexpr uint32_t kRingSize = 0x200000;
// Producers may fill this much between two writer passes while the writer still reads the
// previous pass: together they never exceed the ring.
constexpr uint32_t kPassBudget = 0x100000;
constexpr int kMaxLineBody = LOG_MAX_LINE - 2;  // prefix and text, before CR LF
constexpr uint32_t kWriterStack = 0x40000;
constexpr int kWriterWaitMs = 25;
// After a batch the writer waits this long unsignalled before it sleeps: a steady stream of lines
// then costs one wake-up per pause instead of one per line.
constexpr int kWriterLingerMs = 1;
constexpr int kCallBackTextMax = LOG_MAX_LINE - 1;

const char *const kLevelNames[] = {"DISABLE", "ERR", "DBG", "INF"};

const char *LevelName(int iLevel) {
    return (iLevel >= LOG_LEVEL_DISABLE && iLevel <= LOG_LEVEL_INF) ? kLevelNames[iLevel] : "";
}

void Put2(char *p, int v) {
    p[0] = (char)('0' + v / 10 % 10);
    p[1] = (char)('0' + v % 10);
}

// "[%04d-%02d-%02d %02d:%02d:%02d.%03d][%s] " without the cost of printf on every line.
int FormatPrefix(char *pBuf, int iSize, int iLevel) {
    LogTime t;
    int n;
    if (!LogClock_Now(&t)) {
        n = std::snprintf(pBuf, iSize, "[LocalTime out of range][%s] ", LevelName(iLevel));
    } else if (t.iYear >= 0 && t.iYear <= 9999 && iSize >= 32 && iLevel >= LOG_LEVEL_ERR && iLevel <= LOG_LEVEL_INF) {
        char *p = pBuf;
        *p++ = '[';
        Put2(p, t.iYear / 100);
        Put2(p + 2, t.iYear % 100);
        p[4] = '-';
        Put2(p + 5, t.iMonth);
        p[7] = '-';
        Put2(p + 8, t.iDay);
        p[10] = ' ';
        Put2(p + 11, t.iHour);
        p[13] = ':';
        Put2(p + 14, t.iMinute);
        p[16] = ':';
        Put2(p + 17, t.iSecond);
        p[19] = '.';
        p[20] = (char)('0' + t.iMilli / 100 % 10);
        Put2(p + 21, t.iMilli % 100);
        p += 23;
        *p++ = ']';
        *p++ = '[';
        std::memcpy(p, kLevelNames[iLevel], 3);
        p += 3;
        *p++ = ']';
        *p++ = ' ';
        *p = '\0';
        return (int)(p - pBuf);
    } else {
        n = std::snprintf(pBuf, iSize, "[%04d-%02d-%02d %02d:%02d:%02d.%03d][%s] ", t.iYear, t.iMonth, t.iDay,
                          t.iHour, t.iMinute, t.iSecond, t.iMilli, LevelName(iLevel));
    }
    if (n < 0)
        return 0;
    return n < iSize ? n : iSize - 1;
}

}  // namespace

int LogModule_FormatPrefix(char *pBuf, int iSize, int iLevel) {
    if (!pBuf || iSize <= 0)
        return 0;
    return FormatPrefix(pBuf, iSize, iLevel);
}

CLogService::CLogService() {
    bool bCtrl = YAR_MutexCreate(&m_CtrlMutex, 0) == 0;
    bool bQueue = YAR_MutexCreate(&m_QueueMutex, 0) == 0;
    bool bFile = YAR_MutexCreate(&m_FileMutex, 0) == 0;
    bool bSem = YAR_SemCreate(&m_hSem, 0) == 0;
    bool bCond = YAR_CondCreate(&m_hDrained) == 0;
    m_bCreated = bCtrl && bQueue && bFile && bSem && bCond;
    if (!m_bCreated) {
        if (bCtrl)
            YAR_MutexDestroy(&m_CtrlMutex);
        if (bQueue)
            YAR_MutexDestroy(&m_QueueMutex);
        if (bFile)
            YAR_MutexDestroy(&m_FileMutex);
        if (bSem)
            YAR_SemDestroy(&m_hSem);
        if (bCond)
            YAR_CondDestroy(&m_hDrained);
    }
}

CLogService::~CLogService() {
    if (!m_bCreated)
        return;
    Stop();
    {
        yar::yar_guard file(&m_FileMutex);
        SetFileOutput(false, nullptr, 0, LOG_MODE_OFF);
    }
    YAR_CondDestroy(&m_hDrained);
    YAR_SemDestroy(&m_hSem);
    YAR_MutexDestroy(&m_FileMutex);
    YAR_MutexDestroy(&m_QueueMutex);
    YAR_MutexDestroy(&m_CtrlMutex);
}

bool CLogService::HasOutput() const {
    return m_bConsole.load() || m_bDebugger.load() || m_bFile.load() || m_bHasCallBack.load();
}

bool CLogService::Accepts(int iLevel) const {
    if (!m_bCreated)
        return false;
    bool bFilePass = iLevel <= m_iLogLevel.load(std::memory_order_relaxed);
    bool bCallBackPass = m_bHasCallBack.load(std::memory_order_relaxed) &&
                         iLevel <= m_iCallbackLevel.load(std::memory_order_relaxed);
    return (bFilePass || bCallBackPass) && HasOutput();
}

int CLogService::WriteLog(int iLevel, const char *pText) {
    if (!pText || !Accepts(iLevel))
        return 0;
    if (!EnsureStarted())
        return 0;

    char szLine[LOG_MAX_LINE + 1];
    int n = FormatPrefix(szLine, sizeof(szLine), iLevel);
    size_t len = std::strlen(pText);
    // A line longer than the limit is not written at all rather than cut.
    if (len > (size_t)(kMaxLineBody - n))
        return 0;
    std::memcpy(szLine + n, pText, len);
    n += (int)len;
    szLine[n++] = '\r';
    szLine[n++] = '\n';
    return Queue(szLine, (uint32_t)n, iLevel);
}

int CLogService::Queue(const char *pLine, uint32_t dwLen, int iLevel) {
    yar::yar_guard queue(&m_QueueMutex);
    // A line never wraps: when it does not fit before the ring's end it goes to the start, and
    // the skipped tail counts against the budget so the writer's region stays untouched.
    bool bWrap = kRingSize - m_dwWritePos < dwLen;
    uint32_t dwSkip = bWrap ? kRingSize - m_dwWritePos : 0;
    if (!m_bStarted.load() || m_bStopping.load() || !m_pRing || m_dwFreeBudget < dwLen + dwSkip) {
        queue.Release();
        m_qwDropped.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    if (bWrap)
        m_dwWritePos = 0;
    char *pDst = m_pRing.get() + m_dwWritePos;
    std::memcpy(pDst, pLine, dwLen);
    m_Queue.push_back(Record{pDst, dwLen, iLevel});
    m_dwWritePos += dwLen;
    m_dwFreeBudget -= dwLen + dwSkip;
    m_qwQueued++;
    // Only a sleeping writer is signalled, once; an awake or lingering one takes the line with
    // everything else queued when it next looks.
    bool bSignal = m_bWriterAsleep;
    m_bWriterAsleep = false;
    queue.Release();
    if (bSignal)
        YAR_SemPost(&m_hSem);
    return 1;
}

bool CLogService::EnsureStarted() {
    if (m_bStarted.load(std::memory_order_acquire))
        return true;
    Start();
    return m_bStarted.load(std::memory_order_acquire) != 0;
}

int CLogService::Start() {
    yar::yar_guard ctrl(&m_CtrlMutex);
    if (m_bStarted.load())
        return 0;
    bool bOk;
    {
        yar::yar_guard queue(&m_QueueMutex);
        if (!m_pRing)
            m_pRing.reset(new (std::nothrow) char[kRingSize]);
        bOk = m_pRing != nullptr;
        if (bOk) {
            m_dwWritePos = 0;
            m_dwFreeBudget = kPassBudget;
            m_Queue.clear();
            m_Queue.reserve(4096);
            m_qwQueued = m_qwDelivered = 0;
            m_bStopping.store(0);
            m_bStarted.store(1, std::memory_order_release);
        }
    }
    if (bOk) {
        m_hThread = YAR_Thread_Create(WriterMain, this, kWriterStack, 0, 0, 0);
        if (!m_hThread) {
            yar::yar_guard queue(&m_QueueMutex);
            m_bStarted.store(0);
            m_pRing.reset();
            bOk = false;
        }
    }
    return bOk ? 1 : 0;
}

void CLogService::Stop() {
    yar::yar_guard ctrl(&m_CtrlMutex);
    if (!m_bStarted.load())
        return;
    m_bStopping.store(1);
    YAR_SemPost(&m_hSem);
    YAR_Thread_Wait(m_hThread);
    m_hThread = YAR_INVALID_THREAD;

    {
        yar::yar_guard file(&m_FileMutex);
        SetFileOutput(false, nullptr, 0, LOG_MODE_OFF);
        m_iLogIndex = 0;
        m_szCurFile[0] = '\0';
    }

    yar::yar_guard queue(&m_QueueMutex);
    m_Queue.clear();
    m_pRing.reset();
    m_bStarted.store(0);
    YAR_CondBroadcast(&m_hDrained);
}

void CLogService::WaitDrained() {
    // The writer cannot wait for itself (a callback that reconfigures its own log).
    if (m_WriterId.load() == std::this_thread::get_id())
        return;
    yar::yar_guard queue(&m_QueueMutex);
    uint64_t qwTarget = m_qwQueued;
    while (m_bStarted.load() && m_qwDelivered < qwTarget) {
        YAR_SemPost(&m_hSem);
        YAR_CondTimedWait(&m_hDrained, &m_QueueMutex, kWriterWaitMs);
    }
}

uint32_t CLogService::WriterMain(void *pArg) {
    static_cast<CLogService *>(pArg)->WriterLoop();
    return 0;
}

void CLogService::WriterLoop() {
    m_WriterId.store(std::this_thread::get_id());
    std::vector<Record> batch;
    batch.reserve(4096);
    bool bLinger = false;  // the last pass delivered a batch
    for (;;) {
        bool bEnd, bWait;
        {
            yar::yar_guard queue(&m_QueueMutex);
            bEnd = m_bStopping.load() && m_Queue.empty();
            bWait = !bEnd && m_Queue.empty();
            m_bWriterAsleep = bWait && !bLinger;
        }
        if (bEnd)
            break;
        // Stop and WaitDrained post as well, which cuts a linger or a sleep short.
        if (bWait)
            YAR_SemTimedWait(&m_hSem, bLinger ? kWriterLingerMs : kWriterWaitMs);

        {
            yar::yar_guard queue(&m_QueueMutex);
            m_bWriterAsleep = false;
            if (m_Queue.empty()) {
                bLinger = false;
                continue;
            }
            batch.swap(m_Queue);
            m_dwFreeBudget = kPassBudget;
        }

        if (HasOutput())
            Deliver(batch);

        {
            yar::yar_guard queue(&m_QueueMutex);
            m_qwDelivered += batch.size();
            YAR_CondBroadcast(&m_hDrained);
        }
        batch.clear();
        bLinger = true;
    }
    m_WriterId.store(std::thread::id());
}

void CLogService::Deliver(const std::vector<Record> &records) {
    std::lock_guard<std::mutex> delivering(m_DeliverMutex);
    CallBack cb;
    {
        yar::yar_guard queue(&m_QueueMutex);
        cb = m_CallBack;
    }
    bool bConsole = m_bConsole.load();
    bool bDebugger = m_bDebugger.load();
    bool bFile = m_bFile.load();
    int iFileLevel = m_iLogLevel.load();

    const char *pRun = nullptr;
    uint32_t dwRun = 0;
    for (const Record &rec : records) {
        if (bConsole)
            OutputConsole(rec);
        if (bDebugger)
            OutputDebugger(rec);
        if (cb.fn && rec.iLevel <= cb.iLevel) {
            char szText[kCallBackTextMax + 1];
            uint32_t n = rec.dwLen < (uint32_t)kCallBackTextMax ? rec.dwLen : (uint32_t)kCallBackTextMax;
            std::memcpy(szText, rec.pData, n);
            szText[n] = '\0';
            LOG_CALLBACK_RECORD out{};
            out.pText = szText;
            out.dwLength = n;
            out.dwLevel = (DWORD)rec.iLevel;
            cb.fn(&out, cb.pUser);
        }
        if (!bFile)
            continue;
        if (cb.fn) {
            // With a callback, lines were queued for either threshold: filter for the file.
            if (rec.iLevel <= iFileLevel)
                WriteFile(rec.pData, rec.dwLen);
            continue;
        }
        if (pRun && rec.pData == pRun + dwRun) {
            dwRun += rec.dwLen;
            continue;
        }
        if (pRun) {
            if (rec.pData > pRun)
                Utils_Assert();  // only a wrap to the ring's start may break a run
            WriteFile(pRun, dwRun);
        }
        pRun = rec.pData;
        dwRun = rec.dwLen;
    }
    if (pRun)
        WriteFile(pRun, dwRun);
    if (bConsole)
        std::fflush(stdout);
}

std::string CLogService::HeadText() {
    yar::yar_guard file(&m_FileMutex);
    return std::string(m_szHeadText);
}

void CLogService::OutputConsole(const Record &rec) {
    if (m_bConsoleHeadPending) {
        m_bConsoleHeadPending = false;
        std::string head = HeadText();
        if (!head.empty())
            std::fputs(head.c_str(), stdout);
    }
    std::fwrite(rec.pData, 1, rec.dwLen, stdout);
}

void CLogService::OutputDebugger(const Record &rec) {
    if (m_bDebuggerHeadPending) {
        m_bDebuggerHeadPending = false;
        std::string head = HeadText();
        if (!head.empty())
            logplat::DebuggerOutput(head.c_str());
    }
    char szText[LOG_MAX_LINE + 1];
    std::memcpy(szText, rec.pData, rec.dwLen);
    szText[rec.dwLen] = '\0';
    logplat::DebuggerOutput(szText);
}

// ---- configuration ----

int CLogService::EnableOutput(int iOutput, const char *pDir, DWORD dwSize, int iMode) {
    if (!m_bCreated)
        return 0;
    switch (iOutput) {
    case LOG_OUTPUT_CONSOLE:
        m_bConsole.store(1);
        return 1;
    case LOG_OUTPUT_DEBUGGER:
        m_bDebugger.store(1);
        return 1;
    case LOG_OUTPUT_FILE: {
        bool bZip = ZipUsable();
        yar::yar_guard file(&m_FileMutex);
        SetFileOutput(true, pDir, dwSize, iMode, bZip);
        return 1;
    }
    default:
        return 0;
    }
}

int CLogService::DisableOutput(int iOutput) {
    if (!m_bCreated)
        return 0;
    switch (iOutput) {
    case LOG_OUTPUT_CONSOLE:
        m_bConsole.store(0);
        break;
    case LOG_OUTPUT_DEBUGGER:
        m_bDebugger.store(0);
        break;
    case LOG_OUTPUT_FILE:
        SwitchFileOff();
        break;
    default:
        return 0;
    }
    StopIfIdle();
    return 1;
}

void CLogService::SwitchFileOff() {
    // Lines already accepted reach the file before it goes away.
    WaitDrained();
    yar::yar_guard file(&m_FileMutex);
    SetFileOutput(false, nullptr, 0, LOG_MODE_OFF);
}

void CLogService::StopIfIdle() {
    if (!HasOutput())
        Stop();
}

int CLogService::GetLogLevel() {
    return m_bStarted.load() ? m_iLogLevel.load() : 0;
}

int CLogService::SetLogFile(int iLevel, const char *pDir, int iMode, int iCfgIndex) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (iLevel < LOG_LEVEL_DISABLE || iLevel > LOG_LEVEL_INF || (pDir && std::strlen(pDir) > LOG_MAX_DIR_LEN)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    // The log is held by the controller's configuration file or by an override in force.
    if (pCtrl->IsUseLogConfigFile() || m_bUseCfgFile) {
        SetError(MORVA_ERR_LOG_CFG_FILE);
        return 0;
    }
    if (!m_bCreated)
        return 0;
    const bool bOn = iLevel > LOG_LEVEL_DISABLE && iMode != LOG_MODE_OFF;
    bool bZip = bOn && ZipUsable();
    int iResult = 1;
    {
        yar::yar_guard file(&m_FileMutex);
        if (iCfgIndex < m_iCfgIndex)
            return 1;
        m_iCfgIndex = iCfgIndex;
        if (bOn) {
            m_iLogLevel.store(iLevel);
            iResult = SetFileOutput(true, pDir, 0, iMode, bZip);
        } else {
            m_bDebugger.store(0);
        }
    }
    // Off outside the file mutex: switching off waits for the writer, which takes it.
    if (!bOn) {
        SwitchFileOff();
        StopIfIdle();
    }
    if (iResult)
        SetError(MORVA_ERR_SUCCESS);
    return iResult;
}

int CLogService::SetLogParam(int bEnable, int iLevel, const char *pDir, int iMode) {
    if (!m_bCreated)
        return 0;
    bool bZip = ZipUsable();
    yar::yar_guard file(&m_FileMutex);
    if (bEnable) {
        if (!m_bUseCfgFile) {
            m_iSavedLogMod = m_iLogMod;
            m_iSavedLogLevel = m_iLogLevel.load();
            std::memcpy(m_szSavedLogDir, m_szLogDir, sizeof(m_szLogDir));
            m_bUseCfgFile = 1;
        }
    } else {
        if (!m_bUseCfgFile)
            return 1;
        iLevel = m_iSavedLogLevel;
        iMode = m_iSavedLogMod;
        pDir = m_szSavedLogDir;
        m_bUseCfgFile = 0;
    }
    // pDir may point at the saved directory, which SetFileOutput does not overwrite.
    char szDir[LOG_PATH_FIELD] = {0};
    if (pDir)
        std::snprintf(szDir, sizeof(szDir), "%s", pDir);
    int iResult = 1;
    if (iLevel >= LOG_LEVEL_ERR && iLevel <= LOG_LEVEL_INF)
        m_iLogLevel.store(iLevel);
    if (iLevel == LOG_LEVEL_DISABLE || iMode == LOG_MODE_OFF) {
        // Switching off waits for the writer, which takes the file mutex.
        file.Release();
        SwitchFileOff();
        StopIfIdle();
        return 1;
    }
    iResult = SetFileOutput(true, szDir[0] ? szDir : nullptr, LOG_DEFAULT_FILE_SIZE, iMode, bZip);
    return iResult;
}

void CLogService::SetDebugOutput(int bOn) {
    m_bDebugger.store(bOn ? 1 : 0);
}

void CLogService::SetLogCallBack(int iLevel, LOG_CALLBACK fnCallBack, void *pUser) {
    if (!m_bCreated)
        return;
    {
        yar::yar_guard queue(&m_QueueMutex);
        m_CallBack = CallBack{iLevel, fnCallBack, pUser};
        m_iCallbackLevel.store(iLevel);
        m_bHasCallBack.store(fnCallBack != nullptr);
    }
    // From inside a callback the batch in hand is the caller's own.
    if (m_WriterId.load() != std::this_thread::get_id()) {
        std::lock_guard<std::mutex> delivered(m_DeliverMutex);
    }
}

void CLogService::SetFileOpenCallBack(LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser) {
    if (!m_bCreated)
        return;
    yar::yar_guard file(&m_FileMutex);
    m_fnFileOpen = fnCallBack;
    m_pFileOpenUser = pUser;
}

void CLogService::SetPrefix(const char *pPrefix) {
    if (!pPrefix || !m_bCreated)
        return;
    size_t len = std::strlen(pPrefix);
    if (len >= sizeof(m_szPrefix))
        return;
    yar::yar_guard file(&m_FileMutex);
    std::snprintf(m_szPrefix, sizeof(m_szPrefix), "%s", len ? pPrefix : "SdkLog_");
}

void CLogService::SetHeadText(const char *pText) {
    if (!pText || !m_bCreated || std::strlen(pText) >= sizeof(m_szHeadText))
        return;
    yar::yar_guard file(&m_FileMutex);
    std::snprintf(m_szHeadText, sizeof(m_szHeadText), "%s", pText);
}

void CLogService::PrintLogParam() {
    yar::yar_guard file(&m_FileMutex);
    LOG_CALLBACK fnCallBack;
    {
        yar::yar_guard queue(&m_QueueMutex);
        fnCallBack = m_CallBack.fn;
    }
    char szMode[32];
    if (m_iLogMod == LOG_MODE_COVER)
        std::snprintf(szMode, sizeof(szMode), "LogMod=Cover(AutoDel=TRUE)");
    else if (m_iLogMod == LOG_MODE_NOCOVER)
        std::snprintf(szMode, sizeof(szMode), "LogMod=NoCover(AutoDel=FALSE)");
    else
        std::snprintf(szMode, sizeof(szMode), "LogMod[%d]", m_iLogMod);
    char szLine[512];
    int n = std::snprintf(szLine, sizeof(szLine),
                          "LogParam, UseCfgFile[%d], %s, LogIndex[%d], LogLevel[%d], ZipFine[%d], "
                          "MaxLogFileReserved[%d], LogCallBack[0x%X], LogCallbackLevel[%d]\r\n",
                          m_bUseCfgFile, szMode, m_iLogIndex, m_iLogLevel.load(), m_bZipFine ? 1 : 0,
                          m_iMaxLogFileReserved, MORVA_PTR_ARG(fnCallBack), m_iCallbackLevel.load());
    if (n > 0)
        WriteFileLocked(szLine, (uint32_t)(n < (int)sizeof(szLine) ? n : (int)sizeof(szLine) - 1));
}

}  // namespace Vorezi
