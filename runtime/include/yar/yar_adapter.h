/* The local machine's network: the adapter list with its addresses, the MAC of an adapter, name
 * resolution into runtime records, the host name and the byte-order wrappers. */
#ifndef YAR_ADAPTER_H
#define YAR_ADAPTER_H

#include <netdb.h>

#include "yar_addr.h"

#define YAR_MAX_ADAPTER_NAME 260
#define YAR_MAX_ADAPTER_DESCRIPTION 132
#define YAR_MAX_ADAPTER_ADDRESS 8
#define YAR_ADDR_TEXT_LEN 16

/* Adapter types, in the numbering callers compare against. */
enum {
    YAR_IF_TYPE_OTHER = 1,
    YAR_IF_TYPE_ETHERNET = 6,
    YAR_IF_TYPE_TOKENRING = 9,
    YAR_IF_TYPE_FDDI = 15,
    YAR_IF_TYPE_PPP = 23,
    YAR_IF_TYPE_LOOPBACK = 24,
    YAR_IF_TYPE_SLIP = 28,
    YAR_IF_TYPE_IEEE80211 = 71,
    YAR_IF_TYPE_TUNNEL = 131,
    YAR_IF_TYPE_IEEE1394 = 144,
    YAR_IF_TYPE_INFINIBAND = 199
};

/* One address of an adapter. The IPv4, gateway and DHCP-server lists hold texts; the IPv6 list
 * holds the 16 address bytes followed by 16 zero bytes. */
typedef struct YAR_ADDR_NODE_T {
    struct YAR_ADDR_NODE_T *next;
    union {
        struct {
            char address[YAR_ADDR_TEXT_LEN]; /* dotted quad */
            char mask[YAR_ADDR_TEXT_LEN];
        } text;
        uint8_t ip6[32];
    } u;
} YAR_ADDR_NODE_T;

/* One adapter; the list is the caller's until YAR_FreeAdapterInfo. The IPv4, gateway and
 * DHCP-server lists always have a first node, "0.0.0.0" when the adapter has none; the IPv6
 * list is null when the adapter has no IPv6 address. */
typedef struct YAR_ADAPTER_INFO_T {
    struct YAR_ADAPTER_INFO_T *next;
    uint32_t index;                                  /* interface index */
    char name[YAR_MAX_ADAPTER_NAME];                 /* the interface name */
    char description[YAR_MAX_ADAPTER_DESCRIPTION];
    uint32_t macLen;                                 /* at most 8 */
    uint8_t mac[YAR_MAX_ADAPTER_ADDRESS];
    uint32_t type;                                   /* YAR_IF_TYPE_* */
    uint32_t dhcpEnabled;                            /* 0 or 1 */
    YAR_ADDR_NODE_T *ipv4;
    YAR_ADDR_NODE_T *gateways;
    YAR_ADDR_NODE_T *dhcpServers;
    YAR_ADDR_NODE_T *ipv6;
} YAR_ADAPTER_INFO_T;

/* One name-resolution result; also the hints of a query. The list is the caller's until
 * YAR_FreeAddressInfo. */
typedef struct YAR_ADDRINFO_T {
    int32_t flags;    /* 1 passive, 2 canonical name, 4 numeric host */
    int32_t family;   /* 0, 2 or 23 (hints also 101, 102) */
    int32_t sockType;
    int32_t protocol;
    YAR_ADDR_T addr;
    char *canonName;
    struct YAR_ADDRINFO_T *next;
} YAR_ADDRINFO_T;

YAR_BEGIN_DECLS

/* Builds the list of the adapters that are up (loopback excluded), in interface-index order,
 * into *list: 0, or -1 with *list untouched. An empty machine gives 0 and a null list. */
int YAR_GetAdapterInfo(YAR_ADAPTER_INFO_T **list);
int YAR_GetAdapterInfoEx(YAR_ADAPTER_INFO_T **list);
int YAR_FreeAdapterInfo(YAR_ADAPTER_INFO_T *head);
int YAR_FreeNodeList(YAR_ADDR_NODE_T *head);

/* The MAC of the adapter whose first IPv4 address is the text. *len holds the buffer's size and
 * receives the MAC's length; a buffer too small gives -1 with the needed length in *len. */
int YAR_GetMacAddr(const char *ipv4Text, uint8_t *mac, uint32_t *len);

int YAR_GetAddressInfo(const char *host, const char *service, const YAR_ADDRINFO_T *hints,
                       YAR_ADDRINFO_T **result);
int YAR_FreeAddressInfo(YAR_ADDRINFO_T *head);

int YAR_GetHostName(char *buf, int size);
/* The system's record (not to be freed), null on failure. */
struct hostent *YAR_GetHostByName(const char *name);

uint16_t YAR_Htons(uint16_t v);
uint16_t YAR_Ntohs(uint16_t v);
uint32_t YAR_Htonl(uint32_t v);
uint32_t YAR_Ntohl(uint32_t v);

YAR_END_DECLS

#endif
