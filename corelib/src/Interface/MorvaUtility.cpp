// Flat forwarders for compression, character sets and texts.
#include "morva/MorvaUtility.h"

#include <cstdio>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Module/CharConv/CharIConv.h"
#include "Module/Memory/MemoryMgr.h"
#include "Module/Zlib/ZlibAPI.h"
#include "Utils/Utils.h"
#include "crypto/Base64.h"
#include "crypto/Interim.h"

namespace Vorezi {
namespace {

// The binding, or null after logging the function's text with its position.
CZlibAPI *ZlibFor(const char *pFailText, int iLine) {
    CZlibAPI *pZlib = GetZlibAPI();
    if (pZlib == nullptr || !pZlib->IsLoaded()) {
        LogModule_WriteWithPos(LOG_LEVEL_ERR, __FILE__, iLine, "%s", pFailText);
        return nullptr;
    }
    return pZlib;
}

int CheckInit() { return GetCoreGlobalCtrl()->CheckInit(); }

// compress or uncompress of one buffer into another: the result's length, or -1.
using ZlibBufferCall = int (CZlibAPI::*)(Bytef *, uLongf *, const Bytef *, uLong, int);
int ZlibInMemory(ZlibBufferCall fnCall, const char *pFailText, int iLine, const void *pSrc, DWORD dwSrcLen,
                 void *pDest, DWORD dwDestSize) {
    if (!CheckInit()) return -1;
    CZlibAPI *pZlib = ZlibFor(pFailText, iLine);
    if (pZlib == nullptr || pSrc == nullptr || pDest == nullptr) return -1;
    uLongf uDestLen = dwDestSize;
    if ((pZlib->*fnCall)(static_cast<Bytef *>(pDest), &uDestLen, static_cast<const Bytef *>(pSrc), dwSrcLen,
                         Z_STREAM_ERROR) != Z_OK) {
        return -1;
    }
    return int(uDestLen);
}

struct ConvertTexts {
    const char *pNullOut;
    const char *pNewIn;
    const char *pNewOut;
    const char *pTooLong;
};

// Morva_A2UTF8 and Morva_UTF82A: convert through a terminated copy into a scratch buffer so the
// caller's output changes only when the whole result fits.
int ConvertText(const char *pInput, DWORD dwInputLen, char *pOutput, DWORD dwOutSize, DWORD *pOutLen, DWORD dwFrom,
                DWORD dwTo, const ConvertTexts &texts) {
    if (pInput == nullptr || dwInputLen == 0) {
        if (pOutLen) *pOutLen = 0;
        return 1;
    }
    if (pOutput == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", texts.pNullOut);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    char *pIn = static_cast<char *>(NewArray(size_t(dwInputLen) + 1));
    if (pIn == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pNewIn, dwInputLen);
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    std::memcpy(pIn, pInput, dwInputLen);
    pIn[dwInputLen] = '\0';
    const size_t uLen = std::strlen(pIn);
    if (uLen == 0) {
        DelArray(pIn);
        if (pOutLen) *pOutLen = 0;
        return 1;
    }
    const DWORD dwBufLen = DWORD(uLen * 4 + 1);
    char *pOut = static_cast<char *>(NewArray(dwBufLen));
    if (pOut == nullptr) {
        LogModule_Write(LOG_LEVEL_ERR, texts.pNewOut, dwBufLen);
        SetError(MORVA_ERR_ALLOC);
        DelArray(pIn);
        return 0;
    }
    std::memset(pOut, 0, dwBufLen);
    int iResult = 0;
    if (!Morva_CharEncodeConvert(pIn, DWORD(uLen), dwFrom, pOut, dwBufLen, dwTo)) {
        LogModule_Write(LOG_LEVEL_ERR, "%s", dwTo == CHAR_ENCODE_UTF8 ? "Morva_A2UTF8, Morva_CharEncodeConvert Failed"
                                                                      : "Morva_UTF82A, Morva_CharEncodeConvert Failed");
        SetError(MORVA_ERR_PARAM);
    } else {
        const DWORD dwOutputLen = DWORD(std::strlen(pOut));
        if (dwOutputLen > dwOutSize) {
            LogModule_Write(LOG_LEVEL_ERR, texts.pTooLong, dwOutputLen, dwOutSize);
            SetError(MORVA_ERR_BUFFER_SMALL);
        } else {
            std::memset(pOutput, 0, dwOutSize);
            std::memcpy(pOutput, pOut, dwOutputLen);
            if (pOutLen) *pOutLen = dwOutputLen;
            iResult = 1;
        }
    }
    DelArray(pOut);
    DelArray(pIn);
    return iResult;
}

// Writes the text without its CR LF pairs, '+' as "%2B" when asked.
int EliminateLineBreak(const char *pInput, int iLen, char *pOutput, bool bEscapePlus) {
    if (pInput == nullptr || pOutput == nullptr || iLen < 0) {
        return -1;
    }
    int iOut = 0;
    for (int i = 0; i < iLen; ++i) {
        if (pInput[i] == '\r' && i + 1 < iLen && pInput[i + 1] == '\n') {
            ++i;
        } else if (bEscapePlus && pInput[i] == '+') {
            std::memcpy(pOutput + iOut, "%2B", 3);
            iOut += 3;
        } else {
            pOutput[iOut++] = pInput[i];
        }
    }
    pOutput[iOut] = '\0';
    return iOut;
}

}  // namespace
}  // namespace Vorezi

using namespace Vorezi;

// ---- Compression ----

int Morva_Compress(const void *pSrc, DWORD dwSrcLen, void *pDest, DWORD dwDestSize) {
    return ZlibInMemory(&CZlibAPI::Compress, "Morva_Compress, GetZlibAPI Failed", __LINE__, pSrc, dwSrcLen, pDest,
                        dwDestSize);
}

int Morva_UnCompress(const void *pSrc, DWORD dwSrcLen, void *pDest, DWORD dwDestSize) {
    return ZlibInMemory(&CZlibAPI::UnCompress, "Morva_UnCompress, GetZlibAPI Failed", __LINE__, pSrc, dwSrcLen, pDest,
                        dwDestSize);
}

int Morva_GzipCompress(const void *pSrc, int iSrcLen, void *pDest, int iDestSize) {
    if (!CheckInit() || ZlibFor("Morva_Compress, GetZlibAPI Failed", __LINE__) == nullptr) return -1;
    const int iLen = CompressGzip(pSrc, iSrcLen, pDest, iDestSize);
    return iLen < 0 ? -1 : iLen;
}

int Morva_GzipUnCompress(const void *pSrc, int iSrcLen, void *pDest, int iDestSize) {
    if (!CheckInit() || ZlibFor("Morva_UnCompress, GetZlibAPI Failed", __LINE__) == nullptr) return -1;
    const int iLen = UnCompressGzip(pSrc, iSrcLen, pDest, iDestSize);
    return iLen < 0 ? -1 : iLen;
}

int Morva_CRC32(DWORD dwCrc, const BYTE *pBuf, DWORD dwLen, DWORD *pResult) {
    return Interim_CRC32(dwCrc, pBuf, dwLen, pResult);
}

// ---- Character sets ----

int Morva_CharEncodeConvert(const char *pInput, DWORD dwInputLen, DWORD dwInEncodeType, char *pOutput,
                            DWORD dwOutputSize, DWORD dwOutEncodeType) {
    return CharEncodeFromIntToChar(pInput, dwInputLen, dwInEncodeType, pOutput, dwOutputSize, dwOutEncodeType);
}

int Morva_A2UTF8(const char *pInput, DWORD dwInputLen, char *pOutput, DWORD dwOutSize, DWORD *pOutLen) {
    static const ConvertTexts kTexts = {"Morva_A2UTF8, pOut == NULL", "Morva_A2UTF8, NewArray pInEnlarge Failed, dwInSize[%d]",
                                        "Morva_A2UTF8, new pOutputStr Failed, dwOutBufLen[%d]",
                                        "Morva_A2UTF8, dwOutputLen[%d] > dwOutSize[%d]"};
    return ConvertText(pInput, dwInputLen, pOutput, dwOutSize, pOutLen, CHAR_ENCODE_GB18030, CHAR_ENCODE_UTF8, kTexts);
}

int Morva_UTF82A(const char *pInput, DWORD dwInputLen, char *pOutput, DWORD dwOutSize, DWORD *pOutLen) {
    static const ConvertTexts kTexts = {"Morva_UTF82A, pOut == NULL", "Morva_UTF82A, New pInEnlarge Failed, dwInSize[%d]",
                                        "Morva_UTF82A, new pOutputStr Failed, dwOutBufLen[%d]",
                                        "Morva_UTF82A, dwOutputLen[%d] > dwOutSize[%d]"};
    return ConvertText(pInput, dwInputLen, pOutput, dwOutSize, pOutLen, CHAR_ENCODE_UTF8, CHAR_ENCODE_GB18030, kTexts);
}

int Morva_StrCmpUTF8(const char *pUtf8, const char *pLocal) {
    if (pUtf8 == nullptr || pLocal == nullptr) return -1;
    const size_t uLen = std::strlen(pLocal);
    // Twice the length as the conversion buffer, plus the terminator the comparison needs.
    const DWORD dwSize = DWORD(uLen * 2 + 1);
    char *pConverted = static_cast<char *>(NewArray(dwSize));
    if (pConverted == nullptr) return -1;
    std::memset(pConverted, 0, dwSize);
    int iResult = -1;
    if (uLen == 0 || CharEncodeFromIntToChar(pLocal, DWORD(uLen), CHAR_ENCODE_GB18030, pConverted, dwSize - 1,
                                             CHAR_ENCODE_UTF8)) {
        iResult = std::strcmp(pUtf8, pConverted);
    }
    DelArray(pConverted);
    return iResult;
}

// ---- Base64 and hexadecimal texts ----

int Morva_Base64Encode(const BYTE *pInput, int iInputLen, char *pOutput, int iOutputSize) {
    return Base64Encode(pInput, iInputLen, pOutput, iOutputSize);
}

int Morva_Base64Decode(const char *pInput, int iInputLen, BYTE *pOutput, int iOutputSize) {
    return Base64Decode(pInput, iInputLen, pOutput, iOutputSize);
}

int Morva_DecodeBase64(const char *pInput, BYTE *pOutput, int iInputLen, int iOutputSize) {
    return Base64Decode(pInput, iInputLen, pOutput, iOutputSize);
}

int Morva_HexEncode(const BYTE *pData, int iLen, int bUpperCase, char *pOutput) {
    if (pData == nullptr || pOutput == nullptr || iLen < 0) return 0;
    const char *pDigits = bUpperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    for (int i = 0; i < iLen; ++i) {
        pOutput[2 * i] = pDigits[pData[i] >> 4];
        pOutput[2 * i + 1] = pDigits[pData[i] & 0x0f];
    }
    pOutput[2 * iLen] = '\0';
    return 1;
}

void Morva_ByteArrayToHexString(const BYTE *pSrc, int iSrcLen, char *pDst, int iDstLen) {
    ByteArrayToHexString(pSrc, iSrcLen, pDst, iDstLen);
}

int Morva_HexStringToByteArray(const char *pHex, int iHexLen, BYTE *pOut, int iOutSize) {
    return HexStringToByteArray(pHex, iHexLen, pOut, iOutSize);
}

int Morva_EliminateLineBreak(const char *pInput, int iLen, char *pOutput) {
    return EliminateLineBreak(pInput, iLen, pOutput, false);
}

int Morva_EliminateLineBreakEx(const char *pInput, int iLen, char *pOutput) {
    return EliminateLineBreak(pInput, iLen, pOutput, true);
}

int Morva_ReplaceSlash(char *pPath, int iSize, int bAddSlash) { return Utils_FormatDirEnd(pPath, iSize, bAddSlash); }

int Morva_GetSubString(const char *pSrc, int iSrcLen, const char *pBegin, const char *pEnd, char *pOut, int iOutSize) {
    return GetSubString(pSrc, iSrcLen, pBegin, pEnd, pOut, iOutSize);
}

void Morva_GenerateRandom(char *pOut, int iLen) { GenerateRandomHex(pOut, iLen); }
void Morva_GenRandomString32(char *pOut) { GenerateRandomHex32(pOut); }
void Morva_GenRandomString16(char *pOut) { GenerateRandomHex16(pOut); }
int Morva_Rand(int bReseed) { return Utils_Random(bReseed); }

// ---- Address texts ----

int Morva_DomainParse(const char *pName, char *pOut, int iOutSize) {
    return CheckInit() ? Utils_DomainParse(pName, pOut, iOutSize) : 0;
}

int Morva_IntToIPv4Str(DWORD dwAddr, char *pText) {
    if (!CheckInit()) return 0;
    if (pText == nullptr) {
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    Utils_IntToIPv4Str(dwAddr, pText);
    return 1;
}

int Morva_IPv6AddrToStr(const BYTE *pAddr6, char *pText) {
    return CheckInit() ? Utils_IPv6ToStr(pAddr6, pText) : -1;
}

int Morva_IsDomainName(const char *pText) { return CheckInit() ? Utils_IsDomain(pText) : 0; }
int Morva_IsIPv6Str(const char *pText) { return CheckInit() ? Utils_IsIPv6(pText) : 0; }
int Morva_CheckIPv4(const char *pText) { return Utils_CheckIPAddr(pText); }
DWORD Morva_IsValidIPv4(const char *pText) { return Utils_IsValidIPv4(pText); }

int Morva_MakeAddrByString(int iFamily, const char *pText, WORD wPort, YAR_ADDR_T *pAddr) {
    if (!CheckInit()) return -1;
    if (pAddr == nullptr || (iFamily != YAR_AF_INET && iFamily != YAR_AF_INET6)) {
        SetError(MORVA_ERR_PARAM);
        return -1;
    }
    const int iResult = Utils_MakeAddr(iFamily, pText, wPort, pAddr);
    if (iResult != 0) SetError(MORVA_ERR_PARAM);
    return iResult;
}

int Morva_StrToIPv6Addr(const char *pText, BYTE *pAddr6) {
    return CheckInit() ? Utils_StrToIPv6Addr(pText, pAddr6) : -1;
}
