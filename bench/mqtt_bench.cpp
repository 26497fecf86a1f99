// The MQTT server of the core library against the mosquitto broker, on loopback, in one run with
// one load generator (mqtt_load.h, a child process):
//  qos1     PUBLISH to PUBACK, messages/s and p99 latency, by connections, payload and window
//  qos0     QoS 0 ingest in batches, each fenced by a PINGREQ
//  connect  CONNECT to CONNACK for fresh connections
//  CPU      seconds of each server process per million messages (from /proc/<pid>/stat; the
//           generator runs in its own process, so ours is this process's whole CPU time)
// and, against ours alone: ingest with a session key, sends by the host, memory per idle session
// beside mosquitto's per client.
// Usage: mqtt_bench [--seconds=S] [--warmup=S] [--threads=N] [--conns=1,100,1000]
//                   [--connects=N] [--batch=N] [--idle=N] [--parts=idle,qos1,qos0,connect,key,send]
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "morva/ComInterfaceMorva.h"
#include "morva/MorvaMqtt.h"
#include "mqtt_bench_key.h"
#include "mqtt_load.h"
#include "mqtt_wire.h"

namespace {

using mqttload::Job;
using mqttload::Mark;
using mqttload::Result;

struct Options {
    double seconds = 1.5, warmup = 0.3;
    int threads = 4;
    std::vector<int> conns = {1, 100, 1000};
    int connects = 1000;
    int batch = 100;
    int idle = 1000;
    std::string parts = "idle,qos1,qos0,connect,key,send";
    bool Has(const char *part) const { return ("," + parts + ",").find("," + std::string(part) + ",") != std::string::npos; }
};

std::vector<int> IntList(const std::string &s) {
    std::vector<int> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
        out.push_back(std::atoi(item.c_str()));
    return out;
}

Options ParseOptions(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string key = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        if (key == "--seconds")
            o.seconds = std::atof(value.c_str());
        else if (key == "--warmup")
            o.warmup = std::atof(value.c_str());
        else if (key == "--threads")
            o.threads = std::atoi(value.c_str());
        else if (key == "--conns")
            o.conns = IntList(value);
        else if (key == "--connects")
            o.connects = std::atoi(value.c_str());
        else if (key == "--batch")
            o.batch = std::atoi(value.c_str());
        else if (key == "--idle")
            o.idle = std::atoi(value.c_str());
        else if (key == "--parts")
            o.parts = value;
        else
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
    }
    return o;
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    return a;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
    socklen_t n = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof(a)) == 0;
    close(fd);
    return ok;
}

// User plus system time of a process, from the same source for both servers.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field; i++) {
        if (i == 14)
            utime = std::atof(field.c_str());
        if (i == 15) {
            stime = std::atof(field.c_str());
            break;
        }
    }
    return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

void RaiseFileLimit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

// The Debian broker on 127.0.0.1 with a configuration of its own in a temporary directory.
class Mosquitto {
public:
    bool Start() {
        char dir[] = "/tmp/mqtt_bench.XXXXXX";
        if (!mkdtemp(dir))
            return false;
        m_Dir = dir;
        m_iPort = FreePort();
        std::ofstream conf(m_Dir + "/mosquitto.conf");
        conf << "listener " << m_iPort << " 127.0.0.1\n"
             << "allow_anonymous true\n"
             << "persistence false\n"
             << "user root\n"
             << "log_dest file " << m_Dir << "/mosquitto.log\n"
             << "log_type error\nlog_type warning\n";
        conf.close();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const std::string path = m_Dir + "/mosquitto.conf";
            execl("/usr/sbin/mosquitto", "mosquitto", "-c", path.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 250 && m_pid > 0; i++) {
            if (Accepts(m_iPort))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    ~Mosquitto() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (!m_Dir.empty()) {
            for (const char *name : {"/mosquitto.conf", "/mosquitto.log"})
                std::remove((m_Dir + name).c_str());
            rmdir(m_Dir.c_str());
        }
    }
    pid_t Pid() const { return m_pid; }
    int Port() const { return m_iPort; }

private:
    std::string m_Dir;
    int m_iPort = 0;
    pid_t m_pid = -1;
};

// The host of our listener: counts what it is told, sets the key when asked to, closes a
// session once its client has disconnected or gone.
class Host {
public:
    static int Callback(int iHandle, MORVA_MQTT_MSG *pMsg, void *pUser) {
        auto *self = static_cast<Host *>(pUser);
        switch (pMsg->iMsgType) {
        case MSG_PRIVATE_SESSION_KEY_SEARCH:
            if (self->keyed.load())
                mqttbench::SetSessionKey(pMsg);
            break;
        case MSG_CONNECT: {
            std::lock_guard<std::mutex> guard(self->m_Lock);
            self->m_Handles.push_back(iHandle);
            self->m_iLive++;
            break;
        }
        case MSG_PUBLISH:
            self->published++;
            if (pMsg->iDataLen != self->payload.load())
                self->wrongLength++;
            break;
        case MSG_DISCONNECT:
        case MSG_PRIVATE_ERROR: {
            Morva_MqttServerClose(iHandle);
            std::lock_guard<std::mutex> guard(self->m_Lock);
            self->m_iLive--;
            break;
        }
        default:
            break;
        }
        return 1;
    }
    std::vector<int> TakeHandles() {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<int> out;
        out.swap(m_Handles);
        return out;
    }
    int Live() {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_iLive;
    }
    // Waits until every session of the last job has been closed, and a little for the reaper.
    void WaitIdle() {
        for (int i = 0; i < 3000 && Live() > 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        TakeHandles();
    }

    std::atomic<bool> keyed{false};
    std::atomic<int> payload{0};
    std::atomic<uint64_t> published{0}, wrongLength{0};

private:
    std::mutex m_Lock;
    std::vector<int> m_Handles;
    int m_iLive = 0;
};

struct Server {
    const char *name;
    pid_t pid;
    int port;
};

struct Figures {
    Result r;
    double cpu = 0;  // server CPU seconds in the window
    double Rate() const { return r.seconds > 0 ? r.messages / r.seconds : 0; }
    double CpuPerMillion() const { return r.messages > 0 ? cpu / r.messages * 1e6 : 0; }
};

class Bench {
public:
    Bench(const Options &o, mqttload::Generator &gen, const Server &mosq, const Server &ours, Host &host)
        : m_Opt(o), m_Gen(gen), m_Mosq(mosq), m_Ours(ours), m_Host(host) {}

    void Qos1();
    void Qos0();
    void Connects();
    void Keyed();
    void HostSends();
    void IdleMemory();
    void Targets() const;

private:
    Job MakeJob(int load, const Server &s, int conns, int payload, int window) const {
        Job job;
        job.load = load;
        job.port = s.port;
        job.conns = conns;
        job.payload = payload;
        job.window = window;
        job.threads = m_Opt.threads;
        job.warmup = m_Opt.warmup;
        job.seconds = m_Opt.seconds;
        return job;
    }
    // One job against one server: the generator's figures and the server's CPU time between the
    // window's marks; onReady runs at the ready mark.
    Figures Measure(const Server &s, const Job &job, const std::function<void()> &onReady = {}) {
        Figures f;
        double cpu0 = 0;
        m_Host.payload = job.payload;
        const uint64_t published0 = m_Host.published.load();
        f.r = m_Gen.Run(job, [&](Mark mark) {
            if (mark == mqttload::MARK_START)
                cpu0 = CpuSeconds(s.pid);
            else if (mark == mqttload::MARK_END)
                f.cpu = CpuSeconds(s.pid) - cpu0;
            else if (onReady)
                onReady();
        });
        if (s.pid == m_Ours.pid) {
            m_Host.WaitIdle();
            // Every message the generator counts was answered after the server took it, so the
            // host must have seen at least as many: else the figure would not be honest.
            const uint64_t seen = m_Host.published.load() - published0;
            if ((job.load == mqttload::LOAD_QOS1 || job.load == mqttload::LOAD_QOS0) && seen < f.r.total) {
                std::printf("  (ours: host saw %llu PUBLISH, generator counted %.0f)\n",
                            static_cast<unsigned long long>(seen), f.r.total);
                f.r.ok = 0;
            }
        }
        if (!f.r.ok)
            std::printf("  (%s: %d errors)\n", s.name, f.r.errors);
        return f;
    }
    static std::string Payload(int bytes) { return bytes >= 1024 ? std::to_string(bytes / 1024) + " KiB" : std::to_string(bytes) + " B"; }

    const Options &m_Opt;
    mqttload::Generator &m_Gen;
    Server m_Mosq, m_Ours;
    Host &m_Host;
    // For the targets: the worst ratios seen at 1 and 100 connections.
    double m_dQos1Rate = 1e9, m_dQos1P99 = 0, m_dQos0 = 1e9, m_dConnect = 0, m_dKey = 1e9;
};

void Bench::Qos1() {
    std::printf("\nQoS 1 PUBLISH to PUBACK\n\n| conns | payload | in flight | mosquitto msgs/s | ours msgs/s | ratio | "
                "mosquitto p99 | ours p99 | p99 ratio | CPU s/M mosquitto | CPU s/M ours |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int conns : m_Opt.conns)
        for (int payload : {64, 1024})
            for (int window : {1, 16}) {
                const Figures m = Measure(m_Mosq, MakeJob(mqttload::LOAD_QOS1, m_Mosq, conns, payload, window));
                const Figures o = Measure(m_Ours, MakeJob(mqttload::LOAD_QOS1, m_Ours, conns, payload, window));
                const double rate = o.Rate() / m.Rate(), p99 = o.r.p99us / m.r.p99us;
                if (conns <= 100) {
                    m_dQos1Rate = std::min(m_dQos1Rate, rate);
                    m_dQos1P99 = std::max(m_dQos1P99, p99);
                }
                std::printf("| %d | %s | %d | %.0f | %.0f | %.2fx | %.0f us | %.0f us | %.2fx | %.2f | %.2f |\n", conns,
                            Payload(payload).c_str(), window, m.Rate(), o.Rate(), rate, m.r.p99us, o.r.p99us, p99,
                            m.CpuPerMillion(), o.CpuPerMillion());
                std::fflush(stdout);
            }
}

void Bench::Qos0() {
    std::printf("\nQoS 0 ingest, batches of %d fenced by a PINGREQ\n\n| conns | payload | mosquitto msgs/s | ours msgs/s | "
                "ratio | CPU s/M mosquitto | CPU s/M ours |\n|---|---|---|---|---|---|---|\n",
                m_Opt.batch);
    for (int conns : m_Opt.conns)
        for (int payload : {64, 1024}) {
            const Figures m = Measure(m_Mosq, MakeJob(mqttload::LOAD_QOS0, m_Mosq, conns, payload, m_Opt.batch));
            const Figures o = Measure(m_Ours, MakeJob(mqttload::LOAD_QOS0, m_Ours, conns, payload, m_Opt.batch));
            m_dQos0 = std::min(m_dQos0, o.Rate() / m.Rate());
            std::printf("| %d | %s | %.0f | %.0f | %.2fx | %.2f | %.2f |\n", conns, Payload(payload).c_str(), m.Rate(),
                        o.Rate(), o.Rate() / m.Rate(), m.CpuPerMillion(), o.CpuPerMillion());
            std::fflush(stdout);
        }
}

// Three rounds each, alternating; the median round.
void Bench::Connects() {
    std::vector<Figures> m, o;
    for (int round = 0; round < 3; round++) {
        m.push_back(Measure(m_Mosq, MakeJob(mqttload::LOAD_CONNECT, m_Mosq, m_Opt.connects, 64, 1)));
        o.push_back(Measure(m_Ours, MakeJob(mqttload::LOAD_CONNECT, m_Ours, m_Opt.connects, 64, 1)));
    }
    auto median = [](std::vector<Figures> &v) {
        std::sort(v.begin(), v.end(), [](const Figures &a, const Figures &b) { return a.Rate() < b.Rate(); });
        return v[1];
    };
    const Figures mm = median(m), om = median(o);
    m_dConnect = om.Rate() / mm.Rate();
    std::printf("\nCONNECT to CONNACK, %d fresh connections, 64 connecting at once (median of 3)\n\n"
                "| | mosquitto | ours | ratio |\n|---|---|---|---|\n"
                "| connections/s | %.0f | %.0f | %.2fx |\n| p99 connect to CONNACK | %.0f us | %.0f us | %.2fx |\n"
                "| CPU ms per 1000 | %.1f | %.1f | |\n",
                m_Opt.connects, mm.Rate(), om.Rate(), m_dConnect, mm.r.p99us, om.r.p99us, om.r.p99us / mm.r.p99us,
                mm.cpu / mm.r.messages * 1e6, om.cpu / om.r.messages * 1e6);
    std::fflush(stdout);
}

// QoS 0 ingest with every payload AES-128-CBC encrypted, against the same load in the clear.
void Bench::Keyed() {
    const int conns = 100;
    std::printf("\nOurs alone: QoS 0 ingest with a session key (AES-128-CBC per PUBLISH), %d conns\n\n"
                "| payload | no key msgs/s | key msgs/s | ratio | CPU s/M no key | CPU s/M key | payloads of wrong length |\n"
                "|---|---|---|---|---|---|---|\n",
                conns);
    for (int payload : {64, 1024}) {
        const Figures plain = Measure(m_Ours, MakeJob(mqttload::LOAD_QOS0, m_Ours, conns, payload, m_Opt.batch));
        m_Host.keyed = true;
        m_Host.wrongLength = 0;
        Job job = MakeJob(mqttload::LOAD_QOS0, m_Ours, conns, payload, m_Opt.batch);
        job.encrypt = 1;
        const Figures keyed = Measure(m_Ours, job);
        m_Host.keyed = false;
        m_dKey = std::min(m_dKey, keyed.Rate() / plain.Rate());
        std::printf("| %s | %.0f | %.0f | %.2fx | %.2f | %.2f | %llu |\n", Payload(payload).c_str(), plain.Rate(),
                    keyed.Rate(), keyed.Rate() / plain.Rate(), plain.CpuPerMillion(), keyed.CpuPerMillion(),
                    static_cast<unsigned long long>(m_Host.wrongLength.load()));
        std::fflush(stdout);
    }
}

// The host sends raw QoS 0 PUBLISH frames from four threads; the generator counts what arrives.
void Bench::HostSends() {
    std::printf("\nOurs alone: sends by the host (Morva_MqttServerSend, raw PUBLISH, 4 host threads)\n\n"
                "| conns | payload | msgs/s received | CPU s/M | sends refused |\n|---|---|---|---|---|\n");
    for (int conns : {1, 100}) {
        const int perConn = 200000 / conns;
        Job job = MakeJob(mqttload::LOAD_RECEIVE, m_Ours, conns, 64, 1);
        job.expect = perConn;
        double cpu = 0;
        std::atomic<int> failed{0};
        Figures f = Measure(m_Ours, job, [&] {
            const std::vector<int> handles = m_Host.TakeHandles();
            mqttwire::Bytes data;
            mqttwire::PutString(data, "bench/down");
            data.insert(data.end(), 64, 'y');
            const double cpu0 = CpuSeconds(m_Ours.pid);
            std::vector<std::thread> senders;
            for (size_t t = 0; t < 4; t++)
                senders.emplace_back([&, t] {
                    for (int k = 0; k < perConn; k++)
                        for (size_t h = t; h < handles.size(); h += 4)
                            if (Morva_MqttServerSend(handles[h], MSG_PUBLISH, data.data(), DWORD(data.size()), 1) < 0)
                                failed++;
                });
            for (auto &s : senders)
                s.join();
            cpu = CpuSeconds(m_Ours.pid) - cpu0;
        });
        f.cpu = cpu;
        std::printf("| %d | 64 B | %.0f | %.2f | %d |\n", conns, f.Rate(), f.CpuPerMillion(), failed.load());
        std::fflush(stdout);
    }
}

void Bench::IdleMemory() {
    long before[2] = {}, after[2] = {};
    const Server *servers[2] = {&m_Mosq, &m_Ours};
    for (int i = 0; i < 2; i++) {
        const Server &s = *servers[i];
        before[i] = RssKiB(s.pid);
        Measure(s, MakeJob(mqttload::LOAD_IDLE, s, m_Opt.idle, 64, 1), [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            after[i] = RssKiB(s.pid);
        });
    }
    std::printf("\nMemory per idle session (%d sessions, resident set growth)\n\n| | mosquitto | ours |\n|---|---|---|\n"
                "| RSS before | %ld KiB | %ld KiB |\n| RSS with the sessions | %ld KiB | %ld KiB |\n"
                "| per session | %.1f KiB | %.1f KiB |\n",
                m_Opt.idle, before[0], before[1], after[0], after[1], double(after[0] - before[0]) / m_Opt.idle,
                double(after[1] - before[1]) / m_Opt.idle);
}

// The targets of the parts that ran.
void Bench::Targets() const {
    auto line = [](const char *what, double worst, bool met) {
        std::printf("- %s: worst %.2fx, %s\n", what, worst, met ? "met" : "MISSED");
    };
    std::printf("\nTargets\n\n");
    if (m_Opt.Has("qos1")) {
        line("QoS 1 msgs/s at 1 and 100 conns at least 0.8x mosquitto", m_dQos1Rate, m_dQos1Rate >= 0.8);
        line("QoS 1 p99 at 1 and 100 conns at most 1.5x mosquitto", m_dQos1P99, m_dQos1P99 <= 1.5);
    }
    if (m_Opt.Has("qos0"))
        line("QoS 0 ingest at least 0.8x", m_dQos0, m_dQos0 >= 0.8);
    if (m_Opt.Has("connect"))
        line("connects at least 0.5x", m_dConnect, m_dConnect >= 0.5);
    if (m_Opt.Has("key"))
        line("ingest with a key at least 0.5x our own without", m_dKey, m_dKey >= 0.5);
}

}  // namespace

int main(int argc, char **argv) {
    const Options opt = ParseOptions(argc, argv);
    RaiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    // Both children before any thread of the library exists.
    mqttload::Generator gen;
    Mosquitto mosquitto;
    if (!mosquitto.Start()) {
        std::fprintf(stderr, "mosquitto did not start (/usr/sbin/mosquitto)\n");
        return 1;
    }
    if (Morva_Init() != 1) {
        std::fprintf(stderr, "Morva_Init failed\n");
        return 1;
    }
    Host host;
    MORVA_MQTT_LISTEN_PARAM listen = {};
    std::strcpy(listen.szListenAddr, "127.0.0.1");
    listen.wPort = WORD(FreePort());
    listen.fnCB = Host::Callback;
    listen.pUserData = &host;
    const int iListen = Morva_MqttServerCreateListen(&listen);
    if (iListen < 0) {
        std::fprintf(stderr, "Morva_MqttServerCreateListen failed\n");
        return 1;
    }
    std::printf("mqtt_bench: %.1f s windows after %.1f s warm-up, %d generator threads; load average %s\n", opt.seconds,
                opt.warmup, opt.threads, LoadAverage().c_str());
    {
        Bench bench(opt, gen, {"mosquitto", mosquitto.Pid(), mosquitto.Port()}, {"ours", getpid(), listen.wPort}, host);
        // Idle memory first: the heaps of both servers have not yet grown under earlier loads.
        if (opt.Has("idle"))
            bench.IdleMemory();
        if (opt.Has("qos1"))
            bench.Qos1();
        if (opt.Has("qos0"))
            bench.Qos0();
        if (opt.Has("connect"))
            bench.Connects();
        if (opt.Has("key"))
            bench.Keyed();
        if (opt.Has("send"))
            bench.HostSends();
        bench.Targets();
    }
    std::printf("\nload average at the end %s\n", LoadAverage().c_str());
    Morva_MqttServerDestroyListen(iListen);
    Morva_MqttServerCloseAll();
    Morva_Fini();
    return 0;
}
