// ZEVASDK.xml: the keys, their clamps, and files that are missing, broken, too long or hold
// values longer than their fields.
#include <string>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "guard_page.h"
#include "sdk_test_util.h"

using namespace ZEVA;

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// The settings of a controller that has read no file.
const std::string kDefaults = kHead + "<ZEVASDK><logLevel>3</logLevel><autoDelete>true</autoDelete>"
                                      "<cryptoPath>libcrypto.so.3</cryptoPath><sslPath>libssl.so.3</sslPath>"
                                      "<pcap>false</pcap><multicast>true</multicast><checkIP>true</checkIP>"
                                      "<checkIPInterval>5</checkIPInterval><timeout>10</timeout>"
                                      "<pcapPath>libpcap.so.0.8</pcapPath></ZEVASDK>";

class ConfigFile : public ::testing::Test {
protected:
    CGlobalCtrl *ctrl = CGlobalCtrl::GetInstance();
    sdktest::ScratchDir dir;

    // The controller outlives each test: every test starts from its first settings.
    void SetUp() override {
        ASSERT_EQ(1, ctrl->SetLogParam(3, nullptr, 1));
        ASSERT_EQ(0u, Read(kDefaults));
    }

    // Reads a file holding the text; the thread's last error afterwards.
    uint32_t Read(const std::string &text) {
        sdktest::WriteFile(dir / "ZEVASDK.xml", text);
        ctrl->SetLastError(0);
        ctrl->ReadConfigFileAt((dir / "ZEVASDK.xml").c_str());
        return CGlobalCtrl::GetThreadLastError();
    }
    uint32_t ReadRoot(const std::string &children) { return Read(kHead + "<ZEVASDK>" + children + "</ZEVASDK>"); }
};

TEST_F(ConfigFile, NumbersAreClamped) {
    struct Case {
        const char *key, *value;
        uint32_t (CGlobalCtrl::*get)() const;
        uint32_t expect;
    } cases[] = {
        {"timeout", "100", &CGlobalCtrl::GetTimeout, 20},   {"timeout", "1", &CGlobalCtrl::GetTimeout, 5},
        {"timeout", "-3", &CGlobalCtrl::GetTimeout, 20},    {"timeout", "12", &CGlobalCtrl::GetTimeout, 12},
        {"checkIPInterval", "1", &CGlobalCtrl::GetCheckIPInterval, 5},
        {"checkIPInterval", "-1", &CGlobalCtrl::GetCheckIPInterval, 60},
        {"checkIPInterval", "61", &CGlobalCtrl::GetCheckIPInterval, 60},
        {"checkIPInterval", "30", &CGlobalCtrl::GetCheckIPInterval, 30},
    };
    for (const Case &c : cases) {
        std::string k = c.key;
        EXPECT_EQ(0u, ReadRoot("<" + k + ">" + c.value + "</" + k + ">")) << k;
        EXPECT_EQ(c.expect, (ctrl->*c.get)()) << k << " " << c.value;
    }
}

TEST_F(ConfigFile, FlagsAndTextsAsWritten) {
    ASSERT_EQ(0u, ReadRoot("<logLevel>2</logLevel><logDirectory>/tmp/zl/</logDirectory><autoDelete>true</autoDelete>"
                           "<cryptoPath>/x/libcrypto.so.3</cryptoPath><sslPath>/x/libssl.so.3</sslPath>"
                           "<pcap>true</pcap><multicast>false</multicast><checkIP>no</checkIP>"
                           "<pcapPath>/x/libpcap.so</pcapPath>"));
    EXPECT_EQ(2, ctrl->GetLogLevel());
    EXPECT_STREQ("/tmp/zl/", ctrl->GetLogDir());
    EXPECT_EQ(1u, ctrl->GetAutoDel());
    EXPECT_STREQ("/x/libcrypto.so.3", ctrl->GetCryptoPath());
    EXPECT_STREQ("/x/libssl.so.3", ctrl->GetSslPath());
    EXPECT_STREQ("/x/libpcap.so", ctrl->GetPcapPath());
    EXPECT_EQ(1u, ctrl->GetPcapFlag());
    EXPECT_EQ(0u, ctrl->GetMulticastFlag());
    EXPECT_EQ(0u, ctrl->GetCheckIPFlag());
    // Only the exact lower-case word is true; a root of any name is read.
    ASSERT_EQ(0u, Read(kHead + "<Other><autoDelete>TRUE</autoDelete><multicast>true</multicast></Other>"));
    EXPECT_EQ(0u, ctrl->GetAutoDel());
    EXPECT_EQ(1u, ctrl->GetMulticastFlag());
    // A missing key, or one without text, keeps the value.
    ASSERT_EQ(0u, ReadRoot("<logDirectory></logDirectory><multicast/>"));
    EXPECT_STREQ("/tmp/zl/", ctrl->GetLogDir());
    EXPECT_EQ(1u, ctrl->GetMulticastFlag());
}

TEST_F(ConfigFile, MissingBrokenAndOverlongFiles) {
    ASSERT_EQ(0u, ReadRoot("<timeout>7</timeout>"));
    // No file: nothing changes and no error.
    ctrl->SetLastError(0);
    EXPECT_EQ(0, ctrl->ReadConfigFileAt((dir / "absent.xml").c_str()));
    EXPECT_EQ(0u, CGlobalCtrl::GetThreadLastError());
    EXPECT_EQ(7u, ctrl->GetTimeout());
    // Broken texts give 2017 and keep what was read before.
    const std::string broken[] = {"", "not xml at all", kHead + "<ZEVASDK><timeout>15</timeout>",
                                  kHead + "<ZEVASDK><timeout>15</timeout></Other>", "<a><b></a>"};
    for (const std::string &text : broken) {
        EXPECT_EQ(uint32_t(ZEVA_ERR_CONFIG_FILE), Read(text)) << text;
        EXPECT_EQ(7u, ctrl->GetTimeout()) << text;
    }
    // Only the first 1024 bytes count: a document that ends beyond them is cut, hence broken.
    std::string padding(1100, ' ');
    EXPECT_EQ(uint32_t(ZEVA_ERR_CONFIG_FILE), ReadRoot("<timeout>9</timeout>" + padding));
    EXPECT_EQ(7u, ctrl->GetTimeout());
    // A document that ends within them is read, whatever follows.
    std::string doc = kHead + "<ZEVASDK><timeout>9</timeout></ZEVASDK>";
    EXPECT_EQ(0u, Read(doc + std::string(1024 - doc.size(), ' ') + "<x>"));
    EXPECT_EQ(9u, ctrl->GetTimeout());
}

// A file's first 1024 bytes need not hold a zero: whatever they hold is parsed within them.
TEST_F(ConfigFile, TextWithoutAZeroIsParsedWithinItsBytes) {
    const std::string doc = kHead + "<ZEVASDK><timeout>9</timeout></ZEVASDK>";
    const struct {
        const char *why;
        std::string bytes;
        uint32_t expectError, expectTimeout;
    } rows[] = {
        {"document and blanks up to the end", doc + std::string(CFG_FILE_READ - doc.size(), ' '), 0, 9},
        {"document cut by the end", doc.substr(0, doc.size() - 3), ZEVA_ERR_CONFIG_FILE, 10},
        {"blanks beyond the first 1024 bytes", doc + std::string(CFG_FILE_READ, ' '), 0, 9},
        {"markup beyond the first 1024 bytes", doc + std::string(CFG_FILE_READ - doc.size(), ' ') + "<x>", 0, 9},
    };
    for (const auto &row : rows) {
        ASSERT_EQ(0u, Read(kDefaults));
        sdktest::GuardedBytes text(row.bytes);
        ASSERT_NE(nullptr, text.data());
        ctrl->SetLastError(0);
        ctrl->ParseConfigText(text.data(), uint32_t(row.bytes.size()));
        EXPECT_EQ(row.expectError, CGlobalCtrl::GetThreadLastError()) << row.why;
        EXPECT_EQ(row.expectTimeout, ctrl->GetTimeout()) << row.why;
    }
}

TEST_F(ConfigFile, OverlongTextsKeepTheirField) {
    std::string fits(259, 'd'), tooLong(260, 'e');
    ASSERT_EQ(0u, ReadRoot("<logDirectory>" + fits + "</logDirectory><cryptoPath>" + tooLong + "</cryptoPath>"));
    EXPECT_EQ(fits, ctrl->GetLogDir());
    EXPECT_STREQ("libcrypto.so.3", ctrl->GetCryptoPath());
    ASSERT_EQ(0u, ReadRoot("<logDirectory>" + tooLong + "</logDirectory>"));
    EXPECT_EQ(fits, ctrl->GetLogDir());
    // The log settings given before a start: the same bound, refused whole.
    EXPECT_EQ(0, ctrl->SetLogParam(1, tooLong.c_str(), 0));
    EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
    EXPECT_EQ(fits, ctrl->GetLogDir());
    EXPECT_EQ(1, ctrl->SetLogParam(1, nullptr, 0));
    EXPECT_STREQ("", ctrl->GetLogDir());
}

}  // namespace
