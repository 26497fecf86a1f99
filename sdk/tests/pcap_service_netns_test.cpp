// The service's raw-frame path across a veth pair: a service started with its capture open sends
// the inquiry, modify and reset frames and answers online frames; a Python peer on an AF_PACKET
// socket sends device frames (valid and hostile) and captures what arrives; the device simulator
// answers as a device would.
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "frame_test_util.h"
#include "module/device/Service.h"
#include "sdk_netns_util.h"

using namespace ZEVA;
using namespace sdktest;

namespace {

const uint8_t kHostMac[6] = {0x02, 0x7a, 0x00, 0x00, 0x01, 0x01};
const uint8_t kPeerMac[6] = {0x02, 0x7a, 0x00, 0x00, 0x01, 0x02};
const uint8_t kPeerIp[4] = {10, 77, 1, 2};
const char *kPeerMacText = "02-7a-00-00-01-02";

struct Listed {
    std::string mac, serial;
    uint8_t fromMulticast;
};

struct Listing {
    std::mutex lock;
    std::vector<Listed> seen;

    static void Record(ZEVA_DEVICE_INFO *dev, void *user) {
        Listing *self = static_cast<Listing *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->seen.push_back({std::string(dev->szMAC, strnlen(dev->szMAC, sizeof dev->szMAC)),
                              std::string(dev->szSerialNO, strnlen(dev->szSerialNO, sizeof dev->szSerialNO)),
                              dev->byDataFromMulticast});
    }
    bool Has(const std::string &mac, uint8_t fromMulticast = 0) {
        std::lock_guard<std::mutex> guard(lock);
        for (const Listed &l : seen)
            if (l.mac == mac && l.fromMulticast == fromMulticast)
                return true;
        return false;
    }
    std::vector<Listed> All() {
        std::lock_guard<std::mutex> guard(lock);
        return seen;
    }
};

Bytes DeviceMac(int n) { return {0x02, 0x7a, 0x00, 0x00, 0x02, static_cast<uint8_t>(n)}; }

std::string MacText(const Bytes &mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

// A device's frame with its own sender MAC (also as the Ethernet source) and the extended block.
Bytes FromDevice(const Bytes &mac, uint8_t op, uint8_t sub, uint32_t seq) {
    static const Bytes ext(152, 0);
    return DeviceFrame(kBroadcast, mac.data(), op, sub, seq, kPeerIp, 208, &ext);
}

class PcapService : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        AddHostAndPeer(lab, host, peer);
        lab.Ip(host, "link set h1 address 02:7a:00:00:01:01");
        lab.Ip(peer, "link set p0 address 02:7a:00:00:01:02");
        lab.AddAddr(host, "h1", "fd00:77::1/64");
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
        ctrl = CGlobalCtrl::GetInstance();
        ASSERT_EQ(1, ctrl->SetLogParam(3, dir.Path().c_str(), 0));
        ASSERT_EQ(1, ctrl->Init(Listing::Record, Listing::Record, nullptr, &listing));
        service = std::make_unique<CService>(0);
        ASSERT_EQ(1, service->Start(0, 1));
        capture = dir.Path() + "frames";
        lab.Exec(peer, std::string("nohup python3 ") + FRAME_PEER_PY + " capture p0 " + capture +
                           " 120 >/dev/null 2>&1 &");
        ASSERT_TRUE(WaitFor([&] { return FileExists(capture + ".ready"); }, 30000));
    }
    void TearDown() override {
        if (!ctrl)
            return;
        service.reset();
        ctrl->Fini();
    }

    void Send(const std::vector<Bytes> &frames) {
        std::string args;
        for (const Bytes &f : frames)
            args += " " + Hex(f);
        ASSERT_EQ(0, lab.Exec(peer, std::string("python3 ") + FRAME_PEER_PY + " send p0" + args).status);
    }
    // The n-th frame (from 0) that reached the peer, waiting for it.
    Bytes Captured(size_t n) {
        std::vector<std::string> lines;
        WaitFor(
            [&] {
                lines.clear();
                std::ifstream in(capture);
                for (std::string line; std::getline(in, line);)
                    lines.push_back(line);
                return lines.size() > n;
            },
            30000);
        return lines.size() > n ? FromHex(lines[n]) : Bytes();
    }
    // Waits until the frame reader has handled everything sent before: a fresh device is listed.
    void Drain(int n) {
        Send({FromDevice(DeviceMac(n), PCAP_OP_INQUIRY_ANSWER, 0, 1)});
        ASSERT_TRUE(WaitFor([&] { return listing.Has(MacText(DeviceMac(n))); }, 30000));
    }
    static void CheckHeader(const Bytes &f, uint8_t op, uint8_t sub, const uint8_t *dst) {
        ASSERT_GE(f.size(), 80u);
        EXPECT_EQ(Bytes(dst, dst + 6), Bytes(f.begin(), f.begin() + 6));
        EXPECT_EQ(Bytes(kHostMac, kHostMac + 6), Bytes(f.begin() + 6, f.begin() + 12));
        EXPECT_EQ((Bytes{0x80, 0x33, 0x21, 2, 1, 66}), Bytes(f.begin() + 12, f.begin() + 18));
        EXPECT_EQ((Bytes{6, 4, op, sub}), Bytes(f.begin() + 22, f.begin() + 26));
        Bytes covered(f.begin() + 14, f.begin() + 80);
        covered[12] = covered[13] = 0;
        EXPECT_EQ(OnesComplement(covered.data(), 66), GetBE(f, 26, 2));
        EXPECT_EQ((Bytes{10, 77, 1, 1}), Bytes(f.begin() + 34, f.begin() + 38));
    }

    zeva::test::NetnsLab lab;
    std::string host, peer, capture;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ScratchDir dir;
    Listing listing;
    CGlobalCtrl *ctrl = nullptr;
    std::unique_ptr<CService> service;
};

TEST_F(PcapService, InquiryFrameGoesToEveryDeviceWithTheAdaptersIPv6) {
    EXPECT_EQ(1, service->SendInquiry());
    Bytes f = Captured(0);
    ASSERT_EQ(80u, f.size());
    CheckHeader(f, PCAP_OP_INQUIRY, 0, kBroadcast);
    EXPECT_EQ(Bytes(8, 0), Bytes(f.begin() + 44, f.begin() + 52));
    Bytes ipv6 = {0xfd, 0x00, 0x00, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    ipv6.resize(28);
    EXPECT_EQ(ipv6, Bytes(f.begin() + 52, f.end()));
}

TEST_F(PcapService, OnlineFrameIsAnsweredAndListedAnInquiryAnswerOnlyListed) {
    Bytes online = FromDevice(DeviceMac(1), PCAP_OP_ONLINE, 0, 4242);
    Send({online});
    Bytes reply = Captured(0);
    ASSERT_EQ(52u + 108, reply.size());  // (246 + 156) mod 256 - 38 bytes echoed
    CheckHeader(reply, PCAP_OP_ONLINE_REPLY, 2, DeviceMac(1).data());
    EXPECT_EQ(4242u, GetBE(reply, 18, 4));
    EXPECT_EQ((Bytes{10, 77, 1, 2, 10, 77, 1, 2}), Bytes(reply.begin() + 44, reply.begin() + 52));
    EXPECT_EQ(Bytes(online.begin() + 52, online.begin() + 160), Bytes(reply.begin() + 52, reply.end()));
    ASSERT_TRUE(WaitFor([&] { return listing.Has(MacText(DeviceMac(1))); }, 30000));

    Send({FromDevice(DeviceMac(2), PCAP_OP_INQUIRY_ANSWER, 0, 7), FromDevice(DeviceMac(1), PCAP_OP_ONLINE, 0, 4243)});
    ASSERT_TRUE(WaitFor([&] { return listing.Has(MacText(DeviceMac(2))); }, 30000));
    EXPECT_EQ(4243u, GetBE(Captured(1), 18, 4));  // the next reply: none went to the inquiry answer
}

TEST_F(PcapService, ModifyAndResetFramesAndTheirAnswersBySequence) {
    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.77.1.50");
    std::strcpy(net.szIPv4SubNetMask, "255.255.0.0");
    std::strcpy(net.szIPv4Gateway, "10.77.1.254");
    std::strcpy(net.szIPv6Address, "fd00:77::50");
    std::strcpy(net.szIPv6Gateway, "fd00:77::fe");
    net.wCmdPort = 8000;
    net.byIPv6MaskLen = 64;
    net.byDhcpEnable = 1;
    net.wHttpPort = 8080;
    ASSERT_EQ(1, service->ModifyNetParamByPcap(kPeerMacText, "pw12345", &net));
    Bytes m = Captured(0);
    ASSERT_EQ(52u + 184, m.size());
    CheckHeader(m, PCAP_OP_MODIFY, 0, kPeerMac);
    EXPECT_EQ((Bytes{10, 77, 1, 50, 255, 255, 0, 0}), Bytes(m.begin() + 44, m.begin() + 52));
    Bytes block(m.begin() + 52, m.end());
    FILE *md5 = popen("printf %s pw12345 | openssl dgst -md5 -r", "r");
    char hex[33] = {};
    ASSERT_TRUE(md5 && std::fread(hex, 1, 32, md5) == 32);
    pclose(md5);
    EXPECT_EQ(FromHex(hex), Bytes(block.begin(), block.begin() + 16));
    EXPECT_EQ(8000u, GetBE(block, 16, 4));
    EXPECT_EQ((Bytes{0x02, 156}), Bytes(block.begin() + 28, block.begin() + 30));
    Bytes inner(block.begin() + 28, block.end());
    inner[2] = inner[3] = 0;
    EXPECT_EQ(OnesComplement(inner.data(), 156), GetBE(block, 30, 2));
    EXPECT_EQ((Bytes{10, 77, 1, 254}), Bytes(block.begin() + 32, block.begin() + 36));
    EXPECT_EQ(0xfd, block[36]);
    EXPECT_EQ(0x50, block[51]);
    EXPECT_EQ(0xfe, block[67]);
    EXPECT_EQ((Bytes{64, 0, 1}), Bytes(block.begin() + 68, block.begin() + 71));
    EXPECT_EQ(8080u, GetBE(block, 100, 2));
    uint32_t seq = GetBE(m, 18, 4);

    struct Answer {
        uint8_t sub;
        int32_t code;
        uint32_t lastError;
    } answers[] = {{2, 1, 0}, {1, 0, 2009}, {3, 2, 2018}};
    for (const Answer &a : answers) {
        ctrl->SetDevResponse(-1);
        Send({FromDevice(DeviceMac(0), PCAP_OP_MODIFY_ANSWER, a.sub, seq)});
        EXPECT_TRUE(WaitFor([&] { return ctrl->GetDevResponse() == a.code; }, 30000)) << int(a.sub);
        ctrl->ParseDevResponse();
        EXPECT_EQ(a.lastError, CGlobalCtrl::GetThreadLastError()) << int(a.sub);
    }
    ctrl->SetDevResponse(-1);
    Send({FromDevice(DeviceMac(0), PCAP_OP_MODIFY_ANSWER, 2, seq + 1000)});
    Drain(20);
    EXPECT_EQ(-1, ctrl->GetDevResponse());

    ZEVA_RESET_PARAM reset{};
    std::strcpy(reset.szCode, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    ASSERT_EQ(1, service->ResetPasswordEthernet(kPeerMacText, "10.77.1.2", "255.255.255.0", &reset));
    Bytes r = Captured(1);
    ASSERT_EQ(80u, r.size());
    CheckHeader(r, PCAP_OP_RESET, 0, kPeerMac);
    EXPECT_EQ((Bytes{10, 77, 1, 2, 255, 255, 255, 0}), Bytes(r.begin() + 44, r.begin() + 52));
    Bytes code(reinterpret_cast<const uint8_t *>("ABCDEFGHIJKLMNOP"), reinterpret_cast<const uint8_t *>("ABCDEFGHIJKLMNOP") + 16);
    code.resize(28);
    EXPECT_EQ(code, Bytes(r.begin() + 52, r.end()));
    EXPECT_GT(GetBE(r, 18, 4), seq);
    for (auto [sub, codeWanted] : {std::pair<uint8_t, int32_t>{1, 1}, {2, 0}}) {
        ctrl->SetDevResponse(-1);
        Send({FromDevice(DeviceMac(0), PCAP_OP_RESET_ANSWER, sub, GetBE(r, 18, 4))});
        EXPECT_TRUE(WaitFor([&] { return ctrl->GetDevResponse() == codeWanted; }, 30000)) << int(sub);
    }

    EXPECT_EQ(0, service->ModifyNetParamByPcap(kPeerMacText, "seventeen-chars-x", &net));
    EXPECT_EQ(ZEVA_ERR_PARAM, CGlobalCtrl::GetThreadLastError());
}

// Each hostile frame comes from a device MAC of its own: none may be listed or answered, and a
// valid frame afterwards still is.
TEST_F(PcapService, HostileFramesFromThePeerAreDroppedAndTheReaderGoesOn) {
    std::vector<Bytes> hostile;
    auto add = [&](int n, uint8_t op, void (*change)(Bytes &)) {
        Bytes f = FromDevice(DeviceMac(n), op, 0, 100 + n);
        change(f);
        hostile.push_back(f);
    };
    add(1, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[17] = 0; Seal(f); });
    add(2, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[17] = 11; Seal(f); });
    add(3, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[17] = 255; Seal(f); });
    add(4, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[261] = 255; });
    add(5, PCAP_OP_ONLINE, [](Bytes &f) { f[17] = 37; Seal(f); f[261] = 0; });               // reply length below 0
    add(6, PCAP_OP_ONLINE, [](Bytes &f) { f[261] = 2; });                                    // 210: past 208
    add(7, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f.resize(79); });
    add(8, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f.resize(501); });
    add(9, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[12] = 0x08; f[13] = 0x00; });
    add(10, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[14] = 0x22; Seal(f); });
    add(11, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f.resize(80); });                          // covers 246 of 66 bytes
    add(12, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[30] ^= 0x40; });                         // bad checksum
    add(13, PCAP_OP_INQUIRY_ANSWER, [](Bytes &f) { f[0] = 0x02; });                           // to another device
    Send(hostile);
    Drain(30);
    for (const Listed &l : listing.All())
        EXPECT_EQ(MacText(DeviceMac(30)), l.mac);

    Send({FromDevice(DeviceMac(31), PCAP_OP_ONLINE, 0, 5)});
    ASSERT_EQ(5u, GetBE(Captured(0), 18, 4));  // the first answer that went out
    Bytes f416 = FromDevice(DeviceMac(32), PCAP_OP_INQUIRY_ANSWER, 0, 9);
    Bytes f417 = f416;
    f417.push_back(0);
    f417[11] = f417[33] = 0x33;  // 417 bytes: no extended block, still a device
    Seal(f417);
    Send({f416, f417});
    EXPECT_TRUE(WaitFor([&] { return listing.Has(MacText(DeviceMac(32))) && listing.Has(MacText(DeviceMac(0x33))); },
                        30000));
}

TEST_F(PcapService, AgainstTheDeviceSimulator) {
    std::string log = dir.Path() + "devsim.jsonl";
    lab.Exec(peer, std::string("nohup ") + DEVSIM_PATH + " --frames --interface p0 --log " + log +
                       " >/dev/null 2>&1 &");
    auto heard = [&](const std::string &what) {
        return WaitFor(
            [&] {
                std::ifstream in(log);
                for (std::string line; std::getline(in, line);)
                    if (line.find("\"event\": \"frame\"") != std::string::npos && line.find(what) != std::string::npos)
                        return true;
                return false;
            },
            30000);
    };
    // Its online frame at start is answered, and the inquiry frame reaches it.
    EXPECT_TRUE(heard("\"op\": 2, \"sub\": 2"));
    const std::string device = "02-d5-00-00-00-00";
    EXPECT_EQ(1, service->SendInquiry());
    EXPECT_TRUE(heard("\"op\": 3, \"sub\": 0"));
    ASSERT_TRUE(WaitFor([&] { return listing.Has(device, 0) || listing.Has(device, 1); }, 30000));

    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.77.1.160");
    std::strcpy(net.szIPv4SubNetMask, "255.255.255.0");
    struct Case {
        const char *password;
        int32_t code;
    } cases[] = {{"wrong", 0}, {"Sim12345", 1}};
    for (const Case &c : cases) {
        ctrl->SetDevResponse(-1);
        ASSERT_EQ(1, service->ModifyNetParamByPcap(device.c_str(), c.password, &net));
        EXPECT_TRUE(WaitFor([&] { return ctrl->GetDevResponse() == c.code; }, 30000)) << c.password;
    }
    ZEVA_RESET_PARAM reset{};
    for (auto [code, wanted] : {std::pair<const char *, int32_t>{"RC9999999999", 0}, {"RC0000000000", 1}}) {
        std::strcpy(reset.szCode, code);
        ctrl->SetDevResponse(-1);
        ASSERT_EQ(1, service->ResetPasswordEthernet(device.c_str(), "10.77.1.160", "255.255.255.0", &reset));
        EXPECT_TRUE(WaitFor([&] { return ctrl->GetDevResponse() == wanted; }, 30000)) << code;
    }
}

}  // namespace
