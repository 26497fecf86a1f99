// Probe texts from the template printer: well formed by xmllint, and a text that does not fit
// its buffer is refused (2047), never handed on cut.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "module/protocol/MulticastProtocol.h"
#include "sdk_test_util.h"
#include "netns/shell.h"

using namespace ZEVA;

namespace {

const char *kUuid = "6F1D2E3A-1B2C-4D5E-8F90-A1B2C3D4E5F6";

TEST(ProbeText, InquiryIsWellFormed) {
    CMulticastProtocol protocol;
    char text[PROBE_BUFFER_LEN];
    uint32_t len = 0;
    ASSERT_EQ(1, protocol.PackageInquiry(kUuid, text, sizeof text, &len));
    EXPECT_EQ(std::strlen(text), len);
    sdktest::ScratchDir dir;
    sdktest::WriteFile(dir / "inquiry.xml", text);
    EXPECT_EQ(0, zeva::test::Sh("xmllint --noout " + (dir / "inquiry.xml")).status) << text;
}

TEST(ProbeText, TextsThatDoNotFitAreRefused) {
    CMulticastProtocol protocol;
    char full[PROBE_BUFFER_LEN];
    uint32_t need = 0;
    ASSERT_EQ(1, protocol.PackageInquiry(kUuid, full, sizeof full, &need));
    for (uint32_t size : {need + 1, need, need - 1, 1u}) {
        char text[PROBE_BUFFER_LEN];
        std::memset(text, 'x', sizeof text);
        uint32_t len = 12345;
        CGlobalCtrl::GetInstance()->SetLastError(0);
        int ok = protocol.PackageInquiry(kUuid, text, size, &len);
        if (size > need) {
            EXPECT_EQ(1, ok);
            EXPECT_STREQ(full, text);
        } else {
            EXPECT_EQ(0, ok) << size;
            EXPECT_EQ(0u, len);
            EXPECT_EQ('\0', text[0]) << "a cut text stays in the buffer";
            EXPECT_EQ(uint32_t(ZEVA_ERR_BUFFER_TOO_SMALL), CGlobalCtrl::GetThreadLastError());
        }
    }
    EXPECT_EQ(0, protocol.PackageInquiry(kUuid, nullptr, 100, &need));
    EXPECT_EQ(uint32_t(ZEVA_ERR_PARAM), CGlobalCtrl::GetThreadLastError());
}

}  // namespace
