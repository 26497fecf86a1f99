// Runs a shell command for a test and keeps what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace zeva::test {

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

}  // namespace zeva::test
