// The Linux source of the adapter list: what a system adapter table holds, per interface index,
// read from getifaddrs, /proc/net/route and /sys/class/net.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace yar::internal {

struct SystemAdapter {
    unsigned index = 0;
    std::string name;
    std::vector<uint8_t> mac;
    uint32_t type = 1;  // YAR_IF_TYPE_*
    std::vector<std::pair<std::string, std::string>> ipv4;  // address and mask texts, kernel order
    std::vector<std::string> gateways;
    std::vector<std::array<uint8_t, 16>> ipv6;
};

// The adapters that are up, loopback excluded, in index order; false when the interface list
// cannot be read (or the backend was switched off).
bool FetchSystemAdapters(std::vector<SystemAdapter> *out);

// The adapter type for a hardware type (ARPHRD_*), in the numbering callers compare against.
uint32_t AdapterTypeOf(unsigned hardwareType, bool wireless);

// Switches the backend off and on, as a missing adapter library would; the runtime start and
// tests use it.
void SetAdapterBackendAvailable(bool available);

}  // namespace yar::internal
