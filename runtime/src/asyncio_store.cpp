// The record store of the asynchronous I/O module.
#include <new>

#include "internal/asyncio_record.h"
#include "internal/debug_output.h"

namespace yar::internal {

IoRecordStore::~IoRecordStore() = default;

IoRecord *IoRecordStore::Take() {
    if (!preMem_.load(std::memory_order_acquire))
        return new (std::nothrow) IoRecord;
    IoRecord *rec = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ring_) {
            if (ringCount_ == 0)
                return nullptr;
            rec = ring_[ringRead_];
            ringRead_ = (ringRead_ + 1) % YAR_ASYNCIO_PREMEM_COUNT;
            --ringCount_;
        } else {
            if (deque_.empty())
                return nullptr;
            rec = deque_.front();
            deque_.pop_front();
        }
    }
    *rec = IoRecord{};
    return rec;
}

void IoRecordStore::Give(IoRecord *rec) {
    rec->owned.reset();
    // Records taken from the heap before the switch to the block go back to the heap.
    if (!preMem_.load(std::memory_order_acquire) || !Owns(rec)) {
        delete rec;
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (ring_) {
        ring_[ringWrite_] = rec;
        ringWrite_ = (ringWrite_ + 1) % YAR_ASYNCIO_PREMEM_COUNT;
        ++ringCount_;
    } else {
        deque_.push_back(rec);
    }
}

int IoRecordStore::UsePreMem(int32_t count, bool ring) {
    std::lock_guard<std::mutex> guard(lock_);
    if (block_)
        return 0;
    if (count < YAR_ASYNCIO_PREMEM_COUNT) {
        DebugOutput("YAR_AsyncIO_UsePreMem iIOCount< 10000, make it MALLOC_SIZE, Use Default\n");
        count = YAR_ASYNCIO_PREMEM_COUNT;
    }
    // The ring has room for exactly this many; more would overrun it.
    if (ring)
        count = YAR_ASYNCIO_PREMEM_COUNT;
    MappedArray<IoRecord *> ringSlots;
    if (ring && !ringSlots.Map(YAR_ASYNCIO_PREMEM_COUNT))
        return -1;
    MappedArray<IoRecord> block;
    if (!block.Map(static_cast<size_t>(count))) {
        DebugOutput("YAR_AsyncIO_UsePreMem malloc Err, Use Default\n");
        return -1;
    }
    try {
        if (!ring)
            for (int32_t i = 0; i < count; ++i)
                deque_.push_back(&block[i]);
    } catch (const std::bad_alloc &) {
        deque_.clear();
        DebugOutput("YAR_AsyncIO_UsePreMem malloc Err, Use Default\n");
        return -1;
    }
    if (ring) {
        for (int32_t i = 0; i < count; ++i)
            ringSlots[i] = &block[i];
        ringRead_ = 0;
        ringWrite_ = 0;
        ringCount_ = static_cast<size_t>(count);
        ring_ = std::move(ringSlots);
    }
    block_ = std::move(block);
    preMem_.store(true, std::memory_order_release);
    return 0;
}

}  // namespace yar::internal
