// Requests to protocol-3.1 devices end to end: the simulator opens every secret with its own
// RSA-2048, SHA-256 and AES-CBC, so a request succeeds only when the keys were derived alike.
#include <cstring>
#include <memory>
#include <string>

#include "sdk_request_fixture.h"

using namespace sdktest;

namespace {

std::string Text(const char *field, size_t width) { return std::string(field, strnlen(field, width)); }

class Requests31 : public RequestLab {
protected:
    // Get command 32: the GUID comes back under the request's key and IV.
    std::pair<int, uint32_t> ExportGuid(const char *password, ZEVA_GUID_INFO_V31 *out, int n = 0) {
        char in[16] = {};
        std::memcpy(in, password, strnlen(password, sizeof in));
        std::string sn = SimSerial(n);
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 32, in, sizeof in, out, sizeof *out); });
    }
    bool PasswordIs(const char *password) {
        ZEVA_GUID_INFO_V31 guid{};
        return ExportGuid(password, &guid).first == 1;
    }
};

TEST_F(Requests31, ActivationExportAndRefusedCommands) {
    StartDevsim("--protocol 3.1 --inactive");
    std::string sn = SimSerial(0);
    EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_ActivateDevice(&sn[0], (char *)"SixteenCharsLong"); }));
    ZEVA_GUID_INFO_V31 guid{};
    EXPECT_EQ(std::make_pair(1, 0u), ExportGuid("SixteenCharsLong", &guid));
    EXPECT_EQ(32u, guid.dwGUIDLen) << "the GUID's two blocks, zero-padded";
    EXPECT_EQ("GUID-00000000-SIMULATED", Text(reinterpret_cast<char *>(guid.byGUID), guid.dwGUIDLen));
    EXPECT_EQ(std::make_pair(0, 2009u), ExportGuid("SixteenCharsLonX", &guid));

    ZEVA_QRCODES_V31 qr{};
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 33, nullptr, 0, &qr, sizeof qr); }));
    EXPECT_EQ("QR:" + SimMac(0) + ":RC0000000000", Text(qr.szQRCode, sizeof qr.szQRCode)) << "sent as it is";
    uint8_t out[2048];
    for (uint32_t cmd : {1, 2, 5, 21})
        EXPECT_EQ(std::make_pair(0, 2005u),
                  Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], cmd, nullptr, 0, out, sizeof out); }))
            << cmd;
}

// Each hostile simulator sends a broken answer with the request's Uuid before its real one: the
// request ends with a clear error, and the next request to a sound device gets its answer.
TEST_F(Requests31, HostileAnswersWhileTheRequestWaits) {
    const struct {
        const char *kind;
        uint32_t cmd, error;
    } rows[] = {
        {"guid-528", 32, 2047},      // past the record's 512 bytes
        {"guid-1040", 32, 2047},     // past the 1024-byte cipher copy
        {"guid-100", 32, 2045},      // no whole AES block: does not decrypt
        {"qr-text-1024", 33, 2047},  // one character past the field
    };
    StartDevsim("--protocol 3.1");
    for (int n = 1; n <= 4; ++n)
        StartDevsim(std::string("--protocol 3.1 --hostile ") + rows[n - 1].kind, n, 1);
    for (int n = 1; n <= 4; ++n) {
        const auto &row = rows[n - 1];
        if (row.cmd == 32) {
            ZEVA_GUID_INFO_V31 guid{};
            EXPECT_EQ(std::make_pair(0, row.error), ExportGuid("Sim12345", &guid, n)) << row.kind;
            EXPECT_EQ(0u, guid.dwGUIDLen) << row.kind;
            EXPECT_EQ(std::make_pair(1, 0u), ExportGuid("Sim12345", &guid)) << "after " << row.kind;
            EXPECT_EQ("GUID-00000000-SIMULATED", Text(reinterpret_cast<char *>(guid.byGUID), guid.dwGUIDLen));
        } else {
            ZEVA_QRCODES_V31 qr{};
            std::string sn = SimSerial(n), good = SimSerial(0);
            EXPECT_EQ(std::make_pair(0, row.error),
                      Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 33, nullptr, 0, &qr, sizeof qr); }))
                << row.kind;
            EXPECT_EQ(std::make_pair(1, 0u),
                      Run([&] { return zeva.ZEVA_GetDeviceConfig(&good[0], 33, nullptr, 0, &qr, sizeof qr); }))
                << "after " << row.kind;
            EXPECT_EQ("QR:" + SimMac(0) + ":RC0000000000", Text(qr.szQRCode, sizeof qr.szQRCode));
        }
    }
}

TEST_F(Requests31, EachResetKindAndTheNetworkParameters) {
    StartDevsim("--protocol 3.0,3.1");
    std::unique_ptr<ZEVA_RESET_PARAM> p(new ZEVA_RESET_PARAM());
    uint8_t ret[2] = {};
    std::string sn = SimSerial(0);
    const struct {
        uint8_t type;
        const char *code, *guid, *password;
    } rows[] = {
        {2, "RC0000000000", "", "ResetV31a"},  // reset_v31 under the exchanged R
        {2, "00000000", "", "ResetV31b"},      // reset2_v31 keyed by the short code
        {4, "", "GUID-00000000-SIMULATED", "ResetV31c"},
        {6, "RC0000000000", "", "ResetV31d"},
        {7, "00000000", "", "ResetV31e"},
        {5, "", "", "ResetV31f"},  // answers 1 blue, 2 seven: the third ID goes as 0
    };
    for (const auto &row : rows) {
        *p = ZEVA_RESET_PARAM();
        p->dwSize = sizeof *p;
        p->byResetType = row.type;
        std::strcpy(p->szPassword, row.password);
        std::strcpy(p->szCode, row.code);
        std::strcpy(p->szGUID, row.guid);
        const char *answers[] = {"blue", "seven"};
        for (int i : {0, 1}) {
            p->struSecurityQuestion.struQuestion[i * 4].dwID = uint32_t(i + 1);
            p->struSecurityQuestion.struQuestion[i * 4].byMark = 1;
            std::strcpy(p->struSecurityQuestion.struQuestion[i * 4].szAnswer, answers[i]);
        }
        EXPECT_EQ(std::make_pair(1, 0u), Run([&] { return zeva.ZEVA_ResetPasswd_V50(&sn[0], p.get(), ret); }))
            << int(row.type) << " " << row.code;
        EXPECT_TRUE(PasswordIs(row.password)) << int(row.type) << " " << row.code;
    }
    for (const char *word :
         {"reset_v31", "reset2_v31", "GUIDReset_v31", "MailReset_v31", "PhoneNoReset_v31", "AnswerReset_v31"})
        EXPECT_TRUE(WaitHeard({std::string("\"") + word + "\""})) << word;

    ZEVA_NET_PARAM net{};
    std::strcpy(net.szIPv4Address, "10.77.1.61");
    std::strcpy(net.szIPv4SubNetMask, "255.255.255.0");
    net.wCmdPort = 8001;
    uint8_t netRet[128] = {};
    std::string mac = SimMac(0);
    EXPECT_EQ(std::make_pair(1, 0u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"ResetV31f", &net, netRet, 128); }));
    EXPECT_EQ(std::make_pair(0, 2009u),
              Run([&] { return zeva.ZEVA_ModifyDeviceNetParam_V40(&mac[0], (char *)"Wrong123", &net, netRet, 128); }));
    EXPECT_TRUE(WaitHeard({"\"update_v31\""}));
}

TEST_F(Requests31, SettingsUnderTheDerivedKey) {
    StartDevsim("--protocol 3.1");
    std::string sn = SimSerial(0);
    uint8_t out[256];
    auto set = [&](uint32_t cmd, void *in, uint32_t size) {
        return Run([&] { return zeva.ZEVA_SetDeviceConfig(&sn[0], cmd, in, size, out, cmd == 7 ? 256 : 128); });
    };
    ZEVA_MAILBOX_CFG mail{};
    std::strcpy(mail.szPassword, "Sim12345");
    std::strcpy(mail.szMailBoxAddr, "new@devsim.test");
    EXPECT_EQ(std::make_pair(1, 0u), set(20, &mail, sizeof mail));
    ZEVA_KWPLATFORM_STATUS_CFG kw{};
    kw.byEnable = 1;
    std::strcpy(kw.szPassword, "Sim12345");
    EXPECT_EQ(std::make_pair(1, 0u), set(8, &kw, sizeof kw));
    std::strcpy(kw.szPassword, "Wrong123");
    EXPECT_EQ(0, set(8, &kw, sizeof kw).first);
    std::unique_ptr<ZEVA_SECURITY_QUESTION_CFG> q(new ZEVA_SECURITY_QUESTION_CFG());
    std::strcpy(q->szPassword, "Sim12345");
    const char *answers[] = {"green", "eight", "lake"};
    for (int i = 0; i < 3; ++i) {
        q->struQuestion[i].dwID = uint32_t(i + 1);
        q->struQuestion[i].byMark = 1;
        std::strcpy(q->struQuestion[i].szAnswer, answers[i]);
    }
    EXPECT_EQ(std::make_pair(1, 0u), set(7, q.get(), sizeof *q));
    // Their 3.1 forms are keyed by the 3.1 exchange, not the 3.0 one the other settings use.
    // The restore to inactive comes last: an inactive device refuses settings.
    ZEVA_TOVUK_UNBIND_CFG unbind{};
    std::strcpy(unbind.szPassword, "Sim12345");
    EXPECT_EQ(std::make_pair(1, 0u), set(25, &unbind, sizeof unbind));
    ZEVA_RESTORE_INACTIVE_CFG restore{};
    std::strcpy(restore.szPassword, "Sim12345");
    EXPECT_EQ(std::make_pair(1, 0u), set(14, &restore, sizeof restore));
    for (const char *word : {"SetMailBox_v31", "SetKWPlatform_v31", "setsecurityquestion_v31",
                             "restoreInactive_v31", "tovukUnbind_v31"})
        EXPECT_TRUE(WaitHeard({std::string("\"") + word + "\""})) << word;
}

}  // namespace
