// The I/O record of one asynchronous operation, and the store records are taken from.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

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
    bool Owns(const IoRecord *rec) const { return rec >= block_.get() && rec < block_.get() + blockCount_; }

    std::atomic<bool> preMem_{false};  // set once the block is on the free list
    std::mutex lock_;
    std::unique_ptr<IoRecord[]> block_;
    size_t blockCount_ = 0;
    std::unique_ptr<IoRecord *[]> ring_;
    size_t ringRead_ = 0, ringWrite_ = 0, ringCount_ = 0;
    std::deque<IoRecord *> deque_;
};

}  // namespace yar::internal
