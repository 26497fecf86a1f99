// Linux socket options the transports set directly, beside what the runtime offers.
#pragma once

namespace ZEVA {

// Asks for the size (beyond the system cap when privileged) and returns the size the kernel
// granted, or -1 when neither request was accepted.
int SetRecvBufferSize(int sock, int size);
int SetMulticastLoop(int sock, bool on);
// Delivers only what arrives on the named interface; 0, or -1 when not allowed.
int BindToDevice(int sock, const char *pIfName);

}  // namespace ZEVA
