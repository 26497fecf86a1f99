// Entry points of the log service: the global-log writers and the per-instance operations.
#include "Module/Log/LogModule.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogService.h"

namespace Vorezi {

namespace {

constexpr const char kWriteSource[] = "..\\..\\src\\Module\\Log\\LogModule";
constexpr int kWriteLine = 2987;
constexpr int kMaxPosText = 1021;
constexpr int kMaxRawText = 1022;
constexpr int kErrTooLong = -7;
constexpr int kErrNoInstance = -6;
constexpr char kDefaultDir[] = "./sdklog/";

// Formats into buf; the length, or -1 when formatting failed or did not fit.
int FormatInto(char *buf, size_t size, const char *pFormat, va_list args) {
    int n = std::vsnprintf(buf, size, pFormat, args);
    return (n < 0 || (size_t)n >= size) ? -1 : n;
}

// Runs fn on the global log, pinned for the call; 0 when there is none.
template <typename Fn>
int WithGlobalLog(Fn fn) {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    CLogService *pLog = pCtrl->TakeLogService();
    if (!pLog)
        return 0;
    int iResult = fn(pLog);
    pCtrl->PutLogService();
    return iResult;
}

int WriteGlobal(int iLevel, const char *pText) {
    return WithGlobalLog([&](CLogService *pLog) { return pLog->WriteLog(iLevel, pText); });
}

// Whether a line of the level goes anywhere: the external callback takes every line, else the
// global log's levels and outputs decide. Checked before formatting, which costs far more.
bool Wanted(int iLevel) {
    if (GetCoreGlobalCtrl()->HasOutputLogCallBack())
        return true;
    return WithGlobalLog([&](CLogService *pLog) { return pLog->Accepts(iLevel) ? 1 : 0; }) != 0;
}

}  // namespace

int LogModule_WriteWithPos(int iLevel, const char *pFile, int iLine, const char *pFormat, ...) {
    if (!Wanted(iLevel))
        return 0;
    char szText[kMaxPosText + 1];
    va_list args;
    va_start(args, pFormat);
    int n = FormatInto(szText, sizeof(szText), pFormat, args);
    va_end(args);
    if (n < 0)
        return kErrTooLong;
    return LogModule_WritePosText(iLevel, pFile, iLine, szText);
}

int LogModule_WritePosText(int iLevel, const char *pFile, int iLine, const char *pText) {
    if (!pText)
        return 0;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (pCtrl->HasOutputLogCallBack()) {
        pCtrl->OutputLogCallBack(iLevel, pFile, iLine, pText);
        return 0;
    }
    return WriteGlobal(iLevel, pText);
}

int LogModule_Write(int iLevel, const char *pFormat, ...) {
    if (!Wanted(iLevel))
        return 0;
    char szText[LOG_MAX_LINE];
    va_list args;
    va_start(args, pFormat);
    int n = FormatInto(szText, sizeof(szText), pFormat, args);
    va_end(args);
    // The positional writer's limit, without formatting the text a second time.
    if (n < 0 || n > kMaxPosText)
        return kErrTooLong;
    return LogModule_WritePosText(iLevel, kWriteSource, kWriteLine, szText);
}

int LogModule_WriteDebug(DWORD dwCategory, const char *pFormat, ...) {
    if (!GetCoreGlobalCtrl()->IsDebugCategoryEnabled(dwCategory) || !Wanted(LOG_LEVEL_DBG))
        return 0;
    char szText[LOG_MAX_LINE];
    va_list args;
    va_start(args, pFormat);
    int n = FormatInto(szText, sizeof(szText), pFormat, args);
    va_end(args);
    // LogModule_Write's limit and source, without checking and formatting the line a second time.
    if (n < 0 || n > kMaxPosText)
        return kErrTooLong;
    return LogModule_WritePosText(LOG_LEVEL_DBG, kWriteSource, kWriteLine, szText);
}

int LogModule_WriteRaw(const char *pFormat, ...) {
    // Room for the text, CR LF and the terminator.
    char szText[kMaxRawText + 3];
    va_list args;
    va_start(args, pFormat);
    int n = std::vsnprintf(szText, kMaxRawText + 1, pFormat, args);
    va_end(args);
    if (n < 0)
        return 0;
    if (n > kMaxRawText)
        n = kMaxRawText;
    if (n >= 2 && n <= kMaxRawText - 1) {
        szText[n++] = '\r';
        szText[n++] = '\n';
        szText[n] = '\0';
    }
    return WithGlobalLog([&](CLogService *pLog) { return pLog->WriteRawText(szText, n); });
}

CLogService *LogModule_Create() {
    CLogService *pLog = new (std::nothrow) CLogService;
    if (!pLog)
        return nullptr;
    if (GetCoreGlobalCtrl()->RegisterLogService(pLog) < 0) {
        delete pLog;
        return nullptr;
    }
    return pLog;
}

void LogModule_Destroy(CLogService *pLog) {
    if (!pLog)
        return;
    GetCoreGlobalCtrl()->UnRegisterLogService(pLog);
    delete pLog;
}

int LogModule_EnableOutput(CLogService *pLog, int iOutput, const char *pDir, DWORD dwSize, int iMode) {
    return pLog ? pLog->EnableOutput(iOutput, pDir, dwSize, iMode) : 0;
}

int LogModule_DisableOutput(CLogService *pLog, int iOutput) {
    return pLog ? pLog->DisableOutput(iOutput) : 0;
}

int LogModule_SetLogLevel(CLogService *pLog, int iLevel) {
    if (!pLog)
        return kErrNoInstance;
    pLog->SetLogLevel(iLevel);
    return 1;
}

int LogModule_GetLogLevel(CLogService *pLog) {
    return pLog ? pLog->GetLogLevel() : kErrNoInstance;
}

int LogModule_SetLogFile(CLogService *pLog, int iLevel, const char *pDir, int iMode, int iCfgIndex) {
    return pLog ? pLog->SetLogFile(iLevel, pDir, iMode, iCfgIndex) : 0;
}

int LogModule_SetLogParam(CLogService *pLog, int bEnable, int iLevel, const char *pDir, int iMode) {
    return pLog ? pLog->SetLogParam(bEnable, iLevel, pDir, iMode) : 0;
}

int LogModule_SetDebugOutput(CLogService *pLog, int bOn) {
    if (!pLog)
        return 0;
    pLog->SetDebugOutput(bOn);
    return 1;
}

int LogModule_SetLogCallBack(CLogService *pLog, int iLevel, LOG_CALLBACK fnCallBack, void *pUser) {
    if (iLevel < LOG_LEVEL_DISABLE || iLevel > LOG_LEVEL_INF) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (pLog)
        pLog->SetLogCallBack(iLevel, fnCallBack, pUser);
    return 1;
}

int LogModule_SetFileOpenCallBack(CLogService *pLog, LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser) {
    if (!pLog)
        return 0;
    pLog->SetFileOpenCallBack(fnCallBack, pUser);
    return 1;
}

int LogModule_SetPrefix(CLogService *pLog, const char *pPrefix) {
    if (!pLog)
        return 0;
    pLog->SetPrefix(pPrefix);
    return 1;
}

int LogModule_SetHeadText(CLogService *pLog, const char *pText) {
    if (!pLog)
        return 0;
    pLog->SetHeadText(pText);
    return 1;
}

const char *LogModule_GetLogDir(CLogService *pLog) {
    return pLog ? pLog->GetLogDir() : nullptr;
}

int LogModule_IsUseCfgFile(CLogService *pLog) {
    return pLog ? pLog->IsUseCfgFile() : 0;
}

int LogModule_PrintLogParam(CLogService *pLog) {
    if (!pLog)
        return 0;
    pLog->PrintLogParam();
    return 1;
}

int LogModule_WriteText(CLogService *pLog, const char *pText) {
    if (!pLog || !pText)
        return 0;
    return pLog->WriteRawText(pText, (int)std::strlen(pText));
}

int LogModule_GetDefaultDir(char *pBuf, int iSize) {
    int iLen = (int)std::strlen(kDefaultDir);
    if (!pBuf || iSize <= iLen)
        return 0;
    std::memcpy(pBuf, kDefaultDir, iLen + 1);  // terminated: callers hand it straight to hosts
    return 1;
}

}  // namespace Vorezi
