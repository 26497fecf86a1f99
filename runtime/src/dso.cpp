// Shared libraries loaded at run time.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "internal/module_path.h"
#include "yar/yar_dso.h"
#include "yar/yar_error.h"

namespace {

thread_local char t_dsoError[512];

void SetDsoError(const char *text, int syserr) {
    std::snprintf(t_dsoError, sizeof t_dsoError, "%s", text ? text : "unknown loader error");
    YAR_SetSystemLastError(syserr);
}

// Callers write paths with either separator; Linux knows only '/'.
void ToSlashes(std::string *path) {
    std::replace(path->begin(), path->end(), '\\', '/');
}

// The directory of the library holding the runtime, searched first for bare names, as the
// system searches the application's own directory first.
const std::string &OwnDirectory() {
    static const std::string dir = [] {
        std::string path;
        return yar::internal::ModulePathOf(nullptr, &path) ? yar::internal::DirectoryOf(path)
                                                           : std::string();
    }();
    return dir;
}

void *OpenByName(const std::string &name) {
    std::string firstError;
    const std::string besideUs = OwnDirectory() + name;
    if (!OwnDirectory().empty() && access(besideUs.c_str(), F_OK) == 0) {
        if (void *handle = dlopen(besideUs.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        // A file that is there but cannot load is the more useful report.
        firstError = dlerror();
    }
    if (void *handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
        return handle;
    const char *error = dlerror();
    SetDsoError(firstError.empty() ? error : firstError.c_str(), YAR_SYSERR_MOD_NOT_FOUND);
    return nullptr;
}

size_t FirstTokenLength(const char *text) {
    size_t len = 0;
    while (text[len] && !std::isspace(static_cast<unsigned char>(text[len])))
        ++len;
    return len;
}

}  // namespace

extern "C" {

YAR_DSO_HANDLE YAR_LoadDSo(const char *pPath) {
    if (!pPath || strnlen(pPath, YAR_DSO_MAX_PATH) >= YAR_DSO_MAX_PATH || !*pPath) {
        SetDsoError("invalid library path", YAR_SYSERR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path(pPath);
    ToSlashes(&path);
    if (path.find('/') == std::string::npos)
        return OpenByName(path);
    // A path names exactly one file; its own dependencies come through its RUNPATH and the
    // system's search.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        SetDsoError(dlerror(), YAR_SYSERR_MOD_NOT_FOUND);
    return handle;
}

int32_t YAR_UnloadDSo(YAR_DSO_HANDLE hDso) {
    if (!hDso)
        return -1;
    if (dlclose(hDso) != 0) {
        SetDsoError(dlerror(), YAR_SYSERR_INVALID_PARAMETER);
        return -1;
    }
    return 0;
}

void *YAR_GetDsoSym(YAR_DSO_HANDLE hDso, const char *pName) {
    if (!hDso || !pName)
        return nullptr;
    dlerror();
    void *sym = dlsym(hDso, pName);
    if (!sym)
        SetDsoError(dlerror(), YAR_SYSERR_PROC_NOT_FOUND);
    return sym;
}

const char *YAR_GetDsoError(void) {
    return t_dsoError;
}

int32_t YAR_GetDsoPath(YAR_DSO_HANDLE hDso, char *pBuf, int32_t iLen) {
    link_map *map = nullptr;
    if (!hDso || dlinfo(hDso, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return -1;
    std::string path;
    if (!map->l_name || !*map->l_name) {
        // The main program's entry has no name.
        if (!yar::internal::ExecutablePath(&path))
            return -1;
    } else {
        path = map->l_name;
    }
    return yar::internal::CopyOut(path, pBuf, iLen) ? 0 : -1;
}

}  // extern "C"

namespace yar {

yar_dso::yar_dso(const char *pPath) {
    if (pPath && strnlen(pPath, YAR_DSO_MAX_PATH) < YAR_DSO_MAX_PATH)
        std::memcpy(m_szPath, pPath, FirstTokenLength(pPath));
}

yar_dso &yar_dso::operator=(const yar_dso &other) {
    if (this != &other)
        NormalizePath();
    return *this;
}

yar_dso::~yar_dso() {
    Unload();
}

int32_t yar_dso::Unload() {
    if (m_hDso) {
        YAR_UnloadDSo(m_hDso);
        m_hDso = nullptr;
    }
    return 0;
}

void *yar_dso::GetSym(const char *pName) const {
    return YAR_GetDsoSym(m_hDso, pName);
}

int32_t yar_dso::NormalizePath() {
    size_t len = FirstTokenLength(m_szPath);
    std::memset(m_szPath + len, 0, sizeof m_szPath - len);
    std::replace(m_szPath, m_szPath + len, '\\', '/');
    return 0;
}

}  // namespace yar
