// The SDK last-error codes that ZEVA_GetLastError reports. Their one list is the public header's
// (ZEVA_NOERROR, ZEVA_ERR_*), so hosts and the SDK share the names.
#pragma once

#include "zeva/ZevaSdk.h"
