#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "internal/trace_registry.h"
#include "yar/yar_error.h"
#include "yar/yar_thread.h"
#include "yar/yar_trace.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

size_t Entries() {
    return yar::yar_tlsTraceInfoOper::GetInstance().Registry()->EntryCount();
}

YAR_TRACE_INFO_T MakeInfo(const char *t1, const char *t2, const char *t3, uint8_t f1, uint8_t f2) {
    YAR_TRACE_INFO_T info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.szTrace1, t1);
    std::strcpy(info.szTrace2, t2);
    std::strcpy(info.szTrace3, t3);
    info.byTraceFlag1 = f1;
    info.byTraceFlag2 = f2;
    return info;
}

// What a started thread saw of its own trace context.
struct Seen {
    int get = 99;
    YAR_TRACE_INFO_T info;
};

uint32_t RecordContext(void *arg) {
    Seen *seen = static_cast<Seen *>(arg);
    seen->get = YAR_GetThreadTraceInfo(&seen->info);
    return 0;
}

// Three generations: each thread records its context and starts the next one.
struct Generation {
    Seen seen[3];
    int depth = 0;
};

uint32_t NextGeneration(void *arg) {
    Generation *g = static_cast<Generation *>(arg);
    int mine = g->depth++;
    g->seen[mine].get = YAR_GetThreadTraceInfo(&g->seen[mine].info);
    if (g->depth < 3) {
        YAR_HANDLE child = YAR_Thread_Create(NextGeneration, g, 0, 0, 0, 0);
        if (child)
            YAR_Thread_Wait(child);
    }
    return 0;
}

uint32_t SetFlag(void *arg) {
    static_cast<std::atomic<bool> *>(arg)->store(true);
    return 0;
}

uint32_t SleepThenSetFlag(void *arg) {
    std::this_thread::sleep_for(milliseconds(150));
    return SetFlag(arg);
}

class Thread : public ::testing::Test {
protected:
    void TearDown() override { YAR_ClearThreadTraceInfo(); }
};

}  // namespace

TEST_F(Thread, InheritsTheCreatorsContextOrNone) {
    struct Case { const char *what; bool install; YAR_TRACE_INFO_T info; int expectGet; };
    const Case cases[] = {
        {"no context", false, {}, -1},
        {"full context", true, MakeInfo("session-9", "device-4", "op", 3, 250), 0},
        {"second text only", true, MakeInfo("", "device-4", "", 0, 1), 0},
    };
    for (const Case &c : cases) {
        YAR_ClearThreadTraceInfo();
        if (c.install) {
            ASSERT_EQ(YAR_SetThreadTraceInfo(&c.info), 0) << c.what;
        }
        const size_t before = Entries();
        Seen seen;
        YAR_HANDLE h = YAR_Thread_Create(RecordContext, &seen, 0, 0, 0, 0);
        ASSERT_NE(h, YAR_INVALID_THREAD) << c.what;
        ASSERT_EQ(YAR_Thread_Wait(h), 0);
        EXPECT_EQ(seen.get, c.expectGet) << c.what;
        YAR_TRACE_INFO_T expected;
        std::memset(&expected, 0, sizeof expected);
        if (c.install)
            expected = c.info;
        EXPECT_EQ(std::memcmp(&seen.info, &expected, sizeof expected), 0) << c.what;
        EXPECT_EQ(Entries(), before) << c.what << ": the thread's copy is gone with it";
    }
}

TEST_F(Thread, ContextCarriesAcrossThreeGenerations) {
    const YAR_TRACE_INFO_T root = MakeInfo("root", "chain", "three", 9, 8);
    ASSERT_EQ(YAR_SetThreadTraceInfo(&root), 0);
    const size_t before = Entries();
    Generation g;
    YAR_HANDLE h = YAR_Thread_Create(NextGeneration, &g, 0, 0, 0, 0);
    ASSERT_NE(h, YAR_INVALID_THREAD);
    ASSERT_EQ(YAR_Thread_Wait(h), 0);
    ASSERT_EQ(g.depth, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g.seen[i].get, 0) << "generation " << i;
        EXPECT_EQ(std::memcmp(&g.seen[i].info, &root, sizeof root), 0) << "generation " << i;
    }
    EXPECT_EQ(Entries(), before);
}

TEST(ThreadJoin, NullFinishedAndRunning) {
    EXPECT_EQ(YAR_Thread_Wait(YAR_INVALID_THREAD), -1);

    std::atomic<bool> done{false};
    YAR_HANDLE finished = YAR_Thread_Create(SetFlag, &done, 0, 0, 0, 0);
    ASSERT_NE(finished, YAR_INVALID_THREAD);
    while (!done)
        std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(20));
    Clock::time_point start = Clock::now();
    EXPECT_EQ(YAR_Thread_Wait(finished), 0);
    EXPECT_LT(Clock::now() - start, milliseconds(1000));

    std::atomic<bool> late{false};
    YAR_HANDLE running = YAR_Thread_Create(SleepThenSetFlag, &late, 0, 0, 0, 0);
    ASSERT_NE(running, YAR_INVALID_THREAD);
    EXPECT_EQ(YAR_Thread_Wait(running), 0);
    EXPECT_TRUE(late.load());
}

TEST(ThreadCreate, RefusesANullRoutine) {
    EXPECT_EQ(YAR_Thread_Create(nullptr, nullptr, 0, 0, 0, 0), YAR_INVALID_THREAD);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_INVALID_PARAMETER);
}

TEST(ThreadCreate, SuspendedStartWaitsForEveryResume) {
    std::atomic<bool> ran{false};
    YAR_HANDLE h = YAR_Thread_Create(SetFlag, &ran, 0, 1, 0, 0);
    ASSERT_NE(h, YAR_INVALID_THREAD);
    EXPECT_EQ(YAR_Thread_Suspend(h), 0);  // suspend count 2
    std::this_thread::sleep_for(milliseconds(80));
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(YAR_Thread_Resume(h), 0);
    std::this_thread::sleep_for(milliseconds(80));
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(YAR_Thread_Resume(h), 0);
    EXPECT_EQ(YAR_Thread_Wait(h), 0);
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(YAR_Thread_Suspend(nullptr), -1);
    EXPECT_EQ(YAR_Thread_Resume(nullptr), -1);
}

namespace {

struct Gate {
    std::atomic<bool> inside{false};
    std::atomic<bool> leave{false};
};

uint32_t WaitAtGate(void *arg) {
    Gate *gate = static_cast<Gate *>(arg);
    gate->inside = true;
    while (!gate->leave)
        std::this_thread::sleep_for(milliseconds(1));
    return 0;
}

}  // namespace

TEST(ThreadCreate, RunningThreadCannotBeSuspended) {
    Gate gate;
    YAR_HANDLE h = YAR_Thread_Create(WaitAtGate, &gate, 0, 0, 0, 0);
    ASSERT_NE(h, YAR_INVALID_THREAD);
    while (!gate.inside)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(YAR_Thread_Suspend(h), -1);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_NOT_SUPPORTED);
    EXPECT_EQ(YAR_Thread_Resume(h), 0);
    gate.leave = true;
    EXPECT_EQ(YAR_Thread_Wait(h), 0);
}

namespace {

struct ThreadFacts {
    size_t stackSize = 0;
    bool sigpipeBlocked = false;
    int nice = 99;
};

uint32_t ReadFacts(void *arg) {
    ThreadFacts *facts = static_cast<ThreadFacts *>(arg);
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &facts->stackSize);
        pthread_attr_destroy(&attr);
    }
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    facts->sigpipeBlocked = sigismember(&mask, SIGPIPE) == 1;
    return 0;
}

ThreadFacts FactsOfThread(uint32_t stackSize) {
    ThreadFacts facts;
    YAR_HANDLE h = YAR_Thread_Create(ReadFacts, &facts, stackSize, 0, 0, 0);
    EXPECT_NE(h, YAR_INVALID_THREAD);
    if (h)
        YAR_Thread_Wait(h);
    return facts;
}

}  // namespace

TEST(ThreadCreate, StackSizes) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer enlarges small thread stacks";
#endif
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    size_t defaultSize = 0;
    pthread_attr_getstacksize(&attr, &defaultSize);
    pthread_attr_destroy(&attr);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct Case { uint32_t requested; size_t expected; };
    const Case cases[] = {
        {0, defaultSize},
        {0x40000, 0x40000},
        {1, PTHREAD_STACK_MIN},
        {0x40001, 0x40000 + page},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FactsOfThread(c.requested).stackSize, c.expected) << "requested " << c.requested;
}

TEST(ThreadCreate, SigpipeIsBlockedInTheNewThreadOnly) {
    EXPECT_TRUE(FactsOfThread(0).sigpipeBlocked);
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0);
}

namespace {

uint32_t ExitEarly(void *arg) {
    const YAR_TRACE_INFO_T info = MakeInfo("exit", "early", "", 0, 0);
    YAR_SetThreadTraceInfo(&info);
    YAR_Thread_Exit();
    static_cast<std::atomic<bool> *>(arg)->store(true);  // never reached
    return 0;
}

}  // namespace

TEST_F(Thread, ExitEndsTheThreadAndReleasesItsData) {
    const YAR_TRACE_INFO_T info = MakeInfo("parent", "p", "", 0, 0);
    ASSERT_EQ(YAR_SetThreadTraceInfo(&info), 0);
    const size_t before = Entries();
    std::atomic<bool> reached{false};
    YAR_HANDLE h = YAR_Thread_Create(ExitEarly, &reached, 0, 0, 0, 0);
    ASSERT_NE(h, YAR_INVALID_THREAD);
    ASSERT_EQ(YAR_Thread_Wait(h), 0);
    EXPECT_FALSE(reached.load());
    EXPECT_EQ(Entries(), before);  // under LeakSanitizer this also shows the start data freed
}

namespace {

struct NiceProbe {
    Gate gate;
    std::atomic<int> nice{99};
};

uint32_t ReportNiceAtGate(void *arg) {
    NiceProbe *probe = static_cast<NiceProbe *>(arg);
    probe->gate.inside = true;
    while (!probe->gate.leave)
        std::this_thread::sleep_for(milliseconds(1));
    errno = 0;
    probe->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return 0;
}

}  // namespace

TEST(ThreadPriority, MapsToNiceValues) {
    EXPECT_EQ(YAR_Thread_SetPriority(nullptr, 0), -1);
    NiceProbe probe;
    YAR_HANDLE h = YAR_Thread_Create(ReportNiceAtGate, &probe, 0, 0, 0, 0);
    ASSERT_NE(h, YAR_INVALID_THREAD);
    EXPECT_EQ(YAR_Thread_SetPriority(h, 7), -1);  // not a Windows priority
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_INVALID_PARAMETER);
    EXPECT_EQ(YAR_Thread_SetPriority(h, YAR_THREAD_PRIORITY_LOWEST), 0);
    probe.gate.leave = true;
    ASSERT_EQ(YAR_Thread_Wait(h), 0);
    EXPECT_EQ(probe.nice.load(), 10);

    EXPECT_EQ(YAR_Thread_SetPriorityClass(0x1234), -1);
    EXPECT_EQ(YAR_Thread_SetPriorityClass(YAR_NORMAL_PRIORITY_CLASS), 0);
}

TEST(ThreadClass, CreateJoinAndForget) {
    yar::yar_thread t;
    EXPECT_EQ(t.Join(), -1);
    EXPECT_EQ(t.SetPriorityClass(YAR_NORMAL_PRIORITY_CLASS), -1);
    std::atomic<bool> ran{false};
    ASSERT_EQ(t.Create(SetFlag, &ran, 0, 1, 0, 0), 0);
    EXPECT_EQ(t.Resume(), 0);
    EXPECT_EQ(t.SetPriority(YAR_THREAD_PRIORITY_NORMAL), 0);
    EXPECT_EQ(t.Join(), 0);
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(t.Join(), -1);
    EXPECT_EQ(t.Create(nullptr, nullptr, 0, 0, 0, 0), -1);
}

TEST(ThreadTls, SlotsArePerThread) {
    EXPECT_EQ(YAR_ThreadTls_GetValue(-1), nullptr);
    EXPECT_EQ(YAR_ThreadTls_SetValue(-1, &errno), -1);
    EXPECT_EQ(YAR_ThreadTls_Destroy(-1), -1);
    int32_t a = YAR_ThreadTls_Create();
    int32_t b = YAR_ThreadTls_Create();
    ASSERT_NE(a, -1);
    ASSERT_NE(b, -1);
    ASSERT_NE(a, b);
    int mine = 1, theirs = 2;
    EXPECT_EQ(YAR_ThreadTls_SetValue(a, &mine), 0);
    EXPECT_EQ(YAR_ThreadTls_GetValue(b), nullptr);
    void *seenBefore = &mine, *seenAfter = nullptr;
    std::thread([&] {
        seenBefore = YAR_ThreadTls_GetValue(a);
        YAR_ThreadTls_SetValue(a, &theirs);
        seenAfter = YAR_ThreadTls_GetValue(a);
    }).join();
    EXPECT_EQ(seenBefore, nullptr);
    EXPECT_EQ(seenAfter, &theirs);
    EXPECT_EQ(YAR_ThreadTls_GetValue(a), &mine);
    EXPECT_EQ(YAR_ThreadTls_Destroy(a), 0);
    EXPECT_EQ(YAR_ThreadTls_Destroy(b), 0);
}

namespace {

long VirtualMemoryBytes() {
    FILE *status = std::fopen("/proc/self/status", "r");
    long kib = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmSize: %ld kB", &kib) == 1)
            break;
    if (status)
        std::fclose(status);
    return kib * 1024;
}

}  // namespace

// A start that fails returns null with the system error set and frees what it allocated (the
// leak check of the sanitizer build sees the rest).
TEST(ThreadCreate, FailedStartReportsAndFreesItsData) {
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(VirtualMemoryBytes()) + (256u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    std::atomic<bool> ran{false};
    YAR_HANDLE h = YAR_Thread_Create(SetFlag, &ran, 0xFFFF0000u, 0, 0, 0);  // a 4 GiB stack cannot fit
    const int error = YAR_GetSystemLastError();
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_EQ(h, YAR_INVALID_THREAD);
    EXPECT_EQ(error, YAR_SYSERR_NOT_ENOUGH_MEMORY);
    if (h)
        YAR_Thread_Wait(h);
    EXPECT_FALSE(ran.load());
}
