#include "Utils.h"

#include <unistd.h>

#include <cstring>

#include "Module/Log/LogModule.h"

namespace Vorezi {

void Utils_Assert() {
    LogModule_Write(LOG_LEVEL_ERR, "Utils_Assert!");
}

int Utils_GetModuleDir(char *pBuf, int iSize) {
    if (!pBuf || iSize < 2)
        return 0;
    ssize_t n = readlink("/proc/self/exe", pBuf, iSize - 1);
    if (n <= 0)
        return 0;
    pBuf[n] = '\0';
    char *pSep = std::strrchr(pBuf, '/');
    if (pSep)
        pSep[1] = '\0';
    return 1;
}

}  // namespace Vorezi
