// The sockets-started flag, shared by YAR_WSAStartup/YAR_WSACleanup and the runtime start.
// Linux needs no socket library start; the flag keeps the stages of start and stop observable.
#pragma once

namespace yar::internal {

bool SocketsStarted();
void SetSocketsStarted(bool started);

}  // namespace yar::internal
