#include "Module/Log/LogPlatform.h"

#include <cerrno>
#include <cstring>

#include "yar/yar_error.h"
#include "yar/yar_file.h"
#include "yar/yar_string.h"

namespace Vorezi {
namespace logplat {

namespace {
// Windows numbers of a full disk, and the errno values that reach us unchanged.
constexpr int kDiskFullErrors[] = {39, 112, 15604, ENOSPC, EDQUOT, EFBIG};
}  // namespace

int CreateNew(const char *pPath, bool *pExists) {
    int hFile = YAR_OpenFile(pPath, YAR_FILE_WRITE | YAR_FILE_CREATE | YAR_FILE_EXCL, 0);
    *pExists = hFile == kInvalidFile && YAR_GetSystemLastError() == YAR_SYSERR_FILE_EXISTS;
    return hFile;
}

int OpenRead(const char *pPath) {
    return YAR_OpenFile(pPath, YAR_FILE_READ, 0);
}

void Close(int hFile) {
    if (hFile != kInvalidFile)
        YAR_CloseFile(hFile);
}

int WriteAll(int hFile, const void *pData, size_t len) {
    const char *p = static_cast<const char *>(pData);
    while (len > 0) {
        uint32_t dwWritten = 0;
        if (YAR_WriteFile(hFile, p, (uint32_t)len, &dwWritten) != 0 || dwWritten == 0) {
            int iErr = YAR_GetSystemLastError();
            return iErr ? iErr : -1;
        }
        p += dwWritten;
        len -= dwWritten;
    }
    return 0;
}

int64_t SeekEnd(int hFile) {
    int64_t pos = 0;
    return YAR_FileSeek(hFile, 0, 2, &pos) == 0 ? pos : -1;
}

int64_t Read(int hFile, void *pBuf, size_t len) {
    uint32_t dwRead = 0;
    if (YAR_ReadFile(hFile, pBuf, (uint32_t)len, &dwRead) != 0)
        return -1;
    return dwRead;
}

bool Exists(const char *pPath) {
    return YAR_AccessFile(pPath, 0) == 0;
}

int Rename(const char *pFrom, const char *pTo) {
    return YAR_MoveFile(pFrom, pTo);
}

int Remove(const char *pPath) {
    return YAR_DeleteFile(pPath);
}

bool IsDiskFull(int iErr) {
    for (int e : kDiskFullErrors) {
        if (iErr == e)
            return true;
    }
    return false;
}

bool ListRegularFiles(const char *pDir, std::vector<std::string> *pNames) {
    YAR_DIR_T *pHandle = YAR_OpenDir(pDir);
    if (!pHandle)
        return false;
    YAR_DIR_ENTRY_T entry;
    while (YAR_ReadDir(pHandle, &entry) == 0) {
        if (entry.stInfo.iType == YAR_DTYPE_FILE)
            pNames->push_back(entry.szName);
    }
    YAR_CloseDir(pHandle);
    return true;
}

void DebuggerOutput(const char *pText) {
    // The runtime's channel ends every text with a newline of its own.
    size_t len = std::strlen(pText);
    while (len > 0 && (pText[len - 1] == '\n' || pText[len - 1] == '\r'))
        len--;
    YAR_OutputDebug("%.*s", (int)len, pText);
}

}  // namespace logplat
}  // namespace Vorezi
