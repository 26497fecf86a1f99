// The TCP server link through the Interim_* and Morva_* functions: command heads (directly and
// split across receives), slots, failed posts, back-pressure, manager mode 1, orderly ends, stop
// and fini.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "server_link_test_util.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "transport/link/SocketEnd.h"
#include "transport/serverlink/dtls/ServerLinkRQSDTLS.h"
#include "transport/serverlink/tcp/ServerLinkMQTT.h"
#include "transport/serverlink/udp/ServerLinkRQS.h"
#include "transport/serverlink/udp/ServerLinkUDP.h"
#include "transport/serverlink/vrudp/ServerLinkVRUDP.h"
#include "transport/serverlink/vrudp/ServerLinkVRUDPStream.h"

using namespace Vorezi;
using namespace srvtest;

// This program is linked with the runtime's pool post wrapped: a test can make posts fail, or
// hold the listen thread inside its next post until released.
std::atomic<int> g_nFailPosts{0};
std::atomic<bool> g_bHoldPost{false}, g_bPostHeld{false};
extern "C" int32_t __real_YAR_ThreadPoolFlex_Work(YAR_THREADPOOLFLEX_T *hPool, void *pItem);
extern "C" int32_t __wrap_YAR_ThreadPoolFlex_Work(YAR_THREADPOOLFLEX_T *hPool, void *pItem) {
    if (g_bHoldPost.load()) {
        g_bPostHeld = true;
        servicetest::WaitFor([] { return !g_bHoldPost.load(); }, 30000);
        g_bPostHeld = false;
    }
    for (int n = g_nFailPosts.load(); n > 0;)
        if (g_nFailPosts.compare_exchange_weak(n, n - 1))
            return -1;
    return __real_YAR_ThreadPoolFlex_Work(hPool, pItem);
}

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;  // every Init, Fini and thread costs seconds here
#else
constexpr bool kThreadSanitizer = false;
#endif

using ServerLinkTCP = PoolTest<16>;

int CreateTcp(Recorder *pRec, int bCheckHead = 1, const char *pIP = "127.0.0.1", int iPort = 0) {
    SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_TCP, pIP, (WORD)(iPort ? iPort : FreePort()), pRec);
    c.bCheckHead = bCheckHead;
    return pRec->Create(&c);
}

int PortOf(int iHandle) {
    CServerLinkTCP *p = TcpLink(iHandle);
    YAR_ADDR_T a;
    return p && p->GetLocalAddress(&a) ? YAR_GetAddrPort(&a) : 0;
}

// ---- command heads ----

TEST_F(ServerLinkTCP, HeadCheckAtEverySplit) {
    Recorder rec;
    int h = CreateTcp(&rec);
    ASSERT_GE(h, 0);
    CServerLinkTCP *pLink = TcpLink(h);
    const std::string input = MakeHead(52) + "payload";
    for (size_t p = 1; p < 52; p++) {
        BYTE head[52];
        DWORD dwHave = 0;
        BYTE byShift = 9;
        EXPECT_EQ(2, pLink->CheckHeadData(input.data(), (DWORD)p, head, &dwHave, &byShift)) << p;
        EXPECT_EQ(p, dwHave);
        EXPECT_EQ(0, pLink->CheckHeadData(input.data() + p, (DWORD)(input.size() - p), head, &dwHave, &byShift)) << p;
        EXPECT_EQ(52 - p, byShift) << p;
        EXPECT_EQ(0, std::memcmp(head + 32, "abcdefghijklmnop", 16));
    }
    struct {
        std::string first;
        std::string second;
        int iResult;  // of the second call
    } cases[] = {
        {"QDB", "X" + std::string(60, 'y'), 0},  // decided in the 52-byte branch
        {"ab", "cdefgh", 0},                     // decided with fewer than 52
        {"QD", "BD", 2},                         // still a head
        {"", MakeHead(51), 1},                   // length byte below 52
    };
    for (const auto &c : cases) {
        BYTE head[52];
        DWORD dwHave = 0;
        BYTE byShift = 9;
        if (!c.first.empty()) {
            EXPECT_EQ(2, pLink->CheckHeadData(c.first.data(), (DWORD)c.first.size(), head, &dwHave, &byShift));
        }
        EXPECT_EQ(c.iResult, pLink->CheckHeadData(c.second.data(), (DWORD)c.second.size(), head, &dwHave, &byShift))
            << c.first;
        if (c.iResult == 0) {
            EXPECT_EQ(0, byShift);
        }
    }
    BYTE byShift;
    servicetest::LogCapture log;
    EXPECT_EQ(1, pLink->CheckHeadData(nullptr, 3, nullptr, nullptr, &byShift));
    EXPECT_EQ(1u, log.Matching("CServerLinkTCP::CheckHeadData, Invalid Param").size());
}

// Bytes of one socket: sent and not yet acknowledged (SIOCOUTQ), or waiting unread (FIONREAD).
int QueuedBytes(int fd, unsigned long ulRequest) {
    int n = -1;
    return ioctl(fd, ulRequest, &n) == 0 ? n : -1;
}

// Each piece is taken by its own receive of the worker: the next goes only once the worker has
// read the last (acknowledged by the server side and nothing left unread there).
TEST_F(ServerLinkTCP, HeadsAcrossReceives) {
    const std::string head = MakeHead(60);
    const std::string payload(100, 'P');
    struct Case {
        const char *pName;
        int bCheckHead;
        std::vector<std::string> pieces;
        std::string expected;
        bool bAreaB;
    } cases[] = {
        {"whole", 1, {head + payload}, payload, true},
        {"split 1", 1, {head.substr(0, 1), head.substr(1) + payload}, payload, true},
        {"split 4", 1, {head.substr(0, 4), head.substr(4), payload}, payload, true},
        {"split 51", 1, {head.substr(0, 51), head.substr(51) + payload}, payload, true},
        {"exactly 52", 1, {head}, "", true},
        {"3 then no head", 1, {"abc", "defghij"}, "abcdefghij", false},
        {"1, 2 then no head", 1, {"Q", "DX", "yz"}, "QDXyz", false},
        {"3 then no head, long", 1, {"QDB", "x" + std::string(200, 'z')}, "QDBx" + std::string(200, 'z'), false},
        {"check off", 0, {head + payload}, head + payload, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        Recorder rec;
        int h = CreateTcp(&rec, c.bCheckHead);
        ASSERT_GE(h, 0);
        int fd = ConnectTo(PortOf(h));
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
        const int accepted = rec.Records().front().iSocket;
        for (const std::string &piece : c.pieces) {
            ASSERT_EQ((ssize_t)piece.size(), send(fd, piece.data(), piece.size(), 0));
            ASSERT_TRUE(servicetest::WaitFor(
                [&] { return QueuedBytes(fd, SIOCOUTQ) == 0 && QueuedBytes(accepted, FIONREAD) == 0; }, 5000));
        }
        shutdown(fd, SHUT_WR);
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
        close(fd);
        std::vector<Record> records = rec.Records();
        const int iAccept = records.front().iAccept;
        EXPECT_EQ(c.expected, rec.DataOf(iAccept));
        size_t nData = 0;
        for (const Record &r : records) {
            if (r.dwMsgType != SERVER_LINK_MSG_DATA || r.iStatus != 0)
                continue;
            EXPECT_EQ(c.bAreaB && nData == 0 ? head.substr(32, 16) : std::string(16, '\0'), r.areaB);
            nData++;
        }
        EXPECT_GE(nData, c.bAreaB ? 1u : 0u);
        EXPECT_EQ(73, records.back().iStatus);
        EXPECT_EQ(1, Morva_DestroyServerLink(h));
    }
}

TEST_F(ServerLinkTCP, PlainClientWithoutHead) {
    Recorder rec;
    int h = CreateTcp(&rec);
    ASSERT_GE(h, 0);
    const std::string cmd = "printf 'hello from ncat' | ncat --send-only 127.0.0.1 " + std::to_string(PortOf(h));
    ASSERT_EQ(0, std::system(cmd.c_str()));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    EXPECT_EQ("hello from ncat", rec.DataOf(rec.Records().front().iAccept));
}

TEST_F(ServerLinkTCP, ShortHeadLengthEndsTheConnection) {
    Recorder rec;
    int h = CreateTcp(&rec);
    ASSERT_GE(h, 0);
    servicetest::LogCapture log;
    int fd = ConnectTo(PortOf(h));
    const std::string head = MakeHead(51) + "data";
    ASSERT_EQ((ssize_t)head.size(), send(fd, head.data(), head.size(), 0));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    EXPECT_EQ(1, WaitClosed(fd));
    close(fd);
    EXPECT_EQ(0u, rec.Count(SERVER_LINK_MSG_DATA));
    EXPECT_EQ(1u, log.Matching("CServerLinkTCP::TCPLinkProc, Invalid byCmdHeadLen[51]").size());
}

// ---- slots ----

TEST_F(ServerLinkTCP, AllSlotsReservedRefusesTheConnection) {
    Recorder rec;
    int h = CreateTcp(&rec);
    ASSERT_GE(h, 0);
    CServerLinkTCP *pLink = TcpLink(h);
    for (int i = 0; i < SERVER_LINK_TCP_SLOTS; i++)
        ASSERT_EQ(i, pLink->AllocAcceptIndex());
    EXPECT_EQ(-1, pLink->AllocAcceptIndex());
    servicetest::LogCapture log;
    int fd = ConnectTo(PortOf(h));
    EXPECT_EQ(1, WaitClosed(fd));
    close(fd);
    EXPECT_TRUE(servicetest::WaitFor(
        [&] { return !log.Matching("CServerLinkTCP::ListenProcess, YAR_ThreadPoolFlex_Work failed").empty(); }, 5000));
    EXPECT_EQ(0u, rec.Records().size());
    for (int i = 0; i < SERVER_LINK_TCP_SLOTS; i++)
        pLink->DelAcceptIndex(i);
}

TEST_F(ServerLinkTCP, SlotSearchWrapsAround) {
    Recorder rec;
    int h = CreateTcp(&rec);
    ASSERT_GE(h, 0);
    CServerLinkTCP *pLink = TcpLink(h);
    pLink->SetSlotStart(4000);
    for (int i = 4000; i < SERVER_LINK_TCP_SLOTS; i++)
        ASSERT_EQ(i, pLink->AllocAcceptIndex());
    EXPECT_EQ(0, pLink->AllocAcceptIndex());
    pLink->SetSlotStart(4000);
    int fd = ConnectTo(PortOf(h));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
    EXPECT_EQ(1, rec.Records().front().iAccept);
    close(fd);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    for (int i = 4000; i < SERVER_LINK_TCP_SLOTS; i++)
        pLink->DelAcceptIndex(i);
    pLink->DelAcceptIndex(0);
}

TEST_F(ServerLinkTCP, FiveThousandSequentialConnections) {
    Recorder rec;
    int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    const int iPort = PortOf(h);
    for (int i = 0; i < 5000; i++) {
        int fd = ConnectTo(iPort);
        ASSERT_GE(fd, 0) << i;
        ASSERT_EQ(1, send(fd, "x", 1, 0));
        close(fd);
        // Slots are freed by the workers themselves; keep at most a few hundred in flight.
        if (i % 500 == 499) {
            ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, (size_t)i + 1)) << i;
        }
    }
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 5000));
    EXPECT_EQ(5000u, rec.Count(SERVER_LINK_MSG_NEW));
}

TEST_F(ServerLinkTCP, OwnerEndsAndWaitsForOneConnection) {
    Recorder rec;
    rec.OnRecord = [](SERVER_LINK_DATA *p) {
        if (p->dwMsgType == SERVER_LINK_MSG_NEW)
            p->iStreamHandle = 700 + p->iAcceptHandle;
        return 1;
    };
    int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    int a = ConnectTo(PortOf(h));
    int b = ConnectTo(PortOf(h));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 2));
    const int iFirst = rec.Records()[0].iAccept;
    Morva_SetPreviewHandle(h, iFirst, 900);
    ASSERT_EQ(1, send(a, "1", 1, 0));
    ASSERT_EQ(1, send(b, "2", 1, 0));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_DATA, 2));
    for (const Record &r : rec.Records())
        if (r.dwMsgType == SERVER_LINK_MSG_DATA) {
            EXPECT_EQ(r.iAccept == iFirst ? 900 : 700 + r.iAccept, r.iStream);
        }
    EXPECT_EQ(1, Morva_ExitRecvThread(h, iFirst));
    Morva_WaitRecvThread(h, iFirst);
    EXPECT_EQ(1u, rec.Count(SERVER_LINK_MSG_END));
    // Which client the first accepted slot serves, by what it sent.
    int fdFirst = -1;
    for (const Record &r : rec.Records())
        if (r.dwMsgType == SERVER_LINK_MSG_DATA && r.iAccept == iFirst && !r.data.empty())
            fdFirst = r.data == "1" ? a : b;
    EXPECT_EQ(1, WaitClosed(fdFirst));
    close(a);
    close(b);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 2));
    for (int iSlot : {0, 4095}) {
        GetCoreGlobalCtrl()->SetLastError(0);
        Morva_WaitRecvThread(h, iSlot);
        Morva_SetPreviewHandle(h, iSlot, -1);
        EXPECT_EQ(0, LastError());
    }
    for (int iSlot : {4096, -1}) {
        GetCoreGlobalCtrl()->SetLastError(0);
        Morva_WaitRecvThread(h, iSlot);
        EXPECT_EQ(17, LastError());
        GetCoreGlobalCtrl()->SetLastError(0);
        Morva_SetPreviewHandle(h, iSlot, 1);
        EXPECT_EQ(17, LastError());
    }
}

// A connection whose post fails is closed unheard, and its slot and in-flight count go back: the
// next connection gets the same slot, and the link still stops.
TEST_F(ServerLinkTCP, FailedPostsGiveTheirSlotBack) {
    Recorder rec;
    const int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    CServerLinkTCP *pLink = TcpLink(h);
    servicetest::LogCapture log;
    for (int i = 0; i < 3; i++) {
        pLink->SetSlotStart(7);
        g_nFailPosts = 1;
        int fd = ConnectTo(PortOf(h));
        EXPECT_EQ(1, WaitClosed(fd));
        close(fd);
        ASSERT_TRUE(servicetest::WaitFor([&] { return log.Matching("YAR_ThreadPoolFlex_Work failed").size() > (size_t)i; },
                                         5000));
    }
    EXPECT_EQ(0u, rec.Records().size());
    pLink->SetSlotStart(7);
    int fd = ConnectTo(PortOf(h));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
    EXPECT_EQ(7, rec.Records().front().iAccept);
    close(fd);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    WithinOrAbort(5000, "Morva_DestroyServerLink", [&] { EXPECT_EQ(1, Morva_DestroyServerLink(h)); });
}

// While the listen thread is held inside a post, a stop shuts the listening socket down and
// waits for that thread: the number stays the link's until then, so the thread never accepts on
// a socket that took the number over.
TEST_F(ServerLinkTCP, StoppedLinkKeepsItsListenNumberUntilItsThreadEnds) {
    Recorder rec;
    const int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    const int iPort = PortOf(h);
    const int fdListen = SocketOnPort(iPort, SOCK_STREAM);
    ASSERT_GE(fdListen, 0);
    const ino_t inode = InodeOf(fdListen);
    g_bHoldPost = true;
    int fd = ConnectTo(iPort);
    ASSERT_TRUE(servicetest::WaitFor([] { return g_bPostHeld.load(); }, 5000));
    std::atomic<pid_t> tidStopper{0};
    std::thread stopper([&] {
        tidStopper = (pid_t)syscall(SYS_gettid);
        EXPECT_EQ(1, Morva_DestroyServerLink(h));
    });
    EXPECT_TRUE(servicetest::WaitFor(
        [&] {
            pollfd p{fdListen, POLLIN, 0};
            const bool bWoken = InodeOf(fdListen) != inode || (poll(&p, 1, 0) == 1 && (p.revents & POLLHUP));
            return bWoken && tidStopper.load() && BlockedSyscall(tidStopper.load()) == SYS_futex;
        },
        10000));
    EXPECT_EQ(inode, InodeOf(fdListen)) << "the listening number was closed before its thread ended";
    g_bHoldPost = false;
    stopper.join();
    EXPECT_EQ(1, WaitClosed(fd));
    close(fd);
}

// ---- orderly end ----

// Echoes every data record back on its connection, as a host would answer.
void EchoData(Recorder *pRec, const std::atomic<int> *pLink) {
    pRec->OnRecord = [pLink](SERVER_LINK_DATA *p) {
        if (p->dwMsgType == SERVER_LINK_MSG_DATA && p->iStatus == 0 && p->dwDataLen) {
            SERVER_LINK_SEND_PARAM s{};
            s.pData = p->pData;
            s.dwDataLen = p->dwDataLen;
            s.iSocket = p->iSocket;
            Interim_ServerLinkSendData(pLink->load(), &s);
        }
        return 1;
    };
}

// What a client that reads slowly gets until the stream ends: the bytes and the last result
// (0 end of stream, else the error).
std::pair<std::string, int> ReadSlowly(int fd) {
    std::string got;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return {got, ETIMEDOUT};
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            return {got, n == 0 ? 0 : errno};
        got.append(buf, (size_t)n);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)('a' + (i * 7 + i / 251) % 26);
    return s;
}

// A client that half-closes after its request and reads the answer slowly gets all of it and
// then the end of stream, not a reset with the tail lost in the send queue.
TEST_F(ServerLinkTCP, HalfClosingSlowReaderGetsEveryByteThenTheEnd) {
    Recorder rec;
    std::atomic<int> hLink{-1};
    EchoData(&rec, &hLink);
    hLink = CreateTcp(&rec, 0);
    ASSERT_GE(hLink.load(), 0);
    const std::string request = Pattern(256 * 1024);
    int fd = ConnectTo(PortOf(hLink));
    ASSERT_GE(fd, 0);
    std::thread sender([&] {
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
    });
    const auto [got, iEnd] = ReadSlowly(fd);
    sender.join();
    close(fd);
    EXPECT_EQ(0, iEnd) << strerror(iEnd);
    EXPECT_EQ(request.size(), got.size());
    EXPECT_TRUE(got == request);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    EXPECT_EQ(73, rec.Records().back().iStatus);
}

// ncat sends a file, half-closes and prints what comes back until the end of stream.
TEST_F(ServerLinkTCP, NcatGetsTheWholeEchoOfAFile) {
    if (std::system("command -v ncat >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ncat is not installed";
    Recorder rec;
    std::atomic<int> hLink{-1};
    EchoData(&rec, &hLink);
    hLink = CreateTcp(&rec, 0);
    ASSERT_GE(hLink.load(), 0);
    char dir[] = "/tmp/ncat-echoXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out";
    const std::string body = Pattern(1 << 20);
    std::ofstream(in, std::ios::binary) << body;
    for (int run = 0; run < 3; run++) {
        SCOPED_TRACE(run);
        const std::string cmd =
            "timeout 30 ncat 127.0.0.1 " + std::to_string(PortOf(hLink)) + " < " + in + " > " + out;
        EXPECT_EQ(0, std::system(cmd.c_str()));
        std::ifstream got(out, std::ios::binary);
        const std::string echoed((std::istreambuf_iterator<char>(got)), std::istreambuf_iterator<char>());
        EXPECT_EQ(body.size(), echoed.size());
        EXPECT_TRUE(echoed == body);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(dir);
}

// A client that never reads holds its worker no longer than the drain's stall limit; it gets the
// reset then.
TEST_F(ServerLinkTCP, PeerThatNeverReadsIsResetAfterTheStallLimit) {
    Recorder rec;
    rec.OnRecord = [](SERVER_LINK_DATA *p) {
        if (p->dwMsgType == SERVER_LINK_MSG_DATA && p->iStatus == 0) {
            // Fills the send queue without waiting: the client's window closes.
            const std::string block(65536, 'q');
            while (send(p->iSocket, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
            }
        }
        return 1;
    };
    const int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int iSmall = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iSmall, sizeof(iSmall));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)PortOf(h));
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)));
    ASSERT_EQ(1, send(fd, "x", 1, 0));
    shutdown(fd, SHUT_WR);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1));
    const int iSlot = rec.Records().front().iAccept;
    CServerLinkTCP *pLink = TcpLink(h);
    EXPECT_TRUE(servicetest::WaitFor([&] { return pLink->IsAcceptSlotFinished(iSlot) == 1; },
                                     (int)SOCKET_DRAIN_STALL_MS + 1500));
    const auto [got, iEnd] = ReadSlowly(fd);
    close(fd);
    EXPECT_EQ(ECONNRESET, iEnd) << got.size();
}

// ---- the Interim_* table ----

TEST_F(ServerLinkTCP, InterimTable) {
    Recorder rec;
    const int hTcp = CreateTcp(&rec);
    SERVER_LINK_COND u = MakeCond(SERVER_LINK_PRO_UDP, "127.0.0.1", (WORD)FreePort(SOCK_DGRAM), &rec);
    const int hUdp = rec.Create(&u);
    const int hGone = CreateTcp(&rec);
    ASSERT_GE(hTcp, 0);
    ASSERT_GE(hUdp, 0);
    ASSERT_GE(hGone, 0);
    ASSERT_EQ(1, Morva_DestroyServerLink(hGone));
    EXPECT_EQ(0, Morva_DestroyServerLink(hGone));

    SERVER_LINK_SEND_PARAM send;
    std::memset(&send, 0, sizeof(send));
    send.iSocket = -1;
    int iBuf = 0;
    YAR_ADDR_T addr{};
    // For each handle: expected results of close, close-accept, send, set-info, exit-recv.
    struct Row {
        int iHandle;
        int iClose, iCloseAccept, iSend, iSetInfo, iExit;
        bool bMissing;      // the GetMember lines are logged
        bool bTcpMissing;   // the TCP-only functions log GetMember
    } rows[] = {
        {hTcp, 1, 0, -1, 0, 1, false, false},
        {hUdp, 1, 0, -1, 0, 1, false, true},
        {hGone, 0, -1, -1, -1, 1, true, true},
        {-1, 0, -1, -1, -1, 0, false, false},
        {4096, 0, -1, -1, -1, 0, false, false},
    };
    for (const Row &r : rows) {
        servicetest::LogCapture log;
        const std::string h = std::to_string(r.iHandle);
        EXPECT_EQ(r.iCloseAccept, Morva_CloseAcceptHandle(r.iHandle, 3)) << h;
        EXPECT_EQ(r.iSend, Morva_ServerLinkSendData(r.iHandle, &send)) << h;
        EXPECT_EQ(r.iSetInfo, Morva_SetInfo(r.iHandle, 3, 9, &iBuf, 2)) << h;
        EXPECT_EQ(r.iExit, Morva_ExitRecvThread(r.iHandle, 3)) << h;
        EXPECT_EQ(r.iExit, Morva_ExitRecvThreadEx(r.iHandle, addr)) << h;
        Morva_WaitRecvThread(r.iHandle, 3);
        Morva_SetPreviewHandle(r.iHandle, 3, 5);
        EXPECT_EQ(r.iClose, Morva_CloseServerLink(r.iHandle)) << h;
        const bool bLocked = r.iHandle >= 0 && r.iHandle < 4096;
        const auto n = [&](const std::string &s) { return log.Matching(s).size(); };
        EXPECT_EQ(r.bMissing ? 1u : 0u, n("Interim_CloseAcceptHandle, GetMember Failed, iLinkHandle[" + h + "], iAcceptHandle[3]")) << h;
        EXPECT_EQ(bLocked ? 0u : 1u, n("Interim_CloseAcceptHandle, ReadLockMember Failed, iLinkHandle[" + h + "]")) << h;
        EXPECT_EQ(r.bMissing ? 1u : 0u, n("Interim_ServerLinkSendData, GetMember Failed, iLinkHandle[" + h + "]")) << h;
        EXPECT_EQ(bLocked ? 0u : 1u, n("Interim_SetInfo, ReadLockMember Failed, iLinkHandle[" + h + "], iAcceptHandle[3], dwCommand[9]")) << h;
        EXPECT_EQ(r.bMissing ? 1u : 0u, n("Interim_SetInfo, GetMember Failed, iLinkHandle[" + h + "]")) << h;
        EXPECT_EQ(r.bTcpMissing ? 1u : 0u, n("Interim_ExitRecvThread, GetMember Failed, iListenLink[" + h + "], iStreamLink[3]")) << h;
        // Interim_ExitRecvThreadEx's line ends at the handle.
        EXPECT_EQ(bLocked ? 1u : 0u, n("iListenLink[" + h + "]") - n("iListenLink[" + h + "], ")) << h;
        EXPECT_EQ(r.bTcpMissing ? 1u : 0u, n("Interim_WaitRecvThread, GetMember Failed, iListenLink[" + h + "], iStreamLink[3]")) << h;
        EXPECT_EQ(bLocked ? 0u : 1u, n("Interim_WaitRecvThread, LockMember Failed, iListenLink[" + h + "], iStreamLink[3]")) << h;
        EXPECT_EQ(bLocked ? 0u : 1u, n("Interim_SetPreviewHandle, LockMember Failed, iListenLink[" + h + "], iStreamLink[3], iPreviewHandle[5]")) << h;
        EXPECT_EQ(r.bMissing ? 1u : 0u, n("Interim_CloseServerLink, GetMember Failed, iLinkHandle[" + h + "]")) << h;
    }
    {
        servicetest::LogCapture log;
        SERVER_LINK_COND bad = MakeCond(2, "127.0.0.1", 0, &rec);
        EXPECT_EQ(-1, Morva_CreateServerLink(&bad));
        EXPECT_EQ(1u, log.Matching("CServerLinkMgr::NewMemoryObject, Invalid byProType[2]").size());
    }
    // Closing listens no more; the link stays and is destroyed as usual.
    EXPECT_LT(ConnectTo(PortOf(hTcp)), 0);
    EXPECT_EQ(1, Morva_DestroyServerLink(hTcp));
    EXPECT_EQ(1, Morva_DestroyServerLink(hUdp));
}

TEST_F(ServerLinkTCP, TableFullRefusesThe4097thLink) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "4096 receive threads take minutes under ThreadSanitizer";
    Recorder rec;
    std::vector<int> handles;
    for (int i = 0; i < 4096; i++) {
        SERVER_LINK_COND u = MakeCond(SERVER_LINK_PRO_UDP, "127.0.0.1", 0, &rec);
        u.dwRecvTimeOut = 60000;
        int h = rec.Create(&u);
        ASSERT_GE(h, 0) << i;
        handles.push_back(h);
    }
    SERVER_LINK_COND u = MakeCond(SERVER_LINK_PRO_UDP, "127.0.0.1", 0, &rec);
    EXPECT_EQ(-1, Morva_CreateServerLink(&u));
    EXPECT_EQ(46, LastError());
    // Each close waits 5 ms after its shutdown: destroy from several threads.
    std::vector<std::thread> stoppers;
    std::atomic<int> nDestroyed{0};
    for (int t = 0; t < 16; t++)
        stoppers.emplace_back([&, t] {
            for (size_t i = (size_t)t; i < handles.size(); i += 16)
                nDestroyed += Morva_DestroyServerLink(handles[i]);
        });
    for (auto &th : stoppers)
        th.join();
    EXPECT_EQ(4096, nDestroyed.load());
}

TEST(ServerLinkMgr, WithoutItsPoolNothingIsCreated) {
    ASSERT_EQ(1, InitWithPool(0xFFFFFFFFu));  // a maximum the pool refuses
    Recorder rec;
    SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_TCP, "127.0.0.1", 0, &rec);
    EXPECT_EQ(-1, Morva_CreateServerLink(&c));
    EXPECT_EQ(0, GetServerLinkMgr()->CheckResource());
    EXPECT_EQ(0, Morva_DestroyServerLink(0));
    SERVER_LINK_SEND_PARAM send{};
    EXPECT_EQ(-1, Morva_ServerLinkSendData(0, &send));
    EXPECT_EQ(-1, Morva_CloseAcceptHandle(0, 0));
    GetCoreGlobalCtrl()->Fini();
}

TEST(ServerLinkMgr, NotInitialisedMakesNoManager) {
    EXPECT_EQ(nullptr, GetServerLinkMgr());
    SERVER_LINK_COND c{};
    EXPECT_EQ(-1, Morva_CreateServerLink(&c));
    EXPECT_EQ(0, Morva_DestroyServerLink(0));
    EXPECT_EQ(0, Morva_CloseServerLink(0));
}

TEST(ServerLinkMgr, PoolUnitIsTheLargestClass) {
    const size_t sizes[] = {sizeof(CServerLinkTCP),         sizeof(CServerLinkUDP),  sizeof(CServerLinkRQS),
                            sizeof(CServerLinkRQSDTLS),     sizeof(CServerLinkVRUDP), sizeof(CServerLinkVRUDPStream),
                            sizeof(CServerLinkMQTT)};
    EXPECT_EQ(*std::max_element(std::begin(sizes), std::end(sizes)), CServerLinkMgr::MaxServerLinkSize());
    EXPECT_EQ(1608u, sizeof(SERVER_LINK_DATA));
}

// ---- concurrency ----

TEST_F(ServerLinkTCP, AnswerFromCallbackWhileAnotherThreadWaits) {
    Recorder rec;
    std::atomic<int> hLink{-1};
    std::atomic<pid_t> tidWaiter{0};
    rec.OnRecord = [&](SERVER_LINK_DATA *p) {
        if (p->dwMsgType == SERVER_LINK_MSG_DATA && p->iStatus == 0) {
            // The waiter is inside its wait, between two looks at the slot.
            servicetest::WaitFor([&] { return tidWaiter.load() && IsSleeping(BlockedSyscall(tidWaiter.load())); }, 5000);
            SERVER_LINK_SEND_PARAM s{};
            s.pData = p->pData;
            s.dwDataLen = p->dwDataLen;
            s.iSocket = p->iSocket;
            Interim_ServerLinkSendData(hLink.load(), &s);
            Interim_SetInfo(hLink.load(), p->iAcceptHandle, 1, nullptr, 0);
        }
        return 1;
    };
    hLink = CreateTcp(&rec, 0);
    ASSERT_GE(hLink.load(), 0);
    int fd = ConnectTo(PortOf(hLink));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
    const int iSlot = rec.Records()[0].iAccept;
    std::thread waiter([&] {
        tidWaiter = (pid_t)syscall(SYS_gettid);
        Interim_WaitRecvThread(hLink, iSlot);
    });
    EXPECT_EQ(4, send(fd, "ping", 4, 0));
    char buf[4];
    pollfd pfd{fd, POLLIN, 0};
    EXPECT_EQ(1, poll(&pfd, 1, 5000));
    EXPECT_EQ(4, recv(fd, buf, 4, MSG_DONTWAIT));
    close(fd);
    WithinOrAbort(5000, "Interim_WaitRecvThread", [&] { waiter.join(); });
}

TEST_F(ServerLinkTCP, ManagerModeOneHandsTheSocketOver) {
    constexpr int kLinks = 200;
    Recorder rec;
    std::mutex lock;
    std::vector<int> owned;
    rec.OnRecord = [&](SERVER_LINK_DATA *p) {
        std::lock_guard<std::mutex> g(lock);
        owned.push_back(p->iSocket);
        return 1;
    };
    std::vector<int> handles;
    std::vector<int> clients;
    for (int i = 0; i < kLinks; i++) {
        SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_TCP, "127.0.0.1", (WORD)FreePort(), &rec);
        c.byManagerMode = 1;
        int h = rec.Create(&c);
        ASSERT_GE(h, 0) << i;
        handles.push_back(h);
        int fd = ConnectTo(PortOf(h));
        ASSERT_GE(fd, 0);
        ASSERT_EQ(5, send(fd, "hello", 5, 0));
        clients.push_back(fd);
    }
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, kLinks));
    // Every worker has ended: none is left that could read.
    for (int h : handles)
        ASSERT_TRUE(servicetest::WaitFor([&] { return TcpLink(h)->InFlight() == 0; }, 5000));
    EXPECT_EQ((size_t)kLinks, rec.Records().size());
    for (int s : owned) {
        char buf[8];
        pollfd p{s, POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 2000));
        EXPECT_EQ(5, recv(s, buf, sizeof(buf), MSG_DONTWAIT));
        close(s);
    }
    for (int fd : clients)
        close(fd);
    for (int h : handles)
        EXPECT_EQ(1, Morva_DestroyServerLink(h));
}

// ---- back-pressure ----

using ServerLinkTwoThreads = PoolTest<2>;

TEST_F(ServerLinkTwoThreads, ConnectionsBeyondThePoolWaitTheirTurn) {
    Recorder rec;
    int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    std::vector<int> fds;
    for (int i = 0; i < 5; i++)
        fds.push_back(ConnectTo(PortOf(h)));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 2));
    // The other three wait in the pool's queue, taken by no worker.
    YAR_THREADPOOLFLEX_T *hPool = GetServerLinkMgr()->GetThreadPoolHandle();
    ASSERT_TRUE(servicetest::WaitFor([&] { return YAR_ThreadPoolFlex_GetWorkCount(hPool) == 3; }, 5000));
    EXPECT_EQ(2u, rec.Count(SERVER_LINK_MSG_NEW));
    for (size_t served = 2; served < 5; served++) {
        std::vector<int> slots;
        for (const Record &r : rec.Records())
            if (r.dwMsgType == SERVER_LINK_MSG_NEW)
                slots.push_back(r.iAccept);
        Morva_ExitRecvThread(h, slots[served - 2]);
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, served + 1)) << served;
    }
    for (int fd : fds)
        close(fd);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 5));
}

TEST_F(ServerLinkTwoThreads, SetInfoDelaysTheNextAcceptOnce) {
    Recorder rec;
    int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    servicetest::LogCapture log;
    int16_t sShort = 300;
    EXPECT_EQ(0, Morva_SetInfo(h, 0, 9, &sShort, 2));
    int iWait = 300;
    EXPECT_EQ(0, Morva_SetInfo(h, 0, 9, &iWait, 4));
    // The listen thread sleeps before its next accept, i.e. after the accept it is blocked in.
    for (int i = 0; i < 3; i++) {
        int fd = ConnectTo(PortOf(h));
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, (size_t)i + 1));
        close(fd);
    }
    EXPECT_EQ(1u, log.Matching("CServerLinkTCP::ListenProcess, Sleep[300]").size());
    EXPECT_EQ(0u, log.Matching("Sleep[2").size());
}

// ---- stop and fini ----

TEST_F(ServerLinkTCP, DestroyWithLiveAndQueuedConnections) {
    const size_t nFds = OpenFds();
    Recorder rec;
    int h = CreateTcp(&rec, 0);
    ASSERT_GE(h, 0);
    std::vector<int> fds;
    for (int i = 0; i < 50; i++)
        fds.push_back(ConnectTo(PortOf(h)));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 16));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, Morva_DestroyServerLink(h));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    for (int fd : fds) {
        EXPECT_EQ(1, WaitClosed(fd, 3000));
        close(fd);
    }
    EXPECT_EQ(nFds, OpenFds());
}

TEST(ServerLinkFini, FiniWithLiveConnectionsEndsEverything) {
    // Counted after the first cycle: a sanitizer's runtime may start a thread of its own once.
    size_t nThreads = 0;
    size_t nFds = 0;
    const int nCycles = kThreadSanitizer ? 10 : 100;
    for (int cycle = 0; cycle < nCycles; cycle++) {
        if (cycle == 1) {
            nThreads = Threads();
            nFds = OpenFds();
        }
        ASSERT_EQ(1, InitWithPool(4));
        Recorder rec;
        int h = CreateTcp(&rec, 0);
        ASSERT_GE(h, 0);
        std::vector<int> fds;
        const int nClients = cycle == 0 ? 50 : 2;
        for (int i = 0; i < nClients; i++)
            fds.push_back(ConnectTo(PortOf(h)));
        ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, cycle == 0 ? 4 : 2)) << cycle;
        const auto start = std::chrono::steady_clock::now();
        WithinOrAbort(10000, "Fini", [] { ASSERT_EQ(1, GetCoreGlobalCtrl()->Fini()); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << cycle;
        for (int fd : fds) {
            EXPECT_EQ(1, WaitClosed(fd, 3000));
            close(fd);
        }
    }
    EXPECT_TRUE(servicetest::WaitFor([&] { return Threads() <= nThreads; }, 5000)) << Threads() << " " << nThreads;
    EXPECT_EQ(nFds, OpenFds());
}

// ---- addresses ----

TEST_F(ServerLinkTCP, Addresses) {
    Recorder rec;
    int h6 = CreateTcp(&rec, 0, "::1");
    ASSERT_GE(h6, 0);
    int fd = ConnectTo(PortOf(h6), true);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1));
    close(fd);

    const int iPort = FreePort();
    int hAny = CreateTcp(&rec, 0, "", iPort);
    ASSERT_GE(hAny, 0);
    FILE *pSs = popen(("ss -Htln 'sport = :" + std::to_string(iPort) + "'").c_str(), "r");
    char line[512] = {0};
    ASSERT_NE(nullptr, fgets(line, sizeof(line), pSs));
    pclose(pSs);
    EXPECT_NE(nullptr, std::strstr(line, ("0.0.0.0:" + std::to_string(iPort)).c_str())) << line;

    servicetest::LogCapture log;
    EXPECT_EQ(-1, CreateTcp(&rec, 0, "127.0.0.1", iPort));
    EXPECT_EQ(72, LastError());
    EXPECT_EQ(1u, log.Matching("CServerLinkTCP::OpenLink, YAR_Bind Failed").size());
    EXPECT_EQ(-1, CreateTcp(&rec, 0, "not-an-address", iPort));
    EXPECT_EQ(17, LastError());
}

}  // namespace
