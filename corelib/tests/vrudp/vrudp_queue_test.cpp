// The send and receive queues and the RTT estimator, without sockets: data heads byte for byte,
// all-or-nothing queuing, acknowledgement wrap, reassembly from the 128-slot ring.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "service_test_util.h"
#include "transport/vrudp/RecvQueue.h"
#include "transport/vrudp/SndQueue.h"
#include "transport/vrudp/VRUDPRtt.h"
#include "transport/vrudp/VRUDPWire.h"

using namespace Vorezi;
using namespace Vorezi::vrudp;

namespace {

class QueueTest : public servicetest::InitedTest {};

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(i * 7 + 3);
    return v;
}

// Every block the queue would send, in order.
std::vector<std::vector<uint8_t>> DrainBlocks(CSndQueue &q) {
    std::vector<std::vector<uint8_t>> out;
    while (VRUDP_SEND_BLOCK *p = q.getSendBlock()) {
        out.emplace_back(p->pBuf, p->pBuf + p->dwLen);
        q.NextCur();
    }
    return out;
}

// The head a peer expects, written out field by field.
std::vector<uint8_t> ExpectedHead(uint8_t ver, uint8_t pos, uint16_t remote, uint32_t seq, uint32_t ack,
                                  uint16_t own, uint32_t code) {
    std::vector<uint8_t> h = {'R', 'U', 'D', 'P', 0, uint8_t(pos << 6), uint8_t(remote >> 8), uint8_t(remote),
                              uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq),
                              uint8_t(ack >> 24), uint8_t(ack >> 16), uint8_t(ack >> 8), uint8_t(ack)};
    if (ver >= 1) {
        h.insert(h.end(), {uint8_t(own >> 8), uint8_t(own), ver, 0});
    }
    if (ver == 2) {
        h.insert(h.end(), {uint8_t(code >> 24), uint8_t(code >> 16), uint8_t(code >> 8), uint8_t(code)});
    }
    h[4] = uint8_t(h.size() + (ver == 2 ? 4 : 0));
    return h;
}

TEST_F(QueueTest, DataHeadsOfEveryVersionAndSize) {
    const int kOne = kDefaultOneDataSize;
    for (uint8_t ver : {0, 1, 2}) {
        for (int len : {1, kOne, kOne + 1, 2 * kOne, 2 * kOne + 1, 128 * kOne}) {
            SCOPED_TRACE(testing::Message() << "version " << int(ver) << " length " << len);
            CSndQueue q;
            q.SetHandle(7);
            ASSERT_EQ(q.InitQueue(), 1);
            q.UpdateNeedSeq(5);
            auto data = Pattern(size_t(len));
            ASSERT_EQ(q.InsertDataToSendList(data.data(), len, 0x1234, 7, ver, 0xA1B2C3D4), 0);
            auto blocks = DrainBlocks(q);
            size_t n = size_t((len + kOne - 1) / kOne);
            ASSERT_EQ(blocks.size(), n);
            size_t off = 0;
            for (size_t i = 0; i < n; i++) {
                uint8_t pos = n == 1 ? UNIT_SINGLE : i == 0 ? UNIT_BEGIN : i == n - 1 ? UNIT_END : UNIT_MIDDLE;
                auto head = ExpectedHead(ver, pos, 0x1234, uint32_t(i), 4, 7, 0xA1B2C3D4);
                size_t hl = size_t(DataHeadLen(ver));
                ASSERT_GE(blocks[i].size(), hl);
                EXPECT_EQ(std::vector<uint8_t>(blocks[i].begin(), blocks[i].begin() + long(head.size())), head);
                size_t payload = blocks[i].size() - hl;
                EXPECT_EQ(payload, i == n - 1 ? size_t(len) - off : size_t(kOne));
                EXPECT_EQ(0, std::memcmp(blocks[i].data() + hl, data.data() + off, payload));
                off += payload;
            }
        }
    }
}

TEST_F(QueueTest, ShortageRefusesTheWholeMessageAgainstTheByteLimit) {
    CSndQueue q;
    ASSERT_EQ(q.InitQueue(), 1);
    const int kOne = q.GetOneDataSize();
    int iFree = q.FreeBlockCount();
    auto data = Pattern(size_t(kOne) * size_t(iFree + 1));
    EXPECT_EQ(q.InsertDataToSendList(data.data(), kOne * (iFree + 1), 1, 1, 2, 1), kNoEnoughBuf);
    EXPECT_EQ(q.getSendBlock(), nullptr) << "nothing of a refused message is queued";
    // Exactly what the estimate promised fits, and the groups it needed stay within the limit.
    EXPECT_EQ(q.InsertDataToSendList(data.data(), kOne * iFree, 1, 1, 2, 1), 0);
    EXPECT_EQ(DrainBlocks(q).size(), size_t(iFree));
    EXPECT_LE(q.GetTotalMallocSize() - kDefaultQueueBytes, GroupBytes(sizeof(VRUDP_SEND_BLOCK), kOne));
    EXPECT_EQ(q.FreeBlockCount(), 0);
    EXPECT_EQ(q.InsertDataToSendList(data.data(), 1, 1, 1, 2, 1), kNoEnoughBuf);
    EXPECT_EQ(q.InsertDataToSendList(nullptr, 1, 1, 1, 2, 1), 10005);
}

TEST_F(QueueTest, AcknowledgementsWrapBySignedDifference) {
    CSndQueue q;
    ASSERT_EQ(q.InitQueue(), 1);
    // Move the sequence near the wrap by queuing and acknowledging blocks one at a time.
    auto one = Pattern(1);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(q.InsertDataToSendList(one.data(), 1, 1, 1, 2, 1), 0);
    DrainBlocks(q);
    EXPECT_EQ(q.UpdateWindow(uint32_t(-2)), 0);
    EXPECT_NE(q.getBlockBySeq(0), nullptr) << "an ack before sequence 0 releases nothing";
    EXPECT_EQ(q.UpdateWindow(uint32_t(1)), 0);
    EXPECT_EQ(q.getBlockBySeq(0), nullptr);
    EXPECT_EQ(q.getBlockBySeq(1), nullptr);
    EXPECT_NE(q.getBlockBySeq(2), nullptr);
    // The packet form reads bytes 16-19 of an ACK only.
    uint8_t ack[kAckLen];
    BuildAck(ack, 2, 1, 1, 9, 2);
    EXPECT_EQ(q.UpdateWindow(ack, kAckLen), 0);
    EXPECT_EQ(q.getBlockBySeq(2), nullptr);
    BuildPlain(ack, PKT_FIN, 2, 1, 1);
    EXPECT_EQ(q.UpdateWindow(ack, kAckLen), -1);
}

TEST_F(QueueTest, WrappedSequencesReleaseOlderBlocks) {
    // The release rule itself: 2 after 4294967294 is newer.
    EXPECT_GT(SeqDiff(2, 4294967294u), 0);
    EXPECT_LT(SeqDiff(4294967294u, 2), 0);
}

// A filled receive node for sequence seq and position pos carrying payload bytes.
VRUDP_RECV_NODE *Fill(CRecvQueue &q, uint32_t seq, uint8_t pos, const std::vector<uint8_t> &payload) {
    VRUDP_RECV_NODE *p = q.GetEmptyBuffer();
    if (!p)
        return nullptr;
    DataHead h{2, pos, 1, seq, 0, 1, 1};
    int hl = BuildDataHead(p->pBuf, h);
    std::memcpy(p->pBuf + hl, payload.data(), payload.size());
    p->dwLen = uint32_t(hl + int(payload.size()));
    p->byType = PKT_DATA;
    p->byUnitPos = pos;
    p->dwSeq = seq;
    return p;
}

TEST_F(QueueTest, InOrderRunAdvancesOverStoredSuccessors) {
    CRecvQueue q;
    ASSERT_EQ(q.InitQueue(3), 1);
    uint32_t need = 0;
    ASSERT_EQ(q.InsertArray(Fill(q, 2, UNIT_END, {3}), &need, 0), 0);
    ASSERT_EQ(q.InsertArray(Fill(q, 1, UNIT_MIDDLE, {2}), &need, 0), 0);
    EXPECT_EQ(need, 0u);
    uint8_t buf[16];
    EXPECT_EQ(q.ReadPacket(buf, sizeof buf), 0) << "no whole message yet";
    ASSERT_EQ(q.InsertArray(Fill(q, 0, UNIT_BEGIN, {1}), &need, 1), 0);
    EXPECT_EQ(need, 3u);
    ASSERT_EQ(q.ReadPacket(buf, sizeof buf), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(q.GetUnitCount(), 0);
}

TEST_F(QueueTest, OccupiedSlotDropsAndAliasesNeverAdvance) {
    CRecvQueue q;
    ASSERT_EQ(q.InitQueue(3), 1);
    uint32_t need = 0;
    ASSERT_EQ(q.InsertArray(Fill(q, 1, UNIT_SINGLE, {1}), &need, 0), 0);
    VRUDP_RECV_NODE *dup = Fill(q, 1, UNIT_SINGLE, {9});
    ASSERT_EQ(q.InsertArray(dup, &need, 0), 0);
    EXPECT_EQ(dup->bInUse, 0) << "the duplicate's node stays free";
    EXPECT_EQ(q.GetEmptyBuffer(), dup) << "and is handed out again";
    // Sequence 128 sits in slot 0 but is not sequence 0: the needed sequence must not move.
    ASSERT_EQ(q.InsertArray(Fill(q, 128, UNIT_SINGLE, {5}), &need, 1), 0);
    EXPECT_EQ(need, 0u);
    uint8_t buf[8];
    EXPECT_EQ(q.ReadPacket(buf, sizeof buf), 0) << "an alias is never read as the missing block";
}

TEST_F(QueueTest, MessageWithoutBeginIsDiscardedAndSmallBufferKeepsUnits) {
    CRecvQueue q;
    ASSERT_EQ(q.InitQueue(3), 1);
    uint32_t need = 0;
    ASSERT_EQ(q.InsertArray(Fill(q, 0, UNIT_MIDDLE, {1}), &need, 1), 0);
    ASSERT_EQ(q.InsertArray(Fill(q, 1, UNIT_END, {2}), &need, 1), 0);
    ASSERT_EQ(q.InsertArray(Fill(q, 2, UNIT_BEGIN, {3, 3}), &need, 1), 0);
    ASSERT_EQ(q.InsertArray(Fill(q, 3, UNIT_END, {4, 4}), &need, 1), 0);
    uint8_t buf[8];
    EXPECT_EQ(q.ReadPacket(buf, sizeof buf), 0);
    EXPECT_EQ(q.GetUnitCount(), 2) << "the headless message is gone";
    EXPECT_EQ(q.ReadPacket(buf, 3), 0) << "too small a buffer";
    EXPECT_EQ(q.GetUnitCount(), 2) << "keeps every unit";
    EXPECT_EQ(q.ReadPacket(buf, 4), 4);
}

TEST_F(QueueTest, LostSequencesUpToTheHighestSlot) {
    CRecvQueue q;
    ASSERT_EQ(q.InitQueue(3), 1);
    uint32_t need = 0;
    for (uint32_t s : {2u, 3u, 6u})
        ASSERT_EQ(q.InsertArray(Fill(q, s, UNIT_SINGLE, {1}), &need, 0), 0);
    uint32_t lost[8] = {};
    ASSERT_EQ(q.GetLostSeq(lost, sizeof lost, 0), 4 * 4);
    EXPECT_EQ(std::vector<uint32_t>(lost, lost + 4), (std::vector<uint32_t>{0, 1, 4, 5}));
    EXPECT_EQ(q.GetLostSeq(lost, 8, 0), 2 * 4) << "bounded by the array";
}

TEST_F(QueueTest, FullRingWithoutEndIsStalled) {
    CRecvQueue q;
    ASSERT_EQ(q.InitQueue(3), 1);
    uint32_t need = 0;
    for (uint32_t s = 0; s < 128; s++) {
        ASSERT_FALSE(q.IsStalled());
        VRUDP_RECV_NODE *p = Fill(q, s, s == 0 ? UNIT_BEGIN : UNIT_MIDDLE, {1});
        ASSERT_NE(p, nullptr) << s;
        ASSERT_EQ(q.InsertArray(p, &need, 1), 0);
    }
    EXPECT_TRUE(q.IsStalled());
}

struct RttCase {
    const char *name;
    std::vector<std::pair<int32_t, uint32_t>> samples;  // (measured ms, tick)
    uint32_t srtt, dev, var, rto;
};

TEST(RttTest, SampleSequences) {
    const RttCase cases[] = {
        {"first 50 ms", {{50, 1000}}, 400, 100, 200, 250},
        {"500 ms or more ignored", {{500, 1000}, {700, 1100}}, 0, 0, 0, 300},
        {"first 0 counts as 1", {{0, 1000}}, 8, 2, 200, 201},
        {"srtt capped at 400 ms", {{450, 1000}, {499, 1001}, {499, 1002}, {499, 1003}}, 3200, 0, 0, 500},
        {"rto capped at 500", {{300, 1000}, {490, 1001}}, 0, 0, 0, 500},
        {"steady 50 ms decays the variance", {{50, 1000}, {50, 1100}, {50, 1200}, {50, 1300}}, 400, 0, 200, 250},
        {"a rise widens the deviation", {{50, 1000}, {150, 1010}}, 500, 0, 200, 262},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        CVRUDPRtt rtt;
        for (auto [m, now] : c.samples)
            rtt.Sample(m, now);
        if (c.srtt) {
            EXPECT_EQ(rtt.GetSRTT(), c.srtt);
        }
        if (c.dev) {
            EXPECT_EQ(rtt.GetDev(), c.dev);
        }
        if (c.var) {
            EXPECT_EQ(rtt.GetRTTVar(), c.var);
        }
        EXPECT_EQ(rtt.GetRTO(), c.rto);
        EXPECT_GE(rtt.GetRTO(), c.samples[0].first >= 500 ? 300u : 200u);
    }
}

}  // namespace
