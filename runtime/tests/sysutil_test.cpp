#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_debug.h"
#include "yar/yar_string.h"

namespace {

class CapturedDebugOutput {
public:
    CapturedDebugOutput() { YAR_SetDebugSink(&Capture, this); }
    ~CapturedDebugOutput() { YAR_SetDebugSink(nullptr, nullptr); }
    std::vector<std::string> texts;

private:
    static void Capture(const char *text, void *self) {
        static_cast<CapturedDebugOutput *>(self)->texts.push_back(text);
    }
};

// "XXXXXXXX-XXXX-4XXX-[89AB]XXX-XXXXXXXXXXXX" in upper-case hexadecimal.
bool IsVersion4Text(const std::string &text) {
    if (text.size() != 36 || text[14] != '4' || !std::strchr("89AB", text[19]))
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::strchr("0123456789ABCDEF", text[i]))
            return false;
    }
    return true;
}

std::string GuidText(const YAR_GUID_T &guid) {
    char buf[40];
    EXPECT_EQ(YAR_GUIDToString(&guid, buf, sizeof buf), 0);
    return buf;
}

}  // namespace

TEST(Guid, RandomVersion4InTheUpperCaseTextFormAndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 100000; ++i) {
        YAR_GUID_T guid;
        ASSERT_EQ(YAR_CreateGUID(&guid), 0);
        std::string text = GuidText(guid);
        ASSERT_TRUE(IsVersion4Text(text)) << text;
        ASSERT_TRUE(seen.insert(text).second) << "duplicate " << text;
    }
    EXPECT_EQ(YAR_CreateGUID(nullptr), -1);
}

TEST(Guid, TextPrintsTheFieldsAsHostIntegersBoundedByTheLength) {
    const YAR_GUID_T guid = {0x0123ABCD, 0x45EF, 0x6789, {0xFE, 0xDC, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
    const std::string expected = "0123ABCD-45EF-6789-FEDC-0123456789AB";
    char buf[40];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(YAR_GUIDToString(&guid, buf, 35), -1);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(YAR_GUIDToString(&guid, buf, 36), 0);
    EXPECT_EQ(std::string(buf, 37), expected + "#");  // exactly 36: no room for a terminator
    EXPECT_EQ(YAR_GUIDToString(&guid, buf, 37), 0);
    EXPECT_STREQ(buf, expected.c_str());
    EXPECT_EQ(YAR_GUIDToString(nullptr, buf, 40), -1);
}

TEST(DebugOutput, AppendsANewlineAndRefusesTooLongTexts) {
    CapturedDebugOutput out;
    YAR_OutputDebug("value[%d] %s", 7, "ok");
    const std::string fits(5118, 'f');
    YAR_OutputDebug("%s", fits.c_str());
    YAR_OutputDebug("%s%s", fits.c_str(), "!");
    ASSERT_EQ(out.texts.size(), 3u);
    EXPECT_EQ(out.texts[0], "value[7] ok\n");
    EXPECT_EQ(out.texts[1], fits + "\n");
    EXPECT_EQ(out.texts[2], "YAR_OutputDebug error,input parameter is too long!!!");
}

TEST(SystemUtilities, SleepsAtLeastTheAskedTime) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    YAR_Sleep(30);
    auto slept = Clock::now() - start;
    EXPECT_GE(slept, std::chrono::milliseconds(30));
    EXPECT_LT(slept, std::chrono::seconds(5));
    start = Clock::now();
    YAR_USleep(20000);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

TEST(SystemUtilities, RandomValuesVaryAndCoverAllBits) {
    uint32_t orBits = 0, andBits = ~0u;
    std::set<uint32_t> values;
    for (int i = 0; i < 1000; ++i) {
        uint32_t v = YAR_Rand();
        orBits |= v;
        andBits &= v;
        values.insert(v);
    }
    EXPECT_EQ(orBits, ~0u);
    EXPECT_EQ(andBits, 0u);
    EXPECT_GT(values.size(), 990u);
}

TEST(SystemUtilities, ProcessorCountFollowsTheAffinityMask) {
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(YAR_GetCPUNumber(), CPU_COUNT(&set));
    char bytes[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    YAR_ZeroMemory(bytes + 2, 4);
    EXPECT_EQ(std::string(bytes, 8), std::string("\1\1\0\0\0\0\1\1", 8));
}

TEST(Statistics, ProcessorTimesUseTheSizeProtocol) {
    uint32_t size = 0;
    EXPECT_EQ(YAR_GetProcessorTimes(nullptr, &size), -1);
    std::ifstream stat("/proc/stat");
    int cpus = 0;
    for (std::string line; std::getline(stat, line);)
        cpus += line.size() > 3 && line.compare(0, 3, "cpu") == 0 && isdigit(line[3]);
    ASSERT_EQ(size, cpus * sizeof(YAR_PROCESSOR_TIME_T));

    std::vector<YAR_PROCESSOR_TIME_T> times(cpus);
    uint32_t small = size - 1;
    EXPECT_EQ(YAR_GetProcessorTimes(times.data(), &small), -1);
    EXPECT_EQ(small, size);
    ASSERT_EQ(YAR_GetProcessorTimes(times.data(), &size), 0);
    uint64_t busy = 0;
    for (const YAR_PROCESSOR_TIME_T &t : times) {
        EXPECT_GE(t.u64KernelTime, t.u64IdleTime + t.u64DpcTime + t.u64InterruptTime);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(t.byRes), 16), std::string(16, '\0'));
        busy += t.u64UserTime + t.u64KernelTime;
    }
    EXPECT_GT(busy, 0u);
    EXPECT_EQ(YAR_GetProcessorTimes(times.data(), nullptr), -1);
}

TEST(Statistics, MemoryStatusMatchesTheKernel) {
    YAR_MEMORY_STATUS_T status;
    ASSERT_EQ(YAR_GetMemoryStatus(&status), 0);
    struct sysinfo info;
    ASSERT_EQ(sysinfo(&info), 0);
    const uint64_t total = static_cast<uint64_t>(info.totalram) * info.mem_unit;
    // meminfo rounds to kB.
    EXPECT_NEAR(static_cast<double>(status.u64TotalPhys), static_cast<double>(total), 4096.0);
    EXPECT_LE(status.u64AvailPhys, status.u64TotalPhys);
    EXPECT_GE(status.u64TotalPageFile, status.u64TotalPhys);
    EXPECT_LE(status.u64AvailPageFile, status.u64TotalPageFile);
    EXPECT_GT(status.u64AvailVirtual, 0u);
    EXPECT_LT(status.u64AvailVirtual, status.u64TotalVirtual);
    EXPECT_EQ(YAR_GetMemoryStatus(nullptr), -1);
}

TEST(Statistics, LoopbackCountersGrowWithLoopbackTraffic) {
    YAR_IF_STATS2_T before{}, after{};
    before.dwIndex = after.dwIndex = if_nametoindex("lo");
    ASSERT_NE(before.dwIndex, 0u);
    ASSERT_EQ(YAR_GetIfStats2(&before), 0);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);  // discard; nobody needs to listen
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char payload[1000] = {};
    for (int i = 0; i < 20; ++i)
        sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    close(fd);

    ASSERT_EQ(YAR_GetIfStats2(&after), 0);
    EXPECT_GE(after.u64OutPackets, before.u64OutPackets + 20);
    EXPECT_GE(after.u64OutOctets, before.u64OutOctets + 20 * 1000);
    EXPECT_GE(after.u64InPackets, before.u64InPackets + 20);
    EXPECT_EQ(after.u64Speed, 0u);  // the loopback device has no link speed

    YAR_IF_STATS_T narrow{};
    narrow.dwIndex = before.dwIndex;
    ASSERT_EQ(YAR_GetIfStats(&narrow), 0);
    EXPECT_GE(narrow.dwOutPackets, static_cast<uint32_t>(after.u64OutPackets));

    YAR_IF_STATS_T missing{};
    missing.dwIndex = 0x7FFFFFF0;
    EXPECT_EQ(YAR_GetIfStats(&missing), -1);
    EXPECT_EQ(YAR_GetIfStats2(nullptr), -1);
}

TEST(CodePage, ConversionsKeepUtf8Text) {
    EXPECT_EQ(YAR_AnsiToUtf8("gr\xc3\xbc\xc3\x9f"), "gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(YAR_Utf8ToAnsi("abc"), "abc");
    EXPECT_EQ(YAR_AnsiToUtf8(nullptr), "");
}
