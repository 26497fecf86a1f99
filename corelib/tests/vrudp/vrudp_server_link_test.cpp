// The reliable-UDP stream server link through the server-link interface: client control links
// streaming to it over loopback, upper data down and closes from both sides, and its record
// rules driven with crafted receive records.
#include "server_link_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <thread>

#include "transport/serverlink/vrudp/ServerLinkVRUDPStream.h"
#include "transport/vrudp/VRUDPGuard.h"
#include "transport/vrudp/link/VRUDPLink.h"
#include "vrudp_link_util.h"

using namespace Vorezi;
using srvtest::Record;
using srvtest::Recorder;

namespace {

constexpr int kPayload = 1316;
constexpr int kStreamBase = 1000;
#if defined(__SANITIZE_THREAD__)
constexpr int kSanitizerHelper = 1;  // started with the process's first thread
#else
constexpr int kSanitizerHelper = 0;
#endif

class VRUDPStreamServerLink : public servicetest::InitedTest {
protected:
    // A link on loopback whose owner names stream kStreamBase + accept handle.
    void SetUp() override {
        iThreadsBefore = vrudptest::Threads();
        servicetest::InitedTest::SetUp();
        rec.OnRecord = [](SERVER_LINK_DATA *p) {
            if (p->dwMsgType == SERVER_LINK_MSG_NEW && p->dwDataKind == 10)
                p->iStreamHandle = kStreamBase + p->iAcceptHandle;
            return 1;
        };
        wPort = (uint16_t)srvtest::FreePort(SOCK_DGRAM);
        SERVER_LINK_COND c = srvtest::MakeCond(SERVER_LINK_PRO_VRUDP_STREAM, "127.0.0.1", wPort, &rec);
        hLink = rec.Create(&c);
        ASSERT_GE(hLink, 0);
    }
    void TearDown() override {
        Morva_DestroyServerLink(hLink);
        servicetest::InitedTest::TearDown();
    }
    CServerLinkVRUDPStream *Link() {
        return dynamic_cast<CServerLinkVRUDPStream *>(GetServerLinkMgr()->GetMember(hLink));
    }
    int AcceptCount() {
        CRWGuard guard(Link()->GetVRUDPHandle());
        auto *pFather = dynamic_cast<CVRUDPLink *>(guard.Member());
        return pFather ? pFather->GetAcceptCount() : -1;
    }
    int Connect() {
        int h = vrudptest::MakeLink(ENUM_VRUDP_MODE_CLIENT);
        VRUDP_SOCK_ADDR a = vrudptest::Addr("127.0.0.1", wPort);
        if (h < 0 || COM_VRUDP_SetStreamBitrate(h, 20000) != 1 || COM_VRUDP_Connect(h, &a, 5000) != 1)
            return -1;
        return h;
    }
    // The stream's bytes in record order: the new-stream record, then its data records.
    std::string StreamOf(int iStream) {
        std::string out;
        for (const Record &r : rec.Records())
            if (r.iStream == iStream && r.dwMsgType != SERVER_LINK_MSG_END)
                out += r.data;
        return out;
    }

    Recorder rec;
    uint16_t wPort = 0;
    int hLink = -1;
    int iThreadsBefore = 0;  // the process's threads before the library's start
};

std::string Payload(int iClient, int i) {
    auto v = vrudptest::Pattern(kPayload, uint8_t(iClient * 37 + i));
    return std::string(v.begin(), v.end());
}

// Several clients at once: each gets its own accept handle and stream, in order and complete,
// while new-stream, data and stop records of the others run on the father's thread.
TEST_F(VRUDPStreamServerLink, ClientsStreamUpAndGetUpperDataDown) {
    constexpr int kClients = 4;
    constexpr int kPackets = 200;
    int aClient[kClients];
    for (int c = 0; c < kClients; c++)
        ASSERT_GE(aClient[c] = Connect(), 0);
    std::vector<std::thread> senders;
    for (int c = 0; c < kClients; c++)
        senders.emplace_back([&, c] {
            for (int i = 0; i < kPackets; i++) {
                std::string s = Payload(c, i);
                while (COM_VRUDP_SendTo(aClient[c], s.data(), kPayload, nullptr, 0) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    for (auto &t : senders)
        t.join();
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_DATA, kClients * (kPackets - 1), 30000));

    std::map<std::string, int> acceptOfPeer;  // by the client's port
    for (const Record &r : rec.Records()) {
        EXPECT_EQ(10u, r.dwKind);
        EXPECT_EQ(hLink, r.iLink);
        EXPECT_EQ(kStreamBase + r.iAccept, r.iStream);
        EXPECT_EQ("127.0.0.1", r.peer);
        if (r.dwMsgType == SERVER_LINK_MSG_NEW)
            acceptOfPeer[std::to_string(r.iPeerPort)] = r.iAccept;
    }
    ASSERT_EQ(size_t(kClients), acceptOfPeer.size());
    EXPECT_EQ(size_t(kClients), rec.Count(SERVER_LINK_MSG_NEW));
    EXPECT_EQ(kClients, AcceptCount());
    // Which accept handle is whose: the first payload tells.
    std::vector<int> acceptOf(kClients, -1);
    for (const auto &kv : acceptOfPeer) {
        std::string first = StreamOf(kStreamBase + kv.second).substr(0, kPayload);
        for (int c = 0; c < kClients; c++)
            if (first == Payload(c, 0))
                acceptOf[size_t(c)] = kv.second;
    }
    for (int c = 0; c < kClients; c++) {
        ASSERT_GE(acceptOf[size_t(c)], 0) << c;
        std::string want;
        for (int i = 0; i < kPackets; i++)
            want += Payload(c, i);
        EXPECT_TRUE(StreamOf(kStreamBase + acceptOf[size_t(c)]) == want) << "client " << c;
    }

    // Upper data down to the first client.
    SERVER_LINK_SEND_PARAM s{};
    s.iAcceptHandle = acceptOf[0];
    s.pData = "hello";
    s.dwDataLen = 5;
    EXPECT_EQ(5, Morva_ServerLinkSendData(hLink, &s));
    char buf[1500];
    VRUDP_SOCK_ADDR from = {};
    EXPECT_EQ(5, COM_VRUDP_RecvFrom(aClient[0], buf, sizeof buf, &from, 5000));
    EXPECT_EQ("hello", std::string(buf, 5));
    EXPECT_EQ(wPort, from.wPort);

    // The client closes: a stop record with its stream.
    EXPECT_EQ(1, COM_VRUDP_Close(aClient[0]));
    ASSERT_TRUE(rec.WaitCount(SERVER_LINK_MSG_END, 1, 30000));
    Record stop = rec.Records().back();
    EXPECT_EQ(SERVER_LINK_MSG_END, stop.dwMsgType);
    EXPECT_EQ(acceptOf[0], stop.iAccept);
    EXPECT_EQ(kStreamBase + acceptOf[0], stop.iStream);
    // The owner answers a stop by closing the accept handle.
    EXPECT_EQ(0, Morva_CloseAcceptHandle(hLink, acceptOf[0]));

    // The server closes the second: both children go at the father's next sweep, and data for
    // them is refused from then on.
    EXPECT_EQ(0, Morva_CloseAcceptHandle(hLink, acceptOf[1]));
    EXPECT_TRUE(servicetest::WaitFor([&] { return AcceptCount() == kClients - 2; }, 30000));
    s.iAcceptHandle = acceptOf[1];
    EXPECT_EQ(-1, Morva_ServerLinkSendData(hLink, &s));
    EXPECT_EQ(8, srvtest::LastError());
    for (int c = 1; c < kClients; c++)
        COM_VRUDP_Close(aClient[c]);
}

// Fini with the link, its father and a streaming child all alive: everything stops, nothing
// is reported after the library is gone.
TEST_F(VRUDPStreamServerLink, FiniWithLiveStreams) {
    const int iClient = Connect();
    ASSERT_GE(iClient, 0);
    std::string s = Payload(0, 0);
    // Far more than the path takes at once: the client still resends and the father still
    // delivers when Fini comes.
    for (int i = 0; i < 2000; i++)
        COM_VRUDP_SendTo(iClient, s.data(), kPayload, nullptr, 0);
    EXPECT_TRUE(rec.WaitCount(SERVER_LINK_MSG_DATA, 20, 30000));
    GetCoreGlobalCtrl()->Fini();
    const size_t uAfter = rec.Records().size();
    // Records come from the library's threads: once none is left, none can come late.
    EXPECT_LE(vrudptest::Threads(), iThreadsBefore + kSanitizerHelper) << "Fini left threads running";
    EXPECT_EQ(uAfter, rec.Records().size());
    ASSERT_EQ(1, GetCoreGlobalCtrl()->Init());  // for TearDown
    hLink = -1;
}

// Handles that are not this link's children are neither closed nor sent to.
TEST_F(VRUDPStreamServerLink, ForeignAndOutOfRangeHandles) {
    const int iOther = vrudptest::MakeLink(ENUM_VRUDP_MODE_SERVER);
    ASSERT_GE(iOther, 0);
    SERVER_LINK_SEND_PARAM s{};
    s.pData = "x";
    s.dwDataLen = 1;
    for (int iAccept : {iOther, Link()->GetVRUDPHandle(), -1, SERVER_LINK_VRUDP_STREAMS}) {
        s.iAcceptHandle = iAccept;
        EXPECT_EQ(-1, Morva_ServerLinkSendData(hLink, &s)) << iAccept;
    }
    EXPECT_EQ(-1, Morva_CloseAcceptHandle(hLink, SERVER_LINK_VRUDP_STREAMS));
    EXPECT_EQ(-1, Morva_CloseAcceptHandle(hLink, -1));
    EXPECT_EQ(0, Morva_CloseAcceptHandle(hLink, iOther));
    EXPECT_NE(-1, COM_VRUDP_GetSocket(iOther)) << "another owner's handle survives";
    EXPECT_EQ(1, COM_VRUDP_Close(iOther));
}

// The receive buffers are asked for 1 MiB and the send buffers for 256 KiB; Linux doubles what
// is asked and caps it at its maximum.
TEST_F(VRUDPStreamServerLink, BuffersAreEnlarged) {
    auto sysMax = [](const char *pPath) {
        long v = 0;
        std::ifstream(pPath) >> v;
        return v;
    };
    int iSnd = 0, iRcv = 0;
    socklen_t len = sizeof(int);
    const int fd = COM_VRUDP_GetSocket(Link()->GetVRUDPHandle());
    ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &iSnd, &len));
    ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iRcv, &len));
    EXPECT_EQ(2 * std::min<long>(0x40000, sysMax("/proc/sys/net/core/wmem_max")), iSnd);
    EXPECT_EQ(2 * std::min<long>(0x100000, sysMax("/proc/sys/net/core/rmem_max")), iRcv);
}

// The record rules, one row after the other on one link: rows see the table the rows before
// them left.
TEST_F(VRUDPStreamServerLink, RecordRules) {
    struct Row {
        const char *name;
        int32_t enumDataType;
        int32_t dwMsgType;
        int32_t iAccept;
        int iCallbackResult;  // what the owner returns
        int iCallbackStream;  // what the owner leaves in iStreamHandle (-2 keeps it)
        int iResult;
        int iPushedStream;  // the stream handle of the pushed record; -3 nothing pushed
        const char *pLog;
    };
    const Row rows[] = {
        {"plain datagram", 0, 0, 0, 1, -2, 1, -1, nullptr},
        {"new stream", 1, 0, 7, 1, 55, 1, -1, nullptr},
        {"a second new stream for the accept handle", 1, 0, 7, 1, 56, 0, 55, "Invalid Param, iStreamHandle[56], iAcceptHandle[7]"},
        {"data", 1, 1, 7, 1, -2, 1, 55, nullptr},
        {"data of an accept handle without stream", 1, 1, 8, 1, -2, 0, -3, "ENUM_R_LINK_STATUS_DATA, Invalid Param, iAcceptHandle[8]"},
        {"new stream the owner leaves without handle", 1, 0, 8, 1, -2, 0, -1, "Invalid Param, iStreamHandle[-1], iAcceptHandle[8]"},
        {"new stream the owner refuses", 1, 0, 8, 0, 57, 0, -1, "PushDataToCallBack Failed, iStreamHandle[57], iAcceptHandle[8]"},
        {"new stream of accept handle 20480", 1, 0, 20480, 1, 58, 0, -1, "Invalid Param, iStreamHandle[58], iAcceptHandle[20480]"},
        {"new stream of accept handle -1", 1, 0, -1, 1, 58, 0, -1, "iAcceptHandle[-1]"},
        {"data of accept handle 20480", 1, 1, 20480, 1, -2, 0, -3, "ENUM_R_LINK_STATUS_DATA, Invalid Param, iAcceptHandle[20480]"},
        {"stop", 1, 2, 7, 1, -2, 1, 55, nullptr},
        {"data after the stop", 1, 1, 7, 1, -2, 0, -3, "ENUM_R_LINK_STATUS_DATA, Invalid Param, iAcceptHandle[7]"},
        {"stop again", 1, 2, 7, 1, -2, 0, -3, "ENUM_R_LINK_STATUS_STOP, Invalid Param, iAcceptHandle[7]"},
        {"a new stream after the stop", 1, 0, 7, 1, 59, 1, -1, nullptr},
        {"message type 3", 1, 3, 7, 1, -2, 0, -3, "Invalid dwMsgType[3]"},
        {"data type 2", 2, 1, 7, 1, -2, 0, -3, "Invalid enumDataType[2]"},
    };
    int iResult = 1, iStream = -2;
    rec.OnRecord = [&](SERVER_LINK_DATA *p) {
        if (iStream != -2)
            p->iStreamHandle = iStream;
        return iResult;
    };
    const uint8_t abyData[3] = {1, 2, 3};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        servicetest::LogCapture log;
        iResult = row.iCallbackResult;
        iStream = row.iCallbackStream;
        VRUDP_RECV_DATA d = {};
        d.enumDataType = row.enumDataType;
        d.dwMsgType = row.dwMsgType;
        d.iVRUDPHandle = row.iAccept;
        std::strcpy(d.szRemoteAddr, "10.1.2.3");
        d.wRemotePort = 4000;
        d.pData = abyData;
        d.iDataLen = 3;
        const size_t before = rec.Records().size();
        EXPECT_EQ(row.iResult, Link()->ProcessRecvedData(&d));
        std::vector<Record> records = rec.Records();
        if (row.iPushedStream == -3) {
            EXPECT_EQ(before, records.size());
        } else {
            ASSERT_EQ(before + 1, records.size());
            const Record &r = records.back();
            EXPECT_EQ(row.enumDataType ? 10u : 1u, r.dwKind);
            EXPECT_EQ(uint32_t(row.dwMsgType), r.dwMsgType);
            EXPECT_EQ(row.enumDataType ? row.iAccept : -1, r.iAccept);
            EXPECT_EQ("10.1.2.3", r.peer);
            EXPECT_EQ(4000, r.iPeerPort);
            EXPECT_EQ(std::string("\1\2\3", 3), r.data);
            if (row.iCallbackStream == -2) {
                EXPECT_EQ(row.iPushedStream, r.iStream);
            }
        }
        if (row.pLog) {
            EXPECT_EQ(1u, log.Matching(row.pLog).size()) << row.pLog;
        }
    }
    servicetest::LogCapture log;
    EXPECT_EQ(1, Link()->ProcessRecvedData(nullptr));
    EXPECT_EQ(1u, log.Matching("CServerLinkVRUDPStream::ProcessRecvedData, NULL == pStruData").size());
    // CloseAcceptHandle frees the entry for a new stream.
    EXPECT_EQ(0, Morva_CloseAcceptHandle(hLink, 7));
    iResult = 1;
    iStream = 60;
    VRUDP_RECV_DATA d = {};
    d.enumDataType = 1;
    d.iVRUDPHandle = 7;
    EXPECT_EQ(1, Link()->ProcessRecvedData(&d));
}

}  // namespace
