// Window messages where there are no windows: a window handle is an opaque key under which the
// host registers a sink; a message delivered to the handle reaches that sink with its number,
// wParam and lParam. Delivery runs on the caller's thread; posting callers queue it first.
#pragma once

#include <cstdint>

#include "morva/MorvaTypes.h"

namespace Vorezi {
namespace platform {

typedef void (*WINDOW_MESSAGE_SINK)(void *hWnd, UINT uMsg, uintptr_t wParam, intptr_t lParam, void *pUser);

// 1, or 0 for a null handle or sink. A second registration replaces the first.
int WindowMessage_RegisterSink(void *hWnd, WINDOW_MESSAGE_SINK fnSink, void *pUser);
// Returns once no delivery to the handle is running (unless called from inside its sink).
int WindowMessage_UnregisterSink(void *hWnd);
// 1 when a sink received the message, 0 when the handle has none (an invalid window).
int WindowMessage_Deliver(void *hWnd, UINT uMsg, uintptr_t wParam, intptr_t lParam);

}  // namespace platform
}  // namespace Vorezi
