// The adapter list, the default family that follows from it, and the MAC of an adapter.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/adapter_backend.h"
#include "internal/debug_output.h"
#include "internal/default_family.h"
#include "yar/yar_adapter.h"

using yar::internal::SystemAdapter;

namespace {

constexpr const char *kNoAddress = "0.0.0.0";

YAR_ADDR_NODE_T *TextNode(const char *address, const char *mask) {
    auto *node = static_cast<YAR_ADDR_NODE_T *>(std::calloc(1, sizeof(YAR_ADDR_NODE_T)));
    if (node) {
        std::snprintf(node->u.text.address, sizeof node->u.text.address, "%s", address);
        std::snprintf(node->u.text.mask, sizeof node->u.text.mask, "%s", mask);
    }
    return node;
}

// Appends at *tail; false when out of memory.
bool Append(YAR_ADDR_NODE_T ***tail, YAR_ADDR_NODE_T *node) {
    if (!node)
        return false;
    **tail = node;
    *tail = &node->next;
    return true;
}

// A text list whose first node is "0.0.0.0" when there is nothing to list, as readers that take
// the first node expect.
template <typename Items, typename Fn>
bool BuildTextList(const Items &items, Fn toNode, YAR_ADDR_NODE_T **head) {
    YAR_ADDR_NODE_T **tail = head;
    if (items.empty())
        return Append(&tail, TextNode(kNoAddress, kNoAddress));
    for (const auto &item : items)
        if (!Append(&tail, toNode(item)))
            return false;
    return true;
}

bool BuildIPv6List(const SystemAdapter &sys, YAR_ADDR_NODE_T **head) {
    YAR_ADDR_NODE_T **tail = head;
    for (const auto &bytes : sys.ipv6) {
        auto *node = static_cast<YAR_ADDR_NODE_T *>(std::calloc(1, sizeof(YAR_ADDR_NODE_T)));
        if (!Append(&tail, node))
            return false;
        std::memcpy(node->u.ip6, bytes.data(), bytes.size());
    }
    return true;
}

YAR_ADAPTER_INFO_T *BuildNode(const SystemAdapter &sys) {
    auto *node = static_cast<YAR_ADAPTER_INFO_T *>(std::calloc(1, sizeof(YAR_ADAPTER_INFO_T)));
    if (!node)
        return nullptr;
    node->index = sys.index;
    std::snprintf(node->name, sizeof node->name, "%s", sys.name.c_str());
    // Linux keeps no adapter description: the interface name stands in.
    std::snprintf(node->description, sizeof node->description, "%s", sys.name.c_str());
    node->macLen = uint32_t(std::min<size_t>(sys.mac.size(), YAR_MAX_ADAPTER_ADDRESS));
    if (node->macLen)
        std::memcpy(node->mac, sys.mac.data(), node->macLen);
    node->type = sys.type;
    // Linux has no lease information that holds for every DHCP client: not enabled, no server.
    node->dhcpEnabled = 0;
    node->dhcpServers = TextNode(kNoAddress, kNoAddress);
    bool ok = node->dhcpServers &&
              BuildTextList(sys.ipv4, [](const auto &a) { return TextNode(a.first.c_str(), a.second.c_str()); },
                            &node->ipv4) &&
              BuildTextList(sys.gateways, [](const auto &g) { return TextNode(g.c_str(), kNoAddress); },
                            &node->gateways) &&
              BuildIPv6List(sys, &node->ipv6);
    if (!ok) {
        YAR_FreeAdapterInfo(node);
        return nullptr;
    }
    return node;
}

bool HasIPv4(const YAR_ADAPTER_INFO_T *node) {
    return node->ipv4 && std::strcmp(node->ipv4->u.text.address, kNoAddress) != 0;
}

void RefreshDefaultFamily(const YAR_ADAPTER_INFO_T *head) {
    bool v4 = false, v6 = false;
    for (const YAR_ADAPTER_INFO_T *node = head; node; node = node->next) {
        v4 = v4 || HasIPv4(node);
        v6 = v6 || node->ipv6;
    }
    if (v4 && v6)
        yar::internal::SetDefaultFamily(YAR_AF_DUAL);
    else if (v6)
        yar::internal::SetDefaultFamily(YAR_AF_INET6);
    else if (v4)
        yar::internal::SetDefaultFamily(YAR_AF_INET);
}

}  // namespace

extern "C" {

int YAR_GetAdapterInfo(YAR_ADAPTER_INFO_T **list) {
    if (!list)
        return -1;
    std::vector<SystemAdapter> adapters;
    if (!yar::internal::FetchSystemAdapters(&adapters))
        return -1;
    YAR_ADAPTER_INFO_T *head = nullptr, **tail = &head;
    for (const auto &sys : adapters) {
        YAR_ADAPTER_INFO_T *node = BuildNode(sys);
        if (!node) {
            YAR_FreeAdapterInfo(head);
            return -1;
        }
        *tail = node;
        tail = &node->next;
    }
    *list = head;
    return 0;
}

int YAR_GetAdapterInfoEx(YAR_ADAPTER_INFO_T **list) {
    return YAR_GetAdapterInfo(list);
}

int UpdateDefaultFamily_Inter(YAR_ADAPTER_INFO_T **holder) {
    int result = YAR_GetAdapterInfo(holder);
    if (result == 0)
        RefreshDefaultFamily(*holder);
    return result;
}

int YAR_FreeNodeList(YAR_ADDR_NODE_T *head) {
    while (head) {
        YAR_ADDR_NODE_T *next = head->next;
        std::free(head);
        head = next;
    }
    return 0;
}

int YAR_FreeAdapterInfo(YAR_ADAPTER_INFO_T *head) {
    while (head) {
        YAR_ADAPTER_INFO_T *next = head->next;
        YAR_FreeNodeList(head->ipv4);
        YAR_FreeNodeList(head->gateways);
        YAR_FreeNodeList(head->dhcpServers);
        YAR_FreeNodeList(head->ipv6);
        std::free(head);
        head = next;
    }
    return 0;
}

int YAR_GetMacAddr(const char *ipv4Text, uint8_t *mac, uint32_t *len) {
    if (!ipv4Text || !mac || !len || *len == 0) {
        yar::internal::DebugOutput("YAR_GetMacAddr parameter error, return YAR_ERROR\n");
        return -1;
    }
    YAR_ADAPTER_INFO_T *list = nullptr;
    if (YAR_GetAdapterInfo(&list) != 0)
        return -1;
    int result = -1;
    for (const YAR_ADAPTER_INFO_T *node = list; node; node = node->next) {
        if (std::strcmp(node->ipv4->u.text.address, ipv4Text) != 0)
            continue;
        // Never past the caller's buffer: a longer hardware address reports the length it needs.
        if (node->macLen <= *len) {
            std::memcpy(mac, node->mac, node->macLen);
            result = 0;
        }
        *len = node->macLen;
        break;
    }
    YAR_FreeAdapterInfo(list);
    return result;
}

}  // extern "C"
