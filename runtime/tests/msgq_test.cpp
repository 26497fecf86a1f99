#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yar/yar_msgq.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class MsgQ : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(YAR_MsgQ_InitModule(), 0);
        ASSERT_EQ(YAR_MsgQCreate(&q_), 0);
    }
    void TearDown() override { YAR_MsgQ_FiniModule(); }

    int Send(int32_t type, int32_t priority, const char *text) {
        msg_.type = type;
        msg_.priority = priority;
        msg_.length = static_cast<int32_t>(std::strlen(text));
        std::memcpy(msg_.data, text, msg_.length);
        return YAR_MsgQSend(q_, &msg_);
    }
    int Receive(int32_t capacity, int32_t timeoutMs) {
        msg_.length = capacity;
        return YAR_MsgQReceive(q_, &msg_, timeoutMs);
    }
    std::string Text() const { return std::string(msg_.data, msg_.length); }

    YAR_MSGQ_T q_ = nullptr;
    YAR_MSG_T msg_{};
};

TEST_F(MsgQ, HighestPriorityFirstAndSendingOrderWithinOne) {
    ASSERT_EQ(Send(1, 1, "p1"), 0);
    ASSERT_EQ(Send(2, 5, "p5a"), 0);
    ASSERT_EQ(Send(3, 5, "p5b"), 0);
    ASSERT_EQ(Send(4, 3, "p3"), 0);
    const char *expected[] = {"p5a", "p5b", "p3", "p1"};
    const int32_t types[] = {2, 3, 4, 1};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(Receive(YAR_MSGQ_MAX_DATA, 0), 0);
        EXPECT_EQ(Text(), expected[i]);
        EXPECT_EQ(msg_.type, types[i]);
    }
    EXPECT_EQ(Receive(YAR_MSGQ_MAX_DATA, 0), -1);
}

TEST_F(MsgQ, LengthsOutsideTheDataAreaAreRefused) {
    struct Case {
        int32_t length;
        int result;
    } cases[] = {{0, 0}, {YAR_MSGQ_MAX_DATA, 0}, {YAR_MSGQ_MAX_DATA + 1, -1}, {-1, -1}, {INT32_MIN, -1}};
    for (const Case &c : cases) {
        msg_.length = c.length;
        EXPECT_EQ(YAR_MsgQSend(q_, &msg_), c.result) << c.length;
    }
    ASSERT_EQ(Receive(YAR_MSGQ_MAX_DATA, 0), 0);
    EXPECT_EQ(msg_.length, 0);
    ASSERT_EQ(Receive(YAR_MSGQ_MAX_DATA, 0), 0);
    EXPECT_EQ(msg_.length, YAR_MSGQ_MAX_DATA);
    EXPECT_EQ(Receive(YAR_MSGQ_MAX_DATA, 0), -1);
}

TEST_F(MsgQ, TooSmallBufferKeepsTheMessageAndTellsItsLength) {
    ASSERT_EQ(Send(7, 0, "hello"), 0);
    EXPECT_EQ(Receive(3, 0), -1);
    EXPECT_EQ(msg_.length, 5);
    EXPECT_EQ(Receive(-4, 0), -1);
    ASSERT_EQ(Receive(5, 0), 0);
    EXPECT_EQ(Text(), "hello");
}

TEST_F(MsgQ, ReceiveTimesOutOrReturnsOnSend) {
    auto start = Clock::now();
    EXPECT_EQ(Receive(YAR_MSGQ_MAX_DATA, 200), -1);
    int64_t waited = MsSince(start);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 2000);

    std::thread sender([this] {
        std::this_thread::sleep_for(milliseconds(50));
        YAR_MSG_T m{};
        m.length = 2;
        std::memcpy(m.data, "hi", 2);
        YAR_MsgQSend(q_, &m);
    });
    start = Clock::now();
    YAR_MSG_T in{};
    in.length = YAR_MSGQ_MAX_DATA;
    EXPECT_EQ(YAR_MsgQReceive(q_, &in, 5000), 0);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(std::string(in.data, in.length), "hi");
    sender.join();
}

TEST_F(MsgQ, DestroyWakesAWaitingReceiver) {
    int result = 0;
    std::thread receiver([this, &result] {
        YAR_MSG_T in{};
        in.length = YAR_MSGQ_MAX_DATA;
        result = YAR_MsgQReceive(q_, &in, -1);
    });
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(YAR_MsgQDestroy(q_), 0);
    receiver.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(YAR_MsgQDestroy(q_), -1);
    EXPECT_EQ(Send(0, 0, "x"), -1);
}

TEST_F(MsgQ, TableHoldsAHundredQueues) {
    std::vector<YAR_MSGQ_T> more;
    YAR_MSGQ_T q = nullptr;
    while (YAR_MsgQCreate(&q) == 0)
        more.push_back(q);
    EXPECT_EQ(more.size(), YAR_MSGQ_MAX_QUEUES - 1u);
    ASSERT_EQ(YAR_MsgQDestroy(more.back()), 0);
    EXPECT_EQ(YAR_MsgQCreate(&q), 0);
    EXPECT_EQ(q, more.back());
}

TEST_F(MsgQ, NothingWorksBeforeTheModuleStarts) {
    YAR_MsgQ_FiniModule();
    YAR_MSGQ_T q = nullptr;
    EXPECT_EQ(YAR_MsgQCreate(&q), -1);
    EXPECT_EQ(Send(0, 0, "x"), -1);
    EXPECT_EQ(YAR_MsgQSend(nullptr, &msg_), -1);
    EXPECT_EQ(YAR_MsgQReceive(reinterpret_cast<YAR_MSGQ_T>(&msg_), &msg_, 0), -1);
}

TEST(PointerQueue, FirstInFirstOutWithTimeOut) {
    yar::yar_msgq q;
    int a = 1, b = 2;
    EXPECT_EQ(q.Post(nullptr), -1);
    ASSERT_EQ(q.Post(&a), 0);
    ASSERT_EQ(q.Post(&b), 0);
    void *out = nullptr;
    ASSERT_EQ(q.Receive(&out, 0), 0);
    EXPECT_EQ(out, &a);
    ASSERT_EQ(q.Receive(&out, 0), 0);
    EXPECT_EQ(out, &b);
    auto start = Clock::now();
    EXPECT_EQ(q.Receive(&out, 100), -1);
    EXPECT_GE(MsSince(start), 90);
}

TEST(PointerQueue, ReceiveAfterClearTimesOutInsteadOfAStalePointer) {
    yar::yar_msgq q;
    int a = 1, b = 2;
    q.Post(&a);
    q.Post(&b);
    q.Clear();
    void *out = nullptr;
    auto start = Clock::now();
    EXPECT_EQ(q.Receive(&out, 150), -1);
    int64_t waited = MsSince(start);
    EXPECT_GE(waited, 140);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
