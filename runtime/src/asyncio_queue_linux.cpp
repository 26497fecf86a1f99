// Completion queues over epoll and an eventfd, and the per-descriptor table.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "internal/asyncio_queue.h"
#include "yar/yar_socket.h"

namespace yar::internal {

namespace {

constexpr uint64_t kWakeKey = ~uint64_t(0);
constexpr int kEventsPerWait = 128;
// How long completions may stand on the list, none taken, or every worker stay in one routine,
// before the rescuer steps in; and how many idle ticks it keeps watching.
constexpr auto kRescueTick = std::chrono::milliseconds(10);
constexpr int kQuietTicks = 20;

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
    while (IoRecord *stop = stops_.Pop())
        delete stop;
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
    // Edge-triggered: each write wakes the worker in epoll_wait, and the count need never be read.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLET;
    event.data.u64 = kWakeKey;
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) == 0;
}

bool IoQueue::StartWorkers(int count) {
    rescuer_ = YAR_Thread_Create(RescuerMain, this, 0, 0, 0, 0);
    if (rescuer_ == YAR_INVALID_THREAD)
        return false;
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

// Workers take the stop records only once the list is empty, so every completion queued before
// them runs first. The rescuer ends last: a worker's routine may still need it.
void IoQueue::StopWorkers(IoList &last, IoList &stops) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
        rescueArmed_ = true;
        completed_.Append(last);
        stops_.Append(stops);
        idleCue_.notify_all();
        WakeLocked();  // each worker that ends wakes the next
    }
    for (YAR_HANDLE worker : workers_)
        YAR_Thread_Wait(worker);
    workers_.clear();
    if (rescuer_ != YAR_INVALID_THREAD) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            rescuerEnds_ = true;
            rescueCue_.notify_one();
        }
        YAR_Thread_Wait(rescuer_);
        rescuer_ = YAR_INVALID_THREAD;
    }
}

void IoQueue::Complete(IoRecord *rec) {
    std::lock_guard<std::mutex> lock(lock_);
    completed_.Push(rec);
    Posted();
}

void IoQueue::Complete(IoList &list) {
    if (list.Empty())
        return;
    std::lock_guard<std::mutex> lock(lock_);
    completed_.Append(list);
    Posted();
}

// A post from one of this queue's own routines wakes no one: its worker takes it once the routine
// returns. Neither does one while every worker is busy. Should they block instead, the rescuer
// sees the list stand still.
void IoQueue::Posted() {
    if (t_workerOf != this && (waiting_ > 0 || idle_ > 0))
        WakeLocked();
    else
        ArmRescuer();
}

void IoQueue::ArmRescuer() {
    if (!rescueArmed_) {
        rescueArmed_ = true;
        rescueCue_.notify_one();
    }
}

void IoQueue::WakeLocked() {
    if (idle_ > 0) {
        idleCue_.notify_one();
        return;
    }
    if (waiting_ == 0 || wakePending_)
        return;
    wakePending_ = true;
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
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

uint32_t IoQueue::RescuerMain(void *param) {
    static_cast<IoQueue *>(param)->Rescue();
    return 0;
}

void IoQueue::Run() {
    t_workerOf = this;
    IoRecord *rec = Next(false);
    while (rec) {
        Deliver(rec);
        rec = Next(true);
    }
}

IoRecord *IoQueue::Next(bool afterRoutine) {
    std::unique_lock<std::mutex> lock(lock_);
    if (afterRoutine) {
        --busy_;
        ++finished_;
    }
    IoRecord *rec = nullptr;
    while (!rec) {
        if ((rec = completed_.Pop())) {
            ++taken_;
            if (!completed_.Empty())
                WakeLocked();  // a waiting worker shares the rest
            break;
        }
        if (stopping_) {
            delete stops_.Pop();
            WakeLocked();
            return nullptr;
        }
        if (waiting_ > 0) {
            // One worker watches the sockets; the others sleep until there is more to share.
            ++idle_;
            idleCue_.wait(lock);
            --idle_;
            continue;
        }
        ++waiting_;
        lock.unlock();
        IoList found;
        const bool woken = Poll(found, -1);
        lock.lock();
        --waiting_;
        rec = TakeFound(found, woken);
    }
    ++busy_;
    if (waiting_ == 0)
        ArmRescuer();  // no one watches the sockets while this routine runs
    return rec;
}

// The first completion found runs on the thread that found it, without a hand-off; the others go
// to the list.
IoRecord *IoQueue::TakeFound(IoList &found, bool woken) {
    if (woken)
        wakePending_ = false;
    IoRecord *first = found.Pop();
    if (!found.Empty()) {
        completed_.Append(found);
        WakeLocked();
    }
    return first;
}

bool IoQueue::Poll(IoList &found, int timeoutMs) {
    epoll_event events[kEventsPerWait];
    const int count = epoll_wait(epollFd_, events, kEventsPerWait, timeoutMs);
    bool woken = false;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == kWakeKey)
            woken = true;
        else
            HandleEvent(events[i], found);
    }
    return woken;
}

// Watches the queue while it is busy, a tick at a time. Completions that stood on the list for a
// whole tick, none taken, or sockets no one watched for a whole tick while a routine ran, get a
// sleeping worker woken. When every worker has been inside one routine for the whole tick (one
// may wait for another completion of this queue), the rescuer runs a completion itself: from the
// list, or from the sockets that are ready.
void IoQueue::Rescue() {
    t_workerOf = this;
    std::unique_lock<std::mutex> lock(lock_);
    int quiet = 0;
    while (!rescuerEnds_) {
        if (!rescueArmed_) {
            rescueCue_.wait(lock);
            quiet = 0;
            continue;
        }
        const bool queued = !completed_.Empty();
        const bool allBusy = waiting_ == 0 && idle_ == 0 && busy_ > 0;
        const bool unwatched = waiting_ == 0 && idle_ > 0 && busy_ > 0;
        const uint64_t taken = taken_, finished = finished_;
        rescueCue_.wait_for(lock, kRescueTick);
        if (busy_ == 0 && completed_.Empty()) {
            if (++quiet >= kQuietTicks && !stopping_)
                rescueArmed_ = false;
            continue;
        }
        quiet = 0;
        if (allBusy && waiting_ == 0 && idle_ == 0 && finished_ == finished) {
            RunOne(lock);
        } else if ((queued && taken_ == taken) || (unwatched && waiting_ == 0 && finished_ == finished)) {
            WakeLocked();
        }
    }
}

void IoQueue::RunOne(std::unique_lock<std::mutex> &lock) {
    IoRecord *rec = completed_.Pop();
    if (rec) {
        ++taken_;
    } else {
        lock.unlock();
        IoList found;
        const bool woken = Poll(found, 0);
        lock.lock();
        rec = TakeFound(found, woken);
    }
    if (!rec)
        return;
    lock.unlock();
    Deliver(rec);
    lock.lock();
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
