// The check that a program works inside a test network namespace (one made by NetnsLab or by
// tests/netns/netns-run.sh), without GoogleTest, so that test tools can refuse to send otherwise.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zeva::test {

constexpr const char *kNetnsDir = "/run/netns";
constexpr const char *kNetnsPrefix = "zt";

struct CmdResult {
    int status = -1;  // exit status, -1 when it did not run
    std::string out;  // stdout and stderr
};

// Runs a shell command in the calling thread's namespace.
inline CmdResult Sh(const std::string &cmd) {
    CmdResult r;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

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
