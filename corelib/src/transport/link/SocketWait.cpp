#include "transport/link/SocketWait.h"

#include <poll.h>

#include <cerrno>

#include "yar/yar_error.h"
#include "yar/yar_time.h"

namespace Vorezi {

int WaitReadable(int iSocket, uint32_t dwTimeOutMs) {
    const uint64_t ullStart = YAR_GetTimeTick();
    uint32_t dwLeft = dwTimeOutMs;
    for (;;) {
        pollfd pfd{iSocket, POLLIN, 0};
        const int iReady = poll(&pfd, 1, dwLeft > INT32_MAX ? -1 : (int)dwLeft);
        if (iReady > 0)
            return 1;
        if (iReady == 0)
            return 0;
        if (errno != EINTR) {
            YAR_SetSystemLastError(errno);
            return -1;
        }
        const uint64_t ullUsed = YAR_GetTimeTick() - ullStart;
        if (ullUsed >= dwTimeOutMs)
            return 0;
        dwLeft = dwTimeOutMs - (uint32_t)ullUsed;
    }
}

}  // namespace Vorezi
