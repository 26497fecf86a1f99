// Helpers of the SDK tests: scratch directories and files.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace sdktest {

class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "/tmp/zeva_sdk_XXXXXX";
        m_path = mkdtemp(tmpl);
        m_path += "/";
    }
    ~ScratchDir() { (void)!system(("rm -rf '" + m_path + "'").c_str()); }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &Path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + name; }

private:
    std::string m_path;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Bytes as lower-case hexadecimal text.
inline std::string Hex(const std::string &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

inline void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary) << data;
}

}  // namespace sdktest
