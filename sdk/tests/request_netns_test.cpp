// Device requests end to end against the device simulator, which checks every secret with its
// own cryptography: a request succeeds only when the device decrypted exactly what was sent.
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk_request_fixture.h"

using namespace sdktest;

namespace {

std::string Text(const char *field, size_t width) { return std::string(field, strnlen(field, width)); }

class Requests : public RequestLab {
protected:
    // Get command 5: the device checks the password before it hands out its GUID.
    std::pair<int, uint32_t> ExportGuid(int n, const char *password, ZEVA_GUID_INFO *out) {
        char in[16] = {};
        std::memcpy(in, password, strnlen(password, sizeof in));
        std::string sn = SimSerial(n);
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 5, in, sizeof in, out, sizeof *out); });
    }
    bool PasswordIs(int n, const char *password) {
        ZEVA_GUID_INFO guid{};
        return ExportGuid(n, password, &guid).first == 1;
    }
    std::pair<int, uint32_t> Reset(int n, ZEVA_RESET_PARAM &param, uint8_t *ret) {
        std::string sn = SimSerial(n);
        return Run([&] { return zeva.ZEVA_ResetPasswd_V50(&sn[0], &param, ret); });
    }
};

TEST_F(Requests, ActivationSetsExactlyThePasswordSent) {
    StartDevsim("--inactive");
    std::string sn = SimSerial(0);
    EXPECT_EQ(std::make_pair(0, 2020u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"short"); }));
    EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"SixteenCharsLong"); }));
    EXPECT_EQ(std::make_pair(0, 2021u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"Other12345"); }));
    ZEVA_GUID_INFO guid{};
    EXPECT_EQ(std::make_pair(1, 0u), ExportGuid(0, "SixteenCharsLong", &guid));
    EXPECT_EQ("GUID-00000000-SIMULATED", std::string(reinterpret_cast<char *>(guid.byGUID), guid.dwGUIDLen));
    EXPECT_EQ(std::make_pair(0, 2009u), ExportGuid(0, "SixteenCharsLonX", &guid));
    // An unknown device never reaches the network.
    std::vector<size_t> mark = HeardMark();
    EXPECT_EQ(std::make_pair(0, 2005u), Run([&] { return zeva.ZEVA_ActivateDevice((char *)"DS-NONE", (char *)"x"); }));
    EXPECT_TRUE(PasswordIs(0, "SixteenCharsLong"));
    EXPECT_TRUE(OnlyFenceHeardSince(mark, 0));
}

TEST_F(Requests, EveryResetTypeSetsTheNewPassword) {
    StartDevsim("");
    std::unique_ptr<ZEVA_RESET_PARAM> p(new ZEVA_RESET_PARAM());
    uint8_t ret[2] = {0xEE, 0xEE};
    auto fresh = [&](uint8_t type, const char *password) {
        *p = ZEVA_RESET_PARAM();
        p->dwSize = sizeof *p;
        p->byResetType = type;
        std::strcpy(p->szPassword, password);
    };
    fresh(2, "Reset2Pass");
    std::strcpy(p->szCode, "RC0000000000");
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset2Pass"));

    fresh(3, "Reset3Pass");
    WriteFile(dir / "auth.txt", "RC0000000000\r\n");
    std::strcpy(p->szAuthFile, (dir / "auth.txt").c_str());
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset3Pass"));

    fresh(4, "Reset4Pass");
    std::strcpy(p->szGUID, "GUID-00000000-SIMULATED");
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset4Pass"));

    fresh(5, "Reset5Pass");
    const char *answers[] = {"blue", "seven", "river"};
    for (int i = 0; i < 3; ++i) {
        ZEVA_SECURITY_QUESTION &q = p->struSecurityQuestion.struQuestion[i * 3];
        q.dwID = uint32_t(i + 1);
        q.byMark = 1;
        std::strcpy(q.szAnswer, answers[i]);
    }
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset5Pass"));

    fresh(6, "Reset6Pass");
    std::strcpy(p->szCode, "RC0000000000");
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset6Pass"));

    fresh(2, "Reset7Pass");
    std::strcpy(p->szCode, "RC9999999999");
    EXPECT_EQ(std::make_pair(0, 2009u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset6Pass"));

    // Type 7 has only the 3.1 form, sent to every device.
    fresh(7, "Reset7Phone");
    std::strcpy(p->szCode, "00000000");
    EXPECT_EQ(std::make_pair(1, 0u), Reset(0, *p, ret));
    EXPECT_TRUE(PasswordIs(0, "Reset7Phone"));
    // The raw-frame reset is not open in this build.
    for (uint8_t type : {1, 9}) {
        fresh(type, "Whatever1");
        EXPECT_EQ(std::make_pair(0, type == 1 ? 2007u : 2005u), Reset(0, *p, ret)) << int(type);
    }
    std::string sn = SimSerial(0);
    ZEVA_RESET_CODE_PARAM code{};
    std::strcpy(code.szCode, "RC0000000000");
    EXPECT_EQ(std::make_pair(0, 2007u), Run([&] { return zeva.ZEVA_ResetPasswd(&sn[0], &code); }));
    EXPECT_EQ(std::make_pair(0, 2007u), Run([&] { return zeva.ZEVA_ResetDefaultPasswd(&sn[0], code.szCode); }));
    // With an auth file ZEVA_ResetPasswd resets by code.
    std::strcpy(code.szAuthFile, (dir / "auth.txt").c_str());
    std::strcpy(code.szPassword, "ResetV40ok");
    EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_ResetPasswd(&sn[0], &code); }));
    EXPECT_TRUE(PasswordIs(0, "ResetV40ok"));
    // Wrong codes until the device locks: its lock time reaches the caller's result word.
    fresh(2, "Reset8Pass");
    std::strcpy(p->szCode, "RC9999999999");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::make_pair(0, 2009u), Reset(0, *p, ret));
    EXPECT_EQ(std::make_pair(0, 2018u), Reset(0, *p, ret));
    EXPECT_EQ(0, ret[0]);
    EXPECT_EQ(30, ret[1]);
}

TEST_F(Requests, NetworkParametersInEachSaltBranch) {
    // Device 0: one salt, Encrypt on; 1: no salt, Encrypt off; 2: two salts.
    StartDevsim("", 0, 1);
    StartDevsim("--field Salt --field Encrypt=false", 1, 1);
    StartDevsim("--field Salt2=s2c0ffee --field Encrypt=false", 2, 1);
    for (int n = 0; n < 3; ++n) {
        ZEVA_NET_PARAM net{};
        std::snprintf(net.szIPv4Address, sizeof net.szIPv4Address, "10.77.1.%d", 60 + n);
        std::strcpy(net.szIPv4SubNetMask, "255.255.255.0");
        net.wCmdPort = 8001;
        uint8_t ret[128] = {};
        std::string mac = SimMac(n);
        EXPECT_EQ(std::make_pair(1, 0u),
                  Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"Sim12345", &net, ret, 128); }))
            << mac;
        EXPECT_EQ(std::make_pair(0, 2009u),
                  Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"Wrong123", &net, ret, 128); }))
            << mac;
    }
    // Every simulator hears all six requests.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(WaitHeard({"\"IPv6Address\": \"::\""}, 6, i)) << "an empty IPv6 address goes as ::";
    EXPECT_EQ(0u, CountHeard({"\"HttpPort\""})) << "port 0 is left out";
}

TEST_F(Requests, UserNameRules) {
    StartDevsim("--field UserName --field SecurityMode=high-A", 0, 1);
    StartDevsim("--field UserName", 1, 1);
    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.77.1.70");
    uint8_t ret[128] = {};
    std::string mac0 = SimMac(0), mac1 = SimMac(1);
    std::vector<size_t> mark = HeardMark();
    EXPECT_EQ(std::make_pair(0, 2005u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac0[0], (char *)"Sim12345", &net, ret, 128); }));
    // Security mode 0 takes "admin", the simulator's user name.
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac1[0], (char *)"Sim12345", &net, ret, 128); }));
    EXPECT_TRUE(OnlyFenceHeardSince(mark, 1)) << "nothing sent to device 0";
    // Gets and sets go out with an empty user name.
    ZEVA_DEVICE_TYPE_UNLOCK_CODE unlock{};
    std::string sn0 = SimSerial(0);
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn0[0], 3, nullptr, 0, &unlock, sizeof unlock); }));
    EXPECT_EQ("UNLOCK-00000000", Text(unlock.szCode, sizeof unlock.szCode));
}

TEST_F(Requests, EveryGetCommandWithItsCopyRule) {
    StartDevsim("");
    std::string sn = SimSerial(0), mac = SimMac(0);
    auto get = [&](uint32_t cmd, void *out, uint32_t size, const void *in = nullptr, uint32_t inSize = 0) {
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], cmd, const_cast<void *>(in), inSize, out, size); });
    };
    const std::pair<int, uint32_t> ok{1, 0u};
    ZEVA_DEVICE_CODE code{};
    ASSERT_EQ(ok, get(1, &code, sizeof code));
    EXPECT_EQ(12u, code.dwCodeLen);
    EXPECT_EQ("RC0000000000", Text(code.szCode, 256));
    // Only the length and that many bytes are written: the host's own bytes stay after them.
    ZEVA_DEVICE_CODE marked;
    std::memset(&marked, 'x', sizeof marked);
    ASSERT_EQ(ok, get(1, &marked, sizeof marked));
    EXPECT_EQ("RC0000000000" + std::string(244, 'x'), std::string(marked.szCode, 256));
    ZEVA_ENCRYPT_STRING enc{};
    ASSERT_EQ(ok, get(2, &enc, sizeof enc));
    EXPECT_EQ(44u + sn.size(), enc.dwEncryptStringLen) << "the string, then the serial number";
    EXPECT_EQ(sn, Text(enc.szEncryptString + 44, 64));
    ZEVA_SECURITY_QUESTION_CFG q{};
    ASSERT_EQ(ok, get(6, &q, sizeof q));
    EXPECT_EQ(3u, q.struQuestion[2].dwID);
    EXPECT_EQ(1, q.struQuestion[2].byMark);
    std::unique_ptr<ZEVA_BIND_LIST_CFG> bind(new ZEVA_BIND_LIST_CFG());
    ASSERT_EQ(ok, get(12, bind.get(), sizeof *bind));
    EXPECT_EQ("BOUND-00000000-2", Text(bind->struDevice[1].szSerialNO, 64));
    ZEVA_SELF_CHECK self{};
    ASSERT_EQ(ok, get(17, &self, sizeof self));
    EXPECT_EQ(100, self.byProgress);
    EXPECT_EQ("12%", Text(self.szCPU, 32));
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 18, nullptr, 0, nullptr, 0); }));
    ZEVA_QRCODES qr{};
    ASSERT_EQ(ok, get(21, &qr, sizeof qr));
    EXPECT_EQ("QR:" + mac + ":RC0000000000", Text(qr.szQRCode, 256));
    EXPECT_EQ("admin@devsim.test", Text(qr.szMailBoxAddr, 128));
    EXPECT_EQ(17u, qr.dwMailBoxLen);
    ZEVA_UNBIND_STATUS unbind{};
    ASSERT_EQ(ok, get(24, &unbind, sizeof unbind));
    EXPECT_EQ(2, unbind.byStatus);
    ZEVA_PASSWORD_RESET_TYPE types{};
    ASSERT_EQ(ok, get(27, &types, sizeof types));
    EXPECT_EQ(1, types.byPasswordResetTypeEnabled);
    EXPECT_EQ(1, types.byKWVerificationCodeEnabled);
    ZEVA_PHONE_QRCODE phone{};
    ASSERT_EQ(ok, get(29, &phone, sizeof phone));
    EXPECT_EQ("PHONE:" + mac, Text(phone.szQRCode, 1024));
    EXPECT_EQ("devsim.test", Text(phone.szDomainName, 256));
    ZEVA_DEVICE_CODE_V31 code31{};
    ASSERT_EQ(ok, get(30, &code31, sizeof code31));
    EXPECT_EQ("RC0000000000", Text(code31.szCode, 1024));
    ZEVA_ENCRYPT_STRING_V31 enc31{};
    ASSERT_EQ(ok, get(31, &enc31, sizeof enc31));
    EXPECT_EQ(44u, enc31.dwEncryptStringLen);
    char password[16] = "Sim12345";
    ZEVA_GUID_INFO_V31 guid31{};
    ASSERT_EQ(ok, get(32, &guid31, sizeof guid31, password, sizeof password));
    EXPECT_EQ("GUID-00000000-SIMULATED", std::string(reinterpret_cast<char *>(guid31.byGUID), guid31.dwGUIDLen));
    ZEVA_QRCODES_V31 qr31{};
    ASSERT_EQ(ok, get(33, &qr31, sizeof qr31));
    EXPECT_EQ("service@devsim.test", Text(qr31.szServiceMailBoxAddr, 128));
    ZEVA_DEVICE_TYPE_UNLOCK_CODE unlock{};
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_GetDeviceConfigByMAC(&mac[0], 3, nullptr, 0, &unlock, sizeof unlock); }));
}

TEST_F(Requests, EverySetCommand) {
    StartDevsim("");
    std::string sn = SimSerial(0), mac = SimMac(0);
    uint8_t out[256];
    auto set = [&](uint32_t cmd, void *in, uint32_t size) {
        std::memset(out, 0xEE, sizeof out);
        return Run([&] { return zeva.ZEVA_SetDeviceConfig(&sn[0], cmd, in, size, out, cmd == 7 ? 256 : 128); });
    };
    const std::pair<int, uint32_t> ok{1, 0u};
    std::unique_ptr<ZEVA_SECURITY_QUESTION_CFG> q(new ZEVA_SECURITY_QUESTION_CFG());
    const char *answers[] = {"north", "eight", "lake"};
    for (int i = 0; i < 3; ++i) {
        q->struQuestion[i].dwID = uint32_t(i + 1);
        q->struQuestion[i].byMark = 1;
        std::strcpy(q->struQuestion[i].szAnswer, answers[i]);
    }
    std::strcpy(q->szPassword, "Sim12345");
    EXPECT_EQ(ok, set(7, q.get(), sizeof *q));
    ZEVA_KWPLATFORM_STATUS_CFG kw{};
    kw.byEnable = 1;
    std::strcpy(kw.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(8, &kw, sizeof kw));
    ZEVA_VERIFICATION_CODE_CFG vc{};
    std::strcpy(vc.szVerificationCode, "ABCDEF");
    std::strcpy(vc.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(9, &vc, sizeof vc));
    std::unique_ptr<ZEVA_BIND_LIST_CFG> bind(new ZEVA_BIND_LIST_CFG());
    for (int i = 0; i < 32; ++i) {
        std::snprintf(bind->struDevice[i].szSerialNO, 64, "SERIAL-%02d-ABCDEF", i);
        bind->struDevice[i].byInUse = 1;
    }
    std::strcpy(bind->szPassword, "Sim12345");
    EXPECT_EQ(ok, set(13, bind.get(), sizeof *bind)) << "32 serials fit one request";
    ZEVA_WIFI_REGION_CFG region{};
    region.byMode = 1;
    region.byWifiRegion = 4;
    std::strcpy(region.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(15, &region, sizeof region));
    region.byMode = 9;
    EXPECT_EQ(std::make_pair(0, 2005u), set(15, &region, sizeof region));
    ZEVA_CHANNEL_DEFAULT_PASSWORD_CFG channel{};
    std::strcpy(channel.szPassword, "Sim12345");
    std::strcpy(channel.szDefaultPassword, "Chan12345");
    EXPECT_EQ(ok, set(16, &channel, sizeof channel));
    ZEVA_QADRA_ENABLE_CFG qadra{};
    std::strcpy(qadra.szDevID, "DEV<1>&");
    std::strcpy(qadra.szQadraKey, "qkey");
    std::strcpy(qadra.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(19, &qadra, sizeof qadra));
    EXPECT_TRUE(WaitHeard({"\"DevID\": \"DEV<1>&\""})) << "read unchanged by the device";
    ZEVA_MAILBOX_CFG mail{};
    std::strcpy(mail.szPassword, "Sim12345");
    std::strcpy(mail.szMailBoxAddr, "me@devsim.test");
    EXPECT_EQ(ok, set(20, &mail, sizeof mail));
    ZEVA_WIFI_PARAM wifi{};
    std::strcpy(wifi.szSSID, "lab");
    std::strcpy(wifi.szPassword, "wifipass");
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_SetDeviceConfig(&sn[0], 22, &wifi, sizeof wifi, nullptr, 0); }));
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_SetDeviceConfig(&sn[0], 23, &wifi, sizeof wifi, nullptr, 0); }));
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_WifiParamCfg(&mac[0], (char *)"lab", (char *)"wifipass"); }));
    EXPECT_EQ(ok, Run([&] { return zeva.ZEVA_WifiParamCheck(&mac[0], (char *)"lab", (char *)"wifipass"); }));
    ZEVA_TOVUK_UNBIND_CFG tovuk{};
    std::strcpy(tovuk.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(25, &tovuk, sizeof tovuk));
    ZEVA_TOVUK_UNBIND_DEL_USERS_CFG del{};
    std::strcpy(del.szCode, "UNBIND-CODE");
    EXPECT_EQ(ok, set(26, &del, sizeof del));
    ZEVA_USER_TOKEN_CFG token{};
    std::strcpy(token.szUserToken, "tok");
    std::strcpy(token.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(28, &token, sizeof token));
    std::strcpy(token.szPassword, "Wrong123");
    EXPECT_EQ(std::make_pair(0, 2009u), set(28, &token, sizeof token));
    // Restoring the inactive state ends the device's password.
    ZEVA_RESTORE_INACTIVE_CFG restore{};
    std::strcpy(restore.szPassword, "Sim12345");
    EXPECT_EQ(ok, set(14, &restore, sizeof restore));
    EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"Again12345"); }));
}

// What the request exports log reaches the host's log file byte for byte, the GB2312
// separators A1 A2 of the null-argument line included.
TEST_F(Requests, RequestLinesInTheLogFile) {
    StartDevsim("");
    std::string logDir = dir / "sdklog/";
    std::filesystem::create_directories(logDir);
    ASSERT_EQ(1, zeva.ZEVA_SetLogToFile(3, logDir.c_str(), 0)) << zeva.ZEVA_GetLastError();
    std::string sn = SimSerial(0), mac = SimMac(0);
    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.77.1.80");
    net.wCmdPort = 8000;
    uint8_t ret[128] = {};
    EXPECT_EQ(std::make_pair(0, 2005u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"Sim12345", &net, nullptr, 128); }));
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"Sim12345", &net, ret, 128); }));
    std::unique_ptr<ZEVA_RESET_PARAM> reset(new ZEVA_RESET_PARAM());
    reset->byResetType = 2;
    std::strcpy(reset->szCode, "RC9999999999");
    std::strcpy(reset->szPassword, "Reset2Pass");
    EXPECT_EQ(std::make_pair(0, 2009u), Reset(0, *reset, ret));
    ZEVA_KWPLATFORM_STATUS_CFG kw{};
    kw.byEnable = 1;
    std::strcpy(kw.szPassword, "Sim12345");
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_SetDeviceConfig(&sn[0], 8, &kw, sizeof kw, ret, sizeof ret); }));
    const std::string lines[] = {
        "[ModifyDeviceNetParam_V40] sMAC\xA1\xA2 sPassword\xA1\xA2 lpNetParam or lpRetNetParam  is Null or "
        "dwOutBuffSize is 0! ",
        "[ModifyDeviceNetParam_V40] sMAC[" + mac +
            "] byDhcpEnable[0] byIPv6MaskLen[0] dwSDKOverTLSPort[0] szIPv4Address[10.77.1.80] szIPv4Gateway[] "
            "szIPv4SubNetMask[] szIPv6Address[] szIPv6Gateway[] wCmdPort[8000] wHttpPort[0]",
        "[CService::ModifyNetParam] Send XML is <?xml",
        "[ResetPasswd_V50] sDevSerialNO[" + sn +
            "] byEnableSyncIPCPW[0] byResetType[2] szAuthFile[] szCode[RC9999999999] szGUID[]",
        "[CService::ResetPassword] Send XML is <?xml",
        "[SetDeviceConfig] sDevSerialNO[" + sn + "] dwCommand[8] lpInBuffer[0x",
        "[CService::SetDeviceConfig] Send XML is <?xml",
    };
    auto logged = [&] {
        std::string all;
        for (const auto &file : std::filesystem::directory_iterator(logDir))
            all += ReadFile(file.path());
        return all;
    };
    for (const std::string &line : lines)
        EXPECT_TRUE(WaitFor([&] { return logged().find(line) != std::string::npos; }, 30000)) << line;
}

TEST_F(Requests, EachResultWordMapsToItsLastError) {
    std::string word = dir / "result";
    StartDevsim("--result deviceTypeUnlockCode=@" + word);
    const struct {
        const char *word;
        int result;
        uint32_t error;
    } rows[] = {
        {"failed", 0, 2009},       {"success", 1, 0},           {"locked", 0, 2018},
        {"riskPassword", 0, 2020}, {"hasActivated", 0, 2021},   {"notActivated", 0, 2019},
        {"emptyEncryptString", 0, 2022}, {"exportFileOverDue", 0, 2023}, {"PasswordError", 0, 2024},
        {"LongAnswer", 0, 2025},   {"QuestionNumErr", 0, 2028}, {"invalidGUID", 0, 2026},
        {"AnswerError", 0, 2027},  {"IllegalVerificationCode", 0, 2033}, {"BindErrorDev", 0, 2034},
        {"ExcedMaxBindNum", 0, 2035}, {"notExist", 0, 2036},    {"notSetMailBox", 0, 2038},
        {"codeError", 0, 2039},    {"CodeError", 0, 2039},      {"notSetPhoneNo", 0, 2046},
    };
    std::string sn = SimSerial(0);
    ZEVA_DEVICE_TYPE_UNLOCK_CODE out{};
    for (const auto &row : rows) {
        WriteFile(word, row.word);
        EXPECT_EQ(std::make_pair(row.result, row.error),
                  Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 3, nullptr, 0, &out, sizeof out); }))
            << row.word;
    }
}

TEST_F(Requests, FirstAnswerWithAnotherMacIsDropped) {
    StartDevsim("--wrong-mac-first --reply both");
    std::string sn = SimSerial(0);
    ZEVA_DEVICE_CODE code{};
    EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 1, nullptr, 0, &code, 260); }));
    EXPECT_EQ("RC0000000000", Text(code.szCode, 256));
    EXPECT_TRUE(PasswordIs(0, "Sim12345")) << "the duplicates of the last answer disturb no later request";
}

// Requests from several host threads, each answered on both ports, so that two receive threads
// store the same answer while the request reads it: every request gets its own device's record
// (and ThreadSanitizer sees every store ordered before the read).
TEST_F(Requests, ManyThreadsEachGetTheirDevicesAnswer) {
    constexpr int kDevices = 4, kRounds = 10;
    StartDevsim("--reply both", 0, kDevices);
    std::vector<std::string> wrong(kDevices);
    std::vector<std::thread> hosts;
    for (int n = 0; n < kDevices; ++n)
        hosts.emplace_back([&, n] {
            std::string sn = SimSerial(n);
            char expect[32];
            std::snprintf(expect, sizeof expect, "UNLOCK-%08d", n);
            for (int round = 0; round < kRounds && wrong[n].empty(); ++round) {
                ZEVA_DEVICE_TYPE_UNLOCK_CODE out{};
                int ok = zeva.ZEVA_GetDeviceConfig(&sn[0], 3, nullptr, 0, &out, sizeof out);
                if (!ok || Text(out.szCode, sizeof out.szCode) != expect)
                    wrong[n] = "round " + std::to_string(round) + ": " + std::to_string(ok) + " [" +
                               Text(out.szCode, sizeof out.szCode) + "]";
            }
        });
    for (std::thread &t : hosts)
        t.join();
    for (int n = 0; n < kDevices; ++n)
        EXPECT_EQ("", wrong[n]) << SimSerial(n);
}

// Each simulator sends one hostile answer with the request's Uuid before its real one: the
// request ends with the right answer or a clear error, never a wrong success.
TEST_F(Requests, HostileAnswers) {
    const char *kinds[] = {"no-mac", "long-code", "huge-code", "qr-overflow", "many-questions", "many-serials", "echo"};
    for (int n = 0; n < 7; ++n)
        StartDevsim(std::string("--hostile ") + kinds[n], n, 1);
    std::vector<uint8_t> out(13076);
    auto get = [&](int n, uint32_t cmd, uint32_t size) {
        std::string sn = SimSerial(n);
        std::fill(out.begin(), out.end(), 0);
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], cmd, nullptr, 0, out.data(), size); });
    };
    // An answer without MAC is taken: this one says "failed".
    EXPECT_EQ(std::make_pair(0, 2009u), get(0, 3, 388));
    EXPECT_EQ(std::make_pair(0, 2047u), get(1, 1, 260));
    EXPECT_EQ(std::make_pair(0, 2047u), get(2, 1, 260));
    EXPECT_EQ(std::make_pair(0, 2047u), get(3, 21, 652));
    EXPECT_EQ(std::make_pair(1, 0u), get(4, 6, 13076));
    auto *q = reinterpret_cast<ZEVA_SECURITY_QUESTION_CFG *>(out.data());
    EXPECT_EQ(32u, q->struQuestion[31].dwID);
    EXPECT_EQ(std::make_pair(1, 0u), get(5, 12, 6288));
    auto *bind = reinterpret_cast<ZEVA_BIND_LIST_CFG *>(out.data());
    EXPECT_EQ("HOSTILE-32", Text(bind->struDevice[31].szSerialNO, 64));
    // Our own request come back is no answer: the device's real one is taken.
    EXPECT_EQ(std::make_pair(1, 0u), get(6, 3, 388));
    EXPECT_EQ("UNLOCK-00000006", Text(reinterpret_cast<char *>(out.data()) + 4, 256));
    std::string sn = SimSerial(6);
    // And through an exchange first: an active device says so.
    EXPECT_EQ(std::make_pair(0, 2021u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"Sim12345"); }));
}

// Answers that fit the newer records but not the older ones: the older commands end with "buffer
// size not enough" rather than a cut or overflowing copy.
TEST_F(Requests, CopyRulesOfTheOlderRecords) {
    StartDevsim("--hostile code-200", 0, 1);
    StartDevsim("--hostile guid-200", 1, 1);
    StartDevsim("--hostile qr-300", 2, 1);
    std::vector<uint8_t> out(1548);
    char password[16] = "Sim12345";
    auto get = [&](int n, uint32_t cmd, uint32_t size, void *in = nullptr) {
        std::string sn = SimSerial(n);
        std::fill(out.begin(), out.end(), 0xEE);
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], cmd, in, in ? 16 : 0, out.data(), size); });
    };
    const std::pair<int, uint32_t> ok{1, 0u}, tooSmall{0, 2047u};
    uint32_t len;
    EXPECT_EQ(tooSmall, get(0, 1, 260));
    EXPECT_EQ(ok, get(0, 30, 1028));
    std::memcpy(&len, out.data(), 4);
    EXPECT_EQ(200u, len);
    EXPECT_EQ(tooSmall, get(1, 5, 388, password));
    EXPECT_EQ(0xEE, out[4]) << "nothing copied";
    EXPECT_EQ(ok, get(1, 32, 900, password));
    std::memcpy(&len, out.data(), 4);
    EXPECT_EQ(200u, len);
    EXPECT_EQ(tooSmall, get(2, 21, 652));
    EXPECT_EQ(ok, get(2, 33, 1548));
    std::memcpy(&len, out.data(), 4);
    EXPECT_EQ(300u, len);
}

TEST_F(Requests, NotStartedAndNoUsableService) {
    StartDevsim("");
    std::string sn = SimSerial(0);
    ZEVA_DEVICE_TYPE_UNLOCK_CODE out{};
    // No service can send: "SDK Error!" with the request's 2015, also where the socket's own
    // failure was the firewall's refusal (2040).
    const struct {
        const char *state, *enter, *leave;
        uint32_t code;
    } rows[] = {
        {"requests refused by the firewall",
         "nft add table inet zt && nft add chain inet zt out '{ type filter hook output priority 0; }' && "
         "nft add rule inet zt out udp dport 35090 drop",
         "nft delete table inet zt", 2015},
        {"adapter down", "ip link set h1 down", "ip link set h1 up", 2015},
    };
    for (const auto &row : rows) {
        ASSERT_EQ(0, lab.Exec(host, row.enter).status) << row.state;
        EXPECT_EQ(std::make_pair(0, row.code),
                  Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 3, nullptr, 0, &out, sizeof out); }))
            << row.state;
        ASSERT_EQ(0, lab.Exec(host, row.leave).status) << row.state;
    }
    ASSERT_EQ(1, zeva.ZEVA_Stop());
    started = false;
    EXPECT_EQ(std::make_pair(0, 2002u), Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 3, nullptr, 0, &out, sizeof out); }));
}

}  // namespace
