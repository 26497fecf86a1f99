// System utilities: debugger output, sleeping, random numbers, processor count, GUIDs and the
// code-page conversions.
#include <sched.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "internal/debug_output.h"
#include "internal/syserr.h"
#include "yar/yar_string.h"

namespace {

constexpr size_t kDebugBufferSize = 5120;
constexpr int kDebugMaxChars = 5118;

// Fills the buffer from the kernel's random source; false when it cannot (very old kernel or a
// seccomp filter).
bool RandomBytes(void *buf, size_t len) {
    auto *out = static_cast<unsigned char *>(buf);
    while (len) {
        ssize_t got = getrandom(out, len, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        out += got;
        len -= static_cast<size_t>(got);
    }
    return true;
}

uint32_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

void SleepNs(uint64_t ns) {
    timespec left{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

extern "C" {

void YAR_OutputDebug(const char *pFormat, ...) {
    if (!pFormat)
        return;
    char buf[kDebugBufferSize];
    va_list args;
    va_start(args, pFormat);
    int len = std::vsnprintf(buf, sizeof buf, pFormat, args);
    va_end(args);
    if (len < 0 || len > kDebugMaxChars) {
        yar::internal::DebugOutput("YAR_OutputDebug error,input parameter is too long!!!");
        return;
    }
    buf[len] = '\n';
    buf[len + 1] = '\0';
    yar::internal::DebugOutput(buf);
}

// Linux sleeps at microsecond resolution: no rounding down to whole milliseconds.
void YAR_USleep(uint64_t u64Microseconds) {
    constexpr uint64_t kMaxUs = UINT64_MAX / 1000;
    SleepNs((u64Microseconds > kMaxUs ? kMaxUs : u64Microseconds) * 1000);
}

void YAR_Sleep(uint32_t dwMilliseconds) {
    SleepNs(static_cast<uint64_t>(dwMilliseconds) * 1000000);
}

uint32_t YAR_Rand(void) {
    uint32_t value;
    if (RandomBytes(&value, sizeof value))
        return value;
    // Seeded locally: reseeding the C library's generator would disturb the host's sequence.
    unsigned seed = MonotonicMs();
    return static_cast<uint32_t>(rand_r(&seed));
}

void YAR_ZeroMemory(void *p, size_t nLen) {
    if (p)
        std::memset(p, 0, nLen);
}

int32_t YAR_GetCPUNumber(void) {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int32_t>(online) : 1;
}

int32_t YAR_CreateGUID(YAR_GUID_T *pGuid) {
    if (!pGuid)
        return -1;
    static_assert(sizeof(YAR_GUID_T) == 16, "GUID record is 16 bytes");
    YAR_GUID_T guid;
    if (!RandomBytes(&guid, sizeof guid)) {
        yar::internal::SetSystemErrorFromErrno(errno);
        return -1;
    }
    guid.Data3 = static_cast<uint16_t>((guid.Data3 & 0x0FFF) | 0x4000);          // version 4
    guid.Data4[0] = static_cast<uint8_t>((guid.Data4[0] & 0x3F) | 0x80);         // RFC 4122 variant
    *pGuid = guid;
    return 0;
}

int32_t YAR_GUIDToString(const YAR_GUID_T *pGuid, char *pBuf, int32_t iLen) {
    if (!pGuid || !pBuf || iLen < 36)
        return -1;
    char text[37];
    const uint8_t *d = pGuid->Data4;
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  pGuid->Data1, pGuid->Data2, pGuid->Data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6],
                  d[7]);
    std::memcpy(pBuf, text, iLen > 36 ? 37 : 36);
    return 0;
}

}  // extern "C"

std::string YAR_AnsiToUtf8(const char *pText) {
    return pText ? std::string(pText) : std::string();
}

std::string YAR_Utf8ToAnsi(const char *pText) {
    return YAR_AnsiToUtf8(pText);
}
