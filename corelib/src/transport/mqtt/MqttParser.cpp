#include "transport/mqtt/MqttParser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Module/Log/LogModule.h"
#include "internal/MorvaInternal.h"

namespace Vorezi {

namespace {

enum {
    TYPE_CONNECT = 1,
    TYPE_PUBLISH = 3,
    TYPE_SUBSCRIBE = 8,
    TYPE_UNSUBSCRIBE = 10,
    TYPE_PINGREQ = 12,
    TYPE_PINGRESP = 13,
    TYPE_DISCONNECT = 14,
};

// CONNECT: the variable header is name length (2), "MQTT" (4), level, flags, keep alive (2).
constexpr DWORD kConnectLevel = 6;
constexpr DWORD kConnectFlags = 7;
constexpr DWORD kConnectKeepAlive = 8;
constexpr DWORD kConnectPayload = 10;
constexpr BYTE kProtocolLevel311 = 4;
constexpr WORD kMinKeepAlive = 5;
constexpr WORD kMaxKeepAlive = 600;
constexpr DWORD kMaxTopicLen = 256;        // PUBLISH topics stay below it
constexpr DWORD kMaxTopicFilterLen = 254;  // SUBSCRIBE filters up to it

constexpr BYTE kFlagCleanSession = 0x02;
constexpr BYTE kFlagWill = 0x04;
constexpr BYTE kFlagPassword = 0x40;
constexpr BYTE kFlagUserName = 0x80;

WORD ReadBE16(const BYTE *p) { return WORD((p[0] << 8) | p[1]); }

void CopyPart(const MqttFrame &frame, DWORD dwOffset, DWORD dwLen, char *pOut) {
    const DWORD dwCopy = std::min(dwLen, MQTT_FIELD_LEN);
    if (frame.pData && dwCopy != 0 && dwOffset + dwCopy <= frame.pData->GetLength())
        std::memcpy(pOut, frame.pData->GetData() + dwOffset, dwCopy);
    else
        pOut[0] = '\0';
    pOut[dwCopy] = '\0';
}

// Keeps the frame's read position at 0 whatever way a parse function leaves.
class ReadScope {
public:
    explicit ReadScope(CBuffer &buf, DWORD dwSkip) : m_Buf(buf) {
        m_Buf.ResetReadPos();
        m_Buf.Skip(dwSkip);
    }
    ~ReadScope() { m_Buf.ResetReadPos(); }
    ReadScope(const ReadScope &) = delete;
    ReadScope &operator=(const ReadScope &) = delete;

private:
    CBuffer &m_Buf;
};

}  // namespace

int MqttDecodeRemainingLength(const BYTE *pBytes, DWORD dwCount, DWORD *pLength) {
    DWORD dwValue = 0;
    for (DWORD i = 0; i < dwCount && i < 4; i++) {
        dwValue |= DWORD(pBytes[i] & 0x7F) << (7 * i);
        if ((pBytes[i] & 0x80) == 0) {
            *pLength = dwValue;
            return 1;
        }
    }
    return dwCount >= 4 ? -1 : 0;
}

DWORD MqttEncodeRemainingLength(DWORD dwLength, BYTE *pOut) {
    DWORD dwCount = 0;
    do {
        BYTE byDigit = BYTE(dwLength & 0x7F);
        dwLength >>= 7;
        if (dwLength != 0)
            byDigit |= 0x80;
        pOut[dwCount++] = byDigit;
    } while (dwLength != 0 && dwCount < 4);
    return dwCount;
}

int CMqttParser::ParseByteStream(const BYTE *pData, DWORD dwLen) {
    for (DWORD dwPos = 0; dwPos < dwLen;) {
        if (!m_pData) {
            if (!TakeHeaderByte(pData[dwPos++]))
                return 0;
            if (!m_pData || m_dwNeedToRecv != 0)
                continue;
        } else {
            const DWORD dwTake = std::min(m_dwNeedToRecv, dwLen - dwPos);
            m_pData->Append(pData + dwPos, dwTake);
            dwPos += dwTake;
            m_dwNeedToRecv -= dwTake;
            if (m_dwNeedToRecv != 0)
                continue;
        }
        if (!QueueFrame())
            return 0;
    }
    return 1;
}

// Collects one fixed-header byte; opens the frame buffer once the remaining length is known.
int CMqttParser::TakeHeaderByte(BYTE byValue) {
    m_byHeader[m_dwHeaderCount++] = byValue;
    if (m_dwHeaderCount == 1)
        return 1;
    DWORD dwRemain = 0;
    const int iDecoded = MqttDecodeRemainingLength(m_byHeader + 1, m_dwHeaderCount - 1, &dwRemain);
    if (iDecoded == 0)
        return 1;
    if (iDecoded < 0) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParseByteStream, Invalid Remaining Length, byLastByte[0x%X]",
                        m_iSessionIndex, m_byHeader[m_dwHeaderCount - 1]);
        SetError(MORVA_ERR_CHAR_ENCODE);
        Reset();
        return 0;
    }
    const DWORD dwFrameLen = dwRemain + m_dwHeaderCount;
    if (dwRemain > MQTT_MAX_FRAME_SIZE - m_dwHeaderCount) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParseByteStream, Invalid dwRemainLen[%u], Limit[%u]",
                        m_iSessionIndex, dwRemain, MQTT_MAX_FRAME_SIZE);
        SetError(MORVA_ERR_CHAR_ENCODE);
        Reset();
        return 0;
    }
    m_pData.reset(new (std::nothrow) CBuffer(dwFrameLen));
    if (!m_pData || !m_pData->IsValid()) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttParser::ParseByteStream, new m_pData Failed, m_dwNeedToRecv[%d], iFrameLen[%d]",
                        m_iSessionIndex, int(dwRemain), int(dwFrameLen));
        SetError(MORVA_ERR_ALLOC);
        Reset();
        return 0;
    }
    m_pData->Append(m_byHeader, m_dwHeaderCount);
    m_dwNeedToRecv = dwRemain;
    return 1;
}

int CMqttParser::QueueFrame() {
    MqttFrame frame;
    frame.dwFixedHeaderLen = m_dwHeaderCount;
    frame.pData = std::move(m_pData);
    m_dwHeaderCount = 0;
    m_dwNeedToRecv = 0;
    if (!m_Queue.Enqueue(std::move(frame))) {
        Reset();
        return 0;
    }
    return 1;
}

void CMqttParser::Reset() {
    m_pData.reset();
    m_Queue.Clear();
    std::memset(m_byHeader, 0, sizeof(m_byHeader));
    m_dwHeaderCount = 0;
    m_dwNeedToRecv = 0;
}

int CMqttParser::CheckProtocolName(const MqttFrame &frame) const {
    if (!frame.pData || frame.pData->GetLength() < frame.dwFixedHeaderLen + kConnectPayload)
        return MQTT_CHECK_PROTOCOL_OTHER;
    // The name with its own length: one claiming more (or fewer) than "MQTT" is no MQTT CONNECT.
    const BYTE *pName = frame.pData->GetData() + frame.dwFixedHeaderLen;
    return std::memcmp(pName, "\0\4MQTT", 6) == 0 ? MQTT_CHECK_PROTOCOL_MQTT : MQTT_CHECK_PROTOCOL_OTHER;
}

int CMqttParser::GetConnectClass(const MqttFrame &frame) {
    if (GetMsgType(frame) != TYPE_CONNECT)
        return MQTT_CONNECT_NONE;
    return (frame.pData->GetData()[0] & 0x08) ? MQTT_CONNECT_PRIVATE : MQTT_CONNECT_STANDARD;
}

int CMqttParser::ReadLength(const BYTE *pMsg, WORD *pLength, DWORD dwRemainLen) const {
    if (!pMsg || !pLength) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ReadLength, Invalid pMsg[0x%X], pLength[0x%X]", m_iSessionIndex,
                        MORVA_PTR_ARG(pMsg), MORVA_PTR_ARG(pLength));
        SetError(MORVA_ERR_PARAM);
        return 0;
    }
    if (dwRemainLen <= 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ReadLength, Invalid package dwRemainLen[%d]", m_iSessionIndex,
                        int(dwRemainLen));
        SetError(MORVA_ERR_CHAR_ENCODE);
        return 0;
    }
    *pLength = ReadBE16(pMsg);
    // The string follows its two length bytes inside the same remaining bytes.
    if (*pLength > dwRemainLen - 2) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ReadLength, *pLength[%d] > dwRemainLen[%d]", m_iSessionIndex,
                        *pLength, int(dwRemainLen));
        SetError(MORVA_ERR_CHAR_ENCODE);
        return 0;
    }
    return 1;
}

// A length-prefixed string at the read position: its length and offset; the position moves past it.
int CMqttParser::ReadString(CBuffer &buf, WORD *pLength, DWORD *pOffset) {
    if (!ReadLength(buf.GetData() + buf.GetReadPos(), pLength, buf.Remaining()))
        return 0;
    *pOffset = buf.GetReadPos() + 2;
    buf.Skip(2 + DWORD(*pLength));
    return 1;
}

int CMqttParser::CheckConnectFlag(BYTE byFlags) const {
    if (byFlags & 0x01) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::CheckConnectFlag, Invalid byReserver[%d]", m_iSessionIndex,
                        byFlags & 0x01);
        return 0;
    }
    if (!(byFlags & kFlagUserName)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::CheckConnectFlag, Invalid byUsernameFlag[%d]", m_iSessionIndex,
                        0);
        return 0;
    }
    const int iWill = (byFlags & kFlagWill) ? 1 : 0;
    const int iWillRetain = (byFlags >> 5) & 1;
    const int iWillQos = (byFlags >> 3) & 3;
    const bool bValid = iWill ? (iWillRetain == 1 && iWillQos == 1) : (iWillRetain == 0 && iWillQos == 0);
    if (!bValid) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttParser::CheckConnectFlag, Invalid Param, byWillFlag[%d], byWillRetain[%d], "
                        "byWillQos[%d]",
                        m_iSessionIndex, iWill, iWillRetain, iWillQos);
        return 0;
    }
    return 1;
}

int CMqttParser::ParserConnectData(MqttFrame &frame) {
    if (!frame.pData) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, pHead == NULL", m_iSessionIndex);
        return -1;
    }
    CBuffer &buf = *frame.pData;
    ReadScope scope(buf, frame.dwFixedHeaderLen);
    if (buf.Remaining() < kConnectPayload) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, Invalid dwRemainLen[%d]", m_iSessionIndex,
                        int(buf.Remaining()));
        SetError(MORVA_ERR_CHAR_ENCODE);
        return -1;
    }
    const int iLevel = buf.GetByteAt(kConnectLevel);
    if (iLevel != kProtocolLevel311) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, Invalid byProtocolLevel[%d]",
                        m_iSessionIndex, iLevel);
        return MQTT_CONNECT_BAD_LEVEL;
    }
    const BYTE byFlags = BYTE(buf.GetByteAt(kConnectFlags));
    if (!CheckConnectFlag(byFlags)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, CheckConnectFlag Failed", m_iSessionIndex);
        return -1;
    }
    frame.wKeepAlive = ReadBE16(buf.GetPtrAt(kConnectKeepAlive));
    if (frame.wKeepAlive < kMinKeepAlive || frame.wKeepAlive > kMaxKeepAlive) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, Invalid wKeepAlive[%d]", m_iSessionIndex,
                        frame.wKeepAlive);
        return -1;
    }
    buf.Skip(kConnectPayload);
    return ReadConnectPayload(frame, buf, byFlags);
}

// Client id, will topic and message, user name and password, from the read position on.
int CMqttParser::ReadConnectPayload(MqttFrame &frame, CBuffer &buf, BYTE byFlags) {
    WORD wLen = 0;
    DWORD dwOffset = 0;
    if (!ReadString(buf, &wLen, &dwOffset)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, ReadLength wClientIdLength Failed",
                        m_iSessionIndex);
        return -1;
    }
    frame.dwFirstOffset = dwOffset;
    frame.dwFirstLen = std::min<DWORD>(wLen, MQTT_FIELD_LEN);
    if (wLen == 0 && !(byFlags & kFlagCleanSession)) {
        LogModule_Write(LOG_LEVEL_ERR,
                        "[%d]CMqttParser::ParserConnectData, Invalid wClientIdLength[0], byCleanSession[0]",
                        m_iSessionIndex);
        return MQTT_CONNECT_BAD_CLIENT_ID;
    }
    if (byFlags & kFlagWill) {
        if (!ReadString(buf, &wLen, &dwOffset)) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, ReadLength iWillTopicLength Failed",
                            m_iSessionIndex);
            return -1;
        }
        if (!ReadString(buf, &wLen, &dwOffset)) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, ReadLength wWillMessageLength Failed",
                            m_iSessionIndex);
            return -1;
        }
        frame.dwSecondOffset = dwOffset;
        frame.dwSecondLen = wLen;
    }
    if (!ReadString(buf, &wLen, &dwOffset)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, ReadLength wUserNameLength Failed",
                        m_iSessionIndex);
        return -1;
    }
    frame.dwUserNameOffset = dwOffset;
    frame.dwUserNameLen = std::min<DWORD>(wLen, MQTT_FIELD_LEN);
    CopyUserName(frame, m_szUserName);
    if (frame.dwFirstLen == 0) {
        frame.dwFirstOffset = frame.dwUserNameOffset;
        frame.dwFirstLen = frame.dwUserNameLen;
    }
    if ((byFlags & kFlagPassword) && !ReadString(buf, &wLen, &dwOffset)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserConnectData, ReadLength dwPasswordLength Failed",
                        m_iSessionIndex);
        return -1;
    }
    return MQTT_CONNECT_ACCEPTED;
}

int CMqttParser::ParsePackage(MqttFrame &frame) {
    if (!frame.pData)
        return 0;
    const BYTE byType = GetMsgType(frame);
    switch (byType) {
    case TYPE_PUBLISH: return ParserPublish(frame);
    case TYPE_SUBSCRIBE: return ParserSubscribe(frame);
    case TYPE_UNSUBSCRIBE: return ParserUnSubscribe(frame);
    case TYPE_PINGREQ: return ParserPingReq(frame);
    case TYPE_PINGRESP: return 1;
    case TYPE_DISCONNECT: return ParserDisconnect(frame);
    default:
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttServerSession::ParsePackage, Invalid byMsgType[%d]", m_iSessionIndex,
                        byType);
        return 0;
    }
}

int CMqttParser::ParserPublish(MqttFrame &frame) {
    CBuffer &buf = *frame.pData;
    ReadScope scope(buf, frame.dwFixedHeaderLen);
    const BYTE byQos = GetQos(frame);
    // QoS 3 is malformed; QoS 2 would need the PUBREC exchange, which this server does not speak.
    if (byQos > 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserPublish, Invalid byQos[%d]", m_iSessionIndex, byQos);
        return 0;
    }
    WORD wTopicLen = 0;
    if (!ReadString(buf, &wTopicLen, &frame.dwFirstOffset)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserPublish, ReadLength wTopicLength Failed",
                        m_iSessionIndex);
        return 0;
    }
    if (wTopicLen >= kMaxTopicLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserPublish, Invalid dwTopicLength[%d]", m_iSessionIndex,
                        wTopicLen);
        return 0;
    }
    frame.dwFirstLen = wTopicLen;
    frame.wMessageID = 0;
    if (byQos > 0) {
        if (buf.Remaining() < 2) {
            LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserPublish, Invalid Package without requested wMessageID",
                            m_iSessionIndex);
            return 0;
        }
        frame.wMessageID = ReadBE16(buf.GetPtrAt(0));
        buf.Skip(2);
    }
    frame.dwSecondOffset = buf.GetReadPos();
    frame.dwSecondLen = buf.Remaining();
    char szTopic[kMaxTopicLen + 1];
    CopyPart(frame, frame.dwFirstOffset, frame.dwFirstLen, szTopic);
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttParser::ParserPublish, wMessageID[0x%X], szTopic[%s]", m_iSessionIndex,
                    frame.wMessageID, szTopic);
    return 1;
}

int CMqttParser::ParserSubscribe(MqttFrame &frame) {
    CBuffer &buf = *frame.pData;
    ReadScope scope(buf, frame.dwFixedHeaderLen);
    if (buf.Remaining() <= 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserUnSubscribe, Invalid Package without requested wMessageID",
                        m_iSessionIndex);
        return 0;
    }
    frame.wMessageID = ReadBE16(buf.GetPtrAt(0));
    buf.Skip(2);
    WORD wFilterLen = 0;
    if (!ReadString(buf, &wFilterLen, &frame.dwFirstOffset)) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserSubscribe, ReadLength wTopicFilterLength Failed",
                        m_iSessionIndex);
        return 0;
    }
    if (wFilterLen > kMaxTopicFilterLen) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserSubscribe, Invalid dwTopicLength[%d]", m_iSessionIndex,
                        wFilterLen);
        return 0;
    }
    frame.dwFirstLen = wFilterLen;
    // The requested QoS must follow the filter inside the packet.
    const int iQos = buf.GetByteAt(0);
    if (iQos != 1) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserSubscribe, Invalid byQos[%d], dwTopicLength[%d]",
                        m_iSessionIndex, iQos, wFilterLen);
        return 0;
    }
    char szTopic[kMaxTopicLen + 1];
    CopyPart(frame, frame.dwFirstOffset, frame.dwFirstLen, szTopic);
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttParser::ParserSubscribe, szTopic[%s]", m_iSessionIndex, szTopic);
    return 1;
}

int CMqttParser::ParserUnSubscribe(MqttFrame &frame) {
    CBuffer &buf = *frame.pData;
    ReadScope scope(buf, frame.dwFixedHeaderLen);
    if (buf.Remaining() < 2) {
        LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::ParserUnSubscribe, Invalid Package without requested wMessageID",
                        m_iSessionIndex);
        return 0;
    }
    frame.wMessageID = ReadBE16(buf.GetPtrAt(0));
    return 1;
}

int CMqttParser::CheckFixedHeaderFlags(const MqttFrame &frame, const char *pName) const {
    const BYTE byHeader = frame.pData->GetData()[0];
    if ((byHeader & 0x0F) == 0)
        return 1;
    LogModule_Write(LOG_LEVEL_ERR, "[%d]CMqttParser::%s, Invalid byMqttHeader[%d]", m_iSessionIndex, pName, byHeader);
    return 0;
}

int CMqttParser::ParserPingReq(MqttFrame &frame) { return CheckFixedHeaderFlags(frame, "ParserPingReq"); }

int CMqttParser::ParserDisconnect(MqttFrame &frame) {
    if (!CheckFixedHeaderFlags(frame, "ParserDisconnect"))
        return 0;
    LogModule_Write(MQTT_LOG_DETAIL, "[%d]CMqttParser::ParserDisconnect", m_iSessionIndex);
    return 1;
}

BYTE CMqttParser::GetMsgType(const MqttFrame &frame) {
    return frame.pData && frame.pData->GetLength() ? BYTE(frame.pData->GetData()[0] >> 4) : 0;
}

BYTE CMqttParser::GetQos(const MqttFrame &frame) {
    return frame.pData && frame.pData->GetLength() ? BYTE((frame.pData->GetData()[0] >> 1) & 3) : 0;
}

int CMqttParser::GetWillFlag(const MqttFrame &frame) {
    const DWORD dwFlags = frame.dwFixedHeaderLen + kConnectFlags;
    if (GetMsgType(frame) != TYPE_CONNECT || frame.pData->GetLength() <= dwFlags)
        return 0;
    return (frame.pData->GetData()[dwFlags] & kFlagWill) ? 1 : 0;
}

const BYTE *CMqttParser::GetSecondPart(const MqttFrame &frame) {
    if (!frame.pData || frame.dwSecondOffset + frame.dwSecondLen > frame.pData->GetLength())
        return nullptr;
    return frame.pData->GetData() + frame.dwSecondOffset;
}

void CMqttParser::CopyFirstPart(const MqttFrame &frame, char *pOut) {
    CopyPart(frame, frame.dwFirstOffset, frame.dwFirstLen, pOut);
}

void CMqttParser::CopyUserName(const MqttFrame &frame, char *pOut) {
    CopyPart(frame, frame.dwUserNameOffset, frame.dwUserNameLen, pOut);
}

}  // namespace Vorezi
