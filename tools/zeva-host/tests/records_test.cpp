// What zeva-host prints from device data: JSON texts and decoded request records. The device
// chooses every byte of them, so hostile values must still give valid JSON, bounded by the record.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "json_text.h"
#include "records.h"
#include "zeva/ZevaSdk.h"

namespace zevahost {
namespace {

// Python's json module reads each line back; its repr of the value is compared.
std::vector<std::string> PythonReads(const std::vector<std::string> &lines) {
    char path[] = "/tmp/zeva-host-json-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    std::string all;
    for (const auto &l : lines)
        all += l + "\n";
    EXPECT_EQ(ssize_t(all.size()), write(fd, all.data(), all.size()));
    close(fd);
    std::string cmd = std::string("python3 -c 'import json, sys\n"
                                  "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
                                  "    print(ascii(json.loads(line)))' ") +
                      path + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::vector<std::string> out;
    char buf[65536];
    while (p && fgets(buf, sizeof buf, p))
        out.emplace_back(buf, strcspn(buf, "\n"));
    if (p)
        pclose(p);
    unlink(path);
    return out;
}

TEST(JsonText, HostileDeviceTextsStayValidJson) {
    const struct {
        std::string text;
        const char *python;  // ascii() of what a JSON reader gets back
    } cases[] = {
        {"plain", "'plain'"},
        {"q\"b\\s", "'q\"b\\\\s'"},
        {std::string("nul\0end", 7), "'nul\\x00end'"},
        {"\x01\x1f\x7f", "'\\x01\\x1f\\x7f'"},
        {"caf\xc3\xa9", "'caf\\xe9'"},                   // UTF-8 passes
        {"\xe2\x82\xac\xf0\x9f\x98\x80", "'\\u20ac\\U0001f600'"},
        {"\xff\xfe", "'\\xff\\xfe'"},                    // bytes of another code page
        {"cut\xc3", "'cut\\xc3'"},                       // a sequence cut by the field's end
        {"\xc3(", "'\\xc3('"},                           // a lead byte without its follower
        {"\xc0\xaf", "'\\xc0\\xaf'"},                    // an overlong form
        {"\xed\xa0\x80", "'\\xed\\xa0\\x80'"},           // a UTF-16 surrogate in UTF-8 form
        {"\xf5\x80\x80\x80", "'\\xf5\\x80\\x80\\x80'"},  // past U+10FFFF
    };
    std::vector<std::string> lines;
    for (const auto &c : cases)
        lines.push_back(JsonText(c.text));
    std::vector<std::string> read = PythonReads(lines);
    ASSERT_EQ(std::size(cases), read.size()) << (read.empty() ? "" : read.back());
    for (size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(cases[i].python, read[i]) << lines[i];
}

std::vector<uint8_t> Record(size_t size, uint8_t fill) { return std::vector<uint8_t>(size, fill); }

void PutU32(std::vector<uint8_t> &r, size_t offset, uint32_t v) { std::memcpy(&r[offset], &v, 4); }

TEST(Records, LengthsAndTextsStayInsideTheRecord) {
    // Lengths far past the field, texts without a terminator, states past their names and every
    // list entry in use: the record's fields bound what is read.
    auto code = Record(sizeof(ZEVA_DEVICE_CODE), 'A');
    PutU32(code, 0, 0xffffffff);
    auto guid = Record(sizeof(ZEVA_GUID_INFO_V31), 0xab);
    PutU32(guid, 0, 100000);
    auto self = Record(sizeof(ZEVA_SELF_CHECK), 'C');
    self[offsetof(ZEVA_SELF_CHECK, byTemperatureState)] = 200;
    auto unbind = Record(sizeof(ZEVA_UNBIND_STATUS), 0);
    unbind[0] = 4;
    auto questions = Record(sizeof(ZEVA_SECURITY_QUESTION_CFG), 'Q');

    const struct {
        uint32_t command;
        std::vector<uint8_t> record;
        std::string part;  // in ascii() of what a JSON reader gets back
    } cases[] = {
        {1, code, "{'codeLength': 4294967295, 'code': '" + std::string(256, 'A') + "'}"},
        {32, guid, "'guidLength': 100000, 'guid': '" + Hex(guid.data() + 4, 512) + "', 'retryTimes': 171"},
        {17, self, "'cpu': '" + std::string(32, 'C') + "', 'memory': '" + std::string(32, 'C') + "'"},
        {17, self, "'temperature': '200'"},
        {24, unbind, "{'status': 'platform offline'}"},
        {6, questions, "'answer': '" + std::string(256, 'Q') + "', 'answered': False}]}"},
    };
    std::vector<std::string> lines;
    for (const auto &c : cases) {
        lines.push_back(DecodeGetRecord(c.command, c.record.data(), c.record.size()));
        ASSERT_FALSE(lines.back().empty()) << "command " << c.command;
    }
    std::vector<std::string> read = PythonReads(lines);
    ASSERT_EQ(std::size(cases), read.size()) << (read.empty() ? "" : read.back());
    for (size_t i = 0; i < read.size(); ++i)
        EXPECT_NE(std::string::npos, read[i].find(cases[i].part)) << read[i];
    size_t listed = 0;
    for (size_t at = 0; (at = read[5].find("'id': ", at)) != std::string::npos; ++at)
        ++listed;
    EXPECT_EQ(32u, listed);
}

TEST(Records, UnknownLayoutsAreLeftToHex) {
    std::vector<uint8_t> record(sizeof(ZEVA_DEVICE_CODE));
    EXPECT_EQ("", DecodeGetRecord(1, record.data(), record.size() - 1));  // not the record's size
    EXPECT_EQ("", DecodeGetRecord(4, record.data(), record.size()));      // no get command 4
    EXPECT_EQ("", DecodeResultWord(record.data(), 1));
}

TEST(Errors, EveryCodeOfTheLibraryHasANameAndMeaning) {
    const uint32_t codes[] = {2001, 2002, 2003, 2004, 2005, 2007, 2009, 2011, 2012, 2013, 2014, 2015, 2017,
                              2018, 2019, 2020, 2021, 2022, 2023, 2024, 2025, 2026, 2027, 2028, 2033, 2034,
                              2035, 2036, 2037, 2038, 2039, 2040, 2042, 2043, 2045, 2046, 2047, 2048,
                              17};  // the core library's own, which the log settings can leave
    for (uint32_t code : codes)
        EXPECT_STRNE("unknown", DescribeError(code).name) << code;
    EXPECT_EQ("2011 ZEVA_ERR_DEVICE_TIMEOUT (device time-out)", ErrorText(2011));
    EXPECT_EQ("2006 unknown (not a code of this library)", ErrorText(2006));
}

}  // namespace
}  // namespace zevahost
