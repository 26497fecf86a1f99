// The asynchronous I/O module's interface: queues, the record store, binding and posting.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "internal/asyncio.h"
#include "internal/asyncio_queue.h"
#include "internal/debug_output.h"
#include "internal/runtime_start.h"
#include "internal/socket_util.h"
#include "yar/yar_error.h"
#include "yar/yar_mutex.h"
#include "yar/yar_socket.h"

using yar::internal::Attempt;
using yar::internal::FdState;
using yar::internal::IoList;
using yar::internal::IoModule;
using yar::internal::IoQueue;
using yar::internal::IoRecord;
using yar::internal::Outcome;

namespace {

std::atomic<IoModule *> g_module{nullptr};

IoQueue *AsQueue(YAR_IOQUEUE queue) {
    return reinterpret_cast<IoQueue *>(queue);
}

int Refuse(int error) {
    YAR_SetSystemLastError(error);
    return -1;
}

void Report(const char *format, int value) {
    char text[256];
    std::snprintf(text, sizeof(text), format, value);
    yar::internal::DebugOutput(text);
}

int DefaultWorkers() {
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return 2 * static_cast<int>(cpus > 0 ? cpus : 1) + 2;
}

// A zeroed record for the operation, or null (with the message, where it has one).
IoRecord *NewRecord(IoModule *&module, int32_t type, int sock, void *userData, YAR_ASYNCIO_ROUTINE routine,
                    const char *noMemory) {
    module = g_module.load(std::memory_order_acquire);
    IoRecord *rec = module ? module->store.Take() : nullptr;
    if (!rec) {
        if (noMemory)
            yar::internal::DebugOutput(noMemory);
        YAR_SetSystemLastError(YAR_SYSERR_WSAENOBUFS);
        return nullptr;
    }
    rec->type = type;
    rec->sock = sock;
    rec->userData = userData;
    rec->routine = routine;
    return rec;
}

// A send that has to wait takes a copy of its data: the caller may reuse its buffer at once.
bool KeepData(IoRecord &rec) {
    rec.owned.reset(new (std::nothrow) char[rec.length > 0 ? rec.length : 1]);
    if (!rec.owned)
        return false;
    std::memcpy(rec.owned.get(), rec.data, static_cast<size_t>(rec.length));
    rec.data = rec.owned.get();
    return true;
}

// Tries the operation at once; what would block waits on the socket behind the operations of
// the same direction that wait already.
int Launch(IoModule &module, IoRecord *rec, bool read) {
    FdState *state = module.fds.Find(rec->sock);
    if (!state) {
        module.store.Give(rec);
        return Refuse(YAR_SYSERR_WSAEINVAL);
    }
    std::lock_guard<std::mutex> guard(state->lock);
    if (!state->queue) {
        module.store.Give(rec);
        return Refuse(YAR_SYSERR_WSAEINVAL);
    }
    IoList &waiting = read ? state->reads : state->writes;
    if (waiting.Empty()) {
        Outcome outcome = Attempt(module, *rec);
        if (outcome == Outcome::Failed) {
            int error = rec->error;
            module.store.Give(rec);
            return Refuse(error);
        }
        if (outcome == Outcome::Done) {
            state->queue->Complete(rec);
            return 0;
        }
    }
    const bool send = rec->type == YAR_ASYNCIO_SEND || rec->type == YAR_ASYNCIO_SENDTO;
    if (send && !KeepData(*rec)) {
        if (rec->transferred == 0) {
            module.store.Give(rec);
            return Refuse(YAR_SYSERR_WSAENOBUFS);
        }
        // Part of it went out: the operation has started, so it fails through its routine.
        rec->error = YAR_SYSERR_WSAENOBUFS;
        rec->bytes = 0;
        state->queue->Complete(rec);
        return 0;
    }
    waiting.Push(rec);
    return 0;
}

int DestroyQueue(IoModule &module, IoQueue *queue) {
    if (IoQueue::Current() == queue) {
        yar::internal::DebugOutput("YAR_AsyncIO_DestroyQueueEx on its own worker\n");
        return -1;  // the worker cannot wait for itself
    }
    IoList stops;
    {
        std::lock_guard<std::mutex> table(module.tableLock);
        if (!module.queues.count(queue))
            return -1;
        if (!queue->MakeStops(stops)) {
            yar::internal::DebugOutput("YAR_AsyncIO_DestroyQueueEx new IO_DATA_EX, EMERG!!!\n");
            return -1;
        }
        module.queues.erase(queue);
    }
    // No bind or post reaches the queue any more; what still waits on its sockets ends with 995
    // ahead of the stop records.
    IoList cancelled;
    for (int fd : queue->Bound()) {
        FdState *state = module.fds.Find(fd);
        std::lock_guard<std::mutex> guard(state->lock);
        if (state->queue == queue)
            yar::internal::Detach(*state, fd, YAR_SYSERR_OPERATION_ABORTED, cancelled);
    }
    queue->StopWorkers(cancelled, stops);
    delete queue;
    return 1;
}

bool BadSocket(int sock) {
    return sock <= 0;
}

int StartAccept(int listenSock, void *output, int acceptSock, void *userData, YAR_ASYNCIO_ROUTINE routine,
                const char *noMemory) {
    if (BadSocket(listenSock) || BadSocket(acceptSock) || !output || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    IoModule *module;
    IoRecord *rec = NewRecord(module, YAR_ASYNCIO_ACCEPT, listenSock, userData, routine, noMemory);
    if (!rec)
        return -1;
    rec->acceptSock = acceptSock;
    rec->acceptOutput = output;
    return Launch(*module, rec, true);
}

int StartTransfer(int32_t type, int sock, const void *data, int32_t length, void *userData,
                  YAR_ASYNCIO_ROUTINE routine, const YAR_ADDR_T *to, YAR_ADDR_T *from, const char *noMemory) {
    if (length < 0 || (!data && length > 0))
        return Refuse(YAR_SYSERR_WSAEFAULT);
    IoModule *module;
    IoRecord *rec = NewRecord(module, type, sock, userData, routine, noMemory);
    if (!rec)
        return -1;
    rec->data = static_cast<const char *>(data);
    rec->buffer = static_cast<char *>(const_cast<void *>(data));
    rec->length = length;
    if (to)
        rec->addr = *to;
    rec->fromOut = from;
    const bool read = type == YAR_ASYNCIO_RECV || type == YAR_ASYNCIO_RECVFROM;
    return Launch(*module, rec, read);
}

}  // namespace

namespace yar::internal {

void CancelSocketIo(int sock) {
    IoModule *module = g_module.load(std::memory_order_acquire);
    FdState *state = module ? module->fds.Find(sock) : nullptr;
    if (!state)
        return;
    std::lock_guard<std::mutex> guard(state->lock);
    IoList cancelled;
    if (IoQueue *queue = Detach(*state, sock, YAR_SYSERR_OPERATION_ABORTED, cancelled)) {
        queue->Complete(cancelled);
        queue->RemoveBound(sock);
    }
}

}  // namespace yar::internal

extern "C" {

int YAR_AsyncIO_Init(void) {
    yar::yar_guard guard(yar::internal::OnceLock());
    if (!g_module.load()) {
        IoModule *module = new (std::nothrow) IoModule;
        if (!module)
            return -1;
        g_module.store(module, std::memory_order_release);
    }
    return 0;
}

void YAR_AsyncIO_Fini(void) {
    yar::yar_guard guard(yar::internal::OnceLock());
    IoModule *module = g_module.load();
    if (!module)
        return;
    std::set<IoQueue *> queues;
    {
        std::lock_guard<std::mutex> table(module->tableLock);
        queues = module->queues;
    }
    // The workers end before the records and socket states they use go away.
    for (IoQueue *queue : queues)
        DestroyQueue(*module, queue);
    g_module.store(nullptr);
    delete module;
}

YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx(void) {
    return YAR_AsyncIO_CreateQueueEx_New(0);
}

YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx2(int32_t workers) {
    return YAR_AsyncIO_CreateQueueEx_New(workers);
}

YAR_IOQUEUE YAR_AsyncIO_CreateQueueEx_New(int32_t workers) {
    if (YAR_AsyncIO_Init() != 0)
        return nullptr;
    IoModule *module = g_module.load();
    // A queue without workers would never complete anything.
    if (workers <= 0)
        workers = DefaultWorkers();
    IoQueue *queue = new (std::nothrow) IoQueue(*module);
    if (!queue) {
        Report("[debug] YAR_AsyncIO_CreateQueueEx_New new (::std::nothrow) SYAR_IOCPINFO error %d", ENOMEM);
        return nullptr;
    }
    if (!queue->Open()) {
        Report("[debug] YAR_AsyncIO_CreateQueueEx_New CreateIoCompletionPort error %d", errno);
        delete queue;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> table(module->tableLock);
        module->queues.insert(queue);
    }
    if (!queue->StartWorkers(workers)) {
        Report("[debug] YAR_AsyncIO_CreateQueueEx_New YAR_Thread_Create error %d", YAR_GetSystemLastError());
        DestroyQueue(*module, queue);
        return nullptr;
    }
    return reinterpret_cast<YAR_IOQUEUE>(queue);
}

int YAR_AsyncIO_DestroyQueueEx(YAR_IOQUEUE queue) {
    IoModule *module = g_module.load();
    if (!queue || !module)
        return -1;
    return DestroyQueue(*module, AsQueue(queue));
}

int YAR_AsyncIO_SetPreMem(int32_t count, int32_t ring) {
    if (YAR_AsyncIO_Init() != 0)
        return -1;
    return g_module.load()->store.UsePreMem(count, ring != 0);
}

int YAR_AsyncIO_UsePreMem(int32_t count) {
    return YAR_AsyncIO_SetPreMem(count, 0);
}

int YAR_AsyncIO_BindIOHandleToQueueEx(int sock, YAR_IOQUEUE queue) {
    IoModule *module = g_module.load(std::memory_order_acquire);
    if (!module || sock < 0)
        return Refuse(YAR_SYSERR_WSAENOTSOCK);
    // The socket turns non-blocking first, outside the module-wide lock that every bind and
    // post takes: a server binds each connection it accepts.
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0 || (!(flags & O_NONBLOCK) && fcntl(sock, F_SETFL, flags | O_NONBLOCK) != 0))
        return yar::internal::FailSocket(sock);
    IoQueue *target = AsQueue(queue);
    std::lock_guard<std::mutex> table(module->tableLock);
    if (!module->queues.count(target))
        return Refuse(YAR_SYSERR_WSAEINVAL);
    FdState *state = module->fds.Get(sock);
    if (!state)
        return Refuse(YAR_SYSERR_WSAENOBUFS);
    std::lock_guard<std::mutex> guard(state->lock);
    epoll_event event{};
    event.events = yar::internal::kSocketEvents;
    if (IoQueue *current = state->queue) {
        event.data.u64 = yar::internal::EventKey(state->generation, sock);
        if (epoll_ctl(current->EpollFd(), EPOLL_CTL_MOD, sock, &event) == 0)
            return current == target ? 0 : Refuse(YAR_SYSERR_WSAEINVAL);
        // The number names a new socket: the old one was closed without YAR_CloseSocket, and
        // what waited on it can never complete otherwise.
        IoList stale;
        yar::internal::Detach(*state, sock, YAR_SYSERR_OPERATION_ABORTED, stale);
        current->Complete(stale);
        current->RemoveBound(sock);
    }
    event.data.u64 = yar::internal::EventKey(state->generation, sock);
    if (epoll_ctl(target->EpollFd(), EPOLL_CTL_ADD, sock, &event) != 0)
        return yar::internal::FailSocket(sock);
    state->queue = target;
    target->AddBound(sock);
    return 0;
}

int YAR_AsyncIO_UnBindIOHandleEx(int, YAR_IOQUEUE) {
    return 0;
}

int YAR_AsyncIO_SendEx(int sock, const void *data, int32_t length, void *userData, YAR_ASYNCIO_ROUTINE routine) {
    if (BadSocket(sock) || !routine) {
        yar::internal::DebugOutput("YAR_AsyncIO_SendEx Invalid param");
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    }
    return StartTransfer(YAR_ASYNCIO_SEND, sock, data, length, userData, routine, nullptr, nullptr, nullptr);
}

int YAR_AsyncIO_RecvEx(int sock, void *buffer, int32_t size, void *userData, YAR_ASYNCIO_ROUTINE routine) {
    if (BadSocket(sock) || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    return StartTransfer(YAR_ASYNCIO_RECV, sock, buffer, size, userData, routine, nullptr, nullptr, nullptr);
}

int YAR_AsyncIO_SendToEx(int sock, const void *data, int32_t length, void *userData, const YAR_ADDR_T *addr,
                         YAR_ASYNCIO_ROUTINE routine) {
    if (BadSocket(sock) || !addr || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    return StartTransfer(YAR_ASYNCIO_SENDTO, sock, data, length, userData, routine, addr, nullptr,
                         "YAR_AsyncIO_SendToEx no memory\n");
}

int YAR_AsyncIO_RecvFromEx(int sock, void *buffer, int32_t size, void *userData, YAR_ADDR_T *addr,
                           YAR_ASYNCIO_ROUTINE routine) {
    if (BadSocket(sock) || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    return StartTransfer(YAR_ASYNCIO_RECVFROM, sock, buffer, size, userData, routine, nullptr, addr,
                         "YAR_AsyncIO_RecvFromEx no memory\n");
}

int YAR_AsyncIO_ConnectEx(int sock, const YAR_ADDR_T *addr, const void *, int32_t, void *userData,
                          YAR_ASYNCIO_ROUTINE routine, int32_t) {
    if (BadSocket(sock) || !addr || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    return StartTransfer(YAR_ASYNCIO_CONNECT, sock, nullptr, 0, userData, routine, addr, nullptr,
                         "YAR_AsyncIO_ConnectEx no memory\n");
}

int YAR_AsyncIO_Accept(int listenSock, void *output, int acceptSock, void *userData, YAR_ASYNCIO_ROUTINE routine) {
    return StartAccept(listenSock, output, acceptSock, userData, routine, "YAR_AsyncIO_Accept no memory\n");
}

int YAR_AsyncIO_AcceptEx(int listenSock, void *output, void *userData, YAR_ASYNCIO_ROUTINE routine) {
    if (BadSocket(listenSock) || !output || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    int acceptSock = YAR_CreateSocket(2, 1, 6);
    if (acceptSock < 0)
        return -1;
    if (StartAccept(listenSock, output, acceptSock, userData, routine, "YAR_AsyncIO_AcceptEx no memory\n") != 0) {
        int error = YAR_GetSystemLastError();
        YAR_CloseSocket(acceptSock, 0);
        return Refuse(error);
    }
    return 0;
}

int YAR_AsyncIO_PostQueuedCompleteStatusEx(YAR_IOQUEUE queue, const void *key, int32_t postValue, int32_t bytes,
                                           void *userData, YAR_ASYNCIO_ROUTINE routine) {
    if (!key || !routine)
        return Refuse(YAR_SYSERR_INVALID_PARAMETER);
    IoModule *module;
    IoRecord *rec = NewRecord(module, YAR_ASYNCIO_POST, -1, userData, routine,
                              "YAR_AsyncIO_PostQueuedCompleteStatusEx no memory\n");
    if (!rec)
        return -1;
    rec->postValue = postValue;
    rec->bytes = bytes;
    std::lock_guard<std::mutex> table(module->tableLock);
    if (!module->queues.count(AsQueue(queue))) {
        module->store.Give(rec);
        return Refuse(YAR_SYSERR_INVALID_HANDLE);
    }
    AsQueue(queue)->Complete(rec);
    return 0;
}

}  // extern "C"
