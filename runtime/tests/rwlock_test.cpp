#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_rwlock.h"

using namespace std::chrono_literals;

namespace {

// Threads that take the lock and note when they are inside: "W" a writer entered, "w" it left,
// "R" a reader entered.
class RWLock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(YAR_RWLock_Create(&lock_), 0); }
    void TearDown() override {
        for (std::thread &t : threads_)
            t.join();
        EXPECT_EQ(YAR_RWLock_Destroy(&lock_), 0);
    }

    void StartWriter() {
        threads_.emplace_back([this] {
            YAR_RWLock_WriteLock(&lock_);
            Note('W');
            std::this_thread::sleep_for(30ms);
            Note('w');
            YAR_RWLock_WriteUnlock(&lock_);
        });
    }
    void StartReader() {
        threads_.emplace_back([this] {
            YAR_RWLock_ReadLock(&lock_);
            Note('R');
            YAR_RWLock_ReadUnlock(&lock_);
        });
    }
    // Returns the events once `count` are there (or after a generous limit).
    std::string Events(size_t count) {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> guard(m_);
                if (events_.size() >= count)
                    return events_;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::lock_guard<std::mutex> guard(m_);
        return events_;
    }
    void Note(char c) {
        std::lock_guard<std::mutex> guard(m_);
        events_ += c;
    }

    YAR_RWLOCK_T lock_ = nullptr;
    std::vector<std::thread> threads_;
    std::mutex m_;
    std::string events_;
};

}  // namespace

TEST_F(RWLock, AWaitingWriterHoldsBackNewReaders) {
    ASSERT_EQ(YAR_RWLock_ReadLock(&lock_), 0);
    ASSERT_EQ(YAR_RWLock_ReadLock(&lock_), 0);  // two readers inside
    EXPECT_EQ(YAR_RWLock_TryWriteLock(&lock_), -1);
    StartWriter();
    while (YAR_RWLock_TryReadLock(&lock_) == 0)  // a waiting writer refuses readers
        YAR_RWLock_ReadUnlock(&lock_);
    StartReader();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Events(0), "");
    EXPECT_EQ(YAR_RWLock_ReadUnlock(&lock_), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Events(0), "");  // one reader is still inside
    EXPECT_EQ(YAR_RWLock_ReadUnlock(&lock_), 0);
    EXPECT_EQ(Events(3), "WwR");
}

TEST_F(RWLock, ALeavingWriterHandsOverToWritersBeforeReaders) {
    ASSERT_EQ(YAR_RWLock_WriteLock(&lock_), 0);
    EXPECT_EQ(YAR_RWLock_TryReadLock(&lock_), -1);
    EXPECT_EQ(YAR_RWLock_TryWriteLock(&lock_), -1);
    StartWriter();
    StartWriter();
    for (int i = 0; i < 3; ++i)
        StartReader();
    std::this_thread::sleep_for(100ms);  // all five wait
    EXPECT_EQ(Events(0), "");
    EXPECT_EQ(YAR_RWLock_WriteUnlock(&lock_), 0);
    EXPECT_EQ(Events(7), "WwWwRRR");
}

TEST(RWLockVariable, NullEmptyAndHeldVariables) {
    YAR_RWLOCK_T lock = nullptr;
    const struct { const char *name; int (*op)(YAR_RWLOCK_T *); } ops[] = {
        {"Destroy", YAR_RWLock_Destroy},         {"ReadLock", YAR_RWLock_ReadLock},
        {"TryReadLock", YAR_RWLock_TryReadLock}, {"ReadUnlock", YAR_RWLock_ReadUnlock},
        {"WriteLock", YAR_RWLock_WriteLock},     {"TryWriteLock", YAR_RWLock_TryWriteLock},
        {"WriteUnlock", YAR_RWLock_WriteUnlock},
    };
    for (const auto &op : ops) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.op(nullptr), -1);
        EXPECT_EQ(op.op(&lock), -1);
    }
    EXPECT_EQ(YAR_RWLock_Create(nullptr), -1);
    ASSERT_EQ(YAR_RWLock_Create(&lock), 0);
    YAR_RWLOCK_T first = lock;
    EXPECT_EQ(YAR_RWLock_Create(&lock), -1);
    EXPECT_EQ(lock, first);
    // Unlocks without a matching lock are refused and leave the lock usable.
    EXPECT_EQ(YAR_RWLock_ReadUnlock(&lock), -1);
    EXPECT_EQ(YAR_RWLock_WriteUnlock(&lock), -1);
    EXPECT_EQ(YAR_RWLock_TryWriteLock(&lock), 0);
    EXPECT_EQ(YAR_RWLock_WriteUnlock(&lock), 0);
    EXPECT_EQ(YAR_RWLock_TryReadLock(&lock), 0);
    EXPECT_EQ(YAR_RWLock_ReadUnlock(&lock), 0);
    EXPECT_EQ(YAR_RWLock_Destroy(&lock), 0);
    EXPECT_EQ(lock, nullptr);
}
