// Completion queues over epoll. One worker of a queue at a time waits in epoll_wait and runs the
// first completion it finds itself, without a hand-off; what else it finds, and what is posted,
// goes on the queue's completion list, and a sleeping worker is woken to share it (or the one in
// epoll_wait, through an eventfd). A worker's own routine posts without a wake: the worker takes
// them when the routine returns, so a lone round trip stays on one thread. Should the routine
// block instead (it may wait for other completions of its queue), the queue's rescuer sees the
// list stand still for a tick and wakes a worker, or, when every worker stays inside a routine,
// runs completions itself.
// Each operation is first tried at once; what would block waits on its socket's list, in posting
// order, until the socket is ready again (edge-triggered), so per socket the reads and the writes
// keep their order.
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
    // The workers and the rescuer.
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

    // The queue whose worker (or rescuer) is the calling thread, or null.
    static IoQueue *Current();

private:
    static uint32_t WorkerMain(void *param);
    static uint32_t RescuerMain(void *param);
    void Run();
    void Rescue();
    // The next completion for this worker, or null when it is to end.
    IoRecord *Next(bool afterRoutine);
    IoRecord *TakeFound(IoList &found, bool woken);
    void RunOne(std::unique_lock<std::mutex> &lock);
    // Waits in epoll_wait; the completions found, in order. True when the wake event was among them.
    bool Poll(IoList &found, int timeoutMs);
    void HandleEvent(const epoll_event &event, IoList &done);
    void Posted();
    void ArmRescuer();
    void WakeLocked();
    void Deliver(IoRecord *rec);

    IoModule &module_;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::vector<YAR_HANDLE> workers_;
    YAR_HANDLE rescuer_ = YAR_INVALID_THREAD;

    std::mutex bindLock_;
    std::unordered_set<int> bound_;

    std::mutex lock_;  // guards the lists, the counts and the flags below
    std::condition_variable rescueCue_;
    std::condition_variable idleCue_;
    IoList completed_;
    IoList stops_;
    uint64_t taken_ = 0;     // completions taken off the list so far
    uint64_t finished_ = 0;  // routines the workers have returned from
    int waiting_ = 0;        // the worker in (or on its way into) epoll_wait: 0 or 1
    int busy_ = 0;           // workers inside a routine
    int idle_ = 0;           // workers asleep while another waits in epoll_wait
    bool wakePending_ = false;
    bool rescueArmed_ = false;
    bool stopping_ = false;
    bool rescuerEnds_ = false;
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
