// Network namespaces for tests that cross a network. Everything that sends beyond loopback, joins
// multicast groups, starts discovery or captures frames runs inside namespaces made here, never in
// the machine's own network.
//
//   TEST(Multicast, Receives) {
//       ZEVA_NETNS_LAB(lab);                       // skips when namespaces cannot be made
//       auto host = lab.Add("host"), dev = lab.Add("dev");
//       lab.Veth(host, "h0", "10.9.1.1/24", dev, "d0", "10.9.1.2/24");
//       zeva::test::EnterNetns in(host);           // this thread and the threads it starts
//       ZEVA_REQUIRE_NETNS();                      // refuses to run outside a lab namespace
//       ...
//       lab.Exec(dev, "ip -j addr");               // a command inside a namespace
//   }
//
// Namespaces are named "zt<pid>-<n>-<tag>", unique per process, and deleted, with every process
// still running in them, when the lab goes out of scope. A lab also deletes namespaces left by
// test processes that no longer run (killed by a time-out, say). tests/netns/netns-run.sh does
// the same for a whole command.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netns/shell.h"
#include "netns_guard.h"

namespace zeva::test {

// The guard of every test that sends beyond loopback.
#define ZEVA_REQUIRE_NETNS() \
    ASSERT_TRUE(::zeva::test::InIsolatedNetns()) << "refusing to run outside a test network namespace"

// The calling thread works in the namespace while the object lives; threads it starts meanwhile
// stay there. Sockets keep the namespace they were made in.
class EnterNetns {
public:
    explicit EnterNetns(const std::string &name) {
        back_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = open((std::string(kNetnsDir) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ok_ = back_ >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            close(fd);
        EXPECT_TRUE(ok_) << "cannot enter namespace " << name << ": " << std::strerror(errno);
    }
    ~EnterNetns() {
        if (ok_)
            setns(back_, CLONE_NEWNET);
        if (back_ >= 0)
            close(back_);
    }
    EnterNetns(const EnterNetns &) = delete;
    EnterNetns &operator=(const EnterNetns &) = delete;

private:
    int back_ = -1;
    bool ok_ = false;
};

class NetnsLab {
public:
    NetnsLab() {
        SweepStale();
        usable_ = geteuid() == 0 && Sh("ip netns list").status == 0;
    }
    ~NetnsLab() {
        for (auto it = names_.rbegin(); it != names_.rend(); ++it)
            Remove(*it);
    }
    NetnsLab(const NetnsLab &) = delete;
    NetnsLab &operator=(const NetnsLab &) = delete;

    bool usable() const { return usable_; }

    // A new namespace with its loopback up; returns its name.
    std::string Add(const std::string &tag) {
        std::string name = std::string(kNetnsPrefix) + std::to_string(getpid()) + "-" +
                           std::to_string(Counter()++) + "-" + tag;
        CmdResult r = Sh("ip netns add " + name);
        EXPECT_EQ(0, r.status) << r.out;
        if (r.status == 0) {
            names_.push_back(name);
            Ip(name, "link set lo up");
        }
        return name;
    }

    // "ip -n <ns> <args>", expected to succeed.
    CmdResult Ip(const std::string &ns, const std::string &args) {
        CmdResult r = Sh("ip -n " + ns + " " + args);
        EXPECT_EQ(0, r.status) << "ip -n " << ns << " " << args << ": " << r.out;
        return r;
    }

    // A shell command inside the namespace (its own /sys as well).
    CmdResult Exec(const std::string &ns, const std::string &cmd) {
        std::string quoted;
        for (char c : cmd)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return Sh("ip netns exec " + ns + " sh -c '" + quoted + "'");
    }

    // A veth pair between two namespaces, both ends up. Addresses ("10.1.1.1/24", "fd00::1/64")
    // are optional; IPv6 addresses skip duplicate detection so that they are usable at once.
    void Veth(const std::string &nsA, const std::string &ifA, const std::string &addrA,
              const std::string &nsB, const std::string &ifB, const std::string &addrB) {
        Ip(nsA, "link add " + ifA + " type veth peer name " + ifB + " netns " + nsB);
        Up(nsA, ifA, addrA);
        Up(nsB, ifB, addrB);
        WaitReady(nsA, ifA);
        WaitReady(nsB, ifB);
    }

    // Waits (up to 3 s) until the interface carries traffic: link up and the IPv6 multicast
    // route in place, which the kernel adds a little after the link comes up.
    void WaitReady(const std::string &ns, const std::string &ifname) {
        for (int i = 0; i < 150; ++i) {
            std::string link = Sh("ip -n " + ns + " link show dev " + ifname).out;
            std::string routes = Sh("ip -n " + ns + " -6 route show table local dev " + ifname).out;
            if (link.find("LOWER_UP") != std::string::npos &&
                routes.find("ff00::/8") != std::string::npos)
                return;
            usleep(20000);
        }
        ADD_FAILURE() << ifname << " in " << ns << " did not come up";
    }

    void AddAddr(const std::string &ns, const std::string &ifname, const std::string &cidr) {
        bool v6 = cidr.find(':') != std::string::npos;
        Ip(ns, "addr add " + cidr + " dev " + ifname + (v6 ? " nodad" : ""));
    }

    void Up(const std::string &ns, const std::string &ifname, const std::string &cidr = "") {
        if (!cidr.empty())
            AddAddr(ns, ifname, cidr);
        Ip(ns, "link set " + ifname + " up");
    }

private:
    static int &Counter() {
        static int n = 0;
        return n;
    }

    // Namespaces of test processes that are gone (killed before they could clean up).
    static void SweepStale() {
        DIR *dir = opendir(kNetnsDir);
        if (!dir)
            return;
        std::vector<std::string> stale;
        size_t plen = std::strlen(kNetnsPrefix);
        while (dirent *e = readdir(dir)) {
            if (std::strncmp(e->d_name, kNetnsPrefix, plen) != 0)
                continue;
            char *end = nullptr;
            long pid = std::strtol(e->d_name + plen, &end, 10);
            if (pid > 0 && end && *end == '-' && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                stale.push_back(e->d_name);
        }
        closedir(dir);
        for (const auto &name : stale)
            Remove(name);
    }

    // The processes a test started inside the namespace (peers, simulators) go with it.
    static std::vector<pid_t> PidsIn(const std::string &name) {
        std::vector<pid_t> pids;
        std::string out = Sh("ip netns pids " + name).out;
        for (size_t at = 0; at < out.size();) {
            char *end = nullptr;
            long pid = std::strtol(out.c_str() + at, &end, 10);
            if (end == out.c_str() + at)
                break;
            if (pid > 0 && pid_t(pid) != getpid())
                pids.push_back(pid_t(pid));
            at = size_t(end - out.c_str());
        }
        return pids;
    }
    static void Remove(const std::string &name) {
        for (int i = 0; i < 100; ++i) {
            std::vector<pid_t> pids = PidsIn(name);
            if (pids.empty())
                break;
            for (pid_t pid : pids)
                kill(pid, SIGKILL);
            usleep(20000);
        }
        Sh("ip netns del " + name);
    }

    std::vector<std::string> names_;
    bool usable_ = false;
};

// Declares a lab; skips the test when this machine cannot make namespaces (not root, no ip).
#define ZEVA_NETNS_LAB(lab)                                                    \
    ::zeva::test::NetnsLab lab;                                                \
    if (!lab.usable())                                                         \
    GTEST_SKIP() << "network namespaces need root and iproute2"

}  // namespace zeva::test
