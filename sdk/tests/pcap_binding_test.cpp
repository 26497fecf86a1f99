// The capture library bound at run time: Debian's libpcap, a stand-in that lacks an entry point,
// missing paths, and the controller's fallbacks.
#include <dlfcn.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "log_capture.h"
#include "module/dynamic/Libpcap.h"

using namespace ZEVA;
using namespace sdktest;

namespace {

class PcapBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, Morva_Init());
        ASSERT_EQ(1, Morva_SetLogFile(3, dir.Path().c_str(), 0));
        log = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        log.reset();
        Morva_Fini();
    }
    ScratchDir dir;
    std::unique_ptr<LogCapture> log;
};

TEST_F(PcapBinding, LibraryLoadsAndChecksItsEntryPoints) {
    CLibpcap lib;
    EXPECT_EQ(0, lib.LoadLib(FAKE_PCAP_PATH));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_TRUE(log->WaitFor("DynamicLoadBase::IsFuncExist, Function[pcap_next_ex] Unload"));
    EXPECT_TRUE(log->WaitFor("DynamicLoadBase::LoadLib, IsAllAPILoaded fialed"));
    // The refused library is no longer mapped.
    void *left = dlopen(FAKE_PCAP_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(nullptr, left) << FAKE_PCAP_PATH << " still loaded";
    if (left)
        dlclose(left);

    EXPECT_EQ(0, lib.LoadLib("/nonexistent/libpcap.so.0.8"));
    EXPECT_TRUE(log->WaitFor("DynamicLoadBase::LoadDSo, YAR_LoadDSo Failed, LoadPath[/nonexistent/libpcap.so.0.8]"));

    ASSERT_EQ(1, lib.LoadLib("libpcap.so.0.8"));
    EXPECT_EQ(std::string("libpcap version"), std::string(lib.m_pcap_lib_version()).substr(0, 15));
    EXPECT_EQ(1, lib.LoadLib("/nonexistent/libpcap.so.0.8"));  // already loaded: nothing happens
    EXPECT_TRUE(log->WaitFor("DynamicLoadBase::LoadLib, m_bIsLoad = YAR_TRUE"));
}

TEST_F(PcapBinding, ControllerFallsBackToTheLibraryByName) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ASSERT_EQ(1, ctrl->SetLogParam(3, dir.Path().c_str(), 0));
    ASSERT_EQ(1, ctrl->Init(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, ctrl->DynamicLibLoad(LIB_TAG_SSL));
    EXPECT_EQ(nullptr, ctrl->GetDynamicObject(LIB_TAG_CRYPTO));
    EXPECT_EQ(nullptr, ctrl->GetDynamicPath(3));
    ASSERT_EQ(1, ctrl->SetDynamicPath(LIB_TAG_PCAP, "/nonexistent/libpcap.so.0.8"));
    EXPECT_EQ(0, ctrl->SetDynamicPath(LIB_TAG_PCAP, std::string(257, 'p').c_str()));

    ASSERT_EQ(1, LibpcapLoad());
    EXPECT_TRUE(log->WaitFor("CGlobalCtrl::DynamicLibLoad 1 Load Lib [/nonexistent/libpcap.so.0.8] Failed"));
    EXPECT_TRUE(log->WaitFor("CGlobalCtrl::DynamicLibLoad 3 Load Lib [libpcap.so.0.8] SUCCESS"));
    EXPECT_TRUE(log->WaitFor("libpcap version"));
    EXPECT_NE(nullptr, Pcap_LibVersion());
    EXPECT_EQ(1, ctrl->Fini());
    // The library went with the stop: the forwarders fail as libpcap would.
    EXPECT_STREQ("", Pcap_LibVersion());
    EXPECT_EQ(nullptr, Pcap_OpenLive("h1", 65535, 0, 1000, nullptr));
}

}  // namespace
