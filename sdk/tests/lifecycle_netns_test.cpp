// Start and stop of libZEVA.so inside test namespaces: no adapter, counted starts, the sockets,
// groups and threads of a running SDK, the inquiries a peer receives, the relay, and a stop that
// leaves nothing behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;
using zeva::test::Sh;

namespace {

// A receiver of the local relay group, as another program on the host would be.
int RelayListener() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1, off = 0;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(47020);
    EXPECT_EQ(0, bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    ip_mreqn mreq{};
    mreq.imr_multiaddr.s_addr = inet_addr("239.255.255.251");
    mreq.imr_ifindex = int(if_nametoindex("lo"));
    EXPECT_EQ(0, setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq));
    return s;
}

// A running SDK with one service: four receive threads, the inquiry thread and the address check.
constexpr int kSdkThreads = 6;

// The core library's: its asynchronous-I/O pool (two per processor and two) with the queue's
// rescuer, timer and log writer.
int CoreThreads() {
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return 2 * int(cpus > 0 ? cpus : 1) + 5;
}

std::string ReceiveWithin(int s, int timeoutMs) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1)
        return "";
    char buf[2048];
    ssize_t n = recv(s, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : "";
}

TEST(Lifecycle, NoAdapterFailsCleanlyAndALaterStartWorks) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ZevaLib zeva;
    ASSERT_TRUE(zeva.Loaded()) << ZevaLib::Error();
    int threads = ThreadBaseline(), sockets = CountSockets();

    EXPECT_EQ(0, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2003u, zeva.ZEVA_GetLastError());
    EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; })) << CountThreads() << " threads";
    EXPECT_EQ(sockets, CountSockets());
    EXPECT_EQ(0, zeva.ZEVA_Stop());
    EXPECT_EQ(2002u, zeva.ZEVA_GetLastError());

    std::string peer = lab.Add("peer");
    lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, zeva.ZEVA_GetLastError());
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

// A started SDK in the host namespace of a host and a peer joined by a veth pair.
class Started : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        std::string host = lab.Add("host");
        peer = lab.Add("peer");
        lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
        zeva.ZEVA_SetAutoRequestInterval(1);
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    }
    zeva::test::NetnsLab lab;
    std::string peer;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ZevaLib zeva;
};

TEST_F(Started, StartsAreCounted) {
    ASSERT_EQ(1, zeva.ZEVA_Start_V40([](ZEVA_DEVICE_INFO *, void *) {}, nullptr, nullptr));
    EXPECT_EQ(1, zeva.ZEVA_Stop());
    EXPECT_NE(std::string::npos, Sh("ss -uan").out.find(":37020")) << "the first stop keeps the SDK running";
    EXPECT_EQ(1, zeva.ZEVA_SendInquiry());
    EXPECT_EQ(1, zeva.ZEVA_Clearup());
    EXPECT_EQ(1, zeva.ZEVA_Stop());
    EXPECT_EQ(std::string::npos, Sh("ss -uan").out.find(":37020"));
    EXPECT_EQ(0, zeva.ZEVA_Stop());
    EXPECT_EQ(2002u, zeva.ZEVA_GetLastError());
}

TEST(Lifecycle, RunningSdkSocketsInquiriesAndRelay) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
    ScratchDir out;
    StartPeer(lab, peer, "listen " + out.Path() + " " + kPeerAddr);
    ASSERT_TRUE(WaitFor([&] { return FileExists(out / "ready"); }));
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ZevaLib zeva;
    int threads = ThreadBaseline(), sockets = CountSockets();

    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr)) << zeva.ZEVA_GetLastError();
        // One service: the sockets on 37020 and 35090 on the veth, 47020 on loopback, and the
        // subnet socket (unbound until its first send, so only counted).
        EXPECT_EQ(sockets + 4, CountSockets());
        std::string ss = Sh("ss -uanp").out;
        for (const char *port : {"0.0.0.0%h1:37020", "0.0.0.0%h1:35090", "0.0.0.0%lo:47020"})
            EXPECT_NE(std::string::npos, ss.find(port)) << port << "\n" << ss;
        EXPECT_NE(std::string::npos, Sh("ip maddr show dev h1").out.find("239.255.255.250"));
        EXPECT_NE(std::string::npos, Sh("ip maddr show dev lo").out.find("239.255.255.251"));
        EXPECT_EQ(threads + kSdkThreads + CoreThreads(), CountThreads())
            << "four receive threads and two background threads, and the core library's";

        if (round == 0) {
            // The start's inquiry reaches the peer on both ports, well formed.
            ASSERT_TRUE(WaitFor([&] { return FileExists(out / "37020") && FileExists(out / "35090"); }));
            std::regex inquiry("<\\?xml version=\"1\\.0\" encoding=\"utf-8\"\\?><Probe><Uuid>[0-9A-F]{8}-[0-9A-F]{4}-"
                               "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}</Uuid><Types>inquiry</Types></Probe>");
            for (const char *port : {"37020", "35090"}) {
                std::string text = ReadFile(out / port);
                EXPECT_TRUE(std::regex_match(text, inquiry)) << text;
                EXPECT_EQ(0, Sh("xmllint --noout " + (out / port)).status) << text;
            }
            // What a device sends to 37020 is passed on unchanged to the local relay group.
            int relay = RelayListener();
            std::string word = "<Probe><Types>relay-check-" + std::to_string(getpid()) + "</Types></Probe>";
            lab.Exec(peer, std::string("python3 ") + PROBE_PEER_PY + " send " + kPeerAddr + " 37020 '" + word + "'");
            EXPECT_EQ(word, ReceiveWithin(relay, 5000));
            close(relay);
        }

        ASSERT_EQ(1, zeva.ZEVA_Stop());
        EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; })) << CountThreads() << " threads left";
        EXPECT_EQ(sockets, CountSockets());
        EXPECT_EQ(std::string::npos, Sh("ss -uan").out.find(":37020"));
    }
}


// probe_peer.py's burst_datagram(i).
std::string BurstDatagram(int i) {
    static const size_t sizes[] = {0, 50, 1400, 8000, 10239};
    std::string d = "relay-burst " + std::to_string(i) + ":";
    size_t size = sizes[i % 5];
    for (size_t j = 0; d.size() < size; ++j)
        d += char((size_t(i) + j) % 256);
    return d;
}

// A burst on 37020 goes on to the relay group whole: every datagram once, unchanged (binary bytes
// and zeros, from empty to the largest taken whole) and in the order it came.
TEST_F(Started, RelayPassesABurstOnWholeAndInOrder) {
    const int count = 1000;
    int relay = RelayListener();
    int big = 32 << 20;
    ASSERT_EQ(0, setsockopt(relay, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big));
    lab.Exec(peer, std::string("python3 ") + PROBE_PEER_PY + " burst " + kPeerAddr + " " + std::to_string(count));
    int i = 0;
    for (std::string got; i < count; ++i) {
        // An empty datagram reads as an empty string too, so the length decides, not the text.
        pollfd p{relay, POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 5000)) << "relay " << i << " of " << count << " never came";
        std::vector<char> buf(65536);
        ssize_t n = recv(relay, buf.data(), buf.size(), 0);
        ASSERT_GE(n, 0);
        if (std::string(buf.data(), size_t(n)) != BurstDatagram(i))
            break;
    }
    EXPECT_EQ(count, i) << "relay " << i << " differs from what was sent";
    close(relay);
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

int DroppedPackets() {
    std::string out = Sh("nft list table ip zevatest").out;
    size_t at = out.find("counter packets ");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 16);
}

// A send the system refuses reports 2040 to the export that sent it; the inquiry thread's failed
// sends leave the last error the host reads alone.
TEST_F(Started, RefusedSendsReachOnlyTheirExport) {
    ASSERT_EQ(0, Sh("nft add table ip zevatest && nft add chain ip zevatest out "
                    "'{ type filter hook output priority 0; }' && "
                    "nft add rule ip zevatest out udp dport 37020 counter drop").status);

    EXPECT_EQ(0, zeva.ZEVA_SendInquiry());
    EXPECT_EQ(2040u, zeva.ZEVA_GetLastError());
    zeva.ZEVA_GetVersion();
    int dropped = DroppedPackets();
    ASSERT_GE(dropped, 1);
    EXPECT_TRUE(WaitFor([&] { return DroppedPackets() >= dropped + 2; })) << "the inquiry thread did not send";
    EXPECT_EQ(0u, zeva.ZEVA_GetLastError());
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

// Datagrams of the host's own address to the device ports, counted as they leave (out) and as
// they come back in (in).
int OwnDatagrams(const char *chain) {
    std::string out = Sh(std::string("nft list chain ip zevaloop ") + chain).out;
    size_t at = out.find("counter packets ");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 16);
}

// The device sockets never hear the inquiries (or requests) their service sends through them.
TEST_F(Started, ServiceNeverHearsItsOwnInquiries) {
    const std::string own = std::string("ip saddr ") + kHostAddr + " udp dport '{ 37020, 35090 }' counter";
    ASSERT_EQ(0, Sh("nft add table ip zevaloop && "
                    "nft add chain ip zevaloop out '{ type filter hook output priority 0; }' && "
                    "nft add chain ip zevaloop in '{ type filter hook input priority 0; }' && "
                    "nft add rule ip zevaloop out " + own + " && nft add rule ip zevaloop in " + own).status);
    // Two inquiries on both ports: the first one's copy would have come back long before the second.
    ASSERT_TRUE(WaitFor([] { return OwnDatagrams("out") >= 4; })) << OwnDatagrams("out");
    EXPECT_EQ(0, OwnDatagrams("in"));
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

// With the interval 0 only the start and the host send inquiries; once an interval is set the
// periodic ones begin within it.
TEST(Lifecycle, IntervalZeroSendsNoPeriodicInquiries) {
    ZEVA_NETNS_LAB(lab);
    std::string host, peer;
    AddHostAndPeer(lab, host, peer);
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ASSERT_EQ(0, Sh("nft add table ip zevaloop && "
                    "nft add chain ip zevaloop out '{ type filter hook output priority 0; }' && "
                    "nft add rule ip zevaloop out udp dport 37020 counter").status);
    ZevaLib zeva;
    ASSERT_EQ(0u, zeva.ZEVA_SetAutoRequestInterval(0));
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    int sent = 1;  // the start's
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WaitFor([&] { return OwnDatagrams("out") >= sent; })) << OwnDatagrams("out");
        EXPECT_EQ(sent, OwnDatagrams("out"));
        EXPECT_EQ(1, zeva.ZEVA_SendInquiry());
        ++sent;
    }
    ASSERT_TRUE(WaitFor([&] { return OwnDatagrams("out") >= sent; })) << OwnDatagrams("out");
    EXPECT_EQ(sent, OwnDatagrams("out"));
    auto set = std::chrono::steady_clock::now();
    zeva.ZEVA_SetAutoRequestInterval(1);
    ASSERT_TRUE(WaitFor([&] { return OwnDatagrams("out") > sent; }));
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - set);
    EXPECT_LT(waited.count(), 1500) << "ms until the first periodic inquiry";
    EXPECT_EQ(1, zeva.ZEVA_Stop());
}

}  // namespace

namespace {

// The configuration file is found beside the library that holds the SDK, wherever it is copied.
TEST(Lifecycle, ConfigurationBesideTheLibraryCopy) {
    ZEVA_NETNS_LAB(lab);
    std::string host = lab.Add("host"), peer = lab.Add("peer");
    lab.Veth(host, "h1", std::string(kHostAddr) + "/24", peer, "p0", std::string(kPeerAddr) + "/24");
    ScratchDir dir;
    ASSERT_EQ(0, Sh(std::string("cp ") + ZEVA_LIB_PATH + " " + (dir / "libZEVA.so")).status);
    WriteFile(dir / "ZEVASDK.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><logLevel>3</logLevel>"
                                   "<logDirectory>" + dir.Path() + "log/</logDirectory>"
                                   "<multicast>false</multicast><checkIP>false</checkIP></Settings>");
    zeva::test::EnterNetns in(host);
    ZEVA_REQUIRE_NETNS();
    ZevaLib zeva(dir / "libZEVA.so");
    ASSERT_TRUE(zeva.Loaded()) << ZevaLib::Error();
    ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, nullptr, nullptr));
    // Multicast off: no group sockets, only the subnet socket.
    EXPECT_EQ(std::string::npos, Sh("ss -uan").out.find(":37020"));
    EXPECT_EQ(1, zeva.ZEVA_Stop());
    EXPECT_TRUE(WaitFor([&] {
        return Sh("grep -rl 'The KWZEVASDK Version is 4.4.0.56 build20250915' " + dir.Path() + "log/").status == 0;
    }));
}

}  // namespace
