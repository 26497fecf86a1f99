// The MQTT parser: remaining-length coding, framing of split and joined streams, the frame limit,
// CONNECT and the packet tables, and the bytes of real clients.
#include <gtest/gtest.h>

#include <cstring>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "mqtt_test_util.h"
#include "service_test_util.h"
#include "transport/mqtt/MqttParser.h"

using namespace Vorezi;
using namespace mqtttest;

namespace {

// Frames out of one parser, after feeding the stream in pieces of at most iChunk bytes (0: at once).
std::vector<MqttFrame> Cut(CMqttParser &parser, const Bytes &stream, size_t chunk = 0, int *pResult = nullptr) {
    int iResult = 1;
    for (size_t pos = 0; pos < stream.size() && iResult;) {
        const size_t n = chunk ? std::min(chunk, stream.size() - pos) : stream.size();
        iResult = parser.ParseByteStream(stream.data() + pos, DWORD(n));
        pos += n;
    }
    if (pResult)
        *pResult = iResult;
    std::vector<MqttFrame> frames;
    MqttFrame frame;
    while (parser.Dequeue(&frame))
        frames.push_back(std::move(frame));
    return frames;
}

Bytes FrameBytes(const MqttFrame &f) { return Bytes(f.pData->GetData(), f.pData->GetData() + f.pData->GetLength()); }

std::string Part(const MqttFrame &f, DWORD off, DWORD len) {
    return std::string(reinterpret_cast<const char *>(f.pData->GetData()) + off, len);
}

class MqttParserTest : public servicetest::InitedTest {
protected:
    MqttFrame One(const Bytes &stream) {
        std::vector<MqttFrame> frames = Cut(m_Parser, stream);
        EXPECT_EQ(frames.size(), 1u);
        return frames.empty() ? MqttFrame() : std::move(frames[0]);
    }
    CMqttParser m_Parser{3};
};

TEST(MqttBuffer, AccessorsStayInsideTheData) {
    CBuffer buf(8);
    ASSERT_TRUE(buf.IsValid());
    const BYTE data[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(buf.Append(data, 5), 1);
    EXPECT_EQ(buf.Append(data, 4), 0);  // 9 > 8
    EXPECT_EQ(buf.GetByteAt(4), 5);
    EXPECT_EQ(buf.GetByteAt(5), -1);  // inside the capacity, past the data
    EXPECT_EQ(buf.GetPtrAt(5), nullptr);
    buf.Skip(3);
    EXPECT_EQ(buf.Remaining(), 2u);
    EXPECT_EQ(buf.GetByteAt(1), 5);
    EXPECT_EQ(buf.GetByteAt(2), -1);
    buf.Skip(100);
    EXPECT_EQ(buf.Remaining(), 0u);
    EXPECT_EQ(buf.GetReadPos(), 5u);
    CBuffer copy(buf);
    EXPECT_EQ(copy.GetCapacity(), 8u);
    EXPECT_EQ(copy.GetReadPos(), 5u);
    EXPECT_EQ(std::memcmp(copy.GetData(), data, 5), 0);
    EXPECT_FALSE(CBuffer(0).IsValid());
}

// OASIS MQTT 3.1.1, 2.2.3.
TEST(MqttRemainingLength, StandardExamples) {
    const struct {
        DWORD value;
        Bytes bytes;
    } rows[] = {{0, {0x00}},
                {127, {0x7F}},
                {128, {0x80, 0x01}},
                {16383, {0xFF, 0x7F}},
                {16384, {0x80, 0x80, 0x01}},
                {2097151, {0xFF, 0xFF, 0x7F}},
                {2097152, {0x80, 0x80, 0x80, 0x01}},
                {268435455, {0xFF, 0xFF, 0xFF, 0x7F}}};
    for (const auto &row : rows) {
        DWORD value = 1234;
        EXPECT_EQ(MqttDecodeRemainingLength(row.bytes.data(), DWORD(row.bytes.size()), &value), 1) << row.value;
        EXPECT_EQ(value, row.value);
        BYTE out[4] = {};
        ASSERT_EQ(MqttEncodeRemainingLength(row.value, out), row.bytes.size()) << row.value;
        EXPECT_EQ(Bytes(out, out + row.bytes.size()), row.bytes);
        // Every proper prefix asks for more.
        for (size_t n = 1; n < row.bytes.size(); n++)
            EXPECT_EQ(MqttDecodeRemainingLength(row.bytes.data(), DWORD(n), &value), 0);
    }
    const Bytes fifth{0x80, 0x80, 0x80, 0x80, 0x01};
    DWORD value = 0;
    EXPECT_EQ(MqttDecodeRemainingLength(fifth.data(), 4, &value), -1);
}

TEST_F(MqttParserTest, StreamsSplitAnywhereGiveTheSameFrames) {
    // A 2-byte remaining length (paho's 314-byte PUBLISH) and a PINGREQ of two bytes.
    const Bytes stream = Fixture("paho_publish") + kPingReq;
    ASSERT_GT(stream.size(), 300u);
    std::vector<MqttFrame> whole = Cut(m_Parser, stream);
    ASSERT_EQ(whole.size(), 4u);  // CONNECT, PUBLISH, DISCONNECT, PINGREQ
    EXPECT_EQ(whole[1].dwFixedHeaderLen, 3u);
    EXPECT_EQ(FrameBytes(whole[3]), kPingReq);
    EXPECT_EQ(whole[3].dwFixedHeaderLen, 2u);
    for (size_t split = 1; split < stream.size(); split++) {
        EXPECT_EQ(m_Parser.ParseByteStream(stream.data(), DWORD(split)), 1);
        std::vector<MqttFrame> frames = Cut(m_Parser, Bytes(stream.begin() + long(split), stream.end()));
        ASSERT_EQ(frames.size(), whole.size()) << "split at " << split;
        for (size_t i = 0; i < frames.size(); i++)
            EXPECT_EQ(FrameBytes(frames[i]), FrameBytes(whole[i])) << "split at " << split;
    }
    std::vector<MqttFrame> bytewise = Cut(m_Parser, stream, 1);
    ASSERT_EQ(bytewise.size(), whole.size());
    for (size_t i = 0; i < whole.size(); i++)
        EXPECT_EQ(FrameBytes(bytewise[i]), FrameBytes(whole[i]));
}

TEST_F(MqttParserTest, LengthClaimsBeyondTheLimitFailBeforeAllocating) {
    const struct {
        const char *name;
        Bytes head;
        int result;
    } rows[] = {
        {"268435455 claimed", {0x30, 0xFF, 0xFF, 0xFF, 0x7F}, 0},
        {"fifth length byte", {0x30, 0x80, 0x80, 0x80, 0x80, 0x01}, 0},
        {"one byte past the limit", {0x30, 0x80, 0x80, 0x10}, 0},  // 262144 + 4 header bytes
        {"the largest frame", {0x30, 0xFC, 0xFF, 0x0F}, 1},         // 262140 + 4
    };
    for (const auto &row : rows) {
        GetCoreGlobalCtrl()->SetLastError(0);
        int iResult = -1;
        std::vector<MqttFrame> frames = Cut(m_Parser, row.head, 0, &iResult);
        EXPECT_EQ(iResult, row.result) << row.name;
        EXPECT_TRUE(frames.empty()) << row.name;
        EXPECT_EQ(GetCoreGlobalCtrl()->GetLastError(), row.result ? 0 : 11) << row.name;
        m_Parser.Reset();
    }
    // After a refusal the parser starts clean on the next frame.
    int iResult = 0;
    Cut(m_Parser, {0x30, 0xFF, 0xFF, 0xFF, 0x7F}, 0, &iResult);
    EXPECT_EQ(iResult, 0);
    EXPECT_EQ(Cut(m_Parser, kPingReq).size(), 1u);
}

TEST_F(MqttParserTest, ConnectTable) {
    const std::string longId(300, 'i');
    const struct {
        const char *name;
        ConnectSpec spec;
        int result;
    } rows[] = {
        {"plain", {}, 0},
        {"level 3", {3}, 1},
        {"level 5", {5}, 1},
        {"no user name flag", {4, 0x02}, -1},
        {"reserved bit", {4, 0x83}, -1},
        {"will QoS 1 retain", {4, 0xAE, 60, "c", "wt", "wm"}, 0},
        {"will QoS 0", {4, 0x86, 60, "c", "wt", "wm"}, -1},
        {"will QoS 1 no retain", {4, 0x8E, 60, "c", "wt", "wm"}, -1},
        {"will QoS 2 retain", {4, 0xB6, 60, "c", "wt", "wm"}, -1},
        {"will retain without will", {4, 0xA2}, -1},
        {"will QoS without will", {4, 0x8A}, -1},
        {"keep alive 4", {4, 0x82, 4}, -1},
        {"keep alive 5", {4, 0x82, 5}, 0},
        {"keep alive 600", {4, 0x82, 600}, 0},
        {"keep alive 601", {4, 0x82, 601}, -1},
        {"empty id, clean session", {4, 0x82, 60, ""}, 0},
        {"empty id, no clean session", {4, 0x80, 60, ""}, 11},
        {"password", {4, 0xC2, 60, "c", "", "", "user", "secret"}, 0},
        {"id of 300 bytes", {4, 0x82, 60, longId}, 0},
    };
    for (const auto &row : rows) {
        MqttFrame frame = One(Connect(row.spec));
        EXPECT_EQ(m_Parser.CheckProtocolName(frame), MQTT_CHECK_PROTOCOL_MQTT) << row.name;
        EXPECT_EQ(CMqttParser::GetConnectClass(frame), MQTT_CONNECT_STANDARD) << row.name;
        EXPECT_EQ(m_Parser.ParserConnectData(frame), row.result) << row.name;
        EXPECT_EQ(frame.pData->GetReadPos(), 0u) << row.name;
    }
}

TEST_F(MqttParserTest, ConnectFieldsAndTheirBounds) {
    MqttFrame will = One(Connect({4, 0xEE, 30, "id-1", "wt", "will-message", "name", "pw"}));
    ASSERT_EQ(m_Parser.ParserConnectData(will), 0);
    EXPECT_EQ(will.wKeepAlive, 30);
    EXPECT_EQ(Part(will, will.dwFirstOffset, will.dwFirstLen), "id-1");
    EXPECT_EQ(Part(will, will.dwSecondOffset, will.dwSecondLen), "will-message");
    EXPECT_EQ(Part(will, will.dwUserNameOffset, will.dwUserNameLen), "name");
    EXPECT_EQ(CMqttParser::GetWillFlag(will), 1);
    EXPECT_STREQ(m_Parser.GetUserName(), "name");

    // An empty id takes the user name; a long id is cut to 256 bytes.
    MqttFrame empty = One(Connect({4, 0x82, 60, "", "", "", "who"}));
    ASSERT_EQ(m_Parser.ParserConnectData(empty), 0);
    char szId[MQTT_FIELD_LEN + 1];
    CMqttParser::CopyFirstPart(empty, szId);
    EXPECT_STREQ(szId, "who");
    MqttFrame longId = One(Connect({4, 0x82, 60, std::string(300, 'x')}));
    ASSERT_EQ(m_Parser.ParserConnectData(longId), 0);
    EXPECT_EQ(longId.dwFirstLen, 256u);
    CMqttParser::CopyFirstPart(longId, szId);
    EXPECT_EQ(std::string(szId), std::string(256, 'x'));

    // Lengths that point past the frame, and frames too short for the variable header.
    const Bytes good = Connect({4, 0xC2, 60, "c", "", "", "user", "secret"});
    const Bytes body(good.begin() + 2, good.end());
    const struct {
        const char *name;
        Bytes frame;
    } rows[] = {
        {"id length past the end", Frame(0x10, Str("MQTT") + Bytes{4, 0x82, 0, 60, 0x00, 0x40, 'c'})},
        {"user name missing", Frame(0x10, Str("MQTT") + Bytes{4, 0x82, 0, 60} + Str("c"))},
        {"password cut", Frame(0x10, Bytes(body.begin(), body.end() - 3))},
        {"will message past the end", Frame(0x10, Str("MQTT") + Bytes{4, 0xA6, 0, 60} + Str("c") + Str("t") +
                                                      Bytes{0xFF, 0xFF})},
        {"nine bytes of header", Frame(0x10, Str("MQTT") + Bytes{4, 0x82, 0})},
    };
    for (const auto &row : rows) {
        MqttFrame frame = One(row.frame);
        EXPECT_EQ(m_Parser.ParserConnectData(frame), -1) << row.name;
    }
    EXPECT_EQ(m_Parser.CheckProtocolName(One(rows[4].frame)), MQTT_CHECK_PROTOCOL_OTHER);
    // MQTT 3.1 names its protocol "MQIsdp"; a private CONNECT sets bit 3.
    EXPECT_EQ(m_Parser.CheckProtocolName(One(Frame(0x10, Str("MQIsdp") + Bytes{3, 0x82, 0, 60} + Str("c")))),
              MQTT_CHECK_PROTOCOL_OTHER);
    // "MQTT" whose length field claims more, here past the frame, is no MQTT name either.
    EXPECT_EQ(m_Parser.CheckProtocolName(One(Frame(0x10, Bytes{0x00, 0x22, 'M', 'Q', 'T', 'T', 4, 0x82, 0, 60} + Str("c")))),
              MQTT_CHECK_PROTOCOL_OTHER);
    EXPECT_EQ(CMqttParser::GetConnectClass(One(Frame(0x18, body))), MQTT_CONNECT_PRIVATE);
    EXPECT_EQ(CMqttParser::GetConnectClass(One(kPingReq)), MQTT_CONNECT_NONE);
}

TEST_F(MqttParserTest, PackageTable) {
    const std::string t255(255, 't'), t256(256, 't'), f254(254, 'f'), f255(255, 'f');
    const struct {
        const char *name;
        Bytes frame;
        int accepted;
    } rows[] = {
        {"PUBLISH QoS 0", Publish("a/b", Raw("data")), 1},
        {"PUBLISH QoS 1", Publish("a/b", Raw("data"), 1, 9), 1},
        {"PUBLISH QoS 1, empty payload", Publish("a/b", {}, 1, 9), 1},
        {"PUBLISH QoS 1 without identifier", Frame(0x32, Str("a/b") + Bytes{0x01}), 0},
        {"PUBLISH QoS 2", Publish("a/b", Raw("data"), 2), 0},
        {"PUBLISH QoS 3", Frame(0x36, Str("a/b") + U16(1) + Raw("x")), 0},
        {"PUBLISH topic of 255", Publish(t255, Raw("x")), 1},
        {"PUBLISH topic of 256", Publish(t256, Raw("x")), 0},
        {"PUBLISH topic past the end", Frame(0x30, Bytes{0x00, 0x09, 'a'}), 0},
        {"PUBLISH without topic length", Frame(0x30, Bytes{0x00}), 0},
        {"SUBSCRIBE QoS 1", Subscribe("a/#"), 1},
        {"SUBSCRIBE QoS 0", Subscribe("a/#", 0), 0},
        {"SUBSCRIBE filter ends the packet", Frame(0x82, U16(7) + Str("a/#")), 0},
        {"SUBSCRIBE filter of 254", Subscribe(f254), 1},
        {"SUBSCRIBE filter of 255", Subscribe(f255), 0},
        {"SUBSCRIBE without identifier", Frame(0x82, Bytes{0x00}), 0},
        {"UNSUBSCRIBE", Frame(0xA2, U16(5) + Str("a/#")), 1},
        {"UNSUBSCRIBE of one byte", Frame(0xA2, Bytes{0x05}), 0},
        {"PINGREQ", kPingReq, 1},
        {"PINGREQ with flags", {0xC1, 0x00}, 0},
        {"PINGRESP", {0xD0, 0x00}, 1},
        {"DISCONNECT", kDisconnect, 1},
        {"DISCONNECT with flags", {0xE2, 0x00}, 0},
        {"CONNECT", Connect({}), 0},
        {"CONNACK", {0x20, 0x02, 0x00, 0x00}, 0},
        {"type 0", {0x00, 0x00}, 0},
        {"type 15", {0xF0, 0x00}, 0},
    };
    for (const auto &row : rows) {
        MqttFrame frame = One(row.frame);
        ASSERT_TRUE(frame.pData) << row.name;
        EXPECT_EQ(m_Parser.ParsePackage(frame), row.accepted) << row.name;
        EXPECT_EQ(frame.pData->GetReadPos(), 0u) << row.name;
    }
    MqttFrame publish = One(Publish("a/b", Raw("data"), 1, 0x1234));
    ASSERT_EQ(m_Parser.ParsePackage(publish), 1);
    EXPECT_EQ(publish.wMessageID, 0x1234);
    EXPECT_EQ(Part(publish, publish.dwFirstOffset, publish.dwFirstLen), "a/b");
    EXPECT_EQ(Part(publish, publish.dwSecondOffset, publish.dwSecondLen), "data");
    EXPECT_EQ(CMqttParser::GetQos(publish), 1);
    MqttFrame subscribe = One(Subscribe("x/+", 1, 0x0102));
    ASSERT_EQ(m_Parser.ParsePackage(subscribe), 1);
    EXPECT_EQ(subscribe.wMessageID, 0x0102);
    EXPECT_EQ(Part(subscribe, subscribe.dwFirstOffset, subscribe.dwFirstLen), "x/+");
}

TEST_F(MqttParserTest, RealClientStreams) {
    std::vector<MqttFrame> pub = Cut(m_Parser, Fixture("mosquitto_pub"));
    ASSERT_EQ(pub.size(), 3u);
    ASSERT_EQ(m_Parser.ParserConnectData(pub[0]), 0);
    EXPECT_EQ(Part(pub[0], pub[0].dwFirstOffset, pub[0].dwFirstLen), "pub-id");
    EXPECT_EQ(Part(pub[0], pub[0].dwUserNameOffset, pub[0].dwUserNameLen), "user");
    EXPECT_EQ(pub[0].wKeepAlive, 60);
    ASSERT_EQ(m_Parser.ParsePackage(pub[1]), 1);
    EXPECT_EQ(CMqttParser::GetQos(pub[1]), 1);
    EXPECT_EQ(Part(pub[1], pub[1].dwFirstOffset, pub[1].dwFirstLen), "a/b");
    EXPECT_EQ(Part(pub[1], pub[1].dwSecondOffset, pub[1].dwSecondLen), "hello");
    EXPECT_EQ(m_Parser.ParsePackage(pub[2]), 1);

    std::vector<MqttFrame> sub = Cut(m_Parser, Fixture("mosquitto_sub"));
    ASSERT_EQ(sub.size(), 3u);
    ASSERT_EQ(m_Parser.ParserConnectData(sub[0]), 0);
    ASSERT_EQ(m_Parser.ParsePackage(sub[1]), 1);
    EXPECT_EQ(Part(sub[1], sub[1].dwFirstOffset, sub[1].dwFirstLen), "a/#");

    std::vector<MqttFrame> paho = Cut(m_Parser, Fixture("paho_publish"));
    ASSERT_EQ(paho.size(), 3u);
    ASSERT_EQ(m_Parser.ParserConnectData(paho[0]), 0);  // will QoS 1 + retain, password skipped
    EXPECT_EQ(Part(paho[0], paho[0].dwSecondOffset, paho[0].dwSecondLen), "gone");
    EXPECT_EQ(Part(paho[0], paho[0].dwUserNameOffset, paho[0].dwUserNameLen), "paho-user");
    ASSERT_EQ(m_Parser.ParsePackage(paho[1]), 1);
    EXPECT_EQ(paho[1].dwSecondLen, 300u);
}

}  // namespace
