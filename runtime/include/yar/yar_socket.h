/* Sockets: creation by the runtime's family codes, binding, connecting and accepting with a
 * time-out, multicast membership, options, and send and receive loops bounded by a time-out.
 * Failures return -1 (or the system call's result) and leave the system error of
 * YAR_GetSystemLastError in the Windows numbering (10035 would block, 10054 reset, 10060 timed
 * out, 10061 refused). Sends never raise SIGPIPE. */
#ifndef YAR_SOCKET_H
#define YAR_SOCKET_H

#include <sys/select.h>

#include "yar_addr.h"

/* A socket is a signed 32-bit descriptor. */
#define YAR_INVALID_SOCKET (-1)
/* A time-out of all ones waits without limit. */
#define YAR_INFINITE_TIMEOUT 0xFFFFFFFFu

YAR_BEGIN_DECLS

/* Start and stop of the socket library; they keep the sockets-started flag of the runtime start. */
int YAR_WSAStartup(void);
int YAR_WSACleanup(void);

/* Family 2, 23, 101 (IPv6 that also accepts IPv4) or 102 (the default family); type and
 * protocol as the system numbers them (1 stream, 2 datagram; 6 TCP, 17 UDP). */
int YAR_CreateSocket(int family, int type, int protocol);
/* Always shuts both directions down before closing, so that a thread blocked on the socket
 * wakes up; the flag is kept for callers. */
int YAR_CloseSocket(int sock, int shutdownFirst);
int YAR_ShutDown(int sock, int how);
int YAR_Bind(int sock, const YAR_ADDR_T *addr);
int YAR_Listen(int sock, int backlog);
/* The accepted socket, or -1; with a time-out other than all ones, -1 (10060) when no connection
 * arrives in time. addr may be null. */
int YAR_Accept(int sock, YAR_ADDR_T *addr, uint32_t timeoutMs);
/* 0 when connected in time, else -1 with the system error set (10060 on time-out). The socket's
 * blocking mode is as before the call. */
int YAR_ConnectWithTimeOut(int sock, const YAR_ADDR_T *addr, uint32_t timeoutMs);
int YAR_SetNonBlock(int sock, int on);
/* ioctl with the Linux request numbers (FIONREAD, FIONBIO ...). */
int YAR_IoCtl(int sock, unsigned long cmd, void *arg);

/* Joins the group on the interface that owns the local address (IPv4), or on the interface index
 * in the group record's flow-information word (IPv6; 0 takes the interface of the local
 * address, else the system's choice). The socket then receives only the groups it joined (IPv4:
 * only on that interface; Linux does not tell IPv6 interfaces apart here), and sends its
 * multicast through that interface. A receiving socket binds the wildcard address (or the group)
 * and the port: a socket bound to a unicast address receives no group traffic. */
int YAR_JoinMultiCastGroup(int sock, const YAR_ADDR_T *local, const YAR_ADDR_T *group);
int YAR_LeaveMultiCastGroup(int sock, const YAR_ADDR_T *local, const YAR_ADDR_T *group);

/* Options. */
int YAR_SetReuseAddr(int sock, int on);
int YAR_SetBroadcast(int sock);
int YAR_SetKeepAlive(int sock, int on); /* always 0 */
int YAR_SetNoDelay(int sock, int on);
int YAR_LingerOn(int sock, int seconds);
int YAR_LingerOff(int sock);
/* A zero value leaves that direction alone. */
int YAR_SetTimeOut(int sock, uint32_t sendMs, uint32_t recvMs);
int YAR_SetBuffSize(int sock, int sendSize, int recvSize);
int YAR_GetBuffSize(int sock, int *sendSize, int *recvSize);
int YAR_SetTTL(int sock, int ttl);
int YAR_GetTTL(int sock, int *ttl);
int YAR_SetTTL6(int sock, int hops);
int YAR_GetTTL6(int sock, int *hops);
int YAR_SetTOS(int sock, int tos);
int YAR_GetTOS(int sock, int *tos);
int YAR_SetMultiCastTTL(int sock, int ttl);
int YAR_SetMultiCastTTL6(int sock, int hops);
int YAR_SetMultiCastHops6(int sock, int hops);
int YAR_SetMultiCastLoop6(int sock, int on);

/* Data transfer. */
int YAR_Send(int sock, const void *data, int len);
int YAR_Recv(int sock, void *buf, int size);
/* addr may be null on a connected socket. */
int YAR_SendTo(int sock, const void *data, int len, const YAR_ADDR_T *addr);
int YAR_RecvFrom(int sock, void *buf, int size, YAR_ADDR_T *from);
/* Sends the whole buffer within the time-out (the whole transfer, not each pass); the bytes sent,
 * 0 when nothing could be sent, or -1 when nothing was sent and waiting failed. */
int YAR_Sendn(int sock, const void *data, int len, uint32_t timeoutMs);
/* Receives exactly len bytes within the time-out; the bytes received (fewer on a time-out), or -1
 * when the peer closes or an error occurs, also after partial data. */
int YAR_Recvn(int sock, void *buf, int len, uint32_t timeoutMs);
/* One receive after waiting for data: the byte count, 0 on time-out, -1 on error or a closed
 * peer. */
int YAR_RecvWithTimeOut(int sock, void *buf, int size, uint32_t timeoutMs);

/* select over fd sets. Sets hold descriptors below FD_SETSIZE only: a count above it is refused
 * (-1, 10022). The caller's time value is not changed. */
int YAR_Select(int count, fd_set *readSet, fd_set *writeSet, fd_set *errorSet, struct timeval *tv);
/* The same on the read and write sets (the error set is ignored); the time value, when given,
 * becomes the time that remains. */
int YAR_SelectEx(int count, fd_set *readSet, fd_set *writeSet, fd_set *errorSet, struct timeval *tv);
int YAR_FdIsSet(int sock, fd_set *set);

YAR_END_DECLS

#endif
