// Processor, memory and interface statistics from /proc and /sys.
#include <net/if.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "internal/syserr.h"
#include "yar/yar_error.h"
#include "yar/yar_string.h"

namespace {

static_assert(sizeof(YAR_PROCESSOR_TIME_T) == 56, "processor-time record is 56 bytes");
static_assert(sizeof(YAR_MEMORY_STATUS_T) == 48, "memory-status record is 48 bytes");
static_assert(offsetof(YAR_IF_STATS_T, dwIndex) == 260 && sizeof(YAR_IF_STATS_T) == 284,
              "interface statistics layout");
static_assert(offsetof(YAR_IF_STATS2_T, u64Speed) == 264 && sizeof(YAR_IF_STATS2_T) == 304,
              "64-bit interface statistics layout");

// Clock ticks of /proc/stat in the 100 ns units callers expect.
uint64_t TicksTo100ns(uint64_t ticks) {
    static const uint64_t hz = [] {
        long v = sysconf(_SC_CLK_TCK);
        return v > 0 ? static_cast<uint64_t>(v) : 100u;
    }();
    return ticks * (10000000u / hz);
}

// The "cpuN" lines of /proc/stat, in the kernel's order.
bool ReadProcessorTimes(std::vector<YAR_PROCESSOR_TIME_T> *out) {
    std::ifstream stat("/proc/stat");
    if (!stat)
        return false;
    std::string line;
    while (std::getline(stat, line)) {
        if (line.compare(0, 3, "cpu") != 0 || line.size() < 4 || line[3] < '0' || line[3] > '9')
            continue;
        uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
        if (std::sscanf(line.c_str(), "%*s %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
                                      " %" SCNu64 " %" SCNu64,
                        &user, &nice, &system, &idle, &iowait, &irq, &softirq) < 4)
            return false;
        YAR_PROCESSOR_TIME_T t{};
        t.u64IdleTime = TicksTo100ns(idle + iowait);
        // Kernel time includes idle time, as the Windows counters count it.
        t.u64KernelTime = TicksTo100ns(system + irq + softirq + idle + iowait);
        t.u64UserTime = TicksTo100ns(user + nice);
        t.u64DpcTime = TicksTo100ns(softirq);
        t.u64InterruptTime = TicksTo100ns(irq);
        out->push_back(t);
    }
    return !out->empty();
}

// Value in kB of one "Name: value kB" line of a /proc status file, in bytes; -1 when missing.
int64_t ReadKbField(const char *path, const char *name) {
    std::ifstream file(path);
    std::string line;
    size_t nameLen = std::strlen(name);
    while (std::getline(file, line)) {
        if (line.compare(0, nameLen, name) == 0 && line.size() > nameLen && line[nameLen] == ':')
            return std::strtoll(line.c_str() + nameLen + 1, nullptr, 10) * 1024;
    }
    return -1;
}

struct IfCounters {
    uint64_t speedBits = 0;
    uint64_t inOctets = 0, inPackets = 0, outOctets = 0, outPackets = 0;
};

bool ReadSysValue(const std::string &path, int64_t *value) {
    std::ifstream file(path);
    return static_cast<bool>(file >> *value);
}

bool ReadIfCounters(uint32_t index, IfCounters *c) {
    char name[IF_NAMESIZE];
    if (!if_indextoname(index, name)) {
        yar::internal::SetSystemErrorFromErrno(errno);
        return false;
    }
    const std::string base = std::string("/sys/class/net/") + name + "/";
    int64_t v[4];
    const char *files[4] = {"rx_bytes", "rx_packets", "tx_bytes", "tx_packets"};
    for (int i = 0; i < 4; ++i) {
        if (!ReadSysValue(base + "statistics/" + files[i], &v[i])) {
            yar::internal::SetSystemErrorFromErrno(errno ? errno : ENOENT);
            return false;
        }
    }
    c->inOctets = static_cast<uint64_t>(v[0]);
    c->inPackets = static_cast<uint64_t>(v[1]);
    c->outOctets = static_cast<uint64_t>(v[2]);
    c->outPackets = static_cast<uint64_t>(v[3]);
    // Down links and virtual devices have no speed (read error or -1): report 0, as unknown.
    int64_t mbits = 0;
    if (ReadSysValue(base + "speed", &mbits) && mbits > 0)
        c->speedBits = static_cast<uint64_t>(mbits) * 1000000u;
    return true;
}

}  // namespace

extern "C" {

int32_t YAR_GetProcessorTimes(YAR_PROCESSOR_TIME_T *pTimes, uint32_t *pSize) {
    if (!pSize)
        return -1;
    std::vector<YAR_PROCESSOR_TIME_T> times;
    if (!ReadProcessorTimes(&times)) {
        yar::internal::SetSystemErrorFromErrno(errno ? errno : EIO);
        return -1;
    }
    const uint32_t needed = static_cast<uint32_t>(times.size() * sizeof(YAR_PROCESSOR_TIME_T));
    const uint32_t given = *pSize;
    *pSize = needed;
    if (!pTimes || given < needed)
        return -1;
    std::memcpy(pTimes, times.data(), needed);
    return 0;
}

int32_t YAR_GetMemoryStatus(YAR_MEMORY_STATUS_T *pStatus) {
    if (!pStatus)
        return -1;
    const int64_t total = ReadKbField("/proc/meminfo", "MemTotal");
    const int64_t avail = ReadKbField("/proc/meminfo", "MemAvailable");
    const int64_t swapTotal = ReadKbField("/proc/meminfo", "SwapTotal");
    const int64_t swapFree = ReadKbField("/proc/meminfo", "SwapFree");
    const int64_t vmSize = ReadKbField("/proc/self/status", "VmSize");
    if (total < 0 || avail < 0 || swapTotal < 0 || swapFree < 0 || vmSize < 0) {
        YAR_SetSystemLastError(YAR_SYSERR_FILE_NOT_FOUND);
        return -1;
    }
    // The address space is the limit set on the process, else the 47-bit user space of x86-64.
    uint64_t virtualTotal = 1ull << 47;
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        virtualTotal = limit.rlim_cur;
    pStatus->u64TotalPhys = static_cast<uint64_t>(total);
    pStatus->u64AvailPhys = static_cast<uint64_t>(avail);
    pStatus->u64TotalPageFile = static_cast<uint64_t>(total + swapTotal);
    pStatus->u64AvailPageFile = static_cast<uint64_t>(avail + swapFree);
    pStatus->u64TotalVirtual = virtualTotal;
    pStatus->u64AvailVirtual =
        virtualTotal > static_cast<uint64_t>(vmSize) ? virtualTotal - static_cast<uint64_t>(vmSize) : 0;
    return 0;
}

int32_t YAR_GetIfStats(YAR_IF_STATS_T *pStats) {
    IfCounters c;
    if (!pStats || !ReadIfCounters(pStats->dwIndex, &c))
        return -1;
    pStats->dwSpeed = c.speedBits > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(c.speedBits);
    pStats->dwInOctets = static_cast<uint32_t>(c.inOctets);
    pStats->dwInPackets = static_cast<uint32_t>(c.inPackets);
    pStats->dwOutOctets = static_cast<uint32_t>(c.outOctets);
    pStats->dwOutPackets = static_cast<uint32_t>(c.outPackets);
    return 0;
}

int32_t YAR_GetIfStats2(YAR_IF_STATS2_T *pStats) {
    IfCounters c;
    if (!pStats || !ReadIfCounters(pStats->dwIndex, &c))
        return -1;
    pStats->u64Speed = c.speedBits;
    pStats->u64InOctets = c.inOctets;
    pStats->u64InPackets = c.inPackets;
    pStats->u64OutOctets = c.outOctets;
    pStats->u64OutPackets = c.outPackets;
    return 0;
}

}  // extern "C"
