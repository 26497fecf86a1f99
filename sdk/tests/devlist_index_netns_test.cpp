// The found-device list's index against the list itself: after every step of a table of answers,
// offline sweeps and Clearups, each search by MAC and by serial finds what a scan of the slots in
// order finds (the model below keeps the slots as the list fills them). Fed through UpdateDevList
// directly; the controller runs in a test namespace, since a start opens the adapters' sockets.
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "log_capture.h"
#include "sdk_netns_util.h"

using namespace ZEVA;
using namespace sdktest;

namespace {

int g_lastResult = 0;  // the last report's iResult; 0 for none
int g_reports = 0;

void OnDevice(ZEVA_DEVICE_INFO *dev, void *) {
    g_lastResult = dev->iResult;
    ++g_reports;
}

std::string Mac(int n) {
    char text[20];
    std::snprintf(text, sizeof text, "02-20-00-%02x-%02x-%02x", n >> 16 & 255, n >> 8 & 255, n & 255);
    return text;
}

ZEVA_DEVICE_INFO Device(int n, const std::string &serial, const std::string &ipv4) {
    ZEVA_DEVICE_INFO dev{};
    std::snprintf(dev.szMAC, sizeof dev.szMAC, "%s", Mac(n).c_str());
    std::snprintf(dev.szSerialNOEx, sizeof dev.szSerialNOEx, "%s", serial.c_str());
    std::snprintf(dev.szIPv4Address, sizeof dev.szIPv4Address, "%s", ipv4.c_str());
    dev.byDataFromMulticast = 1;
    return dev;
}

// The slots as the list fills them, searched from slot 0.
struct Model {
    struct Slot {
        std::string mac, serial, ipv4;
    };
    std::vector<Slot> slots;

    const Slot *ByMac(const std::string &mac) const {
        for (const Slot &s : slots)
            if (s.mac == mac)
                return &s;
        return nullptr;
    }
    const Slot *BySerial(const std::string &serial) const {
        for (const Slot &s : slots)
            if (s.serial == serial)
                return &s;
        return nullptr;
    }
    void Answer(int n, const std::string &serial, const std::string &ipv4) {
        for (Slot &s : slots)
            if (s.mac == Mac(n)) {
                s = {Mac(n), serial, ipv4};
                return;
            }
        if (slots.size() < size_t(MAX_DEVICE_NUM))
            slots.push_back({Mac(n), serial, ipv4});
    }
};

class DeviceIndex : public HostPeerTest {
protected:
    void SetUp() override {
        HostPeerTest::SetUp();
        if (!LabReady())
            return;
        ctrl->SetAutoRequestInterval(0);
        g_reports = 0;
        ASSERT_EQ(1, ctrl->Init(nullptr, OnDevice, nullptr, nullptr));
        started = true;
    }
    void TearDown() override {
        if (started) {
            EXPECT_EQ(1, ctrl->Fini());
        }
    }

    // Every search by MAC and by serial of the probes against the model.
    void ExpectSearchesAgree(const std::set<std::string> &macs, const std::set<std::string> &serials) {
        DEVICE_LIST_ITEM item;
        for (const std::string &mac : macs) {
            const Model::Slot *want = model.ByMac(mac);
            ASSERT_EQ(want ? 1 : 0, ctrl->SearchDevice(mac.c_str(), &item)) << mac;
            if (want) {
                EXPECT_EQ(want->ipv4, item.struDevInfo.szIPv4Address) << mac;
            }
        }
        for (const std::string &serial : serials) {
            const Model::Slot *want = model.BySerial(serial);
            ASSERT_EQ(want ? 1 : 0, ctrl->SearchDeviceBySN(serial.c_str(), &item)) << "serial " << serial;
            if (want) {
                EXPECT_EQ(want->mac, item.struDevInfo.szMAC) << "serial " << serial;
                EXPECT_EQ(want->ipv4, item.struDevInfo.szIPv4Address) << "serial " << serial;
            }
        }
    }

    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    Model model;
    bool started = false;
};

TEST_F(DeviceIndex, SearchesAgreeWithAScanOfTheSlots) {
    enum Op { ANSWER, SWEEP, CLEARUP };
    const struct {
        Op op;
        int device;
        const char *serial;
        const char *ipv4;
        int reported;  // iResult of the last report, 0 for none
    } steps[] = {
        {ANSWER, 0, "SN-A", "10.0.0.1", 1},
        {ANSWER, 1, "SN-A", "10.0.0.2", 1},  // a serial two devices share: the lower slot is found
        {ANSWER, 2, "SN-B", "10.0.0.3", 1},
        {ANSWER, 3, "", "10.0.0.4", 1},
        {ANSWER, 0, "SN-C", "10.0.0.1", 2},  // the first holder of SN-A leaves it to the second
        {ANSWER, 1, "SN-A", "10.0.0.12", 2},
        {ANSWER, 0, "SN-A", "10.0.0.1", 2},  // and takes it back, ahead of the higher slot
        {ANSWER, 1, "SN-A", "10.0.0.12", 0},
        {SWEEP, 0, "", "", 0},
        {SWEEP, 0, "", "", 0},
        {ANSWER, 2, "SN-B", "10.0.0.3", 0},
        {SWEEP, 0, "", "", 3},  // every device but 2 is offline now
        {ANSWER, 0, "SN-A", "10.0.0.1", 1},  // back online
        {ANSWER, 2, "SN-E", "10.0.0.3", 2},
        {CLEARUP, 0, "", "", 0},
        {ANSWER, 3, "", "10.0.0.4", 1},      // every MAC comes back in another slot
        {ANSWER, 2, "SN-B", "10.0.0.3", 1},
        {ANSWER, 0, "SN-B", "10.0.0.1", 1},
        {ANSWER, 1, "SN-A", "10.0.0.2", 1},
        {ANSWER, 2, "SN-A", "10.0.0.3", 2},  // SN-B passes to the slot after, SN-A to the slot before
        {ANSWER, 3, "SN-A", "10.0.0.4", 2},
        {ANSWER, 3, "", "10.0.0.4", 2},
    };
    std::set<std::string> macs = {Mac(0), Mac(1), Mac(2), Mac(3), Mac(4), ""};
    std::set<std::string> serials = {"SN-A", "SN-B", "SN-C", "SN-E", "", "SN-X"};
    int step = 0;
    for (const auto &s : steps) {
        SCOPED_TRACE("step " + std::to_string(step++));
        g_lastResult = 0;
        if (s.op == ANSWER) {
            ZEVA_DEVICE_INFO dev = Device(s.device, s.serial, s.ipv4);
            ctrl->UpdateDevList(&dev, 0, "", "", 1);
            model.Answer(s.device, s.serial, s.ipv4);
        } else if (s.op == SWEEP) {
            ctrl->OfflineSweep();
        } else {
            ASSERT_EQ(1, ctrl->Cleanup());
            model.slots.clear();
        }
        EXPECT_EQ(s.reported, g_lastResult);
        ExpectSearchesAgree(macs, serials);
    }
}

// Full: the 5001st MAC is dropped and unknown, the listed ones stay found and keep changing.
TEST_F(DeviceIndex, TheFullListAndThe5001stMac) {
    std::set<std::string> macs, serials = {"SN-F", "SN-G", "SN-H"};
    for (int n = 0; n <= MAX_DEVICE_NUM; ++n) {
        const char *serial = n % 2 ? "SN-F" : "SN-G";
        ZEVA_DEVICE_INFO dev = Device(n, serial, "10.1.0.1");
        ctrl->UpdateDevList(&dev, 0, "", "", 1);
        model.Answer(n, serial, "10.1.0.1");
        macs.insert(Mac(n));
    }
    EXPECT_EQ(MAX_DEVICE_NUM, g_reports);
    ASSERT_EQ(size_t(MAX_DEVICE_NUM), model.slots.size());
    {
        SCOPED_TRACE("full");
        ExpectSearchesAgree(macs, serials);
    }
    // The first holder of each serial changes: the next slot with it is found instead.
    for (int n : {0, 1, MAX_DEVICE_NUM - 1}) {
        ZEVA_DEVICE_INFO dev = Device(n, "SN-H", "10.1.0.2");
        ctrl->UpdateDevList(&dev, 0, "", "", 1);
        model.Answer(n, "SN-H", "10.1.0.2");
    }
    {
        SCOPED_TRACE("changed");
        ExpectSearchesAgree({Mac(0), Mac(1), Mac(2), Mac(3), Mac(MAX_DEVICE_NUM - 1), Mac(MAX_DEVICE_NUM)},
                            serials);
    }
}

}  // namespace
