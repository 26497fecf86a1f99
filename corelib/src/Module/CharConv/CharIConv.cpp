#include "Module/CharConv/CharIConv.h"

#include <cerrno>
#include <cstdio>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "Utils/DependLibLoader.h"
#include "Module/Log/LogModule.h"
#include "yar/yar_dso.h"
#include "yar/yar_error.h"

namespace Vorezi {

std::atomic<DWORD> CCharIConv::m_bLoad{0};
void *CCharIConv::m_hLib = nullptr;
std::atomic<CCharIConv::FnOpen> CCharIConv::m_fnOpen{nullptr};
std::atomic<CCharIConv::FnConvert> CCharIConv::m_fnConvert{nullptr};
std::atomic<CCharIConv::FnClose> CCharIConv::m_fnClose{nullptr};

namespace {

const void *const kNoDescriptor = reinterpret_cast<void *>(-1);

// GNU libiconv exports prefixed names; glibc, which Debian ships in its place, the plain ones.
// A set is taken only as a whole so that functions of two libraries never mix.
const char *const kNameSets[][3] = {
    {"libiconv_open", "libiconv", "libiconv_close"},
    {"iconv_open", "iconv", "iconv_close"},
};

const char *const kFixedNames[] = {"GB18030", "GBK", "BIG5", "SHIFT_JIS", "EUC-KR", "UTF-8"};

}  // namespace

int CharEncodeIntToName(DWORD dwEncodeType, char *pEncode) {
    if (!pEncode)
        return 0;
    if (dwEncodeType >= CHAR_ENCODE_GB18030 && dwEncodeType <= CHAR_ENCODE_UTF8) {
        std::snprintf(pEncode, CHAR_ENCODE_NAME_LEN, "%s", kFixedNames[dwEncodeType - 1]);
        return 1;
    }
    if (dwEncodeType >= CHAR_ENCODE_ISO_8859_1 && dwEncodeType <= CHAR_ENCODE_ISO_8859_15) {
        std::snprintf(pEncode, CHAR_ENCODE_NAME_LEN, "%s-%d", "ISO-8859", (int)dwEncodeType - 6);
        return 1;
    }
    LogModule_Write(LOG_LEVEL_ERR, "CharEncodeFromIntToChar, Invalid pEncode[0x%X]", MORVA_PTR_ARG(pEncode));
    return 0;
}

static int FailConversion(const char *pWhat, DWORD dwIn, DWORD dwOut, int iError) {
    LogModule_Write(LOG_LEVEL_ERR, "CharEncodeFromIntToChar, %s, dwInEncodeType[%d], dwOutEncodeType[%d]", pWhat,
                    (int)dwIn, (int)dwOut);
    SetError(iError);
    return 0;
}

int CharEncodeFromIntToChar(const char *pInput, DWORD dwInputLen, DWORD dwInEncodeType, char *pOutput,
                            DWORD dwOutputSize, DWORD dwOutEncodeType) {
    if (dwInputLen == 0)
        return 1;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (CHAR_CONVERT_CALLBACK fnConvert = pCtrl->GetCharConvertCallBack()) {
        int iRet = fnConvert(pInput, dwInputLen, dwInEncodeType, pOutput, dwOutputSize, dwOutEncodeType);
        if (iRet >= 0)
            return 1;
        LogModule_Write(LOG_LEVEL_ERR,
                        "CharEncodeFromIntToChar, fnConvertFun Failed, iRet[%d], pInput[0x%X], dwInputLen[%d], "
                        "dwInEncodeType[%d]",
                        iRet, MORVA_PTR_ARG(pInput), (int)dwInputLen, (int)dwInEncodeType);
        SetError(MORVA_ERR_PARAM);
        return 0;
    }

    CCharIConv conv;
    char szIn[CHAR_ENCODE_NAME_LEN];
    char szOut[CHAR_ENCODE_NAME_LEN];
    if (!CharEncodeIntToName(dwInEncodeType, szIn) || !CharEncodeIntToName(dwOutEncodeType, szOut))
        return FailConversion("CharEncodeFromIntToChar Failed", dwInEncodeType, dwOutEncodeType,
                              MORVA_ERR_CHAR_ENCODE);
    if (!CCharIConv::LoadLib())
        return FailConversion("LoadLib Failed", dwInEncodeType, dwOutEncodeType, MORVA_ERR_ALLOC);
    if (!conv.Open(szOut, szIn))
        return FailConversion("Open Failed", dwInEncodeType, dwOutEncodeType, MORVA_ERR_ALLOC);

    char *pIn = const_cast<char *>(pInput);
    size_t inLeft = dwInputLen;
    char *pOut = pOutput;
    size_t outLeft = dwOutputSize;
    errno = 0;
    size_t ret = conv.Convert(&pIn, &inLeft, &pOut, &outLeft);
    int iErrno = errno;
    conv.Close();
    if (ret == (size_t)-1) {
        // Input that is not valid in its encoding is the caller's text, not a resource failure.
        int iError = iErrno == EILSEQ ? MORVA_ERR_CHAR_ENCODE : MORVA_ERR_ALLOC;
        return FailConversion("Convert Failed", dwInEncodeType, dwOutEncodeType, iError);
    }
    return 1;
}

int CCharIConv::LoadLib() {
    if (m_bLoad.load(std::memory_order_acquire))
        return 1;
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->LibiconvLibLock()) {
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (m_bLoad.load(std::memory_order_acquire)) {
        pCtrl->LibiconvLibUnlock();
        LogModule_Write(LOG_LEVEL_DBG, "CCharIConv::LoadLib, m_bLoad is True");
        return 1;
    }
    if (m_hLib) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::LoadLib, m_hLib[%d] != YAR_INVALID_HANDLE",
                        (int)MORVA_PTR_ARG(m_hLib));
        pCtrl->LibiconvLibUnlock();
        return 0;
    }
    void *hLib = pCtrl->LoadDSo(BASE_DLL_ICONV);
    if (!hLib) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::LoadLib, LoadDSo Failed, syserror[%d]", YAR_GetSystemLastError());
        SetError(MORVA_ERR_LOAD_ICONV);
        pCtrl->LibiconvLibUnlock();
        return 0;
    }

    // Resolve everything before publishing: readers use the pointers without the mutex as soon
    // as m_bLoad is set, so a partial binding must never become visible.
    FnOpen fnOpen = nullptr;
    FnConvert fnConvert = nullptr;
    FnClose fnClose = nullptr;
    for (const auto &names : kNameSets) {
        fnOpen = reinterpret_cast<FnOpen>(YAR_GetDsoSym(hLib, names[0]));
        fnConvert = reinterpret_cast<FnConvert>(YAR_GetDsoSym(hLib, names[1]));
        fnClose = reinterpret_cast<FnClose>(YAR_GetDsoSym(hLib, names[2]));
        if (fnOpen && fnConvert && fnClose)
            break;
    }
    if (!fnOpen || !fnConvert || !fnClose) {
        SetError(MORVA_ERR_LOAD_ICONV);
        YAR_UnloadDSo(hLib);
        pCtrl->LibiconvLibUnlock();
        return 0;
    }
    m_hLib = hLib;
    m_fnOpen.store(fnOpen, std::memory_order_relaxed);
    m_fnConvert.store(fnConvert, std::memory_order_relaxed);
    m_fnClose.store(fnClose, std::memory_order_relaxed);
    m_bLoad.store(1, std::memory_order_release);
    pCtrl->LibiconvLibUnlock();
    return 1;
}

int CCharIConv::UnloadLib() {
    CCoreGlobalCtrlBase *pCtrl = GetCoreGlobalCtrl();
    if (!pCtrl->LibiconvLibLock()) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::UnloadLib, LibiconvLibLock Failed");
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    if (!m_bLoad.load(std::memory_order_acquire)) {
        pCtrl->LibiconvLibUnlock();
        LogModule_Write(LOG_LEVEL_INF, "CCharIConv::UnloadLib, m_bLoad is False");
        return 1;
    }
    if (YAR_UnloadDSo(m_hLib) != 0) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::UnloadLib, YAR_UnloadDSo Failed, m_hLib[%d], syserror[%d]",
                        (int)MORVA_PTR_ARG(m_hLib), YAR_GetSystemLastError());
        pCtrl->LibiconvLibUnlock();
        SetError(MORVA_ERR_ALLOC);
        return 0;
    }
    m_bLoad.store(0, std::memory_order_release);
    m_hLib = nullptr;
    m_fnOpen.store(nullptr);
    m_fnConvert.store(nullptr);
    m_fnClose.store(nullptr);
    pCtrl->LibiconvLibUnlock();
    return 1;
}

CCharIConv::~CCharIConv() {
    Close();
}

int CCharIConv::Open(const char *pToCode, const char *pFromCode) {
    FnOpen fnOpen = m_bLoad.load(std::memory_order_acquire) ? m_fnOpen.load(std::memory_order_relaxed) : nullptr;
    if (!fnOpen) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::Open, fnOpen == NULL");
        return 0;
    }
    m_hIconv = fnOpen(pToCode, pFromCode);
    if (m_hIconv == kNoDescriptor) {
        LogModule_Write(LOG_LEVEL_ERR, "CCharIConv::Open, fnOpen Failed");
        return 0;
    }
    return 1;
}

size_t CCharIConv::Convert(char **ppInput, size_t *pInputLeft, char **ppOutput, size_t *pOutputLeft) {
    FnConvert fnConvert =
        m_bLoad.load(std::memory_order_acquire) ? m_fnConvert.load(std::memory_order_relaxed) : nullptr;
    if (!fnConvert || m_hIconv == kNoDescriptor)
        return (size_t)-1;
    return fnConvert(m_hIconv, ppInput, pInputLeft, ppOutput, pOutputLeft);
}

void CCharIConv::Close() {
    if (m_hIconv == kNoDescriptor)
        return;
    FnClose fnClose = m_bLoad.load(std::memory_order_acquire) ? m_fnClose.load(std::memory_order_relaxed) : nullptr;
    if (fnClose)
        fnClose(m_hIconv);
    m_hIconv = const_cast<void *>(kNoDescriptor);
}

}  // namespace Vorezi
