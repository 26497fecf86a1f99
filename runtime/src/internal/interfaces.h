// The kernel's interface list (getifaddrs), shared by the adapter list and the multicast join.
#pragma once

#include <ifaddrs.h>

#include <string>

#include "yar/yar_addr.h"

namespace yar::internal {

// Owns one getifaddrs snapshot.
class IfAddrs {
public:
    IfAddrs();
    ~IfAddrs();
    IfAddrs(const IfAddrs &) = delete;
    IfAddrs &operator=(const IfAddrs &) = delete;

    bool ok() const { return ok_; }
    const ifaddrs *head() const { return head_; }

private:
    ifaddrs *head_ = nullptr;
    bool ok_ = false;
};

// The interface name without an IPv4 alias label ("eth0:1" is eth0).
std::string BaseInterfaceName(const char *name);

// The index of the interface that holds the address (IPv4 or IPv6); 0 when none does.
unsigned InterfaceIndexOfAddress(const YAR_ADDR_T &addr);

}  // namespace yar::internal
