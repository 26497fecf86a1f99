// The SOCKS5 client handshake against a proxy that answers with the input and then ends its side:
// a helper thread accepts each connection of the client link and plays the input back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/link/LinkFactory.h"

using namespace Vorezi;

namespace {

constexpr size_t kMaxInput = 4096;
constexpr BYTE kProxyID = 1;
int g_listen = -1;
std::mutex g_lock;
std::condition_variable g_cond;
std::string g_reply;
bool g_bServed = true;

// Accepts one connection per input, sends the input, ends its side and waits for the client to
// close.
void ProxyLoop() {
    for (;;) {
        int c = accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        std::string reply;
        {
            std::unique_lock<std::mutex> guard(g_lock);
            reply = g_reply;
        }
        send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        shutdown(c, SHUT_WR);
        char buf[512];
        while (recv(c, buf, sizeof(buf), 0) > 0) {
        }
        close(c);
        std::lock_guard<std::mutex> guard(g_lock);
        g_bServed = true;
        g_cond.notify_all();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    GetCoreGlobalCtrl()->Init();
    g_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (bind(g_listen, (sockaddr *)&a, sizeof(a)) != 0 || listen(g_listen, 4) != 0 ||
        getsockname(g_listen, (sockaddr *)&a, &len) != 0)
        return -1;
    std::vector<BYTE> table(MORVA_PROXY_TABLE_LEN);
    MORVA_PROXY_RECORD rec{};
    std::strcpy(rec.szProxyIP, "127.0.0.1");
    rec.wProxyPort = ntohs(a.sin_port);
    std::memcpy(table.data() + kProxyID * sizeof(rec), &rec, sizeof(rec));
    GetCoreGlobalCtrl()->SetProxyTable(table.data());
    std::thread(ProxyLoop).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput)
        return 0;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_reply.assign((const char *)data, size);
        g_bServed = false;
    }
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.pServerIP = "127.0.0.1";
    p.wServerPort = 9;
    p.enumLinkType = LINK_TYPE_SOCKS5;
    p.byProxyID = kProxyID;
    p.dwRecvTimeout = 100;
    CLinkBase *pLink = Link_CreateLinkEx(&p, 0, nullptr);
    if (pLink)
        Link_DestroyLink(pLink);
    // The next input may only be served once this connection is done.
    std::unique_lock<std::mutex> guard(g_lock);
    g_cond.wait_for(guard, std::chrono::seconds(5), [] { return g_bServed; });
    return 0;
}
