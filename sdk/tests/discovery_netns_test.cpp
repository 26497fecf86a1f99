// Discovery end to end: libZEVA.so in the host namespace, the device simulator in the peer. Every
// device is reported new once, changed when a field or only its salt changes, offline once after
// three missed inquiries, and new again after ZEVA_Clearup; duplicate answers (both ports, the
// local relay) give no extra report.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;

namespace {

struct Report {
    std::string mac;
    int result;
    std::string ipv4;
};

// What the callbacks saw, by callback; the user pointer must come back unchanged.
struct Reports {
    std::mutex lock;
    std::vector<Report> fromOld, fromNew;
    int badUser = 0;

    static void Record(std::vector<Report> &into, ZEVA_DEVICE_INFO *dev, void *user) {
        Reports *self = static_cast<Reports *>(user);
        if (!self)
            return;
        std::lock_guard<std::mutex> guard(self->lock);
        into.push_back({std::string(dev->szMAC, strnlen(dev->szMAC, sizeof dev->szMAC)), dev->iResult,
                        std::string(dev->szIPv4Address, strnlen(dev->szIPv4Address, sizeof dev->szIPv4Address))});
    }
    static void Old(ZEVA_DEVICE_INFO *dev, void *user) { Record(static_cast<Reports *>(user)->fromOld, dev, user); }
    static void New(ZEVA_DEVICE_INFO *dev, void *user) { Record(static_cast<Reports *>(user)->fromNew, dev, user); }

    int Count(const std::string &mac, int result) {
        std::lock_guard<std::mutex> guard(lock);
        int n = 0;
        for (const Report &r : fromNew)
            n += r.mac == mac && r.result == result;
        return n;
    }
    size_t Total() {
        std::lock_guard<std::mutex> guard(lock);
        return fromNew.size();
    }
};

std::string Mac(int n) { return SimMac(n); }

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        AddHostAndPeer(lab, host, peer);
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
    }
    void TearDown() override {
        if (started)
            zeva.ZEVA_Stop();
    }
    void StartSdk(uint32_t interval) {
        zeva.ZEVA_SetAutoRequestInterval(interval);
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(Reports::Old, Reports::New, nullptr, &reports)) << zeva.ZEVA_GetLastError();
        started = true;
    }
    void StartDevsim(const std::string &args) {
        lab.Exec(peer, std::string("nohup ") + DEVSIM_PATH + " " + args + " >/dev/null 2>&1 &");
    }

    zeva::test::NetnsLab lab;
    std::string host, peer;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ZevaLib zeva;
    Reports reports;
    bool started = false;
};

TEST_F(Discovery, NewChangedSaltOnlyOfflineOnceAndNoDuplicates) {
    StartSdk(1);
    // Answers reach both ports and the relay: one report each all the same. Device 0 moves,
    // device 1 gets a new salt only, device 2 goes silent.
    StartDevsim("--devices 3 --reply both --seconds 30 --change-after 2:IPv4Address:0 --change-after 2:Salt:1 "
                "--silent-after 2:2");
    ASSERT_TRUE(WaitFor([&] { return reports.Count(Mac(2), 3) == 1; }, 15000)) << "no offline report";
    ASSERT_TRUE(WaitFor([&] { return reports.Count(Mac(0), 2) >= 1 && reports.Count(Mac(1), 2) >= 1; }));
    // Two more cycles: nothing new about the silent one.
    size_t before = reports.Total();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(1, reports.Count(Mac(n), 1)) << Mac(n) << " reported new once";
    EXPECT_EQ(1, reports.Count(Mac(0), 2));
    EXPECT_EQ(1, reports.Count(Mac(1), 2));
    EXPECT_EQ(1, reports.Count(Mac(2), 3));
    EXPECT_EQ(0, reports.Count(Mac(2), 2));
    EXPECT_EQ(before, reports.Total()) << "reports while nothing changed";
    std::lock_guard<std::mutex> guard(reports.lock);
    ASSERT_EQ(reports.fromOld.size(), reports.fromNew.size()) << "old and new callback alike";
    for (size_t i = 0; i < reports.fromOld.size(); ++i)
        EXPECT_EQ(reports.fromOld[i].mac, reports.fromNew[i].mac);
    for (const Report &r : reports.fromNew) {
        if (r.result == 3) {
            EXPECT_EQ("", r.ipv4) << "the offline record holds only serials and MAC";
        }
    }
}

TEST_F(Discovery, ClearupReportsEveryDeviceNewAgainAndSilentOnesComeBack) {
    StartSdk(1);
    StartDevsim("--devices 2 --seconds 30 --silent-after 1:1:4");
    ASSERT_TRUE(WaitFor([&] { return reports.Count(Mac(1), 3) == 1; }, 15000));
    // Back after its silence: new again (1) with its full record.
    ASSERT_TRUE(WaitFor([&] { return reports.Count(Mac(1), 1) == 2; }, 15000));
    ASSERT_EQ(1, zeva.ZEVA_Clearup());
    ASSERT_TRUE(WaitFor([&] { return reports.Count(Mac(0), 1) == 2 && reports.Count(Mac(1), 1) == 3; }));
}

// Hostile texts handed to ZEVA_ParseData: no crash and no report; a valid answer after them is.
TEST_F(Discovery, ParseDataRefusesHostileTextsAndReportsAValidAnswer) {
    StartSdk(0);
    const std::string answer = "<Probe><Types>hello</Types><MAC>02-aa-00-00-00-01</MAC><DeviceSN>SN</DeviceSN></Probe>";
    std::string deep;
    for (int i = 0; i < 1 << 17; ++i)
        deep += "<a>";
    std::string hiddenDeep;  // a megabyte whose closes a broken UTF-8 sequence hides from the parser
    while (hiddenDeep.size() < 1 << 20)
        hiddenDeep += "<a>\xF0</a>";
    const std::string hostile[] = {
        "not xml at all",
        "<Other><Types>hello</Types><MAC>02-aa-00-00-00-02</MAC></Other>",
        "<Probe><MAC>02-aa-00-00-00-03</MAC></Probe>",
        "<Probe><Types></Types><MAC>02-aa-00-00-00-04</MAC></Probe>",
        "<Probe><Types>hello</Types><DeviceSN>no MAC</DeviceSN></Probe>",
        "<Probe><Types>hel" + std::string(1, '\0') + "lo</Types><MAC>02-aa-00-00-00-05</MAC></Probe>",
        "<Probe><Types>hello</Types>" + deep + "<MAC>02-aa-00-00-00-06</MAC></Probe>",
        "<Probe><Types>hello</Types>" + hiddenDeep + "<MAC>02-aa-00-00-00-08</MAC></Probe>",
        "<Probe><Types>hello</Types><MAC>\xff\xfe" + std::string(200, 'M') + "</MAC></Probe>",
        "<Probe><Types>hello</Types><MAC>02-aa-00-00-00-07</MAC><SoftwareVersionEncrypt>" +
            std::string(10000, 'Q') + "</SoftwareVersionEncrypt></Probe>",
    };
    for (const std::string &text : hostile)
        EXPECT_EQ(1, zeva.ZEVA_ParseData(const_cast<char *>(text.data()), uint32_t(text.size())));
    // The over-long MAC is cut to its field and reported: every other text gives nothing.
    EXPECT_EQ(0, reports.Count("02-aa-00-00-00-02", 1) + reports.Count("02-aa-00-00-00-03", 1) +
                     reports.Count("02-aa-00-00-00-04", 1) + reports.Count("02-aa-00-00-00-05", 1) +
                     reports.Count("02-aa-00-00-00-06", 1) + reports.Count("02-aa-00-00-00-08", 1));
    EXPECT_EQ(1, reports.Count("02-aa-00-00-00-07", 1)) << "a version that does not decode keeps the plain one";
    ASSERT_EQ(1, zeva.ZEVA_ParseData(const_cast<char *>(answer.data()), uint32_t(answer.size())));
    EXPECT_EQ(1, reports.Count("02-aa-00-00-00-01", 1));
    ASSERT_EQ(1, zeva.ZEVA_ParseData(const_cast<char *>(answer.data()), uint32_t(answer.size())));
    EXPECT_EQ(1, reports.Count("02-aa-00-00-00-01", 1)) << "the same answer again is no news";
}

}  // namespace
