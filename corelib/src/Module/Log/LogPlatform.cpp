#include "Module/Log/LogPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "yar/yar_string.h"

namespace Vorezi {
namespace logplat {

int OpenTrunc(const char *pPath) {
    return open(pPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int OpenRead(const char *pPath) {
    return open(pPath, O_RDONLY | O_CLOEXEC);
}

void Close(int hFile) {
    if (hFile != kInvalidFile)
        close(hFile);
}

int WriteAll(int hFile, const void *pData, size_t len) {
    const char *p = static_cast<const char *>(pData);
    while (len > 0) {
        ssize_t n = write(hFile, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int64_t SeekEnd(int hFile) {
    return (int64_t)lseek(hFile, 0, SEEK_END);
}

int64_t Read(int hFile, void *pBuf, size_t len) {
    ssize_t n;
    do {
        n = read(hFile, pBuf, len);
    } while (n < 0 && errno == EINTR);
    return (int64_t)n;
}

bool Exists(const char *pPath) {
    struct stat st;
    return stat(pPath, &st) == 0;
}

int Rename(const char *pFrom, const char *pTo) {
    return rename(pFrom, pTo);
}

int Remove(const char *pPath) {
    return unlink(pPath);
}

bool IsDiskFull(int iErr) {
    return iErr == ENOSPC || iErr == EDQUOT || iErr == EFBIG;
}

bool ListRegularFiles(const char *pDir, std::vector<std::string> *pNames) {
    DIR *dir = opendir(pDir);
    if (!dir)
        return false;
    int dfd = dirfd(dir);
    while (struct dirent *ent = readdir(dir)) {
        struct stat st;
        if (fstatat(dfd, ent->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            pNames->push_back(ent->d_name);
    }
    closedir(dir);
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
