// The core library's log service: levels, the entry points over the global log and the
// per-instance operations. One writer thread per instance moves queued lines to the outputs.
#pragma once

#include <cstddef>

#include "morva/MorvaTypes.h"

#if defined(__GNUC__)
#define MORVA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MORVA_PRINTF(fmt, args)
#endif

namespace Vorezi {

// A message of level L passes a threshold T when L <= T.
enum {
    LOG_LEVEL_DISABLE = 0,
    LOG_LEVEL_ERR = 1,
    LOG_LEVEL_DBG = 2,
    LOG_LEVEL_INF = 3,
};

// Outputs of LogModule_EnableOutput / LogModule_DisableOutput.
enum {
    LOG_OUTPUT_CONSOLE = 0,
    LOG_OUTPUT_DEBUGGER = 1,
    LOG_OUTPUT_FILE = 2,
};

// File modes: Cover deletes old files, NoCover keeps them.
enum {
    LOG_MODE_OFF = 0,
    LOG_MODE_COVER = 1,
    LOG_MODE_NOCOVER = 2,
};

constexpr DWORD LOG_DEFAULT_FILE_SIZE = 0x200000;
constexpr int LOG_MAX_LINE = 1024;  // a line with its CR LF
constexpr int LOG_MAX_DIR_LEN = 200;
constexpr int LOG_PATH_FIELD = 261;

// Record handed to the user log callback on the writer thread. The text is valid during the call
// only. 128 bytes as on the 32-bit build: the 8-byte pointer takes four of the reserved bytes.
struct LOG_CALLBACK_RECORD {
    const char *pText;
    DWORD dwLength;
    DWORD dwLevel;
    BYTE byRes[112];
};
static_assert(sizeof(LOG_CALLBACK_RECORD) == 128, "callback record keeps its 128 bytes");

typedef void (*LOG_CALLBACK)(LOG_CALLBACK_RECORD *pRecord, void *pUser);
typedef void (*LOG_FILE_OPEN_CALLBACK)(void *pUser);
// External output callback of the global controller: receives every positional line unqueued.
typedef void (*LOG_OUTPUT_CALLBACK)(int iLevel, const char *pFile, int iLine, const char *pText);

class CLogService;

// Entry points over the global log. They need no initialised library: before Init and after Fini
// there is no global log and lines are dropped.
int LogModule_Write(int iLevel, const char *pFormat, ...) MORVA_PRINTF(2, 3);
int LogModule_WriteDebug(DWORD dwCategory, const char *pFormat, ...) MORVA_PRINTF(2, 3);
int LogModule_WriteRaw(const char *pFormat, ...) MORVA_PRINTF(1, 2);
int LogModule_WriteWithPos(int iLevel, const char *pFile, int iLine, const char *pFormat, ...)
    MORVA_PRINTF(4, 5);
int LogModule_WritePosText(int iLevel, const char *pFile, int iLine, const char *pText);

// Operations on one instance. A null instance gives 0 unless said otherwise.
CLogService *LogModule_Create();
void LogModule_Destroy(CLogService *pLog);
int LogModule_EnableOutput(CLogService *pLog, int iOutput, const char *pDir, DWORD dwSize, int iMode);
int LogModule_DisableOutput(CLogService *pLog, int iOutput);
int LogModule_SetLogLevel(CLogService *pLog, int iLevel);
int LogModule_GetLogLevel(CLogService *pLog);
int LogModule_SetLogFile(CLogService *pLog, int iLevel, const char *pDir, int iMode, int iCfgIndex);
int LogModule_SetLogParam(CLogService *pLog, int bEnable, int iLevel, const char *pDir, int iMode);
int LogModule_SetDebugOutput(CLogService *pLog, int bOn);
int LogModule_SetLogCallBack(CLogService *pLog, int iLevel, LOG_CALLBACK fnCallBack, void *pUser);
int LogModule_SetFileOpenCallBack(CLogService *pLog, LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser);
int LogModule_SetPrefix(CLogService *pLog, const char *pPrefix);
int LogModule_SetHeadText(CLogService *pLog, const char *pText);
const char *LogModule_GetLogDir(CLogService *pLog);
int LogModule_IsUseCfgFile(CLogService *pLog);
int LogModule_PrintLogParam(CLogService *pLog);
int LogModule_WriteText(CLogService *pLog, const char *pText);

int LogModule_GetDefaultDir(char *pBuf, int iSize);
int LogModule_FormatPrefix(char *pBuf, int iSize, int iLevel);

}  // namespace Vorezi
