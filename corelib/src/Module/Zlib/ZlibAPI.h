// zlib, loaded at run time from dependent-library slot 3 and bound by name: one null-safe wrapper
// per function (the caller's default when the function is not bound), and gzip in memory.
#pragma once

#include <zlib.h>

#include "morva/MorvaTypes.h"

namespace Vorezi {

// The oldest zlib the library accepts.
constexpr const char *ZLIB_REQUIRED_VERSION = "1.2.13";

class CZlibAPI {
public:
    CZlibAPI();
    ~CZlibAPI();
    CZlibAPI(const CZlibAPI &) = delete;
    CZlibAPI &operator=(const CZlibAPI &) = delete;

    int LoadZlib();
    int ReloadZlib();
    int LoadAPI();
    int IsAllFunctionExist();
    int IsFunctionExist(const void *pFunction, const char *pName);
    // 1 when the loaded zlib is ZLIB_REQUIRED_VERSION or later; users treat 0 as no zlib.
    int CompareVersion();
    void PrintVersion(int bRaw);
    int IsLoaded() const { return m_hZlibCom != nullptr; }
    // Every 32-bit value is a valid CRC, so callers test the binding rather than a default.
    int IsCrc32Bound() const { return m_fnCrc32 != nullptr; }

    int Compress(Bytef *pDest, uLongf *pDestLen, const Bytef *pSource, uLong uSourceLen, int iDefault);
    uLong Crc32(uLong uCrc, const Bytef *pBuf, uInt uLen, uLong uDefault);
    int Deflate(z_streamp pStream, int iFlush, int iDefault);
    int DeflateEnd(z_streamp pStream, int iDefault);
    int DeflateInit2(z_streamp pStream, int iLevel, int iMethod, int iWindowBits, int iMemLevel, int iStrategy,
                     const char *pVersion, int iStreamSize, int iDefault);
    const z_crc_t *GetCrcTable(const z_crc_t *pDefault);
    int Inflate(z_streamp pStream, int iFlush, int iDefault);
    int InflateEnd(z_streamp pStream, int iDefault);
    int InflateInit2(z_streamp pStream, int iWindowBits, const char *pVersion, int iStreamSize, int iDefault);
    int UnCompress(Bytef *pDest, uLongf *pDestLen, const Bytef *pSource, uLong uSourceLen, int iDefault);
    const char *ZlibVersion(const char *pDefault);

private:
    int Load(bool bLog);

    char m_szCurZlibVersion[256];
    char m_szCurZlibPath[260];
    void *m_hZlibCom;
    decltype(&::crc32) m_fnCrc32;
    decltype(&::deflateEnd) m_fnDeflateEnd;
    decltype(&::deflate) m_fnDeflate;
    decltype(&::deflateInit2_) m_fnDeflateInit2;
    decltype(&::get_crc_table) m_fnGetCrcTable;
    decltype(&::zlibVersion) m_fnZlibVersion;
    decltype(&::inflateEnd) m_fnInflateEnd;
    decltype(&::inflate) m_fnInflate;
    decltype(&::inflateInit2_) m_fnInflateInit2;
    decltype(&::compress) m_fnCompress;
    decltype(&::uncompress) m_fnUnCompress;
};

// gzip in memory through the controller's binding. Both give the output length, -102 without a
// binding and -1 on any failure, also when the output does not hold the whole result.
int CompressGzip(const void *pInput, int iInputLen, void *pOutput, int iOutputSize);
int UnCompressGzip(const void *pInput, int iInputLen, void *pOutput, int iOutputSize);

}  // namespace Vorezi
