// The I/O record of one asynchronous operation, and the store records are taken from.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "yar/yar_asyncio.h"

namespace yar::internal {

class IoQueue;

struct IoRecord {
    IoRecord *next = nullptr;  // in the queue's completion list or a socket's waiting list
    int32_t type = 0;
    void *userData = nullptr;
    YAR_ASYNCIO_ROUTINE routine = nullptr;
    int sock = -1;
    int acceptSock = -1;
    const char *data = nullptr;    // send data: the caller's, or `owned` once copied
    char *buffer = nullptr;        // receive buffer
    void *acceptOutput = nullptr;
    int32_t length = 0;
    int32_t transferred = 0;       // bytes of a send already gone out
    YAR_ADDR_T addr{};             // destination of a send-to or connect
    YAR_ADDR_T *fromOut = nullptr; // sender of a receive-from
    int32_t postValue = 0;
    IoQueue *queue = nullptr;      // stop records
    bool started = false;          // a connect that was issued
    std::unique_ptr<char[]> owned;
    int32_t error = 0;             // result
    int32_t bytes = 0;
};

// The pre-allocated records and their ring, mapped straight from the system: blocks of this
// size taken from malloc stay resident after they are freed once glibc's mmap threshold has grown
// past them, so a host that starts and stops the runtime again and again would keep them.
template <typename T>
class MappedArray {
public:
    MappedArray() = default;
    MappedArray(const MappedArray &) = delete;
    MappedArray &operator=(const MappedArray &) = delete;
    MappedArray &operator=(MappedArray &&other) noexcept {
        std::swap(items_, other.items_);
        std::swap(count_, other.count_);
        return *this;
    }
    ~MappedArray() {
        if (!items_)
            return;
        for (size_t i = 0; i < count_; ++i)
            items_[i].~T();
        munmap(items_, count_ * sizeof(T));
    }
    // Maps and constructs `count` items; false when the system has no memory for them.
    bool Map(size_t count) {
        void *mem = mmap(nullptr, count * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mem == MAP_FAILED)
            return false;
        items_ = static_cast<T *>(mem);
        for (size_t i = 0; i < count; ++i)
            new (&items_[i]) T();
        count_ = count;
        return true;
    }
    T *get() const { return items_; }
    T &operator[](size_t i) const { return items_[i]; }
    size_t size() const { return count_; }
    explicit operator bool() const { return items_ != nullptr; }

private:
    T *items_ = nullptr;
    size_t count_ = 0;
};

// Records come from the heap, or from one pre-allocated block kept on a free list (a ring of
// exactly YAR_ASYNCIO_PREMEM_COUNT entries or a double-ended queue).
class IoRecordStore {
public:
    ~IoRecordStore();
    // A zeroed record, or null (pre-allocated records all in use, or no memory).
    IoRecord *Take();
    void Give(IoRecord *rec);
    // 0 or -1; a store already pre-allocated returns 0 and changes nothing.
    int UsePreMem(int32_t count, bool ring);

private:
    bool Owns(const IoRecord *rec) const { return rec >= block_.get() && rec < block_.get() + block_.size(); }

    std::atomic<bool> preMem_{false};  // set once the block is on the free list
    std::mutex lock_;
    MappedArray<IoRecord> block_;
    MappedArray<IoRecord *> ring_;
    size_t ringRead_ = 0, ringWrite_ = 0, ringCount_ = 0;
    std::deque<IoRecord *> deque_;
};

}  // namespace yar::internal
