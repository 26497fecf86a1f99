// Completion queues over epoll. A queue's workers take turns: one waits in epoll_wait and turns
// readiness into completions, the others run completion routines. Each operation is first tried
// at once; what would block waits on its socket's list, in posting order, until the socket is
// ready again (edge-triggered), so per socket the reads and the writes keep their order.
#pragma once

#include <sys/epoll.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_set>
#include <vector>

#include "internal/asyncio_record.h"
#include "yar/yar_thread.h"

namespace yar::internal {

// A singly linked list of records through IoRecord::next.
class IoList {
public:
    bool Empty() const { return !head_; }
    IoRecord *Front() const { return head_; }
    void Push(IoRecord *rec);
    IoRecord *Pop();
    void Append(IoList &other);  // moves all of other to the end

private:
    IoRecord *head_ = nullptr;
    IoRecord *tail_ = nullptr;
};

class IoQueue;

// What one descriptor number has bound; kept until the module stops, so an event that arrives
// after a close never meets freed memory. The generation tells stale events apart.
struct FdState {
    std::mutex lock;
    IoQueue *queue = nullptr;
    uint32_t generation = 0;
    IoList reads;   // receives, receive-froms, accepts
    IoList writes;  // sends, send-tos, connects
};

// Descriptor number to its state, in chunks created on first use.
class FdTable {
public:
    static constexpr int kChunkBits = 10;
    static constexpr int kChunks = 1024;
    static constexpr int kMaxFd = kChunks << kChunkBits;

    FdTable() = default;
    ~FdTable();
    FdTable(const FdTable &) = delete;
    FdTable &operator=(const FdTable &) = delete;

    FdState *Find(int fd) const;  // null when the number was never bound
    FdState *Get(int fd);         // creates; null when out of range or out of memory

private:
    std::atomic<std::atomic<FdState *> *> chunks_[kChunks] = {};
};

struct IoModule {
    IoRecordStore store;
    FdTable fds;
    std::mutex tableLock;  // guards queues
    std::set<IoQueue *> queues;
};

class IoQueue {
public:
    explicit IoQueue(IoModule &module) : module_(module) {}
    ~IoQueue();
    IoQueue(const IoQueue &) = delete;
    IoQueue &operator=(const IoQueue &) = delete;

    bool Open();  // false with errno set
    bool StartWorkers(int count);
    // One stop record per worker; false when they cannot all be made.
    bool MakeStops(IoList &stops);
    // Queues the stop records after the given completions and waits for every worker to end.
    void StopWorkers(IoList &last, IoList &stops);

    void Complete(IoRecord *rec);
    void Complete(IoList &list);

    int EpollFd() const { return epollFd_; }
    void AddBound(int fd);
    void RemoveBound(int fd);
    std::vector<int> Bound();

    // The queue whose worker is the calling thread, or null.
    static IoQueue *Current();

private:
    static uint32_t WorkerMain(void *param);
    void Run();
    void Poll(std::unique_lock<std::mutex> &lock);
    void HandleEvent(const epoll_event &event, IoList &done);
    void WakeLocked();
    void Deliver(IoRecord *rec);

    IoModule &module_;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::vector<YAR_HANDLE> workers_;

    std::mutex bindLock_;
    std::unordered_set<int> bound_;

    std::mutex lock_;  // guards the completion list and the flags below
    std::condition_variable ready_;
    std::condition_variable pollDone_;
    IoList completed_;
    int idle_ = 0;
    bool polling_ = false;
    bool wakePending_ = false;
    bool stopping_ = false;
};

// Tries the operation now. Done: finished, with error or bytes set; Again: would block.
enum class Outcome { Done, Again, Failed };
Outcome Attempt(IoModule &module, IoRecord &rec);

// Takes the socket's waiting operations (completed with error) and takes the socket off its
// queue's epoll. Call with the state's lock held. The caller completes the records on the queue
// it returns and only then removes the socket from that queue's bound set: a destroy that no
// longer sees the socket there has then already received them ahead of its stop records.
IoQueue *Detach(FdState &state, int fd, int32_t error, IoList &out);

// Edge-triggered readiness of a bound socket, with its number and generation as the key.
constexpr uint32_t kSocketEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
inline uint64_t EventKey(uint32_t generation, int fd) {
    return (uint64_t(generation) << 32) | uint32_t(fd);
}

}  // namespace yar::internal
