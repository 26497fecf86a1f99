// Translation of errno into the system error numbering callers compare against.
#pragma once

namespace yar::internal {

// The same errno means different things on different calls: ECONNREFUSED is a refused
// connection on TCP and a port-unreachable answer (a reset) on UDP.
enum class ErrnoContext { Generic, Socket, UdpSocket };

int MapErrno(int err, ErrnoContext ctx = ErrnoContext::Generic);

// Stores MapErrno(err, ctx) as the calling thread's system error.
void SetSystemErrorFromErrno(int err, ErrnoContext ctx = ErrnoContext::Generic);

}  // namespace yar::internal
