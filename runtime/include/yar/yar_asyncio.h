/* Asynchronous socket I/O over a completion queue. A queue has its own worker threads. Every
 * operation that was started (result 0) completes exactly once, through its completion routine
 * on one of the queue's workers, also when it finished at once. An operation that cannot start
 * returns -1 with the system error set and never calls its routine.
 *
 * Argument order: every operation takes the user data before the completion routine, the
 * connect as well (socket, address, buffer, ignored, user data, routine, ignored), and a socket
 * is bound as (socket, queue). */
#ifndef YAR_ASYNCIO_H
#define YAR_ASYNCIO_H

#include "yar_addr.h"
#include "yar_base.h"

/* A completion queue; null is no queue. */
typedef struct YAR_IOQUEUE_S *YAR_IOQUEUE;

/* Called on a worker with (error, byte count, user data): error 0 and the bytes transferred on
 * success (0 bytes on a receive is the end of the stream), or the system error and 0 bytes
 * (995 when the socket was closed while the operation waited). An accept is called with the
 * accept socket in place of the byte count, a user post with its post value and byte count. The
 * result is not used. */
typedef int32_t (*YAR_ASYNCIO_ROUTINE)(int32_t error, int32_t bytes, void *userData);

/* Operation types. */
enum {
    YAR_ASYNCIO_SEND = 0,
    YAR_ASYNCIO_RECV = 1,
    YAR_ASYNCIO_SENDTO = 2,
    YAR_ASYNCIO_RECVFROM = 3,
    YAR_ASYNCIO_CONNECT = 4,
    YAR_ASYNCIO_ACCEPT = 5,
    YAR_ASYNCIO_POST = 8,
    YAR_ASYNCIO_STOP = 9
};

/* Fewest records of the pre-allocated store; the ring holds exactly this many. */
#define YAR_ASYNCIO_PREMEM_COUNT 100000
/* Size of an accept's output buffer: the local and then the peer address, each a YAR_ADDR_T at
 * the start of a 32-byte half. */
#define YAR_ASYNCIO_ACCEPT_OUTPUT 64

YAR_BEGIN_DECLS

/* Module start (the runtime start does it); 0. */
int YAR_AsyncIO_Init(void);
/* Destroys the queues still alive, then releases the record store. */
void YAR_AsyncIO_Fini(void);

/* A queue with 2 x processors + 2 workers, or the given count (0 or less: that default). */
YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx(void);
YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx2(int32_t workers);
YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx_New(int32_t workers);
/* Completes every operation still waiting on the queue's sockets with 995, lets the workers run
 * what is queued, and returns after they have ended: 1. -1 for null, an unknown queue, or a call
 * from one of the queue's own workers. */
int YAR_AsyncIO_DestroyQueueEx(YAR_IOQUEUE queue);

/* Switches to records from one pre-allocated block (at least 100000); ring 1 keeps the free
 * records in a ring of exactly 100000, ring 0 in a double-ended queue. A second switch-on
 * returns 0 and changes nothing. */
int YAR_AsyncIO_SetPreMem(int32_t count, int32_t ring);
int YAR_AsyncIO_UsePreMem(int32_t count);

/* Makes the socket non-blocking and binds it to the queue; -1 when either fails or the socket is
 * bound to another queue. */
int YAR_AsyncIO_BindIOHandleToQueueEx(int sock, YAR_IOQUEUE queue);
/* Does nothing: a socket stays bound until it is closed with YAR_CloseSocket. 0. */
int YAR_AsyncIO_UnBindIOHandleEx(int sock, YAR_IOQUEUE queue);

/* The data of a send is copied when it cannot all go out at once, so the caller's buffer is free
 * again when the call returns. A receive buffer must stay valid until the completion. */
int YAR_AsyncIO_SendEx(int sock, const void *data, int32_t length, void *userData, YAR_ASYNCIO_ROUTINE routine);
int YAR_AsyncIO_RecvEx(int sock, void *buffer, int32_t size, void *userData, YAR_ASYNCIO_ROUTINE routine);
int YAR_AsyncIO_SendToEx(int sock, const void *data, int32_t length, void *userData, const YAR_ADDR_T *addr,
                         YAR_ASYNCIO_ROUTINE routine);
/* With an address, the sender's address is stored there before the completion. */
int YAR_AsyncIO_RecvFromEx(int sock, void *buffer, int32_t size, void *userData, YAR_ADDR_T *addr,
                           YAR_ASYNCIO_ROUTINE routine);
/* Connects without sending data; buffer and the two integers are ignored. */
int YAR_AsyncIO_ConnectEx(int sock, const YAR_ADDR_T *addr, const void *buffer, int32_t unused1, void *userData,
                          YAR_ASYNCIO_ROUTINE routine, int32_t unused2);
/* Takes the next connection of the bound listening socket onto the caller's accept socket, whose
 * number then names the connection; output holds YAR_ASYNCIO_ACCEPT_OUTPUT bytes. A failed accept
 * closes the accept socket before its routine is called. */
int YAR_AsyncIO_Accept(int listenSock, void *output, int acceptSock, void *userData, YAR_ASYNCIO_ROUTINE routine);
/* The same onto a new IPv4 TCP socket. */
int YAR_AsyncIO_AcceptEx(int listenSock, void *output, void *userData, YAR_ASYNCIO_ROUTINE routine);
/* Hands (postValue, bytes, userData) to a worker; key must not be null. */
int YAR_AsyncIO_PostQueuedCompleteStatusEx(YAR_IOQUEUE queue, const void *key, int32_t postValue, int32_t bytes,
                                           void *userData, YAR_ASYNCIO_ROUTINE routine);

YAR_END_DECLS

#endif
