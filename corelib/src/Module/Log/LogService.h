// CLogService: one logging engine instance (queue, writer thread, outputs, rotating files).
#pragma once

#include <mutex>

#include "Module/Log/LogModule.h"

namespace Vorezi {

class CLogService {
public:
    CLogService();
    ~CLogService();
    CLogService(const CLogService &) = delete;
    CLogService &operator=(const CLogService &) = delete;

    int WriteLog(int iLevel, const char *pText);
    int WriteRawText(const char *pText, int iLen);

    int EnableOutput(int iOutput, const char *pDir, DWORD dwSize, int iMode);
    int DisableOutput(int iOutput);
    void SetLogLevel(int iLevel) { m_iLogLevel = iLevel; }
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

private:
    std::recursive_mutex m_Mutex;
    int m_bUseCfgFile = 0;
    int m_iLogMod = LOG_MODE_OFF;
    int m_iLogLevel = LOG_LEVEL_DISABLE;
    int m_iCfgIndex = 1;
    char m_szLogDir[LOG_PATH_FIELD] = {0};
    int m_bConsole = 0;
    int m_bDebugger = 0;
    int m_bFile = 0;
    int m_iLogIndex = 0;
    int m_iCallbackLevel = LOG_LEVEL_DISABLE;
    LOG_CALLBACK m_fnCallBack = nullptr;
    void *m_pCallBackUser = nullptr;
    LOG_FILE_OPEN_CALLBACK m_fnFileOpen = nullptr;
    void *m_pFileOpenUser = nullptr;
};

}  // namespace Vorezi
