// The secure reliable-UDP server link (byProType 9) through the server-link interface: records
// of a device peer (a loopback socket of the test) with the information block in area B, the
// write-back of the status and the destroy flag, sends on the listening handle and on the
// session, SetInfo, the buffer rule, reuse-address on a shared port, close and fini.
#include "server_link_test_util.h"

#include "transport/secure/InterimSecureLink.h"
#include "transport/secure/SecureLinkMgr.h"
#include "transport/secure/SecurePacket.h"
#include "transport/serverlink/vrudp/ServerLinkVRUDP.h"

using namespace srvtest;
using namespace Vorezi;

namespace {

constexpr char kToken[] = "device-token-016";

unsigned LiveSessions() {
    secure::CSecureServerLinkMgr *p = GetCoreGlobalCtrl()->GetSecureLinkMgr();
    return p ? p->GetCurrNum() : 0;
}

int FirstSession() {
    secure::CSecureServerLinkMgr *p = GetCoreGlobalCtrl()->GetSecureLinkMgr();
    for (int i = 0; p && i < secure::SECURE_MAX_SESSIONS; i++)
        if (p->GetMember(i))
            return i;
    return -1;
}

// A device without a key: plain "QDBD" frames from a loopback socket of its own.
class Device {
public:
    explicit Device(int iPort) : m_iPort(iPort) {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
        socklen_t n = sizeof(a);
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &n);
        m_wOwnPort = ntohs(a.sin_port);
        timeval tv{30, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }
    ~Device() { close(m_fd); }
    void SendRaw(const std::string &data) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(m_iPort));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
    }
    void SendFrame(const std::string &data) {
        secure::SecureDataHead head;
        head.dwLength = uint32_t(secure::SECURE_DATA_HEAD_LEN + secure::SecurePaddedLen(uint32_t(data.size())));
        head.dwPlainLen = uint32_t(data.size());
        memcpy(head.byToken, kToken, 16);
        std::string pkt(head.dwLength, '\0');
        secure::BuildDataHead(head, reinterpret_cast<uint8_t *>(&pkt[0]));
        memcpy(&pkt[secure::SECURE_DATA_HEAD_LEN], data.data(), data.size());
        SendRaw(pkt);
    }
    std::string Recv() {
        char buf[2048];
        ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
    WORD OwnPort() const { return m_wOwnPort; }

private:
    int m_fd = -1;
    int m_iPort = 0;
    WORD m_wOwnPort = 0;
};

class ServerLinkVRUDPTest : public PoolTest<0> {
protected:
    // The reliable-UDP manager is made under the control lock; made by a link's start it would
    // be made under the link's member lock, which the server-link manager's release takes under
    // the control lock (a fini racing a start). Made here first, as a host's first use does.
    void SetUp() override {
        PoolTest<0>::SetUp();
        ASSERT_NE(nullptr, GetCoreGlobalCtrl()->GetVRUDPLinkMgr());
    }
    // The port was free when the fixture was made, but a test program running beside this one
    // may have bound it since; the test's first link then moves on to another free port.
    int Create(Recorder &rec, DWORD dwSendMult = 0, DWORD dwRecvMult = 0) {
        for (int iTry = 0;; iTry++) {
            SERVER_LINK_COND c = MakeCond(SERVER_LINK_PRO_VRUDP, "127.0.0.1", WORD(iPort), &rec);
            c.dwSendMult = dwSendMult;
            c.dwRecvMult = dwRecvMult;
            const int h = rec.Create(&c);
            bMadeALink = bMadeALink || h >= 0;
            if (bMadeALink || iTry == 4 || !PortTaken(iPort, SOCK_DGRAM))
                return h;
            iPort = FreePort(SOCK_DGRAM);
        }
    }
    CServerLinkVRUDP *Link(int h) { return dynamic_cast<CServerLinkVRUDP *>(GetServerLinkMgr()->GetMember(h)); }

    int iPort = FreePort(SOCK_DGRAM);
    bool bMadeALink = false;
};

int PutAnswer(SERVER_LINK_DATA *p) {
    const std::string data(p->pData, p->dwDataLen);
    const int32_t iStatus = data == "KEEP" ? 100 : 0;
    const int32_t bDestroy = data == "DESTROY" ? 1 : 0;
    memcpy(p->byMqttBlock + 8, &iStatus, 4);
    memcpy(p->byMqttBlock + 12, &bDestroy, 4);
    return 1;
}

}  // namespace

TEST_F(ServerLinkVRUDPTest, DeliversRecordsAndTakesTheCallbacksAnswerBack) {
    Recorder rec;
    rec.OnRecord = PutAnswer;
    const int h = Create(rec);
    ASSERT_GE(h, 0);
    Device dev(iPort);
    dev.SendFrame("hello");
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1, 30000));
    Record r = rec.Records()[0];
    EXPECT_EQ(1u, r.dwKind);
    EXPECT_EQ(-1, r.iStream);
    EXPECT_EQ(-1, r.iAccept);
    EXPECT_EQ("hello", r.data);
    EXPECT_EQ(std::string(kToken, 16), r.areaB) << "the information block carries the device token";
    EXPECT_EQ("127.0.0.1", r.peer);
    EXPECT_EQ(dev.OwnPort(), r.iPeerPort);
    EXPECT_EQ(1u, LiveSessions());

    // Raw on the listening handle, then on the session (plain until a key exchange).
    SERVER_LINK_SEND_PARAM send{};
    send.pPeerIP = "127.0.0.1";
    send.wPeerPort = dev.OwnPort();
    send.iAcceptHandle = -1;
    send.dwWord1 = 5000;
    send.pData = "on the listening handle";
    send.dwDataLen = DWORD(strlen(send.pData));
    EXPECT_EQ(int(send.dwDataLen), Morva_ServerLinkSendData(h, &send));
    EXPECT_EQ("on the listening handle", dev.Recv());
    send.iAcceptHandle = FirstSession();
    send.pData = "on the session";
    send.dwDataLen = DWORD(strlen(send.pData));
    EXPECT_EQ(int(send.dwDataLen), Morva_ServerLinkSendData(h, &send));
    EXPECT_EQ("on the session", dev.Recv());

    // The destroy flag written back in the MQTT block ends the session.
    dev.SendFrame("DESTROY");
    EXPECT_TRUE(servicetest::WaitFor([] { return LiveSessions() == 0; }, 30000));
    dev.SendFrame("KEEP");
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 3, 30000));
    EXPECT_EQ(1u, LiveSessions()) << "a status of 100 keeps the session";

    char szToken[] = "0123456789abcdefX";
    EXPECT_EQ(0, Morva_SetInfo(h, FirstSession(), SECURE_CMD_SETINFO_USE_TOKEN, szToken, 16));
    EXPECT_EQ(2, Morva_SetInfo(h, FirstSession(), SECURE_CMD_SETINFO_USE_TOKEN, szToken, 17));
    EXPECT_EQ(-1, Morva_SetInfo(h, 20479, SECURE_CMD_SETINFO_USE_TOKEN, szToken, 16));

    EXPECT_EQ(1, Link(h)->CloseLink());
    EXPECT_EQ(-1, Link(h)->SecureHandle());
    EXPECT_EQ(0u, LiveSessions());
    EXPECT_EQ(-1, Morva_ServerLinkSendData(h, &send));
}

TEST_F(ServerLinkVRUDPTest, BufferSizesFollowTheMultiplierRule) {
    Recorder rec;
    const int h = Create(rec, 0, 65536);
    ASSERT_GE(h, 0);
    int32_t iSend = 0, iRecv = 0;
    ASSERT_EQ(1, Interim_SecureGetSockBuffSize(Link(h)->SecureHandle(), &iSend, &iRecv));
    EXPECT_EQ(2 * 65536, iRecv) << "1024 and more is a size (Linux reports it doubled)";
    EXPECT_EQ(1, Link(h)->EnlargeBufferSize(0, 2));
    int32_t iRecv2 = 0;
    ASSERT_EQ(1, Interim_SecureGetSockBuffSize(Link(h)->SecureHandle(), &iSend, &iRecv2));
    EXPECT_GT(iRecv2, iRecv) << "1 to 1023 multiplies";
    Link(h)->CloseLink();
    EXPECT_EQ(0, Link(h)->EnlargeBufferSize(0, 2));
    EXPECT_EQ(12, LastError());
}

// Reuse-address is on, so a second link binds the same port; Linux then hands unicast
// datagrams to the socket bound last.
TEST_F(ServerLinkVRUDPTest, SecondLinkOnTheSamePortGetsTheDatagrams) {
    Recorder first, second;
    ASSERT_GE(Create(first), 0);
    ASSERT_GE(Create(second), 0);
    Device dev(iPort);
    dev.SendRaw("not a secure packet");
    ASSERT_TRUE(second.WaitCount(SERVER_LINK_MSG_NEW, 1, 30000));
    EXPECT_EQ(0u, first.Count(SERVER_LINK_MSG_NEW));
    EXPECT_EQ(0u, LiveSessions());
}

TEST_F(ServerLinkVRUDPTest, FiniWithLinksMakesNoSecureManagerAgain) {
    Recorder rec;
    ASSERT_GE(Create(rec), 0);
    Device dev(iPort);
    dev.SendFrame("hello");
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_NEW, 1, 30000));
    GetCoreGlobalCtrl()->Fini();
    EXPECT_EQ(nullptr, GetCoreGlobalCtrl()->GetSecureLinkServerMgr());
    EXPECT_EQ(nullptr, GetCoreGlobalCtrl()->GetSecureLinkMgr());
    ASSERT_EQ(1, GetCoreGlobalCtrl()->Init());
}
