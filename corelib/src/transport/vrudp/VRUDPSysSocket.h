// The few socket calls of the reliable-UDP layer that the runtime does not cover, kept apart from
// the protocol code. Linux implementation in VRUDPSysSocketLinux.cpp.
#pragma once

namespace Vorezi {
namespace vrudp {

// Waits for readability with poll (any descriptor number): >0 ready, 0 time-out, <0 error.
int SysWaitReadable(int iSocket, int iTimeOutMs);
// Length of the next datagram, however long; -1 with the system error set when none can be read.
int SysNextDatagramLength(int iSocket);
// Reads and drops the next datagram.
void SysDiscardDatagram(int iSocket);
// IPv6 sockets carry only IPv6, so IPv4 peers never appear as mapped addresses.
int SysSetV6Only(int iSocket);
// shutdown(2); an unconnected datagram socket's ENOTCONN counts as success, as it is still shut.
int SysShutDownDatagram(int iSocket, int iHow);

}  // namespace vrudp
}  // namespace Vorezi
