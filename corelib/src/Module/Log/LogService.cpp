// First cut of the engine: lines go synchronously to the console and the user callback.
#include "Module/Log/LogService.h"

#include <cstdio>
#include <cstring>

#include "CoreGlobalCtrl.h"
#include "Module/Log/LogClock.h"

namespace Vorezi {

namespace {

constexpr int kMaxLineBody = LOG_MAX_LINE - 2;  // prefix and text, before CR LF
const char *const kLevelNames[] = {"DISABLE", "ERR", "DBG", "INF"};

const char *LevelName(int iLevel) {
    return (iLevel >= 0 && iLevel <= LOG_LEVEL_INF) ? kLevelNames[iLevel] : "";
}

}  // namespace

int LogModule_FormatPrefix(char *pBuf, int iSize, int iLevel) {
    if (!pBuf || iSize <= 0)
        return 0;
    LogTime t;
    int n;
    if (LogClock_Now(&t))
        n = std::snprintf(pBuf, iSize, "[%04d-%02d-%02d %02d:%02d:%02d.%03d][%s] ", t.iYear, t.iMonth, t.iDay,
                          t.iHour, t.iMinute, t.iSecond, t.iMilli, LevelName(iLevel));
    else
        n = std::snprintf(pBuf, iSize, "[LocalTime out of range][%s] ", LevelName(iLevel));
    if (n < 0)
        return 0;
    return n < iSize ? n : iSize - 1;
}

CLogService::CLogService() = default;
CLogService::~CLogService() = default;

int CLogService::WriteLog(int iLevel, const char *pText) {
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    bool bFile = iLevel <= m_iLogLevel;
    bool bCallBack = m_fnCallBack && iLevel <= m_iCallbackLevel;
    if ((!bFile && !bCallBack) || (!m_bConsole && !m_bDebugger && !m_bFile && !m_fnCallBack))
        return 0;
    char szLine[LOG_MAX_LINE + 1];
    int n = LogModule_FormatPrefix(szLine, sizeof(szLine), iLevel);
    size_t len = std::strlen(pText);
    if (n + len > (size_t)kMaxLineBody)
        return 0;
    std::memcpy(szLine + n, pText, len);
    n += (int)len;
    szLine[n++] = '\r';
    szLine[n++] = '\n';
    szLine[n] = '\0';
    if (m_bConsole)
        std::fwrite(szLine, 1, n, stdout);
    if (bCallBack) {
        LOG_CALLBACK_RECORD rec{};
        rec.pText = szLine;
        rec.dwLength = (DWORD)n;
        rec.dwLevel = (DWORD)iLevel;
        m_fnCallBack(&rec, m_pCallBackUser);
    }
    return 1;
}

int CLogService::WriteRawText(const char *pText, int iLen) {
    (void)pText;
    (void)iLen;
    return 0;
}

int CLogService::EnableOutput(int iOutput, const char *pDir, DWORD dwSize, int iMode) {
    (void)pDir;
    (void)dwSize;
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    switch (iOutput) {
    case LOG_OUTPUT_CONSOLE:
        m_bConsole = 1;
        return 1;
    case LOG_OUTPUT_DEBUGGER:
        m_bDebugger = 1;
        return 1;
    case LOG_OUTPUT_FILE:
        m_iLogMod = iMode;
        m_bFile = 1;
        return 1;
    default:
        return 0;
    }
}

int CLogService::DisableOutput(int iOutput) {
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    switch (iOutput) {
    case LOG_OUTPUT_CONSOLE:
        m_bConsole = 0;
        return 1;
    case LOG_OUTPUT_DEBUGGER:
        m_bDebugger = 0;
        return 1;
    case LOG_OUTPUT_FILE:
        m_bFile = 0;
        m_iLogMod = LOG_MODE_OFF;
        return 1;
    default:
        return 0;
    }
}

int CLogService::GetLogLevel() {
    return m_iLogLevel;
}

int CLogService::SetLogFile(int iLevel, const char *pDir, int iMode, int iCfgIndex) {
    if (iLevel < 0 || iLevel > LOG_LEVEL_INF || (pDir && std::strlen(pDir) > LOG_MAX_DIR_LEN)) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_PARAM);
        return 0;
    }
    if (GetCoreGlobalCtrl()->IsUseLogConfigFile()) {
        GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_LOG_CFG_FILE);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    if (iCfgIndex < m_iCfgIndex)
        return 1;
    m_iCfgIndex = iCfgIndex;
    if (iLevel > 0 && iMode) {
        m_iLogLevel = iLevel;
        EnableOutput(LOG_OUTPUT_FILE, pDir, 0, iMode);
    } else {
        m_bDebugger = 0;
        DisableOutput(LOG_OUTPUT_FILE);
    }
    GetCoreGlobalCtrl()->SetLastError(MORVA_ERR_SUCCESS);
    return 1;
}

int CLogService::SetLogParam(int bEnable, int iLevel, const char *pDir, int iMode) {
    (void)bEnable;
    (void)iLevel;
    (void)pDir;
    (void)iMode;
    return 0;
}

void CLogService::SetDebugOutput(int bOn) {
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    m_bDebugger = bOn ? 1 : 0;
}

void CLogService::SetLogCallBack(int iLevel, LOG_CALLBACK fnCallBack, void *pUser) {
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    m_iCallbackLevel = iLevel;
    m_fnCallBack = fnCallBack;
    m_pCallBackUser = pUser;
}

void CLogService::SetFileOpenCallBack(LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser) {
    std::lock_guard<std::recursive_mutex> guard(m_Mutex);
    m_fnFileOpen = fnCallBack;
    m_pFileOpenUser = pUser;
}

void CLogService::SetPrefix(const char *pPrefix) {
    (void)pPrefix;
}

void CLogService::SetHeadText(const char *pText) {
    (void)pText;
}

void CLogService::PrintLogParam() {}

}  // namespace Vorezi
