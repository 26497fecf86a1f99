// The debugger-output sink: texts written for a debugger go to the sink a host installs, or to
// stderr when YAR_DEBUG_OUTPUT is 1, else nowhere.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "internal/debug_output.h"
#include "yar/yar_debug.h"

namespace {

void StderrSink(const char *text, void *) {
    std::fputs(text, stderr);
}

struct SinkState {
    std::mutex lock;
    YAR_DEBUG_SINK sink = nullptr;
    void *user = nullptr;
    bool envChecked = false;
};

// Never destroyed: detached runtime threads may still write while the process exits.
SinkState &State() {
    static SinkState *state = new SinkState;
    return *state;
}

YAR_DEBUG_SINK DefaultSink() {
    const char *env = std::getenv("YAR_DEBUG_OUTPUT");
    return (env && std::strcmp(env, "1") == 0) ? StderrSink : nullptr;
}

}  // namespace

namespace yar::internal {

void DebugOutput(const char *text) {
    SinkState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.envChecked) {
        state.envChecked = true;
        if (!state.sink)
            state.sink = DefaultSink();
    }
    if (state.sink)
        state.sink(text, state.user);
}

}  // namespace yar::internal

extern "C" YAR_DEBUG_SINK YAR_SetDebugSink(YAR_DEBUG_SINK sink, void *user) {
    SinkState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    YAR_DEBUG_SINK previous = state.sink;
    state.envChecked = true;
    state.sink = sink ? sink : DefaultSink();
    state.user = sink ? user : nullptr;
    return previous;
}
