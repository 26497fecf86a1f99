#include <string>

#include <gtest/gtest.h>

#include "netns/netns_lab.h"

namespace {

using zeva::test::InIsolatedNetns;
using zeva::test::Sh;

bool Exists(const std::string &ns) {
    return Sh("ip netns list | awk '{print $1}' | grep -qx " + ns).status == 0;
}

TEST(NetnsLab, GuardSeesOnlyLabNamespaces) {
    EXPECT_FALSE(InIsolatedNetns());
    std::string name;
    {
        ZEVA_NETNS_LAB(lab);
        name = lab.Add("guard");
        ASSERT_TRUE(Exists(name));
        {
            zeva::test::EnterNetns in(name);
            EXPECT_TRUE(InIsolatedNetns());
            EXPECT_NE(std::string::npos, Sh("ip -br link").out.find("lo "));
        }
        EXPECT_FALSE(InIsolatedNetns());
        // A namespace that is not one of ours does not count.
        std::string foreign = "zzforeign" + std::to_string(getpid());
        ASSERT_EQ(0, Sh("ip netns add " + foreign).status);
        {
            zeva::test::EnterNetns in(foreign);
            EXPECT_FALSE(InIsolatedNetns());
        }
        Sh("ip netns del " + foreign);
    }
    EXPECT_FALSE(Exists(name));
}

TEST(NetnsLab, ExecQuotesAndSweepsNamespacesOfDeadRuns) {
    // A pid far above pid_max belongs to no process: a run that was killed.
    std::string stale = "zt99999999-0-stale";
    ASSERT_EQ(0, Sh("ip netns add " + stale).status);
    ZEVA_NETNS_LAB(lab);
    EXPECT_FALSE(Exists(stale));
    std::string ns = lab.Add("exec");
    zeva::test::CmdResult r = lab.Exec(ns, "echo 'it'\"'\"'s quoted'");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("it's quoted\n", r.out);
}

// A peer started in the background of a namespace ends when its lab is removed.
TEST(NetnsLab, RemovingTheLabEndsItsProcesses) {
    std::string pid;
    {
        ZEVA_NETNS_LAB(lab);
        std::string ns = lab.Add("procs");
        pid = lab.Exec(ns, "nohup sleep 600 >/dev/null 2>&1 & echo $!").out;
        pid = pid.substr(0, pid.find('\n'));
        ASSERT_FALSE(pid.empty());
        ASSERT_EQ(0, kill(pid_t(std::stol(pid)), 0));
    }
    std::string state = Sh("ps -o stat= -p " + pid).out;
    EXPECT_TRUE(state.empty() || state.compare(0, 1, "Z") == 0) << "process " << pid << " still runs: " << state;
}

}  // namespace
