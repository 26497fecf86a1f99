// The boundary between YAR_ADDR_T (family 23 for IPv6) and the system's socket addresses
// (AF_INET6). Every call that hands an address to the system or takes one back goes through here.
#pragma once

#include <sys/socket.h>

#include "yar/yar_addr.h"

namespace yar::internal {

struct SockAddr {
    sockaddr_storage storage{};
    socklen_t len = 0;

    sockaddr *get() { return reinterpret_cast<sockaddr *>(&storage); }
};

// The record as a system address (16 bytes for IPv4, 28 for IPv6); false for another family.
bool ToSockAddr(const YAR_ADDR_T &addr, SockAddr *out);
// A system IPv4 or IPv6 address as a record; false (record zeroed) for anything else.
bool FromSockAddr(const sockaddr *sa, socklen_t len, YAR_ADDR_T *out);
// The system family of a runtime family code (102 resolved, 101 is IPv6); AF_UNSPEC otherwise.
int SystemFamily(int family);

}  // namespace yar::internal
