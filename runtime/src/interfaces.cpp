// getifaddrs snapshots and address-to-interface lookups.
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

#include "internal/interfaces.h"

namespace yar::internal {

IfAddrs::IfAddrs() : ok_(getifaddrs(&head_) == 0) {}

IfAddrs::~IfAddrs() {
    if (head_)
        freeifaddrs(head_);
}

std::string BaseInterfaceName(const char *name) {
    const char *colon = std::strchr(name, ':');
    return colon ? std::string(name, size_t(colon - name)) : std::string(name);
}

namespace {

bool HoldsAddress(const sockaddr *sa, const YAR_ADDR_T &addr) {
    if (addr.family == YAR_AF_INET && sa->sa_family == AF_INET)
        return reinterpret_cast<const sockaddr_in *>(sa)->sin_addr.s_addr == addr.addr4;
    if (addr.family == YAR_AF_INET6 && sa->sa_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, addr.addr6, 16) == 0;
    return false;
}

}  // namespace

unsigned InterfaceIndexOfAddress(const YAR_ADDR_T &addr) {
    IfAddrs list;
    for (const ifaddrs *ifa = list.head(); ifa; ifa = ifa->ifa_next)
        if (ifa->ifa_addr && HoldsAddress(ifa->ifa_addr, addr))
            return if_nametoindex(BaseInterfaceName(ifa->ifa_name).c_str());
    return 0;
}

}  // namespace yar::internal
