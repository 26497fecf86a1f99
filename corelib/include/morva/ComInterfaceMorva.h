/* The flat interface of the core library: plain functions over the one global controller.
 * Results are 1/0 (some -1, a pointer or null); the reason of a failure is the calling thread's
 * core error code (Morva_GetLastError). Log instances are opaque handles. */
#ifndef COM_INTERFACE_MORVA_H
#define COM_INTERFACE_MORVA_H

#include <stddef.h>

#include "morva/MorvaTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MORVA_LIB_VERSION 0x0101000C
#define MORVA_LIB_BUILD_DATE "2023_08_11"

/* Record handed to a log callback on the log writer thread; the text is valid during the call.
 * 128 bytes as on the 32-bit build: the 8-byte pointer takes four of the reserved bytes. */
typedef struct MORVA_LOG_RECORD {
    const char *pText;
    DWORD dwLength;
    DWORD dwLevel;
    BYTE byRes[112];
} MORVA_LOG_RECORD;

typedef void (*MORVA_LOG_CALLBACK)(MORVA_LOG_RECORD *pRecord, void *pUser);
typedef void (*MORVA_LOG_FILE_OPEN_CALLBACK)(void *pUser);
typedef void *MORVA_LOG_HANDLE;

/* Lifecycle and configuration. */
int Morva_Init(void);
int Morva_Fini(void);
int Morva_GetVersion(void);
int Morva_PrintLibInfo(void);
int Morva_SetInitConfig(int enumType, const void *pParam);
int Morva_SetSDKLocalCfg(DWORD dwType, const void *pInBuff);
int Morva_GetSDKLocalCfg(DWORD dwType, void *pOutBuff);
void Morva_SetDllLoadPath(int iDllIndex, const char *pPath);
int Morva_SetDllLoadDir(int iDllIndex, const char *pDir);
void *Morva_LoadDSo(int iDllIndex);
int Morva_GetModulePath(char *pBuf, int iSize);

/* Errors and per-thread values. */
int Morva_GetLastError(void);
int Morva_SetLastError(int iError);
int Morva_GetSysLastError(void);
int Morva_Assert(void);
int Morva_SetThreadUserValues(int iValue1, int iValue2);
void *Morva_GetThreadUserValues(int *pValue1, int *pValue2);

/* Log entry points. */
int Morva_LogPrint(int iLevel, const char *pFormat, ...);
int Morva_LogPrintPos(int iLevel, const char *pFile, int iLine, const char *pFormat, ...);
int Morva_LogPrintRaw(const char *pFormat, ...);
int Morva_LogPrintText(int iLevel, const char *pFile, int iLine, const char *pText);
int Morva_WriteLog(MORVA_LOG_HANDLE hLog, int iLevel, const char *pText);
void Morva_DebugPrint(DWORD dwCategory, const char *pFormat, ...);
int Morva_IsDebugCategoryEnabled(DWORD dwCategory);
int Morva_EnableDebugCategory(DWORD dwCategory);
int Morva_DisableDebugCategory(DWORD dwCategory);
int Morva_ClearDebugCategories(void);

/* Log configuration. Levels 0 off, 1 errors, 2 debug, 3 information; kinds 0 Cover (old files
 * are deleted), 1 or 2 NoCover. */
int Morva_SetLogFile(int iLevel, const char *pDir, int bAutoDel);
int Morva_SetLogFileEx(MORVA_LOG_HANDLE hLog, int iLevel, const char *pDir, int iKind);
int Morva_SetLogLevel(int iLevel, const char *pDir, int iKind);
int Morva_SetLogParam(int bEnable, int iLevel, const char *pDir, int bAutoDel);
int Morva_SetLogOutput(int iLevel, int iOutput /* 1 console, 2 debugger */, int bOn);
int Morva_SetLogToDebugger(int bOn);
void Morva_SetDebugOutput(int bOn);
int Morva_SetDebugOutputEx(MORVA_LOG_HANDLE hLog, int bOn);
int Morva_SetLogOption(int iOption, int iValue);
int Morva_SetLogCallBack(int iLevel, MORVA_LOG_CALLBACK fnCallBack, void *pUser);
int Morva_SetLogPrefix(const char *pPrefix);
int Morva_SetLogPrefixEx(MORVA_LOG_HANDLE hLog, const char *pPrefix);
int Morva_SetLogHeadText(const char *pText);
int Morva_SetLogFileOpenCallBack(MORVA_LOG_FILE_OPEN_CALLBACK fnCallBack, void *pUser);
int Morva_GetLogLevel(void);
int Morva_GetDefaultLogDir(char *pBuf, int iSize);
MORVA_LOG_HANDLE Morva_CreateLog(void);
int Morva_DestroyLog(MORVA_LOG_HANDLE hLog);

/* Memory. Pool blocks and Morva_NewMemoryEx blocks go back with the matching delete. */
void *Morva_NewArray(size_t uSize);
int Morva_DelArray(void *pMemory);
void *Morva_NewMemory(int iPoolIndex, DWORD dwSize);
int Morva_DelMemory(void *pMemory);
int Morva_CreateMemoryPool(DWORD dwMaxMemberSize, DWORD dwOnceAllocCount, DWORD dwMaxAllocCount,
                           int iReleaseInterval, int iFreeWhenEmpty);
int Morva_DestroyMemoryPool(int iPoolIndex);
int Morva_GetDefaultMemPoolIndex(int iPoolKind);
void *Morva_NewMemoryEx(DWORD dwSize, DWORD *pActualSize);
void Morva_DelMemoryEx(void *pMemory);
int Morva_ReleaseAllIdleMemPool(void);

#ifdef __cplusplus
}
#endif

#endif
