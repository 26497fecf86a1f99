// Character-set conversion between numbered encodings: an external converter when the host
// installed one, else iconv bound at run time from the dependent-library slot BASE_DLL_ICONV.
#pragma once

#include <atomic>
#include <cstddef>

#include "morva/MorvaTypes.h"

namespace Vorezi {

enum {
    CHAR_ENCODE_GB18030 = 1,
    CHAR_ENCODE_GBK = 2,
    CHAR_ENCODE_BIG5 = 3,
    CHAR_ENCODE_SHIFT_JIS = 4,
    CHAR_ENCODE_EUC_KR = 5,
    CHAR_ENCODE_UTF8 = 6,
    CHAR_ENCODE_ISO_8859_1 = 7,  // up to ISO-8859-15 as 21
    CHAR_ENCODE_ISO_8859_15 = 21,
};

constexpr int CHAR_ENCODE_NAME_LEN = 100;

// Host converter of local configuration item 13: the six arguments of CharEncodeFromIntToChar in
// the same order; a negative result is failure.
typedef int (*CHAR_CONVERT_CALLBACK)(const char *pInput, DWORD dwInputLen, DWORD dwInEncodeType, char *pOutput,
                                     DWORD dwOutputSize, DWORD dwOutEncodeType);

// 1 when converted (an empty input converts to nothing), else 0 with the core error code. The
// converted length is not returned.
int CharEncodeFromIntToChar(const char *pInput, DWORD dwInputLen, DWORD dwInEncodeType, char *pOutput,
                            DWORD dwOutputSize, DWORD dwOutEncodeType);
// Writes the encoding's name into a buffer of CHAR_ENCODE_NAME_LEN bytes; 0 for an unknown number.
int CharEncodeIntToName(DWORD dwEncodeType, char *pEncode);

// One conversion descriptor. The library and its three functions are shared by the process and
// stay bound once loaded.
class CCharIConv {
public:
    CCharIConv() = default;
    virtual ~CCharIConv();
    CCharIConv(const CCharIConv &) = delete;
    CCharIConv &operator=(const CCharIConv &) = delete;

    static int LoadLib();
    static int UnloadLib();
    static int IsLoaded() { return m_bLoad.load(std::memory_order_acquire) ? 1 : 0; }

    int Open(const char *pToCode, const char *pFromCode);
    // The convert function's result (-1 on failure), or -1 when it is not bound.
    size_t Convert(char **ppInput, size_t *pInputLeft, char **ppOutput, size_t *pOutputLeft);
    void Close();

private:
    typedef void *(*FnOpen)(const char *, const char *);
    typedef size_t (*FnConvert)(void *, char **, size_t *, char **, size_t *);
    typedef int (*FnClose)(void *);

    static std::atomic<DWORD> m_bLoad;
    static void *m_hLib;
    // Published before m_bLoad and read without the mutex once it is set.
    static std::atomic<FnOpen> m_fnOpen;
    static std::atomic<FnConvert> m_fnConvert;
    static std::atomic<FnClose> m_fnClose;

    void *m_hIconv = reinterpret_cast<void *>(-1);
};

}  // namespace Vorezi
