#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_lockfreeq.h"

namespace {

std::atomic<int> g_destroyed{0};

// An item that knows who queued it and counts its destruction.
class Item : public yar::yar_lockfreeQItem {
public:
    Item(int producer, int seq) : producer(producer), seq(seq) {}
    ~Item() override { ++g_destroyed; }
    const int producer;
    const int seq;
};

YAR_TRACE_INFO_T Trace(const char *text) {
    YAR_TRACE_INFO_T info = {};
    std::strncpy(info.szTrace1, text, sizeof info.szTrace1 - 1);
    info.byTraceFlag1 = 1;
    return info;
}

}  // namespace

TEST(LockFreeQueue, EmptyQueue) {
    yar::yar_lockfreeQ queue;
    EXPECT_FALSE(queue.Pop());
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.GetCount(), 0);
}

TEST(LockFreeQueue, ReferencesAreTakenAndGivenBackOnce) {
    g_destroyed = 0;
    yar::yar_refptr<Item> kept(new Item(0, 0));
    {
        yar::yar_lockfreeQ queue;
        queue.Push(kept.Get());
        EXPECT_EQ(kept->RefCount(), 2);
        EXPECT_EQ(queue.GetCount(), 1);
        EXPECT_FALSE(queue.IsEmpty());
        {
            yar::yar_lockfreeQItemPtr popped = queue.Pop();
            EXPECT_EQ(popped.Get(), static_cast<yar::yar_lockfreeQItem *>(kept.Get()));
        }
        EXPECT_EQ(kept->RefCount(), 1);  // what it had before the push
        EXPECT_TRUE(queue.IsEmpty());
        for (int i = 1; i <= 3; ++i)
            queue.Push(new Item(0, i));  // the queue holds the only reference
    }
    EXPECT_EQ(g_destroyed.load(), 3);  // the destroyed queue released each item once
    EXPECT_EQ(kept->RefCount(), 1);
}

TEST(LockFreeQueue, ThePopperTakesOverThePushersTraceContext) {
    yar::yar_lockfreeQ queue;
    std::thread([&] {
        const YAR_TRACE_INFO_T pusher = Trace("pusher-context");
        ASSERT_EQ(YAR_SetThreadTraceInfo(&pusher), 0);
        queue.Push(new Item(0, 0));
    }).join();
    const YAR_TRACE_INFO_T own = Trace("popper-context");
    ASSERT_EQ(YAR_SetThreadTraceInfo(&own), 0);
    ASSERT_TRUE(queue.Pop());
    YAR_TRACE_INFO_T now;
    ASSERT_EQ(YAR_GetThreadTraceInfo(&now), 0);
    EXPECT_STREQ(now.szTrace1, "pusher-context");
    EXPECT_EQ(now.byTraceFlag1, 1);
    YAR_ClearThreadTraceInfo();
}

TEST(LockFreeQueue, ConcurrentPushersAndPoppersKeepEachPushersOrder) {
    constexpr int kPushers = 4, kPoppers = 3, kEach = 20000;
    g_destroyed = 0;
    {
        yar::yar_lockfreeQ queue;
        std::atomic<int> taken{0};
        std::atomic<bool> inOrder{true};
        std::vector<std::thread> threads;
        for (int p = 0; p < kPushers; ++p)
            threads.emplace_back([&, p] {
                for (int i = 0; i < kEach; ++i)
                    queue.Push(new Item(p, i));
            });
        for (int c = 0; c < kPoppers; ++c)
            threads.emplace_back([&] {
                std::vector<int> last(kPushers, -1);
                while (taken.load() < kPushers * kEach) {
                    yar::yar_lockfreeQItemPtr item = queue.Pop();
                    if (!item) {
                        std::this_thread::yield();
                        continue;
                    }
                    auto *mine = dynamic_cast<Item *>(item.Get());
                    if (mine->seq <= last[mine->producer])
                        inOrder = false;
                    last[mine->producer] = mine->seq;
                    ++taken;
                }
            });
        for (std::thread &t : threads)
            t.join();
        EXPECT_TRUE(inOrder.load());
        EXPECT_EQ(taken.load(), kPushers * kEach);
        EXPECT_TRUE(queue.IsEmpty());
        EXPECT_EQ(queue.GetCount(), 0);
    }
    EXPECT_EQ(g_destroyed.load(), kPushers * kEach);
}
