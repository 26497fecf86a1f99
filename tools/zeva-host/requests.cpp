#include "requests.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "zeva/ZevaSdk.h"

namespace zevahost {

const char *const kRequestUsage =
    "Request commands (after the options; the SDK starts, waits up to --seconds (10) until the\n"
    "device is listed, sends the request, prints \"result R error E\" and what came back, stops):\n"
    "  activate SERIAL PASSWORD\n"
    "  reset SERIAL TYPE NEWPASSWORD [SECRET]   TYPE 2 code, 3 auth file, 4 GUID text,\n"
    "                                           5 \"ID:answer,ID:answer,ID:answer\", 6 mail code\n"
    "  netparam MAC PASSWORD IPV4 MASK GATEWAY [CMDPORT [HTTPPORT]]\n"
    "  get SERIAL COMMAND OUTSIZE [INFILE]      the record comes back as hexadecimal text\n"
    "  set SERIAL COMMAND INFILE OUTSIZE        INFILE holds the command's input record\n"
    "  wifi MAC SSID PASSWORD [check]\n";

namespace {

const struct {
    const char *name;
    size_t minWords, maxWords;
} kCommands[] = {{"activate", 3, 3}, {"reset", 4, 5}, {"netparam", 6, 8}, {"get", 4, 5}, {"set", 5, 5},
                 {"wifi", 4, 5}};

template <typename Fn>
Fn Export(void *lib, const char *name) {
    return reinterpret_cast<Fn>(dlsym(lib, name));
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const uint8_t *p, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", p[i]);
        out += two;
    }
    return out;
}

void Copy(char *field, size_t width, const std::string &text) { std::strncpy(field, text.c_str(), width - 1); }

// "1:blue,2:seven,3:river" into the first three entries.
void Answers(ZEVA_SECURITY_QUESTION_CFG &cfg, const std::string &text) {
    std::stringstream in(text);
    std::string item;
    for (int n = 0; n < 32 && std::getline(in, item, ','); ++n) {
        size_t colon = item.find(':');
        cfg.struQuestion[n].dwID = uint32_t(std::strtoul(item.c_str(), nullptr, 10));
        cfg.struQuestion[n].byMark = 1;
        Copy(cfg.struQuestion[n].szAnswer, sizeof cfg.struQuestion[n].szAnswer,
             colon == std::string::npos ? "" : item.substr(colon + 1));
    }
}

int Reset(void *lib, const std::vector<std::string> &w, uint8_t *ret) {
    std::unique_ptr<ZEVA_RESET_PARAM> p(new ZEVA_RESET_PARAM());
    p->dwSize = sizeof *p;
    p->byResetType = uint8_t(std::atoi(w[2].c_str()));
    Copy(p->szPassword, 17, w[3]);
    std::string secret = w.size() > 4 ? w[4] : "";
    switch (p->byResetType) {
    case 3: Copy(p->szAuthFile, sizeof p->szAuthFile, secret); break;
    case 4: Copy(p->szGUID, sizeof p->szGUID, secret); break;
    case 5: Answers(p->struSecurityQuestion, secret); break;
    default: Copy(p->szCode, sizeof p->szCode, secret); break;
    }
    auto fn = Export<decltype(&ZEVA_ResetPasswd_V50)>(lib, "ZEVA_ResetPasswd_V50");
    return fn(const_cast<char *>(w[1].c_str()), p.get(), ret);
}

int NetParam(void *lib, const std::vector<std::string> &w, uint8_t *ret) {
    ZEVA_NET_PARAM net{};
    Copy(net.szIPv4Address, sizeof net.szIPv4Address, w[3]);
    Copy(net.szIPv4SubNetMask, sizeof net.szIPv4SubNetMask, w[4]);
    Copy(net.szIPv4Gateway, sizeof net.szIPv4Gateway, w[5]);
    net.wCmdPort = uint16_t(w.size() > 6 ? std::atoi(w[6].c_str()) : 8000);
    net.wHttpPort = uint16_t(w.size() > 7 ? std::atoi(w[7].c_str()) : 0);
    auto fn = Export<decltype(&ZEVA_ModifyDeviceNetParam_V40)>(lib, "ZEVA_ModifyDeviceNetParam_V40");
    return fn(const_cast<char *>(w[1].c_str()), const_cast<char *>(w[2].c_str()), &net, ret, 128);
}

}  // namespace

bool IsRequestCommand(const std::vector<std::string> &words, std::string &error) {
    if (words.empty())
        return false;
    for (const auto &c : kCommands)
        if (words[0] == c.name) {
            if (words.size() < c.minWords || words.size() > c.maxWords)
                error = "wrong number of words for " + words[0];
            return true;
        }
    error = "unknown command " + words[0];
    return true;
}

bool TargetIsMac(const std::vector<std::string> &words) { return words[0] == "netparam" || words[0] == "wifi"; }

std::string RequestTarget(const std::vector<std::string> &words) { return words[1]; }

int RunRequest(void *lib, const std::vector<std::string> &w) {
    auto lastError = Export<decltype(&ZEVA_GetLastError)>(lib, "ZEVA_GetLastError");
    std::vector<uint8_t> out(20000);
    size_t shown = 2;  // bytes of the output printed: the result word, or the get record
    char *target = const_cast<char *>(w[1].c_str());
    int r = 0;
    if (w[0] == "activate") {
        r = Export<decltype(&ZEVA_ActivateDevice)>(lib, "ZEVA_ActivateDevice")(target, const_cast<char *>(w[2].c_str()));
        shown = 0;
    } else if (w[0] == "reset") {
        r = Reset(lib, w, out.data());
    } else if (w[0] == "netparam") {
        r = NetParam(lib, w, out.data());
    } else if (w[0] == "get") {
        std::string in = w.size() > 4 ? ReadAll(w[4]) : "";
        shown = std::min<size_t>(std::strtoul(w[3].c_str(), nullptr, 10), out.size());
        r = Export<decltype(&ZEVA_GetDeviceConfig)>(lib, "ZEVA_GetDeviceConfig")(
            target, DWORD(std::strtoul(w[2].c_str(), nullptr, 10)), in.empty() ? nullptr : &in[0], DWORD(in.size()),
            shown ? out.data() : nullptr, DWORD(shown));
    } else if (w[0] == "set") {
        std::string in = ReadAll(w[3]);
        shown = std::min<size_t>(std::strtoul(w[4].c_str(), nullptr, 10), out.size());
        r = Export<decltype(&ZEVA_SetDeviceConfig)>(lib, "ZEVA_SetDeviceConfig")(
            target, DWORD(std::strtoul(w[2].c_str(), nullptr, 10)), in.empty() ? nullptr : &in[0], DWORD(in.size()),
            shown ? out.data() : nullptr, DWORD(shown));
        shown = std::min<size_t>(shown, 2);
    } else if (w[0] == "wifi") {
        bool check = w.size() > 4 && w[4] == "check";
        auto fn = Export<decltype(&ZEVA_WifiParamCfg)>(lib, check ? "ZEVA_WifiParamCheck" : "ZEVA_WifiParamCfg");
        r = fn(target, const_cast<char *>(w[2].c_str()), const_cast<char *>(w[3].c_str()));
        shown = 0;
    }
    std::printf("result %d error %u%s%s\n", r, lastError(), shown ? " data " : "", Hex(out.data(), shown).c_str());
    std::fflush(stdout);
    return r;
}

}  // namespace zevahost
