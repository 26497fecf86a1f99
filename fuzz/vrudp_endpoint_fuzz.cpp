// Several datagrams into a listening server endpoint's packet processing, all from one fixed
// source, so handshakes and data sequences are reached. Input: records of a big-endian u16
// length and that many bytes. A session id of 0x4FFE stands for the connection the endpoint
// holds in its first entry (its real handle varies from run to run).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/vrudp/ComVRUDP.h"
#include "transport/vrudp/HRUdpCommand.h"
#include "transport/vrudp/VRUDPClock.h"
#include "transport/vrudp/VRUDPGuard.h"

using namespace Vorezi;

namespace {

constexpr uint16_t kEntryZero = 0x4FFE;

// The fixed source: a socket of ours that takes (and drops) whatever the endpoint answers.
struct Sink {
    int fd = -1;
    YAR_ADDR_T addr = {};
    Sink() {
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

}  // namespace

// One listening endpoint serves every input; each input starts a new INIT-rate window and ends
// with the endpoint's connections destroyed, so inputs do not depend on one another's
// connections.
int MakeEndpoint() {
    if (GetCoreGlobalCtrl()->Init() != 1)
        return -1;
    VRUDP_CREATE_COND cond = {};
    cond.iAf = 2;
    int h = COM_VRUDP_Create(&cond);
    VRUDP_SOCK_ADDR local = {};
    std::strcpy(local.szAddr, "127.0.0.1");
    return h >= 0 && COM_VRUDP_Bind(h, &local) == 1 ? h : -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    static int h = MakeEndpoint();
    static Sink sink;
    CRWGuard guard(h);
    auto *pEndpoint = dynamic_cast<CHRUdpCommand *>(guard.Member());
    if (!pEndpoint)
        return 0;
    VRUDP_AdvanceTickForTest(CHRUdpCommand::kInitWindowMs + 1);
    std::vector<uint8_t> pkt;
    size_t off = 0;
    while (off + 2 <= uSize) {
        size_t len = size_t((pData[off] << 8) | pData[off + 1]);
        off += 2;
        if (len > uSize - off)
            len = uSize - off;
        pkt.assign(pData + off, pData + off + len);
        off += len;
        if (pkt.size() >= 8 && ((pkt[6] << 8) | pkt[7]) == kEntryZero) {
            int iConn = pEndpoint->GetEntry(0);
            pkt[6] = uint8_t(iConn >> 8);
            pkt[7] = uint8_t(iConn);
        }
        pEndpoint->ProccessRUDPData(pkt.data(), int(pkt.size()), sink.addr);
    }
    for (int i = 0; i < CHRUdpCommand::kMaxLinks && pEndpoint->GetLinkCount() > 0; i++) {
        int iConn = pEndpoint->GetEntry(i);
        if (iConn >= 0)
            pEndpoint->CloseHRObj(iConn, 0);
    }
    sink.Drain();
    return 0;
}
