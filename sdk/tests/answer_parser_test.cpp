// The answers to requests: Result words, the data blocks byte by byte, and hostile answers that
// must end in a clear code with nothing written past a block.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"

using namespace ZEVA;

namespace {

using Parser = int (*)(const TiXmlElement *, uint8_t *);

std::string B64(const std::string &raw) {
    std::vector<char> out(raw.size() * 2 + 8);
    CEncrypt::Base64_Encode(reinterpret_cast<const uint8_t *>(raw.data()), uint32_t(raw.size()), out.data(),
                            uint32_t(out.size()));
    return out.data();
}

// Runs the parser on the children, in a block with guard bytes behind it.
struct Parsed {
    int code = -99;
    std::vector<uint8_t> block;
    uint32_t U32(size_t at) const {
        uint32_t v;
        std::memcpy(&v, block.data() + at, 4);
        return v;
    }
    std::string Text(size_t at, size_t width) const {
        const char *p = reinterpret_cast<const char *>(block.data() + at);
        return std::string(p, strnlen(p, width));
    }
};

Parsed Parse(Parser parse, uint32_t size, const std::string &children) {
    std::string text = "<Probe><Types>t</Types>" + children + "</Probe>";
    TiXmlDocument doc;
    const TiXmlElement *root = ParseProbe(text.data(), uint32_t(text.size()), doc);
    Parsed r;
    r.block.assign(size + 64, 0xA5);
    std::memset(r.block.data(), 0, size);
    if (root)
        r.code = parse(root, r.block.data());
    for (size_t i = size; i < r.block.size(); ++i)
        EXPECT_EQ(0xA5, r.block[i]) << "written past the block at " << i;
    r.block.resize(size);
    return r;
}

TEST(AnswerParser, ResultWords) {
    const struct {
        const char *children;
        int code;
    } rows[] = {
        {"<Result>failed</Result>", 0},         {"<Result>success</Result>", 1},
        {"<Result>locked</Result>", 2},         {"<Result>riskPassword</Result>", 3},
        {"<Result>hasActivated</Result>", 4},   {"<Result>notActivated</Result>", 5},
        {"<Result>emptyEncryptString</Result>", 6}, {"<Result>exportFileOverDue</Result>", 7},
        {"<Result>PasswordError</Result>", 8},  {"<Result>LongAnswer</Result>", 9},
        {"<Result>QuestionNumErr</Result>", 10}, {"<Result>invalidGUID</Result>", 11},
        {"<Result>AnswerError</Result>", 12},   {"<Result>IllegalVerificationCode</Result>", 13},
        {"<Result>BindErrorDev</Result>", 14},  {"<Result>ExcedMaxBindNum</Result>", 15},
        {"<Result>notExist</Result>", 16},      {"<Result>notSetMailBox</Result>", 17},
        {"<Result>codeError</Result>", 18},     {"<Result>CodeError</Result>", 18},
        {"<Result>notSetPhoneNo</Result>", 19}, {"<Result>Success</Result>", -1},
        {"<Result></Result>", -1},              {"", -1},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.code, Parse(CMulticastProtocol::ParseResultOnly, 1, row.children).code) << row.children;
}

TEST(AnswerParser, CodeTexts) {
    std::string c511(511, 'c'), c512(512, 'c');
    Parsed r = Parse(CMulticastProtocol::ParseDeviceCode, 1028, "<Result>success</Result><Code>" + c511 + "</Code>");
    EXPECT_EQ(1, r.code);
    EXPECT_EQ(511u, r.U32(0));
    EXPECT_EQ(c511, r.Text(4, 1024));
    r = Parse(CMulticastProtocol::ParseDeviceCode, 1028, "<Result>success</Result><Code>" + c512 + "</Code>");
    EXPECT_EQ(ANSWER_TOO_LONG, r.code);
    EXPECT_EQ(512u, r.U32(0));
    EXPECT_EQ("", r.Text(4, 1024));
    r = Parse(CMulticastProtocol::ParseDeviceCode, 1028, "<Result>failed</Result><Code>x</Code>");
    EXPECT_EQ(0, r.code);
    EXPECT_EQ(0u, r.U32(0));
    r = Parse(CMulticastProtocol::ParseDeviceCode, 1028, "<Code>abc</Code>");  // no Result: kept, -1
    EXPECT_EQ(-1, r.code);
    EXPECT_EQ("abc", r.Text(4, 1024));
    r = Parse(CMulticastProtocol::ParseEncryptString, 1540,
              "<Result>success</Result><EncryptString>" + std::string(1024, 'e') + "</EncryptString>");
    EXPECT_EQ(ANSWER_TOO_LONG, r.code);
    r = Parse(CMulticastProtocol::ParseDeviceTypeUnlockCode, 388,
              "<Result>success</Result><Code>" + std::string(300, 'u') + "</Code>");
    EXPECT_EQ(1, r.code);  // cut, not refused
    EXPECT_EQ(255u, r.U32(0));
    // The exchange code is kept whole or refused: a cut random string could not be decrypted.
    r = Parse(CMulticastProtocol::ParseExchangeCode, 644, "<Result>success</Result><Code>" + c511 + "</Code>");
    EXPECT_EQ(1, r.code);
    EXPECT_EQ(c511, r.Text(4, 640));
    for (size_t len : {512, 10000}) {
        r = Parse(CMulticastProtocol::ParseExchangeCode, 644,
                  "<Result>success</Result><Code>" + std::string(len, 'A') + "</Code>");
        EXPECT_EQ(ANSWER_TOO_LONG, r.code);
        EXPECT_EQ(0u, r.U32(0));
    }
}

TEST(AnswerParser, GuidAndQrCodesDecodeWithinTheirFields) {
    Parsed r = Parse(CMulticastProtocol::ParseExportGUID, 900,
                  "<Result>success</Result><RetryTimes>300</RetryTimes><SurplusLockTime>7</SurplusLockTime><GUID>" +
                      B64("GUID-1") + "</GUID>");
    EXPECT_EQ(1, r.code);
    EXPECT_EQ(6u, r.U32(0));
    EXPECT_EQ("GUID-1", r.Text(4, 6));
    EXPECT_EQ(300 & 0xFF, r.block[516]);
    EXPECT_EQ(7, r.block[517]);
    r = Parse(CMulticastProtocol::ParseExportGUID, 900,
              "<Result>success</Result><GUID>" + B64(std::string(5000, 'g')) + "</GUID>");
    EXPECT_EQ(5000u, r.U32(0));  // only the length
    EXPECT_EQ(0, r.block[4]);

    std::string ok = "<Result>success</Result><QRcodes>" + B64("QR-TEXT") + "</QRcodes><MailBox>" + B64("a@b.c") +
                     "</MailBox><MailServiceBox>" + B64("s@b.c") + "</MailServiceBox>";
    r = Parse(CMulticastProtocol::ParseQRcodes, 1548, ok);
    EXPECT_EQ(1, r.code);
    EXPECT_EQ(7u, r.U32(0));
    EXPECT_EQ(5u, r.U32(4));
    EXPECT_EQ(5u, r.U32(8));
    EXPECT_EQ("QR-TEXT", r.Text(12, 1024));
    EXPECT_EQ("a@b.c", r.Text(1036, 128));
    EXPECT_EQ("s@b.c", r.Text(1164, 128));
    for (const std::string &hostile :
         {"<Result>success</Result><QRcodes>" + B64(std::string(1024, 'q')) + "</QRcodes>",
          "<Result>success</Result><MailBox>" + B64(std::string(128, 'm')) + "</MailBox>",
          "<Result>success</Result><MailServiceBox>" + B64(std::string(10000, 'm')) + "</MailServiceBox>"})
        EXPECT_EQ(ANSWER_TOO_LONG, Parse(CMulticastProtocol::ParseQRcodes, 1548, hostile).code);
}

TEST(AnswerParser, ListsStopAtThirtyTwo) {
    std::string questions, serials;
    for (int i = 1; i <= 40; ++i)
        questions += "<Question><ID>" + std::to_string(i) + "</ID><mark>true</mark></Question>";
    for (int i = 1; i <= 33; ++i)
        serials += "<DeviceSN>SN-" + std::to_string(i) + std::string(70, 'x') + "</DeviceSN>";
    Parsed r = Parse(CMulticastProtocol::ParseSecurityQuestion, 13076,
                  "<Result>success</Result><QuestionList>" + questions + "</QuestionList>");
    EXPECT_EQ(1, r.code);
    auto *cfg = reinterpret_cast<const ZEVA_SECURITY_QUESTION_CFG *>(r.block.data());
    EXPECT_EQ(1u, cfg->struQuestion[0].dwID);
    EXPECT_EQ(32u, cfg->struQuestion[31].dwID);
    EXPECT_EQ(1, cfg->struQuestion[31].byMark);
    r = Parse(CMulticastProtocol::ParseBindList, 6288, "<Result>success</Result><DeviceSNList>" + serials + "</DeviceSNList>");
    auto *list = reinterpret_cast<const ZEVA_BIND_LIST_CFG *>(r.block.data());
    EXPECT_EQ(1, list->struDevice[31].byInUse);
    EXPECT_EQ(std::string("SN-32") + std::string(59, 'x'), std::string(list->struDevice[31].szSerialNO, 64));
    EXPECT_EQ(0, list->struDevice[31].byRes[0]);
}

TEST(AnswerParser, StatusSelfCheckAndResetTypes) {
    Parsed r = Parse(CMulticastProtocol::ParseUnbindStatus, 128, "<Result>notBind</Result>");
    EXPECT_EQ(1, r.code);
    EXPECT_EQ(2, r.block[0]);
    r = Parse(CMulticastProtocol::ParseUnbindStatus, 128, "<Result>locked</Result>");
    EXPECT_EQ(2, r.code);
    EXPECT_EQ(0, r.block[0]);
    r = Parse(CMulticastProtocol::ParseSelfCheck, 212, "<Result>success</Result>");
    auto *sc = reinterpret_cast<const ZEVA_SELF_CHECK *>(r.block.data());
    EXPECT_EQ(212u, sc->dwSize);
    EXPECT_EQ(-1, sc->iTotalDisk);
    EXPECT_EQ(-1, sc->iGoodDisk);
    EXPECT_EQ(255, sc->byTotalNetworkPort);
    EXPECT_EQ(255, sc->byConnectNetworkPort);
    r = Parse(CMulticastProtocol::ParseSelfCheck, 212,
              "<Result>success</Result><Progress>50</Progress><TotalDisk>4</TotalDisk><FanState>abnormal</FanState>"
              "<SASConnectState>connected</SASConnectState><CPU>" + std::string(40, 'c') + "</CPU>");
    sc = reinterpret_cast<const ZEVA_SELF_CHECK *>(r.block.data());
    EXPECT_EQ(50, sc->byProgress);
    EXPECT_EQ(4, sc->iTotalDisk);
    EXPECT_EQ(2, sc->byFanState);
    EXPECT_EQ(1, sc->bySASConnectState);
    EXPECT_EQ(std::string(32, 'c'), std::string(sc->szCPU, 32));
    EXPECT_EQ(0, sc->szMemory[0]);
    r = Parse(CMulticastProtocol::ParsePasswordResetType, 76,
              "<Result>success</Result><GuidFileDataEnabled>true</GuidFileDataEnabled>"
              "<KWVerificationCodeEnabled>yes</KWVerificationCodeEnabled>");
    EXPECT_EQ(0, r.block[4]);
    EXPECT_EQ(1, r.block[5]);
    EXPECT_EQ(0, r.block[8]);
    r = Parse(CMulticastProtocol::ParsePhoneQRcodes, 1444,
              "<Result>success</Result><QRCode>" + std::string(2000, 'p') + "</QRCode><Model>M</Model>");
    EXPECT_EQ(std::string(1023, 'p'), r.Text(292, 1024));
    EXPECT_EQ("M", r.Text(260, 32));
}

TEST(AnswerParser, RetryRules) {
    const std::string retry = "<RetryTimes>3</RetryTimes><SurplusLockTime>60</SurplusLockTime>";
    const struct {
        Parser parse;
        const char *result;  // null: no Result element
        int code;
        bool filled;
    } rows[] = {
        {CMulticastProtocol::ParseResetPWRes, "failed", 0, false},
        {CMulticastProtocol::ParseResetPWRes, "PasswordError", 8, true},
        {CMulticastProtocol::ParseGuidResetPW, "failed", 0, true},
        {CMulticastProtocol::ParseRetryUnlessFailed, "failed", 0, false},
        {CMulticastProtocol::ParseRetryUnlessFailed, "success", 1, true},
        {CMulticastProtocol::ParseRetryUnlessFailed, "odd", -1, true},
        {CMulticastProtocol::ParseRetryAlways, nullptr, -1, true},
        {CMulticastProtocol::ParseWifiRegionRes, nullptr, -1, false},
        {CMulticastProtocol::ParseWifiRegionRes, "success", 1, false},
        {CMulticastProtocol::ParseWifiRegionRes, "notActivated", 5, false},
        {CMulticastProtocol::ParseWifiRegionRes, "locked", 2, true},
        {CMulticastProtocol::ParseSetBindListRes, "PasswordError", 8, true},
        {CMulticastProtocol::ParseSetBindListRes, "failed", 0, false},
        {CMulticastProtocol::ParseSetBindListRes, nullptr, -1, false},
        {CMulticastProtocol::ParseQadraEnableRes, "success", 1, true},
        {CMulticastProtocol::ParseQadraEnableRes, nullptr, -1, true},
        {CMulticastProtocol::ParseQadraEnableRes, "failed", 0, false},
    };
    for (const auto &row : rows) {
        std::string children = (row.result ? "<Result>" + std::string(row.result) + "</Result>" : "") + retry;
        Parsed r = Parse(row.parse, 128, children);
        EXPECT_EQ(row.code, r.code) << children;
        EXPECT_EQ(row.filled ? 3 : 0, r.block[0]) << children;
        EXPECT_EQ(row.filled ? 60 : 0, r.block[1]) << children;
    }
    Parsed r = Parse(CMulticastProtocol::ParseUpdateRes, 128,
                  "<Result>locked</Result><RetryModifyTime>2</RetryModifyTime><RetryTimes>9</RetryTimes>");
    EXPECT_EQ(2, r.block[0]);
    r = Parse(CMulticastProtocol::ParseUpdateRes, 128, "<Result>notActivated</Result><RetryModifyTime>2</RetryModifyTime>");
    EXPECT_EQ(0, r.block[0]);
}

}  // namespace
