// The two ends of the loss test (vrudp_loss.sh), one per namespace.
//   vrudp_loss_tool server ADDR PORT SECONDS      echoes every message until the time is up
//   vrudp_loss_tool client ADDR PORT CONNECTS MESSAGES
// The client makes CONNECTS connections one after the other, each sends MESSAGES numbered
// messages of varied sizes and checks that every echo arrives once, whole and in order. Exit 0
// when everything held.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "vrudp_test_util.h"

using namespace vrudptest;

namespace {

std::vector<uint8_t> Message(int i) {
    size_t n = size_t(1 + (i * 7919) % 6000);
    auto v = Pattern(n, uint8_t(i));
    std::memcpy(v.data(), &i, std::min(n, sizeof i));
    return v;
}

int Serve(const char *pAddr, uint16_t wPort, int iSeconds) {
    int h = MakeEndpoint(ENUM_VRUDP_MODE_SERVER);
    VRUDP_SOCK_ADDR a = Addr(pAddr, wPort);
    Collector col;
    col.m_fnEcho = [](const Event &e) { COM_VRUDP_SendTo(e.iHandle, e.data.data(), int(e.data.size()), nullptr, 30000); };
    if (h < 0 || COM_VRUDP_Bind(h, &a) != 1 || COM_VRUDP_Listen(h, &col, Collector::Callback) != 1) {
        std::fprintf(stderr, "server: cannot listen on %s:%d\n", pAddr, wPort);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(iSeconds));
    COM_VRUDP_Close(h);
    return 0;
}

int Client(const char *pAddr, uint16_t wPort, int iConnects, int iMessages) {
    int iFailed = 0;
    for (int c = 0; c < iConnects; c++) {
        int h = MakeEndpoint(ENUM_VRUDP_MODE_CLIENT);
        VRUDP_SOCK_ADDR a = Addr(pAddr, wPort);
        auto t0 = std::chrono::steady_clock::now();
        if (COM_VRUDP_Connect(h, &a, 3000) != 1) {
            std::fprintf(stderr, "connect %d failed\n", c);
            iFailed++;
            COM_VRUDP_Close(h);
            continue;
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        Collector got;
        COM_VRUDP_SetRecvFun(h, Collector::Callback, &got);
        for (int i = 0; i < iMessages; i++) {
            auto m = Message(i);
            if (COM_VRUDP_SendTo(h, m.data(), int(m.size()), nullptr, 30000) != int(m.size()))
                iFailed++;
        }
        if (!got.WaitCount(size_t(iMessages), 120000))
            std::fprintf(stderr, "connection %d: %zu of %d echoes\n", c, got.Events().size(), iMessages), iFailed++;
        auto ev = got.Events();
        for (size_t i = 0; i < ev.size(); i++)
            if (i >= size_t(iMessages) || ev[i].data != Message(int(i)))
                std::fprintf(stderr, "connection %d: echo %zu wrong or extra\n", c, i), iFailed++;
        std::printf("connection %d: connect %lld ms, %zu echoes\n", c, (long long)ms, ev.size());
        COM_VRUDP_CloseConnect(h);
        COM_VRUDP_Close(h);
    }
    return iFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5 || GetCoreGlobalCtrl()->Init() != 1)
        return 2;
    int iRet = std::strcmp(argv[1], "server") == 0
                   ? Serve(argv[2], uint16_t(std::atoi(argv[3])), std::atoi(argv[4]))
                   : Client(argv[2], uint16_t(std::atoi(argv[3])), std::atoi(argv[4]), argc > 5 ? std::atoi(argv[5]) : 0);
    GetCoreGlobalCtrl()->Fini();
    return iRet;
}
