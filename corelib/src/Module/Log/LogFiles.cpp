// The file side of CLogService: opening, rotation, the directory scan and the retention rule.
// Everything here runs under the file mutex.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/Log/LogClock.h"
#include "Module/Log/LogNames.h"
#include "Module/Log/LogPlatform.h"
#include "Module/Log/LogService.h"
#include "Module/Log/LogZip.h"
#include "Module/Zlib/ZlibAPI.h"
#include "Utils/Utils.h"

namespace Vorezi {

namespace {

constexpr char kDefaultLogDir[] = "./sdklog/";
constexpr char kWorkingSuffix[] = "_w.log";
constexpr size_t kFilesPerArchive = 50;
constexpr int kNoCoverMax = 65535;
constexpr int kDefaultReserved = 10;
// The names the service writes are the prefix and 24 characters ("20240305_140709042_w.log").
constexpr size_t kOwnNameTail = 24;
constexpr size_t kShortNameLimit = 33;

bool EndsWith(const std::string &s, const char *pTail) {
    size_t n = std::strlen(pTail);
    return s.size() >= n && s.compare(s.size() - n, n, pTail) == 0;
}

// The finished name of a working file: "_w.log" becomes ".log".
std::string FinishedName(const std::string &name) {
    size_t pos = name.rfind(kWorkingSuffix);
    if (pos == std::string::npos)
        return name;
    return name.substr(0, pos) + ".log";
}

std::string ZipNameFor(const std::string &oldest) {
    size_t pos = oldest.rfind(kWorkingSuffix);
    if (pos == std::string::npos)
        pos = oldest.rfind(".log");
    return (pos == std::string::npos ? oldest : oldest.substr(0, pos)) + ".zip";
}

}  // namespace

// Name order is opening order, across all services of the process (see CLogNameFloor). A name
// once taken, as a working, finished or zipped file, moves on to the next millisecond; the file is
// created only when it does not exist, so no file is ever opened again and truncated.
int CLogService::CreateNamedFile(std::string *pName) {
    LogTime now;
    if (!LogClock_Now(&now))
        now = LogTime{1970, 1, 1, 0, 0, 0, 0};
    CLogNameFloor floor(m_szLogDir, m_szPrefix);
    for (LogTime t = floor.After(now);; LogTime_AddMilli(&t)) {
        char szName[LOG_PATH_FIELD + 64];
        std::snprintf(szName, sizeof(szName), "%s%s%04d%02d%02d_%02d%02d%02d%03d_w%s", m_szLogDir, m_szPrefix,
                      t.iYear, t.iMonth, t.iDay, t.iHour, t.iMinute, t.iSecond, t.iMilli, ".log");
        std::string name(szName);
        if (name.size() >= LOG_PATH_FIELD)
            return logplat::kInvalidFile;
        if (logplat::Exists(FinishedName(name).c_str()) || logplat::Exists(ZipNameFor(name).c_str()))
            continue;
        bool bTaken = false;
        int hFile = logplat::CreateNew(name.c_str(), &bTaken);
        if (bTaken)
            continue;
        if (hFile != logplat::kInvalidFile) {
            floor.Taken(t);
            *pName = name;
        }
        return hFile;
    }
}

bool CLogService::OpenNewFile() {
    if (!m_bFile.load())
        return false;
    if (m_hFile != logplat::kInvalidFile)
        return true;
    std::string name;
    m_hFile = CreateNamedFile(&name);
    if (m_hFile == logplat::kInvalidFile)
        return false;
    std::snprintf(m_szCurFile, sizeof(m_szCurFile), "%s", name.c_str());
    if (m_iLogMod == LOG_MODE_COVER || m_bZipFine) {
        m_LogFiles.push_back(name);
        m_LogFileSet.insert(name);
    }
    m_iLogIndex++;
    m_bOpening = true;
    if (m_szHeadText[0])
        logplat::WriteAll(m_hFile, m_szHeadText, std::strlen(m_szHeadText));
    if (m_fnFileOpen)
        m_fnFileOpen(m_pFileOpenUser);
    m_bOpening = false;
    return true;
}

void CLogService::CloseFile() {
    logplat::Close(m_hFile);
    m_hFile = logplat::kInvalidFile;
}

void CLogService::RenameCurrentFile() {
    std::string cur(m_szCurFile);
    if (cur.find(kWorkingSuffix) == std::string::npos)
        return;
    std::string done = FinishedName(cur);
    if (logplat::Rename(cur.c_str(), done.c_str()) != 0) {
        logplat::DebuggerOutput("CLogService::RenameLogFile---rename Failed");
        return;
    }
    // The list follows the file only once it was really renamed.
    if (!m_LogFiles.empty() && m_LogFiles.back() == cur) {
        m_LogFileSet.erase(cur);
        m_LogFiles.back() = done;
        m_LogFileSet.insert(done);
    }
    std::snprintf(m_szCurFile, sizeof(m_szCurFile), "%s", done.c_str());
}

void CLogService::RotateFile() {
    CloseFile();
    RenameCurrentFile();
    if (OpenNewFile())
        ApplyRetention();
}

int CLogService::WriteFile(const char *pData, uint32_t dwLen) {
    yar::yar_guard file(&m_FileMutex);
    return WriteFileLocked(pData, dwLen);
}

int64_t CLogService::CurrentFileSize() {
    int64_t size = logplat::SeekEnd(m_hFile);
    return size < 0 ? 0 : size;
}

int CLogService::WriteFileLocked(const char *pData, uint32_t dwLen) {
    if (!m_bFile.load())
        return 0;
    if (m_bDirChanged) {
        CloseFile();
        m_bDirChanged = false;
    }
    if (m_hFile == logplat::kInvalidFile && !OpenNewFile())
        return 0;
    // The banner written while a file opens never rotates that file.
    int64_t size = m_bOpening ? 0 : CurrentFileSize();
    while (!m_bOpening && (uint64_t)size + dwLen > m_dwMaxFileSize) {
        uint64_t room = (uint64_t)size < m_dwMaxFileSize ? m_dwMaxFileSize - (uint64_t)size : 0;
        uint32_t dwCut = 0;
        if (room > 0) {
            const void *pLf = memrchr(pData, '\n', std::min<uint64_t>(room, dwLen));
            dwCut = pLf ? (uint32_t)(static_cast<const char *>(pLf) - pData) + 1 : 0;
        }
        // An empty file takes its first line even when that line alone is too long.
        if (dwCut == 0 && size == 0) {
            const void *pLf = std::memchr(pData, '\n', dwLen);
            dwCut = pLf ? (uint32_t)(static_cast<const char *>(pLf) - pData) + 1 : dwLen;
        }
        if (dwCut) {
            int iErr = logplat::WriteAll(m_hFile, pData, dwCut);
            if (iErr && logplat::IsDiskFull(iErr)) {
                CloseFile();
                return 0;
            }
        }
        RotateFile();
        if (m_hFile == logplat::kInvalidFile)
            return 0;
        pData += dwCut;
        dwLen -= dwCut;
        size = CurrentFileSize();
    }
    if (dwLen)
        logplat::WriteAll(m_hFile, pData, dwLen);
    return 1;
}

int CLogService::WriteRawText(const char *pText, int iLen) {
    if (!m_bCreated || !pText || iLen <= 0)
        return 0;
    return WriteFile(pText, (uint32_t)iLen);
}

void CLogService::ClearFileLists() {
    m_LogFiles.clear();
    m_LogFileSet.clear();
    m_ZipFiles.clear();
    m_ZipFileSet.clear();
}

bool CLogService::ZipUsable() {
    // Asked before the file mutex is taken: the zlib getter may take the controller's lock,
    // which a Fini holds while it stops this log.
    if (!CLogZip::IsAvailable())
        return false;
    CZlibAPI *pZlib = GetCoreGlobalCtrl()->GetZlibAPI();
    return pZlib && pZlib->IsLoaded() && pZlib->CompareVersion();
}

int CLogService::SetFileOutput(bool bOn, const char *pDir, DWORD dwSize, int iMode, bool bZip) {
    if (!bOn) {
        m_bFile.store(0);
        CloseFile();
        m_szLogDir[0] = '\0';
        m_dwMaxFileSize = 0;
        ClearFileLists();
        m_iLogMod = LOG_MODE_OFF;
        return 1;
    }
    int iPrevMode = m_iLogMod;
    m_bZipFine = bZip;
    m_iLogMod = iMode;
    if (!SetDirectory(pDir, dwSize)) {
        m_iLogMod = iPrevMode;
        return 0;
    }
    return 1;
}

int CLogService::SetDirectory(const char *pDir, DWORD dwSize) {
    if (pDir && std::strlen(pDir) > LOG_MAX_DIR_LEN) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    char szDir[LOG_PATH_FIELD] = {0};
    std::snprintf(szDir, sizeof(szDir), "%s", (pDir && pDir[0]) ? pDir : kDefaultLogDir);
    Utils_NormalizeDir(szDir);
    if (std::strcmp(szDir, m_szLogDir) != 0) {
        m_bDirChanged = true;
        ClearFileLists();
    }
    std::memcpy(m_szLogDir, szDir, sizeof(m_szLogDir));
    m_dwMaxFileSize = dwSize ? dwSize : LOG_DEFAULT_FILE_SIZE;
    Utils_CreateMultiDir(szDir);
    if (m_iLogMod == LOG_MODE_COVER || m_bZipFine) {
        if (!ScanDirectory()) {
            SetError(MORVA_ERR_PARAM);
            return 0;
        }
        ApplyRetention();
    } else {
        ClearFileLists();
    }
    m_bFile.store(1);
    return 1;
}

bool CLogService::IsOwnName(const std::string &name, const char *pExt) const {
    size_t prefixLen = std::strlen(m_szPrefix);
    size_t limit = std::max(kShortNameLimit, prefixLen + kOwnNameTail + 1);
    return name.size() < limit && name.compare(0, prefixLen, m_szPrefix) == 0 && EndsWith(name, pExt);
}

bool CLogService::ScanDirectory() {
    std::vector<std::string> names;
    if (!logplat::ListRegularFiles(m_szLogDir, &names))
        return false;
    std::vector<std::string> logs, zips;
    for (const std::string &name : names) {
        std::string path = std::string(m_szLogDir) + name;
        if (IsOwnName(name, ".log") && !m_LogFileSet.count(path))
            logs.push_back(path);
        else if (IsOwnName(name, ".zip") && !m_ZipFileSet.count(path))
            zips.push_back(path);
    }
    std::sort(logs.begin(), logs.end());
    std::sort(zips.begin(), zips.end());
    for (std::string &path : logs) {
        m_LogFileSet.insert(path);
        m_LogFiles.push_back(std::move(path));
    }
    for (std::string &path : zips) {
        m_ZipFileSet.insert(path);
        m_ZipFiles.push_back(std::move(path));
    }
    return true;
}

void CLogService::ApplyRetention() {
    int iReserved = GetCoreGlobalCtrl()->GetLogFileReserved();
    int iKept = iReserved ? iReserved : kDefaultReserved;
    int iMaxLog, iMaxZip;
    if (m_iLogMod == LOG_MODE_COVER) {
        iMaxLog = m_bZipFine ? (int)kFilesPerArchive : iKept;
        iMaxZip = iKept;
    } else if (m_iLogMod == LOG_MODE_NOCOVER) {
        iMaxLog = m_bZipFine ? (int)kFilesPerArchive : kNoCoverMax;
        iMaxZip = kNoCoverMax;
    } else {
        return;
    }
    m_iMaxLogFileReserved = iMaxLog;
    m_iMaxZipFileReserved = iMaxZip;

    while (m_LogFiles.size() > (size_t)iMaxLog) {
        if (m_bZipFine && ZipOldest(kFilesPerArchive))
            continue;
        if (m_iLogMod == LOG_MODE_COVER) {
            while (m_LogFiles.size() > (size_t)iMaxLog) {
                logplat::Remove(m_LogFiles.front().c_str());
                m_LogFileSet.erase(m_LogFiles.front());
                m_LogFiles.pop_front();
            }
        }
        break;  // NoCover without a working zip keeps its files
    }
    if (m_iLogMod == LOG_MODE_COVER) {
        while (m_ZipFiles.size() > (size_t)iMaxZip) {
            logplat::Remove(m_ZipFiles.front().c_str());
            m_ZipFileSet.erase(m_ZipFiles.front());
            m_ZipFiles.pop_front();
        }
    }
}

bool CLogService::ZipOldest(size_t maxPerArchive) {
    if (m_LogFiles.empty())
        return false;
    std::string zipName = ZipNameFor(m_LogFiles.front());
    // Never the file being written, which is the newest entry.
    size_t count = std::min(maxPerArchive, m_LogFiles.size() - 1);
    if (count == 0)
        return false;
    std::vector<std::string> taken(m_LogFiles.begin(), m_LogFiles.begin() + count);
    std::vector<std::string> present;
    for (const std::string &path : taken) {
        if (logplat::Exists(path.c_str()))
            present.push_back(path);
    }
    // The sources are deleted only after the archive was closed successfully, so a failed zip
    // loses no log file.
    if (!present.empty() && !CLogZip::ZipFiles(zipName, present)) {
        m_bZipFine = false;
        return false;
    }
    for (const std::string &path : present)
        logplat::Remove(path.c_str());
    for (size_t i = 0; i < count; i++) {
        m_LogFileSet.erase(m_LogFiles.front());
        m_LogFiles.pop_front();
    }
    if (!present.empty() && m_iLogMod == LOG_MODE_COVER && !m_ZipFileSet.count(zipName)) {
        m_ZipFiles.push_back(zipName);
        m_ZipFileSet.insert(zipName);
    }
    return true;
}

}  // namespace Vorezi
