// Files and directories over POSIX: the runtime's open flags, file information and listing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "internal/module_path.h"
#include "internal/retry_eintr.h"
#include "internal/syserr.h"
#include "yar/yar_error.h"
#include "yar/yar_file.h"

using yar::internal::RetryOnEintr;
using yar::internal::SetSystemErrorFromErrno;

struct YAR_DIR_S {
    DIR *dir = nullptr;
    dirent *pending = nullptr;  // the entry read ahead at open, not yet handed out
};

namespace {

// Sets the system error from errno and gives -1; the common failure tail.
int32_t FailFromErrno() {
    SetSystemErrorFromErrno(errno);
    return -1;
}

int32_t Fail(int syserr) {
    YAR_SetSystemLastError(syserr);
    return -1;
}

// Paths whose file goes away when its handle is closed. Absolute, so that a later change of the
// working directory does not remove a different file.
class DeleteOnClose {
public:
    static DeleteOnClose &Instance() {
        static DeleteOnClose *registry = new DeleteOnClose;  // outlives late closes at exit
        return *registry;
    }
    // Every open records its descriptor: an entry left by a descriptor that was closed some
    // other way must not remove a file at the next close of the same number.
    void Record(int fd, const char *deletePath) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!deletePath) {
            m_paths.erase(fd);
            return;
        }
        std::string full = deletePath;
        char cwd[PATH_MAX];
        if (full[0] != '/' && getcwd(cwd, sizeof cwd))
            full = std::string(cwd) + "/" + full;
        m_paths[fd] = std::move(full);
    }
    // Called before the descriptor is closed, while its number cannot be reused.
    void RemoveFileOf(int fd) {
        std::string path;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto it = m_paths.find(fd);
            if (it == m_paths.end())
                return;
            path = std::move(it->second);
            m_paths.erase(it);
        }
        unlink(path.c_str());
    }

private:
    std::mutex m_lock;
    std::unordered_map<int, std::string> m_paths;
};

int OpenFlags(uint32_t flags) {
    int oflags = O_CLOEXEC;
    if ((flags & YAR_FILE_READ) && (flags & YAR_FILE_WRITE))
        oflags |= O_RDWR;
    else if (flags & YAR_FILE_WRITE)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;
    if (flags & YAR_FILE_CREATE) {
        oflags |= O_CREAT;
        if (flags & YAR_FILE_EXCL)
            oflags |= O_EXCL;
        else if (flags & YAR_FILE_TRUNCATE)
            oflags |= O_TRUNC;
    } else if (flags & YAR_FILE_TRUNCATE) {
        oflags |= O_TRUNC;
    }
    return oflags;
}

int64_t Microseconds(const statx_timestamp &t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// statx of a name relative to a directory, or of the descriptor itself with an empty name.
bool StatOf(int dirFd, const char *name, struct statx *out) {
    int flags = *name ? AT_SYMLINK_NOFOLLOW : AT_EMPTY_PATH;
    return statx(dirFd, name, flags, STATX_BASIC_STATS | STATX_BTIME, out) == 0;
}

// The fields file information and directory entries share.
void FillCommon(const struct statx &st, YAR_FINFO_T *info) {
    info->dwMode = (st.stx_mode & S_IWUSR) ? YAR_FPROT_READWRITE : YAR_FPROT_READONLY;
    info->u64Size = st.stx_size;
    info->i64AccessTime = Microseconds(st.stx_atime);
    // File systems without a birth time report the last status change instead.
    info->i64CreateTime = Microseconds((st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_ctime);
    info->i64WriteTime = Microseconds(st.stx_mtime);
}

int32_t StatType(mode_t mode) {
    if (S_ISREG(mode) || S_ISDIR(mode) || S_ISBLK(mode))
        return YAR_FTYPE_DISK;
    if (S_ISCHR(mode))
        return YAR_FTYPE_CHAR;
    if (S_ISFIFO(mode) || S_ISSOCK(mode))
        return YAR_FTYPE_PIPE;
    return YAR_FTYPE_OTHER;
}

int32_t EntryType(mode_t mode) {
    if (S_ISLNK(mode))
        return YAR_DTYPE_LINK;
    if (S_ISDIR(mode))
        return YAR_DTYPE_DIR;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return YAR_DTYPE_DEVICE;
    return YAR_DTYPE_FILE;
}

// Copies the data from one open file to another, in the kernel where the file systems allow.
bool CopyData(int src, int dst) {
    bool kernelCopy = true;
    char buf[65536];
    for (;;) {
        ssize_t n;
        if (kernelCopy) {
            n = RetryOnEintr([&] { return copy_file_range(src, nullptr, dst, nullptr, 1 << 30, 0); });
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
            if (n <= 0)
                return n == 0;
            continue;
        }
        n = RetryOnEintr([&] { return read(src, buf, sizeof buf); });
        if (n <= 0)
            return n == 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = RetryOnEintr([&] { return write(dst, buf + done, static_cast<size_t>(n - done)); });
            if (w < 0)
                return false;
            done += w;
        }
    }
}

}  // namespace

extern "C" {

YAR_FILE_HANDLE YAR_OpenFile(const char *pPath, uint32_t dwFlags, uint32_t dwAttributes) {
    if (!pPath || !*pPath || ((dwFlags & YAR_FILE_EXCL) && !(dwFlags & YAR_FILE_CREATE)))
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    const mode_t mode = (dwAttributes & YAR_FPROT_READONLY) ? 0444 : 0666;
    int fd = RetryOnEintr([&] { return open(pPath, OpenFlags(dwFlags), mode); });
    if (fd < 0)
        return FailFromErrno();
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // A directory is no file: reads and writes on it would only fail later.
        close(fd);
        return Fail(YAR_SYSERR_ACCESS_DENIED);
    }
    if ((dwFlags & YAR_FILE_APPEND) && lseek(fd, 0, SEEK_END) < 0) {
        int err = errno;
        close(fd);
        errno = err;
        return FailFromErrno();
    }
    DeleteOnClose::Instance().Record(fd, (dwAttributes & YAR_FPROT_DELETE_ON_CLOSE) ? pPath : nullptr);
    return fd;
}

int32_t YAR_CloseFile(YAR_FILE_HANDLE hFile) {
    if (hFile == YAR_INVALID_FILE)
        return Fail(YAR_SYSERR_INVALID_HANDLE);
    DeleteOnClose::Instance().RemoveFileOf(hFile);
    // After close the descriptor is gone whatever the result; EINTR must not be retried.
    return close(hFile) == 0 || errno == EINTR ? 0 : FailFromErrno();
}

int32_t YAR_ReadFile(YAR_FILE_HANDLE hFile, void *pBuf, uint32_t dwCount, uint32_t *pRead) {
    if (pRead)
        *pRead = 0;
    if (hFile == YAR_INVALID_FILE || (!pBuf && dwCount))
        return Fail(hFile == YAR_INVALID_FILE ? YAR_SYSERR_INVALID_HANDLE : YAR_SYSERR_INVALID_PARAMETER);
    ssize_t n = RetryOnEintr([&] { return read(hFile, pBuf, dwCount); });
    if (n < 0)
        return FailFromErrno();
    // The end of the file is a successful read of nothing; the error value tells it apart.
    YAR_SetSystemLastError(n == 0 && dwCount ? YAR_SYSERR_HANDLE_EOF : YAR_SYSERR_SUCCESS);
    if (pRead)
        *pRead = static_cast<uint32_t>(n);
    return 0;
}

int32_t YAR_WriteFile(YAR_FILE_HANDLE hFile, const void *pBuf, uint32_t dwCount, uint32_t *pWritten) {
    if (pWritten)
        *pWritten = 0;
    if (hFile == YAR_INVALID_FILE || (!pBuf && dwCount))
        return Fail(hFile == YAR_INVALID_FILE ? YAR_SYSERR_INVALID_HANDLE : YAR_SYSERR_INVALID_PARAMETER);
    const char *p = static_cast<const char *>(pBuf);
    uint32_t done = 0;
    while (done < dwCount) {
        ssize_t n = RetryOnEintr([&] { return write(hFile, p + done, dwCount - done); });
        if (n < 0) {
            if (pWritten)
                *pWritten = done;
            return FailFromErrno();
        }
        done += static_cast<uint32_t>(n);
    }
    if (pWritten)
        *pWritten = done;
    return 0;
}

int32_t YAR_FileSeek(YAR_FILE_HANDLE hFile, int64_t i64Distance, int32_t iMethod, int64_t *pNewPos) {
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (hFile == YAR_INVALID_FILE)
        return Fail(YAR_SYSERR_INVALID_HANDLE);
    if (iMethod < 0 || iMethod > 2)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    off_t pos = lseek(hFile, i64Distance, kWhence[iMethod]);
    if (pos < 0)
        return FailFromErrno();
    if (pNewPos)
        *pNewPos = pos;
    return 0;
}

int32_t YAR_FileFlush(YAR_FILE_HANDLE hFile) {
    if (hFile == YAR_INVALID_FILE)
        return Fail(YAR_SYSERR_INVALID_HANDLE);
    return fsync(hFile) == 0 ? 0 : FailFromErrno();
}

int32_t YAR_FileEof(YAR_FILE_HANDLE hFile) {
    return hFile != YAR_INVALID_FILE && YAR_GetSystemLastError() == YAR_SYSERR_HANDLE_EOF;
}

int32_t YAR_FileStat(YAR_FILE_HANDLE hFile, YAR_FINFO_T *pInfo) {
    if (hFile == YAR_INVALID_FILE || !pInfo)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    *pInfo = YAR_FINFO_T{};
    struct statx st;
    if (!StatOf(hFile, "", &st))
        return FailFromErrno();
    pInfo->iType = StatType(st.stx_mode);
    FillCommon(st, pInfo);
    pInfo->dwVolumeSerial = static_cast<uint32_t>(makedev(st.stx_dev_major, st.stx_dev_minor));
    pInfo->dwLinks = st.stx_nlink;
    pInfo->u64Index = st.stx_ino;
    return 0;
}

int32_t YAR_DeleteFile(const char *pPath) {
    if (!pPath)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    return unlink(pPath) == 0 ? 0 : FailFromErrno();
}

int32_t YAR_CopyFile(const char *pSrc, const char *pDst, int32_t bFailIfExists) {
    if (!pSrc || !pDst)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    int src = RetryOnEintr([&] { return open(pSrc, O_RDONLY | O_CLOEXEC); });
    if (src < 0)
        return FailFromErrno();
    struct stat srcSt, dstSt;
    if (fstat(src, &srcSt) != 0 || S_ISDIR(srcSt.st_mode)) {
        close(src);
        return Fail(YAR_SYSERR_ACCESS_DENIED);
    }
    // Truncating the target would destroy the source when both are the same file.
    if (stat(pDst, &dstSt) == 0 && dstSt.st_dev == srcSt.st_dev && dstSt.st_ino == srcSt.st_ino) {
        close(src);
        return Fail(bFailIfExists ? YAR_SYSERR_FILE_EXISTS : YAR_SYSERR_SHARING_VIOLATION);
    }
    const int oflags = O_WRONLY | O_CREAT | O_CLOEXEC | (bFailIfExists ? O_EXCL : O_TRUNC);
    int dst = RetryOnEintr([&] { return open(pDst, oflags, srcSt.st_mode & 0777); });
    if (dst < 0) {
        int err = errno;
        close(src);
        errno = err;
        return FailFromErrno();
    }
    bool copied = CopyData(src, dst);
    int err = errno;
    if (copied) {
        // A copy keeps the source's last write time.
        const timespec times[2] = {{0, UTIME_OMIT}, srcSt.st_mtim};
        futimens(dst, times);
    }
    close(src);
    if (close(dst) != 0 && copied) {
        copied = false;
        err = errno;
    }
    if (!copied) {
        unlink(pDst);  // no half-written target stays behind
        errno = err;
        return FailFromErrno();
    }
    return 0;
}

int32_t YAR_MoveFile(const char *pSrc, const char *pDst) {
    if (!pSrc || !pDst)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    if (renameat2(AT_FDCWD, pSrc, AT_FDCWD, pDst, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EINVAL) {
        // File systems without the no-replace rename: check, then rename.
        struct stat st;
        if (lstat(pDst, &st) == 0)
            return Fail(YAR_SYSERR_ALREADY_EXISTS);
        return rename(pSrc, pDst) == 0 ? 0 : FailFromErrno();
    }
    if (errno == EEXIST)
        return Fail(YAR_SYSERR_ALREADY_EXISTS);
    if (errno != EXDEV)
        return FailFromErrno();
    // Another file system: copy, then remove the source; never leave both or neither.
    if (YAR_CopyFile(pSrc, pDst, 1) != 0)
        return YAR_GetSystemLastError() == YAR_SYSERR_FILE_EXISTS ? Fail(YAR_SYSERR_ALREADY_EXISTS) : -1;
    if (unlink(pSrc) != 0) {
        int err = errno;
        unlink(pDst);
        errno = err;
        return FailFromErrno();
    }
    return 0;
}

int32_t YAR_AccessFile(const char *pPath, int32_t iMode) {
    if (!pPath || (iMode & ~6))
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    // The runtime's modes 0, 2, 4 and 6 are F_OK, W_OK, R_OK and both.
    return access(pPath, iMode) == 0 ? 0 : FailFromErrno();
}

int32_t YAR_MakeDir(const char *pPath) {
    if (!pPath)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    if (mkdir(pPath, 0777) == 0)
        return 0;
    return errno == EEXIST ? Fail(YAR_SYSERR_ALREADY_EXISTS) : FailFromErrno();
}

int32_t YAR_RemoveDir(const char *pPath) {
    if (!pPath)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    return rmdir(pPath) == 0 ? 0 : FailFromErrno();
}

YAR_DIR_T *YAR_OpenDir(const char *pPath) {
    if (!pPath) {
        Fail(YAR_SYSERR_INVALID_PARAMETER);
        return nullptr;
    }
    DIR *dir = opendir(pPath);
    if (!dir) {
        FailFromErrno();
        return nullptr;
    }
    errno = 0;
    dirent *first = readdir(dir);
    if (!first && errno) {
        FailFromErrno();
        closedir(dir);
        return nullptr;
    }
    return new YAR_DIR_T{dir, first};
}

int32_t YAR_ReadDir(YAR_DIR_T *pDir, YAR_DIR_ENTRY_T *pEntry) {
    if (!pDir || !pEntry)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    dirent *ent = pDir->pending;
    pDir->pending = nullptr;
    if (!ent) {
        errno = 0;
        ent = readdir(pDir->dir);
        if (!ent)
            return errno ? FailFromErrno() : Fail(YAR_SYSERR_FILE_NOT_FOUND);
    }
    *pEntry = YAR_DIR_ENTRY_T{};
    std::snprintf(pEntry->szName, sizeof pEntry->szName, "%s", ent->d_name);
    YAR_FINFO_T &info = pEntry->stInfo;
    struct statx st;
    if (StatOf(dirfd(pDir->dir), ent->d_name, &st)) {
        info.iType = EntryType(st.stx_mode);
        FillCommon(st, &info);
        if (info.iType == YAR_DTYPE_DIR)
            info.u64Size = 0;  // a directory's own size means nothing to callers
    } else {
        // Removed since it was listed: the name and kind are all that is known.
        info.iType = ent->d_type == DT_DIR ? YAR_DTYPE_DIR : ent->d_type == DT_LNK ? YAR_DTYPE_LINK
                                                                                  : YAR_DTYPE_FILE;
    }
    const bool dotName = ent->d_name[0] == '.' && std::strcmp(ent->d_name, ".") != 0 &&
                         std::strcmp(ent->d_name, "..") != 0;
    if (dotName)
        info.dwMode |= YAR_FPROT_HIDDEN;
    return 0;
}

int32_t YAR_CloseDir(YAR_DIR_T *pDir) {
    if (!pDir)
        return Fail(YAR_SYSERR_INVALID_PARAMETER);
    closedir(pDir->dir);
    delete pDir;
    return 0;
}

int32_t YAR_GetCurExePath(char *pBuf, int32_t iLen) {
    std::string path;
    if (!yar::internal::ExecutablePath(&path))
        return -1;
    return yar::internal::CopyOut(path, pBuf, iLen) ? 0 : Fail(YAR_SYSERR_INVALID_PARAMETER);
}

int32_t YAR_GetModulePath(const void *pAddress, char *pBuf, int32_t iLen) {
    std::string path;
    if (!yar::internal::ModulePathOf(pAddress, &path))
        return -1;
    return yar::internal::CopyOut(path, pBuf, iLen) ? 0 : Fail(YAR_SYSERR_INVALID_PARAMETER);
}

void YAR_MakeInt64To(uint32_t dwLow, uint32_t dwHigh, uint64_t *pOut) {
    if (pOut)
        *pOut = (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
}

}  // extern "C"
