// Discovery under a burst of answers, three tables:
// - intake: N simulated devices answer one inquiry on 37020 as fast as a sender in the peer
//   namespace can send (a child process replaying devsim-shaped answers with sendmmsg; Python
//   devsim sends about 41k/s). The SDK (libZEVA.so) is measured beside a bare loop with the same
//   sockets (37020 and 35090 on the wildcard address joined to the group on the adapter, the
//   loopback relay socket, 8 MiB buffers) that takes every datagram with recvmmsg and parses it
//   with TinyXML into the same record.
// - real: 5000 devices as they answer, the answer and a hello each on both ports (20 000
//   datagrams) paced at 50 000/s; time to the last report and the kernel's receive-buffer drops.
// - adapters (with three peers): the SDK on three adapters, the devices heard through one of
//   them or through all three.
// Each burst is sent again unchanged for the silent figures. Run inside namespaces:
//
//   tests/netns/netns-run.sh -p 1 -- ./build/bench/discovery_bench [intake|real] [log=L] [rounds=R] [N...]
//   tests/netns/netns-run.sh -p 3 -- ./build/bench/discovery_bench [N]
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <tinyxml.h>

#include "module/protocol/MulticastProtocol.h"
#include "module/protocol/ProbeXml.h"
#include "zeva/ZevaSdk.h"

namespace {

const char *kGroup = "239.255.255.250";
const char *kHostAddr = "10.99.1.1";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long Snmp(const char *proto, const char *field) {
    std::ifstream in("/proc/thread-self/net/snmp");
    std::string names, values;
    while (std::getline(in, names) && std::getline(in, values)) {
        if (names.rfind(std::string(proto) + ":", 0) != 0)
            continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == field)
                return std::atol(value.c_str());
    }
    return -1;
}

long Snmp6(const char *field) {
    std::ifstream in("/proc/thread-self/net/snmp6");
    std::string name;
    long value = 0;
    while (in >> name >> value)
        if (name == field)
            return value;
    return -1;
}

long ReadLong(const char *path) {
    std::ifstream in(path);
    long v = -1;
    in >> v;
    return v;
}

// An inquiry answer shaped as devsim builds it, for device n.
std::string Answer(int n) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "02-d5-00-00-%02x-%02x", n >> 8 & 255, n & 255);
    std::string e = "<DeviceType>139</DeviceType><DeviceDescription>DS-SIM" + std::to_string(n % 10000) +
                    "</DeviceDescription><DeviceSN>DS-SIM-" + std::to_string(n) +
                    "</DeviceSN><CommandPort>8000</CommandPort><HttpPort>80</HttpPort><MAC>" + mac +
                    "</MAC><IPv4Address>10.99." + std::to_string(n / 250 + 2) + "." + std::to_string(n % 250 + 1) +
                    "</IPv4Address><IPv4SubnetMask>255.255.0.0</IPv4SubnetMask><IPv4Gateway>10.99.1.1</IPv4Gateway>"
                    "<IPv6Address>fd99:1::" + std::to_string(n + 100) +
                    "</IPv6Address><IPv6Gateway>::</IPv6Gateway><IPv6MaskLen>64</IPv6MaskLen><DHCP>false</DHCP>"
                    "<AnalogChannelNum>0</AnalogChannelNum><DigitalChannelNum>4</DigitalChannelNum>"
                    "<SoftwareVersion>V5.7.3build 261210</SoftwareVersion><DSPVersion>V7.3build 261210</DSPVersion>"
                    "<BootTime>2026-12-10 00:00:00</BootTime><DiskNumber>1</DiskNumber><OEMInfo>SIMULATOR</OEMInfo>"
                    "<Encrypt>true</Encrypt><ResetAbility>false</ResetAbility>"
                    "<PasswordResetAbility>true</PasswordResetAbility><SyncIPCPassword>true</SyncIPCPassword>"
                    "<Activated>true</Activated><PasswordResetModeSecond>true</PasswordResetModeSecond>"
                    "<DeviceLock>true</DeviceLock><SupportGUID>true</SupportGUID>"
                    "<SupportSecurityQuestion>true</SupportSecurityQuestion><SupportBind>true</SupportBind>"
                    "<Salt>5f0b6a1c0e2d4b8a9c7e6f5d4c3b2a1908f7e6d5c4b3a29180706050403020100</Salt>"
                    "<DRAVVersion>3.0</DRAVVersion><UserName>admin</UserName><supportIPv6>true</supportIPv6>"
                    "<supportModifyIPv6>true</supportModifyIPv6><DHCPAbility>true</DHCPAbility>"
                    "<OEMCode>false</OEMCode><DetailOEMCode>0</DetailOEMCode><MaxBindNum>8</MaxBindNum>"
                    "<HttpsPort>443</HttpsPort><SDKOverTLSPort>8443</SDKOverTLSPort>"
                    "<SecurityMode>standard</SecurityMode><manufacturer>devsim</manufacturer>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Probe><Uuid>BENCH</Uuid><Types>inquiry</Types>" + e +
           "</Probe>";
}

// A hello as a device announces itself: its answer under another type word and Uuid.
std::string Hello(int n) {
    const std::string inquiry = "<Uuid>BENCH</Uuid><Types>inquiry</Types>";
    std::string text = Answer(n);
    text.replace(text.find(inquiry), inquiry.size(), "<Uuid>HELLO</Uuid><Types>hello</Types>");
    return text;
}

struct Datagram {
    std::string text;
    uint16_t port;
};

// What n devices send: one answer each to 37020, or as devices really answer, the answer on
// both ports and a hello on both.
std::vector<Datagram> Burst(int n, bool bReal) {
    std::vector<Datagram> out;
    for (int i = 0; i < n; ++i) {
        out.push_back({Answer(i), 37020});
        if (!bReal)
            continue;
        out.push_back({Answer(i), 35090});
        std::string hello = Hello(i);
        out.push_back({hello, 37020});
        out.push_back({hello, 35090});
    }
    return out;
}

// The sender: a process of its own (this program started again with "--sender") with a socket in
// each given peer namespace. It waits for an inquiry on the first, sends every datagram through
// each socket (at most `rate` a second in all when rate is set), reports (inquiry time, send end)
// on its pipe, and does the same again each time the parent writes a byte, until the parent
// closes the pipe. A fork of the measuring process would leave every page it had then shared
// copy-on-write: whichever receive thread took up a used malloc arena paid for copying its pages
// and the TLB shoot-downs, and single rounds scattered by a third.
struct Sender {
    pid_t pid = -1;
    int toChild = -1, fromChild = -1;

    Sender(const std::vector<std::string> &peers, int n, bool bReal, double rate = 0) {
        int down[2], up[2];
        if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0)
            std::exit(1);
        std::vector<std::string> args = {"/proc/self/exe", "--sender", std::to_string(n), bReal ? "1" : "0",
                                          std::to_string(rate)};
        for (const std::string &peer : peers)
            args.push_back("/run/netns/" + peer);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, down[0], kSenderIn);
        posix_spawn_file_actions_adddup2(&fa, up[1], kSenderOut);
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            std::exit(1);
        posix_spawn_file_actions_destroy(&fa);
        close(down[0]);
        close(up[1]);
        toChild = down[1];
        fromChild = up[0];
        char ready;
        if (read(fromChild, &ready, 1) != 1)
            std::exit(1);
    }
    static constexpr int kSenderIn = 3, kSenderOut = 4;

    // The sender process's whole life.
    static int Main(int argc, char **argv) {
        if (argc < 6)
            return 2;
        std::vector<Datagram> burst = Burst(std::atoi(argv[2]), argv[3][0] == '1');
        double rate = std::atof(argv[4]);
        std::vector<mmsghdr> msgs(burst.size());
        std::vector<iovec> iov(burst.size());
        std::vector<sockaddr_in> to(burst.size());
        for (size_t i = 0; i < burst.size(); ++i) {
            to[i] = {};
            to[i].sin_family = AF_INET;
            to[i].sin_port = htons(burst[i].port);
            inet_pton(AF_INET, kGroup, &to[i].sin_addr);
            iov[i] = {const_cast<char *>(burst[i].text.data()), burst[i].text.size()};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &to[i];
            msgs[i].msg_hdr.msg_namelen = sizeof to[i];
        }
        std::vector<int> socks;
        for (int i = 5; i < argc; ++i)
            socks.push_back(PeerSocket(argv[i], i - 4, i == 5));
        char go = 1;
        if (write(kSenderOut, &go, 1) != 1)
            return 3;
        for (;;) {
            char buf[2048];
            ssize_t got = recv(socks[0], buf, sizeof buf, 0);
            if (got <= 0 || !memmem(buf, size_t(got), "<Types>inquiry</Types>", 22))
                continue;
            double times[2] = {Now(), 0};
            SendAll(socks, msgs, rate);
            times[1] = Now();
            if (write(kSenderOut, times, sizeof times) != sizeof times || read(kSenderIn, &go, 1) != 1)
                return 0;
        }
    }
    // In the sender: a socket in peer namespace `index` (address 10.99.index.2), joined to the
    // group where it listens for the inquiry.
    static int PeerSocket(const std::string &path, int index, bool bListen) {
        int nsfd = open(path.c_str(), O_RDONLY);
        if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0)
            _exit(2);
        close(nsfd);
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1, big = 64 << 20;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(s, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big);
        char addr[32];
        std::snprintf(addr, sizeof addr, "10.99.%d.2", index);
        ip_mreq mreq{};
        inet_pton(AF_INET, kGroup, &mreq.imr_multiaddr);
        inet_pton(AF_INET, addr, &mreq.imr_interface);
        if (bListen) {
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(37020);
            bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any);
            setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
        }
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &mreq.imr_interface, sizeof mreq.imr_interface);
        unsigned char loop = 0;
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
        return s;
    }
    // Chunks of 64 datagrams through every socket; with a rate, each chunk waits for its time.
    static void SendAll(const std::vector<int> &socks, std::vector<mmsghdr> &msgs, double rate) {
        const size_t CHUNK = 64;
        double start = Now();
        for (size_t at = 0; at < msgs.size(); at += CHUNK) {
            if (rate > 0)
                while (Now() < start + double(at * socks.size()) / rate)
                    usleep(200);
            size_t count = std::min(CHUNK, msgs.size() - at);
            for (int s : socks) {
                for (size_t sent = 0; sent < count;) {
                    int n = sendmmsg(s, msgs.data() + at + sent, unsigned(count - sent), 0);
                    if (n <= 0)
                        _exit(4);
                    sent += size_t(n);
                }
            }
        }
    }
    // The times of the next burst.
    void NextBurst(double *pInquiry, double *pEnd) {
        double times[2];
        if (read(fromChild, times, sizeof times) != sizeof times)
            std::exit(1);
        *pInquiry = times[0];
        *pEnd = times[1];
    }
    void Again() {
        char go = 1;
        if (write(toChild, &go, 1) != 1)
            std::exit(1);
    }
    ~Sender() {
        close(toChild);
        close(fromChild);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

// Waits until none of the host's UDP sockets holds queued datagrams for 50 ms.
void WaitDrained() {
    int quiet = 0;
    while (quiet < 5) {
        std::ifstream in("/proc/thread-self/net/udp");
        std::string line;
        std::getline(in, line);
        bool queued = false;
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, st, queues;
            f >> sl >> local >> remote >> st >> queues;
            queued |= queues.substr(queues.find(':') + 1) != "00000000";
        }
        quiet = queued ? 0 : quiet + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct SdkRun {
    std::atomic<int> reports{0};
    std::atomic<double> last{0};
    static void OnDevice(ZEVA_DEVICE_INFO *, void *user) {
        SdkRun *self = static_cast<SdkRun *>(user);
        self->reports++;
        self->last = Now();
    }
};

struct Figures {
    int reported = 0;
    long rcvbufErrors = 0, rcvbufErrors6 = 0;
    double seconds = 0, sendSeconds = 0, cpu = 0, silentCpu = 0;
};

int g_logLevel = -1;  // the SDK's own default unless given

// The SDK started on every adapter of the namespace; stopped again when this ends.
struct Sdk {
    SdkRun run;
    explicit Sdk() {
        if (g_logLevel >= 0)
            ZEVA_SetLogToFile(g_logLevel, "sdklog", 1);
        ZEVA_SetAutoRequestInterval(0);
        if (!ZEVA_Start_V60(nullptr, SdkRun::OnDevice, nullptr, &run)) {
            std::fprintf(stderr, "ZEVA_Start_V60 failed: %u\n", ZEVA_GetLastError());
            std::exit(1);
        }
    }
    ~Sdk() { ZEVA_Stop(); }
};

// One inquiry, the burst of n devices and its silent repeat: time to the last report, CPU of the
// whole process for each burst (the start's own cost left out), the kernel's drops.
Figures RunSdk(const std::vector<std::string> &peers, int n, bool bReal, double rate = 0) {
    Sender sender(peers, n, bReal, rate);
    Figures f;
    long errors = Snmp("Udp", "RcvbufErrors"), errors6 = Snmp6("Udp6RcvbufErrors");
    Sdk sdk;
    double cpu = CpuSeconds();  // the start sends the first inquiry
    double inquiry, end;
    sender.NextBurst(&inquiry, &end);
    while (sdk.run.reports.load() < n && Now() < end + 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    WaitDrained();
    f.reported = sdk.run.reports.load();
    f.seconds = sdk.run.last.load() - inquiry;
    f.sendSeconds = end - inquiry;
    f.cpu = CpuSeconds() - cpu;
    // The same datagrams again: nothing changed, so nothing is reported.
    ZEVA_SendInquiry();
    sender.Again();
    cpu = CpuSeconds();
    sender.NextBurst(&inquiry, &end);
    WaitDrained();
    f.silentCpu = CpuSeconds() - cpu;
    f.rcvbufErrors = Snmp("Udp", "RcvbufErrors") - errors;
    f.rcvbufErrors6 = Snmp6("Udp6RcvbufErrors") - errors6;
    return f;
}

int GroupSocket(uint16_t port, const char *group, const char *ifaddr, const char *bindAddr, int *pGranted) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1, size = 8 << 20;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    socklen_t len = sizeof *pGranted;
    getsockopt(s, SOL_SOCKET, SO_RCVBUF, pGranted, &len);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, bindAddr, &a.sin_addr);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ip_mreq mreq{};
    inet_pton(AF_INET, group, &mreq.imr_multiaddr);
    inet_pton(AF_INET, ifaddr, &mreq.imr_interface);
    setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &mreq.imr_interface, sizeof mreq.imr_interface);
    timeval tv{0, 100000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return s;
}

// The limit: the same sockets, one thread each, recvmmsg and a parse into the record.
Figures RunBare(const std::string &peer, int n, int *pGranted) {
    Sender sender({peer}, n, false);
    int socks[3] = {GroupSocket(37020, kGroup, kHostAddr, "0.0.0.0", pGranted),
                    GroupSocket(35090, kGroup, kHostAddr, "0.0.0.0", pGranted),
                    GroupSocket(47020, "239.255.255.251", "127.0.0.1", "127.0.0.1", pGranted)};
    std::mutex lock;
    std::unordered_set<std::string> macs;
    std::atomic<double> last{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int s : socks) {
        readers.emplace_back([&, s] {
            enum { BATCH = 64, SIZE = 10240 };
            std::vector<char> bufs(size_t(BATCH) * SIZE);
            mmsghdr msgs[BATCH];
            iovec iov[BATCH];
            ZEVA::CMulticastProtocol protocol;
            while (!stop.load()) {
                for (int i = 0; i < BATCH; ++i) {
                    iov[i] = {&bufs[size_t(i) * SIZE], SIZE - 1};
                    msgs[i] = {};
                    msgs[i].msg_hdr.msg_iov = &iov[i];
                    msgs[i].msg_hdr.msg_iovlen = 1;
                }
                int n = recvmmsg(s, msgs, BATCH, MSG_WAITFORONE, nullptr);
                for (int i = 0; i < n; ++i) {
                    TiXmlDocument doc;
                    const TiXmlElement *root = ZEVA::ParseProbe(&bufs[size_t(i) * SIZE], msgs[i].msg_len, doc);
                    ZEVA_DEVICE_INFO dev;
                    char salt[ZEVA::SALT_FIELD_LEN], salt2[ZEVA::SALT_FIELD_LEN];
                    uint8_t protocolByte = 0;
                    if (!root || protocol.ParseDeviceInfo(root, &dev, salt, salt2, &protocolByte) != 0)
                        continue;
                    std::lock_guard<std::mutex> guard(lock);
                    if (macs.insert(std::string(dev.szMAC, strnlen(dev.szMAC, sizeof dev.szMAC))).second)
                        last = Now();
                }
            }
        });
    }
    Figures f;
    long errors = Snmp("Udp", "RcvbufErrors");
    double cpu = CpuSeconds();
    std::string inquiry = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Probe><Uuid>B</Uuid><Types>inquiry</Types></Probe>";
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(37020);
    inet_pton(AF_INET, kGroup, &to.sin_addr);
    sendto(socks[0], inquiry.data(), inquiry.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    double start, end;
    sender.NextBurst(&start, &end);
    auto count = [&] {
        std::lock_guard<std::mutex> guard(lock);
        return int(macs.size());
    };
    while (count() < n && Now() < end + 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    WaitDrained();
    f.reported = count();
    f.seconds = last.load() - start;
    f.sendSeconds = end - start;
    f.cpu = CpuSeconds() - cpu;
    f.rcvbufErrors = Snmp("Udp", "RcvbufErrors") - errors;
    stop = true;
    for (std::thread &t : readers)
        t.join();
    for (int s : socks)
        close(s);
    return f;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

int g_rounds = 5;

// One datagram per device, beside the bare loop: rounds of the two in turn, since single figures
// of a shared VM scatter by half their size; the medians and the ratios' range.
void IntakeTable(const std::string &peer, const std::vector<int> &counts) {
    std::printf("\nOne answer per device to 37020 (the relay adds one more reception each), median of %d rounds\n",
                g_rounds);
    std::printf("%6s | %-9s %7s %8s %9s %8s %8s | %9s %8s | %17s %17s\n", "N", "reported", "rcvbuf", "ms",
                "answers/s", "us CPU/a", "silent/a", "bare a/s", "bare CPU", "rate [range]", "CPU [range]");
    for (int n : counts) {
        std::vector<double> ms, rate, cpu, silent, bareRate, bareCpu, rateRatio, cpuRatio;
        int reported = n, bareReported = n, granted = 0;
        long rcvbuf = 0, bareRcvbuf = 0;
        for (int r = 0; r < g_rounds; ++r) {
            Figures sdk = RunSdk({peer}, n, false);
            Figures bare = RunBare(peer, n, &granted);
            reported = std::min(reported, sdk.reported);
            bareReported = std::min(bareReported, bare.reported);
            rcvbuf += sdk.rcvbufErrors;
            bareRcvbuf += bare.rcvbufErrors;
            ms.push_back(sdk.seconds * 1e3);
            rate.push_back(sdk.reported / sdk.seconds);
            cpu.push_back(sdk.cpu / n * 1e6);
            silent.push_back(sdk.silentCpu / n * 1e6);
            bareRate.push_back(bare.reported / bare.seconds);
            bareCpu.push_back(bare.cpu / n * 1e6);
            rateRatio.push_back(rate.back() / bareRate.back());
            cpuRatio.push_back(sdk.cpu / bare.cpu);
        }
        auto range = [](const std::vector<double> &v) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f [%.2f-%.2f]", Median(v), *std::min_element(v.begin(), v.end()),
                          *std::max_element(v.begin(), v.end()));
            return std::string(text);
        };
        std::printf("%6d | %4d/%-4d %7ld %8.1f %9.0f %8.1f %8.1f | %9.0f %8.1f | %17s %17s\n", n, reported, n,
                    rcvbuf, Median(ms), Median(rate), Median(cpu), Median(silent), Median(bareRate), Median(bareCpu),
                    range(rateRatio).c_str(), range(cpuRatio).c_str());
        std::printf("       bare loop: fewest reported %d/%d, rcvbuf errors %ld in all rounds, granted receive buffer "
                    "%d bytes\n",
                    bareReported, n, bareRcvbuf, granted);
    }
}

// Devices as they answer: the answer on both ports and a hello on both, paced.
void RealTable(const std::string &peer, int n, double rate) {
    std::printf("\n%d devices, 4 datagrams each (answer and hello, both ports) at %.0f/s\n", n, rate);
    std::printf("%-9s %8s %8s %9s %15s | %10s %10s %10s %8s %8s\n", "reported", "ms", "send ms", "UdpRcvbuf",
                "Udp6RcvbufErrs", "us CPU/dev", "us CPU/dg", "silent/dg", "/new dg", "/new dev");
    const double datagrams = 4.0 * n;
    Figures f = RunSdk({peer}, n, true, rate);
    double perDevice = f.cpu / n * 1e6, perDatagram = f.cpu / datagrams * 1e6, silent = f.silentCpu / datagrams * 1e6;
    std::printf("%4d/%-4d %8.1f %8.1f %9ld %15ld | %10.1f %10.1f %10.1f %8.3f %8.3f\n", f.reported, n,
                f.seconds * 1e3, f.sendSeconds * 1e3, f.rcvbufErrors, f.rcvbufErrors6, perDevice, perDatagram, silent,
                silent / perDatagram, silent / perDevice);
}

// The SDK on three adapters; the devices heard through one of them or through all three.
void AdapterTable(const std::vector<std::string> &peers, int n) {
    std::printf("\n%d devices, one answer each to 37020, the SDK on %zu adapters\n", n, peers.size());
    std::printf("%-10s | %-9s %8s %9s %9s %9s\n", "heard on", "reported", "ms", "rcvbuf", "us CPU/a", "silent/a");
    double one = 0;
    for (size_t heard : {size_t(1), peers.size()}) {
        std::vector<std::string> from(peers.begin(), peers.begin() + long(heard));
        Figures f = RunSdk(from, n, false);
        double perAnswer = f.cpu / n * 1e6;
        if (heard == 1)
            one = perAnswer;
        std::printf("%zu adapter%-2s | %4d/%-4d %8.1f %9ld %9.1f %9.1f", heard, heard == 1 ? "" : "s", f.reported, n,
                    f.seconds * 1e3, f.rcvbufErrors, perAnswer, f.silentCpu / n * 1e6);
        if (heard > 1)
            std::printf("   (%.2fx the one adapter's CPU)", perAnswer / one);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--sender") == 0)
        return Sender::Main(argc, argv);
    const char *peerList = std::getenv("ZEVA_NETNS_PEERS");
    if (!peerList || !std::getenv("ZEVA_NETNS_HOST")) {
        std::fprintf(stderr, "run inside namespaces: tests/netns/netns-run.sh -p 1 -- %s\n", argv[0]);
        return 77;
    }
    std::vector<std::string> peers;
    std::istringstream names(peerList);
    for (std::string name; names >> name;)
        peers.push_back(name);
    // "intake" or "real" alone runs that table only (for a profile of one of them); "log=L" sets
    // the SDK's log level (by default its own, 3: every report writes a line to the log file);
    // "rounds=R" the intake table's rounds.
    std::string only;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (std::isdigit(static_cast<unsigned char>(arg[0])))
            counts.push_back(std::atoi(arg.c_str()));
        else if (arg.rfind("log=", 0) == 0)
            g_logLevel = std::atoi(arg.c_str() + 4);
        else if (arg.rfind("rounds=", 0) == 0)
            g_rounds = std::max(1, std::atoi(arg.c_str() + 7));
        else
            only = arg;
    }
    if (counts.empty())
        counts = {100, 1000, 5000};
    std::printf("net.core.rmem_max %ld\n", ReadLong("/proc/sys/net/core/rmem_max"));
    if (peers.size() > 1) {
        AdapterTable(peers, counts.back());
        return 0;
    }
    if (only != "real")
        IntakeTable(peers[0], counts);
    if (only != "intake")
        RealTable(peers[0], 5000, 50000);
    return 0;
}
