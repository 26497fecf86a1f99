#include "platform/window_message.h"

#include <map>
#include <mutex>

namespace Vorezi {
namespace platform {

namespace {

struct Sink {
    WINDOW_MESSAGE_SINK fnSink;
    void *pUser;
};

// Recursive: a sink may unregister or post from inside its delivery. Held during delivery so
// that an unregistration waits for a running sink.
std::recursive_mutex &SinkLock() {
    static std::recursive_mutex *s_pLock = new std::recursive_mutex;
    return *s_pLock;
}

std::map<void *, Sink> &Sinks() {
    static auto *s_pSinks = new std::map<void *, Sink>;
    return *s_pSinks;
}

}  // namespace

int WindowMessage_RegisterSink(void *hWnd, WINDOW_MESSAGE_SINK fnSink, void *pUser) {
    if (!hWnd || !fnSink)
        return 0;
    std::lock_guard<std::recursive_mutex> guard(SinkLock());
    Sinks()[hWnd] = Sink{fnSink, pUser};
    return 1;
}

int WindowMessage_UnregisterSink(void *hWnd) {
    std::lock_guard<std::recursive_mutex> guard(SinkLock());
    return Sinks().erase(hWnd) ? 1 : 0;
}

int WindowMessage_Deliver(void *hWnd, UINT uMsg, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::recursive_mutex> guard(SinkLock());
    auto it = Sinks().find(hWnd);
    if (it == Sinks().end())
        return 0;
    Sink sink = it->second;
    sink.fnSink(hWnd, uMsg, wParam, lParam, sink.pUser);
    return 1;
}

}  // namespace platform
}  // namespace Vorezi
