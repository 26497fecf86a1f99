// The table of device requests: answers are routed by their type word, which several rows may
// share, and the exchange a request needs depends on the device's protocol byte.
#include <gtest/gtest.h>

#include "module/device/DeviceCommands.h"

using namespace ZEVA;

TEST(DeviceCommands, EveryAnswerWordRoutesAsEachRowThatListsItSays) {
    int words = 0;
    for (const DEVICE_COMMAND *row : AllDeviceCommands()) {
        for (const ANSWER_WORD &answer : row->answers) {
            if (!answer.pWord)
                continue;
            ++words;
            const ANSWER_ROUTE *route = FindAnswer(answer.pWord);
            ASSERT_NE(nullptr, route) << answer.pWord;
            EXPECT_STREQ(answer.pWord, route->pWord);
            // A word two rows share (getcode of commands 1 and 30) must not mean two things.
            EXPECT_EQ(answer.parse, route->parse) << answer.pWord << " of row " << row->dwNumber;
            EXPECT_EQ(row->kind, route->kind) << answer.pWord << " of row " << row->dwNumber;
        }
    }
    EXPECT_GT(words, 0);
}

TEST(DeviceCommands, WordsThatAnswerNoRequestHaveNoRoute) {
    for (const char *word : {"", "hello", "inquiry", "inquiry_v32", "GetCode", "getcode_v3", "getcode_v311",
                             "exchangecod", "zzz", "AAA"})
        EXPECT_EQ(nullptr, FindAnswer(word)) << word;
    ASSERT_NE(nullptr, FindAnswer("ExportGUID"));
    ASSERT_NE(nullptr, FindAnswer("ExportGUID_v31"));
    EXPECT_EQ(ANSWER_GUID, FindAnswer("ExportGUID_v31")->kind);
    EXPECT_NE(FindAnswer("ExportGUID")->parse, FindAnswer("ExportGUID_v31")->parse)
        << "the 3.1 GUID is decrypted with the request's key";
}

TEST(DeviceCommands, ExchangeByTheDevicesProtocolByte) {
    // Raw-frame devices have protocol byte 0, which counts as protocol 3.1.
    const struct {
        Exchange exchange;
        uint8_t device;
        bool needed;
        uint8_t protocol;
    } cases[] = {
        {EXCHANGE_NONE, 1, false, 0},       {EXCHANGE_BY_DEVICE, 1, true, 1},  {EXCHANGE_BY_DEVICE, 3, true, 3},
        {EXCHANGE_BY_DEVICE, 0, true, 0},   {EXCHANGE_30, 2, true, 1},         {EXCHANGE_30, 0, true, 1},
        {EXCHANGE_30_DEVICES, 1, true, 1},  {EXCHANGE_30_DEVICES, 2, false, 0}, {EXCHANGE_30_DEVICES, 0, false, 0},
        {EXCHANGE_31_DEVICES, 2, true, 2},  {EXCHANGE_31_DEVICES, 1, false, 0}, {EXCHANGE_31_DEVICES, 0, false, 0},
    };
    for (const auto &c : cases) {
        uint8_t protocol = 0xEE;
        EXPECT_EQ(c.needed, NeedsExchange(c.exchange, c.device, &protocol)) << int(c.exchange) << "/" << int(c.device);
        if (c.needed) {
            EXPECT_EQ(c.protocol, protocol) << int(c.exchange) << "/" << int(c.device);
        }
    }
}
