// The SDK's last error as the transports, the protocol code, the adapter table and the helpers
// report it: they set it here and need nothing of the controller, which keeps the value.
#pragma once

#include <cstdint>

#include "utils/SdkError.h"

namespace ZEVA {

// The code ZEVA_GetLastError reports when the calling thread runs an export; any other thread
// keeps it as its own.
void SetSdkLastError(uint32_t dwError);
// A socket send failed: the address-check thread looks at the adapters at once.
void NoteSendFailed();

}  // namespace ZEVA
