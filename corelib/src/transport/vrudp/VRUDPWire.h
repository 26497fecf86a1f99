// The "RUDP" wire format: big-endian byte helpers and the builders and parsers of every packet
// head. The queues, the connection and the endpoint all write and read packets through here, so
// no packed struct ever stands for a head.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vorezi {
namespace vrudp {

inline void PutBE16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint16_t GetBE16(const uint8_t *p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t GetBE32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
// Sequence numbers wrap: a is after b when the signed difference is positive.
inline int32_t SeqDiff(uint32_t a, uint32_t b) {
    return int32_t(a - b);
}

enum PacketType : uint8_t {
    PKT_DATA = 0,
    PKT_INIT = 1,
    PKT_INIT_ACK = 2,
    PKT_NONE = 3,
    PKT_ACK = 4,
    PKT_FIN = 5,
    PKT_FIN_RET = 6,
    PKT_HEART = 7,
    PKT_HEART_RET = 8,
    PKT_RESET = 9,
};

enum UnitPos : uint8_t { UNIT_BEGIN = 0, UNIT_MIDDLE = 1, UNIT_END = 2, UNIT_SINGLE = 3 };

constexpr int kCommonHeadLen = 12;
constexpr int kInitAckLen = 14;
constexpr int kAckLen = 20;
constexpr int kMaxHeadLen = 28;
constexpr uint8_t kLocalVersion = 2;
constexpr uint16_t kNoSession = 0xFFFF;
// The largest datagram an endpoint reads; anything longer is dropped whole.
constexpr int kRecvBufLen = 8192;
constexpr int kMaxHandle = 0x4FFF;

// Head length of data packets by negotiated version (16, 20 or 28).
int DataHeadLen(uint8_t byVersion);

// A datagram is an RUDP packet when it is longer than 11 bytes and starts with the magic.
bool CheckDataHRUdp(const uint8_t *pData, size_t uLen);

// The common head as read from a packet of at least 12 bytes.
struct CommonHead {
    uint8_t byHeadLen;
    uint8_t byType;    // low six bits of byte 5
    uint8_t byTopBits; // version (control) or unit position (data)
    uint16_t wSession;
    uint32_t dwWord;   // recognise code (control) or sequence (data)
};
CommonHead ParseCommonHead(const uint8_t *pData);

// Writes the 12-byte common head.
void BuildCommonHead(uint8_t *pOut, uint8_t byHeadLen, uint8_t byType, uint8_t byTopBits, uint16_t wSession,
                     uint32_t dwWord);

// DATA head fields. Writes DataHeadLen(byVersion) bytes (bytes 24-27 of version 2 are left alone).
struct DataHead {
    uint8_t byVersion;
    uint8_t byUnitPos;
    uint16_t wRemoteSession;
    uint32_t dwSeq;
    uint32_t dwAck;         // the sender's needed sequence less one
    uint16_t wOwnSession;   // versions 1 and 2
    uint32_t dwRecognize;   // version 2
};
int BuildDataHead(uint8_t *pOut, const DataHead &head);

// Control packets; each returns the length written.
int BuildInit(uint8_t *pOut, uint8_t byVersion, uint16_t wOwnSession, uint32_t dwCode);
int BuildInitAck(uint8_t *pOut, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode, uint16_t wOwnSession);
int BuildAck(uint8_t *pOut, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode, uint32_t dwHighest,
             uint32_t dwCumAck);
// FIN, FIN-RET, HEART and HEART-RET.
int BuildPlain(uint8_t *pOut, uint8_t byType, uint8_t byVersion, uint16_t wRemoteSession, uint32_t dwCode);
// RESET for an offending DATA packet of head length 20 or 28 (at least that long); 0 otherwise.
int BuildReset(uint8_t *pOut, const uint8_t *pOffending, size_t uLen);

}  // namespace vrudp
}  // namespace Vorezi
