// Name resolution into runtime records, the host name, byte order.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "internal/sockaddr.h"
#include "internal/syserr.h"
#include "yar/yar_adapter.h"
#include "yar/yar_error.h"

namespace {

// The resolver's failures in the numbering callers compare against.
int ResolverError(int eai) {
    switch (eai) {
    case EAI_NONAME: return 11001;  // host not found
    case EAI_AGAIN: return 11002;   // try again
    case EAI_FAIL: return 11003;    // no recovery
    case EAI_NODATA: return 11004;  // no data of the requested type
    case EAI_FAMILY: return YAR_SYSERR_WSAEAFNOSUPPORT;
    case EAI_MEMORY: return YAR_SYSERR_NOT_ENOUGH_MEMORY;
    case EAI_BADFLAGS: return YAR_SYSERR_WSAEINVAL;
    case EAI_SOCKTYPE: return 10044;  // socket type not supported
    case EAI_SERVICE: return 10109;   // class type not found
    default: return eai;
    }
}

int RuntimeFamily(int family) {
    return family == AF_INET6 ? YAR_AF_INET6 : family;
}

YAR_ADDRINFO_T *CopyResult(const addrinfo *ai) {
    auto *node = static_cast<YAR_ADDRINFO_T *>(std::calloc(1, sizeof(YAR_ADDRINFO_T)));
    if (!node)
        return nullptr;
    node->flags = ai->ai_flags;
    node->family = RuntimeFamily(ai->ai_family);
    node->sockType = ai->ai_socktype;
    node->protocol = ai->ai_protocol;
    if (ai->ai_addr)
        yar::internal::FromSockAddr(ai->ai_addr, ai->ai_addrlen, &node->addr);
    if (ai->ai_canonname && !(node->canonName = strdup(ai->ai_canonname))) {
        std::free(node);
        return nullptr;
    }
    return node;
}

}  // namespace

extern "C" {

// Only flags, family, socket type and protocol are handed on as hints: the C library wants the
// address and name of its hints empty.
int YAR_GetAddressInfo(const char *host, const char *service, const YAR_ADDRINFO_T *hints,
                       YAR_ADDRINFO_T **result) {
    if (!result)
        return -1;
    addrinfo h{};
    if (hints) {
        h.ai_flags = hints->flags;
        h.ai_family = hints->family ? yar::internal::SystemFamily(hints->family) : AF_UNSPEC;
        h.ai_socktype = hints->sockType;
        h.ai_protocol = hints->protocol;
    }
    addrinfo *res = nullptr;
    int err = getaddrinfo(host, service, &h, &res);
    if (err == EAI_NODATA || err == EAI_ADDRFAMILY) {
        *result = nullptr;  // the name exists, with nothing of that kind
        return 0;
    }
    if (err != 0) {
        if (err == EAI_SYSTEM)
            yar::internal::SetSystemErrorFromErrno(errno);
        else
            YAR_SetSystemLastError(ResolverError(err));
        return -1;
    }
    YAR_ADDRINFO_T *head = nullptr, **tail = &head;
    for (const addrinfo *ai = res; ai; ai = ai->ai_next) {
        YAR_ADDRINFO_T *node = CopyResult(ai);
        if (!node) {
            YAR_FreeAddressInfo(head);
            freeaddrinfo(res);
            YAR_SetSystemLastError(YAR_SYSERR_NOT_ENOUGH_MEMORY);
            return -1;
        }
        *tail = node;
        tail = &node->next;
    }
    freeaddrinfo(res);
    *result = head;
    return 0;
}

int YAR_FreeAddressInfo(YAR_ADDRINFO_T *head) {
    while (head) {
        YAR_ADDRINFO_T *next = head->next;
        std::free(head->canonName);
        std::free(head);
        head = next;
    }
    return 0;
}

int YAR_GetHostName(char *buf, int size) {
    if (!buf || size <= 0 || gethostname(buf, size_t(size)) != 0)
        return -1;
    buf[size - 1] = '\0';
    return 0;
}

struct hostent *YAR_GetHostByName(const char *name) {
    return name ? gethostbyname(name) : nullptr;
}

uint16_t YAR_Htons(uint16_t v) { return htons(v); }
uint16_t YAR_Ntohs(uint16_t v) { return ntohs(v); }
uint32_t YAR_Htonl(uint32_t v) { return htonl(v); }
uint32_t YAR_Ntohl(uint32_t v) { return ntohl(v); }

}  // extern "C"
