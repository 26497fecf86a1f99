// Internal entry point of the debugger-output sink (see yar_debug.h).
#pragma once

namespace yar::internal {

void DebugOutput(const char *text);

}  // namespace yar::internal
