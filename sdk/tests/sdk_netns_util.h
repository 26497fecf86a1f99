// Namespaces for the discovery tests: a host namespace where the SDK runs and a peer joined to it
// by a veth pair (host h1 10.77.1.1/24, peer p0 10.77.1.2/24), and what the tests look at in the
// process: its threads and sockets.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "netns/netns_lab.h"
#include "sdk_test_util.h"

namespace sdktest {

constexpr const char *kHostAddr = "10.77.1.1";
constexpr const char *kPeerAddr = "10.77.1.2";

// Polls the condition every 20 ms until it holds or the time is up.
inline bool WaitFor(const std::function<bool()> &cond, int timeoutMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline int CountEntries(const std::string &dir, const std::string &linkPrefix = "") {
    int n = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            if (linkPrefix.empty()) {
                ++n;
                continue;
            }
            char target[256] = {};
            if (readlink((dir + "/" + name).c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).rfind(linkPrefix, 0) == 0)
                ++n;
        }
        closedir(d);
    }
    return n;
}

inline int CountThreads() { return CountEntries("/proc/self/task"); }
// The count to come back to after a stop. A first thread is started and joined before counting,
// so that a sanitizer's own helper thread, started with the first thread, is counted as well.
inline int ThreadBaseline() {
    std::thread([] {}).join();
    return CountThreads();
}
inline int CountSockets() { return CountEntries("/proc/self/fd", "socket:"); }

// The MAC text of simulated device n (n below 256).
inline std::string SimMac(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "02-d5-00-00-00-%02x", n);
    return text;
}

inline bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// The host and the peer namespace joined by their veth pair.
inline void AddHostAndPeer(zeva::test::NetnsLab &lab, std::string &host, std::string &peer) {
    host = lab.Add("host");
    peer = lab.Add("peer");
    lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
}

// A fixture's lab: host and peer joined as above, the test thread inside the host. A derived
// SetUp calls this one first and returns when it skipped or failed.
class HostPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        AddHostAndPeer(lab, host, peer);
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
    }
    bool LabReady() const { return !IsSkipped() && !HasFatalFailure(); }

    zeva::test::NetnsLab lab;
    std::string host, peer;
    std::unique_ptr<zeva::test::EnterNetns> in;
};

// The peer end of the tests, started in the background inside a namespace.
inline void StartPeer(zeva::test::NetnsLab &lab, const std::string &ns, const std::string &args) {
    lab.Exec(ns, std::string("nohup python3 ") + PROBE_PEER_PY + " " + args + " >/dev/null 2>&1 &");
}

}  // namespace sdktest
