// Helpers of the log-service tests: a fixed clock, a scratch directory, file reading.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Module/Log/LogClock.h"

namespace logtest {

// 5 March 2024, 14:07:09.042 local time; every call may advance by a set step of milliseconds.
inline std::atomic<int> g_iClockStepMs{0};
inline std::atomic<long long> g_llClockMs{0};

inline bool FixedClock(Vorezi::LogTime *pTime) {
    long long ms = 42 + g_llClockMs.fetch_add(g_iClockStepMs.load());
    long long sec = 9 + ms / 1000;
    *pTime = Vorezi::LogTime{2024, 3, 5, 14, 7 + (int)(sec / 60), (int)(sec % 60), (int)(ms % 1000)};
    return true;
}

inline bool BrokenClock(Vorezi::LogTime *) {
    return false;
}

inline void UseFixedClock(int iStepMs = 0) {
    g_llClockMs = 0;
    g_iClockStepMs = iStepMs;
    Vorezi::LogClock_Set(FixedClock);
}

class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "/tmp/morva_log_XXXXXX";
        m_path = mkdtemp(tmpl);
        m_path += "/";
    }
    ~ScratchDir() { Run("rm -rf '" + m_path + "'"); }
    const std::string &Path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + name; }

    std::vector<std::string> List() const {
        std::vector<std::string> names;
        if (DIR *d = opendir(m_path.c_str())) {
            while (dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..")
                    names.push_back(n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static int Run(const std::string &cmd) { return system(cmd.c_str()); }

private:
    std::string m_path;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary) << data;
}

inline bool EndsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace logtest
