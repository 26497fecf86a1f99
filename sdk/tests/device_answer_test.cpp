// Device answers against records built by hand, and the filter rules, without a network.
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "base/GlobalCtrl.h"
#include "module/crypto/Encrypt.h"
#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"
#include "morva/ComInterfaceMorva.h"
#include "netns/netns_lab.h"

using namespace ZEVA;

namespace {

struct Parsed {
    int result = -2;
    ZEVA_DEVICE_INFO dev{};
    char salt[SALT_FIELD_LEN] = {};
    char salt2[SALT_FIELD_LEN] = {};
    uint8_t protocol = 0;
};

Parsed Parse(const std::string &children) {
    std::string text = "<Probe><Types>inquiry</Types>" + children + "</Probe>";
    TiXmlDocument doc;
    const TiXmlElement *root = ParseProbe(text.data(), uint32_t(text.size()), doc);
    Parsed p;
    CMulticastProtocol protocol;
    if (root)
        p.result = protocol.ParseDeviceInfo(root, &p.dev, p.salt, p.salt2, &p.protocol);
    return p;
}

std::string Field(const char *field, size_t width) { return std::string(field, strnlen(field, width)); }

TEST(DeviceAnswer, SparseAnswerAndMissingMac) {
    Parsed p = Parse("<DeviceType>7</DeviceType><DeviceSN>SN1</DeviceSN><MAC>aa-bb</MAC>");
    ASSERT_EQ(0, p.result);
    EXPECT_EQ(0x0F, p.dev.bySupport);
    EXPECT_EQ(1, p.dev.byDeviceAbility);
    EXPECT_EQ(0, p.dev.byActivated);
    EXPECT_EQ(1, p.protocol);
    EXPECT_EQ(7u, p.dev.dwDeviceType);
    EXPECT_EQ("SN1", Field(p.dev.szSerialNOEx, 128));
    EXPECT_EQ("aa-bb", Field(p.dev.szMAC, 20));
    EXPECT_EQ(-1, Parse("<DeviceSN>SN1</DeviceSN>").result);
}

TEST(DeviceAnswer, FieldRules) {
    std::string sn60(60, 'S'), salt65(65, 'x'), salt64(64, 'y');
    Parsed p = Parse("<MAC>m</MAC><Activated>false</Activated><supportIPv6>false</supportIPv6>"
                     "<SupportKWPlatform>no</SupportKWPlatform><supportwifiRegion>china,japan</supportwifiRegion>"
                     "<DRAVVersion>3.0,3.1</DRAVVersion><Salt>" + salt65 + "</Salt><Salt2>" + salt64 +
                     "</Salt2><DeviceSN>" + sn60 + "</DeviceSN><QadraVer>12345678901234567890</QadraVer>"
                     "<DiskNumber>65537</DiskNumber><HttpPort> +8080x</HttpPort><SecurityMode>high-B</SecurityMode>"
                     "<currentwifiRegion>europe</currentwifiRegion><Licensed>true</Licensed>"
                     "<SDKServerStatus>false</SDKServerStatus><SupportBind>true</SupportBind>");
    ASSERT_EQ(0, p.result);
    EXPECT_EQ(1, p.dev.byActivated);
    EXPECT_EQ(0x0E, p.dev.bySupport);
    EXPECT_EQ(2, p.dev.byKWPlatform);
    EXPECT_EQ(0, p.dev.byEnableKWPlatform);
    EXPECT_EQ(0x12, p.dev.bySupportWifiRegion);
    EXPECT_EQ(2, p.dev.byWifiRegion);
    EXPECT_EQ(2, p.protocol);
    EXPECT_EQ("", Field(p.salt, SALT_FIELD_LEN));
    EXPECT_EQ(salt64, Field(p.salt2, SALT_FIELD_LEN));
    EXPECT_EQ(std::string(48, 'S'), std::string(p.dev.szSerialNO, 48)) << "fills the field, no terminator";
    EXPECT_EQ(sn60, Field(p.dev.szSerialNOEx, 128));
    EXPECT_EQ("1234567890123456", std::string(p.dev.szQadraVersion, 16));
    EXPECT_EQ(0, p.dev.bySpecificDeviceType) << "the next field is untouched";
    EXPECT_EQ(1u, p.dev.dwDiskNumber);
    EXPECT_EQ(8080, p.dev.wHttpPort);
    EXPECT_EQ(2, p.dev.bySecurityMode);
    EXPECT_EQ(2, p.dev.byLicensed);
    EXPECT_EQ(1, p.dev.bySDKServerStatus);
    EXPECT_EQ(0x20, p.dev.bySupport1);
    EXPECT_EQ(1, Parse("<MAC>m</MAC><DRAVVersion>3.2</DRAVVersion>").protocol);
    EXPECT_EQ(3, Parse("<MAC>m</MAC><DRAVVersion>3.1</DRAVVersion>").protocol);
}

// AES-128-ECB under the fixed answer key, zero-filled to whole blocks, made by openssl.
std::string OpensslCipher(const std::string &plain, int blockBytes) {
    std::string cmd = "key=$(printf TRUVOLMEZDAKPINQ | od -An -tx1 | tr -d ' \\n'); (printf '" + plain +
                      "'; head -c " + std::to_string(blockBytes - int(plain.size())) +
                      " /dev/zero) | openssl enc -aes-128-ecb -nopad -K $key | base64 -w0";
    return zeva::test::Sh(cmd).out;
}

TEST(DeviceAnswer, EncryptedVersionsFromOpenssl) {
    std::string version = OpensslCipher("V9.9.9 build 1", 32), oem = OpensslCipher("OEM-X", 16);
    ASSERT_FALSE(version.empty());
    ASSERT_EQ(1, Morva_Init());  // the crypt objects live in the core library's state
    Parsed p = Parse("<MAC>m</MAC><SoftwareVersion>plain</SoftwareVersion><SoftwareVersionEncrypt>" + version +
                     "</SoftwareVersionEncrypt><OEMInfo>plain</OEMInfo><OEMInfoEncrypt>" + oem +
                     "</OEMInfoEncrypt><DSPVersion>dsp</DSPVersion><DSPVersionEncrypt>" + OpensslCipher("x", 48) +
                     "</DSPVersionEncrypt>");
    EXPECT_EQ("V9.9.9 build 1", Field(p.dev.szDeviceSoftwareVersion, 48));
    EXPECT_EQ("OEM-X", Field(p.dev.szOEMinfo, 24));
    EXPECT_EQ("dsp", Field(p.dev.szDSPVersion, 48)) << "48 decoded bytes are too many: the plain text stays";
    Morva_Fini();
}

TEST(DeviceAnswer, SubnetAnswer) {
    std::string text = "<Probe><Types>inquiry_v32</Types><DeviceType>3</DeviceType><DeviceSN>SN</DeviceSN>"
                       "<IPv4Address>10.1.2.3</IPv4Address><IPv4DHCPAbility>true</IPv4DHCPAbility>"
                       "<supportIPv6>false</supportIPv6></Probe>";
    TiXmlDocument doc;
    const TiXmlElement *root = ParseProbe(text.data(), uint32_t(text.size()), doc);
    ZEVA_SUBNET_DEVICE_INFO dev;
    std::memset(&dev, 0xAB, sizeof dev);
    ASSERT_EQ(0, CMulticastProtocol::ParseSubnetDeviceInfo(root, &dev));
    EXPECT_EQ(3u, dev.dwDeviceType);
    EXPECT_EQ("SN", Field(dev.szSerialNOEx, 128));
    EXPECT_EQ("10.1.2.3", Field(dev.szIPv4Address, 16));
    EXPECT_EQ(1, dev.bySupportDhcp);
    EXPECT_EQ(0, dev.bySupportIPv6);
    EXPECT_EQ(0, dev.byRes[0]);
    EXPECT_EQ(-1, CMulticastProtocol::ParseSubnetDeviceInfo(nullptr, &dev));
}

TEST(Base64, VectorsLenientAndBounded) {
    struct {
        const char *plain, *text;
    } rfc[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto &v : rfc) {
        uint8_t out[16] = {};
        std::string t = v.text;
        EXPECT_EQ(int(std::strlen(v.plain)), CEncrypt::Base64_Decode(t.data(), uint32_t(t.size()), out, sizeof out));
        EXPECT_EQ(0, std::memcmp(out, v.plain, std::strlen(v.plain))) << v.text;
        char enc[16] = {};
        if (*v.plain) {
            EXPECT_EQ(t.size(), CEncrypt::Base64_Encode(reinterpret_cast<const uint8_t *>(v.plain), 0, enc, sizeof enc));
            EXPECT_EQ(t, std::string(enc, t.size()));
        }
    }
    uint8_t out[8] = {};
    std::string spaced = "Zm9v\r\nYm Fy";
    EXPECT_EQ(6, CEncrypt::Base64_Decode(spaced.data(), uint32_t(spaced.size()), out, sizeof out));
    uint8_t guard[8] = {0, 0, 0, 0, 0, 0x5A, 0x5A, 0x5A};
    EXPECT_EQ(-1, CEncrypt::Base64_Decode("Zm9vYmFy", 8, guard, 5)) << "longer than the capacity";
    EXPECT_EQ(0x5A, guard[5]);
    char exact[8];
    EXPECT_EQ(0u, CEncrypt::Base64_Encode(reinterpret_cast<const uint8_t *>("foobar"), 6, exact, 8))
        << "a buffer exactly as long as the text";
}

TEST(DeviceFilter, Rules) {
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    auto dev = [](const char *sn, const char *desc, uint8_t tovuk, uint8_t oem, uint32_t detail) {
        ZEVA_DEVICE_INFO d{};
        std::strncpy(d.szSerialNO, sn, sizeof d.szSerialNO - 1);
        std::strncpy(d.szDevDescShort, desc, sizeof d.szDevDescShort - 1);
        d.byTOVUKCode = tovuk;
        d.byOemCode = oem;
        d.dwDetailOEMCode = detail;
        return d;
    };
    const ZEVA_DEVICE_INFO plain = dev("DS-1", "IPC", 0, 0, 0), cs = dev("DS-1", "CS-C6", 0, 0, 0),
                           tovuk = dev("DS-1", "IPC", 1, 0, 0), oem7 = dev("DS-1", "IPC", 0, 1, 7),
                           tv = dev("TVx-1", "IPC", 0, 0, 0);
    uint8_t detail[36] = {7};
    struct {
        int rule;
        uint32_t detail;  // for -3
        int plain, cs, tovuk, oem7;
    } table[] = {{0, 0, 0, 0, 0, 0},   {1, 0, 0, 1, 1, 0},   {2, 0, 0, 0, 0, 1},   {3, 0, 0, 1, 1, 1},
                 {-2, 0, 1, 0, 0, 1},  {-3, 0, 1, 1, 1, 0},  {-3, 7, 1, 1, 1, 0},  {-3, 8, 1, 1, 1, 1},
                 {42, 0, 0, 0, 0, 0}};
    for (const auto &t : table) {
        detail[0] = uint8_t(t.detail);
        ASSERT_EQ(1, ctrl->SetDeviceFilterRule(t.rule, detail, sizeof detail));
        SCOPED_TRACE("rule " + std::to_string(t.rule) + " detail " + std::to_string(t.detail));
        EXPECT_EQ(t.plain, ctrl->IsDeviceFilter(&plain));
        EXPECT_EQ(t.cs, ctrl->IsDeviceFilter(&cs));
        EXPECT_EQ(t.tovuk, ctrl->IsDeviceFilter(&tovuk));
        EXPECT_EQ(t.oem7, ctrl->IsDeviceFilter(&oem7));
        EXPECT_EQ(1, ctrl->IsDeviceFilter(&tv));
    }
    EXPECT_EQ(0, ctrl->IsDeviceFilter(nullptr));
    ctrl->SetDeviceFilterRule(0, nullptr, 0);
}

}  // namespace
