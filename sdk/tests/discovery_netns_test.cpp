// Discovery end to end: libZEVA.so in the host namespace, the device simulator in the peer. Every
// device is reported new once, changed when a field or only its salt changes, offline once after
// three missed inquiries, and new again after ZEVA_Clearup; duplicate answers (both ports, the
// local relay) give no extra report.
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "guard_page.h"
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
    ZEVA_DEVICE_INFO last{};
    int badUser = 0;

    static void Record(std::vector<Report> &into, ZEVA_DEVICE_INFO *dev, void *user) {
        Reports *self = static_cast<Reports *>(user);
        if (!self)
            return;
        std::lock_guard<std::mutex> guard(self->lock);
        self->last = *dev;
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

class Discovery : public HostPeerTest {
protected:
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
    // A host's buffer need not hold a zero: nothing past its size is read.
    const std::string unterminated = "<Probe><Types>hello</Types><MAC>02-aa-00-00-00-09</MAC></Probe>";
    GuardedBytes guarded(unterminated);
    ASSERT_NE(nullptr, guarded.data());
    ASSERT_EQ(1, zeva.ZEVA_ParseData(guarded.data(), uint32_t(unterminated.size())));
    EXPECT_EQ(1, reports.Count("02-aa-00-00-00-09", 1));
}

// Each report writes its record into the log: the line is the one the format below gives, byte
// for byte, for records with every support bit, none, and fields filled to their width.
TEST_F(Discovery, ReportLinesInTheLogFileShowTheRecord) {
    ScratchDir dir;
    std::string logDir = dir / "sdklog/";
    std::filesystem::create_directories(logDir);
    ASSERT_EQ(1, zeva.ZEVA_SetLogToFile(3, logDir.c_str(), 0)) << zeva.ZEVA_GetLastError();
    StartSdk(0);
    std::string every;
    for (const char *bit : {"supportIPv6", "supportModifyIPv6", "DHCPAbility", "Encrypt", "ResetAbility",
                            "PasswordResetAbility", "SyncIPCPassword", "PasswordResetModeSecond", "DeviceLock",
                            "SupportGUID", "SupportSecurityQuestion", "SupportBind", "SupportRestoreInactive",
                            "supportWifiEnhancement", "SupportChannelDefaultPassword", "SupportMailBox",
                            "supportSSIDAndPasswordCfg"})
        every += std::string("<") + bit + ">true</" + bit + ">";
    const std::string answers[] = {
        "<Probe><Types>hello</Types><MAC>02-aa-00-00-01-01</MAC><DeviceSN>S1</DeviceSN>" + every +
            "<DeviceType>4294967295</DeviceType><CommandPort>65535</CommandPort><HttpPort>80</HttpPort>"
            "<IPv4Address>10.77.1.201</IPv4Address><DeviceDescription>Cam \"one\" %s %n</DeviceDescription>"
            "<OEMCode>1</OEMCode><Activated>true</Activated></Probe>",
        "<Probe><Types>inquiry</Types><MAC>02-aa-00-00-01-02</MAC><DeviceSN>" + std::string(200, 'S') +
            "</DeviceSN><DeviceDescription>" + std::string(100, 'D') + "</DeviceDescription><IPv6Address>" +
            std::string(60, '6') + "</IPv6Address><IPv4Gateway>" + std::string(20, 'G') + "</IPv4Gateway></Probe>",
        "<Probe><Types>hello</Types><MAC>02-aa-00-00-01-03</MAC></Probe>",
    };
    for (const std::string &answer : answers) {
        ASSERT_EQ(1, zeva.ZEVA_ParseData(const_cast<char *>(answer.data()), uint32_t(answer.size())));
        ZEVA_DEVICE_INFO d;
        {
            std::lock_guard<std::mutex> guard(reports.lock);
            d = reports.last;
        }
        char line[1024];
        std::snprintf(
            line, sizeof line,
            "----Dev Online---byDataFromMulticast[%d] Adapter[%s] iResult:[%d] szIPv4Address[%.16s] "
            "szSerialNOEx[%.128s] szMAC[%.20s] bySupport[0x%x:0x%x:0x%x:0x%x:0x%x:0x%x:0x%x:0x%x] "
            "bySupport1[0x%x:0x%x:0x%x:0x%x:0x%x:0x%x:0x%x:0x%x] bySupport2[0x%x:0x%x:0x%x] dwDeviceType[%u] "
            "dwCmdPort[%u] szDevDesc[%.64s] szIPv4Gateway[%.16s] szIPv6Address[%.46s] byDhcpEnabled[%d] "
            "byDeviceAbility[%d] wHttpPort[%d] byOemCode[%d] byActivated[%d] byKWPlatform[%d] "
            "byEnableKWPlatform[%d] byTOVUKCode[%d] dwDetailOEMCode[%u] byModifyVerificationCode[%d] "
            "bySupportTovukUnbind[%d] byTOVUKBindStatus[%d]\r\n",
            d.byDataFromMulticast, kHostAddr, d.iResult, d.szIPv4Address, d.szSerialNOEx, d.szMAC,
            d.bySupport & 0x01, d.bySupport & 0x02, d.bySupport & 0x04, d.bySupport & 0x08, d.bySupport & 0x10,
            d.bySupport & 0x20, d.bySupport & 0x40, d.bySupport & 0x80, d.bySupport1 & 0x01, d.bySupport1 & 0x02,
            d.bySupport1 & 0x04, d.bySupport1 & 0x08, d.bySupport1 & 0x10, d.bySupport1 & 0x20, d.bySupport1 & 0x40,
            d.bySupport1 & 0x80, d.bySupport2 & 0x01, d.bySupport2 & 0x02, d.bySupport2 & 0x04, d.dwDeviceType,
            d.dwCmdPort, d.szDevDesc, d.szIPv4Gateway, d.szIPv6Address, d.byDhcpEnabled, d.byDeviceAbility,
            d.wHttpPort, d.byOemCode, d.byActivated, d.byKWPlatform, d.byEnableKWPlatform, d.byTOVUKCode,
            d.dwDetailOEMCode, d.byModifyVerificationCode, d.bySupportTovukUnbind, d.byTOVUKBindStatus);
        auto logged = [&] {
            std::string all;
            for (const auto &file : std::filesystem::directory_iterator(logDir))
                all += ReadFile(file.path());
            return all;
        };
        EXPECT_TRUE(WaitFor([&] { return logged().find(line) != std::string::npos; }, 10000)) << line;
    }
}

// Inquiries devsim heard, from the JSON lines of its log (each inquiry reaches both ports).
int InquiriesHeard(const std::string &log) {
    std::string text = ReadFile(log);
    int n = 0;
    for (size_t at = 0; (at = text.find("\"type\": \"inquiry\"", at)) != std::string::npos; ++at)
        ++n;
    return n;
}

TEST_F(Discovery, UnicastRepliesGiveOneReportPerDevice) {
    ScratchDir dir;
    StartDevsim("--devices 3 --reply sender --no-hello --seconds 30 --log " + dir / "devsim.jsonl");
    StartSdk(1);
    ASSERT_TRUE(WaitFor([&] { return reports.Total() >= 3; }, 15000));
    int heard = InquiriesHeard(dir / "devsim.jsonl");
    ASSERT_TRUE(WaitFor([&] { return InquiriesHeard(dir / "devsim.jsonl") >= heard + 4; }, 15000));
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(1, reports.Count(Mac(n), 1)) << Mac(n);
    EXPECT_EQ(3u, reports.Total()) << "answers to both sockets and the relay are one device";
}

TEST_F(Discovery, TwoAdaptersReportEachDeviceOnce) {
    std::string peer2 = lab.Add("peer2");
    lab.Veth(host, "h2", "10.77.2.1/24", peer2, "q0", "10.77.2.2/24");
    ScratchDir dir;
    StartDevsim("--devices 3 --seconds 30 --reply both --log " + dir / "devsim.jsonl");
    lab.Exec(peer2, std::string("nohup ") + DEVSIM_PATH +
                        " --devices 3 --first 8 --reply both --seconds 30 >/dev/null 2>&1 &");
    StartSdk(1);
    ASSERT_TRUE(WaitFor([&] { return reports.Total() >= 6; }, 15000));
    int heard = InquiriesHeard(dir / "devsim.jsonl");
    ASSERT_TRUE(WaitFor([&] { return InquiriesHeard(dir / "devsim.jsonl") >= heard + 4; }, 15000));
    for (int n : {0, 1, 2, 8, 9, 10})
        EXPECT_EQ(1, reports.Count(Mac(n), 1)) << Mac(n);
    EXPECT_EQ(6u, reports.Total());
}

// Each rule against fresh devices (new MACs, so nothing of an earlier rule counts): five kinds
// announced by hello on port 35090 alone, which one receive thread takes in order, then the same
// five again. Once the second copy of every kind the rule passes is reported, the first copies
// have all been decided.
TEST_F(Discovery, FilterRulesAgainstAnnouncedDevices) {
    enum { PLAIN, CS, TOVUK, OEM7, TV, KINDS };
    const char *kinds[] = {"", "DeviceDescription=CS-C6", "TOVUKCode=true", "OEMCode=true", "DeviceSN=TVx-0001"};
    const struct {
        int rule;
        uint32_t detail;
        int reported[KINDS];
    } table[] = {
        {0, 0, {1, 1, 1, 1, 0}},  {1, 0, {1, 0, 0, 1, 0}},  {2, 0, {1, 1, 1, 0, 0}},
        {3, 0, {1, 0, 0, 0, 0}},  {-2, 0, {0, 1, 1, 0, 0}}, {-3, 0, {0, 0, 0, 1, 0}},
        {-3, 7, {0, 0, 0, 1, 0}}, {-3, 8, {0, 0, 0, 0, 0}},
    };
    StartSdk(0);
    int first = 0;
    for (const auto &row : table) {
        SCOPED_TRACE("rule " + std::to_string(row.rule) + " detail " + std::to_string(row.detail));
        uint8_t detail[36] = {uint8_t(row.detail)};
        ASSERT_EQ(1, zeva.ZEVA_SetDeviceFilterRule(row.rule, detail, sizeof detail));
        std::string args = "--devices " + std::to_string(2 * KINDS) + " --first " + std::to_string(first) +
                           " --reply 35090 --seconds 10 --field-of 3,8:DetailOEMCode=7";
        for (int k = 1; k < KINDS; ++k)
            args += " --field-of " + std::to_string(k) + "," + std::to_string(k + KINDS) + ":" + kinds[k];
        StartDevsim(args);
        int expected = 0;
        for (int k = 0; k < KINDS; ++k)
            expected += row.reported[k];
        ASSERT_TRUE(WaitFor([&] {
            int seen = 0;
            for (int k = 0; k < KINDS; ++k)
                seen += row.reported[k] && reports.Count(Mac(first + KINDS + k), 1) == 1;
            return seen == expected;
        }, 30000));
        for (int k = 0; k < KINDS; ++k)
            EXPECT_EQ(row.reported[k], reports.Count(Mac(first + k), 1)) << "kind " << k;
        first += 2 * KINDS;
    }
}

}  // namespace
