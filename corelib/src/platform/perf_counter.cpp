#include "platform/perf_counter.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace Vorezi {
namespace platform {

namespace {

// The status field of each counter and the factor from its unit to the counter's unit.
struct CounterField {
    const char *pCounter;
    const char *pField;
    double dScale;
};
const CounterField kFields[] = {
    {"Thread Count", "Threads:", 1.0},
    {"Virtual Bytes", "VmSize:", 1024.0},  // status gives kB
    {"Working Set", "VmRSS:", 1024.0},
};

// "\Process(<name>_<pid>)\<counter>": the pid is the text after the last '_' of the instance.
bool ParsePath(const char *pPath, long *pPid, const CounterField **ppField) {
    static const char kPrefix[] = "\\Process(";
    if (std::strncmp(pPath, kPrefix, sizeof(kPrefix) - 1) != 0)
        return false;
    const char *pClose = std::strstr(pPath, ")\\");
    if (!pClose)
        return false;
    std::string instance(pPath + sizeof(kPrefix) - 1, pClose);
    size_t underscore = instance.rfind('_');
    if (underscore == std::string::npos || underscore + 1 == instance.size())
        return false;
    char *pEnd = nullptr;
    long pid = std::strtol(instance.c_str() + underscore + 1, &pEnd, 10);
    if (*pEnd != '\0' || pid <= 0)
        return false;
    for (const CounterField &field : kFields) {
        if (std::strcmp(pClose + 2, field.pCounter) == 0) {
            *pPid = pid;
            *ppField = &field;
            return true;
        }
    }
    return false;
}

bool ReadStatusField(long pid, const char *pField, double *pValue) {
    char szPath[64];
    std::snprintf(szPath, sizeof(szPath), "/proc/%ld/status", pid);
    FILE *pFile = std::fopen(szPath, "r");
    if (!pFile)
        return false;
    char szLine[256];
    bool bFound = false;
    size_t len = std::strlen(pField);
    while (std::fgets(szLine, sizeof(szLine), pFile)) {
        if (std::strncmp(szLine, pField, len) == 0) {
            *pValue = std::strtod(szLine + len, nullptr);
            bFound = true;
            break;
        }
    }
    std::fclose(pFile);
    return bFound;
}

}  // namespace

struct PerfCounter {
    PerfQuery *pQuery;
    long pid;
    const CounterField *pField;
    bool bHasValue = false;
    double dValue = 0;
};

struct PerfQuery {
    std::vector<PerfCounter *> counters;
};

uint32_t PerfMakeCounterPath(const PerfCounterPathElements *pElements, char *pBuffer, uint32_t *pLength) {
    if (!pElements || !pLength || !pElements->pObjectName || !pElements->pInstanceName || !pElements->pCounterName)
        return PERF_INVALID_ARGUMENT;
    int n = std::snprintf(nullptr, 0, "\\%s(%s)\\%s", pElements->pObjectName, pElements->pInstanceName,
                          pElements->pCounterName);
    if (n < 0)
        return PERF_INVALID_ARGUMENT;
    if (!pBuffer || *pLength < (uint32_t)n + 1) {
        *pLength = (uint32_t)n;
        return PERF_MORE_DATA;
    }
    std::snprintf(pBuffer, (size_t)n + 1, "\\%s(%s)\\%s", pElements->pObjectName, pElements->pInstanceName,
                  pElements->pCounterName);
    *pLength = (uint32_t)n;
    return PERF_OK;
}

uint32_t PerfOpenQuery(PerfQuery **ppQuery) {
    if (!ppQuery)
        return PERF_INVALID_ARGUMENT;
    *ppQuery = new (std::nothrow) PerfQuery;
    return *ppQuery ? PERF_OK : PERF_NO_DATA;
}

uint32_t PerfAddCounter(PerfQuery *pQuery, const char *pPath, PerfCounter **ppCounter) {
    if (!pQuery || !pPath || !ppCounter)
        return PERF_INVALID_ARGUMENT;
    long pid = 0;
    const CounterField *pField = nullptr;
    if (!ParsePath(pPath, &pid, &pField))
        return PERF_NO_COUNTER;
    char szDir[64];
    std::snprintf(szDir, sizeof(szDir), "/proc/%ld", pid);
    if (access(szDir, F_OK) != 0)
        return PERF_NO_OBJECT;
    PerfCounter *pCounter = new (std::nothrow) PerfCounter{pQuery, pid, pField};
    if (!pCounter)
        return PERF_NO_DATA;
    pQuery->counters.push_back(pCounter);
    *ppCounter = pCounter;
    return PERF_OK;
}

uint32_t PerfCollectQueryData(PerfQuery *pQuery) {
    if (!pQuery)
        return PERF_INVALID_ARGUMENT;
    uint32_t status = pQuery->counters.empty() ? PERF_NO_DATA : PERF_OK;
    for (PerfCounter *pCounter : pQuery->counters) {
        double dRaw = 0;
        pCounter->bHasValue = ReadStatusField(pCounter->pid, pCounter->pField->pField, &dRaw);
        pCounter->dValue = dRaw * pCounter->pField->dScale;
        if (!pCounter->bHasValue)
            status = PERF_NO_DATA;
    }
    return status;
}

uint32_t PerfGetFormattedCounterValue(PerfCounter *pCounter, double *pValue) {
    if (!pCounter || !pValue)
        return PERF_INVALID_ARGUMENT;
    if (!pCounter->bHasValue)
        return PERF_NO_DATA;
    *pValue = pCounter->dValue;
    return PERF_OK;
}

uint32_t PerfRemoveCounter(PerfCounter *pCounter) {
    if (!pCounter)
        return PERF_INVALID_ARGUMENT;
    auto &counters = pCounter->pQuery->counters;
    for (size_t i = 0; i < counters.size(); i++) {
        if (counters[i] == pCounter) {
            counters.erase(counters.begin() + (long)i);
            break;
        }
    }
    delete pCounter;
    return PERF_OK;
}

uint32_t PerfCloseQuery(PerfQuery *pQuery) {
    if (!pQuery)
        return PERF_INVALID_ARGUMENT;
    for (PerfCounter *pCounter : pQuery->counters)
        delete pCounter;
    delete pQuery;
    return PERF_OK;
}

void PerfGetProcessName(char *pName, int iSize) {
    if (!pName || iSize <= 0)
        return;
    pName[0] = '\0';
    char szExe[4096];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return;
    szExe[n] = '\0';
    const char *pBase = std::strrchr(szExe, '/');
    std::string name = pBase ? pBase + 1 : szExe;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0)
        name.erase(dot);
    std::snprintf(pName, (size_t)iSize, "%s", name.c_str());
}

}  // namespace platform
}  // namespace Vorezi
