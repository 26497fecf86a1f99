#include "requests.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>

#include "records.h"
#include "zeva/ZevaSdk.h"

namespace zevahost {

const char *const kRequestUsage =
    "Request commands (after the options): the SDK starts, waits up to --wait seconds until the\n"
    "device is listed (else exit status 2), sends the request, prints the export's result, the\n"
    "last error with its name and meaning and what came back, and stops (exit status 0 when the\n"
    "request succeeded, 1 when not). An input file that cannot be read stops it before the start\n"
    "(exit status 2):\n"
    "  activate SERIAL PASSWORD\n"
    "  reset SERIAL TYPE NEWPASSWORD [SECRET]   TYPE 1 raw frame (no secret), 2 reset code,\n"
    "                                           3 auth file, 4 GUID text, 5 security answers\n"
    "                                           \"ID:answer,ID:answer,ID:answer\", 6 mail code,\n"
    "                                           7 phone code\n"
    "  netparam MAC PASSWORD IPV4 MASK GATEWAY [CMDPORT [HTTPPORT]]\n"
    "  get SERIAL COMMAND OUTSIZE [INFILE]      OUTSIZE is the size of the command's output\n"
    "                                           record (get 1: 260, the ZEVA_DEVICE_CODE)\n"
    "  set SERIAL COMMAND INFILE OUTSIZE        INFILE holds the command's input record\n"
    "  wifi MAC SSID PASSWORD [check]\n"
    "Records whose layout zeva/ZevaSdk.h gives are printed decoded, others as hexadecimal.\n";

namespace {

// A word of a request command that must be a number.
struct NumberWord {
    size_t index;
    const char *name;  // nullptr after the last
    uint32_t min, max;
};

const struct {
    const char *name;
    size_t minWords, maxWords;
    NumberWord numbers[2];
} kCommands[] = {
    {"activate", 3, 3, {}},
    {"reset", 4, 5, {{2, "TYPE", ZEVA_RESET_BY_FRAME, ZEVA_RESET_BY_PHONE_CODE}}},
    {"netparam", 6, 8, {{6, "CMDPORT", 0, 65535}, {7, "HTTPPORT", 0, 65535}}},
    {"get", 4, 5, {{2, "COMMAND", 0, UINT32_MAX}, {3, "OUTSIZE", 0, UINT32_MAX}}},
    {"set", 5, 5, {{2, "COMMAND", 0, UINT32_MAX}, {4, "OUTSIZE", 0, UINT32_MAX}}},
    {"wifi", 4, 5, {}},
};

// "get takes 3 or 4 words after it, not 2"
std::string WordCountProblem(const std::string &command, size_t minWords, size_t maxWords, size_t given) {
    std::string wanted = std::to_string(minWords - 1);
    if (maxWords > minWords)
        wanted += (maxWords == minWords + 1 ? " or " : " to ") + std::to_string(maxWords - 1);
    return command + " takes " + wanted + " words after it, not " + std::to_string(given - 1);
}

template <typename Fn>
Fn Export(void *lib, const char *name) {
    return reinterpret_cast<Fn>(dlsym(lib, name));
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
    case ZEVA_RESET_BY_AUTH_FILE: Copy(p->szAuthFile, sizeof p->szAuthFile, secret); break;
    case ZEVA_RESET_BY_GUID: Copy(p->szGUID, sizeof p->szGUID, secret); break;
    case ZEVA_RESET_BY_QUESTIONS: Answers(p->struSecurityQuestion, secret); break;
    default: Copy(p->szCode, sizeof p->szCode, secret); break;  // the reset, mail or phone code
    }
    auto fn = Export<decltype(&ZEVA_ResetPasswd_V50)>(lib, "ZEVA_ResetPasswd_V50");
    return fn(w[1].c_str(), p.get(), ret);
}

int NetParam(void *lib, const std::vector<std::string> &w, uint8_t *ret) {
    ZEVA_NET_PARAM net{};
    Copy(net.szIPv4Address, sizeof net.szIPv4Address, w[3]);
    Copy(net.szIPv4SubNetMask, sizeof net.szIPv4SubNetMask, w[4]);
    Copy(net.szIPv4Gateway, sizeof net.szIPv4Gateway, w[5]);
    net.wCmdPort = uint16_t(w.size() > 6 ? std::atoi(w[6].c_str()) : 8000);
    net.wHttpPort = uint16_t(w.size() > 7 ? std::atoi(w[7].c_str()) : 0);
    auto fn = Export<decltype(&ZEVA_ModifyDeviceNetParam_V40)>(lib, "ZEVA_ModifyDeviceNetParam_V40");
    return fn(w[1].c_str(), w[2].c_str(), &net, ret, 128);
}

uint32_t Number(const std::string &word) { return uint32_t(std::strtoul(word.c_str(), nullptr, 10)); }

// The export's result and the output, decoded where its layout is known.
Outcome Send(void *lib, const std::vector<std::string> &w, std::string in) {
    std::vector<uint8_t> out(20000);
    const char *target = w[1].c_str();
    Outcome o;
    o.sent = true;
    size_t wordSize = 2;  // bytes of a result word, when the command hands one back
    if (w[0] == "activate") {
        o.result = Export<decltype(&ZEVA_ActivateDevice)>(lib, "ZEVA_ActivateDevice")(target, w[2].c_str());
        wordSize = 0;
    } else if (w[0] == "reset") {
        o.result = Reset(lib, w, out.data());
    } else if (w[0] == "netparam") {
        o.result = NetParam(lib, w, out.data());
    } else if (w[0] == "get") {
        size_t size = std::min<size_t>(Number(w[3]), out.size());
        o.result = Export<decltype(&ZEVA_GetDeviceConfig)>(lib, "ZEVA_GetDeviceConfig")(
            target, Number(w[2]), in.empty() ? nullptr : &in[0], DWORD(in.size()), size ? out.data() : nullptr,
            DWORD(size));
        if (!o.result)
            return o;  // nothing came back
        o.record = DecodeGetRecord(Number(w[2]), out.data(), size);
        if (o.record.empty())
            o.hex = Hex(out.data(), size);
        return o;
    } else if (w[0] == "set") {
        size_t size = std::min<size_t>(Number(w[4]), out.size());
        o.result = Export<decltype(&ZEVA_SetDeviceConfig)>(lib, "ZEVA_SetDeviceConfig")(
            target, Number(w[2]), in.empty() ? nullptr : &in[0], DWORD(in.size()), size ? out.data() : nullptr,
            DWORD(size));
        wordSize = std::min<size_t>(size, 2);
    } else if (w[0] == "wifi") {
        bool check = w.size() > 4 && w[4] == "check";
        auto fn = Export<decltype(&ZEVA_WifiParamCfg)>(lib, check ? "ZEVA_WifiParamCheck" : "ZEVA_WifiParamCfg");
        o.result = fn(target, w[2].c_str(), w[3].c_str());
        wordSize = 0;
    }
    o.record = DecodeResultWord(out.data(), wordSize);
    return o;
}

}  // namespace

std::string NumberProblem(const std::string &text, uint32_t min, uint32_t max, uint32_t &value) {
    bool negative = text.size() > 1 && text[0] == '-';
    if (text.empty() || text.find_first_not_of("0123456789", negative ? 1 : 0) != std::string::npos)
        return "the value is not a number";
    errno = 0;
    unsigned long long n = negative ? 0 : std::strtoull(text.c_str(), nullptr, 10);
    if (negative || n < min)
        return "the value is below " + std::to_string(min);
    if (errno == ERANGE || n > max)
        return "the value is above " + std::to_string(max);
    value = uint32_t(n);
    return "";
}

bool IsRequestCommand(const std::vector<std::string> &words, std::string &error) {
    if (words.empty())
        return false;
    for (const auto &c : kCommands) {
        if (words[0] != c.name)
            continue;
        if (words.size() < c.minWords || words.size() > c.maxWords) {
            error = WordCountProblem(words[0], c.minWords, c.maxWords, words.size());
            return true;
        }
        uint32_t value = 0;
        for (const NumberWord *n = c.numbers; n < std::end(c.numbers) && n->name && error.empty(); ++n) {
            std::string problem = n->index < words.size() ? NumberProblem(words[n->index], n->min, n->max, value) : "";
            if (!problem.empty())
                error = words[0] + " " + n->name + " " + words[n->index] + ": " + problem;
        }
        if (error.empty() && words[0] == "wifi" && words.size() == 5 && words[4] != "check")
            error = "wifi takes check or nothing after the password, not " + words[4];
        return true;
    }
    error = "unknown command " + words[0];
    return true;
}

bool TargetIsMac(const std::vector<std::string> &words) { return words[0] == "netparam" || words[0] == "wifi"; }

std::string RequestTarget(const std::vector<std::string> &words) { return words[1]; }

std::string InputFile(const std::vector<std::string> &words) {
    if (words[0] == "get")
        return words.size() > 4 ? words[4] : "";
    return words[0] == "set" ? words[3] : "";
}

bool ReadInputFile(const std::string &path, std::string &bytes, std::string &problem) {
    // The largest input record, the security questions, is about 12 KB.
    constexpr size_t kInputMax = 65536;
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        problem = std::strerror(errno);
        return false;
    }
    bytes.resize(kInputMax + 1);
    size_t got = std::fread(&bytes[0], 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        problem = std::strerror(errno);
        return false;
    }
    if (got > kInputMax) {
        problem = "longer than any input record (over " + std::to_string(kInputMax) + " bytes)";
        return false;
    }
    bytes.resize(got);
    return true;
}

Outcome RunRequest(void *lib, const std::vector<std::string> &w, const std::string &input) {
    Outcome o = Send(lib, w, input);
    o.hasError = true;
    o.error = Export<decltype(&ZEVA_GetLastError)>(lib, "ZEVA_GetLastError")();
    return o;
}

}  // namespace zevahost
