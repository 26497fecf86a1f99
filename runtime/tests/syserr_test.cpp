#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "internal/debug_output.h"
#include "internal/syserr.h"
#include "yar/yar_debug.h"
#include "yar/yar_error.h"

using yar::internal::ErrnoContext;
using yar::internal::MapErrno;

TEST(SystemError, MapsTheNumbersCallersCompare) {
    struct Case { int err; ErrnoContext ctx; int expected; };
    const Case cases[] = {
        {0, ErrnoContext::Generic, 0},
        {EAGAIN, ErrnoContext::Socket, 10035},
        {EINPROGRESS, ErrnoContext::Socket, 10035},
        {ECONNRESET, ErrnoContext::Socket, 10054},
        {ECONNREFUSED, ErrnoContext::UdpSocket, 10054},
        {ECONNREFUSED, ErrnoContext::Socket, 10061},
        {ETIMEDOUT, ErrnoContext::Socket, 10060},
        {ECANCELED, ErrnoContext::Generic, 995},
        {EACCES, ErrnoContext::UdpSocket, 65},
        {EACCES, ErrnoContext::Generic, 5},
        {ENOENT, ErrnoContext::Generic, 2},
        {EXDEV, ErrnoContext::Generic, EXDEV},  // unmapped values pass through
    };
    for (const Case &c : cases)
        EXPECT_EQ(MapErrno(c.err, c.ctx), c.expected) << "errno " << c.err;
}

TEST(SystemError, IsPerThread) {
    YAR_SetSystemLastError(10060);
    int seenByOther = -1;
    std::thread([&] { seenByOther = YAR_GetSystemLastError(); }).join();
    EXPECT_EQ(seenByOther, 0);
    EXPECT_EQ(YAR_GetSystemLastError(), 10060);
    yar::internal::SetSystemErrorFromErrno(ECONNRESET, ErrnoContext::Socket);
    EXPECT_EQ(YAR_GetSystemLastError(), 10054);
}

TEST(DebugSink, CapturesTextsAndRestoresTheDefault) {
    std::vector<std::string> seen;
    auto capture = [](const char *text, void *user) {
        static_cast<std::vector<std::string> *>(user)->push_back(text);
    };
    YAR_SetDebugSink(capture, &seen);
    yar::internal::DebugOutput("first");
    yar::internal::DebugOutput("second");
    YAR_SetDebugSink(nullptr, nullptr);
    yar::internal::DebugOutput("dropped");
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
}
