// Run-time loader of the core library's dependent libraries: one configured path and one real
// (loaded-from) path per slot, and a fixed order of fallbacks.
#pragma once

#include "morva/MorvaTypes.h"

namespace Vorezi {

enum {
    BASE_DLL_SSLEASY = 0,  // OpenSSL TLS library
    BASE_DLL_LIBEAY = 1,   // OpenSSL crypto library
    BASE_DLL_ICONV = 2,
    BASE_DLL_ZLIB = 3,
    BASE_DLL_RQS = 4,
    BASE_DLL_MAX = 16,
};

constexpr int DLL_PATH_FIELD = 261;

class CDependLibLoader {
public:
    CDependLibLoader();
    virtual ~CDependLibLoader();

    int SetDllLoadPath(int iDllIndex, const char *pPath);
    int SetDllLoadDir(int iDllIndex, const char *pDir);
    int GetDllLoadPath(int iDllIndex, char *pPath);
    int GetDllFileName(int iDllIndex, char *pFileName);
    void *LoadDSo(const char *pPath);
    void *LoadDSoNoLog(const char *pPath);
    void *LoadLib(int iDllIndex);
    void *LoadLibNoLog(int iDllIndex);
    void PrintDllLoadPath(int iDllIndex);
    void PrintAllDllLoadPath();

private:
    void *Load(int iDllIndex, bool bLog);

    char m_szDllLoadPath[BASE_DLL_MAX][DLL_PATH_FIELD];
    char m_szRealLoadPath[BASE_DLL_MAX][DLL_PATH_FIELD];
};

}  // namespace Vorezi
