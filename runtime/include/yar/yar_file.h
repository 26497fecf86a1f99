/* Files and directories with the runtime's own open flags, file information, directory listing,
 * and the paths of the executable and of loaded modules. Failures give -1 (or null) and leave the
 * system error (yar_error.h) for the caller's log line. */
#ifndef YAR_FILE_H
#define YAR_FILE_H

#include "yar_base.h"

YAR_BEGIN_DECLS

typedef int32_t YAR_FILE_HANDLE;
#define YAR_INVALID_FILE ((YAR_FILE_HANDLE)-1)

/* Open flags. */
enum {
    YAR_FILE_READ = 0x1,
    YAR_FILE_WRITE = 0x2,
    YAR_FILE_CREATE = 0x4,
    YAR_FILE_APPEND = 0x8,      /* the position is moved to the end once, at open */
    YAR_FILE_TRUNCATE = 0x10,
    YAR_FILE_EXCL = 0x40,       /* with YAR_FILE_CREATE: fails when the file exists */
    YAR_FILE_NOBUFFER = 0x800   /* accepted and ignored: callers' buffers are not aligned */
};

/* Mode bits of file information and attribute bits of YAR_OpenFile. */
enum {
    YAR_FPROT_SYSTEM = 0x100,          /* accepted and ignored */
    YAR_FPROT_DELETE_ON_CLOSE = 0x200, /* the name is removed when the handle is closed */
    YAR_FPROT_READONLY = 0x1000,       /* a created file gets no write permission */
    YAR_FPROT_READWRITE = 0x6000,
    YAR_FPROT_HIDDEN = 0x8000          /* listed names that begin with '.'; ignored at open */
};

/* Type codes of YAR_FileStat. */
enum { YAR_FTYPE_CHAR = 1, YAR_FTYPE_DISK = 2, YAR_FTYPE_PIPE = 4, YAR_FTYPE_OTHER = 8 };
/* Type codes of directory entries. */
enum { YAR_DTYPE_DEVICE = 1, YAR_DTYPE_LINK = 64, YAR_DTYPE_DIR = 256, YAR_DTYPE_FILE = 512 };

enum { YAR_MAX_PATH = 260 };

/* Times are microseconds since 1970 UTC. Owner and group stay null. */
typedef struct YAR_FINFO_T {
    int32_t iType;
    void *pOwner;
    void *pGroup;
    uint32_t dwMode;
    uint32_t dwVolumeSerial;
    uint32_t dwLinks;
    uint64_t u64Index;
    uint64_t u64Size;
    int64_t i64AccessTime;
    int64_t i64CreateTime;
    int64_t i64WriteTime;
} YAR_FINFO_T;

/* Of the information, type, mode, size (0 for directories) and the times are filled. */
typedef struct YAR_DIR_ENTRY_T {
    char szName[YAR_MAX_PATH];
    YAR_FINFO_T stInfo;
} YAR_DIR_ENTRY_T;

typedef struct YAR_DIR_S YAR_DIR_T;

/* Flag 0x40 without 0x4 is refused before any system call. */
YAR_FILE_HANDLE YAR_OpenFile(const char *pPath, uint32_t dwFlags, uint32_t dwAttributes);
int32_t YAR_CloseFile(YAR_FILE_HANDLE hFile);
/* A read at the end gives 0 with a count of 0 and sets the system error to 38
 * (YAR_SYSERR_HANDLE_EOF), which YAR_FileEof reports; a read that gets data clears it. */
int32_t YAR_ReadFile(YAR_FILE_HANDLE hFile, void *pBuf, uint32_t dwCount, uint32_t *pRead);
int32_t YAR_WriteFile(YAR_FILE_HANDLE hFile, const void *pBuf, uint32_t dwCount, uint32_t *pWritten);
/* Method 0 begin, 1 current, 2 end. */
int32_t YAR_FileSeek(YAR_FILE_HANDLE hFile, int64_t i64Distance, int32_t iMethod, int64_t *pNewPos);
int32_t YAR_FileFlush(YAR_FILE_HANDLE hFile);
int32_t YAR_FileEof(YAR_FILE_HANDLE hFile);
int32_t YAR_FileStat(YAR_FILE_HANDLE hFile, YAR_FINFO_T *pInfo);

int32_t YAR_DeleteFile(const char *pPath);
/* With bFailIfExists set, an existing target is left alone and the copy fails (system error 80).
 * Copying a file onto itself fails. */
int32_t YAR_CopyFile(const char *pSrc, const char *pDst, int32_t bFailIfExists);
/* Fails when the target exists (system error 183). Moves across file systems copy and remove. */
int32_t YAR_MoveFile(const char *pSrc, const char *pDst);
/* Mode 0 exists, 2 write, 4 read, 6 both; asking for execute (bit 1) fails. */
int32_t YAR_AccessFile(const char *pPath, int32_t iMode);
int32_t YAR_MakeDir(const char *pPath);
int32_t YAR_RemoveDir(const char *pPath);

/* Entries come in the system's order, "." and ".." included. Null for a path that is not a
 * readable directory. */
YAR_DIR_T *YAR_OpenDir(const char *pPath);
int32_t YAR_ReadDir(YAR_DIR_T *pDir, YAR_DIR_ENTRY_T *pEntry);
int32_t YAR_CloseDir(YAR_DIR_T *pDir);

/* Full path of the running executable; -1 when it cannot be had or does not fit with its
 * terminator. */
int32_t YAR_GetCurExePath(char *pBuf, int32_t iLen);
/* Full path of the executable or shared library that holds the address; null stands for the
 * module that holds the runtime (the shared library when the runtime is linked into one). */
int32_t YAR_GetModulePath(const void *pAddress, char *pBuf, int32_t iLen);
void YAR_MakeInt64To(uint32_t dwLow, uint32_t dwHigh, uint64_t *pOut);

YAR_END_DECLS

#endif
