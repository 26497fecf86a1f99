// The frame codec as tables: frames built (lengths, header fields, checksums computed by the
// test's own code), frames parsed (accepted, ignored, hostile) and the device record they give.
// It runs in a namespace of its own so that the adapter table holds one known adapter.
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "frame_test_util.h"
#include "log_capture.h"
#include "module/adapter/AdapterInfo.h"
#include "module/protocol/PcapProtocol.h"

using namespace ZEVA;
using namespace sdktest;

namespace {

const uint8_t kOwnMac[6] = {0x02, 0x7a, 0x00, 0x00, 0x00, 0x01};
const uint8_t kPeerMac[6] = {0x02, 0x7a, 0x00, 0x00, 0x00, 0x02};
const uint8_t kForeignMac[6] = {0x02, 0x7a, 0x00, 0x00, 0x00, 0x09};
const uint8_t kPeerIp[4] = {10, 77, 1, 2};

class PcapCodec : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        host = lab.Add("host");
        std::string peer = lab.Add("peer");
        lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
        lab.Ip(host, "link set h1 address 02:7a:00:00:00:01");
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
        CAdapterInfo::DestroyInstance();
        ASSERT_EQ(1, CAdapterInfo::GetInstance()->GetAdapterNum());
        ASSERT_EQ(1, Morva_Init());
        ASSERT_EQ(1, Morva_SetLogFile(3, dir.Path().c_str(), 0));
        log = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        if (!log)
            return;
        log.reset();
        Morva_Fini();
        CAdapterInfo::DestroyInstance();
    }

    Bytes Package(const char *dst, const char *ip1, const char *ip2, uint8_t op, uint32_t seq, const Bytes &data) {
        Bytes out(FRAME_BUFFER_LEN);
        uint32_t len =
            codec.PackageData(dst, ip1, ip2, op, 0, seq, data.data(), static_cast<uint32_t>(data.size()), 0, out.data());
        out.resize(len);
        return out;
    }

    zeva::test::NetnsLab lab;
    std::string host;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ScratchDir dir;
    std::unique_ptr<LogCapture> log;
    CPcapProtocol codec;
};

TEST(PcapChecksum, WordsTakeTheirFirstByteAsLowAndGoOutMostSignificantFirst) {
    const uint8_t example[] = {0x01, 0x02};
    EXPECT_EQ(0xFDFE, CPacketSender::CheckSum(example, 2));
    uint8_t all[255];
    for (int i = 0; i < 255; ++i)
        all[i] = static_cast<uint8_t>(0xff - i);
    for (uint32_t n : {0u, 1u, 66u, 156u, 255u})
        EXPECT_EQ(OnesComplement(all, n), CPacketSender::CheckSum(all, n)) << n;
}

TEST_F(PcapCodec, SentFramesArePaddedToEightyBytesAndCarryTheirHeader) {
    struct Case {
        size_t dataLen;
        uint32_t frameLen;
    } cases[] = {{0, 80}, {27, 80}, {28, 80}, {29, 81}, {184, 236}, {460, 512}};
    for (const Case &c : cases) {
        Bytes data(c.dataLen, 0xA5);
        Bytes f = Package("02-7A-00-00-00-02", "10.77.1.2", "255.255.255.0", PCAP_OP_MODIFY, 0x01020304, data);
        ASSERT_EQ(c.frameLen, f.size()) << c.dataLen;
        EXPECT_EQ(Bytes(kPeerMac, kPeerMac + 6), Bytes(f.begin(), f.begin() + 6));
        EXPECT_EQ(Bytes(kOwnMac, kOwnMac + 6), Bytes(f.begin() + 6, f.begin() + 12));
        EXPECT_EQ((Bytes{0x80, 0x33, 0x21, 2, 1, 66, 1, 2, 3, 4, 6, 4, PCAP_OP_MODIFY, 0}),
                  Bytes(f.begin() + 12, f.begin() + 26));
        EXPECT_EQ(Bytes(kOwnMac, kOwnMac + 6), Bytes(f.begin() + 28, f.begin() + 34));
        EXPECT_EQ((Bytes{10, 77, 1, 1}), Bytes(f.begin() + 34, f.begin() + 38));
        EXPECT_EQ(Bytes(kPeerMac, kPeerMac + 6), Bytes(f.begin() + 38, f.begin() + 44));
        EXPECT_EQ((Bytes{10, 77, 1, 2, 255, 255, 255, 0}), Bytes(f.begin() + 44, f.begin() + 52));
        Bytes covered(f.begin() + 14, f.begin() + 80);
        covered[12] = covered[13] = 0;
        EXPECT_EQ(OnesComplement(covered.data(), 66), GetBE(f, 26, 2));
        EXPECT_EQ(0x01020304u, codec.GetLastSequence(PCAP_OP_MODIFY));
    }
    Bytes big(461);
    EXPECT_EQ(0u, codec.PackageData("ff-ff-ff-ff-ff-ff", "", "", 3, 0, 1, big.data(), 461, 0, big.data()));
}

TEST_F(PcapCodec, AddressTextsThatDoNotParseKeepTheLastAddress) {
    struct Case {
        const char *ip1, *ip2;
        Bytes fields;
    } cases[] = {
        {"", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"10.77.1.2", "", {10, 77, 1, 2, 10, 77, 1, 2}},
        {"bad", "1.2.3.4", {0, 0, 0, 0, 1, 2, 3, 4}},
    };
    for (const Case &c : cases) {
        Bytes f = Package("ff-ff-ff-ff-ff-ff", c.ip1, c.ip2, PCAP_OP_INQUIRY, 7, {});
        ASSERT_EQ(80u, f.size());
        EXPECT_EQ(Bytes(kBroadcast, kBroadcast + 6), Bytes(f.begin(), f.begin() + 6));
        EXPECT_EQ(c.fields, Bytes(f.begin() + 44, f.begin() + 52)) << c.ip1 << " " << c.ip2;
    }
    EXPECT_EQ(7u, codec.GetLastSequence(PCAP_OP_INQUIRY));
    EXPECT_EQ(0u, codec.GetLastSequence(PCAP_OP_ONLINE_REPLY));
}

// Every frame below starts as a valid broadcast online frame and is then changed.
TEST_F(PcapCodec, HostileAndForeignFramesAreDroppedAndOnlyChecksumErrorsLogged) {
    Bytes ext(152, 0x11);
    struct Case {
        const char *name;
        std::function<void(Bytes &)> change;
        int accepted;
    } cases[] = {
        {"valid", [](Bytes &) {}, 1},
        {"own MAC", [](Bytes &f) { std::copy(kOwnMac, kOwnMac + 6, f.begin()); }, 1},
        {"foreign MAC", [](Bytes &f) { std::copy(kForeignMac, kForeignMac + 6, f.begin()); }, 0},
        {"other EtherType", [](Bytes &f) { f[13] = 0x00; }, 0},
        {"wrong magic", [](Bytes &f) { f[14] = 0x22; Seal(f); }, 0},
        {"checksum length 0", [](Bytes &f) { f[17] = 0; Seal(f); }, 0},
        {"checksum length 11", [](Bytes &f) { f[17] = 11; Seal(f); }, 0},
        {"checksum length 12", [](Bytes &f) { f[17] = 12; Seal(f); }, 1},
        {"checksum length 255", [](Bytes &f) { f[17] = 255; Seal(f); }, 0},
        {"checksum past the data", [](Bytes &f) { f.resize(90); f[17] = 39 + 38; Seal(f); }, 0},
        {"extended length 255", [](Bytes &f) { f[261] = 255; }, 0},
        {"extended length 157", [](Bytes &f) { f[261] = 157; }, 0},
        {"truncated header", [](Bytes &f) { f.resize(51); }, 0},
        {"header only", [](Bytes &f) { f.resize(52); f[17] = 38; Seal(f); }, 1},
    };
    for (const Case &c : cases) {
        Bytes f = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_ONLINE, 0, 9, kPeerIp, 208, &ext);
        c.change(f);
        EXPECT_EQ(c.accepted, codec.ParsePacket(static_cast<uint32_t>(f.size()), f.data(), 0)) << c.name;
    }
    EXPECT_FALSE(log->Has("check sum err"));

    Bytes bad = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_ONLINE, 0, 9, kPeerIp);
    bad[30] ^= 1;
    EXPECT_EQ(0, codec.ParsePacket(static_cast<uint32_t>(bad.size()), bad.data(), 0));
    EXPECT_TRUE(log->WaitFor("[CPcapProtocol::ParsePacket] v1.0 check sum err, mac[02-7a-00-00-00-02]"));
}

TEST_F(PcapCodec, TheExtendedBlockComesWithFramesOf261To416Bytes) {
    struct Case {
        size_t extBytes;     // bytes of the extended block present
        bool corrupt;
        uint8_t ability;
        uint16_t httpPort;   // read from the extended data
    } cases[] = {{0, false, 0, 0}, {1, false, 1, 0}, {156, false, 1, 8080}, {156, true, 1, 0}};
    Bytes ext(152, 0);
    ext[68] = 0x1F, ext[69] = 0x90;
    for (const Case &c : cases) {
        Bytes f = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_INQUIRY_ANSWER, 0, 3, kPeerIp, 208, &ext);
        if (c.corrupt)
            f[300] ^= 0xff;
        f.resize(260 + c.extBytes);
        ASSERT_EQ(1, codec.ParsePacket(static_cast<uint32_t>(f.size()), f.data(), 0)) << f.size();
        ZEVA_DEVICE_INFO dev;
        codec.FillDeviceInfo(&dev);
        EXPECT_EQ(c.ability, dev.byDeviceAbility) << f.size();
        EXPECT_EQ(c.httpPort, dev.wHttpPort) << f.size();
    }
    EXPECT_TRUE(log->WaitFor("[CPcapProtocol::ParsePacket] v20 check sum dismatch, [02-7a-00-00-00-02]"));
    Bytes f417 = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_INQUIRY_ANSWER, 0, 3, kPeerIp, 208, &ext);
    f417.push_back(0);
    ASSERT_EQ(1, codec.ParsePacket(static_cast<uint32_t>(f417.size()), f417.data(), 0));
    EXPECT_FALSE(codec.HasExtended());
}

TEST_F(PcapCodec, TheReplyEchoesAsMuchDataAsTheLengthsSayWhenItWasReceived) {
    Bytes ext(152, 0);
    struct Case {
        uint8_t headerLen, extLen;
        bool withExt;
        size_t dataLen;
        int ok;
        uint32_t len;
    } cases[] = {
        {66, 0, false, 28, 1, 28},     // no extended block: always 28
        {246, 156, true, 208, 1, 108}, // (246 + 156) mod 256 - 38
        {38, 0, true, 208, 1, 0},
        {37, 0, true, 208, 0, 0},      // below 0
        {246, 2, true, 208, 0, 0},     // 210: beyond the 208 received
        {120, 44, true, 208, 1, 126},
    };
    for (const Case &c : cases) {
        Bytes f = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_ONLINE, 0, 5, kPeerIp, c.dataLen, c.withExt ? &ext : nullptr);
        f[17] = c.headerLen;
        Seal(f);
        if (c.withExt) {
            f[261] = c.extLen;
            f[262] = f[263] = 0;
            PutBE(f, 262, OnesComplement(f.data() + 260, c.extLen), 2);
        }
        ASSERT_EQ(1, codec.ParsePacket(static_cast<uint32_t>(f.size()), f.data(), 0));
        uint32_t len = 0xdead;
        EXPECT_EQ(c.ok, codec.GetReplyDataLen(&len)) << int(c.headerLen) << "+" << int(c.extLen);
        if (c.ok) {
            EXPECT_EQ(c.len, len);
        }
    }
}

TEST_F(PcapCodec, DeviceRecordFromHandBuiltBytes) {
    Bytes data(208, 0);
    std::memcpy(data.data(), "DS-FRAME-0001", 13);
    PutBE(data, 48, 0x11223344, 4);
    PutBE(data, 52, 8000, 4);
    PutBE(data, 56, 4, 4);
    PutBE(data, 60, 2, 4);
    std::memcpy(data.data() + 64, "V5.7.3 build 240101", 19);
    std::memset(data.data() + 112, 'D', 48);  // a full field: 47 characters are kept
    std::memcpy(data.data() + 160, "2024-01-01 10:00:00", 19);
    Bytes ext(152, 0);
    Bytes head = {192, 0, 2, 1, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::copy(head.begin(), head.end(), ext.begin());
    ext[19] = 0x05;
    ext[20] = 0xfe, ext[21] = 0x80, ext[35] = 1;
    ext[36] = 64, ext[37] = 0x3a, ext[38] = 1, ext[39] = 0x25;
    ext[40] = 10, ext[41] = 0, ext[42] = 0, ext[43] = 9;
    ext[64] = 0x12, ext[65] = 0x34;
    ext[68] = 0x00, ext[69] = 0x50;
    ext[70] = 0x00, ext[71] = 0x10;
    ext[72] = 1, ext[73] = 1, ext[75] = 3;
    PutBE(ext, 76, 0xA0B0C0D0, 4);
    std::memcpy(ext.data() + 104, "A description longer than 23", 24);
    std::memcpy(ext.data() + 128, "OEM-INFO", 8);
    Bytes f = DeviceFrame(kBroadcast, kPeerMac, PCAP_OP_INQUIRY_ANSWER, 0, 1, kPeerIp, 208, &ext, &data);
    ASSERT_EQ(1, codec.ParsePacket(static_cast<uint32_t>(f.size()), f.data(), 0));
    ZEVA_DEVICE_INFO dev;
    std::memset(&dev, 0x5a, sizeof dev);
    codec.FillDeviceInfo(&dev);
    EXPECT_STREQ("02-7a-00-00-00-02", dev.szMAC);
    EXPECT_STREQ("10.77.1.2", dev.szIPv4Address);
    EXPECT_STREQ("255.255.255.0", dev.szIPv4SubnetMask);
    EXPECT_STREQ("DS-FRAME-0001", dev.szSerialNO);
    EXPECT_STREQ("DS-FRAME-0001", dev.szSerialNOEx);
    EXPECT_EQ(0x11223344u, dev.dwDeviceType);
    EXPECT_EQ(8000u, dev.dwCmdPort);
    EXPECT_EQ(4u, dev.dwAnalogChannelNum);
    EXPECT_EQ(2u, dev.dwDiskNumber);
    EXPECT_STREQ("V5.7.3 build 240101", dev.szDeviceSoftwareVersion);
    EXPECT_EQ(std::string(47, 'D'), dev.szDSPVersion);
    EXPECT_STREQ("2024-01-01 10:00:00", dev.szBootTime);
    EXPECT_STREQ("192.0.2.1", dev.szIPv4Gateway);
    EXPECT_STREQ("2001:db8::5", dev.szIPv6Address);
    EXPECT_STREQ("fe80::1", dev.szIPv6Gateway);
    EXPECT_EQ(64, dev.byIPv6MaskLen);
    EXPECT_EQ(0x3a, dev.bySupport);
    EXPECT_EQ(1, dev.byDhcpEnabled);
    EXPECT_EQ(0x25, dev.bySupport1);
    EXPECT_STREQ("10.0.0.9", dev.szReserved2);
    uint16_t at456;
    std::memcpy(&at456, reinterpret_cast<const uint8_t *>(&dev) + 456, 2);
    EXPECT_EQ(0x1234, at456);
    EXPECT_EQ(80, dev.wHttpPort);
    EXPECT_EQ(16, dev.wDigitalChannelNum);
    EXPECT_EQ(1, dev.byOemCode);
    EXPECT_EQ(1, dev.byActivated);
    EXPECT_EQ(3, dev.byTOVUKCode);
    EXPECT_EQ(0xA0B0C0D0u, dev.dwDetailOEMCode);
    EXPECT_STREQ("A description longer th", dev.szDevDescShort);
    EXPECT_STREQ("A description longer th", dev.szDevDesc);
    EXPECT_STREQ("OEM-INFO", dev.szOEMinfo);
    EXPECT_EQ(1, dev.byDeviceAbility);
    EXPECT_EQ(0, dev.byDataFromMulticast);
    EXPECT_EQ(0, dev.iResult);
    EXPECT_EQ(0, dev.szUserName[0]);
}

}  // namespace
