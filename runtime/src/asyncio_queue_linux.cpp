// Completion queues over epoll and an eventfd, and the per-descriptor table.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "internal/asyncio_queue.h"
#include "yar/yar_socket.h"

namespace yar::internal {

namespace {

constexpr uint64_t kWakeKey = ~uint64_t(0);
constexpr int kEventsPerWait = 128;

thread_local IoQueue *t_workerOf = nullptr;

}  // namespace

void IoList::Push(IoRecord *rec) {
    rec->next = nullptr;
    if (tail_)
        tail_->next = rec;
    else
        head_ = rec;
    tail_ = rec;
}

IoRecord *IoList::Pop() {
    IoRecord *rec = head_;
    if (rec) {
        head_ = rec->next;
        if (!head_)
            tail_ = nullptr;
        rec->next = nullptr;
    }
    return rec;
}

void IoList::Append(IoList &other) {
    if (other.Empty())
        return;
    if (tail_)
        tail_->next = other.head_;
    else
        head_ = other.head_;
    tail_ = other.tail_;
    other.head_ = other.tail_ = nullptr;
}

FdTable::~FdTable() {
    for (auto &chunk : chunks_) {
        std::atomic<FdState *> *entries = chunk.load();
        if (!entries)
            continue;
        for (int i = 0; i < (1 << kChunkBits); ++i)
            delete entries[i].load();
        delete[] entries;
    }
}

FdState *FdTable::Find(int fd) const {
    if (fd < 0 || fd >= kMaxFd)
        return nullptr;
    std::atomic<FdState *> *entries = chunks_[fd >> kChunkBits].load(std::memory_order_acquire);
    return entries ? entries[fd & ((1 << kChunkBits) - 1)].load(std::memory_order_acquire) : nullptr;
}

FdState *FdTable::Get(int fd) {
    if (fd < 0 || fd >= kMaxFd)
        return nullptr;
    std::atomic<std::atomic<FdState *> *> &chunk = chunks_[fd >> kChunkBits];
    std::atomic<FdState *> *entries = chunk.load(std::memory_order_acquire);
    if (!entries) {
        auto *fresh = new (std::nothrow) std::atomic<FdState *>[1 << kChunkBits]();
        if (!fresh)
            return nullptr;
        if (chunk.compare_exchange_strong(entries, fresh, std::memory_order_acq_rel))
            entries = fresh;
        else
            delete[] fresh;  // another thread made it first; `entries` holds its chunk
    }
    std::atomic<FdState *> &entry = entries[fd & ((1 << kChunkBits) - 1)];
    FdState *state = entry.load(std::memory_order_acquire);
    if (!state) {
        auto *fresh = new (std::nothrow) FdState;
        if (!fresh)
            return nullptr;
        if (entry.compare_exchange_strong(state, fresh, std::memory_order_acq_rel))
            state = fresh;
        else
            delete fresh;
    }
    return state;
}

IoQueue::~IoQueue() {
    while (IoRecord *rec = completed_.Pop())
        module_.store.Give(rec);
    if (epollFd_ >= 0)
        close(epollFd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool IoQueue::Open() {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0)
        return false;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeKey;
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) == 0;
}

bool IoQueue::StartWorkers(int count) {
    for (int i = 0; i < count; ++i) {
        YAR_HANDLE worker = YAR_Thread_Create(WorkerMain, this, 0, 0, 0, 0);
        if (worker == YAR_INVALID_THREAD)
            return false;
        workers_.push_back(worker);
    }
    return true;
}

bool IoQueue::MakeStops(IoList &stops) {
    for (size_t i = 0; i < workers_.size(); ++i) {
        IoRecord *stop = new (std::nothrow) IoRecord;
        if (!stop) {
            while (IoRecord *made = stops.Pop())
                delete made;
            return false;
        }
        stop->type = YAR_ASYNCIO_STOP;
        stop->queue = this;
        stops.Push(stop);
    }
    return true;
}

void IoQueue::StopWorkers(IoList &last, IoList &stops) {
    {
        std::unique_lock<std::mutex> lock(lock_);
        stopping_ = true;
        // Let the polling worker hand over what it has found before the stop records go in.
        if (polling_) {
            uint64_t one = 1;
            (void)!write(wakeFd_, &one, sizeof(one));
            pollDone_.wait(lock, [this] { return !polling_; });
        }
        completed_.Append(last);
        completed_.Append(stops);
        ready_.notify_all();
    }
    for (YAR_HANDLE worker : workers_)
        YAR_Thread_Wait(worker);
    workers_.clear();
}

void IoQueue::Complete(IoRecord *rec) {
    std::lock_guard<std::mutex> lock(lock_);
    completed_.Push(rec);
    WakeLocked();
}

void IoQueue::Complete(IoList &list) {
    if (list.Empty())
        return;
    std::lock_guard<std::mutex> lock(lock_);
    completed_.Append(list);
    WakeLocked();
}

// Posts from a worker's own routine wake another worker too: a routine may wait for other
// completions (a link that stops waits for its cancelled operations).
void IoQueue::WakeLocked() {
    if (idle_ > 0) {
        ready_.notify_one();
    } else if (polling_ && !wakePending_) {
        // Every other worker is busy: bring the polling one back to run it.
        wakePending_ = true;
        uint64_t one = 1;
        (void)!write(wakeFd_, &one, sizeof(one));
    }
}

void IoQueue::AddBound(int fd) {
    std::lock_guard<std::mutex> lock(bindLock_);
    bound_.insert(fd);
}

void IoQueue::RemoveBound(int fd) {
    std::lock_guard<std::mutex> lock(bindLock_);
    bound_.erase(fd);
}

std::vector<int> IoQueue::Bound() {
    std::lock_guard<std::mutex> lock(bindLock_);
    return std::vector<int>(bound_.begin(), bound_.end());
}

IoQueue *IoQueue::Current() {
    return t_workerOf;
}

uint32_t IoQueue::WorkerMain(void *param) {
    static_cast<IoQueue *>(param)->Run();
    return 0;
}

void IoQueue::Run() {
    t_workerOf = this;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (IoRecord *rec = completed_.Pop()) {
            lock.unlock();
            if (rec->type == YAR_ASYNCIO_STOP) {
                delete rec;
                return;
            }
            Deliver(rec);
            lock.lock();
        } else if (!polling_ && !stopping_) {
            Poll(lock);
        } else {
            ++idle_;
            ready_.wait(lock);
            --idle_;
        }
    }
}

void IoQueue::Poll(std::unique_lock<std::mutex> &lock) {
    polling_ = true;
    lock.unlock();
    epoll_event events[kEventsPerWait];
    int count = epoll_wait(epollFd_, events, kEventsPerWait, -1);
    IoList done;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == kWakeKey) {
            uint64_t value;
            (void)!read(wakeFd_, &value, sizeof(value));
        } else {
            HandleEvent(events[i], done);
        }
    }
    lock.lock();
    polling_ = false;
    wakePending_ = false;
    completed_.Append(done);
    if (stopping_)
        pollDone_.notify_all();
    // Someone else takes over the polling while this worker runs routines.
    if (idle_ > 0 && !completed_.Empty())
        ready_.notify_one();
}

void IoQueue::HandleEvent(const epoll_event &event, IoList &done) {
    const int fd = static_cast<int>(event.data.u64 & 0xFFFFFFFFu);
    const uint32_t generation = static_cast<uint32_t>(event.data.u64 >> 32);
    FdState *state = module_.fds.Find(fd);
    if (!state)
        return;
    std::lock_guard<std::mutex> guard(state->lock);
    if (state->queue != this || state->generation != generation)
        return;  // the descriptor was closed or bound anew since the event was queued
    auto drain = [&](IoList &waiting) {
        while (IoRecord *rec = waiting.Front()) {
            if (Attempt(module_, *rec) == Outcome::Again)
                break;
            done.Push(waiting.Pop());
        }
    };
    if (event.events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP))
        drain(state->reads);
    if (event.events & (EPOLLOUT | EPOLLERR | EPOLLHUP))
        drain(state->writes);
}

void IoQueue::Deliver(IoRecord *rec) {
    int32_t first = rec->error;
    int32_t second = rec->bytes;
    if (rec->type == YAR_ASYNCIO_POST) {
        first = rec->postValue;
    } else if (rec->type == YAR_ASYNCIO_ACCEPT) {
        if (rec->error != 0 && rec->acceptSock >= 0) {
            YAR_CloseSocket(rec->acceptSock, 0);
            rec->acceptSock = -1;
        }
        second = rec->error == 0 ? rec->acceptSock : 0;
    }
    if (rec->routine)
        rec->routine(first, second, rec->userData);
    module_.store.Give(rec);
}

IoQueue *Detach(FdState &state, int fd, int32_t error, IoList &out) {
    IoQueue *queue = state.queue;
    if (!queue)
        return nullptr;
    for (IoList *waiting : {&state.reads, &state.writes}) {
        while (IoRecord *rec = waiting->Pop()) {
            rec->error = error;
            rec->bytes = 0;
            out.Push(rec);
        }
    }
    epoll_ctl(queue->EpollFd(), EPOLL_CTL_DEL, fd, nullptr);
    state.queue = nullptr;
    ++state.generation;
    return queue;
}

}  // namespace yar::internal
