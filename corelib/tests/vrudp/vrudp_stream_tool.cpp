// Both ends of a media stream over control links, for the namespace scripts.
//   vrudp_stream_tool server ADDR PORT COUNT   father: exit 0 once COUNT packets arrived once each
//                                              and in order and the client closed ("ready" once
//                                              listening)
//   vrudp_stream_tool serverlink ADDR PORT COUNT  the same through a stream server link
//   vrudp_stream_tool client ADDR PORT COUNT   client: sends COUNT packets, retrying each one the
//                                              full buffer refused; exit 0 once all are acknowledged
// Each 1316-byte payload starts with its index (u32, big-endian).
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "morva/MorvaServerLink.h"
#include "vrudp_client_buffered.h"
#include "vrudp_link_util.h"

using namespace vrudptest;

namespace {

constexpr int kPayload = 1316;
// Window 200: a burst the father's default receive buffer holds.
constexpr uint32_t kBitrate = 2000;

struct Order {
    std::atomic<uint32_t> dwNext{0};
    std::atomic<int> bBad{0};
    std::atomic<int> bClosed{0};
};

void Take(Order *o, const uint8_t *p, int iLen) {
    if (iLen != kPayload)
        return;
    uint32_t dwIndex = (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    if (dwIndex != o->dwNext)
        o->bBad = 1;
    o->dwNext = dwIndex + 1;
}

void OnData(void *pUser, VRUDP_RECV_DATA *p) {
    auto *o = static_cast<Order *>(pUser);
    if (p->enumDataType != 1)
        return;
    if (p->dwMsgType == VRUDP_MSG_CLOSE)
        o->bClosed = 1;
    else
        Take(o, p->pData, p->iDataLen);
}

// The server link's records: the new-stream record carries the first data.
int OnServerLinkData(void *pUser, SERVER_LINK_DATA *p) {
    auto *o = static_cast<Order *>(pUser);
    if (p->dwDataKind != 10)
        return 0;
    if (p->dwMsgType == SERVER_LINK_MSG_END)
        o->bClosed = 1;
    else
        Take(o, reinterpret_cast<const uint8_t *>(p->pData), int(p->dwDataLen));
    p->iStreamHandle = 1;
    return 1;
}

// A father of its own, or one inside a stream server link; its close function, or null.
std::function<void()> Listen(bool bServerLink, const char *pAddr, uint16_t wPort, Order *pOrder) {
    if (bServerLink) {
        SERVER_LINK_COND c = {};
        c.pLocalIP = pAddr;
        c.wLocalPort = wPort;
        c.byProType = SERVER_LINK_PRO_VRUDP_STREAM;
        c.fnDataCallBack = OnServerLinkData;
        c.pUserData = pOrder;
        int h = Morva_CreateServerLink(&c);
        return h < 0 ? nullptr : std::function<void()>([h] { Morva_DestroyServerLink(h); });
    }
    int h = MakeLink(ENUM_VRUDP_MODE_SERVER);
    VRUDP_SOCK_ADDR a = Addr(pAddr, wPort);
    if (h < 0 || COM_VRUDP_Bind(h, &a) != 1 || COM_VRUDP_SetSockBuffSize(h, 0x100000, 0x100000) != 1 ||
        COM_VRUDP_Listen(h, pOrder, OnData) != 1)
        return nullptr;
    return [h] { COM_VRUDP_Close(h); };
}

int RunServer(bool bServerLink, const char *pAddr, uint16_t wPort, uint32_t dwCount) {
    Order order;
    std::function<void()> fnClose = Listen(bServerLink, pAddr, wPort, &order);
    if (!fnClose)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    bool bDone = servicetest::WaitFor([&] { return order.dwNext >= dwCount || order.bBad; }, 120000);
    std::printf("delivered %u bad %d\n", order.dwNext.load(), order.bBad.load());
    std::fflush(stdout);
    // The client may still wait for the last acknowledgements: stay until it closes.
    servicetest::WaitFor([&] { return order.bClosed.load() != 0; }, 60000);
    fnClose();
    return bDone && !order.bBad && order.dwNext == dwCount ? 0 : 1;
}

int RunClient(const char *pAddr, uint16_t wPort, uint32_t dwCount) {
    int h = MakeLink(ENUM_VRUDP_MODE_CLIENT);
    VRUDP_SOCK_ADDR a = Addr(pAddr, wPort);
    // The level goes first: the connect tells the father the window its pool must hold.
    if (h < 0 || COM_VRUDP_SetStreamBitrate(h, kBitrate) != 1 || COM_VRUDP_Connect(h, &a, 5000) != 1)
        return 1;
    std::vector<uint8_t> data(kPayload, 0x5A);
    uint32_t dwRefused = 0;
    for (uint32_t i = 0; i < dwCount; i++) {
        data[0] = uint8_t(i >> 24), data[1] = uint8_t(i >> 16), data[2] = uint8_t(i >> 8), data[3] = uint8_t(i);
        while (COM_VRUDP_SendTo(h, data.data(), kPayload, nullptr, 0) == 0) {
            dwRefused++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool bAcked = servicetest::WaitFor([&] { return ClientBuffered(h) == 0; }, 120000);
    if (!bAcked)
        std::fprintf(stderr, "still buffered %u\n", ClientBuffered(h));
    std::printf("sent %u, refused while full %u, all acknowledged %d\n", dwCount, dwRefused, bAcked);
    COM_VRUDP_Close(h);
    return bAcked ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 5 || GetCoreGlobalCtrl()->Init() != 1)
        return 2;
    uint16_t wPort = uint16_t(std::atoi(argv[3]));
    uint32_t dwCount = uint32_t(std::atol(argv[4]));
    const std::string mode = argv[1];
    int iRet = mode == "client" ? RunClient(argv[2], wPort, dwCount)
                                : RunServer(mode == "serverlink", argv[2], wPort, dwCount);
    GetCoreGlobalCtrl()->Fini();
    return iRet;
}
