// zeva-host: a command-line host of libZEVA.so. It loads the library as any host does, starts
// discovery, prints every device the callbacks report, and stops cleanly on Ctrl-C or SIGTERM.
// Discovery sends multicast on every adapter, so it only starts inside a test network namespace
// unless told otherwise.
#include <dlfcn.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "device_row.h"
#include "errors.h"
#include "netns_guard.h"
#include "requests.h"
#include "zeva/ZevaSdk.h"

namespace {

const char *const kUsage =
    "usage: zeva-host [options]\n"
    "  --lib PATH        libZEVA.so to load (default: the one built beside this program, else by name)\n"
    "  --interval S      seconds between periodic inquiries (0: none)\n"
    "  --logdir D        directory of the SDK log\n"
    "  --seconds S       stop after S seconds (default: run until Ctrl-C or SIGTERM)\n"
    "  --wait S          with a request command: seconds to wait until the device is listed (10)\n"
    "  --json            one JSON object a line instead of a table, request results too\n"
    "  --allow-host-network\n"
    "                    start outside a test network namespace (discovery then reaches the\n"
    "                    machine's real networks)\n"
    "  --help            this text\n"
    "\n";

struct Options {
    std::string lib = ZEVA_HOST_DEFAULT_LIB;
    long interval = -1;
    std::string logdir;
    long seconds = -1;
    long wait = 10;
    bool json = false;
    bool allowHostNetwork = false;
    std::vector<std::string> request;  // a request command and its words
};

std::mutex g_out;
bool g_json = false;
// The device a request command waits for, and whether the callbacks have listed it.
std::string g_target;
bool g_targetIsMac = false;
bool g_targetListed = false;
std::condition_variable g_listed;

void OnDevice(ZEVA_DEVICE_INFO *dev, void *) {
    std::lock_guard<std::mutex> guard(g_out);
    const char *id = g_targetIsMac ? dev->szMAC : dev->szSerialNOEx;
    size_t width = g_targetIsMac ? sizeof dev->szMAC : sizeof dev->szSerialNOEx;
    if (!g_target.empty() && std::string(id, strnlen(id, width)) == g_target) {
        g_targetListed = true;
        g_listed.notify_all();
    }
    std::printf("%s\n", (g_json ? zevahost::JsonLine(*dev) : zevahost::TableRow(*dev)).c_str());
    std::fflush(stdout);
}

void OnSubnetDevice(ZEVA_SUBNET_DEVICE_INFO *dev, void *) {
    std::lock_guard<std::mutex> guard(g_out);
    std::printf("%s\n", (g_json ? zevahost::SubnetJsonLine(*dev) : zevahost::SubnetTableRow(*dev)).c_str());
    std::fflush(stdout);
}

bool ParseNumber(const char *text, long &out) {
    char *end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && out >= 0;
}

// 0 to run, 1 for --help, 2 for a usage error.
int ParseOptions(int argc, char **argv, Options &opt) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help")
            return 1;
        if (arg == "--json")
            opt.json = true;
        else if (arg == "--allow-host-network")
            opt.allowHostNetwork = true;
        else if (arg == "--lib" && hasValue)
            opt.lib = argv[++i];
        else if (arg == "--logdir" && hasValue)
            opt.logdir = argv[++i];
        else if (arg == "--interval" && hasValue && ParseNumber(argv[i + 1], opt.interval))
            ++i;
        else if (arg == "--seconds" && hasValue && ParseNumber(argv[i + 1], opt.seconds))
            ++i;
        else if (arg == "--wait" && hasValue && ParseNumber(argv[i + 1], opt.wait))
            ++i;
        else if (arg.rfind("--", 0) != 0) {
            opt.request.assign(argv + i, argv + argc);
            break;
        } else {
            std::fprintf(stderr, "zeva-host: bad option %s\n", arg.c_str());
            return 2;
        }
    }
    std::string error;
    if (zevahost::IsRequestCommand(opt.request, error) && !error.empty()) {
        std::fprintf(stderr, "zeva-host: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

template <typename Fn>
Fn Symbol(void *lib, const char *name) {
    return reinterpret_cast<Fn>(dlsym(lib, name));
}

// Waits for SIGINT or SIGTERM, or for the given seconds when not negative.
void WaitForStop(const sigset_t &stopSignals, long seconds) {
    if (seconds < 0) {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        return;
    }
    timespec limit{seconds, 0};
    while (sigtimedwait(&stopSignals, nullptr, &limit) < 0 && errno == EINTR) {
    }
}

// Waits up to --wait seconds until discovery lists the command's device.
bool WaitUntilListed(long seconds) {
    std::unique_lock<std::mutex> lock(g_out);
    return g_listed.wait_for(lock, std::chrono::seconds(seconds), [] { return g_targetListed; });
}

// Exit status of a request command: 0 done, 1 refused or failed, 2 device never listed.
int RunRequestWhenListed(void *lib, const Options &opt) {
    if (!WaitUntilListed(opt.wait)) {
        std::fprintf(stderr, "zeva-host: device %s not listed within %ld s\n", g_target.c_str(), opt.wait);
        return 2;
    }
    return zevahost::RunRequest(lib, opt.request, opt.json) == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    int parsed = ParseOptions(argc, argv, opt);
    if (parsed != 0) {
        std::fputs(kUsage, parsed == 1 ? stdout : stderr);
        std::fputs(zevahost::kRequestUsage, parsed == 1 ? stdout : stderr);
        return parsed == 1 ? 0 : 2;
    }
    if (!opt.allowHostNetwork && !zeva::test::InIsolatedNetns()) {
        std::fprintf(stderr, "zeva-host: refusing to start discovery outside a test network namespace "
                             "(see --allow-host-network)\n");
        return 3;
    }
    g_json = opt.json;
    if (!opt.request.empty()) {
        g_target = zevahost::RequestTarget(opt.request);
        g_targetIsMac = zevahost::TargetIsMac(opt.request);
    }

    // The SDK's threads inherit this mask, so the stop signals reach only the wait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    void *lib = dlopen(opt.lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib && opt.lib == ZEVA_HOST_DEFAULT_LIB)
        lib = dlopen("libZEVA.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "zeva-host: cannot load %s: %s\n", opt.lib.c_str(), dlerror());
        return 1;
    }
    auto start = Symbol<decltype(&ZEVA_Start_V60)>(lib, "ZEVA_Start_V60");
    auto stop = Symbol<decltype(&ZEVA_Stop)>(lib, "ZEVA_Stop");
    auto lastError = Symbol<decltype(&ZEVA_GetLastError)>(lib, "ZEVA_GetLastError");
    auto setInterval = Symbol<decltype(&ZEVA_SetAutoRequestInterval)>(lib, "ZEVA_SetAutoRequestInterval");
    auto setLog = Symbol<decltype(&ZEVA_SetLogToFile)>(lib, "ZEVA_SetLogToFile");
    if (!start || !stop || !lastError || !setInterval || !setLog) {
        std::fprintf(stderr, "zeva-host: %s lacks the ZEVA_* exports\n", opt.lib.c_str());
        return 1;
    }
    if (opt.interval >= 0)
        setInterval(DWORD(opt.interval));
    if (!opt.logdir.empty() && !setLog(3, opt.logdir.c_str(), 1)) {
        std::fprintf(stderr, "zeva-host: log directory refused: error %s\n", zevahost::ErrorText(lastError()).c_str());
        return 1;
    }
    if (!opt.json)
        std::printf("%s\n", zevahost::TableHeader().c_str());
    std::fflush(stdout);
    if (!start(nullptr, OnDevice, OnSubnetDevice, nullptr)) {
        std::fprintf(stderr, "zeva-host: start failed: error %s\n", zevahost::ErrorText(lastError()).c_str());
        return 1;
    }
    int status = 0;
    if (opt.request.empty())
        WaitForStop(stopSignals, opt.seconds);
    else
        status = RunRequestWhenListed(lib, opt);
    if (!stop()) {
        std::fprintf(stderr, "zeva-host: stop failed: error %s\n", zevahost::ErrorText(lastError()).c_str());
        return 1;
    }
    return status;
}
