// The hand-over of relays from the 37020 thread to the relay thread: every datagram leaves once,
// in the order handed over, and a sleeping relay thread is always woken by a relay of its own,
// never left to its receive time-out.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "module/device/RelayQueue.h"

using namespace ZEVA;

namespace {

// The loopback group as the relay thread sees it: what was sent, in order, and a receive that
// waits for the next arrival as the relay socket's does (at most 1 s).
class CWire {
public:
    void Send(const DATAGRAM *p, uint32_t n) {
        std::lock_guard<std::mutex> lock(m_Lock);
        for (uint32_t i = 0; i < n; ++i)
            m_Sent.emplace_back(p[i].pData, p[i].dwLen);
        m_Arrived.notify_all();
    }
    // Waits until more than `seen` datagrams went out or the time-out passed; false on time-out.
    bool Receive(size_t *pSeen, const std::atomic<bool> &stop) {
        std::unique_lock<std::mutex> lock(m_Lock);
        auto ready = [&] { return m_Sent.size() > *pSeen || stop; };
        bool arrived = ready();
        if (!arrived) {
            m_bWaiting = true;
            m_WaitingSeen = *pSeen;
            m_Arrived.notify_all();
            arrived = m_Arrived.wait_for(lock, std::chrono::seconds(1), ready);
            m_bWaiting = false;
        }
        *pSeen = m_Sent.size();
        return arrived;
    }
    // Until the receiver has taken every arrival and waits for the next one.
    bool AwaitReceiver() {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Arrived.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_bWaiting && m_WaitingSeen == m_Sent.size(); });
    }
    void Stop(std::atomic<bool> &stop) {
        std::lock_guard<std::mutex> lock(m_Lock);
        stop = true;
        m_Arrived.notify_all();
    }
    std::vector<std::string> Sent() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Sent;
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Arrived;
    std::vector<std::string> m_Sent;
    bool m_bWaiting = false;
    size_t m_WaitingSeen = 0;
};

// The relay thread's loop: send what is queued, then wait on the socket. A stall is a receive
// that ran into its time-out while relays waited in the queue.
class CRelayThread {
public:
    CRelayThread(CRelayQueue &queue, CWire &wire) : m_Queue(queue), m_Wire(wire) {
        m_Thread = std::thread([this] {
            bool timedOut = false;
            auto send = [&](const DATAGRAM *p, uint32_t n) {
                if (timedOut && n)
                    ++m_Stalls;
                m_Wire.Send(p, n);
            };
            size_t seen = 0;
            while (!m_bStop) {
                m_Queue.SendQueued(send);
                timedOut = !m_Wire.Receive(&seen, m_bStop);
            }
            m_Queue.Close(send);
        });
    }
    int Stalls() const { return m_Stalls; }
    // Ends the loop; the stalls seen.
    int Join() {
        m_Wire.Stop(m_bStop);
        m_Thread.join();
        return m_Stalls;
    }

private:
    CRelayQueue &m_Queue;
    CWire &m_Wire;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_Stalls{0};
    std::thread m_Thread;
};

std::vector<std::string> Datagrams(int count, int first = 0) {
    std::vector<std::string> out;
    for (int i = first; i < first + count; ++i)
        out.push_back("datagram " + std::to_string(i) + std::string(size_t(i % 7) * 300, 'x'));
    return out;
}

// Empty when the wire carried exactly what was handed over, in order.
std::string FirstDifference(const std::vector<std::string> &handed, const std::vector<std::string> &sent) {
    for (size_t i = 0; i < std::min(handed.size(), sent.size()); ++i)
        if (handed[i] != sent[i])
            return "datagram " + std::to_string(i) + " differs";
    if (handed.size() != sent.size())
        return std::to_string(sent.size()) + " sent of " + std::to_string(handed.size());
    return "";
}

bool WaitForCount(CWire &wire, size_t count) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (wire.Sent().size() < count && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return wire.Sent().size() >= count;
}

// The 37020 thread's side: batches, a flush whenever it would wait for its socket (after a batch
// that was not full, and at the end); paced, each batch waits until the one before went out and
// the relay thread sleeps again.
void HandOver(CRelayQueue &queue, CWire &wire, const CRelayThread &relay, const std::vector<std::string> &data,
              size_t batch, bool paced) {
    auto send = [&](const DATAGRAM *p, uint32_t n) { wire.Send(p, n); };
    for (size_t at = 0; at < data.size(); at += batch) {
        if (paced && at > 0) {
            ASSERT_TRUE(WaitForCount(wire, at));
            ASSERT_TRUE(wire.AwaitReceiver());
            ASSERT_EQ(0, relay.Stalls());
        }
        std::vector<DATAGRAM> list;
        for (size_t i = at; i < std::min(data.size(), at + batch); ++i)
            list.push_back({data[i].data(), uint32_t(data[i].size())});
        queue.Hand(list.data(), uint32_t(list.size()), send);
        if (list.size() < CDatagramBatch::MAX_DATAGRAMS || at + batch >= data.size())
            queue.Flush(send);
    }
}

TEST(RelayQueue, EveryDatagramLeavesOnceInOrderWithoutAStall) {
    const struct {
        const char *what;
        int count;
        size_t batch;
        bool paced;
    } table[] = {
        {"a burst of full batches", 3000, CDatagramBatch::MAX_DATAGRAMS, false},
        {"a burst of short batches", 3000, 5, false},
        {"one at a time to a sleeping relay thread", 300, 1, true},
        {"short batches to a sleeping relay thread", 300, 7, true},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.what);
        CRelayQueue queue;
        CWire wire;
        CRelayThread relay(queue, wire);
        queue.Open();
        std::vector<std::string> data = Datagrams(row.count);
        std::thread producer([&] { HandOver(queue, wire, relay, data, row.batch, row.paced); });
        EXPECT_TRUE(WaitForCount(wire, data.size()));
        // The relay thread's end closes the queue, which also frees a producer stuck on it.
        EXPECT_EQ(0, relay.Join()) << "stalls: the relay thread slept through its time-out with relays queued";
        producer.join();
        EXPECT_EQ("", FirstDifference(data, wire.Sent()));
    }
}

TEST(RelayQueue, BeforeOpenAndAfterCloseThe37020ThreadSendsItself) {
    CRelayQueue queue;
    CWire wire;
    auto send = [&](const DATAGRAM *p, uint32_t n) { wire.Send(p, n); };
    std::vector<std::string> before = Datagrams(3), queued = Datagrams(40, 3), after = Datagrams(3, 43);
    auto hand = [&](const std::vector<std::string> &data) {
        for (const std::string &d : data) {
            DATAGRAM one{d.data(), uint32_t(d.size())};
            queue.Hand(&one, 1, send);
        }
    };
    hand(before);
    EXPECT_EQ(before, wire.Sent());
    queue.Open();
    hand(queued);  // no relay thread takes them and none sleeps: they wait for the close
    EXPECT_EQ(before.size(), wire.Sent().size());
    queue.Close(send);
    hand(after);
    std::vector<std::string> all = before;
    all.insert(all.end(), queued.begin(), queued.end());
    all.insert(all.end(), after.begin(), after.end());
    EXPECT_EQ("", FirstDifference(all, wire.Sent()));
}

}  // namespace
