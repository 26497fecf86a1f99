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
#include <set>
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
    "  --json            one JSON object a line instead of a table, every request outcome too\n"
    "  --allow-host-network\n"
    "                    start outside a test network namespace (discovery then reaches the\n"
    "                    machine's real networks)\n"
    "  --help            this text\n"
    "\n";

const char *const kExitStatus =
    "\n"
    "Exit status:\n"
    "  0  discovery ran and stopped as asked, or the request succeeded\n"
    "  1  the request failed, or the library could not be loaded, given the log directory, started\n"
    "     or stopped\n"
    "  2  a usage error, an input file that cannot be read, or the device not listed within --wait\n"
    "  3  refused to start outside a test network namespace\n";

struct Options {
    std::string lib = ZEVA_HOST_DEFAULT_LIB;
    long interval = -1;
    std::string logdir;
    long seconds = -1;
    long wait = 10;
    bool json = false;
    bool allowHostNetwork = false;
    std::vector<std::string> request;  // a request command and its words
    std::string input;                 // the bytes of its input file
};

std::mutex g_out;
bool g_json = false;
// The device a request command waits for, and whether the callbacks have listed it.
std::string g_target;
bool g_targetIsMac = false;
bool g_targetListed = false;
std::condition_variable g_listed;
std::set<std::string> g_devices;  // the MACs of every device reported

void OnDevice(ZEVA_DEVICE_INFO *dev, void *) {
    std::lock_guard<std::mutex> guard(g_out);
    g_devices.emplace(dev->szMAC, strnlen(dev->szMAC, sizeof dev->szMAC));
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

// 0 to run, 1 for --help, 2 for a usage error, which it names.
int ParseOptions(int argc, char **argv, Options &opt) {
    std::string error;
    for (int i = 1; i < argc && error.empty(); ++i) {
        std::string arg = argv[i];
        if (arg == "--help")
            return 1;
        if (arg.rfind("--", 0) != 0) {
            opt.request.assign(argv + i, argv + argc);
            break;
        }
        if (arg == "--json") {
            opt.json = true;
            continue;
        }
        if (arg == "--allow-host-network") {
            opt.allowHostNetwork = true;
            continue;
        }
        std::string *text = arg == "--lib" ? &opt.lib : arg == "--logdir" ? &opt.logdir : nullptr;
        long *number = arg == "--interval" ? &opt.interval
                       : arg == "--seconds" ? &opt.seconds
                       : arg == "--wait"    ? &opt.wait
                                            : nullptr;
        if (!text && !number) {
            error = "unknown option " + arg;
        } else if (i + 1 == argc) {
            error = arg + " needs a value";
        } else if (text) {
            *text = argv[++i];
        } else {
            uint32_t value = 0;
            std::string problem = zevahost::NumberProblem(argv[++i], 0, UINT32_MAX, value);
            if (problem.empty())
                *number = long(value);
            else
                error = arg + " " + argv[i] + ": " + problem;
        }
    }
    if (error.empty())
        zevahost::IsRequestCommand(opt.request, error);
    if (error.empty())
        return 0;
    std::fprintf(stderr, "zeva-host: %s\nTry 'zeva-host --help' for more information.\n", error.c_str());
    return 2;
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

// "error 2013 ZEVA_ERR_SOCKET_BIND (bind failed)"
std::string ErrorOf(uint32_t code) { return "error " + zevahost::ErrorText(code); }

void Print(const Options &opt, const zevahost::Outcome &o) {
    std::string text = opt.json ? zevahost::OutcomeJson(opt.request, o) + "\n" : zevahost::OutcomeText(o);
    std::lock_guard<std::mutex> guard(g_out);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// A failure that ends the run before anything was sent: the reason on standard error and, with
// --json, as the outcome's JSON line, so a script never has to read a text line. A failure the
// library reported passes its last error.
int Fail(const Options &opt, const std::string &reason, int status, decltype(&ZEVA_GetLastError) lastError = nullptr) {
    zevahost::Outcome o;
    o.message = reason;
    if (lastError) {
        o.hasError = true;
        o.error = lastError();
        o.message += ": " + ErrorOf(o.error);
    }
    std::fprintf(stderr, "zeva-host: %s\n", o.message.c_str());
    if (opt.json)
        Print(opt, o);
    return status;
}

// Exit status of a request command: 0 done, 1 refused or failed, 2 device never listed.
int RunRequestWhenListed(void *lib, const Options &opt) {
    if (!WaitUntilListed(opt.wait))
        return Fail(opt, "device " + g_target + " not listed within " + std::to_string(opt.wait) + " s", 2);
    zevahost::Outcome o = zevahost::RunRequest(lib, opt.request, opt.input);
    Print(opt, o);
    return o.result == 1 ? 0 : 1;
}

// Reads the request's input file before anything starts: a request built from nothing must not go out.
int ReadInput(Options &opt) {
    std::string path = opt.request.empty() ? "" : zevahost::InputFile(opt.request);
    std::string problem;
    if (path.empty() || zevahost::ReadInputFile(path, opt.input, problem))
        return 0;
    return Fail(opt, path + ": " + problem, 2);
}

std::string CountLine(size_t devices) { return std::to_string(devices) + (devices == 1 ? " device" : " devices"); }

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    int parsed = ParseOptions(argc, argv, opt);
    if (parsed == 1) {
        std::fputs(kUsage, stdout);
        std::fputs(zevahost::kRequestUsage, stdout);
        std::fputs(kExitStatus, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    if (int status = ReadInput(opt))
        return status;
    if (!opt.allowHostNetwork && !zeva::test::InIsolatedNetns())
        return Fail(opt, "refusing to start discovery outside a test network namespace (see --allow-host-network)", 3);
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
    if (!lib)
        return Fail(opt, "cannot load " + opt.lib + ": " + dlerror(), 1);
    auto start = Symbol<decltype(&ZEVA_Start_V60)>(lib, "ZEVA_Start_V60");
    auto stop = Symbol<decltype(&ZEVA_Stop)>(lib, "ZEVA_Stop");
    auto lastError = Symbol<decltype(&ZEVA_GetLastError)>(lib, "ZEVA_GetLastError");
    auto setInterval = Symbol<decltype(&ZEVA_SetAutoRequestInterval)>(lib, "ZEVA_SetAutoRequestInterval");
    auto setLog = Symbol<decltype(&ZEVA_SetLogToFile)>(lib, "ZEVA_SetLogToFile");
    if (!start || !stop || !lastError || !setInterval || !setLog)
        return Fail(opt, opt.lib + " lacks the ZEVA_* exports", 1);
    if (opt.interval >= 0)
        setInterval(DWORD(opt.interval));
    if (!opt.logdir.empty() && !setLog(3, opt.logdir.c_str(), 1))
        return Fail(opt, "log directory refused", 1, lastError);
    if (!opt.json)
        std::printf("%s\n", zevahost::TableHeader().c_str());
    std::fflush(stdout);
    if (!start(nullptr, OnDevice, OnSubnetDevice, nullptr))
        return Fail(opt, "start failed", 1, lastError);
    int status = 0;
    if (opt.request.empty())
        WaitForStop(stopSignals, opt.seconds);
    else
        status = RunRequestWhenListed(lib, opt);
    if (!stop()) {
        std::fprintf(stderr, "zeva-host: stop failed: %s\n", ErrorOf(lastError()).c_str());
        return 1;
    }
    // The callbacks are over once the last stop returns.
    if (!opt.json && opt.request.empty())
        std::printf("%s\n", CountLine(g_devices.size()).c_str());
    return status;
}
