// The load generator of mqtt_bench: a small MQTT 3.1.1 client over epoll, written from the OASIS
// standard and sharing no code with the library. It sends CONNECT (user name, keep alive 60),
// PUBLISH with QoS 0 and 1, PINGREQ and DISCONNECT, and reads CONNACK, PUBACK, PINGRESP and
// PUBLISH. It runs in a child process forked before anything else starts, so that neither
// server's CPU time or memory includes the generator's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace mqttload {

enum Load : int32_t {
    LOAD_QOS1,       // QoS 1 PUBLISH, `window` in flight per connection, PUBACK latency
    LOAD_QOS0,       // QoS 0 PUBLISH in batches of `window`, each fenced by a PINGREQ
    LOAD_CONNECT,    // `conns` fresh connections, CONNECT to CONNACK
    LOAD_IDLE,       // `conns` idle sessions held while the parent looks at the servers
    LOAD_RECEIVE,    // `expect` PUBLISH frames per connection sent by the server
};

struct Job {
    int32_t load = LOAD_QOS1;
    int32_t port = 0;
    int32_t conns = 1;
    int32_t payload = 64;    // payload bytes before encryption
    int32_t window = 1;
    int32_t threads = 4;
    int32_t concurrency = 64;  // connects in progress at once (under mosquitto's backlog of 100)
    int32_t encrypt = 0;     // payload AES-128-CBC encrypted (once per connection)
    int32_t expect = 0;
    double warmup = 0.3, seconds = 1.5;
};

struct Result {
    int32_t ok = 0;          // every connection made and every frame as expected
    int32_t errors = 0;      // refused connections, unexpected frames, lost answers
    double messages = 0;     // messages acknowledged (or connections, frames) in the window
    double total = 0;        // the same over the whole job
    double seconds = 0;
    double p50us = 0, p99us = 0;
};

// Marks the child sends during a job; the parent answers each once it has looked.
enum Mark : char {
    MARK_START = 'S',  // the measured window begins
    MARK_END = 'E',    // it ends
    MARK_READY = 'R',  // every connection is set up (idle and receive jobs)
};

class Generator {
public:
    // Forks the generator process. Call before any thread exists.
    Generator();
    ~Generator();
    Generator(const Generator &) = delete;
    Generator &operator=(const Generator &) = delete;

    // Runs one job; onMark runs in this process at each mark of the child.
    Result Run(const Job &job, const std::function<void(Mark)> &onMark);

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};

}  // namespace mqttload
