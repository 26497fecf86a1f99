#include "mqtt_load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "mqtt_bench_key.h"
#include "mqtt_wire.h"

namespace mqttload {

namespace {

using mqttwire::Bytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kIds = 1024;  // send times kept by packet identifier; far above any window
constexpr int64_t kStopGraceNs = 3'000'000'000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool WriteAll(int fd, const void *p, size_t n) {
    const char *c = static_cast<const char *>(p);
    while (n) {
        const ssize_t k = ::write(fd, c, n);
        if (k <= 0 && errno != EINTR)
            return false;
        if (k > 0) {
            c += k;
            n -= size_t(k);
        }
    }
    return true;
}

bool ReadAll(int fd, void *p, size_t n) {
    char *c = static_cast<char *>(p);
    while (n) {
        const ssize_t k = ::read(fd, c, n);
        if (k == 0 || (k < 0 && errno != EINTR))
            return false;
        if (k > 0) {
            c += k;
            n -= size_t(k);
        }
    }
    return true;
}

enum Phase { PHASE_WAIT, PHASE_CONNECT, PHASE_LOAD, PHASE_STOP };

struct Shared {
    Job job;
    std::atomic<int> phase{PHASE_WAIT};
    std::atomic<bool> measuring{false};
    std::atomic<int> ready{0};  // workers whose connections are all set up
    std::atomic<int> done{0};   // receive jobs: workers that got every frame
};

// One thread's share of the connections, on its own epoll set.
class Worker {
public:
    Worker(Shared &shared, int index, int conns);
    ~Worker();
    void Run();

    std::atomic<uint64_t> counted{0};  // acknowledged messages, connections or received frames
    std::atomic<int> errors{0};
    std::vector<float> latencyUs;      // read after the thread has ended
    int64_t firstNs = 0, lastNs = 0;   // receive jobs: first and last frame

private:
    enum State { CONN_NONE, CONN_TCP, CONN_CONNACK, CONN_FENCE, CONN_READY, CONN_CLOSING, CONN_CLOSED };
    struct Conn {
        int fd = -1;
        State state = CONN_NONE;
        Bytes rx, tx;
        size_t txOff = 0;
        mqttwire::Publish pub;
        int inflight = 0;  // QoS 1: messages; QoS 0: the fenced batch
        uint16_t nextId = 1;
        std::vector<int64_t> sentNs;
        int64_t startNs = 0;
        int received = 0;
    };

    void Open(size_t i);
    void OpenMore();
    void OnEvent(Conn &c);
    void Read(Conn &c);
    void Parse(Conn &c);
    void OnFrame(Conn &c, uint8_t header, const uint8_t *body, size_t len);
    void OnConnack(Conn &c, const uint8_t *body, size_t len);
    void OnPingResp(Conn &c);
    void OnPubAck(Conn &c, uint16_t id);
    void OnPublish(Conn &c);
    void SetReady(Conn &c);
    void Settle();
    void Pump(Conn &c);
    void Flush(Conn &c);
    void Disconnect(Conn &c);
    void Close(Conn &c, bool bError);
    void Latency(int64_t startNs);

    Shared &m_Shared;
    const Job &m_Job;
    int m_iIndex;
    int m_iEpoll;
    std::vector<Conn> m_Conns;
    size_t m_uOpened = 0, m_uPending = 0, m_uSettled = 0, m_uClosed = 0, m_uComplete = 0;
    size_t m_uConcurrency;
    bool m_bLoading = false, m_bStopping = false;
    Bytes m_Payload;
};

Worker::Worker(Shared &shared, int index, int conns)
    : m_Shared(shared), m_Job(shared.job), m_iIndex(index), m_iEpoll(epoll_create1(0)), m_Conns(size_t(conns)),
      m_uConcurrency(size_t(std::max(1, shared.job.concurrency / std::max(1, shared.job.threads)))) {
    const Bytes plain(size_t(m_Job.payload), 'x');
    m_Payload = m_Job.encrypt ? mqttbench::EvpEncrypt(plain) : plain;
}

Worker::~Worker() {
    for (Conn &c : m_Conns)
        if (c.fd >= 0)
            ::close(c.fd);
    ::close(m_iEpoll);
}

void Worker::Open(size_t i) {
    Conn &c = m_Conns[i];
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(m_Job.port));
    c.startNs = NowNs();
    c.state = CONN_TCP;
    c.tx = mqttwire::Connect("b" + std::to_string(m_iIndex) + "-" + std::to_string(i), "bench");
    const int qos = m_Job.load == LOAD_QOS1 ? 1 : 0;
    c.pub = mqttwire::MakePublish(qos, "bench/load", m_Payload);
    if (qos)
        c.sentNs.assign(kIds, 0);
    m_uPending++;
    if (::connect(c.fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0 && errno != EINPROGRESS) {
        Close(c, true);
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = i;
    epoll_ctl(m_iEpoll, EPOLL_CTL_ADD, c.fd, &ev);
}

void Worker::OpenMore() {
    while (m_uOpened < m_Conns.size() && m_uPending < m_uConcurrency)
        Open(m_uOpened++);
}

void Worker::Run() {
    epoll_event events[256];
    int64_t stopDeadline = 0;
    for (;;) {
        const int phase = m_Shared.phase.load();
        if (phase >= PHASE_CONNECT)
            OpenMore();
        if (phase == PHASE_LOAD && !m_bLoading) {
            m_bLoading = true;
            for (Conn &c : m_Conns)
                if (c.state == CONN_READY) {
                    Pump(c);
                    Flush(c);
                }
        }
        if (phase == PHASE_STOP) {
            if (!m_bStopping) {
                m_bStopping = true;
                stopDeadline = NowNs() + kStopGraceNs;
                for (Conn &c : m_Conns)
                    Disconnect(c);
            }
            if (m_uClosed == m_uOpened || NowNs() > stopDeadline)
                break;
        }
        const int n = epoll_wait(m_iEpoll, events, 256, 2);
        for (int k = 0; k < n; k++)
            OnEvent(m_Conns[events[k].data.u64]);
    }
    for (Conn &c : m_Conns)
        if (c.state != CONN_CLOSED && c.state != CONN_NONE)
            Close(c, c.inflight > 0);
}

void Worker::OnEvent(Conn &c) {
    if (c.state == CONN_TCP) {
        int err = 0;
        socklen_t n = sizeof(err);
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &n);
        if (err) {
            Close(c, true);
            return;
        }
        c.state = CONN_CONNACK;
    }
    Read(c);
    if (c.state != CONN_CLOSED)
        Flush(c);
}

void Worker::Read(Conn &c) {
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buf, sizeof(buf), 0);
        if (n > 0) {
            c.rx.insert(c.rx.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // The end of the stream: expected only once we have disconnected.
        Parse(c);
        if (c.state != CONN_CLOSED)
            Close(c, c.state != CONN_CLOSING);
        return;
    }
    Parse(c);
}

void Worker::Parse(Conn &c) {
    size_t off = 0;
    while (c.state != CONN_CLOSED && c.rx.size() - off >= 2) {
        size_t i = off + 1, len = 0;
        int shift = 0;
        bool bComplete = false;
        while (i < c.rx.size() && shift < 28) {
            const uint8_t b = c.rx[i++];
            len |= size_t(b & 0x7F) << shift;
            shift += 7;
            if (!(b & 0x80)) {
                bComplete = true;
                break;
            }
        }
        if (!bComplete) {
            if (shift >= 28)
                Close(c, true);
            break;
        }
        if (c.rx.size() - i < len)
            break;
        OnFrame(c, c.rx[off], c.rx.data() + i, len);
        off = i + len;
    }
    c.rx.erase(c.rx.begin(), c.rx.begin() + std::min(off, c.rx.size()));
}

void Worker::OnFrame(Conn &c, uint8_t header, const uint8_t *body, size_t len) {
    switch (header >> 4) {
    case 2:
        OnConnack(c, body, len);
        return;
    case 3:
        OnPublish(c);
        return;
    case 4:
        if (len == 2) {
            OnPubAck(c, uint16_t(body[0] << 8 | body[1]));
            return;
        }
        break;
    case 13:
        OnPingResp(c);
        return;
    default:
        break;
    }
    errors++;
}

void Worker::OnConnack(Conn &c, const uint8_t *body, size_t len) {
    if (c.state != CONN_CONNACK || len != 2 || body[1] != 0) {
        Close(c, true);
        return;
    }
    m_uPending--;
    if (m_Job.load == LOAD_CONNECT) {
        Latency(c.startNs);
        counted++;
    }
    // Idle and receive jobs wait for a PINGRESP: the server has then finished the CONNECT too.
    if (m_Job.load == LOAD_IDLE || m_Job.load == LOAD_RECEIVE) {
        c.state = CONN_FENCE;
        c.tx.insert(c.tx.end(), mqttwire::kPingReq.begin(), mqttwire::kPingReq.end());
        return;
    }
    SetReady(c);
}

void Worker::SetReady(Conn &c) {
    c.state = CONN_READY;
    Settle();
    if (m_bLoading)
        Pump(c);
}

// A connection is settled once ready or failed; the worker is ready when all are.
void Worker::Settle() {
    if (++m_uSettled == m_Conns.size())
        m_Shared.ready++;
}

void Worker::OnPingResp(Conn &c) {
    if (c.state == CONN_FENCE) {
        SetReady(c);
        return;
    }
    if (m_Job.load != LOAD_QOS0 || c.inflight != 1) {
        errors++;
        return;
    }
    c.inflight = 0;
    counted += uint64_t(m_Job.window);
    Latency(c.startNs);
    Pump(c);
    if (m_bStopping)
        Disconnect(c);
}

void Worker::OnPubAck(Conn &c, uint16_t id) {
    if (m_Job.load != LOAD_QOS1 || c.inflight == 0 || c.sentNs[id % kIds] == 0) {
        errors++;
        return;
    }
    int64_t &sent = c.sentNs[id % kIds];
    Latency(sent);
    sent = 0;
    c.inflight--;
    counted++;
    Pump(c);
    if (m_bStopping)
        Disconnect(c);
}

void Worker::OnPublish(Conn &c) {
    const int64_t now = NowNs();
    if (!firstNs)
        firstNs = now;
    lastNs = now;
    counted++;
    if (++c.received == m_Job.expect && ++m_uComplete == m_Conns.size())
        m_Shared.done++;
}

void Worker::Latency(int64_t startNs) {
    if (m_Shared.measuring.load())
        latencyUs.push_back(float(NowNs() - startNs) / 1000.f);
}

// Keeps the connection's window full while the load runs.
void Worker::Pump(Conn &c) {
    if (!m_bLoading || m_bStopping || c.state != CONN_READY)
        return;
    if (m_Job.load == LOAD_QOS1) {
        while (c.inflight < m_Job.window) {
            const uint16_t id = c.nextId;
            c.nextId = uint16_t(id == 0xFFFF ? 1 : id + 1);
            c.pub.frame[c.pub.idOffset] = uint8_t(id >> 8);
            c.pub.frame[c.pub.idOffset + 1] = uint8_t(id);
            c.tx.insert(c.tx.end(), c.pub.frame.begin(), c.pub.frame.end());
            c.sentNs[id % kIds] = NowNs();
            c.inflight++;
        }
    } else if (m_Job.load == LOAD_QOS0 && c.inflight == 0) {
        for (int k = 0; k < m_Job.window; k++)
            c.tx.insert(c.tx.end(), c.pub.frame.begin(), c.pub.frame.end());
        c.tx.insert(c.tx.end(), mqttwire::kPingReq.begin(), mqttwire::kPingReq.end());
        c.startNs = NowNs();
        c.inflight = 1;
    }
}

void Worker::Flush(Conn &c) {
    while (c.txOff < c.tx.size()) {
        const ssize_t n = ::send(c.fd, c.tx.data() + c.txOff, c.tx.size() - c.txOff, MSG_NOSIGNAL);
        if (n > 0) {
            c.txOff += size_t(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        Close(c, true);
        return;
    }
    c.tx.clear();
    c.txOff = 0;
}

// Once nothing is outstanding: DISCONNECT, our half of the stream closed, and then the server's
// end of the stream awaited, so that no side resets a connection with unread data.
void Worker::Disconnect(Conn &c) {
    if (c.state != CONN_READY || c.inflight > 0)
        return;
    c.tx.insert(c.tx.end(), mqttwire::kDisconnect.begin(), mqttwire::kDisconnect.end());
    Flush(c);
    if (c.state == CONN_CLOSED)
        return;
    ::shutdown(c.fd, SHUT_WR);
    c.state = CONN_CLOSING;
}

void Worker::Close(Conn &c, bool bError) {
    if (bError)
        errors++;
    if (c.state == CONN_TCP || c.state == CONN_CONNACK)
        m_uPending--;
    if (c.state == CONN_TCP || c.state == CONN_CONNACK || c.state == CONN_FENCE)
        Settle();
    ::close(c.fd);
    c.fd = -1;
    c.state = CONN_CLOSED;
    m_uClosed++;
}

double Percentile(std::vector<float> &v, double q) {
    if (v.empty())
        return 0;
    const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

// The coordinator: marks the parent, moves the workers through the phases, sums their figures.
class Coordinator {
public:
    Coordinator(const Job &job, int fd) : m_fd(fd) { m_Shared.job = job; }
    Result Run();

private:
    bool Signal(Mark mark) {
        char ack;
        return WriteAll(m_fd, &mark, 1) && ReadAll(m_fd, &ack, 1);
    }
    uint64_t Counted() const {
        uint64_t n = 0;
        for (const auto &w : m_Workers)
            n += w->counted.load();
        return n;
    }
    bool WaitFor(std::atomic<int> &count, double seconds) const {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (count.load() < int(m_Workers.size()) && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return count.load() >= int(m_Workers.size());
    }
    static void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }
    void Window(Result &r);

    int m_fd;
    Shared m_Shared;
    std::vector<std::unique_ptr<Worker>> m_Workers;
};

void Coordinator::Window(Result &r) {
    Sleep(m_Shared.job.warmup);
    Signal(MARK_START);
    const uint64_t n0 = Counted();
    const auto t0 = Clock::now();
    m_Shared.measuring = true;
    Sleep(m_Shared.job.seconds);
    m_Shared.measuring = false;
    r.messages = double(Counted() - n0);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    Signal(MARK_END);
}

Result Coordinator::Run() {
    const Job &job = m_Shared.job;
    const int threads = std::max(1, std::min(job.threads, job.conns));
    for (int t = 0; t < threads; t++)
        m_Workers.emplace_back(new Worker(m_Shared, t, job.conns / threads + (t < job.conns % threads ? 1 : 0)));
    std::vector<std::thread> running;
    for (auto &w : m_Workers)
        running.emplace_back(&Worker::Run, w.get());

    Result r;
    bool bOk = true;
    if (job.load == LOAD_CONNECT) {
        Signal(MARK_START);
        const auto t0 = Clock::now();
        m_Shared.measuring = true;
        m_Shared.phase = PHASE_CONNECT;
        bOk = WaitFor(m_Shared.ready, 60);
        r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        r.messages = double(Counted());
        Signal(MARK_END);
    } else {
        m_Shared.phase = PHASE_CONNECT;
        bOk = WaitFor(m_Shared.ready, 60);
        if (bOk) {
            m_Shared.phase = PHASE_LOAD;
            if (job.load == LOAD_QOS1 || job.load == LOAD_QOS0) {
                Window(r);
            } else {
                Signal(MARK_READY);
                if (job.load == LOAD_RECEIVE)
                    bOk = WaitFor(m_Shared.done, 60);
            }
        }
    }
    m_Shared.phase = PHASE_STOP;
    for (auto &t : running)
        t.join();

    std::vector<float> all;
    int64_t first = 0, last = 0;
    for (auto &w : m_Workers) {
        r.errors += w->errors.load();
        all.insert(all.end(), w->latencyUs.begin(), w->latencyUs.end());
        if (w->firstNs && (!first || w->firstNs < first))
            first = w->firstNs;
        last = std::max(last, w->lastNs);
    }
    r.total = double(Counted());
    if (job.load == LOAD_RECEIVE) {
        r.messages = r.total;
        r.seconds = double(last - first) / 1e9;
    }
    r.p50us = Percentile(all, 0.50);
    r.p99us = Percentile(all, 0.99);
    r.ok = bOk && r.errors == 0;
    return r;
}

[[noreturn]] void ChildMain(int fd) {
    Job job;
    while (ReadAll(fd, &job, sizeof(job))) {
        const Result r = Coordinator(job, fd).Run();
        const char done = 'D';
        if (!WriteAll(fd, &done, 1) || !WriteAll(fd, &r, sizeof(r)))
            break;
    }
    _exit(0);
}

}  // namespace

Generator::Generator() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        ::close(fds[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        ChildMain(fds[1]);
    }
    ::close(fds[1]);
    m_fd = fds[0];
}

Generator::~Generator() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_pid > 0)
        waitpid(m_pid, nullptr, 0);
}

Result Generator::Run(const Job &job, const std::function<void(Mark)> &onMark) {
    Result r;
    if (m_fd < 0 || !WriteAll(m_fd, &job, sizeof(job)))
        return r;
    for (;;) {
        char c;
        if (!ReadAll(m_fd, &c, 1))
            return r;
        if (c == 'D')
            return ReadAll(m_fd, &r, sizeof(r)) ? r : Result();
        onMark(static_cast<Mark>(c));
        const char ack = 'k';
        if (!WriteAll(m_fd, &ack, 1))
            return r;
    }
}

}  // namespace mqttload
