// The secure link end to end: a listen session on loopback against the independent Python
// device peer (tests/peers/secure_peer.py, its own RSA and AES, checked against the openssl
// tool), in datagram mode and over its own reliable-UDP connection; hostile datagrams; session
// lifetime (first packet, keep-alive and the five-minute sweep on the transports' clock, close
// from inside the callback, stop while peers send, fini); and the C functions' results.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "morva/MorvaSecureLink.h"
#include "service_test_util.h"
#include "transport/secure/InterimSecureLink.h"
#include "transport/secure/SecureLinkListenSession.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/vrudp/VRUDPClock.h"

using namespace Vorezi;
using namespace Vorezi::secure;

namespace {

int RunPeer(const std::string &args) {
    const std::string cmd = std::string("python3 ") + SECURE_PEER + " " + args;
    int st = system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

unsigned LiveSessions() {
    CSecureServerLinkMgr *p = GetCoreGlobalCtrl()->GetSecureLinkMgr();
    return p ? p->GetCurrNum() : 0;
}

// The owner: answers by what it gets (the commands of secure_peer.py), else echoes.
struct Owner {
    int iListen = -1;
    std::atomic<int> iCalls{0};
    std::atomic<int> iPlain{0};

    static void OnData(int32_t iSecureHandle, SECURE_CALLBACK_DATA *p, void *pUser) {
        auto *self = static_cast<Owner *>(pUser);
        self->iCalls++;
        std::string data(reinterpret_cast<const char *>(p->pData), p->dwDataLen);
        if (iSecureHandle == -1) {
            self->iPlain++;
            self->Reply(-1, "PLAIN:" + data, p);
            return;
        }
        std::string answer = data;
        if (data == "DESTROY") {
            p->bDestroy = 1;
            return;
        }
        if (data == "KEEP")
            p->iStatus = SECURE_STATUS_KEEP_ALIVE;
        if (data == "CLOSE")
            answer = "CLOSE " + std::to_string(Interim_SecureServCloseRemote(self->iListen, iSecureHandle));
        if (data.rfind("TOKEN", 0) == 0) {
            char szToken[] = "0123456789abcdefX";
            const int iRet = data == "TOKENNULL" ? Interim_SecureSetInfo(iSecureHandle, SECURE_CMD_SETINFO_USE_TOKEN, nullptr, 16)
                             : data == "TOKEN17" ? Interim_SecureSetInfo(iSecureHandle, SECURE_CMD_SETINFO_USE_TOKEN, szToken, 17)
                                                 : Interim_SecureSetInfo(iSecureHandle, SECURE_CMD_SETINFO_USE_TOKEN, szToken, 16);
            answer = "SETINFO " + std::to_string(iRet);
        }
        self->Reply(iSecureHandle, answer, p);
    }

    void Reply(int iSecureHandle, const std::string &data, const SECURE_CALLBACK_DATA *p) {
        SECURE_SOCK_ADDR addr = {};
        memcpy(addr.szAddr, p->szAddr, sizeof(addr.szAddr));
        addr.wPort = p->wPort;
        SECURE_SEND_DATA send = {};
        send.pAddr = &addr;
        send.iSecureHandle = iSecureHandle;
        send.dwTimeOut = 5000;
        send.dwCommand = 7;
        send.pData = reinterpret_cast<const uint8_t *>(data.data());
        send.dwDataLen = uint32_t(data.size());
        Interim_SecureServSendTo(iListen, &send);
    }
};

SECURE_CREATE_FUNS Funs() {
    SECURE_CREATE_FUNS funs = {};
    return funs;
}

class SecureLinkTest : public servicetest::InitedTest {
protected:
    void SetUp() override {
        servicetest::InitedTest::SetUp();
        SECURE_CREATE_FUNS funs = Funs();
        owner.iListen = Interim_SecureCreate(&funs, 0, 0);
        ASSERT_GE(owner.iListen, 0);
        ASSERT_EQ(1, Interim_SecureServSetRecvFun(owner.iListen, Owner::OnData, &owner));
        SECURE_SOCK_ADDR addr = {};
        strcpy(addr.szAddr, "0.0.0.0");
        ASSERT_EQ(1, Interim_SecureBind(owner.iListen, &addr));
        wPort = PortOf(owner.iListen);
        ASSERT_NE(0, wPort);
    }
    void TearDown() override {
        if (owner.iListen >= 0)
            Interim_SecureClose(owner.iListen);
        EXPECT_EQ(0u, LiveSessions()) << "stopping the listen session destroys every session it made";
        servicetest::InitedTest::TearDown();
    }
    static uint16_t PortOf(int iListen) {
        CSecureLinkListenMgr *pMgr = GetCoreGlobalCtrl()->GetSecureLinkServerMgr();
        auto *p = dynamic_cast<CSecureLinkListenSession *>(pMgr->GetMember(iListen));
        sockaddr_in sa = {};
        socklen_t len = sizeof(sa);
        if (!p || getsockname(COM_VRUDP_GetSocket(p->VRUDPHandle()), reinterpret_cast<sockaddr *>(&sa), &len) != 0)
            return 0;
        return ntohs(sa.sin_port);
    }
    int Peer(const std::string &carriage, const std::string &name, const std::string &extra = "") {
        return RunPeer("--port " + std::to_string(wPort) + " --carriage " + carriage + " --case " + name + " " + extra);
    }

    Owner owner;
    uint16_t wPort = 0;
};

} // namespace

TEST_F(SecureLinkTest, PeerRunsEveryStepInBothCarriages) {
    servicetest::LogCapture log;
    for (const char *carriage : {"dgram", "rudp"}) {
        SCOPED_TRACE(carriage);
        for (const char *name : {"exchange", "nokey", "token"})
            EXPECT_EQ(0, Peer(carriage, name)) << name;
    }
    EXPECT_EQ(2u, log.Matching("Invalid dwKeyLen[129]").size());
    EXPECT_EQ(2u, log.Matching("ParseSuiteCommuHello, DecryptData Failed").size());
    EXPECT_EQ(2u, log.Matching("Token CheckFailed Error").size());
}

TEST_F(SecureLinkTest, HostileDatagramsLeaveTheSessionWorking) {
    servicetest::LogCapture log;
    EXPECT_EQ(0, Peer("dgram", "hostile"));
    EXPECT_EQ(1u, LiveSessions());
    for (const char *line : {"CheckHeadLen Failed", "Invalid Length", "Data Error", "Buffer Not Enough"})
        EXPECT_FALSE(log.Matching(line).empty()) << line;
}

TEST_F(SecureLinkTest, PlainDatagramReachesTheOwnerWithoutASession) {
    EXPECT_EQ(0, Peer("dgram", "plain"));
    EXPECT_EQ(1, owner.iPlain.load());
    EXPECT_EQ(0u, LiveSessions());
}

TEST_F(SecureLinkTest, PeersAreFoundByTheWholeAddress) {
    // The same port from 127.0.0.1 and 127.0.0.12: two sessions, never one found by a prefix.
    // Above the kernel's ephemeral ports, which other test processes take by the thousand.
    const int iSrc = 61000 + getpid() % 4000;
    EXPECT_EQ(0, Peer("dgram", "ping", "--bind 127.0.0.1 --src-port " + std::to_string(iSrc)));
    EXPECT_EQ(0, Peer("dgram", "ping", "--bind 127.0.0.12 --src-port " + std::to_string(iSrc)));
    EXPECT_EQ(2u, LiveSessions());
    EXPECT_EQ(0, Peer("dgram", "ping", "--bind 127.0.0.1 --src-port " + std::to_string(iSrc)));
    EXPECT_EQ(2u, LiveSessions()) << "later packets reach the same session";
}

TEST_F(SecureLinkTest, SessionsOfAnotherListenSessionAreNotItsOwn) {
    EXPECT_EQ(0, Peer("dgram", "ping"));
    ASSERT_EQ(1u, LiveSessions());
    int iSession = -1;
    for (int i = 0; i < SECURE_MAX_SESSIONS && iSession < 0; i++)
        if (GetCoreGlobalCtrl()->GetSecureLinkMgr()->GetMember(i))
            iSession = i;
    SECURE_CREATE_FUNS funs = Funs();
    const int iOther = Interim_SecureCreate(&funs, 0, 0);
    ASSERT_GE(iOther, 0);
    SECURE_SEND_DATA send = {};
    send.iSecureHandle = iSession;
    send.pData = reinterpret_cast<const uint8_t *>("x");
    send.dwDataLen = 1;
    EXPECT_EQ(-1, Interim_SecureServSendTo(iOther, &send));
    EXPECT_EQ(0, Interim_SecureServCloseRemote(iOther, iSession));
    EXPECT_EQ(1u, LiveSessions());
    EXPECT_EQ(1, Interim_SecureServCloseRemote(owner.iListen, iSession));
    EXPECT_EQ(0u, LiveSessions());
    EXPECT_EQ(1, Interim_SecureClose(iOther));
}

TEST_F(SecureLinkTest, DestroyFlagAndCloseFromTheCallbackEndTheSession) {
    EXPECT_EQ(0, Peer("dgram", "destroy"));
    EXPECT_TRUE(servicetest::WaitFor([] { return LiveSessions() == 0; }, 30000));
    for (const char *carriage : {"dgram", "rudp"}) {
        EXPECT_EQ(0, Peer(carriage, "close")) << carriage;
        EXPECT_TRUE(servicetest::WaitFor([] { return LiveSessions() == 0; }, 30000)) << carriage;
    }
}

TEST_F(SecureLinkTest, SilentDatagramPeerTimesOutAtTheNextDatagram) {
    EXPECT_EQ(0, Peer("dgram", "keep"));
    EXPECT_EQ(1u, LiveSessions());
    // The clock also runs in real time while the peers start: wide margins on both sides.
    VRUDP_AdvanceTickForTest(SECURE_PEER_TIMEOUT_MS - 60000);
    EXPECT_EQ(0, Peer("dgram", "ping"));
    EXPECT_EQ(2u, LiveSessions()) << "not yet silent for five minutes";
    VRUDP_AdvanceTickForTest(61000);
    EXPECT_EQ(0, Peer("dgram", "ping"));
    // The kept-alive peer is gone; the two that never asked to be kept stay.
    EXPECT_EQ(2u, LiveSessions());
}

TEST_F(SecureLinkTest, ExpiredReliableLinkEndsItsSessionAndASilentOneMakesNone) {
    servicetest::LogCapture log;
    EXPECT_EQ(0, Peer("rudp", "silent"));
    EXPECT_EQ(0, Peer("rudp", "keep"));
    EXPECT_EQ(1u, LiveSessions());
    // Past the server's keep-alive, in steps the once-a-second sweep sees: both links close with
    // a notice to the listen session.
    bool bExpired = false;
    for (int i = 0; i < 10 && !bExpired; i++) {
        VRUDP_AdvanceTickForTest(15000);
        bExpired = servicetest::WaitFor(
            [&] { return log.Matching("CheckDoKeepLive, Timeout, Destroy").size() >= 2; }, 1500);
    }
    EXPECT_TRUE(bExpired);
    EXPECT_TRUE(servicetest::WaitFor([] { return LiveSessions() == 0; }, 30000));
}

TEST_F(SecureLinkTest, StopWhilePeersSend) {
    std::atomic<bool> bStop{false};
    std::thread sender([&] {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(wPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        uint8_t hello[36] = {'Q', 'D', 'S', 'C', 0, 36, 1, 0};
        while (!bStop.load()) {
            // A new source port each time: a new session each time.
            int t = socket(AF_INET, SOCK_DGRAM, 0);
            sendto(t, hello, sizeof(hello), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
            close(t);
        }
        close(s);
    });
    EXPECT_TRUE(servicetest::WaitFor([] { return LiveSessions() >= 20; }, 30000));
    EXPECT_EQ(1, Interim_SecureClose(owner.iListen));
    owner.iListen = -1;
    EXPECT_EQ(0u, LiveSessions());
    bStop = true;
    sender.join();
}

TEST_F(SecureLinkTest, FiniWithLiveSessionsMakesNoManagerAgain) {
    EXPECT_EQ(0, Peer("dgram", "keep"));
    EXPECT_EQ(1u, LiveSessions());
    GetCoreGlobalCtrl()->Fini();
    EXPECT_EQ(nullptr, GetCoreGlobalCtrl()->GetSecureLinkServerMgr());
    EXPECT_EQ(nullptr, GetCoreGlobalCtrl()->GetSecureLinkMgr());
    owner.iListen = -1;
    ASSERT_EQ(1, GetCoreGlobalCtrl()->Init());
}

// The C functions: before Morva_Init, with bad and wrong-kind handles, and the create rules.
TEST(SecureLinkFunctions, ResultsBeforeInitAndWithBadHandles) {
    SECURE_CREATE_FUNS funs = Funs();
    SECURE_SOCK_ADDR addr = {};
    SECURE_SEND_DATA send = {};
    int32_t a = 0, b = 0;
    char buf[16] = {};
    struct Row {
        const char *pName;
        std::function<int(int, int)> fn; // (listen handle, secure handle)
        int iFail;
    } rows[] = {
        {"Create", [&](int, int) { return Morva_SecureCreate(&funs, 0, 0); }, -1},
        {"Close", [&](int l, int) { return Morva_SecureClose(l); }, 0},
        {"Bind", [&](int l, int) { return Morva_SecureBind(l, &addr); }, 0},
        {"GetSockBuffSize", [&](int l, int) { return Morva_SecureGetSockBuffSize(l, &a, &b); }, 0},
        {"SetSockBuffSize", [&](int l, int) { return Morva_SecureSetSockBuffSize(l, 65536, 65536); }, 0},
        {"SetMTUSize", [&](int l, int) { return Morva_SecureSetMTUSize(l, 1400); }, 0},
        {"SetNoBlock", [&](int l, int) { return Morva_SecureSetNoBlock(l, 1); }, 0},
        {"SetReuseAddr", [&](int l, int) { return Morva_SecureSetReuseAddr(l, 1); }, 0},
        {"ShutDown", [&](int l, int) { return Morva_SecureShutDown(l, 2); }, 0},
        {"ServSetRecvFun", [&](int l, int) { return Morva_SecureServSetRecvFun(l, Owner::OnData, nullptr); }, 0},
        {"ServCloseRemote", [&](int l, int s) { return Morva_SecureServCloseRemote(l, s); }, 0},
        {"ServSendTo", [&](int l, int s) { send.iSecureHandle = s; return Morva_SecureServSendTo(l, &send); }, -1},
        {"ServRecvFrom", [&](int, int s) { return Morva_SecureServRecvFrom(s, buf, 16, 10); }, -1},
        {"SetInfo", [&](int, int s) { return Morva_SecureSetInfo(s, 1, buf, 16); }, -1},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.pName);
        EXPECT_EQ(r.iFail, r.fn(0, 0));
        EXPECT_EQ(3, GetCoreGlobalCtrl()->GetLastError());
    }
    ASSERT_EQ(1, GetCoreGlobalCtrl()->Init());
    EXPECT_EQ(-1, Morva_SecureCreate(&funs, 2, 0));
    EXPECT_EQ(17, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(-1, Morva_SecureCreate(&funs, 0, 2));
    EXPECT_EQ(17, GetCoreGlobalCtrl()->GetLastError());
    EXPECT_EQ(-1, Morva_SecureCreate(&funs, 0, 1));
    const int iListen = Morva_SecureCreate(&funs, 0, 0);
    ASSERT_GE(iListen, 0);
    // Handles that name nothing, and the listen handle as a secure handle (wrong manager).
    for (const Row &r : rows) {
        if (std::string(r.pName) == "Create" || std::string(r.pName) == "Close")
            continue;
        SCOPED_TRACE(r.pName);
        EXPECT_EQ(r.iFail, r.fn(iListen + 1, 20479));
        EXPECT_EQ(r.iFail, r.fn(-1, -1));
    }
    EXPECT_EQ(-1, Morva_SecureSetInfo(iListen, 1, buf, 16)) << "a listen handle is no secure handle";
    EXPECT_EQ(0, Morva_SecureClose(iListen + 1));
    EXPECT_EQ(1, Morva_SecureSetReuseAddr(iListen, 1));
    EXPECT_EQ(1, Morva_SecureShutDown(iListen, 2)) << "ENOTCONN of an unconnected socket is success";
    EXPECT_EQ(1, Morva_SecureClose(iListen));
    GetCoreGlobalCtrl()->Fini();
}
