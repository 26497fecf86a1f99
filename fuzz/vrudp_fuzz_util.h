// The fixed source of the reliable-UDP targets: a socket of ours that takes (and drops)
// whatever the code under test answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <cstring>

#include "transport/vrudp/ComVRUDP.h"
#include "yar/yar_addr.h"

struct FuzzSink {
    int fd = -1;
    YAR_ADDR_T addr = {};
    FuzzSink() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        int size = 1 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        YAR_MakeAddrByString(2, "127.0.0.1", ntohs(a.sin_port), &addr);
    }
    void Drain() {
        char buf[65536];
        while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
    }
};

// The input as records of a big-endian u16 length and that many bytes (the last one cut short).
inline std::vector<std::vector<uint8_t>> FuzzRecords(const uint8_t *pData, size_t uSize) {
    std::vector<std::vector<uint8_t>> out;
    size_t off = 0;
    while (off + 2 <= uSize) {
        size_t len = size_t((pData[off] << 8) | pData[off + 1]);
        off += 2;
        if (len > uSize - off)
            len = uSize - off;
        out.emplace_back(pData + off, pData + off + len);
        off += len;
    }
    return out;
}

// A server endpoint (0) or father link (1) bound on loopback: its handle, or -1.
inline int FuzzBoundServer(int iType) {
    Vorezi::VRUDP_CREATE_COND cond = {};
    cond.iAf = 2;
    cond.enumType = iType;
    int h = Vorezi::COM_VRUDP_Create(&cond);
    Vorezi::VRUDP_SOCK_ADDR local = {};
    std::strcpy(local.szAddr, "127.0.0.1");
    if (h >= 0 && Vorezi::COM_VRUDP_Bind(h, &local) == 1)
        return h;
    Vorezi::COM_VRUDP_Close(h);
    return -1;
}
