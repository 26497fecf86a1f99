// Process counters in the shape of the Windows performance-data helper, read from
// /proc/<pid>/status: a path builder with the two-call length protocol, and one-shot queries of
// "\Process(<name>_<pid>)\<counter>" for "Thread Count", "Virtual Bytes" and "Working Set".
#pragma once

#include <cstdint>

namespace Vorezi {
namespace platform {

enum : uint32_t {
    PERF_OK = 0,
    PERF_MORE_DATA = 0x800007D2,
    PERF_INVALID_ARGUMENT = 0xC0000BBD,
    PERF_NO_OBJECT = 0xC0000BB8,
    PERF_NO_COUNTER = 0xC0000BB9,
    PERF_NO_DATA = 0xC0000BBA,
};

struct PerfCounterPathElements {
    const char *pObjectName;    // only "Process"
    const char *pInstanceName;  // "<name>_<pid>"
    const char *pCounterName;
};

struct PerfQuery;
struct PerfCounter;

// With no buffer (or one too small) answers PERF_MORE_DATA and the length without terminator in
// *pLength; else writes the path and its terminator.
uint32_t PerfMakeCounterPath(const PerfCounterPathElements *pElements, char *pBuffer, uint32_t *pLength);
uint32_t PerfOpenQuery(PerfQuery **ppQuery);
uint32_t PerfAddCounter(PerfQuery *pQuery, const char *pPath, PerfCounter **ppCounter);
// Takes one sample of every counter of the query.
uint32_t PerfCollectQueryData(PerfQuery *pQuery);
uint32_t PerfGetFormattedCounterValue(PerfCounter *pCounter, double *pValue);
uint32_t PerfRemoveCounter(PerfCounter *pCounter);
uint32_t PerfCloseQuery(PerfQuery *pQuery);

// The executable's file name without directory and extension ("" when it cannot be read).
void PerfGetProcessName(char *pName, int iSize);

}  // namespace platform
}  // namespace Vorezi
