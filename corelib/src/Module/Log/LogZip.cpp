#include "Module/Log/LogZip.h"

#include <minizip/zip.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "Module/Log/LogPlatform.h"
#include "Utils/Utils.h"
#include "yar/yar_dso.h"
#include "yar/yar_mutex.h"

namespace Vorezi {

namespace {

constexpr size_t kReadChunk = 0x300000;

using FnFillFopen = decltype(&fill_fopen_filefunc);
using FnZipOpen2 = decltype(&zipOpen2);
using FnZipOpenNewFile = decltype(&zipOpenNewFileInZip3_64);
using FnZipWrite = decltype(&zipWriteInFileInZip);
using FnZipCloseFile = decltype(&zipCloseFileInZip);
using FnZipClose = decltype(&zipClose);

// The six minizip functions, bound by name.
struct MiniZipApi {
    FnFillFopen fill_fopen_filefunc = nullptr;
    FnZipOpen2 zipOpen2 = nullptr;
    FnZipOpenNewFile zipOpenNewFileInZip3_64 = nullptr;
    FnZipWrite zipWriteInFileInZip = nullptr;
    FnZipCloseFile zipCloseFileInZip = nullptr;
    FnZipClose zipClose = nullptr;
};

YAR_MUTEX_T g_LoadMutex = YAR_MUTEX_INITIALIZER;
std::string g_LibName = "libminizip.so.1";
void *g_hLib = nullptr;
MiniZipApi g_Api;
// Published only once every name is bound.
std::atomic<const MiniZipApi *> g_pApi{nullptr};

template <typename Fn>
bool Bind(void *hLib, const char *pName, Fn *pFn) {
    *pFn = reinterpret_cast<Fn>(YAR_GetDsoSym(hLib, pName));
    return *pFn != nullptr;
}

const MiniZipApi *LoadApi() {
    if (const MiniZipApi *pApi = g_pApi.load(std::memory_order_acquire))
        return pApi;
    yar::yar_guard guard(&g_LoadMutex);
    if (const MiniZipApi *pApi = g_pApi.load(std::memory_order_acquire))
        return pApi;
    void *hLib = YAR_LoadDSo(g_LibName.c_str());
    if (!hLib)
        return nullptr;
    MiniZipApi api;
    bool bOk = Bind(hLib, "fill_fopen_filefunc", &api.fill_fopen_filefunc) &&
               Bind(hLib, "zipOpen2", &api.zipOpen2) &&
               Bind(hLib, "zipOpenNewFileInZip3_64", &api.zipOpenNewFileInZip3_64) &&
               Bind(hLib, "zipWriteInFileInZip", &api.zipWriteInFileInZip) &&
               Bind(hLib, "zipCloseFileInZip", &api.zipCloseFileInZip) && Bind(hLib, "zipClose", &api.zipClose);
    if (!bOk) {
        YAR_UnloadDSo(hLib);
        return nullptr;
    }
    g_hLib = hLib;
    g_Api = api;
    g_pApi.store(&g_Api, std::memory_order_release);
    return &g_Api;
}

bool AddFile(const MiniZipApi &api, zipFile hZip, const std::string &path, std::vector<char> *pBuf) {
    int hFile = logplat::OpenRead(path.c_str());
    if (hFile == logplat::kInvalidFile)
        return false;
    zip_fileinfo info;
    std::memset(&info, 0, sizeof(info));
    bool bOk = api.zipOpenNewFileInZip3_64(hZip, Utils_GetFileName(path.c_str()), &info, nullptr, 0, nullptr, 0,
                                           nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                                           Z_DEFAULT_STRATEGY, nullptr, 0, 0) == ZIP_OK;
    if (bOk) {
        for (;;) {
            int64_t n = logplat::Read(hFile, pBuf->data(), pBuf->size());
            if (n <= 0) {
                bOk = n == 0;
                break;
            }
            if (api.zipWriteInFileInZip(hZip, pBuf->data(), (unsigned)n) != ZIP_OK) {
                bOk = false;
                break;
            }
        }
        if (api.zipCloseFileInZip(hZip) != ZIP_OK)
            bOk = false;
    }
    logplat::Close(hFile);
    return bOk;
}

}  // namespace

bool CLogZip::IsAvailable() {
    return LoadApi() != nullptr;
}

void CLogZip::SetLibraryName(const char *pName) {
    yar::yar_guard guard(&g_LoadMutex);
    g_LibName = pName ? pName : "libminizip.so.1";
    // A new name takes effect at the next load; the bound library stays mapped for callers
    // that may still be inside it.
    g_pApi.store(nullptr, std::memory_order_release);
}

bool CLogZip::ZipFiles(const std::string &zipPath, const std::vector<std::string> &files) {
    const MiniZipApi *pApi = LoadApi();
    if (!pApi)
        return false;
    zlib_filefunc_def fileFuncs;
    pApi->fill_fopen_filefunc(&fileFuncs);
    zipFile hZip = pApi->zipOpen2(zipPath.c_str(), APPEND_STATUS_CREATE, nullptr, &fileFuncs);
    if (!hZip)
        return false;
    std::vector<char> buf(kReadChunk);
    bool bOk = true;
    for (const std::string &file : files) {
        if (!AddFile(*pApi, hZip, file, &buf)) {
            bOk = false;
            break;
        }
    }
    if (pApi->zipClose(hZip, nullptr) != ZIP_OK)
        bOk = false;
    if (!bOk)
        logplat::Remove(zipPath.c_str());
    return bOk;
}

}  // namespace Vorezi
