// Start and stop of the runtime: a reference count over stages that come up in a fixed order and
// go down in the same order.
#include <cstring>

#include "internal/default_family.h"
#include "internal/runtime_start.h"
#include "internal/socket_startup.h"
#include "yar/yar_asyncio.h"
#include "yar/yar_init.h"
#include "yar/yar_log.h"
#include "yar/yar_mempool.h"
#include "yar/yar_msgq.h"
#include "yar/yar_mutex.h"
#include "yar/yar_socket.h"
#include "yar/yar_threadpool.h"
#include "yar/yar_timer.h"

namespace {

// Static locks: usable before any start, never destroyed.
YAR_MUTEX_T g_startLock = YAR_MUTEX_INITIALIZER;
YAR_MUTEX_T g_onceLock = YAR_MUTEX_INITIALIZER;

// Everything below is guarded by the start lock.
int32_t g_startCount = 0;
yar::internal::StageObserver g_observer = nullptr;
void *g_observerUser = nullptr;
const char *g_failStage = nullptr;
bool g_asyncIoToTearDown = false;

struct Stage {
    const char *name;
    bool (*up)();  // null for a module that only cleans up at stop
    void (*down)();
    bool done;
};

// Cleanup order; the size-class allocator releases its pools after the error slot.
// The adapter backend reads getifaddrs and sysfs, so it has no library to load or free.
Stage g_stages[] = {
    {"timers", nullptr, [] { YAR_Timer_Fini(); }, false},
    // Linux sockets need no start; the stage keeps the started flag YAR_WSAStartup shares.
    {"sockets", [] { return yar::internal::SocketsStarted() || YAR_WSAStartup() == 0; },
     [] {
         if (yar::internal::SocketsStarted())
             YAR_WSACleanup();
     },
     false},
    {"msgq", [] { return YAR_MsgQ_InitModule() == 0; }, [] { YAR_MsgQ_FiniModule(); }, false},
    {"threadpool", [] { return YAR_ThreadPool_InitModule() == 0; }, YAR_ThreadPool_FiniModule, false},
    {"errslot", [] { return YAR_ErrSlot_Init() == 0; }, [] { YAR_ErrSlot_Fini(); }, false},
    {"mempool", nullptr, YAR_MemPool_Fini, false},
};

void Notify(const Stage &stage, bool up) {
    if (g_observer)
        g_observer(stage.name, up, g_observerUser);
}

bool BringUp(Stage &stage) {
    if (g_failStage && std::strcmp(g_failStage, stage.name) == 0) {
        g_failStage = nullptr;
        return false;
    }
    return stage.up();
}

}  // namespace

namespace yar::internal {

YAR_MUTEX_T *OnceLock() {
    return &g_onceLock;
}

void SetStageObserver(StageObserver observer, void *user) {
    yar::yar_guard lock(&g_startLock);
    g_observer = observer;
    g_observerUser = user;
}

void FailStageOnce(const char *stage) {
    yar::yar_guard lock(&g_startLock);
    g_failStage = stage;
}

}  // namespace yar::internal

extern "C" {

int32_t YAR_Startup_Inter(void) {
    yar::yar_guard lock(&g_startLock);
    for (Stage &stage : g_stages)
        stage.done = false;
    for (Stage &stage : g_stages) {
        if (!stage.up)
            continue;
        if (!BringUp(stage)) {
            YAR_Cleanup_Inter();
            return -1;
        }
        stage.done = true;
        Notify(stage, true);
    }
    return 0;
}

void YAR_Cleanup_Inter(void) {
    yar::yar_guard lock(&g_startLock);
    for (Stage &stage : g_stages) {
        if (stage.up && !stage.done)
            continue;
        stage.down();
        stage.done = false;
        Notify(stage, false);
    }
    // Last: its workers are joined before anything they use goes away.
    if (g_asyncIoToTearDown) {
        YAR_AsyncIO_Fini();
        g_asyncIoToTearDown = false;
    }
}

int32_t YAR_Init(void) {
    yar::yar_guard lock(&g_startLock);
    if (g_startCount == 0) {
        // The asynchronous I/O module is made here, under OnceLock(), and torn down at stop.
        if (YAR_AsyncIO_Init() == 0)
            g_asyncIoToTearDown = true;
        if (YAR_Startup_Inter() != 0)
            return -1;
    }
    ++g_startCount;
    // Every start refreshes the default address family; a failure keeps the last value.
    YAR_RefreshDefaultFamily();
    return 0;
}

void YAR_Fini(void) {
    yar::yar_guard lock(&g_startLock);
    // A stop without a start must not take the count below 0: the next start would then not
    // run the one-time start.
    if (g_startCount == 0)
        return;
    if (--g_startCount == 0) {
        YAR_LogFini();
        YAR_Cleanup_Inter();
    }
}

int32_t YAR_RefreshDefaultFamily(void) {
    YAR_ADAPTER_INFO_T *list = nullptr;
    int result = UpdateDefaultFamily_Inter(&list);
    if (list)
        YAR_FreeAdapterInfo(list);
    return result;
}

int32_t YAR_LogFini(void) {
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_DEBUGGER);
    YAR_Log_DisableOutput(YAR_LOG_OUTPUT_FILE);
    YAR_Log_Close();
    return 0;
}

uint32_t YAR_GetVersion(void) {
    return YAR_VERSION;
}

}  // extern "C"
