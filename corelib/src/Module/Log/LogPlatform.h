// The log service's file, directory, thread and debugger-output calls on Linux, kept apart from
// its own logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Vorezi {
namespace logplat {

constexpr int kInvalidFile = -1;

// Creates the file for writing only when it does not exist; the descriptor, or kInvalidFile with
// *pExists set when the name was taken.
int CreateNew(const char *pPath, bool *pExists);
void Close(int hFile);
// Writes everything; 0, or the errno of the failing write.
int WriteAll(int hFile, const void *pData, size_t len);
// The file size from a seek to its end; -1 on failure.
int64_t SeekEnd(int hFile);
// Reads up to len bytes; the count, 0 at the end, -1 on failure.
int64_t Read(int hFile, void *pBuf, size_t len);
int OpenRead(const char *pPath);
bool Exists(const char *pPath);
int Rename(const char *pFrom, const char *pTo);
int Remove(const char *pPath);
// Errors of a full disk or a file-size limit: data written then is dropped.
bool IsDiskFull(int iErr);
// Names of the regular files in the directory; false when it cannot be listed.
bool ListRegularFiles(const char *pDir, std::vector<std::string> *pNames);
// The debugger-output channel of the runtime.
void DebuggerOutput(const char *pText);

}  // namespace logplat
}  // namespace Vorezi
