/* Socket addresses: the one address record of the library, its builders and accessors, and the
 * runtime's own conversions between address text and binary form. */
#ifndef YAR_ADDR_H
#define YAR_ADDR_H

#include "yar_base.h"

/* Family codes. The record keeps 2 or 23; 101 and 102 only select behaviour in calls. */
enum {
    YAR_AF_INET = 2,
    YAR_AF_INET6 = 23,
    YAR_AF_DUAL = 101,    /* IPv6 socket that also accepts IPv4; as an address it is IPv6 */
    YAR_AF_DEFAULT = 102  /* the runtime's default family, refreshed from the adapter list */
};

/* 28 bytes, laid out as the IPv4 and IPv6 socket address records. The family stays 23 for IPv6
 * in the record; the socket calls translate it. */
typedef struct YAR_ADDR_T {
    uint16_t family;    /* host order: 2 or 23 */
    uint16_t port;      /* network order */
    uint32_t addr4;     /* IPv4: the address, network order; IPv6: flow information */
    uint8_t addr6[16];  /* IPv6: the address bytes; IPv4: zero */
    uint32_t scopeId;   /* IPv6: scope identifier; IPv4: zero */
} YAR_ADDR_T;

/* The unpacked form of an address. */
typedef struct YAR_ADDR_EXP_T {
    int32_t family;
    uint8_t addr[16];  /* IPv4: 4 bytes in network order; IPv6: 16 bytes */
    uint16_t port;     /* host order */
} YAR_ADDR_EXP_T;

YAR_BEGIN_DECLS

/* Builders: 0 on success, -1 on failure. Ports are in host order. Every builder zeroes the
 * record first. */
int YAR_MakeAddrByString(int family, const char *text, uint16_t port, YAR_ADDR_T *addr);
int YAR_MakeAddr4(uint32_t addr4, uint16_t port, YAR_ADDR_T *addr);
int YAR_MakeAddr6(const uint8_t addr6[16], uint16_t port, YAR_ADDR_T *addr);
/* Copies length bytes (at most the 28 of the record). */
int YAR_CopyAddr(const YAR_ADDR_T *src, uint32_t length, YAR_ADDR_T *dst);
int YAR_SetAddrPort(YAR_ADDR_T *addr, uint16_t port);

/* Accessors. */
int YAR_GetAddrType(const YAR_ADDR_T *addr);      /* the family, -1 for null */
uint16_t YAR_GetAddrPort(const YAR_ADDR_T *addr); /* host order, 0 for null */
int YAR_GetAddr4(const YAR_ADDR_T *addr, uint32_t *addr4);
int YAR_GetAddr6(const YAR_ADDR_T *addr, uint8_t addr6[16]);
int YAR_AddrToExp(const YAR_ADDR_T *addr, YAR_ADDR_EXP_T *exp);

/* The address text (no port) in a 128-byte buffer of the calling thread, overwritten by the
 * thread's next call; null for null or a family other than 2 and 23. */
const char *YAR_GetAddrString(const YAR_ADDR_T *addr);
/* The same text in the caller's buffer; null when it does not fit. */
char *YAR_GetAddrStringEx(const YAR_ADDR_T *addr, char *buf, uint32_t len);

/* The peer address (when wanted) and then the local address (when wanted) of a socket. */
int YAR_GetAddrBySockFd(int sock, YAR_ADDR_T *local, YAR_ADDR_T *peer);

/* Text to binary: family 2 gives 4 bytes, 23 or 101 give 16. The output is written only on
 * success. */
int YAR_InetPton(int family, const char *text, void *out);
/* IPv6 when the text contains ':', else IPv4. */
int YAR_InetPtonAuto(const char *text, void *out);
/* Binary to text for family 2 or 23; the buffer, or null when the text and its terminator do
 * not fit. */
char *YAR_InetNtop(int family, const void *addr, char *buf, uint32_t len);

/* 102 gives the current default family; any other code is returned unchanged. */
int YAR_ResolveFamily(int family);

YAR_END_DECLS

#ifdef __cplusplus
static_assert(sizeof(YAR_ADDR_T) == 28, "YAR_ADDR_T is 28 bytes");
static_assert(offsetof(YAR_ADDR_T, port) == 2 && offsetof(YAR_ADDR_T, addr4) == 4 &&
                  offsetof(YAR_ADDR_T, addr6) == 8 && offsetof(YAR_ADDR_T, scopeId) == 24,
              "YAR_ADDR_T field offsets");
static_assert(sizeof(YAR_ADDR_EXP_T) == 24, "YAR_ADDR_EXP_T is 24 bytes");
#endif

#endif
