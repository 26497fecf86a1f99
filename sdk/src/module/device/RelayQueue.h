// The 37020 thread's relays, handed over to the local relay thread, which sends them. A relay's
// send carries out the loopback delivery to every local member within the sending call, which
// costs about a quarter of an answer's parse; on the relay thread it no longer holds up the
// thread that parses the answers. Datagrams leave in the order they were handed over.
//
// The relay thread sleeps in its socket's receive. It is woken by the relay itself: the oldest
// queued datagram is sent at once, under the lock, and its arrival on the relay socket wakes the
// thread, which sends the rest. Under a burst that happens once the queue is half full, and
// whenever the 37020 thread is about to wait for its socket, so a relay waits at most a few
// batches.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "module/io/DatagramBatch.h"

namespace ZEVA {

class CRelayQueue {
public:
    // Once the relay thread is started. Until then, and after Close (or when the queue's memory cannot
    // be had), the 37020 thread sends itself.
    void Open();

    // 37020 thread: queues the datagrams, waiting while the queue is full.
    template <class Send>
    void Hand(const DATAGRAM *pDatagrams, uint32_t dwCount, Send send) {
        std::unique_lock<std::mutex> lock(m_Lock);
        while (!m_bClosed && !Fits(pDatagrams, dwCount)) {
            Wake(send);
            m_Room.wait(lock);
        }
        if (m_bClosed) {
            send(pDatagrams, dwCount);
            return;
        }
        Append(pDatagrams, dwCount);
        if (HalfFull())
            Wake(send);
    }

    // 37020 thread, before it waits for its socket: nothing queued waits longer.
    template <class Send>
    void Flush(Send send) {
        std::lock_guard<std::mutex> lock(m_Lock);
        Wake(send);
    }

    // Relay thread, before each receive: sends what is queued. With nothing queued it counts as
    // asleep until it is woken.
    template <class Send>
    void SendQueued(Send send) {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            if (m_Queued.Empty()) {
                m_bAsleep = true;
                return;
            }
            m_bAsleep = false;
            m_Taken.Swap(m_Queued);
        }
        m_Room.notify_one();
        send(m_Taken.List(), m_Taken.Count());
    }

    // Relay thread, at its end: sends the rest; the 37020 thread sends itself from now on.
    template <class Send>
    void Close(Send send) {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bClosed = true;
        send(m_Queued.List(), m_Queued.Count());
        m_Queued.Clear();
        m_Room.notify_all();
    }

private:
    // Datagrams stored one after another, in memory reserved once: queueing never allocates.
    // Those before the head have been sent.
    struct STORE {
        std::vector<char> bytes;
        std::vector<uint32_t> lens;
        std::vector<DATAGRAM> list;
        size_t head = 0;
        size_t headBytes = 0;

        void Reserve();
        void Clear();
        void Swap(STORE &other);
        bool Empty() const { return head == lens.size(); }
        uint32_t Count() const { return uint32_t(lens.size() - head); }
        const DATAGRAM *List();
        DATAGRAM First() const { return {bytes.data() + headBytes, lens[head]}; }
        void DropFirst();
    };
    // Room for a whole batch of the largest datagrams, and more while the relay thread keeps up.
    static constexpr size_t CAPACITY = 256 * 1024;
    static constexpr size_t MAX_QUEUED = 256;
    static_assert(CAPACITY >= size_t(CDatagramBatch::MAX_DATAGRAMS) * 10240, "a whole batch fits");

    bool Fits(const DATAGRAM *pDatagrams, uint32_t dwCount) const;
    bool HalfFull() const;
    void Append(const DATAGRAM *pDatagrams, uint32_t dwCount);
    // Under the lock: while the relay thread sleeps, sends the oldest queued datagram to wake it.
    // A wake that fails leaves the rest for the thread's next look, within its receive wait.
    template <class Send>
    void Wake(Send send) {
        if (!m_bAsleep || m_Queued.Empty())
            return;
        m_bAsleep = false;
        DATAGRAM first = m_Queued.First();
        send(&first, 1);
        m_Queued.DropFirst();
    }

    std::mutex m_Lock;
    std::condition_variable m_Room;
    STORE m_Queued;
    STORE m_Taken;  // the relay thread's own
    bool m_bAsleep = false;
    bool m_bClosed = true;
};

}  // namespace ZEVA
