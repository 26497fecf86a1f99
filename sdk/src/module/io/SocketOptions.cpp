#include "module/io/SocketOptions.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace ZEVA {

int SetRecvBufferSize(int sock, int size) {
    if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0 &&
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0)
        return -1;
    int granted = 0;
    socklen_t len = sizeof granted;
    getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    return granted;
}

int SetMulticastLoop(int sock, bool on) {
    unsigned char value = on ? 1 : 0;
    return setsockopt(sock, IPPROTO_IP, IP_MULTICAST_LOOP, &value, sizeof value);
}

int BindToDevice(int sock, const char *pIfName) {
    return setsockopt(sock, SOL_SOCKET, SO_BINDTODEVICE, pIfName, socklen_t(std::strlen(pIfName)));
}

}  // namespace ZEVA
