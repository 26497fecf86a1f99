// The subnet inquiry end to end: libZEVA.so in the host namespace walks a range routed through the
// peer, every datagram is counted on the peer's veth by a packet socket, and the device simulator
// answers for the few addresses of the range that the peer holds.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_netns_util.h"
#include "zeva_lib.h"

using namespace sdktest;

namespace {

constexpr uint16_t kSubnetPort = 37019;

// Counts the IPv4 UDP datagrams to port 37019 that arrive on one interface, with their
// destinations. The socket is made in the namespace current at construction.
class InquiryCounter {
public:
    explicit InquiryCounter(const char *ifname) {
        m_fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
        int size = 32 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_IP);
        where.sll_ifindex = int(if_nametoindex(ifname));
        m_ok = m_fd >= 0 && where.sll_ifindex > 0 &&
               bind(m_fd, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0;
        if (m_ok)
            m_reader = std::thread([this] { Read(); });
    }
    ~InquiryCounter() {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Ok() const { return m_ok; }
    size_t Count() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_count;
    }
    std::set<uint32_t> Destinations() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_destinations;
    }

private:
    void Read() {
        uint8_t buf[2048];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_ll from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < int(sizeof(iphdr) + sizeof(udphdr)) || from.sll_pkttype == PACKET_OUTGOING)
                continue;
            const iphdr *ip = reinterpret_cast<const iphdr *>(buf);
            if (ip->protocol != IPPROTO_UDP || n < int(ip->ihl * 4 + sizeof(udphdr)))
                continue;
            const udphdr *udp = reinterpret_cast<const udphdr *>(buf + ip->ihl * 4);
            if (ntohs(udp->dest) != kSubnetPort)
                continue;
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_count;
            m_destinations.insert(ntohl(ip->daddr));
        }
    }

    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
    std::mutex m_lock;
    size_t m_count = 0;
    std::set<uint32_t> m_destinations;
};

struct SubnetReports {
    std::mutex lock;
    std::vector<ZEVA_SUBNET_DEVICE_INFO> devices;

    static void Subnet(ZEVA_SUBNET_DEVICE_INFO *dev, void *user) {
        SubnetReports *self = static_cast<SubnetReports *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->devices.push_back(*dev);
    }
    size_t Size() {
        std::lock_guard<std::mutex> guard(lock);
        return devices.size();
    }
};

ZEVA_SUBNET_INFO Range(const std::string &start, const std::string &end) {
    ZEVA_SUBNET_INFO info;
    std::memset(&info, 0x5A, sizeof info);  // the first 8 bytes are not read
    std::memset(info.szStartSubnetIP, 0, sizeof info.szStartSubnetIP);
    std::memset(info.szEndSubnetIP, 0, sizeof info.szEndSubnetIP);
    start.copy(info.szStartSubnetIP, sizeof info.szStartSubnetIP);
    end.copy(info.szEndSubnetIP, sizeof info.szEndSubnetIP);
    return info;
}

std::string Field(const char *text, size_t width) { return std::string(text, strnlen(text, width)); }

// The range 10.78.0.0/16 lies beyond the veth's /24 and is routed through the peer, which holds
// two of its addresses.
class SubnetInquiry : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab.usable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        AddHostAndPeer(lab, host, peer);
        lab.Exec(host, std::string("ip route add 10.78.0.0/16 via ") + kPeerAddr);
        for (const char *addr : kHeld)
            lab.Exec(peer, std::string("ip addr add ") + addr + "/32 dev p0");
        // The one neighbour of the walk is known before it starts, so no datagram waits on it.
        std::string link = zeva::test::Sh("ip -n " + peer + " -br link show p0").out;
        std::string mac = link.substr(link.find(':') - 2, 17);
        std::string neigh = std::string("ip neigh replace ") + kPeerAddr + " dev h1 nud permanent lladdr " + mac;
        ASSERT_EQ(0, lab.Exec(host, neigh).status);
        {
            zeva::test::EnterNetns inPeer(peer);
            counter = std::make_unique<InquiryCounter>("p0");
        }
        ASSERT_TRUE(counter->Ok()) << std::strerror(errno);
        in = std::make_unique<zeva::test::EnterNetns>(host);
        ZEVA_REQUIRE_NETNS();
    }
    void TearDown() override {
        if (started)
            zeva.ZEVA_Stop();
    }
    void StartSdk() {
        zeva.ZEVA_SetAutoRequestInterval(0);
        ASSERT_EQ(1, zeva.ZEVA_Start_V60(nullptr, nullptr, SubnetReports::Subnet, &reports))
            << zeva.ZEVA_GetLastError();
        started = true;
    }
    int Inquire(const std::string &start, const std::string &end) {
        ZEVA_SUBNET_INFO info = Range(start, end);
        return zeva.ZEVA_InquirySpecificSubnet(&info);
    }

    static constexpr const char *kHeld[] = {"10.78.1.5", "10.78.9.200"};
    zeva::test::NetnsLab lab;
    std::string host, peer;
    std::unique_ptr<InquiryCounter> counter;
    std::unique_ptr<zeva::test::EnterNetns> in;
    ZevaLib zeva;
    SubnetReports reports;
    bool started = false;
};

TEST_F(SubnetInquiry, WalksEveryAddressOnceAndAnswersReachTheSubnetCallback) {
    ScratchDir dir;
    lab.Exec(peer, std::string("nohup ") + DEVSIM_PATH +
                       " --no-hello --seconds 60 --log " + dir / "devsim.jsonl" +
                       " --field DeviceType=77 --field DeviceDescription=SubnetCam --field DeviceSN=SUB-{n}"
                       " --field IPv4SubnetMask=255.255.0.0 --field IPv4Gateway=10.78.0.1"
                       " --field IPv6Address=fd00::5 --field IPv6Gateway=fd00::1 --field IPv6MaskLen=64"
                       " --field supportIPv6=true --field supportModifyIPv6=false"
                       " --field DHCPAbility=true --field DHCP=true >/dev/null 2>&1 &");
    ASSERT_TRUE(WaitFor([&] { return ReadFile(dir / "devsim.jsonl").find("\"ready\"") != std::string::npos; }, 30000));
    StartSdk();
    // 10.78.0.3 to 10.78.16.3: 4097 addresses, the most one inquiry takes.
    ASSERT_EQ(1, Inquire("10.78.0.3", "10.78.16.3")) << zeva.ZEVA_GetLastError();
    ASSERT_TRUE(WaitFor([&] { return counter->Count() >= 4097; }, 30000)) << counter->Count();
    std::set<uint32_t> to = counter->Destinations();
    EXPECT_EQ(4097u, to.size());
    EXPECT_EQ(4097u, counter->Count()) << "each address once";
    EXPECT_EQ(0x0A4E0003u, *to.begin());
    EXPECT_EQ(0x0A4E1003u, *to.rbegin());
    ASSERT_TRUE(WaitFor([&] { return reports.Size() >= 2; }, 30000));
    std::lock_guard<std::mutex> guard(reports.lock);
    std::string heard;
    for (const ZEVA_SUBNET_DEVICE_INFO &d : reports.devices)
        heard += " " + Field(d.szIPv4Address, sizeof d.szIPv4Address);
    ASSERT_EQ(2u, reports.devices.size()) << "one answer per held address, heard:" << heard;
    std::set<std::string> answered;
    for (const ZEVA_SUBNET_DEVICE_INFO &d : reports.devices) {
        std::string ipv4 = Field(d.szIPv4Address, sizeof d.szIPv4Address);
        answered.insert(ipv4);
        in_addr a{};
        inet_pton(AF_INET, ipv4.c_str(), &a);
        // devsim numbers a device it makes up for an address 0x10000 + the address's low 16 bits.
        uint32_t number = 0x10000 + (ntohl(a.s_addr) & 0xFFFF);
        EXPECT_EQ(77u, d.dwDeviceType);
        EXPECT_EQ("SubnetCam", Field(d.szDevDesc, sizeof d.szDevDesc));
        EXPECT_EQ("SUB-" + std::to_string(number), Field(d.szSerialNOEx, sizeof d.szSerialNOEx));
        EXPECT_EQ("255.255.0.0", Field(d.szIPv4SubnetMask, sizeof d.szIPv4SubnetMask));
        EXPECT_EQ("10.78.0.1", Field(d.szIPv4Gateway, sizeof d.szIPv4Gateway));
        EXPECT_EQ("fd00::5", Field(d.szIPv6Address, sizeof d.szIPv6Address));
        EXPECT_EQ("fd00::1", Field(d.szIPv6Gateway, sizeof d.szIPv6Gateway));
        EXPECT_EQ(64, d.byIPv6MaskLen);
        EXPECT_EQ(1, d.bySupportIPv6);
        EXPECT_EQ(0, d.bySupportModifyIPv6);
        EXPECT_EQ(1, d.bySupportDhcp);
        EXPECT_EQ(1, d.byDhcpEnabled);
    }
    EXPECT_EQ((std::set<std::string>{kHeld[0], kHeld[1]}), answered);
}

// The inquiry's socket takes its port from the system at the first send. Were it allowed to share
// a port, it could be handed the discovery port, and the answers would reach the discovery socket
// and be reported again from the relay. Here the only port left for it is the discovery port.
TEST_F(SubnetInquiry, NeverSharesTheDiscoveryPort) {
    ASSERT_EQ(0, lab.Exec(host, "sysctl -qw net.ipv4.ip_local_port_range='37020 37021'").status);
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in port{};
    port.sin_family = AF_INET;
    port.sin_port = htons(37021);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr *>(&port), sizeof port)) << std::strerror(errno);
    StartSdk();
    EXPECT_EQ(0, Inquire(kHeld[0], kHeld[0])) << "sent from a port the discovery socket holds";
    EXPECT_EQ(2015u, zeva.ZEVA_GetLastError());
    close(holder);
    ASSERT_EQ(1, Inquire(kHeld[0], kHeld[0])) << zeva.ZEVA_GetLastError();
    ASSERT_TRUE(WaitFor([&] { return counter->Count() >= 1; }, 30000));
    EXPECT_EQ(1u, counter->Count());
}

TEST_F(SubnetInquiry, RangesThatAreNoRangeSendNothing) {
    ZEVA_SUBNET_INFO info{};
    EXPECT_EQ(0, zeva.ZEVA_InquirySpecificSubnet(&info));
    EXPECT_EQ(2002u, zeva.ZEVA_GetLastError()) << "not started";
    StartSdk();
    EXPECT_EQ(0, zeva.ZEVA_InquirySpecificSubnet(nullptr));
    EXPECT_EQ(2005u, zeva.ZEVA_GetLastError());
    const struct {
        const char *why;
        std::string start, end;
    } refused[] = {
        {"4098 addresses", "10.78.0.3", "10.78.16.4"},
        {"end below start", "10.78.0.9", "10.78.0.8"},
        {"whole space", "0.0.0.0", "255.255.255.255"},
        {"bad start", "10.78.0.x", "10.78.0.9"},
        {"bad end", "10.78.0.1", "10.78.256.1"},
        {"empty", "", ""},
        {"end fills its field", "10.78.0.1", std::string(48, '1')},
    };
    for (const auto &row : refused) {
        SCOPED_TRACE(row.why);
        // On the heap at its exact size, so a read past the record is caught.
        std::unique_ptr<ZEVA_SUBNET_INFO> exact(new ZEVA_SUBNET_INFO(Range(row.start, row.end)));
        EXPECT_EQ(0, zeva.ZEVA_InquirySpecificSubnet(exact.get()));
        EXPECT_EQ(2048u, zeva.ZEVA_GetLastError());
    }
    // One address as a barrier: it arrives after anything the refused ranges might have sent.
    ASSERT_EQ(1, Inquire(kHeld[0], kHeld[0]));
    ASSERT_TRUE(WaitFor([&] { return counter->Count() >= 1; }, 30000));
    EXPECT_EQ(1u, counter->Count());
    // The adapter's broadcast address ends a walk: the system refuses the send.
    EXPECT_EQ(0, Inquire("10.77.1.254", "10.77.1.255"));
    EXPECT_EQ(2040u, zeva.ZEVA_GetLastError());
}

}  // namespace
