#include "Utils/DependLibLoader.h"

#include <cstdio>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/Utils.h"
#include "yar/yar_dso.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {

constexpr int kMaxPath = DLL_PATH_FIELD - 1;

// OpenSSL 1.1 names tried after the configured ones for slots 0 and 1.
const char *const kOpenSSL11Names[] = {"libssl.so.1.1", "libcrypto.so.1.1"};

bool ValidIndex(int iDllIndex) {
    return iDllIndex >= 0 && iDllIndex < BASE_DLL_MAX;
}

void CopyPath(char *pDst, const char *pSrc) {
    std::memset(pDst, 0, DLL_PATH_FIELD);
    std::memcpy(pDst, pSrc, strnlen(pSrc, kMaxPath));
}

const char *FileNamePart(const char *pPath) {
    const char *p = pPath;
    for (const char *q = pPath; *q; q++) {
        if (*q == '/' || *q == '\\')
            p = q + 1;
    }
    return p;
}

}  // namespace

CDependLibLoader::CDependLibLoader() {
    std::memset(m_szDllLoadPath, 0, sizeof(m_szDllLoadPath));
    std::memset(m_szRealLoadPath, 0, sizeof(m_szRealLoadPath));
}

CDependLibLoader::~CDependLibLoader() {
    std::memset(m_szDllLoadPath, 0, sizeof(m_szDllLoadPath));
}

int CDependLibLoader::SetDllLoadPath(int iDllIndex, const char *pPath) {
    if (!ValidIndex(iDllIndex) || !pPath) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::SetDllLoadPath, Invalid iDllIndex[%d], pPath[0x%X]",
                        iDllIndex, MORVA_PTR_ARG(pPath));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    LogModule_Write(LOG_LEVEL_DBG, "CDependLibLoader::SetDllLoadPath, iDllIndex[%d], pPath[%s]", iDllIndex, pPath);
    CopyPath(m_szDllLoadPath[iDllIndex], pPath);
    return 1;
}

int CDependLibLoader::SetDllLoadDir(int iDllIndex, const char *pDir) {
    if (!ValidIndex(iDllIndex) || !pDir) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::SetDllLoadDir, Invalid iDllIndex[%d], pDir[0x%X]",
                        iDllIndex, MORVA_PTR_ARG(pDir));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    char szDir[DLL_PATH_FIELD];
    CopyPath(szDir, pDir);
    for (char *p = szDir; *p; p++) {
        if (*p == '\\')
            *p = '/';
    }
    size_t len = std::strlen(szDir);
    if (len > 0 && szDir[len - 1] != '/' && len < (size_t)kMaxPath)
        szDir[len] = '/';
    char szPath[DLL_PATH_FIELD];
    std::snprintf(szPath, sizeof(szPath), "%s%s", szDir, FileNamePart(m_szDllLoadPath[iDllIndex]));
    CopyPath(m_szDllLoadPath[iDllIndex], szPath);
    LogModule_Write(LOG_LEVEL_DBG, "CDependLibLoader::SetDllLoadDir, iDllIndex[%d], pDir[%s], Path[%s]", iDllIndex,
                    szDir, m_szDllLoadPath[iDllIndex]);
    return 1;
}

int CDependLibLoader::GetDllLoadPath(int iDllIndex, char *pPath) {
    if (!ValidIndex(iDllIndex) || !pPath) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::GetDllLoadPath, Invalid iDllIndex[%d], pPath[0x%X]",
                        iDllIndex, MORVA_PTR_ARG(pPath));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    std::memset(pPath, 0, DLL_PATH_FIELD - 1);
    std::strncpy(pPath, m_szDllLoadPath[iDllIndex], kMaxPath - 1);
    return 1;
}

int CDependLibLoader::GetDllFileName(int iDllIndex, char *pFileName) {
    if (!ValidIndex(iDllIndex) || !pFileName) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::GetDllFileName, Invalid iDllIndex[%d], pFileName[0x%X]",
                        iDllIndex, MORVA_PTR_ARG(pFileName));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (m_szDllLoadPath[iDllIndex][0] == '\0') {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::GetDllFileName, Empty Path, iDllIndex[%d]", iDllIndex);
        return 0;
    }
    CopyPath(pFileName, FileNamePart(m_szDllLoadPath[iDllIndex]));
    return 1;
}

void *CDependLibLoader::LoadDSoNoLog(const char *pPath) {
    // An empty name would give the running program itself.
    if (!pPath || !pPath[0])
        return nullptr;
    return YAR_LoadDSo(pPath);
}

void *CDependLibLoader::LoadDSo(const char *pPath) {
    void *hLib = LoadDSoNoLog(pPath);
    if (!hLib && pPath) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadDSo, syserror[%d], pPath[%s]",
                        YAR_GetSystemLastError(), pPath);
        // The loader's own text says why; the system error alone does not.
        LogModule_Write(LOG_LEVEL_DBG, "CDependLibLoader::LoadDSo, %s", YAR_GetDsoError());
    }
    return hLib;
}

void *CDependLibLoader::Load(int iDllIndex, bool bLog) {
    if (!ValidIndex(iDllIndex)) {
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, Invalid iDllIndex[%d]", iDllIndex);
        return nullptr;
    }
    if (m_szDllLoadPath[iDllIndex][0] == '\0') {
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, Path is NULL, iDllIndex[%d]", iDllIndex);
        return nullptr;
    }
    char szFileName[DLL_PATH_FIELD];
    if (!GetDllFileName(iDllIndex, szFileName)) {
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, GetDllFileName Failed, iDllIndex[%d], m_szDllLoadPath[%s]",
                            iDllIndex, m_szDllLoadPath[iDllIndex]);
        return nullptr;
    }
    char szFullPath[DLL_PATH_FIELD];
    CopyPath(szFullPath, m_szDllLoadPath[iDllIndex]);

    void *hLib = nullptr;
    bool bFallbackTried = false;
    for (;;) {
        hLib = bLog ? LoadDSo(szFullPath) : LoadDSoNoLog(szFullPath);
        if (hLib) {
            if (bLog)
                LogModule_Write(LOG_LEVEL_DBG, "CDependLibLoader::LoadLib, Load Step1 SUCC, iDllIndex[%d], szFullPath[%s]",
                                iDllIndex, szFullPath);
            break;
        }
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, Load Step1 Failed, iDllIndex[%d], szFullPath[%s]",
                            iDllIndex, szFullPath);
        hLib = bLog ? LoadDSo(szFileName) : LoadDSoNoLog(szFileName);
        if (hLib) {
            if (bLog)
                LogModule_Write(LOG_LEVEL_DBG, "CDependLibLoader::LoadLib, Load Step3 SUCC, iDllIndex[%d], szFileName[%s]",
                                iDllIndex, szFileName);
            break;
        }
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, Load Step3 Failed, iDllIndex[%d], szFileName[%s]",
                            iDllIndex, szFileName);
        if (bFallbackTried || iDllIndex > BASE_DLL_LIBEAY)
            break;
        bFallbackTried = true;
        CopyPath(szFileName, kOpenSSL11Names[iDllIndex]);
        char szDir[DLL_PATH_FIELD] = {0};
        Utils_GetModuleDir(szDir, sizeof(szDir));
        std::snprintf(szFullPath, sizeof(szFullPath), "%s%s", szDir, szFileName);
    }

    if (!hLib) {
        if (bLog)
            LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::LoadLib, Failed, iDllIndex[%d], m_szRealLoadPath[%s]",
                            iDllIndex, m_szRealLoadPath[iDllIndex]);
        return nullptr;
    }
    char szReal[DLL_PATH_FIELD];
    if (YAR_GetDsoPath(hLib, szReal, sizeof(szReal)) == 0) {
        CopyPath(m_szRealLoadPath[iDllIndex], szReal);
        LogModule_Write(LOG_LEVEL_DBG,
                        "CDependLibLoader::LoadLib, YAR_LoadDSo SUCC, iDllIndex[%d], m_szDllLoadPath[%s], m_szRealLoadPath[%s]",
                        iDllIndex, m_szDllLoadPath[iDllIndex], m_szRealLoadPath[iDllIndex]);
    }
    return hLib;
}

void *CDependLibLoader::LoadLib(int iDllIndex) {
    return Load(iDllIndex, true);
}

void *CDependLibLoader::LoadLibNoLog(int iDllIndex) {
    return Load(iDllIndex, false);
}

void CDependLibLoader::PrintDllLoadPath(int iDllIndex) {
    if (!ValidIndex(iDllIndex)) {
        LogModule_Write(LOG_LEVEL_ERR, "CDependLibLoader::PrintDllLoadPath, Invalid iDllIndex[%d]", iDllIndex);
        return;
    }
    LogModule_Write(LOG_LEVEL_DBG,
                    "CDependLibLoader::PrintDllLoadPath, iDllIndex[%d], m_szDllLoadPath[%s], m_szRealLoadPath[%s]",
                    iDllIndex, m_szDllLoadPath[iDllIndex], m_szRealLoadPath[iDllIndex]);
}

void CDependLibLoader::PrintAllDllLoadPath() {
    for (int i = 0; i < BASE_DLL_MAX; i++)
        PrintDllLoadPath(i);
}

}  // namespace Vorezi
