// Adapter records from Linux: getifaddrs grouped by interface index (IPv4 alias labels and IPv6
// addresses join their interface by index), default gateways from the routing table, the
// wireless flag from sysfs.
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "internal/adapter_backend.h"
#include "internal/debug_output.h"
#include "internal/interfaces.h"
#include "yar/yar_adapter.h"

namespace yar::internal {

namespace {

std::atomic<bool> g_available{true};

std::string Dotted(const sockaddr *sa) {
    char text[YAR_ADDR_TEXT_LEN] = "0.0.0.0";
    if (sa && sa->sa_family == AF_INET)
        YAR_InetNtop(YAR_AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, text, sizeof text);
    return text;
}

// Read only when sysfs shows this network namespace: the same name with the same index.
bool IsWireless(const std::string &name, unsigned index) {
    std::string dir = "/sys/class/net/" + name;
    std::ifstream idx(dir + "/ifindex");
    unsigned sysIndex = 0;
    if (!(idx >> sysIndex) || sysIndex != index)
        return false;
    return access((dir + "/wireless").c_str(), F_OK) == 0 || access((dir + "/phy80211").c_str(), F_OK) == 0;
}

// Default routes with a gateway, per interface name, in table order.
std::map<std::string, std::vector<std::string>> DefaultGateways() {
    std::map<std::string, std::vector<std::string>> result;
    std::ifstream route("/proc/thread-self/net/route");
    std::string line;
    std::getline(route, line);  // header
    while (std::getline(route, line)) {
        std::istringstream in(line);
        std::string iface;
        unsigned long dest, gateway, flags, refcnt, use, metric, mask;
        if (!(in >> iface >> std::hex >> dest >> gateway >> flags >> std::dec >> refcnt >> use >> metric >>
              std::hex >> mask))
            continue;
        if (dest != 0 || mask != 0 || !(flags & RTF_GATEWAY) || !(flags & RTF_UP))
            continue;
        char text[YAR_ADDR_TEXT_LEN];
        uint32_t addr = uint32_t(gateway);  // printed in network byte order
        if (YAR_InetNtop(YAR_AF_INET, &addr, text, sizeof text))
            result[iface].push_back(text);
    }
    return result;
}

// The hardware type of a link that reports no hardware address (tunnels), from the kernel.
unsigned HardwareTypeOf(const char *name) {
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return ARPHRD_NONE;
    ifreq req{};
    std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", name);
    unsigned type = ioctl(sock, SIOCGIFHWADDR, &req) == 0 ? req.ifr_hwaddr.sa_family : ARPHRD_NONE;
    close(sock);
    return type;
}

// A link entry: with its hardware address (AF_PACKET), or without any (no address at all).
void AddLink(const ifaddrs *ifa, std::map<unsigned, SystemAdapter> *byIndex) {
    if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
        return;
    const auto *ll = reinterpret_cast<const sockaddr_ll *>(ifa->ifa_addr);
    unsigned index = ll ? unsigned(ll->sll_ifindex) : if_nametoindex(ifa->ifa_name);
    if (index == 0)
        return;
    SystemAdapter &a = (*byIndex)[index];
    a.index = index;
    a.name = ifa->ifa_name;
    if (ll)
        a.mac.assign(ll->sll_addr, ll->sll_addr + std::min<unsigned>(ll->sll_halen, sizeof ll->sll_addr));
    a.type = AdapterTypeOf(ll ? ll->sll_hatype : HardwareTypeOf(ifa->ifa_name), IsWireless(a.name, a.index));
}

void AddAddress(const ifaddrs *ifa, std::map<unsigned, SystemAdapter> *byIndex) {
    unsigned index = if_nametoindex(BaseInterfaceName(ifa->ifa_name).c_str());
    auto it = byIndex->find(index);
    if (it == byIndex->end())
        return;  // down, loopback, or gone since
    if (ifa->ifa_addr->sa_family == AF_INET) {
        it->second.ipv4.emplace_back(Dotted(ifa->ifa_addr), Dotted(ifa->ifa_netmask));
    } else {
        std::array<uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6 *>(ifa->ifa_addr)->sin6_addr, 16);
        it->second.ipv6.push_back(bytes);
    }
}

}  // namespace

uint32_t AdapterTypeOf(unsigned hardwareType, bool wireless) {
    switch (hardwareType) {
    case ARPHRD_ETHER: return wireless ? YAR_IF_TYPE_IEEE80211 : YAR_IF_TYPE_ETHERNET;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_RADIOTAP: return YAR_IF_TYPE_IEEE80211;
    case ARPHRD_LOOPBACK: return YAR_IF_TYPE_LOOPBACK;
    case ARPHRD_PPP: return YAR_IF_TYPE_PPP;
    case ARPHRD_IEEE802_TR: return YAR_IF_TYPE_TOKENRING;
    case ARPHRD_FDDI: return YAR_IF_TYPE_FDDI;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP: return YAR_IF_TYPE_SLIP;
    case ARPHRD_IEEE1394: return YAR_IF_TYPE_IEEE1394;
    case ARPHRD_INFINIBAND: return YAR_IF_TYPE_INFINIBAND;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_NONE: return YAR_IF_TYPE_TUNNEL;
    default: return YAR_IF_TYPE_OTHER;
    }
}

void SetAdapterBackendAvailable(bool available) {
    g_available = available;
}

bool FetchSystemAdapters(std::vector<SystemAdapter> *out) {
    if (!g_available)
        return false;
    IfAddrs list;
    if (!list.ok()) {
        DebugOutput("GetAdapterList_Inter_Windows GetAdaptersInfo 1st error\n");
        return false;
    }
    std::map<unsigned, SystemAdapter> byIndex;
    for (const ifaddrs *ifa = list.head(); ifa; ifa = ifa->ifa_next)
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family == AF_PACKET)
            AddLink(ifa, &byIndex);
    for (const ifaddrs *ifa = list.head(); ifa; ifa = ifa->ifa_next)
        if (ifa->ifa_addr && (ifa->ifa_addr->sa_family == AF_INET || ifa->ifa_addr->sa_family == AF_INET6))
            AddAddress(ifa, &byIndex);
    auto gateways = DefaultGateways();
    out->clear();
    for (auto &entry : byIndex) {
        auto gw = gateways.find(entry.second.name);
        if (gw != gateways.end())
            entry.second.gateways = gw->second;
        out->push_back(std::move(entry.second));
    }
    return true;
}

}  // namespace yar::internal
