// Copies of a device answer: the same bytes again cost no parse, yet count as the device's answer
// for the offline sweep, bring an offline device back and are news again after a Clearup; bytes
// that differ anywhere are parsed. New devices from many threads at once are each kept. Then a
// burst from two adapters, answers on both ports and the relay of every service: each device
// reported once (run under ThreadSanitizer as well).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/GlobalCtrl.h"
#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;

namespace {

std::string Answer(int n, const std::string &type, const std::string &salt) {
    char mac[20];
    std::snprintf(mac, sizeof mac, "02-30-00-00-%02x-%02x", n >> 8 & 255, n & 255);
    return "<Probe><Uuid>U-" + type + "</Uuid><Types>" + type + "</Types><DeviceSN>SN-" + std::to_string(n) +
           "</DeviceSN><MAC>" + mac + "</MAC><IPv4Address>10.2.0." + std::to_string(n % 250 + 1) +
           "</IPv4Address><Salt>" + salt + "</Salt></Probe>";
}

// The reports, as (MAC, iResult), in order.
struct Reports {
    std::mutex lock;
    std::vector<std::pair<std::string, int>> seen;

    static void OnDevice(ZEVA_DEVICE_INFO *dev, void *user) {
        Reports *self = static_cast<Reports *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->seen.emplace_back(std::string(dev->szMAC, strnlen(dev->szMAC, sizeof dev->szMAC)), dev->iResult);
    }
    std::vector<int> Take() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<int> results;
        for (const auto &r : seen)
            results.push_back(r.second);
        seen.clear();
        return results;
    }
    std::map<std::string, int> Count(int result) {
        std::lock_guard<std::mutex> guard(lock);
        std::map<std::string, int> n;
        for (const auto &r : seen)
            n[r.first] += r.second == result;
        return n;
    }
    size_t Size() {
        std::lock_guard<std::mutex> guard(lock);
        return seen.size();
    }
};

// The controller itself, started in a host namespace with one adapter, its reports collected.
class ControllerAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        std::string host, peer;
        AddHostAndPeer(lab, host, peer);
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
        ctrl->SetAutoRequestInterval(0);
        ASSERT_EQ(1, ctrl->Init(nullptr, Reports::OnDevice, nullptr, &reports));
    }
    void TearDown() override {
        if (in) {
            EXPECT_EQ(1, ctrl->Fini());
        }
    }
    zeva::test::NetnsLab lab;
    std::unique_ptr<zeva::test::EnterNetns> in;
    Reports reports;
    ZEVA::CGlobalCtrl *ctrl = ZEVA::CGlobalCtrl::GetInstance();
};

// Synchronous, through the controller: what each text, sweep or Clearup reports.
TEST_F(ControllerAnswers, TheSameBytesCountAsTheDevicesAnswer) {
    const std::string a = Answer(1, "inquiry", "salt-1"), b = Answer(1, "inquiry", "salt-2"),
                      hello = Answer(1, "hello", "salt-2");
    enum Op { DATA, SWEEP, CLEARUP };
    const struct {
        Op op;
        const std::string *text;
        std::vector<int> reported;
    } steps[] = {
        {DATA, &a, {1}},
        {DATA, &a, {}},
        {DATA, &b, {2}},      // only the salt differs, near the end
        {DATA, &b, {}},
        {DATA, &hello, {}},   // other bytes, the same record
        {DATA, &a, {2}},      // bytes seen before, but the slot has changed since
        {SWEEP, nullptr, {}},
        {SWEEP, nullptr, {}},
        {DATA, &a, {}},       // a copy: the device has answered in this cycle
        {SWEEP, nullptr, {}},
        {SWEEP, nullptr, {}},
        {SWEEP, nullptr, {3}},
        {SWEEP, nullptr, {}},
        {DATA, &a, {1}},      // the same bytes bring it back
        {DATA, &a, {}},
        {CLEARUP, nullptr, {}},
        {DATA, &a, {1}},      // and are news after a Clearup
    };
    int step = 0;
    for (const auto &s : steps) {
        SCOPED_TRACE("step " + std::to_string(step++));
        if (s.op == DATA)
            ASSERT_EQ(1, ctrl->ParseData(s.text->data(), uint32_t(s.text->size())));
        else if (s.op == SWEEP)
            ctrl->OfflineSweep();
        else
            ASSERT_EQ(1, ctrl->Cleanup());
        EXPECT_EQ(s.reported, reports.Take());
    }
}

// New devices from many threads at once, as the receive threads of several adapters bring them:
// every one is reported new once and is in the list afterwards.
TEST_F(ControllerAnswers, NewDevicesFromManyThreadsAreEachListed) {
    const int THREADS = 8, EACH = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < EACH; ++i) {
                std::string text = Answer(t * EACH + i, "inquiry", "salt");
                ctrl->ParseData(text.data(), uint32_t(text.size()));
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    std::map<std::string, int> fresh = reports.Count(1);
    EXPECT_EQ(size_t(THREADS * EACH), reports.Size());
    EXPECT_EQ(size_t(THREADS * EACH), fresh.size());
    int unlisted = 0;
    for (const auto &[mac, n] : fresh) {
        EXPECT_EQ(1, n) << mac;
        ZEVA::DEVICE_LIST_ITEM item;
        unlisted += !ctrl->SearchDevice(mac.c_str(), &item);
    }
    EXPECT_EQ(0, unlisted) << "devices reported new but not kept in the list";
}

// A socket in the peer namespace that sends to the group out of its address.
int PeerSender(const std::string &ns, const char *addr) {
    zeva::test::EnterNetns in(ns);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    in_addr from{};
    inet_pton(AF_INET, addr, &from);
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof from);
    return s;
}

void SendToGroup(int s, const std::string &text, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    ASSERT_EQ(ssize_t(text.size()), sendto(s, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to));
}

// True while any UDP socket of the calling thread's namespace holds received datagrams.
bool Queued() {
    std::ifstream in("/proc/thread-self/net/udp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string sl, local, remote, st, queues;
        f >> sl >> local >> remote >> st >> queues;
        if (queues.substr(queues.find(':') + 1) != "00000000")
            return true;
    }
    return false;
}

TEST(DeviceAnswerCopies, BurstOnTwoAdaptersReportsEachDeviceOnce) {
    ZEVA_NETNS_LAB(lab);
    std::string host, peer;
    AddHostAndPeer(lab, host, peer);
    std::string peer2 = lab.Add("peer2");
    lab.Veth(host, "h2", "10.77.2.1/24", peer2, "q0", "10.77.2.2/24");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ZevaLib zeva;
    ASSERT_TRUE(zeva.Loaded()) << ZevaLib::Error();
    Reports reports;
    zeva.ZEVA_SetAutoRequestInterval(0);
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, Reports::OnDevice, nullptr, &reports)) << zeva.ZEVA_GetLastError();
    const int DEVICES = 300;
    // Each device answers on both ports of both adapters and says hello; the second round
    // changes the salt of every other device.
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> senders;
        for (const auto &[ns, addr] : {std::make_pair(peer, kPeerAddr), std::make_pair(peer2, "10.77.2.2")}) {
            senders.emplace_back([&, ns = ns, addr = addr] {
                int s = PeerSender(ns, addr);
                for (int n = 0; n < DEVICES; ++n) {
                    std::string salt = round && n % 2 ? "salt-b" : "salt-a";
                    for (const char *type : {"inquiry", "hello"}) {
                        std::string text = Answer(n, type, salt);
                        SendToGroup(s, text, 37020);
                        SendToGroup(s, text, 35090);
                    }
                }
                close(s);
            });
        }
        for (std::thread &t : senders)
            t.join();
        size_t expected = round == 0 ? DEVICES : DEVICES + DEVICES / 2;
        ASSERT_TRUE(WaitFor([&] { return reports.Size() >= expected; }, 20000)) << reports.Size();
        ASSERT_TRUE(WaitFor([] { return !Queued(); }));
    }
    std::map<std::string, int> fresh = reports.Count(1), changed = reports.Count(2);
    EXPECT_EQ(size_t(DEVICES + DEVICES / 2), reports.Size());
    EXPECT_EQ(size_t(DEVICES), fresh.size());
    for (const auto &[mac, n] : fresh)
        EXPECT_EQ(1, n) << mac;
    int changedDevices = 0;
    for (const auto &[mac, n] : changed) {
        EXPECT_LE(n, 1) << mac;
        changedDevices += n;
    }
    EXPECT_EQ(DEVICES / 2, changedDevices);
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

}  // namespace
