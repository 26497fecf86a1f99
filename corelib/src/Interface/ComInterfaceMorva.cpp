// The core library's flat interface: lifecycle, errors, log and memory.
#include "morva/ComInterfaceMorva.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Zlib/ZlibAPI.h"
#include "Utils/Utils.h"

using namespace Vorezi;

static_assert(sizeof(MORVA_LOG_RECORD) == sizeof(LOG_CALLBACK_RECORD) &&
                  offsetof(MORVA_LOG_RECORD, dwLength) == offsetof(LOG_CALLBACK_RECORD, dwLength) &&
                  offsetof(MORVA_LOG_RECORD, dwLevel) == offsetof(LOG_CALLBACK_RECORD, dwLevel),
              "the public log record is the log service's record");

namespace {

constexpr int kLogBuffer = 1024;
constexpr int kLogConfigIndex = 2;
constexpr int kGlobalConfigIndex = 1;
constexpr DWORD kSmallestClass = 32;
constexpr DWORD kLargestClass = 0x200000;
constexpr int kFirstClassKind = 10;

int CheckInit() {
    return Ctrl()->CheckInit();
}

// The global log, pinned for the call so that a concurrent last Fini cannot free it underneath.
class GlobalLog {
public:
    GlobalLog() : m_pLog(Ctrl()->TakeLogService()) {}
    ~GlobalLog() {
        if (m_pLog)
            Ctrl()->PutLogService();
    }
    GlobalLog(const GlobalLog &) = delete;
    GlobalLog &operator=(const GlobalLog &) = delete;
    CLogService *Get() const { return m_pLog; }

private:
    CLogService *m_pLog;
};

CLogService *Instance(MORVA_LOG_HANDLE hLog) {
    return static_cast<CLogService *>(hLog);
}

// The 1024-byte line of the entry points; the length the whole text needed, or -1.
int FormatLine(char (&szText)[kLogBuffer], const char *pFormat, va_list args) {
    return std::vsnprintf(szText, sizeof(szText), pFormat, args);
}

int WriteGlobal(int iLevel, const char *pText) {
    GlobalLog log;
    return log.Get() ? log.Get()->WriteLog(iLevel, pText) : 0;
}

// Formats into the 1024-byte line and writes it; with bWhole a text that does not fit is not
// written cut but refused with -1.
// A line no output takes is not formatted at all.
int PrintGlobal(int iLevel, bool bWhole, const char *pFormat, va_list args) {
    GlobalLog log;
    if (!log.Get() || !log.Get()->Accepts(iLevel))
        return 0;
    char szText[kLogBuffer];
    int n = FormatLine(szText, pFormat, args);
    if (n < 0 || (bWhole && n >= (int)sizeof(szText)))
        return -1;
    return log.Get()->WriteLog(iLevel, szText);
}

// The banner line: version bytes, build date, async-I/O flag.
int FormatBanner(char *pBuf, size_t uSize) {
    return std::snprintf(pBuf, uSize, "KWMorva version is %d.%d.%d.%d, %s. Async:%d.",
                         (MORVA_LIB_VERSION >> 24) & 0xFF, (MORVA_LIB_VERSION >> 16) & 0xFF,
                         (MORVA_LIB_VERSION >> 8) & 0xFF, MORVA_LIB_VERSION & 0xFF, MORVA_LIB_BUILD_DATE,
                         (int)Ctrl()->IsAsyncIO());
}

void WriteBanner(CLogService *pLog, const char *pDir) {
    char szBanner[128];
    FormatBanner(szBanner, sizeof(szBanner));
    pLog->WriteLog(LOG_LEVEL_INF, szBanner);
    char szPath[kLogBuffer];
    std::snprintf(szPath, sizeof(szPath), "The storage path of core log: %s", pDir ? pDir : "");
    pLog->WriteLog(LOG_LEVEL_INF, szPath);
}

bool ValidLevel(int iLevel) {
    return iLevel >= LOG_LEVEL_DISABLE && iLevel <= LOG_LEVEL_INF;
}

// Kinds 0 Cover, 1 and 2 NoCover; -1 for any other.
int ModeOfKind(int iKind) {
    if (iKind == 0)
        return LOG_MODE_COVER;
    return iKind == 1 || iKind == 2 ? LOG_MODE_NOCOVER : -1;
}

bool UseMemPool() {
    return Ctrl()->IsUseMemPool() != 0;
}

}  // namespace

// ---- lifecycle and configuration ----

int Morva_Init(void) {
    if (Ctrl()->Init())
        return 1;
    SetError(MORVA_ERR_ALLOC);
    return 0;
}

int Morva_Fini(void) {
    return Ctrl()->Fini();
}

int Morva_GetVersion(void) {
    return CheckInit() ? MORVA_LIB_VERSION : 0;
}

int Morva_PrintLibInfo(void) {
    Ctrl()->PrintLibInfo();
    return 1;
}

int Morva_SetInitConfig(int enumType, const void *pParam) {
    return Ctrl()->SetInitConfig(enumType, pParam);
}

int Morva_SetSDKLocalCfg(DWORD dwType, const void *pInBuff) {
    return CheckInit() ? Ctrl()->SetSDKLocalCfg(dwType, pInBuff) : 0;
}

int Morva_GetSDKLocalCfg(DWORD dwType, void *pOutBuff) {
    return CheckInit() ? Ctrl()->GetSDKLocalCfg(dwType, pOutBuff) : 0;
}

void Morva_SetDllLoadPath(int iDllIndex, const char *pPath) {
    Ctrl()->SetDllLoadPath(iDllIndex, pPath);
}

int Morva_SetDllLoadDir(int iDllIndex, const char *pDir) {
    return Ctrl()->SetDllLoadDir(iDllIndex, pDir);
}

void *Morva_LoadDSo(int iDllIndex) {
    return Ctrl()->LoadDSo(iDllIndex);
}

int Morva_GetModulePath(char *pBuf, int iSize) {
    return Utils_GetModuleDir(pBuf, iSize);
}

// ---- errors and per-thread values ----

int Morva_GetLastError(void) {
    return LastError();
}

int Morva_SetLastError(int iError) {
    SetError(iError);
    return 1;
}

int Morva_GetSysLastError(void) {
    return Utils_GetSysLastError();
}

int Morva_Assert(void) {
    Utils_Assert();
    return 1;
}

int Morva_SetThreadUserValues(int iValue1, int iValue2) {
    Ctrl()->SetThreadUserValues(iValue1, iValue2);
    return 1;
}

void *Morva_GetThreadUserValues(int *pValue1, int *pValue2) {
    Ctrl()->GetThreadUserValues(pValue1, pValue2);
    return pValue1;
}

// ---- log entry points ----

int Morva_LogPrint(int iLevel, const char *pFormat, ...) {
    va_list args;
    va_start(args, pFormat);
    int iResult = PrintGlobal(iLevel, false, pFormat, args);
    va_end(args);
    return iResult;
}

int Morva_LogPrintPos(int iLevel, const char * /*pFile*/, int /*iLine*/, const char *pFormat, ...) {
    va_list args;
    va_start(args, pFormat);
    int iResult = PrintGlobal(iLevel, true, pFormat, args);
    va_end(args);
    return iResult;
}

int Morva_LogPrintRaw(const char *pFormat, ...) {
    char szText[kLogBuffer];
    va_list args;
    va_start(args, pFormat);
    int n = FormatLine(szText, pFormat, args);
    va_end(args);
    if (n < 0)
        return 0;
    return LogModule_WriteRaw("%s", szText);
}

int Morva_LogPrintText(int iLevel, const char * /*pFile*/, int /*iLine*/, const char *pText) {
    return pText ? WriteGlobal(iLevel, pText) : 0;
}

int Morva_WriteLog(MORVA_LOG_HANDLE hLog, int iLevel, const char *pText) {
    return hLog && pText ? Instance(hLog)->WriteLog(iLevel, pText) : 0;
}

void Morva_DebugPrint(DWORD dwCategory, const char *pFormat, ...) {
    if (!Ctrl()->IsDebugCategoryEnabled(dwCategory))
        return;
    va_list args;
    va_start(args, pFormat);
    PrintGlobal(LOG_LEVEL_DBG, false, pFormat, args);
    va_end(args);
}

int Morva_IsDebugCategoryEnabled(DWORD dwCategory) {
    return Ctrl()->IsDebugCategoryEnabled(dwCategory);
}

int Morva_EnableDebugCategory(DWORD dwCategory) {
    return Ctrl()->EnableDebugCategory(dwCategory);
}

int Morva_DisableDebugCategory(DWORD dwCategory) {
    return Ctrl()->DisableDebugCategory(dwCategory);
}

int Morva_ClearDebugCategories(void) {
    return Ctrl()->ClearDebugCategories();
}

// ---- log configuration ----

int Morva_SetLogFile(int iLevel, const char *pDir, int bAutoDel) {
    if (!CheckInit())
        return 0;
    if (!ValidLevel(iLevel)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    int iMode = iLevel == LOG_LEVEL_DISABLE ? LOG_MODE_OFF : (bAutoDel ? LOG_MODE_COVER : LOG_MODE_NOCOVER);
    // Old files are zipped only with zlib; without it the log goes on unzipped.
    CZlibAPI *pZlib = Ctrl()->GetZlibAPI();
    if (!pZlib || !pZlib->IsLoaded())
        LogModule_Write(LOG_LEVEL_ERR, "Morva_SetLogFile, GetZlibAPI Failed");
    else if (!pZlib->CompareVersion())
        LogModule_Write(LOG_LEVEL_ERR, "Morva_SetLogFile, CompareVersion Failed");
    GlobalLog log;
    return LogModule_SetLogFile(log.Get(), iLevel, pDir, iMode, kLogConfigIndex);
}

int Morva_SetLogFileEx(MORVA_LOG_HANDLE hLog, int iLevel, const char *pDir, int iKind) {
    if (!CheckInit())
        return 0;
    int iMode = ModeOfKind(iKind);
    if (!ValidLevel(iLevel) || iMode < 0 || !hLog) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    LogModule_SetLogFile(Instance(hLog), iLevel, pDir, iMode, kLogConfigIndex);
    GlobalLog log;
    int iResult = LogModule_SetLogFile(log.Get(), iLevel, pDir, iMode, kGlobalConfigIndex);
    WriteBanner(Instance(hLog), log.Get() ? LogModule_GetLogDir(log.Get()) : "");
    return iResult;
}

int Morva_SetLogLevel(int iLevel, const char *pDir, int iKind) {
    if (!CheckInit())
        return 0;
    int iMode = ModeOfKind(iKind);
    if (!ValidLevel(iLevel) || iMode < 0) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    GlobalLog log;
    if (!log.Get())
        return 0;
    if (LogModule_IsUseCfgFile(log.Get())) {
        SetError(MORVA_ERR_LOG_CFG_FILE);
        return 0;
    }
    LogModule_SetLogLevel(log.Get(), iLevel);
    LogModule_SetDebugOutput(log.Get(), 1);
    if (iLevel == LOG_LEVEL_DISABLE)
        LogModule_DisableOutput(log.Get(), LOG_OUTPUT_FILE);
    else
        LogModule_EnableOutput(log.Get(), LOG_OUTPUT_FILE, pDir, LOG_DEFAULT_FILE_SIZE, iMode);
    WriteBanner(log.Get(), LogModule_GetLogDir(log.Get()));
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

int Morva_SetLogParam(int bEnable, int iLevel, const char *pDir, int bAutoDel) {
    if (!CheckInit())
        return 0;
    if (!ValidLevel(iLevel)) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    // The refusal is logged once, and again only after a version was accepted in between.
    static std::atomic<bool> s_bRefusalLogged{false};
    CZlibAPI *pZlib = Ctrl()->GetZlibAPI();
    if (pZlib && pZlib->IsLoaded() && !pZlib->CompareVersion()) {
        if (!s_bRefusalLogged.exchange(true)) {
            char szPath[DLL_PATH_FIELD] = {0};
            Ctrl()->GetDllLoadPath(BASE_DLL_ZLIB, szPath);
            LogModule_Write(LOG_LEVEL_ERR,
                            "Morva_SetLogParam, Zlib CompareVersion Failed, m_szCurZlibVersion[%s], "
                            "m_szCurZlibPath[%s]",
                            pZlib->ZlibVersion(""), szPath);
        }
    } else if (pZlib && pZlib->IsLoaded()) {
        s_bRefusalLogged.store(false);
    }
    GlobalLog log;
    return LogModule_SetLogParam(log.Get(), bEnable, iLevel, pDir, bAutoDel ? LOG_MODE_COVER : LOG_MODE_NOCOVER);
}

int Morva_SetLogOutput(int iLevel, int iOutput, int bOn) {
    if (!CheckInit())
        return 0;
    GlobalLog log;
    if (iLevel >= LOG_LEVEL_ERR && iLevel <= LOG_LEVEL_INF)
        LogModule_SetLogLevel(log.Get(), iLevel);
    if (iOutput == 1 || iOutput == 2) {
        int iWhich = iOutput == 1 ? LOG_OUTPUT_CONSOLE : LOG_OUTPUT_DEBUGGER;
        if (bOn)
            LogModule_EnableOutput(log.Get(), iWhich, nullptr, 0, 0);
        else
            LogModule_DisableOutput(log.Get(), iWhich);
    }
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

int Morva_SetLogToDebugger(int bOn) {
    if (!CheckInit())
        return 0;
    GlobalLog log;
    LogModule_SetDebugOutput(log.Get(), bOn);
    SetError(MORVA_ERR_SUCCESS);
    return 1;
}

void Morva_SetDebugOutput(int bOn) {
    if (!CheckInit())
        return;
    GlobalLog log;
    LogModule_SetDebugOutput(log.Get(), bOn);
}

int Morva_SetDebugOutputEx(MORVA_LOG_HANDLE hLog, int bOn) {
    if (!CheckInit())
        return 0;
    LogModule_SetDebugOutput(Instance(hLog), bOn);
    return 1;
}

int Morva_SetLogOption(int /*iOption*/, int /*iValue*/) {
    CheckInit();
    return 0;
}

int Morva_SetLogCallBack(int iLevel, MORVA_LOG_CALLBACK fnCallBack, void *pUser) {
    if (!CheckInit())
        return 0;
    GlobalLog log;
    if (!LogModule_SetLogCallBack(log.Get(), iLevel, reinterpret_cast<LOG_CALLBACK>(fnCallBack), pUser))
        return 0;
    LogModule_Write(LOG_LEVEL_INF, "Register log callback successfully. [%s]",
                    log.Get() ? LogModule_GetLogDir(log.Get()) : "");
    return 1;
}

int Morva_SetLogPrefix(const char *pPrefix) {
    if (!CheckInit())
        return 0;
    GlobalLog log;
    LogModule_SetPrefix(log.Get(), pPrefix);
    return 1;
}

int Morva_SetLogPrefixEx(MORVA_LOG_HANDLE hLog, const char *pPrefix) {
    if (!CheckInit())
        return 0;
    LogModule_SetPrefix(Instance(hLog), pPrefix);
    return 1;
}

int Morva_SetLogHeadText(const char *pText) {
    if (!CheckInit() || !pText)
        return 0;
    char szBanner[128];
    FormatBanner(szBanner, sizeof(szBanner));
    // Banner, text and the two line ends must all fit: a head text is never cut.
    char szHead[kLogBuffer];
    int n = std::snprintf(szHead, sizeof(szHead), "%s\r\n%s\r\n", szBanner, pText);
    if (n < 0 || n >= (int)sizeof(szHead))
        return 0;
    GlobalLog log;
    return LogModule_SetHeadText(log.Get(), szHead);
}

int Morva_SetLogFileOpenCallBack(MORVA_LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser) {
    if (!CheckInit())
        return 0;
    GlobalLog log;
    return LogModule_SetFileOpenCallBack(log.Get(), fnCallBack, pUser);
}

int Morva_GetLogLevel(void) {
    if (!CheckInit())
        return -1;
    GlobalLog log;
    return log.Get() ? LogModule_GetLogLevel(log.Get()) : -1;
}

int Morva_GetDefaultLogDir(char *pBuf, int iSize) {
    return LogModule_GetDefaultDir(pBuf, iSize);
}

MORVA_LOG_HANDLE Morva_CreateLog(void) {
    return CheckInit() ? LogModule_Create() : nullptr;
}

int Morva_DestroyLog(MORVA_LOG_HANDLE hLog) {
    if (!CheckInit() || !hLog)
        return 0;
    LogModule_Destroy(Instance(hLog));
    return 1;
}

// ---- memory ----

void *Morva_NewArray(size_t uSize) {
    return NewArray(uSize);
}

int Morva_DelArray(void *pMemory) {
    DelArray(pMemory);
    return 0;
}

void *Morva_NewMemory(int iPoolIndex, DWORD dwSize) {
    if (!CheckInit())
        return nullptr;
    if (!UseMemPool())
        return NewArray(dwSize);
    CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr();
    return pMgr ? pMgr->NewMemory(dwSize, iPoolIndex) : nullptr;
}

int Morva_DelMemory(void *pMemory) {
    if (!CheckInit())
        return 0;
    if (!UseMemPool()) {
        DelArray(pMemory);
        return 1;
    }
    CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr();
    return pMgr ? pMgr->DelMemory(pMemory) : 0;
}

int Morva_CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount,
                           int iReleaseInterval, int iFreeWhenEmpty) {
    if (!CheckInit() || !UseMemPool())
        return -1;
    CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr();
    return pMgr ? pMgr->CreateMemoryPool(dwMaxMemberSize, dwOnceAllocCount, dwMaxAllocCount, iFreeWhenEmpty,
                                         iReleaseInterval)
                : -1;
}

int Morva_DestroyMemoryPool(int iPoolIndex) {
    if (!CheckInit() || !UseMemPool())
        return 0;
    CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr();
    return pMgr ? pMgr->ReleaseMemoryPool(iPoolIndex) : 0;
}

int Morva_GetDefaultMemPoolIndex(int iPoolKind) {
    return UseMemPool() ? Ctrl()->GetDefaultMemPoolIndex(iPoolKind) : -1;
}

void *Morva_NewMemoryEx(DWORD dwSize, DWORD *pActualSize) {
    if (dwSize == 0)
        return nullptr;
    void *pMemory = nullptr;
    DWORD dwActual = dwSize;
    if (!UseMemPool()) {
        pMemory = NewArray(dwSize);
    } else if (CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr()) {
        if (dwSize > kLargestClass) {
            // Marked as a heap block, so Morva_DelMemoryEx gives it back to the heap.
            pMemory = pMgr->NewHeapMemory(dwSize);
        } else {
            int iKind = kFirstClassKind;
            for (dwActual = kSmallestClass; dwActual < dwSize; dwActual *= 2)
                iKind++;
            pMemory = pMgr->NewMemory(dwSize, Ctrl()->GetDefaultMemPoolIndex(iKind));
        }
    } else {
        Utils_Assert();
    }
    if (!pMemory)
        return nullptr;
    std::memset(pMemory, 0, dwActual);
    if (pActualSize)
        *pActualSize = dwActual;
    return pMemory;
}

void Morva_DelMemoryEx(void *pMemory) {
    if (!pMemory) {
        Utils_Assert();
        return;
    }
    if (!UseMemPool()) {
        DelArray(pMemory);
        return;
    }
    if (CMemoryMgr *pMgr = Ctrl()->GetMemoryMgr())
        pMgr->DelMemory(pMemory);
    else
        Utils_Assert();
}

int Morva_ReleaseAllIdleMemPool(void) {
    return CheckInit() ? Ctrl()->ReleaseAllIdleMemPool(0) : 0;
}
