// The check that a program works inside a test network namespace (one made by the tests' netns lab
// or by tests/netns/netns-run.sh), so that the tests and the tools refuse to send otherwise.
// Header-only and without GoogleTest; target zeva_netns_guard.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

namespace zeva::test {

constexpr const char *kNetnsDir = "/run/netns";
constexpr const char *kNetnsPrefix = "zt";

inline ino_t NetnsInode(const std::string &path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Whether the calling thread works in a namespace that a lab or netns-run.sh made.
inline bool InIsolatedNetns() {
    ino_t self = NetnsInode("/proc/thread-self/ns/net");
    if (self == 0 || self == NetnsInode("/proc/1/ns/net"))
        return false;
    DIR *dir = opendir(kNetnsDir);
    if (!dir)
        return false;
    bool found = false;
    while (dirent *e = readdir(dir))
        if (std::strncmp(e->d_name, kNetnsPrefix, std::strlen(kNetnsPrefix)) == 0 &&
            NetnsInode(std::string(kNetnsDir) + "/" + e->d_name) == self)
            found = true;
    closedir(dir);
    return found;
}

}  // namespace zeva::test
