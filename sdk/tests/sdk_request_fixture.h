// Device requests end to end: libZEVA.so in the host namespace, one or more device simulators in
// the peer namespace, and what the simulators logged.
#pragma once

#include <signal.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

namespace sdktest {

// Serial number and MAC of simulated device n.
inline std::string SimSerial(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "DS-SIM%04d-%012d", n % 10000, n);
    return text;
}

class RequestLab : public HostPeerTest {
protected:
    void SetUp() override {
        HostPeerTest::SetUp();
        if (!LabReady())
            return;
        ASSERT_TRUE(zeva.Loaded()) << ZevaLib::Error();
        zeva.ZEVA_SetAutoRequestInterval(0);
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, Found, nullptr, this)) << zeva.ZEVA_GetLastError();
        started = true;
    }
    void TearDown() override {
        if (started)
            zeva.ZEVA_Stop();
        for (const std::string &pid : pids)
            lab.Exec(peer, "kill " + pid);
    }

    // Starts a simulator and waits until the SDK lists its devices (numbers first..first+count-1).
    void StartDevsim(const std::string &args, int first = 0, int count = 1) {
        std::string log = dir / ("devsim" + std::to_string(pids.size()) + ".jsonl");
        logs.push_back(log);
        zeva::test::CmdResult r =
            lab.Exec(peer, std::string("nohup ") + DEVSIM_PATH + " --seconds 300 --log " + log + " --first " +
                               std::to_string(first) + " --devices " + std::to_string(count) + " " + args +
                               " >/dev/null 2>&1 & echo $!");
        pids.push_back(r.out.substr(0, r.out.find('\n')));
        for (int n = first; n < first + count; ++n)
            ASSERT_TRUE(WaitFor([&] { return Listed(SimSerial(n)); }, 30000)) << SimSerial(n) << " never listed";
    }
    // A simulator logs a request after it answered it: tests wait for the line, never just read.
    // The request lines of simulator i (one per datagram it heard, in the order it heard them).
    std::vector<std::string> Heard(size_t i) const {
        std::vector<std::string> lines;
        std::string text = ReadFile(logs[i]);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            if (text.find("\"event\": \"request\"", at) < end)
                lines.push_back(text.substr(at, end - at));
        return lines;
    }
    // How many request lines with every one of the texts simulator sim (-1: all) logged.
    size_t CountHeard(const std::vector<std::string> &texts, int sim = -1) const {
        size_t n = 0;
        for (size_t i = 0; i < logs.size(); ++i)
            for (const std::string &line : sim < 0 || size_t(sim) == i ? Heard(i) : std::vector<std::string>())
                n += std::all_of(texts.begin(), texts.end(),
                                 [&](const std::string &t) { return line.find(t) != std::string::npos; });
        return n;
    }
    bool WaitHeard(const std::vector<std::string> &texts, size_t times = 1, int sim = -1) const {
        return WaitFor([&] { return CountHeard(texts, sim) >= times; }, 30000);
    }
    // The number of request lines of each simulator so far.
    std::vector<size_t> HeardMark() const {
        std::vector<size_t> mark;
        for (size_t i = 0; i < logs.size(); ++i)
            mark.push_back(Heard(i).size());
        return mark;
    }
    // Proves that nothing was sent between the mark and a later request to device n (the fence):
    // each simulator logs datagrams in the order it hears them, so once it logged the fence every
    // datagram heard since the mark must be one to n.
    ::testing::AssertionResult OnlyFenceHeardSince(const std::vector<size_t> &mark, int n) const {
        std::string mac = "\"mac\": \"" + SimMac(n) + "\"";
        for (size_t i = 0; i < logs.size(); ++i) {
            std::vector<std::string> lines;
            bool fenced = WaitFor(
                [&] {
                    lines = Heard(i);
                    return std::any_of(lines.begin() + long(std::min(mark[i], lines.size())), lines.end(),
                                       [&](const std::string &l) { return l.find(mac) != std::string::npos; });
                },
                30000);
            if (!fenced)
                return ::testing::AssertionFailure() << logs[i] << " never logged the request to " << SimMac(n);
            for (size_t k = mark[i]; k < lines.size(); ++k)
                if (lines[k].find(mac) == std::string::npos)
                    return ::testing::AssertionFailure() << "sent before the fence: " << lines[k];
        }
        return ::testing::AssertionSuccess();
    }
    bool Listed(const std::string &serial) {
        std::lock_guard<std::mutex> guard(lock);
        return serials.count(serial) != 0;
    }
    // Result and last error of one export call.
    template <typename Call>
    std::pair<int, uint32_t> Run(Call call) {
        int r = call();
        return {r, zeva.ZEVA_GetLastError()};
    }

    static void Found(ZEVA_DEVICE_INFO *dev, void *user) {
        auto *self = static_cast<RequestLab *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->serials.insert(std::string(dev->szSerialNOEx, strnlen(dev->szSerialNOEx, sizeof dev->szSerialNOEx)));
    }

    ZevaLib zeva;
    ScratchDir dir;
    std::mutex lock;
    std::set<std::string> serials;
    std::vector<std::string> pids, logs;
    bool started = false;
};

}  // namespace sdktest
