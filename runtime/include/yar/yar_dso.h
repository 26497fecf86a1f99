/* Shared libraries loaded at run time: by path, or by bare file name (looked for first in the
 * directory of the library that holds the runtime, then through the system's search), symbols by
 * name and unloading. */
#ifndef YAR_DSO_H
#define YAR_DSO_H

#include "yar_base.h"

YAR_BEGIN_DECLS

typedef void *YAR_DSO_HANDLE;

#ifndef YAR_INVALID_HANDLE
#define YAR_INVALID_HANDLE ((void *)0)
#endif

enum { YAR_DSO_MAX_PATH = 260 };

/* Null for a null path or one of 260 characters or more. Backslashes are read as '/'. On failure
 * the system error is 126 (87 for a bad path) and YAR_GetDsoError has the loader's text. */
YAR_DSO_HANDLE YAR_LoadDSo(const char *pPath);
/* -1 for null or when the system refuses; else 0. */
int32_t YAR_UnloadDSo(YAR_DSO_HANDLE hDso);
/* Null for a null argument or a missing symbol (system error 127). */
void *YAR_GetDsoSym(YAR_DSO_HANDLE hDso, const char *pName);
/* The calling thread's text of its last failed load or lookup; "" when there was none. */
const char *YAR_GetDsoError(void);
/* Full path of the file the library was loaded from; -1 for null arguments or a short buffer. */
int32_t YAR_GetDsoPath(YAR_DSO_HANDLE hDso, char *pBuf, int32_t iLen);

YAR_END_DECLS

#ifdef __cplusplus
namespace yar {

/* Owns one library handle. Copies and assignments take nothing from the source: each object
 * unloads only the handle it was built with. */
class yar_dso {
public:
    yar_dso() = default;
    /* Keeps the first white-space-separated token of a path shorter than 260 characters. */
    explicit yar_dso(const char *pPath);
    explicit yar_dso(YAR_DSO_HANDLE hDso) : m_hDso(hDso) {}
    yar_dso(const yar_dso &) {}
    /* Normalises this object's own path; handle and path stay. */
    yar_dso &operator=(const yar_dso &other);
    virtual ~yar_dso();

    YAR_DSO_HANDLE GetHandle() const { return m_hDso; }
    const char *GetPath() const { return m_szPath; }
    int32_t Unload();
    void *GetSym(const char *pName) const;
    /* Keeps the path's first white-space-separated token, with '\' read as '/'. 0. */
    int32_t NormalizePath();

private:
    YAR_DSO_HANDLE m_hDso = nullptr;
    char m_szPath[YAR_DSO_MAX_PATH] = {};
};

}  // namespace yar
#endif

#endif
