// Periodic timers: one serving thread per timer waits on a timerfd and a stop eventfd.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "internal/debug_output.h"
#include "yar/yar_thread.h"
#include "yar/yar_timer.h"

namespace {

// One running timer. The serving thread owns nothing in the table: a kill takes the run out of
// its slot first, so the slot can be reused while the thread is still ending.
struct TimerRun {
    uint32_t id = 0;
    YAR_TIMER_CALLBACK callback = nullptr;
    void *user = nullptr;
    int timerFd = -1;
    int stopFd = -1;
    YAR_HANDLE thread = YAR_INVALID_THREAD;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};

    ~TimerRun() {
        if (timerFd >= 0)
            close(timerFd);
        if (stopFd >= 0)
            close(stopFd);
    }
};

std::mutex g_lock;  // guards everything below
bool g_ready = false;
TimerRun *g_slots[YAR_TIMER_MAX] = {};
// Timers killed from their own callback: their thread cannot join itself, so it is joined
// later, by the next start or the module's stop.
std::vector<TimerRun *> g_ended;

thread_local TimerRun *t_servingRun = nullptr;

void Report(const char *format, int err) {
    char text[1024];
    std::snprintf(text, sizeof(text), format, err);
    yar::internal::DebugOutput(text);
}

uint32_t Serve(void *param) {
    TimerRun *run = static_cast<TimerRun *>(param);
    t_servingRun = run;
    pollfd fds[2] = {{run->timerFd, POLLIN, 0}, {run->stopFd, POLLIN, 0}};
    while (!run->stop.load()) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        uint64_t expirations = 0;
        // Missed periods are coalesced into one call.
        if ((fds[0].revents & POLLIN) && read(run->timerFd, &expirations, sizeof(expirations)) > 0 &&
            !run->stop.load() && run->callback)
            run->callback(run->id, run->user);
    }
    run->ended.store(true);
    return 0;
}

void Join(TimerRun *run) {
    YAR_Thread_Wait(run->thread);
    delete run;
}

// Joins the runs killed from their callbacks whose threads have ended (all of them when
// `all`), except the calling thread's own.
void JoinEnded(bool all) {
    std::vector<TimerRun *> ready;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        for (auto it = g_ended.begin(); it != g_ended.end();) {
            if ((*it)->ended.load() || (all && *it != t_servingRun)) {
                ready.push_back(*it);
                it = g_ended.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (TimerRun *run : ready)
        Join(run);
}

bool Arm(TimerRun &run, uint32_t periodMs) {
    itimerspec spec{};
    spec.it_value.tv_nsec = 1000000;  // first call 1 ms after the start
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000;
    return timerfd_settime(run.timerFd, 0, &spec, nullptr) == 0;
}

// Makes the timer of a free slot; null with the failure reported.
std::unique_ptr<TimerRun> StartRun(uint32_t id, YAR_TIMER_CALLBACK callback, void *user, uint32_t periodMs) {
    auto run = std::make_unique<TimerRun>();
    run->id = id;
    run->callback = callback;
    run->user = user;
    run->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    run->stopFd = eventfd(0, EFD_CLOEXEC);
    if (run->timerFd < 0 || run->stopFd < 0) {
        Report("YAR_SetTimer CreateWaitableTimer error, errno = %d\n", errno);
        return nullptr;
    }
    if (!Arm(*run, periodMs)) {
        Report("YAR_SetTimer WaitForSingleObject error, errno = %d\n", errno);
        return nullptr;
    }
    run->thread = YAR_Thread_Create(Serve, run.get(), 0, 0, 0, 0);
    if (run->thread == YAR_INVALID_THREAD) {
        Report("YAR_SetTimer YAR_Thread_Create error, errno = %d\n", errno);
        return nullptr;
    }
    return run;
}

}  // namespace

extern "C" {

int YAR_Timer_Init(void) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_ready = true;
    return 0;
}

int YAR_Timer_Fini(void) {
    for (uint32_t id = 0; id < YAR_TIMER_MAX; ++id)
        YAR_KillTimer(id);
    JoinEnded(true);
    std::lock_guard<std::mutex> lock(g_lock);
    g_ready = false;
    return 0;
}

int YAR_SetTimer(YAR_TIMER_CALLBACK callback, void *user, uint32_t periodMs, uint32_t *timerId, int) {
    if (!timerId)
        return -1;
    YAR_Timer_Init();
    JoinEnded(false);
    std::lock_guard<std::mutex> lock(g_lock);
    uint32_t id = 0;
    while (id < YAR_TIMER_MAX && g_slots[id])
        ++id;
    if (id == YAR_TIMER_MAX) {
        yar::internal::DebugOutput("YAR_SetTimer MAX_EVENT error\n");
        return -1;
    }
    std::unique_ptr<TimerRun> run = StartRun(id, callback, user, periodMs);
    if (!run)
        return -1;
    g_slots[id] = run.release();
    *timerId = id;
    return 0;
}

int YAR_KillTimer(uint32_t timerId) {
    if (timerId >= YAR_TIMER_MAX)
        return -1;
    TimerRun *run;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        run = g_slots[timerId];
        if (!run)
            return -1;  // a second kill must not touch a reused or freed timer
        g_slots[timerId] = nullptr;
        run->stop.store(true);
        uint64_t one = 1;
        (void)!write(run->stopFd, &one, sizeof(one));
        if (run == t_servingRun) {
            g_ended.push_back(run);
            return 0;
        }
    }
    // Joined outside the lock: the callback may be starting or killing other timers.
    Join(run);
    return 0;
}

}  // extern "C"
