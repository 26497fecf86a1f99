// Module and executable paths.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "internal/module_path.h"
#include "internal/syserr.h"

namespace yar::internal {

bool ExecutablePath(std::string *path) {
    char buf[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", buf, sizeof buf);
    if (len < 0 || static_cast<size_t>(len) >= sizeof buf) {
        SetSystemErrorFromErrno(len < 0 ? errno : ENAMETOOLONG);
        return false;
    }
    path->assign(buf, static_cast<size_t>(len));
    return true;
}

bool ModulePathOf(const void *addr, std::string *path) {
    Dl_info info;
    if (!dladdr(addr ? addr : reinterpret_cast<const void *>(&ModulePathOf), &info) ||
        !info.dli_fname) {
        SetSystemErrorFromErrno(ENOENT);
        return false;
    }
    // The loader names the main program by the name it was started with, which may be relative
    // to another directory or carry no directory at all.
    Dl_info mainInfo;
    const void *mainHeaders = reinterpret_cast<const void *>(getauxval(AT_PHDR));
    if (dladdr(mainHeaders, &mainInfo) && mainInfo.dli_fbase == info.dli_fbase)
        return ExecutablePath(path);
    char resolved[PATH_MAX];
    if (!realpath(info.dli_fname, resolved)) {
        SetSystemErrorFromErrno(errno);
        return false;
    }
    path->assign(resolved);
    return true;
}

std::string DirectoryOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool CopyOut(const std::string &text, char *buf, int len) {
    if (!buf || len < 0 || text.size() >= static_cast<size_t>(len))
        return false;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace yar::internal
