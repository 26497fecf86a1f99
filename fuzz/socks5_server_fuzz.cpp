// The SOCKS5 server handshake on an accepted loopback socket whose client sent the input and then
// ended its side.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/link/LinkFactory.h"

using namespace Vorezi;

namespace {

constexpr size_t kMaxInput = 4096;  // stays within the socket buffers: the send never blocks
int g_listen = -1;
sockaddr_in g_addr{};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    GetCoreGlobalCtrl()->Init();
    g_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    g_addr.sin_family = AF_INET;
    g_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(g_addr);
    if (bind(g_listen, (sockaddr *)&g_addr, sizeof(g_addr)) != 0 || listen(g_listen, 4) != 0 ||
        getsockname(g_listen, (sockaddr *)&g_addr, &len) != 0)
        return -1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput)
        return 0;
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(client, (sockaddr *)&g_addr, sizeof(g_addr)) != 0) {
        close(client);
        return 0;
    }
    int accepted = accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (size)
        send(client, data, size, MSG_NOSIGNAL);
    shutdown(client, SHUT_WR);
    LINK_CREATE_PARAM p;
    std::memset(&p, 0, sizeof(p));
    p.enumLinkType = LINK_TYPE_SOCKS5_SERVER;
    p.dwServerMode = 1;
    p.iSocket = accepted;
    p.dwRecvTimeout = 100;
    CLinkBase *pLink = Link_CreateLinkEx(&p, 0, nullptr);
    if (pLink) {
        char host[129];
        WORD port = 0;
        pLink->GetRequestHost(host, &port);
        Link_DestroyLink(pLink);
    } else {
        close(accepted);  // a failed adoption leaves the socket with its owner
    }
    close(client);
    return 0;
}
