// Library cycles with links: every Init/Fini with links created, receiving asynchronously and
// destroyed leaves no thread, descriptor or heap memory behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>

#include <atomic>
#include <string>

#include "CoreGlobalCtrl.h"
#include "link_test_util.h"
#include "morva/ComInterfaceMorva.h"
#include "service_test_util.h"

using namespace Vorezi;

namespace {

int CountEntries(const char *pDir) {
    int n = 0;
    if (DIR *d = opendir(pDir)) {
        while (readdir(d))
            n++;
        closedir(d);
    }
    return n;
}

struct Counts {
    int iThreads, iFds;
    size_t uHeap;
};

Counts Now() { return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd"), mallinfo2().uordblks}; }

int CountData(void *pUser, char *, int iLen, int iStatus) {
    if (iStatus == 0)
        static_cast<std::atomic<int> *>(pUser)->fetch_add(iLen);
    return 1;
}

void OneCycle(linktest::Listener &listener) {
    ASSERT_EQ(1, Morva_Init());
    std::atomic<int> iBytes{0};
    CLinkBase *pLink = linktest::Connect("127.0.0.1", listener.Port());
    ASSERT_NE(nullptr, pLink);
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_EQ(1, pLink->StartRecv(CountData, &iBytes, 0));
    ASSERT_EQ(1, pLink->ResumeRecvThread());
    ASSERT_EQ(5, send(peer, "hello", 5, 0));
    ASSERT_TRUE(servicetest::WaitFor([&] { return iBytes.load() == 5; }, 5000));
    ASSERT_EQ(4, Link_SendDataByLink(pLink, "back", 4, 0));
    EXPECT_EQ("back", linktest::ReadExactly(peer, 4));
    Link_DestroyLink(pLink);
    close(peer);
    Morva_Fini();
}

TEST(LinkLifecycle, HundredCyclesLeaveNothingBehind) {
    linktest::Listener listener;
    OneCycle(listener);  // first-use caches of the runtime and the C library
    const Counts before = Now();
    for (int i = 0; i < 100; i++) {
        OneCycle(listener);
        if (HasFatalFailure())
            return;
    }
    const Counts after = Now();
    EXPECT_EQ(before.iThreads, after.iThreads);
    EXPECT_EQ(before.iFds, after.iFds);
    EXPECT_LE(after.uHeap, before.uHeap + 64 * 1024) << "heap in use grew by " << (after.uHeap - before.uHeap);
}

}  // namespace
