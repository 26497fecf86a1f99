// The protocol-3.0 request texts, checked from outside: xmllint for their form, the openssl
// command as the device that decrypts the secrets and computes the digests.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "module/protocol/MulticastProtocol.h"
#include "morva/ComInterfaceMorva.h"
#include "probe_text_check.h"
#include "sdk_test_util.h"

using namespace ZEVA;
using sdktest::Element;
using sdktest::Hex;
using sdktest::Shell;
using sdktest::ScratchDir;
using sdktest::WriteFile;

namespace {

constexpr char kUuid[] = "0A1B2C3D-0000-1111-2222-333344445555";
constexpr char kMac[] = "02-d5-00-00-00-07";
constexpr char kRandom[] = "R4nd0mStr1ngOf20Byte";  // the device's random string; 16 bytes are used

// The protocol object beside a device played by openssl: the exchange code the device would
// send for this object's last public key.
class Builders : public ::testing::Test, protected sdktest::ProbeTextChecks {
protected:
    void SetUp() override {
        ASSERT_EQ(1, Morva_Init());
        PROBE_REQUEST req;
        req.pUuid = kUuid;
        req.pMAC = kMac;
        ASSERT_TRUE(Build(&CMulticastProtocol::PackageExchangeCode, req));
        ASSERT_TRUE(XmlOk(text));
        std::string der = Base64Decode(Element(text, "Code"));
        WriteFile(dir / "pub.der", der);
        WriteFile(dir / "random", kRandom);
        Shell("openssl rsa -RSAPublicKey_in -inform DER -in " + dir / "pub.der" + " -pubout -out " + dir / "pub.pem" +
              " 2>/dev/null");
        exchange = Shell("openssl pkeyutl -encrypt -pubin -inkey " + dir / "pub.pem" +
                         " -pkeyopt rsa_padding_mode:pkcs1 -in " + dir / "random" + " | openssl base64 -A");
        ASSERT_FALSE(exchange.empty()) << "openssl did not take the public key";
    }

    bool Build(CMulticastProtocol::Builder b, PROBE_REQUEST req, uint32_t size = REQUEST_BUFFER_LEN) {
        req.pUuid = kUuid;
        if (!req.pMAC[0])
            req.pMAC = kMac;
        return sdktest::BuildText(protocol, b, req, size, text);
    }
    // The device's view of an encrypted element: AES-128-ECB under the random string's 16 bytes.
    std::string Decrypt(const std::string &b64) {
        WriteFile(dir / "cipher", Base64Decode(b64));
        return Shell("openssl enc -d -aes-128-ecb -nopad -K " + Hex(std::string(kRandom, 16)) + " -in " +
                     dir / "cipher");
    }
    static std::string Plain(const std::string &secret, size_t size) {
        std::string p = std::string(kRandom, 16) + secret;
        p.resize(size, '\0');
        return p;
    }

    void TearDown() override { Morva_Fini(); }

    CMulticastProtocol protocol;
    std::string exchange;
};

TEST_F(Builders, PasswordOpensToRandomStringAndPassword) {
    const struct {
        const char *password;
        std::string secret;
    } rows[] = {{"Abcd1234", "Abcd1234"}, {"SixteenCharsLong", "SixteenCharsLong"}, {"SeventeenCharsLong", "SeventeenCharsLon"}};
    for (const auto &row : rows) {
        PROBE_REQUEST req;
        req.pExchangeCode = exchange.c_str();
        req.pPassword = row.password;
        ASSERT_TRUE(Build(&CMulticastProtocol::PackageActivate, req));
        EXPECT_TRUE(XmlOk(text));
        EXPECT_EQ(0u, text.find("<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>" + std::string(kUuid) +
                               "</Uuid><MAC>" + kMac + "</MAC><Types>activate</Types><Password>"));
        EXPECT_EQ(Plain(std::string(row.secret, 0, 16), 32), Decrypt(Element(text, "Password"))) << row.password;
    }
}

TEST_F(Builders, SecretsOfTheSettings) {
    ZEVA_WIFI_PARAM wifi{};
    std::strcpy(wifi.szSSID, "lab-net");
    std::strcpy(wifi.szPassword, "wifi-pass");
    wifi.byWifiMode = 2;
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pIn = reinterpret_cast<const uint8_t *>(&wifi);
    req.pType = "wifiParamCheck";
    ASSERT_TRUE(Build(&CMulticastProtocol::WifiParamCfg, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ(Plain("lab-net", 80), Decrypt(Element(text, "SSID")));
    EXPECT_EQ(Plain("wifi-pass", 80), Decrypt(Element(text, "Password")));
    EXPECT_EQ("AP", Element(text, "WiFiMode"));
    EXPECT_EQ("wifiParamCheck", Element(text, "Types"));

    ZEVA_TOVUK_UNBIND_DEL_USERS_CFG unbind{};
    std::string code(240, 'k');
    std::memcpy(unbind.szCode, code.data(), code.size());
    req.pIn = reinterpret_cast<const uint8_t *>(&unbind);
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageTovukUnbindDelUsers, req));
    EXPECT_EQ(Plain(code, 256), Decrypt(Element(text, "Code")));
    unbind.szCode[240] = 'k';  // 241 characters: refused, never cut
    EXPECT_FALSE(Build(&CMulticastProtocol::PackageTovukUnbindDelUsers, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    // An exchange code this object's key did not encrypt fails the encryption: 2045.
    unbind.szCode[240] = '\0';
    std::string foreign = exchange;
    foreign[10] = foreign[10] == 'A' ? 'B' : 'A';
    req.pExchangeCode = foreign.c_str();
    EXPECT_FALSE(Build(&CMulticastProtocol::PackageTovukUnbindDelUsers, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_ENCRYPT), CGlobalCtrl::GetThreadLastError());
    req.pExchangeCode = exchange.c_str();

    ZEVA_SECURITY_QUESTION_CFG q{};
    const char *answers[] = {"blue", "seven", "river"};
    for (int i = 0; i < 3; ++i) {
        q.struQuestion[i * 2].dwID = uint32_t(i + 1);
        q.struQuestion[i * 2].byMark = 1;
        std::strcpy(q.struQuestion[i * 2].szAnswer, answers[i]);
    }
    std::strcpy(q.szPassword, "Sim12345");
    req.pIn = reinterpret_cast<const uint8_t *>(&q);
    ASSERT_TRUE(Build(&CMulticastProtocol::SetSecurityQuestion, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ(Plain("Sim12345", 32), Decrypt(Element(text, "Password")));
    std::string first = Element(text, "Answer");
    EXPECT_EQ(std::string("blue").append(12, '\0'), Decrypt(first)) << "answers go without the prefix";
    for (uint8_t extra : {0, 1}) {  // two marked, then four
        q.struQuestion[0].byMark = extra;
        q.struQuestion[1].byMark = extra;
        EXPECT_FALSE(Build(&CMulticastProtocol::SetSecurityQuestion, req));
        EXPECT_EQ(uint32_t(ZEVA_ERR_QUESTION_NUM), CGlobalCtrl::GetThreadLastError());
    }
}

TEST_F(Builders, PlainValuesAreEscapedAndLongTextsRefused) {
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pMAC = "02-d5<&>\"'";
    ZEVA_QADRA_ENABLE_CFG qadra{};
    std::strcpy(qadra.szDevID, "<Password>x</Pa");
    std::strcpy(qadra.szQadraKey, "key");
    std::strcpy(qadra.szPassword, "pw");
    req.pIn = reinterpret_cast<const uint8_t *>(&qadra);
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageQadraEnable, req));
    EXPECT_TRUE(XmlOk(text)) << text;
    EXPECT_EQ("&lt;Password&gt;x&lt;/Pa", Element(text, "DevID"));
    EXPECT_EQ("02-d5&lt;&amp;&gt;&quot;&apos;", Element(text, "MAC"));

    req.pMAC = kMac;
    ZEVA_BIND_LIST_CFG bind{};
    std::strcpy(bind.szPassword, "pw");
    for (auto &dev : bind.struDevice) {
        std::memset(dev.szSerialNO, 'S', 63);
        dev.byInUse = 1;
    }
    req.pIn = reinterpret_cast<const uint8_t *>(&bind);
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageBindList, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_FALSE(Build(&CMulticastProtocol::PackageBindList, req, 1024)) << "never sent cut";
    EXPECT_EQ(uint32_t(ZEVA_ERR_BUFFER_TOO_SMALL), CGlobalCtrl::GetThreadLastError());
    bind.struDevice[0].szSerialNO[0] = '&';
    for (int i = 1; i < 32; ++i)
        std::memset(bind.struDevice[i].szSerialNO, '&', 63);  // five bytes each once escaped
    EXPECT_FALSE(Build(&CMulticastProtocol::PackageBindList, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_BUFFER_TOO_SMALL), CGlobalCtrl::GetThreadLastError());

    ZEVA_WIFI_REGION_CFG region{};
    std::strcpy(region.szPassword, "pw");
    region.byMode = 3;
    req.pIn = reinterpret_cast<const uint8_t *>(&region);
    EXPECT_FALSE(Build(&CMulticastProtocol::SetWifiConfig, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    region.byMode = 1;
    region.byWifiRegion = 2;
    ASSERT_TRUE(Build(&CMulticastProtocol::SetWifiConfig, req));
    EXPECT_EQ("nothAmerica", Element(text, "wifiRegion"));
}

// Two builders no export reaches: the lamp and the device-type key (set command 4 is refused).
TEST_F(Builders, LampAndDeviceTypeKey) {
    const uint8_t open[1] = {1}, shut[1] = {0};
    PROBE_REQUEST req;
    req.pIn = open;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageLamp, req));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>" + std::string(kUuid) +
                  "</Uuid><Types>lamp</Types><MAC>" + kMac + "</MAC><Action>open</Action></Probe>",
              text);
    req.pIn = shut;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageLamp, req));
    EXPECT_EQ("close", Element(text, "Action"));
    uint8_t key[64] = {};
    std::strcpy(reinterpret_cast<char *>(key) + 4, "K<ey>&1");
    req.pIn = key;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageDeviceTypeCustom, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ("K&lt;ey&gt;&amp;1", Element(text, "DeviceTypeSecretKey"));
    EXPECT_EQ("deviceTypeCustom", Element(text, "Types"));
}

TEST_F(Builders, ResetsAndTheAuthFile) {
    std::unique_ptr<ZEVA_RESET_PARAM> rp(new ZEVA_RESET_PARAM());
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pIn = reinterpret_cast<const uint8_t *>(rp.get());
    std::strcpy(rp->szCode, "RC<0001>");
    // No new password: the code alone, plain, even for a device that wants codes encrypted.
    req.bySupportCodeEncrypt = 1;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageReset, req));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>" + std::string(kUuid) + "</Uuid><MAC>" + kMac +
                  "</MAC><Types>reset</Types><Code>RC&lt;0001&gt;</Code></Probe>",
              text);
    std::strcpy(rp->szPassword, "NewPass99");
    rp->byEnableSyncIPCPW = 1;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageReset, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_NE(std::string::npos, text.find("</Password><SyncIPCPassword>true</SyncIPCPassword><Code bEncrypt=\"true\">"));
    EXPECT_EQ(Plain("NewPass99", 32), Decrypt(Element(text, "Password")));
    EXPECT_EQ(Plain("RC<0001>", 32), Decrypt(Element(text, "Code")));

    const struct {
        std::string file;
        bool ok;
        std::string code;
    } rows[] = {
        {"CODE-1\r\n", true, "CODE-1"},      {"CODE-2\n", true, "CODE-2"},
        {"CODE-3\r", true, "CODE-3"},        {"LINE1\r\nLINE2", true, "LINE1\r\nLINE2"},
        {std::string(512, 'c'), true, std::string(512, 'c')}, {std::string(513, 'c'), false, ""},
        {"", false, ""},
    };
    for (const auto &row : rows) {
        WriteFile(dir / "auth", row.file);
        char code[513];
        EXPECT_EQ(row.ok ? 1 : 0, CMulticastProtocol::ReadAuthFile((dir / "auth").c_str(), code, sizeof code, "test"));
        if (row.ok)
            EXPECT_EQ(row.code, std::string(code));
        else
            EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    }
    char code[513];
    EXPECT_EQ(0, CMulticastProtocol::ReadAuthFile((dir / "missing").c_str(), code, sizeof code, "test"));
    EXPECT_EQ(uint32_t(ZEVA_ERR_INIT), CGlobalCtrl::GetThreadLastError());
    // The file's code goes plain where the device takes plain codes.
    WriteFile(dir / "auth", "FILE-CODE&1\r\n");
    std::strcpy(rp->szAuthFile, (dir / "auth").c_str());
    req.bySupportCodeEncrypt = 0;
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageReset, req));
    EXPECT_EQ("FILE-CODE&amp;1", Element(text, "Code"));

    std::strcpy(rp->szGUID, "GUID-00000007-SIMULATED");
    rp->byEnableSyncIPCPW = 0;
    ASSERT_TRUE(Build(&CMulticastProtocol::SendGuidResetPWPacket, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ("GUID-00000007-SIMULATED", Base64Decode(Element(text, "GUID")));
    EXPECT_EQ(std::string::npos, text.find("SyncIPCPassword"));
}

TEST_F(Builders, SaltedPasswordAgainstOpensslDigests) {
    const struct {
        const char *user, *salt, *salt2, *password;
    } rows[] = {
        {"admin", "", "", "Sim12345"},
        {"admin", "5a1t", "", "Sim12345"},
        {"admin", "5a1t", "5econd", "Sim12345"},
        {"", "s", "t", "p"},
    };
    for (const auto &row : rows) {
        uint8_t digest[16];
        ASSERT_EQ(1, protocol.CreateSaltPassword(row.user, row.password, row.salt, row.salt2, digest));
        std::string expect;
        std::string dgst = " | openssl dgst -sha256 -r | cut -c1-64 | tr -d '\\n'";
        if (!row.salt[0]) {
            expect = Shell("printf '%s' '" + std::string(row.password) + "' | openssl dgst -md5 -r | cut -c1-32");
        } else {
            std::string h1 = Shell("printf '%s' '" + std::string(row.user) + row.salt + row.password + "'" + dgst);
            std::string h = row.salt2[0] ? Shell("printf '%s' '" + std::string(row.user) + row.salt2 + h1 + "'" + dgst)
                                         : h1;
            expect = Shell("printf '%s' '" + h + "' | openssl dgst -md5 -r | cut -c1-32");
        }
        EXPECT_EQ(expect, Hex(std::string(reinterpret_cast<char *>(digest), 16)) + "\n") << row.salt << row.salt2;
    }
    ZEVA_NET_PARAM np{};
    std::strcpy(np.szIPv4Address, "10.77.1.50");
    np.wCmdPort = 8000;
    PROBE_REQUEST req;
    req.pIn = reinterpret_cast<const uint8_t *>(&np);
    req.pUserName = "admin";
    req.pPassword = "Sim12345";
    req.pSalt = "5a1t";
    ASSERT_TRUE(Build(&CMulticastProtocol::PackageUpdateData, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_NE(std::string::npos, text.find("<Password bSalt=\"true\">"));
    EXPECT_EQ("::", Element(text, "IPv6Address"));
    EXPECT_EQ(std::string::npos, text.find("HttpPort"));
    EXPECT_EQ("false", Element(text, "DHCP"));
}

}  // namespace
