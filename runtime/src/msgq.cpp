// Message queues: a table of queues of copied messages in priority order, and yar::yar_msgq.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "yar/yar_msgq.h"
#include "yar/yar_time.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Message {
    int32_t type;
    int32_t priority;
    std::vector<char> data;
};

}  // namespace

// The records never move or go away, so a receiver still waiting on a destroyed queue wakes on
// a live lock and sees the queue gone; the generation tells it when the record was reused.
struct YAR_MSGQ_S {
    std::mutex lock;
    std::condition_variable data;
    bool inUse = false;
    uint64_t generation = 0;
    // Highest priority first; each priority keeps its sending order.
    std::map<int32_t, std::deque<Message>, std::greater<int32_t>> messages;

    void Release() {
        messages.clear();
        inUse = false;
        ++generation;
        data.notify_all();
    }
};

namespace {

std::mutex g_tableLock;
bool g_tableReady = false;
YAR_MSGQ_S g_queues[YAR_MSGQ_MAX_QUEUES];

bool InTable(const YAR_MSGQ_S *queue) {
    for (const YAR_MSGQ_S &q : g_queues)
        if (&q == queue)
            return true;
    return false;
}

// Copies the first message out; false (message left queued) when the caller's area is too
// small, with the needed length reported.
bool TakeFirst(YAR_MSGQ_S *q, YAR_MSG_T *msg) {
    auto first = q->messages.begin();
    Message &m = first->second.front();
    int32_t need = static_cast<int32_t>(m.data.size());
    msg->type = m.type;
    msg->priority = m.priority;
    if (msg->length < need) {
        msg->length = need;
        return false;
    }
    msg->length = need;
    if (need > 0)
        std::memcpy(msg->data, m.data.data(), m.data.size());
    first->second.pop_front();
    if (first->second.empty())
        q->messages.erase(first);
    return true;
}

}  // namespace

extern "C" {

int YAR_MsgQ_InitModule(void) {
    std::lock_guard<std::mutex> table(g_tableLock);
    if (!g_tableReady) {
        for (YAR_MSGQ_S &q : g_queues) {
            std::lock_guard<std::mutex> guard(q.lock);
            q.Release();
        }
        g_tableReady = true;
    }
    return 0;
}

int YAR_MsgQ_FiniModule(void) {
    std::lock_guard<std::mutex> table(g_tableLock);
    for (YAR_MSGQ_S &q : g_queues) {
        std::lock_guard<std::mutex> guard(q.lock);
        if (q.inUse)
            q.Release();
    }
    g_tableReady = false;
    return 0;
}

int YAR_MsgQCreate(YAR_MSGQ_T *queue) {
    if (!queue)
        return -1;
    std::lock_guard<std::mutex> table(g_tableLock);
    if (!g_tableReady)
        return -1;
    for (YAR_MSGQ_S &q : g_queues) {
        std::lock_guard<std::mutex> guard(q.lock);
        if (!q.inUse) {
            q.inUse = true;
            *queue = &q;
            return 0;
        }
    }
    return -1;
}

int YAR_MsgQDestroy(YAR_MSGQ_T queue) {
    if (!queue || !InTable(queue))
        return -1;
    std::lock_guard<std::mutex> table(g_tableLock);
    std::lock_guard<std::mutex> guard(queue->lock);
    if (!queue->inUse)
        return -1;
    queue->Release();
    return 0;
}

int YAR_MsgQSend(YAR_MSGQ_T queue, const YAR_MSG_T *msg) {
    if (!queue || !msg || !InTable(queue))
        return -1;
    // A negative length would reach the copy as a huge size.
    if (msg->length < 0 || msg->length > YAR_MSGQ_MAX_DATA)
        return -1;
    std::lock_guard<std::mutex> guard(queue->lock);
    if (!queue->inUse)
        return -1;
    try {
        Message m{msg->type, msg->priority, std::vector<char>(msg->data, msg->data + msg->length)};
        queue->messages[msg->priority].push_back(std::move(m));
    } catch (const std::bad_alloc &) {
        return -1;
    }
    queue->data.notify_all();
    return 0;
}

int YAR_MsgQReceive(YAR_MSGQ_T queue, YAR_MSG_T *msg, int32_t timeoutMs) {
    if (!queue || !msg || !InTable(queue))
        return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock<std::mutex> guard(queue->lock);
    if (!queue->inUse)
        return -1;
    const uint64_t generation = queue->generation;
    for (;;) {
        if (!queue->messages.empty())
            return TakeFirst(queue, msg) ? 0 : -1;
        if (timeoutMs < 0)
            queue->data.wait(guard);
        else if (timeoutMs == 0 || queue->data.wait_until(guard, deadline) == std::cv_status::timeout)
            timeoutMs = 0;  // one last look below, then give up
        if (!queue->inUse || queue->generation != generation)
            return -1;
        if (timeoutMs == 0 && queue->messages.empty())
            return -1;
    }
}

}  // extern "C"

namespace yar {

yar_msgq::yar_msgq() : m_sem(0) {}

yar_msgq::~yar_msgq() {
    Clear();
}

int yar_msgq::Post(void *item) {
    if (!item)
        return -1;
    yar_guard guard(m_mutex.Native());
    try {
        m_items.push_back(item);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    m_sem.Post();
    return 0;
}

int yar_msgq::Receive(void **item, int32_t timeoutMs) {
    if (!item)
        return -1;
    const uint64_t start = YAR_GetTimeTickUs();
    int32_t remaining = timeoutMs;
    for (;;) {
        if (m_sem.TimedWait(remaining < 0 ? -1 : remaining) != 0)
            return -1;
        {
            yar_guard guard(m_mutex.Native());
            if (!m_items.empty()) {
                *item = m_items.front();
                m_items.pop_front();
                return 0;
            }
        }
        // The unit outlived a Clear: wait again for what is left of the time-out.
        if (timeoutMs < 0)
            continue;
        const int64_t elapsedMs = static_cast<int64_t>((YAR_GetTimeTickUs() - start + 500) / 1000);
        remaining = static_cast<int32_t>(timeoutMs - elapsedMs);
        if (remaining <= 0)
            return -1;
    }
}

void yar_msgq::Clear() {
    yar_guard guard(m_mutex.Native());
    m_items.clear();
}

}  // namespace yar
