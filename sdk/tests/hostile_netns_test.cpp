// Hostile datagrams from the peer namespace to every socket a service reads (the group on ports
// 37020 and 35090, which 37020 relays on, and the subnet socket): no crash, no report of a text
// that is no answer, fields cut to their width, and valid answers sent after them still reported.
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;

namespace {

struct Seen {
    std::mutex lock;
    std::vector<ZEVA_DEVICE_INFO> devices;
    std::vector<ZEVA_SUBNET_DEVICE_INFO> subnets;

    static void Device(ZEVA_DEVICE_INFO *dev, void *user) {
        Seen *self = static_cast<Seen *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->devices.push_back(*dev);
    }
    static void Subnet(ZEVA_SUBNET_DEVICE_INFO *dev, void *user) {
        Seen *self = static_cast<Seen *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->subnets.push_back(*dev);
    }
    // Reports of devices whose MAC begins with the prefix.
    int Count(const std::string &prefix) {
        std::lock_guard<std::mutex> guard(lock);
        int n = 0;
        for (const ZEVA_DEVICE_INFO &d : devices)
            n += std::string(d.szMAC, strnlen(d.szMAC, sizeof d.szMAC)).rfind(prefix, 0) == 0;
        return n;
    }
    bool SubnetSeen(const std::string &serial) {
        std::lock_guard<std::mutex> guard(lock);
        for (const ZEVA_SUBNET_DEVICE_INFO &d : subnets)
            if (std::string(d.szSerialNOEx, strnlen(d.szSerialNOEx, sizeof d.szSerialNOEx)) == serial)
                return true;
        return false;
    }
};

std::string Hello(const std::string &inner) { return "<Probe><Types>hello</Types>" + inner + "</Probe>"; }

std::string Repeat(const std::string &piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(HostileDatagrams, NoCrashNoFalseReportAndValidAnswersAfterThem) {
    zeva::test::NetnsLab lab;
    if (!lab.usable())
        GTEST_SKIP() << "network namespaces need root and iproute2";
    std::string host, peer;
    AddHostAndPeer(lab, host, peer);
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();

    const struct {
        const char *why;
        std::string text;
        int reports;  // of the MAC prefix "bad-" or the row's own
        const char *mac;
    } rows[] = {
        {"not XML", "not xml at all <<<>>> <MAC>bad-00</MAC>", 0, "bad-00"},
        {"wrong root", "<Other><Types>hello</Types><MAC>bad-01</MAC></Other>", 0, "bad-01"},
        {"no Types", "<Probe><MAC>bad-02</MAC></Probe>", 0, "bad-02"},
        {"empty Types", "<Probe><Types></Types><MAC>bad-03</MAC></Probe>", 0, "bad-03"},
        {"64 KiB, cut by the receive buffer", Hello(std::string(65000, 'x') + "<MAC>bad-04</MAC>"), 0, "bad-04"},
        {"deep nesting", Hello(Repeat("<a>", 3000) + "<MAC>bad-05</MAC>"), 0, "bad-05"},
        {"nesting behind broken UTF-8", Hello(Repeat("<a>\xF0</a>", 1000) + "<MAC>bad-06</MAC>"), 0, "bad-06"},
        {"zero byte in the type", "<Probe><Types>hel" + std::string(1, '\0') + "lo</Types><MAC>bad-07</MAC></Probe>",
         0, "bad-07"},
        {"invalid UTF-8 in the type", "<Probe><Types>hello\xff</Types><MAC>bad-08</MAC></Probe>", 0, "bad-08"},
        {"MAC of 200 characters", Hello("<MAC>wide-" + std::string(195, 'M') + "</MAC>"), 1, "wide-"},
        {"invalid UTF-8 in a field", Hello("<MAC>utf8-\xff\xfe\xc3x</MAC><DeviceSN>\xf4\x90zz</DeviceSN>"), 1, "utf8-"},
        {"a broken UTF-8 sequence that swallows the close tag", Hello("<MAC>bad-10\xc3</MAC>"), 0, "bad-10"},
        {"10 KB Base64 version", Hello("<MAC>b64-0</MAC><SoftwareVersion>V1</SoftwareVersion><SoftwareVersionEncrypt>" +
                                       std::string(10000, 'Q') + "</SoftwareVersionEncrypt>"),
         1, "b64-0"},
        {"subnet answer with fields over their width",
         "<Probe><Types>inquiry_v32</Types><DeviceSN>" + std::string(300, 'S') + "</DeviceSN><IPv4Address>" +
             std::string(40, '9') + "</IPv4Address><DeviceType>99999999999999</DeviceType></Probe>",
         0, "bad-09"},
    };
    ScratchDir dir;
    zeva::test::Sh("mkdir -p " + dir / "payloads");
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        WriteFile(dir / ("payloads/" + std::to_string(100 + i)), rows[i].text);
    WriteFile(dir / "hello", Hello("<MAC>good-1</MAC><DeviceSN>GOOD</DeviceSN>"));
    WriteFile(dir / "subnet", "<Probe><Types>inquiry_v32</Types><DeviceSN>GOOD-SUBNET</DeviceSN></Probe>");

    Seen seen;
    ZevaLib zeva;
    zeva.ZEVA_SetAutoRequestInterval(0);
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, Seen::Device, Seen::Subnet, &seen));
    struct Stopper {
        ZevaLib &zeva;
        ~Stopper() { zeva.ZEVA_Stop(); }
    } stopper{zeva};
    StartPeer(lab, peer, "hostile " + dir.Path() + " " + kPeerAddr);
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "ready"); }, 30000));
    // One subnet inquiry shows the peer where the subnet socket is.
    ZEVA_SUBNET_INFO range{};
    std::string(kPeerAddr).copy(range.szStartSubnetIP, sizeof range.szStartSubnetIP);
    std::string(kPeerAddr).copy(range.szEndSubnetIP, sizeof range.szEndSubnetIP);
    ASSERT_EQ(1, zeva.ZEVA_InquirySpecificSubnet(&range));
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "done"); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return seen.Count("good-1") == 1 && seen.SubnetSeen("GOOD-SUBNET"); }, 30000))
        << "valid answers after the hostile ones";

    for (const auto &row : rows)
        EXPECT_EQ(row.reports, seen.Count(row.mac)) << row.why;
    std::lock_guard<std::mutex> guard(seen.lock);
    for (const ZEVA_DEVICE_INFO &d : seen.devices) {
        std::string mac(d.szMAC, strnlen(d.szMAC, sizeof d.szMAC));
        if (mac.rfind("wide-", 0) == 0) {
            EXPECT_EQ("wide-" + std::string(sizeof d.szMAC - 5, 'M'), mac) << "cut to its field";
        }
    }
}

}  // namespace
