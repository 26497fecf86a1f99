// Cuts one client's byte stream into MQTT 3.1.1 frames and parses the packets a server session
// accepts.
#pragma once

#include "morva/MorvaTypes.h"
#include "transport/mqtt/MqttFrameQueue.h"

namespace Vorezi {

// Detail lines of the MQTT code; shown only with a raised log level.
constexpr int MQTT_LOG_DETAIL = 5;
// Largest frame a client may announce. Beyond it the frame fails before anything is allocated.
constexpr DWORD MQTT_MAX_FRAME_SIZE = 256 * 1024;
constexpr DWORD MQTT_FIELD_LEN = 256;  // client id and user name fields, without terminator
constexpr DWORD MQTT_MAX_HEADER_LEN = 5;

enum { MQTT_CONNECT_NONE = 0, MQTT_CONNECT_STANDARD = 1, MQTT_CONNECT_PRIVATE = 2 };
enum { MQTT_CHECK_PROTOCOL_MQTT = 1, MQTT_CHECK_PROTOCOL_OTHER = 2 };
enum { MQTT_CONNECT_ACCEPTED = 0, MQTT_CONNECT_BAD_LEVEL = 1, MQTT_CONNECT_BAD_CLIENT_ID = 11 };

// The first header byte of a packet that carries no flags: the message type (MSG_*) in the high
// four bits.
constexpr BYTE MqttFixedHeader(int iMsgType) { return BYTE(iMsgType << 4); }

// The remaining length held in pBytes[0..dwCount): 1 with the value, 0 when a continuation bit asks
// for more bytes, -1 when the fourth byte still carries one.
int MqttDecodeRemainingLength(const BYTE *pBytes, DWORD dwCount, DWORD *pLength);
// Writes the 1 to 4 length bytes of dwLength (at most 268435455) and gives their count.
DWORD MqttEncodeRemainingLength(DWORD dwLength, BYTE *pOut /* 4 bytes */);

class CMqttParser {
public:
    explicit CMqttParser(int iSessionIndex = -1) : m_iSessionIndex(iSessionIndex) {}
    CMqttParser(const CMqttParser &) = delete;
    CMqttParser &operator=(const CMqttParser &) = delete;

    void SetSessionIndex(int iSessionIndex) { m_iSessionIndex = iSessionIndex; }
    // 1 when every byte was taken; 0 when a frame is malformed or too large (error 11) or could not
    // be allocated (error 41). A partial frame is kept for the next call.
    int ParseByteStream(const BYTE *pData, DWORD dwLen);
    int Dequeue(MqttFrame *pOut) { return m_Queue.Dequeue(pOut); }
    // Drops the partial frame, the queue and the header bytes.
    void Reset();

    int CheckProtocolName(const MqttFrame &frame) const;
    static int GetConnectClass(const MqttFrame &frame);
    int ParserConnectData(MqttFrame &frame);
    // 1 accepted, 0 refused.
    int ParsePackage(MqttFrame &frame);
    // The big-endian length at pMsg, which must fit in dwRemainLen together with its own two bytes.
    int ReadLength(const BYTE *pMsg, WORD *pLength, DWORD dwRemainLen) const;

    static BYTE GetMsgType(const MqttFrame &frame);
    static BYTE GetQos(const MqttFrame &frame);
    static int GetWillFlag(const MqttFrame &frame);
    static const BYTE *GetSecondPart(const MqttFrame &frame);
    // Copies the client id, topic or filter, or the user name, into a field of MQTT_FIELD_LEN + 1
    // bytes, terminated.
    static void CopyFirstPart(const MqttFrame &frame, char *pOut);
    static void CopyUserName(const MqttFrame &frame, char *pOut);
    const char *GetUserName() const { return m_szUserName; }

private:
    int TakeHeaderByte(BYTE byValue);
    int QueueFrame();
    int CheckFixedHeaderFlags(const MqttFrame &frame, const char *pName) const;
    int CheckConnectFlag(BYTE byFlags) const;
    int ReadConnectPayload(MqttFrame &frame, CBuffer &buf, BYTE byFlags);
    int ReadString(CBuffer &buf, WORD *pLength, DWORD *pOffset);
    int ParserPublish(MqttFrame &frame);
    int ParserSubscribe(MqttFrame &frame);
    int ParserUnSubscribe(MqttFrame &frame);
    int ParserPingReq(MqttFrame &frame);
    int ParserDisconnect(MqttFrame &frame);

    BYTE m_byHeader[MQTT_MAX_HEADER_LEN] = {};
    DWORD m_dwHeaderCount = 0;
    DWORD m_dwNeedToRecv = 0;
    char m_szUserName[MQTT_FIELD_LEN + 1] = {};
    int m_iSessionIndex;
    std::unique_ptr<CBuffer> m_pData;  // the frame being received
    CMqttFrameQueue m_Queue;
};

}  // namespace Vorezi
