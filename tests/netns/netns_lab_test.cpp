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

}  // namespace
