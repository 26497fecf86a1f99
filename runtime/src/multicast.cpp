// Multicast membership. Linux delivers group traffic only to sockets bound to the wildcard
// address (or the group), and by default to every such socket of any interface: membership is
// taken on the interface index of the local address, and IP_MULTICAST_ALL is cleared so that the
// socket receives only what it joined.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "internal/interfaces.h"
#include "internal/socket_util.h"
#include "yar/yar_socket.h"

using yar::internal::FailSocket;

namespace {

int Membership4(int sock, const YAR_ADDR_T &local, const YAR_ADDR_T &group, bool join) {
    ip_mreqn mreq{};
    mreq.imr_multiaddr.s_addr = group.addr4;
    mreq.imr_address.s_addr = local.family == YAR_AF_INET ? local.addr4 : htonl(INADDR_ANY);
    if (mreq.imr_address.s_addr != htonl(INADDR_ANY)) {
        mreq.imr_ifindex = int(yar::internal::InterfaceIndexOfAddress(local));
    }
    if (join) {
        int off = 0;
        setsockopt(sock, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    }
    if (setsockopt(sock, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &mreq, sizeof mreq) != 0)
        return FailSocket(sock);
    if (join && (mreq.imr_ifindex || mreq.imr_address.s_addr != htonl(INADDR_ANY))) {
        ip_mreqn out{};
        out.imr_address = mreq.imr_address;
        out.imr_ifindex = mreq.imr_ifindex;
        setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
    }
    return 0;
}

unsigned GroupInterface6(const YAR_ADDR_T &local, const YAR_ADDR_T &group) {
    if (group.addr4)
        return group.addr4;
    if (local.family != YAR_AF_INET6)
        return 0;
    return local.scopeId ? local.scopeId : yar::internal::InterfaceIndexOfAddress(local);
}

int Membership6(int sock, const YAR_ADDR_T &local, const YAR_ADDR_T &group, bool join) {
    ipv6_mreq mreq{};
    std::memcpy(&mreq.ipv6mr_multiaddr, group.addr6, sizeof group.addr6);
    mreq.ipv6mr_interface = GroupInterface6(local, group);
    if (join) {
        int off = 0;
        setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_ALL, &off, sizeof off);
    }
    if (setsockopt(sock, IPPROTO_IPV6, join ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP, &mreq, sizeof mreq) != 0)
        return FailSocket(sock);
    if (join && mreq.ipv6mr_interface) {
        unsigned index = mreq.ipv6mr_interface;
        setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    }
    return 0;
}

int Membership(int sock, const YAR_ADDR_T *local, const YAR_ADDR_T *group, bool join) {
    if (!local || !group)
        return -1;
    if (group->family == YAR_AF_INET)
        return Membership4(sock, *local, *group, join);
    if (group->family == YAR_AF_INET6)
        return Membership6(sock, *local, *group, join);
    return -1;
}

}  // namespace

extern "C" {

int YAR_JoinMultiCastGroup(int sock, const YAR_ADDR_T *local, const YAR_ADDR_T *group) {
    return Membership(sock, local, group, true);
}

int YAR_LeaveMultiCastGroup(int sock, const YAR_ADDR_T *local, const YAR_ADDR_T *group) {
    return Membership(sock, local, group, false);
}

}  // extern "C"
