// The protocol-3.1 request texts, checked from outside: xmllint for their form, the openssl
// command as the device that derives the keys and decrypts the secrets (AES-128-CBC).
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "base/GlobalCtrl.h"
#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/MulticastProtocol_V31.h"
#include "module/protocol/ProbeXml.h"
#include "morva/ComInterfaceMorva.h"
#include "probe_text_check.h"
#include "sdk_test_util.h"

using namespace ZEVA;
using sdktest::Element;
using sdktest::Hex;
using sdktest::ScratchDir;
using sdktest::Shell;
using sdktest::WriteFile;
using P = CMulticastProtocol_V31;

namespace {

constexpr char kUuid[] = "0A1B2C3D-0000-1111-2222-333344445555";
constexpr char kMac[] = "02-d5-00-00-00-31";
constexpr char kRandom[] = "R4nd0mStr1ngOf20Byte";  // the device's random string; R is its first 16 bytes
const std::string kR(kRandom, 16);

std::string CStr(const std::string &s) { return s.substr(0, s.find('\0')); }

// The protocol object beside a 3.1 device played by openssl.
class Builders31 : public ::testing::Test, protected sdktest::ProbeTextChecks {
protected:
    void SetUp() override {
        ASSERT_EQ(1, Morva_Init());
        PROBE_REQUEST req;
        ASSERT_TRUE(Build(&P::PackageExchangeCode_V31, req));
        ASSERT_TRUE(XmlOk(text));
        WriteFile(dir / "pub.der", Base64Decode(Element(text, "Code")));
        Shell("openssl pkey -pubin -inform DER -in " + dir / "pub.der" + " -out " + dir / "pub.pem" + " 2>/dev/null || " +
              "openssl rsa -RSAPublicKey_in -inform DER -in " + dir / "pub.der" + " -pubout -out " + dir / "pub.pem" +
              " 2>/dev/null");
        WriteFile(dir / "random", kRandom);
        exchange = Shell("openssl pkeyutl -encrypt -pubin -inkey " + dir / "pub.pem" +
                         " -pkeyopt rsa_padding_mode:pkcs1 -in " + dir / "random" + " | openssl base64 -A");
        ASSERT_EQ(344u, exchange.size()) << "openssl did not take a 2048-bit public key";
    }
    void TearDown() override { Morva_Fini(); }

    template <typename B>
    bool Build(B b, PROBE_REQUEST req, uint32_t size = REQUEST_BUFFER_LEN) {
        req.pUuid = kUuid;
        req.pMAC = kMac;
        return sdktest::BuildText(protocol, b, req, size, text);
    }
    std::string Sha256(const std::string &bytes) {
        WriteFile(dir / "dgst", bytes);
        return Shell("openssl dgst -sha256 -binary " + dir / "dgst");
    }
    std::string Key(const std::string &bytes) { return Sha256(bytes).substr(0, 16); }
    // The device's view of an encrypted element under the key and the text's Iv.
    std::string Decrypt(const std::string &b64, const std::string &key) {
        WriteFile(dir / "cipher", Base64Decode(b64));
        return Shell("openssl enc -d -aes-128-cbc -nopad -K " + Hex(key) + " -iv " + Element(text, "Iv") + " -in " +
                     dir / "cipher");
    }
    std::string IvBytes() { return Base64Decode(Shell("printf '%s' " + Element(text, "Iv") + " | xxd -r -p | openssl base64 -A")); }
    // The device's key of the EncryptConfig requests.
    std::string ConfigKey(const std::string &word, const std::string &user, const std::string &pw,
                          const std::string &salt, const std::string &salt2) {
        std::string d = Sha256(user + salt + pw);
        if (!salt2.empty())
            d = Sha256(user + salt2 + CStr(d));
        return Key(CStr(kR) + word + CStr(d));
    }
    static std::string Padded(std::string s) {
        s.resize((s.size() + 15) / 16 * 16, '\0');
        return s;
    }

    P protocol;
    std::string exchange;
};

bool IsIvText(const std::string &iv) {
    return iv.size() == 32 && iv.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(Builders31, ActivateUsesTheRandomStringAsKey) {
    for (const char *pw : {"Abcd1234", "SixteenCharsLong"}) {
        PROBE_REQUEST req;
        req.pExchangeCode = exchange.c_str();
        req.pPassword = pw;
        ASSERT_TRUE(Build(&P::PackageActivate_V31, req));
        EXPECT_TRUE(XmlOk(text));
        EXPECT_EQ("activate_v31", Element(text, "Types"));
        EXPECT_TRUE(IsIvText(Element(text, "Iv")));
        EXPECT_EQ(Padded(kR + pw), Decrypt(Element(text, "Password"), kR)) << pw;
    }
    EXPECT_EQ(44u, Element(text, "Password").size()) << "16 characters: two blocks";
    PROBE_REQUEST bad;
    bad.pExchangeCode = "bm90IG91ciBrZXk=";
    EXPECT_FALSE(Build(&P::PackageActivate_V31, bad));
}

TEST_F(Builders31, PasswordOnlyRequestsDeriveTheirKeys) {
    uint8_t record[64] = {};
    std::strcpy(reinterpret_cast<char *>(record), "RecordPass99");
    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.1.2.3");
    net.wCmdPort = 8000;
    net.byDhcpEnable = 1;
    const struct {
        int (P::*build)(const PROBE_REQUEST &, char *, uint32_t, uint32_t *);
        const char *type, *keyWord, *user, *salt, *salt2;
        const uint8_t *in;
        const char *password;
    } rows[] = {
        {&P::PackageExportGUID_V31, "ExportGUID_v31", "ExportGUID_v31", "admin", "", "", record, "RecordPass99"},
        {&P::PackageExportGUID_V31, "ExportGUID_v31", "ExportGUID_v31", "admin", "s1-abc", "", record, "RecordPass99"},
        {&P::PackageTovukUnbind_V31, "tovukUnbind_v31", "tovukUnbind_v31", "op", "s1", "s2-xyz", record,
         "RecordPass99"},
        {&P::PackageRestoreInactive_V31, "restoreInactive_v31", "restoreInactive", "admin", "s1", "s2", record,
         "RecordPass99"},
        {&P::PackageUpdateData_V31, "update_v31", "update_v31", "admin", "salt-a", "salt-b",
         reinterpret_cast<const uint8_t *>(&net), "NetPass1"},
    };
    for (const auto &row : rows) {
        PROBE_REQUEST req;
        req.pExchangeCode = exchange.c_str();
        req.pUserName = row.user;
        req.pSalt = row.salt;
        req.pSalt2 = row.salt2;
        req.pIn = row.in;
        req.pPassword = row.password;
        ASSERT_TRUE(Build(row.build, req)) << row.type;
        EXPECT_TRUE(XmlOk(text)) << text;
        EXPECT_EQ(row.type, Element(text, "Types"));
        std::string key = ConfigKey(row.keyWord, row.user, row.password, row.salt, row.salt2);
        if (std::string(row.type) == "restoreInactive_v31") {
            EXPECT_EQ(std::string::npos, text.find("<Iv>"));
            continue;  // no IV to decrypt with
        }
        EXPECT_EQ(kR, Decrypt(Element(text, "Password"), key)) << row.type << " " << row.salt << row.salt2;
    }
    EXPECT_EQ("0", Element(text, "HttpPort"));
    EXPECT_EQ("0", Element(text, "SDKOverTLSPort"));
    EXPECT_EQ("true", Element(text, "DHCP"));
    EXPECT_EQ("", Element(text, "IPv6Address"));
}

TEST_F(Builders31, ResetKinds) {
    ZEVA_RESET_PARAM rp{};
    std::strcpy(rp.szPassword, "NewPass123");
    std::strcpy(rp.szGUID, "guid-bytes-0123456789");
    rp.byEnableSyncIPCPW = 1;
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pIn = reinterpret_cast<const uint8_t *>(&rp);

    ASSERT_TRUE(Build(&P::PackageGUIDReset_V31, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ("true", Element(text, "SyncIPCPassword"));
    std::string iv = IvBytes();
    EXPECT_EQ(Padded(iv + "NewPass123"), Decrypt(Element(text, "Password"), Key(iv + rp.szGUID)));

    std::strcpy(rp.szCode, "mail-code-77");
    rp.byEnableSyncIPCPW = 0;
    ASSERT_TRUE(Build(&P::PackageMailReset_V31, req));
    EXPECT_EQ("false", Element(text, "SyncIPCPassword"));
    iv = IvBytes();
    EXPECT_EQ(Padded(iv + "NewPass123"), Decrypt(Element(text, "Password"), Key(iv + "mail-code-77")));

    ASSERT_TRUE(Build(&P::PackagePhoneNoReset_V31, req));
    EXPECT_TRUE(XmlOk(text));
    iv = IvBytes();
    EXPECT_EQ(Padded(iv + "NewPass123"), Decrypt(Element(text, "Password"), Key(iv + "mail-cod")));

    // 8 characters need no exchange; 7 and 9 go under R.
    for (const char *code : {"ABCD1234", "ABC1234", "ABCD12345"}) {
        std::memset(rp.szCode, 0, sizeof rp.szCode);
        std::strcpy(rp.szCode, code);
        PROBE_REQUEST r = req;
        if (std::strlen(code) == 8)
            r.pExchangeCode = nullptr;
        ASSERT_TRUE(Build(&P::PackageReset_V31, r)) << code;
        EXPECT_TRUE(XmlOk(text));
        if (std::strlen(code) == 8) {
            EXPECT_EQ("reset2_v31", Element(text, "Types"));
            iv = IvBytes();
            EXPECT_EQ(Padded(iv + "NewPass123"), Decrypt(Element(text, "Password"), Key(iv + code)));
        } else {
            EXPECT_EQ("reset_v31", Element(text, "Types"));
            EXPECT_EQ(Padded(kR + code), Decrypt(Element(text, "Code"), kR));
            EXPECT_EQ(Padded(kR + "NewPass123"), Decrypt(Element(text, "Password"), kR));
        }
    }

    // A long auth-file code is never sent cut.
    std::string longCode(512, 'c');
    WriteFile(dir / "auth", longCode);
    std::strcpy(rp.szAuthFile, (dir / "auth").c_str());
    ASSERT_TRUE(Build(&P::PackageReset_V31, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ(Padded(kR + longCode), Decrypt(Element(text, "Code"), kR));
    EXPECT_FALSE(Build(&P::PackageReset_V31, req, 800)) << "never sent cut";
    EXPECT_EQ(uint32_t(ZEVA_ERR_BUFFER_TOO_SMALL), CGlobalCtrl::GetThreadLastError());

    rp.szPassword[0] = '\0';
    for (auto b : {&P::PackageGUIDReset_V31, &P::PackageMailReset_V31, &P::PackageReset_V31}) {
        EXPECT_FALSE(Build(b, req));
        EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    }
}

TEST_F(Builders31, SecretsUnderOneKey) {
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pUserName = "admin";
    req.pSalt = "s1";
    req.pSalt2 = "s2";
    ZEVA_MAILBOX_CFG mail{};
    std::strcpy(mail.szPassword, "MailPw1");
    std::strcpy(mail.szMailBoxAddr, "me@devsim.test");
    req.pIn = reinterpret_cast<const uint8_t *>(&mail);
    ASSERT_TRUE(Build(&P::PackageSetMailBox_V31, req));
    EXPECT_TRUE(XmlOk(text));
    std::string key = ConfigKey("SetMailBox_v31", "admin", "MailPw1", "s1", "s2");
    EXPECT_EQ(kR, Decrypt(Element(text, "Password"), key));
    EXPECT_EQ(Padded(kR + "me@devsim.test"), Decrypt(Element(text, "MailBox"), key));

    ZEVA_KWPLATFORM_STATUS_CFG kw{};
    kw.byEnable = 1;
    std::strcpy(kw.szPassword, "KwPw");
    req.pIn = reinterpret_cast<const uint8_t *>(&kw);
    ASSERT_TRUE(Build(&P::PackageSetKWPlatform_V31, req));
    EXPECT_EQ("true", Element(text, "KWPlatformEnable"));
    EXPECT_EQ(kR, Decrypt(Element(text, "Password"), ConfigKey("SetKWPlatform_v31", "admin", "KwPw", "s1", "s2")));

    // Two marked: the third answer is R alone under ID 0; answers of 255 characters still fit.
    std::unique_ptr<ZEVA_SECURITY_QUESTION_CFG> q(new ZEVA_SECURITY_QUESTION_CFG());
    std::strcpy(q->szPassword, "QPw");
    const std::string longAnswer(255, 'a');
    for (int i : {0, 1}) {
        q->struQuestion[i * 5].dwID = uint32_t(i + 4);
        q->struQuestion[i * 5].byMark = 1;
        std::strcpy(q->struQuestion[i * 5].szAnswer, longAnswer.c_str());
    }
    req.pIn = reinterpret_cast<const uint8_t *>(q.get());
    ASSERT_TRUE(Build(&P::PackageSetSecurityQuestion_V31, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_GT(text.size(), 1024u) << "longer than the template's buffer, sent whole";
    key = ConfigKey("setsecurityquestion_v31", "admin", "QPw", "s1", "s2");
    std::string list = Element(text, "QuestionList");
    std::vector<std::string> answers;
    for (size_t at = 0; (at = list.find("<Answer>", at)) != std::string::npos; at += 8)
        answers.push_back(Element(list.substr(at), "Answer"));
    ASSERT_EQ(3u, answers.size());
    EXPECT_EQ(Padded(kR + longAnswer), Decrypt(answers[0], key));
    EXPECT_EQ(kR, Decrypt(answers[2], key));
    EXPECT_NE(std::string::npos, list.find("<ID>5</ID>"));
    EXPECT_NE(std::string::npos, list.find("<ID>0</ID>"));

    std::unique_ptr<ZEVA_RESET_PARAM> rp(new ZEVA_RESET_PARAM());
    std::strcpy(rp->szPassword, "AnsPw");
    const char *given[] = {"blue", "seven"};
    for (int i : {0, 1}) {
        rp->struSecurityQuestion.struQuestion[i].dwID = uint32_t(i + 1);
        rp->struSecurityQuestion.struQuestion[i].byMark = 1;
        std::strcpy(rp->struSecurityQuestion.struQuestion[i].szAnswer, given[i]);
    }
    req.pIn = reinterpret_cast<const uint8_t *>(rp.get());
    ASSERT_TRUE(Build(&P::PackageAnswerReset_V31, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_NE(std::string::npos, text.find("<ID>2</ID><mark>true</mark></Question><Question><ID>0</ID>"));
    EXPECT_EQ(std::string::npos, text.find("blue")) << "answers enter the key only";
    EXPECT_EQ(Padded(kR + "AnsPw"), Decrypt(Element(text, "Password"), Key(kR + "blueseven")));
    for (int i : {2, 3}) {
        rp->struSecurityQuestion.struQuestion[i].byMark = 1;
        q->struQuestion[i * 7].byMark = 1;
    }
    EXPECT_FALSE(Build(&P::PackageAnswerReset_V31, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_QUESTION_NUM), CGlobalCtrl::GetThreadLastError());
    req.pIn = reinterpret_cast<const uint8_t *>(q.get());
    EXPECT_FALSE(Build(&P::PackageSetSecurityQuestion_V31, req));
    EXPECT_EQ(uint32_t(ZEVA_ERR_QUESTION_NUM), CGlobalCtrl::GetThreadLastError());
}

TEST_F(Builders31, IvsAreFreshAndTheConfigBoundHolds) {
    std::set<std::string> ivs;
    for (int i = 0; i < 4; ++i) {
        char t[33];
        uint8_t b[16];
        ASSERT_EQ(1, P::CreateIv_V31(t, b));
        EXPECT_TRUE(IsIvText(t));
        EXPECT_EQ(std::string(t), Hex(std::string(reinterpret_cast<char *>(b), 16)));
        ivs.insert(t);
    }
    EXPECT_EQ(4u, ivs.size()) << "IVs of the same second differ";
    // The resets keyed by their IV: the same request built twice at once gets two IVs, so two keys.
    ZEVA_RESET_PARAM rp{};
    std::strcpy(rp.szPassword, "NewPass123");
    std::strcpy(rp.szGUID, "guid-bytes");
    std::strcpy(rp.szCode, "ABCD1234");
    PROBE_REQUEST req;
    req.pIn = reinterpret_cast<const uint8_t *>(&rp);
    for (auto b : {&P::PackageGUIDReset_V31, &P::PackageMailReset_V31, &P::PackagePhoneNoReset_V31,
                   &P::PackageReset_V31}) {
        ASSERT_TRUE(Build(b, req));
        std::string first = text;
        ASSERT_TRUE(Build(b, req));
        EXPECT_NE(Element(first, "Iv"), Element(text, "Iv")) << Element(text, "Types");
    }

    std::vector<uint8_t> plain(1009, 'p');
    std::vector<char> out(4096);
    char iv[33];
    EXPECT_EQ(0, protocol.EncryptConfig_V31(plain.data(), 1009, "w", "u", "p", "", "", exchange.c_str(), out.data(),
                                            uint32_t(out.size()), iv));
    ASSERT_EQ(1, protocol.EncryptConfig_V31(plain.data(), 1008, "w", "u", "p", "", "", exchange.c_str(), out.data(),
                                            uint32_t(out.size()), iv));
    text = std::string("<Iv>") + iv + "</Iv>";
    EXPECT_EQ(kR + std::string(1008, 'p'), Decrypt(out.data(), ConfigKey("w", "u", "p", "", "")));
}

// The requests without secrets, and plain values printed into the templates: a MAC or address
// text with markup in it stays text.
TEST_F(Builders31, PlainRequestsAndEscapedValues) {
    const struct {
        int (P::*build)(const PROBE_REQUEST &, char *, uint32_t, uint32_t *);
        const char *type;
    } rows[] = {
        {&P::PackageGetCode_V31, "getcode_v31"},
        {&P::PackageGetEncryptString_V31, "getencryptstring_v31"},
        {&P::PackageGetQRcodes_V31, "GetQRcodes_v31"},
    };
    PROBE_REQUEST req;
    for (const auto &row : rows) {
        ASSERT_TRUE(Build(row.build, req)) << row.type;
        EXPECT_TRUE(XmlOk(text)) << text;
        EXPECT_EQ(row.type, Element(text, "Types"));
        EXPECT_EQ(kMac, Element(text, "MAC"));
        EXPECT_EQ(std::string::npos, text.find("<Password>")) << row.type;
    }

    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.1.2.3<&>");
    std::strcpy(net.szIPv6Address, "fd00::1\"'");
    req.pExchangeCode = exchange.c_str();
    req.pUserName = "admin";
    req.pPassword = "NetPass1";
    req.pIn = reinterpret_cast<const uint8_t *>(&net);
    req.pMAC = "02-d5<&>\"'";
    req.pUuid = kUuid;
    ASSERT_TRUE(sdktest::BuildText(protocol, &P::PackageUpdateData_V31, req, REQUEST_BUFFER_LEN, text));
    EXPECT_TRUE(XmlOk(text)) << text;
    EXPECT_EQ("02-d5&lt;&amp;&gt;&quot;&apos;", Element(text, "MAC"));
    EXPECT_EQ("10.1.2.3&lt;&amp;&gt;", Element(text, "IPv4Address"));
    EXPECT_EQ("fd00::1&quot;&apos;", Element(text, "IPv6Address"));
}

TEST_F(Builders31, UserTokenDecrypts) {
    uint8_t record[64] = {};
    std::strcpy(reinterpret_cast<char *>(record + 4), "token-123");
    std::strcpy(reinterpret_cast<char *>(record + 20), "TokPass");
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pUserName = "admin";
    req.pSalt = "s1";
    req.pSalt2 = "ignored";
    req.pIn = record;
    ASSERT_TRUE(Build(&P::PackageTovukUserToken_V31, req));
    EXPECT_TRUE(XmlOk(text));
    EXPECT_EQ("SetUserToken", Element(text, "Types"));
    EXPECT_EQ(Padded(kR + "token-123"),
              Decrypt(Element(text, "UserToken"), ConfigKey("SetUserToken", "admin", "TokPass", "s1", "")));
}

// The exported GUID comes back under the key and IV of the request.
TEST_F(Builders31, ExportedGuidIsDecrypted) {
    uint8_t record[64] = {};
    std::strcpy(reinterpret_cast<char *>(record), "pw");
    PROBE_REQUEST req;
    req.pExchangeCode = exchange.c_str();
    req.pUserName = "admin";
    req.pIn = record;
    ASSERT_TRUE(Build(&P::PackageExportGUID_V31, req));
    std::string key = ConfigKey("ExportGUID_v31", "admin", "pw", "", "");
    auto encrypt = [&](const std::string &plainText) {
        WriteFile(dir / "guid", plainText);
        return Shell("openssl enc -aes-128-cbc -nopad -K " + Hex(key) + " -iv " + Element(text, "Iv") + " -in " +
                     dir / "guid" + " | openssl base64 -A");
    };
    auto parse = [&](const std::string &guidB64, std::vector<uint8_t> &block) {
        std::string answer = "<Probe><Types>ExportGUID_v31</Types><Result>success</Result><RetryTimes>3</RetryTimes>"
                             "<GUID>" + guidB64 + "</GUID></Probe>";
        TiXmlDocument doc;
        const TiXmlElement *root = ParseProbe(answer.data(), uint32_t(answer.size()), doc);
        block.assign(900, 0);
        return root ? protocol.ParseExportGUID_V31(root, block.data()) : -99;
    };
    std::vector<uint8_t> block;
    std::string guid = Padded(kR + "the-device-guid-0042");
    EXPECT_EQ(1, parse(encrypt(guid), block));
    uint32_t len;
    std::memcpy(&len, block.data(), 4);
    EXPECT_EQ(guid.size() - 16, len) << "the GUID without R";
    EXPECT_EQ(std::string("the-device-guid-0042"), std::string(reinterpret_cast<char *>(block.data() + 4)));
    EXPECT_EQ(3, block[GUID_RETRY_OFFSET]);

    // The record's 512 bytes are the limit: 512 decode whole, more end the request as too long.
    EXPECT_EQ(1, parse(encrypt(kR + std::string(496, 'g')), block));
    std::memcpy(&len, block.data(), 4);
    EXPECT_EQ(496u, len);
    EXPECT_EQ(std::string(496, 'g'), std::string(reinterpret_cast<char *>(block.data() + 4), 496));

    const struct {
        std::string guid;
        int code;
        const char *what;
    } hostile[] = {
        {encrypt(std::string(1040, 'g')), ANSWER_TOO_LONG, "past the cipher's copy"},
        {encrypt(std::string(528, 'g')), ANSWER_TOO_LONG, "past 512 bytes"},
        {"QUJDREVGRw==", ANSWER_DECRYPT_FAILED, "no whole block"},
    };
    for (const auto &row : hostile) {
        CGlobalCtrl::GetInstance()->SetLastError(0);
        EXPECT_EQ(row.code, parse(row.guid, block)) << row.what;
        std::memcpy(&len, block.data(), 4);
        EXPECT_EQ(0u, len) << row.what;
        EXPECT_EQ(std::string(512, '\0'), std::string(reinterpret_cast<char *>(block.data() + 4), 512)) << row.what;
        EXPECT_EQ(row.code == ANSWER_DECRYPT_FAILED ? uint32_t(ZEVA_ERR_ENCRYPT) : 0u,
                  CGlobalCtrl::GetThreadLastError())
            << row.what;
    }
}

}  // namespace
