// Checks of request texts from outside: a shell command's output and one element's text.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sdk_test_util.h"

namespace sdktest {

inline std::string Shell(const std::string &cmd) {
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline std::string Element(const std::string &text, const std::string &name) {
    size_t open = text.find("<" + name);
    size_t start = text.find('>', open);
    size_t end = text.find("</" + name + ">", start);
    if (open == std::string::npos || end == std::string::npos)
        return "";
    return text.substr(start + 1, end - start - 1);
}

// Runs a request builder of obj into a buffer of size bytes; text receives what it built.
template <typename O, typename B, typename R>
bool BuildText(O &obj, B build, R req, uint32_t size, std::string &text) {
    std::vector<char> out(size);
    uint32_t len = 0;
    int ok = (obj.*build)(req, out.data(), size, &len);
    text.assign(out.data(), ok ? len : 0);
    return ok == 1 && std::strlen(out.data()) == len;
}

inline void PutFile(const std::string &path, const std::string &data) {
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
}

inline bool XmlWellFormed(const std::string &path, const std::string &xml) {
    PutFile(path, xml);
    return Shell("xmllint --noout " + path + " 2>&1 && echo OK") == "OK\n";
}

// Decodes through a scratch file at path.
inline std::string OpensslBase64Decode(const std::string &path, const std::string &b64) {
    PutFile(path, b64);
    return Shell("openssl base64 -d -A -in " + path);
}

// What a request-text fixture checks with: its scratch directory and the last text built.
struct ProbeTextChecks {
    bool XmlOk(const std::string &xml) { return XmlWellFormed(dir / "probe.xml", xml); }
    std::string Base64Decode(const std::string &b64) { return OpensslBase64Decode(dir / "b64", b64); }

    ScratchDir dir;
    std::string text;
};

}  // namespace sdktest
