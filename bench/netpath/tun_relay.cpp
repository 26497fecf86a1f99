// A delay line between two TUN devices: every packet read from one is written into the other
// after a fixed delay, in order. With policy routing in the middle namespace of a path this
// gives one-way delay where the kernel has no netem.
//   netpath_tun_relay DEV_A DEV_B DELAY_MS
// Creates both devices (no packet information header) and runs until SIGTERM or SIGINT.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_bStop = 0;

int OpenTun(const char *pName) {
    int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ifreq ifr = {};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(ifr.ifr_name, pName, IFNAMSIZ - 1);
    if (ioctl(fd, TUNSETIFF, &ifr) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

struct Held {
    Clock::time_point due;
    std::vector<char> packet;
};

// One direction: packets read from iFrom wait in the line and leave through iTo when due.
struct Line {
    int iFrom;
    int iTo;
    std::deque<Held> held;

    void Read(Clock::duration delay) {
        char buf[65536];
        for (;;) {
            ssize_t n = read(iFrom, buf, sizeof buf);
            if (n <= 0)
                return;
            held.push_back({Clock::now() + delay, std::vector<char>(buf, buf + n)});
        }
    }
    void Flush() {
        const auto now = Clock::now();
        while (!held.empty() && held.front().due <= now) {
            // A full device queue drops the packet, as a router would.
            (void)!write(iTo, held.front().packet.data(), held.front().packet.size());
            held.pop_front();
        }
    }
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DEV_A DEV_B DELAY_MS\n", argv[0]);
        return 2;
    }
    const auto delay = std::chrono::microseconds(std::atol(argv[3]) * 1000);
    const int fdA = OpenTun(argv[1]);
    const int fdB = OpenTun(argv[2]);
    if (fdA < 0 || fdB < 0) {
        std::perror("tun");
        return 1;
    }
    signal(SIGTERM, [](int) { g_bStop = 1; });
    signal(SIGINT, [](int) { g_bStop = 1; });
    std::printf("ready\n");
    std::fflush(stdout);
    Line lines[2] = {{fdA, fdB, {}}, {fdB, fdA, {}}};
    while (!g_bStop) {
        // Wake for input or for the next packet due, whichever comes first.
        auto next = Clock::now() + std::chrono::milliseconds(50);
        for (const Line &l : lines)
            if (!l.held.empty() && l.held.front().due < next)
                next = l.held.front().due;
        timespec ts = {};
        const auto wait = std::max(Clock::duration::zero(), next - Clock::now());
        ts.tv_nsec = long(std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count());
        pollfd p[2] = {{fdA, POLLIN, 0}, {fdB, POLLIN, 0}};
        ppoll(p, 2, &ts, nullptr);
        for (int i = 0; i < 2; i++)
            if (p[i].revents & POLLIN)
                lines[i].Read(delay);
        for (Line &l : lines)
            l.Flush();
    }
    return 0;
}
