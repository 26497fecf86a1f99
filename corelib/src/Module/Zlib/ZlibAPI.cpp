#include "Module/Zlib/ZlibAPI.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_dso.h"
#include "yar/yar_error.h"

namespace Vorezi {

namespace {

std::atomic<int> g_bVersionWarned{0};

template <typename Fn>
void Resolve(void *hLib, const char *pName, Fn *pFn) {
    *pFn = reinterpret_cast<Fn>(YAR_GetDsoSym(hLib, pName));
}

// Release numbers compared one dot-separated component at a time; a missing component counts 0.
int CompareRelease(const char *pVersion, const char *pRequired) {
    while (*pVersion || *pRequired) {
        char *pEnd = nullptr;
        unsigned long a = strtoul(pVersion, &pEnd, 10);
        pVersion = pEnd;
        unsigned long b = strtoul(pRequired, &pEnd, 10);
        pRequired = pEnd;
        if (a != b)
            return a < b ? -1 : 1;
        while (*pVersion && *pVersion != '.')
            pVersion++;
        while (*pRequired && *pRequired != '.')
            pRequired++;
        if (*pVersion == '.')
            pVersion++;
        if (*pRequired == '.')
            pRequired++;
    }
    return 0;
}

void CopyText(char *pDest, size_t uSize, const char *pSource) {
    strncpy(pDest, pSource ? pSource : "", uSize - 1);
    pDest[uSize - 1] = '\0';
}

}  // namespace

CZlibAPI::CZlibAPI()
    : m_szCurZlibVersion{},
      m_szCurZlibPath{},
      m_hZlibCom(nullptr),
      m_fnCrc32(nullptr),
      m_fnDeflateEnd(nullptr),
      m_fnDeflate(nullptr),
      m_fnDeflateInit2(nullptr),
      m_fnGetCrcTable(nullptr),
      m_fnZlibVersion(nullptr),
      m_fnInflateEnd(nullptr),
      m_fnInflate(nullptr),
      m_fnInflateInit2(nullptr),
      m_fnCompress(nullptr),
      m_fnUnCompress(nullptr) {}

// zlib stays loaded for the life of the process: a thread may still be inside it.
CZlibAPI::~CZlibAPI() = default;

int CZlibAPI::LoadZlib() {
    return Load(true);
}

int CZlibAPI::ReloadZlib() {
    return Load(false);
}

int CZlibAPI::Load(bool bLog) {
    if (__atomic_load_n(&m_hZlibCom, __ATOMIC_ACQUIRE))
        return 1;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->LibLock())
        return 0;
    int bOk = 1;
    if (!m_hZlibCom) {
        void *hLib = bLog ? pCtrl->LoadDSo(BASE_DLL_ZLIB) : pCtrl->LoadDSoNoLog(BASE_DLL_ZLIB);
        if (!hLib) {
            if (bLog)
                LogModule_Write(LOG_LEVEL_ERR, "CZlibAPI::LoadZlib, LoadDSo BASE_DLL_ZLIB Failed, syserror[%d]",
                                (int)YAR_GetSystemLastError());
            SetError(MORVA_ERR_LOAD_ZLIB);
            bOk = 0;
        } else {
            YAR_GetDsoPath(hLib, m_szCurZlibPath, (int32_t)sizeof(m_szCurZlibPath));
            m_szCurZlibPath[sizeof(m_szCurZlibPath) - 1] = '\0';
            m_hZlibCom = hLib;
            LoadAPI();
            // Published last: other threads use the pointers once the handle is set.
            __atomic_store_n(&m_hZlibCom, hLib, __ATOMIC_RELEASE);
        }
    }
    pCtrl->LibUnlock();
    return bOk;
}

int CZlibAPI::LoadAPI() {
    void *hLib = m_hZlibCom;
    if (!hLib) {
        LogModule_Write(LOG_LEVEL_ERR, "CZlibAPI::LoadAPI, m_hZlibCom[%d]", MORVA_PTR_ARG(hLib));
        return 0;
    }
    Resolve(hLib, "crc32", &m_fnCrc32);
    Resolve(hLib, "deflateEnd", &m_fnDeflateEnd);
    Resolve(hLib, "deflate", &m_fnDeflate);
    Resolve(hLib, "deflateInit2_", &m_fnDeflateInit2);
    Resolve(hLib, "get_crc_table", &m_fnGetCrcTable);
    Resolve(hLib, "zlibVersion", &m_fnZlibVersion);
    Resolve(hLib, "inflateEnd", &m_fnInflateEnd);
    Resolve(hLib, "inflate", &m_fnInflate);
    Resolve(hLib, "inflateInit2_", &m_fnInflateInit2);
    Resolve(hLib, "compress", &m_fnCompress);
    Resolve(hLib, "uncompress", &m_fnUnCompress);
    return 1;
}

int CZlibAPI::IsFunctionExist(const void *pFunction, const char *pName) {
    if (pFunction)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "CZlibAPI::IsFunctionExist, Function[%s] Unload", pName);
    return 0;
}

int CZlibAPI::IsAllFunctionExist() {
    const struct {
        const void *pFunction;
        const char *pName;
    } kFunctions[] = {
        {(const void *)m_fnCrc32, "crc32"},
        {(const void *)m_fnDeflateEnd, "deflateEnd"},
        {(const void *)m_fnDeflate, "deflate"},
        {(const void *)m_fnDeflateInit2, "deflateInit2_"},
        {(const void *)m_fnGetCrcTable, "get_crc_table"},
        {(const void *)m_fnZlibVersion, "zlibVersion"},
        {(const void *)m_fnInflateEnd, "inflateEnd"},
        {(const void *)m_fnInflate, "inflate"},
        {(const void *)m_fnInflateInit2, "inflateInit2_"},
        {(const void *)m_fnCompress, "compress"},
        {(const void *)m_fnUnCompress, "uncompress"},
    };
    for (const auto &fn : kFunctions) {
        if (!IsFunctionExist(fn.pFunction, fn.pName))
            return 0;
    }
    return 1;
}

int CZlibAPI::CompareVersion() {
    if (!m_fnZlibVersion)
        return 0;
    const char *pLoaded = m_fnZlibVersion();
    if (!m_szCurZlibVersion[0])
        CopyText(m_szCurZlibVersion, sizeof(m_szCurZlibVersion), pLoaded);
    if (CompareRelease(m_szCurZlibVersion, ZLIB_REQUIRED_VERSION) >= 0)
        return 1;
    if (!g_bVersionWarned.exchange(1))
        LogModule_Write(LOG_LEVEL_INF,
                        "CZlibAPI::CompareVersion, Zlib required [%s] and Later Version, m_fnZlibVersion[%s], "
                        "m_szCurZlibVersion[%s], m_szCurZlibPath[%s]",
                        ZLIB_REQUIRED_VERSION, pLoaded, m_szCurZlibVersion, m_szCurZlibPath);
    return 0;
}

void CZlibAPI::PrintVersion(int bRaw) {
    char szLine[LOG_MAX_LINE];
    if (!m_fnZlibVersion) {
        snprintf(szLine, sizeof(szLine), "Zlib: m_fnZlibVersion[0x0], Unload, m_szCurZlibVersion[%s], m_szCurZlibPath[%s]",
                 m_szCurZlibVersion, m_szCurZlibPath);
    } else if (!m_szCurZlibVersion[0]) {
        CopyText(m_szCurZlibVersion, sizeof(m_szCurZlibVersion), m_fnZlibVersion());
        snprintf(szLine, sizeof(szLine), "Zlib: m_fnZlibVersion[%s], m_szCurZlibPath[%s]", m_fnZlibVersion(),
                 m_szCurZlibPath);
    } else {
        snprintf(szLine, sizeof(szLine), "Zlib: m_fnZlibVersion[%s], m_szCurZlibVersion[%s], m_szCurZlibPath[%s]",
                 m_fnZlibVersion(), m_szCurZlibVersion, m_szCurZlibPath);
    }
    if (bRaw)
        LogModule_WriteRaw("%s", szLine);
    else
        LogModule_Write(LOG_LEVEL_DBG, "%s", szLine);
}

int CZlibAPI::Compress(Bytef *pDest, uLongf *pDestLen, const Bytef *pSource, uLong uSourceLen, int iDefault) {
    return m_fnCompress ? m_fnCompress(pDest, pDestLen, pSource, uSourceLen) : iDefault;
}

uLong CZlibAPI::Crc32(uLong uCrc, const Bytef *pBuf, uInt uLen, uLong uDefault) {
    return m_fnCrc32 ? m_fnCrc32(uCrc, pBuf, uLen) : uDefault;
}

int CZlibAPI::Deflate(z_streamp pStream, int iFlush, int iDefault) {
    return m_fnDeflate ? m_fnDeflate(pStream, iFlush) : iDefault;
}

int CZlibAPI::DeflateEnd(z_streamp pStream, int iDefault) {
    return m_fnDeflateEnd ? m_fnDeflateEnd(pStream) : iDefault;
}

int CZlibAPI::DeflateInit2(z_streamp pStream, int iLevel, int iMethod, int iWindowBits, int iMemLevel, int iStrategy,
                           const char *pVersion, int iStreamSize, int iDefault) {
    return m_fnDeflateInit2
               ? m_fnDeflateInit2(pStream, iLevel, iMethod, iWindowBits, iMemLevel, iStrategy, pVersion, iStreamSize)
               : iDefault;
}

const z_crc_t *CZlibAPI::GetCrcTable(const z_crc_t *pDefault) {
    return m_fnGetCrcTable ? m_fnGetCrcTable() : pDefault;
}

int CZlibAPI::Inflate(z_streamp pStream, int iFlush, int iDefault) {
    return m_fnInflate ? m_fnInflate(pStream, iFlush) : iDefault;
}

int CZlibAPI::InflateEnd(z_streamp pStream, int iDefault) {
    return m_fnInflateEnd ? m_fnInflateEnd(pStream) : iDefault;
}

int CZlibAPI::InflateInit2(z_streamp pStream, int iWindowBits, const char *pVersion, int iStreamSize, int iDefault) {
    return m_fnInflateInit2 ? m_fnInflateInit2(pStream, iWindowBits, pVersion, iStreamSize) : iDefault;
}

int CZlibAPI::UnCompress(Bytef *pDest, uLongf *pDestLen, const Bytef *pSource, uLong uSourceLen, int iDefault) {
    return m_fnUnCompress ? m_fnUnCompress(pDest, pDestLen, pSource, uSourceLen) : iDefault;
}

const char *CZlibAPI::ZlibVersion(const char *pDefault) {
    return m_fnZlibVersion ? m_fnZlibVersion() : pDefault;
}

// ---- gzip in memory ----

namespace {

constexpr int kNoBinding = -102;
constexpr int kGzipWindowBits = 15 + 16;

// The binding and a stream over the two buffers; null with *pResult set when the call cannot run.
CZlibAPI *GzipStream(const void *pInput, int iInputLen, void *pOutput, int iOutputSize, z_stream *pStream,
                     int *pResult) {
    CZlibAPI *pApi = GetZlibAPI();
    if (!pApi) {
        *pResult = kNoBinding;
        return nullptr;
    }
    if (!pApi->IsLoaded() || !pInput || iInputLen <= 0 || !pOutput || iOutputSize <= 0) {
        *pResult = -1;
        return nullptr;
    }
    memset(pStream, 0, sizeof(*pStream));
    pStream->next_in = (Bytef *)pInput;
    pStream->avail_in = (uInt)iInputLen;
    pStream->next_out = (Bytef *)pOutput;
    pStream->avail_out = (uInt)iOutputSize;
    return pApi;
}

}  // namespace

int CompressGzip(const void *pInput, int iInputLen, void *pOutput, int iOutputSize) {
    z_stream stream;
    int iResult = -1;
    CZlibAPI *pApi = GzipStream(pInput, iInputLen, pOutput, iOutputSize, &stream, &iResult);
    if (!pApi)
        return iResult;
    // deflateInit2 leaves the buffer fields alone.
    if (pApi->DeflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY,
                           ZLIB_REQUIRED_VERSION, (int)sizeof(z_stream), Z_VERSION_ERROR) != Z_OK)
        return -1;
    iResult = Z_OK;
    while (iResult == Z_OK && stream.avail_in != 0 && stream.total_out < (uLong)iOutputSize)
        iResult = pApi->Deflate(&stream, Z_NO_FLUSH, Z_STREAM_ERROR);
    while (iResult == Z_OK)
        iResult = pApi->Deflate(&stream, Z_FINISH, Z_STREAM_ERROR);
    // The deflate state is freed on every path; a result that did not fit is a failure.
    int iEnd = pApi->DeflateEnd(&stream, Z_STREAM_ERROR);
    if (iResult != Z_STREAM_END || iEnd != Z_OK)
        return -1;
    return (int)stream.total_out;
}

int UnCompressGzip(const void *pInput, int iInputLen, void *pOutput, int iOutputSize) {
    z_stream stream;
    int iLength = -1;
    CZlibAPI *pApi = GzipStream(pInput, iInputLen, pOutput, iOutputSize, &stream, &iLength);
    if (!pApi)
        return iLength;
    if (pApi->InflateInit2(&stream, kGzipWindowBits, ZLIB_REQUIRED_VERSION, (int)sizeof(z_stream), Z_VERSION_ERROR) !=
        Z_OK)
        return -1;
    if (pApi->Inflate(&stream, Z_FINISH, Z_STREAM_ERROR) == Z_STREAM_END)
        iLength = (int)stream.total_out;
    pApi->InflateEnd(&stream, Z_STREAM_ERROR);
    return iLength;
}

}  // namespace Vorezi
