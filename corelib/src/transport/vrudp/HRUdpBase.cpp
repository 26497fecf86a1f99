#include "transport/vrudp/HRUdpBase.h"

namespace Vorezi {

int CHRUdpBase::ShutDown(int) {
    return -1;
}

int CHRUdpBase::Bind(const VRUDP_SOCK_ADDR *) {
    return 0;
}

int CHRUdpBase::ConnectRemote(const VRUDP_SOCK_ADDR *, uint32_t) {
    return 0;
}

int CHRUdpBase::Listen(void *, VRUDP_RECV_CALLBACK) {
    return 0;
}

int CHRUdpBase::SendFin() {
    return 0;
}

int CHRUdpBase::SendTo(const void *, int, const VRUDP_SOCK_ADDR *, uint32_t) {
    return 0;
}

int CHRUdpBase::SetSockBuffSize(int, int) {
    return 0;
}

void CHRUdpBase::SetAcceptIndex(int) {}

int CHRUdpBase::GetFatherLink() {
    return -1;
}

int CHRUdpBase::RecvFrom(void *, int, VRUDP_SOCK_ADDR *, uint32_t) {
    return -1;
}

int CHRUdpBase::RemoveAcceptHandle(int) {
    return 1;
}

}  // namespace Vorezi
