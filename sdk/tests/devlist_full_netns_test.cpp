// The found-device list at its limit, fed through UpdateDevList directly (the controller runs in
// a test namespace, since a start opens the adapters' sockets; no device answers come from it).
#include <atomic>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "log_capture.h"
#include "sdk_netns_util.h"

using namespace ZEVA;
using namespace sdktest;

namespace {

std::atomic<int> g_new{0}, g_changed{0};

void OnDevice(ZEVA_DEVICE_INFO *dev, void *) { (dev->iResult == 1 ? g_new : g_changed)++; }

ZEVA_DEVICE_INFO Device(int n, const char *ipv4) {
    ZEVA_DEVICE_INFO dev{};
    std::snprintf(dev.szMAC, sizeof dev.szMAC, "02-10-00-%02x-%02x-%02x", n >> 16 & 255, n >> 8 & 255, n & 255);
    std::snprintf(dev.szIPv4Address, sizeof dev.szIPv4Address, "%s", ipv4);
    dev.byDataFromMulticast = 1;
    return dev;
}

TEST(DeviceList, The5001stDeviceIsDroppedAndTheFullListStillWorks) {
    ZEVA_NETNS_LAB(lab);
    std::string host, peer;
    AddHostAndPeer(lab, host, peer);
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    ctrl->SetAutoRequestInterval(0);
    ASSERT_EQ(1, ctrl->Init(nullptr, OnDevice, nullptr, nullptr));
    {
        LogCapture log;
        for (int n = 0; n < MAX_DEVICE_NUM + 1; ++n) {
            ZEVA_DEVICE_INFO dev = Device(n, "10.1.0.1");
            ctrl->UpdateDevList(&dev, 0, "", "", 1);
        }
        EXPECT_EQ(MAX_DEVICE_NUM, g_new.load()) << "the one past the limit is not reported";
        EXPECT_TRUE(log.WaitFor("[CGlobalCtrl::UpdateDevList] MAX_DEV_NUM <= m_dwDeviceNum [5000][5000]"));
        DEVICE_LIST_ITEM item;
        EXPECT_EQ(0, ctrl->SearchDevice(Device(MAX_DEVICE_NUM, "").szMAC, &item));
        // The devices in the list are still known and reported when they change.
        ZEVA_DEVICE_INFO moved = Device(MAX_DEVICE_NUM - 1, "10.1.0.2");
        ctrl->UpdateDevList(&moved, 0, "", "", 1);
        EXPECT_EQ(1, g_changed.load());
        ASSERT_EQ(1, ctrl->SearchDevice(moved.szMAC, &item));
        EXPECT_STREQ("10.1.0.2", item.struDevInfo.szIPv4Address);
    }
    EXPECT_EQ(1, ctrl->Fini());
}

}  // namespace
