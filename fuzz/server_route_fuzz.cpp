// The server route fed datagram sequences from many fake peers, with deletions and time passing
// between them. The callbacks are stubs; the route must never crash, leak or exceed its cap.
//
// Input: records of [op][peer][length][data...]. op & 3: 0 datagram, 1 delete the peer's route,
// 2 let the drain time pass, 3 datagram whose route creation fails.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transport/serverlink/udp/ServerRoute.h"

using namespace Vorezi;

namespace {

constexpr size_t kCap = 16;

std::atomic<uint32_t> g_dwTick{0};
bool g_bFailCreate = false;  // read by the create callback, which runs on the fuzzing thread

uint32_t Tick() {
    return g_dwTick.load();
}

int OnCreate(void *, int, YAR_ADDR_T) {
    return g_bFailCreate ? 0 : 1;
}

int OnSend(void *, const void *, int iLen, YAR_ADDR_T) {
    return iLen;
}

int OnPost(void *, YAR_ADDR_T) {
    return 1;
}

CServerRoute *Route() {
    static CServerRoute *pRoute = [] {
        auto *p = new CServerRoute(kCap);
        p->SetTickSource(Tick);
        SERVER_ROUTE_CALLBACKS cb = {OnCreate, OnSend, OnPost, nullptr};
        if (!p->Start(&cb))
            abort();
        // Stopped and freed at exit, so that LeakSanitizer sees what the route still holds.
        atexit([] { delete Route(); });
        return p;
    }();
    return pRoute;
}

YAR_ADDR_T PeerAddress(uint8_t byPeer) {
    YAR_ADDR_T addr;
    // 64 peers on a few addresses and ports, so that keys share prefixes.
    YAR_MakeAddr4(0x0A000000u | (byPeer & 0x0F), static_cast<uint16_t>(5000 + (byPeer >> 4 & 3)), &addr);
    return addr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize) {
    CServerRoute *pRoute = Route();
    size_t i = 0;
    while (i + 3 <= uSize) {
        uint8_t byOp = pData[i], byPeer = pData[i + 1];
        size_t uLen = pData[i + 2];
        i += 3;
        if (uLen > uSize - i)
            uLen = uSize - i;
        YAR_ADDR_T peer = PeerAddress(byPeer);
        switch (byOp & 3) {
        case 0:
        case 3:
            g_bFailCreate = (byOp & 3) == 3;
            pRoute->ProcessRecvedClientData(pData + i, static_cast<int>(uLen), &peer);
            break;
        case 1:
            pRoute->DelSingleRoute(&peer);
            break;
        case 2:
            g_dwTick += CServerRoute::ROUTE_DRAIN_MS + 1 + byPeer;
            break;
        }
        i += uLen;
        if (pRoute->GetRouteCount() > kCap)
            abort();
    }
    return 0;
}
